// The record access layer.
//
// Every operation returns its outcome. Reads, counts and key searches retry a lock
// conflict (ErrorClass::kConflict) silently up to the settings' silent retries,
// then ask the user; the engine's own lock attempts already wait, so the layer adds no
// pause. Opens are never retried: a file that cannot be opened is reported once and the
// caller ends the run, so a permanent failure cannot hang the program.
//
// The one write: RepairRecordsAt, the walk's and the undo's. It holds the record locks
// of a run of records and the block lock for the read-check-write of their slots, reads
// each slot afresh under them and hands it to the caller's fix, so what another station
// wrote between the walk's read and the write is never overwritten with older bytes. The
// record locks are taken in ascending order with one attempt each (the engine's bounded
// wait) and the block lock after them, so a station never waits for a record lock while
// it holds the block lock. A repair never retries a lock and never asks: a record another station
// holds past the engine's wait comes back as kLocked, for the walk to try again after the
// rest of the file. Every wait is bounded; no two stations can wait for each other for
// good.
//
// The locks a write takes live in a HeldLocks guard, so they go back on every way out of
// the write: a fix that throws, or the user ending the run, leaves nothing locked for
// the other stations. (The temporary read lock of a plain read is the engine's own,
// taken and given back inside the one engine call.)
#include "isam/Access.h"

#include <algorithm>

#include "isam/Errors.h"
#include "isam/Format.h"
#include "platform/Cp874.h"
#include "platform/System.h"
#include "ui/Dialogs.h"
#include "ui/NumberText.h"
#include "ui/Recovery.h"

namespace kv::isam {

namespace {

void Raise(WriteResult& worst, WriteResult met) { worst = std::max(worst, met); }
// An error class counts with its own number.
void Raise(WriteResult& worst, ErrorClass cls) {
  Raise(worst, static_cast<WriteResult>(Code(cls)));
}

}  // namespace

// The locks one write holds in its file: record locks, then the block lock, each taken
// with one attempt. They go back when Release() is called or the guard goes out of
// scope, whichever comes first, in the order the other stations rely on: the block
// first (its unlock writes changed headers back and signals the others), then the
// records in the order they were taken. Each lock is given back once; one whose release
// fails is not tried again. The engine never throws, so neither does the release.
class AccessLayer::HeldLocks {
 public:
  HeldLocks(Engine& engine, BlockHandle block) : engine_(engine), block_(block) {}
  ~HeldLocks() { static_cast<void>(Release()); }
  HeldLocks(const HeldLocks&) = delete;
  HeldLocks& operator=(const HeldLocks&) = delete;

  BlockHandle block() const { return block_; }

  bool LockRecord(int32_t recordNumber) {
    engine_.LockSlot(block_, recordNumber);
    if (!engine_.LastOpOK()) return false;
    records_.push_back(recordNumber);
    return true;
  }
  bool LockBlock() {
    engine_.LockBlock(block_);
    blockLocked_ = engine_.LastOpOK();
    return blockLocked_;
  }
  // False when a lock could not be given back.
  [[nodiscard]] bool Release() {
    bool released = true;
    if (blockLocked_) {
      blockLocked_ = false;
      engine_.UnlockBlock(block_);
      released = engine_.LastOpOK();
    }
    for (int32_t recordNumber : records_) {
      engine_.UnlockSlot(block_, recordNumber);
      released = engine_.LastOpOK() && released;
    }
    records_.clear();
    return released;
  }

 private:
  Engine& engine_;
  BlockHandle block_;
  bool blockLocked_ = false;
  std::vector<int32_t> records_;
};

ScopedConflictWatch::ScopedConflictWatch(AccessLayer& access, ConflictWatch watch) : access_(access) {
  access_.Watch(std::move(watch));
}

ScopedConflictWatch::~ScopedConflictWatch() { access_.Watch({}); }

AccessLayer::AccessLayer(Engine& engine, ui::Dialogs& dialogs, AccessHooks hooks, AccessSettings settings)
    : engine_(engine), dialogs_(dialogs), hooks_(std::move(hooks)), settings_(settings) {}

bool AccessLayer::RetryAfterConflict(BlockHandle block) {
  if (engine_.LastOpOK() || ClassOf(engine_.LastError()) != ErrorClass::kConflict) {
    lockRetryCount_ = 0;
    return false;
  }
  const uint64_t now = platform::MonotonicMs();
  if (lockRetryCount_ == 0) conflictSince_ = conflictTold_ = now;
  ++lockRetryCount_;
  if (watch_.stop && watch_.stop()) {
    lockRetryCount_ = 0;
    throw ui::EndRun(ui::EndReason::kStopped);
  }
  // The silent retries of a save another station keeps going can last many minutes: the
  // user hears what the run waits for once it has waited a second, and every few
  // seconds after.
  if (watch_.waiting && now - conflictSince_ >= kConflictNoticeMs &&
      (conflictTold_ == conflictSince_ || now - conflictTold_ >= 5 * kConflictNoticeMs)) {
    conflictTold_ = now;
    watch_.waiting(engine_.DataFileName(block), engine_.LastOpError(), now - conflictSince_);
  }
  if (lockRetryCount_ <= settings_.silentRetries) {
    // A lock attempt of the engine has waited before it failed; a read or write that
    // met another station's lock (where locks are mandatory) failed at once. Retried at
    // once, it would spend the silent retries in a few milliseconds and ask the question
    // while the other station has barely begun its save: it waits one lock step first.
    if (engine_.LastOpMetHeldRange()) platform::SleepMs(kHeldRangeRetryMs);
    return true;
  }
  const int32_t error = engine_.LastOpError();
  lockRetryCount_ = 0;
  // Built by appending: GCC 12 at -O3 warns (-Wrestrict) inside "(" + std::string.
  std::string question = "(";
  question += ui::IntToText(error);
  question += platform::Th(") มีการล็อคข้อมูลซ้อนกัน. โปรดลองใหม่อีกครั้ง");
  if (dialogs_.AskForYesNo(ui::Question::kLockConflict, question)) {
    return true;
  }
  dialogs_.RequestClose();
  throw ui::EndRun(ui::EndReason::kAnsweredNo);
}

void AccessLayer::ReportFatal(int32_t error, const std::string& message, const std::string& reason) {
  if (hooks_.clearAutoSelect) hooks_.clearAutoSelect();
  ShowFatalEngineError(dialogs_, error, message, hooks_.printErrorHelp, reason);
}

// The system's reason for a failed open or creation, for the fatal message: a
// directory or a dead link where a file should be is named as such (the system says
// "access denied" or "not found" there); empty when the engine's own text says it.
std::string AccessLayer::OpenFailureReason() {
  const OsFailure& f = FirstOsFailure();
  if (!f.status || f.file.empty()) return OsFailureText();
  const platform::NameProbe probe = platform::ProbeName(f.file);
  if (probe.kind == platform::NameKind::kDirectory || probe.kind == platform::NameKind::kDanglingLink ||
      probe.kind == platform::NameKind::kOther)
    return f.file + ": " + platform::NameKindText(probe.kind);
  return OsFailureText();
}

// The engine found no data file of `name`: true when there is none in any letter case,
// so that a new one may be made, with an index of the name kept beside first. False,
// with `why` naming the file and what is in its place, when something stands there (a
// link whose target is gone, a directory, a name that cannot be looked at), or the
// index could not be kept: nothing is created then.
bool AccessLayer::MissingForCreation(const std::string& name, std::string& why) {
  // "<file>: <what stands there>; nothing was created".
  auto standsThere = [&why](const std::string& file, const platform::NameProbe& probe) {
    why = file + ": " +
          (probe.kind == platform::NameKind::kUnknown ? std::string(platform::SystemErrorText(probe.error))
                                                       : std::string(platform::NameKindText(probe.kind))) +
          "; nothing was created";
    return false;
  };
  const std::string data = name + ".DAT";
  const platform::NameProbe probe = platform::ProbeName(data);
  if (probe.kind != platform::NameKind::kMissing) return standsThere(data, probe);
  const std::string index = name + ".IX";
  const platform::NameProbe ix = platform::ProbeName(index);
  if (ix.kind == platform::NameKind::kMissing) return true;
  if (ix.kind != platform::NameKind::kFile) return standsThere(index, ix);
  // The data file is gone but its index is not: it is kept, never replaced by an empty one.
  const std::string kept = ui::KeepAside(index);
  if (kept.empty()) {
    why = index + ": cannot be kept beside under another name; nothing was created";
    return false;
  }
  if (hooks_.fileKept) hooks_.fileKept(index, kept, "ITS DATA FILE " + data + " WAS MISSING; A NEW EMPTY PAIR WAS CREATED");
  return true;
}

bool AccessLayer::OpenModuleFile(BlockHandle& block, std::string_view baseName, int32_t recordLength,
                                 const KeyDesc* keys, int keyCount) {
  const std::string name(baseName);
  if (recordLength > kMaxRecordLength) {
    dialogs_.ShowError(name + ": Record size too big.! " + "(Size = " + ui::IntToText(recordLength) +
                       ", Max = " + ui::IntToText(kMaxRecordLength) + ")");
    dialogs_.RequestClose();
  }

  // Leftovers of an interrupted repair by the suite. A No ends the run before this file
  // is opened: the close has been requested and the caller ends on the false.
  if (!ui::CheckSavedDataFile(dialogs_, name, hooks_.fileKept)) return false;
  if (!ui::CheckTempIndexFile(dialogs_, name, hooks_.fileKept)) return false;

  bool created = false;
  for (;;) {
    BlockHandle opened = nullptr;
    ClearOsFailure();
    engine_.OpenBlock(opened, name, {.saveMode = settings_.saveMode, .network = true});
    if (engine_.LastOpOK()) {
      // A slot length other than the declared record length would make every read and
      // write of the caller's buffers land on the wrong bytes: refuse the file whole.
      if (engine_.SlotLength(opened) != recordLength) {
        engine_.CloseBlock(opened);
        ReportFatal(Code(EngineError::kInconsistent), platform::Th("ไม่สามารถเปิดแฟ้มข้อมูล ") + name + platform::Th(" ได้."));
        return false;
      }
      block = opened;
      return true;
    }
    const int32_t error = engine_.LastOpError();
    const std::string cannotOpen = platform::Th("ไม่สามารถเปิดแฟ้มข้อมูล ") + name + platform::Th(" ได้.");
    if (error == Code(EngineError::kFileNotFound) && !created) {
      // Only a name that is not there in any letter case is a missing file.
      std::string why;
      if (!MissingForCreation(name, why)) {
        ReportFatal(error, cannotOpen, why);
        return false;
      }
      ClearOsFailure();
      engine_.CreateBlock(name, recordLength, keyCount, keys);
      if (!engine_.LastOpOK()) {
        const std::string reason = OpenFailureReason();
        ReportFatal(engine_.LastOpError(), platform::Th("ไม่สามารถสร้างแฟ้มข้อมูล ") + name, reason);
        return false;
      }
      created = true;  // open the new, empty file; a second "not found" is fatal below
      continue;
    }
    ReportFatal(error, cannotOpen, OpenFailureReason());
    return false;
  }
}

bool AccessLayer::CloseModuleFile(BlockHandle& block) {
  if (block == nullptr) return true;  // closing a file that is not open does nothing
  engine_.CloseBlock(block);
  block = nullptr;
  return engine_.LastOpOK();
}

RecordTotal AccessLayer::RecordCount(BlockHandle block) {
  HeldLocks locks(engine_, block);
  do {
    locks.LockBlock();
  } while (RetryAfterConflict(block));
  if (!engine_.LastOpOK()) return {};
  RecordTotal total{engine_.SlotTotal(block), engine_.LastOpOK()};
  if (!total.ok) total.count = 0;
  total.damaged = !total.ok && engine_.LastError() == EngineError::kInconsistent;
  if (!locks.Release()) total.ok = false;
  return total;
}

bool AccessLayer::ReadRecordAt(BlockHandle block, int32_t recordNumber, std::span<uint8_t> buffer) {
  do {
    engine_.ReadSlot(block, recordNumber, buffer);
  } while (RetryAfterConflict(block));
  return engine_.LastOpOK();
}

bool AccessLayer::ReadRecordsAt(BlockHandle block, int32_t first, int32_t count, std::span<uint8_t> buffer) {
  do {
    engine_.ReadSlots(block, first, count, buffer);
  } while (RetryAfterConflict(block));
  return engine_.LastOpOK();
}

ReadOutcome AccessLayer::ReadRecordsAround(BlockHandle block, int32_t first, int32_t count, std::span<uint8_t> buffer) {
  for (;;) {
    engine_.ReadSlots(block, first, count, buffer);
    if (engine_.LastOpMetHeldRange()) {
      lockRetryCount_ = 0;
      return ReadOutcome::kHeld;
    }
    if (!RetryAfterConflict(block)) break;
  }
  return engine_.LastOpOK() ? ReadOutcome::kRead : ReadOutcome::kFailed;
}

void AccessLayer::FlushIfWanted(BlockHandle block, WriteResult& worst) {
  if (!settings_.saveMode && settings_.flushAfterWrite) {
    engine_.FlushBlock(block);
    if (!engine_.LastOpOK()) Raise(worst, ClassOf(engine_.LastError()));
  }
}

WriteReport AccessLayer::RepairRecordsAt(BlockHandle block, std::span<const int32_t> recordNumbers,
                                         const RecordFix& fix, std::span<RepairOutcome> outcomes,
                                         const BeforeWrites& beforeWrites) {
  const WriteReport refused{false, WriteResult::kError};
  const size_t count = recordNumbers.size();
  if (outcomes.size() < count) return refused;
  const auto done = outcomes.first(count);
  std::fill(done.begin(), done.end(), RepairOutcome::kFailed);
  const int32_t slotLength = block ? engine_.SlotLength(block) : 0;
  if (block == nullptr || slotLength <= 0) return refused;
  // Ascending order is what keeps two stations that lock several records from each
  // waiting for the other; a list out of order is refused whole.
  for (size_t i = 0; i < count; ++i) {
    if (recordNumbers[i] <= 0 || (i > 0 && recordNumbers[i] <= recordNumbers[i - 1])) return refused;
  }

  WriteResult worst = WriteResult::kOk;
  for (size_t first = 0; first < count; first += kMaxRepairRun) {
    const size_t n = std::min(kMaxRepairRun, count - first);
    RepairLockedRun(block, recordNumbers.subspan(first, n), first, fix, beforeWrites, outcomes, worst);
  }
  return {std::all_of(done.begin(), done.end(), Succeeded), worst};
}

namespace {

// What became of a record of a locked run so far.
enum RunState : uint8_t { kNotLocked, kLockedSlot, kToWrite };

}  // namespace

std::span<uint8_t> AccessLayer::LockedSlot(std::span<const int32_t> records, size_t i, size_t lo, size_t slot,
                                           bool oneRead) {
  // Read with one call, the slots lie as in the file; else each in its own place.
  const size_t at = oneRead ? static_cast<size_t>(records[i] - records[lo]) : i;
  return std::span<uint8_t>(runBytes_).subspan(at * slot, slot);
}

void AccessLayer::RepairLockedRun(BlockHandle block, std::span<const int32_t> records, size_t first,
                                  const RecordFix& fix, const BeforeWrites& beforeWrites,
                                  std::span<RepairOutcome> outcomes, WriteResult& worst) {
  const size_t slot = static_cast<size_t>(engine_.SlotLength(block));
  const size_t n = records.size();

  // The record locks, lowest first, one attempt each. One that another station holds is
  // not waited for here: the caller tries its record again later.
  HeldLocks locks(engine_, block);
  runState_.assign(n, kNotLocked);
  size_t lo = n, hi = 0;
  for (size_t i = 0; i < n; ++i) {
    if (locks.LockRecord(records[i])) {
      runState_[i] = kLockedSlot;
      lo = std::min(lo, i);
      hi = i;
      continue;
    }
    const ErrorClass cls = ClassOf(engine_.LastError());
    Raise(worst, cls);
    if (cls == ErrorClass::kConflict) outcomes[first + i] = RepairOutcome::kLocked;
  }
  if (lo == n) return;

  if (!locks.LockBlock()) {
    // Held by another station past the engine's wait: the run's records are tried again
    // later, like a held record.
    const ErrorClass cls = ClassOf(engine_.LastError());
    Raise(worst, cls);
    if (cls == ErrorClass::kConflict) {
      for (size_t i = lo; i <= hi; ++i) {
        if (runState_[i] != kNotLocked) outcomes[first + i] = RepairOutcome::kLocked;
      }
    }
    if (!locks.Release()) worst = WriteResult::kReleaseFailed;
    return;
  }

  // The locked slots afresh: with one read when they lie close together.
  const size_t spread = static_cast<size_t>(records[hi] - records[lo]) + 1;
  bool oneRead = false;
  if (spread <= kMaxLockedReadBytes / slot) {
    runBytes_.resize(std::max(spread * slot, runBytes_.size()));
    engine_.ReadSlots(block, records[lo], static_cast<int32_t>(spread), std::span<uint8_t>(runBytes_).first(spread * slot));
    oneRead = engine_.LastOpOK();
  }
  bool toWrite = JudgeLockedRun(block, records, first, lo, hi, oneRead, fix, outcomes, worst);
  if (toWrite && beforeWrites && !beforeWrites()) {
    for (size_t i = lo; i <= hi; ++i) {
      if (runState_[i] == kToWrite) outcomes[first + i] = RepairOutcome::kHeldBack;
    }
    toWrite = false;
  }
  if (toWrite) WriteLockedRun(block, records, first, lo, hi, oneRead, outcomes, worst);
  // One header write-back and one signal for the run.
  if (!locks.Release()) worst = WriteResult::kReleaseFailed;
}

// Every slot judged before any is written: the caller's BeforeWrites sees the run's
// fixes whole (the walk's report forces their lines to disk once, for all of them).
bool AccessLayer::JudgeLockedRun(BlockHandle block, std::span<const int32_t> records, size_t first, size_t lo,
                                 size_t hi, bool oneRead, const RecordFix& fix, std::span<RepairOutcome> outcomes,
                                 WriteResult& worst) {
  const size_t slot = static_cast<size_t>(engine_.SlotLength(block));
  const size_t n = records.size();
  if (!oneRead) runBytes_.resize(std::max(n * slot, runBytes_.size()));
  runOld_.resize(std::max(n * slot, runOld_.size()));
  bool toWrite = false;
  for (size_t i = lo; i <= hi; ++i) {
    if (runState_[i] == kNotLocked) continue;
    const int32_t r = records[i];
    const std::span<uint8_t> bytes = LockedSlot(records, i, lo, slot, oneRead);
    RepairOutcome& outcome = outcomes[first + i];
    if (!oneRead) {
      engine_.ReadSlot(block, r, bytes);
      if (!engine_.LastOpOK()) {
        Raise(worst, ClassOf(engine_.LastError()));
        outcome = RepairOutcome::kReadFailed;
        continue;
      }
    }
    if (!SlotIsLive(bytes)) {
      outcome = RepairOutcome::kDeleted;
      Raise(worst, WriteResult::kDeleted);
      continue;
    }
    // The slot as read under the locks, to put back if the write fails part-way.
    std::copy(bytes.begin(), bytes.end(), runOld_.begin() + static_cast<std::ptrdiff_t>(i * slot));
    if (fix(r, bytes) == 0) {
      outcome = RepairOutcome::kNothingToDo;
      continue;
    }
    runState_[i] = kToWrite;
    toWrite = true;
  }
  return toWrite;
}

void AccessLayer::WriteLockedRun(BlockHandle block, std::span<const int32_t> records, size_t first, size_t lo,
                                 size_t hi, bool oneRead, std::span<RepairOutcome> outcomes, WriteResult& worst) {
  const size_t slot = static_cast<size_t>(engine_.SlotLength(block));
  for (size_t i = lo; i <= hi; ++i) {
    if (runState_[i] != kToWrite) continue;
    engine_.WriteSlot(block, records[i], LockedSlot(records, i, lo, slot, oneRead));
    if (engine_.LastOpOK()) {
      outcomes[first + i] = RepairOutcome::kWritten;
      continue;
    }
    // A short write leaves the slot half old, half repaired. Writing the old bytes back
    // makes it whole again, as the report says (not written); when that fails too, the
    // disk is failing and the run's error says so.
    Raise(worst, ClassOf(engine_.LastError()));
    engine_.WriteSlot(block, records[i], std::span<const uint8_t>(runOld_).subspan(i * slot, slot));
  }
  FlushIfWanted(block, worst);
}

bool AccessLayer::FindRecordByKey(BlockHandle block, int keyNumber, int32_t& recordNumber, std::string_view keyText) {
  if (keyText.size() > static_cast<size_t>(kMaxKeyLength)) keyText = keyText.substr(0, kMaxKeyLength);
  do {
    recordNumber = 0;
    engine_.LookupKey(block, keyNumber, recordNumber, keyText);
  } while (RetryAfterConflict(block));
  return engine_.LastOpOK();
}

}  // namespace kv::isam
