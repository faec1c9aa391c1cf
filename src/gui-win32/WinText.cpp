#include "gui-win32/WinText.h"

#include <map>
#include <tuple>

#include "platform/Cp874.h"
#include "platform/Path.h"

namespace kv::gui {
namespace {

constexpr UINT kThai = 874;

std::wstring ToWide(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (n <= 0) return std::wstring(text.size(), L'\xFFFD');
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), n);
  return wide;
}

std::string FromWide(UINT codePage, std::wstring_view text, bool* lossless) {
  if (lossless) *lossless = true;
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  BOOL usedDefault = FALSE;
  const char* fallback = codePage == CP_UTF8 ? nullptr : "?";
  BOOL* used = codePage == CP_UTF8 ? nullptr : &usedDefault;
  // No best-fit mapping: a letter CP874 cannot hold must not turn into another one.
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int n = ::WideCharToMultiByte(codePage, flags, text.data(), size, nullptr, 0, fallback, used);
  if (n <= 0) {
    if (lossless) *lossless = false;
    return {};
  }
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(codePage, flags, text.data(), size, out.data(), n, fallback, used);
  if (lossless && usedDefault) *lossless = false;
  return out;
}

}  // namespace

std::wstring FromCp874(std::string_view cp874) { return ToWide(kThai, cp874); }
std::string ToCp874(std::wstring_view text) { return FromWide(kThai, text, nullptr); }

bool ToCp874Exact(std::wstring_view text, std::string& cp874) {
  bool lossless = true;
  cp874 = FromWide(kThai, text, &lossless);
  if (!lossless) cp874.clear();
  return lossless;
}

std::wstring FromUtf8(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }
std::string ToUtf8(std::wstring_view text) { return FromWide(CP_UTF8, text, nullptr); }

std::wstring Caption(std::string_view utf8) { return FromUtf8(utf8); }

bool PathFromWindow(std::wstring_view path, std::string& cp874) {
  return platform::PathFromSystem(ToUtf8(path), cp874);
}

UINT WindowDpi(HWND window) {
  // GetDpiForWindow exists from Windows 10 on; older systems have one system-wide scale.
  using DpiForWindow = UINT(WINAPI*)(HWND);
  static const auto dpiForWindow = reinterpret_cast<DpiForWindow>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (dpiForWindow && window) {
    const UINT dpi = dpiForWindow(window);
    if (dpi > 0) return dpi;
  }
  HDC screen = ::GetDC(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

HFONT TahomaFont(int pixelSize, bool bold, UINT dpi) {
  static std::map<std::tuple<int, bool>, HFONT> fonts;
  const int height = ScalePx(pixelSize, dpi);
  HFONT& font = fonts[{height, bold}];
  if (!font) {
    // A negative height asks for the character height (the em), without the leading.
    font = ::CreateFontW(-height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, THAI_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS,
                         L"Tahoma");
  }
  return font;
}

SIZE TextExtent(HWND window, HFONT font, std::wstring_view text) {
  SIZE size{0, 0};
  HDC dc = ::GetDC(window);
  if (!dc) return size;
  HGDIOBJ old = ::SelectObject(dc, font);
  RECT rect{0, 0, 0, 0};
  std::wstring copy(text.empty() ? std::wstring_view(L" ") : text);
  ::DrawTextW(dc, copy.c_str(), static_cast<int>(copy.size()), &rect, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  size.cx = text.empty() ? 0 : rect.right - rect.left;
  size.cy = rect.bottom - rect.top;
  ::SelectObject(dc, old);
  ::ReleaseDC(window, dc);
  return size;
}

}  // namespace kv::gui
