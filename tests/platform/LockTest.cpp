#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "TempDir.h"
#include "support/Host.h"
#include "platform/Faults.h"
#include "platform/File.h"

namespace kv::platform {
namespace {

// The ranges the engine locks: open lock, a station claim, the exclusive-use test
// (which ends 65535 bytes beyond 2^31 - 1) and a record lock far beyond the end.
constexpr uint64_t kStationClaim = 2147483647 - 7;
constexpr uint64_t kExclusiveUse = 2147418113;

class LockTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    WriteRaw("L.DIA", std::string(54, '\0'));
    name_ = Path("L.DIA");
    ASSERT_EQ(File::Open(name_, Access::kReadWrite, Share::kShared, a_), OsError::kNone);
    ASSERT_EQ(File::Open(name_, Access::kReadWrite, Share::kShared, b_), OsError::kNone);
  }
  std::string name_;
  File a_, b_;
};

TEST_F(LockTest, TwoFilesOfOneProcessConflict) {
  struct Range {
    uint64_t offset, length;
  } ranges[] = {{3, 1}, {3, 51}, {kStationClaim, 1}, {kExclusiveUse, 65535}, {1000000 * 1248ULL, 4}};
  for (const Range& r : ranges) {
    SCOPED_TRACE(r.offset);
    ASSERT_EQ(a_.LockRange(r.offset, r.length), OsError::kNone);
    EXPECT_EQ(b_.LockRange(r.offset, r.length), OsError::kLockViolation);
    EXPECT_EQ(b_.LockRange(r.offset + r.length - 1, 10), OsError::kLockViolation);  // overlap at the end
    EXPECT_EQ(b_.LockRange(r.offset + r.length, 1), OsError::kNone);                // adjacent: free
    ASSERT_EQ(a_.UnlockRange(r.offset, r.length), OsError::kNone);
    EXPECT_EQ(b_.LockRange(r.offset, r.length), OsError::kNone);
    if (kv::test::HostIsWindows()) {  // there an unlock names exactly one range that was locked
      ASSERT_EQ(b_.UnlockRange(r.offset, r.length), OsError::kNone);
      ASSERT_EQ(b_.UnlockRange(r.offset + r.length, 1), OsError::kNone);
    } else {
      ASSERT_EQ(b_.UnlockRange(r.offset, r.length + 1), OsError::kNone);
    }
  }
  // The exclusive-use range covers every station claim: one claim blocks the test.
  ASSERT_EQ(a_.LockRange(kStationClaim, 1), OsError::kNone);
  EXPECT_EQ(b_.LockRange(kExclusiveUse, 65535), OsError::kLockViolation);
}

TEST_F(LockTest, ClosingOneFileKeepsTheLocksOfAnother) {
  File c;
  ASSERT_EQ(File::Open(name_, Access::kReadWrite, Share::kShared, c), OsError::kNone);
  ASSERT_EQ(a_.LockRange(10, 4), OsError::kNone);
  ASSERT_EQ(c.LockRange(20, 4), OsError::kNone);
  ASSERT_EQ(c.Close(), OsError::kNone);  // drops c's lock only
  EXPECT_EQ(b_.LockRange(10, 4), OsError::kLockViolation);
  EXPECT_EQ(b_.LockRange(20, 4), OsError::kNone);
}

TEST_F(LockTest, ReadOnlyFilesTakeReadLocks) {
  File ro1, ro2;
  ASSERT_EQ(File::Open(name_, Access::kReadOnly, Share::kShared, ro1), OsError::kNone);
  ASSERT_EQ(File::Open(name_, Access::kReadOnly, Share::kShared, ro2), OsError::kNone);
  ASSERT_EQ(ro1.LockRange(5, 1), OsError::kNone);
  EXPECT_EQ(a_.LockRange(5, 1), OsError::kLockViolation);  // a writer is kept out
  EXPECT_EQ(ro2.LockRange(5, 1), OsError::kNone);          // two readers share
  ASSERT_EQ(a_.LockRange(6, 1), OsError::kNone);
  EXPECT_EQ(ro1.LockRange(6, 1), OsError::kLockViolation);
}

TEST_F(LockTest, ZeroLengthLocksNothing) {
  ASSERT_EQ(a_.LockRange(0, 0), OsError::kNone);
  EXPECT_EQ(b_.LockRange(0, 1000), OsError::kNone);  // fcntl's 0 would have meant "to the end"
}

// A lock held by another process blocks until that process releases it or ends.
TEST_F(LockTest, ChildProcessLockBlocksParent) {
  if (const std::string why = kv::test::NoForkReason(); !why.empty()) GTEST_SKIP() << why;
  for (bool exitWithoutUnlock : {false, true}) {
    SCOPED_TRACE(exitWithoutUnlock);
    int toChild[2], toParent[2];
    ASSERT_TRUE(kv::test::MakePipe(toChild));
    ASSERT_TRUE(kv::test::MakePipe(toParent));
    const int pid = kv::test::ForkProcess();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // The child opens its own description: one inherited from the parent would share
      // the parent's locks.
      File own;
      char c = File::Open(name_, Access::kReadWrite, Share::kShared, own) == OsError::kNone &&
                       own.LockRange(kStationClaim, 1) == OsError::kNone
                   ? 'L'
                   : 'E';
      (void)!::write(toParent[1], &c, 1);
      (void)!::read(toChild[0], &c, 1);
      if (!exitWithoutUnlock) {
        c = own.UnlockRange(kStationClaim, 1) == OsError::kNone ? 'U' : 'E';
        (void)!::write(toParent[1], &c, 1);
        (void)!::read(toChild[0], &c, 1);
      }
      kv::test::ExitChild(0);
    }
    char c = 0;
    ASSERT_EQ(::read(toParent[0], &c, 1), 1);
    ASSERT_EQ(c, 'L');
    EXPECT_EQ(a_.LockRange(kStationClaim, 1), OsError::kLockViolation);
    EXPECT_EQ(a_.LockRange(kExclusiveUse, 65535), OsError::kLockViolation);
    EXPECT_EQ(a_.LockRange(kStationClaim - 1, 1), OsError::kNone);
    c = 'g';
    ASSERT_EQ(::write(toChild[1], &c, 1), 1);
    if (!exitWithoutUnlock) {
      ASSERT_EQ(::read(toParent[0], &c, 1), 1);
      EXPECT_EQ(c, 'U');
      EXPECT_EQ(a_.LockRange(kStationClaim, 1), OsError::kNone);
      ASSERT_EQ(::write(toChild[1], &c, 1), 1);
    }
    ASSERT_EQ(kv::test::WaitForExit(pid), 0);
    EXPECT_EQ(a_.LockRange(kStationClaim, 1), OsError::kNone);
    EXPECT_EQ(a_.UnlockRange(kStationClaim - 1, 2), OsError::kNone);
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) ::close(fd);
  }
}

TEST_F(LockTest, LocksBeyondEndOfFileLeaveItsSizeAlone) {
  ASSERT_EQ(a_.LockRange(kExclusiveUse, 65535), OsError::kNone);
  uint64_t size = 0;
  ASSERT_EQ(a_.Size(size), OsError::kNone);
  EXPECT_EQ(size, 54u);
  EXPECT_EQ(a_.LockRange(UINT64_MAX - 1, 4), OsError::kInvalidAccess);  // beyond what an offset holds
}

// Windows' rule, imposed in the test mode: a transfer over another file's lock is refused
// with 33 (a read only by a write lock), the file's own locks and the bytes beside a
// lock are free. On Windows the system itself decides (and Wine does not), so the rows
// hold for the POSIX half only.
TEST_F(LockTest, WindowsRuleRefusesTransfersOverAnothersLock) {
  if (kv::test::HostIsWindows()) GTEST_SKIP() << "the system's own rule applies";
  const bool was = WindowsLockRule();
  SetWindowsLockRule(true);
  File ro;
  ASSERT_EQ(File::Open(name_, Access::kReadOnly, Share::kShared, ro), OsError::kNone);
  char buf[8] = {};
  size_t done = 0;
  ASSERT_EQ(a_.LockRange(10, 4), OsError::kNone);
  struct Row {
    File* file;
    bool write;
    uint64_t offset;
    size_t length;
    OsError want;
  } rows[] = {
      {&b_, false, 10, 4, OsError::kLockViolation}, {&b_, false, 6, 5, OsError::kLockViolation},
      {&b_, false, 13, 8, OsError::kLockViolation}, {&b_, true, 12, 1, OsError::kLockViolation},
      {&b_, false, 14, 8, OsError::kNone},          {&b_, false, 2, 8, OsError::kNone},
      {&a_, false, 8, 8, OsError::kNone},           {&a_, true, 10, 4, OsError::kNone},
      {&ro, false, 11, 1, OsError::kLockViolation},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(::testing::Message() << r.offset << "+" << r.length << (r.write ? " write" : " read"));
    const OsStatus got = r.write ? r.file->WriteAt(r.offset, buf, r.length, done) : r.file->ReadAt(r.offset, buf, r.length, done);
    EXPECT_EQ(got, r.want);
    if (r.want != OsError::kNone) {
      EXPECT_EQ(done, 0u);
    }
  }
  ASSERT_EQ(a_.UnlockRange(10, 4), OsError::kNone);
  // A read-only file's lock is a read lock: reads pass it, writes do not.
  ASSERT_EQ(ro.LockRange(20, 4), OsError::kNone);
  EXPECT_EQ(b_.ReadAt(20, buf, 4, done), OsError::kNone);
  EXPECT_EQ(b_.WriteAt(20, buf, 4, done), OsError::kLockViolation);
  SetWindowsLockRule(false);
  EXPECT_EQ(b_.WriteAt(20, buf, 4, done), OsError::kNone);  // advisory again
  SetWindowsLockRule(was);
}

}  // namespace
}  // namespace kv::platform
