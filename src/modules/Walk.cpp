#include "modules/Walk.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <span>
#include <vector>

#include "isam/Coding.h"
#include "modules/MoneyCheck.h"

namespace kv::modules {
namespace {

// Hands out the records of a file one by one, skipping those that cannot be read.
//
// Reads ahead: up to kReadAheadBytes of consecutive slots come in with one engine call
// under one temporary read lock. That is safe because nothing read here is ever
// written back: a record found unsound is read again under its write locks. When a
// read-ahead fails (a lock conflict, a slot beyond the end of the file, an I/O error)
// the slots it covered are read one by one through the access layer, whose retry rule
// deals with lock conflicts; a slot that still cannot be read is skipped.
class RecordReader {
 public:
  static constexpr size_t kReadAheadBytes = 64 * 1024;

  RecordReader(isam::AccessLayer& access, isam::FileBlock* block, size_t slotLength,
               WalkStats& stats)
      : access_(access),
        block_(block),
        slotLength_(slotLength),
        chunkSlots_(static_cast<int32_t>(std::max<size_t>(1, kReadAheadBytes / slotLength))),
        buffer_(static_cast<size_t>(chunkSlots_) * slotLength),
        stats_(stats) {
    total_ = access_.RecordCount(block_);
  }

  // The next record that was read successfully; false after the last one.
  bool Next(int32_t& recordNumber, std::span<uint8_t>& bytes) {
    while (next_ < total_) {
      if (next_ < chunkEnd_) {  // from the last read-ahead
        recordNumber = next_++;
        bytes = Slot(recordNumber - chunkFirst_);
        return true;
      }
      const int32_t count = std::min(chunkSlots_, total_ - next_);
      if (count > 1 && next_ >= singlesUntil_) {
        access_.engine().ReadSlots(block_, next_, count, buffer_);
        if (access_.engine().LastOpOK()) {
          chunkFirst_ = next_;
          chunkEnd_ = next_ + count;
          continue;
        }
        singlesUntil_ = next_ + count;
      }
      const int32_t r = next_++;
      std::span<uint8_t> slot = Slot(0);
      chunkEnd_ = 0;  // the buffer no longer holds the read-ahead
      access_.ReadRecordAt(block_, r, slot);
      if (!access_.AccessOK) {
        ++stats_.unreadable;
        continue;
      }
      recordNumber = r;
      bytes = slot;
      return true;
    }
    return false;
  }

 private:
  std::span<uint8_t> Slot(int32_t index) {
    return std::span<uint8_t>(buffer_).subspan(static_cast<size_t>(index) * slotLength_, slotLength_);
  }

  isam::AccessLayer& access_;
  isam::FileBlock* block_;
  size_t slotLength_;
  int32_t chunkSlots_;
  std::vector<uint8_t> buffer_;
  WalkStats& stats_;
  int32_t total_ = 0;
  int32_t next_ = 1;
  int32_t chunkFirst_ = 0;
  int32_t chunkEnd_ = 0;      // slots chunkFirst_ .. chunkEnd_-1 are in the buffer
  int32_t singlesUntil_ = 0;  // after a failed read-ahead: slots read one by one
};

// The fields reset in one record, with their bytes as they were.
struct ResetList {
  std::vector<uint16_t> offsets;
  std::vector<uint8_t> originals;  // kMoneySize bytes per entry
  size_t count = 0;

  explicit ResetList(size_t capacity)
      : offsets(capacity), originals(capacity * kMoneySize) {}
  void Add(uint16_t offset, const uint8_t* original) {
    offsets[count] = offset;
    std::memcpy(&originals[count * kMoneySize], original, kMoneySize);
    ++count;
  }
};

}  // namespace

WalkStats WalkModuleFile(isam::AccessLayer& access, isam::FileBlock* block,
                         const DataFileDef& file, ProgressSink& progress,
                         RepairReport* report) {
  WalkStats stats;

  // One read-ahead buffer and one work buffer per file, nothing per record. Buffers are
  // sized by the slot length the file declares, so a file made with a
  // different record length is still read whole; money fields that would lie beyond
  // its slots are not looked at.
  size_t slotLength = static_cast<size_t>(file.recordLength);
  const int32_t declared = block ? access.engine().SlotLength(block) : 0;
  if (declared > 0 && declared <= isam::kMaxRecordLength) slotLength = static_cast<size_t>(declared);
  std::span<const uint16_t> fields = file.moneyOffsets;
  while (!fields.empty() && fields.back() + static_cast<size_t>(kMoneySize) > slotLength) {
    fields = fields.first(fields.size() - 1);
  }

  std::vector<uint8_t> work(slotLength);
  ResetList before(fields.size());  // unsound fields seen in the unlocked read
  ResetList fresh(fields.size());   // fields reset in the slot read under the locks
  bool fixRan = false;
  const std::function<int(std::span<uint8_t>)> fix = [&](std::span<uint8_t> slot) {
    fixRan = true;
    fresh.count = 0;
    if (slot.size() < slotLength) return 0;
    for (uint16_t offset : fields) {
      uint8_t* field = slot.data() + offset;
      uint8_t original[kMoneySize];
      std::memcpy(original, field, kMoneySize);
      bool changed = false;
      CheckMoneyField(field, changed);
      if (changed) fresh.Add(offset, original);
    }
    return static_cast<int>(fresh.count);
  };

  auto emit = [&](const ResetList& list, int32_t record, bool written) {
    if (report == nullptr) return;
    for (size_t i = 0; i < list.count; ++i) {
      report->FieldReset(file.baseName, record, list.offsets[i], &list.originals[i * kMoneySize],
                         written);
    }
  };

  if (block != nullptr) {
    RecordReader reader(access, block, slotLength, stats);
    int32_t r = 0;
    std::span<uint8_t> record;
    while (reader.Next(r, record)) {
      if (isam::GetI32(record.data()) != 0) {
        ++stats.deleted;
        continue;
      }
      ++stats.visited;
      before.count = 0;
      for (uint16_t offset : fields) {
        const uint8_t* field = record.data() + offset;
        if (!IsMoneySound(field)) before.Add(offset, field);
      }
      if (before.count == 0) continue;

      fixRan = false;
      const isam::RepairOutcome outcome = access.RepairRecordAt(block, r, work, fix);
      switch (outcome) {
        case isam::RepairOutcome::kWritten:
          progress.AddRepair();
          ++stats.repaired;
          emit(fresh, r, true);
          break;
        case isam::RepairOutcome::kFailed:
          ++stats.notWritten;
          // What the locked read found, or, when it never got that far, what the
          // unlocked read found.
          emit(fixRan ? fresh : before, r, false);
          break;
        case isam::RepairOutcome::kNothingToDo:  // another station mended it
        case isam::RepairOutcome::kDeleted:      // deleted meanwhile
          break;
      }
    }
  }

  progress.Step(ModuleCode(file.module), file.baseName);
  return stats;
}

}  // namespace kv::modules
