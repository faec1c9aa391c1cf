// Paths at the edge between the program and the file system.
//
// The core keeps every path as CP874 bytes, as it keeps every text: that is how the
// company list and the settings files store them, and how they are compared. The file
// system names things in its own encoding (UTF-8 on Linux). Every name is converted
// here, once, on its way to the system and on its way back; nothing else in the
// program converts a path.
//
// A path the system hands back that CP874 cannot hold is refused, never stored with
// "?" in place of a letter: such a path would name another directory, or none.
#pragma once

#include <string>
#include <string_view>

namespace kv::platform {

// True for a path that does not depend on the current directory: "/..."; on Windows
// also "C:\..." or "C:/..." and "\\server\share\..." (either slash), not "C:dir".
bool IsAbsolutePath(std::string_view path);

// The CP874 path as the system names it. A path holding a NUL byte names nothing: it
// comes back empty, which every system call refuses, instead of naming whatever the
// part before the NUL would name.
std::string PathToSystem(std::string_view cp874);

// A path as the system gave it (a directory listing, the current directory, a command
// line argument, a folder browser) in CP874. False, with `cp874` empty, when the bytes
// are not valid in the system's encoding or a character has no CP874 byte.
bool PathFromSystem(std::string_view native, std::string& cp874);

// The name the operating system is handed for `name`: a name relative to the current
// directory (the company directory, where the engine and the access layer hand over
// their file names) is cut to its first 64 characters, as the suite cuts them; an
// absolute path is never cut. Then it is converted with PathToSystem.
std::string SystemName(std::string_view name);
// The cut of SystemName alone, still in CP874.
std::string_view CutRelativeName(std::string_view name);

}  // namespace kv::platform
