// Undoing a repair from its report.
//
// Prepare (nothing is written until every check has passed):
//   1. read the report: whole lines only, a torn last line ignored, only the lines up
//      to its last checksum line; its checksums must match (else AcceptEdited) and its
//      first line name the directory it lies in (else AcceptMoved);
//   2. every file it names is a walked module file with the table's slot length, and
//      every written field lies on one of that file's money fields;
//   3. enter the report's directory; each file's data and index exist (an undo never
//      creates a file) and the data file's header gives the report's slot length;
//   4. start the engine in network mode and open every file through the access layer.
// PutBack:
//   1. the undo report first (nothing is changed unless its record can be kept);
//   2. file by file, the records in ascending order, kMaxRepairRun at a time through
//      RepairRecordsAt: under the record locks and the block lock each slot is read
//      afresh, and a field is given its original bytes back only when the slot is
//      exactly as the repair wrote it (the report's CRC-32C fingerprint of the slot; a
//      report from before fingerprints, forced: the field holds the ten zero bytes); a
//      field that holds its original bytes is ALREADY PUT BACK; a record with nothing
//      to put back is not written;
//   3. records another station holds are tried again after the rest of the file, in
//      the repair's held-record rounds, then left as LOCKED;
//   4. each batch's lines go to the undo report with one write;
//   5. a stop (Ctrl+C) is looked at between batches and in every wait: the fields not
//      yet tried are left as STOPPED, and the report is closed as for any other end.
#include "app/Undo.h"

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "isam/Access.h"
#include "isam/Coding.h"
#include "isam/Engine.h"
#include "isam/Errors.h"
#include "isam/Format.h"
#include "modules/HeldRounds.h"
#include "modules/ModuleTables.h"
#include "modules/MoneyCheck.h"
#include "platform/Clock.h"
#include "platform/Cp874.h"
#include "platform/Crc32c.h"
#include "platform/File.h"
#include "platform/PlainFile.h"
#include "platform/System.h"
#include "ui/NumberText.h"

namespace kv::app {

namespace {

constexpr int kPageBuffers = 500;

const std::string& UndoQuestionStart() {
  static const std::string text = platform::Th("ต้องการนำค่าเดิมกลับคืน ");
  return text;
}

bool HoldsRepairZero(const uint8_t* field) {
  return std::all_of(field, field + modules::kMoneySize, [](uint8_t b) { return b == 0; });
}


}  // namespace

std::string_view UndoOutcomeText(UndoOutcome outcome) {
  switch (outcome) {
    case UndoOutcome::kPutBack: return "PUT BACK";
    case UndoOutcome::kAlreadyBack: return "ALREADY PUT BACK";
    case UndoOutcome::kChanged: return "CHANGED SINCE";
    case UndoOutcome::kDeleted: return "RECORD DELETED";
    case UndoOutcome::kLocked: return "LOCKED";
    case UndoOutcome::kReadFailed: return "READ FAILED";
    case UndoOutcome::kWriteFailed: return "WRITE FAILED";
    case UndoOutcome::kStopped: return "STOPPED";
  }
  return {};
}

std::string UndoQuestionText(int64_t fields, int files) {
  return UndoQuestionStart() + ui::IntToText(fields) + platform::Th(" รายการ ใน ") + ui::IntToText(files) +
         platform::Th(" แฟ้ม");
}

struct UndoRun::Impl {
  explicit Impl(ui::Dialogs& d) : dialogs(d) {}

  struct FileWork {
    std::string name;
    int32_t slotLength = 0;
    isam::BlockHandle block = nullptr;
    std::vector<const ReportedField*> fields;  // by record, then offset
    std::map<int32_t, uint32_t> fingerprints;  // record -> CRC-32C of the slot as the repair wrote it
  };

  ui::Dialogs& dialogs;
  ReportContents report;
  std::string reportName;  // the repair report's file name, UTF-8
  std::string companyDir;
  std::string startDir;
  bool entered = false;
  std::vector<FileWork> files;
  std::optional<isam::Engine> engine;
  std::optional<isam::AccessLayer> access;
  int32_t heldWaitMs = isam::kHeldRecordWaitMs;
  int32_t heldRounds = isam::kHeldRecordRounds;

  bool Check(std::string& error);
  bool Open(std::string& error);
  void Close();
};

bool UndoRun::Impl::Check(std::string& error) {
  for (const auto& [name, slot] : report.slotLengths) {
    const modules::DataFileDef* def = modules::FindDataFile(name);
    if (def == nullptr || def->walkOrder == 0) {
      error = "the report names " + platform::Utf8ToCp874(name) + ", which is not a file a repair writes";
      return false;
    }
    if (slot != def->recordLength) {
      error = "the report gives " + name + " slots of " + std::to_string(slot) + " bytes; its records are " +
              std::to_string(def->recordLength) + " bytes long, so the report belongs to other data";
      return false;
    }
    files.push_back({name, slot, nullptr, {}, {}});
  }
  for (const ReportedField& f : report.written) {
    const modules::DataFileDef& def = *modules::FindDataFile(f.file);
    if (!std::binary_search(def.moneyOffsets.begin(), def.moneyOffsets.end(), static_cast<uint16_t>(f.offset))) {
      error = "the report lists " + f.file + " record " + std::to_string(f.record) + " offset " +
              std::to_string(f.offset) + ", which is no money field of that file";
      return false;
    }
    auto at = std::find_if(files.begin(), files.end(), [&](const FileWork& w) { return w.name == f.file; });
    at->fields.push_back(&f);
  }
  for (const ReportedSlot& slot : report.fingerprints) {
    auto at = std::find_if(files.begin(), files.end(), [&](const FileWork& w) { return w.name == slot.file; });
    if (at != files.end()) at->fingerprints[slot.record] = slot.crc;
  }
  for (FileWork& w : files) {
    std::sort(w.fields.begin(), w.fields.end(), [](const ReportedField* a, const ReportedField* b) {
      return a->record != b->record ? a->record < b->record : a->offset < b->offset;
    });
  }
  return true;
}

// In the company directory. Every file is looked at before any is opened, so a missing
// one refuses the undo before the engine has touched the others.
bool UndoRun::Impl::Open(std::string& error) {
  for (const FileWork& w : files) {
    for (const char* ext : {".DAT", ".IX"}) {
      if (!platform::FileExists(w.name + ext)) {
        error = w.name + ext + " is missing in " + companyDir +
                "; the report belongs to other data (an undo creates no file)";
        return false;
      }
    }
    platform::File data;
    uint8_t raw[isam::kDataHeaderSize] = {};
    size_t done = 0;
    platform::OsStatus rc = platform::File::Open(w.name + ".DAT", platform::Access::kReadOnly, platform::Share::kShared, data);
    if (!rc) rc = data.ReadAt(0, raw, sizeof raw, done);
    if (rc) {
      error = "cannot read " + w.name + ".DAT: " + platform::SystemErrorText(rc);
      return false;
    }
    // A file too short for its header has no slots of any length. Only the slot length
    // is the undo's to judge here; the open judges the rest of the header.
    const isam::DataHeader header = done == sizeof raw ? isam::DecodeDataHeader(raw) : isam::DataHeader{};
    if (isam::InspectDataHeader(header, w.slotLength, UINT64_MAX) == isam::DataHeaderFault::kSlotLength) {
      error = w.name + ".DAT has slots of " + std::to_string(header.slotLength) + " bytes, the report " +
              std::to_string(w.slotLength) + ": the report belongs to other data";
      return false;
    }
  }

  engine.emplace();
  engine->StartEngine(isam::EngineMode::kNetwork, kPageBuffers);
  if (!engine->LastOpOK()) {
    const int32_t code = engine->LastOpError();
    error = "the engine could not start: " + std::to_string(code) + " " + isam::ErrorText(code);
    engine.reset();
    return false;
  }
  access.emplace(*engine, dialogs, isam::AccessHooks{},
                 isam::AccessSettings{.saveMode = false,
                                      .flushAfterWrite = false,
                                      .heldRecordRounds = heldRounds,
                                      .heldRecordWaitMs = heldWaitMs});
  for (FileWork& w : files) {
    const modules::DataFileDef& def = *modules::FindDataFile(w.name);
    if (!access->OpenModuleFile(w.block, def.baseName, def.recordLength, def.keys.data(),
                                static_cast<int>(def.keys.size()))) {
      w.block = nullptr;
      error = w.name + " could not be opened";
      return false;
    }
  }
  return true;
}

void UndoRun::Impl::Close() {
  if (access) {
    for (FileWork& w : files) access->CloseModuleFile(w.block);
  }
  access.reset();
  if (engine) {
    if (engine->Initialised()) engine->StopEngine();
    engine.reset();
  }
  if (entered) {
    // Back to where the run started, on the way out: a failure leaves the process in the
    // company directory, which nothing after this relies on.
    (void)platform::ChangeDirectory(startDir);
    entered = false;
  }
}

UndoRun::UndoRun(ui::Dialogs& dialogs) : impl_(std::make_unique<Impl>(dialogs)) {}

UndoRun::~UndoRun() { Close(); }

void UndoRun::Close() {
  if (impl_) impl_->Close();
}

int64_t UndoRun::FieldCount() const { return static_cast<int64_t>(impl_->report.written.size()); }

int UndoRun::FileCount() const {
  return static_cast<int>(std::count_if(impl_->files.begin(), impl_->files.end(),
                                        [](const Impl::FileWork& w) { return !w.fields.empty(); }));
}

int64_t UndoRun::NotWrittenCount() const { return impl_->report.notWritten; }

const std::string& UndoRun::ReportOutcome() const { return impl_->report.outcome; }

int64_t UndoRun::UnsealedLines() const { return impl_->report.unsealedLines; }

bool UndoRun::TornLine() const { return impl_->report.tornLine; }

void UndoRun::SetHeldRecordWait(int32_t milliseconds, int32_t rounds) {
  impl_->heldWaitMs = milliseconds;
  impl_->heldRounds = rounds;
}

bool UndoRun::Prepare(const std::string& reportPath, std::string& error) {
  Impl& m = *impl_;
  m.Close();
  m.files.clear();
  std::string text;
  if (const platform::IoStatus rc = platform::ReadWholeFile(reportPath, text)) {
    error = "cannot read the report " + reportPath + ": " +
            platform::SystemErrorText(platform::OsErrorOf(rc.Code()));
    return false;
  }
  if (!ParseRepairReport(text, m.report, error, acceptEdited_)) {
    error = platform::Utf8ToCp874(error);  // it quotes the report, which is UTF-8
    return false;
  }
  if (!acceptEdited_ && !m.report.sealed) {
    error = "the report carries no checksum lines: it was edited, or made by an older version of the program; "
            "--accept-edited undoes it all the same (fields of records changed since are still left)";
    return false;
  }
  if (!acceptEdited_ && !m.report.sumsMatch) {
    error = "the report was changed after the repair wrote it (its checksum lines do not match its lines); "
            "--accept-edited undoes it all the same (fields of records changed since are still left)";
    return false;
  }
  const size_t slash = reportPath.find_last_of("/\\");
  m.companyDir = slash == std::string::npos ? std::string() : reportPath.substr(0, slash == 0 ? 1 : slash);
  m.reportName = platform::Cp874ToUtf8(slash == std::string::npos ? reportPath : reportPath.substr(slash + 1));
  if (!acceptMoved_ && !m.report.directory.empty()) {
    const std::string named = platform::Utf8ToCp874(m.report.directory);
    const std::string here = m.companyDir.empty() ? std::string(".") : m.companyDir;
    if (!platform::SameEntry(named, here)) {
      error = "the report is of the company in " + named + ", not of " + here +
              " where it lies: it belongs to other data; if the company was moved there, --accept-moved undoes it";
      return false;
    }
  }
  if (!m.Check(error)) return false;

  m.startDir = platform::CurrentDirectory();
  if (!m.companyDir.empty()) {
    if (m.startDir.empty()) {
      error = "the start directory cannot be named in code page 874";
      return false;
    }
    if (const platform::OsStatus cd = platform::ChangeDirectory(m.companyDir)) {
      error = "cannot enter " + m.companyDir + ": " + platform::SystemErrorText(cd);
      return false;
    }
    m.entered = true;
  }
  if (!m.Open(error)) {
    m.Close();
    return false;
  }
  return true;
}

namespace {

// The put-back of one file's reported fields: its records in ascending order, each with
// its fields, judged and written under the access layer's locks, held records tried
// again in rounds, and every field's outcome handed on and reported in record order.
class FilePutBack {
 public:
  using OnLine = std::function<void(const UndoLine&)>;

  FilePutBack(std::string name, int32_t slotLength, isam::BlockHandle block,
              const std::vector<const ReportedField*>& fields, const std::map<int32_t, uint32_t>& fingerprints,
              bool needFingerprint,
              isam::AccessLayer& access, ReportWriter* report, const OnLine& onLine, modules::ProgressSink& progress,
              int64_t& putBack, int64_t& alreadyBack, int64_t& left)
      : name_(std::move(name)), slotLength_(slotLength), block_(block), fingerprints_(fingerprints),
        needFingerprint_(needFingerprint), access_(access),
        report_(report), onLine_(onLine), progress_(progress), putBack_(putBack), alreadyBack_(alreadyBack), left_(left),
        lines_(fields.size()) {
    for (size_t i = 0; i < fields.size(); ++i) {
      lines_[i].field = fields[i];
      if (records_.empty() || records_.back() != fields[i]->record) {
        records_.push_back(fields[i]->record);
        firstField_.push_back(i);
      }
    }
    firstField_.push_back(fields.size());
  }

  // Reads and judges every record without writing.
  void DryRun() {
    std::vector<uint8_t> slot(static_cast<size_t>(slotLength_));
    for (size_t k = 0; k < records_.size(); ++k) {
      if (progress_.StopRequested()) {
        SetAll(k, UndoOutcome::kStopped);
        Emit({k});
        continue;
      }
      // A record another station holds cannot be read where locks are mandatory: it is
      // what a write would meet too, and a dry run does not wait for it.
      const isam::ReadOutcome read = access_.ReadRecordsAround(block_, records_[k], 1, slot);
      if (read == isam::ReadOutcome::kHeld) {
        SetAll(k, UndoOutcome::kLocked);
      } else if (read == isam::ReadOutcome::kFailed) {
        SetAll(k, UndoOutcome::kReadFailed);
      } else if (!isam::SlotIsLive(slot)) {
        SetAll(k, UndoOutcome::kDeleted);
      } else {
        Judge(k, slot, /*write=*/false);
      }
      Emit({k});
    }
  }

  // Puts back every record; held records again after the rest of the file, in the
  // repair's rounds. A stop leaves what was not tried as STOPPED.
  void Write() {
    std::vector<size_t> all(records_.size());
    for (size_t k = 0; k < all.size(); ++k) all[k] = k;
    Run(all);
    modules::HeldRounds rounds(access_.Settings(), progress_, name_);
    rounds.Run([&] { return held_.empty() ? 0 : records_[held_.front()]; }, [&](int round) {
      std::vector<size_t> again;
      again.swap(held_);
      for (size_t k : again) rounds.Announce(records_[k], round);
      Run(again);
    });
    for (size_t k : held_) SetAll(k, UndoOutcome::kLocked);
    std::sort(held_.begin(), held_.end());
    if (!held_.empty()) Emit(held_);
  }

 private:
  // Hands on the lines of records_[k] for k in `done`, with one report write.
  void Emit(const std::vector<size_t>& done) {
    std::string text;
    if (!fileLineDone_) {
      text += "FILE\t" + name_ + "\tSLOT\t" + std::to_string(slotLength_) + "\r\n";
      fileLineDone_ = true;
    }
    for (size_t k : done) {
      for (size_t i = firstField_[k]; i < firstField_[k + 1]; ++i) {
        const UndoLine& line = lines_[i];
        const ReportedField& f = *line.field;
        (line.outcome == UndoOutcome::kPutBack       ? putBack_
         : line.outcome == UndoOutcome::kAlreadyBack ? alreadyBack_
                                                     : left_) += 1;
        onLine_(line);
        text += f.file + '\t' + std::to_string(f.record) + '\t' + std::to_string(f.offset) + '\t' +
                HexBytes(f.original.data(), f.original.size()) + '\t' + ExtendedValueText(f.original.data()) + '\t';
        text += UndoOutcomeText(line.outcome);
        if (line.outcome == UndoOutcome::kChanged && line.haveNow) text += '\t' + HexBytes(line.now.data(), line.now.size());
        text += "\r\n";
      }
    }
    if (report_ != nullptr) report_->AppendText(text);
  }

  void SetAll(size_t k, UndoOutcome outcome) {
    for (size_t i = firstField_[k]; i < firstField_[k + 1]; ++i) lines_[i].outcome = outcome;
  }

  // Judges the fields of records_[k] in `slot`; with `write`, puts them back when the
  // slot is exactly as the repair wrote it (its fingerprint matches; a report without
  // one: the field holds the repair's zero). A field that holds its original bytes is
  // already back. Returns how many are put back.
  int Judge(size_t k, std::span<uint8_t> slot, bool write) {
    int count = 0;
    const auto fingerprint = fingerprints_.find(records_[k]);
    // A report that has fingerprints has one for every record it wrote: a record
    // without one is none the repair wrote (an edited line), never put back.
    const bool asWritten =
        fingerprint == fingerprints_.end()
            ? !needFingerprint_
            : platform::Crc32c(slot.data(), static_cast<size_t>(slotLength_)) == fingerprint->second;
    for (size_t i = firstField_[k]; i < firstField_[k + 1]; ++i) {
      UndoLine& line = lines_[i];
      uint8_t* field = slot.data() + line.field->offset;
      line.haveNow = true;
      std::copy(field, field + modules::kMoneySize, line.now.begin());
      if (std::equal(line.field->original.begin(), line.field->original.end(), field)) {
        line.outcome = UndoOutcome::kAlreadyBack;
      } else if (asWritten && HoldsRepairZero(field)) {
        if (write) std::copy(line.field->original.begin(), line.field->original.end(), field);
        line.outcome = UndoOutcome::kPutBack;
        ++count;
      } else {
        line.outcome = UndoOutcome::kChanged;
      }
    }
    return count;
  }

  // Puts back the fields of `which` (indices into records_, ascending), at most
  // kMaxRepairRun records under one block lock; held records go to held_.
  void Run(const std::vector<size_t>& which) {
    std::vector<int32_t> batch;
    std::vector<size_t> batchIndex;  // index into records_ per entry of batch
    std::vector<uint8_t> judged;
    const isam::RecordFix fix = [&](int32_t recordNumber, std::span<uint8_t> slot) {
      const auto at = std::lower_bound(batch.begin(), batch.end(), recordNumber);
      if (at == batch.end() || *at != recordNumber || slot.size() < static_cast<size_t>(slotLength_)) return 0;
      const size_t b = static_cast<size_t>(at - batch.begin());
      judged[b] = 1;
      return Judge(batchIndex[b], slot, /*write=*/true);
    };
    std::vector<isam::RepairOutcome> outcomes;
    std::vector<size_t> done;
    for (size_t from = 0; from < which.size(); from += isam::kMaxRepairRun) {
      const size_t n = std::min(isam::kMaxRepairRun, which.size() - from);
      if (progress_.StopRequested()) {
        done.assign(which.begin() + static_cast<std::ptrdiff_t>(from), which.end());
        for (size_t k : done) SetAll(k, UndoOutcome::kStopped);
        Emit(done);
        return;
      }
      batch.clear();
      batchIndex.clear();
      for (size_t j = from; j < from + n; ++j) {
        batchIndex.push_back(which[j]);
        batch.push_back(records_[which[j]]);
      }
      outcomes.assign(n, isam::RepairOutcome::kFailed);
      judged.assign(n, 0);
      access_.RepairRecordsAt(block_, batch, fix, outcomes);
      done.clear();
      for (size_t b = 0; b < n; ++b) {
        const size_t k = batchIndex[b];
        switch (outcomes[b]) {
          case isam::RepairOutcome::kWritten:
          case isam::RepairOutcome::kNothingToDo:
            break;  // as judged under the locks
          case isam::RepairOutcome::kDeleted:
            SetAll(k, UndoOutcome::kDeleted);
            break;
          case isam::RepairOutcome::kLocked:
            held_.push_back(k);
            continue;
          case isam::RepairOutcome::kReadFailed:
            SetAll(k, UndoOutcome::kReadFailed);
            break;
          case isam::RepairOutcome::kFailed:
          case isam::RepairOutcome::kHeldBack:  // (the undo holds no write back)
            // The slot keeps the bytes it had: what was to be put back was not.
            for (size_t i = firstField_[k]; i < firstField_[k + 1]; ++i) {
              if (!judged[b] || lines_[i].outcome == UndoOutcome::kPutBack) lines_[i].outcome = UndoOutcome::kWriteFailed;
            }
            break;
        }
        done.push_back(k);
      }
      Emit(done);
    }
  }

  const std::string name_;
  const int32_t slotLength_;
  isam::BlockHandle const block_;
  const std::map<int32_t, uint32_t>& fingerprints_;
  const bool needFingerprint_;
  isam::AccessLayer& access_;
  ReportWriter* const report_;
  const OnLine& onLine_;
  modules::ProgressSink& progress_;
  int64_t& putBack_;
  int64_t& alreadyBack_;
  int64_t& left_;
  std::vector<UndoLine> lines_;     // one per field, by record then offset
  std::vector<int32_t> records_;    // the records, ascending
  std::vector<size_t> firstField_;  // per record its first line; one past the last at the end
  std::vector<size_t> held_;        // records another station held at the last try
  bool fileLineDone_ = false;
};

}  // namespace

void UndoRun::PutBack(bool dryRun, const std::function<void(const UndoLine&)>& onLine,
                      modules::ProgressSink* progress) {
  Impl& m = *impl_;
  modules::ProgressSink quiet;  // no stop, nothing told
  modules::ProgressSink& sink = progress != nullptr ? *progress : quiet;
  putBack_ = alreadyBack_ = left_ = 0;
  reportPath_.clear();
  reportWriteFailed_ = false;
  if (!m.access) throw ui::EndRun(ui::EndReason::kNotReady);  // Prepare did not succeed
  const isam::ScopedConflictWatch watch(*m.access, modules::ConflictWatchFor(sink));

  std::optional<ReportWriter> report;
  if (!dryRun) {
    report.emplace(m.companyDir, platform::NowLocal(), kUndoReportPrefix, kUndoReportTitle,
                   "FILE\tRECORD\tOFFSET\tBYTES\tVALUE\tRESULT\tBYTES NOW");
    reportPath_ = report->Path();
    report->Append("UNDO OF\t" + m.reportName);
    report->Force();
  }
  for (const Impl::FileWork& w : m.files) {
    if (w.fields.empty()) continue;
    FilePutBack file(w.name, w.slotLength, w.block, w.fields, w.fingerprints, m.report.sealed, *m.access, report ? &*report : nullptr,
                     onLine, sink, putBack_, alreadyBack_, left_);
    if (dryRun) {
      file.DryRun();
    } else {
      file.Write();
    }
  }
  if (report) {
    report->Force();
    reportWriteFailed_ = report->WriteFailed();
    report->Close(left_ > 0 ? "LEFT\t" + std::to_string(left_) : "COMPLETED");
  }
}

}  // namespace kv::app
