// The process's terminal, for the command-line program's questions.
#pragma once

#include <string>
#include <vector>

namespace kv::platform {

// True when standard input is a terminal (a person can answer a question there).
bool StdinIsTerminal();
// True when standard error is a terminal (a person reads it as it is written, so a
// progress line can be repainted in place).
bool StderrIsTerminal();

// The program's arguments after its name, as UTF-8. On Windows they are taken from the
// wide command line, so names in any script arrive intact whatever the code page.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Makes UTF-8 text written to std::cout and std::cerr readable where they are a
// console: on Windows such a stream is written through the console's wide-character
// interface (a console does not take UTF-8 bytes as text); a redirected stream keeps
// UTF-8 bytes. Elsewhere the terminal takes UTF-8 as it is and nothing changes.
void UseConsoleForText();

// A closed output (`kvfix207-cli repair ... | head`) no longer ends the process: SIGPIPE
// is ignored, a write to the closed pipe fails and is dropped, and the run completes and
// leaves its result in its report. Nothing to do on Windows, which has no such signal.
void IgnoreClosedOutput();

}  // namespace kv::platform
