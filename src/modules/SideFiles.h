// Side files and information records of the modules: plain files of fixed-length
// records without a header, read whole into a zero-filled table at module open and
// written back whole at close.
//
// Two things differ from what the suite itself does, both to lose nothing:
// - A table never grows past its capacity, but records beyond it (and a partial last
//   record beyond it) are kept as they were read and written back unchanged after the
//   table's records. A file is never shortened by a write-back.
// - Every write-back replaces the file atomically (a new file beside it, flushed, then
//   renamed over it), so a crash leaves the old or the new content, never a torn file.
//
// All failures that the suite turns into its run-time I/O error throw platform::IoError.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "modules/ModuleTables.h"
#include "platform/System.h"

namespace kv::modules {

// Today as dd/mm/yy with the two-digit year of the Buddhist era (year + 543).
std::string ThaiDateStamp();
std::string ThaiDateStamp(const platform::Date& date);

// True when the file exists and can be opened for reading and writing. A failure to
// close it again throws platform::IoError.
bool FileCanOpen(std::string_view name);

// "While the result code is 255" loops and "retry the re-creation while it fails"
// loops are bounded by this many attempts; after the last failure the I/O error is
// raised.
inline constexpr int kIoAttempts = 11;

// Short strings: a length byte followed by the characters.
std::string_view ShortString(const uint8_t* field, int capacity);
// Stores `text` cut to `capacity` characters; bytes after the text are left alone.
void PutShortString(uint8_t* field, int capacity, std::string_view text);

// The in-memory table of one side file.
class SideTable {
 public:
  explicit SideTable(std::string_view fileName);

  const SideFileDef& def() const { return *def_; }
  uint8_t* Slot(int index) { return slots_.data() + SlotOffset(index); }
  const uint8_t* Slot(int index) const { return slots_.data() + SlotOffset(index); }
  std::vector<uint8_t>& bytes() { return slots_; }
  int32_t count() const { return count_; }
  const std::string& tail() const { return tail_; }
  bool readFailed() const { return readFailed_; }

  // Zero-filled table, nothing read (also what "release" leaves).
  void Reset();

  enum class OnBadRecord {
    kRaise,       // a partial record inside the table's range raises the I/O error
    kEmptyTable,  // ... empties the table and forgets every record read
  };
  // Reads the file into slots firstSlot.. up to the capacity. A missing file is
  // created empty (unless createMissing is false, when the caller creates it with
  // content of its own) and nothing is read. Records beyond the capacity are kept
  // aside. Returns false when the file was missing.
  bool Read(OnBadRecord onBad = OnBadRecord::kRaise, bool createMissing = true);

  enum class OnWriteFailure {
    kRaise,      // platform::IoError
    kLeaveFile,  // the old file stays as it was; false is returned
  };
  // Writes `records` table records (from firstSlot) followed by the kept records
  // beyond the capacity.
  bool WriteRecords(int32_t records, OnWriteFailure onFailure = OnWriteFailure::kRaise) const;
  // Every slot of the table, as the suite writes a table it has filled with defaults.
  bool WriteAll(OnWriteFailure onFailure = OnWriteFailure::kRaise) const {
    return WriteRecords(def_->capacity, onFailure);
  }
  // The number of records read, as the suite writes most side files back.
  void WriteBack() const { WriteRecords(count_); }

 private:
  size_t SlotOffset(int index) const {
    return static_cast<size_t>(index) * static_cast<size_t>(def_->recordLength);
  }

  const SideFileDef* def_;
  std::vector<uint8_t> slots_;
  int32_t count_ = 0;
  std::string tail_;
  bool readFailed_ = false;
};

// One module information record.
class InfoRecord {
 public:
  explicit InfoRecord(std::string_view fileName);

  const SideFileDef& def() const { return *def_; }
  uint8_t* data() { return bytes_.data(); }
  uint8_t& operator[](size_t offset) { return bytes_.at(offset); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

  // Fills the record with zero bytes; the caller then sets its defaults.
  void Clear();
  // Opens the file; with retry255 the open is retried (bounded) while its result is
  // 255. A missing file is created empty and nothing is read; an empty file leaves
  // the defaults; otherwise the first record is read. Returns true when an existing
  // file was opened (the suite's fix-ups apply only then).
  bool Read(bool retry255 = true);
  // Re-creates the file with the one record, retrying a failed re-creation up to
  // kIoAttempts times before the I/O error.
  void Write() const { Replace(kIoAttempts); }
  // The same with a single attempt, as the suite writes its fix-ups at open.
  void WriteOnce() const { Replace(1); }

 private:
  void Replace(int attempts) const;

  const SideFileDef* def_;
  std::vector<uint8_t> bytes_;
};

}  // namespace kv::modules
