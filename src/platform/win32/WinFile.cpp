// Files, names and byte-range locks on Windows.
//
// Handles are opened with the share modes the suite uses: a shared open lets every
// other program read and write the file, an exclusive one lets nobody else open it.
// Locks are LockFileEx locks, held by the handle (one attempt, never waiting: the
// engine does its own waiting). Windows enforces them: a read or write of a range that
// another handle has locked fails with 33, the same number a refused lock gives, so the
// engine meets it as a conflict and never as damage. Errors are GetLastError's numbers
// as they are.
#include "platform/File.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "platform/Cp874.h"
#include "platform/Path.h"
#include "platform/win32/WinCall.h"

namespace kv::platform {

using detail::SystemPath;
using detail::WinCall;
using detail::WinTransfer;

namespace {

HANDLE H(NativeFile f) { return reinterpret_cast<HANDLE>(f); }

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

OsError FromWin(DWORD err) { return OsErrorOf(static_cast<int32_t>(err)); }

// 183 (ERROR_ALREADY_EXISTS) from a rename or a new directory is the "file exists" the
// callers test for.
OsError Reported(DWORD err) { return err == ERROR_ALREADY_EXISTS ? OsError::kFileExists : FromWin(err); }

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

// The largest single transfer: ReadFile and WriteFile count in 32 bits.
constexpr size_t kMaxTransfer = 1u << 30;

}  // namespace

namespace detail {

std::string CutName(std::string_view name) { return std::string(CutRelativeName(name)); }

// The file system compares names ignoring case by itself; nothing to look up.
std::string ResolvePath(std::string_view path) { return std::string(path); }

std::string ParentOf(const std::string& path) {
  size_t sep = path.find_last_of("/\\");
  if (sep == std::string::npos) return ".";
  while (sep > 0 && IsSeparator(path[sep - 1])) --sep;
  if (sep == 0) return path.substr(0, 1);
  return path.substr(0, sep);
}

bool IsDirectory(const std::string& path) {
  const std::wstring p = SystemPath(path);
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  WinCall(Op::kStat, [&] { return (attributes = ::GetFileAttributesW(p.c_str())) != INVALID_FILE_ATTRIBUTES; });
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Removes the temporaries of `target` left by runs that were killed while they replaced
// it. A running replace holds its temporary open without sharing, so Windows refuses to
// delete that one; whatever fails here only leaves a leftover in place.
void RemoveLeftoverTemporaries(const std::string& target) {
  const size_t sep = target.find_last_of("/\\");
  const std::string dir = sep == std::string::npos ? std::string() : target.substr(0, sep + 1);
  const std::string base = sep == std::string::npos ? target : target.substr(sep + 1);
  const std::wstring pattern = SystemPath(target + ".~tmp*");
  WIN32_FIND_DATAW found{};
  HANDLE find = INVALID_HANDLE_VALUE;
  if (WinCall(Op::kStat, [&] { return (find = ::FindFirstFileW(pattern.c_str(), &found)) != INVALID_HANDLE_VALUE; }) != 0)
    return;
  std::vector<std::string> names;
  do {
    bool exact = true;
    const std::string name = Cp874FromWide(found.cFileName, &exact);
    if (exact && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && IsTemporaryOf(name, base))
      names.push_back(name);
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
  for (const std::string& name : names) {
    const std::wstring wide = SystemPath(dir + name);
    WinCall(Op::kDelete, [&] { return ::DeleteFileW(wide.c_str()); });
  }
}

// A file written beside the target, flushed, closed and moved over it. ReplaceFileW
// keeps the security, attributes and owner of the file it replaces; without a target,
// or where the file system cannot do that, the move replaces it.
OsStatus ReplaceFile(std::string_view name, std::string_view bytes, bool& writeFailed) {
  writeFailed = false;
  const std::string target = CutName(name);
  std::wstring wideTarget = SystemPath(target);
  const std::wstring wideTemp = SystemPath(TemporaryOf(target, ::GetCurrentProcessId()));

  // A file that may not be written is not replaced either, as rewriting it in place
  // would fail.
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  const DWORD statErr = WinCall(Op::kStat, [&] {
    return (attributes = ::GetFileAttributesW(wideTarget.c_str())) != INVALID_FILE_ATTRIBUTES;
  });
  const bool exists = statErr == 0;
  if (exists && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) return OsError::kAccessDenied;
  if (!exists && statErr != ERROR_FILE_NOT_FOUND) return FromWin(statErr);
  if (exists) {
    // The replaced file keeps the spelling it has (the move would give it the one asked for).
    WIN32_FIND_DATAW found{};
    HANDLE find = INVALID_HANDLE_VALUE;
    WinCall(Op::kStat, [&] { return (find = ::FindFirstFileW(wideTarget.c_str(), &found)) != INVALID_HANDLE_VALUE; });
    if (find != INVALID_HANDLE_VALUE) {
      ::FindClose(find);
      const size_t sep = wideTarget.find_last_of(L"/\\");
      wideTarget = (sep == std::wstring::npos ? std::wstring() : wideTarget.substr(0, sep + 1)) + found.cFileName;
    }
  }

  RemoveLeftoverTemporaries(target);
  HANDLE h = INVALID_HANDLE_VALUE;
  DWORD err = WinCall(Op::kCreate, [&] {
    h = ::CreateFileW(wideTemp.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    return h != INVALID_HANDLE_VALUE;
  });
  if (err != 0) return FromWin(err);

  size_t done = 0;
  while (err == 0 && done < bytes.size()) {
    bool stop = false;
    DWORD moved = 0;
    const DWORD want = static_cast<DWORD>(std::min(bytes.size() - done, kMaxTransfer));
    err = WinTransfer(Op::kWrite, want, stop, moved, [&](DWORD len, DWORD& n) {
      OVERLAPPED ov = At(done);
      return ::WriteFile(h, bytes.data() + done, len, &n, &ov);
    });
    if (err != 0) break;
    if (moved == 0 || (stop && done + moved < bytes.size())) err = static_cast<DWORD>(OsError::kDiskFull);
    done += moved;
  }
  if (err == 0) err = WinCall(Op::kFlush, [&] { return ::FlushFileBuffers(h); });
  {
    // Closed whatever the gate says, or the temporary could not be removed below.
    const detail::Gate g = detail::EnterCall(Op::kClose);
    const BOOL closed = ::CloseHandle(h);
    if (err == 0 && g.err != 0) err = static_cast<DWORD>(WinErrorFromErrno(g.err));
    if (err == 0 && !closed) err = ::GetLastError();
  }
  if (err == 0) {
    err = WinCall(Op::kRename, [&] {
      if (exists && ::ReplaceFileW(wideTarget.c_str(), wideTemp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                   nullptr, nullptr))
        return TRUE;
      return ::MoveFileExW(wideTemp.c_str(), wideTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    });
  }
  if (err != 0) {
    writeFailed = true;
    WinCall(Op::kDelete, [&] { return ::DeleteFileW(wideTemp.c_str()); });
    return Reported(err);
  }
  return OsError::kNone;
}

}  // namespace detail

std::string ResolveName(std::string_view name) { return detail::CutName(name); }

// ---------------------------------------------------------------------------------
// File

OsStatus File::Open(std::string_view name, Access access, Share share, File& out) {
  (void)out.Close();  // what `out` held is let go; its close is no part of this result
  const std::string path = detail::CutName(name);
  const std::wstring wide = SystemPath(path);
  const DWORD desired = access == Access::kReadOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  const DWORD shareMode = share == Share::kShared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
  HANDLE h = INVALID_HANDLE_VALUE;
  const DWORD err = WinCall(Op::kOpen, [&] {
    h = ::CreateFileW(wide.c_str(), desired, shareMode, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h != INVALID_HANDLE_VALUE;
  });
  if (err != 0) return FromWin(err);
  out.fd_ = reinterpret_cast<NativeFile>(h);
  out.readOnly_ = access == Access::kReadOnly;
  out.name_ = PathToSystem(path);
  return OsError::kNone;
}

OsStatus File::Create(std::string_view name, IfExists ifExists, File& out) {
  (void)out.Close();  // what `out` held is let go; its close is no part of this result
  const std::string path = detail::CutName(name);
  const std::wstring wide = SystemPath(path);
  HANDLE h = INVALID_HANDLE_VALUE;
  const DWORD err = WinCall(Op::kCreate, [&] {
    h = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      ifExists == IfExists::kReplace ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h != INVALID_HANDLE_VALUE;
  });
  if (err != 0) return Reported(err);
  out.fd_ = reinterpret_cast<NativeFile>(h);
  out.readOnly_ = false;
  out.name_ = PathToSystem(path);
  return OsError::kNone;
}

OsStatus File::StillNamed(bool& same) {
  same = false;
  if (fd_ < 0) return OsError::kInvalidHandle;
  BY_HANDLE_FILE_INFORMATION mine{};
  if (DWORD err = WinCall(Op::kStat, [&] { return ::GetFileInformationByHandle(H(fd_), &mine); }))
    return FromWin(err);
  // Opening for no access at all is allowed beside every share mode.
  std::string cp874;  // the name was CP874 before it became the system's form
  Utf8ToCp874Exact(name_, cp874);
  const std::wstring wide = SystemPath(cp874);
  HANDLE other = INVALID_HANDLE_VALUE;
  const DWORD err = WinCall(Op::kStat, [&] {
    other = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return other != INVALID_HANDLE_VALUE;
  });
  if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return OsError::kNone;  // gone
  if (err != 0) return FromWin(err);
  BY_HANDLE_FILE_INFORMATION named{};
  const BOOL ok = ::GetFileInformationByHandle(other, &named);
  ::CloseHandle(other);
  if (!ok) return OsError::kGenFailure;
  same = mine.dwVolumeSerialNumber == named.dwVolumeSerialNumber && mine.nFileIndexHigh == named.nFileIndexHigh &&
         mine.nFileIndexLow == named.nFileIndexLow;
  return OsError::kNone;
}

OsStatus File::ReadAt(uint64_t offset, void* buffer, size_t length, size_t& done) {
  done = 0;
  if (fd_ < 0) return OsError::kInvalidHandle;
  if (!detail::RangeFits(offset, length)) return OsError::kInvalidAccess;
  auto* p = static_cast<char*>(buffer);
  while (done < length) {
    bool stop = false;
    DWORD moved = 0;
    const DWORD want = static_cast<DWORD>(std::min(length - done, kMaxTransfer));
    const DWORD err = WinTransfer(Op::kRead, want, stop, moved, [&](DWORD len, DWORD& n) {
      OVERLAPPED ov = At(offset + done);
      return ::ReadFile(H(fd_), p + done, len, &n, &ov);
    });
    if (err == ERROR_HANDLE_EOF) break;  // at or beyond the end: a short count, no error
    if (err != 0) return FromWin(err);
    done += moved;
    if (moved == 0 || stop) break;
  }
  return OsError::kNone;
}

OsStatus File::WriteAt(uint64_t offset, const void* buffer, size_t length, size_t& done) {
  done = 0;
  if (fd_ < 0) return OsError::kInvalidHandle;
  if (!detail::RangeFits(offset, length)) return OsError::kInvalidAccess;
  const auto* p = static_cast<const char*>(buffer);
  while (done < length) {
    bool stop = false;
    DWORD moved = 0;
    const DWORD want = static_cast<DWORD>(std::min(length - done, kMaxTransfer));
    const DWORD err = WinTransfer(Op::kWrite, want, stop, moved, [&](DWORD len, DWORD& n) {
      OVERLAPPED ov = At(offset + done);
      return ::WriteFile(H(fd_), p + done, len, &n, &ov);
    });
    if (err != 0) return FromWin(err);
    done += moved;
    if (moved == 0 || stop) break;
  }
  return OsError::kNone;
}

OsStatus File::Size(uint64_t& size) {
  size = 0;
  if (fd_ < 0) return OsError::kInvalidHandle;
  LARGE_INTEGER n{};
  if (DWORD err = WinCall(Op::kSize, [&] { return ::GetFileSizeEx(H(fd_), &n); })) return FromWin(err);
  size = static_cast<uint64_t>(n.QuadPart);
  return OsError::kNone;
}

OsStatus File::Truncate(uint64_t size) {
  if (fd_ < 0) return OsError::kInvalidHandle;
  if (size > static_cast<uint64_t>(INT64_MAX)) return OsError::kInvalidAccess;
  // The file pointer serves nothing else (every transfer names its offset).
  const DWORD err = WinCall(Op::kTruncate, [&] {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(H(fd_), to, nullptr, FILE_BEGIN) && ::SetEndOfFile(H(fd_));
  });
  return FromWin(err);
}

OsStatus File::Flush() {
  if (fd_ < 0) return OsError::kInvalidHandle;
  return FromWin(WinCall(Op::kFlush, [&] { return ::FlushFileBuffers(H(fd_)); }));
}

OsStatus File::Close() {
  if (fd_ < 0) return OsError::kInvalidHandle;
  HANDLE h = H(std::exchange(fd_, -1));
  name_.clear();
  // The handle is gone whatever the gate says; its locks go with it.
  detail::Gate g = detail::EnterCall(Op::kClose);
  const BOOL ok = ::CloseHandle(h);
  if (g.err != 0) return WinErrorFromErrno(g.err);
  return ok ? OsError::kNone : FromWin(::GetLastError());
}

OsStatus File::LockRange(uint64_t offset, uint64_t length) {
  if (fd_ < 0) return OsError::kInvalidHandle;
  if (length == 0) return OsError::kNone;
  if (!detail::RangeFits(offset, length)) return OsError::kInvalidAccess;
  // A read-only handle takes a shared lock, as the POSIX half takes a read lock there.
  const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (readOnly_ ? 0 : LOCKFILE_EXCLUSIVE_LOCK);
  const DWORD err = WinCall(Op::kLock, [&] {
    OVERLAPPED ov = At(offset);
    return ::LockFileEx(H(fd_), flags, 0, static_cast<DWORD>(length & 0xFFFFFFFFu),
                        static_cast<DWORD>(length >> 32), &ov);
  });
  // A lock held elsewhere: 33, or 32 from some network redirectors.
  if (err == ERROR_SHARING_VIOLATION || err == ERROR_IO_PENDING) return OsError::kLockViolation;
  return FromWin(err);
}

OsStatus File::UnlockRange(uint64_t offset, uint64_t length) {
  if (fd_ < 0) return OsError::kInvalidHandle;
  if (length == 0) return OsError::kNone;
  if (!detail::RangeFits(offset, length)) return OsError::kInvalidAccess;
  return FromWin(WinCall(Op::kUnlock, [&] {
    OVERLAPPED ov = At(offset);
    return ::UnlockFileEx(H(fd_), 0, static_cast<DWORD>(length & 0xFFFFFFFFu), static_cast<DWORD>(length >> 32), &ov);
  }));
}

// ---------------------------------------------------------------------------------
// Whole files

OsStatus DeleteFile(std::string_view name) {
  const std::wstring wide = SystemPath(detail::CutName(name));
  return FromWin(WinCall(Op::kDelete, [&] { return ::DeleteFileW(wide.c_str()); }));
}

OsStatus RenameFile(std::string_view from, std::string_view to) {
  const std::string source = detail::CutName(from);
  const std::string target = detail::CutName(to);
  if (source == target) return FileExists(source) ? OsError::kNone : OsError::kFileNotFound;
  const std::wstring a = SystemPath(source);
  const std::wstring b = SystemPath(target);
  // Never over an existing file: a restore that could not delete the old file must
  // leave both in place.
  return Reported(WinCall(Op::kRename, [&] { return ::MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_WRITE_THROUGH); }));
}

bool FileExists(std::string_view name) {
  const std::wstring wide = SystemPath(detail::CutName(name));
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  WinCall(Op::kStat, [&] { return (attributes = ::GetFileAttributesW(wide.c_str())) != INVALID_FILE_ATTRIBUTES; });
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

NameProbe ProbeName(std::string_view name) {
  const std::wstring wide = SystemPath(detail::CutName(name));
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  const DWORD err =
      WinCall(Op::kStat, [&] { return (attributes = ::GetFileAttributesW(wide.c_str())) != INVALID_FILE_ATTRIBUTES; });
  NameProbe out;
  if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) {
    out.kind = NameKind::kMissing;  // the file system compares names ignoring case
    return out;
  }
  if (err != 0) {
    out.error = FromWin(err);
    return out;
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // A link: whether its target is there shows when it is opened through it.
    HANDLE h = INVALID_HANDLE_VALUE;
    const DWORD open = WinCall(Op::kStat, [&] {
      h = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      return h != INVALID_HANDLE_VALUE;
    });
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    if (open == ERROR_FILE_NOT_FOUND || open == ERROR_PATH_NOT_FOUND) {
      out.kind = NameKind::kDanglingLink;
      return out;
    }
  }
  out.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? NameKind::kDirectory
             : (attributes & FILE_ATTRIBUTE_DEVICE) != 0  ? NameKind::kOther
                                                           : NameKind::kFile;
  return out;
}

bool SameEntry(std::string_view a, std::string_view b) {
  auto identity = [](std::string_view name, BY_HANDLE_FILE_INFORMATION& info) {
    const std::wstring wide = SystemPath(detail::CutName(name));
    HANDLE h = INVALID_HANDLE_VALUE;
    WinCall(Op::kStat, [&] {
      h = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      return h != INVALID_HANDLE_VALUE;
    });
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = ::GetFileInformationByHandle(h, &info) != 0;
    ::CloseHandle(h);
    return ok;
  };
  BY_HANDLE_FILE_INFORMATION x{};
  BY_HANDLE_FILE_INFORMATION y{};
  return identity(a, x) && identity(b, y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
         x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

// A new file takes the access its directory gives: nothing to copy.
void TakeAccessOf(std::string_view, std::initializer_list<std::string_view>) {}

int64_t FileSizeOf(std::string_view name) {
  const std::wstring wide = SystemPath(detail::CutName(name));
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (WinCall(Op::kStat, [&] { return ::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data); }) != 0)
    return -1;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

}  // namespace kv::platform
