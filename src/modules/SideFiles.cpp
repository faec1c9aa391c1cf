#include "modules/SideFiles.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/File.h"
#include "platform/PlainFile.h"

namespace kv::modules {
namespace {

using platform::File;
using platform::IoError;

// The suite's files are a few kilobytes; anything beyond this is not a side file of
// ours and is refused rather than read into memory.
constexpr uint64_t kMaxSideFileBytes = 64u << 20;

// Result code the suite's run-time gives for a read past the end of a file.
constexpr int32_t kReadPastEnd = platform::kIoReadPastEnd;

// Opens an existing file for reading and writing, as the suite's typed-file open
// does. Returns the open's result (kFileNotFound for a missing file, ...).
platform::OsStatus OpenExisting(std::string_view name, File& file) {
  return File::Open(name, platform::Access::kReadWrite, platform::Share::kShared, file);
}

// Reads the whole content of an open file.
void ReadAll(File& file, std::string_view name, std::string& out) {
  uint64_t size = 0;
  platform::OsStatus rc = file.Size(size);
  if (rc) throw IoError(rc, std::string(name));
  if (size > kMaxSideFileBytes) throw IoError(kReadPastEnd, std::string(name));
  out.resize(static_cast<size_t>(size));
  size_t done = 0;
  rc = file.ReadAt(0, out.data(), out.size(), done);
  if (rc) throw IoError(rc, std::string(name));
  if (done != out.size()) throw IoError(kReadPastEnd, std::string(name));
}

void CloseOrRaise(File& file, std::string_view name) {
  platform::OsStatus rc = file.Close();
  if (rc) throw IoError(rc, std::string(name));
}

// Creates the file empty where it is missing. The new file gets the name as given
// (the suite's upper-case name).
void CreateEmpty(std::string_view name) {
  platform::OsStatus rc = platform::ReplaceFileAtomically(name, std::string_view());
  if (rc) throw IoError(rc, std::string(name));
}

}  // namespace

// ---------------------------------------------------------------------------------

std::string ThaiDateStamp(const platform::Date& date) {
  auto two = [](int v) {
    v = ((v % 100) + 100) % 100;
    return std::string{static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
  };
  return two(date.day) + "/" + two(date.month) + "/" + two(date.year + 543);
}

std::string ThaiDateStamp() { return ThaiDateStamp(platform::Today()); }

bool FileCanOpen(std::string_view name) {
  File file;
  if (OpenExisting(name, file)) return false;
  CloseOrRaise(file, name);
  return true;
}

std::string_view ShortString(const uint8_t* field, int capacity) {
  int length = std::min<int>(field[0], capacity);
  return std::string_view(reinterpret_cast<const char*>(field + 1), static_cast<size_t>(length));
}

void PutShortString(uint8_t* field, int capacity, std::string_view text) {
  size_t length = std::min(text.size(), static_cast<size_t>(capacity));
  field[0] = static_cast<uint8_t>(length);
  std::memmove(field + 1, text.data(), length);
}

// ---------------------------------------------------------------------------------

SideTable::SideTable(std::string_view fileName) : def_(&SideFile(fileName)) { Reset(); }

void SideTable::Reset() {
  slots_.assign(SlotOffset(def_->tableSlots), 0);
  count_ = 0;
  tail_.clear();
  readFailed_ = false;
}

bool SideTable::Read(OnBadRecord onBad, bool createMissing) {
  Reset();
  const std::string_view name = def_->fileName;
  File file;
  platform::OsStatus rc = OpenExisting(name, file);
  if (rc == platform::OsError::kFileNotFound) {
    if (createMissing) CreateEmpty(name);
    return false;
  }
  if (rc) throw IoError(rc, std::string(name));

  std::string content;
  ReadAll(file, name, content);
  CloseOrRaise(file, name);

  const size_t length = static_cast<size_t>(def_->recordLength);
  const size_t whole = content.size() / length;
  const size_t capacity = static_cast<size_t>(def_->capacity);
  if (whole < capacity && content.size() % length != 0) {
    // A partial last record inside the table's range: the suite's read fails there.
    if (onBad == OnBadRecord::kRaise) throw IoError(kReadPastEnd, std::string(name));
    readFailed_ = true;
    return true;  // table stays empty, nothing remembered
  }
  const size_t taken = std::min(whole, capacity);
  std::memcpy(Slot(def_->firstSlot), content.data(), taken * length);
  count_ = static_cast<int32_t>(taken);
  if (whole >= capacity) tail_ = content.substr(capacity * length);
  return true;
}

bool SideTable::WriteRecords(int32_t records, OnWriteFailure onFailure) const {
  records = std::clamp(records, 0, def_->capacity);
  const size_t length = static_cast<size_t>(def_->recordLength);
  std::string out;
  out.reserve(static_cast<size_t>(records) * length + tail_.size());
  out.append(reinterpret_cast<const char*>(Slot(def_->firstSlot)), static_cast<size_t>(records) * length);
  // Records beyond the table are kept only behind a full table, so that they stay at
  // their record numbers.
  if (records == def_->capacity) out += tail_;
  platform::OsStatus rc = platform::ReplaceFileAtomically(def_->fileName, out);
  if (rc) {
    if (onFailure == OnWriteFailure::kLeaveFile) return false;
    throw IoError(rc, std::string(def_->fileName));
  }
  return true;
}

// ---------------------------------------------------------------------------------

InfoRecord::InfoRecord(std::string_view fileName) : def_(&SideFile(fileName)) { Clear(); }

void InfoRecord::Clear() { bytes_.assign(static_cast<size_t>(def_->recordLength), 0); }

bool InfoRecord::Read(bool retry255) {
  const std::string_view name = def_->fileName;
  File file;
  platform::OsStatus rc = OpenExisting(name, file);
  for (int attempt = 1; retry255 && rc.Code() == 255 && attempt < kIoAttempts; ++attempt) {
    rc = OpenExisting(name, file);
  }
  if (rc == platform::OsError::kFileNotFound) {
    CreateEmpty(name);
    return false;
  }
  // An information file that exists but cannot be opened is not replaced by defaults:
  // that would throw away the company's settings.
  if (rc) throw IoError(rc, std::string(name));

  uint64_t size = 0;
  rc = file.Size(size);
  if (rc) throw IoError(rc, std::string(name));
  if (size > 0) {
    if (size < bytes_.size()) throw IoError(kReadPastEnd, std::string(name));
    size_t done = 0;
    rc = file.ReadAt(0, bytes_.data(), bytes_.size(), done);
    if (rc) throw IoError(rc, std::string(name));
    if (done != bytes_.size()) throw IoError(kReadPastEnd, std::string(name));
  }
  CloseOrRaise(file, name);
  return true;
}

void InfoRecord::Replace(int attempts) const {
  const std::string_view content(reinterpret_cast<const char*>(bytes_.data()), bytes_.size());
  platform::OsStatus rc;
  for (int attempt = 0; attempt < std::max(attempts, 1); ++attempt) {
    rc = platform::ReplaceFileAtomically(def_->fileName, content);
    if (!rc) return;
  }
  throw IoError(rc, std::string(def_->fileName));
}

}  // namespace kv::modules
