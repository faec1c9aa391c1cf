// Coordination with the other programs that have the same files open: station claims,
// the temporary read lock, the write lock with its change signals, record locks, and the
// replay of a save journal left in the coordination file by a program that crashed.
//
// States of a block (one thread; the transitions are the public operations):
//   claimed ──ReadLock──▶ read-locked (own slot) ──ReadUnlock──▶ claimed
//   claimed ──LockBlock──▶ write-locked (whole slot area) ──UnlockBlock──▶ claimed
// Invariants:
//  1. Signals are written only under the write lock (or by an opener that proved it is
//     the file's only user), and a station clears only its own slot.
//  2. Whatever the coordination file holds when it is not the slot layout is a journal;
//     it is replayed before any header or page is trusted again, and only while every
//     other station is kept out (the write lock, or the own slot plus all other slots).
//  3. Every wait is bounded: a lock attempt is repeated at most waitTotal / waitStep times.
// Between two operations a block is claimed or write-locked, never read-locked, and the
// lock table holds exactly the ranges its state names (its station's claim, the slot area
// while write-locked, each record lock); CheckCoordination tests that, and Engine runs it
// after every operation in builds that check invariants.

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>

#include "isam/Coding.h"
#include "isam/EngineOps.h"
#include "platform/System.h"

namespace kv::isam::ops {

using enum EngineError;

namespace {

constexpr int kMaxSlotBytes = (kMaxKeys + 1) / 8 + 1;
constexpr int kLayoutChunk = 513;
// A journal holds a few page and header images; anything bigger is not one.
constexpr uint64_t kMaxJournalBytes = 64ull << 20;

using Mask = std::array<uint8_t, kMaxSlotBytes>;

bool Bit(const uint8_t* mask, int i) { return (mask[i / 8] >> (i % 8)) & 1; }

uint64_t OwnSlotOffset(const FileBlock& b) {
  return StationSlotOffset(b.net->station, b.net->slotLength);
}

Mask FullMask() {
  Mask all;
  all.fill(0xFF);
  return all;
}

// Applies a change mask read from the own slot: re-reads the headers it names and
// forgets what was cached of those keys.
Status Refresh(EngineState& st, FileBlock& b, const uint8_t* mask) {
  NetState& n = *b.net;
  if (!Bit(mask, b.keyCount + 1)) return {};
  if (!b.readOnly) {
    static const uint8_t zeros[kMaxSlotBytes] = {};
    if (Status e = WriteExact(b.coord.file, OwnSlotOffset(b), zeros,
                               static_cast<size_t>(n.slotLength))) {
      n.refreshAll = true;  // the signal is gone from the file: re-read everything next time
      n.areaKnown = false;
      return e;
    }
    if (n.areaKnown) std::memset(n.scratch.data() + OwnSlotOffset(b), 0, static_cast<size_t>(n.slotLength));
  }
  for (int i = 0; i <= b.keyCount; ++i) {
    if (!Bit(mask, i)) continue;
    if (Status e = RereadSection(b, i)) {
      n.refreshAll = true;
      return e;
    }
    if (i > 0) {
      b.sections[static_cast<size_t>(i)].path = SearchPath{};
      DropPages(st, b, i);
    }
  }
  return {};
}

// The slot area but the own slot: the ranges before and after it.
struct OtherSlots {
  uint64_t own, end, after;
  explicit OtherSlots(const FileBlock& b)
      : own(OwnSlotOffset(b)),
        end(kSlotAreaOffset + static_cast<uint64_t>(b.net->slotAreaLength)),
        after(own + static_cast<uint64_t>(b.net->slotLength)) {}
};

Status UnlockOtherSlots(EngineState& st, FileBlock& b) {
  const auto [own, end, after] = OtherSlots(b);
  Status e;
  if (own > kSlotAreaOffset) e = UnlockRange(st, b.coord.file, kSlotAreaOffset, own - kSlotAreaOffset);
  if (end > after) {
    const Status e2 = UnlockRange(st, b.coord.file, after, end - after);
    if (!e) e = e2;
  }
  return e;
}

Status LockOtherSlots(EngineState& st, FileBlock& b) {
  const auto [own, end, after] = OtherSlots(b);
  if (own > kSlotAreaOffset &&
      LockRange(st, b.coord.file, kSlotAreaOffset, own - kSlotAreaOffset, 0, 0)) {
    return kLockFailed;
  }
  if (end > after && LockRange(st, b.coord.file, after, end - after, 0, 0)) {
    if (own > kSlotAreaOffset) (void)UnlockRange(st, b.coord.file, kSlotAreaOffset, own - kSlotAreaOffset);
    return kLockFailed;
  }
  return {};
}

// Reads the marker and the own slot with one read and applies the signal, or replays
// the journal the file holds instead. Under a read lock the other stations must be kept
// out for the replay; the write lock already does that.
enum class Under { kReadLock, kWriteLock };

Status LoadSignals(EngineState& st, FileBlock& b, Under under) {
  const bool takeOthers = under == Under::kReadLock;
  NetState& n = *b.net;
  const size_t own = kSlotAreaOffset + static_cast<size_t>(n.station + 1) * static_cast<size_t>(n.slotLength);
  // Under the write lock the same one read takes the whole slot area (a few hundred
  // bytes at most), which the signal at the unlock then needs not read again.
  const size_t area = kSlotAreaOffset + static_cast<size_t>(n.slotAreaLength);
  const size_t want = takeOthers ? own : std::max(own, area);
  n.areaKnown = false;
  if (n.scratch.size() < want) n.scratch.resize(want);
  size_t done = 0;
  Status first = ReadSome(b.coord.file, 0, n.scratch.data(), want, done);
  // Under a read lock only the marker and the own slot are this block's: the slots
  // between belong to the other stations' read locks (the first also to an opener's
  // open lock). Where locks are mandatory a read across one that is held is refused,
  // so then the two are read apart.
  if (first && takeOthers && MetHeldRange()) {
    ClearHeldRangeNote();
    done = 0;
    if (Status e = ReadSome(b.coord.file, 0, n.scratch.data(), kSlotAreaOffset, done)) return e;
    if (done == static_cast<size_t>(kSlotAreaOffset) && GetI16(n.scratch.data() + kLayoutMarkerOffset) == kLayoutMarker) {
      const size_t slot = static_cast<size_t>(n.slotLength);
      size_t got = 0;
      if (Status e = ReadSome(b.coord.file, own - slot, n.scratch.data() + (own - slot), slot, got)) return e;
      if (got == slot) done = own;
    }
  } else if (first) {
    return first;
  }
  // The marker alone does not make a layout: a file cut short before the own slot (a
  // save that crashed while it rewrote the file, or a layout of fewer slots written by
  // a station that opened it meanwhile) has no signal to read. It is handled as any
  // other content that is not the layout: replayed as a journal (the marker reads as
  // its end tag, so nothing is applied) and laid out anew with this block's slots.
  if (done >= own && GetI16(n.scratch.data() + kLayoutMarkerOffset) == kLayoutMarker) {
    n.areaKnown = !takeOthers && done >= area;
    Mask mask{};
    std::memcpy(mask.data(), n.scratch.data() + OwnSlotOffset(b), static_cast<size_t>(n.slotLength));
    if (n.refreshAll) {
      mask = FullMask();
      n.refreshAll = false;
    }
    return Refresh(st, b, mask.data());
  }
  if (takeOthers) {
    if (Status e = LockOtherSlots(st, b)) return e;
  }
  Status err = ReplayJournal(st, b);
  const Mask all = FullMask();
  // The layout goes back first: the replay leaves a file of one byte, and the refresh
  // writes into the own slot, which would otherwise extend that byte with zeros into a
  // file whose marker is 0 - a journal no station could ever replay - whenever the
  // refresh then failed.
  if (!err) err = WriteLayout(st, b, all.data());
  if (!err) err = Refresh(st, b, all.data());
  if (takeOthers) (void)UnlockOtherSlots(st, b);
  return err;
}

}  // namespace

Status ClaimStation(EngineState& st, FileBlock& b) {
  NetState& n = *b.net;
  const int slots = n.stationSlots;
  if (slots < 1) return kNoStationFree;
  const int start = platform::RandomInRange(1, slots);
  auto tryClaim = [&](int s) {
    return !LockRange(st, b.coord.file, StationClaimOffset(s), 1, 0, 0);
  };
  for (int s = start; s >= 1; --s) {
    if (tryClaim(s)) return n.station = s, kNone;
  }
  for (int s = slots; s > start; --s) {
    if (tryClaim(s)) return n.station = s, kNone;
  }
  return kNoStationFree;
}

bool TestExclusiveUse(EngineState& st, platform::File& coord) {
  if (LockRange(st, coord, kExclusiveUseOffset, kExclusiveUseLength, 0, 0)) return false;
  (void)UnlockRange(st, coord, kExclusiveUseOffset, kExclusiveUseLength);
  return true;
}

Status ReadLock(EngineState& st, FileBlock& b) {
  NetState& n = *b.net;
  if (LockRange(st, b.coord.file, OwnSlotOffset(b), static_cast<uint64_t>(n.slotLength),
                kShortWaitStep, kShortWaitTotal)) {
    return kUndefined;
  }
  if (Status e = LoadSignals(st, b, Under::kReadLock)) {
    (void)UnlockRange(st, b.coord.file, OwnSlotOffset(b), static_cast<uint64_t>(n.slotLength));
    return e;
  }
  n.readLocked = true;
  return {};
}

Status ReadUnlock(EngineState& st, FileBlock& b) {
  NetState& n = *b.net;
  n.readLocked = false;
  if (UnlockRange(st, b.coord.file, OwnSlotOffset(b), static_cast<uint64_t>(n.slotLength))) {
    return kReadUnlockFailed;
  }
  return {};
}

Status LockBlock(EngineState& st, FileBlock& b) {
  if (!b.net || b.net->noLocks || b.net->locked) return {};
  NetState& n = *b.net;
  if (LockRange(st, b.coord.file, kSlotAreaOffset, static_cast<uint64_t>(n.slotAreaLength),
                kLongWaitStep, kLongWaitTotal)) {
    return kLockFailed;
  }
  if (Status e = LoadSignals(st, b, Under::kWriteLock)) {
    n.areaKnown = false;
    (void)UnlockRange(st, b.coord.file, kSlotAreaOffset, static_cast<uint64_t>(n.slotAreaLength));
    return e;
  }
  n.locked = true;
  for (Section& s : b.sections) s.changedSinceLock = false;
  return {};
}

Status SignalChanges(EngineState& st, FileBlock& b) {
  if (!b.modified) return {};  // a block that changed nothing writes nothing
  if (Status e = WriteBackChanges(st, b)) return e;
  Section& data = b.sections[0];
  if (data.headerChanged) {
    data.changedSinceLock = true;
    if (Status e = WriteDataHeader(b)) return e;
  } else {
    const uint8_t zero = 0;
    if (Status e = WriteExact(b.data.file, kDefectFlagOffset, &zero, 1)) return e;
  }
  Mask mask{};
  const int any = b.keyCount + 1;
  mask[static_cast<size_t>(any / 8)] |= static_cast<uint8_t>(1u << (any % 8));
  for (int i = 0; i <= b.keyCount; ++i) {
    if (b.sections[static_cast<size_t>(i)].changedSinceLock) {
      mask[static_cast<size_t>(i / 8)] |= static_cast<uint8_t>(1u << (i % 8));
    }
  }
  return WriteLayout(st, b, mask.data());
}

Status UnlockBlock(EngineState& st, FileBlock& b) {
  if (!b.net || b.net->noLocks || !b.net->locked) return {};
  NetState& n = *b.net;
  if (!b.readOnly) {
    if (Status e = SignalChanges(st, b)) return e;  // the block stays locked
  }
  n.areaKnown = false;  // from now on other stations may change the slot area
  const Status e = UnlockRange(st, b.coord.file, kSlotAreaOffset,
                                static_cast<uint64_t>(n.slotAreaLength));
  // The table has let go of the range either way; a block that claimed to be locked
  // without it could never be unlocked again.
  n.locked = false;
  if (!st.singleUser) b.modified = false;
  return e ? kUnlockFailed : kNone;
}

Status WriteLayout(EngineState&, FileBlock& b, const uint8_t* mask) {
  NetState& n = *b.net;
  const int m = n.slotLength;
  const int slots = n.stationSlots + 1;
  const int perChunk = std::max(1, kLayoutChunk / m);
  bool full = true;
  for (int i = 0; i <= b.keyCount && full; ++i) full = Bit(mask, i);

  std::array<uint8_t, 2 + kLayoutChunk + kMaxSlotBytes> buf;
  uint8_t* area = buf.data() + 2;
  for (int first = 0; first < slots; first += perChunk) {
    const int count = std::min(perChunk, slots - first);
    const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(m);
    const uint64_t offset = kSlotAreaOffset + static_cast<uint64_t>(first) * static_cast<uint64_t>(m);
    std::memset(area, 0, bytes);
    if (!full && n.areaKnown) {
      std::memcpy(area, n.scratch.data() + offset, bytes);
    } else if (!full) {
      size_t done = 0;
      if (Status e = ReadSome(b.coord.file, offset, area, bytes, done)) return e;
    }
    for (int s = 0; s < count; ++s) {
      uint8_t* slot = area + static_cast<size_t>(s) * static_cast<size_t>(m);
      if (first + s == n.station) {
        std::memset(slot, 0, static_cast<size_t>(m));
      } else {
        for (int i = 0; i < m; ++i) slot[i] |= mask[i];
      }
    }
    Status e;
    if (first == 0) {
      PutI16(buf.data(), kLayoutMarker);
      e = WriteExact(b.coord.file, kLayoutMarkerOffset, buf.data(), bytes + 2);
    } else {
      e = WriteExact(b.coord.file, offset, area, bytes);
    }
    if (e) {
      n.areaKnown = false;
      return e;
    }
    if (n.areaKnown) std::memcpy(n.scratch.data() + offset, area, bytes);
  }
  return {};
}

Status LockSlot(EngineState& st, FileBlock& b, int32_t recordNumber) {
  if (!b.net) return {};
  NetState& n = *b.net;
  if (std::find(n.recordLocks.begin(), n.recordLocks.end(), recordNumber) != n.recordLocks.end()) {
    return {};
  }
  if (recordNumber < 0) return kNegativeRecord;
  try {
    n.recordLocks.push_back(recordNumber);
  } catch (const std::bad_alloc&) {
    return kRecordLockMemory;
  }
  const uint64_t offset = static_cast<uint64_t>(recordNumber) * static_cast<uint64_t>(b.SlotLength());
  if (LockRange(st, b.data.file, offset, 4, kShortWaitStep, kShortWaitTotal)) {
    n.recordLocks.pop_back();
    return kRecordLockFailed;
  }
  return {};
}

Status UnlockSlot(EngineState& st, FileBlock& b, int32_t recordNumber) {
  if (!b.net) return {};
  NetState& n = *b.net;
  auto it = std::find(n.recordLocks.begin(), n.recordLocks.end(), recordNumber);
  if (it == n.recordLocks.end()) return {};
  n.recordLocks.erase(it);
  const uint64_t offset = static_cast<uint64_t>(recordNumber) * static_cast<uint64_t>(b.SlotLength());
  return UnlockRange(st, b.data.file, offset, 4) ? kRecordUnlockFailed : kNone;
}

std::string CheckCoordination(const EngineState& st, const FileBlock& b) {
  if (!b.net) return {};
  const NetState& n = *b.net;
  const std::string name = b.data.name + ": ";
  if (n.readLocked) return name + "a temporary read lock outlived its operation";
  if (n.areaKnown && !n.locked) return name + "the slot area is taken as known without the write lock";
  if (n.noLocks && (n.locked || n.station != 0 || !n.recordLocks.empty())) {
    return name + "a block outside the locking holds a lock or a station";
  }
  for (size_t i = 0; i < n.recordLocks.size(); ++i) {
    if (n.recordLocks[i] < 0) return name + "a record lock on a negative record";
    if (std::find(n.recordLocks.begin(), n.recordLocks.begin() + static_cast<ptrdiff_t>(i), n.recordLocks[i]) !=
        n.recordLocks.begin() + static_cast<ptrdiff_t>(i)) {
      return name + "a record locked twice in the block's list";
    }
  }
  // Below: what the lock table must hold, which is only kept when the locks are real.
  if (st.singleUser || n.station == 0) return {};
  if (n.station > n.stationSlots) return name + "a station beyond the slot area";
  auto holds = [&st](const platform::File& f, uint64_t offset, uint64_t length) {
    const auto tab = st.locks.find(&f);
    if (tab == st.locks.end()) return false;
    return std::any_of(tab->second.begin(), tab->second.end(),
                       [&](const LockEntry& e) { return e.offset == offset && e.length == length; });
  };
  if (!holds(b.coord.file, StationClaimOffset(n.station), 1)) return name + "the claimed station is not locked";
  if (n.locked != holds(b.coord.file, kSlotAreaOffset, static_cast<uint64_t>(n.slotAreaLength))) {
    return name + (n.locked ? "the write lock is set but its range is not held" : "the slot area is held without the write lock");
  }
  for (const int32_t r : n.recordLocks) {
    if (!holds(b.data.file, static_cast<uint64_t>(r) * static_cast<uint64_t>(b.SlotLength()), 4)) {
      return name + "record " + std::to_string(r) + " is in the lock list but not locked";
    }
  }
  return {};
}

// ---- Journal replay ----------------------------------------------------------------------
//
// The journal is read and checked whole before anything is written: a journal cut short
// (the saving program crashed while writing it, before it touched the files) is no
// journal at all, and one with a bad entry is refused, so neither leaves half of a save
// in the files.

namespace {

struct JournalEntry {
  bool isPage = false;
  int section = 0;  // key number for a page
  // Page image.
  int count = 0;
  size_t itemsAt = 0;  // offset of the items in the journal bytes
  int32_t page = 0;
  int32_t leftmost = 0;
  // Header image.
  int32_t freeHead = 0, freeCount = 0, highest = 0, length = 0, keyCountOrRoot = 0;
  uint8_t duplicates = 0;
  int32_t entries = 0, link = 0;
};

enum class Parse { kComplete, kCutShort, kBad };

Parse ParseJournal(const FileBlock& b, const std::vector<uint8_t>& j,
                   std::vector<JournalEntry>& out) {
  size_t pos = kJournalFirstEntry;
  auto have = [&](size_t n) { return pos + n <= j.size(); };
  for (;;) {
    if (!have(2)) return Parse::kCutShort;
    const int16_t tag = GetI16(&j[pos]);
    if (tag == kJournalEndTag) return Parse::kComplete;
    if (tag >= 1 && tag <= kJournalMaxPageTag) {
      if (!have(kJournalPageHeadSize)) return Parse::kCutShort;
      JournalEntry e;
      e.isPage = true;
      e.count = tag;
      e.section = GetI16(&j[pos + 2]);
      if (e.section < 1 || e.section > b.keyCount) return Parse::kBad;
      const Section& s = b.sections[static_cast<size_t>(e.section)];
      if (e.count > s.key.PageSize()) return Parse::kBad;
      const size_t width = static_cast<size_t>(s.keyLength) + kItemFixedPart;
      const size_t items = static_cast<size_t>(e.count) * width;
      pos += kJournalPageHeadSize;
      if (!have(items + kJournalPageTailSize)) return Parse::kCutShort;
      e.itemsAt = pos;
      for (int i = 0; i < e.count; ++i) {
        if (j[pos + static_cast<size_t>(i) * width + 8] > s.keyLength) return Parse::kBad;
      }
      pos += items;
      e.page = GetI32(&j[pos]);
      e.leftmost = GetI32(&j[pos + 4]);
      pos += kJournalPageTailSize;
      out.push_back(e);
      continue;
    }
    if (tag == kJournalHeaderTag) {
      if (!have(kJournalHeaderEntrySize)) return Parse::kCutShort;
      JournalEntry e;
      e.section = GetI16(&j[pos + 2]);
      const KeyHeader image = DecodeKeyHeader(&j[pos + kJournalImageOffset]);
      e.freeHead = image.freeHead;
      e.freeCount = image.freeCount;
      e.highest = image.highestPage;
      e.length = image.sectionLength;
      e.keyCountOrRoot = image.rootPage;
      e.duplicates = image.allowDuplicates;
      e.entries = image.entryCount;
      e.link = GetI32(&j[pos + kJournalLinkOffset]);
      pos += kJournalHeaderEntrySize;
      out.push_back(e);
      continue;
    }
    return Parse::kBad;
  }
}

// Every write a journal asks for must land inside the file block: known sections, the
// block's own record shape, and page or slot numbers its headers account for.
bool JournalFits(const FileBlock& b, const std::vector<JournalEntry>& entries,
                 uint64_t indexSize) {
  std::vector<int64_t> highest(static_cast<size_t>(b.keyCount) + 1, 0);
  std::vector<int64_t> pageImages(static_cast<size_t>(b.keyCount) + 1, 0);
  for (int k = 1; k <= b.keyCount; ++k) highest[static_cast<size_t>(k)] = b.sections[static_cast<size_t>(k)].key.highestPage;
  for (const JournalEntry& e : entries) {
    if (e.isPage) {
      ++pageImages[static_cast<size_t>(e.section)];
      continue;
    }
    if (e.section < 0 || e.section > b.keyCount) return false;
    if (e.section == 0) {
      if (e.length != b.SlotLength() || (e.keyCountOrRoot & 0xFF) != b.keyCount) return false;
      if (e.link != kJournalNoLink && (e.freeHead < 1 || e.freeHead > e.highest)) return false;
    } else {
      const Section& s = b.sections[static_cast<size_t>(e.section)];
      if (e.length != s.key.sectionLength) return false;
      if (e.link != kJournalNoLink && (e.freeHead < 1 || e.freeHead > e.highest)) return false;
      highest[static_cast<size_t>(e.section)] = std::max<int64_t>(highest[static_cast<size_t>(e.section)], e.highest);
    }
  }
  const int64_t r = std::max<int64_t>(b.indexRecordLength, 1);
  const int64_t filePages = static_cast<int64_t>(indexSize) / r + 1;
  for (const JournalEntry& e : entries) {
    if (!e.isPage) continue;
    const size_t k = static_cast<size_t>(e.section);
    // A save adds at most one page per image it journals.
    const int64_t limit = std::min(highest[k], filePages + pageImages[k]);
    if (e.page < 1 || e.page > limit) return false;
  }
  return true;
}

Status ApplyEntry(FileBlock& b, const std::vector<uint8_t>& j, const JournalEntry& e) {
  if (e.isPage) {
    const Section& s = b.sections[static_cast<size_t>(e.section)];
    const size_t width = static_cast<size_t>(s.keyLength) + kItemFixedPart;
    std::vector<uint8_t> page(CompactPageSize(e.count, s.keyLength));
    PutI16(page.data(), static_cast<int16_t>(e.count));
    PutI32(page.data() + 2, e.leftmost);
    std::memcpy(page.data() + kPageHeaderSize, &j[e.itemsAt], static_cast<size_t>(e.count) * width);
    const uint64_t at = static_cast<uint64_t>(e.page) * static_cast<uint64_t>(b.indexRecordLength) +
                        static_cast<uint64_t>(s.offset);
    return WriteExact(b.index.file, at, page.data(), page.size());
  }
  uint8_t link[4];
  PutI32(link, e.link);
  if (e.section == 0) {
    if (e.link != kJournalNoLink) {
      const uint64_t at = static_cast<uint64_t>(e.freeHead) * static_cast<uint64_t>(b.SlotLength());
      if (Status err = WriteExact(b.data.file, at, link, 4)) return err;
    }
    DataHeader& h = b.sections[0].data;
    h.freeHead = e.freeHead;
    h.freeCount = e.freeCount;
    h.highestSlot = e.highest;
    h.slotLength = e.length;
    h.keyCount = static_cast<uint8_t>(e.keyCountOrRoot & 0xFF);
    h.defectFlag = 0;
    return WriteDataHeader(b);
  }
  Section& s = b.sections[static_cast<size_t>(e.section)];
  if (e.link != kJournalNoLink) {
    const uint64_t at = static_cast<uint64_t>(e.freeHead) * static_cast<uint64_t>(b.indexRecordLength) +
                        static_cast<uint64_t>(s.offset);
    if (Status err = WriteExact(b.index.file, at, link, 4)) return err;
  }
  KeyHeader& h = s.key;
  h.freeHead = e.freeHead;
  h.freeCount = e.freeCount;
  h.highestPage = e.highest;
  h.sectionLength = e.length;
  h.rootPage = e.keyCountOrRoot;
  h.allowDuplicates = e.duplicates;
  h.entryCount = e.entries;
  return WriteKeyHeader(b, e.section);
}

}  // namespace

Status ReplayJournal(EngineState& st, FileBlock& b) {
  if (b.readOnly) return kNoRepairReadOnly;
  DropPages(st, b, 0);
  for (Section& s : b.sections) s.path = SearchPath{};

  uint64_t size = 0;
  if (FileSize(b.coord.file, size) || size > kMaxJournalBytes) return kRepairFailed;
  std::vector<uint8_t> journal(static_cast<size_t>(size));
  size_t done = 0;
  if (ReadSome(b.coord.file, 0, journal.data(), journal.size(), done)) return kRepairFailed;
  journal.resize(done);

  std::vector<JournalEntry> entries;
  const Parse parsed = ParseJournal(b, journal, entries);
  if (parsed == Parse::kBad) return kRepairFailed;
  if (parsed == Parse::kComplete) {
    uint64_t indexSize = 0;
    if (b.keyCount > 0 && FileSize(b.index.file, indexSize)) return kRepairFailed;
    if (!JournalFits(b, entries, indexSize)) return kRepairFailed;
    for (const JournalEntry& e : entries) {
      if (ApplyEntry(b, journal, e)) return kRepairFailed;
    }
    if (st.singleUser || !b.net) {
      if (WriteDataHeader(b)) return kRepairFailed;
      if (FlushFile(b.data, false)) return kRepairFailed;
      if (b.keyCount > 0 && FlushFile(b.index, false)) return kRepairFailed;
    }
  }
  if (Truncate(b.coord.file, 1)) return kRepairFailed;
  return {};
}

}  // namespace kv::isam::ops
