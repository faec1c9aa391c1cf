// Names, header layouts, the key length derivation and the two page forms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "isam/Coding.h"
#include "isam/Extended.h"
#include "isam/Format.h"
#include "testkit/Builder.h"

namespace kv::isam {
namespace {

TEST(FormatNames, ExtensionIsForcedOnTheLastComponent) {
  struct Case {
    const char* base;
    const char* ext;
    const char* want;
  } cases[] = {
      {"GLFILE03", "DAT", "GLFILE03.DAT"},
      {"GLFILE03", "IX", "GLFILE03.IX"},
      {"GLFILE03", "DIA", "GLFILE03.DIA"},
      {"OLD.TMP", "DAT", "OLD.DAT"},
      {"a.b.c", "DIA", "a.b.DIA"},
      {"dir.x/FILE", "IX", "dir.x/FILE.IX"},
      {"C:\\DIR.X\\FILE", "DAT", "C:\\DIR.X\\FILE.DAT"},
      {"C:\\DIR.X\\F.OLD", "DAT", "C:\\DIR.X\\F.DAT"},
      {"dir/", "DAT", "dir/.DAT"},
  };
  for (const Case& c : cases) EXPECT_EQ(ForceExtension(c.base, c.ext), c.want) << c.base;
}

TEST(FormatNames, CutTo64Characters) {
  const std::string longBase(70, 'A');
  const std::string name = ForceExtension(longBase, "DAT");
  EXPECT_EQ(name, std::string(64, 'A'));
  const std::string justFits(60, 'B');
  EXPECT_EQ(ForceExtension(justFits, "DAT"), justFits + ".DAT");
}

TEST(FormatNames, SemicolonSplitsDataAndIndexBase) {
  BaseNames n = SplitBaseName("A;B");
  EXPECT_EQ(ForceExtension(n.data, "DAT"), "A.DAT");
  EXPECT_EQ(ForceExtension(n.index, "IX"), "B.IX");
  EXPECT_EQ(ForceExtension(n.data, "DIA"), "A.DIA");
  n = SplitBaseName("GLFILE01");
  EXPECT_EQ(n.data, "GLFILE01");
  EXPECT_EQ(n.index, "GLFILE01");
}

TEST(FormatHeaders, DataHeaderBytes) {
  DataHeader h;
  h.freeHead = -1;
  h.freeCount = 0;
  h.highestSlot = 0;
  h.slotLength = 100;
  h.keyCount = 3;
  h.defectFlag = 1;  // never written: the program always writes 0
  uint8_t raw[kDataHeaderSize];
  std::memset(raw, 0xAA, sizeof raw);
  EncodeDataHeader(h, raw);
  const uint8_t want[kDataHeaderSize] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0,
                                         0,    100,  0,    0,    0, 3, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(raw, want, sizeof raw), 0);

  // Readers take only the low byte of the key count.
  raw[17] = 1;
  raw[20] = 7;
  const DataHeader back = DecodeDataHeader(raw);
  EXPECT_EQ(back.keyCount, 3);
  EXPECT_EQ(back.defectFlag, 7);
  EXPECT_EQ(back.slotLength, 100);
}

TEST(FormatHeaders, KeyHeaderRoundTripAndZeroPageSize) {
  KeyHeader h;
  h.freeHead = 5;
  h.freeCount = 2;
  h.highestPage = 9;
  h.sectionLength = 1184;
  h.rootPage = 4;
  h.allowDuplicates = 1;
  h.entryCount = 77;
  h.storedPageSize = 0;
  uint8_t raw[kKeyHeaderSize];
  EncodeKeyHeader(h, raw);
  EXPECT_EQ(GetI32(raw + 12), 1184);
  EXPECT_EQ(raw[20], 1);
  EXPECT_EQ(GetI32(raw + 22), 77);
  EXPECT_EQ(GetI16(raw + 26), 0);
  const KeyHeader back = DecodeKeyHeader(raw);
  EXPECT_EQ(back.PageSize(), 62);
  EXPECT_EQ(back.rootPage, 4);
  EXPECT_EQ(back.highestPage, 9);
}

TEST(FormatKeys, KeyLengthDerivation) {
  struct Case {
    int32_t section;
    int16_t pageSize;
    int32_t error;
    int length;
  } cases[] = {
      {1184, 62, 0, 10},      {2424, 62, 0, 30},     {1184, 0, 0, 10},
      {6764, 62, 0, 100},     {626, 62, 0, 1},       {1185, 62, 10120, 0},
      {6826, 62, 10121, 0},   {564, 62, 10121, 0},   {0, 62, 10120, 0},
      {1184, 63, 10122, 0},   {1184, 100, 10122, 0}, {1184, -5, 10122, 0},
      {-2147483647 - 1, 62, 10120, 0}, {2147483647, 62, 10120, 0},
      {(10 + 9) * 30 + 6, 30, 0, 10},
  };
  for (const Case& c : cases) {
    KeyHeader h;
    h.sectionLength = c.section;
    h.storedPageSize = c.pageSize;
    int length = 0;
    EXPECT_EQ(Code(DeriveKeyLength(h, length)), c.error) << c.section << "/" << c.pageSize;
    if (c.error == 0) {
      EXPECT_EQ(length, c.length);
    }
  }
  EXPECT_EQ(SectionLengthFor(10), 1184);
  EXPECT_EQ(SectionLengthFor(30), 2424);
  EXPECT_EQ(CoordSlotLength(5), 1);
  EXPECT_EQ(CoordSlotLength(7), 2);
  EXPECT_EQ(CoordSlotLength(100), 13);
}

std::vector<uint8_t> CompactBytes(int16_t count, int32_t left, int keyLength,
                                  const std::vector<std::pair<int32_t, std::string>>& items) {
  std::vector<uint8_t> b(CompactPageSize(count, keyLength) + 50, 0xEE);
  PutI16(b.data(), count);
  PutI32(b.data() + 2, left);
  uint8_t* p = b.data() + 6;
  for (const auto& [rec, text] : items) {
    PutI32(p, rec);
    PutI32(p + 4, rec * 10);
    p[8] = static_cast<uint8_t>(text.size());
    std::memset(p + 9, 0, keyLength);
    std::memcpy(p + 9, text.data(), text.size());
    p += keyLength + 9;
  }
  return b;
}

TEST(FormatPages, ExpandAndCompactRoundTrip) {
  const int L = 5;
  const auto raw = CompactBytes(3, 42, L, {{1, "AB"}, {2, "ABC"}, {3, "ZZZZZ"}});
  ExpandedPage page;
  ASSERT_TRUE(ExpandPage(raw.data(), CompactPageSize(3, L), L, 62, page));
  EXPECT_EQ(page.count, 3);
  EXPECT_EQ(page.leftmost, 42);
  EXPECT_EQ(page.Child(0), 42);
  EXPECT_EQ(page.Record(2), 2);
  EXPECT_EQ(page.Child(3), 30);
  EXPECT_EQ(page.Text(3), "ZZZZZ");
  std::vector<uint8_t> back(CompactPageSize(3, L));
  CompactPage(page, L, back.data());
  EXPECT_TRUE(std::equal(back.begin(), back.end(), raw.begin()));
}

TEST(FormatPages, UntrustedCountsAreRefused) {
  const int L = 5;
  auto raw = CompactBytes(3, 0, L, {{1, "A"}, {2, "B"}, {3, "C"}});
  ExpandedPage page;
  // Too few bytes for what the count says (a page beyond the end of the file).
  EXPECT_FALSE(ExpandPage(raw.data(), CompactPageSize(3, L) - 1, L, 62, page));
  EXPECT_FALSE(ExpandPage(raw.data(), 5, L, 62, page));
  // More items than the page size.
  EXPECT_FALSE(ExpandPage(raw.data(), raw.size(), L, 2, page));
  PutI16(raw.data(), 63);
  EXPECT_FALSE(ExpandPage(raw.data(), 100000 < raw.size() ? 100000 : raw.size(), L, 62, page));
  PutI16(raw.data(), -1);
  EXPECT_FALSE(ExpandPage(raw.data(), raw.size(), L, 62, page));
  // An item text longer than the key.
  raw = CompactBytes(1, 0, L, {{1, "A"}});
  raw[6 + 8] = L + 1;
  EXPECT_FALSE(ExpandPage(raw.data(), raw.size(), L, 62, page));
  // An empty page is sound.
  raw = CompactBytes(0, 9, L, {});
  ASSERT_TRUE(ExpandPage(raw.data(), 6, L, 62, page));
  EXPECT_EQ(page.count, 0);
  EXPECT_EQ(page.leftmost, 9);
}

// Files written out byte by byte as the layouts lay them down, read through the codecs.
TEST(FormatFixtures, FilesWrittenOutByteByByte) {
  using namespace std::string_literals;
  auto bytes = [](const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); };
  // A data file of 24-byte slots: header, live record 1, deleted record 2 ending the chain.
  const std::string dat =
      "\x02\x00\x00\x00" "\x01\x00\x00\x00" "\x02\x00\x00\x00" "\x18\x00\x00\x00"s
      "\x01\x00\x00\x00" "\x00" "\x00\x00\x00"s
      "\x00\x00\x00\x00" "record one.........."s
      "\xFF\xFF\xFF\xFF" "record two.........."s;
  ASSERT_EQ(dat.size(), 3u * 24);
  const DataHeader h = DecodeDataHeader(bytes(dat));
  EXPECT_EQ(h.freeHead, 2);
  EXPECT_EQ(h.freeCount, 1);
  EXPECT_EQ(h.highestSlot, 2);
  EXPECT_EQ(h.slotLength, 24);
  EXPECT_EQ(h.keyCount, 1);
  EXPECT_EQ(h.defectFlag, 0);

  // An index file of one key of length 2: S = (2 + 9) x 62 + 6 = 688; record 0 holds the
  // key header, record 1 the root page with "A" -> 1 and "BC" -> 3.
  std::string ix =
      "\xFF\xFF\xFF\xFF" "\x00\x00\x00\x00" "\x01\x00\x00\x00" "\xB0\x02\x00\x00"s
      "\x01\x00\x00\x00" "\x00" "\x00" "\x02\x00\x00\x00" "\x3E\x00"s;
  ix.resize(688, '\0');
  const std::string page =
      "\x02\x00" "\x00\x00\x00\x00"s
      "\x01\x00\x00\x00" "\x00\x00\x00\x00" "\x01" "A\0"s
      "\x03\x00\x00\x00" "\x00\x00\x00\x00" "\x02" "BC"s;
  ix += page;
  const KeyHeader k = DecodeKeyHeader(bytes(ix));
  EXPECT_EQ(k.freeHead, -1);
  EXPECT_EQ(k.highestPage, 1);
  EXPECT_EQ(k.rootPage, 1);
  EXPECT_EQ(k.allowDuplicates, 0);
  EXPECT_EQ(k.entryCount, 2);
  int keyLength = 0;
  ASSERT_EQ(Code(DeriveKeyLength(k, keyLength)), 0);
  ASSERT_EQ(keyLength, 2);
  ASSERT_EQ(CompactPageSize(2, keyLength), page.size());
  ExpandedPage expanded;
  ASSERT_TRUE(ExpandPage(bytes(ix) + k.sectionLength, page.size(), keyLength, k.PageSize(), expanded));
  EXPECT_EQ(expanded.count, 2);
  EXPECT_EQ(expanded.Child(0), 0);
  EXPECT_EQ(expanded.Record(1), 1);
  EXPECT_EQ(expanded.Text(1), "A");
  EXPECT_EQ(expanded.Record(2), 3);
  EXPECT_EQ(expanded.Text(2), "BC");
  std::string back(page.size(), '\xEE');
  CompactPage(expanded, keyLength, reinterpret_cast<uint8_t*>(back.data()));
  EXPECT_EQ(back, page);

  // Coordination files of 5 keys (m = 1) and 7 keys (m = 2), every slot signalled.
  const std::string five = "\x00\xD0\x07"s + std::string(51, '\xFF');
  EXPECT_EQ(testkit::CoordinationLayout(5, 51, 0xFF), five);
  const std::string seven = "\x00\xD0\x07"s + std::string(102, '\xFF');
  EXPECT_EQ(testkit::CoordinationLayout(7, 51, 0xFF), seven);
  EXPECT_EQ(StationSlotOffset(50, CoordSlotLength(7)), seven.size() - 2);
}

// The stored money values: bytes, class and value, both ways where the bytes are the
// value's own encoding.
TEST(FormatExtended, BytesClassesAndValues) {
  using C = ExtendedClass;
  using J = MoneyJudgement;
  const long double nan = std::nanl("");
  struct Row {
    const char* what;
    uint8_t bytes[10];
    C cls;
    J judgement;
    long double value;  // NaN: DecodeExtended gives a NaN
    bool encodes;       // EncodeExtended(value) gives these bytes
  } rows[] = {
      {"7", {0, 0, 0, 0, 0, 0, 0, 0xE0, 0x01, 0x40}, C::kNormal, J::kSound, 7, true},
      {"10", {0, 0, 0, 0, 0, 0, 0, 0xA0, 0x02, 0x40}, C::kNormal, J::kSound, 10, true},
      {"-1", {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xBF}, C::kNormal, J::kSound, -1, true},
      {"-32768", {0, 0, 0, 0, 0, 0, 0, 0x80, 0x0E, 0xC0}, C::kNormal, J::kSound, -32768, true},
      {"0.5", {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFE, 0x3F}, C::kNormal, J::kSound, 0.5L, true},
      {"zero", {}, C::kZero, J::kSound, 0, true},
      {"negative zero", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}, C::kZero, J::kSound, -0.0L, true},
      {"upper bound", {0xF6, 0x28, 0x5C, 0xFF, 0xFF, 0xF8, 0x02, 0x95, 0x20, 0x40}, C::kNormal, J::kSound,
       std::ldexp(static_cast<long double>(0x9502F8FFFF5C28F6ull), 33 - 63), true},
      {"just beyond the limit", {0xEF, 0x3D, 0x5C, 0xFF, 0xFF, 0xF8, 0x02, 0x95, 0x20, 0xC0}, C::kNormal,
       J::kBeyondLimit, -std::ldexp(static_cast<long double>(0x9502F8FFFF5C3DEFull), 33 - 63), true},
      {"1e10", {0, 0, 0, 0, 0, 0xF9, 0x02, 0x95, 0x20, 0x40}, C::kNormal, J::kBeyondLimit, 1e10L, true},
      {"smallest denormal", {1, 0, 0, 0, 0, 0, 0, 0, 0, 0}, C::kDenormal, J::kSound, std::ldexp(1.0L, -16445),
       true},
      {"pseudo-denormal", {0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0}, C::kPseudoDenormal, J::kSound,
       std::ldexp(1.0L, -16382), false},
      {"smallest normal", {0, 0, 0, 0, 0, 0, 0, 0x80, 1, 0}, C::kNormal, J::kSound, std::ldexp(1.0L, -16382),
       true},
      {"+infinity", {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x7F}, C::kInfinity, J::kNotFinite, HUGE_VALL, true},
      {"-infinity", {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xFF}, C::kInfinity, J::kNotFinite, -HUGE_VALL, true},
      {"quiet NaN", {0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x7F}, C::kNaN, J::kNotFinite, nan, true},
      {"signalling NaN", {1, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x7F}, C::kNaN, J::kNotFinite, nan, false},
      {"pseudo-infinity", {0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x7F}, C::kPseudoInfinity, J::kInvalidEncoding, nan,
       false},
      {"pseudo-NaN", {0, 0, 0, 0, 0, 0, 0, 0x40, 0xFF, 0xFF}, C::kPseudoNaN, J::kInvalidEncoding, nan, false},
      {"unnormal", {0, 0, 0, 0, 0, 0, 0, 0x40, 0xFF, 0x3F}, C::kUnnormal, J::kInvalidEncoding, nan, false},
      {"unnormal zero", {0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0x40}, C::kUnnormal, J::kInvalidEncoding, nan, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(ClassifyExtended(r.bytes), r.cls);
    EXPECT_EQ(JudgeMoney(r.bytes), r.judgement);
    EXPECT_EQ(ExtendedIsZero(r.bytes), r.cls == C::kZero);
    const long double v = DecodeExtended(r.bytes);
    if (std::isnan(r.value)) {
      EXPECT_TRUE(std::isnan(v));
    } else {
      EXPECT_EQ(v, r.value);
      EXPECT_EQ(std::signbit(v), std::signbit(r.value));
    }
    if (r.encodes) {
      uint8_t out[10];
      std::memset(out, 0xAA, sizeof out);
      EncodeExtended(r.value, out);
      EXPECT_EQ(std::memcmp(out, r.bytes, sizeof out), 0);
    }
  }
}

}  // namespace
}  // namespace kv::isam
