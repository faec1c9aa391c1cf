#include "app/Report.h"

#include <cmath>
#include <cstdio>

#include "isam/Coding.h"
#include "platform/PlainFile.h"

namespace kv::app {

std::string ReportFileName(const platform::LocalTime& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "KVFIX207-%04d%02d%02d-%02d%02d%02d.LOG", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
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
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17Le", value);
  return buf;
}

ReportFile::ReportFile(const std::string& directory, const platform::LocalTime& t) {
  std::string dir = directory;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  path_ = dir + ReportFileName(t);
  int32_t rc = platform::File::Create(path_, /*replace=*/false, file_);
  if (rc == platform::kErrFileExists) {
    // Two runs in the same second: keep the first run's lines and add ours after them.
    rc = platform::File::Open(path_, platform::Access::kReadWrite, platform::Share::kShared, file_);
    if (rc == 0) rc = file_.Size(end_);
  }
  if (rc != 0) throw platform::IoError(rc, path_);
  char header[256];
  std::snprintf(header, sizeof header, "KVFIX207 repair report %04d-%02d-%02d %02d:%02d:%02d ", t.year, t.month,
                t.day, t.hour, t.minute, t.second);
  Append(std::string(header) + directory);
  if (writeFailed_) throw platform::IoError(platform::kIoWriteFailed, path_);
  Append("FILE\tRECORD\tOFFSET\tBYTES\tVALUE");
  Force();
  if (writeFailed_) throw platform::IoError(platform::kIoWriteFailed, path_);
}

ReportFile::~ReportFile() { Force(); }

void ReportFile::Force() {
  if (file_.IsOpen() && file_.Flush() != 0) writeFailed_ = true;
}

void ReportFile::Append(const std::string& line) { AppendText(line + "\r\n"); }

void ReportFile::AppendText(const std::string& bytes) {
  size_t done = 0;
  if (file_.WriteAt(end_, bytes.data(), bytes.size(), done) != 0 || done != bytes.size()) {
    writeFailed_ = true;
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
