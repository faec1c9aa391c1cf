#include "modules/ModuleTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "modules/ModulePlans.h"

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

// A plan that names a file of the wrong kind, walks a file it never opened, leaves one
// open, or writes back a table or record it never read (emptying the file) is a fault.
TEST(ModuleTables, PlansOpenWhatTheyWalkAndWriteOnlyWhatTheyRead) {
  std::set<std::string_view> openInRun;
  for (int m = 0; m < kModuleCount; ++m) {
    const ModulePlan& plan = PlanOf(static_cast<Module>(m));
    SCOPED_TRACE(std::string(ModuleCode(plan.module)));
    EXPECT_EQ(plan.module, static_cast<Module>(m));
    std::multiset<std::string_view> opened, read, closed;
    for (const auto* steps : {&plan.open, &plan.close}) {
      for (const PlanStep& step : *steps) {
        const bool dataStep = step.step == Step::kOpen || step.step == Step::kClose;
        EXPECT_EQ(step.call != nullptr, step.step == Step::kCall);
        for (std::string_view name : StepFiles(step)) {
          SCOPED_TRACE(std::string(name));
          const SideFileDef* side = FindSideFile(name);
          if (dataStep || step.step == Step::kCall) {
            EXPECT_TRUE(FindDataFile(name) != nullptr || (side && step.step == Step::kCall));
          } else {
            ASSERT_NE(side, nullptr);
            EXPECT_EQ(side->informationRecord, FindInfoLayout(name) != nullptr);
          }
          switch (step.step) {
            case Step::kOpen: opened.insert(name); openInRun.insert(name); break;
            case Step::kClose: closed.insert(name); openInRun.erase(name); break;
            case Step::kReadInfo: case Step::kRead: case Step::kReadOrEmpty: case Step::kCall:
              EXPECT_EQ(steps, &plan.open);
              read.insert(name);
              break;
            case Step::kStampAndWrite:
              EXPECT_GE(FindInfoLayout(name)->closeDate, 0);
              [[fallthrough]];
            case Step::kWriteInfo: case Step::kWriteInfoOnce: case Step::kWriteBack:
            case Step::kWriteBook:
              EXPECT_EQ(read.count(name), 1u) << "written back without being read";
              break;
            case Step::kRelease: break;
          }
          if (side && side->informationRecord) {
            EXPECT_TRUE(step.step != Step::kRead && step.step != Step::kWriteBack &&
                        step.step != Step::kRelease && step.step != Step::kCall);
          }
        }
      }
    }
    for (std::string_view name : opened) {
      EXPECT_EQ(opened.count(name), 1u) << name;
      // IC leaves GLFILE01 open on purpose; the next module that books closes it.
      const bool keptOpen = plan.module == Module::kIC && name == "GLFILE01";
      EXPECT_EQ(closed.count(name), keptOpen ? 0u : 1u) << name;
    }
    for (const DataFileDef* walked : WalkedFiles(plan.module)) {
      EXPECT_EQ(opened.count(walked->baseName), 1u) << walked->baseName;
    }
  }
  EXPECT_TRUE(openInRun.empty());
}

// Defaults and the close date lie inside their record, none overlapping another.
TEST(ModuleTables, InformationRecordDefaultsFitTheirRecord) {
  for (int m = 0; m < kModuleCount; ++m) {
    const InfoLayout& info = PlanOf(static_cast<Module>(m)).info;
    SCOPED_TRACE(std::string(info.fileName));
    const SideFileDef& def = SideFile(info.fileName);
    EXPECT_TRUE(def.informationRecord);
    EXPECT_EQ(def.module, static_cast<Module>(m)) << "InfoLayoutOf finds a layout by its file's module";
    EXPECT_LE(info.closeDate + 9, def.recordLength);
    std::vector<bool> taken(static_cast<size_t>(def.recordLength), false);
    for (const FieldDefault& field : info.defaults) {
      const int width = field.extended ? 10 : 1;
      ASSERT_LE(field.offset + width, def.recordLength) << field.offset;
      EXPECT_FALSE(field.what.empty());
      for (int k = 0; k < width; ++k) {
        EXPECT_FALSE(taken[field.offset + static_cast<size_t>(k)]) << field.offset;
        taken[field.offset + static_cast<size_t>(k)] = true;
      }
    }
  }
}

}  // namespace
}  // namespace kv::modules
