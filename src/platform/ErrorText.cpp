// The short English reason for a Windows error number, shared by both halves of the
// platform layer: messages that name a path and why it failed read the same everywhere.
#include "platform/File.h"

namespace kv::platform {

const char* SystemErrorText(int32_t winError) {
  switch (winError) {
    case kErrNone: return "no error";
    case kErrFileNotFound: return "file not found";
    case kErrPathNotFound: return "path not found";
    case kErrTooManyOpenFiles: return "too many open files";
    case kErrAccessDenied: return "access denied";
    case kErrInvalidHandle: return "invalid handle";
    case kErrNotEnoughMemory: return "not enough memory";
    case kErrInvalidAccess: return "invalid access";
    case kErrSharingViolation: return "the file is in use";
    case kErrLockViolation: return "the file is locked";
    case kErrFileExists: return "the file exists";
    case kErrDiskFull: return "the disk is full";
    default: return "input/output error";
  }
}

}  // namespace kv::platform
