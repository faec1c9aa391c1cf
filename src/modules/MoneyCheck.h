// The one rule by which the program judges data: is a 10-byte extended money amount
// sound? Unsound: not a finite number, or, rounded to 15 significant digits, beyond
// +-9,999,999,999.99 (both bounds inclusive). Also unsound: encodings that are not
// valid extended numbers. The decision comes from the 80 bits directly, with no text
// and no allocation; it equals the text round trip at 15 significant digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "isam/Coding.h"

namespace kv::modules {

inline constexpr int kMoneySize = 10;

namespace detail {

// The suite judges a money value by printing it with 15 significant digits and reading
// the text back: sound when the read-back value lies within +-9999999999.99 (the
// extended value nearest to it, bytes F6 28 5C FF FF F8 02 95 20 40) and is a number.
// Rounded to 15 significant digits, a value in [1e9, 1e10) keeps 5 decimals, so it reads
// back as at most the bound exactly when its magnitude is below the decimal midpoint
// 9999999999.990005. No extended value equals that midpoint, so no tie can occur, and
// the largest extended value below it is the inclusive limit on the stored bits:
//
//   from fractions import Fraction
//   m = Fraction(9999999999990005, 10**6)   # 2**33 <= m < 2**34: biased exponent 0x4020
//   s = floor(m / 2**(33 - 63))             # not exact, so s itself lies below m
//   hex(s) == '0x9502f8ffff5c3dee'          # = 9999999999.990004999563097953796386718750
//
// Every larger magnitude, up to and including those that overflow on the way back,
// fails the check, so nothing beyond that comparison is needed for finite values.
constexpr uint16_t kLimitExponent = 0x4020;
constexpr uint64_t kLimitSignificand = 0x9502F8FFFF5C3DEEull;

constexpr uint16_t kExponentMask = 0x7FFF;

}  // namespace detail

// 1 when the field is unsound, 0 when sound, in plain integer arithmetic: real amounts
// mix zeros, ordinary values and the odd damaged one in no order, and a compiler turns
// boolean logic back into branches that are then mispredicted on every other field
// (about 4 ns a field in the scan of the benchmark company, against about 2 now).
inline uint32_t MoneyUnsoundBit(const uint8_t* field) {
  const uint64_t significand = isam::GetU64(field);
  const uint32_t exponent = isam::GetU16(field + 8) & detail::kExponentMask;  // sign bit ignored
  // Zero, denormals and pseudo-denormals are all tiny: they read back within the bounds.
  const uint32_t tiny = (exponent - 1u) >> 31;
  // Unnormals (integer bit clear) are not valid numbers at all: reset them.
  const uint32_t normal = static_cast<uint32_t>(significand >> 63);
  // Infinities and NaNs (exponent all ones) lie above the limit and fail here too.
  const uint32_t below = (exponent - detail::kLimitExponent) >> 31;
  const uint32_t atLimit = static_cast<uint32_t>((exponent ^ detail::kLimitExponent) - 1u) >> 31;
  const uint32_t notAbove = static_cast<uint32_t>(significand <= detail::kLimitSignificand);
  const uint32_t withinLimit = below | (atLimit & notAbove);
  return (tiny | (normal & withinLimit)) ^ 1u;
}

// Inline: the walk and the scan call it for every money field of every live record
// (tens of millions in a large company), where a call per field would cost more than
// the check itself.
inline bool IsMoneySound(const uint8_t* field) { return MoneyUnsoundBit(field) == 0; }

// True when any of the fields at `offsets` in `record` is unsound. One test per record
// rather than a branch per field: almost every record is sound.
template <typename Offsets>
inline bool AnyMoneyUnsound(const uint8_t* record, const Offsets& offsets) {
  // Four fields per step with their own accumulators, so the checks overlap.
  const auto* offset = std::data(offsets);
  const size_t count = std::size(offsets);
  uint32_t a = 0, b = 0, c = 0, d = 0;
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    a |= MoneyUnsoundBit(record + offset[i]);
    b |= MoneyUnsoundBit(record + offset[i + 1]);
    c |= MoneyUnsoundBit(record + offset[i + 2]);
    d |= MoneyUnsoundBit(record + offset[i + 3]);
  }
  for (; i < count; ++i) a |= MoneyUnsoundBit(record + offset[i]);
  return (a | b | c | d) != 0;
}

// An unsound field is overwritten with +0.0 (ten zero bytes) and `changed` is set.
// A sound field is left exactly as it was.
inline void CheckMoneyField(uint8_t* field, bool& changed) {
  if (!IsMoneySound(field)) {
    for (int i = 0; i < kMoneySize; ++i) field[i] = 0;
    changed = true;
  }
}

}  // namespace kv::modules
