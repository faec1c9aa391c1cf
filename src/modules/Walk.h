// The module walk: every live record of one data file, every money field of the
// file's list, each unsound field reset to zero and the record written back.
//
//   1. n := RecordCount; records 1 .. n-1 are visited in ascending order (slot 0 is the
//      file's header).
//   2. Slots are read ahead in runs (one engine call, one temporary read lock); what
//      cannot be read that way is read slot by slot. A record that cannot be read is
//      skipped; nothing is ever written from a buffer that was not filled for it. Where
//      locks are mandatory a run that covers a record another station holds is refused:
//      it is read again in halves around that record, and the record is held (step 5),
//      to be judged under its own locks.
//   3. A record whose first four bytes are not 0 is deleted (they hold its free-chain
//      link) and is skipped.
//   4. The live records of one read-ahead run that have an unsound field are repaired
//      together, in ascending order, under their record locks and one file lock by
//      AccessLayer::RepairRecordsAt, which reads each slot afresh and judges it again:
//      a change another station made meanwhile is never overwritten with what was read
//      before the locks were taken.
//   5. A record another station holds past the engine's lock wait is set aside and
//      tried again after the rest of the file, in AccessSettings::heldRecordRounds rounds
//      spread over at most heldRecordWaitMs; the progress sink is told what the run
//      waits for. What is still held then is left.
//   6. The record counts once (RepairCount) when it was written, however many fields
//      were reset. A record with unsound fields that was not written (still held, its
//      read or its write failed), and a slot that could not be read at all, counts as
//      left (LeftCount); so does, once, a file whose record count cannot be had or
//      whose header promises slots the file does not hold (also counted as damaged).
//      Every reset field goes to the repair report, in record order: written ahead
//      (RepairReport::WriteAhead, with the slot's fingerprint) before its record is
//      written, and again with the reason when its record was then left. When the
//      report cannot take a record's lines, that record is not written and the walk
//      ends with ReportWriteFailed once the records in hand are settled. When the user ends the run at a read's lock question, the
//      records set aside are reported and counted as left first.
//   7. The progress bar advances by one, whether or not the file held records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "isam/Access.h"
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

WalkStats WalkModuleFile(isam::AccessLayer& access, isam::BlockHandle block,
                         const DataFileDef& file, ProgressSink& progress,
                         RepairReport* reportTo);

}  // namespace kv::modules
