// Cost of reading records through the engine, the hot path of every repair: the walk
// reads each slot under a temporary read lock of the network protocol.
//
// Reports time per record and system calls per record (from the platform's counters)
// for ReadSlot on a network block, ReadSlot on a block outside network mode, and
// ReadSlots with a 256 KiB read-ahead batch. The data file has 100,000 slots.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "isam/Coding.h"
#include "isam/Engine.h"
#include "platform/Faults.h"
#include "testkit/Builder.h"

namespace {

using kv::isam::Engine;
using kv::isam::BlockHandle;

constexpr int32_t kSlots = 100000;
constexpr int32_t kSlotLength = 256;

// Never destroyed, so that the clean-up at exit can still read it.
const std::string& Base() {
  static const std::string* base = [] {
    char tmpl[] = "/tmp/kvb.XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) std::abort();
    const std::string dir = tmpl;
    kv::testkit::FileLayout fileLayout;
    fileLayout.dataPath = dir + "/BENCH.DAT";
    fileLayout.slotLength = kSlotLength;
    fileLayout.highestSlot = kSlots;
    const std::string err = kv::testkit::BuildFile(
        fileLayout, [](int32_t rec, bool, std::span<uint8_t> slot, kv::testkit::KeySink&) {
          kv::isam::PutI32(slot.data() + 4, rec);
        });
    if (!err.empty()) {
      std::fprintf(stderr, "build failed: %s\n", err.c_str());
      std::abort();
    }
    return new std::string(dir + "/BENCH");
  }();
  static const bool cleanup = [] {
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(std::filesystem::path(*base).parent_path(), ec);
    });
    return true;
  }();
  (void)cleanup;
  return *base;
}

struct Station {
  Engine engine;
  BlockHandle block = nullptr;
  Station(kv::isam::EngineMode mode, bool network) {
    engine.StartEngine(mode, 500);
    engine.OpenBlock(block, Base(), {.network = network});
    if (!engine.LastOpOK()) {
      std::fprintf(stderr, "open failed: %d\n", engine.LastOpError());
      std::abort();
    }
  }
  ~Station() { engine.StopEngine(); }
};

void Report(benchmark::State& state, uint64_t records, uint64_t callsBefore) {
  const uint64_t calls = kv::platform::GetCallCounts().Total() - callsBefore;
  state.SetItemsProcessed(static_cast<int64_t>(records));
  state.counters["syscalls/record"] =
      benchmark::Counter(records ? static_cast<double>(calls) / static_cast<double>(records) : 0);
  state.counters["ns/record"] = benchmark::Counter(
      static_cast<double>(records), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void ReadEach(benchmark::State& state, kv::isam::EngineMode mode, bool network) {
  Station s(mode, network);
  std::vector<uint8_t> slot(kSlotLength);
  int32_t n = 0;
  uint64_t records = 0;
  const uint64_t before = kv::platform::GetCallCounts().Total();
  for (auto _ : state) {
    n = n % kSlots + 1;
    s.engine.ReadSlot(s.block, n, slot);
    if (!s.engine.LastOpOK()) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(slot.data());
    ++records;
  }
  Report(state, records, before);
}

void BM_ReadSlotNetworkBlock(benchmark::State& state) { ReadEach(state, kv::isam::EngineMode::kNetwork, true); }
void BM_ReadSlotPlainBlock(benchmark::State& state) { ReadEach(state, kv::isam::EngineMode::kSingleUser, false); }

void BM_ReadSlotsBatch256K(benchmark::State& state) {
  Station s(kv::isam::EngineMode::kNetwork, true);
  const int32_t perBatch = (256 * 1024) / kSlotLength;
  std::vector<uint8_t> batch(static_cast<size_t>(perBatch) * kSlotLength);
  int32_t next = 1;
  uint64_t records = 0;
  const uint64_t before = kv::platform::GetCallCounts().Total();
  for (auto _ : state) {
    const int32_t count = std::min(perBatch, kSlots + 1 - next);
    s.engine.ReadSlots(s.block, next, count, batch);
    if (!s.engine.LastOpOK()) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(batch.data());
    records += static_cast<uint64_t>(count);
    next += count;
    if (next > kSlots) next = 1;
  }
  Report(state, records, before);
}

void BM_SlotTotalNetworkBlock(benchmark::State& state) {
  Station s(kv::isam::EngineMode::kNetwork, true);
  uint64_t calls = 0;
  const uint64_t before = kv::platform::GetCallCounts().Total();
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.engine.SlotTotal(s.block));
    ++calls;
  }
  Report(state, calls, before);
}

BENCHMARK(BM_ReadSlotNetworkBlock);
BENCHMARK(BM_ReadSlotPlainBlock);
BENCHMARK(BM_ReadSlotsBatch256K);
BENCHMARK(BM_SlotTotalNetworkBlock);

}  // namespace

BENCHMARK_MAIN();
