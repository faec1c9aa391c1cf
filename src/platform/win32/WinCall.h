// Internal to the Win32 half of src/platform: the gate every Win32 call passes, and
// the conversion of the core's CP874 paths to the wide paths the file system takes.
//
// The wrappers count the call, apply the simulated delay and the fault plan exactly as
// the POSIX half does. A fault plan names an errno value (the tests are written once for
// both halves); here it becomes the Windows number WinErrorFromErrno gives for it, so a
// planned EAGAIN on a read is the error 33 a mandatory lock gives on Windows.
#pragma once

#include <windows.h>
// windows.h names its calls' wide and narrow forms by macros that would rename the
// platform's own functions of the same names; the wide calls are used by name.
#undef CreateDirectory
#undef DeleteFile
#undef ReplaceFile
#undef GetEnvironmentVariable

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Faults.h"
#include "platform/File.h"
#include "platform/OsCall.h"

namespace kv::platform::detail {

// Runs fn() (a Win32 call returning nonzero on success) unless the gate fails it.
// Returns 0 or the Windows error number of the failure.
template <class Fn>
DWORD WinCall(Op op, Fn&& fn) {
  Gate g = EnterCall(op);
  if (g.err != 0) return static_cast<DWORD>(WinErrorFromErrno(g.err));
  if (fn()) return 0;
  DWORD err = ::GetLastError();
  return err != 0 ? err : static_cast<DWORD>(OsError::kGenFailure);
}

// For ReadFile and WriteFile: fn(length, moved) moves up to `length` bytes. On an
// injected short count fn gets half the length and `stop` is set.
template <class Fn>
DWORD WinTransfer(Op op, DWORD length, bool& stop, DWORD& moved, Fn&& fn) {
  Gate g = EnterCall(op);
  stop = false;
  moved = 0;
  if (g.err != 0) return static_cast<DWORD>(WinErrorFromErrno(g.err));
  if (g.short_) {
    length /= 2;
    stop = true;
    if (length == 0) return 0;
  }
  if (fn(length, moved)) return 0;
  DWORD err = ::GetLastError();
  return err != 0 ? err : static_cast<DWORD>(OsError::kGenFailure);
}

// CP874 bytes to UTF-16 with code page 874 (the one place this conversion happens).
// Bytes without a character in CP874 become U+FFFD, so they name no existing file.
std::wstring WideFromCp874(std::string_view cp874);
// UTF-16 to CP874; a character CP874 cannot hold becomes '?' and `lossless` is false.
std::string Cp874FromWide(std::wstring_view wide, bool* lossless = nullptr);
// UTF-16 to UTF-8 and back, for the console and the command line.
std::string Utf8FromWide(std::wstring_view wide);
std::wstring WideFromUtf8(std::string_view utf8);

// The wide path the file system is given for a CP874 path: as it is while it is short;
// past MAX_PATH the full path in the \\?\ form (\\?\UNC\server\share\... for a UNC
// path), which lifts the limit.
std::wstring SystemPath(std::string_view cp874);

}  // namespace kv::platform::detail
