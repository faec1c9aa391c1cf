// Names, header layouts, the key length derivation and the two page forms.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "isam/Coding.h"
#include "isam/Format.h"

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

}  // namespace
}  // namespace kv::isam
