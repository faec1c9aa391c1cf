// The repair report: KVFIX207-<yyyymmdd>-<hhmmss>.LOG in the company directory. One
// header line per run, then one line per money field that was reset, each written as it
// happens, so a run that ends early still leaves the record of what it changed. The
// header is forced to disk before anything is changed and the whole report when it is
// closed; a forced write per line would cost a disk (or network) round trip per repaired
// field, more than the repair itself, while the repaired records are not forced either.
// A field of a record the run had to leave ends with the reason (LOCKED, READ FAILED,
// WRITE FAILED); a slot that could not be read at all gets one line of its own.
// Text is UTF-8, lines end in CR LF like the suite's own text files.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "modules/Progress.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/PlainFile.h"

namespace kv::app {

// "KVFIX207-20261208-215559.LOG"; with a suffix above 1, "KVFIX207-20261208-215559-2.LOG".
std::string ReportFileName(const platform::LocalTime& time, int suffix = 1);

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

class ReportFile : public modules::RepairReport {
 public:
  // Creates a new report in `directory` (the company directory; empty for the current
  // directory) and writes the header line. An older report is never opened: a run in
  // the same second as another gets the next free suffix. Throws ReportCreateError when
  // no report can be created or its header cannot be written.
  ReportFile(const std::string& directory, const platform::LocalTime& time);
  ~ReportFile() override;  // forces the report to disk
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;

  void FieldReset(std::string_view file, int32_t record, int offset, const uint8_t* original,
                  modules::LeftReason left) override;
  void FieldsReset(std::string_view file, std::span<const modules::ResetField> fields) override;
  void RecordUnread(std::string_view file, int32_t record) override;

  const std::string& Path() const { return path_; }
  // A line could not be written (the run went on; the front end may say so).
  bool WriteFailed() const { return writeFailed_; }

 private:
  void Append(const std::string& line);
  // Appends `text` (whole lines) with one write.
  void AppendText(const std::string& text);
  static void AddLine(std::string& text, std::string_view file, int32_t record, int offset,
                      const uint8_t* original, modules::LeftReason left);
  void Force();

  platform::File file_;
  std::string path_;
  uint64_t end_ = 0;
  bool writeFailed_ = false;
  int32_t lastError_ = 0;  // the system's number for the last failed write or flush
};

}  // namespace kv::app
