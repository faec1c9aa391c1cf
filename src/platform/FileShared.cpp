// The parts of File and the whole-file calls that both halves of the platform share:
// what does not call the operating system, or calls it only through the half's own
// functions.
#include <cerrno>
#include <climits>
#include <ostream>
#include <utility>

#include "platform/File.h"
#include "platform/OsCall.h"

namespace kv::platform {

OsError WinErrorFromErrno(int err) {
  switch (err) {
    case 0: return OsError::kNone;
    case ENOENT: return OsError::kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
#ifdef ELOOP
    case ELOOP:
#endif
      return OsError::kPathNotFound;
    case EMFILE:
    case ENFILE: return OsError::kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return OsError::kAccessDenied;
    case EBADF:
#ifdef ESTALE
    case ESTALE:
#endif
      return OsError::kInvalidHandle;
    case ENOMEM: return OsError::kNotEnoughMemory;
    case EINVAL: return OsError::kInvalidAccess;
    case EBUSY:
#ifdef ETXTBSY
    case ETXTBSY:
#endif
      return OsError::kSharingViolation;
    case EAGAIN: return OsError::kLockViolation;
    case EEXIST: return OsError::kFileExists;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EFBIG: return OsError::kDiskFull;
    default: return OsError::kGenFailure;
  }
}

std::ostream& operator<<(std::ostream& out, OsError error) { return out << Code(error); }
std::ostream& operator<<(std::ostream& out, OsStatus status) { return out << status.Code(); }

namespace detail {

bool RangeFits(uint64_t offset, uint64_t length) {
  return offset <= static_cast<uint64_t>(INT64_MAX) && length <= static_cast<uint64_t>(INT64_MAX) - offset;
}

}  // namespace detail

// ---------------------------------------------------------------------------------
// File

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), readOnly_(other.readOnly_), name_(std::move(other.name_)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    // A file moved over is let go like one going out of scope: its close cannot be
    // reported from an assignment, and the descriptor is gone either way.
    (void)Close();
    fd_ = std::exchange(other.fd_, -1);
    readOnly_ = other.readOnly_;
    name_ = std::move(other.name_);
  }
  return *this;
}

// Who needs to know whether the close succeeded (the data reached the system) calls
// Close() first; a destructor has no one to tell.
File::~File() { (void)Close(); }

OsStatus ReplaceFileAtomically(std::string_view name, std::string_view bytes) {
  bool writeFailed = false;
  return detail::ReplaceFile(name, bytes, writeFailed);
}

}  // namespace kv::platform
