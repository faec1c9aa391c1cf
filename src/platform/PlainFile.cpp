#include "platform/PlainFile.h"

#include "platform/OsCall.h"

namespace kv::platform {

IoError::IoError(int32_t code, std::string name)
    : std::runtime_error("I/O error " + std::to_string(code)), code_(code), name_(std::move(name)) {}

// ---------------------------------------------------------------------------------
// RecordFile

int32_t RecordFile::Open(std::string_view name, size_t recordLength) {
  Close();
  if (recordLength == 0) return kErrInvalidAccess;
  int32_t err = File::Open(name, Access::kReadWrite, Share::kShared, file_);
  if (err != kErrNone) return err;
  recordLength_ = recordLength;
  position_ = 0;
  return kIoOk;
}

int32_t RecordFile::Create(std::string_view name, size_t recordLength) {
  Close();
  if (recordLength == 0) return kErrInvalidAccess;
  int32_t err = File::Create(name, true, file_);
  if (err != kErrNone) return err;
  recordLength_ = recordLength;
  position_ = 0;
  return kIoOk;
}

int32_t RecordFile::Read(void* record) {
  if (!file_.IsOpen()) return kIoNotOpen;
  size_t done = 0;
  int32_t err = file_.ReadAt(position_, record, recordLength_, done);
  if (err != kErrNone) return err;
  // A partial last record is not a record: the position stays before it.
  if (done < recordLength_) return kIoReadPastEnd;
  position_ += recordLength_;
  return kIoOk;
}

int32_t RecordFile::Write(const void* record) {
  if (!file_.IsOpen()) return kIoNotOpen;
  size_t done = 0;
  int32_t err = file_.WriteAt(position_, record, recordLength_, done);
  if (err != kErrNone || done < recordLength_) return kIoWriteFailed;
  position_ += recordLength_;
  return kIoOk;
}

bool RecordFile::Eof() {
  if (!file_.IsOpen()) return true;
  uint64_t size = 0;
  if (file_.Size(size) != kErrNone) return true;
  // True when no whole record is left: a trailing partial record does not count.
  return size < position_ || size - position_ < recordLength_;
}

int32_t RecordFile::Close() {
  if (!file_.IsOpen()) return kIoNotOpen;
  int32_t err = file_.Close();
  recordLength_ = 0;
  position_ = 0;
  return err;
}

// ---------------------------------------------------------------------------------
// Whole files

int32_t ReadWholeFile(std::string_view name, std::string& bytes) {
  bytes.clear();
  File f;
  int32_t err = File::Open(name, Access::kReadOnly, Share::kShared, f);
  if (err != kErrNone) return err;
  uint64_t size = 0;
  if ((err = f.Size(size)) != kErrNone) return err;
  if (size > kMaxWholeFile) return kErrNotEnoughMemory;
  bytes.resize(static_cast<size_t>(size));
  size_t done = 0;
  if ((err = f.ReadAt(0, bytes.data(), bytes.size(), done)) != kErrNone) {
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

int32_t ReadTextLines(std::string_view name, std::vector<std::string>& lines) {
  lines.clear();
  std::string bytes;
  int32_t err = ReadWholeFile(name, bytes);
  if (err != kIoOk) return err;
  lines = SplitLines(bytes);
  return kIoOk;
}

int32_t WriteTextLines(std::string_view name, const std::vector<std::string>& lines) {
  std::string text;
  size_t total = 0;
  for (const std::string& line : lines) total += line.size() + 2;
  text.reserve(total);
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  bool writeFailed = false;
  int32_t err = detail::ReplaceFile(name, text, writeFailed);
  if (err == kErrNone) return kIoOk;
  return writeFailed ? kIoWriteFailed : err;
}

}  // namespace kv::platform
