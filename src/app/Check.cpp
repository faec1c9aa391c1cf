#include "app/Check.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "app/ReadAround.h"
#include "isam/Coding.h"
#include "modules/BackgroundJob.h"
#include "isam/Format.h"
#include "modules/ModuleTables.h"
#include "platform/File.h"
#include "platform/System.h"

namespace kv::app {

namespace {

using isam::GetI16;
using isam::GetI32;
using platform::OsError;
using platform::OsStatus;

// Findings of one kind past this many in one file (and key) are only counted: a
// hostile file must not bury the first findings under millions like them.
constexpr int kFindingsPerKind = 20;
// A data file with its index and coordination files is judged again when it changed
// while it was read, or when it showed damage (damage counts only when two readings
// agree); after this many readings it is named busy instead.
constexpr int kReadings = 3;
constexpr size_t kChunkBytes = 1 << 20;
// An index file is judged in memory; a larger one is named and left. The next one is
// read ahead only when it is at most kMaxAheadIndexBytes.
constexpr uint64_t kMaxIndexBytes = 1ull << 30;
constexpr uint64_t kMaxAheadIndexBytes = 256ull << 20;
// What the engine's replay reads of a journal at most, and how many slots a layout may
// hold (station claims sit at the top 65535 offsets below 2^31).
constexpr uint64_t kMaxJournalBytes = 64ull << 20;
constexpr uint64_t kMaxCoordSlots = 65536;
// The open refuses a data header with more keys than this.
constexpr int kMaxKeys = 100;
// Engine errors the open reports, named in the findings' texts.
constexpr int kDefectError = 10010;
constexpr int kTooManyKeysError = 10060;
constexpr int kReplayError = 10180;

std::string Num(int64_t v) { return std::to_string(v); }

// ---- Findings of one file set --------------------------------------------------------

class Findings {
 public:
  void Add(const std::string& file, CheckKind kind, bool damage, std::string place, std::string text,
           int key = 0) {
    const auto id = std::make_pair(file + '\t' + Num(key), kind);
    Tally& t = tallies_[id];
    if (++t.count > kFindingsPerKind) {
      t.damage = t.damage || damage;
      return;
    }
    list_.push_back({file, kind, damage, std::move(place), std::move(text)});
  }
  // Adds one line per kind that was cut off.
  void Finish() {
    for (const auto& [id, t] : tallies_) {
      if (t.count <= kFindingsPerKind) continue;
      const std::string file = id.first.substr(0, id.first.find('\t'));
      list_.push_back({file, id.second, t.damage, "file",
                       Num(t.count - kFindingsPerKind) + " more findings of this kind, not listed"});
    }
    tallies_.clear();
  }
  bool AnyDamage() const {
    return std::any_of(list_.begin(), list_.end(), [](const CheckFinding& f) { return f.damage; });
  }
  const std::vector<CheckFinding>& List() const { return list_; }

 private:
  struct Tally {
    int64_t count = 0;
    bool damage = false;
  };
  std::map<std::pair<std::string, CheckKind>, Tally> tallies_;
  std::vector<CheckFinding> list_;
};

bool SameFindings(const std::vector<CheckFinding>& a, const std::vector<CheckFinding>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const CheckFinding& x, const CheckFinding& y) {
    return x.file == y.file && x.kind == y.kind && x.damage == y.damage && x.place == y.place && x.text == y.text;
  });
}

// ---- Reading ---------------------------------------------------------------------------

// Opens an existing file for reading only, shared with every station.
OsStatus OpenForCheck(const std::string& path, platform::File& file, uint64_t& size) {
  size = 0;
  if (OsStatus rc = platform::File::Open(path, platform::Access::kReadOnly, platform::Share::kShared, file)) return rc;
  return file.Size(size);
}

bool Missing(OsStatus rc) { return rc == OsError::kFileNotFound || rc == OsError::kPathNotFound; }

// Reads exactly `length` bytes; a short count is kReadPastEnd's stand-in kGenFailure.
OsStatus ReadExact(platform::File& file, uint64_t offset, uint8_t* out, size_t length) {
  size_t done = 0;
  if (OsStatus rc = file.ReadAt(offset, out, length, done)) return rc;
  return done == length ? OsStatus() : OsStatus(OsError::kGenFailure);
}

std::string ErrorText(OsStatus rc) {
  return std::string(platform::SystemErrorText(rc)) + " (error " + Num(rc.Code()) + ")";
}

// ---- Data file -----------------------------------------------------------------------

struct DataView {
  bool readable = false;  // the header could be read
  isam::DataHeader header;
  uint64_t size = 0;
  bool slotsJudged = false;  // slot length and highest slot were usable
  int32_t slotsInFile = 0;   // slots 1..slotsInFile lie wholly in the file (and in the header's range)
  std::vector<int32_t> marks;  // first four bytes of slots 0..slotsInFile
  std::vector<bool> held;      // slots whose first four bytes another station holds
  int64_t heldCount = 0;
  int64_t live = 0;

  bool IsHeld(int32_t slot) const { return !held.empty() && held[static_cast<size_t>(slot)]; }
};

void JudgeDataHeader(const std::string& name, const modules::DataFileDef& def, platform::File& file, DataView& view,
                     Findings& f) {
  uint8_t raw[isam::kDataHeaderSize];
  if (view.size < sizeof raw) {
    f.Add(name, CheckKind::kDataHeader, true, "header",
          "the file is " + Num(static_cast<int64_t>(view.size)) + " bytes long, too short for its 21-byte header");
    return;
  }
  if (OsStatus rc = ReadExact(file, 0, raw, sizeof raw)) {
    f.Add(name, CheckKind::kDataHeader, true, "header", "the header cannot be read: " + ErrorText(rc));
    return;
  }
  view.readable = true;
  const isam::DataHeader& h = view.header = isam::DecodeDataHeader(raw);
  if (h.defectFlag != 0) {
    f.Add(name, CheckKind::kDataHeader, true, "header",
          "the defect flag is " + Num(h.defectFlag) + ": every open fails with error " + Num(kDefectError));
  }
  const auto tableKeys = static_cast<int>(def.keys.size());
  if (h.keyCount > kMaxKeys) {
    f.Add(name, CheckKind::kDataHeader, true, "header",
          "the header names " + Num(h.keyCount) + " keys, more than 100: the open fails with error " +
              Num(kTooManyKeysError));
  } else if (h.keyCount != tableKeys) {
    f.Add(name, CheckKind::kDataHeader, true, "header",
          "the header names " + Num(h.keyCount) + " keys, the module keeps " + Num(tableKeys));
  }
  if (h.slotLength != def.recordLength) {
    f.Add(name, CheckKind::kDataHeader, true, "header",
          "the slot length is " + Num(h.slotLength) + ", the module's record length " + Num(def.recordLength));
  }
  if (h.slotLength < isam::kMinSlotLength) {
    f.Add(name, CheckKind::kDataHeader, true, "header",
          "a slot length of " + Num(h.slotLength) + " is below 21: the slots cannot be judged");
    return;
  }
  if (h.highestSlot < 0) {
    f.Add(name, CheckKind::kDataHeader, true, "header",
          "the highest slot is " + Num(h.highestSlot) + ": the slots cannot be judged");
    return;
  }
  const auto slot = static_cast<uint64_t>(h.slotLength);
  const uint64_t whole = view.size / slot;  // slots 0..whole-1 lie wholly in the file
  const uint64_t expected = (static_cast<uint64_t>(h.highestSlot) + 1) * slot;
  if (view.size < expected) {
    f.Add(name, CheckKind::kDataHeader, true, "header",
          "the header claims slots up to " + Num(h.highestSlot) + ", the file holds " +
              (whole == 0 ? std::string("none") : "slots up to " + Num(static_cast<int64_t>(whole) - 1)) +
              " (" + Num(static_cast<int64_t>(view.size)) + " bytes)");
  } else if (view.size > expected) {
    f.Add(name, CheckKind::kDataHeader, false, "slot " + Num(int64_t{h.highestSlot} + 1),
          Num(static_cast<int64_t>(view.size - expected)) + " bytes lie beyond the highest slot " +
              Num(h.highestSlot) + " (an append cut short?); the suite does not read them");
  }
  view.slotsJudged = true;
  view.slotsInFile = static_cast<int32_t>(std::min<uint64_t>(static_cast<uint64_t>(h.highestSlot), whole == 0 ? 0 : whole - 1));
}

// The first four bytes of every slot, read a chunk or two ahead on the reader thread
// while this one takes them in. Where another station holds a record (a read over its
// range is refused) the chunk is read around it; the held slots are tried again in
// rounds within `heldWaitMs` after the rest of the file, and what stays held is set
// aside.
void ReadAllMarks(const std::string& name, platform::File& file, DataView& view, Findings& f,
                  const CheckOptions& options, int32_t heldWaitMs) {
  view.marks.assign(static_cast<size_t>(view.slotsInFile) + 1, 0);
  const auto slot = static_cast<uint64_t>(view.header.slotLength);
  // Never more slots than the file holds: a hostile slot length must not size a buffer.
  const auto perChunk = std::min(static_cast<int32_t>(std::max<uint64_t>(1, kChunkBytes / slot)), view.slotsInFile);
  if (perChunk <= 0) return;
  auto take = [&view](const uint8_t* record, int32_t number) {
    view.marks[static_cast<size_t>(number)] = GetI32(record);
    if (isam::SlotIsLive(record)) ++view.live;
  };
  std::vector<int32_t> held;
  {
    ChunkReader reader(file, slot, perChunk, view.slotsInFile);
    while (ChunkReader::Chunk* chunk = reader.Next()) {
      if (!chunk->ok) {
        f.Add(name, CheckKind::kDataHeader, true, "slot " + Num(chunk->failedAt),
              "the slots from " + Num(chunk->failedAt) + " cannot be read: " + ErrorText(chunk->failure));
        view.slotsInFile = chunk->failedAt - 1;  // judge only what was read
        view.marks.resize(static_cast<size_t>(chunk->failedAt));
        reader.Done(chunk);
        break;
      }
      chunk->Visit(slot, held, take);
      reader.Done(chunk);
    }
  }  // the reader's thread has ended: the file is this thread's alone again
  std::erase_if(held, [&view](int32_t s) { return s > view.slotsInFile; });
  int32_t failed = 0;
  if (!RetryHeldRecords(
          file, slot, held, heldWaitMs, options.heldRecordRounds,
          [&](int32_t record, int round) {
            if (options.onWaiting) options.onWaiting(name, record, round, std::max(1, options.heldRecordRounds));
          },
          take, failed)) {
    f.Add(name, CheckKind::kDataHeader, true, "slot " + Num(failed),
          "slot " + Num(failed) + " cannot be read: " + ErrorText(OsError::kGenFailure));
  }
  if (held.empty()) return;
  view.held.assign(view.marks.size(), false);
  for (int32_t s : held) view.held[static_cast<size_t>(s)] = true;
  view.heldCount = static_cast<int64_t>(held.size());
}

// The chain of deleted slots: from the header's head through each slot's link to -1.
void JudgeFreeChain(const std::string& name, const DataView& view, Findings& f) {
  const isam::DataHeader& h = view.header;
  if (h.freeCount < 0 || h.freeCount > h.highestSlot) {
    f.Add(name, CheckKind::kFreeChain, true, "header",
          "the free count " + Num(h.freeCount) + " is outside 0.." + Num(h.highestSlot));
  }
  std::vector<bool> onChain(view.marks.size(), false);
  int64_t length = 0;
  bool whole = true;  // the chain was followed to its end
  int32_t previous = 0;  // the slot whose link is followed; 0 for the header
  const auto from = [&previous] { return previous == 0 ? std::string("header") : "slot " + Num(previous); };
  for (int32_t s = h.freeHead; s != -1;) {
    if (s < 1 || s > h.highestSlot) {
      f.Add(name, CheckKind::kFreeChain, true, from(),
            "the free chain leaves the file: a link to slot " + Num(s) + ", outside 1.." + Num(h.highestSlot));
      whole = false;
      break;
    }
    if (s > view.slotsInFile) {  // beyond the end of the file: named with the header
      whole = false;
      break;
    }
    const auto at = static_cast<size_t>(s);
    if (view.IsHeld(s)) {
      whole = false;  // another station holds it: the rest of the chain is unknown
      break;
    }
    if (onChain[at]) {
      f.Add(name, CheckKind::kFreeChain, true, from(), "the free chain runs in a circle: it returns to slot " + Num(s));
      whole = false;
      break;
    }
    if (view.marks[at] == 0) {
      f.Add(name, CheckKind::kFreeChain, true, from(), "the free chain runs through slot " + Num(s) + ", a live record");
      whole = false;
      break;
    }
    onChain[at] = true;
    ++length;
    previous = s;
    s = view.marks[at];
  }
  if (!whole) return;
  if (length != h.freeCount) {
    f.Add(name, CheckKind::kFreeChain, true, "header",
          "the header counts " + Num(h.freeCount) + " free slots, the chain holds " + Num(length));
  }
  if (view.heldCount > 0) return;
  int64_t astray = 0;
  int32_t first = 0;
  for (int32_t s = 1; s <= view.slotsInFile; ++s) {
    const auto at = static_cast<size_t>(s);
    if (view.marks[at] != 0 && !onChain[at]) {
      if (astray++ == 0) first = s;
    }
  }
  if (astray > 0) {
    f.Add(name, CheckKind::kFreeChain, false, "slot " + Num(first),
          Num(astray) + " deleted slots are not on the free chain (the suite never reuses them)");
  }
}

// ---- Index file --------------------------------------------------------------------------

struct KeyView {
  isam::KeyHeader header;
  int keyLength = 0;
  int32_t offset = 0;  // of the key's section in an index record
};

struct IndexView {
  bool judged = false;  // the key headers could all be read and the open accepts them
  std::vector<uint8_t> bytes;
  int64_t recordLength = 0;
  std::vector<KeyView> keys;  // keys 1..n at [0..n-1]
};

// A position in key order, for the bounds a parent's items give its subtrees.
struct Bound {
  bool has = false;
  std::string_view text;
  int32_t record = 0;
};

int CompareText(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c < 0 ? -1 : 1;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// A key page read where it lies, in its file form: the check only reads pages, so it
// does not copy each into the engine's expanded form. ViewPage refuses what
// isam::ExpandPage refuses.
struct PageView {
  const uint8_t* items = nullptr;  // item 1
  size_t width = 0;
  int16_t count = 0;
  int32_t leftmost = 0;

  const uint8_t* Item(int j) const { return items + static_cast<size_t>(j - 1) * width; }  // j 1-based
  int32_t Record(int j) const { return GetI32(Item(j)); }
  int32_t Child(int j) const { return j == 0 ? leftmost : GetI32(Item(j) + 4); }
  std::string_view Text(int j) const {
    const uint8_t* item = Item(j);
    return {reinterpret_cast<const char*>(item + 9), item[8]};
  }
};

// `in` holds the page's CompactPageSize bytes for its count (checked by the caller).
bool ViewPage(const uint8_t* in, int keyLength, int pageSize, PageView& out) {
  out.count = GetI16(in);
  if (out.count < 0 || out.count > pageSize || out.count > isam::kMaxPageItems) return false;
  out.leftmost = GetI32(in + 2);
  out.items = in + isam::kPageHeaderSize;
  out.width = static_cast<size_t>(keyLength) + isam::kItemFixedPart;
  for (int j = 1; j <= out.count; ++j) {
    if (out.Item(j)[8] > keyLength) return false;
  }
  return true;
}

class TreeJudge {
 public:
  TreeJudge(const std::string& name, int key, const KeyView& kv, const IndexView& index, const DataView& data,
            Findings& f)
      : name_(name), key_(key), kv_(kv), index_(index), data_(data), f_(f), frames_(isam::kMaxTreeDepth) {
    const isam::KeyHeader& h = kv_.header;
    const auto records = static_cast<int64_t>(index_.bytes.size()) / index_.recordLength;
    limit_ = static_cast<int32_t>(std::min<int64_t>(h.highestPage, records));
    tree_.assign(static_cast<size_t>(std::max(limit_, 0)) + 1, false);
  }

  void Run() {
    const isam::KeyHeader& h = kv_.header;
    if (h.highestPage < 0) {
      Add(CheckKind::kKeyHeader, KeyPlace(), "the highest page is " + Num(h.highestPage));
      return;
    }
    if (h.highestPage > 0 && static_cast<int64_t>(h.highestPage) * index_.recordLength >=
                                 static_cast<int64_t>(index_.bytes.size())) {
      Add(CheckKind::kKeyPage, KeyPlace(),
          "the highest page " + Num(h.highestPage) + " lies beyond the end of the file");
    }
    if (h.entryCount < 0) Add(CheckKind::kKeyCount, KeyPlace(), "the entry count is " + Num(h.entryCount));
    if (h.rootPage < 0 || h.rootPage > h.highestPage) {
      Add(CheckKind::kKeyLink, KeyPlace(),
          "the root page " + Num(h.rootPage) + " is outside 0.." + Num(h.highestPage));
      broken_ = true;
    } else if (h.rootPage != 0) {
      Walk();
    }
    if (!broken_ && entries_ != h.entryCount && h.entryCount >= 0) {
      Add(CheckKind::kKeyCount, KeyPlace(),
          "the header counts " + Num(h.entryCount) + " entries, the tree holds " + Num(entries_));
    }
    const bool chainWhole = JudgeFreePages();
    if (!broken_ && chainWhole) NoteLeaks();
  }

 private:
  struct Frame {
    PageView page;
    int32_t number = 0;
    int level = 0;
    int next = 0;  // the child to visit next, 0 = leftmost
    bool inner = false;
    Bound low, high;
  };

  std::string KeyPlace() const { return "key " + Num(key_) + " header"; }
  std::string PagePlace(int32_t page) const { return "key " + Num(key_) + " page " + Num(page); }
  std::string ItemPlace(int32_t page, int item) const { return PagePlace(page) + " item " + Num(item); }
  void Add(CheckKind kind, std::string place, std::string text, bool damage = true) {
    f_.Add(name_, kind, damage, std::move(place), std::move(text), key_);
  }
  uint64_t PageOffset(int32_t page) const {
    return static_cast<uint64_t>(page) * static_cast<uint64_t>(index_.recordLength) +
           static_cast<uint64_t>(kv_.offset);
  }

  // Visits the tree depth first with an explicit stack of at most 8 pages.
  void Walk() {
    int top = -1;
    if (Enter(kv_.header.rootPage, 1, Bound{}, Bound{}, 0, 0, top)) ++top;
    while (top >= 0) {
      Frame& fr = frames_[static_cast<size_t>(top)];
      if (!fr.inner || fr.next > fr.page.count) {
        --top;
        continue;
      }
      const int j = fr.next++;
      const int32_t child = fr.page.Child(j);
      if (child == 0) continue;  // named with the page
      if (fr.level == isam::kMaxTreeDepth) {
        if (!deepNamed_) {
          Add(CheckKind::kKeyLink, PagePlace(fr.number),
              "the tree is deeper than 8 levels: the suite's search cannot go below this page");
          deepNamed_ = true;
        }
        broken_ = true;
        fr.next = fr.page.count + 1;
        continue;
      }
      Bound low = fr.low;
      Bound high = fr.high;
      if (j > 0) low = Bound{true, fr.page.Text(j), fr.page.Record(j)};
      if (j < fr.page.count) high = Bound{true, fr.page.Text(j + 1), fr.page.Record(j + 1)};
      if (Enter(child, fr.level + 1, low, high, fr.number, j, top)) ++top;
    }
  }

  // Where the link to a page stands: item j of page `parent` (0: its leftmost link), or
  // the key header for the root (parent 0).
  std::string LinkPlace(int32_t parent, int j) const {
    if (parent == 0) return KeyPlace();
    return j == 0 ? PagePlace(parent) + " leftmost link" : ItemPlace(parent, j);
  }

  // Judges one page, reached from item j of `parent`, and makes it the frame above
  // `top`; false when it is not to be descended into.
  bool Enter(int32_t page, int level, const Bound& low, const Bound& high, int32_t parent, int j, int top) {
    const isam::KeyHeader& h = kv_.header;
    if (page < 1 || page > h.highestPage) {
      Add(CheckKind::kKeyLink, LinkPlace(parent, j), "a link to page " + Num(page) + ", outside 1.." + Num(h.highestPage));
      broken_ = true;
      return false;
    }
    const uint64_t at = PageOffset(page);
    const uint64_t size = index_.bytes.size();
    if (page > limit_ || at + isam::kPageHeaderSize > size) {
      Add(CheckKind::kKeyPage, PagePlace(page), "the page lies beyond the end of the file");
      broken_ = true;
      return false;
    }
    if (tree_[static_cast<size_t>(page)]) {
      Add(CheckKind::kKeyLink, LinkPlace(parent, j),
          "page " + Num(page) + " is reached a second time (a loop, or a page two parents share)");
      broken_ = true;
      return false;
    }
    tree_[static_cast<size_t>(page)] = true;
    const uint8_t* in = index_.bytes.data() + at;
    const int16_t count = GetI16(in);
    const int pageSize = h.PageSize();
    if (count < 0 || count > pageSize) {
      Add(CheckKind::kKeyPage, PagePlace(page),
          "the item count " + Num(count) + " is outside 0.." + Num(pageSize) + " (the page size)");
      broken_ = true;
      return false;
    }
    if (at + isam::CompactPageSize(count, kv_.keyLength) > size) {
      Add(CheckKind::kKeyPage, PagePlace(page),
          "the page's " + Num(count) + " items run past the end of the file");
      broken_ = true;
      return false;
    }
    Frame& fr = frames_[static_cast<size_t>(top + 1)];
    if (!ViewPage(in, kv_.keyLength, pageSize, fr.page)) {
      const size_t width = static_cast<size_t>(kv_.keyLength) + isam::kItemFixedPart;
      int item = 1;
      while (item < count && in[isam::kPageHeaderSize + static_cast<size_t>(item - 1) * width + 8] <= kv_.keyLength) ++item;
      Add(CheckKind::kKeyPage, ItemPlace(page, item),
          "the key text is longer than the key length " + Num(kv_.keyLength));
      broken_ = true;
      return false;
    }
    fr.number = page;
    fr.level = level;
    fr.next = 0;
    fr.low = low;
    fr.high = high;
    fr.inner = fr.page.leftmost != 0;
    entries_ += count;
    JudgeItems(fr);
    if (!fr.inner) {
      if (leafLevel_ == 0) {
        leafLevel_ = level;
      } else if (level != leafLevel_ && !levelsNamed_) {
        Add(CheckKind::kKeyLink, PagePlace(page),
            "a leaf at level " + Num(level) + ", while the first leaf lies at level " + Num(leafLevel_));
        levelsNamed_ = true;
      }
    }
    return fr.inner;
  }

  // Order of two entries: negative when a comes first. `same` is set for equal texts.
  int Order(const Bound& a, const Bound& b, bool& same) const {
    const int c = CompareText(a.text, b.text);
    same = c == 0;
    if (c != 0 || !kv_.header.allowDuplicates) return c;
    return a.record < b.record ? -1 : (a.record > b.record ? 1 : 0);
  }

  // `first` must come before `second`; names it (at item j of `page`) where it does not.
  void InOrder(const Bound& first, const Bound& second, int32_t page, int j, const char* what) {
    bool same = false;
    const int c = Order(first, second, same);
    if (c < 0) return;
    if (same && c == 0) {
      Add(CheckKind::kKeyDuplicate, ItemPlace(page, j),
          kv_.header.allowDuplicates ? std::string("the same entry (text and record ") + Num(second.record) + ") " + what
                                     : std::string("an equal key text ") + what + ", in a key without duplicates");
      return;
    }
    Add(CheckKind::kKeyOrder, ItemPlace(page, j), std::string("the key text is out of order: ") + what);
  }

  // Places are made only for findings: a sound tree of millions of entries makes none.
  void JudgeItems(const Frame& fr) {
    const int32_t page = fr.number;
    const bool inner = fr.inner;
    for (int j = 1; j <= fr.page.count; ++j) {
      const Bound item{true, fr.page.Text(j), fr.page.Record(j)};
      if (j > 1) {
        InOrder(Bound{true, fr.page.Text(j - 1), fr.page.Record(j - 1)}, item, page, j, "after the item before it");
      } else if (fr.low.has) {
        InOrder(fr.low, item, page, j, "below the bound its parent page sets");
      }
      if (j == fr.page.count && fr.high.has) InOrder(item, fr.high, page, j, "above the bound its parent page sets");
      if ((fr.page.Child(j) != 0) != inner) {
        Add(CheckKind::kKeyLink, ItemPlace(page, j),
            inner ? std::string("no child link in an inner page") : "a child link " + Num(fr.page.Child(j)) + " in a leaf");
        broken_ = true;
      }
      JudgeRecord(item.record, page, j);
    }
  }

  void JudgeRecord(int32_t record, int32_t page, int j) {
    if (!data_.slotsJudged) return;
    if (record < 1 || record > data_.header.highestSlot) {
      Add(CheckKind::kKeyRecord, ItemPlace(page, j),
          "the entry names record " + Num(record) + ", outside the data file's 1.." + Num(data_.header.highestSlot));
    } else if (record <= data_.slotsInFile && !data_.IsHeld(record) && data_.marks[static_cast<size_t>(record)] != 0) {
      Add(CheckKind::kKeyRecord, ItemPlace(page, j), "the entry names record " + Num(record) + ", a deleted slot");
    }
  }

  // False when the chain could not be followed to its end.
  bool JudgeFreePages() {
    const isam::KeyHeader& h = kv_.header;
    free_.assign(tree_.size(), false);
    int64_t length = 0;
    std::string from = KeyPlace();
    for (int32_t p = h.freeHead; p != -1;) {
      if (p < 1 || p > h.highestPage) {
        Add(CheckKind::kPageFreeChain, from, "a link to page " + Num(p) + ", outside 1.." + Num(h.highestPage));
        return false;
      }
      const uint64_t at = PageOffset(p);
      if (p > limit_ || at + 4 > index_.bytes.size()) {
        Add(CheckKind::kPageFreeChain, from, "free page " + Num(p) + " lies beyond the end of the file");
        return false;
      }
      const auto i = static_cast<size_t>(p);
      if (tree_[i]) {
        Add(CheckKind::kPageFreeChain, from, "the page free chain runs through page " + Num(p) + ", a page of the tree");
        return false;
      }
      if (free_[i]) {
        Add(CheckKind::kPageFreeChain, from, "the page free chain runs in a circle: it returns to page " + Num(p));
        return false;
      }
      free_[i] = true;
      ++length;
      from = PagePlace(p);
      p = GetI32(index_.bytes.data() + at);
    }
    if (length != h.freeCount) {
      Add(CheckKind::kPageFreeChain, KeyPlace(),
          "the header counts " + Num(h.freeCount) + " free pages, the chain holds " + Num(length));
      return false;
    }
    return true;
  }

  void NoteLeaks() {
    int64_t leaked = 0;
    int32_t first = 0;
    for (int32_t p = 1; p <= limit_; ++p) {
      const auto i = static_cast<size_t>(p);
      if (!tree_[i] && !free_[i] && leaked++ == 0) first = p;
    }
    if (leaked > 0) {
      Add(CheckKind::kPageLeak, PagePlace(first),
          Num(leaked) + " pages are neither in the tree nor on the free chain (space the suite never reuses)", false);
    }
  }

  const std::string& name_;
  const int key_;
  const KeyView& kv_;
  const IndexView& index_;
  const DataView& data_;
  Findings& f_;
  std::vector<Frame> frames_;  // one per level, never resized: bounds point into them
  int32_t limit_ = 0;          // pages 1..limit_ start in the file and in the header's range
  std::vector<bool> tree_, free_;
  int64_t entries_ = 0;
  int leafLevel_ = 0;
  bool broken_ = false;  // a link or page could not be followed: counts would mislead
  bool deepNamed_ = false;
  bool levelsNamed_ = false;
};

// An index file read whole, apart from its judging (see CheckCompany: the next file
// set's is read on a second thread while this one is judged).
struct IndexFile {
  bool read = false;  // this was filled
  OsStatus rc;        // of the open
  uint64_t size = 0;
  bool tooLarge = false;
  OsStatus readRc;  // of the read
  std::vector<uint8_t> bytes;
};

// `ahead`: only when it is small enough to be held beside the one being judged, else
// left unread (read = false) to be read when its turn comes.
IndexFile ReadIndexFile(const std::string& path, bool ahead = false) {
  IndexFile out;
  out.read = true;
  platform::File file;
  out.rc = OpenForCheck(path, file, out.size);
  if (out.rc) return out;
  if (ahead && out.size > kMaxAheadIndexBytes) return {};
  if (out.size > kMaxIndexBytes) {
    out.tooLarge = true;
    return out;
  }
  out.bytes.resize(static_cast<size_t>(out.size));
  out.readRc = ReadExact(file, 0, out.bytes.data(), out.bytes.size());
  return out;
}

void JudgeIndex(const std::string& dir, const modules::DataFileDef& def, const DataView& data, IndexView& index,
                Findings& f, IndexFile&& read) {
  const std::string name = std::string(def.baseName) + ".IX";
  const int keyCount = data.header.keyCount;
  if (!read.read) read = ReadIndexFile(dir + name);
  const OsStatus rc = read.rc;
  const uint64_t size = read.size;
  if (Missing(rc)) {
    f.Add(name, CheckKind::kKeyHeader, true, "file",
          "the index file is missing while the data file names " + Num(keyCount) +
              " keys: the open fails with error " + Num(kDefectError));
    return;
  }
  if (rc) {
    f.Add(name, CheckKind::kKeyHeader, true, "file", "the index file cannot be read: " + ErrorText(rc));
    return;
  }
  if (read.tooLarge) {
    f.Add(name, CheckKind::kFileLength, false, "file",
          "the index file is " + Num(static_cast<int64_t>(size)) + " bytes long, more than this check judges");
    return;
  }
  if (read.readRc) {
    f.Add(name, CheckKind::kKeyHeader, true, "file", "the index file cannot be read: " + ErrorText(read.readRc));
    return;
  }
  index.bytes = std::move(read.bytes);
  int64_t offset = 0;
  for (int k = 1; k <= keyCount; ++k) {
    const std::string place = "key " + Num(k) + " header";
    if (offset + isam::kKeyHeaderSize > static_cast<int64_t>(size)) {
      f.Add(name, CheckKind::kKeyHeader, true, place,
            "the header cannot be read: the file ends at byte " + Num(static_cast<int64_t>(size)));
      return;
    }
    KeyView kv;
    kv.header = isam::DecodeKeyHeader(index.bytes.data() + offset);
    kv.offset = static_cast<int32_t>(offset);
    if (const isam::EngineError e = isam::DeriveKeyLength(kv.header, kv.keyLength); e != isam::EngineError::kNone) {
      f.Add(name, CheckKind::kKeyHeader, true, place,
            "the open refuses this header with error " + Num(static_cast<int>(e)) + " (section length " +
                Num(kv.header.sectionLength) + ", page size " + Num(kv.header.storedPageSize) + ")");
      return;
    }
    if (static_cast<size_t>(k) <= def.keys.size()) {
      const isam::KeyDesc& want = def.keys[static_cast<size_t>(k - 1)];
      if (kv.keyLength != want.length) {
        f.Add(name, CheckKind::kKeyHeader, true, place,
              "the key length is " + Num(kv.keyLength) + ", the module's " + Num(want.length));
      }
      if ((kv.header.allowDuplicates != 0) != want.duplicates) {
        f.Add(name, CheckKind::kKeyHeader, true, place,
              want.duplicates ? "duplicates are not allowed, the module allows them"
                              : "duplicates are allowed, the module allows none");
      }
    }
    offset += kv.header.sectionLength;
    index.keys.push_back(kv);
  }
  index.recordLength = offset;
  index.judged = true;
  for (int k = 1; k <= keyCount; ++k) {
    TreeJudge(name, k, index.keys[static_cast<size_t>(k - 1)], index, data, f).Run();
  }
}

// ---- Coordination file -------------------------------------------------------------------

enum class Journal { kComplete, kCutShort, kBad };

// Reads a journal as the open's replay does, without writing: kBad where the replay
// would refuse it (an unknown tag, an entry that does not fit the file block).
Journal ParseJournal(const std::vector<uint8_t>& j, const DataView& data, const IndexView& index, int& entries) {
  const int keyCount = data.header.keyCount;
  std::vector<int64_t> highest(static_cast<size_t>(keyCount) + 1, 0);
  for (int k = 1; k <= keyCount; ++k) highest[static_cast<size_t>(k)] = index.keys[static_cast<size_t>(k - 1)].header.highestPage;
  std::vector<std::pair<int, int32_t>> pages;  // key, page number
  std::vector<int64_t> images(highest.size(), 0);
  size_t pos = isam::kJournalFirstEntry;
  entries = 0;
  auto have = [&](size_t n) { return pos + n <= j.size(); };
  for (;;) {
    if (!have(2)) return Journal::kCutShort;
    const int16_t tag = GetI16(&j[pos]);
    if (tag == isam::kJournalEndTag) break;
    if (tag >= 1 && tag <= isam::kJournalMaxPageTag) {
      if (!have(isam::kJournalPageHeadSize)) return Journal::kCutShort;
      const int key = GetI16(&j[pos + 2]);
      if (key < 1 || key > keyCount) return Journal::kBad;
      const KeyView& kv = index.keys[static_cast<size_t>(key - 1)];
      if (tag > kv.header.PageSize()) return Journal::kBad;
      const size_t width = static_cast<size_t>(kv.keyLength) + isam::kItemFixedPart;
      const size_t items = static_cast<size_t>(tag) * width;
      pos += isam::kJournalPageHeadSize;
      if (!have(items + isam::kJournalPageTailSize)) return Journal::kCutShort;
      for (size_t i = 0; i < static_cast<size_t>(tag); ++i) {
        if (j[pos + i * width + 8] > kv.keyLength) return Journal::kBad;
      }
      pos += items;
      pages.emplace_back(key, GetI32(&j[pos]));
      ++images[static_cast<size_t>(key)];
      pos += isam::kJournalPageTailSize;
    } else if (tag == isam::kJournalHeaderTag) {
      if (!have(isam::kJournalHeaderEntrySize)) return Journal::kCutShort;
      const int section = GetI16(&j[pos + 2]);
      const isam::KeyHeader image = isam::DecodeKeyHeader(&j[pos + isam::kJournalImageOffset]);
      const int32_t link = GetI32(&j[pos + isam::kJournalLinkOffset]);
      pos += isam::kJournalHeaderEntrySize;
      if (section < 0 || section > keyCount) return Journal::kBad;
      if (link != isam::kJournalNoLink && (image.freeHead < 1 || image.freeHead > image.highestPage)) return Journal::kBad;
      if (section == 0) {
        if (image.sectionLength != data.header.slotLength || (image.rootPage & 0xFF) != keyCount) return Journal::kBad;
      } else {
        if (image.sectionLength != index.keys[static_cast<size_t>(section - 1)].header.sectionLength) return Journal::kBad;
        highest[static_cast<size_t>(section)] = std::max<int64_t>(highest[static_cast<size_t>(section)], image.highestPage);
      }
    } else {
      return Journal::kBad;
    }
    ++entries;
  }
  const int64_t r = std::max<int64_t>(index.recordLength, 1);
  const int64_t filePages = static_cast<int64_t>(index.bytes.size()) / r + 1;
  for (const auto& [key, page] : pages) {
    const auto k = static_cast<size_t>(key);
    if (page < 1 || page > std::min(highest[k], filePages + images[k])) return Journal::kBad;
  }
  return Journal::kComplete;
}

void JudgeCoordination(const std::string& dir, const modules::DataFileDef& def, const DataView& data,
                       const IndexView& index, Findings& f) {
  const std::string name = std::string(def.baseName) + ".DIA";
  platform::File file;
  uint64_t size = 0;
  const OsStatus rc = OpenForCheck(dir + name, file, size);
  if (Missing(rc)) return;  // the next open makes it
  if (rc) {
    f.Add(name, CheckKind::kDiaLayout, true, "file", "the file cannot be read: " + ErrorText(rc));
    return;
  }
  if (size == 1) return;  // new: the next open lays it out
  const int m = isam::CoordSlotLength(data.header.keyCount);
  uint8_t head[3] = {};
  if (size >= 3) {
    // Bytes 0..2 lie below every station's lock range.
    if (OsStatus e = ReadExact(file, 0, head, sizeof head)) {
      f.Add(name, CheckKind::kDiaLayout, true, "file", "the file cannot be read: " + ErrorText(e));
      return;
    }
    if (GetI16(head + isam::kLayoutMarkerOffset) == isam::kLayoutMarker) {
      const uint64_t area = size - isam::kSlotAreaOffset;
      const uint64_t k = area / static_cast<uint64_t>(m);
      if (area % static_cast<uint64_t>(m) == 0 && k >= 2 && k <= kMaxCoordSlots) return;  // a valid layout
      f.Add(name, CheckKind::kDiaLayout, true, "file",
            "the layout marker is there but the length " + Num(static_cast<int64_t>(size)) +
                " is not 3 + k x " + Num(m) + " with at least 2 slots: the next open treats the file as damaged "
                "and fails while another station has the data file open");
      return;
    }
  }
  if (size == 0 || size == 2) {
    f.Add(name, CheckKind::kDiaLayout, true, "file",
          "the file is " + Num(static_cast<int64_t>(size)) +
              " bytes long: the next open treats it as damaged and fails while another station has the data file open");
    return;
  }
  // Neither new nor a layout: a save journal.
  if (size > kMaxJournalBytes) {
    f.Add(name, CheckKind::kDiaLayout, true, "file",
          "a journal of " + Num(static_cast<int64_t>(size)) + " bytes, more than a replay reads: the next open fails with error " +
              Num(kReplayError));
    return;
  }
  if (!index.judged && data.header.keyCount > 0) {
    f.Add(name, CheckKind::kJournal, false, "file",
          "the file holds a save journal; it is not judged, since the index file's key headers are not sound");
    return;
  }
  std::vector<uint8_t> journal(static_cast<size_t>(size));
  if (OsStatus e = ReadExact(file, 0, journal.data(), journal.size())) {
    if (e == OsError::kLockViolation) {
      f.Add(name, CheckKind::kBusy, false, "file", "the journal is held by another station: not judged");
    } else {
      f.Add(name, CheckKind::kDiaLayout, true, "file", "the journal cannot be read: " + ErrorText(e));
    }
    return;
  }
  int entries = 0;
  switch (ParseJournal(journal, data, index, entries)) {
    case Journal::kComplete:
      f.Add(name, CheckKind::kJournal, false, "file",
            "a save was cut short: its journal of " + Num(entries) + " entries is replayed by the next open");
      return;
    case Journal::kCutShort:
      f.Add(name, CheckKind::kJournal, false, "file",
            "an unfinished journal (the save never began): the next open drops it");
      return;
    case Journal::kBad:
      f.Add(name, CheckKind::kDiaLayout, true, "file",
            "the journal holds an entry the replay refuses: the next open fails with error " + Num(kReplayError));
      return;
  }
}

// ---- One data file with its index and coordination files -------------------------------

// What changes when a station saves: lengths, the data header, the index file's first
// record (key headers) and the coordination file's marker. Read apart from the judging.
std::vector<uint8_t> Fingerprint(const std::string& dir, std::string_view base) {
  std::vector<uint8_t> out;
  static constexpr std::array<std::pair<const char*, size_t>, 3> kParts = {
      {{".DAT", isam::kDataHeaderSize}, {".IX", 64 * 1024}, {".DIA", 3}}};
  for (const auto& [ext, head] : kParts) {
    platform::File file;
    uint64_t size = 0;
    const OsStatus rc = OpenForCheck(dir + std::string(base) + ext, file, size);
    uint8_t word[8];
    isam::PutU64(word, rc ? ~uint64_t{0} : size);
    out.insert(out.end(), word, word + sizeof word);
    if (rc) continue;
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(size, head)));
    size_t done = 0;
    if (file.ReadAt(0, bytes.data(), bytes.size(), done)) done = 0;
    out.insert(out.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(done));
  }
  return out;
}

// One reading of the file set. False when the data file is missing.
// `indexFile`: the index file read ahead, or an empty one to read it here.
bool JudgeFileSet(const std::string& dir, const modules::DataFileDef& def, Findings& f, DataView& data,
                  const CheckOptions& options, int32_t heldWaitMs, IndexFile&& indexFile) {
  const std::string name = std::string(def.baseName) + ".DAT";
  platform::File file;
  const OsStatus rc = OpenForCheck(dir + name, file, data.size);
  if (Missing(rc)) return false;  // the repair creates it
  if (rc) {
    f.Add(name, CheckKind::kDataHeader, true, "file", "the file cannot be read: " + ErrorText(rc));
    return true;
  }
  JudgeDataHeader(name, def, file, data, f);
  if (data.slotsJudged) {
    ReadAllMarks(name, file, data, f, options, heldWaitMs);
    JudgeFreeChain(name, data, f);
    // Each held record by name, as the scan names them (past 20 in a file, counted).
    for (int32_t s = 1; s <= data.slotsInFile && data.heldCount > 0; ++s) {
      if (data.IsHeld(s))
        f.Add(name, CheckKind::kBusy, false, "slot " + Num(s),
              "record " + Num(s) + " is held by another station: read around, not judged");
    }
  }
  if (!data.readable) return true;
  IndexView index;
  if (data.header.keyCount > 0 && data.header.keyCount <= kMaxKeys)
    JudgeIndex(dir, def, data, index, f, std::move(indexFile));
  if (data.header.keyCount <= kMaxKeys) JudgeCoordination(dir, def, data, index, f);
  return true;
}

// ---- Information and side files ---------------------------------------------------------

void JudgeSideFile(const std::string& dir, const modules::SideFileDef& def, Findings& f, bool& present) {
  const std::string name(def.fileName);
  platform::File file;
  uint64_t size = 0;
  const OsStatus rc = OpenForCheck(dir + name, file, size);
  present = !Missing(rc);
  if (!present) return;  // the module creates it
  if (rc) {
    f.Add(name, CheckKind::kFileLength, true, "file", "the file cannot be read: " + ErrorText(rc));
    return;
  }
  const auto length = static_cast<uint64_t>(def.recordLength);
  if (def.informationRecord) {
    if (size > 0 && size < length) {
      f.Add(name, CheckKind::kFileLength, true, "file",
            "the file is " + Num(static_cast<int64_t>(size)) + " bytes long, shorter than its record of " +
                Num(def.recordLength) + ": the module's read fails");
    } else if (size > length) {
      f.Add(name, CheckKind::kFileLength, false, "file",
            "the file is " + Num(static_cast<int64_t>(size)) + " bytes long; the module reads its first " +
                Num(def.recordLength) + " and writes back only those");
    }
    return;
  }
  const uint64_t whole = size / length;
  if (whole < static_cast<uint64_t>(def.capacity) && size % length != 0) {
    f.Add(name, CheckKind::kFileLength, true, "record " + Num(static_cast<int64_t>(whole) + 1),
          "the file is " + Num(static_cast<int64_t>(size)) + " bytes long, not a whole number of " +
              Num(def.recordLength) + "-byte records: the module's read fails on the partial record");
  }
}

}  // namespace

std::string_view CheckKindName(CheckKind kind) {
  static constexpr std::string_view kNames[] = {
      "DATA-HEADER", "FREE-CHAIN", "KEY-HEADER",      "KEY-PAGE",  "KEY-LINK",  "KEY-ORDER",  "KEY-DUPLICATE", "KEY-RECORD",
      "KEY-COUNT",   "PAGE-FREE-CHAIN", "PAGE-LEAK", "JOURNAL",   "DIA-LAYOUT", "FILE-LENGTH", "BUSY"};
  static_assert(std::size(kNames) == static_cast<size_t>(CheckKind::kBusy) + 1);
  return kNames[static_cast<size_t>(kind)];
}

std::string CheckLine(const CheckFinding& finding) {
  return finding.file + '\t' + std::string(CheckKindName(finding.kind)) + '\t' + finding.place + '\t' +
         (finding.damage ? "" : "note: ") + finding.text;
}

bool CheckCompany(std::string_view directory, const std::function<void(const CheckFinding&)>& onFinding,
                  CheckSummary& summary, std::string& error, const CheckOptions& options) {
  summary = {};
  error.clear();
  std::string dir(directory);
  if (!platform::DirectoryExists(dir)) {
    error = dir + ": no such directory";
    return false;
  }
  if (!dir.empty() && dir.back() != '/') dir += '/';
  auto deliver = [&](const std::vector<CheckFinding>& list) {
    for (const CheckFinding& finding : list) {
      ++(finding.damage ? summary.damage : summary.notes);
      onFinding(finding);
    }
  };
  // The first reading of each file set takes its fingerprint and its index file from a
  // second thread, which read them while the set before was judged: copying an index
  // out of the file overlaps judging the trees before it. The fingerprint is still
  // taken before anything of the set is read, so a change meanwhile is seen as ever.
  struct Ahead {
    std::vector<uint8_t> before;
    IndexFile index;
  };
  const std::span<const modules::DataFileDef> defs = modules::AllDataFiles();
  Ahead next;
  modules::BackgroundJob job;
  auto readAhead = [&](size_t i) {
    if (i >= defs.size()) return;
    job.Start([&next, &dir, base = defs[i].baseName] {
      next.before = Fingerprint(dir, base);
      next.index = ReadIndexFile(dir + std::string(base) + ".IX", true);
    });
  };
  const std::span<const modules::SideFileDef> sides = modules::AllSideFiles();
  const int total = static_cast<int>(defs.size() + sides.size());
  auto goOn = [&](std::string_view file, size_t done) {
    return !options.onFile || options.onFile(file, static_cast<int>(done), total);
  };
  readAhead(0);
  for (size_t i = 0; i < defs.size(); ++i) {
    const modules::DataFileDef& def = defs[i];
    job.Wait();
    if (!goOn(std::string(def.baseName) + ".DAT", i)) return true;
    Ahead ahead = std::move(next);
    next = {};
    readAhead(i + 1);
    // Damage counts only when a second reading, a pause later, finds the same and the
    // file did not change from the start of the first to the end of the second: a
    // station in the middle of a save (pages written, header not yet) is left time to
    // finish.
    std::vector<CheckFinding> previous;
    std::vector<uint8_t> previousBefore;
    bool havePrevious = false;
    bool settled = false;
    bool present = true;
    for (int reading = 1; reading <= kReadings && !settled; ++reading) {
      if (reading > 1 && options.settleMs > 0) platform::SleepMs(options.settleMs);
      const std::vector<uint8_t> before = reading == 1 ? std::move(ahead.before) : Fingerprint(dir, def.baseName);
      Findings f;
      DataView data;
      // The held records are waited for in the first reading only: a later one is to
      // confirm what it found, not to wait again.
      present = JudgeFileSet(dir, def, f, data, options, reading == 1 ? options.heldWaitMs : 0,
                             reading == 1 ? std::move(ahead.index) : IndexFile{});
      if (!present) break;
      f.Finish();
      const std::vector<uint8_t> after = Fingerprint(dir, def.baseName);
      const bool still = after == before;
      if ((still && !f.AnyDamage()) ||
          (havePrevious && after == previousBefore && SameFindings(previous, f.List()))) {
        settled = true;
        summary.liveRecords += data.live;
        if (data.heldCount > 0) ++summary.busyFiles;
        deliver(f.List());
      }
      previous = f.List();
      previousBefore = before;
      havePrevious = still;  // a reading that overlapped a change is no witness
    }
    if (!present) continue;
    ++summary.filesChecked;
    if (!settled) {
      ++summary.busyFiles;
      deliver({{std::string(def.baseName) + ".DAT", CheckKind::kBusy, false, "file",
                "the file changed while it was read, " + Num(kReadings) +
                    " times: stations are saving; not judged (check again when they are idle)"}});
    }
  }
  for (size_t i = 0; i < sides.size(); ++i) {
    const modules::SideFileDef& def = sides[i];
    if (!goOn(def.fileName, defs.size() + i)) return true;
    Findings f;
    bool present = false;
    JudgeSideFile(dir, def, f, present);
    if (present) ++summary.filesChecked;
    deliver(f.List());
  }
  return true;
}

}  // namespace kv::app
