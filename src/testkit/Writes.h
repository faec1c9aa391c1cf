// Writes of whole records for tests, beside the access layer's one write path
// (AccessLayer::RepairRecordsAt, the walk's and the undo's): a station of the suite
// writing a record it edited, and the repair of a single record as the walk did it
// before it repaired records in batches. The program itself never uses them.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "isam/Access.h"

namespace kv::testkit {

// A station writes a whole record: under the record lock and the file's write lock
// (one attempt each, the engine's own wait), through AccessLayer::RepairRecordsAt,
// `buffer` goes over the slot when the slot on disk is live (only the slot on disk is
// tested, not the buffer's first four bytes). A buffer shorter than the slot writes
// nothing. The report is the batch's: ok when written, else the worst met (12 for a
// deleted slot).
isam::WriteReport WriteRecordAt(isam::AccessLayer& access, isam::BlockHandle block, int32_t recordNumber,
                                std::span<const uint8_t> buffer);

// One record repaired alone: under the record lock and then the write lock (one attempt
// each), slot N read afresh into `work` and, when it is live, handed to `fix`, which
// zeroes what it finds in place and returns how many; more than 0 writes the slot (a
// write that fails part-way puts the slot's bytes as read back). Whatever way it ends, a
// `fix` that throws included, no lock of it stays held.
isam::RepairOutcome RepairRecordAt(isam::AccessLayer& access, isam::BlockHandle block, int32_t recordNumber,
                                   std::span<uint8_t> work, const std::function<int(std::span<uint8_t>)>& fix);

}  // namespace kv::testkit
