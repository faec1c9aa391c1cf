// The one rule by which the program judges data: is a 10-byte extended money amount
// sound? Unsound: not a finite number, or, rounded to 15 significant digits, beyond
// +-9,999,999,999.99 (both bounds inclusive). Also unsound: encodings that are not
// valid extended numbers. The decision comes from the 80 bits directly, with no text
// and no allocation; it equals the text round trip at 15 significant digits.
#pragma once

#include <cstdint>

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
constexpr uint64_t kIntegerBit = 1ull << 63;

}  // namespace detail

// Inline: the walk and the scan call it for every money field of every live record
// (tens of millions in a large company), where a call per field would cost more than
// the check itself.
inline bool IsMoneySound(const uint8_t* field) {
  const uint64_t significand = isam::GetU64(field);
  const uint16_t exponent = isam::GetU16(field + 8) & detail::kExponentMask;  // sign bit ignored

  // Without branches: real amounts mix zeros, ordinary values and the odd damaged one
  // in no order, so a branch per case would be mispredicted often.
  // Zero, denormals and pseudo-denormals are all tiny: they read back within the bounds.
  const bool tiny = exponent == 0;
  // Unnormals (integer bit clear) are not valid numbers at all: reset them.
  const bool normal = (significand & detail::kIntegerBit) != 0;
  // Infinities and NaNs (exponent all ones) lie above the limit and fail here too.
  const bool withinLimit =
      exponent < detail::kLimitExponent ||
      (exponent == detail::kLimitExponent && significand <= detail::kLimitSignificand);
  return tiny | (normal & withinLimit);
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
