// Reading records of a data file on a network block (engine in network mode, the file
// shared through its coordination file), as the repair walk does:
//
//   BM_ReadRecordAt   one record per access-layer read, each under its own temporary
//                     read lock (lock, read signals, read, unlock: four calls a record)
//   BM_ReadSlots      consecutive slots in ~1 MiB batches, one read lock per batch (as
//                     the walk reads ahead)
//   BM_Walk           WalkModuleFile over a file without damage: the walk as the run
//                     does it, read-ahead and money checks included
//   BM_WalkDamaged    the same with about 1% of the live records damaged, so the
//                     repair writes are in it (the unsound records of one read-ahead
//                     batch under their record locks and one block lock)
//
// Counters: ns per record (from items/s), and syscalls/rec, the calls the platform
// layer made to the operating system per record (kv::platform::GetCallCounts), which
// on a file server is the number of round trips.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "isam/Access.h"
#include "isam/Coding.h"
#include "isam/Engine.h"
#include "modules/ModuleTables.h"
#include "modules/MoneyCheck.h"
#include "modules/Progress.h"
#include "modules/Walk.h"
#include "platform/Faults.h"
#include "platform/System.h"
#include "testkit/Builder.h"
#include "ui/Dialogs.h"

namespace {

namespace fs = std::filesystem;
using kv::isam::AccessLayer;
using kv::isam::Engine;
using kv::isam::BlockHandle;

constexpr int32_t kRecords = 20000;

class SilentDialogs : public kv::ui::Dialogs {
 public:
  void DisplayMessage(int, const std::string&) override {}
  bool AskQuestion(kv::ui::Question, int, const std::string&) override { return true; }
  bool AskRecovery(const kv::ui::RecoveryQuestion&) override { return false; }
  void ProcessPendingMessages() override {}
  void RequestClose() override {}
};

class NullProgress : public kv::modules::ProgressSink {};

// A company directory with one data file of a walked kind: `records` slots, every 30th
// deleted, and, when damaged, a NaN in the first money field of about one live record
// in a hundred.
class BenchFile {
 public:
  BenchFile(const kv::modules::DataFileDef& def, bool damaged) : def_(def) {
    char tmpl[] = "/tmp/kvbench.XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) std::abort();
    dir_ = tmpl;
    kv::testkit::FileLayout fileLayout;
    fileLayout.dataPath = dir_ + "/" + std::string(def.baseName) + ".DAT";
    fileLayout.slotLength = def.recordLength;
    fileLayout.highestSlot = kRecords;
    std::vector<int32_t> deleted;
    for (int32_t r = 30; r <= kRecords; r += 30) deleted.push_back(r);
    fileLayout.freeChain = kv::testkit::DescendingChain(deleted);
    const uint16_t firstMoney = def.moneyOffsets.empty() ? 0 : def.moneyOffsets.front();
    const std::string err = kv::testkit::BuildFile(
        fileLayout, [&](int32_t record, bool isDeleted, std::span<uint8_t> slot, kv::testkit::KeySink&) {
          if (isDeleted || !damaged || record % 100 != 7 || def.moneyOffsets.empty()) return;
          // A quiet NaN: exponent all ones, significand C000000000000000.
          uint8_t* f = slot.data() + firstMoney;
          std::memset(f, 0, 10);
          f[7] = 0xC0;
          f[8] = 0xFF;
          f[9] = 0x7F;
        });
    if (!err.empty()) std::abort();
    old_ = fs::current_path();
    fs::current_path(dir_);
  }
  ~BenchFile() {
    std::error_code ec;
    fs::current_path(old_, ec);
    fs::remove_all(dir_, ec);
  }

  std::string Name() const { return std::string(def_.baseName); }

 private:
  const kv::modules::DataFileDef& def_;
  std::string dir_;
  fs::path old_;
};

// An engine in network mode with the access layer and one file open through it.
struct Station {
  Engine engine;
  SilentDialogs dialogs;
  std::unique_ptr<AccessLayer> access;
  BlockHandle block = nullptr;

  explicit Station(const kv::modules::DataFileDef& def) {
    if (engine.StartEngine(kv::isam::EngineMode::kNetwork, 500) < 8) std::abort();
    access = std::make_unique<AccessLayer>(engine, dialogs, kv::isam::AccessHooks{},
                                           kv::isam::AccessSettings{.saveMode = false, .flushAfterWrite = false});
    if (!access->OpenModuleFile(block, def.baseName, def.recordLength, def.keys.data(),
                                static_cast<int>(def.keys.size()))) {
      std::abort();
    }
  }
  ~Station() {
    access->CloseModuleFile(block);
    engine.StopEngine();
  }
};

const kv::modules::DataFileDef& Def(int64_t index) {
  // Walked files of several record lengths: 73, 151, 220, 301 and 1248 bytes.
  static const char* const kNames[] = {"APFILE03", "GLFILE04", "GLFILE03", "ARFILE02", "GLFILE01"};
  return kv::modules::DataFile(kNames[index]);
}

void Label(benchmark::State& state, const kv::modules::DataFileDef& def) {
  state.SetLabel(std::string(def.baseName) + " " + std::to_string(def.recordLength) + " B");
}

void Report(benchmark::State& state, uint64_t calls, int64_t records, int64_t bytes) {
  state.SetItemsProcessed(records);
  state.SetBytesProcessed(bytes);
  state.counters["syscalls/rec"] = static_cast<double>(calls) / static_cast<double>(records);
}

void BM_ReadRecordAt(benchmark::State& state) {
  const auto& def = Def(state.range(0));
  BenchFile file(def, false);
  Station station(def);
  std::vector<uint8_t> buffer(static_cast<size_t>(def.recordLength));
  const int32_t total = station.access->RecordCount(station.block).count;
  int64_t records = 0;
  const uint64_t before = kv::platform::GetCallCounts().Total();
  for (auto _ : state) {
    for (int32_t r = 1; r < total; ++r) {
      const bool read = station.access->ReadRecordAt(station.block, r, buffer);
      benchmark::DoNotOptimize(read);
      benchmark::DoNotOptimize(buffer.data());
    }
    records += total - 1;
  }
  Report(state, kv::platform::GetCallCounts().Total() - before, records, records * def.recordLength);
  Label(state, def);
}
BENCHMARK(BM_ReadRecordAt)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

void BM_ReadSlots(benchmark::State& state) {
  const auto& def = Def(state.range(0));
  BenchFile file(def, false);
  Station station(def);
  const int32_t perBatch = std::max<int32_t>(1, (1024 * 1024) / def.recordLength);
  std::vector<uint8_t> buffer(static_cast<size_t>(perBatch) * static_cast<size_t>(def.recordLength));
  const int32_t total = station.access->RecordCount(station.block).count;
  int64_t records = 0;
  const uint64_t before = kv::platform::GetCallCounts().Total();
  for (auto _ : state) {
    for (int32_t r = 1; r < total; r += perBatch) {
      const int32_t n = std::min(perBatch, total - r);
      station.engine.ReadSlots(station.block, r, n, buffer);
      if (!station.engine.LastOpOK()) state.SkipWithError("ReadSlots failed");
      benchmark::DoNotOptimize(buffer.data());
    }
    records += total - 1;
  }
  Report(state, kv::platform::GetCallCounts().Total() - before, records, records * def.recordLength);
  Label(state, def);
}
BENCHMARK(BM_ReadSlots)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

void WalkBench(benchmark::State& state, bool damaged) {
  const auto& def = Def(state.range(0));
  int64_t records = 0;
  uint64_t calls = 0;
  int32_t repaired = 0;
  for (auto _ : state) {
    // A damaged file is mended by the first walk: give every iteration a fresh one.
    state.PauseTiming();
    auto file = std::make_unique<BenchFile>(def, damaged);
    auto station = std::make_unique<Station>(def);
    NullProgress progress;
    const uint64_t before = kv::platform::GetCallCounts().Total();
    state.ResumeTiming();
    const kv::modules::WalkStats stats =
        kv::modules::WalkModuleFile(*station->access, station->block, def, progress, nullptr);
    state.PauseTiming();
    calls += kv::platform::GetCallCounts().Total() - before;
    records += kRecords;
    repaired = stats.repaired;
    station.reset();
    file.reset();
    state.ResumeTiming();
  }
  Report(state, calls, records, records * def.recordLength);
  state.counters["repaired"] = repaired;
  Label(state, def);
}

void BM_Walk(benchmark::State& state) { WalkBench(state, false); }
BENCHMARK(BM_Walk)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

void BM_WalkDamaged(benchmark::State& state) { WalkBench(state, true); }
BENCHMARK(BM_WalkDamaged)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
