#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "modules/MoneyCheck.h"

static_assert(LDBL_MANT_DIG == 64, "the oracle needs the 80-bit extended type");

namespace {

using Field = std::array<uint8_t, 10>;

Field Make(uint16_t signExponent, uint64_t significand) {
  Field f{};
  for (int i = 0; i < 8; ++i) f[i] = static_cast<uint8_t>(significand >> (8 * i));
  f[8] = static_cast<uint8_t>(signExponent);
  f[9] = static_cast<uint8_t>(signExponent >> 8);
  return f;
}

Field FromLongDouble(long double x) {
  Field f{};
  std::memcpy(f.data(), &x, f.size());
  return f;
}

long double ToLongDouble(const Field& f) {
  long double x = 0;
  std::memcpy(&x, f.data(), f.size());
  return x;
}

uint64_t Significand(const Field& f) {
  uint64_t s = 0;
  for (int i = 7; i >= 0; --i) s = (s << 8) | f[i];
  return s;
}
uint16_t SignExponent(const Field& f) { return static_cast<uint16_t>(f[8] | (f[9] << 8)); }

const Field kUpper = {0xF6, 0x28, 0x5C, 0xFF, 0xFF, 0xF8, 0x02, 0x95, 0x20, 0x40};
const Field kLower = {0xF6, 0x28, 0x5C, 0xFF, 0xFF, 0xF8, 0x02, 0x95, 0x20, 0xC0};

// The suite's own judgement: print with 15 significant digits, read back, compare with
// the inclusive bounds. Encodings the hardware cannot convert are unsound by rule.
bool OracleSound(const Field& f) {
  const uint16_t exponent = SignExponent(f) & 0x7FFF;
  if (exponent == 0x7FFF) return false;
  if (exponent != 0 && (Significand(f) >> 63) == 0) return false;
  char text[64];
  std::snprintf(text, sizeof text, "%.14Le", ToLongDouble(f));
  char* end = nullptr;
  const long double back = std::strtold(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(back)) return false;
  return back <= ToLongDouble(kUpper) && back >= ToLongDouble(kLower);
}

long double Parse(const char* text) { return std::strtold(text, nullptr); }

TEST(MoneyCheck, ListedCasesAreJudgedAsTheSuiteDoes) {
  struct Case {
    const char* what;
    Field field;
    bool sound;
  };
  const long double up = ToLongDouble(kUpper);
  const Case cases[] = {
      {"zero", Make(0, 0), true},
      {"negative zero", Make(0x8000, 0), true},
      {"upper bound", kUpper, true},
      {"lower bound", kLower, true},
      {"one ulp above the bound rounds back to it",
       FromLongDouble(std::nextafterl(up, INFINITY)), true},
      {"9999999999.994", FromLongDouble(Parse("9999999999.994")), false},
      {"-9999999999.994", FromLongDouble(Parse("-9999999999.994")), false},
      {"9999999999.995", FromLongDouble(Parse("9999999999.995")), false},
      {"9999999999.990004", FromLongDouble(Parse("9999999999.990004")), true},
      {"9999999999.990006", FromLongDouble(Parse("9999999999.990006")), false},
      {"-10000000000.00", FromLongDouble(-10000000000.0L), false},
      {"1.0E+4000", FromLongDouble(Parse("1.0E+4000")), false},
      {"largest extended", FromLongDouble(LDBL_MAX), false},
      {"-1234.5", FromLongDouble(-1234.5L), true},
      {"+infinity", Make(0x7FFF, 0x8000000000000000ull), false},
      {"-infinity", Make(0xFFFF, 0x8000000000000000ull), false},
      {"quiet NaN", Make(0x7FFF, 0xC000000000000000ull), false},
      {"NaN with payload", Make(0xFFFF, 0x8000000000001234ull), false},
      {"pseudo-infinity", Make(0x7FFF, 0), false},
      {"pseudo-NaN", Make(0x7FFF, 0x0000000012345678ull), false},
      {"denormal", Make(0, 1), true},
      {"negative denormal", Make(0x8000, 0x7FFFFFFFFFFFFFFFull), true},
      {"pseudo-denormal", Make(0, 0x8000000000000001ull), true},
      {"unnormal of a small value", Make(0x3FFF, 0x4000000000000000ull), false},
      {"unnormal with zero significand", Make(0x4020, 0), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kv::modules::IsMoneySound(c.field.data()), c.sound) << c.what;
    EXPECT_EQ(OracleSound(c.field), c.sound) << "oracle: " << c.what;
  }
}

TEST(MoneyCheck, SoundFieldStaysByteIdenticalAndFlagUntouched) {
  const long double up = ToLongDouble(kUpper);
  const Field sound[] = {Make(0x8000, 0), FromLongDouble(std::nextafterl(up, INFINITY)),
                         Make(0, 0x8000000000000001ull), FromLongDouble(-0.01L)};
  for (const Field& f : sound) {
    uint8_t record[14];
    std::memset(record, 0xAB, sizeof record);
    std::memcpy(record + 3, f.data(), f.size());  // unaligned, as inside a record
    for (bool before : {false, true}) {
      bool changed = before;
      kv::modules::CheckMoneyField(record + 3, changed);
      EXPECT_EQ(changed, before);
      EXPECT_EQ(std::memcmp(record + 3, f.data(), f.size()), 0);
    }
    EXPECT_EQ(record[2], 0xAB);
    EXPECT_EQ(record[13], 0xAB);
  }
}

TEST(MoneyCheck, UnsoundFieldBecomesPositiveZeroAndSetsFlag) {
  const Field unsound[] = {Make(0xFFFF, 0x8000000000000000ull), Make(0x4020, 0x1ull),
                           FromLongDouble(Parse("-9999999999.995"))};
  for (const Field& f : unsound) {
    uint8_t record[14];
    std::memset(record, 0xAB, sizeof record);
    std::memcpy(record + 3, f.data(), f.size());
    bool changed = false;
    kv::modules::CheckMoneyField(record + 3, changed);
    EXPECT_TRUE(changed);
    for (int i = 3; i < 13; ++i) EXPECT_EQ(record[i], 0) << i;
    EXPECT_EQ(record[2], 0xAB);
    EXPECT_EQ(record[13], 0xAB);
    // A second bad field in the same record leaves the flag set.
    std::memcpy(record + 3, f.data(), f.size());
    kv::modules::CheckMoneyField(record + 3, changed);
    EXPECT_TRUE(changed);
  }
}

// The check on the bits against the text round trip, on a million values chosen where
// the two could part: around both bounds and the rounding midpoint, in every binade,
// every special encoding, and random bit patterns.
TEST(MoneyCheck, AgreesWithTextRoundTripOnAMillionValues) {
  std::mt19937_64 rng(20261208);
  std::vector<Field> values;
  values.reserve(1100000);
  auto both = [&](const Field& f) {
    values.push_back(f);
    Field g = f;
    g[9] ^= 0x80;
    values.push_back(g);
  };
  // Runs of consecutive extended values around the bounds and the midpoints.
  auto around = [&](long double x, int ulps) {
    long double lo = x, hi = x;
    both(FromLongDouble(x));
    for (int i = 0; i < ulps; ++i) {
      lo = std::nextafterl(lo, -INFINITY);
      hi = std::nextafterl(hi, INFINITY);
      both(FromLongDouble(lo));
      both(FromLongDouble(hi));
    }
  };
  around(ToLongDouble(kUpper), 2000);
  for (const char* t : {"9999999999.990005", "9999999999.994", "9999999999.995",
                        "9999999999.985", "9999999999.99001", "9999999999.98999",
                        "10000000000", "9999999999.999995", "1e-4951", "3.3621e-4932"})
    around(Parse(t), 200);
  around(LDBL_MAX, 200);
  around(LDBL_MIN, 200);
  // Decimal values around the bound, 9999999999.98999 to 9999999999.99001 in steps of
  // 1e-9, each read as the nearest extended value.
  for (int i = 0; i <= 20000; ++i) {
    char text[40];
    std::snprintf(text, sizeof text, "9999999999.%09d", 989990000 + i);
    both(FromLongDouble(Parse(text)));
  }
  // Specials: zeros, denormals, pseudo-denormals, infinities, NaN payloads,
  // pseudo-infinities, pseudo-NaNs, unnormals.
  for (int i = 0; i < 5000; ++i) {
    const uint64_t r = rng();
    both(Make(0, r & 0x7FFFFFFFFFFFFFFFull));
    both(Make(0, r | 0x8000000000000000ull));
    both(Make(0x7FFF, r));
    both(Make(0x7FFF, r | 0x8000000000000000ull));
    both(Make(0x7FFF, r & 0x7FFFFFFFFFFFFFFFull));
    both(Make(static_cast<uint16_t>(1 + (r >> 49) % 0x7FFE), r & 0x7FFFFFFFFFFFFFFFull));
  }
  both(Make(0, 0));
  both(Make(0x7FFF, 0x8000000000000000ull));
  both(Make(0x7FFF, 0xC000000000000000ull));
  both(Make(0x7FFF, 0));
  // Random values in every binade.
  for (uint32_t e = 0; e <= 0x7FFF; ++e)
    for (int k = 0; k < 6; ++k) both(Make(static_cast<uint16_t>(e), rng() | (k & 1 ? 0 : 1ull << 63)));
  // Dense near the bounds' binade and its neighbours.
  for (int i = 0; i < 60000; ++i)
    both(Make(static_cast<uint16_t>(0x401C + i % 8), rng() | 1ull << 63));
  // Random 80-bit patterns.
  while (values.size() < 1000000) {
    const uint64_t r = rng();
    values.push_back(Make(static_cast<uint16_t>(rng()), r));
  }

  // The same values through the codec: the readable judgement equals the branch-free
  // one, and decoding and encoding agree with the hardware's own 80-bit type.
  size_t disagreements = 0, codecFaults = 0;
  for (const Field& f : values) {
    const bool sound = kv::modules::IsMoneySound(f.data());
    if (sound != OracleSound(f) || sound != (kv::isam::JudgeMoney(f.data()) == kv::isam::MoneyJudgement::kSound)) {
      if (++disagreements <= 10)
        ADD_FAILURE() << std::hex << "disagree on " << SignExponent(f) << ":" << Significand(f);
    }
    const kv::isam::ExtendedClass c = kv::isam::ClassifyExtended(f.data());
    if (c != kv::isam::ExtendedClass::kZero && c != kv::isam::ExtendedClass::kDenormal &&
        c != kv::isam::ExtendedClass::kNormal && c != kv::isam::ExtendedClass::kInfinity)
      continue;
    const long double x = ToLongDouble(f);
    const long double decoded = kv::isam::DecodeExtended(f.data());
    Field encoded{};
    kv::isam::EncodeExtended(x, encoded.data());
    if (decoded != x || std::signbit(decoded) != std::signbit(x) || encoded != f) {
      if (++codecFaults <= 10)
        ADD_FAILURE() << std::hex << "codec differs on " << SignExponent(f) << ":" << Significand(f);
    }
  }
  EXPECT_EQ(codecFaults, 0u);
  std::cout << "money check: " << values.size() << " values compared with the text round trip, "
            << disagreements << " disagreements" << std::endl;
  EXPECT_EQ(disagreements, 0u);
}

// The walk and the scan first judge a record whole; a record must come out unsound
// exactly when one of its fields does, wherever that field stands among the others
// (the fields are taken four at a time, then one by one).
TEST(MoneyCheck, RecordIsUnsoundExactlyWhenOneOfItsFieldsIs) {
  const Field sound[] = {Make(0, 0), kUpper, kLower, Make(0x0000, 1), Make(0x8000, 1ull << 63),
                         Make(0x3FFF, 1ull << 63), Make(0x401F, ~0ull)};
  const Field unsound[] = {Make(0x7FFF, 1ull << 63), Make(0xFFFF, 0xC000000000000000ull),
                           Make(0x4020, 0x9502F8FFFF5C3DEFull), Make(0x4021, 1ull << 63),
                           Make(0x3FFF, 0x7FFFFFFFFFFFFFFFull), Make(0x0001, 0)};
  for (size_t fieldCount = 1; fieldCount <= 9; ++fieldCount) {
    std::vector<uint16_t> offsets;
    std::vector<uint8_t> record(4 + fieldCount * 13, 0xAA);  // gaps between the fields
    for (size_t i = 0; i < fieldCount; ++i) offsets.push_back(static_cast<uint16_t>(4 + i * 13));
    for (size_t i = 0; i < fieldCount; ++i) {
      const Field& f = sound[i % std::size(sound)];
      std::memcpy(&record[offsets[i]], f.data(), f.size());
    }
    EXPECT_FALSE(kv::modules::AnyMoneyUnsound(record.data(), offsets)) << fieldCount << " fields";
    for (size_t bad = 0; bad < fieldCount; ++bad) {
      for (const Field& u : unsound) {
        std::vector<uint8_t> damaged = record;
        std::memcpy(&damaged[offsets[bad]], u.data(), u.size());
        EXPECT_TRUE(kv::modules::AnyMoneyUnsound(damaged.data(), offsets))
            << fieldCount << " fields, unsound one at " << bad;
      }
    }
  }
}

// Every faster way of judging a record whole decides as the rule does, field by field,
// and leaves to the rule only what is not plain: each value is planted alone among
// sound ones, in layouts that make the groups of 16
// and 8 fields, the lone fields after them, a run that starts too near the record's
// first byte, and runs broken by a single byte. 50,000 values chosen where a group's
// compare could part from the rule go to every place of every layout, 10 million random
// ones to one place each.
TEST(MoneyCheck, EveryRecordJudgeDecidesAsTheRule) {
  struct Layout {
    const char* what;
    std::vector<uint16_t> offsets;
  };
  auto runs = [](std::initializer_list<std::pair<int, int>> firstAndCount) {
    std::vector<uint16_t> offsets;
    for (const auto& [first, count] : firstAndCount)
      for (int k = 0; k < count; ++k) offsets.push_back(static_cast<uint16_t>(first + 10 * k));
    return offsets;
  };
  const Layout layouts[] = {
      {"a run of 27 and two lone fields", runs({{4, 27}, {300, 1}, {317, 1}})},
      {"a run from the record's first byte", runs({{0, 20}})},
      {"a run from its second byte", runs({{1, 17}})},
      {"a run broken by one byte after 8 fields", runs({{4, 8}, {85, 16}})},
      {"a run broken by one byte before its 16th field", runs({{4, 15}, {155, 9}})},
      {"lone fields 13 bytes apart", runs({{4, 1}, {17, 1}, {30, 1}, {43, 1}, {56, 1}, {69, 1}, {82, 1},
                                           {95, 1}, {108, 1}})},
  };
  // Sound values that a group decides by itself (exponent 0, or a normal below the
  // limit's exponent), of both signs, so that only the planted value can send a record
  // through the rule.
  const Field background[] = {Make(0, 0), Make(0x8000, 0), FromLongDouble(1234.56L), FromLongDouble(-0.01L),
                              FromLongDouble(8589934591.0L), FromLongDouble(-8589934591.0L), Make(0, 1),
                              Make(0x8000, 0x8000000000000005ull), Make(0x0001, 1ull << 63),
                              Make(0xC01F, ~0ull)};
  for (const Field& f : background) ASSERT_TRUE(kv::modules::IsMoneySound(f.data()));

  std::mt19937_64 rng(20261209);
  std::vector<Field> edges;
  // Every exponent, as a normal: every value the compare of a group's lanes can meet.
  for (uint32_t e = 0; e <= 0x7FFF; ++e)
    edges.push_back(Make(static_cast<uint16_t>(e | (rng() & 0x8000)), rng() | 1ull << 63));
  // The exponents where the decision changes, with either integer bit and significands
  // at the limit's and at the ends of the range.
  const uint16_t edgeExponents[] = {0, 1, 2, 0x3FFF, 0x401E, 0x401F, 0x4020, 0x4021, 0x4022, 0x7FFE, 0x7FFF};
  const uint64_t edgeSignificands[] = {0, 1, 0x7FFFFFFFFFFFFFFFull, 0x8000000000000000ull, 0x8000000000000001ull,
                                       0x9501FFFFFFFFFFFFull, 0x9502000000000000ull, 0x9502F8FFFF5C3DEDull,
                                       0x9502F8FFFF5C3DEEull, 0x9502F8FFFF5C3DEFull, 0x9503000000000000ull,
                                       0xC000000000000000ull, ~0ull};
  for (uint16_t e : edgeExponents)
    for (uint16_t sign : {0, 0x8000})
      for (uint64_t s : edgeSignificands) {
        edges.push_back(Make(static_cast<uint16_t>(e | sign), s));
        edges.push_back(Make(static_cast<uint16_t>(e | sign), s ^ (rng() >> 40)));
        edges.push_back(Make(static_cast<uint16_t>(e | sign), s ^ (1ull << 63)));
      }
  // Runs of consecutive values around the bound and around 2^33, where the exponent
  // reaches the limit's, of both signs.
  auto around = [&](long double x, int ulps) {
    long double lo = x, hi = x;
    for (int i = 0; i < ulps; ++i) {
      lo = std::nextafterl(lo, -INFINITY);
      hi = std::nextafterl(hi, INFINITY);
      for (long double v : {lo, hi, -lo, -hi}) edges.push_back(FromLongDouble(v));
    }
  };
  around(ToLongDouble(kUpper), 2100);
  around(8589934592.0L, 2100);
  ASSERT_GE(edges.size(), 50000u);

  // Random values, most near the exponents that matter, a few of them not normal.
  auto randomValue = [&] {
    const uint64_t r = rng();
    uint16_t exponent = static_cast<uint16_t>(r & 0x7FFF);
    if (r & (1ull << 15)) {
      const int near = static_cast<int>(edgeExponents[(r >> 16) % std::size(edgeExponents)]) +
                       static_cast<int>((r >> 24) % 7) - 3;
      exponent = static_cast<uint16_t>(std::clamp(near, 0, 0x7FFF));
    }
    uint64_t significand = rng();
    if ((r >> 32) % 8 != 0) significand |= 1ull << 63;
    return Make(static_cast<uint16_t>(exponent | (r >> 48 & 0x8000)), significand);
  };

  // What a judge must decide without the rule: zero, denormals, pseudo-denormals,
  // normals whose exponent lies below the limit's, and those at the limit's exponent
  // whose significand's top 16 bits lie below the limit's.
  auto plain = [](const Field& f) {
    const uint16_t exponent = SignExponent(f) & 0x7FFF;
    const uint64_t significand = Significand(f);
    return exponent == 0 || ((significand >> 63) != 0 && (exponent < 0x4020 ||
                                                           (exponent == 0x4020 && significand >> 48 < 0x9502)));
  };
  const auto judges = kv::modules::MoneyRecordJudges();
  ASSERT_FALSE(judges.empty());
  for (const auto& judge : judges.subspan(1)) {  // the first is the rule itself
    size_t checked = 0, asked = 0, faults = 0;
    auto check = [&](const Layout& layout, std::vector<uint8_t>& record, size_t at, const Field& f) {
      const uint16_t offset = layout.offsets[at];
      std::memcpy(&record[offset], f.data(), f.size());
      size_t groupsAsked = 0;
      const bool unsound = judge.anyUnsound(record.data(), layout.offsets, &groupsAsked);
      const bool sound = kv::modules::IsMoneySound(f.data());
      if ((unsound == sound || (groupsAsked != 0 && plain(f))) && ++faults <= 10)
        ADD_FAILURE() << judge.name << ", " << layout.what << ", field " << at << ": " << std::hex << SignExponent(f)
                      << ":" << Significand(f) << " is " << (sound ? "sound" : "unsound") << ", judged "
                      << (unsound ? "unsound" : "sound") << (groupsAsked != 0 ? " by the rule" : "");
      asked += groupsAsked != 0;
      const Field& was = background[at % std::size(background)];
      std::memcpy(&record[offset], was.data(), was.size());
      ++checked;
    };
    std::vector<std::vector<uint8_t>> records;
    for (const Layout& layout : layouts) {
      std::vector<uint8_t> record(layout.offsets.back() + 10u + 3u, 0xA5);
      for (size_t at = 0; at < layout.offsets.size(); ++at) {
        const Field& f = background[at % std::size(background)];
        std::memcpy(&record[layout.offsets[at]], f.data(), f.size());
      }
      size_t groupsAsked = 0;
      EXPECT_FALSE(judge.anyUnsound(record.data(), layout.offsets, &groupsAsked)) << judge.name << ", " << layout.what;
      EXPECT_EQ(groupsAsked, 0u) << judge.name << ", " << layout.what;
      records.push_back(std::move(record));
    }
    for (const Field& f : edges)
      for (size_t l = 0; l < std::size(layouts); ++l)
        for (size_t at = 0; at < layouts[l].offsets.size(); ++at) check(layouts[l], records[l], at, f);
    for (size_t i = 0; i < 10000000; ++i) {
      const size_t l = i % std::size(layouts);
      check(layouts[l], records[l], (i / std::size(layouts)) % layouts[l].offsets.size(), randomValue());
    }
    std::cout << "money check, " << judge.name << ": " << checked << " records, " << asked
              << " left to the rule, " << faults << " faults" << std::endl;
    EXPECT_EQ(faults, 0u) << judge.name;
  }
}

}  // namespace
