// Progress of a repair run and the record of what it reset. The module repairs take
// these, not widgets.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kv::modules {

inline constexpr int kProgressMax = 19;

// What a walk, a module repair or a whole run did with the records it judged. The walk
// returns it, the module repairs add theirs up, the run returns the sum.
struct RepairCounts {
  int32_t repaired = 0;  // records written, each once however many fields were reset
  // Records found unsound (or that could not be read to be judged) and not written:
  // held by another station past the waits, a read or a write that failed; and once
  // each, files whose records could not be judged at all.
  int32_t left = 0;
  // Of the left ones: files whose header is damage (an impossible slot count, slots
  // beyond the end of the file), which waiting for another station will not mend.
  int32_t damaged = 0;

  RepairCounts& operator+=(const RepairCounts& other) {
    repaired += other.repaired;
    left += other.left;
    damaged += other.damaged;
    return *this;
  }
};

// What a front end hears of a run in progress, and the stop it asks for: the progress
// bar (position 0..19) and the records repaired so far, for display. The run's result
// is what the run returns; the sink only observes it.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;

  int Position() const { return position_; }
  // Records repaired so far, as the sink was told of them (AddRepair).
  int32_t RepairCount() const { return repairCount_; }
  void AddRepair() { ++repairCount_; }
  // One walked data file finished.
  void Step(std::string_view module, std::string_view file) {
    ++position_;
    OnStep(module, file);
  }
  // The run is about to wait for `record` of `file`, which another station holds:
  // try `round` of `rounds`.
  void Waiting(std::string_view file, int32_t record, int round, int rounds) {
    OnWaiting(file, record, round, rounds);
  }
  // The run has retried for `waitedMs` a lock of `file` that another station holds
  // (engine error `error`): a save that another station keeps going, which the run waits
  // out as the retry rule says. Told after a second, then every few seconds.
  void WaitingForLock(std::string_view file, int32_t error, uint64_t waitedMs) {
    OnWaitingForLock(file, error, waitedMs);
  }
  // Within a file: `done` of its `total` slots have been walked. Called after every
  // read-ahead run, so a front end hears from the walk at least that often.
  void Walking(std::string_view module, std::string_view file, int32_t done, int32_t total) {
    OnWalking(module, file, done, total);
  }
  // Waits `milliseconds` in slices of at most kPauseSliceMs, letting the front end keep
  // its window alive between them; returns early once a stop is requested.
  void Pause(uint32_t milliseconds);

  // A stop of the run, asked for by the user (a button, a key, a signal). Safe to call
  // from any thread or a signal's aftermath. The walk looks at it between read-ahead
  // runs: the records in hand are finished, the module in progress is closed by its own
  // close steps, and no further file or module is started.
  void RequestStop() { stop_.store(true, std::memory_order_relaxed); }
  bool StopRequested() const {
    if (stop_.load(std::memory_order_relaxed)) return true;
    if (!PollStop()) return false;
    stop_.store(true, std::memory_order_relaxed);
    return true;
  }

  static constexpr uint32_t kPauseSliceMs = 100;

 protected:
  // Front ends repaint or print here.
  virtual void OnStep(std::string_view /*module*/, std::string_view /*file*/) {}
  virtual void OnWaiting(std::string_view /*file*/, int32_t /*record*/, int /*round*/, int /*rounds*/) {}
  virtual void OnWaitingForLock(std::string_view /*file*/, int32_t /*error*/, uint64_t /*waitedMs*/) {}
  virtual void OnWalking(std::string_view /*module*/, std::string_view /*file*/, int32_t /*done*/,
                         int32_t /*total*/) {}
  // Between the slices of a Pause: the desktop handles its events here.
  virtual void OnIdle() {}
  // A stop asked for outside the sink (the command line's interrupt signal).
  virtual bool PollStop() const { return false; }

 private:
  int position_ = 0;
  int32_t repairCount_ = 0;
  mutable std::atomic<bool> stop_{false};
};

// Why a record with unsound fields was left as it was; kNone: it was written.
enum class LeftReason : uint8_t { kNone, kLocked, kReadFailed, kWriteFailed };

// "LOCKED", "READ FAILED", "WRITE FAILED"; empty for kNone.
constexpr std::string_view LeftReasonText(LeftReason reason) {
  switch (reason) {
    case LeftReason::kLocked: return "LOCKED";
    case LeftReason::kReadFailed: return "READ FAILED";
    case LeftReason::kWriteFailed: return "WRITE FAILED";
    case LeftReason::kNone: break;
  }
  return {};
}

// One field of RepairReport::FieldsReset.
struct ResetField {
  int32_t record = 0;
  int offset = 0;
  const uint8_t* original = nullptr;  // the 10 bytes before the reset
  LeftReason left = LeftReason::kNone;
};

// The report could not keep the record of a write: the run ends before the next data
// write. what() is the message for the user (CP874), naming the report and the reason.
class ReportWriteFailed : public std::runtime_error {
 public:
  explicit ReportWriteFailed(const std::string& message) : std::runtime_error(message) {}
};

// One line per field that was reset, written as it happens.
class RepairReport {
 public:
  virtual ~RepairReport() = default;
  // `original` holds the 10 bytes as they were before the reset; `left` other than
  // kNone when the record was not written back (the field is not repaired on disk).
  virtual void FieldReset(std::string_view file, int32_t record, int offset,
                          const uint8_t* original, LeftReason left) = 0;
  // The fields of several records repaired together, in order: the same lines as
  // FieldReset for each, which a report may write out with one write.
  virtual void FieldsReset(std::string_view file, std::span<const ResetField> fields) {
    for (const ResetField& f : fields) FieldReset(file, f.record, f.offset, f.original, f.left);
  }
  // A live or deleted slot that could not be judged at all, so its fields are unknown:
  // its read failed (kReadFailed), or another station held it throughout (kLocked).
  virtual void RecordUnread(std::string_view /*file*/, int32_t /*record*/, LeftReason /*why*/) {}
  // The walk of `file` begins; its slots are `slotLength` bytes. Comes before any line
  // of that file, so that what is reported can be checked against the file later.
  virtual void FileWalked(std::string_view /*file*/, int32_t /*slotLength*/) {}
  // Written ahead: the fields about to be reset in `record` and its `slot` as it will be
  // written; on disk once ForceAhead has returned true, which comes before the record is
  // written. False when they could not be written: the record must not be written, and
  // the run ends with ThrowWriteFailure after what is in hand.
  virtual bool WriteAhead(std::string_view file, int32_t /*record*/, std::span<const ResetField> fields,
                          std::span<const uint8_t> /*slot*/) {
    FieldsReset(file, fields);
    return true;
  }
  // Forces to disk what was written ahead since the last ForceAhead, once for the
  // records the run writes under one lock. False when that failed: what was written
  // ahead since is taken back, none of those records may be written, and the run ends
  // with ThrowWriteFailure.
  virtual bool ForceAhead() { return true; }
  // Throws the ReportWriteFailed that says why WriteAhead failed.
  virtual void ThrowWriteFailure() const { throw ReportWriteFailed("the repair report could not be written"); }
};

}  // namespace kv::modules
