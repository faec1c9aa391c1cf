// The builder's files read back byte by byte, and its B-trees checked by a small tree
// walker written here independently of the builder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "support/Bytes.h"
#include "support/TempDir.h"
#include "testkit/Builder.h"

namespace kv::testkit {
namespace {

namespace fs = std::filesystem;

using test::I16;
using test::I32;

class BuilderTest : public test::TempDirTest {
 protected:
  BuilderTest() : TempDirTest("kvb") {}
  std::string Read(const std::string& name) const {
    std::string bytes;
    EXPECT_EQ(ReadBytes(Path(name), bytes), "");
    return bytes;
  }
};

// ---- The independent tree walker -------------------------------------------------------------

using Entry = std::pair<std::string, int32_t>;  // key text, record number

// Entries compare as the index orders them: unsigned bytes, prefix first, then record.
bool Less(const Entry& a, const Entry& b) {
  const auto ua = reinterpret_cast<const unsigned char*>(a.first.data());
  const auto ub = reinterpret_cast<const unsigned char*>(b.first.data());
  if (std::lexicographical_compare(ua, ua + a.first.size(), ub, ub + b.first.size())) return true;
  if (a.first != b.first) return false;
  return a.second < b.second;
}

struct WalkResult {
  std::vector<Entry> inOrder;
  int height = 0;
  std::string error;
};

// Walks key `key` (1-based) of an index file: checks the header against the tree and
// every page's layout, collects the entries in order.
WalkResult WalkKey(const std::string& ix, const std::vector<int>& keyLengths, int key) {
  WalkResult r;
  size_t recordLength = 0, offset = 0;
  for (size_t k = 0; k < keyLengths.size(); ++k) {
    if (static_cast<int>(k) + 1 == key) offset = recordLength;
    recordLength += static_cast<size_t>((keyLengths[k] + 9) * 62 + 6);
  }
  const int L = keyLengths[static_cast<size_t>(key - 1)];
  const size_t section = static_cast<size_t>((L + 9) * 62 + 6);
  if (ix.size() < recordLength || ix.size() % recordLength != 0) {
    r.error = "index file length " + std::to_string(ix.size()) + " not whole records";
    return r;
  }
  if (I32(ix, offset + 12) != static_cast<int32_t>(section)) r.error = "section length";
  if (I16(ix, offset + 26) != 62) r.error = "page size";
  if (I32(ix, offset) != -1 || I32(ix, offset + 4) != 0) r.error = "free pages";
  const int32_t highest = I32(ix, offset + 8);
  const int32_t root = I32(ix, offset + 16);
  const int32_t count = I32(ix, offset + 22);
  if (!r.error.empty()) return r;
  if (static_cast<size_t>(highest + 1) * recordLength > ix.size()) {
    r.error = "highest page beyond the file";
    return r;
  }
  std::set<int32_t> seen;
  std::set<int> leafDepths;
  std::function<void(int32_t, int)> walk = [&](int32_t page, int depth) {
    if (!r.error.empty()) return;
    if (page < 1 || page > highest || !seen.insert(page).second) {
      r.error = "bad or repeated page " + std::to_string(page);
      return;
    }
    const size_t at = static_cast<size_t>(page) * recordLength + offset;
    const int c = I16(ix, at);
    if (c < 1 || c > 62) {
      r.error = "page " + std::to_string(page) + " holds " + std::to_string(c) + " items";
      return;
    }
    const int32_t leftmost = I32(ix, at + 2);
    if (leftmost == 0) {
      leafDepths.insert(depth);
    } else {
      walk(leftmost, depth + 1);
    }
    for (int j = 0; j < c; ++j) {
      const size_t item = at + 6 + static_cast<size_t>(j) * static_cast<size_t>(L + 9);
      const int len = static_cast<uint8_t>(ix[item + 8]);
      if (len > L) r.error = "text length above the key length";
      r.inOrder.emplace_back(ix.substr(item + 9, static_cast<size_t>(len)), I32(ix, item));
      const int32_t child = I32(ix, item + 4);
      if ((child == 0) != (leftmost == 0)) r.error = "leaf and inner items mixed in a page";
      if (child != 0) walk(child, depth + 1);
    }
    // Nothing of the page beyond its items is used; the builder leaves it zero.
    for (size_t b = at + 6 + static_cast<size_t>(c) * static_cast<size_t>(L + 9); b < at + section; ++b) {
      if (ix[b] != 0) {
        r.error = "bytes after the items of page " + std::to_string(page);
        break;
      }
    }
  };
  if (root != 0) walk(root, 1);
  if (!r.error.empty()) return r;
  if (leafDepths.size() > 1) r.error = "leaves at different depths";
  r.height = leafDepths.empty() ? 0 : *leafDepths.begin();
  if (static_cast<int32_t>(seen.size()) != highest) r.error = "pages not all reachable";
  if (static_cast<int32_t>(r.inOrder.size()) != count) r.error = "entry count differs";
  for (size_t i = 1; i < r.inOrder.size() && r.error.empty(); ++i) {
    if (!Less(r.inOrder[i - 1], r.inOrder[i])) r.error = "not ascending at " + std::to_string(i);
  }
  return r;
}

// ---- Data file -------------------------------------------------------------------------------

TEST_F(BuilderTest, DataFileSlotsHeaderAndFreeChain) {
  FileLayout fileLayout;
  fileLayout.dataPath = Path("T.DAT");
  fileLayout.slotLength = 100;
  fileLayout.keys = {{10, false}};
  fileLayout.highestSlot = 5;
  fileLayout.freeChain = DescendingChain({2, 4});
  ASSERT_EQ(BuildFile(fileLayout,
                      [](int32_t n, bool deleted, std::span<uint8_t> slot, KeySink& keys) {
                        std::fill(slot.begin() + 4, slot.end(), static_cast<uint8_t>(n));
                        if (!deleted) keys.Add(1, "K" + std::to_string(n));
                      }),
            "");
  const std::string dat = Read("T.DAT");
  ASSERT_EQ(dat.size(), 600u);
  EXPECT_EQ(I32(dat, 0), 4);   // FreeHead
  EXPECT_EQ(I32(dat, 4), 2);   // FreeCount
  EXPECT_EQ(I32(dat, 8), 5);   // HighestSlot
  EXPECT_EQ(I32(dat, 12), 100);
  EXPECT_EQ(I32(dat, 16), 1);
  EXPECT_EQ(dat[20], 0);
  EXPECT_EQ(dat.substr(21, 79), std::string(79, '\0'));
  const int32_t marks[] = {0, 0, -1, 0, 2, 0};  // slot 4 links to 2, 2 ends the chain
  for (int n = 1; n <= 5; ++n) {
    EXPECT_EQ(I32(dat, static_cast<size_t>(n) * 100), marks[n]) << n;
    EXPECT_EQ(dat.substr(static_cast<size_t>(n) * 100 + 4, 96), std::string(96, static_cast<char>(n)));
  }
  const WalkResult w = WalkKey(Read("T.IX"), {10}, 1);
  ASSERT_EQ(w.error, "");
  EXPECT_EQ(w.inOrder, (std::vector<Entry>{{"K1", 1}, {"K3", 3}, {"K5", 5}}));
}

TEST_F(BuilderTest, HeaderOverridesAndChainOrderAsGiven) {
  FileLayout fileLayout;
  fileLayout.dataPath = Path("M.DAT");
  fileLayout.slotLength = 64;
  fileLayout.highestSlot = 4;
  fileLayout.freeChain = {1, 3};  // ascending, as given
  fileLayout.headerSlotLength = 60;
  fileLayout.headerKeyCount = 101;
  fileLayout.defectFlag = 1;
  ASSERT_EQ(WriteBytes(Path("M.DIA"), CoordinationLayout(0)), "");
  FileInfo info;
  ASSERT_EQ(BuildFile(fileLayout, nullptr, &info), "");
  const std::string dat = Read("M.DAT");
  ASSERT_EQ(dat.size(), 5u * 64);
  EXPECT_EQ(I32(dat, 0), 1);
  EXPECT_EQ(I32(dat, 12), 60);
  EXPECT_EQ(I32(dat, 16), 101);
  EXPECT_EQ(dat[20], 1);
  EXPECT_EQ(I32(dat, 64), 3);
  EXPECT_EQ(I32(dat, 192), -1);
  EXPECT_FALSE(fs::exists(Path("M.IX")));
  EXPECT_FALSE(fs::exists(Path("M.DIA")));  // a stale one is removed
  EXPECT_EQ(info.header.slotLength, 60);

  DataHeader h = info.header;
  h.defectFlag = 0;
  h.slotLength = 64;
  ASSERT_EQ(PatchDataHeader(Path("M.DAT"), h), "");
  const std::string patched = Read("M.DAT");
  EXPECT_EQ(I32(patched, 12), 64);
  EXPECT_EQ(patched[20], 0);
  EXPECT_EQ(patched.substr(21), dat.substr(21));
}

TEST_F(BuilderTest, RefusesInconsistentInput) {
  struct Case {
    const char* name;
    std::vector<KeyDesc> keys;
    std::vector<int32_t> chain;
    std::function<void(int32_t, bool, std::span<uint8_t>, KeySink&)> fill;
  };
  const std::vector<Case> cases = {
      {"equal texts without duplicates", {{4, false}}, {},
       [](int32_t, bool, std::span<uint8_t>, KeySink& k) { k.Add(1, "SAME"); }},
      {"text longer than the key", {{4, false}}, {},
       [](int32_t n, bool, std::span<uint8_t>, KeySink& k) { k.Add(1, "LONG" + std::to_string(n)); }},
      {"key number out of range", {{4, false}}, {},
       [](int32_t, bool, std::span<uint8_t>, KeySink& k) { k.Add(2, "A"); }},
      {"chain slot beyond the file", {}, {9}, nullptr},
      {"slot twice in the chain", {}, {2, 2}, nullptr},
      {"same entry twice in a duplicates key", {{4, true}}, {},
       [](int32_t, bool, std::span<uint8_t>, KeySink& k) {
         k.Add(1, "X");
         k.Add(1, "X");
       }},
      {"keys for a deleted slot", {{4, false}}, {2},
       [](int32_t n, bool, std::span<uint8_t>, KeySink& k) { k.Add(1, std::to_string(n)); }},
  };
  for (const Case& c : cases) {
    FileLayout fileLayout;
    fileLayout.dataPath = Path("E.DAT");
    fileLayout.slotLength = 32;
    fileLayout.keys = c.keys;
    fileLayout.highestSlot = 3;
    fileLayout.freeChain = c.chain;
    EXPECT_NE(BuildFile(fileLayout, c.fill), "") << c.name;
  }
}

// ---- Index file ------------------------------------------------------------------------------

TEST_F(BuilderTest, EmptyIndexMatchesCreatedLayout) {
  std::vector<KeyEntries> keys{KeyEntries({10, true}), KeyEntries({30, false})};
  ASSERT_EQ(WriteIndexFile(Path("I.IX"), keys), "");
  const std::string ix = Read("I.IX");
  ASSERT_EQ(ix.size(), 3608u);
  const int32_t expected[2][6] = {{-1, 0, 0, 1184, 0, 0}, {-1, 0, 0, 2424, 0, 0}};
  for (int k = 0; k < 2; ++k) {
    const size_t o = k == 0 ? 0 : 1184;
    for (int f = 0; f < 5; ++f) EXPECT_EQ(I32(ix, o + 4 * static_cast<size_t>(f)), expected[k][f]);
    EXPECT_EQ(ix[o + 20], k == 0 ? 1 : 0);
    EXPECT_EQ(I32(ix, o + 22), 0);
    EXPECT_EQ(I16(ix, o + 26), 62);
  }
}

TEST_F(BuilderTest, OrderingIsUnsignedBytewisePrefixFirstDuplicatesByRecord) {
  std::vector<KeyEntries> keys{KeyEntries({5, true})};
  const std::vector<Entry> given = {{"B", 1},      {"ABC", 2}, {"X", 12}, {"AB", 3},
                                    {"\xA1", 4},   {"X", 9},   {"", 5},   {"Z\x7F", 6},
                                    {"Z\x80", 7},  {"a", 8}};
  for (const Entry& e : given) ASSERT_TRUE(keys[0].Add(e.first, e.second));
  ASSERT_EQ(WriteIndexFile(Path("O.IX"), keys), "");
  const WalkResult w = WalkKey(Read("O.IX"), {5}, 1);
  ASSERT_EQ(w.error, "");
  EXPECT_EQ(w.inOrder, (std::vector<Entry>{{"", 5}, {"AB", 3}, {"ABC", 2}, {"B", 1}, {"X", 9},
                                             {"X", 12}, {"Z\x7F", 6}, {"Z\x80", 7}, {"a", 8},
                                             {"\xA1", 4}}));
}

// Trees of every shape from one page to several levels, with full and sparse pages.
TEST_F(BuilderTest, TreesAreValidForEverySizeAndFill) {
  const std::vector<int> fills = {2, 3, 7, 62};
  const std::vector<int> sizes = {1, 2, 3, 4, 5, 8, 61, 62, 63, 64, 125, 126, 127, 500, 3968, 3969, 4000};
  for (int fill : fills) {
    for (int n : sizes) {
      std::vector<KeyEntries> keys{KeyEntries({12, false}), KeyEntries({3, true})};
      std::vector<Entry> expected1, expected2;
      for (int i = 1; i <= n; ++i) {
        // Record order and key order differ: the text is a scrambled number.
        const std::string t = std::to_string((static_cast<uint32_t>(i) * 2654435761u) % 1000003u) + "#" +
                              std::to_string(i % 7);
        keys[0].Add(t, i);
        expected1.emplace_back(t, i);
        const std::string d(1, static_cast<char>('A' + i % 3));
        keys[1].Add(d, i);
        expected2.emplace_back(d, i);
      }
      std::sort(expected1.begin(), expected1.end(), Less);
      std::sort(expected2.begin(), expected2.end(), Less);
      std::vector<KeyTreeInfo> info;
      IndexOptions opt;
      opt.maxItemsPerPage = fill;
      ASSERT_EQ(WriteIndexFile(Path("S.IX"), keys, opt, &info), "");
      const std::string ix = Read("S.IX");
      const WalkResult w1 = WalkKey(ix, {12, 3}, 1);
      const WalkResult w2 = WalkKey(ix, {12, 3}, 2);
      ASSERT_EQ(w1.error, "") << "fill " << fill << " n " << n;
      ASSERT_EQ(w2.error, "") << "fill " << fill << " n " << n;
      EXPECT_EQ(w1.inOrder, expected1);
      EXPECT_EQ(w2.inOrder, expected2);
      EXPECT_EQ(w1.height, info[0].height);
      EXPECT_EQ(ix.size(), static_cast<size_t>(std::max(info[0].highestPage, info[1].highestPage) + 1) *
                               static_cast<size_t>(21 * 62 + 6 + 12 * 62 + 6));
      if (fill == 62) {
        EXPECT_EQ(w1.height, n <= 62 ? 1 : (n <= 3968 ? 2 : 3)) << n;
      }
    }
  }
}

// ---- Pages, journals and coordination files --------------------------------------------------

TEST_F(BuilderTest, PageRoundTripAndRefusals) {
  PageImage page;
  page.leftmost = 7;
  page.items = {{3, 8, "AB"}, {4, 9, "XYZW"}};
  const std::string form = EncodePage(page, 4);
  ASSERT_EQ(form.size(), 6u + 2 * 13);
  EXPECT_EQ(I16(form, 0), 2);
  EXPECT_EQ(I32(form, 2), 7);
  EXPECT_EQ(I32(form, 6), 3);
  EXPECT_EQ(I32(form, 10), 8);
  EXPECT_EQ(form.substr(14, 5), std::string("\x02" "AB\0\0", 5));
  PageImage back;
  ASSERT_TRUE(DecodePage(form, 4, back));
  EXPECT_EQ(back.leftmost, 7);
  ASSERT_EQ(back.items.size(), 2u);
  EXPECT_EQ(back.items[1].text, "XYZW");
  EXPECT_FALSE(DecodePage(form.substr(0, form.size() - 1), 4, back));  // truncated
  std::string bad = form;
  bad[14] = 5;  // text length above the key length
  EXPECT_FALSE(DecodePage(bad, 4, back));
  bad = form;
  bad[0] = 63;
  EXPECT_FALSE(DecodePage(bad, 4, back));
}

TEST_F(BuilderTest, JournalEntriesHaveTheReplayLayout) {
  JournalWriter j(0x5A);
  PageImage page;
  page.leftmost = 11;
  page.items = {{21, 0, "K1"}};
  j.AddPage(2, 3, 6, page);
  DataHeader d{9, 1, 40, 128, 3, 0};
  j.AddDataHeader(d, -1);
  KeyHeader k;
  k.highestPage = 5;
  k.sectionLength = 750;
  k.rootPage = 4;
  k.allowDuplicates = 1;
  k.entryCount = 77;
  j.AddKeyHeader(2, k);
  j.End();
  const std::string& b = j.Bytes();
  ASSERT_EQ(b.size(), 1u + (6 + 12 + 8) + (2 + 34) * 2 + 2);
  EXPECT_EQ(static_cast<uint8_t>(b[0]), 0x5A);
  EXPECT_EQ(I16(b, 1), 1);   // tag = item count
  EXPECT_EQ(I16(b, 3), 2);   // key number
  EXPECT_EQ(I32(b, 7), 21);  // first item: record, child, text
  EXPECT_EQ(I32(b, 11), 0);
  EXPECT_EQ(b.substr(15, 4), std::string("\x02K1\0", 4));
  EXPECT_EQ(I32(b, 19), 6);   // page number
  EXPECT_EQ(I32(b, 23), 11);  // leftmost child
  size_t h = 27;
  EXPECT_EQ(I16(b, h), 1000);
  EXPECT_EQ(I16(b, h + 2), 0);
  EXPECT_EQ(I32(b, h + 4), 9);
  EXPECT_EQ(I32(b, h + 8), 1);
  EXPECT_EQ(I32(b, h + 12), 40);
  EXPECT_EQ(I32(b, h + 16), 128);
  EXPECT_EQ(I32(b, h + 20), 3);
  EXPECT_EQ(I32(b, h + 32), -1);  // link
  h += 36;
  EXPECT_EQ(I16(b, h + 2), 2);
  EXPECT_EQ(I32(b, h + 12), 5);
  EXPECT_EQ(I32(b, h + 16), 750);
  EXPECT_EQ(I32(b, h + 20), 4);
  EXPECT_EQ(b[h + 24], 1);
  EXPECT_EQ(I32(b, h + 26), 77);
  EXPECT_EQ(I32(b, h + 32), -2);
  EXPECT_EQ(I16(b, h + 36), 2000);
}

TEST_F(BuilderTest, CoordinationLayoutSizes) {
  const std::string five = CoordinationLayout(5);
  EXPECT_EQ(five.size(), 54u);
  EXPECT_EQ(I16(five, 1), 2000);
  EXPECT_EQ(CoordinationLayout(7).size(), 105u);
  const std::string ones = CoordinationLayout(1, 3, 0xFF);
  EXPECT_EQ(ones, std::string("\0\xD0\x07\xFF\xFF\xFF", 6));
}

TEST(BuilderNames, WithExtension) {
  EXPECT_EQ(WithExtension("/d/GLFILE03.DAT", "IX"), "/d/GLFILE03.IX");
  EXPECT_EQ(WithExtension("/d.x/GLFILE03", "IX"), "/d.x/GLFILE03.IX");
}

}  // namespace
}  // namespace kv::testkit
