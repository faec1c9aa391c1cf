// The repair write when the disk fails in the middle of it: a write that moves only
// part of the slot is undone, so the record is left as it was, never half repaired.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "IsamFixture.h"
#include "isam/Access.h"
#include "isam/Engine.h"
#include "platform/Faults.h"
#include "support/RecordingDialogs.h"
#include "testkit/Builder.h"
#include "testkit/Writes.h"

namespace kv::isam::testing {
namespace {

class AccessFaultTest : public IsamFaultTest {
 protected:
  // A network block on BASE.DAT, with the access layer over its engine.
  void Open(const std::string& base) {
    engine.StartEngine(EngineMode::kNetwork, 16);
    engine.OpenBlock(block, Path(base), {.network = true});
    ASSERT_OK(engine);
  }

  Engine engine;
  test::RecordingDialogs dialogs;
  AccessLayer access{engine, dialogs, {}};
  BlockHandle block = nullptr;
};

TEST_F(AccessFaultTest, AShortRepairWriteIsUndone) {
  BuildPlain("W.DAT", 100, 2, 0xAB);
  const std::string before = ReadRaw("W.DAT");
  Open("W");

  // The next write moves half of what it is asked to (the slot of record 2); the one
  // after it, which puts the old bytes back, goes through.
  platform::FaultPlan plan;
  plan.op = platform::Op::kWrite;
  plan.nth = 1;
  plan.kind = platform::FaultKind::kShortCount;
  platform::SetFaultPlan(plan);
  std::vector<uint8_t> work(100);
  const RepairOutcome outcome = testkit::RepairRecordAt(access, block, 2, work, [](std::span<uint8_t> slot) {
    std::memset(slot.data() + 4, 0, slot.size() - 4);  // "repairs" every byte after the mark
    return 1;
  });
  platform::ClearFaults();
  EXPECT_EQ(outcome, RepairOutcome::kFailed);
  EXPECT_FALSE(Succeeded(outcome));
  engine.CloseBlock(block);
  engine.StopEngine();
  EXPECT_TRUE(ReadRaw("W.DAT") == before) << "record 2 was left half written";
}

// A read of a range another handle has locked fails with 33 where locks are mandatory
// (Windows), and with the same number from the platform's gate here. The record read is
// retried and succeeds. In a repair a refused lock read sets the record aside as held
// (the walk tries it again in its rounds), and a read refused under the repair's own
// locks ends that record's repair with nothing written: left as READ FAILED, never
// counted as damage it made.
TEST_F(AccessFaultTest, AReadRefusedByAnotherHoldersLockIsRetried) {
  BuildPlain("M.DAT", 100, 2, 0xAB);
  Open("M");
  const struct {
    const char* what;
    uint64_t nth;
    RepairOutcome repair;
  } rows[] = {{"first read", 1, RepairOutcome::kLocked}, {"second read", 2, RepairOutcome::kReadFailed}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    platform::FaultPlan plan;
    plan.op = platform::Op::kRead;
    plan.nth = row.nth;
    plan.errnoValue = EAGAIN;  // the lock violation, 33, from either half of the platform
    std::vector<uint8_t> buffer(100);
    const std::string before = ReadRaw("M.DAT");
    platform::SetFaultPlan(plan);
    const bool read = access.ReadRecordAt(block, 1, buffer);
    EXPECT_EQ(platform::FaultsInjected(), 1u);
    platform::ClearFaults();
    EXPECT_TRUE(read);
    EXPECT_EQ(buffer[50], 0xAB);

    platform::SetFaultPlan(plan);
    const RepairOutcome outcome = testkit::RepairRecordAt(access, block, 2, buffer, [](std::span<uint8_t> slot) {
      std::memset(slot.data() + 4, 0, slot.size() - 4);
      return 1;
    });
    EXPECT_EQ(platform::FaultsInjected(), 1u);
    platform::ClearFaults();
    EXPECT_EQ(outcome, row.repair);
    const std::string after = ReadRaw("M.DAT");
    if (row.repair == RepairOutcome::kWritten) EXPECT_EQ(static_cast<uint8_t>(after[2 * 100 + 50]), 0);
    else EXPECT_TRUE(after == before) << "a refused repair changed the file";
  }
  engine.CloseBlock(block);
  engine.StopEngine();
}

}  // namespace
}  // namespace kv::isam::testing
