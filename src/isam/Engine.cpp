// The engine object: start and stop, the life of a file block (create, open, flush,
// close), the checks every operation makes on entry and exit, and record reads and
// writes. Key search lives in KeySearch.cpp, locks and coordination in Network.cpp.
//
// Status protocol: every public operation clears the status on entry, runs internal
// steps that each return kNone or the error of their first failure, and stores that
// error once at the end. Clean-up after a failure never overwrites it.
//
// An open (OpenBlock) runs these steps in order; a failure in any of them ends the open,
// and UndoOpen gives back what the earlier ones took, in reverse order:
//   1. OpenCoordinationFile: the coordination file (.DIA), created with a single byte
//      when it is missing and the block needs one.
//   2. TakeOpenLock: a block that takes part in the locking holds the open lock for the
//      rest of the open, so that no two stations set up the same file at once.
//   3. OpenDataAndIndex: the data file, the index file when there are keys, and every
//      header.
//   4. JudgeCoordinationFile: new (a single byte), a valid slot layout, or damaged (a
//      save journal, or anything else that is not the layout).
//   5. A new or damaged file is set up only by its sole user.
//   6. JoinNetwork: the block's network state, and a station claimed when it locks.
//   7. SetUpCoordinationFile: a damaged file's journal replayed, and a new file given
//      the slot layout.
//   8. ReleaseOpenLock: the open lock given back; a coordination file the block does
//      not need is closed (and deleted when it was there before and may be written).
// Then the block gets its handle (Publish).

#include "isam/Engine.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "isam/Coding.h"
#include "isam/EngineOps.h"
#include "platform/File.h"

namespace kv::isam {

using enum EngineError;
using platform::File;

namespace {

// More buffers than this buy nothing for the trees the suite keeps and would only let a
// wild argument exhaust the machine's memory.
constexpr int kMaxPageBuffers = 65536;
constexpr uint64_t kMaxCoordSlots = 65536;

enum class OpKind { kPlain, kRead, kWrite };

// Key number of an operation that concerns no key.
constexpr int kNoKey = INT32_MIN;

// ---- Handles ---------------------------------------------------------------------------
//
// handle = serial << kHandlePlaceBits | (place + 1). The place makes the lookup direct;
// the serial, drawn from one counter for the whole process, makes every handle differ
// from each one given out before it, by this Engine object or any other. The serial has
// 52 bits and never repeats.
constexpr unsigned kHandlePlaceBits = 12;
constexpr uint64_t kHandlePlaceMask = (uint64_t{1} << kHandlePlaceBits) - 1;
constexpr uint64_t kHandleSerialMask = UINT64_MAX >> kHandlePlaceBits;
// Each open block holds two or three files of the operating system; the places run out
// long after those do.
constexpr size_t kMaxOpenBlocks = kHandlePlaceMask;

std::atomic<uint64_t> nextSerial{1};

// The open block a handle stands for, or null for any value that is not a live handle
// of this engine.
FileBlock* Resolve(const EngineState& st, BlockHandle handle) {
  const uint64_t value = handle.Value();
  const uint64_t place = value & kHandlePlaceMask;
  if (place == 0 || place > st.handles.size()) return nullptr;
  FileBlock* b = st.handles[static_cast<size_t>(place - 1)];
  return b != nullptr && b->handle == value ? b : nullptr;
}

// Gives an opened block its place and a handle no earlier block had.
BlockHandle Publish(EngineState& st, FileBlock& b) {
  auto free = std::find(st.handles.begin(), st.handles.end(), nullptr);
  if (free == st.handles.end()) free = st.handles.insert(free, nullptr);
  const auto place = static_cast<uint64_t>(free - st.handles.begin());
  uint64_t serial = 0;
  while (serial == 0) serial = nextSerial.fetch_add(1, std::memory_order_relaxed) & kHandleSerialMask;
  b.handle = (serial << kHandlePlaceBits) | (place + 1);
  *free = &b;
  return BlockHandle::FromValue(b.handle);
}

BlockHandle HandleOf(const FileBlock& b) { return BlockHandle::FromValue(b.handle); }

void Unpublish(EngineState& st, FileBlock& b) {
  const uint64_t place = b.handle & kHandlePlaceMask;
  if (place != 0 && place <= st.handles.size() && st.handles[static_cast<size_t>(place - 1)] == &b) {
    st.handles[static_cast<size_t>(place - 1)] = nullptr;
  }
  b.handle = 0;
}

// ---- The shared prologue and epilogue of the operations --------------------------------

void Begin(EngineState& st) {
  st.ok = true;
  st.error = kNone;
  st.heldRange = false;
  ops::ClearHeldRangeNote();
}

void Finish(EngineState& st, Status err);

// Invariants 1-3 of EngineState.h, and each open block's coordination state.
std::string CheckState(const EngineState& st) {
  std::string why;
  auto isOpen = [&st](const FileBlock* b) { return std::find(st.open.begin(), st.open.end(), b) != st.open.end(); };
  for (size_t i = 0; i < st.handles.size(); ++i) {
    const FileBlock* b = st.handles[i];
    if (b == nullptr) continue;
    if ((b->handle & kHandlePlaceMask) != i + 1 || (b->handle >> kHandlePlaceBits) == 0) {
      return "a published block carries a handle of another place";
    }
    if (!isOpen(b)) return "a handle names a block that is not open";
  }
  for (const FileBlock* b : st.open) {
    if (std::count(st.open.begin(), st.open.end(), b) != 1) return "a block is in the open list twice";
    if (Resolve(st, HandleOf(*b)) != b) return "an open block has no live handle";
    if (b->validity != static_cast<uint32_t>(kValidityMark)) return "an open block lost its validity mark";
    if (!(why = ops::CheckCoordination(st, *b)).empty()) return why;
  }
  if (!st.pool.empty()) {
    const size_t size = st.pool.size();
    if (st.lru < 0 || static_cast<size_t>(st.lru) >= size) return "the ring's oldest buffer is outside the pool";
    size_t seen = 0;
    int i = st.lru;
    do {
      const PageBuffer& p = *st.pool[static_cast<size_t>(i)];
      if (p.owner != nullptr && !isOpen(p.owner)) return "a page buffer is owned by a block that is not open";
      if (p.next < 0 || static_cast<size_t>(p.next) >= size || st.pool[static_cast<size_t>(p.next)]->prev != i) {
        return "the page buffer ring is broken";
      }
      i = p.next;
      ++seen;
    } while (i != st.lru && seen <= size);
    if (seen != size) return "the page buffer ring does not hold every buffer";
  }
  if (st.singleUser && !st.locks.empty()) {
    for (const auto& [file, held] : st.locks) {
      if (!held.empty()) return "a lock is in the table of a single-user engine";
    }
  }
  for (const auto& [file, held] : st.locks) {
    const bool ofOpenBlock = std::any_of(st.open.begin(), st.open.end(), [file = file](const FileBlock* b) {
      return file == &b->data.file || file == &b->index.file || file == &b->coord.file;
    });
    if (!held.empty() && !ofOpenBlock) return "the lock table holds a range of a file no open block has";
    for (size_t k = 0; k < held.size(); ++k) {
      if (held[k].count < 1 || held[k].length == 0) return "the lock table holds a range with no use";
      if (k > 0 && held[k - 1].offset >= held[k].offset) return "the lock table is out of order";
    }
  }
  return {};
}

#if !defined(NDEBUG) || defined(KV_CHECK_INVARIANTS)
constexpr bool kCheckEveryOperation = true;
#else
constexpr bool kCheckEveryOperation = false;
#endif

void Finish(EngineState& st, Status err) {
  st.ok = !err;
  st.error = err.error();
  st.heldRange = err && ops::MetHeldRange();
  if constexpr (kCheckEveryOperation) {
    if (st.initialised) {
      const std::string why = CheckState(st);
      if (!why.empty()) {
        // A broken invariant is a fault of the engine, found by a test or the sanitizer
        // build; going on would let it damage the suite's files.
        std::fprintf(stderr, "engine invariant broken: %s\n", why.c_str());
        std::abort();
      }
    }
  }
}

// The entry checks of every operation on a block, in their order. On success `out` is
// the block and `tookReadLock` tells the exit whether there is a temporary read lock to
// release.
Status Enter(EngineState& st, BlockHandle handle, OpKind kind, int key, FileBlock*& out,
              bool& tookReadLock) {
  out = nullptr;
  tookReadLock = false;
  if (!st.initialised) return kNotStarted;
  FileBlock* b = Resolve(st, handle);
  if (b == nullptr || b->validity != static_cast<uint32_t>(kValidityMark)) return kInvalidBlock;
  if (kind == OpKind::kWrite && b->readOnly) return kReadOnlyBlock;
  if (kind == OpKind::kWrite && b->net && !b->net->locked) return kMustBeLocked;
  if (key != kNoKey && (key < 1 || key > b->keyCount)) return kBadKeyNumber;
  if (kind == OpKind::kRead && b->net && !b->net->locked && !b->net->noLocks) {
    const Status e = ops::ReadLock(st, *b);
    if (e) return e == kUndefined ? kReadLocked : e;
    tookReadLock = true;
  }
  out = b;
  return {};
}

Status Exit(EngineState& st, FileBlock& b, Status err, bool tookReadLock) {
  if (err == kUndefined && (b.readOnly || b.net)) err = kLockedForShared;
  if (tookReadLock) {
    const Status e = ops::ReadUnlock(st, b);
    if (e && !err) err = kReadUnlockFailed;
  }
  return err;
}

// One public operation on an open block: the constructor clears the status and makes
// the entry checks (when one fails the status holds its error and the operation is
// false); Done(err) makes the exit steps and stores the status once.
class BlockOp {
 public:
  BlockOp(EngineState& st, BlockHandle handle, OpKind kind, int key = kNoKey) : st_(st) {
    Begin(st_);
    if (Status e = Enter(st_, handle, kind, key, block_, readLocked_)) Finish(st_, e);
  }
  explicit operator bool() const { return block_ != nullptr; }
  FileBlock& block() const { return *block_; }
  void Done(Status err) { Finish(st_, Exit(st_, *block_, err, readLocked_)); }

 private:
  EngineState& st_;
  FileBlock* block_ = nullptr;
  bool readLocked_ = false;
};

void RemoveFromOpenList(EngineState& st, const FileBlock* b) {
  auto it = std::find(st.open.begin(), st.open.end(), b);
  if (it != st.open.end()) st.open.erase(it);
}

// Writes `length` zero bytes at `offset` without holding them all in memory at once
// (slot 0 of a file may be as long as a slot may be).
Status WriteZeros(File& f, uint64_t offset, uint64_t length) {
  static const std::vector<uint8_t> zeros(64 * 1024, 0);
  while (length > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(length, zeros.size()));
    if (Status e = ops::WriteExact(f, offset, zeros.data(), n)) return e;
    offset += n;
    length -= n;
  }
  return {};
}

Status CreateFileReplacing(const std::string& name, File& out) {
  const platform::OsStatus os = File::Create(name, platform::IfExists::kReplace, out);
  if (os) {
    const Status err = TranslateOsError(OsOp::kCreate, os);
    NoteOsFailureFile(name);
    return err;
  }
  return {};
}

// Opens the data file and, when it has keys, the index file, and reads every header.
Status OpenDataAndIndex(EngineState& st, FileBlock& b, const std::string& dataName,
                         const std::string& indexName, bool readOnly, bool shared) {
  if (Status e = ops::OpenFile(b.data, dataName, readOnly, shared)) return e;
  DataHeader header;
  if (Status e = ops::ReadDataHeader(b, header)) return e;
  if (header.keyCount > kMaxKeys) return kTooManyKeys;
  // A slot shorter than the header would put record 1 over it; no file the suite
  // creates has one, and a length of 0 or less would make every offset meaningless.
  if (header.slotLength < kMinSlotLength) return kInconsistent;
  b.keyCount = header.keyCount;
  b.sections.assign(static_cast<size_t>(b.keyCount) + 1, Section{});
  b.sections[0].data = header;

  if (b.keyCount > 0) {
    if (Status e = ops::OpenFile(b.index, indexName, readOnly, shared)) {
      return (e == kTooManyOpenFiles || e == kDriveNotReady) ? e : Status(kFileDefect);
    }
    int64_t running = 0;
    for (int k = 1; k <= b.keyCount; ++k) {
      Section& s = b.sections[static_cast<size_t>(k)];
      s.offset = running;
      if (Status e = ops::ReadKeyHeader(b, k, s.key)) return e;
      if (Status e = DeriveKeyLength(s.key, s.keyLength)) return e;
      running += s.key.sectionLength;
      s.path = SearchPath{};
    }
    b.indexRecordLength = running;
  }
  if (header.defectFlag != 0) return kFileDefect;
  st.open.push_back(&b);
  return {};
}

enum class CoordState { kNone, kNew, kValid, kDamaged };

}  // namespace

// ---- Header steps shared with the other sources -----------------------------------------

namespace ops {

Status ReadDataHeader(FileBlock& b, DataHeader& out) {
  uint8_t raw[kDataHeaderSize];
  if (Status e = ReadExact(b.data.file, 0, raw, sizeof raw)) return e;
  out = DecodeDataHeader(raw);
  return {};
}

Status WriteDataHeader(FileBlock& b) {
  uint8_t raw[kDataHeaderSize];
  EncodeDataHeader(b.sections[0].data, raw);
  if (Status e = WriteExact(b.data.file, 0, raw, sizeof raw)) return e;
  b.sections[0].headerChanged = false;
  return {};
}

Status ReadKeyHeader(FileBlock& b, int key, KeyHeader& out) {
  uint8_t raw[kKeyHeaderSize];
  const Section& s = b.sections[static_cast<size_t>(key)];
  if (Status e = ReadExact(b.index.file, static_cast<uint64_t>(s.offset), raw, sizeof raw)) return e;
  out = DecodeKeyHeader(raw);
  return {};
}

Status WriteKeyHeader(FileBlock& b, int key) {
  uint8_t raw[kKeyHeaderSize];
  Section& s = b.sections[static_cast<size_t>(key)];
  EncodeKeyHeader(s.key, raw);
  if (Status e = WriteExact(b.index.file, static_cast<uint64_t>(s.offset), raw, sizeof raw)) return e;
  s.headerChanged = false;
  return {};
}

Status RereadSection(FileBlock& b, int section) {
  Section& s = b.sections[static_cast<size_t>(section)];
  if (section == 0) {
    DataHeader h;
    if (Status e = ReadDataHeader(b, h)) return e;
    // Another station may only change the counts and the chain; a different record
    // shape means the file was rebuilt under this block.
    if (h.slotLength != s.data.slotLength || h.keyCount != s.data.keyCount) return kInconsistent;
    s.data = h;
    s.headerChanged = false;
    return {};
  }
  KeyHeader h;
  if (Status e = ReadKeyHeader(b, section, h)) return e;
  if (h.sectionLength != s.key.sectionLength || h.PageSize() != s.key.PageSize()) return kInconsistent;
  s.key = h;
  s.headerChanged = false;
  return {};
}

Status WriteBackChanges(EngineState& st, FileBlock& b) {
  if (Status e = WriteBackPages(st, b)) return e;
  for (int k = 1; k <= b.keyCount; ++k) {
    if (b.sections[static_cast<size_t>(k)].headerChanged) {
      if (Status e = WriteKeyHeader(b, k)) return e;
    }
  }
  return {};
}

}  // namespace ops

// ---- Engine -----------------------------------------------------------------------------

Engine::Engine() : state_(std::make_unique<EngineState>()) {}

Engine::~Engine() {
  EngineState& st = *state_;
  if (!st.initialised) return;
  // The program ends with the engine still running: close what is open, quietly.
  std::vector<FileBlock*> open = st.open;
  for (FileBlock* b : open) {
    BlockHandle ref = HandleOf(*b);
    CloseBlock(ref);
    if (ref != nullptr) {
      // A close that failed early leaves the block open; free it regardless.
      (void)ops::CloseFile(st, b->coord);
      (void)ops::CloseFile(st, b->index);
      (void)ops::CloseFile(st, b->data);
      RemoveFromOpenList(st, b);
      Unpublish(st, *b);
      delete b;
    }
  }
}

bool Engine::LastOpOK() const { return state_->ok; }
int32_t Engine::LastOpError() const { return Code(state_->error); }
EngineError Engine::LastError() const { return state_->error; }

bool Engine::LastOpMetHeldRange() const { return !state_->ok && state_->heldRange; }
bool Engine::Initialised() const { return state_->initialised; }
EngineStats Engine::Stats() const { return state_->stats; }
std::string Engine::CheckInvariants() const { return state_->initialised ? CheckState(*state_) : std::string(); }

int Engine::StartEngine(EngineMode mode, int pageBuffers) {
  EngineState& st = *state_;
  Begin(st);
  if (st.initialised) return Finish(st, kAlreadyStarted), 0;
  if (pageBuffers <= 7) return Finish(st, kTooFewBuffersAsked), 0;
  st.open.clear();
  st.locks.clear();
  st.stats = EngineStats{};
  if (mode == EngineMode::kSingleUser) {
    st.singleUser = true;
    st.stationCount = 0;
  } else if (mode == EngineMode::kNetwork) {
    st.singleUser = false;
    st.stationCount = kStationCount;
  } else {
    return Finish(st, kNetworkInit), 0;
  }
  st.mode = mode;
  st.pool.clear();
  const int wanted = std::min(pageBuffers, kMaxPageBuffers);
  st.pool.reserve(static_cast<size_t>(wanted));
  for (int i = 0; i < wanted; ++i) {
    PageBuffer* p = new (std::nothrow) PageBuffer;
    if (p == nullptr) break;
    st.pool.emplace_back(p);
  }
  if (st.pool.size() <= 7) {
    st.pool.clear();
    return Finish(st, kTooFewPageBuffers), 0;
  }
  ops::InitPool(st);
  st.initialised = true;
  return static_cast<int>(st.pool.size());
}

void Engine::StopEngine() {
  EngineState& st = *state_;
  Begin(st);
  if (!st.initialised) return Finish(st, kNotStarted);
  Status first;
  std::vector<FileBlock*> open = st.open;
  for (FileBlock* b : open) {
    BlockHandle ref = HandleOf(*b);
    CloseBlock(ref);
    if (!st.ok && !first) first = st.error;
  }
  if (first) return Finish(st, first);
  st.initialised = false;
  st.pool.clear();
  st.lru = -1;
  st.locks.clear();
  Finish(st, kNone);
}

void Engine::CreateBlock(std::string_view name, int32_t recordLength, int keyCount,
                         const KeyDesc* keys) {
  EngineState& st = *state_;
  Begin(st);
  if (!st.initialised) return Finish(st, kNotStarted);
  if (recordLength < kMinSlotLength) return Finish(st, kBadRecordLength);
  if (keyCount > kMaxKeys || keyCount < 0) return Finish(st, kBadKeyCount);

  const BaseNames names = SplitBaseName(name);
  const std::string dataName = ForceExtension(names.data, "DAT");
  const std::string indexName = ForceExtension(names.index, "IX");
  const std::string coordName = ForceExtension(names.data, "DIA");
  // Old files of the name go first; one that is missing or stays is met by the
  // replacing creates below, which report what matters.
  (void)platform::DeleteFile(indexName);
  (void)platform::DeleteFile(coordName);
  (void)platform::DeleteFile(dataName);

  File data;
  Status err = CreateFileReplacing(dataName, data);
  if (err) return Finish(st, err);
  DataHeader header;
  header.slotLength = recordLength;
  header.keyCount = static_cast<uint8_t>(keyCount);
  uint8_t raw[kDataHeaderSize];
  EncodeDataHeader(header, raw);
  err = WriteZeros(data, 0, static_cast<uint64_t>(recordLength));
  if (!err) err = ops::WriteExact(data, 0, raw, sizeof raw);
  const platform::OsStatus os = data.Close();
  if (!err && os) err = TranslateOsError(OsOp::kReadWrite, os);
  if (err) {
    (void)platform::DeleteFile(dataName);  // a half-made file goes; `err` is what is reported
    return Finish(st, err);
  }
  // A new file takes the owner, group and mode of the company's files (File.h).
  platform::TakeAccessOf(dataName, {});
  if (keyCount == 0) return Finish(st, kNone);

  File index;
  err = CreateFileReplacing(indexName, index);
  if (err) {
    (void)platform::DeleteFile(dataName);  // a half-made file goes; `err` is what is reported
    return Finish(st, err);
  }
  std::vector<KeyHeader> headers;
  std::vector<int64_t> offsets;
  int64_t running = 0;
  for (int k = 0; k < keyCount && !err; ++k) {
    const int length = keys == nullptr ? 0 : keys[k].length;
    if (length == 0 || length > kMaxKeyLength) {
      err = kKeyTooLong;
      break;
    }
    KeyHeader h;
    h.sectionLength = SectionLengthFor(length);
    h.allowDuplicates = keys[k].duplicates ? 1 : 0;
    h.storedPageSize = kDefaultPageSize;
    headers.push_back(h);
    offsets.push_back(running);
    running += h.sectionLength;
  }
  if (!err) err = WriteZeros(index, 0, static_cast<uint64_t>(running));
  for (size_t k = 0; k < headers.size() && !err; ++k) {
    uint8_t kh[kKeyHeaderSize];
    EncodeKeyHeader(headers[k], kh);
    err = ops::WriteExact(index, static_cast<uint64_t>(offsets[k]), kh, sizeof kh);
  }
  const platform::OsStatus ios = index.Close();
  if (!err && ios) err = TranslateOsError(OsOp::kReadWrite, ios);
  if (err) {
    // Half-made files go; `err` is what is reported.
    (void)platform::DeleteFile(indexName);
    (void)platform::DeleteFile(dataName);
  } else {
    platform::TakeAccessOf(indexName, {dataName});
  }
  Finish(st, err);
}

namespace {

// What one open of a block is doing: its options as they apply, the file names, and
// what the steps so far have taken (which the undo gives back).
struct Opening {
  Opening(EngineState& state, FileBlock& block, std::string_view name, OpenOptions o)
      : st(state), b(block) {
    if (o.noLocks) o.readOnly = true;
    if (o.readOnly) o.saveMode = false;
    options = o;
    shared = o.network && st.mode == EngineMode::kNetwork;
    locking = shared && !o.noLocks;
    required = (o.network && !o.noLocks) || (!o.network && o.saveMode);
    const BaseNames names = SplitBaseName(name);
    dataName = ForceExtension(names.data, "DAT");
    indexName = ForceExtension(names.index, "IX");
    coordName = ForceExtension(names.data, "DIA");
  }

  EngineState& st;
  FileBlock& b;
  OpenOptions options;    // with noLocks making it read-only, read-only ending save mode
  bool shared = false;    // opened for sharing with other stations
  bool locking = false;   // takes part in the locking
  bool required = false;  // needs the coordination file
  std::string dataName, indexName, coordName;

  bool createdNow = false;  // the coordination file was created by this open
  bool openLock = false;    // the open lock is held
  bool claimed = false;     // a station is claimed
  CoordState coordState = CoordState::kNone;
  int64_t coordLength = 0;
  int slotLength = 0;  // m, the coordination slot length for the block's keys
};

// The loop is bounded: a file that vanishes again and again ends the open with
// kFileNotFound.
Status OpenCoordinationFile(Opening& o) {
  o.createdNow = false;
  Status err;
  for (int attempt = 0;; ++attempt) {
    err = ops::OpenFile(o.b.coord, o.coordName, o.options.readOnly, o.shared);
    if (err != EngineError::kFileNotFound || !o.required) break;
    if (o.options.readOnly) return EngineError::kNoCoordReadOnly;
    if (attempt >= 3) break;
    File fresh;
    const platform::OsStatus os = File::Create(o.coordName, platform::IfExists::kFail, fresh);
    if (os == platform::OsError::kFileExists) continue;  // another program was quicker
    if (os) {
      const Status created = TranslateOsError(OsOp::kCreate, os);
      NoteOsFailureFile(o.coordName);
      return created;
    }
    const uint8_t one = 0;
    err = ops::WriteExact(fresh, 0, &one, 1);
    if (err) NoteOsFailureFile(o.coordName);
    // The byte only makes the file; the open below, not this close, tells whether it is usable.
    (void)fresh.Close();
    // The suite's users must be able to open it as they open the data file beside it.
    platform::TakeAccessOf(o.coordName, {o.dataName, o.indexName});
    if (err) {
      (void)platform::DeleteFile(o.coordName);  // the write's error is the one reported
      return err;
    }
    o.createdNow = true;
  }
  if (err == EngineError::kFileNotFound && !o.required) return {};  // none there and none needed
  return err;
}

// A file deleted while this open waited for its open lock (a failing opener
// removes the file it created) is opened again: staying on it would leave this station
// on a file no other station can see, with locks that exclude nobody.
Status TakeOpenLock(Opening& o) {
  for (int reopen = 0;; ++reopen) {
    if (ops::LockRange(o.st, o.b.coord.file, kOpenLockOffset, kOpenLockLength, ops::kLongWaitStep,
                       ops::kLongWaitTotal)) {
      return EngineError::kOpenLocked;
    }
    o.openLock = true;
    bool same = true;
    if (reopen >= 3 || o.b.coord.file.StillNamed(same) || same) return {};
    o.openLock = false;
    (void)ops::UnlockRange(o.st, o.b.coord.file, kOpenLockOffset, kOpenLockLength);
    (void)ops::CloseFile(o.st, o.b.coord);
    if (Status e = OpenCoordinationFile(o)) return e;
  }
}

// A file this open created is judged by what it holds now, like any other:
// between its creation and the open lock another station may have set it up and claimed
// a station on it, and it is then a valid layout, not a new file.
Status JudgeCoordinationFile(Opening& o) {
  const int m = o.slotLength = CoordSlotLength(o.b.keyCount);
  o.coordLength = kSlotAreaOffset + static_cast<int64_t>(m) * (o.st.stationCount + 1);
  if (!o.b.coord.file.IsOpen()) return {};
  uint64_t size = 0;
  if (Status e = ops::FileSize(o.b.coord.file, size)) return e;
  if (o.options.readOnly && (o.required || size > 1)) return EngineError::kNoCoordReadOnly;
  o.coordState = CoordState::kDamaged;
  if (size == 1) {
    o.coordState = CoordState::kNew;
  } else if (size >= kSlotAreaOffset && (size - kSlotAreaOffset) % static_cast<uint64_t>(m) == 0) {
    const uint64_t k = (size - kSlotAreaOffset) / static_cast<uint64_t>(m);
    uint8_t marker[2];
    // Station claims sit at the top 65535 offsets below 2^31, so no layout can hold
    // more slots than that; a longer file is not one.
    if (k <= kMaxCoordSlots && !ops::ReadExact(o.b.coord.file, kLayoutMarkerOffset, marker, 2) &&
        GetI16(marker) == kLayoutMarker && (o.shared ? k >= 2 : k == 1)) {
      o.coordState = CoordState::kValid;
      o.coordLength = static_cast<int64_t>(size);
    }
  }
  return {};
}

Status JoinNetwork(Opening& o) {
  FileBlock& b = o.b;
  b.readOnly = o.options.readOnly;
  b.saveMode = o.options.saveMode;
  if (!o.options.network) return {};
  b.net = std::make_unique<NetState>();
  NetState& n = *b.net;
  n.noLocks = o.options.noLocks;
  n.slotLength = o.slotLength;
  n.slotAreaLength = static_cast<int32_t>(o.coordLength - kSlotAreaOffset);
  n.stationSlots = n.slotAreaLength / o.slotLength - 1;
  if (!o.locking) return {};
  if (Status e = ops::ClaimStation(o.st, b)) return e;
  o.claimed = true;
  return {};
}

Status SetUpCoordinationFile(Opening& o) {
  if (o.coordState == CoordState::kDamaged) {
    if (Status e = ops::ReplayJournal(o.st, o.b)) return e;
    o.coordState = CoordState::kNew;
  }
  if (o.options.network && o.coordState == CoordState::kNew && !o.options.readOnly) {
    std::vector<uint8_t> all(static_cast<size_t>(o.slotLength), 0xFF);
    return ops::WriteLayout(o.st, o.b, all.data());
  }
  return {};
}

// `existedBefore`: the coordination file was there before this open.
Status ReleaseOpenLock(Opening& o, bool existedBefore) {
  if (o.openLock) {
    o.openLock = false;
    if (ops::UnlockRange(o.st, o.b.coord.file, kOpenLockOffset, kOpenLockLength)) {
      return EngineError::kOpenUnlockFailed;
    }
  }
  if (!o.required && o.b.coord.file.IsOpen()) {
    (void)ops::CloseFile(o.st, o.b.coord);
    // Tidying only: a coordination file that stays is harmless.
    if (existedBefore && !o.options.readOnly) (void)platform::DeleteFile(o.coordName);
  }
  return {};
}

// Undoes the steps in reverse order; nothing it meets replaces the first error.
void UndoOpen(Opening& o) {
  EngineState& st = o.st;
  FileBlock& b = o.b;
  if (o.claimed) (void)ops::UnlockRange(st, b.coord.file, StationClaimOffset(b.net->station), 1);
  b.net.reset();
  ops::DropPages(st, b, 0);
  RemoveFromOpenList(st, &b);
  (void)ops::CloseFile(st, b.index);
  (void)ops::CloseFile(st, b.data);
  // The coordination file this open created goes again only while nobody else uses it:
  // a station that opened it meanwhile would otherwise be left on a file no other
  // station can see, and its locks would exclude nobody.
  const bool mayDelete =
      o.createdNow && (!b.coord.file.IsOpen() || ops::TestExclusiveUse(st, b.coord.file));
  if (o.openLock) (void)ops::UnlockRange(st, b.coord.file, kOpenLockOffset, kOpenLockLength);
  (void)ops::CloseFile(st, b.coord);
  if (mayDelete) (void)platform::DeleteFile(o.coordName);  // undoing: the first error stands
}

}  // namespace

void Engine::OpenBlock(BlockHandle& block, std::string_view name, OpenOptions options) {
  EngineState& st = *state_;
  Begin(st);
  if (!st.initialised) return Finish(st, kNotStarted);
  if (st.open.size() >= kMaxOpenBlocks) return Finish(st, kTooManyBlocks);

  auto owned = std::make_unique<FileBlock>();
  Opening o(st, *owned, name, options);
  Status err = OpenCoordinationFile(o);
  if (!err && o.locking) err = TakeOpenLock(o);
  const bool existedBefore = o.b.coord.file.IsOpen() && !o.createdNow;
  if (!err) err = OpenDataAndIndex(st, o.b, o.dataName, o.indexName, o.options.readOnly, o.shared);
  if (!err) err = JudgeCoordinationFile(o);
  // A new or damaged file may only be set up by its sole user.
  if (!err && o.locking &&
      (o.coordState == CoordState::kNew || o.coordState == CoordState::kDamaged) &&
      !ops::TestExclusiveUse(st, o.b.coord.file)) {
    err = kNotExclusive;
  }
  if (!err) err = JoinNetwork(o);
  if (!err) err = SetUpCoordinationFile(o);
  if (!err) err = ReleaseOpenLock(o, existedBefore);
  if (!err) {
    o.b.validity = static_cast<uint32_t>(kValidityMark);
    block = Publish(st, *owned.release());
    return Finish(st, kNone);
  }
  UndoOpen(o);
  if (o.options.network && err == kUndefined) err = kOpenLocked;
  Finish(st, err);
}

void Engine::CloseBlock(BlockHandle& block) {
  EngineState& st = *state_;
  BlockOp op(st, block, OpKind::kPlain);
  if (!op) return;
  FileBlock& b = op.block();
  // The close reports its own errors as they are, without the exit's mapping.

  // Steps that may still keep the block open.
  if (b.net) {
    while (!b.net->recordLocks.empty()) {
      if (ops::UnlockSlot(st, b, b.net->recordLocks.back())) return Finish(st, kCloseRecordLocked);
    }
    if (b.net->locked || b.net->readLocked) {
      Status e = b.net->locked ? ops::UnlockBlock(st, b) : ops::ReadUnlock(st, b);
      if (e) return Finish(st, kCloseBlockLocked);
    }
  }
  if ((!b.net || st.singleUser) && !b.readOnly && !b.saveMode) {
    if (Status e = ops::WriteBackChanges(st, b)) return Finish(st, e);
    if (Status e = ops::WriteDataHeader(b)) return Finish(st, e);
  }

  // From here on the block goes away whatever fails.
  bool failed = false;
  if (b.net) {
    if (b.net->station > 0 &&
        ops::UnlockRange(st, b.coord.file,
                         StationClaimOffset(b.net->station), 1)) {
      failed = true;
    }
    const bool noLocks = b.net->noLocks;
    b.net.reset();
    if (!noLocks && ops::CloseFile(st, b.coord)) failed = true;
  } else if (b.saveMode) {
    if (ops::CloseFile(st, b.coord)) failed = true;
  }
  ops::DropPages(st, b, 0);
  if (b.keyCount > 0 && ops::CloseFile(st, b.index)) failed = true;
  if (ops::CloseFile(st, b.data)) failed = true;
  (void)ops::CloseFile(st, b.coord);  // only still open where the open left it so
  RemoveFromOpenList(st, &b);
  Unpublish(st, b);
  b.validity = 0;
  delete &b;
  block = nullptr;
  Finish(st, failed ? kNotClosed : kNone);
}

void Engine::FlushBlock(BlockHandle block) {
  EngineState& st = *state_;
  BlockOp op(st, block, OpKind::kPlain);
  if (!op) return;
  FileBlock& b = op.block();
  if (b.readOnly || b.saveMode) return op.Done(kNone);
  if (b.net && !b.net->locked) return op.Done(kNone);
  const bool networkMode = b.net != nullptr && !st.singleUser;
  Status err;
  const bool wasModified = b.modified;
  if (b.net) {
    if (wasModified) err = ops::SignalChanges(st, b);
    if (!err) err = ops::FlushFile(b.data, networkMode);
    if (!err && wasModified && b.coord.file.IsOpen()) err = ops::FlushFile(b.coord, networkMode);
  } else {
    if (wasModified) {
      err = ops::WriteBackChanges(st, b);
      if (!err) err = ops::WriteDataHeader(b);
    }
    if (!err) err = ops::FlushFile(b.data, networkMode);
  }
  if (!err && b.keyCount > 0 && wasModified) err = ops::FlushFile(b.index, networkMode);
  if (!err) b.modified = false;
  op.Done(err);
}

void Engine::LockBlock(BlockHandle block) {
  EngineState& st = *state_;
  BlockOp op(st, block, OpKind::kPlain);
  if (op) op.Done(ops::LockBlock(st, op.block()));
}

void Engine::UnlockBlock(BlockHandle block) {
  EngineState& st = *state_;
  BlockOp op(st, block, OpKind::kPlain);
  if (op) op.Done(ops::UnlockBlock(st, op.block()));
}

void Engine::LockSlot(BlockHandle block, int32_t recordNumber) {
  EngineState& st = *state_;
  BlockOp op(st, block, OpKind::kPlain);
  if (op) op.Done(ops::LockSlot(st, op.block(), recordNumber));
}

void Engine::UnlockSlot(BlockHandle block, int32_t recordNumber) {
  EngineState& st = *state_;
  BlockOp op(st, block, OpKind::kPlain);
  if (op) op.Done(ops::UnlockSlot(st, op.block(), recordNumber));
}

namespace {

// Reads `count` slots from `first` on; offsets in 64 bits.
Status ReadSlotRange(FileBlock& b, int32_t first, int64_t count, std::span<uint8_t> buffer) {
  const int64_t slot = b.SlotLength();
  const int64_t bytes = count * slot;
  if (first < 0) return kReadError;
  if (static_cast<int64_t>(buffer.size()) < bytes) return kInconsistent;
  if (bytes == 0) return {};
  return ops::ReadExact(b.data.file, static_cast<uint64_t>(first) * static_cast<uint64_t>(slot),
                        buffer.data(), static_cast<size_t>(bytes));
}

}  // namespace

void Engine::ReadSlot(BlockHandle block, int32_t recordNumber, std::span<uint8_t> buffer) {
  BlockOp op(*state_, block, OpKind::kRead);
  if (op) op.Done(ReadSlotRange(op.block(), recordNumber, 1, buffer));
}

void Engine::ReadSlots(BlockHandle block, int32_t first, int32_t count, std::span<uint8_t> buffer) {
  BlockOp op(*state_, block, OpKind::kRead);
  if (op) op.Done(count < 0 ? Status(kInconsistent) : ReadSlotRange(op.block(), first, count, buffer));
}

void Engine::WriteSlot(BlockHandle block, int32_t recordNumber, std::span<const uint8_t> buffer) {
  BlockOp op(*state_, block, OpKind::kWrite);
  if (!op) return;
  FileBlock& b = op.block();
  Status err;
  const int64_t slot = b.SlotLength();
  if (recordNumber <= 0) {
    err = kRecordZero;
  } else if (static_cast<int64_t>(buffer.size()) < slot) {
    err = kInconsistent;
  } else {
    err = ops::WriteExact(b.data.file,
                          static_cast<uint64_t>(recordNumber) * static_cast<uint64_t>(slot),
                          buffer.data(), static_cast<size_t>(slot));
    // Even a short write may have changed the slot: the block counts as changed.
    b.modified = true;
  }
  op.Done(err);
}

int32_t Engine::AppendSlot(BlockHandle block, std::span<const uint8_t> buffer) {
  BlockOp op(*state_, block, OpKind::kWrite);
  if (!op) return 0;
  FileBlock& b = op.block();
  DataHeader& header = b.sections[0].data;
  const int64_t slot = b.SlotLength();
  Status err;
  if (header.highestSlot < 0 || header.highestSlot >= INT32_MAX - 1) {
    err = kInconsistent;
  } else if (static_cast<int64_t>(buffer.size()) < slot) {
    err = kInconsistent;
  } else {
    const int32_t number = header.highestSlot + 1;
    err = ops::WriteExact(b.data.file, static_cast<uint64_t>(number) * static_cast<uint64_t>(slot),
                          buffer.data(), static_cast<size_t>(slot));
    b.modified = true;
    // The slot counts as added only when it was written whole; the header in memory is
    // written back (and signalled) by the unlock.
    if (!err) {
      header.highestSlot = number;
      b.sections[0].headerChanged = true;
    }
  }
  const int32_t added = !err ? header.highestSlot : 0;
  op.Done(err);
  return state_->ok ? added : 0;
}

int32_t Engine::SlotTotal(BlockHandle block) {
  BlockOp op(*state_, block, OpKind::kRead);
  if (!op) return 0;
  const int32_t highest = op.block().sections[0].data.highestSlot;
  // A negative count or one at the top of the range cannot describe a real file.
  op.Done((highest < 0 || highest == INT32_MAX) ? kInconsistent : kNone);
  return state_->ok ? highest + 1 : 0;
}

void Engine::LookupKey(BlockHandle block, int keyNumber, int32_t& recordNumber,
                       std::string_view keyText) {
  BlockOp op(*state_, block, OpKind::kRead, keyNumber);
  if (op) op.Done(ops::Lookup(*state_, op.block(), keyNumber, recordNumber, keyText));
}

void Engine::StepToNextKey(BlockHandle block, int keyNumber, int32_t& recordNumber,
                           std::string& keyText) {
  BlockOp op(*state_, block, OpKind::kRead, keyNumber);
  if (op) op.Done(ops::StepNext(*state_, op.block(), keyNumber, recordNumber, keyText));
}

int32_t Engine::SlotLength(BlockHandle block) const {
  const FileBlock* b = Resolve(*state_, block);
  return b != nullptr ? b->SlotLength() : 0;
}

std::string Engine::DataFileName(BlockHandle block) const {
  const FileBlock* b = Resolve(*state_, block);
  return b != nullptr ? b->data.name : std::string();
}

int Engine::KeyCount(BlockHandle block) const {
  const FileBlock* b = Resolve(*state_, block);
  return b != nullptr ? b->keyCount : 0;
}

int Engine::StationNumber(BlockHandle block) const {
  const FileBlock* b = Resolve(*state_, block);
  return b != nullptr && b->net ? b->net->station : 0;
}

bool Engine::IsLocked(BlockHandle block) const {
  const FileBlock* b = Resolve(*state_, block);
  return b != nullptr && b->net && b->net->locked;
}

}  // namespace kv::isam
