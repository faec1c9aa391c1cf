// The record access layer.
//
// Every operation clears AccessOK on entry and sets it at its end. Reads, counts and key
// searches retry a lock conflict (ErrorClass::kConflict) silently up to SilentRetryLimit times,
// then ask the user; the engine's own lock attempts already wait, so the layer adds no
// pause. Opens are never retried: a file that cannot be opened is reported once and the
// caller ends the run, so a permanent failure cannot hang the program.
//
// A write holds the record lock and the block lock for the read-check-write of its slot.
// RepairRecordAt reads the slot afresh under those locks and hands it to the caller's
// fix, so what another station wrote between the walk's read and the write is never
// overwritten with older bytes. RepairRecordsAt does the same for a run of records under
// one block lock, holding the record locks of the whole run: they are taken in ascending
// order with one attempt each (the engine's bounded wait) and the block lock after them,
// as for a single record, so a station never waits for a record lock while it holds the
// block lock. A repair never retries a lock and never asks: a record another station
// holds past the engine's wait comes back as kLocked, for the walk to try again after the
// rest of the file. Every wait is bounded; no two stations can wait for each other for
// good.
#include "isam/Access.h"

#include <algorithm>

#include "isam/Errors.h"
#include "platform/Cp874.h"
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

bool SlotIsLive(std::span<const uint8_t> slot) {
  return slot.size() >= 4 && slot[0] == 0 && slot[1] == 0 && slot[2] == 0 && slot[3] == 0;
}

}  // namespace

AccessLayer::AccessLayer(Engine& engine, ui::Dialogs& dialogs, AccessHooks hooks)
    : engine_(engine), dialogs_(dialogs), hooks_(std::move(hooks)) {}

bool AccessLayer::RetryAfterConflict() {
  if (engine_.LastOpOK() || ClassOf(engine_.LastError()) != ErrorClass::kConflict) {
    LockRetryCount = 0;
    return false;
  }
  ++LockRetryCount;
  if (LockRetryCount <= SilentRetryLimit) return true;
  const int32_t error = engine_.LastOpError();
  LockRetryCount = 0;
  // Built by appending: GCC 12 at -O3 warns (-Wrestrict) inside "(" + std::string.
  std::string question = "(";
  question += ui::IntToText(error);
  question += platform::Th(") มีการล็อคข้อมูลซ้อนกัน. โปรดลองใหม่อีกครั้ง");
  if (dialogs_.AskForYesNo(ui::Question::kLockConflict, question)) {
    return true;
  }
  dialogs_.RequestClose();
  AccessOK = false;
  throw ui::EndRun(1);
}

void AccessLayer::ReportFatal(int32_t error, const std::string& message) {
  if (hooks_.clearAutoSelect) hooks_.clearAutoSelect();
  ShowFatalEngineError(dialogs_, error, message, hooks_.printErrorHelp);
}

void AccessLayer::OpenModuleFile(FileBlock*& block, std::string_view baseName, int32_t recordLength,
                                 const KeyDesc* keys, int keyCount) {
  AccessOK = false;
  const std::string name(baseName);
  if (recordLength > kMaxRecordLength) {
    dialogs_.ShowError(name + ": Record size too big.! " + "(Size = " + ui::IntToText(recordLength) +
                       ", Max = " + ui::IntToText(kMaxRecordLength) + ")");
    dialogs_.RequestClose();
  }

  // Leftovers of an interrupted repair by the suite. A No ends the run before this file
  // is opened: the close has been requested and the caller ends on AccessOK false.
  if (!ui::CheckSavedDataFile(dialogs_, name)) return;
  if (!ui::CheckTempIndexFile(dialogs_, name)) return;

  bool created = false;
  for (;;) {
    AccessOK = false;
    FileBlock* opened = nullptr;
    engine_.OpenBlock(opened, name, {.saveMode = SaveMode != 0, .network = true});
    if (engine_.LastOpOK()) {
      // A slot length other than the declared record length would make every read and
      // write of the caller's buffers land on the wrong bytes: refuse the file whole.
      if (engine_.SlotLength(opened) != recordLength) {
        engine_.CloseBlock(opened);
        ReportFatal(Code(EngineError::kInconsistent), platform::Th("ไม่สามารถเปิดแฟ้มข้อมูล ") + name + platform::Th(" ได้."));
        return;
      }
      block = opened;
      AccessOK = true;
      return;
    }
    const int32_t error = engine_.LastOpError();
    if (error == Code(EngineError::kFileNotFound) && !created) {
      engine_.CreateBlock(name, recordLength, keyCount, keys);
      if (!engine_.LastOpOK()) {
        ReportFatal(engine_.LastOpError(), platform::Th("ไม่สามารถสร้างแฟ้มข้อมูล ") + name);
        return;
      }
      created = true;  // open the new, empty file; a second "not found" is fatal below
      continue;
    }
    ReportFatal(error, platform::Th("ไม่สามารถเปิดแฟ้มข้อมูล ") + name + platform::Th(" ได้."));
    return;
  }
}

void AccessLayer::CloseModuleFile(FileBlock*& block) {
  AccessOK = false;
  if (block == nullptr) {  // closing a file that is not open does nothing
    AccessOK = true;
    return;
  }
  engine_.CloseBlock(block);
  AccessOK = engine_.LastOpOK();
  block = nullptr;
}

int32_t AccessLayer::RecordCount(FileBlock* block) {
  AccessOK = false;
  do {
    engine_.LockBlock(block);
  } while (RetryAfterConflict());
  if (!engine_.LastOpOK()) return 0;
  int32_t result = engine_.SlotTotal(block);
  const bool counted = engine_.LastOpOK();
  if (!counted) result = 0;
  engine_.UnlockBlock(block);
  AccessOK = counted && engine_.LastOpOK();
  return result;
}

void AccessLayer::ReadRecordAt(FileBlock* block, int32_t recordNumber, std::span<uint8_t> buffer) {
  AccessOK = false;
  do {
    engine_.ReadSlot(block, recordNumber, buffer);
  } while (RetryAfterConflict());
  AccessOK = engine_.LastOpOK();
}

void AccessLayer::ReadRecordsAt(FileBlock* block, int32_t first, int32_t count, std::span<uint8_t> buffer) {
  AccessOK = false;
  do {
    engine_.ReadSlots(block, first, count, buffer);
  } while (RetryAfterConflict());
  AccessOK = engine_.LastOpOK();
}

bool AccessLayer::LockForWrite(FileBlock* block, int32_t recordNumber, WriteResult& worst, bool& recordLocked,
                               bool& blockLocked, bool& held) {
  held = false;
  engine_.LockSlot(block, recordNumber);
  if (engine_.LastOpOK()) {
    recordLocked = true;
    engine_.LockBlock(block);
    if (engine_.LastOpOK()) blockLocked = true;
  }
  if (recordLocked && blockLocked) return true;
  const ErrorClass cls = ClassOf(engine_.LastError());
  held = cls == ErrorClass::kConflict;
  Raise(worst, cls);
  ReleaseWriteLocks(block, recordNumber, worst, recordLocked, blockLocked);
  return false;
}

void AccessLayer::ReleaseWriteLocks(FileBlock* block, int32_t recordNumber, WriteResult& worst,
                                    bool& recordLocked, bool& blockLocked) {
  if (blockLocked) {
    engine_.UnlockBlock(block);  // writes changed headers back and signals the others
    if (engine_.LastOpOK()) {
      blockLocked = false;
    } else {
      worst = WriteResult::kReleaseFailed;
    }
  }
  if (recordLocked) {
    engine_.UnlockSlot(block, recordNumber);
    if (engine_.LastOpOK()) {
      recordLocked = false;
    } else {
      worst = WriteResult::kReleaseFailed;
    }
  }
}

void AccessLayer::FlushIfWanted(FileBlock* block, WriteResult& worst) {
  if (SaveMode == 0 && FlushAfterWrite == 1) {
    engine_.FlushBlock(block);
    if (!engine_.LastOpOK()) Raise(worst, ClassOf(engine_.LastError()));
  }
}

void AccessLayer::WriteRecordAt(FileBlock* block, int32_t recordNumber, std::span<const uint8_t> buffer) {
  AccessOK = false;
  WriteStatus = WriteResult::kOk;
  WriteResult worst = WriteResult::kOk;
  bool recordLocked = false;
  bool blockLocked = false;
  const int32_t slotLength = block ? engine_.SlotLength(block) : 0;
  if (block == nullptr || slotLength <= 0 || buffer.size() < static_cast<size_t>(slotLength)) {
    WriteStatus = WriteResult::kError;  // nothing to write from, or a buffer shorter than the slot
    return;
  }
  bool held = false;
  if (!LockForWrite(block, recordNumber, worst, recordLocked, blockLocked, held)) {
    WriteStatus = worst;
    return;
  }
  work_.resize(static_cast<size_t>(slotLength));
  engine_.ReadSlot(block, recordNumber, work_);
  if (!engine_.LastOpOK()) {
    Raise(worst, ClassOf(engine_.LastError()));
    ReleaseWriteLocks(block, recordNumber, worst, recordLocked, blockLocked);
    WriteStatus = worst;
    return;
  }
  if (!SlotIsLive(work_)) {
    ReleaseWriteLocks(block, recordNumber, worst, recordLocked, blockLocked);
    WriteStatus = WriteResult::kDeleted;
    return;
  }
  engine_.WriteSlot(block, recordNumber, buffer.first(static_cast<size_t>(slotLength)));
  const bool written = engine_.LastOpOK();
  if (!written) Raise(worst, ClassOf(engine_.LastError()));
  FlushIfWanted(block, worst);
  ReleaseWriteLocks(block, recordNumber, worst, recordLocked, blockLocked);
  WriteStatus = worst;
  AccessOK = written;
}

RepairOutcome AccessLayer::RepairRecordAt(FileBlock* block, int32_t recordNumber, std::span<uint8_t> work,
                                          const std::function<int(std::span<uint8_t>)>& fix) {
  AccessOK = false;
  WriteStatus = WriteResult::kOk;
  WriteResult worst = WriteResult::kOk;
  bool recordLocked = false;
  bool blockLocked = false;
  const int32_t slotLength = block ? engine_.SlotLength(block) : 0;
  if (block == nullptr || slotLength <= 0 || work.size() < static_cast<size_t>(slotLength)) {
    WriteStatus = WriteResult::kError;
    return RepairOutcome::kFailed;
  }
  const std::span<uint8_t> slot = work.first(static_cast<size_t>(slotLength));
  bool held = false;
  if (!LockForWrite(block, recordNumber, worst, recordLocked, blockLocked, held)) {
    WriteStatus = worst;
    return held ? RepairOutcome::kLocked : RepairOutcome::kFailed;
  }

  RepairOutcome outcome = RepairOutcome::kFailed;
  try {
    engine_.ReadSlot(block, recordNumber, slot);
    if (!engine_.LastOpOK()) {
      Raise(worst, ClassOf(engine_.LastError()));
      outcome = RepairOutcome::kReadFailed;
    } else if (!SlotIsLive(slot)) {
      outcome = RepairOutcome::kDeleted;
      Raise(worst, WriteResult::kDeleted);
    } else {
      // The slot as read under the locks, to put back if the write fails part-way.
      work_.assign(slot.begin(), slot.end());
      if (fix(slot) == 0) {
        outcome = RepairOutcome::kNothingToDo;
      } else {
        engine_.WriteSlot(block, recordNumber, slot);
        if (engine_.LastOpOK()) {
          outcome = RepairOutcome::kWritten;
        } else {
          Raise(worst, ClassOf(engine_.LastError()));
          // A short write leaves the slot half old, half repaired. Writing the old
          // bytes back makes it whole again, as the report says (not written); when
          // that fails too, the disk is failing and the run's error says so.
          engine_.WriteSlot(block, recordNumber, work_);
        }
        FlushIfWanted(block, worst);
      }
    }
  } catch (...) {
    ReleaseWriteLocks(block, recordNumber, worst, recordLocked, blockLocked);
    throw;
  }
  ReleaseWriteLocks(block, recordNumber, worst, recordLocked, blockLocked);
  WriteStatus = worst;
  AccessOK = outcome == RepairOutcome::kWritten || outcome == RepairOutcome::kNothingToDo;
  return outcome;
}

void AccessLayer::RepairRecordsAt(FileBlock* block, std::span<const int32_t> recordNumbers,
                                  const RecordFix& fix, std::span<RepairOutcome> outcomes) {
  AccessOK = false;
  WriteStatus = WriteResult::kError;
  const size_t count = recordNumbers.size();
  if (outcomes.size() < count) return;
  std::fill(outcomes.begin(), outcomes.begin() + static_cast<std::ptrdiff_t>(count), RepairOutcome::kFailed);
  const int32_t slotLength = block ? engine_.SlotLength(block) : 0;
  if (block == nullptr || slotLength <= 0) return;
  // Ascending order is what keeps two stations that lock several records from each
  // waiting for the other; a list out of order is refused whole.
  for (size_t i = 0; i < count; ++i) {
    if (recordNumbers[i] <= 0 || (i > 0 && recordNumbers[i] <= recordNumbers[i - 1])) return;
  }

  WriteResult worst = WriteResult::kOk;
  for (size_t first = 0; first < count; first += kMaxRepairRun) {
    const size_t n = std::min(kMaxRepairRun, count - first);
    RepairLockedRun(block, recordNumbers.subspan(first, n), first, fix, outcomes, worst);
  }

  WriteStatus = worst;
  AccessOK = std::all_of(outcomes.begin(), outcomes.begin() + static_cast<std::ptrdiff_t>(count), [](RepairOutcome o) {
    return o == RepairOutcome::kWritten || o == RepairOutcome::kNothingToDo;
  });
}

void AccessLayer::RepairLockedRun(FileBlock* block, std::span<const int32_t> records, size_t first,
                                  const RecordFix& fix, std::span<RepairOutcome> outcomes, WriteResult& worst) {
  const size_t slot = static_cast<size_t>(engine_.SlotLength(block));
  const size_t n = records.size();

  // The record locks, lowest first, one attempt each. One that another station holds is
  // not waited for here: the caller tries its record again later.
  runLocked_.assign(n, 0);
  size_t lo = n, hi = 0;
  for (size_t i = 0; i < n; ++i) {
    engine_.LockSlot(block, records[i]);
    if (engine_.LastOpOK()) {
      runLocked_[i] = 1;
      lo = std::min(lo, i);
      hi = i;
      continue;
    }
    const ErrorClass cls = ClassOf(engine_.LastError());
    Raise(worst, cls);
    if (cls == ErrorClass::kConflict) outcomes[first + i] = RepairOutcome::kLocked;
  }
  if (lo == n) return;

  bool blockLocked = false;
  auto release = [&] {
    if (blockLocked) {
      engine_.UnlockBlock(block);  // one header write-back and one signal for the run
      if (engine_.LastOpOK()) {
        blockLocked = false;
      } else {
        worst = WriteResult::kReleaseFailed;
      }
    }
    for (size_t i = 0; i < n; ++i) {
      if (!runLocked_[i]) continue;
      engine_.UnlockSlot(block, records[i]);
      if (engine_.LastOpOK()) {
        runLocked_[i] = 0;
      } else {
        worst = WriteResult::kReleaseFailed;
      }
    }
  };

  try {
    engine_.LockBlock(block);
    if (!engine_.LastOpOK()) {
      // Held by another station past the engine's wait: the run's records are tried
      // again later, like a held record.
      const ErrorClass cls = ClassOf(engine_.LastError());
      Raise(worst, cls);
      if (cls == ErrorClass::kConflict) {
        for (size_t i = lo; i <= hi; ++i) {
          if (runLocked_[i]) outcomes[first + i] = RepairOutcome::kLocked;
        }
      }
      release();
      return;
    }
    blockLocked = true;

    // The locked slots afresh: with one read when they lie close together.
    const size_t spread = static_cast<size_t>(records[hi] - records[lo]) + 1;
    bool oneRead = false;
    if (spread <= kMaxLockedReadBytes / slot) {
      runBytes_.resize(std::max(spread * slot, runBytes_.size()));
      engine_.ReadSlots(block, records[lo], static_cast<int32_t>(spread), std::span<uint8_t>(runBytes_).first(spread * slot));
      oneRead = engine_.LastOpOK();
    }
    if (runBytes_.size() < slot) runBytes_.resize(slot);
    if (work_.size() < slot) work_.resize(slot);
    bool wrote = false;
    for (size_t i = lo; i <= hi; ++i) {
      if (!runLocked_[i]) continue;
      const int32_t r = records[i];
      std::span<uint8_t> bytes;
      if (oneRead) {
        bytes = std::span<uint8_t>(runBytes_).subspan(static_cast<size_t>(r - records[lo]) * slot, slot);
      } else {
        bytes = std::span<uint8_t>(runBytes_).first(slot);
        engine_.ReadSlot(block, r, bytes);
        if (!engine_.LastOpOK()) {
          Raise(worst, ClassOf(engine_.LastError()));
          outcomes[first + i] = RepairOutcome::kReadFailed;
          continue;
        }
      }
      RepairOutcome& outcome = outcomes[first + i];
      if (!SlotIsLive(bytes)) {
        outcome = RepairOutcome::kDeleted;
        Raise(worst, WriteResult::kDeleted);
        continue;
      }
      // The slot as read under the locks, to put back if the write fails part-way.
      std::copy(bytes.begin(), bytes.end(), work_.begin());
      if (fix(r, bytes) == 0) {
        outcome = RepairOutcome::kNothingToDo;
        continue;
      }
      wrote = true;
      engine_.WriteSlot(block, r, bytes);
      if (engine_.LastOpOK()) {
        outcome = RepairOutcome::kWritten;
      } else {
        Raise(worst, ClassOf(engine_.LastError()));
        engine_.WriteSlot(block, r, std::span<const uint8_t>(work_).first(slot));
      }
    }
    if (wrote) FlushIfWanted(block, worst);
  } catch (...) {
    release();
    throw;
  }
  release();
}

void AccessLayer::FindRecordByKey(FileBlock* block, int keyNumber, int32_t& recordNumber, std::string_view keyText) {
  if (keyText.size() > static_cast<size_t>(kMaxKeyLength)) keyText = keyText.substr(0, kMaxKeyLength);
  AccessOK = false;
  do {
    recordNumber = 0;
    engine_.LookupKey(block, keyNumber, recordNumber, keyText);
  } while (RetryAfterConflict());
  AccessOK = engine_.LastOpOK();
}

}  // namespace kv::isam
