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

// Bytes read ahead per temporary read lock. Large enough that the lock, the signal read
// and the unlock cost next to nothing per record (a 300-byte record file needs under
// 0.005 calls per record), small enough that a writer on another station waits for a
// read of well under a millisecond from a local disk.
constexpr size_t kReadAheadBytes = 256 * 1024;

// Hands out the records of a file in ascending order, skipping those that cannot be
// read. Consecutive slots are read ahead in batches, each with one access-layer read
// under one temporary read lock; the layer's retry rule applies to a batch as to a
// single read, and every lock honours the change signals. What was read ahead is only
// judged: a record is written only by RepairRecordAt, which reads it afresh under its
// record and block locks. A batch that cannot be read (a lock conflict the user gave
// up on is an EndRun, not this; a slot beyond the end of the file, an I/O error) is
// read again record by record, so one unreadable slot costs only itself.
class RecordReader {
 public:
  static constexpr int32_t kReadPastEnd = 10070;

  RecordReader(isam::AccessLayer& access, isam::FileBlock* block, size_t slotLength,
               WalkStats& stats)
      : access_(access), block_(block), slotLength_(slotLength), stats_(stats) {
    total_ = access_.RecordCount(block_);
    const int32_t wanted = static_cast<int32_t>(std::max<size_t>(1, kReadAheadBytes / slotLength_));
    perBatch_ = std::max(1, std::min(wanted, total_ - 1));
    buffer_.resize(static_cast<size_t>(perBatch_) * slotLength_);
  }

  // The next record that was read successfully; false after the last one.
  bool Next(int32_t& recordNumber, std::span<uint8_t>& bytes) {
    for (;;) {
      if (pos_ < batchCount_) {
        const int32_t i = pos_++;
        recordNumber = batchFirst_ + i;
        if (!batchRead_) {
          bytes = Slot(0);
          access_.ReadRecordAt(block_, recordNumber, bytes);
          if (!access_.AccessOK) {
            ++stats_.unreadable;
            // A slot past the end of the file: every later slot lies further out, so
            // the rest of the count cannot be read either. Trying each of them would
            // turn a header that promises two billion records into a walk of hours.
            if (access_.engine().LastOpError() == kReadPastEnd) {
              stats_.unreadable += (batchCount_ - pos_) + (total_ - next_);
              pos_ = batchCount_;
              next_ = total_;
              return false;
            }
            continue;
          }
          return true;
        }
        bytes = Slot(i);
        return true;
      }
      if (next_ >= total_) return false;
      batchFirst_ = next_;
      batchCount_ = std::min(perBatch_, total_ - next_);
      next_ += batchCount_;
      pos_ = 0;
      access_.ReadRecordsAt(block_, batchFirst_, batchCount_,
                            std::span<uint8_t>(buffer_).first(static_cast<size_t>(batchCount_) * slotLength_));
      batchRead_ = access_.AccessOK;
    }
  }

 private:
  std::span<uint8_t> Slot(int32_t i) {
    return std::span<uint8_t>(buffer_).subspan(static_cast<size_t>(i) * slotLength_, slotLength_);
  }

  isam::AccessLayer& access_;
  isam::FileBlock* block_;
  size_t slotLength_;
  std::vector<uint8_t> buffer_;
  WalkStats& stats_;
  int32_t total_ = 0;
  int32_t perBatch_ = 1;
  int32_t next_ = 1;        // first record of the next batch
  int32_t batchFirst_ = 0;
  int32_t batchCount_ = 0;
  int32_t pos_ = 0;         // next record within the batch
  bool batchRead_ = false;  // false: the batch is read record by record
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
      if (!AnyMoneyUnsound(record.data(), fields)) continue;
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
