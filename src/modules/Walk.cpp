#include "modules/Walk.h"

#include <algorithm>
#include <cstring>
#include <exception>
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

// One read-ahead run: `count` consecutive slots from record `first` on.
struct Run {
  int32_t first = 0;
  int32_t count = 0;
  std::vector<uint8_t> storage;   // sized once, to the longest run
  std::span<uint8_t> bytes;       // the run's slots in `storage`
  bool whole = false;             // read with one call; else slot by slot, see `readable`
  std::vector<uint8_t> readable;  // per slot, when not whole
  std::vector<int32_t> unread;    // records of the file whose read failed (not past its end)
  std::vector<int32_t> held;      // records whose read another station's lock refused (unjudged)
};

// Hands out the records of a file in read-ahead runs, in ascending order. Each run is
// read with one access-layer read under one temporary read lock; the layer's retry rule
// applies to a run as to a single read, and every lock honours the change signals. What
// was read ahead is only judged: a record is written only by RepairRecordsAt, which
// reads it afresh under its record and block locks. A run that cannot be read (a lock
// conflict the user gave up on is an EndRun, not this; a slot beyond the end of the
// file, an I/O error) is read again record by record, so one unreadable slot costs only
// itself.
class RunReader {
 public:
  static constexpr isam::EngineError kReadPastEnd = isam::EngineError::kReadError;

  RunReader(isam::AccessLayer& access, isam::BlockHandle block, size_t slotLength, WalkStats& stats)
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
  bool Next(Run& run) {
    if (next_ >= total_) return false;
    run.first = next_;
    run.count = std::min(perRun_, total_ - next_);
    next_ += run.count;
    run.storage.resize(static_cast<size_t>(perRun_) * slotLength_);
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

  std::span<uint8_t> Slot(const Run& run, int32_t i) const {
    return run.bytes.subspan(static_cast<size_t>(i) * slotLength_, slotLength_);
  }

  // Judges a run without the locks: every slot at once when it was read whole, else the
  // slots that could be read one by one (`one` is working space).
  void Judge(const Run& run, std::span<const uint16_t> fields, RunJudgement& judged,
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

  void MarkRead(Run& run, int32_t from, int32_t n) const {
    std::fill_n(run.readable.begin() + from, n, uint8_t{1});
  }

  // Reads the slots from..from+n-1 of `run`, whose read as one piece gave `outcome`.
  // A piece refused because another station holds a record in it is read again in
  // halves, down to the record alone, so a held record costs about 2 log2(n) reads and
  // keeps nothing else from being judged; the record whose own read is refused is held
  // (set aside with the held records of the writes). A piece that failed otherwise is
  // read slot by slot, so one unreadable slot costs only itself. False when a slot lay
  // past the end of the file: the rest of the run and of the file is not read.
  bool ReadPart(Run& run, int32_t from, int32_t n, isam::ReadOutcome outcome) {
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

  std::span<uint8_t> Slots(const Run& run, int32_t from, int32_t n) const {
    return run.bytes.subspan(static_cast<size_t>(from) * slotLength_, static_cast<size_t>(n) * slotLength_);
  }
  int32_t next_ = 1;  // first record of the next run
  bool countFailed_ = false;
};

// The fields one repair run reset: for each record of the run, where its entries start
// in the flat lists and how many there are. Nothing is allocated per record once the
// lists have grown to the largest run.
struct Resets {
  std::vector<uint16_t> offsets;
  std::vector<uint8_t> originals;  // kMoneySize bytes per entry
  std::vector<size_t> start;       // per record of the run
  std::vector<size_t> count;
  std::vector<uint8_t> fixed;      // per record: judged under the locks

  void Begin(size_t records) {
    offsets.clear();
    originals.clear();
    start.assign(records, 0);
    count.assign(records, 0);
    fixed.assign(records, 0);
  }
  void Add(uint16_t offset, const uint8_t* original) {
    offsets.push_back(offset);
    originals.insert(originals.end(), original, original + kMoneySize);
  }
};

// Reads the file in runs, two in turn: while the engine reads the next run into one,
// the other is judged on a second thread; `onRun` (the repairs) follows once both are
// done. Only this thread calls the engine. The job is declared last, so that an
// exception leaving here waits for a judging still running before the runs it reads are
// destroyed.
// After each run the progress hears how far the walk is, and a stop requested by then
// ends the walk there: the run in hand is finished, the one read ahead is dropped
// unjudged (it was only read).
// False when the file's record count could not be had, so that nothing was walked.
template <typename OnRun>
bool WalkRuns(isam::AccessLayer& access, isam::BlockHandle block, const DataFileDef& file, size_t slotLength,
              std::span<const uint16_t> fields, WalkStats& stats, ProgressSink& progress, const OnRun& onRun) {
  RunReader reader(access, block, slotLength, stats);
  if (reader.CountFailed()) return false;
  Run runs[2];
  RunJudgement judgements[2];
  RunJudgement one;  // the judging job's working space
  BackgroundJob judging;
  auto startJudging = [&](int k) {
    judging.Start([&reader, &runs, &judgements, &one, fields, k] {
      reader.Judge(runs[k], fields, judgements[k], one);
    });
  };
  int current = 0;
  bool have = reader.Next(runs[current]);
  if (have) startJudging(current);
  while (have) {
    const int following = current ^ 1;
    const bool haveFollowing = reader.Next(runs[following]);
    judging.Wait();
    if (haveFollowing) startJudging(following);
    const Run& run = runs[current];
    const RunJudgement& judged = judgements[current];
    current = following;
    have = haveFollowing;
    stats.visited += judged.visited;
    stats.deleted += judged.deleted;
    onRun(run, judged);
    // Slots 1 to Total() - 1 hold records; slot 0 is the file's header.
    progress.Walking(ModuleCode(file.module), file.baseName, run.first + run.count - 1, reader.Total() - 1);
    if (have && progress.StopRequested()) {
      judging.Wait();
      break;
    }
  }
  return true;
}

}  // namespace

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

WalkStats WalkModuleFile(isam::AccessLayer& access, isam::BlockHandle block,
                         const DataFileDef& file, ProgressSink& progress,
                         RepairReport* reportTo) {
  WalkStats stats;
  // Stopped before this file: it is neither walked nor counted as finished; the module's
  // close steps follow as after a complete walk.
  if (progress.StopRequested()) return stats;

  // One read-ahead buffer per file and lists that grow to the largest run, nothing per
  // record. Buffers are sized by the slot length the file declares, so a file made with
  // a different record length is still read whole; money fields that would lie beyond
  // its slots are not looked at.
  size_t slotLength = static_cast<size_t>(file.recordLength);
  const int32_t declared = block ? access.engine().SlotLength(block) : 0;
  if (declared > 0 && declared <= isam::kMaxRecordLength) slotLength = static_cast<size_t>(declared);
  std::span<const uint16_t> fields = file.moneyOffsets;
  while (!fields.empty() && fields.back() + static_cast<size_t>(kMoneySize) > slotLength) {
    fields = fields.first(fields.size() - 1);
  }

  std::vector<int32_t> records;
  std::vector<isam::RepairOutcome> outcomes;
  Resets resets;
  std::vector<ResetField> lines;  // the report lines of one run
  std::vector<ResetField> ahead;  // the lines of the record about to be written
  bool reportFailed = false;      // the report could not be written ahead: nothing more is
  // Zeroes the unsound fields of a slot read under the locks and keeps what they held.
  // Their lines and the slot's fingerprint reach the report, on disk, before the record
  // is written; when they cannot, the record is not written (0) and the run ends.
  const isam::RecordFix fix = [&](int32_t recordNumber, std::span<uint8_t> slot) {
    const auto at = std::lower_bound(records.begin(), records.end(), recordNumber);
    if (reportFailed || at == records.end() || *at != recordNumber || slot.size() < slotLength) return 0;
    const size_t k = static_cast<size_t>(at - records.begin());
    resets.fixed[k] = 1;
    resets.start[k] = resets.offsets.size();
    for (uint16_t offset : fields) {
      uint8_t* field = slot.data() + offset;
      uint8_t original[kMoneySize];
      std::memcpy(original, field, kMoneySize);
      bool changed = false;
      CheckMoneyField(field, changed);
      if (changed) resets.Add(offset, original);
    }
    resets.count[k] = resets.offsets.size() - resets.start[k];
    if (reportTo != nullptr && resets.count[k] > 0) {
      ahead.clear();
      for (size_t e = resets.start[k]; e < resets.start[k] + resets.count[k]; ++e)
        ahead.push_back({recordNumber, resets.offsets[e], &resets.originals[e * kMoneySize], LeftReason::kNone});
      if (!reportTo->WriteAhead(file.baseName, recordNumber, ahead, slot.first(slotLength))) {
        reportFailed = true;
        return 0;
      }
    }
    return static_cast<int>(resets.count[k]);
  };

  // Records another station held: set aside with the slot as the read-ahead found it,
  // and tried again after the rest of the file. A record whose very read the other
  // station's lock refused (where locks are mandatory) was never judged: it is set aside
  // without bytes, and judged under its locks when its turn comes.
  std::vector<int32_t> held;
  std::vector<uint8_t> heldBytes;   // slotLength bytes per held record
  std::vector<uint8_t> heldJudged;  // per held record: its bytes are the read-ahead's
  auto setAside = [&](int32_t r, const uint8_t* readAhead) {
    held.push_back(r);
    heldJudged.push_back(readAhead != nullptr ? 1 : 0);
    if (readAhead != nullptr) {
      heldBytes.insert(heldBytes.end(), readAhead, readAhead + slotLength);
    } else {
      heldBytes.resize(heldBytes.size() + slotLength);
    }
  };
  auto report = [&] {
    if (reportTo != nullptr && !lines.empty()) reportTo->FieldsReset(file.baseName, lines);
  };
  auto addFields = [&](int32_t r, const uint8_t* readAhead, LeftReason left) {
    if (readAhead == nullptr) {
      // Never judged: its fields are unknown. The lines before it go out first, so the
      // report keeps record order.
      report();
      lines.clear();
      if (reportTo != nullptr) reportTo->RecordUnread(file.baseName, r, left);
      return;
    }
    for (uint16_t offset : fields) {
      if (!IsMoneySound(readAhead + offset)) lines.push_back({r, offset, readAhead + offset, left});
    }
  };
  // Counts and reports what RepairRecordsAt did with `records`; readAhead(k) is the
  // slot of records[k] as judged before the locks (null: never judged). A held record
  // is set aside; what is still set aside at the end is left as LOCKED (leaveHeld).
  auto settle = [&](const auto& readAhead) {
    lines.clear();
    for (size_t k = 0; k < records.size(); ++k) {
      const int32_t r = records[k];
      LeftReason left = LeftReason::kNone;
      switch (outcomes[k]) {
        case isam::RepairOutcome::kWritten:
          progress.AddRepair();
          ++stats.repaired;
          break;
        case isam::RepairOutcome::kNothingToDo:  // another station mended it
        case isam::RepairOutcome::kDeleted:      // deleted meanwhile
          continue;
        case isam::RepairOutcome::kLocked:
          setAside(r, readAhead(k));
          continue;
        case isam::RepairOutcome::kReadFailed:
          left = LeftReason::kReadFailed;
          break;
        case isam::RepairOutcome::kFailed:
          left = LeftReason::kWriteFailed;
          break;
      }
      if (left != LeftReason::kNone) {
        ++stats.notWritten;
        progress.AddLeft();
      }
      if (resets.fixed[k] && left == LeftReason::kNone && reportTo != nullptr) continue;  // written ahead
      if (resets.fixed[k]) {
        // What the read under the locks found.
        for (size_t e = resets.start[k]; e < resets.start[k] + resets.count[k]; ++e) {
          lines.push_back({r, resets.offsets[e], &resets.originals[e * kMoneySize], left});
        }
      } else {
        addFields(r, readAhead(k), left);  // never judged under the locks
      }
    }
    report();
    if (reportFailed) reportTo->ThrowWriteFailure();  // before any further data write
  };
  // The records still set aside when the run ends or unwinds: left as LOCKED.
  auto leaveHeld = [&] {
    lines.clear();
    for (size_t i = 0; i < held.size(); ++i) {
      addFields(held[i], heldJudged[i] ? heldBytes.data() + i * slotLength : nullptr, LeftReason::kLocked);
    }
    report();
    stats.notWritten += static_cast<int32_t>(held.size());
    progress.AddLeft(static_cast<int32_t>(held.size()));
    held.clear();
    heldBytes.clear();
    heldJudged.clear();
  };

  if (block != nullptr) {
    if (reportTo != nullptr) reportTo->FileWalked(file.baseName, static_cast<int32_t>(slotLength));
    try {
      const bool walked = WalkRuns(access, block, file, slotLength, fields, stats, progress, [&](const Run& run, const RunJudgement& judged) {
        for (int32_t r : run.unread) {
          // Not judged at all: it may hold damage that is still there.
          if (reportTo != nullptr) reportTo->RecordUnread(file.baseName, r, LeftReason::kReadFailed);
          progress.AddLeft();
        }
        for (int32_t r : run.held) setAside(r, nullptr);
        if (judged.unsound.empty()) return;
        records.resize(judged.unsound.size());
        for (size_t k = 0; k < records.size(); ++k) records[k] = run.first + judged.unsound[k];
        outcomes.assign(records.size(), isam::RepairOutcome::kFailed);
        resets.Begin(records.size());
        access.RepairRecordsAt(block, records, fix, outcomes);
        settle([&](size_t k) { return run.bytes.data() + static_cast<size_t>(records[k] - run.first) * slotLength; });
      });
      if (!walked || stats.damagedHeader) {
        // Not one record could be judged, or slots the header promises are not there:
        // the file counts as one left, reported as record 0 (its header), rather than as
        // a file without damage.
        if (reportTo != nullptr) reportTo->RecordUnread(file.baseName, 0, LeftReason::kReadFailed);
        progress.AddLeft();
        if (stats.damagedHeader) progress.AddDamaged();
      }

      // The held records again. A stop leaves them at once, counted as left.
      HeldRounds rounds(access.Settings(), progress, file.baseName);
      std::vector<int32_t> pending;
      std::vector<uint8_t> pendingBytes;
      std::vector<uint8_t> pendingJudged;
      rounds.Run([&] { return held.empty() ? 0 : held.front(); }, [&](int round) {
        pending.swap(held);
        pendingBytes.swap(heldBytes);
        pendingJudged.swap(heldJudged);
        held.clear();
        heldBytes.clear();
        heldJudged.clear();
        for (size_t i = 0; i < pending.size(); ++i) {
          const uint8_t* readAhead = pendingJudged[i] ? pendingBytes.data() + i * slotLength : nullptr;
          if (rounds.TimeUp()) {
            setAside(pending[i], readAhead);  // no time left: stays held
            continue;
          }
          rounds.Announce(pending[i], round);
          records.assign(1, pending[i]);
          outcomes.assign(1, isam::RepairOutcome::kFailed);
          resets.Begin(1);
          access.RepairRecordsAt(block, records, fix, outcomes);
          settle([&](size_t) { return readAhead; });
        }
      });
    } catch (...) {
      // The user ended the run at a read's lock question: what was set aside is still
      // reported and counted as left.
      leaveHeld();
      throw;
    }
    leaveHeld();
  }

  // A file cut short by a stop is not a finished step of the bar.
  if (!progress.StopRequested()) progress.Step(ModuleCode(file.module), file.baseName);
  return stats;
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
