// The one rule by which the program judges data: is a 10-byte extended money amount
// sound? Unsound: not a finite number, or, rounded to 15 significant digits, beyond
// +-9,999,999,999.99 (both bounds inclusive). Also unsound: encodings that are not
// valid extended numbers. The decision comes from the 80 bits directly, with no text
// and no allocation; it equals the text round trip at 15 significant digits.
#pragma once

#include <cstdint>

namespace kv::modules {

inline constexpr int kMoneySize = 10;

bool IsMoneySound(const uint8_t* field);

// An unsound field is overwritten with +0.0 (ten zero bytes) and `changed` is set.
// A sound field is left exactly as it was.
inline void CheckMoneyField(uint8_t* field, bool& changed) {
  if (!IsMoneySound(field)) {
    for (int i = 0; i < kMoneySize; ++i) field[i] = 0;
    changed = true;
  }
}

}  // namespace kv::modules
