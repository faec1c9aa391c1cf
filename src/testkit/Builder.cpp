#include "testkit/Builder.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

#include "isam/Coding.h"
#include "platform/File.h"

namespace kv::testkit {

using isam::GetI16;
using isam::GetI32;
using isam::PutI16;
using isam::PutI32;

namespace {

// The kit writes through the platform's files, as the program does: the same names on
// every system (CP874 paths, converted where they meet the file system) and 64-bit
// offsets everywhere.
class OutFile {
 public:
  bool OpenExisting(const std::string& path) {
    return platform::File::Open(path, platform::Access::kReadWrite, platform::Share::kShared, file_) ==
           platform::OsError::kNone;
  }
  // Made anew, empty.
  bool Create(const std::string& path) {
    return platform::File::Create(path, platform::IfExists::kReplace, file_) == platform::OsError::kNone;
  }
  bool WriteAt(uint64_t offset, const void* data, size_t length) {
    size_t done = 0;
    return file_.WriteAt(offset, data, length, done) == platform::OsError::kNone && done == length;
  }
  bool Append(const void* data, size_t length) {
    const bool ok = WriteAt(end_, data, length);
    end_ += length;
    return ok;
  }
  bool Resize(uint64_t size) { return file_.Truncate(size) == platform::OsError::kNone; }
  bool Close() { return file_.Close() == platform::OsError::kNone; }

 private:
  platform::File file_;
  uint64_t end_ = 0;
};

std::string WriteAt(OutFile& f, int64_t offset, const void* data, size_t length, const std::string& path) {
  if (offset < 0 || !f.WriteAt(static_cast<uint64_t>(offset), data, length)) return "cannot write " + path;
  return {};
}

int CompareTexts(const uint8_t* a, size_t la, const uint8_t* b, size_t lb) {
  const size_t n = std::min(la, lb);
  const int c = n == 0 ? 0 : std::memcmp(a, b, n);  // memcmp compares unsigned bytes
  if (c != 0) return c;
  return la < lb ? -1 : (la > lb ? 1 : 0);
}

}  // namespace

// ---- Headers ---------------------------------------------------------------------------------

void EncodeDataHeader(const DataHeader& h, uint8_t* out) {
  isam::DataHeader engine;
  engine.freeHead = h.freeHead;
  engine.freeCount = h.freeCount;
  engine.highestSlot = h.highestSlot;
  engine.slotLength = h.slotLength;
  isam::EncodeDataHeader(engine, out);
  // What the engine never writes: any key count (it stores only the counts it can
  // have) and a set defect flag, for files that must look damaged.
  PutI32(out + 16, h.keyCount);
  out[isam::kDefectFlagOffset] = h.defectFlag;
}

DataHeader DecodeDataHeader(const uint8_t* in) {
  const isam::DataHeader engine = isam::DecodeDataHeader(in);
  DataHeader h;
  h.freeHead = engine.freeHead;
  h.freeCount = engine.freeCount;
  h.highestSlot = engine.highestSlot;
  h.slotLength = engine.slotLength;
  h.keyCount = GetI32(in + 16);  // whole, where the engine takes the low byte
  h.defectFlag = engine.defectFlag;
  return h;
}

std::string PatchDataHeader(const std::string& dataPath, const DataHeader& header) {
  OutFile f;
  if (!f.OpenExisting(dataPath)) return "cannot open " + dataPath;
  uint8_t bytes[kDataHeaderSize];
  EncodeDataHeader(header, bytes);
  std::string err = WriteAt(f, 0, bytes, sizeof bytes, dataPath);
  if (!f.Close() && err.empty()) err = "cannot close " + dataPath;
  return err;
}

int32_t IndexRecordLength(std::span<const KeyDesc> keys, std::vector<int32_t>* offsets) {
  int32_t total = 0;
  if (offsets) offsets->clear();
  for (const KeyDesc& k : keys) {
    if (offsets) offsets->push_back(total);
    total += SectionLength(k.length);
  }
  return total;
}

// ---- Pages -----------------------------------------------------------------------------------

namespace {

// Item j (1-based) of a page in the engine's expanded form; the text is cut to the key
// length and the rest of the item is zero.
void SetItem(isam::ExpandedPage& page, int j, int keyLength, int32_t record, int32_t child,
             std::string_view text) {
  uint8_t* item = page.Item(j);
  const size_t length = std::min(text.size(), static_cast<size_t>(keyLength));
  std::memset(item, 0, isam::kExpandedItemSize);
  PutI32(item, record);
  PutI32(item + 4, child);
  item[8] = static_cast<uint8_t>(length);
  if (length != 0) std::memcpy(item + 9, text.data(), length);
}

}  // namespace

std::string EncodePage(const PageImage& page, int keyLength) {
  if (page.items.size() > static_cast<size_t>(isam::kMaxPageItems)) {
    throw std::length_error("a page holds at most 62 items");
  }
  auto expanded = std::make_unique<isam::ExpandedPage>();
  expanded->count = static_cast<int16_t>(page.items.size());
  expanded->leftmost = page.leftmost;
  for (size_t j = 0; j < page.items.size(); ++j) {
    const PageItem& it = page.items[j];
    SetItem(*expanded, static_cast<int>(j) + 1, keyLength, it.record, it.child, it.text);
  }
  std::string out(isam::CompactPageSize(expanded->count, keyLength), '\0');
  isam::CompactPage(*expanded, keyLength, reinterpret_cast<uint8_t*>(out.data()));
  return out;
}

bool DecodePage(std::string_view bytes, int keyLength, PageImage& page) {
  page = PageImage{};
  if (keyLength < 1 || keyLength > isam::kMaxKeyLength) return false;
  auto expanded = std::make_unique<isam::ExpandedPage>();
  if (!isam::ExpandPage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), keyLength,
                        kPageItems, *expanded)) {
    return false;
  }
  page.leftmost = expanded->leftmost;
  for (int j = 1; j <= expanded->count; ++j) {
    page.items.push_back(PageItem{expanded->Record(j), expanded->Child(j), std::string(expanded->Text(j))});
  }
  return true;
}

// ---- Key entries -----------------------------------------------------------------------------

bool KeyEntries::Add(std::string_view text, int32_t record) {
  if (text.size() > desc_.length) return false;
  const size_t at = arena_.size();
  arena_.resize(at + stride_, 0);
  uint8_t* e = arena_.data() + at;
  PutI32(e, record);
  e[4] = static_cast<uint8_t>(text.size());
  if (!text.empty()) std::memcpy(e + 5, text.data(), text.size());
  order_.clear();
  return true;
}

const uint8_t* KeyEntries::Entry(size_t i) const {
  const size_t slot = order_.empty() ? i : order_[i];
  return arena_.data() + slot * stride_;
}

std::string_view KeyEntries::Text(size_t i) const {
  const uint8_t* e = Entry(i);
  return {reinterpret_cast<const char*>(e + 5), e[4]};
}

int32_t KeyEntries::Record(size_t i) const { return GetI32(Entry(i)); }

std::string KeyEntries::Sort() {
  const size_t n = Size();
  if (n > UINT32_MAX) return "too many entries";
  // Most comparisons are settled by the first eight bytes, taken big-endian so that an
  // integer compare is the unsigned bytewise compare; ties go to the full compare.
  struct SortKey {
    uint64_t prefix;
    uint32_t slot;
  };
  std::vector<SortKey> keys(n);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* e = arena_.data() + i * stride_;
    uint64_t prefix = 0;
    for (size_t b = 0; b < 8; ++b) {
      prefix = (prefix << 8) | (b < e[4] ? e[5 + b] : 0);
    }
    keys[i] = SortKey{prefix, static_cast<uint32_t>(i)};
  }
  const uint8_t* base = arena_.data();
  const size_t stride = stride_;
  auto fullCompare = [base, stride](uint32_t a, uint32_t b) {
    const uint8_t* ea = base + a * stride;
    const uint8_t* eb = base + b * stride;
    const int c = CompareTexts(ea + 5, ea[4], eb + 5, eb[4]);
    if (c != 0) return c;
    const int32_t ra = GetI32(ea);
    const int32_t rb = GetI32(eb);
    return ra < rb ? -1 : (ra > rb ? 1 : 0);
  };
  std::sort(keys.begin(), keys.end(), [&](const SortKey& a, const SortKey& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    return fullCompare(a.slot, b.slot) < 0;
  });
  order_.resize(n);
  for (size_t i = 0; i < n; ++i) order_[i] = keys[i].slot;
  for (size_t i = 1; i < n; ++i) {
    const uint8_t* a = Entry(i - 1);
    const uint8_t* b = Entry(i);
    if (CompareTexts(a + 5, a[4], b + 5, b[4]) != 0) continue;
    if (!desc_.duplicates) {
      return "key text \"" + std::string(Text(i)) + "\" given twice in a key without duplicates";
    }
    if (GetI32(a) == GetI32(b)) {
      return "key text \"" + std::string(Text(i)) + "\" given twice for record " +
             std::to_string(GetI32(a));
    }
  }
  return {};
}

// ---- Index file ------------------------------------------------------------------------------

namespace {

// Entries a subtree of `height` levels holds when every page is full.
int64_t Capacity(int height, int perPage) {
  int64_t cap = 0;
  for (int h = 0; h < height; ++h) {
    cap = cap * (perPage + 1) + perPage;
    if (cap > (int64_t{1} << 40)) return cap;
  }
  return cap;
}

// Bulk loader for one key: entries are laid into pages bottom-up in key order, children
// before their parent, so page numbers rise in key order within a level and the root
// is the highest page. Each node takes the fewest separators that let its children
// hold the rest, and the rest is spread evenly, so leaves end up nearly full and
// every leaf lies at the same depth.
class TreeWriter {
 public:
  TreeWriter(OutFile& f, const std::string& path, const KeyEntries& entries,
             int64_t recordLength, int64_t sectionOffset, int perPage)
      : f_(f),
        path_(path),
        entries_(entries),
        keyLength_(entries.Desc().length),
        recordLength_(recordLength),
        sectionOffset_(sectionOffset),
        perPage_(perPage) {}

  std::string Build(KeyTreeInfo& info) {
    const int64_t n = static_cast<int64_t>(entries_.Size());
    info = KeyTreeInfo{};
    info.entryCount = static_cast<int32_t>(n);
    if (n == 0) return {};
    int height = 1;
    while (Capacity(height, perPage_) < n) ++height;
    pages_.assign(static_cast<size_t>(height) + 1, isam::ExpandedPage{});
    compact_.assign(isam::CompactPageSize(kPageItems, keyLength_), 0);
    int32_t root = 0;
    std::string err = Subtree(0, n, height, root);
    if (!err.empty()) return err;
    info.rootPage = root;
    info.highestPage = nextPage_;
    info.height = height;
    return {};
  }

 private:
  std::string Subtree(int64_t first, int64_t n, int height, int32_t& page) {
    if (n < 1) return "internal error: empty subtree";
    isam::ExpandedPage& buf = pages_[static_cast<size_t>(height)];
    int64_t count = 0;
    int32_t leftmost = 0;
    if (height == 1) {
      count = n;
      if (count > kPageItems) return "internal error: leaf overflow";
      for (int64_t j = 0; j < count; ++j) PutEntry(buf, j, first + j, 0);
    } else {
      const int64_t childCap = Capacity(height - 1, perPage_);
      int64_t separators = (n + 1 + childCap) / (childCap + 1) - 1;  // ceil(..) - 1
      separators = std::max<int64_t>(separators, 1);
      if (separators > kPageItems) return "internal error: node overflow";
      const int64_t children = separators + 1;
      const int64_t rest = n - separators;
      const int64_t each = rest / children;
      const int64_t extra = rest % children;
      int64_t at = first;
      for (int64_t c = 0; c < children; ++c) {
        const int64_t size = each + (c < extra ? 1 : 0);
        int32_t child = 0;
        std::string err = Subtree(at, size, height - 1, child);
        if (!err.empty()) return err;
        at += size;
        if (c == 0) {
          leftmost = child;
        } else {
          // The separator before this child was left for it to fill in.
          PutI32(buf.Item(static_cast<int>(c)) + 4, child);
        }
        if (c < separators) {
          PutEntry(buf, c, at, 0);
          ++at;
        }
      }
      count = separators;
    }
    page = ++nextPage_;
    buf.count = static_cast<int16_t>(count);
    buf.leftmost = leftmost;
    isam::CompactPage(buf, keyLength_, compact_.data());
    const int64_t offset = static_cast<int64_t>(page) * recordLength_ + sectionOffset_;
    return WriteAt(f_, offset, compact_.data(), isam::CompactPageSize(buf.count, keyLength_), path_);
  }

  // Item `slot` (0-based) of the page.
  void PutEntry(isam::ExpandedPage& buf, int64_t slot, int64_t entry, int32_t child) {
    SetItem(buf, static_cast<int>(slot) + 1, keyLength_, entries_.Record(static_cast<size_t>(entry)), child,
            entries_.Text(static_cast<size_t>(entry)));
  }

  OutFile& f_;
  const std::string& path_;
  const KeyEntries& entries_;
  int keyLength_;
  int64_t recordLength_;
  int64_t sectionOffset_;
  int perPage_;
  int32_t nextPage_ = 0;
  std::vector<isam::ExpandedPage> pages_;  // one page being filled per level
  std::vector<uint8_t> compact_;          // a page in its file form
};

}  // namespace

std::string WriteIndexFile(const std::string& indexPath, std::vector<KeyEntries>& keys,
                           const IndexOptions& options, std::vector<KeyTreeInfo>* info) {
  if (keys.empty() || keys.size() > static_cast<size_t>(isam::kMaxKeys)) {
    return "an index file needs 1..100 keys";
  }
  if (options.maxItemsPerPage < 2 || options.maxItemsPerPage > kPageItems) {
    return "items per page must be 2..62";
  }
  std::vector<KeyDesc> descs;
  for (const KeyEntries& k : keys) {
    if (k.Desc().length < 1 || k.Desc().length > isam::kMaxKeyLength) {
      return "key length must be 1..100";
    }
    descs.push_back(k.Desc());
  }
  std::vector<int32_t> offsets;
  const int32_t recordLength = IndexRecordLength(descs, &offsets);

  OutFile f;
  if (!f.Create(indexPath)) return "cannot create " + indexPath;
  std::vector<uint8_t> record0(static_cast<size_t>(recordLength), 0);
  int32_t highest = 0;
  if (info) info->clear();
  for (size_t k = 0; k < keys.size(); ++k) {
    std::string err = keys[k].Sort();
    if (!err.empty()) return "key " + std::to_string(k + 1) + ": " + err;
    KeyTreeInfo tree;
    TreeWriter writer(f, indexPath, keys[k], recordLength, offsets[k],
                      options.maxItemsPerPage);
    err = writer.Build(tree);
    if (!err.empty()) return err;
    KeyHeader h;
    h.highestPage = tree.highestPage;
    h.sectionLength = SectionLength(descs[k].length);
    h.rootPage = tree.rootPage;
    h.allowDuplicates = descs[k].duplicates ? 1 : 0;
    h.entryCount = tree.entryCount;
    EncodeKeyHeader(h, record0.data() + offsets[k]);
    highest = std::max(highest, tree.highestPage);
    if (info) info->push_back(tree);
  }
  std::string err = WriteAt(f, 0, record0.data(), record0.size(), indexPath);
  if (!err.empty()) return err;
  // Every page is read as a whole section, so the last index record must be complete.
  if (!f.Resize(static_cast<uint64_t>(highest + 1) * static_cast<uint64_t>(recordLength)))
    return "cannot size " + indexPath;
  if (!f.Close()) return "cannot close " + indexPath;
  return {};
}

// ---- Data file -------------------------------------------------------------------------------

void KeySink::Add(int keyNumber, std::string_view text) {
  if (!error_.empty()) return;
  if (keyNumber < 1 || static_cast<size_t>(keyNumber) > keys_.size()) {
    error_ = "record " + std::to_string(record_) + ": no key " + std::to_string(keyNumber);
  } else if (!keys_[static_cast<size_t>(keyNumber - 1)].Add(text, record_)) {
    error_ = "record " + std::to_string(record_) + ": key " + std::to_string(keyNumber) +
             " text longer than the key";
  }
}

struct FileBuilderAccess {
  static void Begin(KeySink& sink, int32_t record) { sink.record_ = record; }
  static size_t Count(const KeySink& sink) {
    size_t total = 0;
    for (const KeyEntries& k : sink.keys_) total += k.Size();
    return total;
  }
  static const std::string& Error(const KeySink& sink) { return sink.error_; }
};

std::vector<int32_t> DescendingChain(std::vector<int32_t> deleted) {
  std::sort(deleted.begin(), deleted.end(), std::greater<>());
  deleted.erase(std::unique(deleted.begin(), deleted.end()), deleted.end());
  return deleted;
}

std::string WithExtension(std::string_view path, std::string_view ext) {
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.find_last_of('.');
  std::string base(path);
  if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)) {
    base.resize(dot);
  }
  return base + "." + std::string(ext);
}

std::string BuildFile(const FileLayout& fileLayout, const SlotFiller& filler, FileInfo* info) {
  if (fileLayout.slotLength < kDataHeaderSize) return "slot length below 21";
  if (fileLayout.highestSlot < 0) return "negative slot count";
  if (fileLayout.keys.size() > static_cast<size_t>(isam::kMaxKeys)) return "more than 100 keys";
  const size_t slot = static_cast<size_t>(fileLayout.slotLength);

  // The link each deleted slot carries; 0 marks a live slot.
  std::vector<int32_t> link(static_cast<size_t>(fileLayout.highestSlot) + 1, 0);
  for (size_t i = 0; i < fileLayout.freeChain.size(); ++i) {
    const int32_t n = fileLayout.freeChain[i];
    if (n < 1 || n > fileLayout.highestSlot) return "free chain slot " + std::to_string(n) + " out of range";
    if (link[static_cast<size_t>(n)] != 0) return "slot " + std::to_string(n) + " twice in the free chain";
    link[static_cast<size_t>(n)] = i + 1 < fileLayout.freeChain.size() ? fileLayout.freeChain[i + 1] : -1;
  }

  std::vector<KeyEntries> keys;
  for (const KeyDesc& d : fileLayout.keys) {
    keys.emplace_back(d);
    keys.back().Reserve(static_cast<size_t>(fileLayout.highestSlot));
  }
  KeySink sink(keys);

  DataHeader header;
  header.freeHead = fileLayout.freeChain.empty() ? -1 : fileLayout.freeChain.front();
  header.freeCount = static_cast<int32_t>(fileLayout.freeChain.size());
  header.highestSlot = fileLayout.highestSlot;
  header.slotLength = fileLayout.headerSlotLength != 0 ? fileLayout.headerSlotLength : fileLayout.slotLength;
  header.keyCount = fileLayout.headerKeyCount >= 0 ? fileLayout.headerKeyCount : static_cast<int32_t>(fileLayout.keys.size());
  header.defectFlag = fileLayout.defectFlag;

  // A coordination file left from an earlier file of this name would be judged (or
  // replayed) against the new one; the engine's own creation removes it too.
  (void)platform::DeleteFile(WithExtension(fileLayout.dataPath, "DIA"));  // usually there is none
  OutFile f;
  if (!f.Create(fileLayout.dataPath)) return "cannot create " + fileLayout.dataPath;
  // Whole slots go out in chunks of about 4 MB.
  const size_t perChunk = std::max<size_t>(1, (size_t{4} << 20) / slot);
  std::vector<uint8_t> chunk(perChunk * slot);
  size_t used = 0;
  auto flush = [&]() -> bool {
    if (used == 0) return true;
    const bool ok = f.Append(chunk.data(), used * slot);
    used = 0;
    return ok;
  };
  std::memset(chunk.data(), 0, slot);
  EncodeDataHeader(header, chunk.data());
  used = 1;
  for (int32_t n = 1; n <= fileLayout.highestSlot; ++n) {
    if (used == perChunk && !flush()) return "cannot write " + fileLayout.dataPath;
    const std::span<uint8_t> bytes(chunk.data() + used * slot, slot);
    std::memset(bytes.data(), 0, slot);
    const int32_t l = link[static_cast<size_t>(n)];
    const bool deleted = l != 0;
    FileBuilderAccess::Begin(sink, n);
    const size_t before = deleted ? FileBuilderAccess::Count(sink) : 0;
    if (filler) filler(n, deleted, bytes, sink);
    if (!FileBuilderAccess::Error(sink).empty()) return FileBuilderAccess::Error(sink);
    if (deleted && FileBuilderAccess::Count(sink) != before) {
      return "keys given for deleted slot " + std::to_string(n);
    }
    PutI32(bytes.data(), l);
    ++used;
  }
  if (!flush()) return "cannot write " + fileLayout.dataPath;
  if (!f.Close()) return "cannot close " + fileLayout.dataPath;

  if (info) {
    info->header = header;
    info->keys.clear();
  }
  if (!keys.empty() && fileLayout.writeIndex) {
    const std::string indexPath =
        fileLayout.indexPath.empty() ? WithExtension(fileLayout.dataPath, "IX") : fileLayout.indexPath;
    return WriteIndexFile(indexPath, keys, fileLayout.index, info ? &info->keys : nullptr);
  }
  return {};
}

// ---- Save journal ----------------------------------------------------------------------------

namespace {

void AppendI16(std::string& s, int16_t v) {
  uint8_t b[2];
  PutI16(b, v);
  s.append(reinterpret_cast<const char*>(b), 2);
}

void AppendI32(std::string& s, int32_t v) {
  uint8_t b[4];
  PutI32(b, v);
  s.append(reinterpret_cast<const char*>(b), 4);
}

}  // namespace

void JournalWriter::AddPage(int keyNumber, int keyLength, int32_t pageNumber,
                            const PageImage& page) {
  const std::string form = EncodePage(page, keyLength);
  const size_t start = bytes_.size();
  bytes_.append(isam::kJournalPageHeadSize, '\0');
  auto* head = reinterpret_cast<uint8_t*>(bytes_.data() + start);
  PutI16(head, static_cast<int16_t>(page.items.size()));
  PutI16(head + 2, static_cast<int16_t>(keyNumber));
  bytes_.append(form, isam::kPageHeaderSize, std::string::npos);  // the items
  AppendI32(bytes_, pageNumber);
  AppendI32(bytes_, page.leftmost);
}

void JournalWriter::AddDataHeader(const DataHeader& h, int32_t link) {
  uint8_t image[kKeyHeaderSize] = {};
  EncodeDataHeader(h, image);
  image[isam::kDefectFlagOffset] = 0;  // the place of a key's duplicates flag
  AddHeaderImage(0, image, link);
}

void JournalWriter::AddKeyHeader(int keyNumber, const KeyHeader& h, int32_t link) {
  uint8_t image[kKeyHeaderSize];
  EncodeKeyHeader(h, image);
  image[26] = image[27] = 0;  // a header image carries no page size
  AddHeaderImage(keyNumber, image, link);
}

void JournalWriter::AddHeaderImage(int section, const uint8_t* image, int32_t link) {
  uint8_t entry[isam::kJournalHeaderEntrySize];
  PutI16(entry, isam::kJournalHeaderTag);
  PutI16(entry + 2, static_cast<int16_t>(section));
  std::memcpy(entry + isam::kJournalImageOffset, image, kKeyHeaderSize);
  PutI32(entry + isam::kJournalLinkOffset, link);
  bytes_.append(reinterpret_cast<const char*>(entry), sizeof entry);
}

void JournalWriter::AddTag(int16_t tag) { AppendI16(bytes_, tag); }

void JournalWriter::AddRaw(std::string_view bytes) { bytes_.append(bytes); }

// ---- Coordination file -----------------------------------------------------------------------

std::string CoordinationLayout(int keyCount, int slotCount, uint8_t fill) {
  const size_t m = static_cast<size_t>(isam::CoordSlotLength(keyCount));
  std::string out(isam::kSlotAreaOffset + static_cast<size_t>(std::max(slotCount, 0)) * m,
                  static_cast<char>(fill));
  out[0] = '\0';
  PutI16(reinterpret_cast<uint8_t*>(out.data()) + isam::kLayoutMarkerOffset, isam::kLayoutMarker);
  return out;
}

// ---- Plain files -----------------------------------------------------------------------------

std::string WriteBytes(const std::string& path, std::string_view bytes) {
  OutFile f;
  if (!f.Create(path)) return "cannot create " + path;
  if (!bytes.empty() && !f.Append(bytes.data(), bytes.size())) return "cannot write " + path;
  if (!f.Close()) return "cannot close " + path;
  return {};
}

std::string ReadBytes(const std::string& path, std::string& bytes) {
  bytes.clear();
  platform::File f;
  if (platform::File::Open(path, platform::Access::kReadOnly, platform::Share::kShared, f) != platform::OsError::kNone)
    return "cannot open " + path;
  char buf[1 << 16];
  for (uint64_t at = 0;;) {
    size_t got = 0;
    if (f.ReadAt(at, buf, sizeof buf, got) != platform::OsError::kNone) return "cannot read " + path;
    if (got == 0) break;
    bytes.append(buf, got);
    at += got;
  }
  return {};
}

}  // namespace kv::testkit
