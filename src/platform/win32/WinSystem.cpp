// Directories, environment, clock and the console on Windows.
#include <windows.h>
// shellapi.h needs windows.h before it.
#include <shellapi.h>

#include "platform/win32/WinCall.h"

#include <atomic>
#include <cwchar>
#include <iostream>
#include <random>
#include <streambuf>
#include <vector>

#include "platform/Clock.h"
#include "platform/Path.h"
#include "platform/System.h"
#include "platform/Terminal.h"
#include "platform/win32/WinCall.h"

namespace kv::platform {

using detail::SystemPath;
using detail::WinCall;

namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

std::string WithoutTrailingSeparators(std::string_view path) {
  std::string p(path);
  while (p.size() > 1 && (p.back() == '/' || p.back() == '\\') && !(p.size() == 3 && p[1] == ':')) p.pop_back();
  return p;
}

std::wstring WideEnv(const wchar_t* name) {
  DWORD n = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  DWORD got = ::GetEnvironmentVariableW(name, value.data(), n);
  if (got == 0 || got >= n) return {};
  value.resize(got);
  return value;
}

}  // namespace

namespace {

// The current directory as the system names it, with forward slashes, as the core joins
// names to it (Windows takes either); empty when it cannot be read.
std::wstring SystemCurrentDirectory() {
  std::wstring buf(MAX_PATH, L'\0');
  DWORD n = 0;
  WinCall(Op::kDirectory, [&] {
    n = ::GetCurrentDirectoryW(static_cast<DWORD>(buf.size()), buf.data());
    if (n > buf.size()) {
      buf.assign(n, L'\0');
      n = ::GetCurrentDirectoryW(static_cast<DWORD>(buf.size()), buf.data());
    }
    return n != 0 && n < buf.size();
  });
  if (n == 0 || n >= buf.size()) return {};
  buf.resize(n);
  for (wchar_t& c : buf) {
    if (c == L'\\') c = L'/';
  }
  return buf;
}

}  // namespace

std::string CurrentDirectory() {
  bool lossless = true;
  std::string cp874 = detail::Cp874FromWide(SystemCurrentDirectory(), &lossless);
  return lossless ? cp874 : std::string();
}

std::string CurrentDirectoryAsUtf8() { return detail::Utf8FromWide(SystemCurrentDirectory()); }

uint64_t MonotonicMs() { return ::GetTickCount64(); }

bool IsAbsolutePath(std::string_view path) {
  auto sep = [](char c) { return c == '/' || c == '\\'; };
  if (path.size() >= 3 && path[1] == ':' && sep(path[2])) return true;
  // "\\server\share" and a root of the current drive ("\dir"): neither depends on the
  // current directory. "C:dir" does.
  return !path.empty() && sep(path[0]);
}

OsStatus ChangeDirectory(std::string_view path) {
  if (path.empty()) return OsError::kPathNotFound;
  const std::wstring wide = SystemPath(path);
  const DWORD err = WinCall(Op::kDirectory, [&] { return ::SetCurrentDirectoryW(wide.c_str()); });
  if (err == ERROR_FILE_NOT_FOUND || err == ERROR_DIRECTORY) return OsError::kPathNotFound;
  return OsErrorOf(static_cast<int32_t>(err));
}

bool DirectoryExists(std::string_view path) {
  if (path.empty()) return false;
  return detail::IsDirectory(std::string(path));
}

OsStatus CreateDirectory(std::string_view path) {
  const std::string dir = WithoutTrailingSeparators(path);
  if (dir.empty()) return OsError::kPathNotFound;
  const std::wstring wide = SystemPath(dir);
  const DWORD err = WinCall(Op::kDirectory, [&] { return ::CreateDirectoryW(wide.c_str(), nullptr); });
  if (err == ERROR_ALREADY_EXISTS) return OsError::kFileExists;
  return OsErrorOf(static_cast<int32_t>(err));
}

OsStatus CreateDirectories(std::string_view path) {
  const std::string dir = WithoutTrailingSeparators(path);
  if (dir.empty()) return OsError::kPathNotFound;
  if (detail::IsDirectory(dir)) return OsError::kNone;
  // The levels that cannot be made: a drive's root ("C:\"), a UNC share's server and
  // share ("\\server\share"), the \\?\ prefix.
  size_t first = 0;
  if (dir.rfind("\\\\?\\", 0) == 0) {
    first = dir.find('\\', 4);
  } else if (dir.size() >= 2 && (dir[0] == '\\' || dir[0] == '/') && (dir[1] == '\\' || dir[1] == '/')) {
    size_t server = dir.find_first_of("/\\", 2);
    first = server == std::string::npos ? std::string::npos : dir.find_first_of("/\\", server + 1);
  } else if (dir.size() >= 2 && dir[1] == ':') {
    first = 2;
  }
  if (first == std::string::npos) return OsError::kPathNotFound;
  size_t pos = first;
  while (true) {
    pos = dir.find_first_of("/\\", pos + 1);
    const std::string level = dir.substr(0, pos);
    const bool root = level.empty() || IsSeparator(static_cast<wchar_t>(level.back())) ||
                      (level.size() == 2 && level[1] == ':');
    if (!root && !detail::IsDirectory(level)) {
      const std::wstring wide = SystemPath(level);
      const DWORD err = WinCall(Op::kDirectory, [&] { return ::CreateDirectoryW(wide.c_str(), nullptr); });
      if (err != 0 && !(err == ERROR_ALREADY_EXISTS && detail::IsDirectory(level))) {
        // A file standing where a directory should be makes the path impossible.
        if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ||
            err == ERROR_DIRECTORY)
          return OsError::kPathNotFound;
        return OsErrorOf(static_cast<int32_t>(err));
      }
    }
    if (pos == std::string::npos) break;
  }
  return OsError::kNone;
}

bool IsRemovableDrive(std::string_view path) {
  const std::wstring wide = SystemPath(path.empty() ? std::string_view(".") : path);
  std::wstring root(wide.size() + MAX_PATH + 1, L'\0');
  if (WinCall(Op::kStat, [&] {
        return ::GetVolumePathNameW(wide.c_str(), root.data(), static_cast<DWORD>(root.size()));
      }) != 0)
    return false;
  root.resize(wcslen(root.c_str()));
  UINT type = DRIVE_UNKNOWN;
  WinCall(Op::kStat, [&] { return (type = ::GetDriveTypeW(root.c_str())) != DRIVE_UNKNOWN; });
  return type == DRIVE_REMOVABLE;
}

std::string GetEnv(const char* name) {
  return detail::Cp874FromWide(WideEnv(detail::WideFromUtf8(name).c_str()));
}

std::string AppDataDirectory() {
  std::wstring v = WideEnv(L"APPDATA");
  if (v.empty()) {
    v = WideEnv(L"USERPROFILE");
    if (!v.empty()) v += L"\\AppData\\Roaming";
  }
  return detail::Cp874FromWide(v);
}

std::string TempDirectoryFromEnv() {
  std::wstring v = WideEnv(L"TEMP");
  if (v.empty()) v = WideEnv(L"TMP");
  if (v.empty()) {
    wchar_t buf[MAX_PATH + 2] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, buf);
    if (n > 0 && n <= MAX_PATH + 1) v.assign(buf, n);
    while (v.size() > 3 && IsSeparator(v.back())) v.pop_back();
  }
  return detail::Cp874FromWide(v);
}

Date Today() {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  return Date{t.wYear, t.wMonth, t.wDay};
}

void SleepMs(uint32_t milliseconds) { ::Sleep(milliseconds); }

std::vector<std::string> FileNamesIn(std::string_view path) {
  std::vector<std::string> names;
  std::string pattern(path);
  if (!pattern.empty() && pattern.back() != '/' && pattern.back() != '\\') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAW found{};
  HANDLE find = ::FindFirstFileW(SystemPath(pattern).c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    bool lossless = true;
    std::string name = detail::Cp874FromWide(found.cFileName, &lossless);
    if (lossless) names.push_back(std::move(name));
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
  return names;
}

ViewerResult OpenInViewer(std::string_view path) {
  const DWORD attributes = ::GetFileAttributesW(SystemPath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return ViewerResult::kNotFound;
  }
  // The viewer gets the path as a user would type it (backslashes; the \\?\ form only
  // past MAX_PATH, where it is the one name that works).
  std::wstring wide = detail::WideFromCp874(path);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  if (wide.size() >= MAX_PATH) wide = SystemPath(path);
  const auto opened = [](const wchar_t* file, const wchar_t* parameters) {
    const auto result = reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, L"open", file, parameters, nullptr, SW_SHOWNORMAL));
    return result > 32;
  };
  if (opened(wide.c_str(), nullptr)) return ViewerResult::kOpened;
  // No program registered for .LOG (or it failed): Notepad, which every Windows has.
  const std::wstring quoted = L"\"" + wide + L"\"";
  if (opened(L"notepad.exe", quoted.c_str())) return ViewerResult::kOpened;
  return ViewerResult::kNoViewer;
}

int32_t RandomInRange(int32_t lo, int32_t hi) {
  if (hi < lo) std::swap(lo, hi);
  thread_local std::mt19937 engine{std::random_device{}()};
  std::uniform_int_distribution<int32_t> pick(lo, hi);
  return pick(engine);
}

LocalTime NowLocal() {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

// ---------------------------------------------------------------------------------
// Console

namespace {
bool IsConsole(DWORD which) {
  HANDLE handle = ::GetStdHandle(which);
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}
}  // namespace

bool StdinIsTerminal() { return IsConsole(STD_INPUT_HANDLE); }
bool StderrIsTerminal() { return IsConsole(STD_ERROR_HANDLE); }

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int n = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &n);
  if (wide == nullptr) return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
  std::vector<std::string> args;
  for (int i = 1; i < n; ++i) args.push_back(detail::Utf8FromWide(wide[i]));
  ::LocalFree(wide);
  return args;
}

namespace {

// Collects UTF-8 bytes and writes whole characters to the console as UTF-16. A
// character cut by the buffer's end waits for its remaining bytes.
class ConsoleBuf : public std::streambuf {
 public:
  explicit ConsoleBuf(HANDLE console) : console_(console) { setp(buf_, buf_ + sizeof buf_); }
  ~ConsoleBuf() override { sync(); }

 protected:
  int_type overflow(int_type ch) override {
    if (Drain() != 0) return traits_type::eof();
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(ch);
      pbump(1);
    }
    return traits_type::not_eof(ch);
  }
  int sync() override { return Drain(); }

 private:
  int Drain() {
    const size_t used = static_cast<size_t>(pptr() - pbase());
    // Keep back an incomplete UTF-8 sequence at the end.
    size_t whole = used;
    for (size_t back = 1; back <= 3 && back <= used; ++back) {
      const unsigned char c = static_cast<unsigned char>(buf_[used - back]);
      if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
      const size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      if (need > back) whole = used - back;
      break;
    }
    const std::wstring wide = detail::WideFromUtf8(std::string_view(buf_, whole));
    size_t at = 0;
    while (at < wide.size()) {
      DWORD written = 0;
      if (!::WriteConsoleW(console_, wide.data() + at, static_cast<DWORD>(wide.size() - at), &written, nullptr) ||
          written == 0)
        return -1;
      at += written;
    }
    const size_t rest = used - whole;
    for (size_t i = 0; i < rest; ++i) buf_[i] = buf_[whole + i];
    setp(buf_, buf_ + sizeof buf_);
    pbump(static_cast<int>(rest));
    return 0;
  }

  HANDLE console_;
  char buf_[4096];
};

void UseConsoleFor(std::ostream& stream, DWORD which) {
  HANDLE h = ::GetStdHandle(which);
  DWORD mode = 0;
  if (h == nullptr || h == INVALID_HANDLE_VALUE || !::GetConsoleMode(h, &mode)) return;  // redirected
  stream.flush();
  static ConsoleBuf* bufs[2] = {};
  ConsoleBuf*& slot = bufs[which == STD_OUTPUT_HANDLE ? 0 : 1];
  if (slot == nullptr) slot = new ConsoleBuf(h);  // lives as long as the stream
  stream.rdbuf(slot);
}

}  // namespace

void IgnoreClosedOutput() {}

void UseConsoleForText() {
  UseConsoleFor(std::cout, STD_OUTPUT_HANDLE);
  UseConsoleFor(std::cerr, STD_ERROR_HANDLE);
}

}  // namespace kv::platform

namespace kv::platform {

namespace {
std::atomic<bool> stopSignalled{false};

// Runs on a thread of its own that Windows starts for the event. Returning TRUE keeps the
// process alive for Ctrl+C and Ctrl+Break; for a console close Windows ends the process
// when the handler returns, so the run is given a few seconds to reach a safe point first.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      stopSignalled.store(true, std::memory_order_relaxed);
      return TRUE;
    case CTRL_CLOSE_EVENT:
      stopSignalled.store(true, std::memory_order_relaxed);
      ::Sleep(4000);
      return TRUE;
    default:
      return FALSE;
  }
}
}  // namespace

void WatchStopSignals() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

bool StopSignalled() { return stopSignalled.load(std::memory_order_relaxed); }

}  // namespace kv::platform
