#include "modules/HeldRounds.h"

#include <algorithm>

#include "platform/System.h"

namespace kv::modules {

isam::ConflictWatch ConflictWatchFor(ProgressSink& progress) {
  return {[&progress](std::string_view file, int32_t error, uint64_t waited) { progress.WaitingForLock(file, error, waited); },
          [&progress] { return progress.StopRequested(); }};
}

HeldRounds::HeldRounds(const isam::AccessSettings& settings, ProgressSink& progress, std::string_view file)
    : progress_(progress),
      file_(file),
      rounds_(std::max(1, settings.heldRecordRounds)),
      waitMs_(static_cast<uint64_t>(std::max(0, settings.heldRecordWaitMs))),
      start_(platform::MonotonicMs()) {}

bool HeldRounds::TimeUp() const {
  return platform::MonotonicMs() >= start_ + waitMs_ || progress_.StopRequested();
}

void HeldRounds::Announce(int32_t record, int round) {
  if (record == announced_ && round == announcedRound_) return;
  announced_ = record;
  announcedRound_ = round;
  progress_.Waiting(file_, record, round, rounds_);
}

void HeldRounds::Run(const std::function<int32_t()>& held, const std::function<void(int round)>& tryAgain) {
  for (int round = 1; round <= rounds_; ++round) {
    const int32_t first = held();
    if (first == 0 || TimeUp()) return;
    const uint64_t due = start_ + waitMs_ * static_cast<uint64_t>(round - 1) / static_cast<uint64_t>(rounds_);
    const uint64_t now = platform::MonotonicMs();
    if (now < due) {
      Announce(first, round);
      progress_.Pause(static_cast<uint32_t>(due - now));
      if (progress_.StopRequested()) return;
    }
    tryAgain(round);
  }
}

}  // namespace kv::modules
