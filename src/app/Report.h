// The repair report: KVFIX207-<yyyymmdd>-<hhmmss>.LOG in the company directory. One
// header line per run, then one line per money field that was reset, each written as it
// happens, so a run that ends early still leaves the record of what it changed. The
// header is forced to disk before anything is changed and the whole report when it is
// closed; a forced write per line would cost a disk (or network) round trip per repaired
// field, more than the repair itself, while the repaired records are not forced either.
// A field of a record the run had to leave ends with the reason (LOCKED, READ FAILED,
// WRITE FAILED); a slot that could not be read at all gets one line of its own.
// The lines of a file follow one "FILE\t<name>\tSLOT\t<slot length>" line, so an undo
// can tell whether the files it finds are the ones the report speaks of.
// Text is UTF-8, lines end in CR LF like the suite's own text files.
//
// Written ahead of the data: the lines of a record's fields, and the record's
// fingerprint ("<file>\t<record>\tCRC32C\t<8 hex digits>", the CRC-32C of the whole
// slot as the repair writes it), are written and forced to disk before the record is
// (one force for the records the walk writes under one lock); when that fails those
// records are not written and the run ends early (ReportWriteFailed), so the report
// holds exactly the fields written. A field of a record that then could
// not be written follows again with its reason, which takes its first line back.
// Every write ends in "SUM\t<8 hex digits>", the CRC-32C of every byte of the report
// before that line: an undo refuses a report that was edited. The last line before the
// final sum is the outcome: "END\tCOMPLETED", "END\tLEFT\t<records>", "END\tSTOPPED" or
// "END\tENDED EARLY"; a report without it is one of a run that was killed, whose lines
// up to its last sum still count. A file kept beside under another name (an index
// whose data file was missing, a .DAT that --restore-temp replaced) has a line
// "KEPT\t<name>\t<kept as>\t<why>". Control characters in the directory of the
// first line are written as \xNN.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "modules/Progress.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/PlainFile.h"

namespace kv::app {

inline constexpr std::string_view kRepairReportPrefix = "KVFIX207-";
// The first line of a repair report, up to the date.
inline constexpr std::string_view kRepairReportTitle = "KVFIX207 repair report ";

// "KVFIX207-20261208-215559.LOG"; with a suffix above 1, "KVFIX207-20261208-215559-2.LOG".
std::string ReportFileName(const platform::LocalTime& time, int suffix = 1,
                           std::string_view prefix = kRepairReportPrefix);

// The report could not be created: nothing may be changed then. The message names the
// report's path and the reason the system gave.
class ReportCreateError : public platform::IoError {
 public:
  ReportCreateError(int32_t code, std::string path) : IoError(code, std::move(path)) {}
  std::string Message() const;  // CP874
};

// The stored value of a 10-byte extended amount as text: "NaN", "+Inf", "-Inf", a
// number in scientific form, or "invalid" for an encoding that is no number at all.
std::string ExtendedValueText(const uint8_t* field);

// "7FFF..." : the bytes in file order as upper-case hex digits.
std::string HexBytes(const uint8_t* bytes, size_t count);

// A repair report as an undo reads it back.
struct ReportedField {
  std::string file;  // base name, e.g. "GLFILE01"
  int32_t record = 0;
  int offset = 0;
  std::array<uint8_t, 10> original{};
};
struct ReportedSlot {
  std::string file;
  int32_t record = 0;
  uint32_t crc = 0;  // CRC-32C of the whole slot as the repair wrote it
};
struct ReportContents {
  std::vector<std::pair<std::string, int32_t>> slotLengths;  // per file, in report order
  std::vector<ReportedField> written;  // fields the repair wrote, in report order
  std::vector<ReportedSlot> fingerprints;  // per written record, in report order
  int64_t notWritten = 0;              // lines of fields or records the repair left
  bool tornLine = false;               // a last line without its end was ignored
  std::string directory;               // the company directory the first line names (UTF-8, unescaped)
  bool sealed = false;                 // it carries sums (made by a version that writes them)
  bool sumsMatch = true;               // every sum matches the bytes before it
  int64_t unsealedLines = 0;           // whole lines after the last sum (a write cut short): ignored
  std::string outcome;                 // the END line's outcome ("COMPLETED", "LEFT 3", ...), empty: none
};

// `text` with every control character (and DEL) written as \xNN, and the reverse.
std::string EscapeControls(std::string_view text);
std::string UnescapeControls(std::string_view text);

// Reads the text of a repair report. A report with sums counts only the lines up to its
// last sum (a block cut short by a killed run or a failed write was never acted on);
// a sum that does not match sets sumsMatch false (the caller decides). Only whole lines count: a last line without its
// line end (a run killed while writing it) is ignored, since a cut could drop the reason
// that says its field was never written. False, with `error` (UTF-8) saying what and on
// which line, for a text that is no repair report, a line that cannot be read, a field
// of a file without its slot length, or a field listed as written twice.
// With `everyLine`, every whole line counts, sums or not (a report forced past its sums).
bool ParseRepairReport(std::string_view text, ReportContents& out, std::string& error, bool everyLine = false);

// A report file of this program: always a new file in the directory given (empty for
// the current directory), named <prefix><yyyymmdd>-<hhmmss>.LOG; a run in the same second
// as another gets the next free suffix, so an older report is never opened. Its first
// line (title, time, directory) and the column line are forced to disk at once; the rest
// when it is forced or closed. Throws ReportCreateError when no report can be created or
// its first lines cannot be written.
class ReportWriter {
 public:
  ReportWriter(const std::string& directory, const platform::LocalTime& time, std::string_view prefix,
               std::string_view title, std::string_view columns);
  ~ReportWriter();  // forces the report to disk
  ReportWriter(const ReportWriter&) = delete;
  ReportWriter& operator=(const ReportWriter&) = delete;

  void Append(const std::string& line);
  // Appends `text` (whole lines, each ending in CR LF) and its sum line with one write;
  // false when it could not be written. After a failure nothing more is written (a
  // partly written block is cut off again), except the closing line.
  bool AppendText(const std::string& text);
  bool Force();
  // Where the report ends now, to force from or take back to.
  struct Mark {
    uint64_t end = 0;
    uint32_t crc = 0;
  };
  Mark Here() const { return {end_, crc_}; }
  // Force; what was appended since `mark` is cut off again when that fails (false).
  bool ForceSince(const Mark& mark);
  // AppendText and Force; a block that could not be forced is cut off again (false).
  bool AppendForced(const std::string& text);
  // The closing line ("END\t<outcome>") and the report forced to disk; once.
  void Close(std::string_view outcome);

  const std::string& Path() const { return path_; }
  // A line could not be written (the run went on; the front end may say so).
  bool WriteFailed() const { return writeFailed_; }
  // The system's number for the failed write or flush.
  int32_t LastError() const { return lastError_; }

 private:
  platform::File file_;
  std::string path_;
  uint64_t end_ = 0;
  uint32_t crc_ = 0;  // CRC-32C of the bytes up to end_
  bool writeFailed_ = false;
  bool closed_ = false;
  bool closing_ = false;
  int32_t lastError_ = 0;  // the system's number for the last failed write or flush
};

// The report could not be written ahead of a record: what() (CP874) names the report
// and the reason; the run ends before any further data write.
class ReportWriteError : public modules::ReportWriteFailed {
 public:
  ReportWriteError(int32_t code, const std::string& path);
};

// Hears what a repair's report records as it becomes final, for output a script reads
// (repair --json) without parsing the report: each field of a written record, and each
// field or record the run left, with the reason. The lines of a file are told when the
// walk moves on to the next file or the report closes: a field written ahead of its
// record is taken back when that record's write then fails, and is told as left only.
class ReportObserver {
 public:
  virtual ~ReportObserver() = default;
  // `left` kNone: the field was written (reset to zero). `original` null (and `offset`
  // 0): a record that could not be judged at all (its read failed, or another station
  // held it throughout).
  virtual void Reported(std::string_view file, int32_t record, int offset, const uint8_t* original,
                        modules::LeftReason left) = 0;
};

class ReportFile : public modules::RepairReport {
 public:
  // Creates a new report in `directory` (the company directory; empty for the current
  // directory) and writes the header line (see ReportWriter).
  ReportFile(const std::string& directory, const platform::LocalTime& time);
  ~ReportFile() override;

  void FieldReset(std::string_view file, int32_t record, int offset, const uint8_t* original,
                  modules::LeftReason left) override;
  void FieldsReset(std::string_view file, std::span<const modules::ResetField> fields) override;
  void RecordUnread(std::string_view file, int32_t record, modules::LeftReason why) override;
  void FileWalked(std::string_view file, int32_t slotLength) override;
  bool WriteAhead(std::string_view file, int32_t record, std::span<const modules::ResetField> fields,
                  std::span<const uint8_t> slot) override;
  bool ForceAhead() override;
  void ThrowWriteFailure() const override;
  // A file kept beside under another name instead of being replaced or deleted.
  void FileKept(std::string_view name, std::string_view keptAs, std::string_view why);
  // The closing line: "COMPLETED", "LEFT <n>", "STOPPED", "ENDED EARLY" (the default when
  // the report is destroyed without it).
  void Close(std::string_view outcome) {
    TellObserver();
    out_.Close(outcome);
  }
  // Set before the run; null for none. It must outlive the report.
  void SetObserver(ReportObserver* observer) { observer_ = observer; }

  const std::string& Path() const { return out_.Path(); }
  bool WriteFailed() const { return out_.WriteFailed(); }

 private:
  static void AddLine(std::string& text, std::string_view file, int32_t record, int offset,
                      const uint8_t* original, modules::LeftReason left);
  // The slot-length line of the file being walked, once, before its first line.
  void AddFileLine(std::string& text, std::string_view file);

  // The observer's lines of the file being walked, and their telling.
  void Observe(std::string_view file, int32_t record, int offset, const uint8_t* original, modules::LeftReason left);
  void TellObserver();
  struct Observed {
    std::string file;
    int32_t record = 0;
    int offset = 0;
    bool haveBytes = false;
    std::array<uint8_t, 10> original{};
    modules::LeftReason left = modules::LeftReason::kNone;
  };

  ReportWriter out_;
  ReportObserver* observer_ = nullptr;
  std::vector<Observed> observed_;
  ReportWriter::Mark ahead_;  // where the lines written ahead and not yet forced begin
  size_t aheadObserved_ = 0;  // observed_'s length there
  bool aheadPending_ = false;
  std::string walkedFile_;  // the file being walked and its slot length
  int32_t walkedSlot_ = 0;
  bool fileLineDue_ = false;
};

}  // namespace kv::app
