#include "testkit/Writes.h"

#include <algorithm>
#include <vector>

#include "isam/Errors.h"
#include "isam/Format.h"

namespace kv::testkit {
namespace {

// The record lock and then the write lock, given back in the other order however the
// scope is left.
class WriteLocks {
 public:
  WriteLocks(isam::Engine& engine, isam::BlockHandle block, int32_t record)
      : engine_(engine), block_(block), record_(record) {}
  ~WriteLocks() {
    if (blockLocked_) engine_.UnlockBlock(block_);
    if (recordLocked_) engine_.UnlockSlot(block_, record_);
  }
  WriteLocks(const WriteLocks&) = delete;
  WriteLocks& operator=(const WriteLocks&) = delete;

  // False when a lock failed; `held` then says whether another station held it.
  bool Take(bool& held) {
    engine_.LockSlot(block_, record_);
    recordLocked_ = engine_.LastOpOK();
    if (recordLocked_) {
      engine_.LockBlock(block_);
      blockLocked_ = engine_.LastOpOK();
    }
    held = !blockLocked_ && isam::ClassOf(engine_.LastError()) == isam::ErrorClass::kConflict;
    return blockLocked_;
  }

 private:
  isam::Engine& engine_;
  isam::BlockHandle block_;
  int32_t record_;
  bool recordLocked_ = false;
  bool blockLocked_ = false;
};

}  // namespace

isam::WriteReport WriteRecordAt(isam::AccessLayer& access, isam::BlockHandle block, int32_t recordNumber,
                                std::span<const uint8_t> buffer) {
  const int32_t slotLength = block ? access.engine().SlotLength(block) : 0;
  if (block == nullptr || slotLength <= 0 || buffer.size() < static_cast<size_t>(slotLength)) {
    return {false, isam::WriteResult::kError};  // nothing to write from, or a buffer shorter than the slot
  }
  const int32_t records[] = {recordNumber};
  isam::RepairOutcome outcomes[1];
  return access.RepairRecordsAt(
      block, records,
      [buffer, slotLength](int32_t, std::span<uint8_t> slot) {
        std::copy_n(buffer.begin(), slotLength, slot.begin());
        return 1;
      },
      outcomes);
}

isam::RepairOutcome RepairRecordAt(isam::AccessLayer& access, isam::BlockHandle block, int32_t recordNumber,
                                   std::span<uint8_t> work, const std::function<int(std::span<uint8_t>)>& fix) {
  isam::Engine& engine = access.engine();
  const int32_t slotLength = block ? engine.SlotLength(block) : 0;
  if (block == nullptr || slotLength <= 0 || work.size() < static_cast<size_t>(slotLength)) {
    return isam::RepairOutcome::kFailed;
  }
  const std::span<uint8_t> slot = work.first(static_cast<size_t>(slotLength));
  WriteLocks locks(engine, block, recordNumber);
  bool held = false;
  if (!locks.Take(held)) return held ? isam::RepairOutcome::kLocked : isam::RepairOutcome::kFailed;
  engine.ReadSlot(block, recordNumber, slot);
  if (!engine.LastOpOK()) return isam::RepairOutcome::kReadFailed;
  if (!isam::SlotIsLive(slot)) return isam::RepairOutcome::kDeleted;
  // The slot as read under the locks, to put back if the write fails part-way.
  const std::vector<uint8_t> old(slot.begin(), slot.end());
  if (fix(slot) == 0) return isam::RepairOutcome::kNothingToDo;
  isam::RepairOutcome outcome = isam::RepairOutcome::kWritten;
  engine.WriteSlot(block, recordNumber, slot);
  if (!engine.LastOpOK()) {
    outcome = isam::RepairOutcome::kFailed;
    engine.WriteSlot(block, recordNumber, old);
  }
  const isam::AccessSettings& settings = access.Settings();
  if (!settings.saveMode && settings.flushAfterWrite) engine.FlushBlock(block);
  return outcome;
}

}  // namespace kv::testkit
