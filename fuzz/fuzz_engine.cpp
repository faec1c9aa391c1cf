// The engine on arbitrary data, index and coordination files: start, open (single-user
// and network mode, each open variant), count, read a few slots, look keys up and step
// through them a bounded number of times, close, stop. Whatever the bytes, nothing may
// read or write outside a buffer, leak, or leave a block open; a failed open leaves
// the caller's reference empty and reports why.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "EngineInput.h"
#include "FuzzSupport.h"
#include "isam/Engine.h"

namespace {

using kv::isam::Engine;
using kv::isam::BlockHandle;

constexpr int kPageBuffers = 8;
constexpr int kSlotsRead = 4;
constexpr int kKeysSearched = 3;
constexpr int kSteps = 12;
// Larger than any module record, smaller than what an input may declare.
constexpr size_t kSlotBuffer = 8192;

std::string Detail(const Engine& e, const char* step) {
  return std::string(step) + " error " + std::to_string(e.LastOpError());
}

void CheckOutcome(const Engine& e, const char* step) {
  if (kv::fuzz::Verbose()) std::fprintf(stderr, "%s: %d\n", step, e.LastOpError());
  // OK and error number always agree.
  KV_FUZZ_CHECK(e.LastOpOK() == (e.LastOpError() == 0), Detail(e, step));
}

void ReadAndSearch(Engine& e, BlockHandle block, std::string_view lookup) {
  const int32_t total = e.SlotTotal(block);
  CheckOutcome(e, "SlotTotal");
  const int32_t slotLength = e.SlotLength(block);

  std::vector<uint8_t> buffer(kSlotBuffer, 0xEE);
  if (e.LastOpOK()) {
    // The first records, the last one, and one just beyond the end.
    const int32_t candidates[kSlotsRead + 2] = {1, 2, 3, 4, total - 1, total};
    for (int32_t n : candidates) {
      if (n < 1) continue;
      e.ReadSlot(block, n, buffer);
      CheckOutcome(e, "ReadSlot");
      if (slotLength < 0 || static_cast<size_t>(slotLength) > buffer.size())
        KV_FUZZ_CHECK(!e.LastOpOK(), "slot read into a buffer smaller than the slot");
    }
    // The walk's read-ahead: a few slots at once (beyond the end it fails).
    const int32_t count = total > 4 ? 3 : 2;
    if (slotLength > 0 && static_cast<size_t>(slotLength) * count <= buffer.size()) {
      e.ReadSlots(block, 1, count,
                  std::span<uint8_t>(buffer.data(), static_cast<size_t>(slotLength) * count));
      CheckOutcome(e, "ReadSlots");
    }
    // A buffer one byte short is refused.
    if (slotLength > 0 && static_cast<size_t>(slotLength) <= buffer.size()) {
      e.ReadSlot(block, 1, std::span<uint8_t>(buffer.data(), static_cast<size_t>(slotLength) - 1));
      KV_FUZZ_CHECK(!e.LastOpOK(), Detail(e, "slot read into a buffer one byte short"));
    }
  }

  const int keys = e.KeyCount(block);
  KV_FUZZ_CHECK(keys >= 0 && keys <= kv::isam::kMaxKeys, "key count out of range");
  for (int k : {0, keys + 1}) {
    int32_t record = 0;
    e.LookupKey(block, k, record, lookup);
    KV_FUZZ_CHECK(e.LastOpError() == 10164, Detail(e, "key number out of range"));
  }
  for (int k = 1; k <= keys && k <= kKeysSearched; ++k) {
    int32_t record = 0;
    e.LookupKey(block, k, record, lookup);
    CheckOutcome(e, "LookupKey");
    std::string text(lookup);
    for (int step = 0; step < kSteps; ++step) {
      e.StepToNextKey(block, k, record, text);
      CheckOutcome(e, "StepToNextKey");
      if (!e.LastOpOK()) break;
      KV_FUZZ_CHECK(text.size() <= static_cast<size_t>(kv::isam::kMaxKeyLength), "key text too long");
    }
    // From the start of the key: the empty text sorts before every other.
    record = 0;
    e.LookupKey(block, k, record, "");
    text.clear();
    for (int step = 0; step < kSteps / 2; ++step) {
      e.StepToNextKey(block, k, record, text);
      if (!e.LastOpOK()) break;
    }
  }
}

// What the repair does with a record: lock it, read it, write it back, unlock it, and
// flush. The bytes written are the bytes read, so the file keeps its records.
void WriteBack(Engine& e, BlockHandle block) {
  const int32_t slotLength = e.SlotLength(block);
  if (slotLength <= 0 || static_cast<size_t>(slotLength) > kSlotBuffer) return;
  const int32_t total = e.SlotTotal(block);
  if (!e.LastOpOK() || total < 2) return;
  std::vector<uint8_t> record(static_cast<size_t>(slotLength));
  const int32_t n = total - 1;
  e.LockSlot(block, n);
  CheckOutcome(e, "LockSlot");
  e.LockSlot(block, n);  // again: counted, not locked twice
  CheckOutcome(e, "LockSlot again");
  e.ReadSlot(block, n, record);
  CheckOutcome(e, "ReadSlot to write back");
  if (e.LastOpOK()) {
    e.WriteSlot(block, n, record);
    CheckOutcome(e, "WriteSlot");
  }
  e.WriteSlot(block, 0, record);
  KV_FUZZ_CHECK(!e.LastOpOK(), "record 0 written");
  e.UnlockSlot(block, n);
  CheckOutcome(e, "UnlockSlot");
  e.FlushBlock(block);
  CheckOutcome(e, "FlushBlock");
}

// Reading, searching and writing a record back with the bytes it had must leave the
// files as they were. The one change allowed is the key count of the data header,
// which is written back widened from its low byte.
void CheckFilesKept(std::string_view dat, std::string_view ix, uint8_t flags) {
  const std::string datAfter = kv::fuzz::ReadScratchFile("FZ.DAT");
  KV_FUZZ_CHECK(datAfter.size() == dat.size(),
                "data file length " + std::to_string(dat.size()) + " -> " + std::to_string(datAfter.size()));
  for (size_t i = 0; i < dat.size(); ++i) {
    if (i >= 17 && i <= 19 && datAfter[i] == 0) continue;
    KV_FUZZ_CHECK(datAfter[i] == dat[i], "data file byte " + std::to_string(i) + " changed");
  }
  if (!(flags & kv::fuzz::kNoIndex))
    KV_FUZZ_CHECK(kv::fuzz::ReadScratchFile("FZ.IX") == ix, "index file changed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kv::fuzz;
  InputReader in(data, size);
  const uint8_t flags = in.Byte();
  const std::string_view lookup = in.Part();
  const std::string_view dat = in.Part();
  const std::string_view ix = in.Part();
  const std::string_view dia = in.Rest();

  const std::string base = WriteScratchFile("FZ.DAT", dat);
  if (flags & kNoIndex) RemoveScratchFile("FZ.IX");
  else WriteScratchFile("FZ.IX", ix);
  if (flags & kNoDia) RemoveScratchFile("FZ.DIA");
  else WriteScratchFile("FZ.DIA", dia);

  Engine e;
  const int buffers = e.StartEngine((flags & kNetworkEngine) ? kv::isam::EngineMode::kNetwork
                                                           : kv::isam::EngineMode::kSingleUser,
                                  kPageBuffers);
  KV_FUZZ_CHECK(e.LastOpOK() && buffers == kPageBuffers, Detail(e, "StartEngine"));

  BlockHandle block = nullptr;
  const std::string name = ScratchDirectory() + "/FZ";
  e.OpenBlock(block, name, {.readOnly = (flags & kReadOnly) != 0,
                          .noLocks = (flags & kNoLocks) != 0,
                          .saveMode = (flags & kSaveMode) != 0,
                          .network = (flags & kNoNetwork) == 0});
  CheckOutcome(e, "OpenBlock");
  // Only a journal in the coordination file may change the files; a missing or new
  // (one byte) coordination file holds none.
  const bool replayPossible = !(flags & kNoDia) && dia.size() != 1;
  if (!e.LastOpOK()) {
    KV_FUZZ_CHECK(block == nullptr, Detail(e, "failed open handed out a block"));
  } else {
    KV_FUZZ_CHECK(block != nullptr, "open without a block");
    const bool locked = (flags & kLockBlock) != 0;
    if (locked) {
      e.LockBlock(block);
      CheckOutcome(e, "LockBlock");
    }
    ReadAndSearch(e, block, lookup);
    if (locked) WriteBack(e, block);
    if (locked) {
      e.UnlockBlock(block);
      CheckOutcome(e, "UnlockBlock");
    }
    e.CloseBlock(block);
    CheckOutcome(e, "CloseBlock");
    // A close that failed early leaves the block open; StopEngine closes it then.
    if (e.LastOpOK()) KV_FUZZ_CHECK(block == nullptr, "closed block still referenced");
  }

  e.StopEngine();
  if (!replayPossible) CheckFilesKept(dat, ix, flags);
  if (!e.LastOpOK()) {
    // A close failed in StopEngine; the destructor still releases everything.
    CheckOutcome(e, "StopEngine");
  } else {
    KV_FUZZ_CHECK(!e.Initialised(), "engine still initialised after StopEngine");
  }
  return 0;
}
