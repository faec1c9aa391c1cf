// 10-byte extended money values for tests and the demo company: encoding a number,
// building any bit pattern directly (NaNs, infinities, unnormals, denormals), and two
// catalogues of samples, sound and unsound, with the reason for each.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace kv::testkit {

using Money = std::array<uint8_t, 10>;

// Bytes 0-7 the significand (integer bit 63 explicit), bytes 8-9 exponent and sign.
Money MoneyFromParts(bool negative, uint16_t exponent, uint64_t significand);
// The nearest extended value.
Money MoneyFromLongDouble(long double value);
// A whole number of hundredths, |cents| < 2^63: the extended value nearest to cents/100.
Money MoneyFromCents(int64_t cents);

inline constexpr Money kMoneyZero{};
inline constexpr Money kMoneyUpperBound{0xF6, 0x28, 0x5C, 0xFF, 0xFF, 0xF8, 0x02, 0x95, 0x20, 0x40};
inline constexpr Money kMoneyLowerBound{0xF6, 0x28, 0x5C, 0xFF, 0xFF, 0xF8, 0x02, 0x95, 0x20, 0xC0};

struct MoneySample {
  std::string_view name;
  Money bytes;
};

// Values the money check leaves alone: zero of either sign, the bounds themselves,
// denormals, values that round to the bound at 15 significant digits, ordinary amounts.
std::span<const MoneySample> SoundMoneySamples();
// Values it resets: NaNs, infinities, pseudo-infinities and pseudo-NaNs, unnormals,
// amounts beyond the bounds (also those that only round beyond them), huge values.
std::span<const MoneySample> UnsoundMoneySamples();

// A pseudo-random sound amount: mostly ordinary amounts of either sign, with zeros and
// now and then one of the sound samples. `state` is a splitmix64 state.
Money RandomSoundMoney(uint64_t& state);
// One of the unsound samples, chosen by `state`.
Money RandomUnsoundMoney(uint64_t& state);

// splitmix64: small, fast, and the same sequence on every platform.
uint64_t NextRandom(uint64_t& state);
// Uniform in 0..bound-1 (bound > 0).
uint64_t RandomBelow(uint64_t& state, uint64_t bound);

}  // namespace kv::testkit
