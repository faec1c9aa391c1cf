// Internal to src/platform: the one gate every call to the operating system passes.
//
// EnterCall counts the call, sleeps for the simulated network delay and decides
// whether the fault plan fails it. The wrappers below are the only places in the
// platform layer that call the file system; each goes through EnterCall exactly once.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Faults.h"
#include "platform/File.h"

namespace kv::platform::detail {

// What the gate decided for one call.
struct Gate {
  int err = 0;         // non-zero: fail the call with this errno, do not make it
  bool short_ = false; // a short count: move at most half of the bytes, then stop
};
Gate EnterCall(Op op);

// Calls fn() once (again after EINTR) unless the gate fails it; returns -1 with errno
// set on an injected failure. A short-count fault on a call that moves no bytes counts
// as a failure with the plan's errno.
template <class Fn>
auto OsCall(Op op, Fn&& fn) -> decltype(fn()) {
  Gate g = EnterCall(op);
  if (g.err != 0) {
    errno = g.err;
    return static_cast<decltype(fn())>(-1);
  }
  decltype(fn()) r;
  do {
    r = fn();
  } while (r == static_cast<decltype(fn())>(-1) && errno == EINTR);
  return r;
}

// For reads and writes: fn(length) moves up to `length` bytes. On an injected short
// count fn gets half the length and `stop` is set, so the caller reports that short
// count instead of completing the transfer with a further call.
template <class Fn>
auto OsTransfer(Op op, size_t length, bool& stop, Fn&& fn) -> decltype(fn(length)) {
  Gate g = EnterCall(op);
  stop = false;
  if (g.err != 0) {
    errno = g.err;
    return -1;
  }
  if (g.short_) {
    length /= 2;
    stop = true;
    if (length == 0) return 0;
  }
  decltype(fn(length)) r;
  do {
    r = fn(length);
  } while (r < 0 && errno == EINTR);
  return r;
}

// Helpers shared by the platform's sources (File.cpp).
int LstatPath(const std::string& path, struct stat& st);  // 0 or an errno
int StatPath(const std::string& path, struct stat& st);   // 0 or an errno
bool IsDirectory(const std::string& path);
std::string ParentOf(const std::string& path);
// The case-insensitive lookup of a path in the system's encoding (see Path.h for the
// conversion and the cut that come before it).
std::string ResolvePath(std::string_view path);
// ENOENT told apart: kFileNotFound when the parent directory exists, else kPathNotFound.
OsError NotFoundError(const std::string& path);
OsError ErrorForPath(int err, const std::string& path);
// The temporary a replace writes beside `target`: "<target>.~tmp<process number>".
std::string TemporaryOf(std::string_view target, uint64_t process);
// True for a directory entry that is such a temporary of the file named `base` (the
// marker and 1 to 10 decimal digits after it, nothing else).
bool IsTemporaryOf(std::string_view entry, std::string_view base);
// ReplaceFileAtomically, telling a failed write (true) from a failed creation.
OsStatus ReplaceFile(std::string_view name, std::string_view bytes, bool& writeFailed);
// True when `length` bytes from `offset` lie within what a signed 64-bit file offset
// can name (both halves hand offsets to the system as signed numbers).
bool RangeFits(uint64_t offset, uint64_t length);

}  // namespace kv::platform::detail
