#include "app/Report.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "isam/Coding.h"
#include "platform/Cp874.h"
#include "platform/PlainFile.h"

namespace kv::app {

namespace {

// Suffixes tried for runs within one second before giving up; far more than can happen.
constexpr int kMaxReportSuffix = 999;

}  // namespace

std::string ReportFileName(const platform::LocalTime& t, int suffix) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "KVFIX207-%04d%02d%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  std::string name = buf;
  if (suffix > 1) name += "-" + std::to_string(suffix);
  return name + ".LOG";
}

std::string ReportCreateError::Message() const {
  return platform::Th("ไม่สามารถสร้างแฟ้มรายงาน ") + name() + ": " + platform::SystemErrorText(code()) + " (" +
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
  const uint64_t significand = isam::GetU64(field);
  const uint16_t top = isam::GetU16(field + 8);
  const bool negative = (top & 0x8000) != 0;
  const int exponent = top & 0x7FFF;
  const bool integerBit = (significand >> 63) != 0;
  if (exponent == 0x7FFF) {
    if (!integerBit) return "invalid";  // pseudo-infinity or pseudo-NaN
    if ((significand << 1) == 0) return negative ? "-Inf" : "+Inf";
    return "NaN";
  }
  if (exponent != 0 && !integerBit) return "invalid";  // unnormal
  // value = significand × 2^(exponent − 16383 − 63); denormals use exponent 1.
  const int power = (exponent == 0 ? 1 : exponent) - 16383 - 63;
  long double value = std::ldexp(static_cast<long double>(significand), power);
  if (negative) value = -value;
  // 18 significant digits in the "1.23456789012345678e+09" form, the same in every
  // locale: the desktop program runs under the user's locale, the command line may not.
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 17);
  return std::string(buf, r.ptr);
}

ReportFile::ReportFile(const std::string& directory, const platform::LocalTime& t) {
  std::string dir = directory;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  // A new file every time: another run's report (of the same second, or a leftover of
  // any kind under that name) is never written into.
  int32_t rc = platform::kErrFileExists;
  for (int suffix = 1; rc == platform::kErrFileExists && suffix <= kMaxReportSuffix; ++suffix) {
    path_ = dir + ReportFileName(t, suffix);
    rc = platform::File::Create(path_, /*replace=*/false, file_);
  }
  if (rc != 0) throw ReportCreateError(rc, path_);
  char header[256];
  std::snprintf(header, sizeof header, "KVFIX207 repair report %04d-%02d-%02d %02d:%02d:%02d ", t.year, t.month,
                t.day, t.hour, t.minute, t.second);
  Append(std::string(header) + platform::Cp874ToUtf8(directory));
  if (!writeFailed_) Append("FILE\tRECORD\tOFFSET\tBYTES\tVALUE");
  if (!writeFailed_) Force();
  if (writeFailed_) {
    // A report without its header is no report: it goes, and the run does not start.
    file_.Close();
    platform::DeleteFile(path_);
    throw ReportCreateError(lastError_, path_);
  }
}

ReportFile::~ReportFile() { Force(); }

void ReportFile::Force() {
  if (!file_.IsOpen()) return;
  const int32_t rc = file_.Flush();
  if (rc != 0) {
    writeFailed_ = true;
    lastError_ = rc;
  }
}

void ReportFile::Append(const std::string& line) { AppendText(line + "\r\n"); }

void ReportFile::AppendText(const std::string& bytes) {
  size_t done = 0;
  const int32_t rc = file_.WriteAt(end_, bytes.data(), bytes.size(), done);
  if (rc != 0 || done != bytes.size()) {
    writeFailed_ = true;
    lastError_ = rc != 0 ? rc : platform::kErrDiskFull;
    end_ += done;
    return;
  }
  end_ += done;
}

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

void ReportFile::FieldReset(std::string_view file, int32_t record, int offset, const uint8_t* original,
                            modules::LeftReason left) {
  std::string line;
  AddLine(line, file, record, offset, original, left);
  AppendText(line);
}

// No field is known of a slot that could not be read: the offset, bytes and value
// columns stay empty.
void ReportFile::RecordUnread(std::string_view file, int32_t record) {
  std::string line(file);
  line += '\t' + std::to_string(record) + "\t\t\t\t";
  line += modules::LeftReasonText(modules::LeftReason::kReadFailed);
  AppendText(line + "\r\n");
}

// The lines of records repaired together go out with one write: a write per line cost
// more calls than the repairs themselves on a network share.
void ReportFile::FieldsReset(std::string_view file, std::span<const modules::ResetField> fields) {
  if (fields.empty()) return;
  std::string text;
  for (const modules::ResetField& f : fields) AddLine(text, file, f.record, f.offset, f.original, f.left);
  AppendText(text);
}

}  // namespace kv::app
