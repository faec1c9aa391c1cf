// Files, names and byte-range locks on Linux.
//
// Why open-file-description locks: classic POSIX record locks (F_SETLK) belong to the
// process, not to the descriptor. Two descriptors of one file in one process never
// conflict, and closing either of them silently drops every lock the process holds on
// the file. The engine opens a file block's files once per block and relies on its
// locks conflicting with those of another block of the same file, and on a close of one
// block leaving the locks of the others in place; that is how handle locks behave on the
// suite's own platform. F_OFD_SETLK locks belong to the open file description and give
// exactly that. A description is shared by dup() and fork(), so a child process that
// wants locks of its own must open the file itself.
//
// Every lock is a write lock (F_WRLCK), so any two File objects exclude each other
// whatever they lock. A descriptor opened read-only cannot hold a write lock; there
// F_RDLCK is used. Two read-only File objects therefore do not exclude each other,
// while a read-only and a read/write File do. The engine takes the locks that matter
// for exclusion (station claims, write lock, record locks) on files it opened for
// reading and writing.
#include "platform/File.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>
#include <vector>

#include "platform/OsCall.h"
#include "platform/Path.h"

namespace kv::platform {
namespace {
// The handle holds a descriptor in this half.
int Fd(NativeFile handle) { return static_cast<int>(handle); }
}  // namespace

using detail::OsCall;
using detail::OsTransfer;

namespace detail {

// Metadata of a path without following a final symbolic link; 0 or an errno.
int LstatPath(const std::string& path, struct stat& st) {
  int r = OsCall(Op::kStat, [&] { return ::lstat(path.c_str(), &st); });
  return r == 0 ? 0 : errno;
}

int StatPath(const std::string& path, struct stat& st) {
  int r = OsCall(Op::kStat, [&] { return ::stat(path.c_str(), &st); });
  return r == 0 ? 0 : errno;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return StatPath(path, st) == 0 && S_ISDIR(st.st_mode);
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  while (slash > 0 && path[slash - 1] == '/') --slash;
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// ENOENT means a missing file when the directory is there, else a missing path.
OsError NotFoundError(const std::string& path) {
  return IsDirectory(ParentOf(path)) ? OsError::kFileNotFound : OsError::kPathNotFound;
}

OsError ErrorForPath(int err, const std::string& path) {
  return err == ENOENT ? NotFoundError(path) : WinErrorFromErrno(err);
}

namespace {

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// The entry of `dir` equal to `name` ignoring ASCII case; of several, the smallest
// by bytes, so that the choice does not depend on the order of the listing.
bool FindIgnoringCase(const std::string& dir, const std::string& name, std::string& found) {
  // One listing counts as one call: the entries come in one read on any usual directory.
  DIR* d = nullptr;
  if (OsCall(Op::kStat, [&] { return (d = ::opendir(dir.c_str())) != nullptr ? 0 : -1; }) != 0) return false;
  bool any = false;
  while (dirent* e = ::readdir(d)) {
    std::string_view entry(e->d_name);
    if (entry == "." || entry == "..") continue;
    if (!EqualIgnoringAsciiCase(entry, name)) continue;
    if (!any || entry < found) found.assign(entry);
    any = true;
  }
  ::closedir(d);
  return any;
}

}  // namespace

std::string ResolvePath(std::string_view path) {
  std::string whole(path);
  struct stat st;
  if (whole.empty() || LstatPath(whole, st) == 0) return whole;

  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t slash = whole.find('/', start);
    parts.push_back(whole.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }

  std::string prefix;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    auto joined = [&](const std::string& p) { return i == 0 ? p : prefix + "/" + p; };
    if (i == 0 && part.empty()) continue;  // absolute path: prefix "" stands for the root
    if (part.empty() || part == "." || part == "..") {
      prefix = joined(part);
      continue;
    }
    std::string exact = joined(part);
    if (LstatPath(exact, st) == 0) {
      prefix = exact;
      continue;
    }
    std::string dir = i == 0 ? "." : (prefix.empty() ? "/" : prefix);
    std::string found;
    if (FindIgnoringCase(dir, part, found)) {
      prefix = joined(found);
      continue;
    }
    // Nothing further down can exist: keep the rest as written.
    prefix = exact;
    for (size_t k = i + 1; k < parts.size(); ++k) prefix += "/" + parts[k];
    return prefix;
  }
  return prefix;
}

}  // namespace detail

using detail::ErrorForPath;
using detail::ResolvePath;

std::string ResolveName(std::string_view name) { return ResolvePath(SystemName(name)); }

// ---------------------------------------------------------------------------------
// File

OsStatus File::Open(std::string_view name, Access access, Share share, File& out) {
  (void)share;  // no share modes on this platform: see File.h
  (void)out.Close();  // what `out` held is let go; its close is no part of this result
  std::string cut = SystemName(name);
  int flags = (access == Access::kReadOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC;
  std::string path = cut;
  int fd = OsCall(Op::kOpen, [&] { return ::open(path.c_str(), flags); });
  if (fd < 0 && errno == ENOENT) {
    path = ResolvePath(cut);
    if (path != cut) fd = OsCall(Op::kOpen, [&] { return ::open(path.c_str(), flags); });
    else errno = ENOENT;
  }
  if (fd < 0) return ErrorForPath(errno, path);

  // A directory opens read-only on Linux; on the suite's platform it is access denied.
  struct stat st;
  int r = OsCall(Op::kStat, [&] { return ::fstat(fd, &st); });
  if (r != 0 || S_ISDIR(st.st_mode)) {
    const OsError err = r != 0 ? WinErrorFromErrno(errno) : OsError::kAccessDenied;
    OsCall(Op::kClose, [&] { return ::close(fd); });
    return err;
  }
  out.fd_ = fd;
  out.readOnly_ = access == Access::kReadOnly;
  out.name_ = path;
  return OsError::kNone;
}

OsStatus File::Create(std::string_view name, IfExists ifExists, File& out) {
  (void)out.Close();  // what `out` held is let go; its close is no part of this result
  std::string path = ResolveName(name);
  int flags = O_RDWR | O_CREAT | O_CLOEXEC | (ifExists == IfExists::kReplace ? O_TRUNC : O_EXCL);
  int fd = OsCall(Op::kCreate, [&] { return ::open(path.c_str(), flags, 0666); });
  if (fd < 0) return ErrorForPath(errno, path);
  out.fd_ = fd;
  out.readOnly_ = false;
  out.name_ = path;
  return OsError::kNone;
}

OsStatus File::StillNamed(bool& same) {
  same = false;
  if (fd_ < 0) return OsError::kInvalidHandle;
  struct stat mine;
  if (OsCall(Op::kStat, [&] { return ::fstat(Fd(fd_), &mine); }) != 0) return WinErrorFromErrno(errno);
  struct stat named;
  const int err = detail::StatPath(ResolvePath(name_), named);
  if (err == ENOENT || err == ENOTDIR) return OsError::kNone;  // gone: not the same
  if (err != 0) return WinErrorFromErrno(err);
  same = mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
  return OsError::kNone;
}

namespace {

// Windows' mandatory rule in the test mode (Faults.h): whether another open file holds a
// lock over the range that a read (F_RDLCK: only a write lock stands in its way) or a
// write (F_WRLCK: any lock does) would touch. F_OFD_GETLK never reports the locks of the
// asking description itself. A query that fails lets the transfer go on: the mode only
// adds refusals that Windows would make, it never invents other errors.
bool MeetsOthersLock(int fd, short type, uint64_t offset, size_t length) {
  if (length == 0 || !WindowsLockRule()) return false;
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;
  if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

}  // namespace

OsStatus File::ReadAt(uint64_t offset, void* buffer, size_t length, size_t& done) {
  done = 0;
  if (fd_ < 0) return OsError::kInvalidHandle;
  if (!detail::RangeFits(offset, length)) return OsError::kInvalidAccess;
  if (MeetsOthersLock(Fd(fd_), F_RDLCK, offset, length)) return OsError::kLockViolation;
  auto* p = static_cast<char*>(buffer);
  while (done < length) {
    bool stop = false;
    ssize_t n = OsTransfer(Op::kRead, length - done, stop, [&](size_t len) {
      return ::pread(Fd(fd_), p + done, len, static_cast<off_t>(offset + done));
    });
    if (n < 0) return WinErrorFromErrno(errno);
    done += static_cast<size_t>(n);
    if (n == 0 || stop) break;  // end of file
  }
  return OsError::kNone;
}

OsStatus File::WriteAt(uint64_t offset, const void* buffer, size_t length, size_t& done) {
  done = 0;
  if (fd_ < 0) return OsError::kInvalidHandle;
  if (!detail::RangeFits(offset, length)) return OsError::kInvalidAccess;
  if (MeetsOthersLock(Fd(fd_), F_WRLCK, offset, length)) return OsError::kLockViolation;
  const auto* p = static_cast<const char*>(buffer);
  while (done < length) {
    bool stop = false;
    ssize_t n = OsTransfer(Op::kWrite, length - done, stop, [&](size_t len) {
      return ::pwrite(Fd(fd_), p + done, len, static_cast<off_t>(offset + done));
    });
    if (n < 0) return WinErrorFromErrno(errno);
    done += static_cast<size_t>(n);
    if (n == 0 || stop) break;
  }
  return OsError::kNone;
}

OsStatus File::Size(uint64_t& size) {
  size = 0;
  if (fd_ < 0) return OsError::kInvalidHandle;
  struct stat st;
  if (OsCall(Op::kSize, [&] { return ::fstat(Fd(fd_), &st); }) != 0) return WinErrorFromErrno(errno);
  size = static_cast<uint64_t>(st.st_size);
  return OsError::kNone;
}

OsStatus File::Truncate(uint64_t size) {
  if (fd_ < 0) return OsError::kInvalidHandle;
  if (size > static_cast<uint64_t>(INT64_MAX)) return OsError::kInvalidAccess;
  if (OsCall(Op::kTruncate, [&] { return ::ftruncate(Fd(fd_), static_cast<off_t>(size)); }) != 0)
    return WinErrorFromErrno(errno);
  return OsError::kNone;
}

OsStatus File::Flush() {
  if (fd_ < 0) return OsError::kInvalidHandle;
  if (OsCall(Op::kFlush, [&] { return ::fdatasync(Fd(fd_)); }) != 0) return WinErrorFromErrno(errno);
  return OsError::kNone;
}

OsStatus File::Close() {
  if (fd_ < 0) return OsError::kInvalidHandle;
  const int fd = Fd(std::exchange(fd_, -1));
  name_.clear();
  // The descriptor is gone whatever close() says (Linux never leaves it open), so it is
  // called once and not repeated after EINTR. Its locks go with it.
  detail::Gate g = detail::EnterCall(Op::kClose);
  int r = ::close(fd);
  if (g.err != 0) return WinErrorFromErrno(g.err);
  if (r != 0 && errno != EINTR) return WinErrorFromErrno(errno);
  return OsError::kNone;
}

namespace {

OsStatus SetLock(int fd, short type, uint64_t offset, uint64_t length, Op op) {
  if (fd < 0) return OsError::kInvalidHandle;
  if (length == 0) return OsError::kNone;  // locks no byte; for fcntl 0 would mean "to the end"
  if (!detail::RangeFits(offset, length)) return OsError::kInvalidAccess;
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // required for open-file-description locks
  if (OsCall(op, [&] { return ::fcntl(fd, F_OFD_SETLK, &fl); }) == 0) return OsError::kNone;
  int err = errno;
  if (err == EAGAIN || err == EACCES) return OsError::kLockViolation;
  return WinErrorFromErrno(err);
}

}  // namespace

OsStatus File::LockRange(uint64_t offset, uint64_t length) {
  if (fd_ < 0) return OsError::kInvalidHandle;
  return SetLock(Fd(fd_), readOnly_ ? F_RDLCK : F_WRLCK, offset, length, Op::kLock);
}

OsStatus File::UnlockRange(uint64_t offset, uint64_t length) {
  return SetLock(Fd(fd_), F_UNLCK, offset, length, Op::kUnlock);
}

// ---------------------------------------------------------------------------------
// Whole files

OsStatus DeleteFile(std::string_view name) {
  std::string path = ResolveName(name);
  if (OsCall(Op::kDelete, [&] { return ::unlink(path.c_str()); }) != 0) return ErrorForPath(errno, path);
  return OsError::kNone;
}

namespace detail {

// Renames without replacing an existing target, as the suite's platform does: a
// restore that could not delete the old file must leave both files in place.
OsStatus RenameNoReplace(const std::string& from, const std::string& to) {
  int r = OsCall(Op::kRename, [&] { return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE); });
  if (r != 0 && (errno == EINVAL || errno == ENOSYS)) {
    // The file system cannot refuse to replace (some network file systems): check first.
    struct stat st;
    if (LstatPath(to, st) == 0) {
      errno = EEXIST;
    } else {
      r = OsCall(Op::kRename, [&] { return ::rename(from.c_str(), to.c_str()); });
    }
  }
  if (r == 0) return OsError::kNone;
  int err = errno;
  if (err != ENOENT) return WinErrorFromErrno(err);
  struct stat st;
  if (LstatPath(from, st) != 0) return NotFoundError(from);
  return NotFoundError(to);
}

}  // namespace detail

OsStatus RenameFile(std::string_view from, std::string_view to) {
  std::string source = ResolveName(from);
  std::string target = ResolveName(to);
  if (source == target) {  // same name, perhaps in another letter case
    struct stat st;
    return detail::LstatPath(source, st) == 0 ? OsError::kNone : detail::NotFoundError(source);
  }
  return detail::RenameNoReplace(source, target);
}

bool FileExists(std::string_view name) {
  struct stat st;
  return detail::StatPath(ResolveName(name), st) == 0 && S_ISREG(st.st_mode);
}

NameProbe ProbeName(std::string_view name) {
  const std::string path = ResolveName(name);
  struct stat st;
  NameProbe out;
  int err = detail::LstatPath(path, st);
  if (err == ENOENT || err == ENOTDIR) {
    out.kind = NameKind::kMissing;  // the resolution found no entry in any letter case
    return out;
  }
  if (err != 0) {
    out.error = WinErrorFromErrno(err);
    return out;
  }
  if (S_ISLNK(st.st_mode)) {
    err = detail::StatPath(path, st);
    if (err == ENOENT || err == ENOTDIR || err == ELOOP) {
      out.kind = NameKind::kDanglingLink;
      return out;
    }
    if (err != 0) {
      out.error = WinErrorFromErrno(err);
      return out;
    }
  }
  out.kind = S_ISREG(st.st_mode) ? NameKind::kFile : S_ISDIR(st.st_mode) ? NameKind::kDirectory : NameKind::kOther;
  return out;
}

namespace detail {

// The owner, group and mode a new file in `dir` takes: those of the directory's first
// module data file (*.DAT, any letter case, the smallest name), else of the directory
// itself without its execute bits. False when neither can be looked at.
bool AccessModelIn(const std::string& dir, struct stat& model, const std::string& exclude = {}) {
  DIR* d = nullptr;
  std::string best;
  if (OsCall(Op::kStat, [&] { return (d = ::opendir(dir.c_str())) != nullptr ? 0 : -1; }) == 0) {
    while (dirent* e = ::readdir(d)) {
      const std::string_view entry(e->d_name);
      if (entry.size() < 5) continue;
      std::string ext(entry.substr(entry.size() - 4));
      for (char& c : ext) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
      if (ext != ".DAT") continue;
      const std::string path = (dir == "/" ? "/" : dir + "/") + std::string(entry);
      struct stat st;
      if (path == exclude || StatPath(path, st) != 0 || !S_ISREG(st.st_mode)) continue;
      if (best.empty() || entry < best) {
        best.assign(entry);
        model = st;
      }
    }
    ::closedir(d);
  }
  if (!best.empty()) return true;
  if (StatPath(dir, model) != 0) return false;
  model.st_mode &= static_cast<mode_t>(~0111);
  return true;
}

// Gives `path` (a file this program made) the owner, group and mode of `model`; what
// this user may not change stays.
void TakeAccess(const std::string& path, const struct stat& model) {
  struct stat mine;
  if (StatPath(path, mine) != 0 || !S_ISREG(mine.st_mode)) return;
  if (mine.st_uid != model.st_uid || mine.st_gid != model.st_gid) {
    const uid_t uid = mine.st_uid != model.st_uid ? model.st_uid : static_cast<uid_t>(-1);
    const gid_t gid = mine.st_gid != model.st_gid ? model.st_gid : static_cast<gid_t>(-1);
    // Only root may give a file away; a group this user is in may be given all the same.
    if (OsCall(Op::kStat, [&] { return ::chown(path.c_str(), uid, gid); }) != 0)
      (void)OsCall(Op::kStat, [&] { return ::chown(path.c_str(), static_cast<uid_t>(-1), gid); });
  }
  // After the owner: a change of owner clears the set-user and set-group bits.
  if ((mine.st_mode & 07777) != (model.st_mode & 0666))
    (void)OsCall(Op::kStat, [&] { return ::chmod(path.c_str(), model.st_mode & 0666); });
}

}  // namespace detail

bool SameEntry(std::string_view a, std::string_view b) {
  struct stat x;
  struct stat y;
  return detail::StatPath(ResolveName(a), x) == 0 && detail::StatPath(ResolveName(b), y) == 0 && x.st_dev == y.st_dev &&
         x.st_ino == y.st_ino;
}

void TakeAccessOf(std::string_view name, std::initializer_list<std::string_view> like) {
  const std::string path = ResolveName(name);
  struct stat model;
  bool found = false;
  for (std::string_view other : like) {
    const std::string otherPath = ResolveName(other);
    if (otherPath != path && detail::StatPath(otherPath, model) == 0 && S_ISREG(model.st_mode)) {
      found = true;
      break;
    }
  }
  if (!found && !detail::AccessModelIn(detail::ParentOf(path), model, path)) return;
  detail::TakeAccess(path, model);
}

int64_t FileSizeOf(std::string_view name) {
  File f;
  if (File::Open(name, Access::kReadOnly, Share::kShared, f) != OsError::kNone) return -1;
  uint64_t size = 0;
  if (f.Size(size) != OsError::kNone) return -1;
  return static_cast<int64_t>(size);
}

namespace detail {

// Replacing a file, and why it is done in two ways.
//
// The usual way: the new bytes go to a temporary file beside the target
// ("<name>.~tmp<pid>"), which is flushed and renamed over the target; the directory is
// flushed last so that the rename itself survives a crash. A crash leaves either the
// old or the new content. A renamed file is a new file, so before anything is written
// to it the temporary takes the target's owner, group and mode: on a shared company
// directory the suite's users must keep the access they had.
//
// Only root may give a file to another user. Where the temporary cannot take the
// target's owner or group (the program does not run as root and the target belongs to
// another user or group), the target is rewritten in place instead, as the suite itself
// does: the bytes are written at offset 0, the file is cut to their length and flushed.
// That keeps owner, group, mode and the file's identity, but it is not atomic: a crash
// in the middle can leave a mixture of old and new bytes. It is chosen because the
// alternative, a file the suite's users can no longer write, breaks the suite for
// everyone, while a torn side or settings file is caught by its readers.
//
// A temporary is held under a byte-range lock for as long as it exists. One whose lock
// can be taken belongs to no running program: it is a leftover of a run that was killed
// while it replaced that file, and is removed before the next replace of the same file.

namespace {

std::string BaseOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A whole-file lock on the temporary's open file description; 0 or an errno.
int LockWhole(int fd) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;  // to the end of the file, however long it grows
  fl.l_pid = 0;
  return OsCall(Op::kLock, [&] { return ::fcntl(fd, F_OFD_SETLK, &fl); }) == 0 ? 0 : errno;
}

// Removes the temporaries of `target` that no running program holds. Whatever fails
// here only leaves a leftover in place.
void RemoveLeftoverTemporaries(const std::string& target) {
  const std::string dir = ParentOf(target);
  const std::string base = BaseOf(target);
  std::vector<std::string> found;
  DIR* d = nullptr;
  if (OsCall(Op::kStat, [&] { return (d = ::opendir(dir.c_str())) != nullptr ? 0 : -1; }) != 0) return;
  while (dirent* e = ::readdir(d)) {
    if (IsTemporaryOf(e->d_name, base)) found.emplace_back(e->d_name);
  }
  ::closedir(d);
  for (const std::string& name : found) {
    const std::string path = dir == "/" ? "/" + name : dir + "/" + name;
    const int fd = OsCall(Op::kOpen, [&] {
      return ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    });
    if (fd < 0) continue;
    struct stat st;
    if (OsCall(Op::kStat, [&] { return ::fstat(fd, &st); }) == 0 && S_ISREG(st.st_mode) &&
        LockWhole(fd) == 0) {
      OsCall(Op::kDelete, [&] { return ::unlink(path.c_str()); });
    }
    OsCall(Op::kClose, [&] { return ::close(fd); });
  }
}

// Gives the temporary `fd` the owner, group and mode of `old`. False when the owner or
// group cannot be given (not permitted to this user).
bool TakeOwnerAndMode(int fd, const struct stat& old) {
  struct stat mine;
  if (OsCall(Op::kStat, [&] { return ::fstat(fd, &mine); }) != 0) return false;
  if (mine.st_uid != old.st_uid || mine.st_gid != old.st_gid) {
    const uid_t uid = mine.st_uid != old.st_uid ? old.st_uid : static_cast<uid_t>(-1);
    const gid_t gid = mine.st_gid != old.st_gid ? old.st_gid : static_cast<gid_t>(-1);
    if (OsCall(Op::kStat, [&] { return ::fchown(fd, uid, gid); }) != 0) return false;
  }
  // After the owner: a change of owner clears the set-user and set-group bits.
  return OsCall(Op::kStat, [&] { return ::fchmod(fd, old.st_mode & 07777); }) == 0;
}

OsStatus WriteAllAt0(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    bool stop = false;
    ssize_t n = OsTransfer(Op::kWrite, bytes.size() - done, stop, [&](size_t len) {
      return ::pwrite(fd, bytes.data() + done, len, static_cast<off_t>(done));
    });
    if (n < 0) return WinErrorFromErrno(errno);
    if (n == 0 || (stop && done + static_cast<size_t>(n) < bytes.size())) return OsError::kDiskFull;
    done += static_cast<size_t>(n);
  }
  return OsError::kNone;
}

OsStatus CloseChecked(int fd) {
  if (OsCall(Op::kClose, [&] { return ::close(fd); }) != 0 && errno != EINTR) return WinErrorFromErrno(errno);
  return OsError::kNone;
}

// The in-place rewrite described above: owner, group, mode and identity stay.
OsStatus RewriteInPlace(const std::string& target, std::string_view bytes, bool& writeFailed) {
  const int fd = OsCall(Op::kOpen, [&] { return ::open(target.c_str(), O_WRONLY | O_CLOEXEC); });
  if (fd < 0) return ErrorForPath(errno, target);
  writeFailed = true;
  OsStatus err = WriteAllAt0(fd, bytes);
  if (!err &&
      OsCall(Op::kTruncate, [&] { return ::ftruncate(fd, static_cast<off_t>(bytes.size())); }) != 0)
    err = WinErrorFromErrno(errno);
  if (!err && OsCall(Op::kFlush, [&] { return ::fsync(fd); }) != 0) err = WinErrorFromErrno(errno);
  const OsStatus closed = CloseChecked(fd);
  if (!err) err = closed;
  if (!err) writeFailed = false;
  return err;
}

}  // namespace

// On any failure the temporary is removed and the target is left as it was (for the
// in-place rewrite: see above). `writeFailed` tells a failure after the temporary (or
// the target, in place) was opened from one of the opening itself.
OsStatus ReplaceFile(std::string_view name, std::string_view bytes, bool& writeFailed) {
  writeFailed = false;
  std::string target = ResolveName(name);
  std::string temp = TemporaryOf(target, static_cast<uint64_t>(::getpid()));

  // A file that may not be written is not replaced either (the rename alone would be
  // allowed by the directory's permissions), as rewriting it in place would fail.
  if (OsCall(Op::kStat, [&] { return ::access(target.c_str(), W_OK); }) != 0 && errno != ENOENT)
    return ErrorForPath(errno, target);

  RemoveLeftoverTemporaries(target);

  int fd = OsCall(Op::kCreate, [&] { return ::open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); });
  if (fd < 0) return ErrorForPath(errno, temp);
  // Marks the temporary as in use (a file system without locks leaves it unmarked, and
  // a leftover there is then never removed). A second descriptor of the same open file
  // keeps the lock past the checked close below, until the rename is done.
  LockWhole(fd);
  const int holder = OsCall(Op::kOpen, [&] { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); });

  auto dropTemporary = [&] {
    OsCall(Op::kDelete, [&] { return ::unlink(temp.c_str()); });
    if (holder >= 0) OsCall(Op::kClose, [&] { return ::close(holder); });
  };

  struct stat old;
  const bool existed = StatPath(target, old) == 0;
  if (existed && S_ISREG(old.st_mode) && !TakeOwnerAndMode(fd, old)) {
    OsCall(Op::kClose, [&] { return ::close(fd); });
    dropTemporary();
    return RewriteInPlace(target, bytes, writeFailed);
  }

  OsStatus err = WriteAllAt0(fd, bytes);
  if (!err && OsCall(Op::kFlush, [&] { return ::fsync(fd); }) != 0) err = WinErrorFromErrno(errno);
  const OsStatus closed = CloseChecked(fd);
  if (!err) err = closed;
  if (!err && OsCall(Op::kRename, [&] { return ::rename(temp.c_str(), target.c_str()); }) != 0)
    err = ErrorForPath(errno, target);
  if (err) {
    writeFailed = true;
    dropTemporary();
    return err;
  }
  if (holder >= 0) OsCall(Op::kClose, [&] { return ::close(holder); });
  // A file that was not there before takes the access of the company's files.
  struct stat model;
  if (!existed && AccessModelIn(ParentOf(target), model, target)) TakeAccess(target, model);

  std::string dir = ParentOf(target);
  int dfd = OsCall(Op::kOpen, [&] { return ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (dfd >= 0) {
    // Some file systems refuse fsync on a directory; the rename has happened either way.
    OsCall(Op::kFlush, [&] { return ::fsync(dfd); });
    OsCall(Op::kClose, [&] { return ::close(dfd); });
  }
  return OsError::kNone;
}

}  // namespace detail

}  // namespace kv::platform
