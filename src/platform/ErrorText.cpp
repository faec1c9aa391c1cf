// The short English reason for a Windows error number, shared by both halves of the
// platform layer: messages that name a path and why it failed read the same everywhere.
#include "platform/File.h"

namespace kv::platform {

const char* SystemErrorText(OsStatus status) {
  switch (status.error()) {
    case OsError::kNone: return "no error";
    case OsError::kFileNotFound: return "file not found";
    case OsError::kPathNotFound: return "path not found";
    case OsError::kTooManyOpenFiles: return "too many open files";
    case OsError::kAccessDenied: return "access denied";
    case OsError::kInvalidHandle: return "invalid handle";
    case OsError::kNotEnoughMemory: return "not enough memory";
    case OsError::kInvalidAccess: return "invalid access";
    case OsError::kSharingViolation: return "the file is in use";
    case OsError::kLockViolation: return "the file is locked";
    case OsError::kFileExists: return "the file exists";
    case OsError::kDiskFull: return "the disk is full";
    default: return "input/output error";
  }
}

const char* NameKindText(NameKind kind) {
  switch (kind) {
    case NameKind::kMissing: return "not there";
    case NameKind::kFile: return "a file";
    case NameKind::kDirectory: return "a directory, not a file";
    case NameKind::kDanglingLink: return "a link whose target is not there (a share not mounted?)";
    case NameKind::kOther: return "no regular file (a device, pipe or socket)";
    case NameKind::kUnknown: break;
  }
  return "a name that cannot be looked at";
}

}  // namespace kv::platform
