// Internal steps of the engine, shared by its sources. Each returns its Status: kNone on
// success or the engine error of its first failure; none touches LastOpOK/LastOpError (the
// public operations in Engine.cpp set those once, so the first error always survives
// the clean-up that follows it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "isam/EngineState.h"
#include "isam/Errors.h"

namespace kv::isam::ops {

// Waiting rules of the lock ranges (milliseconds).
inline constexpr uint32_t kShortWaitStep = 64, kShortWaitTotal = 768;  // record and read locks
inline constexpr uint32_t kLongWaitStep = 64, kLongWaitTotal = 3072;   // write and open locks

// ---- File I/O (FileIO.cpp) ------------------------------------------------------------

// Exactly `length` bytes at `offset`; a short read gives kReadError.
Status ReadExact(platform::File& file, uint64_t offset, void* buffer, size_t length);
// Up to `length` bytes; `done` tells how many arrived. Only an OS failure is an error.
Status ReadSome(platform::File& file, uint64_t offset, void* buffer, size_t length,
                 size_t& done);
// Exactly `length` bytes; a short write gives kWriteError.
Status WriteExact(platform::File& file, uint64_t offset, const void* buffer, size_t length);
// Whether a read or write since the last ClearHeldRangeNote was refused because another
// open file holds a lock over its range (OS error 33). Only systems whose byte-range locks
// are mandatory refuse a transfer so; it means another station holds that range, which
// is a conflict to wait for or go around, not damage. Kept per thread: one thread calls
// an engine.
void ClearHeldRangeNote();
bool MetHeldRange();
Status FileSize(platform::File& file, uint64_t& size);
Status Truncate(platform::File& file, uint64_t size);
// The operating system's flush, with the one special case of OS error 4: a file of a
// block that is not in network mode is closed and opened again instead.
Status FlushFile(FileRecord& rec, bool networkBlock);
Status OpenFile(FileRecord& rec, const std::string& name, bool readOnly, bool shared);
// Releases every range this process holds on the file, then closes it.
Status CloseFile(EngineState& st, FileRecord& rec);

// ---- Lock table (FileIO.cpp) ----------------------------------------------------------

// A failure is only told apart from success: the callers put their own error on it.
Status LockRange(EngineState& st, platform::File& file, uint64_t offset, uint64_t length,
                  uint32_t waitStep, uint32_t waitTotal);
Status UnlockRange(EngineState& st, platform::File& file, uint64_t offset, uint64_t length);

// ---- Headers (Engine.cpp) ---------------------------------------------------------------

Status ReadDataHeader(FileBlock& b, DataHeader& out);
Status WriteDataHeader(FileBlock& b);
Status ReadKeyHeader(FileBlock& b, int key, KeyHeader& out);
Status WriteKeyHeader(FileBlock& b, int key);
// Re-reads section i from the file (for a change signal). A header whose shape no longer
// matches the open block (slot length, key count, section length, page size) gives
// kInconsistent.
Status RereadSection(FileBlock& b, int section);
// Writes back every dirty page and changed key header of the block.
Status WriteBackChanges(EngineState& st, FileBlock& b);

// ---- Page cache and key search (KeySearch.cpp) ----------------------------------------

void InitPool(EngineState& st);  // links the pool into the ring
Status GetPage(EngineState& st, FileBlock& b, int key, int32_t page, PageBuffer*& out);
// Drops every page of the block (key 0) or of one key, without writing it.
void DropPages(EngineState& st, const FileBlock& b, int key);
Status WriteBackPages(EngineState& st, FileBlock& b);
// The descent. `found` tells whether an equal entry was met; `recordNumber` is the
// input record number for duplicates and, when found, the entry's record number.
Status ExactSearch(EngineState& st, FileBlock& b, int key, std::string_view text,
                    int32_t& recordNumber, bool& found);
// kNoNextKey when there is no next entry.
Status StepNext(EngineState& st, FileBlock& b, int key, int32_t& recordNumber,
                 std::string& keyText);
Status Lookup(EngineState& st, FileBlock& b, int key, int32_t& recordNumber,
               std::string_view keyText);

// ---- Network coordination (Network.cpp) -----------------------------------------------

Status ClaimStation(EngineState& st, FileBlock& b);
bool TestExclusiveUse(EngineState& st, platform::File& coord);
Status ReadLock(EngineState& st, FileBlock& b);
Status ReadUnlock(EngineState& st, FileBlock& b);
Status LockBlock(EngineState& st, FileBlock& b);
Status UnlockBlock(EngineState& st, FileBlock& b);
// Sends the block's changes to the other stations: writes back pages and headers, the
// data header (or the single byte at offset 20) and the change mask.
Status SignalChanges(EngineState& st, FileBlock& b);
Status WriteLayout(EngineState& st, FileBlock& b, const uint8_t* mask);
Status LockSlot(EngineState& st, FileBlock& b, int32_t recordNumber);
Status UnlockSlot(EngineState& st, FileBlock& b, int32_t recordNumber);
Status ReplayJournal(EngineState& st, FileBlock& b);
// The first of the coordination invariants (Network.cpp) that block b breaks between
// two operations, in words, or empty when it keeps them all.
std::string CheckCoordination(const EngineState& st, const FileBlock& b);

}  // namespace kv::isam::ops
