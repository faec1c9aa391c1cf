// Replay of a save journal: the coordination file of a sound data and index file pair
// holds arbitrary bytes. Opening the block judges the file damaged and replays it;
// then the records are read and the keys searched and stepped through, so pages and
// headers that the journal wrote are used as well.
//
// Input: the coordination file. Its first byte, which the replay does not interpret,
// picks the open: bit 0 network engine, bit 1 save mode, bit 2 not a network block
// (then save mode is what asks for the coordination file), bit 3 under the write lock,
// bit 4 the journal arrives after the open: the block opens on a new coordination
// file and then finds the journal where its layout was, as when another station
// crashed in the middle of a save; the first read or lock replays it.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "JournalFixture.h"
#include "isam/Engine.h"

namespace {

using kv::isam::Engine;
using kv::isam::BlockHandle;

struct Fixture {
  std::string dat;
  std::string ix;
};

const Fixture& Pristine() {
  static const Fixture fixture = [] {
    const std::string dir = kv::fuzz::ScratchDirectory();
    const std::string error = kv::fuzz::BuildJournalFixture(dir);
    if (!error.empty()) kv::fuzz::Fail("journal fixture", error);
    Fixture f;
    f.dat = kv::fuzz::ReadScratchFile("JF.DAT");
    f.ix = kv::fuzz::ReadScratchFile("JF.IX");
    return f;
  }();
  return fixture;
}

void Check(const Engine& e, const char* step) {
  if (kv::fuzz::Verbose()) std::fprintf(stderr, "%s: %d\n", step, e.LastOpError());
  KV_FUZZ_CHECK(e.LastOpOK() == (e.LastOpError() == 0),
                std::string(step) + " error " + std::to_string(e.LastOpError()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kv::fuzz;
  if (size > 32 * 1024) return 0;
  const Fixture& pristine = Pristine();
  WriteScratchFile("JF.DAT", pristine.dat);
  WriteScratchFile("JF.IX", pristine.ix);
  const std::string_view journal(reinterpret_cast<const char*>(data), size);
  const uint8_t flags = size > 0 ? data[0] : 0;
  const bool late = (flags & 16) != 0;
  WriteScratchFile("JF.DIA", late ? std::string_view("\0", 1) : journal);

  Engine e;
  e.StartEngine((flags & 1) ? kv::isam::EngineMode::kNetwork : kv::isam::EngineMode::kSingleUser, 8);
  Check(e, "StartEngine");
  BlockHandle block = nullptr;
  e.OpenBlock(block, ScratchDirectory() + "/JF", {.saveMode = (flags & 2) != 0, .network = !(flags & 4)});
  Check(e, "OpenBlock");
  if (e.LastOpOK()) {
    if (late) OverwriteScratchFile("JF.DIA", journal);
    if (flags & 8) e.LockBlock(block);
    const int32_t total = e.SlotTotal(block);
    Check(e, "SlotTotal");
    std::vector<uint8_t> slot(kJournalSlotLength);
    for (int32_t n = 1; e.LastOpOK() && n < total && n <= 4; ++n) {
      e.ReadSlot(block, n, slot);
      Check(e, "ReadSlot");
    }
    for (int k = 1; k <= e.KeyCount(block) && k <= 2; ++k) {
      int32_t record = 0;
      e.LookupKey(block, k, record, k == 1 ? "K105" : "SAME");
      Check(e, "LookupKey");
      std::string text;
      record = 0;
      e.LookupKey(block, k, record, "");
      for (int step = 0; step < 16; ++step) {
        e.StepToNextKey(block, k, record, text);
        Check(e, "StepToNextKey");
        if (!e.LastOpOK()) break;
      }
    }
    if (flags & 8) e.UnlockBlock(block);
    e.CloseBlock(block);
    Check(e, "CloseBlock");
  } else {
    KV_FUZZ_CHECK(block == nullptr, "failed open handed out a block");
  }
  e.StopEngine();
  return 0;
}
