// The record access layer: the only way the module repairs reach the engine. Opens a
// module file by base name (creating it when missing), counts, reads and writes
// records by number under the engine's locks with silent retries, finds records by key,
// and reports a failed open fatally.
//
// The module repairs and the undo reach the engine only through this layer, so two
// rules hold for every file they write, whatever is added: records are written only
// under the locks the suite's programs take for them, and every operation returns its
// outcome, with nothing of it left in the layer for a caller to read afterwards (a later
// call cannot then be mistaken for the one whose result is read).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "isam/Engine.h"
#include "isam/Errors.h"

namespace kv::ui {
class Dialogs;
}

namespace kv::isam {

inline constexpr int32_t kMaxRecordLength = 6000;
inline constexpr int32_t kSilentLockRetries = 900;
// Records whose locks RepairRecordsAt holds at once; a longer list is done in runs of
// this many, each under its own block lock, so other stations never wait long.
inline constexpr size_t kMaxRepairRun = 64;
// Bytes RepairRecordsAt reads with one call under its locks (the slots from the first
// to the last locked record); a wider spread is read slot by slot.
inline constexpr size_t kMaxLockedReadBytes = 1024 * 1024;
// Records another station holds are set aside by the walk and tried again after the
// rest of their file: this many rounds, spread over at most this long per file. A user
// of the suite may keep a record open for an hour; the run says what it left instead of
// waiting for it.
inline constexpr int32_t kHeldRecordRounds = 3;
inline constexpr int32_t kHeldRecordWaitMs = 30000;
// The pause before a silent retry of a read or write that met another station's lock:
// the step of the engine's own lock waits.
inline constexpr uint32_t kHeldRangeRetryMs = 64;

// What the layer needs from above, handed in by the run.
struct AccessHooks {
  // Switches the remembered automatic company choice off and saves the settings.
  std::function<void()> clearAutoSelect;
  // Writes the error catalogue's explanation of an error number.
  std::function<void(int32_t)> printErrorHelp;
  // A file of the company was kept beside under another name (CP874 names) instead of
  // being replaced or deleted; `why` (English) says what took its place. The run names
  // both in its report.
  std::function<void(std::string_view name, std::string_view keptAs, std::string_view why)> fileKept;
};

// What a write met, the worst of it: an error class (ErrorClass, the same numbers) or
// one of the two outcomes below. The numbers order them and are kept as they are.
enum class WriteResult : int32_t {
  kOk = 0,
  kNotFound = 1,
  kConflict = 2,
  kSaveModeFailure = 3,
  kError = 4,
  kDeleted = 12,        // the slot was deleted meanwhile; nothing written
  kReleaseFailed = 20,  // a lock could not be given back
};

constexpr int32_t Code(WriteResult result) { return static_cast<int32_t>(result); }

// What RepairRecordsAt did with a record.
enum class RepairOutcome {
  kWritten,      // the fresh slot had unsound fields; they were zeroed and written
  kNothingToDo,  // the fresh slot is sound now (another station mended it) - nothing written
  kDeleted,      // the slot was deleted meanwhile - nothing written
  kFailed,       // the write failed, or a lock for a reason other than another station;
                 // the slot keeps its old bytes
  kLocked,       // another station held the record or the file past the engine's wait
  kReadFailed,   // the slot could not be read under the locks - nothing written
  kHeldBack,     // judged and fixed, but the caller's BeforeWrites said no - nothing written
};

// The record is as it should be: repaired, or found sound under the locks.
constexpr bool Succeeded(RepairOutcome outcome) {
  return outcome == RepairOutcome::kWritten || outcome == RepairOutcome::kNothingToDo;
}

// What RecordCount found: `ok` false when the count could not be had (then `count` is 0)
// or the lock taken for it could not be given back.
struct RecordTotal {
  int32_t count = 0;
  bool ok = false;
  bool damaged = false;  // not had because the header's count is impossible (negative, the top of the range)
};

// What a read that goes around other stations' records met.
enum class ReadOutcome {
  kRead,    // every byte asked for arrived
  kHeld,    // another station holds a lock over part of the range (only where locks are
            // mandatory does that refuse a read): nothing of it is damage
  kFailed,  // any other failure, after the retry rule
};

// What a write returns: `ok` when it wrote (for a run of repairs: when every record
// ended kWritten or kNothingToDo), and the worst it met.
struct WriteReport {
  bool ok = false;
  WriteResult status = WriteResult::kOk;
};

// How the layer works, set by the run. The save-mode switch and the flush after every
// write are the suite's; the rest are the waits of this program: tests and the command
// line's --held-wait lower them, the program's defaults never change.
struct AccessSettings {
  bool saveMode = true;         // passed to every open as the file block's save mode
  bool flushAfterWrite = true;  // with saveMode off: flush the block after each write
  // Silent retries of a lock conflict before the lock-conflict question.
  int32_t silentRetries = kSilentLockRetries;
  // Rounds and time per file for records another station holds (see the walk).
  int32_t heldRecordRounds = kHeldRecordRounds;
  int32_t heldRecordWaitMs = kHeldRecordWaitMs;
};

// What a run tells the layer so that no wait of the retry rule is silent or endless for
// the user: `waiting` hears of a lock conflict that has been retried for a second or
// more (again every few seconds while it lasts), `stop` is asked before every retry. A
// stop ends the operation there as the question's No does (ui::EndRun), without the
// question.
struct ConflictWatch {
  std::function<void(std::string_view file, int32_t error, uint64_t waitedMs)> waiting;
  std::function<bool()> stop;
};
inline constexpr uint64_t kConflictNoticeMs = 1000;

class AccessLayer;

// Keeps `watch` on the layer for as long as it lives, however the scope is left.
class ScopedConflictWatch {
 public:
  ScopedConflictWatch(AccessLayer& access, ConflictWatch watch);
  ~ScopedConflictWatch();
  ScopedConflictWatch(const ScopedConflictWatch&) = delete;
  ScopedConflictWatch& operator=(const ScopedConflictWatch&) = delete;

 private:
  AccessLayer& access_;
};

// The fix of RepairRecordsAt: given a record number and its slot as read under the
// locks, zeroes the unsound money fields in place and returns how many it zeroed.
using RecordFix = std::function<int(int32_t recordNumber, std::span<uint8_t> slot)>;
// Asked once per run of RepairRecordsAt, after `fix` has judged every record of the run
// and before the first of them is written (the walk forces its report there); false:
// none of the run's records is written (kHeldBack).
using BeforeWrites = std::function<bool()>;

class AccessLayer {
 public:
  AccessLayer(Engine& engine, ui::Dialogs& dialogs, AccessHooks hooks, AccessSettings settings = {});

  // Takes effect from the next operation.
  void Configure(const AccessSettings& settings) { settings_ = settings; }
  void Watch(ConflictWatch watch) { watch_ = std::move(watch); }
  const AccessSettings& Settings() const { return settings_; }
  // Silent retries made so far for the current lock conflict (0 once it cleared or was
  // asked about).
  int32_t LockRetryCount() const { return lockRetryCount_; }

  // The lock-conflict question answered No: the main window was asked to close and the
  // layer throws ui::EndRun, so no caller walks on into the same conflict again.

  Engine& engine() { return engine_; }
  ui::Dialogs& dialogs() { return dialogs_; }

  // True when `block` is open. keys: the first keyCount key descriptions, used only when
  // the file is created.
  // Only a data file that does not exist in any letter case is missing and created
  // (with its index); a link whose target is gone, a directory, or a file that cannot be
  // opened for another reason than "not found" is reported naming the file and the
  // reason, and nothing is created. An index of the name is kept beside
  // (<name>.IX.KEPT, see KeepAside) and named through AccessHooks::fileKept, never
  // replaced.
  // A file whose slot length differs from recordLength is refused (10170, reported like
  // any failed open). A No in the temporary-file recovery gives false without a further
  // message; the caller ends the run as after any failed open.
  [[nodiscard]] bool OpenModuleFile(BlockHandle& block, std::string_view baseName, int32_t recordLength,
                                    const KeyDesc* keys, int keyCount);
  // False when the engine could not close the block cleanly; `block` is no block either
  // way. Nothing is shown: a caller has nothing left to do about it.
  bool CloseModuleFile(BlockHandle& block);
  [[nodiscard]] RecordTotal RecordCount(BlockHandle block);
  [[nodiscard]] bool ReadRecordAt(BlockHandle block, int32_t recordNumber, std::span<uint8_t> buffer);
  // Reads `count` consecutive slots from `first` on into `buffer` (count x SlotLength
  // bytes) with one engine call, so under one temporary read lock, and with the retry
  // rule of ReadRecordAt. The walk's read-ahead: the bytes are only judged; a record is
  // written only through RepairRecordsAt, which reads it afresh under its locks.
  [[nodiscard]] bool ReadRecordsAt(BlockHandle block, int32_t first, int32_t count, std::span<uint8_t> buffer);
  // ReadRecordsAt for the readers that go around what other stations hold (the walk,
  // the undo): a read refused because another station holds a lock over part of its
  // range gives kHeld at once, without the retry rule's retries or question, so that the
  // caller can read the rest and set the held records aside. Any other conflict is
  // retried as for ReadRecordsAt.
  [[nodiscard]] ReadOutcome ReadRecordsAround(BlockHandle block, int32_t first, int32_t count,
                                              std::span<uint8_t> buffer);
  // True when a record was found; `recordNumber` is then its number.
  [[nodiscard]] bool FindRecordByKey(BlockHandle block, int keyNumber, int32_t& recordNumber,
                                     std::string_view keyText);

  // The one write of the layer (the walk's and the undo's): records of one file,
  // `recordNumbers` strictly ascending and above 0, each read afresh under its record
  // lock and the block lock and handed to `fix`, which zeroes the unsound money fields
  // in place and returns how many it zeroed; a slot is written when that is more than
  // 0. Nothing read before the locks is ever written, so a change another station made
  // in between survives (no lost update). The records share one block lock, one read
  // and one change signal per run of at most kMaxRepairRun records. outcomes[i] is the
  // outcome of recordNumbers[i] (it must be as long). Per run:
  //   1. the record locks in ascending order, one attempt each (the engine's own wait);
  //      a record whose lock is held elsewhere is left out of the run (kLocked);
  //   2. the block lock, one attempt (the engine's own wait); when another station
  //      holds it longer, every record of the run is kLocked;
  //   3. the locked slots read afresh (one read when they lie within
  //      kMaxLockedReadBytes), each judged by `fix` (kReadFailed when its read fails);
  //   4. `beforeWrites`, when given, once; then the slots `fix` zeroed something in are
  //      written, and a failed write puts the slot's bytes as read back (kFailed);
  //   5. one flush (when saveMode is off and flushAfterWrite on), the block unlock (one
  //      header write-back and one signal), every record lock released.
  // Held records are the caller's to try again later (the walk does, after the rest of
  // the file); nothing here asks the user or waits beyond the engine's waits, and the
  // block lock is only ever taken after the record locks. Whatever way it ends, a `fix`
  // that throws included, no lock of it is left held.
  // The outcomes say what became of each record; the report adds the worst met over
  // them (kDeleted for a deleted one, kReleaseFailed for a failed release) and is ok
  // when every record ended kWritten or kNothingToDo.
  WriteReport RepairRecordsAt(BlockHandle block, std::span<const int32_t> recordNumbers, const RecordFix& fix,
                              std::span<RepairOutcome> outcomes, const BeforeWrites& beforeWrites = {});

 private:
  class HeldLocks;

  Engine& engine_;
  ui::Dialogs& dialogs_;
  AccessHooks hooks_;
  AccessSettings settings_;
  int32_t lockRetryCount_ = 0;
  ConflictWatch watch_;
  uint64_t conflictSince_ = 0;  // when the conflict being retried began
  uint64_t conflictTold_ = 0;   // when the watch last heard of it

  // `block`: the block of the operation retried, for what the watch is told.
  bool RetryAfterConflict(BlockHandle block);
  void ReportFatal(int32_t error, const std::string& message, const std::string& reason = {});
  bool MissingForCreation(const std::string& name, std::string& why);
  std::string OpenFailureReason();
  void FlushIfWanted(BlockHandle block, WriteResult& worst);

  // One run of RepairRecordsAt (at most kMaxRepairRun records, `first` the index of its
  // first record).
  void RepairLockedRun(BlockHandle block, std::span<const int32_t> records, size_t first, const RecordFix& fix,
                       const BeforeWrites& beforeWrites, std::span<RepairOutcome> outcomes, WriteResult& worst);
  // The locked run's slot of records[i], in runBytes_.
  std::span<uint8_t> LockedSlot(std::span<const int32_t> records, size_t i, size_t lo, size_t slot, bool oneRead);
  // Reads (unless `oneRead` did) and judges the locked slots of the run; true when `fix`
  // zeroed something in one of them (runState_ kToWrite).
  bool JudgeLockedRun(BlockHandle block, std::span<const int32_t> records, size_t first, size_t lo, size_t hi,
                      bool oneRead, const RecordFix& fix, std::span<RepairOutcome> outcomes, WriteResult& worst);
  // Writes the slots of the run `fix` zeroed something in (runState_ kToWrite).
  void WriteLockedRun(BlockHandle block, std::span<const int32_t> records, size_t first, size_t lo, size_t hi,
                      bool oneRead, std::span<RepairOutcome> outcomes, WriteResult& worst);

  std::vector<uint8_t> runBytes_;  // RepairRecordsAt's slots as read under the locks
  std::vector<uint8_t> runOld_;    // the same before `fix`, per record of the run, to put back
  std::vector<uint8_t> runState_;  // per record of a run: RunState
};

}  // namespace kv::isam
