// The rounds in which records another station held are tried again, after the rest of
// their file: AccessSettings::heldRecordRounds rounds spread evenly over at most
// heldRecordWaitMs, the first at once, each try with the engine's own lock wait. The
// walk and the undo both wait this way, so that a record a suite user keeps open costs
// either of them the same bounded time. The progress hears what is waited for before
// every pause and try, and a stop it is asked for ends the rounds at once: what is
// still held is then the caller's to leave.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "isam/Access.h"
#include "modules/Progress.h"

namespace kv::modules {

// What the access layer's retries of a lock conflict tell `progress` and ask it: the
// wait, and whether to stop. For the scope of a run or an undo (ScopedConflictWatch).
isam::ConflictWatch ConflictWatchFor(ProgressSink& progress);

class HeldRounds {
 public:
  HeldRounds(const isam::AccessSettings& settings, ProgressSink& progress, std::string_view file);

  // Runs the rounds while `held()` gives the first record still set aside (0: none is
  // left). Each round first waits until it is due, announcing that record, then calls
  // `tryAgain(round)`, which takes every record set aside out, tries each (announcing it
  // with Announce and skipping the try once TimeUp) and sets aside anew what is still
  // held.
  void Run(const std::function<int32_t()>& held, const std::function<void(int round)>& tryAgain);

  // Tells the progress that `record` is tried in `round` (once per record and round).
  void Announce(int32_t record, int round);
  // The time for the rounds is up, or a stop was asked for: no further try.
  bool TimeUp() const;
  int Rounds() const { return rounds_; }

 private:
  ProgressSink& progress_;
  std::string_view file_;
  int rounds_;
  uint64_t waitMs_;
  uint64_t start_;
  int32_t announced_ = 0;
  int announcedRound_ = 0;
};

}  // namespace kv::modules
