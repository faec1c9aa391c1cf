// The 10-byte extended value in which the suite stores every money amount, and the
// judgement of an amount against the money limit.
//
//   bytes 0-7   significand, little-endian; bit 63 is the explicit integer bit
//   bytes 8-9   little-endian: bit 15 the sign, bits 0-14 the biased exponent
//
//   exponent   integer bit   significand below it   class            value
//   0          0             0                      zero             +-0
//   0          0             other                  denormal         s x 2^(1 - 16383 - 63)
//   0          1             any                    pseudo-denormal  s x 2^(1 - 16383 - 63)
//   1..7FFE    1             any                    normal           s x 2^(e - 16383 - 63)
//   1..7FFE    0             any                    unnormal         not a valid number
//   7FFF       1             0                      infinity         +-inf
//   7FFF       1             other                  NaN
//   7FFF       0             0                      pseudo-infinity  not a valid number
//   7FFF       0             other                  pseudo-NaN       not a valid number
//
// Decoding and encoding work on these fields, not on the memory of the compiler's long
// double, so they do not depend on how (or whether) that type is the same format.
// Where long double has a 64-bit significand (x86 with gcc or mingw) both are exact.
#pragma once

#include <cmath>
#include <cstdint>

#include "isam/Coding.h"

namespace kv::isam {

inline constexpr int kExtendedSize = 10;
inline constexpr int kExtendedBias = 16383;
inline constexpr uint16_t kExtendedSignBit = 0x8000;
inline constexpr uint16_t kExtendedExponentMask = 0x7FFF;
inline constexpr uint16_t kExtendedMaxExponent = 0x7FFF;  // infinities and NaNs
inline constexpr uint64_t kExtendedIntegerBit = 1ull << 63;

struct ExtendedParts {
  bool negative = false;
  uint16_t exponent = 0;  // biased, 0..7FFF
  uint64_t significand = 0;
};

inline ExtendedParts SplitExtended(const uint8_t* field) {
  const uint16_t top = GetU16(field + 8);
  return {(top & kExtendedSignBit) != 0, static_cast<uint16_t>(top & kExtendedExponentMask), GetU64(field)};
}

inline void JoinExtended(const ExtendedParts& parts, uint8_t* field) {
  PutU64(field, parts.significand);
  PutU16(field + 8, static_cast<uint16_t>((parts.exponent & kExtendedExponentMask) |
                                          (parts.negative ? kExtendedSignBit : 0)));
}

enum class ExtendedClass : uint8_t {
  kZero,
  kDenormal,
  kPseudoDenormal,
  kNormal,
  kUnnormal,
  kInfinity,
  kNaN,
  kPseudoInfinity,
  kPseudoNaN,
};

inline ExtendedClass ClassifyExtended(const ExtendedParts& p) {
  const bool integerBit = (p.significand & kExtendedIntegerBit) != 0;
  const uint64_t fraction = p.significand & ~kExtendedIntegerBit;
  if (p.exponent == 0) {
    if (integerBit) return ExtendedClass::kPseudoDenormal;
    return fraction == 0 ? ExtendedClass::kZero : ExtendedClass::kDenormal;
  }
  if (p.exponent == kExtendedMaxExponent) {
    if (!integerBit) return fraction == 0 ? ExtendedClass::kPseudoInfinity : ExtendedClass::kPseudoNaN;
    return fraction == 0 ? ExtendedClass::kInfinity : ExtendedClass::kNaN;
  }
  return integerBit ? ExtendedClass::kNormal : ExtendedClass::kUnnormal;
}
inline ExtendedClass ClassifyExtended(const uint8_t* field) { return ClassifyExtended(SplitExtended(field)); }

// Zero of either sign: all bits but the sign clear.
inline bool ExtendedIsZero(const uint8_t* field) { return ClassifyExtended(field) == ExtendedClass::kZero; }

// The value of a field: +-0, a finite number (denormals and pseudo-denormals too), +-inf,
// or a quiet NaN for a NaN and for the encodings that are not valid numbers (pseudo-
// infinities, pseudo-NaNs, unnormals): tell those apart with ClassifyExtended.
inline long double DecodeExtended(const uint8_t* field) {
  const ExtendedParts p = SplitExtended(field);
  long double value = 0;
  switch (ClassifyExtended(p)) {
    case ExtendedClass::kInfinity:
      value = HUGE_VALL;
      break;
    case ExtendedClass::kNaN:
    case ExtendedClass::kUnnormal:
    case ExtendedClass::kPseudoInfinity:
    case ExtendedClass::kPseudoNaN:
      return std::nanl("");
    default: {
      // Denormals count from exponent 1: the integer bit is the only difference.
      const int power = (p.exponent == 0 ? 1 : p.exponent) - kExtendedBias - 63;
      value = std::ldexp(static_cast<long double>(p.significand), power);
    }
  }
  return p.negative ? -value : value;
}

// The field nearest to `value` (rounded to nearest even where long double holds more
// bits than the format): finite values beyond the largest extended give infinity, values
// below the smallest denormal give zero; a NaN gives the quiet NaN C000000000000000.
inline void EncodeExtended(long double value, uint8_t* field) {
  ExtendedParts p;
  p.negative = std::signbit(value);
  if (std::isnan(value)) {
    p.exponent = kExtendedMaxExponent;
    p.significand = kExtendedIntegerBit | (kExtendedIntegerBit >> 1);
  } else if (std::isinf(value)) {
    p.exponent = kExtendedMaxExponent;
    p.significand = kExtendedIntegerBit;
  } else if (value != 0) {
    const long double magnitude = std::fabs(value);
    int e = 0;
    std::frexp(magnitude, &e);  // magnitude = m x 2^e, 1/2 <= m < 1
    int biased = e - 1 + kExtendedBias;
    // The significand as a whole number: for a normal its top bit is bit 63, a denormal
    // counts in units of the smallest denormal.
    const int scale = biased >= 1 ? 63 - (e - 1) : kExtendedBias - 1 + 63;
    if (biased < 1) biased = 0;
    const long double whole = std::nearbyint(std::ldexp(magnitude, scale));
    constexpr long double kTwo64 = 18446744073709551616.0L;
    if (whole >= kTwo64) {
      // Rounded up into the next binade.
      ++biased;
      p.significand = kExtendedIntegerBit;
    } else {
      p.significand = static_cast<uint64_t>(whole);
      // A denormal that rounded up to the integer bit is the smallest normal.
      if (biased == 0 && (p.significand & kExtendedIntegerBit) != 0) biased = 1;
    }
    if (biased >= kExtendedMaxExponent) {
      p.exponent = kExtendedMaxExponent;
      p.significand = kExtendedIntegerBit;
    } else {
      p.exponent = static_cast<uint16_t>(biased);
    }
  }
  JoinExtended(p, field);
}

// ---- The money limit -----------------------------------------------------------------
//
// An amount is sound when it is a finite valid number that, rounded to 15 significant
// digits, lies within +-9,999,999,999.99 (both bounds inclusive): the suite prints an
// amount with 15 significant digits and reads the text back. Rounded so, a value in
// [1e9, 1e10) keeps 5 decimals, so it reads back as at most the bound exactly when its
// magnitude is below the decimal midpoint 9999999999.990005. No extended value equals
// that midpoint, so no tie can occur, and the largest extended value below it is the
// inclusive limit on the stored bits:
//
//   from fractions import Fraction
//   m = Fraction(9999999999990005, 10**6)   # 2**33 <= m < 2**34: biased exponent 0x4020
//   s = floor(m / 2**(33 - 63))             # not exact, so s itself lies below m
//   hex(s) == '0x9502f8ffff5c3dee'          # = 9999999999.990004999563097953796386718750
//
// Every larger magnitude, up to and including those that overflow on the way back,
// reads back beyond the bound. The bound itself is stored as F6 28 5C FF FF F8 02 95 20 40.
inline constexpr uint16_t kMoneyLimitExponent = 0x4020;
inline constexpr uint64_t kMoneyLimitSignificand = 0x9502F8FFFF5C3DEEull;

enum class MoneyJudgement : uint8_t {
  kSound,           // zero, denormal, pseudo-denormal, or normal within the limit
  kBeyondLimit,     // normal, beyond the limit
  kNotFinite,       // infinity or NaN
  kInvalidEncoding  // unnormal, pseudo-infinity, pseudo-NaN
};

inline MoneyJudgement JudgeMoney(const uint8_t* field) {
  const ExtendedParts p = SplitExtended(field);
  switch (ClassifyExtended(p)) {
    case ExtendedClass::kZero:
    case ExtendedClass::kDenormal:
    case ExtendedClass::kPseudoDenormal:  // tiny: reads back as zero
      return MoneyJudgement::kSound;
    case ExtendedClass::kNormal:
      if (p.exponent < kMoneyLimitExponent ||
          (p.exponent == kMoneyLimitExponent && p.significand <= kMoneyLimitSignificand))
        return MoneyJudgement::kSound;
      return MoneyJudgement::kBeyondLimit;
    case ExtendedClass::kInfinity:
    case ExtendedClass::kNaN:
      return MoneyJudgement::kNotFinite;
    default:
      return MoneyJudgement::kInvalidEncoding;
  }
}

}  // namespace kv::isam
