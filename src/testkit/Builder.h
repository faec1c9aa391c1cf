// Builds the suite's files from scratch for tests, the demo company and the
// benchmarks: data files (.DAT) with live records and a chain of deleted slots, their
// index files (.IX) with valid B-trees, save journals and coordination files (.DIA).
// The repair program itself never adds records or keys; this is the only writer of
// whole files.
//
// Files are written with the layout the engine reads, byte for byte. Large inputs are
// streamed: record bytes come from a callback and are written in big chunks; only the
// key entries are held in memory (compactly, one fixed-width entry per key and record).
//
// Paths are CP874, as the program keeps them; the platform's files convert them where
// they meet the file system.
//
// Functions return an error text, empty on success, so a test can say
// ASSERT_EQ(BuildFile(...), "").
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "isam/Engine.h"
#include "isam/Format.h"

namespace kv::testkit {

using isam::KeyDesc;

// The layouts are the engine's own (isam/Format.h); the test kit adds only what the
// engine never writes: headers that contradict their file, and defect flags.
inline constexpr int kPageItems = isam::kMaxPageItems;  // items per page in every file the engine creates
using isam::kDataHeaderSize;
using isam::kKeyHeaderSize;

// ---- Data header (slot 0) -------------------------------------------------------------

// Unlike the engine's header, the key count is kept whole (tests give files absurd
// counts) and the defect flag is written as given.
struct DataHeader {
  int32_t freeHead = -1;
  int32_t freeCount = 0;
  int32_t highestSlot = 0;
  int32_t slotLength = 0;
  int32_t keyCount = 0;
  uint8_t defectFlag = 0;
};

void EncodeDataHeader(const DataHeader& header, uint8_t* out);  // 21 bytes
DataHeader DecodeDataHeader(const uint8_t* in);                 // 21 bytes
// Overwrites the 21 header bytes of an existing data file.
std::string PatchDataHeader(const std::string& dataPath, const DataHeader& header);

// ---- Key header and page layout -------------------------------------------------------

using isam::KeyHeader;
using isam::EncodeKeyHeader;  // 28 bytes
using isam::DecodeKeyHeader;  // 28 bytes

// S(k) = (L + 9) x 62 + 6.
inline int32_t SectionLength(int keyLength) { return isam::SectionLengthFor(keyLength); }
// Index record length R and the section offsets O(k) (offsets[0] is key 1).
int32_t IndexRecordLength(std::span<const KeyDesc> keys, std::vector<int32_t>* offsets = nullptr);

struct PageItem {
  int32_t record = 0;
  int32_t child = 0;
  std::string text;  // at most the key length
};

struct PageImage {
  int32_t leftmost = 0;
  std::vector<PageItem> items;
};

// The compact file form: count, leftmost child, count x (L + 9) bytes of items. A page
// holds at most 62 items (std::length_error otherwise); longer texts are cut to the key
// length.
std::string EncodePage(const PageImage& page, int keyLength);
// Reads a page in file form; false when the bytes cannot hold what the count says or
// the count is outside 0..62.
bool DecodePage(std::string_view bytes, int keyLength, PageImage& page);

// ---- Key entries ------------------------------------------------------------------------

// The (key text, record number) entries of one key, held compactly (5 + L bytes each).
class KeyEntries {
 public:
  explicit KeyEntries(KeyDesc desc) : desc_(desc), stride_(5 + desc.length) {}
  void Reserve(size_t count) { arena_.reserve(count * stride_); }
  // False (and nothing added) when the text is longer than the key length.
  bool Add(std::string_view text, int32_t record);
  size_t Size() const { return arena_.size() / stride_; }
  const KeyDesc& Desc() const { return desc_; }

  // Puts the entries in index order: texts as unsigned byte strings, a prefix before
  // the longer text, equal texts by record number. Fails on equal texts in a key
  // without duplicates, and on one (text, record) pair given twice.
  std::string Sort();
  // The i-th entry in index order (after Sort) or in insertion order (before).
  std::string_view Text(size_t i) const;
  int32_t Record(size_t i) const;

 private:
  const uint8_t* Entry(size_t i) const;
  KeyDesc desc_;
  size_t stride_;
  std::vector<uint8_t> arena_;
  std::vector<uint32_t> order_;  // filled by Sort
};

// ---- Index file ---------------------------------------------------------------------------

struct IndexOptions {
  // Most items the builder puts into one page, 2..62. Smaller values give deeper trees
  // from few entries (the page size stays 62).
  int maxItemsPerPage = kPageItems;
};

struct KeyTreeInfo {
  int32_t rootPage = 0;
  int32_t highestPage = 0;
  int32_t entryCount = 0;
  int height = 0;  // 0 for an empty tree
};

// Writes the index file for these keys (one KeyEntries per key, in key order; each is
// sorted here). The file is (max HighestPage + 1) x R bytes long; record 0 holds the
// key headers, unused bytes are zero.
std::string WriteIndexFile(const std::string& indexPath, std::vector<KeyEntries>& keys,
                           const IndexOptions& options = {},
                           std::vector<KeyTreeInfo>* info = nullptr);

// ---- Data file (and its index) ---------------------------------------------------------

// Collects the key texts of one record while it is being filled.
class KeySink {
 public:
  explicit KeySink(std::vector<KeyEntries>& keys) : keys_(keys) {}
  // keyNumber 1..n. A text longer than the key length is an error reported by the
  // build; so is a key number out of range.
  void Add(int keyNumber, std::string_view text);

 private:
  friend struct FileBuilderAccess;
  std::vector<KeyEntries>& keys_;
  int32_t record_ = 0;
  std::string error_;
};

// Fills one slot. `slot` holds SlotLength zero bytes on entry; for a deleted slot the
// first four bytes are overwritten with the chain link afterwards, for a live slot
// with 0. Keys given for a deleted slot are an error.
using SlotFiller = std::function<void(int32_t record, bool deleted, std::span<uint8_t> slot,
                                      KeySink& keys)>;

struct FileLayout {
  std::string dataPath;   // e.g. dir + "/GLFILE03.DAT"
  std::string indexPath;  // empty: beside the data file with the extension IX
  int32_t slotLength = 0;  // physical slot length, at least 21
  std::vector<KeyDesc> keys;
  int32_t highestSlot = 0;  // records 1..highestSlot are written
  // Deleted slots in chain order, head first: each links to the next, the last to -1.
  std::vector<int32_t> freeChain;
  // Header overrides for files that must disagree with themselves (mismatch tests).
  int32_t headerSlotLength = 0;  // 0: the physical slot length
  int32_t headerKeyCount = -1;   // -1: keys.size()
  uint8_t defectFlag = 0;
  bool writeIndex = true;  // when there are keys
  IndexOptions index;
};

struct FileInfo {
  DataHeader header;
  std::vector<KeyTreeInfo> keys;
};

// Replaces the data file and its index file, and removes a coordination file of the
// same base name.
std::string BuildFile(const FileLayout& fileLayout, const SlotFiller& filler, FileInfo* info = nullptr);

// The chain the suite leaves when it deletes slots in ascending order: the highest
// deleted slot is the head and each links to the next lower one.
std::vector<int32_t> DescendingChain(std::vector<int32_t> deleted);

// <path without extension>.<ext>
std::string WithExtension(std::string_view path, std::string_view ext);

// ---- Save journal ---------------------------------------------------------------------------

// Builds the journal a program in save mode leaves in the coordination file (its layout
// is drawn in isam/Format.h): a leading byte, then entries, then the end tag.
class JournalWriter {
 public:
  explicit JournalWriter(uint8_t leadingByte = 0) { bytes_.push_back(static_cast<char>(leadingByte)); }
  // Tag = the page's item count (1..62 for a sound journal; not checked here).
  void AddPage(int keyNumber, int keyLength, int32_t pageNumber, const PageImage& page);
  // Header images. `link` other than kJournalNoLink puts the slot or page numbered by
  // the image's FreeHead on the free chain with that link.
  void AddDataHeader(const DataHeader& header, int32_t link = isam::kJournalNoLink);
  void AddKeyHeader(int keyNumber, const KeyHeader& header, int32_t link = isam::kJournalNoLink);
  void AddTag(int16_t tag);  // any tag, for damaged journals
  void AddRaw(std::string_view bytes);
  void End() { AddTag(isam::kJournalEndTag); }
  const std::string& Bytes() const { return bytes_; }

 private:
  void AddHeaderImage(int section, const uint8_t* image, int32_t link);
  std::string bytes_;
};

// ---- Coordination file ---------------------------------------------------------------------

// m = ((key count + 1) div 8) + 1.
inline int SlotWidth(int keyCount) { return isam::CoordSlotLength(keyCount); }
// Leading byte, marker 2000, `slotCount` slots of m bytes each filled with `fill`.
std::string CoordinationLayout(int keyCount, int slotCount = 51, uint8_t fill = 0);

// ---- Plain files ----------------------------------------------------------------------------

std::string WriteBytes(const std::string& path, std::string_view bytes);
std::string ReadBytes(const std::string& path, std::string& bytes);

}  // namespace kv::testkit
