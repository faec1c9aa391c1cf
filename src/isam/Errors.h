// Engine error numbers: the numbers themselves, their classes, English texts, the
// translation of OS failures, and the fatal report shown when a module file cannot be
// opened.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/File.h"

namespace kv::ui {
class Dialogs;
}

namespace kv::isam {

// The numbers the engine reports. They are shared with the suite and its users: the
// suite shows them, the error catalogue explains them and people quote them, so a
// number is never changed. Only the numbers this engine produces are named; ErrorText
// knows texts for more.
enum class EngineError : int32_t {
  kNone = 0,
  kInvalidPath = 9900,
  kTooManyOpenFiles = 9901,
  kFileNotFound = 9903,
  kInvalidHandle = 9904,
  kInvalidAccess = 9908,
  kTooFewPageBuffers = 10000,
  kFileDefect = 10010,  // the defect flag, or an index file that cannot be opened
  kBadRecordLength = 10020,
  kBadKeyCount = 10050,
  kKeyTooLong = 10055,
  kTooManyKeys = 10060,
  kReadOnlyBlock = 10065,
  kReadError = 10070,  // also a read past the end of the file
  kWriteError = 10075,
  kTooManyBlocks = 10090,
  kDriveNotReady = 10110,
  kPageSizeMismatch = 10120,
  kKeyLengthTooSmall = 10121,
  kPageSizeTooSmall = 10122,
  kRecordZero = 10130,
  kNegativeRecord = 10135,
  kUndefined = 10140,  // any OS failure without a closer number
  kFlushHandles = 10150,
  kNotClosed = 10160,
  kBadKeyNumber = 10164,
  kInconsistent = 10170,
  kRepairFailed = 10180,
  kNoMatchingKey = 10200,
  kNoNextKey = 10250,
  kNoStationFree = 10306,
  kNetworkInit = 10310,
  kCloseBlockLocked = 10322,
  kCloseRecordLocked = 10323,
  kLockFailed = 10330,
  kRecordLockFailed = 10335,
  kRecordLockMemory = 10337,
  kUnlockFailed = 10340,
  kReadUnlockFailed = 10341,
  kOpenUnlockFailed = 10342,
  kRecordUnlockFailed = 10345,
  kOpenLocked = 10355,
  kNotExclusive = 10360,
  kLockedForShared = 10397,  // a conflict on a read-only or network block
  kMustBeLocked = 10398,
  kReadLocked = 10399,
  kNoRepairReadOnly = 10430,
  kNoCoordReadOnly = 10440,
  kInvalidBlock = 10445,
  kAlreadyStarted = 10450,
  kTooFewBuffersAsked = 10451,
  kNotStarted = 10455,
};

// The number of an error, where a number is shown, stored or looked up.
constexpr int32_t Code(EngineError error) { return static_cast<int32_t>(error); }

// The result of one step of the engine: kNone, or the error of its first failure. It
// tests true when it holds a failure, so a step reads `if (Status e = Step()) return e;`.
class [[nodiscard]] Status {
 public:
  constexpr Status() = default;
  constexpr Status(EngineError error) : error_(error) {}  // NOLINT: implicit on purpose
  constexpr explicit operator bool() const { return error_ != EngineError::kNone; }
  constexpr EngineError error() const { return error_; }
  constexpr int32_t Code() const { return static_cast<int32_t>(error_); }
  friend constexpr bool operator==(Status, Status) = default;

 private:
  EngineError error_ = EngineError::kNone;
};

// What an error means to a caller that retries. The numbers order them: a write reports
// the worst class it met (the access layer's write status).
enum class ErrorClass : int32_t {
  kNone = 0,
  kNotFound = 1,
  kConflict = 2,  // a lock or a temporary condition: worth retrying
  kSaveModeFailure = 3,
  kError = 4,
};
constexpr int32_t Code(ErrorClass cls) { return static_cast<int32_t>(cls); }
[[nodiscard]] ErrorClass ClassOf(int32_t error);
[[nodiscard]] inline ErrorClass ClassOf(EngineError error) { return ClassOf(Code(error)); }

// English text of an engine error number; empty for a number without text.
std::string ErrorText(int32_t error);

// The kind of operation an OS failure happened in; the same OS error means different
// things to the engine depending on it.
enum class OsOp { kOpen, kCreate, kDelete, kReadWrite /* read, write, seek, truncate, close */ };
[[nodiscard]] EngineError TranslateOsError(OsOp op, platform::OsStatus winError);

// The first failure of the operating system that the engine translated on this thread
// since ClearOsFailure, and the file it concerned where the engine knew it. The engine's
// number stays what the suite knows (an open that fails for any reason is 10355 on a
// network block); this tells a message a permission problem, a full disk or a directory
// apart from a lock.
struct OsFailure {
  platform::OsStatus status;
  std::string file;  // CP874, empty when not known
};
void ClearOsFailure();
const OsFailure& FirstOsFailure();
// Names the file of the failure just translated, when none is named yet.
void NoteOsFailureFile(std::string_view file);
// "GLFILE02.DIA: access denied (5)", or empty when no failure is recorded or it was a
// lock or sharing conflict (the engine's own text says that).
std::string OsFailureText();

// Shows "<n>: <text>", hands `error` to printErrorHelp, shows `message` as an error
// (with the help, where the front end took it), and asks the main window to close.
// With `reason` (the system's, see OsFailureText), the first line is "<n>: <reason>".
void ShowFatalEngineError(ui::Dialogs& dialogs, int32_t error, std::string_view message,
                          const std::function<void(int32_t)>& printErrorHelp, std::string_view reason = {});

}  // namespace kv::isam
