// The engine's private state: what one Engine object keeps for the whole process, and
// what one open FileBlock holds. Only the engine's own sources include this.
//
// Invariants:
//  1. A caller's BlockHandle is a value, not an address: its low bits name a place in
//     EngineState::handles and the rest carry the serial number the block got when it
//     was opened (unique in the process). A handle is valid exactly while the block in
//     its place carries that same handle value; every entry check resolves it there
//     before it touches a block, so a handle kept past its close is refused (10445) even
//     when a later open reuses the place or the memory, and a handle from another Engine
//     object or any other value is refused the same way.
//  2. A page buffer's owner is either none or an open block; closing a block, replaying
//     its journal or a change signal for one of its keys clears the owners it concerns.
//  3. The lock table holds exactly the ranges this process has locked through the
//     engine, per open File, each with its use count; a range leaves the table when its
//     count falls to 0 or its File is closed.
//  4. A network block holds its write lock exactly when net->locked is set, and a
//     temporary read lock only for the duration of one public reading operation.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "isam/Engine.h"
#include "isam/Errors.h"
#include "isam/Format.h"
#include "platform/File.h"

namespace kv::isam {

struct FileRecord {
  platform::File file;
  std::string name;
  bool notShared = false;
};

struct SearchPath {
  int depth = 0;  // 0..8
  int32_t page[kMaxTreeDepth] = {};
  uint8_t index[kMaxTreeDepth] = {};
  bool valid = false;
};

// Section 0 is the data file's header; sections 1..n the keys.
struct Section {
  DataHeader data;  // section 0 only
  KeyHeader key;    // sections 1..n only
  bool headerChanged = false;
  bool changedSinceLock = false;
  int keyLength = 0;
  int64_t offset = 0;  // byte offset of the key's section inside an index record
  SearchPath path;
};

struct NetState {
  bool locked = false;
  bool noLocks = false;
  bool refreshAll = false;
  bool readLocked = false;   // temporary read lock of the current operation
  int32_t slotAreaLength = 0;  // k x m
  int slotLength = 0;          // m
  int station = 0;             // own station number, 0 without locking
  int stationSlots = 0;        // k - 1
  std::vector<int32_t> recordLocks;
  std::vector<uint8_t> scratch;  // marker and slots up to the own one; no allocation per read
  // Under the write lock: scratch holds the marker and the whole slot area as they are in
  // the file (nobody else may change them meanwhile), so the signal written at the
  // unlock needs no second read.
  bool areaKnown = false;
};

class FileBlock {
 public:
  uint32_t validity = 0;
  uint64_t handle = 0;  // the value of the caller's BlockHandle; 0 until the open succeeds
  FileRecord data;
  FileRecord index;
  FileRecord coord;
  int keyCount = 0;
  int64_t indexRecordLength = 0;
  std::vector<Section> sections;
  bool modified = false;
  bool readOnly = false;
  bool saveMode = false;
  std::unique_ptr<NetState> net;

  int32_t SlotLength() const { return sections[0].data.slotLength; }
};

struct PageBuffer {
  FileBlock* owner = nullptr;
  int key = 0;
  int32_t page = 0;
  bool dirty = false;
  int prev = 0;  // ring links (indexes into the pool)
  int next = 0;
  ExpandedPage content;
};

struct LockEntry {
  uint64_t offset = 0;
  uint64_t length = 0;
  int count = 0;
};

struct EngineState {
  bool initialised = false;
  EngineMode mode = EngineMode::kSingleUser;
  bool singleUser = true;
  int stationCount = 0;
  bool ok = true;
  EngineError error = EngineError::kNone;
  bool heldRange = false;  // the last operation failed on a transfer over another's lock

  std::vector<std::unique_ptr<PageBuffer>> pool;
  int lru = -1;  // least recently used buffer; pool[lru].prev is the most recently used

  std::vector<FileBlock*> open;     // in the order of opening
  std::vector<FileBlock*> handles;  // by handle place; null where the place is free
  std::map<const platform::File*, std::vector<LockEntry>> locks;

  EngineStats stats;
};

}  // namespace kv::isam
