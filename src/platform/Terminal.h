// The process's terminal, for the command-line program's questions.
#pragma once

namespace kv::platform {

// True when standard input is a terminal (a person can answer a question there).
bool StdinIsTerminal();

}  // namespace kv::platform
