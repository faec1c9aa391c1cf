// The edge between the core's CP874 texts and the wide-character Win32 calls, the
// window font, and the scale of a window's layout on its screen.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace kv::gui {

// Code page 874 to UTF-16 and back. ToCp874 turns what CP874 cannot hold into "?";
// ToCp874Exact refuses it (false) for texts that must be stored exactly.
std::wstring FromCp874(std::string_view cp874);
std::string ToCp874(std::wstring_view text);
bool ToCp874Exact(std::wstring_view text, std::string& cp874);
std::wstring FromUtf8(std::string_view utf8);
std::string ToUtf8(std::wstring_view text);
// A caption written in UTF-8 in the source, shown as the CP874 text it stands for.
std::wstring Caption(std::string_view utf8);
// A path typed or browsed in a window as the CP874 path the core keeps; false when CP874
// cannot hold one of its characters (it must then be refused, never kept with "?").
bool PathFromWindow(std::wstring_view path, std::string& cp874);

// Pixels per inch of a window (96 at 100 %), read from the window system, and a layout
// measure in pixels at 96 scaled to it.
UINT WindowDpi(HWND window);
inline int ScalePx(int px, UINT dpi) { return MulDiv(px, static_cast<int>(dpi), 96); }

// "Tahoma" with a character height of `pixelSize` at 96 pixels per inch, Thai character
// set; scaled to `dpi`. Fonts are kept for the life of the program.
HFONT TahomaFont(int pixelSize, bool bold, UINT dpi);

// Width and height of `text` on one line in `font`.
SIZE TextExtent(HWND window, HFONT font, std::wstring_view text);

}  // namespace kv::gui
