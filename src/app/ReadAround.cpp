#include "app/ReadAround.h"

#include <algorithm>

#include "platform/System.h"

namespace kv::app {

bool RetryHeldRecords(platform::File& file, uint64_t slot, std::vector<int32_t>& held, int32_t waitMs, int32_t rounds,
                      const std::function<void(int32_t record, int round)>& onWait,
                      const std::function<void(const uint8_t* record, int32_t number)>& judge, int32_t& failed) {
  rounds = std::max(1, rounds);
  const uint64_t wait = static_cast<uint64_t>(std::max(0, waitMs));
  if (held.empty() || wait == 0) return true;
  std::vector<uint8_t> record(slot);
  std::vector<int32_t> pending;
  const uint64_t start = platform::MonotonicMs();
  for (int round = 1; round <= rounds && !held.empty(); ++round) {
    const uint64_t due =
        rounds == 1 ? start : start + wait * static_cast<uint64_t>(round - 1) / static_cast<uint64_t>(rounds - 1);
    if (const uint64_t now = platform::MonotonicMs(); now < due) {
      if (onWait) onWait(held.front(), round);
      platform::SleepMs(static_cast<uint32_t>(due - now));
    }
    pending.swap(held);
    held.clear();
    for (int32_t number : pending) {
      size_t done = 0;
      const platform::OsStatus got = file.ReadAt(static_cast<uint64_t>(number) * slot, record.data(), record.size(), done);
      if (got == platform::OsError::kLockViolation) {
        held.push_back(number);
      } else if (got || done != record.size()) {
        failed = number;
        return false;
      } else {
        judge(record.data(), number);
      }
    }
  }
  return true;
}

}  // namespace kv::app
