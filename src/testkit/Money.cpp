#include "testkit/Money.h"

#include <vector>

#include "isam/Extended.h"

namespace kv::testkit {

Money MoneyFromParts(bool negative, uint16_t exponent, uint64_t significand) {
  Money m{};
  isam::JoinExtended({negative, exponent, significand}, m.data());
  return m;
}

Money MoneyFromLongDouble(long double value) {
  Money m{};
  isam::EncodeExtended(value, m.data());
  return m;
}

Money MoneyFromCents(int64_t cents) {
  return MoneyFromLongDouble(static_cast<long double>(cents) / 100.0L);
}

namespace {

constexpr uint64_t kInt = 1ull << 63;
constexpr uint64_t kBoundSig = 0x9502F8FFFF5C28F6ull;

std::vector<MoneySample> MakeSound() {
  return {
      {"zero", kMoneyZero},
      {"negative zero", MoneyFromParts(true, 0, 0)},
      {"upper bound", kMoneyUpperBound},
      {"lower bound", kMoneyLowerBound},
      {"smallest denormal", MoneyFromParts(false, 0, 1)},
      {"largest denormal", MoneyFromParts(false, 0, kInt - 1)},
      {"negative denormal", MoneyFromParts(true, 0, 0x0123456789ABCDEFull)},
      {"smallest normal", MoneyFromParts(false, 1, kInt)},
      // 9999999999.9900038...: above the bound's bits, but 9.99999999999000E+0009 at
      // 15 significant digits.
      {"just above the bound, rounds to it", MoneyFromParts(false, 0x4020, kBoundSig + 0x1000)},
      {"just below the lower bound, rounds to it", MoneyFromParts(true, 0x4020, kBoundSig + 0x1000)},
      {"0.01", MoneyFromCents(1)},
      {"-0.01", MoneyFromCents(-1)},
      {"1234.5", MoneyFromCents(123450)},
      {"one", MoneyFromLongDouble(1.0L)},
      {"9999999999.98", MoneyFromCents(999999999998)},
      {"-9999999999.98", MoneyFromCents(-999999999998)},
      {"tiny 1e-4000", MoneyFromLongDouble(1e-4000L)},
  };
}

std::vector<MoneySample> MakeUnsound() {
  return {
      {"quiet NaN", MoneyFromParts(false, 0x7FFF, 0xC000000000000000ull)},
      {"negative quiet NaN", MoneyFromParts(true, 0x7FFF, 0xC000000000000000ull)},
      {"signalling NaN", MoneyFromParts(false, 0x7FFF, kInt | 1)},
      {"NaN with low bits", MoneyFromParts(false, 0x7FFF, 0x80000001DEADBEEFull)},
      {"+infinity", MoneyFromParts(false, 0x7FFF, kInt)},
      {"-infinity", MoneyFromParts(true, 0x7FFF, kInt)},
      {"pseudo-infinity", MoneyFromParts(false, 0x7FFF, 0)},
      {"pseudo-NaN", MoneyFromParts(true, 0x7FFF, 0x4000000000000000ull)},
      {"all bytes FF", MoneyFromParts(true, 0x7FFF, ~0ull)},
      {"1e11", MoneyFromLongDouble(1e11L)},
      {"-1e11", MoneyFromLongDouble(-1e11L)},
      {"10000000000.00", MoneyFromCents(1000000000000)},
      {"-10000000000.00", MoneyFromCents(-1000000000000)},
      {"9999999999.995", MoneyFromLongDouble(9999999999.995L)},
      {"-9999999999.995", MoneyFromLongDouble(-9999999999.995L)},
      {"9999999999.994", MoneyFromLongDouble(9999999999.994L)},
      {"9999999999.99001", MoneyFromLongDouble(9999999999.99001L)},
      {"1e4000", MoneyFromLongDouble(1e4000L)},
      {"largest finite", MoneyFromParts(false, 0x7FFE, ~0ull)},
      {"unnormal", MoneyFromParts(false, 0x4000, 0x4000000000000000ull)},
      {"unnormal with zero significand", MoneyFromParts(false, 1, 0)},
      {"negative unnormal", MoneyFromParts(true, 0x3FFF, 0x7FFFFFFFFFFFFFFFull)},
  };
}

const std::vector<MoneySample>& Sound() {
  static const std::vector<MoneySample> samples = MakeSound();
  return samples;
}

const std::vector<MoneySample>& Unsound() {
  static const std::vector<MoneySample> samples = MakeUnsound();
  return samples;
}

}  // namespace

std::span<const MoneySample> SoundMoneySamples() { return Sound(); }
std::span<const MoneySample> UnsoundMoneySamples() { return Unsound(); }

uint64_t NextRandom(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint64_t RandomBelow(uint64_t& state, uint64_t bound) { return NextRandom(state) % bound; }

Money RandomSoundMoney(uint64_t& state) {
  const uint64_t r = NextRandom(state);
  const uint64_t kind = r % 100;
  if (kind < 30) return kMoneyZero;
  if (kind < 33) {
    const auto& s = Sound();
    return s[(r >> 8) % s.size()].bytes;
  }
  // Amounts of every size, up to 9999999999.99, of either sign.
  static constexpr int64_t kScales[] = {100, 10000, 1000000, 100000000, 10000000000, 1000000000000};
  const int64_t scale = kScales[(r >> 8) % 6];
  int64_t cents = static_cast<int64_t>(NextRandom(state) % static_cast<uint64_t>(scale));
  if (r & (1ull << 40)) cents = -cents;
  return MoneyFromCents(cents);
}

Money RandomUnsoundMoney(uint64_t& state) {
  const auto& s = Unsound();
  return s[RandomBelow(state, s.size())].bytes;
}

}  // namespace kv::testkit
