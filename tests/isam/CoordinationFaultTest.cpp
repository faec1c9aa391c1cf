// Failures of the operating system in the middle of the coordination protocol: a lock
// that fails with an I/O error is not waited out like another station's lock, and a
// replay whose refresh fails leaves a coordination file that still opens.
#include <gtest/gtest.h>

#include <chrono>

#include "IsamFixture.h"
#include "isam/Engine.h"
#include "platform/Faults.h"
#include "testkit/Builder.h"

namespace kv::isam::testing {
namespace {

class CoordinationFaultTest : public IsamFaultTest {
 protected:
  // BASE.DAT of `slots` records of 24 bytes, open as a network block.
  void Open(const std::string& base, int32_t slots) {
    BuildPlain(base + ".DAT", 24, slots);
    e.StartEngine(EngineMode::kNetwork, 16);
    e.OpenBlock(b, Path(base), {.network = true});
    ASSERT_OK(e);
  }

  Engine e;
  BlockHandle b = nullptr;
};

TEST_F(CoordinationFaultTest, ALockThatFailsWithAnIoErrorIsNotWaitedFor) {
  Open("L", 2);
  platform::FaultPlan plan;
  plan.op = platform::Op::kLock;
  plan.nth = 1;
  plan.persistent = true;
  plan.errnoValue = 5;  // EIO
  platform::SetFaultPlan(plan);
  const auto t0 = std::chrono::steady_clock::now();
  e.LockBlock(b);
  const EngineError blockError = e.LastError();
  e.LockSlot(b, 1);
  const EngineError slotError = e.LastError();
  const auto waited = std::chrono::steady_clock::now() - t0;
  platform::ClearFaults();
  EXPECT_EQ(blockError, EngineError::kLockFailed);
  EXPECT_EQ(slotError, EngineError::kRecordLockFailed);
  EXPECT_LT(waited, std::chrono::milliseconds(500)) << "an I/O error was waited out like a conflict";
  // Once the fault is gone the locks are had as usual.
  e.LockBlock(b);
  EXPECT_OK(e);
  e.UnlockBlock(b);
  e.CloseBlock(b);
  e.StopEngine();
}

TEST_F(CoordinationFaultTest, AReplayWhoseRefreshFailsLeavesASoundLayout) {
  Open("J", 3);
  const int64_t layoutLength = Size("J.DIA");

  // Another program crashed in the middle of a save and left its journal: the data
  // header as it is.
  testkit::JournalWriter j;
  testkit::DataHeader h;
  h.highestSlot = 3;
  h.slotLength = 24;
  // Twice, so the journal is longer than anything the lock reads of the slot layout
  // and each read below is one call.
  j.AddDataHeader(h);
  j.AddDataHeader(h);
  j.End();
  ASSERT_GT(static_cast<int64_t>(j.Bytes().size()), layoutLength);
  WriteRaw("J.DIA", j.Bytes());

  // The lock reads the coordination file (1), the journal (2), then the data header
  // again for the refresh (3), which fails.
  platform::SetFaultPlan({.op = platform::Op::kRead, .nth = 3});
  e.LockBlock(b);
  EXPECT_FALSE(e.LastOpOK());
  platform::ClearFaults();

  // The file is the slot layout again, not a run of zeros that reads as a bad journal.
  const std::string dia = ReadRaw("J.DIA");
  EXPECT_EQ(static_cast<int64_t>(dia.size()), layoutLength);
  EXPECT_EQ(I16(dia, 1), 2000);
  e.LockBlock(b);
  EXPECT_OK(e);
  e.UnlockBlock(b);
  e.CloseBlock(b);
  Engine other;
  other.StartEngine(EngineMode::kNetwork, 16);
  BlockHandle ob = nullptr;
  other.OpenBlock(ob, Path("J"), {.network = true});
  EXPECT_OK(other);
  other.StopEngine();
  e.StopEngine();
}

}  // namespace
}  // namespace kv::isam::testing
