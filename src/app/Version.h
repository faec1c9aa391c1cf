// The program's version, fixed by the build: the project's number and, built from a git
// work tree, the commit ("1.0.0 (6f3b8ce)"). The one text that --version, the reports'
// first lines, the desktop window and the Windows version resource show, so a support
// person can quote it and the developer can find the very sources.
#pragma once

#include <string>
#include <string_view>

namespace kv::app {

std::string_view VersionNumber();  // "1.0.0"
std::string_view VersionText();    // "1.0.0 (6f3b8ce)"; "1.0.0" when built without git

// The line `--version` prints: "<program> <VersionText()>".
std::string VersionLine(std::string_view program);

}  // namespace kv::app
