// The walk over one data file, through the real engine and access layer.
#include "modules/Walk.h"

#include <gtest/gtest.h>

#include <cstring>

#include "RepairFixture.h"
#include "isam/Coding.h"
#include "platform/Faults.h"
#include "ui/Dialogs.h"

namespace kv::modules {
namespace {

using testing::kNaN;
using testing::kSound;
using testing::RepairFixture;
using testing::RecordingProgress;
using testing::ResetLine;
using testing::TestRecord;

class WalkTest : public RepairFixture {
 protected:
  isam::BlockHandle Open(const std::string& name) {
    const DataFileDef& def = DataFile(name);
    isam::BlockHandle block = nullptr;
    EXPECT_TRUE(access_->OpenModuleFile(block, def.baseName, def.recordLength, def.keys.data(),
                                        static_cast<int>(def.keys.size())))
        << name;
    return block;
  }
  WalkStats Walk(const std::string& name) {
    isam::BlockHandle block = Open(name);
    WalkStats stats = WalkModuleFile(*access_, block, DataFile(name), progress_, &report_);
    access_->CloseModuleFile(block);
    return stats;
  }
};

auto Put(int offset, const uint8_t* value) {
  return [offset, value](uint8_t* r) { std::memcpy(r + offset, value, 10); };
}

TEST_F(WalkTest, SeveralBadFieldsAreResetAndCountedOnce) {
  Build("GLFILE01", {
                        {false, [](uint8_t* r) {
                           std::memcpy(r + 78, kNaN, 10);
                           std::memcpy(r + 88, kSound, 10);
                           std::memcpy(r + 1188, kNaN, 10);
                         }},
                        {true, Put(78, kNaN)},  // deleted: garbage stays
                        {false, Put(1188, kSound)},
                    });
  const std::string deletedBefore = Slot("GLFILE01", 2);
  const std::string soundBefore = Slot("GLFILE01", 3);

  WalkStats stats = Walk("GLFILE01");
  EXPECT_EQ(stats.visited, 2);
  EXPECT_EQ(stats.deleted, 1);
  EXPECT_EQ(stats.repaired, 1);
  EXPECT_EQ(progress_.RepairCount(), 1);
  EXPECT_EQ(progress_.Position(), 1);
  ASSERT_EQ(progress_.steps, std::vector<std::string>{"GL GLFILE01"});

  const std::string repaired = Slot("GLFILE01", 1);
  EXPECT_EQ(Field(repaired, 78), std::string(10, '\0'));
  EXPECT_EQ(Field(repaired, 88), Money(kSound));
  EXPECT_EQ(Field(repaired, 1188), std::string(10, '\0'));
  EXPECT_EQ(Slot("GLFILE01", 2), deletedBefore);
  EXPECT_EQ(Slot("GLFILE01", 3), soundBefore);

  ASSERT_EQ(report_.lines.size(), 2u);
  EXPECT_EQ(report_.lines[0].file, "GLFILE01");
  EXPECT_EQ(report_.lines[0].record, 1);
  EXPECT_EQ(report_.lines[0].offset, 78);
  EXPECT_EQ(report_.lines[0].original, Money(kNaN));
  EXPECT_TRUE(report_.lines[0].written);
  EXPECT_EQ(report_.lines[1].offset, 1188);
}

// The first and the last money field of every walked file are checked; a deleted
// record is never written; a sound record is not written.
TEST_F(WalkTest, FirstAndLastMoneyFieldOfEveryWalkedFile) {
  for (const DataFileDef* def : WalkedFiles()) {
    SCOPED_TRACE(std::string(def->baseName));
    const std::string name(def->baseName);
    const int first = def->moneyOffsets.front();
    const int last = def->moneyOffsets.back();
    Build(name, {
                    {false, Put(first, kNaN)},
                    {false, Put(last, kNaN)},
                    {true, [&](uint8_t* r) {
                       std::memcpy(r + first, kNaN, 10);
                       std::memcpy(r + last, kNaN, 10);
                     }},
                    {false, [&](uint8_t* r) {
                       for (uint16_t off : def->moneyOffsets) std::memcpy(r + off, kSound, 10);
                     }},
                });
    const std::string before = Read(name + ".DAT");
    const int32_t countBefore = progress_.RepairCount();
    Walk(name);
    EXPECT_EQ(progress_.RepairCount() - countBefore, 2);
    EXPECT_EQ(Field(Slot(name, 1), first), std::string(10, '\0'));
    EXPECT_EQ(Field(Slot(name, 2), last), std::string(10, '\0'));
    const size_t length = static_cast<size_t>(def->recordLength);
    const std::string after = Read(name + ".DAT");
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after.substr(3 * length), before.substr(3 * length));  // slots 3 and 4
  }
  EXPECT_EQ(progress_.Position(), 19);
}

TEST_F(WalkTest, HeaderOnlyFileStillAdvancesTheProgress) {
  Build("GLFILE04", {});
  WalkStats stats = Walk("GLFILE04");
  EXPECT_EQ(stats.visited, 0);
  EXPECT_EQ(progress_.Position(), 1);
  EXPECT_EQ(progress_.RepairCount(), 0);
}

// A header that promises more slots than the file holds: the missing slots cannot be
// read, are skipped, and nothing read for another record is written to them.
TEST_F(WalkTest, UnreadableRecordsAreSkipped) {
  Build("GLFILE03", {{false}, {false}, {false, Put(103, kNaN)}});
  testkit::DataHeader header;
  header.highestSlot = 5;
  header.slotLength = 220;
  header.keyCount = 5;
  ASSERT_EQ(testkit::PatchDataHeader(Path("GLFILE03.DAT"), header), "");
  const int64_t size = Size("GLFILE03.DAT");
  WalkStats stats = Walk("GLFILE03");
  EXPECT_EQ(stats.visited, 3);
  EXPECT_EQ(stats.unreadable, 2);
  EXPECT_EQ(stats.repaired, 1);
  EXPECT_EQ(Size("GLFILE03.DAT"), size);
  EXPECT_EQ(progress_.Position(), 1);
}

TEST_F(WalkTest, FailedWriteIsNotCountedAndReportedAsNotWritten) {
  Build("GLFILE03", {{false, Put(103, kNaN)}});
  isam::BlockHandle block = Open("GLFILE03");
  platform::SetFaultPlan({platform::Op::kWrite, 1, true, platform::FaultKind::kError, 5});
  WalkStats stats = WalkModuleFile(*access_, block, DataFile("GLFILE03"), progress_, &report_);
  platform::ClearFaults();
  access_->CloseModuleFile(block);
  EXPECT_EQ(stats.notWritten, 1);
  EXPECT_EQ(progress_.RepairCount(), 0);
  ASSERT_EQ(report_.lines.size(), 1u);
  EXPECT_EQ(report_.lines[0].offset, 103);
  EXPECT_FALSE(report_.lines[0].written);
  EXPECT_EQ(report_.lines[0].left, LeftReason::kWriteFailed);
  EXPECT_EQ(stats.left, 1);
  EXPECT_EQ(Field(Slot("GLFILE03", 1), 103), Money(kNaN));
}

// Every read and every write of the walk failing in turn, once or from then on: the
// damaged record is either written and counted as repaired, or left as it was and
// counted and reported as left with its reason - never counted when not written, never
// passed over in silence.
TEST_F(WalkTest, AFailingReadOrWriteNeverPassesForARepair) {
  using platform::Op;
  uint64_t clean[2] = {};
  {
    Build("GLFILE03", {{false}, {false, Put(103, kNaN)}, {false}});
    isam::BlockHandle block = Open("GLFILE03");
    const platform::CallCounts start = platform::GetCallCounts();
    WalkModuleFile(*access_, block, DataFile("GLFILE03"), progress_, &report_);
    const platform::CallCounts end = platform::GetCallCounts();
    for (Op op : {Op::kRead, Op::kWrite}) {
      const int i = op == Op::kRead ? 0 : 1;
      clean[i] = end.calls[static_cast<int>(op)] - start.calls[static_cast<int>(op)];
    }
    access_->CloseModuleFile(block);
  }
  ASSERT_GT(clean[0], 0u);
  ASSERT_GT(clean[1], 0u);
  int leftRuns = 0;
  for (Op op : {Op::kRead, Op::kWrite}) {
    for (const bool persistent : {false, true}) {
      for (uint64_t n = 1; n <= clean[op == Op::kRead ? 0 : 1]; ++n) {
        SCOPED_TRACE((op == Op::kRead ? "read #" : "write #") + std::to_string(n) + (persistent ? " on" : " once"));
        TearDown();
        SetUp();
        report_.lines.clear();
        report_.unread.clear();
        isam::AccessSettings settings = access_->Settings();
        settings.silentRetries = 0;
        settings.heldRecordWaitMs = 0;  // a lock that fails is tried no more
        access_->Configure(settings);
        RecordingProgress progress;
        Build("GLFILE03", {{false}, {false, Put(103, kNaN)}, {false}});
        isam::BlockHandle block = Open("GLFILE03");
        platform::SetFaultPlan({op, n, persistent, platform::FaultKind::kError, 5});
        bool ended = false;  // a read's lock question answered No: the run says it ended early
        WalkBuffers buffers;
        FileWalk walk(*access_, block, DataFile("GLFILE03"), progress, &report_, buffers);
        try {
          walk.Run();
        } catch (const ui::EndRun&) {
          ended = true;
        }
        const WalkStats& stats = walk.Stats();
        platform::ClearFaults();
        access_->CloseModuleFile(block);
        const bool repaired = Field(Slot("GLFILE03", 2), 103) == std::string(10, '\0');
        EXPECT_EQ(progress.RepairCount(), repaired ? 1 : 0);
        if (repaired) {
          EXPECT_EQ(stats.left, 0);
          continue;
        }
        if (ended) continue;
        ++leftRuns;
        EXPECT_EQ(Field(Slot("GLFILE03", 2), 103), Money(kNaN));
        EXPECT_GE(stats.left, 1);
        bool named = !report_.unread.empty();
        for (const ResetLine& line : report_.lines) named = named || (line.record == 2 && line.left != LeftReason::kNone);
        EXPECT_TRUE(named);
      }
    }
  }
  EXPECT_GT(leftRuns, 0);
}

}  // namespace
}  // namespace kv::modules
