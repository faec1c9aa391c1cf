// The one rule by which the program judges data: is a 10-byte extended money amount
// sound? The rule and the derivation of its limit are isam::JudgeMoney's (Extended.h);
// here it is in the branch-free form the walk and the scan run on every field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "isam/Extended.h"

namespace kv::modules {

inline constexpr int kMoneySize = isam::kExtendedSize;

// 1 when the field is unsound, 0 when sound, in plain integer arithmetic: real amounts
// mix zeros, ordinary values and the odd damaged one in no order, and a compiler turns
// boolean logic back into branches that are then mispredicted on every other field
// (about 4 ns a field in the scan of the benchmark company, against about 2 now).
inline uint32_t MoneyUnsoundBit(const uint8_t* field) {
  const uint64_t significand = isam::GetU64(field);
  const uint32_t exponent = isam::GetU16(field + 8) & isam::kExtendedExponentMask;  // sign bit ignored
  // Zero, denormals and pseudo-denormals are all tiny: they read back within the bounds.
  const uint32_t tiny = (exponent - 1u) >> 31;
  // Unnormals (integer bit clear) are not valid numbers at all: reset them.
  const uint32_t normal = static_cast<uint32_t>(significand >> 63);
  // Infinities and NaNs (exponent all ones) lie above the limit and fail here too.
  const uint32_t below = (exponent - isam::kMoneyLimitExponent) >> 31;
  const uint32_t atLimit = static_cast<uint32_t>((exponent ^ isam::kMoneyLimitExponent) - 1u) >> 31;
  const uint32_t notAbove = static_cast<uint32_t>(significand <= isam::kMoneyLimitSignificand);
  const uint32_t withinLimit = below | (atLimit & notAbove);
  return (tiny | (normal & withinLimit)) ^ 1u;
}

// Inline: the walk and the scan call it for every money field of every live record
// (tens of millions in a large company), where a call per field would cost more than
// the check itself.
inline bool IsMoneySound(const uint8_t* field) { return MoneyUnsoundBit(field) == 0; }

// True when any of the fields at `offsets` in `record` is unsound, by the rule above
// applied to every field. One test per record rather than a branch per field: almost
// every record is sound.
inline bool AnyMoneyUnsoundEach(const uint8_t* record, std::span<const uint16_t> offsets) {
  // Four fields per step with their own accumulators, so the checks overlap.
  const uint16_t* offset = offsets.data();
  const size_t count = offsets.size();
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

// The same decision, with the runs of fields that lie 10 bytes apart judged 8 or 16 at
// a time where the processor has vector instructions (MoneyCheck.cpp).
bool AnyMoneyUnsoundInRuns(const uint8_t* record, std::span<const uint16_t> offsets);

// The offsets are ascending and every field lies whole inside the record.
inline bool AnyMoneyUnsound(const uint8_t* record, std::span<const uint16_t> offsets) {
  // Fewer fields than a group: nothing to gain from a call.
  if (offsets.size() < 8) return AnyMoneyUnsoundEach(record, offsets);
  return AnyMoneyUnsoundInRuns(record, offsets);
}

// Every way this build can judge a record whole that this processor runs, the rule
// field by field first; AnyMoneyUnsoundInRuns uses the last. Each gives the rule's
// decision. The faster ones decide the plain values of a group of fields (zero,
// denormals, normals clearly below the limit) at once and leave a group with any
// other value to the rule; `groupsAsked`, when not null, counts those groups. The
// tests hold each against the rule, the benchmarks time each.
struct MoneyRecordJudge {
  const char* name;
  bool (*anyUnsound)(const uint8_t* record, std::span<const uint16_t> offsets, size_t* groupsAsked);
};
std::span<const MoneyRecordJudge> MoneyRecordJudges();

// An unsound field is overwritten with +0.0 (ten zero bytes) and `changed` is set.
// A sound field is left exactly as it was.
inline void CheckMoneyField(uint8_t* field, bool& changed) {
  if (!IsMoneySound(field)) {
    for (int i = 0; i < kMoneySize; ++i) field[i] = 0;
    changed = true;
  }
}

}  // namespace kv::modules
