// The repair write when the disk fails in the middle of it: a write that moves only
// part of the slot is undone, so the record is left as it was, never half repaired.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "IsamFixture.h"
#include "isam/Access.h"
#include "isam/Engine.h"
#include "platform/Faults.h"
#include "support/RecordingDialogs.h"
#include "testkit/Builder.h"

namespace kv::isam::testing {
namespace {

using AccessFaultTest = IsamFaultTest;

TEST_F(AccessFaultTest, AShortRepairWriteIsUndone) {
  testkit::FileSpec fileSpec;
  fileSpec.dataPath = Path("W.DAT");
  fileSpec.slotLength = 100;
  fileSpec.highestSlot = 2;
  ASSERT_EQ(testkit::BuildFile(fileSpec,
                               [](int32_t, bool, std::span<uint8_t> slot, testkit::KeySink&) {
                                 std::memset(slot.data() + 4, 0xAB, slot.size() - 4);
                               }),
            "");
  const std::string before = ReadRaw("W.DAT");
  Engine engine;
  engine.StartEngine(2, 16);
  test::RecordingDialogs dialogs;
  AccessLayer access(engine, dialogs, {});
  FileBlock* block = nullptr;
  engine.OpenBlock(block, Path("W"), false, false, false, true);
  ASSERT_OK(engine);

  // The next write moves half of what it is asked to (the slot of record 2); the one
  // after it, which puts the old bytes back, goes through.
  platform::FaultPlan plan;
  plan.op = platform::Op::kWrite;
  plan.nth = 1;
  plan.kind = platform::FaultKind::kShortCount;
  platform::SetFaultPlan(plan);
  std::vector<uint8_t> work(100);
  const RepairOutcome outcome = access.RepairRecordAt(block, 2, work, [](std::span<uint8_t> slot) {
    std::memset(slot.data() + 4, 0, slot.size() - 4);  // "repairs" every byte after the mark
    return 1;
  });
  platform::ClearFaults();
  EXPECT_EQ(outcome, RepairOutcome::kFailed);
  EXPECT_FALSE(access.AccessOK);
  engine.CloseBlock(block);
  engine.StopEngine();
  EXPECT_TRUE(ReadRaw("W.DAT") == before) << "record 2 was left half written";
}

}  // namespace
}  // namespace kv::isam::testing
