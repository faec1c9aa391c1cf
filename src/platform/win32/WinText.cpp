#include "platform/win32/WinCall.h"

#include <vector>

namespace kv::platform::detail {

namespace {

constexpr UINT kThai = 874;

std::wstring ToWide(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  const int n = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring(text.size(), L'\xFFFD');
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

}  // namespace

std::wstring WideFromCp874(std::string_view cp874) { return ToWide(kThai, cp874); }

std::wstring WideFromUtf8(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }

std::string Cp874FromWide(std::wstring_view wide, bool* lossless) {
  if (lossless != nullptr) *lossless = true;
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  BOOL usedDefault = FALSE;
  // No best-fit mapping: a name that CP874 cannot hold must not turn into another name.
  const int n = ::WideCharToMultiByte(kThai, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0, "?", &usedDefault);
  if (n <= 0) {
    if (lossless != nullptr) *lossless = false;
    return std::string(wide.size(), '?');
  }
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(kThai, WC_NO_BEST_FIT_CHARS, wide.data(), size, out.data(), n, "?", &usedDefault);
  if (lossless != nullptr && usedDefault) *lossless = false;
  return out;
}

std::string Utf8FromWide(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring SystemPath(std::string_view cp874) {
  // A NUL would end the name early and name another file: name nothing instead.
  if (cp874.find('\0') != std::string_view::npos) return std::wstring();
  std::wstring wide = WideFromCp874(cp874);
  // Room for the 8.3 name a directory may need below it, as the file system counts it.
  if (wide.size() < MAX_PATH - 12) return wide;
  if (wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  const DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return wide;
  std::wstring full(n, L'\0');
  const DWORD got = ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (got == 0 || got >= n) return wide;
  full.resize(got);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

}  // namespace kv::platform::detail
