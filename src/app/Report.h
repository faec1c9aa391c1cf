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
struct ReportContents {
  std::vector<std::pair<std::string, int32_t>> slotLengths;  // per file, in report order
  std::vector<ReportedField> written;  // fields the repair wrote, in report order
  int64_t notWritten = 0;              // lines of fields or records the repair left
  bool tornLine = false;               // a last line without its end was ignored
};

// Reads the text of a repair report. Only whole lines count: a last line without its
// line end (a run killed while writing it) is ignored, since a cut could drop the reason
// that says its field was never written. False, with `error` (UTF-8) saying what and on
// which line, for a text that is no repair report, a line that cannot be read, a field
// of a file without its slot length, or a field listed as written twice.
bool ParseRepairReport(std::string_view text, ReportContents& out, std::string& error);

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
  // Appends `text` (whole lines, each ending in CR LF) with one write.
  void AppendText(const std::string& text);
  void Force();

  const std::string& Path() const { return path_; }
  // A line could not be written (the run went on; the front end may say so).
  bool WriteFailed() const { return writeFailed_; }

 private:
  platform::File file_;
  std::string path_;
  uint64_t end_ = 0;
  bool writeFailed_ = false;
  int32_t lastError_ = 0;  // the system's number for the last failed write or flush
};

class ReportFile : public modules::RepairReport {
 public:
  // Creates a new report in `directory` (the company directory; empty for the current
  // directory) and writes the header line (see ReportWriter).
  ReportFile(const std::string& directory, const platform::LocalTime& time);

  void FieldReset(std::string_view file, int32_t record, int offset, const uint8_t* original,
                  modules::LeftReason left) override;
  void FieldsReset(std::string_view file, std::span<const modules::ResetField> fields) override;
  void RecordUnread(std::string_view file, int32_t record, modules::LeftReason why) override;
  void FileWalked(std::string_view file, int32_t slotLength) override;

  const std::string& Path() const { return out_.Path(); }
  bool WriteFailed() const { return out_.WriteFailed(); }

 private:
  static void AddLine(std::string& text, std::string_view file, int32_t record, int offset,
                      const uint8_t* original, modules::LeftReason left);
  // The slot-length line of the file being walked, once, before its first line.
  void AddFileLine(std::string& text, std::string_view file);

  ReportWriter out_;
  std::string walkedFile_;  // the file being walked and its slot length
  int32_t walkedSlot_ = 0;
  bool fileLineDue_ = false;
};

}  // namespace kv::app
