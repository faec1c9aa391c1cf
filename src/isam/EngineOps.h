// Internal steps of the engine, shared by its sources. Each returns 0 on success or the
// engine error number of its first failure; none touches LastOpOK/LastOpError (the
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

// Exactly `length` bytes at `offset`; a short read gives 10070.
int32_t ReadExact(platform::File& file, uint64_t offset, void* buffer, size_t length);
// Up to `length` bytes; `done` tells how many arrived. Only an OS failure is an error.
int32_t ReadSome(platform::File& file, uint64_t offset, void* buffer, size_t length,
                 size_t& done);
// Exactly `length` bytes; a short write gives 10075.
int32_t WriteExact(platform::File& file, uint64_t offset, const void* buffer, size_t length);
int32_t FileSize(platform::File& file, uint64_t& size);
int32_t Truncate(platform::File& file, uint64_t size);
// The operating system's flush, with the one special case of OS error 4: a file of a
// block that is not in network mode is closed and opened again instead.
int32_t FlushFile(FileRecord& rec, bool networkBlock);
int32_t OpenFile(FileRecord& rec, const std::string& name, bool readOnly, bool shared);
// Releases every range this process holds on the file, then closes it.
int32_t CloseFile(EngineState& st, FileRecord& rec);

// ---- Lock table (FileIO.cpp) ----------------------------------------------------------

// 0 on success, else a non-zero failure (the callers put their own error on it).
int32_t LockRange(EngineState& st, platform::File& file, uint64_t offset, uint64_t length,
                  uint32_t waitStep, uint32_t waitTotal);
int32_t UnlockRange(EngineState& st, platform::File& file, uint64_t offset, uint64_t length);

// ---- Headers (Engine.cpp) ---------------------------------------------------------------

int32_t ReadDataHeader(FileBlock& b, DataHeader& out);
int32_t WriteDataHeader(FileBlock& b);
int32_t ReadKeyHeader(FileBlock& b, int key, KeyHeader& out);
int32_t WriteKeyHeader(FileBlock& b, int key);
// Re-reads section i from the file (for a change signal). A header whose shape no longer
// matches the open block (slot length, key count, section length, page size) gives 10170.
int32_t RereadSection(FileBlock& b, int section);
// Writes back every dirty page and changed key header of the block.
int32_t WriteBackChanges(EngineState& st, FileBlock& b);

// ---- Page cache and key search (KeySearch.cpp) ----------------------------------------

void InitPool(EngineState& st);  // links the pool into the ring
int32_t GetPage(EngineState& st, FileBlock& b, int key, int32_t page, PageBuffer*& out);
// Drops every page of the block (key 0) or of one key, without writing it.
void DropPages(EngineState& st, const FileBlock& b, int key);
int32_t WriteBackPages(EngineState& st, FileBlock& b);
// The descent. `found` tells whether an equal entry was met; `recordNumber` is the
// input record number for duplicates and, when found, the entry's record number.
int32_t ExactSearch(EngineState& st, FileBlock& b, int key, std::string_view text,
                    int32_t& recordNumber, bool& found);
// 10250 when there is no next entry.
int32_t StepNext(EngineState& st, FileBlock& b, int key, int32_t& recordNumber,
                 std::string& keyText);
int32_t Lookup(EngineState& st, FileBlock& b, int key, int32_t& recordNumber,
               std::string_view keyText);

// ---- Network coordination (Network.cpp) -----------------------------------------------

int32_t ClaimStation(EngineState& st, FileBlock& b);
bool TestExclusiveUse(EngineState& st, platform::File& coord);
int32_t ReadLock(EngineState& st, FileBlock& b);
int32_t ReadUnlock(EngineState& st, FileBlock& b);
int32_t LockBlock(EngineState& st, FileBlock& b);
int32_t UnlockBlock(EngineState& st, FileBlock& b);
// Sends the block's changes to the other stations: writes back pages and headers, the
// data header (or the single byte at offset 20) and the change mask.
int32_t SignalChanges(EngineState& st, FileBlock& b);
int32_t WriteLayout(EngineState& st, FileBlock& b, const uint8_t* mask);
int32_t LockSlot(EngineState& st, FileBlock& b, int32_t recordNumber);
int32_t UnlockSlot(EngineState& st, FileBlock& b, int32_t recordNumber);
int32_t ReplayJournal(EngineState& st, FileBlock& b);

}  // namespace kv::isam::ops
