// Key search over B-trees built by the test kit: exact lookups, duplicates, prefixes,
// stepping in key order, deep trees, the page cache and damaged trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "IsamFixture.h"
#include "isam/Engine.h"
#include "testkit/Builder.h"

namespace kv::isam::testing {
namespace {

using testkit::BuildFile;
using testkit::FileInfo;
using testkit::FileLayout;
using testkit::KeySink;

struct Entry {
  std::string text;
  int32_t record;
};

// Key text: the letter and r in `digits` digits ("R00042").
std::string NumberedKey(char letter, int digits, int32_t r) {
  char text[16];
  std::snprintf(text, sizeof text, "%c%0*d", letter, digits, r);
  return text;
}
// Records 1..count, each under its NumberedKey.
std::vector<Entry> Numbered(char letter, int digits, int32_t count) {
  std::vector<Entry> entries;
  for (int32_t r = 1; r <= count; ++r) entries.push_back({NumberedKey(letter, digits, r), r});
  return entries;
}

class KeySearchTest : public IsamTest {
 protected:
  void TearDown() override {
    if (engine.Initialised()) engine.StopEngine();
    IsamTest::TearDown();
  }

  // One key; entry i goes with record entries[i].record (records 1..max are written,
  // those without an entry carry no key... every record needs one, so texts are given
  // per record).
  FileInfo BuildKeyed(const std::string& base, KeyDesc key, const std::vector<Entry>& entries,
                      int perPage = 62) {
    int32_t highest = 0;
    std::map<int32_t, std::string> byRecord;
    for (const Entry& e : entries) {
      highest = std::max(highest, e.record);
      byRecord[e.record] = e.text;
    }
    std::vector<int32_t> deleted;
    for (int32_t r = 1; r <= highest; ++r) {
      if (!byRecord.count(r)) deleted.push_back(r);
    }
    FileLayout fileLayout;
    fileLayout.dataPath = Path(base + ".DAT");
    fileLayout.slotLength = 30;
    fileLayout.keys = {key};
    fileLayout.highestSlot = highest;
    fileLayout.freeChain = testkit::DescendingChain(deleted);
    fileLayout.index.maxItemsPerPage = perPage;
    FileInfo info;
    EXPECT_EQ(BuildFile(fileLayout,
                        [&](int32_t rec, bool isDeleted, std::span<uint8_t>, KeySink& sink) {
                          if (!isDeleted) sink.Add(1, byRecord[rec]);
                        },
                        &info),
              "");
    return info;
  }

  BlockHandle Open(const std::string& base) {
    BlockHandle b = nullptr;
    engine.OpenBlock(b, Path(base), {.network = true});
    EXPECT_TRUE(engine.LastOpOK()) << engine.LastOpError();
    return b;
  }

  int32_t Find(BlockHandle b, std::string_view text) {
    int32_t rec = -7;
    engine.LookupKey(b, 1, rec, text);
    return engine.LastOpOK() ? rec : -engine.LastOpError();
  }

  Engine engine;
};

TEST_F(KeySearchTest, EmptyTreeAndKeyNumbers) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kNetwork, 16), 16);
  const KeyDesc keys[] = {{10, false}};
  engine.CreateBlock(Path("EMPTY"), 30, 1, keys);
  BlockHandle b = Open("EMPTY");
  EXPECT_EQ(Find(b, "A"), -10200);
  int32_t rec = 5;
  std::string text = "A";
  engine.StepToNextKey(b, 1, rec, text);
  EXPECT_ERR(engine, EngineError::kNoNextKey);
  for (int bad : {0, 2, -1}) {
    engine.LookupKey(b, bad, rec, "A");
    EXPECT_ERR(engine, EngineError::kBadKeyNumber);
    engine.StepToNextKey(b, bad, rec, text);
    EXPECT_ERR(engine, EngineError::kBadKeyNumber);
  }
  EXPECT_EQ(engine.Stats().pageReads, 0u);
  engine.CloseBlock(b);
}

TEST_F(KeySearchTest, ExactPrefixesAndAbsentKeys) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kNetwork, 16), 16);
  BuildKeyed("ACE", {10, false}, {{"A", 4}, {"C", 7}, {"E", 2}, {"ABC", 9}});
  BlockHandle b = Open("ACE");
  EXPECT_EQ(Find(b, "C"), 7);
  EXPECT_EQ(Find(b, "A"), 4);
  EXPECT_EQ(Find(b, "E"), 2);
  EXPECT_EQ(Find(b, "ABC"), 9);
  EXPECT_EQ(Find(b, "B"), -10200);
  EXPECT_EQ(Find(b, "AB"), -10200);   // equality is of the whole text
  EXPECT_EQ(Find(b, "ABCD"), -10200);
  EXPECT_EQ(Find(b, ""), -10200);
  EXPECT_EQ(Find(b, "F"), -10200);
  // Texts longer than 100 characters are cut before the search.
  EXPECT_EQ(Find(b, "C" + std::string(130, 'x')), -10200);
  engine.CloseBlock(b);
}

TEST_F(KeySearchTest, DuplicatesResolveToTheLowestRecord) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kNetwork, 16), 16);
  BuildKeyed("DUP", {5, true}, {{"X", 12}, {"X", 9}, {"Y", 3}, {"W", 1}, {"X", 20}});
  BlockHandle b = Open("DUP");
  EXPECT_EQ(Find(b, "X"), 9);
  EXPECT_EQ(Find(b, "Y"), 3);
  EXPECT_EQ(Find(b, "W"), 1);
  EXPECT_EQ(Find(b, "XX"), -10200);
  EXPECT_EQ(Find(b, "V"), -10200);
  EXPECT_EQ(Find(b, "Z"), -10200);
  engine.CloseBlock(b);

  // The same across pages: the equal entries span several leaves and levels.
  std::vector<Entry> many;
  for (int32_t r = 1; r <= 400; ++r) many.push_back({r % 3 == 0 ? "SAME" : "K" + std::to_string(r), r});
  BuildKeyed("DUPS", {8, true}, many, 3);
  b = Open("DUPS");
  EXPECT_EQ(Find(b, "SAME"), 3);
  EXPECT_EQ(Find(b, "K1"), 1);
  engine.CloseBlock(b);
}

TEST_F(KeySearchTest, DeepTreeLookupsAndFullStep) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kNetwork, 500), 500);
  std::vector<Entry> entries;
  const int n = 30000;
  for (int32_t r = 1; r <= n; ++r) {
    char text[16];
    std::snprintf(text, sizeof text, "K%07d", (r * 7919) % 1000003);
    entries.push_back({text, r});
  }
  for (int perPage : {62, 4}) {
    const std::string base = "DEEP" + std::to_string(perPage);
    const FileInfo info = BuildKeyed(base, {12, false}, entries, perPage);
    ASSERT_EQ(info.keys.size(), 1u);
    EXPECT_LE(info.keys[0].height, 8);
    if (perPage == 4) {
      EXPECT_GE(info.keys[0].height, 6);
    }
    BlockHandle b = Open(base);
    for (size_t i = 0; i < entries.size(); i += 97) {
      ASSERT_EQ(Find(b, entries[i].text), entries[i].record) << entries[i].text;
      ASSERT_EQ(Find(b, entries[i].text + "!"), -10200);
    }
    // A walk in key order from the start visits every entry once, ascending.
    std::vector<Entry> sorted = entries;
    std::sort(sorted.begin(), sorted.end(), [](const Entry& x, const Entry& y) { return x.text < y.text; });
    int32_t rec = 0;
    std::string text;
    EXPECT_EQ(Find(b, "K"), -10200);  // positions before the first entry
    size_t i = 0;
    for (;; ++i) {
      engine.StepToNextKey(b, 1, rec, text);
      if (!engine.LastOpOK()) break;
      ASSERT_LT(i, sorted.size());
      ASSERT_EQ(text, sorted[i].text);
      ASSERT_EQ(rec, sorted[i].record);
    }
    EXPECT_EQ(engine.LastError(), EngineError::kNoNextKey);
    EXPECT_EQ(i, sorted.size());
    // Past the end the path stays valid at depth 0: stepping again starts from the
    // smallest entry.
    engine.StepToNextKey(b, 1, rec, text);
    EXPECT_OK(engine);
    EXPECT_EQ(text, sorted[0].text);
    engine.CloseBlock(b);
  }
}

TEST_F(KeySearchTest, StepFromAnExactHitAndAfterTheLastKey) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kNetwork, 16), 16);
  BuildKeyed("STEP", {10, false}, {{"A", 1}, {"C", 2}, {"E", 3}});
  BlockHandle b = Open("STEP");
  EXPECT_EQ(Find(b, "C"), 2);
  int32_t rec = 0;
  std::string text;
  engine.StepToNextKey(b, 1, rec, text);
  EXPECT_OK(engine);
  EXPECT_EQ(text, "E");
  EXPECT_EQ(rec, 3);
  engine.StepToNextKey(b, 1, rec, text);
  EXPECT_ERR(engine, EngineError::kNoNextKey);
  EXPECT_EQ(Find(b, "E"), 3);
  engine.StepToNextKey(b, 1, rec, text);
  EXPECT_ERR(engine, EngineError::kNoNextKey);
  engine.CloseBlock(b);
}

TEST_F(KeySearchTest, PageCacheEvictsTheLeastRecentlyUsed) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kNetwork, 8), 8);
  const FileInfo info = BuildKeyed("LRU", {8, false}, Numbered('R', 5, 2000), 6);
  const int height = info.keys[0].height;
  ASSERT_GE(height, 4);
  BlockHandle b = Open("LRU");
  ASSERT_EQ(Find(b, "R00001"), 1);
  EXPECT_EQ(engine.Stats().pageReads, static_cast<uint64_t>(height));
  // Again: every page is cached.
  ASSERT_EQ(Find(b, "R00001"), 1);
  EXPECT_EQ(engine.Stats().pageReads, static_cast<uint64_t>(height));
  // Far-apart keys need more pages than the 8 buffers; the root, used by every search,
  // stays the most recent and is never read again.
  for (int32_t r = 100; r <= 2000; r += 150) ASSERT_EQ(Find(b, NumberedKey('R', 5, r)), r);
  const uint64_t before = engine.Stats().pageReads;
  ASSERT_EQ(Find(b, "R00001"), 1);
  EXPECT_EQ(engine.Stats().pageReads - before, static_cast<uint64_t>(height - 1));
  engine.CloseBlock(b);
}

// Offset of page p of a one-key file (R is the key's section length).
size_t PageAt(int32_t page, int keyLength) {
  const size_t r = static_cast<size_t>(keyLength) * 62 + 564;
  return static_cast<size_t>(page) * r;
}

TEST_F(KeySearchTest, DamagedTreesFailWith10170AndTheEngineStaysUsable) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kNetwork, 16), 16);
  std::vector<Entry> entries = Numbered('D', 4, 200);
  const int L = 8;
  const FileInfo info = BuildKeyed("GOOD", {L, false}, entries, 5);
  const int32_t root = info.keys[0].rootPage;
  const std::string ix = ReadRaw("GOOD.IX");
  auto fresh = [&](const std::string& base) {
    std::filesystem::copy_file(Path("GOOD.DAT"), Path(base + ".DAT"));
    WriteRaw(base + ".IX", ix);
  };
  // Item count beyond the page size.
  fresh("COUNT");
  PatchI16("COUNT.IX", PageAt(root, L), 63);
  // Root beyond the end of the index file.
  fresh("ROOT");
  PatchI32("ROOT.IX", 16, 100000);
  // Root below 1.
  fresh("NEG");
  PatchI32("NEG.IX", 16, -3);
  // A cycle: the root's leftmost child is the root itself.
  fresh("CYCLE");
  PatchI32("CYCLE.IX", PageAt(root, L) + 2, root);
  // An item text longer than the key.
  fresh("TEXT");
  Patch("TEXT.IX", PageAt(root, L) + 6 + 8, std::string(1, static_cast<char>(L + 1)));
  // The index file cut in the middle of the root page.
  fresh("CUT");
  std::filesystem::resize_file(Path("CUT.IX"), PageAt(root, L) + 10);

  for (const char* base : {"COUNT", "ROOT", "NEG", "CYCLE", "TEXT", "CUT"}) {
    BlockHandle b = Open(base);
    ASSERT_NE(b, nullptr) << base;
    EXPECT_EQ(Find(b, "D0001"), -10170) << base;
    int32_t rec = 0;
    std::string text;
    engine.StepToNextKey(b, 1, rec, text);
    EXPECT_ERR(engine, EngineError::kInconsistent);
    // The block and the engine go on working.
    std::vector<uint8_t> slot(30);
    engine.ReadSlot(b, 1, slot);
    EXPECT_OK(engine);
    engine.CloseBlock(b);
    EXPECT_OK(engine);
  }
  BlockHandle good = Open("GOOD");
  EXPECT_EQ(Find(good, "D0150"), 150);
  engine.CloseBlock(good);
}

}  // namespace
}  // namespace kv::isam::testing
