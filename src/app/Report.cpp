#include "app/Report.h"

#include <charconv>
#include <cmath>
#include <climits>
#include <cstdio>
#include <set>
#include <tuple>

#include "app/Version.h"
#include "isam/Access.h"
#include "isam/Coding.h"
#include "isam/Extended.h"
#include "platform/Cp874.h"
#include "platform/PlainFile.h"

namespace kv::app {

namespace {

// Suffixes tried for runs within one second before giving up; far more than can happen.
constexpr int kMaxReportSuffix = 999;

}  // namespace

std::string ReportFileName(const platform::LocalTime& t, int suffix, std::string_view prefix) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  std::string name = std::string(prefix) + buf;
  if (suffix > 1) name += "-" + std::to_string(suffix);
  return name + ".LOG";
}

std::string ReportCreateError::Message() const {
  return platform::Th("ไม่สามารถสร้างแฟ้มรายงาน ") + name() + ": " + platform::SystemErrorText(platform::OsErrorOf(code())) + " (" +
         std::to_string(code()) + ")";
}

std::string HexBytes(const uint8_t* bytes, size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

std::string ExtendedValueText(const uint8_t* field) {
  const long double value = isam::DecodeExtended(field);
  switch (isam::ClassifyExtended(field)) {
    case isam::ExtendedClass::kUnnormal:
    case isam::ExtendedClass::kPseudoInfinity:
    case isam::ExtendedClass::kPseudoNaN:
      return "invalid";
    case isam::ExtendedClass::kInfinity:
      return value < 0 ? "-Inf" : "+Inf";
    case isam::ExtendedClass::kNaN:
      return "NaN";
    default:
      break;
  }
  // 18 significant digits in the "1.23456789012345678e+09" form, the same in every
  // locale: the desktop program runs under the user's locale, the command line may not.
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 17);
  return std::string(buf, r.ptr);
}

ReportWriter::ReportWriter(const std::string& directory, const platform::LocalTime& t, std::string_view prefix,
                           std::string_view title, std::string_view columns) {
  std::string dir = directory;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  // A new file every time: another run's report (of the same second, or a leftover of
  // any kind under that name) is never written into.
  platform::OsStatus rc = platform::OsError::kFileExists;
  for (int suffix = 1; rc == platform::OsError::kFileExists && suffix <= kMaxReportSuffix; ++suffix) {
    path_ = dir + ReportFileName(t, suffix, prefix);
    rc = platform::File::Create(path_, /*replace=*/false, file_);
  }
  if (rc) throw ReportCreateError(rc.Code(), path_);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d ", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  // The version that wrote it, before the directory (which runs to the end of the line).
  Append(std::string(title) + stamp + "version " + std::string(VersionText()) + " " + platform::Cp874ToUtf8(directory));
  if (!writeFailed_) Append(std::string(columns));
  if (!writeFailed_) Force();
  if (writeFailed_) {
    // A report without its header is no report: it goes, and the run does not start.
    // The write's error is the one reported; closing and removing only tidy up.
    (void)file_.Close();
    (void)platform::DeleteFile(path_);
    throw ReportCreateError(lastError_, path_);
  }
}

ReportWriter::~ReportWriter() { Force(); }

void ReportWriter::Force() {
  if (!file_.IsOpen()) return;
  if (const platform::OsStatus rc = file_.Flush()) {
    writeFailed_ = true;
    lastError_ = rc.Code();
  }
}

void ReportWriter::Append(const std::string& line) { AppendText(line + "\r\n"); }

void ReportWriter::AppendText(const std::string& bytes) {
  size_t done = 0;
  const platform::OsStatus rc = file_.WriteAt(end_, bytes.data(), bytes.size(), done);
  end_ += done;
  if (rc || done != bytes.size()) {
    writeFailed_ = true;
    lastError_ = rc ? rc.Code() : platform::Code(platform::OsError::kDiskFull);
  }
}

ReportFile::ReportFile(const std::string& directory, const platform::LocalTime& t)
    : out_(directory, t, kRepairReportPrefix, kRepairReportTitle, "FILE\tRECORD\tOFFSET\tBYTES\tVALUE") {}

// A field of a record that was left carries the reason as a sixth column: LOCKED (another
// station held it past the waits), READ FAILED or WRITE FAILED. Its bytes are still the
// damaged ones on disk.
void ReportFile::AddLine(std::string& text, std::string_view file, int32_t record, int offset,
                         const uint8_t* original, modules::LeftReason left) {
  text += file;
  text += '\t' + std::to_string(record) + '\t' + std::to_string(offset) + '\t' + HexBytes(original, 10) + '\t' +
          ExtendedValueText(original);
  if (left != modules::LeftReason::kNone) {
    text += '\t';
    text += modules::LeftReasonText(left);
  }
  text += "\r\n";
}

void ReportFile::FileWalked(std::string_view file, int32_t slotLength) {
  walkedFile_ = file;
  walkedSlot_ = slotLength;
  fileLineDue_ = true;
}

// Only files with lines get one: a clean company's report stays two lines long.
void ReportFile::AddFileLine(std::string& text, std::string_view file) {
  if (!fileLineDue_ || file != walkedFile_) return;
  fileLineDue_ = false;
  text += "FILE\t";
  text += file;
  text += "\tSLOT\t" + std::to_string(walkedSlot_) + "\r\n";
}

void ReportFile::FieldReset(std::string_view file, int32_t record, int offset, const uint8_t* original,
                            modules::LeftReason left) {
  std::string line;
  AddFileLine(line, file);
  AddLine(line, file, record, offset, original, left);
  out_.AppendText(line);
}

// No field is known of a slot that could not be read: the offset, bytes and value
// columns stay empty.
void ReportFile::RecordUnread(std::string_view file, int32_t record) {
  std::string line;
  AddFileLine(line, file);
  line += file;
  line += '\t' + std::to_string(record) + "\t\t\t\t";
  line += modules::LeftReasonText(modules::LeftReason::kReadFailed);
  out_.AppendText(line + "\r\n");
}

// The lines of records repaired together go out with one write: a write per line cost
// more calls than the repairs themselves on a network share.
void ReportFile::FieldsReset(std::string_view file, std::span<const modules::ResetField> fields) {
  if (fields.empty()) return;
  std::string text;
  AddFileLine(text, file);
  for (const modules::ResetField& f : fields) AddLine(text, file, f.record, f.offset, f.original, f.left);
  out_.AppendText(text);
}

namespace {

constexpr std::string_view kRepairColumns = "FILE\tRECORD\tOFFSET\tBYTES\tVALUE";

std::vector<std::string_view> Columns(std::string_view line) {
  std::vector<std::string_view> out;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    out.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) return out;
    start = tab + 1;
  }
}

// A whole decimal number in [lo, hi], digits only.
bool ParseInt(std::string_view text, int64_t lo, int64_t hi, int64_t& value) {
  if (text.empty() || text.size() > 10) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value >= lo && value <= hi;
}

bool ParseHex(std::string_view text, std::array<uint8_t, 10>& bytes) {
  if (text.size() != 20) return false;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < 10; ++i) {
    const int hi = digit(text[2 * i]);
    const int lo = digit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  return true;
}

bool IsLeftReason(std::string_view text) {
  for (modules::LeftReason r : {modules::LeftReason::kLocked, modules::LeftReason::kReadFailed,
                                modules::LeftReason::kWriteFailed}) {
    if (text == modules::LeftReasonText(r)) return true;
  }
  return false;
}

}  // namespace

bool ParseRepairReport(std::string_view text, ReportContents& out, std::string& error) {
  out = ReportContents{};
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      out.tornLine = true;  // cut while it was written: what it said is not known
      break;
    }
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  if (lines.size() < 2 || lines[0].substr(0, kRepairReportTitle.size()) != kRepairReportTitle ||
      lines[1] != kRepairColumns) {
    error = "not a repair report of this program (its first two lines are not the title and the column names)";
    return false;
  }

  std::string section;  // the file of the last slot-length line
  std::set<std::tuple<std::string, int32_t, int>> seen;
  for (size_t n = 2; n < lines.size(); ++n) {
    const std::vector<std::string_view> c = Columns(lines[n]);
    auto fail = [&](const std::string& what) {
      error = "line " + std::to_string(n + 1) + " of the report: " + what;
      return false;
    };
    int64_t number = 0;
    if (c.size() == 4 && c[0] == "FILE" && c[2] == "SLOT") {
      if (c[1].empty() || !ParseInt(c[3], 1, isam::kMaxRecordLength, number)) return fail("a file line that cannot be read");
      section = c[1];
      bool known = false;
      for (auto& [file, slot] : out.slotLengths) {
        if (file != section) continue;
        if (slot != number) return fail("a second, different slot length for " + section);
        known = true;
      }
      if (!known) out.slotLengths.emplace_back(section, static_cast<int32_t>(number));
      continue;
    }
    if (c.size() != 5 && c.size() != 6) return fail("not a line of a repair report");
    if (c[0].empty() || c[0] != section) return fail("a line of " + std::string(c[0]) + " without its file's slot length");
    const bool left = c.size() == 6;
    if (left && !IsLeftReason(c[5])) return fail("an unknown reason '" + std::string(c[5]) + "'");
    if (left && c[2].empty() && c[3].empty() && c[4].empty()) {  // a slot that could not be read
      if (!ParseInt(c[1], 0, INT32_MAX, number)) return fail("a record number that cannot be read");
      ++out.notWritten;
      continue;
    }
    ReportedField field;
    field.file = c[0];
    if (!ParseInt(c[1], 1, INT32_MAX, number)) return fail("a record number that cannot be read");
    field.record = static_cast<int32_t>(number);
    if (!ParseInt(c[2], 4, isam::kMaxRecordLength - 10, number)) return fail("an offset that cannot be read");
    field.offset = static_cast<int>(number);
    // The value column is made from the bytes: a line whose two disagree was changed.
    if (!ParseHex(c[3], field.original) || ExtendedValueText(field.original.data()) != c[4])
      return fail("original bytes that cannot be read or that disagree with the value beside them");
    if (left) {
      ++out.notWritten;
      continue;
    }
    if (!seen.emplace(field.file, field.record, field.offset).second) return fail("a field listed as written twice");
    out.written.push_back(std::move(field));
  }
  return true;
}

}  // namespace kv::app
