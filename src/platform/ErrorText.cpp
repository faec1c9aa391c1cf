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

}  // namespace kv::platform
