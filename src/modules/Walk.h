// The module walk: every live record of one data file, every money field of the
// file's list, each unsound field reset to zero and the record written back. FileWalk
// does it, one method per step:
//
//   1. Read ahead (ReadAhead): n := RecordCount; records 1 .. n-1 are visited in
//      ascending order (slot 0 is the file's header), read in runs (one engine call, one
//      temporary read lock); what cannot be read that way is read slot by slot. A record
//      that cannot be read is skipped; nothing is ever written from a buffer that was
//      not filled for it. Where locks are mandatory a run that covers a record another
//      station holds is refused: it is read again in halves around that record, and the
//      record is held (step 4), to be judged under its own locks.
//   2. Judge (Judge, on a second thread while the next run is read): a record whose
//      first four bytes are not 0 is deleted (they hold its free-chain link) and is
//      skipped; a live one with an unsound money field is to be repaired.
//   3. Repair a batch (RepairBatch): the live records of one read-ahead run that have an
//      unsound field are repaired together, in ascending order, under their record locks
//      and one file lock by AccessLayer::RepairRecordsAt, which reads each slot afresh and
//      judges it again (FixUnderLocks): a change another station made meanwhile is never
//      overwritten with what was read before the locks were taken.
//   4. Set held records aside (SetAside): a record another station holds past the
//      engine's lock wait is tried again after the rest of the file.
//   5. Retry held (RetryHeld): in AccessSettings::heldRecordRounds rounds spread over at
//      most heldRecordWaitMs (HeldRounds); the progress sink is told what the walk waits
//      for, and a stop ends the rounds.
//   6. Leave held (LeaveHeld): what is still held then is left, reported as LOCKED.
//   7. Count and report (Settle): the record counts once (repaired) when it was written,
//      however many fields were reset. A record with unsound fields that was not written
//      (still held, its read or its write failed), and a slot that could not be read at
//      all, counts as left; so does, once, a file whose record count cannot be had or
//      whose header promises slots the file does not hold (also counted as damaged).
//      Every reset field goes to the repair report, in record order: written ahead
//      (RepairReport::WriteAhead, with the slot's fingerprint) and forced to disk once
//      per locked run (ForceAhead) before any record of that run is written, and again
//      with the reason when its record was then left. When the report cannot take a
//      record's lines, that record and the later ones are not written, nor any record
//      of the run when the force fails, and the walk ends with ReportWriteFailed once
//      the records in hand are settled. When the user
//      ends the run at a read's lock question, the records set aside are reported and
//      counted as left first.
//   8. The progress bar advances by one, whether or not the file held records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "isam/Access.h"
#include "modules/BackgroundJob.h"
#include "modules/ModuleTables.h"
#include "modules/Progress.h"

namespace kv::modules {

struct WalkStats {
  int32_t visited = 0;      // live records judged
  int32_t deleted = 0;      // deleted slots skipped
  int32_t unreadable = 0;   // slots whose read failed (skipped), past the file's end too
  int32_t repaired = 0;     // records written back (and counted)
  int32_t notWritten = 0;   // records with unsound fields that were left: held, read or write failed
  // The header is damage: its slot count is impossible, or promises slots beyond the
  // end of the file (a file cut mid-slot too). Counted once as left and as damaged.
  bool damagedHeader = false;
  // What the run counts as left of this file: the records not written, the slots that
  // could not be read (not past its end), and the file itself once when not one record
  // could be judged or its header is damage.
  int32_t left = 0;

  RepairCounts Counts() const { return {repaired, left, damagedHeader ? 1 : 0}; }
};

// What the unlocked judging of one read-ahead run found.
struct RunJudgement {
  std::vector<int32_t> unsound;  // indexes in the run of live records with an unsound field, ascending
  int32_t visited = 0;           // live records
  int32_t deleted = 0;           // deleted slots
};

// Judges `count` consecutive slots of `slotLength` bytes held in `bytes` (at least
// count x slotLength long) by the money fields at `offsets` (each lying inside a slot).
// `out` is overwritten. Reads nothing but its arguments and writes nothing but `out`, so
// separate runs may be judged on separate threads.
void JudgeRun(std::span<const uint8_t> bytes, size_t slotLength, int32_t count,
              std::span<const uint16_t> offsets, RunJudgement& out);

// What the walks of a run read ahead into: two runs of slots of about 1 MiB each, one
// read while the other is judged on the second thread. Made once for a run and kept
// from file to file, so that no file pays for new buffers or a new thread.
struct WalkBuffers {
  std::vector<uint8_t> runs[2];
  BackgroundJob judging;
};

// The walk of one data file (see the steps above). `block` may be null (a file the
// module could not open): the walk then only advances the progress. `report` may be
// null.
class FileWalk {
 public:
  FileWalk(isam::AccessLayer& access, isam::BlockHandle block, const DataFileDef& file, ProgressSink& progress,
           RepairReport* report, WalkBuffers& buffers);
  ~FileWalk();
  FileWalk(const FileWalk&) = delete;
  FileWalk& operator=(const FileWalk&) = delete;

  // Walks the file once. A walk that throws (the user ended the run at a read's lock
  // question, the report could not be written ahead) has left what it held first.
  WalkStats Run();
  // What the walk has found and done so far, also after Run threw.
  const WalkStats& Stats() const { return stats_; }

 private:
  struct ReadRun;  // one read-ahead run of slots
  class Reader;    // hands out the file's runs in order

  // The fields one batch of repairs reset: for each record of the batch, where its
  // entries start in the flat lists and how many there are. Nothing is allocated per
  // record once the lists have grown to the largest batch.
  struct Resets {
    std::vector<uint16_t> offsets;
    std::vector<uint8_t> originals;  // kMoneySize bytes per entry
    std::vector<size_t> start;       // per record of the batch
    std::vector<size_t> count;
    std::vector<uint8_t> fixed;      // per record: judged under the locks
    void Begin(size_t records);
    void Add(uint16_t offset, const uint8_t* original);
  };
  // Records another station held, with their slots as the read-ahead found them (none
  // for a record whose very read was refused: it was never judged).
  struct Held {
    std::vector<int32_t> records;
    std::vector<uint8_t> bytes;   // slotLength bytes per record
    std::vector<uint8_t> judged;  // per record: its bytes are the read-ahead's
    void Add(int32_t record, const uint8_t* readAhead, size_t slotLength);
    const uint8_t* ReadAhead(size_t i, size_t slotLength) const;
    void Clear();
  };

  // Step 1 with steps 2, 3 and 8's notice per run: false when the file's record count
  // could not be had, so that nothing was walked.
  bool ReadAhead();
  // Step 3: the unsound records of `run` under their locks.
  void RepairBatch(const ReadRun& run, const RunJudgement& judged);
  // Repairs records_ (their read-ahead slots in ahead_, null where never judged) under
  // their locks, then counts and reports what became of them.
  void RepairRecords();
  // Step 3, under the locks: zeroes the unsound fields of `slot` and writes their lines
  // and the slot's fingerprint ahead; how many it zeroed (0: not to be written).
  int FixUnderLocks(int32_t record, std::span<uint8_t> slot);
  // Step 3, before the locked run's writes: what was written ahead reaches the disk.
  bool ForceAhead();
  // Step 4.
  void SetAside(int32_t record, const uint8_t* readAhead) { held_.Add(record, readAhead, slotLength_); }
  // Steps 5 and 6.
  void RetryHeld();
  void LeaveHeld();
  // Step 7: what RepairRecordsAt did with records_.
  void Settle();
  // The report lines of a record left as `left`, as judged before the locks.
  void AddFields(int32_t record, const uint8_t* readAhead, LeftReason left);
  void FlushLines();
  // The file counts as one left (reported as record 0, its header).
  void LeaveFile();

  isam::AccessLayer& access_;
  const isam::BlockHandle block_;
  const DataFileDef& file_;
  ProgressSink& progress_;
  RepairReport* const report_;
  WalkBuffers& buffers_;
  size_t slotLength_ = 0;              // as the file declares it
  std::span<const uint16_t> fields_;   // the money fields that lie within a slot
  WalkStats stats_;

  std::vector<int32_t> records_;                // the batch being repaired, ascending
  std::vector<const uint8_t*> ahead_;           // per record of the batch: its read-ahead slot
  std::vector<isam::RepairOutcome> outcomes_;
  Resets resets_;
  std::vector<ResetField> lines_;  // the report lines of one batch
  std::vector<ResetField> lineup_; // the lines of the record being written ahead
  bool reportFailed_ = false;      // the report could not be written ahead: nothing more is
  Held held_;
};

// One FileWalk of `file`, with buffers of its own.
WalkStats WalkModuleFile(isam::AccessLayer& access, isam::BlockHandle block, const DataFileDef& file,
                         ProgressSink& progress, RepairReport* reportTo);

}  // namespace kv::modules
