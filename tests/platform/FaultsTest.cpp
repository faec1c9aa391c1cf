#include "platform/Faults.h"

#include <chrono>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "TempDir.h"
#include "support/Host.h"
#include "platform/File.h"

namespace kv::platform {
namespace {

class FaultsTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    ASSERT_EQ(File::Create(Path("F.DAT"), IfExists::kReplace, file_), OsError::kNone);
    size_t done = 0;
    ASSERT_EQ(file_.WriteAt(0, "0123456789", 10, done), OsError::kNone);
  }
  void TearDown() override {
    ClearFaults();
    SetCallDelayMicros(0);
    TempDirTest::TearDown();
  }
  OsStatus ReadOne(size_t* doneOut = nullptr) {
    char buf[10];
    size_t done = 0;
    const OsStatus err = file_.ReadAt(0, buf, sizeof buf, done);
    if (doneOut) *doneOut = done;
    return err;
  }
  File file_;
};

TEST_F(FaultsTest, NthCallOnceOrFromThenOn) {
  SetFaultPlan({Op::kRead, 3, false, FaultKind::kError, EIO});
  EXPECT_EQ(ReadOne(), OsError::kNone);
  EXPECT_EQ(ReadOne(), OsError::kNone);
  EXPECT_EQ(ReadOne(), OsError::kGenFailure);
  EXPECT_EQ(ReadOne(), OsError::kNone);
  EXPECT_EQ(FaultsInjected(), 1u);

  SetFaultPlan({Op::kRead, 2, true, FaultKind::kError, ENOSPC});
  EXPECT_EQ(ReadOne(), OsError::kNone);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadOne(), OsError::kDiskFull);
  EXPECT_EQ(FaultsInjected(), 3u);
  size_t done = 0;
  EXPECT_EQ(file_.WriteAt(0, "x", 1, done), OsError::kNone);  // other operations are untouched

  ClearFaults();
  EXPECT_EQ(ReadOne(), OsError::kNone);

  // Locks, opens and the rest fail the same way.
  SetFaultPlan({Op::kLock, 1, false, FaultKind::kError, EIO});
  EXPECT_EQ(file_.LockRange(0, 1), OsError::kGenFailure);
  EXPECT_EQ(file_.LockRange(0, 1), OsError::kNone);
  SetFaultPlan({Op::kOpen, 1, false, FaultKind::kError, EMFILE});
  File other;
  EXPECT_EQ(File::Open(Path("F.DAT"), Access::kReadOnly, Share::kShared, other), OsError::kTooManyOpenFiles);
}

TEST_F(FaultsTest, ShortCountMovesHalf) {
  SetFaultPlan({Op::kRead, 1, false, FaultKind::kShortCount, 0});
  size_t done = 0;
  EXPECT_EQ(ReadOne(&done), OsError::kNone);
  EXPECT_EQ(done, 5u);
  EXPECT_EQ(ReadOne(&done), OsError::kNone);
  EXPECT_EQ(done, 10u);

  SetFaultPlan({Op::kWrite, 1, false, FaultKind::kShortCount, 0});
  EXPECT_EQ(file_.WriteAt(0, "abcdefgh", 8, done), OsError::kNone);
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(ReadRaw("F.DAT"), "abcd456789");

  // An operation that moves no bytes fails instead.
  SetFaultPlan({Op::kFlush, 1, false, FaultKind::kShortCount, EIO});
  EXPECT_EQ(file_.Flush(), OsError::kGenFailure);
}

TEST_F(FaultsTest, EveryCallIsCounted) {
  ResetCallCounts();
  EXPECT_EQ(ReadOne(), OsError::kNone);
  EXPECT_EQ(file_.LockRange(0, 4), OsError::kNone);
  EXPECT_EQ(file_.UnlockRange(0, 4), OsError::kNone);
  uint64_t size = 0;
  EXPECT_EQ(file_.Size(size), OsError::kNone);
  CallCounts c = GetCallCounts();
  EXPECT_EQ(c.calls[static_cast<int>(Op::kRead)], 1u);
  EXPECT_EQ(c.calls[static_cast<int>(Op::kLock)], 1u);
  EXPECT_EQ(c.calls[static_cast<int>(Op::kUnlock)], 1u);
  EXPECT_EQ(c.calls[static_cast<int>(Op::kSize)], 1u);
  EXPECT_EQ(c.Total(), 4u);

  // An open of an existing name is one call; the name lookup only starts on a miss.
  ResetCallCounts();
  File other;
  ASSERT_EQ(File::Open(Path("F.DAT"), Access::kReadWrite, Share::kShared, other), OsError::kNone);
  EXPECT_EQ(GetCallCounts().calls[static_cast<int>(Op::kOpen)], 1u);
}

TEST_F(FaultsTest, SimulatedDelay) {
  uint64_t before = DelayedCalls();
  SetCallDelayMicros(2000);
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ReadOne(), OsError::kNone);
  EXPECT_EQ(file_.LockRange(0, 1), OsError::kNone);
  auto took = std::chrono::steady_clock::now() - start;
  SetCallDelayMicros(0);
  EXPECT_EQ(DelayedCalls() - before, 6u);
  EXPECT_GE(took, std::chrono::microseconds(12000));
  EXPECT_EQ(ReadOne(), OsError::kNone);
  EXPECT_EQ(DelayedCalls() - before, 6u);
}

// The delay is also taken from KVFIX_SIM_DELAY_US when the process starts using the
// platform; checked in a fresh process, as this one has read its environment already.
TEST(FaultsEnvTest, DelayFromEnvironment) {
  if (std::getenv("KV_CHILD_DELAY_CHECK") != nullptr) {
    // Runs in the child started below.
    File f;
    (void)File::Open("/", Access::kReadOnly, Share::kShared, f);  // only the delay it passes counts
    std::_Exit(DelayedCalls() >= 1 ? 0 : 3);
  }
  if (const std::string why = kv::test::NoForkReason(); !why.empty()) GTEST_SKIP() << why;
  const int pid = kv::test::ForkProcess();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    kv::test::SetEnvVar("KVFIX_SIM_DELAY_US", "100");
    kv::test::SetEnvVar("KV_CHILD_DELAY_CHECK", "1");
    kv::test::ExecProgram("/proc/self/exe", {"test_platform", "--gtest_filter=FaultsEnvTest.DelayFromEnvironment"});
  }
  EXPECT_EQ(kv::test::WaitForExit(pid), 0);
}

}  // namespace
}  // namespace kv::platform
