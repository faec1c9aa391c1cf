// Undoing a repair from its report: every money field the report lists as written gets
// its original bytes back, as long as its record is still exactly as the repair wrote it
// (the report's fingerprint of the slot, a CRC-32C, matches). A field of a record that
// changed since (the suite or a later run wrote it) is left as it is and listed, unless
// it holds its original bytes already (ALREADY PUT BACK: an undo before this one). Records are read afresh and written under their record lock and the block
// lock, in batches, exactly as a repair writes them, so what other stations write in
// the meantime is never lost.
//
// Only the money fields come back: the bookkeeping a repair does besides (dates in the
// information records, defaults in the side files) stays.
//
// The undo writes its own report beside the repair's, KVFIX207-UNDO-<date>-<time>.LOG:
// one line per field with what became of it. UI-neutral, like the repair run.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/Report.h"
#include "ui/Dialogs.h"

namespace kv::modules {
class ProgressSink;
}

namespace kv::app {

inline constexpr std::string_view kUndoReportPrefix = "KVFIX207-UNDO-";
inline constexpr std::string_view kUndoReportTitle = "KVFIX207 undo report ";

enum class UndoOutcome : uint8_t {
  kPutBack,      // the original bytes are back (a dry run: would be)
  kAlreadyBack,  // the field holds its original bytes already (an undo before): done
  kChanged,      // the record is no longer as the repair left it: left
  kDeleted,      // the record was deleted since: left
  kLocked,       // another station held the record past the waits: left
  kReadFailed,   // the record could not be read: left
  kWriteFailed,  // the write failed; the record keeps its bytes: left
  kStopped,      // the undo was stopped before this field was tried: left
};

// "PUT BACK", "ALREADY PUT BACK", "CHANGED SINCE", "RECORD DELETED", "LOCKED", "READ FAILED",
// "WRITE FAILED".
std::string_view UndoOutcomeText(UndoOutcome outcome);

// One field of the report and what became of it. `now` holds the field's bytes as found
// under the locks, when they were read.
struct UndoLine {
  const ReportedField* field = nullptr;
  UndoOutcome outcome = UndoOutcome::kPutBack;
  bool haveNow = false;
  std::array<uint8_t, 10> now{};
};

// The question before an undo (CP874), asked as ui::Question::kUndo.
std::string UndoQuestionText(int64_t fields, int files);

class UndoRun {
 public:
  explicit UndoRun(ui::Dialogs& dialogs);
  ~UndoRun();  // Close()
  UndoRun(const UndoRun&) = delete;
  UndoRun& operator=(const UndoRun&) = delete;

  // Reads the repair report at `reportPath` (CP874) and checks it against the company
  // directory it lies in: every file it names must be one a repair writes, exist there
  // (it is never created) with the slot length the report gives, and open under the
  // engine in network mode. Changes into that directory. False: the undo is refused
  // and nothing was written; `error` (CP874, as every message of the core) says why (a
  // file that would not open also had its messages shown through the dialogs).
  // Refused as well: a report whose sums do not match (edited since the repair wrote
  // it) or that has none (edited, or made before reports had them), unless
  // AcceptEdited; a report whose first line names another company directory than the
  // one it lies in, unless AcceptMoved. A report without its closing line (a run that
  // was killed) is undone up to its last sum.
  bool Prepare(const std::string& reportPath, std::string& error);
  // Set before Prepare.
  void AcceptEdited(bool on) { acceptEdited_ = on; }
  void AcceptMoved(bool on) { acceptMoved_ = on; }
  // The report's outcome line ("COMPLETED", "LEFT 3", ...); empty when it has none.
  const std::string& ReportOutcome() const;
  // Whole lines after the report's last sum, ignored (a write the run did not finish).
  int64_t UnsealedLines() const;

  // Fields the report lists as written, and the files they lie in.
  int64_t FieldCount() const;
  int FileCount() const;
  // Lines of the report for fields or records the repair itself left (nothing to undo).
  int64_t NotWrittenCount() const;
  bool TornLine() const;

  // How long, per file, records another station holds are tried again, in how many
  // rounds (as for a repair).
  void SetHeldRecordWait(int32_t milliseconds, int32_t rounds);

  // After Prepare. With `dryRun`, each field is judged as it stands and nothing is
  // written, no report made. Otherwise the undo report is made first (ReportCreateError
  // when it cannot be: nothing changed), then the fields are put back. `onLine` hears of
  // every field. `progress`, when given, hears of the waits for held records, and its
  // stop ends the undo between batches and in every wait (the fields not tried are left
  // as kStopped). May throw ui::EndRun (a read's lock question answered No); the caller
  // then calls Close().
  void PutBack(bool dryRun, const std::function<void(const UndoLine&)>& onLine,
               modules::ProgressSink* progress = nullptr);

  int64_t PutBackCount() const { return putBack_; }
  // Fields that held their original bytes already (counted as done, not as left).
  int64_t AlreadyBackCount() const { return alreadyBack_; }
  int64_t LeftCount() const { return left_; }
  // The undo report of the last PutBack, empty for a dry run.
  const std::string& ReportPath() const { return reportPath_; }
  // A line of the undo report could not be written.
  bool ReportWriteFailed() const { return reportWriteFailed_; }

  // Closes every file, stops the engine (releasing every lock) and returns to the
  // directory Prepare started from.
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int64_t putBack_ = 0;
  int64_t alreadyBack_ = 0;
  int64_t left_ = 0;
  bool acceptEdited_ = false;
  bool acceptMoved_ = false;
  std::string reportPath_;
  bool reportWriteFailed_ = false;
};

}  // namespace kv::app
