// Code page 874 (Thai). The core keeps texts as CP874 bytes; conversion happens only at
// the edges (screen, terminal, report). Thai literals are written in UTF-8 in the source
// and turned into CP874 once, by Th().
#pragma once

#include <string>
#include <string_view>

namespace kv::platform {

// UTF-8 to CP874. A character CP874 cannot hold becomes '?'.
std::string Utf8ToCp874(std::string_view utf8);
// UTF-8 to CP874 without loss: false (and `cp874` empty) when the text is no valid
// UTF-8 or holds a character CP874 cannot hold. For what must be stored or named
// exactly, such as paths.
bool Utf8ToCp874Exact(std::string_view utf8, std::string& cp874);
// CP874 to UTF-8. Bytes without a character in CP874 become U+FFFD.
std::string Cp874ToUtf8(std::string_view cp874);

// The CP874 bytes of a UTF-8 literal: Th("คำเตือน").
inline std::string Th(std::string_view utf8) { return Utf8ToCp874(utf8); }

}  // namespace kv::platform
