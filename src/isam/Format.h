// Byte layouts of the data file (.DAT), the index file (.IX) and the coordination
// file (.DIA), and the rules that turn a caller's base name into the three file names.
//
// Every layout is shared byte for byte with the suite's own programs. Encoding and
// decoding go through the little-endian helpers of Coding.h; every count taken from a
// file is checked here before it indexes anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "isam/Errors.h"

namespace kv::isam {

// ---- Names -----------------------------------------------------------------------------

inline constexpr size_t kMaxNameLength = 64;

struct BaseNames {
  std::string data;   // base of the .DAT and .DIA names
  std::string index;  // base of the .IX name
};

// "A;B" gives data base A and index base B; a name without ";" serves both.
BaseNames SplitBaseName(std::string_view name);

// Replaces the text after the last "." of the last path component by `ext`, or appends
// "." and `ext` when that component has no ".". Both "/" and "\" separate components.
// The result is cut to 64 characters.
std::string ForceExtension(std::string_view base, std::string_view ext);

// ---- Data file -------------------------------------------------------------------------

inline constexpr int kDataHeaderSize = 21;
inline constexpr int kDefectFlagOffset = 20;
inline constexpr int32_t kMinSlotLength = 21;

struct DataHeader {
  int32_t freeHead = -1;
  int32_t freeCount = 0;
  int32_t highestSlot = 0;
  int32_t slotLength = 0;
  uint8_t keyCount = 0;  // readers take the low byte of the stored int32
  uint8_t defectFlag = 0;
};

DataHeader DecodeDataHeader(const uint8_t* in);  // 21 bytes

// Writes the 21 header bytes; this program always writes 0 as the defect flag.
void EncodeDataHeader(const DataHeader& header, uint8_t* out);

// What keeps a reader from taking the slots of a data file as a module's records, told
// by its header: the first of these that holds, in this order.
enum class DataHeaderFault : uint8_t {
  kNone,
  kSlotLength,  // slots of another length than the records (the access layer refuses the file: 10170)
  kDefect,      // the defect flag (the engine's open refuses the file: 10010)
  kSlotCount,   // a negative highest slot
  kCutShort,    // the file ends before the last slot the header promises
};
// `recordLength`: the length of the records the reader expects; `fileSize`: the file's.
DataHeaderFault InspectDataHeader(const DataHeader& header, int32_t recordLength, uint64_t fileSize);

// A slot holds a live record exactly when its first four bytes are zero; a deleted one
// holds its free-chain link there. `slot` points at a whole slot (at least 4 bytes).
inline bool SlotIsLive(const uint8_t* slot) { return (slot[0] | slot[1] | slot[2] | slot[3]) == 0; }
// The same for a slot as read: bytes too few to hold the mark are no live record.
inline bool SlotIsLive(std::span<const uint8_t> slot) { return slot.size() >= 4 && SlotIsLive(slot.data()); }

// ---- Index file ------------------------------------------------------------------------

inline constexpr int kKeyHeaderSize = 28;
inline constexpr int kDefaultPageSize = 62;
inline constexpr int kMaxPageItems = 62;
inline constexpr int kPageHeaderSize = 6;     // int16 count, int32 leftmost child
inline constexpr int kItemFixedPart = 9;      // record, child, length byte
inline constexpr int kExpandedItemSize = 109; // 4 + 4 + 1 + 100
inline constexpr int kMaxTreeDepth = 8;

struct KeyHeader {
  int32_t freeHead = -1;
  int32_t freeCount = 0;
  int32_t highestPage = 0;
  int32_t sectionLength = 0;
  int32_t rootPage = 0;
  uint8_t allowDuplicates = 0;
  int32_t entryCount = 0;
  int16_t storedPageSize = kDefaultPageSize;  // as stored; 0 reads as 62

  int PageSize() const { return storedPageSize == 0 ? kDefaultPageSize : storedPageSize; }
};

KeyHeader DecodeKeyHeader(const uint8_t* in);  // 28 bytes
void EncodeKeyHeader(const KeyHeader& header, uint8_t* out);

// S = (L + 9) x 62 + 6 for the files this engine creates.
inline int32_t SectionLengthFor(int keyLength) { return keyLength * 62 + 564; }

// The key length that a stored section length and page size stand for, or an error:
// kPageSizeTooSmall (10122) for a page size of 63 or more (or below 1),
// kPageSizeMismatch (10120) when the lengths do not fit together, kKeyLengthTooSmall
// (10121) for a key length outside 1..100.
[[nodiscard]] EngineError DeriveKeyLength(const KeyHeader& header, int& keyLength);

// A page in the expanded in-memory form: a fixed 109-byte item width so that every
// key shares one buffer size and the bisection indexes items directly.
struct ExpandedPage {
  int16_t count = 0;
  int32_t leftmost = 0;
  uint8_t items[kMaxPageItems * kExpandedItemSize] = {};

  const uint8_t* Item(int j) const { return items + (j - 1) * kExpandedItemSize; }  // j 1-based
  uint8_t* Item(int j) { return items + (j - 1) * kExpandedItemSize; }
  int32_t Record(int j) const;
  int32_t Child(int j) const;  // j = 0 gives the leftmost child
  std::string_view Text(int j) const;
};

// Bytes a page of `count` items occupies in the file.
inline size_t CompactPageSize(int count, int keyLength) {
  return kPageHeaderSize + static_cast<size_t>(count) * static_cast<size_t>(keyLength + kItemFixedPart);
}

// Expands a page from its file form. `available` is the number of bytes that could be
// read. False when the count is negative or above `pageSize`, when the bytes do not hold
// what the count says, or when an item's text is longer than the key length.
bool ExpandPage(const uint8_t* in, size_t available, int keyLength, int pageSize,
                ExpandedPage& out);
// Writes the compact file form (CompactPageSize bytes) into `out`.
void CompactPage(const ExpandedPage& page, int keyLength, uint8_t* out);

// ---- Coordination file -----------------------------------------------------------------
//
// One file per data file, shared by every station that has it open. Its bytes hold
// either the slot layout or a save journal (below); far beyond its end lie lock ranges
// that hold no data:
//
//   offset                    bytes   meaning
//   0                         1       not interpreted (0 in a file this program makes)
//   1                         2       int16 kLayoutMarker: the file holds the slot layout
//   3 + s x m                 m       slot of station s (0..k-1), a change mask; the
//                                     whole area 3 .. 3 + k x m - 1 is the write lock
//   3                         1       open lock (also the first byte of slot 0)
//   2147483647 - s            1       claim of station s (lock only)
//   2147418113                65535   exclusive use (lock only): whoever gets it is the
//                                     file's only user
//
// A file of one byte is new; any other content that is not the layout is a journal.
// Station claims sit at the top 65535 offsets below 2^31, so no layout has more slots.

inline constexpr int16_t kLayoutMarker = 2000;
inline constexpr uint64_t kLayoutMarkerOffset = 1;
inline constexpr int kSlotAreaOffset = 3;
inline constexpr uint64_t kOpenLockOffset = 3;
inline constexpr uint64_t kOpenLockLength = 1;
inline constexpr uint64_t kStationClaimBase = 2147483647;
inline constexpr uint64_t kExclusiveUseOffset = 2147418113;
inline constexpr uint64_t kExclusiveUseLength = 65535;
inline constexpr int kStationCount = 50;

// Bytes of one station slot: a bit per section plus the "anything changed" bit.
inline int CoordSlotLength(int keyCount) { return (keyCount + 1) / 8 + 1; }
// Offset of station s's slot, m bytes long.
inline uint64_t StationSlotOffset(int station, int slotLength) {
  return kSlotAreaOffset + static_cast<uint64_t>(station) * static_cast<uint64_t>(slotLength);
}
// The one-byte lock range that claims station s (1 .. 65535).
inline uint64_t StationClaimOffset(int station) {
  return kStationClaimBase - static_cast<uint64_t>(station);
}

// ---- Save journal ----------------------------------------------------------------------
//
// What a program in save mode leaves in the coordination file until its save is
// complete: byte 0 (not interpreted), then entries, each starting with an int16 tag:
//
//   tag 1..62  page image of `tag` items
//              +0 int16 count   +2 int16 key number   +4 2 bytes not interpreted
//              +6 count items of L + 9 bytes (the page's file form)
//              then int32 page number, int32 leftmost child
//   tag 1000   header image
//              +0 int16 tag     +2 int16 section (0 data, 1..n keys)
//              +4 28 bytes in the key header layout; a data header fills the first 20
//                 (its key count where a key keeps its root page) and leaves the rest 0
//              +32 int32 link: other than -2, the slot or page named by the image's
//                 free head joins the free chain with this link
//   tag 2000   end of the journal (the layout marker)
//
// A journal that stops before its end tag was cut short: the save never began.

inline constexpr int16_t kJournalHeaderTag = 1000;
inline constexpr int16_t kJournalEndTag = kLayoutMarker;
inline constexpr int16_t kJournalMaxPageTag = kMaxPageItems;
inline constexpr size_t kJournalFirstEntry = 1;
inline constexpr size_t kJournalPageHeadSize = 6;
inline constexpr size_t kJournalPageTailSize = 8;
inline constexpr size_t kJournalImageOffset = 4;
inline constexpr size_t kJournalLinkOffset = kJournalImageOffset + kKeyHeaderSize;
inline constexpr size_t kJournalHeaderEntrySize = kJournalLinkOffset + 4;
inline constexpr int32_t kJournalNoLink = -2;

}  // namespace kv::isam
