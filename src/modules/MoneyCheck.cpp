// Judging a record whole, many fields at a time.
//
// Most money fields of the large files lie in long runs 10 bytes apart (112 in a row
// in GLFILE01, 243 in ICFILE01), and almost every value in them is zero or an ordinary
// amount whose exponent lies below the limit's. A group of 8 such fields is 80 bytes:
// forty 16-bit words, where field k's sign-and-exponent word is word 5k + 4 and the
// word before it holds the top 16 bits of its significand (the integer bit on top).
// Two loads per vector, the second 2 bytes earlier, put the two words of each field in
// the same lane; then one signed compare per lane tells
//
//   exponent > allowed,  allowed = 0       integer bit clear
//                                  0x401F  integer bit set, top bits >= 9502
//                                  0x4020  integer bit set, top bits <  9502
//
// which is false exactly for zero, denormals and pseudo-denormals (exponent 0), for
// normals below the limit's exponent, and for normals at the limit's exponent whose
// significand lies below 9502 0000 0000 0000, under the limit's 9502 F8FF FF5C 3DEE:
// all sound by the rule. It is true for the rest: a normal at the limit's exponent
// with those top bits or more (where the lower bits decide), beyond it, an unnormal,
// an infinity, a NaN. A group with such a field goes through the rule itself, field
// by field, so the decision is always the rule's; only the cost differs.
//
// SSE2 is part of every x86-64 processor; AVX2 (16 fields a step) is used when the
// processor has it. Elsewhere every field goes through the rule.
#include "modules/MoneyCheck.h"

#include <algorithm>
#include <array>
#include <bit>

#if defined(__x86_64__)
#include <immintrin.h>
#define KV_MONEY_VECTORS 1
#endif

namespace kv::modules {
namespace {

bool AnyUnsoundEach(const uint8_t* record, std::span<const uint16_t> offsets, size_t* /*groupsAsked*/) {
  return AnyMoneyUnsoundEach(record, offsets);
}

#if KV_MONEY_VECTORS

constexpr int kStride = kMoneySize;
constexpr int kGroupWords = 5;  // 16-bit words per field
// The largest exponent of a normal that is below the limit whatever its significand.
constexpr short kBelowLimitExponent = static_cast<short>(isam::kMoneyLimitExponent - 1);
// The top 16 bits of the limit's significand, as the signed lanes compare them.
constexpr short kLimitTop = static_cast<short>(static_cast<uint16_t>(isam::kMoneyLimitSignificand >> 48));

// Per word of a group of 16 fields: 0x7FFF on the sign-and-exponent words (it drops
// the sign), 0 elsewhere, so that the other words never compare greater. A group of 8
// uses its first 40.
constexpr std::array<uint16_t, 16 * kGroupWords> MakeExponentLanes() {
  std::array<uint16_t, 16 * kGroupWords> lanes{};
  for (size_t w = 0; w < lanes.size(); ++w) lanes[w] = w % kGroupWords == kGroupWords - 1 ? 0x7FFF : 0;
  return lanes;
}
alignas(32) constexpr std::array<uint16_t, 16 * kGroupWords> kExponentLanes = MakeExponentLanes();

// A group reads the 2 bytes before its first field; its offsets are computed in 16 bits.
constexpr uint16_t kFirstGroupStart = 2;
constexpr uint16_t kLastGroupStart = 0xFFFF - 16 * kStride;

const __m128i* At128(const void* p) { return static_cast<const __m128i*>(p); }

// How many of the 8 offsets from `offset` lie 10 bytes apart from the first, one run
// of fields (1 to 8); 0 when no group may start at the first.
size_t RunLength8(const uint16_t* offset) {
  if (offset[0] < kFirstGroupStart || offset[0] > kLastGroupStart) return 0;
  const __m128i ramp = _mm_setr_epi16(0, 10, 20, 30, 40, 50, 60, 70);
  const __m128i want = _mm_add_epi16(_mm_set1_epi16(static_cast<short>(offset[0])), ramp);
  const auto same = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_loadu_si128(At128(offset)), want)));
  return static_cast<size_t>(std::countr_one(same)) / 2;
}

// True when one of the 8 fields from `p` is not plain: the rule must judge the group.
bool Unplain8(const uint8_t* p) {
  const __m128i limit = _mm_set1_epi16(kBelowLimitExponent);
  const __m128i limitTop = _mm_set1_epi16(kLimitTop);
  __m128i bad = _mm_setzero_si128();
  for (int j = 0; j < kGroupWords; ++j) {
    const __m128i word = _mm_loadu_si128(At128(p + 16 * j));
    const __m128i before = _mm_loadu_si128(At128(p + 16 * j - 2));
    const __m128i exponent = _mm_and_si128(word, _mm_load_si128(At128(kExponentLanes.data() + 8 * j)));
    // Minus -1 lifts 0x401F to 0x4020 where the top bits lie below the limit's (only
    // with the integer bit set: the others are not negative).
    const __m128i allowed =
        _mm_sub_epi16(_mm_and_si128(_mm_srai_epi16(before, 15), limit), _mm_cmpgt_epi16(limitTop, before));
    bad = _mm_or_si128(bad, _mm_cmpgt_epi16(exponent, allowed));
  }
  return _mm_movemask_epi8(bad) != 0;
}

// The rule on the fields of a run too short for a group (at least the first field,
// so that its offsets are not looked at again), or of a group with a field that is
// not plain.
uint32_t EachOfRun(const uint8_t* record, const uint16_t* offset, size_t run) {
  uint32_t unsound = MoneyUnsoundBit(record + offset[0]);
  for (size_t k = 1; k < run; ++k) unsound |= MoneyUnsoundBit(record + offset[k]);
  return unsound;
}

bool AnyUnsoundSse2(const uint8_t* record, std::span<const uint16_t> offsets, size_t* groupsAsked) {
  const uint16_t* offset = offsets.data();
  const size_t count = offsets.size();
  uint32_t unsound = 0;
  size_t i = 0;
  while (i < count) {
    const size_t run = i + 8 <= count ? RunLength8(offset + i) : 0;
    if (run == 8) {
      if (Unplain8(record + offset[i])) {
        unsound |= EachOfRun(record, offset + i, 8);
        if (groupsAsked != nullptr) ++*groupsAsked;
      }
      i += 8;
    } else {
      unsound |= EachOfRun(record, offset + i, run);
      i += std::max<size_t>(run, 1);
    }
  }
  return unsound != 0;
}

// Chosen at run time, so the rest of the program still runs on any x86-64. Windows
// keeps the stack 16-byte aligned only, and mingw's g++ would spill a 256-bit value
// with an aligned store: these few functions inline into one whose vectors all stay
// in registers (no 256-bit access to the stack in its object code; check after a change).
#define KV_AVX2 __attribute__((target("avx2")))

const __m256i* At256(const void* p) { return static_cast<const __m256i*>(p); }

KV_AVX2 size_t RunLength16(const uint16_t* offset) {
  if (offset[0] < kFirstGroupStart || offset[0] > kLastGroupStart) return 0;
  const __m256i ramp =
      _mm256_setr_epi16(0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150);
  const __m256i want = _mm256_add_epi16(_mm256_set1_epi16(static_cast<short>(offset[0])), ramp);
  const auto same =
      static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi16(_mm256_loadu_si256(At256(offset)), want)));
  return static_cast<size_t>(std::countr_one(same)) / 2;
}

KV_AVX2 bool Unplain16(const uint8_t* p) {
  const __m256i limit = _mm256_set1_epi16(kBelowLimitExponent);
  const __m256i limitTop = _mm256_set1_epi16(kLimitTop);
  __m256i bad = _mm256_setzero_si256();
  for (int j = 0; j < kGroupWords; ++j) {
    const __m256i word = _mm256_loadu_si256(At256(p + 32 * j));
    const __m256i before = _mm256_loadu_si256(At256(p + 32 * j - 2));
    const __m256i exponent = _mm256_and_si256(word, _mm256_load_si256(At256(kExponentLanes.data() + 16 * j)));
    const __m256i allowed = _mm256_sub_epi16(_mm256_and_si256(_mm256_srai_epi16(before, 15), limit),
                                             _mm256_cmpgt_epi16(limitTop, before));
    bad = _mm256_or_si256(bad, _mm256_cmpgt_epi16(exponent, allowed));
  }
  return _mm256_testz_si256(bad, bad) == 0;
}

KV_AVX2 bool AnyUnsoundAvx2(const uint8_t* record, std::span<const uint16_t> offsets, size_t* groupsAsked) {
  const uint16_t* offset = offsets.data();
  const size_t count = offsets.size();
  uint32_t unsound = 0;
  size_t i = 0;
  while (i < count) {
    const size_t run = i + 16 <= count ? RunLength16(offset + i) : i + 8 <= count ? RunLength8(offset + i) : 0;
    const size_t group = run == 16 ? 16 : run >= 8 ? 8 : 0;
    if (group != 0) {
      if (group == 16 ? Unplain16(record + offset[i]) : Unplain8(record + offset[i])) {
        unsound |= EachOfRun(record, offset + i, group);
        if (groupsAsked != nullptr) ++*groupsAsked;
      }
      i += group;
    } else {
      unsound |= EachOfRun(record, offset + i, run);
      i += std::max<size_t>(run, 1);
    }
  }
  return unsound != 0;
}

bool ProcessorHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}

#endif  // KV_MONEY_VECTORS

struct Judges {
  std::array<MoneyRecordJudge, 3> all{};
  size_t count = 0;
  void Add(const char* name, bool (*anyUnsound)(const uint8_t*, std::span<const uint16_t>, size_t*)) {
    all[count++] = {name, anyUnsound};
  }
};

const Judges& Available() {
  static const Judges judges = [] {
    Judges j;
    j.Add("each field", AnyUnsoundEach);
#if KV_MONEY_VECTORS
    j.Add("SSE2", AnyUnsoundSse2);
    if (ProcessorHasAvx2()) j.Add("AVX2", AnyUnsoundAvx2);
#endif
    return j;
  }();
  return judges;
}

}  // namespace

bool AnyMoneyUnsoundInRuns(const uint8_t* record, std::span<const uint16_t> offsets) {
  static const auto fastest = Available().all[Available().count - 1].anyUnsound;
  return fastest(record, offsets, nullptr);
}

std::span<const MoneyRecordJudge> MoneyRecordJudges() {
  return {Available().all.data(), Available().count};
}

}  // namespace kv::modules
