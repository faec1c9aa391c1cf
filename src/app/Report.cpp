#include "app/Report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <climits>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

#include "app/Version.h"
#include "isam/Access.h"
#include "isam/Coding.h"
#include "isam/Extended.h"
#include "platform/Cp874.h"
#include "platform/Crc32c.h"
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

ReportWriteError::ReportWriteError(int32_t code, const std::string& path)
    : modules::ReportWriteFailed(platform::Th("ไม่สามารถเขียนแฟ้มรายงาน ") + path + ": " +
                                 platform::SystemErrorText(platform::OsErrorOf(code)) + " (" + std::to_string(code) +
                                 platform::Th(") การซ่อมหยุดก่อนเขียนระเบียนถัดไป ระเบียนที่แก้ไขแล้วทุกระเบียนอยู่ในรายงาน")) {}

std::string EscapeControls(std::string_view text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

std::string UnescapeControls(std::string_view text) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && digit(text[i + 2]) >= 0 &&
        digit(text[i + 3]) >= 0) {
      const int value = digit(text[i + 2]) * 16 + digit(text[i + 3]);
      if (value < 0x20 || value == 0x7F) {
        out += static_cast<char>(value);
        i += 3;
        continue;
      }
    }
    out += text[i];
  }
  return out;
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
    rc = platform::File::Create(path_, platform::IfExists::kFail, file_);
  }
  if (rc) throw ReportCreateError(rc.Code(), path_);
  // Made by this program in the company directory: the suite's users keep their access.
  platform::TakeAccessOf(path_, {});
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d ", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  // A path with a line feed in it would otherwise end the first line early. The version
  // that wrote it stands before the directory, which runs to the end of the line.
  AppendText(std::string(title) + stamp + "version " + std::string(VersionText()) + " " +
             EscapeControls(platform::Cp874ToUtf8(directory)) + "\r\n" + std::string(columns) + "\r\n");
  if (!writeFailed_) Force();
  if (writeFailed_) {
    // A report without its header is no report: it goes, and the run does not start.
    // The write's error is the one reported; closing and removing only tidy up.
    (void)file_.Close();
    (void)platform::DeleteFile(path_);
    throw ReportCreateError(lastError_, path_);
  }
}

ReportWriter::~ReportWriter() { Close("ENDED EARLY"); }

bool ReportWriter::Force() {
  if (!file_.IsOpen()) return false;
  if (const platform::OsStatus rc = file_.Flush()) {
    writeFailed_ = true;
    lastError_ = rc.Code();
    return false;
  }
  return true;
}

void ReportWriter::Append(const std::string& line) { (void)AppendText(line + "\r\n"); }

bool ReportWriter::AppendText(const std::string& bytes) {
  if (!file_.IsOpen() || (writeFailed_ && !closing_)) return false;
  const uint32_t crc = platform::Crc32c(std::string_view(bytes), crc_);
  char sum[32];
  std::snprintf(sum, sizeof sum, "SUM\t%08X\r\n", static_cast<unsigned>(crc));
  const std::string block = bytes + sum;
  size_t done = 0;
  const platform::OsStatus rc = file_.WriteAt(end_, block.data(), block.size(), done);
  if (rc || done != block.size()) {
    writeFailed_ = true;
    lastError_ = rc ? rc.Code() : platform::Code(platform::OsError::kDiskFull);
    // What got out of a cut block goes again, so that the closing line follows whole lines.
    if (done > 0) (void)file_.Truncate(end_);
    return false;
  }
  end_ += block.size();
  crc_ = platform::Crc32c(std::string_view(sum), crc);
  return true;
}

bool ReportWriter::ForceSince(const Mark& mark) {
  if (Force()) return true;
  // Not known to be on disk: what was appended since is taken back, its records are not
  // written.
  (void)file_.Truncate(mark.end);
  end_ = mark.end;
  crc_ = mark.crc;
  return false;
}

bool ReportWriter::AppendForced(const std::string& text) {
  const Mark before = Here();
  return AppendText(text) && ForceSince(before);
}

void ReportWriter::Close(std::string_view outcome) {
  if (closed_ || !file_.IsOpen()) return;
  closed_ = true;
  // Tried even after a failed write: the cut block was taken back, and a disk that was
  // full may have room for one line again.
  closing_ = true;
  (void)AppendText("END\t" + std::string(outcome) + "\r\n");
  (void)Force();
  closing_ = false;
  (void)file_.Close();
}

ReportFile::ReportFile(const std::string& directory, const platform::LocalTime& t)
    : out_(directory, t, kRepairReportPrefix, kRepairReportTitle, "FILE\tRECORD\tOFFSET\tBYTES\tVALUE") {}

ReportFile::~ReportFile() {
  try {
    TellObserver();
  } catch (...) {  // an observer's output failing must not end the program here
  }
}

void ReportFile::Observe(std::string_view file, int32_t record, int offset, const uint8_t* original,
                         modules::LeftReason left) {
  if (observer_ == nullptr) return;
  if (left != modules::LeftReason::kNone && original != nullptr) {
    // Written ahead, then not written after all: only the left line is told.
    std::erase_if(observed_, [&](const Observed& o) {
      return o.left == modules::LeftReason::kNone && o.record == record && o.offset == offset && o.file == file;
    });
  }
  Observed o{std::string(file), record, offset, original != nullptr, {}, left};
  if (original != nullptr) std::copy(original, original + o.original.size(), o.original.begin());
  observed_.push_back(std::move(o));
}

void ReportFile::TellObserver() {
  if (observer_ == nullptr) return;
  std::vector<Observed> lines;
  lines.swap(observed_);
  for (const Observed& o : lines)
    observer_->Reported(o.file, o.record, o.offset, o.haveBytes ? o.original.data() : nullptr, o.left);
}

bool ReportFile::WriteAhead(std::string_view file, int32_t record, std::span<const modules::ResetField> fields,
                            std::span<const uint8_t> slot) {
  std::string text;
  AddFileLine(text, file);
  for (const modules::ResetField& f : fields) AddLine(text, file, f.record, f.offset, f.original, modules::LeftReason::kNone);
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08X", static_cast<unsigned>(platform::Crc32c(slot.data(), slot.size())));
  text += file;
  text += '\t' + std::to_string(record) + "\tCRC32C\t" + crc + "\r\n";
  if (!aheadPending_) {
    ahead_ = out_.Here();
    aheadObserved_ = observed_.size();
    aheadPending_ = true;
  }
  if (!out_.AppendText(text)) return false;
  for (const modules::ResetField& f : fields) Observe(file, f.record, f.offset, f.original, modules::LeftReason::kNone);
  return true;
}

bool ReportFile::ForceAhead() {
  if (!aheadPending_) return true;
  aheadPending_ = false;
  if (out_.ForceSince(ahead_)) return true;
  // The lines are taken back and none of their records is written: the observer must
  // not hear of them as written either.
  if (aheadObserved_ < observed_.size()) observed_.resize(aheadObserved_);
  return false;
}

void ReportFile::ThrowWriteFailure() const { throw ReportWriteError(out_.LastError(), out_.Path()); }

void ReportFile::FileKept(std::string_view name, std::string_view keptAs, std::string_view why) {
  (void)out_.AppendForced("KEPT\t" + EscapeControls(platform::Cp874ToUtf8(name)) + "\t" +
                          EscapeControls(platform::Cp874ToUtf8(keptAs)) + "\t" + std::string(why) + "\r\n");
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

void ReportFile::FileWalked(std::string_view file, int32_t slotLength) {
  TellObserver();
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
  Observe(file, record, offset, original, left);
}

// No field is known of a slot that could not be read: the offset, bytes and value
// columns stay empty.
void ReportFile::RecordUnread(std::string_view file, int32_t record, modules::LeftReason why) {
  std::string line;
  AddFileLine(line, file);
  line += file;
  line += '\t' + std::to_string(record) + "\t\t\t\t";
  line += modules::LeftReasonText(why);
  out_.AppendText(line + "\r\n");
  Observe(file, record, 0, nullptr, why);
}

// The lines of records repaired together go out with one write: a write per line cost
// more calls than the repairs themselves on a network share.
void ReportFile::FieldsReset(std::string_view file, std::span<const modules::ResetField> fields) {
  if (fields.empty()) return;
  std::string text;
  AddFileLine(text, file);
  for (const modules::ResetField& f : fields) AddLine(text, file, f.record, f.offset, f.original, f.left);
  out_.AppendText(text);
  for (const modules::ResetField& f : fields) Observe(file, f.record, f.offset, f.original, f.left);
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

namespace {

bool ParseHex32(std::string_view text, uint32_t& value) {
  if (text.size() != 8) return false;
  value = 0;
  for (char c : text) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) return false;
    value = value * 16 + static_cast<uint32_t>(d);
  }
  return true;
}

// "KVFIX207 repair report 2026-01-02 03:04:05 " before the directory.
constexpr size_t kStampLength = 20;

// After the time, "version 1.0.0 (6f3b8ce) " names the build that wrote the report
// (older builds wrote none); the directory follows, absolute, so it never starts with
// "version " or "(".
std::string_view WithoutVersion(std::string_view rest) {
  constexpr std::string_view kVersion = "version ";
  if (!rest.starts_with(kVersion)) return rest;
  rest.remove_prefix(kVersion.size());
  const size_t number = rest.find(' ');
  if (number == std::string_view::npos) return {};
  rest.remove_prefix(number + 1);
  if (!rest.starts_with("(")) return rest;
  const size_t commit = rest.find(") ");
  return commit == std::string_view::npos ? std::string_view{} : rest.substr(commit + 2);
}

}  // namespace

bool ParseRepairReport(std::string_view text, ReportContents& out, std::string& error, bool everyLine) {
  out = ReportContents{};
  std::vector<std::string_view> lines;
  std::vector<std::string_view> raw;  // each line with its line end, for the sums
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      out.tornLine = true;  // cut while it was written: what it said is not known
      break;
    }
    std::string_view line = text.substr(start, end - start);
    raw.push_back(text.substr(start, end + 1 - start));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  if (lines.size() < 2 || lines[0].substr(0, kRepairReportTitle.size()) != kRepairReportTitle ||
      lines[1] != kRepairColumns) {
    error = "not a repair report of this program (its first two lines are not the title and the column names)";
    return false;
  }
  if (lines[0].size() > kRepairReportTitle.size() + kStampLength)
    out.directory = UnescapeControls(WithoutVersion(lines[0].substr(kRepairReportTitle.size() + kStampLength)));

  // The sums: each covers every byte before it. Lines after the last one belong to a
  // write that did not end (a kill, a full disk): that record was never written.
  size_t lastLine = lines.size();
  {
    uint32_t crc = 0;
    size_t sealedUpTo = 0;
    for (size_t n = 0; n < lines.size(); ++n) {
      uint32_t value = 0;
      if (lines[n].substr(0, 4) == "SUM\t") {
        out.sealed = true;
        if (!ParseHex32(lines[n].substr(4), value) || value != crc) out.sumsMatch = false;
        sealedUpTo = n + 1;
      }
      crc = platform::Crc32c(raw[n], crc);
    }
    if (out.sealed && !everyLine) {
      lastLine = sealedUpTo;
      for (size_t n = sealedUpTo; n < lines.size(); ++n) ++out.unsealedLines;
    }
  }

  std::string section;  // the file of the last slot-length line
  std::map<std::tuple<std::string, int32_t, int>, size_t> seen;  // written fields, by place
  std::vector<uint8_t> takenBack;                                 // per written field
  for (size_t n = 2; n < lastLine; ++n) {
    const std::vector<std::string_view> c = Columns(lines[n]);
    auto fail = [&](const std::string& what) {
      error = "line " + std::to_string(n + 1) + " of the report: " + what;
      return false;
    };
    int64_t number = 0;
    if (c.size() == 2 && c[0] == "SUM") continue;
    if (c[0] == "END") {
      out.outcome.clear();
      for (size_t k = 1; k < c.size(); ++k) out.outcome += (k > 1 ? " " : "") + std::string(c[k]);
      continue;
    }
    if (c.size() == 4 && c[0] == "KEPT") continue;
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
    if (c.size() == 4 && c[2] == "CRC32C") {
      if (c[0].empty() || c[0] != section) return fail("a fingerprint of " + std::string(c[0]) + " without its file's slot length");
      ReportedSlot slot;
      slot.file = c[0];
      if (!ParseInt(c[1], 1, INT32_MAX, number)) return fail("a record number that cannot be read");
      slot.record = static_cast<int32_t>(number);
      if (!ParseHex32(c[3], slot.crc)) return fail("a fingerprint that cannot be read");
      out.fingerprints.push_back(std::move(slot));
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
    const auto key = std::make_tuple(field.file, field.record, field.offset);
    if (left) {
      // Written ahead, then not written after all (held, the write failed): taken back.
      if (auto at = seen.find(key); at != seen.end()) {
        takenBack[at->second] = 1;
        seen.erase(at);
      }
      ++out.notWritten;
      continue;
    }
    if (!seen.emplace(key, out.written.size()).second) return fail("a field listed as written twice");
    out.written.push_back(std::move(field));
    takenBack.push_back(0);
  }
  size_t kept = 0;
  for (size_t i = 0; i < out.written.size(); ++i) {
    if (takenBack[i]) continue;
    if (kept != i) out.written[kept] = std::move(out.written[i]);
    ++kept;
  }
  out.written.resize(kept);
  return true;
}

}  // namespace kv::app
