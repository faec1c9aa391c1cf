// Files and byte-range locks, as the engine and the module code need them.
//
// Every failure is reported as a Windows error number (WinError below): the engine's
// translation table of operating-system failures is written in those numbers, and the
// suite it shares files with was built on them. errno is mapped once, here.
//
// Locks are open-file-description locks (F_OFD_SETLK): they belong to one open file,
// like handle locks on the suite's own platform, so two File objects of the same file
// in one process conflict with each other, and closing one descriptor does not drop
// the locks of another. Classic F_SETLK locks are never used: closing *any*
// descriptor of a file would silently drop all of this process's locks on it.
// No flock and no other whole-file lock either: on NFS and SMB mounts those become a
// byte-range lock over the whole file and would block the suite's own range locks.
// "Exclusive" and "shared" opens are therefore ordinary opens here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <string>
#include <string_view>

namespace kv::platform {

// A Windows error number as the platform reports it. Only the numbers the platform
// produces itself or that callers test for are named; any other number the system
// gives is held as it is (on Windows, GetLastError's own), since the engine maps the
// numbers onward and messages print them: a number is never changed.
enum class OsError : int32_t {
  kNone = 0,
  kFileNotFound = 2,
  kPathNotFound = 3,
  kTooManyOpenFiles = 4,
  kAccessDenied = 5,
  kInvalidHandle = 6,
  kNotEnoughMemory = 8,
  kInvalidAccess = 12,
  kGenFailure = 31,  // "other": an I/O error with no closer number
  kSharingViolation = 32,
  kLockViolation = 33,
  kFileExists = 80,
  kDiskFull = 112,
};

// The number of an error, where a number is printed, stored or mapped.
constexpr int32_t Code(OsError error) { return static_cast<int32_t>(error); }
// The error a bare number names (any Windows number, named above or not).
constexpr OsError OsErrorOf(int32_t code) { return static_cast<OsError>(code); }

// The result of one call of the platform: kNone, or the error it failed with. It tests
// true when it holds a failure: `if (OsStatus e = f.Flush()) ...`. A failed write,
// flush or lock must not go unseen, so it cannot be dropped without saying so.
class [[nodiscard]] OsStatus {
 public:
  constexpr OsStatus() = default;
  constexpr OsStatus(OsError error) : error_(error) {}  // NOLINT: implicit on purpose
  constexpr explicit operator bool() const { return error_ != OsError::kNone; }
  constexpr OsError error() const { return error_; }
  constexpr int32_t Code() const { return static_cast<int32_t>(error_); }
  friend constexpr bool operator==(OsStatus, OsStatus) = default;

 private:
  OsError error_ = OsError::kNone;
};

// Writes the number, for messages and test failures.
std::ostream& operator<<(std::ostream& out, OsError error);
std::ostream& operator<<(std::ostream& out, OsStatus status);

// Maps an errno value to the Windows number above.
OsError WinErrorFromErrno(int err);

// A short English text for a Windows number above ("access denied"), for messages that
// name a path and the reason it failed; the same on every system and in every locale.
const char* SystemErrorText(OsStatus status);

// Names handed to the OS relative to the company directory are cut to their first 64
// characters; absolute paths never are (Path.h).
inline constexpr size_t kMaxFileName = 64;

// Every name below is CP874, as the core keeps it, and is converted to the system's
// encoding on its way to the OS (Path.h).
//
// The name as the OS will see it, in the system's encoding: cut and converted as
// SystemName says, and, when no file of exactly that name exists, the entry of the same
// directory whose name is equal ignoring ASCII case (company data is often copied from
// Windows in mixed case). The directory part is looked up the same way, level by level.
std::string ResolveName(std::string_view name);

// An open file of the operating system: a descriptor, or a handle's value on Windows.
using NativeFile = intptr_t;

enum class Access { kReadOnly, kReadWrite };
enum class Share { kShared, kExclusive };
// What File::Create does when the name is taken: fail with OsError::kFileExists, or
// truncate the existing file.
enum class IfExists { kFail, kReplace };

// One open file. Movable, not copyable; the destructor closes it.
class File {
 public:
  File() = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // Opens an existing file. Missing file kFileNotFound, missing directory
  // kPathNotFound.
  static OsStatus Open(std::string_view name, Access access, Share share, File& out);
  // Creates a file for reading and writing; `ifExists` says what happens to an existing
  // one.
  static OsStatus Create(std::string_view name, IfExists ifExists, File& out);

  bool IsOpen() const { return fd_ >= 0; }
  NativeFile NativeHandle() const { return fd_; }
  // The name the file was opened by, as the system knows it (its encoding, resolved).
  const std::string& Name() const { return name_; }

  // Read/write at an absolute offset. `done` receives the byte count actually moved;
  // a short count at end of file is not an error (the caller decides).
  OsStatus ReadAt(uint64_t offset, void* buffer, size_t length, size_t& done);
  OsStatus WriteAt(uint64_t offset, const void* buffer, size_t length, size_t& done);
  OsStatus Size(uint64_t& size);
  OsStatus Truncate(uint64_t size);
  OsStatus Flush();
  OsStatus Close();

  // One attempt, no waiting (the engine does its own waiting). A conflict gives
  // OsError::kLockViolation. Ranges may lie beyond the end of the file. The lock is a write
  // lock, exclusive against every other File; a file opened read-only can hold only a
  // read lock, which excludes writers' locks but not another read-only File's. A
  // length of 0 locks nothing and succeeds.
  OsStatus LockRange(uint64_t offset, uint64_t length);
  OsStatus UnlockRange(uint64_t offset, uint64_t length);

  // Whether the name this file was opened by still names this very file: false once it
  // was deleted, or deleted and made anew, by this or another program. A shared file
  // that is replaced under its open handle no longer meets the others that use it.
  OsStatus StillNamed(bool& same);

 private:
  NativeFile fd_ = -1;
  bool readOnly_ = false;  // such a descriptor can hold read locks only
  std::string name_;
};

OsStatus DeleteFile(std::string_view name);
OsStatus RenameFile(std::string_view from, std::string_view to);
// True when a regular file of that name exists (case-insensitive fallback applies).
bool FileExists(std::string_view name);
// Byte length of a file, or -1 when it cannot be opened.
int64_t FileSizeOf(std::string_view name);

// What stands under a name (case-insensitive fallback applies). Only kMissing means
// that nothing of that name exists in any letter case: a link whose target is gone, a
// directory, or a name that cannot be looked at is not missing, and no file may be
// created in its place.
enum class NameKind {
  kMissing,       // no entry of that name in any letter case
  kFile,          // a regular file (also through a link)
  kDirectory,     // a directory (also through a link)
  kDanglingLink,  // a symbolic link (Windows: a reparse point) whose target is not there
  kOther,         // a device, a pipe, a socket
  kUnknown,       // the name could not be looked at; `error` says why
};
struct NameProbe {
  NameKind kind = NameKind::kUnknown;
  OsStatus error;  // for kUnknown
};
NameProbe ProbeName(std::string_view name);
// "a symbolic link whose target is missing", "a directory", ...: for messages (English).
const char* NameKindText(NameKind kind);

// True when both names lead to the same file or directory (links followed); false
// when they do not or either cannot be looked at.
bool SameEntry(std::string_view a, std::string_view b);

// Gives the file `name`, which this program has just created, the owner, group and
// mode of `like` (an existing file; the first of several names that exists), so that
// the suite's users keep the access they have to the company's files. Nothing happens
// where none of them exists, or on Windows (a new file takes its directory's access
// there). Best effort: a change this user may not make is left.
void TakeAccessOf(std::string_view name, std::initializer_list<std::string_view> like);

// Writes `bytes` to a new file beside `name`, flushes it and renames it over `name`,
// so a crash leaves either the old or the new content, never a truncated file. The new
// file keeps the old one's owner, group and mode; where this user may not give it the
// old owner or group, `name` is rewritten in place instead (not atomic; File.cpp says
// why). Temporaries that a killed run left beside `name` are removed first.
OsStatus ReplaceFileAtomically(std::string_view name, std::string_view bytes);

}  // namespace kv::platform
