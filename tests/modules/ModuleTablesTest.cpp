#include "modules/ModuleTables.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv::modules {
namespace {

TEST(ModuleTables, WalkedFilesInRunOrderWithTheirFieldCounts) {
  struct Row {
    const char* name;
    size_t count;
    int first;
    int last;
  };
  const Row expected[] = {
      {"GLFILE01", 112, 78, 1188}, {"GLFILE03", 1, 103, 103},  {"GLFILE04", 1, 54, 54},
      {"ICFILE01", 261, 100, 2791}, {"ICFILE02", 4, 38, 126},  {"ICFILE04", 261, 100, 2791},
      {"ICFILE05", 3, 37, 110},    {"APFILE01", 105, 321, 1382}, {"APFILE02", 5, 66, 208},
      {"APFILE03", 2, 35, 63},     {"APFILE04", 1, 67, 67},     {"ARFILE01", 105, 321, 1382},
      {"ARFILE02", 5, 66, 257},    {"ARFILE03", 2, 35, 63},     {"ARFILE04", 1, 67, 67},
      {"BIFILE01", 4, 264, 468},   {"BIFILE02", 6, 112, 261},   {"POFILE01", 3, 60, 234},
      {"POFILE02", 6, 120, 260},
  };
  auto walked = WalkedFiles();
  ASSERT_EQ(walked.size(), std::size(expected));
  for (size_t i = 0; i < walked.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(walked[i]->baseName, expected[i].name);
    EXPECT_EQ(walked[i]->moneyOffsets.size(), expected[i].count);
    EXPECT_EQ(walked[i]->moneyOffsets.front(), expected[i].first);
    EXPECT_EQ(walked[i]->moneyOffsets.back(), expected[i].last);
  }
}

TEST(ModuleTables, EveryMoneyFieldLiesInsideItsRecordAndAfterTheLiveMark) {
  for (const DataFileDef& def : AllDataFiles()) {
    SCOPED_TRACE(std::string(def.baseName));
    EXPECT_EQ(def.walkOrder != 0, !def.moneyOffsets.empty());
    int previous = 3;  // bytes 0..3 hold the live mark / free-chain link
    for (uint16_t off : def.moneyOffsets) {
      EXPECT_GT(off, previous);
      EXPECT_LE(off + 10, def.recordLength);
      previous = off;
    }
    EXPECT_GE(def.keys.size(), 1u);
    for (const isam::KeyDesc& key : def.keys) {
      EXPECT_GE(key.length, 1);
      EXPECT_LE(key.length, isam::kMaxKeyLength);
    }
  }
}

TEST(ModuleTables, IcMasterRunsAreExpandedExactly) {
  auto money = DataFile("ICFILE01").moneyOffsets;
  ASSERT_EQ(money.size(), 261u);
  const std::vector<uint16_t> head(money.begin(), money.begin() + 5);
  EXPECT_EQ(head, (std::vector<uint16_t>{100, 110, 120, 205, 215}));
  EXPECT_EQ(money[15], 325);
  EXPECT_EQ(money[16], 349);
  EXPECT_EQ(money[258], 2769);
  EXPECT_EQ(money[259], 2781);
  EXPECT_EQ(money[260], 2791);
}

TEST(ModuleTables, PerModuleWalksMatchTheProgressSteps) {
  const int steps[] = {3, 4, 4, 4, 2, 2};
  int total = 0;
  for (int m = 0; m < kModuleCount; ++m) {
    auto files = WalkedFiles(static_cast<Module>(m));
    EXPECT_EQ(static_cast<int>(files.size()), steps[m]);
    for (size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(files[i]->module, static_cast<Module>(m));
      EXPECT_EQ(files[i]->walkOrder, static_cast<int>(i) + 1);
    }
    total += steps[m];
  }
  EXPECT_EQ(total, 19);
}

TEST(ModuleTables, LookupByName) {
  const DataFileDef* gl02 = FindDataFile("GLFILE02");
  ASSERT_NE(gl02, nullptr);
  EXPECT_EQ(gl02->recordLength, 128);
  EXPECT_EQ(gl02->walkOrder, 0);
  EXPECT_EQ(FindDataFile("GLFILE09"), nullptr);
  EXPECT_EQ(FindDataFile("glfile01"), nullptr);
  EXPECT_EQ(AllDataFiles().size(), 31u);

  struct Side {
    const char* name;
    int length;
    int capacity;
    int slots;
  };
  const Side sides[] = {
      {"GLINFO.DAT", 2406, 1, 1},  {"GLBOOK.DAT", 230, 30, 30}, {"GLTBUF.DAT", 220, 19, 19},
      {"GLTBFS.DAT", 4, 25, 25},   {"ICINFO.DAT", 388, 1, 1},   {"ICDPMT.DAT", 63, 90, 101},
      {"ICSUBW.DAT", 141, 150, 151}, {"APINFO.DAT", 1107, 1, 1}, {"APTYPE.DAT", 52, 60, 60},
      {"APTBUF.DAT", 261, 10, 10}, {"ARINFO.DAT", 1107, 1, 1},  {"ARTBUF.DAT", 301, 10, 10},
      {"ARTYPE.DAT", 52, 60, 60},  {"BIINFO.DAT", 960, 1, 1},   {"POINFO.DAT", 964, 1, 1},
  };
  EXPECT_EQ(AllSideFiles().size(), std::size(sides));
  for (const Side& s : sides) {
    const SideFileDef* def = FindSideFile(s.name);
    ASSERT_NE(def, nullptr) << s.name;
    EXPECT_EQ(def->recordLength, s.length) << s.name;
    EXPECT_EQ(def->capacity, s.capacity) << s.name;
    EXPECT_EQ(def->tableSlots, s.slots) << s.name;
    EXPECT_EQ(def->firstSlot + def->capacity <= def->tableSlots, true) << s.name;
  }
}

}  // namespace
}  // namespace kv::modules
