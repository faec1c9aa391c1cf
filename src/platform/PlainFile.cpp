#include "platform/PlainFile.h"

#include "platform/OsCall.h"

#include <ostream>

namespace kv::platform {

IoError::IoError(int32_t code, std::string name)
    : std::runtime_error("I/O error " + std::to_string(code)), code_(code), name_(std::move(name)) {}

std::ostream& operator<<(std::ostream& out, IoStatus status) { return out << status.Code(); }

// ---------------------------------------------------------------------------------
// RecordFile

IoStatus RecordFile::Open(std::string_view name, size_t recordLength) {
  (void)Close();  // a file still open is let go; its close is no part of this result
  if (recordLength == 0) return OsError::kInvalidAccess;
  if (OsStatus err = File::Open(name, Access::kReadWrite, Share::kShared, file_)) return err;
  recordLength_ = recordLength;
  position_ = 0;
  return kIoOk;
}

IoStatus RecordFile::Create(std::string_view name, size_t recordLength) {
  (void)Close();  // a file still open is let go; its close is no part of this result
  if (recordLength == 0) return OsError::kInvalidAccess;
  if (OsStatus err = File::Create(name, IfExists::kReplace, file_)) return err;
  recordLength_ = recordLength;
  position_ = 0;
  return kIoOk;
}

IoStatus RecordFile::Read(void* record) {
  if (!file_.IsOpen()) return kIoNotOpen;
  size_t done = 0;
  if (OsStatus err = file_.ReadAt(position_, record, recordLength_, done)) return err;
  // A partial last record is not a record: the position stays before it.
  if (done < recordLength_) return kIoReadPastEnd;
  position_ += recordLength_;
  return kIoOk;
}

IoStatus RecordFile::Write(const void* record) {
  if (!file_.IsOpen()) return kIoNotOpen;
  size_t done = 0;
  const OsStatus err = file_.WriteAt(position_, record, recordLength_, done);
  if (err || done < recordLength_) return kIoWriteFailed;
  position_ += recordLength_;
  return kIoOk;
}

bool RecordFile::Eof() {
  if (!file_.IsOpen()) return true;
  uint64_t size = 0;
  if (file_.Size(size)) return true;
  // True when no whole record is left: a trailing partial record does not count.
  return size < position_ || size - position_ < recordLength_;
}

IoStatus RecordFile::Close() {
  if (!file_.IsOpen()) return kIoNotOpen;
  const OsStatus err = file_.Close();
  recordLength_ = 0;
  position_ = 0;
  return err;
}

// ---------------------------------------------------------------------------------
// Whole files

IoStatus ReadWholeFile(std::string_view name, std::string& bytes) {
  bytes.clear();
  File f;
  if (OsStatus err = File::Open(name, Access::kReadOnly, Share::kShared, f)) return err;
  uint64_t size = 0;
  if (OsStatus err = f.Size(size)) return err;
  if (size > kMaxWholeFile) return OsError::kNotEnoughMemory;
  bytes.resize(static_cast<size_t>(size));
  size_t done = 0;
  if (OsStatus err = f.ReadAt(0, bytes.data(), bytes.size(), done)) {
    bytes.clear();
    return err;
  }
  if (done < bytes.size()) {  // the file shrank while it was read
    bytes.resize(done);
    return kIoReadPastEnd;
  }
  return kIoOk;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2u : 1u;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

IoStatus ReadTextLines(std::string_view name, std::vector<std::string>& lines) {
  lines.clear();
  std::string bytes;
  if (IoStatus err = ReadWholeFile(name, bytes)) return err;
  lines = SplitLines(bytes);
  return kIoOk;
}

IoStatus WriteTextLines(std::string_view name, const std::vector<std::string>& lines) {
  std::string text;
  size_t total = 0;
  for (const std::string& line : lines) total += line.size() + 2;
  text.reserve(total);
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  bool writeFailed = false;
  const OsStatus err = detail::ReplaceFile(name, text, writeFailed);
  if (!err) return kIoOk;
  if (writeFailed) return kIoWriteFailed;
  return err;
}

}  // namespace kv::platform
