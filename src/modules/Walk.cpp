#include "modules/Walk.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "isam/Coding.h"
#include "isam/Format.h"
#include "modules/BackgroundJob.h"
#include "modules/HeldRounds.h"
#include "modules/MoneyCheck.h"
#include "platform/System.h"

namespace kv::modules {
namespace {

// Bytes read ahead per temporary read lock. Large enough that the lock, the signal read
// and the unlock cost next to nothing per record, and that the repairs found in one run
// share their file lock, read and change signal among many records (on the 100,000-slot
// benchmark company with 1% damage: 256 KiB 0.058 calls per record, 512 KiB 0.046,
// 1 MiB 0.039); small enough that a writer on another station waits for one read of
// about 10 ms from a 100 MB/s share at most.
constexpr size_t kReadAheadBytes = 1024 * 1024;

}  // namespace

// One read-ahead run: `count` consecutive slots from record `first` on.
struct FileWalk::ReadRun {
  explicit ReadRun(std::vector<uint8_t>& buffer) : storage(buffer) {}
  int32_t first = 0;
  int32_t count = 0;
  std::vector<uint8_t>& storage;  // grown to the longest run of any file, kept
  std::span<uint8_t> bytes;       // the run's slots in `storage`
  bool whole = false;             // read with one call; else slot by slot, see `readable`
  std::vector<uint8_t> readable;  // per slot, when not whole
  std::vector<int32_t> unread;    // records of the file whose read failed (not past its end)
  std::vector<int32_t> held;      // records whose read another station's lock refused (unjudged)

  const uint8_t* SlotOf(int32_t record, size_t slotLength) const {
    return bytes.data() + static_cast<size_t>(record - first) * slotLength;
  }
};

// Hands out the records of a file in read-ahead runs, in ascending order. Each run is
// read with one access-layer read under one temporary read lock; the layer's retry rule
// applies to a run as to a single read, and every lock honours the change signals. What
// was read ahead is only judged: a record is written only by RepairRecordsAt, which
// reads it afresh under its record and block locks. A run that cannot be read (a lock
// conflict the user gave up on is an EndRun, not this; a slot beyond the end of the
// file, an I/O error) is read again record by record, so one unreadable slot costs only
// itself.
class FileWalk::Reader {
 public:
  static constexpr isam::EngineError kReadPastEnd = isam::EngineError::kReadError;

  Reader(isam::AccessLayer& access, isam::BlockHandle block, size_t slotLength, WalkStats& stats)
      : access_(access), block_(block), slotLength_(slotLength), stats_(stats) {
    const isam::RecordTotal total = access_.RecordCount(block_);
    total_ = total.count;
    countFailed_ = !total.ok;
    if (total.damaged) stats_.damagedHeader = true;
    const int32_t wanted = static_cast<int32_t>(std::max<size_t>(1, kReadAheadBytes / slotLength_));
    perRun_ = std::max(1, std::min(wanted, total_ - 1));
  }

  // The file's record count could not be had: none of its records were read.
  bool CountFailed() const { return countFailed_; }
  int32_t Total() const { return total_; }

  // The next run, read into `run`'s own buffer; false after the last one.
  bool Next(ReadRun& run) {
    if (next_ >= total_) return false;
    run.first = next_;
    run.count = std::min(perRun_, total_ - next_);
    next_ += run.count;
    run.storage.resize(std::max(run.storage.size(), static_cast<size_t>(perRun_) * slotLength_));
    run.bytes = std::span<uint8_t>(run.storage).first(static_cast<size_t>(run.count) * slotLength_);
    run.unread.clear();
    run.held.clear();
    const isam::ReadOutcome whole = access_.ReadRecordsAround(block_, run.first, run.count, run.bytes);
    run.whole = whole == isam::ReadOutcome::kRead;
    if (run.whole) return true;
    run.readable.assign(static_cast<size_t>(run.count), 0);
    ReadPart(run, 0, run.count, whole);
    return true;
  }

  std::span<uint8_t> Slot(const ReadRun& run, int32_t i) const {
    return run.bytes.subspan(static_cast<size_t>(i) * slotLength_, slotLength_);
  }

  // Judges a run without the locks: every slot at once when it was read whole, else the
  // slots that could be read one by one (`one` is working space).
  void Judge(const ReadRun& run, std::span<const uint16_t> fields, RunJudgement& judged,
             RunJudgement& one) const {
    if (run.whole) {
      JudgeRun(run.bytes, slotLength_, run.count, fields, judged);
      return;
    }
    judged.unsound.clear();
    judged.visited = judged.deleted = 0;
    for (int32_t i = 0; i < run.count; ++i) {
      if (!run.readable[static_cast<size_t>(i)]) continue;
      JudgeRun(Slot(run, i), slotLength_, 1, fields, one);
      judged.visited += one.visited;
      judged.deleted += one.deleted;
      if (!one.unsound.empty()) judged.unsound.push_back(i);
    }
  }

 private:
  isam::AccessLayer& access_;
  isam::BlockHandle block_;
  size_t slotLength_;
  WalkStats& stats_;
  int32_t total_ = 0;
  int32_t perRun_ = 1;

  void MarkRead(ReadRun& run, int32_t from, int32_t n) const {
    std::fill_n(run.readable.begin() + from, n, uint8_t{1});
  }

  // Reads the slots from..from+n-1 of `run`, whose read as one piece gave `outcome`.
  // A piece refused because another station holds a record in it is read again in
  // halves, down to the record alone, so a held record costs about 2 log2(n) reads and
  // keeps nothing else from being judged; the record whose own read is refused is held
  // (set aside with the held records of the writes). A piece that failed otherwise is
  // read slot by slot, so one unreadable slot costs only itself. False when a slot lay
  // past the end of the file: the rest of the run and of the file is not read.
  bool ReadPart(ReadRun& run, int32_t from, int32_t n, isam::ReadOutcome outcome) {
    if (outcome == isam::ReadOutcome::kHeld && n > 1) {
      const int32_t half = n / 2;
      const int32_t pieces[2][2] = {{from, half}, {from + half, n - half}};
      for (const auto& piece : pieces) {
        const isam::ReadOutcome got = access_.ReadRecordsAround(block_, run.first + piece[0], piece[1],
                                                                 Slots(run, piece[0], piece[1]));
        if (got == isam::ReadOutcome::kRead) {
          MarkRead(run, piece[0], piece[1]);
        } else if (!ReadPart(run, piece[0], piece[1], got)) {
          return false;
        }
      }
      return true;
    }
    if (outcome == isam::ReadOutcome::kHeld) {
      run.held.push_back(run.first + from);
      return true;
    }
    for (int32_t i = from; i < from + n; ++i) {
      const isam::ReadOutcome got =
          n == 1 ? outcome : access_.ReadRecordsAround(block_, run.first + i, 1, Slots(run, i, 1));
      if (got == isam::ReadOutcome::kRead) {
        MarkRead(run, i, 1);
        continue;
      }
      if (got == isam::ReadOutcome::kHeld) {
        run.held.push_back(run.first + i);
        continue;
      }
      ++stats_.unreadable;
      // A slot past the end of the file: every later slot lies further out, so the rest
      // of the count cannot be read either. Trying each of them would turn a header that
      // promises two billion records into a walk of hours. Such slots are no records.
      if (access_.engine().LastError() == kReadPastEnd) {
        stats_.damagedHeader = true;
        stats_.unreadable += (run.count - i - 1) + (total_ - next_);
        next_ = total_;
        return false;
      }
      run.unread.push_back(run.first + i);
    }
    return true;
  }

  std::span<uint8_t> Slots(const ReadRun& run, int32_t from, int32_t n) const {
    return run.bytes.subspan(static_cast<size_t>(from) * slotLength_, static_cast<size_t>(n) * slotLength_);
  }
  int32_t next_ = 1;  // first record of the next run
  bool countFailed_ = false;
};

void FileWalk::Resets::Begin(size_t records) {
  offsets.clear();
  originals.clear();
  start.assign(records, 0);
  count.assign(records, 0);
  fixed.assign(records, 0);
}

void FileWalk::Resets::Add(uint16_t offset, const uint8_t* original) {
  offsets.push_back(offset);
  originals.insert(originals.end(), original, original + kMoneySize);
}

void FileWalk::Held::Add(int32_t record, const uint8_t* readAhead, size_t slotLength) {
  records.push_back(record);
  judged.push_back(readAhead != nullptr ? 1 : 0);
  if (readAhead != nullptr) {
    bytes.insert(bytes.end(), readAhead, readAhead + slotLength);
  } else {
    bytes.resize(bytes.size() + slotLength);
  }
}

const uint8_t* FileWalk::Held::ReadAhead(size_t i, size_t slotLength) const {
  return judged[i] ? bytes.data() + i * slotLength : nullptr;
}

void FileWalk::Held::Clear() {
  records.clear();
  bytes.clear();
  judged.clear();
}

void JudgeRun(std::span<const uint8_t> bytes, size_t slotLength, int32_t count,
              std::span<const uint16_t> offsets, RunJudgement& out) {
  out.unsound.clear();
  out.visited = 0;
  out.deleted = 0;
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* record = bytes.data() + static_cast<size_t>(i) * slotLength;
    // The first four bytes are 0 exactly when the record is live; a deleted slot holds
    // its free-chain link there.
    if (!isam::SlotIsLive(record)) {
      ++out.deleted;
      continue;
    }
    ++out.visited;
    if (AnyMoneyUnsound(record, offsets)) out.unsound.push_back(i);
  }
}

// Buffers are sized by the slot length the file declares, so a file made with a
// different record length is still read whole; money fields that would lie beyond its
// slots are not looked at.
FileWalk::FileWalk(isam::AccessLayer& access, isam::BlockHandle block, const DataFileDef& file, ProgressSink& progress,
                   RepairReport* report, WalkBuffers& buffers)
    : access_(access), block_(block), file_(file), progress_(progress), report_(report), buffers_(buffers) {
  slotLength_ = static_cast<size_t>(file.recordLength);
  const int32_t declared = block ? access.engine().SlotLength(block) : 0;
  if (declared > 0 && declared <= isam::kMaxRecordLength) slotLength_ = static_cast<size_t>(declared);
  fields_ = file.moneyOffsets;
  while (!fields_.empty() && fields_.back() + static_cast<size_t>(kMoneySize) > slotLength_) {
    fields_ = fields_.first(fields_.size() - 1);
  }
}

FileWalk::~FileWalk() = default;

WalkStats FileWalk::Run() {
  // Stopped before this file: it is neither walked nor counted as finished; the module's
  // close steps follow as after a complete walk.
  if (progress_.StopRequested()) return stats_;
  if (block_ != nullptr) {
    if (report_ != nullptr) report_->FileWalked(file_.baseName, static_cast<int32_t>(slotLength_));
    try {
      // Not one record could be judged, or slots the header promises are not there.
      if (!ReadAhead() || stats_.damagedHeader) LeaveFile();
      RetryHeld();
    } catch (...) {
      // The user ended the run at a read's lock question, or the report failed: what
      // was set aside is still reported and counted as left.
      LeaveHeld();
      throw;
    }
    LeaveHeld();
  }
  // A file cut short by a stop is not a finished step of the bar.
  if (!progress_.StopRequested()) progress_.Step(ModuleCode(file_.module), file_.baseName);
  return stats_;
}

// Reads the file in runs, two in turn: while the engine reads the next run into one,
// the other is judged on a second thread; its repairs follow once both are done. Only
// this thread calls the engine. An exception leaving here waits for a judging still
// running before the runs it reads are gone.
// After each run the progress hears how far the walk is, and a stop requested by then
// ends the walk there: the run in hand is finished, the one read ahead is dropped
// unjudged (it was only read).
bool FileWalk::ReadAhead() {
  Reader reader(access_, block_, slotLength_, stats_);
  if (reader.CountFailed()) return false;
  ReadRun runs[2] = {ReadRun(buffers_.runs[0]), ReadRun(buffers_.runs[1])};
  RunJudgement judgements[2];
  RunJudgement one;  // the judging job's working space
  BackgroundJob& judging = buffers_.judging;
  struct WaitOnExit {
    BackgroundJob& job;
    ~WaitOnExit() {
      try {
        job.Wait();
      } catch (...) {
        // Already on the way out with the exception that ended the walk.
      }
    }
  } const waitOnExit{judging};
  auto startJudging = [&](int k) {
    judging.Start([&reader, &runs, &judgements, &one, this, k] { reader.Judge(runs[k], fields_, judgements[k], one); });
  };
  int current = 0;
  bool have = reader.Next(runs[current]);
  if (have) startJudging(current);
  while (have) {
    const int following = current ^ 1;
    const bool haveFollowing = reader.Next(runs[following]);
    judging.Wait();
    if (haveFollowing) startJudging(following);
    const ReadRun& run = runs[current];
    const RunJudgement& judged = judgements[current];
    current = following;
    have = haveFollowing;
    RepairBatch(run, judged);
    // Slots 1 to Total() - 1 hold records; slot 0 is the file's header.
    progress_.Walking(ModuleCode(file_.module), file_.baseName, run.first + run.count - 1, reader.Total() - 1);
    if (have && progress_.StopRequested()) {
      judging.Wait();
      break;
    }
  }
  return true;
}

void FileWalk::RepairBatch(const ReadRun& run, const RunJudgement& judged) {
  stats_.visited += judged.visited;
  stats_.deleted += judged.deleted;
  for (int32_t r : run.unread) {
    // Not judged at all: it may hold damage that is still there.
    if (report_ != nullptr) report_->RecordUnread(file_.baseName, r, LeftReason::kReadFailed);
    ++stats_.left;
  }
  for (int32_t r : run.held) SetAside(r, nullptr);
  if (judged.unsound.empty()) return;
  records_.resize(judged.unsound.size());
  ahead_.resize(records_.size());
  for (size_t k = 0; k < records_.size(); ++k) {
    records_[k] = run.first + judged.unsound[k];
    ahead_[k] = run.SlotOf(records_[k], slotLength_);
  }
  RepairRecords();
}

void FileWalk::RepairRecords() {
  outcomes_.assign(records_.size(), isam::RepairOutcome::kFailed);
  resets_.Begin(records_.size());
  static_cast<void>(access_.RepairRecordsAt(
      block_, records_, [this](int32_t record, std::span<uint8_t> slot) { return FixUnderLocks(record, slot); },
      outcomes_, [this] { return ForceAhead(); }));
  Settle();
}

// Their lines and the slot's fingerprint go to the report, to be forced to disk with
// those of the other records of the locked run before any of them is written
// (ForceAhead); when they cannot be written, the record is not written (0) and the walk
// ends.
int FileWalk::FixUnderLocks(int32_t record, std::span<uint8_t> slot) {
  const auto at = std::lower_bound(records_.begin(), records_.end(), record);
  if (reportFailed_ || at == records_.end() || *at != record || slot.size() < slotLength_) return 0;
  const size_t k = static_cast<size_t>(at - records_.begin());
  resets_.fixed[k] = 1;
  resets_.start[k] = resets_.offsets.size();
  for (uint16_t offset : fields_) {
    uint8_t* field = slot.data() + offset;
    uint8_t original[kMoneySize];
    std::memcpy(original, field, kMoneySize);
    bool changed = false;
    CheckMoneyField(field, changed);
    if (changed) resets_.Add(offset, original);
  }
  resets_.count[k] = resets_.offsets.size() - resets_.start[k];
  if (report_ != nullptr && resets_.count[k] > 0) {
    lineup_.clear();
    for (size_t e = resets_.start[k]; e < resets_.start[k] + resets_.count[k]; ++e)
      lineup_.push_back({record, resets_.offsets[e], &resets_.originals[e * kMoneySize], LeftReason::kNone});
    if (!report_->WriteAhead(file_.baseName, record, lineup_, slot.first(slotLength_))) {
      reportFailed_ = true;
      return 0;
    }
  }
  return static_cast<int>(resets_.count[k]);
}

// A held record is set aside; what is still set aside at the end is left as LOCKED
// (LeaveHeld).
void FileWalk::Settle() {
  lines_.clear();
  for (size_t k = 0; k < records_.size(); ++k) {
    const int32_t r = records_[k];
    LeftReason left = LeftReason::kNone;
    switch (outcomes_[k]) {
      case isam::RepairOutcome::kWritten:
        progress_.AddRepair();
        ++stats_.repaired;
        break;
      case isam::RepairOutcome::kNothingToDo:  // another station mended it
      case isam::RepairOutcome::kDeleted:      // deleted meanwhile
      case isam::RepairOutcome::kHeldBack:     // its lines did not reach the report: the walk ends
        continue;
      case isam::RepairOutcome::kLocked:
        SetAside(r, ahead_[k]);
        continue;
      case isam::RepairOutcome::kReadFailed:
        left = LeftReason::kReadFailed;
        break;
      case isam::RepairOutcome::kFailed:
        left = LeftReason::kWriteFailed;
        break;
    }
    if (left != LeftReason::kNone) {
      ++stats_.notWritten;
      ++stats_.left;
    }
    if (resets_.fixed[k] && left == LeftReason::kNone && report_ != nullptr) continue;  // written ahead
    if (resets_.fixed[k]) {
      // What the read under the locks found.
      for (size_t e = resets_.start[k]; e < resets_.start[k] + resets_.count[k]; ++e) {
        lines_.push_back({r, resets_.offsets[e], &resets_.originals[e * kMoneySize], left});
      }
    } else {
      AddFields(r, ahead_[k], left);  // never judged under the locks
    }
  }
  FlushLines();
  if (reportFailed_) report_->ThrowWriteFailure();  // before any further data write
}

void FileWalk::AddFields(int32_t record, const uint8_t* readAhead, LeftReason left) {
  if (readAhead == nullptr) {
    // Never judged: its fields are unknown. The lines before it go out first, so the
    // report keeps record order.
    FlushLines();
    lines_.clear();
    if (report_ != nullptr) report_->RecordUnread(file_.baseName, record, left);
    return;
  }
  for (uint16_t offset : fields_) {
    if (!IsMoneySound(readAhead + offset)) lines_.push_back({record, offset, readAhead + offset, left});
  }
}

// Once per locked run: the lines written ahead reach the disk before its records are
// written, or none of those records is written and the walk ends.
bool FileWalk::ForceAhead() {
  if (report_ == nullptr || report_->ForceAhead()) return true;
  reportFailed_ = true;
  return false;
}

void FileWalk::FlushLines() {
  if (report_ != nullptr && !lines_.empty()) report_->FieldsReset(file_.baseName, lines_);
}

// Rather than as a file without damage.
void FileWalk::LeaveFile() {
  if (report_ != nullptr) report_->RecordUnread(file_.baseName, 0, LeftReason::kReadFailed);
  ++stats_.left;
}

// The held records again, one at a time, with the slot the read-ahead found (none for
// a record never judged). A stop or the end of the time leaves them held.
void FileWalk::RetryHeld() {
  HeldRounds rounds(access_.Settings(), progress_, file_.baseName);
  Held pending;
  rounds.Run([this] { return held_.records.empty() ? 0 : held_.records.front(); }, [&](int round) {
    std::swap(pending, held_);
    held_.Clear();
    for (size_t i = 0; i < pending.records.size(); ++i) {
      const uint8_t* readAhead = pending.ReadAhead(i, slotLength_);
      if (rounds.TimeUp()) {
        SetAside(pending.records[i], readAhead);  // no time left: stays held
        continue;
      }
      rounds.Announce(pending.records[i], round);
      records_.assign(1, pending.records[i]);
      ahead_.assign(1, readAhead);
      RepairRecords();
    }
  });
}

// The records still set aside when the walk ends or unwinds: left as LOCKED.
void FileWalk::LeaveHeld() {
  lines_.clear();
  for (size_t i = 0; i < held_.records.size(); ++i) {
    AddFields(held_.records[i], held_.ReadAhead(i, slotLength_), LeftReason::kLocked);
  }
  FlushLines();
  stats_.notWritten += static_cast<int32_t>(held_.records.size());
  stats_.left += static_cast<int32_t>(held_.records.size());
  held_.Clear();
}

WalkStats WalkModuleFile(isam::AccessLayer& access, isam::BlockHandle block, const DataFileDef& file,
                         ProgressSink& progress, RepairReport* reportTo) {
  WalkBuffers buffers;
  return FileWalk(access, block, file, progress, reportTo, buffers).Run();
}

void ProgressSink::Pause(uint32_t milliseconds) {
  const uint64_t end = platform::MonotonicMs() + milliseconds;
  for (;;) {
    OnIdle();
    if (StopRequested()) return;
    const uint64_t now = platform::MonotonicMs();
    if (now >= end) return;
    platform::SleepMs(static_cast<uint32_t>(std::min<uint64_t>(end - now, kPauseSliceMs)));
  }
}

}  // namespace kv::modules
