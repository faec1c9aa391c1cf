// The page cache and the key search.
//
// The cache is one pool of page buffers for every open block, linked in a ring from the
// least to the most recently used; a miss takes the least recently used buffer. Pages
// are held in the expanded form (fixed 109-byte items) so that the bisection can index
// items directly.
//
// Pages come from files other programs write, so nothing in them is trusted: a page
// number below 1 or beyond the end of the index file, an item count outside 0..page
// size, an item text longer than the key, or a path deeper than a tree can be (a
// damaged tree or a cycle of child links) all end the operation with 10170 before
// anything is read past a buffer.

#include <algorithm>
#include <array>
#include <cstring>

#include "isam/EngineOps.h"

namespace kv::isam::ops {

using enum EngineError;

namespace {

constexpr size_t kMaxSectionLength =
    kPageHeaderSize + static_cast<size_t>(kMaxPageItems) * kExpandedItemSize;

PageBuffer& Buf(EngineState& st, int i) { return *st.pool[static_cast<size_t>(i)]; }

void Unlink(EngineState& st, int i) {
  PageBuffer& p = Buf(st, i);
  Buf(st, p.prev).next = p.next;
  Buf(st, p.next).prev = p.prev;
}

void MakeMostRecent(EngineState& st, int i) {
  if (i == st.lru) {
    // The ring's head becomes its tail by moving the head on.
    st.lru = Buf(st, i).next;
    return;
  }
  if (Buf(st, st.lru).prev == i) return;  // already the most recent
  Unlink(st, i);
  const int tail = Buf(st, st.lru).prev;
  Buf(st, i).prev = tail;
  Buf(st, i).next = st.lru;
  Buf(st, tail).next = i;
  Buf(st, st.lru).prev = i;
}

uint64_t PageOffset(const FileBlock& b, int key, int32_t page) {
  return static_cast<uint64_t>(page) * static_cast<uint64_t>(b.indexRecordLength) +
         static_cast<uint64_t>(b.sections[static_cast<size_t>(key)].offset);
}

Status WriteBackOne(EngineState& st, PageBuffer& p) {
  FileBlock& b = *p.owner;
  const Section& s = b.sections[static_cast<size_t>(p.key)];
  std::array<uint8_t, kMaxSectionLength> raw;
  CompactPage(p.content, s.keyLength, raw.data());
  if (Status e = WriteExact(b.index.file, PageOffset(b, p.key, p.page), raw.data(),
                             CompactPageSize(p.content.count, s.keyLength))) {
    return e;
  }
  p.dirty = false;
  ++st.stats.pageWrites;
  return {};
}

// Search key against item j: negative, 0 or positive as the search key sorts before,
// with or after the item.
int Compare(std::string_view text, int32_t recordNumber, const ExpandedPage& page, int j,
            bool duplicates) {
  const std::string_view item = page.Text(j);
  const size_t n = std::min(text.size(), item.size());
  const int c = n == 0 ? 0 : std::memcmp(text.data(), item.data(), n);
  if (c != 0) return c;
  if (text.size() != item.size()) return text.size() < item.size() ? -1 : 1;
  if (!duplicates) return 0;
  const int64_t d = static_cast<int64_t>(recordNumber) - page.Record(j);
  return d < 0 ? -1 : (d > 0 ? 1 : 0);
}

}  // namespace

void InitPool(EngineState& st) {
  const int n = static_cast<int>(st.pool.size());
  for (int i = 0; i < n; ++i) {
    PageBuffer& p = Buf(st, i);
    p.owner = nullptr;
    p.dirty = false;
    p.prev = (i + n - 1) % n;
    p.next = (i + 1) % n;
  }
  st.lru = n > 0 ? 0 : -1;
}

Status GetPage(EngineState& st, FileBlock& b, int key, int32_t page, PageBuffer*& out) {
  out = nullptr;
  if (page < 1) return kInconsistent;
  const int n = static_cast<int>(st.pool.size());
  for (int i = Buf(st, st.lru).prev, seen = 0; seen < n; i = Buf(st, i).prev, ++seen) {
    PageBuffer& p = Buf(st, i);
    if (p.owner == &b && p.key == key && p.page == page) {
      MakeMostRecent(st, i);
      ++st.stats.pageHits;
      out = &p;
      return {};
    }
  }
  const int victim = st.lru;
  PageBuffer& p = Buf(st, victim);
  if (p.owner != nullptr && p.dirty) {
    if (Status e = WriteBackOne(st, p)) return e;
  }
  p.owner = nullptr;
  p.dirty = false;

  const Section& s = b.sections[static_cast<size_t>(key)];
  std::array<uint8_t, kMaxSectionLength> raw;
  const size_t want = std::min<size_t>(static_cast<size_t>(s.key.sectionLength), raw.size());
  size_t done = 0;
  if (Status e = ReadSome(b.index.file, PageOffset(b, key, page), raw.data(), want, done)) return e;
  // A page that is not wholly there lies beyond the end of the file: a child link or
  // root that points nowhere.
  if (!ExpandPage(raw.data(), done, s.keyLength, s.key.PageSize(), p.content)) return kInconsistent;
  p.owner = &b;
  p.key = key;
  p.page = page;
  ++st.stats.pageReads;
  MakeMostRecent(st, victim);
  out = &p;
  return {};
}

void DropPages(EngineState& st, const FileBlock& b, int key) {
  for (auto& p : st.pool) {
    if (p->owner == &b && (key == 0 || p->key == key)) {
      p->owner = nullptr;
      p->dirty = false;
    }
  }
}

Status WriteBackPages(EngineState& st, FileBlock& b) {
  for (auto& p : st.pool) {
    if (p->owner == &b && p->dirty) {
      if (Status e = WriteBackOne(st, *p)) return e;
    }
  }
  return {};
}

Status ExactSearch(EngineState& st, FileBlock& b, int key, std::string_view text,
                    int32_t& recordNumber, bool& found) {
  Section& s = b.sections[static_cast<size_t>(key)];
  SearchPath& path = s.path;
  const bool duplicates = s.key.allowDuplicates != 0;
  path.depth = 0;
  path.valid = false;
  found = false;
  int32_t page = s.key.rootPage;
  while (page != 0) {
    if (path.depth >= kMaxTreeDepth) return kInconsistent;
    PageBuffer* pb = nullptr;
    if (Status e = GetPage(st, b, key, page, pb)) return e;
    const ExpandedPage& pg = pb->content;
    const int level = path.depth++;
    path.page[level] = page;
    int lo = 1, hi = pg.count, mid = 0;
    while (hi >= lo) {
      mid = (lo + hi) / 2;
      const int c = Compare(text, recordNumber, pg, mid, duplicates);
      if (c <= 0) hi = mid - 1;
      if (c >= 0) lo = mid + 1;
    }
    if (lo - hi >= 2) {
      recordNumber = pg.Record(mid);
      path.index[level] = static_cast<uint8_t>(mid);
      found = true;
      path.valid = true;
      return {};
    }
    path.index[level] = static_cast<uint8_t>(hi);
    page = pg.Child(hi);
  }
  while (path.depth > 0 && path.index[path.depth - 1] == 0) --path.depth;
  path.valid = true;
  return {};
}

Status StepNext(EngineState& st, FileBlock& b, int key, int32_t& recordNumber,
                 std::string& keyText) {
  Section& s = b.sections[static_cast<size_t>(key)];
  SearchPath& path = s.path;
  if (!path.valid) {
    bool found = false;
    int32_t start = recordNumber;
    if (Status e = ExactSearch(st, b, key, keyText, start, found)) return e;
  }
  path.valid = false;

  PageBuffer* pb = nullptr;
  int32_t page = s.key.rootPage;
  if (path.depth > 0) {
    if (Status e = GetPage(st, b, key, path.page[path.depth - 1], pb)) return e;
    const int at = std::min<int>(path.index[path.depth - 1], pb->content.count);
    page = pb->content.Child(at);
  }
  while (page != 0) {  // down to the smallest entry of the subtree
    if (path.depth >= kMaxTreeDepth) return kInconsistent;
    if (Status e = GetPage(st, b, key, page, pb)) return e;
    path.page[path.depth] = page;
    path.index[path.depth] = 0;
    ++path.depth;
    page = pb->content.leftmost;
  }
  if (path.depth == 0) {
    path.valid = true;
    return kNoNextKey;
  }
  for (;;) {
    if (Status e = GetPage(st, b, key, path.page[path.depth - 1], pb)) return e;
    if (path.depth >= 2 && path.index[path.depth - 1] >= pb->content.count) {
      --path.depth;  // this page is done: climb to its parent
      continue;
    }
    break;
  }
  const ExpandedPage& pg = pb->content;
  uint8_t& index = path.index[path.depth - 1];
  if (index < pg.count) {
    ++index;
    recordNumber = pg.Record(index);
    keyText.assign(pg.Text(index));
    path.valid = true;
    return {};
  }
  path.depth = 0;
  path.valid = true;
  return kNoNextKey;
}

Status Lookup(EngineState& st, FileBlock& b, int key, int32_t& recordNumber,
              std::string_view keyText) {
  const std::string_view text = keyText.substr(0, std::min<size_t>(keyText.size(), kMaxKeyLength));
  recordNumber = 0;
  int32_t found_record = 0;
  bool found = false;
  Status err = ExactSearch(st, b, key, text, found_record, found);
  if (!err && !found && b.sections[static_cast<size_t>(key)].key.allowDuplicates != 0) {
    std::string next;
    int32_t nextRecord = 0;
    err = StepNext(st, b, key, nextRecord, next);
    if (!err && next == text) {
      found = true;
      found_record = nextRecord;
    }
  }
  if (found) {
    recordNumber = found_record;
    return {};
  }
  if (!err || ClassOf(err.error()) == ErrorClass::kNotFound) err = kNoMatchingKey;
  return err;
}

}  // namespace kv::isam::ops
