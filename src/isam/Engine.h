// The indexed record file engine: data files (.DAT), their B-tree index files (.IX) and
// coordination files (.DIA), shared at run time with the suite's own programs.
//
// One Engine object holds what the engine keeps for the whole process: the initialised
// flag, the network mode, the page buffer ring, the open list, the lock table and the
// outcome of the last operation. The program has one; tests create two or more to act
// as separate stations on the same files.
//
// The engine never throws. Every public operation sets LastOpOK() true and
// LastOpError() 0 on entry; on failure LastOpOK() is false and LastOpError() holds the
// number of the first failure (clean-up after a failure never replaces it).
//
// Callers: the record access layer, the scan and the test builder. They rely on the
// signatures and on the status protocol above; new operations are added beside them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "isam/Errors.h"

namespace kv::isam {

struct KeyDesc {
  uint8_t length = 0;       // 1..100
  bool duplicates = false;  // several entries may carry the same key text
};

inline constexpr int kMaxKeys = 100;
inline constexpr int kMaxKeyLength = 100;
inline constexpr int32_t kValidityMark = 0x11195851;

// What a caller holds for an open file block: a plain value, not an address, that only
// the Engine object that opened the block turns back into it, and only until the block is
// closed. Every later use of the value, even after another open, fails with 10445. A
// default (or nullptr) handle names no block; callers start from it and CloseBlock
// leaves it so.
class BlockHandle {
 public:
  constexpr BlockHandle() = default;
  constexpr BlockHandle(std::nullptr_t) {}  // NOLINT: "no block", as callers write it
  constexpr explicit operator bool() const { return value_ != 0; }
  friend constexpr bool operator==(BlockHandle, BlockHandle) = default;

  // The number behind the handle: for the engine, and for tests that hand it values that
  // were never handles.
  constexpr uint64_t Value() const { return value_; }
  static constexpr BlockHandle FromValue(uint64_t value) {
    BlockHandle h;
    h.value_ = value;
    return h;
  }

 private:
  uint64_t value_ = 0;
};

struct EngineState;

// How the engine shares its files. The numbers are the ones the suite's programs start
// their engines with.
enum class EngineMode : int {
  kSingleUser = 0,  // no locks: the files are this program's alone
  kNetwork = 2,     // network blocks coordinate with the other stations
};

// How OpenBlock opens a block; every flag is off unless named, so a call reads
// `OpenBlock(b, name, {.network = true})`.
struct OpenOptions {
  bool readOnly = false;
  bool noLocks = false;   // read without taking part in the locking; implies readOnly
  bool saveMode = false;  // the suite's save mode (ignored when read-only)
  bool network = false;   // a network block: coordinates through the .DIA file
};

// Counters of the page cache, for tests and benchmarks.
struct EngineStats {
  uint64_t pageReads = 0;   // pages read from an index file
  uint64_t pageHits = 0;    // pages found in the cache
  uint64_t pageWrites = 0;  // dirty pages written back
};

class Engine {
 public:
  Engine();
  ~Engine();  // closes every block still open, without reporting
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  bool LastOpOK() const;
  // The number of LastError(), as it is shown and compared.
  int32_t LastOpError() const;
  EngineError LastError() const;
  // The last operation failed because a read or write of it met a range that another
  // open file holds locked (where locks are mandatory: a record another station holds).
  // Its error is whatever the operation reports for a failed transfer; this tells that
  // the failure is a conflict to wait for or go around, never damage.
  bool LastOpMetHeldRange() const;

  // Returns the number of page buffers obtained.
  int StartEngine(EngineMode mode, int pageBuffers);
  void StopEngine();
  bool Initialised() const;

  // Engine.cpp lists the steps of an open.
  void OpenBlock(BlockHandle& block, std::string_view name, OpenOptions options);
  void CreateBlock(std::string_view name, int32_t recordLength, int keyCount,
                   const KeyDesc* keys);
  void CloseBlock(BlockHandle& block);
  void FlushBlock(BlockHandle block);

  void LockBlock(BlockHandle block);
  void UnlockBlock(BlockHandle block);
  void LockSlot(BlockHandle block, int32_t recordNumber);
  void UnlockSlot(BlockHandle block, int32_t recordNumber);

  // Whole slot N into `buffer`, which must hold at least SlotLength bytes (a smaller
  // buffer fails with 10170 and nothing is read).
  void ReadSlot(BlockHandle block, int32_t recordNumber, std::span<uint8_t> buffer);
  void WriteSlot(BlockHandle block, int32_t recordNumber, std::span<const uint8_t> buffer);
  // HighestSlot + 1.
  int32_t SlotTotal(BlockHandle block);
  // Adds a record at HighestSlot + 1 (the write lock must be held, as for WriteSlot) and
  // returns its number, 0 on failure. The new header goes out with the change signal when
  // the block is unlocked. The repair never adds records; the suite's other programs do,
  // and the test stations that stand in for them use this.
  int32_t AppendSlot(BlockHandle block, std::span<const uint8_t> buffer);

  // Reads `count` consecutive slots starting at `first` into `buffer` (count ×
  // SlotLength bytes) under one temporary read lock. Slots beyond the end of the file
  // fail with 10070. For the walk's read-ahead.
  void ReadSlots(BlockHandle block, int32_t first, int32_t count, std::span<uint8_t> buffer);

  void LookupKey(BlockHandle block, int keyNumber, int32_t& recordNumber, std::string_view keyText);
  void StepToNextKey(BlockHandle block, int keyNumber, int32_t& recordNumber, std::string& keyText);

  // Facts about an open block (no locking, no status change).
  int32_t SlotLength(BlockHandle block) const;
  int KeyCount(BlockHandle block) const;
  // The data file's name as the block was opened by (empty for no block).
  std::string DataFileName(BlockHandle block) const;
  int StationNumber(BlockHandle block) const;  // 0 when the block takes part in no locking
  bool IsLocked(BlockHandle block) const;

  EngineStats Stats() const;

  // The first invariant of the engine's state (EngineState.h) or of a block's
  // coordination state (Network.cpp) that does not hold, in words; empty when all hold.
  // Tests call it; builds without NDEBUG, or configured with KV_CHECK_INVARIANTS, run it
  // after every operation and abort on a break, which is a fault of the engine.
  std::string CheckInvariants() const;

 private:
  std::unique_ptr<EngineState> state_;
};

}  // namespace kv::isam
