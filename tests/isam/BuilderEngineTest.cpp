// Built trees read through the engine: every key is found by LookupKey, and
// StepToNextKey walks all entries in index order, across several tree levels.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "isam/Engine.h"
#include "support/TempDir.h"
#include "testkit/Builder.h"

namespace kv::testkit {
namespace {

namespace fs = std::filesystem;

using Entry = std::pair<std::string, int32_t>;

bool IndexLess(const Entry& a, const Entry& b) {
  const auto ua = reinterpret_cast<const unsigned char*>(a.first.data());
  const auto ub = reinterpret_cast<const unsigned char*>(b.first.data());
  if (std::lexicographical_compare(ua, ua + a.first.size(), ub, ub + b.first.size())) return true;
  return a.first == b.first && a.second < b.second;
}

class BuilderEngineTest : public test::TempDirTest {
 protected:
  BuilderEngineTest() : TempDirTest("kvbe") {}
};

TEST_F(BuilderEngineTest, EngineFindsEveryKeyAndStepsInOrder) {
  constexpr int32_t kRecords = 50000;
  FileLayout fileLayout;
  fileLayout.dataPath = dir_ + "/BIG.DAT";
  fileLayout.slotLength = 40;
  fileLayout.keys = {{12, false}, {6, true}};
  fileLayout.highestSlot = kRecords;
  std::vector<int32_t> deleted;
  for (int32_t n = 3; n <= kRecords; n += 41) deleted.push_back(n);
  fileLayout.freeChain = DescendingChain(deleted);
  std::vector<Entry> unique, dups;
  auto uniqueText = [](int32_t n) {
    // Texts of several lengths, some prefixes of others, and bytes above 0x7F.
    std::string t = std::to_string(static_cast<uint32_t>(n) * 2654435761u % 9999991u);
    if (n % 5 == 0) t += "\xA1";
    return t;
  };
  auto dupText = [](int32_t n) { return "D" + std::to_string(n % 613); };
  FileInfo info;
  ASSERT_EQ(BuildFile(fileLayout,
                      [&](int32_t n, bool isDeleted, std::span<uint8_t>, KeySink& keys) {
                        if (isDeleted) return;
                        keys.Add(1, uniqueText(n));
                        keys.Add(2, dupText(n));
                        unique.emplace_back(uniqueText(n), n);
                        dups.emplace_back(dupText(n), n);
                      },
                      &info),
            "");
  ASSERT_EQ(info.keys[0].height, 3);
  std::sort(unique.begin(), unique.end(), IndexLess);
  std::sort(dups.begin(), dups.end(), IndexLess);

  isam::Engine engine;
  engine.StartEngine(kv::isam::EngineMode::kSingleUser, 500);
  ASSERT_TRUE(engine.LastOpOK()) << engine.LastOpError();
  isam::BlockHandle block = nullptr;
  engine.OpenBlock(block, dir_ + "/BIG", {});
  ASSERT_TRUE(engine.LastOpOK()) << engine.LastOpError();

  for (const Entry& e : unique) {
    int32_t record = -1;
    engine.LookupKey(block, 1, record, e.first);
    ASSERT_TRUE(engine.LastOpOK()) << e.first << " error " << engine.LastOpError();
    ASSERT_EQ(record, e.second) << e.first;
  }
  // With duplicates, the lookup gives the entry with the lowest record number.
  for (size_t i = 0; i < dups.size(); ++i) {
    if (i > 0 && dups[i - 1].first == dups[i].first) continue;
    int32_t record = -1;
    engine.LookupKey(block, 2, record, dups[i].first);
    ASSERT_TRUE(engine.LastOpOK()) << dups[i].first << " error " << engine.LastOpError();
    ASSERT_EQ(record, dups[i].second) << dups[i].first;
  }
  int32_t missing = 0;
  engine.LookupKey(block, 1, missing, unique.front().first + "~~");
  EXPECT_FALSE(engine.LastOpOK());
  EXPECT_EQ(engine.LastError(), isam::EngineError::kNoMatchingKey);

  for (int key : {1, 2}) {
    const std::vector<Entry>& expected = key == 1 ? unique : dups;
    int32_t record = 0;
    engine.LookupKey(block, key, record, expected.front().first);
    ASSERT_TRUE(engine.LastOpOK());
    ASSERT_EQ(record, expected.front().second);
    for (size_t i = 1; i < expected.size(); ++i) {
      std::string text;
      engine.StepToNextKey(block, key, record, text);
      ASSERT_TRUE(engine.LastOpOK()) << "key " << key << " step " << i << " error " << engine.LastOpError();
      ASSERT_EQ(Entry(text, record), expected[i]) << "key " << key << " step " << i;
    }
    std::string text;
    engine.StepToNextKey(block, key, record, text);
    EXPECT_FALSE(engine.LastOpOK());
    EXPECT_EQ(engine.LastError(), isam::EngineError::kNoNextKey);
  }
  engine.CloseBlock(block);
  EXPECT_TRUE(engine.LastOpOK()) << engine.LastOpError();
  engine.StopEngine();
}


// A journal from the writer, left in the coordination file, is replayed by the next
// open: the page image, the key header and the data header (with its freed slot) land.
TEST_F(BuilderEngineTest, EngineReplaysAWrittenJournal) {
  FileLayout fileLayout;
  fileLayout.dataPath = dir_ + "/J.DAT";
  fileLayout.slotLength = 32;
  fileLayout.keys = {{8, false}};
  fileLayout.highestSlot = 10;
  ASSERT_EQ(BuildFile(fileLayout,
                      [](int32_t n, bool, std::span<uint8_t>, KeySink& keys) {
                        keys.Add(1, "R" + std::to_string(n));
                      }),
            "");
  JournalWriter journal;
  PageImage page;
  page.items = {{3, 0, "NEW1"}, {4, 0, "NEW2"}};
  journal.AddPage(1, 8, 1, page);
  KeyHeader key;
  key.highestPage = 1;
  key.sectionLength = SectionLength(8);
  key.rootPage = 1;
  key.entryCount = 2;
  journal.AddKeyHeader(1, key);
  journal.AddDataHeader(DataHeader{5, 1, 10, 32, 1, 0}, -1);
  journal.End();
  ASSERT_EQ(WriteBytes(dir_ + "/J.DIA", journal.Bytes()), "");

  isam::Engine engine;
  engine.StartEngine(kv::isam::EngineMode::kSingleUser, 500);
  isam::BlockHandle block = nullptr;
  engine.OpenBlock(block, dir_ + "/J", {.network = true});
  ASSERT_TRUE(engine.LastOpOK()) << engine.LastOpError();
  int32_t record = 0;
  engine.LookupKey(block, 1, record, "NEW2");
  EXPECT_TRUE(engine.LastOpOK()) << engine.LastOpError();
  EXPECT_EQ(record, 4);
  engine.LookupKey(block, 1, record, "R1");
  EXPECT_EQ(engine.LastError(), isam::EngineError::kNoMatchingKey);
  engine.CloseBlock(block);
  engine.StopEngine();

  std::string dat, ix, dia;
  ASSERT_EQ(ReadBytes(dir_ + "/J.DAT", dat), "");
  ASSERT_EQ(ReadBytes(dir_ + "/J.IX", ix), "");
  ASSERT_EQ(ReadBytes(dir_ + "/J.DIA", dia), "");
  const DataHeader h = DecodeDataHeader(reinterpret_cast<const uint8_t*>(dat.data()));
  EXPECT_EQ(h.freeHead, 5);
  EXPECT_EQ(h.freeCount, 1);
  EXPECT_EQ(dat.substr(5 * 32, 4), std::string(4, '\xFF'));  // slot 5 freed with link -1
  EXPECT_EQ(DecodeKeyHeader(reinterpret_cast<const uint8_t*>(ix.data())).entryCount, 2);
  // Emptied and laid out anew: one slot, as a block that shares with nobody has.
  ASSERT_EQ(dia.size(), CoordinationLayout(1, 1).size());
  EXPECT_EQ(dia.substr(1, 2), CoordinationLayout(1, 1).substr(1, 2));
}

}  // namespace
}  // namespace kv::testkit
