// The money check on the bits against the text round trip it replaces, per field, over
// a mix like real records: mostly zero and ordinary amounts, a few near the bound, a
// few damaged ones.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "modules/ModuleTables.h"
#include "modules/MoneyCheck.h"

namespace {

constexpr size_t kFields = 4096;

std::vector<uint8_t> MakeFields() {
  std::mt19937_64 rng(7);
  std::vector<uint8_t> bytes(kFields * 10);
  for (size_t i = 0; i < kFields; ++i) {
    long double x = 0;
    const unsigned pick = static_cast<unsigned>(rng() % 100);
    if (pick < 55) {
      x = 0;
    } else if (pick < 95) {
      x = static_cast<long double>(static_cast<int64_t>(rng() % 2000000000) - 1000000000) / 100;
    } else if (pick < 98) {
      x = 9999999999.99L + static_cast<long double>(rng() % 100) / 1000;
    } else {
      x = (pick == 98) ? NAN : INFINITY;
    }
    std::memcpy(&bytes[i * 10], &x, 10);
  }
  return bytes;
}

bool TextRoundTrip(const uint8_t* field) {
  long double x = 0;
  std::memcpy(&x, field, 10);
  char text[64];
  std::snprintf(text, sizeof text, "%.14Le", x);
  char* end = nullptr;
  const long double back = std::strtold(text, &end);
  return *end == '\0' && std::isfinite(back) && back <= 9999999999.99L &&
         back >= -9999999999.99L;
}

// Every benchmark runs over all 4096 fields per iteration, as a walk runs over the
// fields of its records, so the loop's own cost is spread thin; figures are per field.
void BM_IsMoneySound(benchmark::State& state) {
  const std::vector<uint8_t> fields = MakeFields();
  for (auto _ : state) {
    for (size_t i = 0; i < kFields; ++i) {
      benchmark::DoNotOptimize(kv::modules::IsMoneySound(&fields[i * 10]));
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFields));
}
BENCHMARK(BM_IsMoneySound);

// The check as the walk calls it: on a field inside a record buffer, resetting the
// unsound ones. The buffer is restored from the pristine copy every round (a 40 KB
// copy, a fraction of a nanosecond per field).
void BM_CheckMoneyField(benchmark::State& state) {
  const std::vector<uint8_t> pristine = MakeFields();
  std::vector<uint8_t> fields = pristine;
  for (auto _ : state) {
    bool changed = false;
    for (size_t i = 0; i < kFields; ++i) kv::modules::CheckMoneyField(&fields[i * 10], changed);
    benchmark::DoNotOptimize(changed);
    std::memcpy(fields.data(), pristine.data(), fields.size());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFields));
}
BENCHMARK(BM_CheckMoneyField);

void BM_TextRoundTrip(benchmark::State& state) {
  const std::vector<uint8_t> fields = MakeFields();
  for (auto _ : state) {
    for (size_t i = 0; i < kFields; ++i) benchmark::DoNotOptimize(TextRoundTrip(&fields[i * 10]));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFields));
}
BENCHMARK(BM_TextRoundTrip);

// Whole records as the walk and the scan judge them, with each judge this processor
// runs: 1,024 records of a file's layout, mostly zero and ordinary amounts, one record
// in a hundred with a damaged field.
// Figures are per money field.
void BM_JudgeRecord(benchmark::State& state, std::string_view file, size_t judgeIndex) {
  const kv::modules::DataFileDef& def = kv::modules::DataFile(file);
  const auto anyUnsound = kv::modules::MoneyRecordJudges()[judgeIndex].anyUnsound;
  const size_t slot = static_cast<size_t>(def.recordLength);
  constexpr size_t kRecords = 1024;
  std::mt19937_64 rng(11);
  std::vector<uint8_t> records(kRecords * slot);
  for (size_t r = 0; r < kRecords; ++r) {
    for (uint16_t offset : def.moneyOffsets) {
      long double x = 0;
      if (rng() % 100 >= 55) x = static_cast<long double>(static_cast<int64_t>(rng() % 2000000000) - 1000000000) / 100;
      std::memcpy(&records[r * slot + offset], &x, 10);
    }
    if (r % 100 == 7) {
      const long double bad = INFINITY;
      std::memcpy(&records[r * slot + def.moneyOffsets[rng() % def.moneyOffsets.size()]], &bad, 10);
    }
  }
  for (auto _ : state) {
    size_t unsound = 0;
    for (size_t r = 0; r < kRecords; ++r) {
      const uint8_t* record = &records[r * slot];
      unsound += anyUnsound(record, def.moneyOffsets, nullptr);
    }
    benchmark::DoNotOptimize(unsound);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kRecords * def.moneyOffsets.size()));
}

const bool kJudgeRecordBenchmarks = [] {
  const auto judges = kv::modules::MoneyRecordJudges();
  for (size_t j = 0; j < judges.size(); ++j) {
    for (std::string_view file : {"GLFILE01", "ICFILE01"}) {
      const std::string name = "BM_JudgeRecord/" + std::string(file) + "/" + judges[j].name;
      benchmark::RegisterBenchmark(name.c_str(), BM_JudgeRecord, file, j);
    }
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
