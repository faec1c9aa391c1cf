// The money check on the bits against the text round trip it replaces, per field, over
// a mix like real records: mostly zero and ordinary amounts, a few near the bound, a
// few damaged ones.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

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

}  // namespace

BENCHMARK_MAIN();
