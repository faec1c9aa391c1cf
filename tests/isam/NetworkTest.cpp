// Two or more stations on the same files: engines in this process (each open file is
// its own lock owner) and a forked process for the waiting rules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "IsamFixture.h"
#include "support/Host.h"
#include "isam/Engine.h"
#include "platform/Faults.h"
#include "platform/File.h"
#include "platform/System.h"
#include "testkit/Builder.h"

namespace kv::isam::testing {
namespace {

using testkit::BuildFile;
using testkit::FileLayout;
using testkit::KeySink;

using Clock = std::chrono::steady_clock;
int64_t MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Lock calls this process has made (every thread): how a test sees another thread
// reach a lock it has to wait for, instead of sleeping and hoping it got there.
uint64_t LockCalls() {
  return platform::GetCallCounts().calls[static_cast<int>(platform::Op::kLock)];
}
bool WaitForLockCalls(uint64_t atLeast) {
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (LockCalls() < atLeast) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class NetworkTest : public IsamTest {
 protected:
  void SetUp() override {
    IsamTest::SetUp();
    ASSERT_EQ(a.StartEngine(EngineMode::kNetwork, 16), 16);
    ASSERT_EQ(b.StartEngine(EngineMode::kNetwork, 16), 16);
  }
  void TearDown() override {
    if (a.Initialised()) a.StopEngine();
    if (b.Initialised()) b.StopEngine();
    IsamTest::TearDown();
  }

  // Records 1..50; record r carries key text "K<r>" (or "K<51-r>" when flipped).
  void Build(const std::string& base, bool flipped = false) {
    FileLayout fileLayout;
    fileLayout.dataPath = Path(base + ".DAT");
    fileLayout.slotLength = 30;
    fileLayout.keys = {{8, false}};
    fileLayout.highestSlot = 50;
    ASSERT_EQ(BuildFile(fileLayout,
                        [&](int32_t rec, bool, std::span<uint8_t> slot, KeySink& sink) {
                          PutI32(slot.data() + 4, rec);
                          sink.Add(1, "K" + std::to_string(flipped ? 51 - rec : rec));
                        }),
              "");
  }

  BlockHandle Open(Engine& e, const std::string& base) {
    BlockHandle blk = nullptr;
    e.OpenBlock(blk, Path(base), {.network = true});
    EXPECT_TRUE(e.LastOpOK()) << e.LastOpError();
    return blk;
  }

  int32_t Find(Engine& e, BlockHandle blk, const std::string& text) {
    int32_t rec = 0;
    e.LookupKey(blk, 1, rec, text);
    return e.LastOpOK() ? rec : -e.LastOpError();
  }

  Engine a, b;
};

TEST_F(NetworkTest, WriteLockExcludesTheOtherStation) {
  Build("EX");
  BlockHandle fa = Open(a, "EX");
  BlockHandle fb = Open(b, "EX");
  ASSERT_NE(a.StationNumber(fa), b.StationNumber(fb));
  a.LockBlock(fa);
  ASSERT_OK(a);
  auto t = Clock::now();
  b.LockBlock(fb);
  EXPECT_ERR(b, EngineError::kLockFailed);
  EXPECT_GE(MsSince(t), 3000);
  t = Clock::now();
  std::vector<uint8_t> slot(30);
  b.ReadSlot(fb, 1, slot);
  EXPECT_ERR(b, EngineError::kReadLocked);
  EXPECT_GE(MsSince(t), 700);
  EXPECT_LT(MsSince(t), 3000);
  a.UnlockBlock(fa);
  ASSERT_OK(a);
  b.ReadSlot(fb, 1, slot);
  EXPECT_OK(b);
  b.LockBlock(fb);
  EXPECT_OK(b);
  // A second LockBlock of the holder is a no-op; the other station still waits.
  b.LockBlock(fb);
  EXPECT_OK(b);
  b.UnlockBlock(fb);
  a.LockBlock(fa);
  EXPECT_OK(a);
}

TEST_F(NetworkTest, ChangesUnderTheWriteLockReachTheOtherStation) {
  Build("SIG");
  Build("ALT", true);  // same texts and tree shape, other record numbers
  BlockHandle fa = Open(a, "SIG");
  BlockHandle fb = Open(b, "SIG");
  const size_t slotB = 3 + static_cast<size_t>(b.StationNumber(fb));
  EXPECT_EQ(b.SlotTotal(fb), 51);
  EXPECT_EQ(Find(b, fb, "K5"), 5);  // the page is in b's cache now

  // The other station (the suite, through station a's write lock) rewrites the data
  // header and the index pages and signals: data header, key 1, something changed.
  a.LockBlock(fa);
  ASSERT_OK(a);
  PatchI32("SIG.DAT", 8, 40);
  Patch("SIG.IX", 0, ReadRaw("ALT.IX"));
  Patch("SIG.DIA", slotB, "\x07");
  a.UnlockBlock(fa);  // a changed nothing itself, so it writes nothing
  ASSERT_OK(a);
  EXPECT_EQ(ReadRaw("SIG.DIA")[slotB], '\x07');

  EXPECT_EQ(b.SlotTotal(fb), 41);
  EXPECT_EQ(ReadRaw("SIG.DIA")[slotB], '\0');  // b consumed its signal
  EXPECT_EQ(Find(b, fb, "K5"), 46);            // the cached page was dropped

  // Without the "something changed" bit the other bits mean nothing.
  a.LockBlock(fa);
  PatchI32("SIG.DAT", 8, 30);
  Patch("SIG.DIA", slotB, "\x03");
  a.UnlockBlock(fa);
  EXPECT_EQ(b.SlotTotal(fb), 41);
  EXPECT_EQ(ReadRaw("SIG.DIA")[slotB], '\x03');
}

TEST_F(NetworkTest, UnlockAfterAWriteSignalsEveryOtherStation) {
  Build("W");
  BlockHandle fa = Open(a, "W");
  BlockHandle fb = Open(b, "W");
  const int sa = a.StationNumber(fa);
  const int sb = b.StationNumber(fb);
  std::vector<uint8_t> slot(30);
  b.ReadSlot(fb, 1, slot);  // b consumes the set-up signal
  std::string dia = ReadRaw("W.DIA");
  ASSERT_EQ(dia[3 + sb], '\0');
  Patch("W.DAT", 20, "\x01");

  a.LockBlock(fa);
  ASSERT_OK(a);
  std::vector<uint8_t> rec(30, 0);
  PutI32(rec.data() + 4, 777);
  a.WriteSlot(fa, 2, rec);
  ASSERT_OK(a);
  a.UnlockBlock(fa);
  ASSERT_OK(a);
  dia = ReadRaw("W.DIA");
  EXPECT_EQ(dia[3 + sa], '\0');
  EXPECT_EQ(dia[3 + sb], '\x04');  // bit key count + 1: something changed, no header
  EXPECT_EQ(ReadRaw("W.DAT")[20], '\0');

  b.ReadSlot(fb, 2, slot);
  EXPECT_OK(b);
  EXPECT_EQ(GetI32(slot.data() + 4), 777);
  EXPECT_EQ(ReadRaw("W.DIA")[3 + sb], '\0');

  // A lock and unlock without a change writes nothing at all.
  Patch("W.DAT", 20, "\x01");
  a.LockBlock(fa);
  a.UnlockBlock(fa);
  EXPECT_EQ(ReadRaw("W.DAT")[20], '\x01');
  EXPECT_EQ(ReadRaw("W.DIA")[3 + sb], '\0');
}

TEST_F(NetworkTest, FiftyStationsThenNoMore) {
  Build("MANY");
  std::vector<BlockHandle> blocks;
  std::vector<int> seen(51, 0);
  for (int i = 0; i < 50; ++i) {
    blocks.push_back(Open(a, "MANY"));
    ASSERT_NE(blocks.back(), nullptr);
    const int s = a.StationNumber(blocks.back());
    ASSERT_GE(s, 1);
    ASSERT_LE(s, 50);
    EXPECT_EQ(seen[static_cast<size_t>(s)]++, 0) << "station " << s << " twice";
  }
  BlockHandle extra = nullptr;
  b.OpenBlock(extra, Path("MANY"), {.network = true});
  EXPECT_ERR(b, EngineError::kNoStationFree);
  EXPECT_EQ(extra, nullptr);
  a.CloseBlock(blocks[17]);
  ASSERT_OK(a);
  b.OpenBlock(extra, Path("MANY"), {.network = true});
  EXPECT_OK(b);
  EXPECT_EQ(Size("MANY.DIA"), 54);
}

TEST_F(NetworkTest, RecordLockTakenTwiceIsOneLock) {
  Build("REC");
  BlockHandle fa = Open(a, "REC");
  BlockHandle fb = Open(b, "REC");
  const uint64_t before = platform::GetCallCounts().calls[static_cast<int>(platform::Op::kLock)];
  a.LockSlot(fa, 7);
  ASSERT_OK(a);
  a.LockSlot(fa, 7);
  ASSERT_OK(a);
  EXPECT_EQ(platform::GetCallCounts().calls[static_cast<int>(platform::Op::kLock)] - before, 1u);
  auto t = Clock::now();
  b.LockSlot(fb, 7);
  EXPECT_ERR(b, EngineError::kRecordLockFailed);
  EXPECT_GE(MsSince(t), 700);
  b.LockSlot(fb, 8);  // its neighbour is free
  EXPECT_OK(b);
  a.UnlockSlot(fa, 7);
  ASSERT_OK(a);
  b.LockSlot(fb, 7);
  EXPECT_OK(b);
  a.UnlockSlot(fa, 7);  // not held any more: nothing to do
  EXPECT_OK(a);
  // Closing releases the record locks still held.
  b.CloseBlock(fb);
  ASSERT_OK(b);
  a.LockSlot(fa, 7);
  EXPECT_OK(a);
}

TEST_F(NetworkTest, NewCoordinationFileNeedsExclusiveUse) {
  Build("EXCL");
  BlockHandle fa = Open(a, "EXCL");
  ASSERT_NE(fa, nullptr);
  // The file is emptied under a's feet (as a crashed program leaves it): a second
  // opener may not set it up while a has the block open.
  std::filesystem::resize_file(Path("EXCL.DIA"), 1);
  BlockHandle fb = nullptr;
  b.OpenBlock(fb, Path("EXCL"), {.network = true});
  EXPECT_ERR(b, EngineError::kNotExclusive);
  a.CloseBlock(fa);
  b.OpenBlock(fb, Path("EXCL"), {.network = true});
  EXPECT_OK(b);
  EXPECT_EQ(Size("EXCL.DIA"), 54);
}

// An opener that waits for the open lock while the coordination file is deleted under
// it (a failing opener removes the file it created) must not stay on the deleted file:
// it would coordinate with nobody. It opens the file again, so the next station meets
// it there, and its write lock excludes that station.
TEST_F(NetworkTest, OpenerWaitingWhileTheCoordinationFileIsDeletedOpensItAgain) {
  if (kv::test::HostIsWindows())
    GTEST_SKIP() << "Windows refuses to delete a file another handle holds open (32): the case cannot arise";
  Build("GONE");
  WriteRaw("GONE.DIA", std::string(1, '\0'));
  platform::File holder;  // plays the opener that holds the open lock, then gives up
  ASSERT_EQ(platform::File::Open(Path("GONE.DIA"), platform::Access::kReadWrite, platform::Share::kShared,
                                 holder),
            platform::OsError::kNone);
  ASSERT_EQ(holder.LockRange(3, 1), platform::OsError::kNone);
  BlockHandle fa = nullptr;
  // The open takes no lock before the open lock: a second lock call is its retry, so
  // from then on it waits on the file that is about to be deleted.
  const uint64_t before = LockCalls();
  std::thread opener([&] { a.OpenBlock(fa, Path("GONE"), {.network = true}); });
  const bool waiting = WaitForLockCalls(before + 2);
  EXPECT_TRUE(waiting) << "the opener never came to wait for the open lock";
  EXPECT_EQ(platform::DeleteFile(Path("GONE.DIA")), platform::OsError::kNone);
  ASSERT_EQ(holder.UnlockRange(3, 1), platform::OsError::kNone);
  ASSERT_EQ(holder.Close(), platform::OsError::kNone);
  opener.join();
  ASSERT_TRUE(a.LastOpOK()) << a.LastOpError();
  ASSERT_TRUE(Exists("GONE.DIA"));
  BlockHandle fb = Open(b, "GONE");
  ASSERT_NE(fb, nullptr);
  a.LockBlock(fa);
  EXPECT_OK(a);
  b.LockBlock(fb);
  EXPECT_FALSE(b.LastOpOK());  // the two stations meet on the same file
  a.UnlockBlock(fa);
  b.CloseBlock(fb);
  a.CloseBlock(fa);
}

// The waiting rule of the write lock against another process.
class CrossProcessTest : public NetworkTest {
 protected:
  void SetUp() override {
    if (const std::string why = kv::test::NoForkReason(); !why.empty()) GTEST_SKIP() << why;
    NetworkTest::SetUp();
  }
  // Forks a child that opens the file, takes the write lock, tells the parent, holds
  // the lock for holdMs (or, with `release`, until a byte is written to *release) and
  // lets go. Returns the child's pid.
  int HoldWriteLock(const std::string& base, uint32_t holdMs, int* release = nullptr) {
    int fds[2], go[2] = {-1, -1};
    EXPECT_TRUE(kv::test::MakePipe(fds));
    if (release != nullptr) {
      EXPECT_TRUE(kv::test::MakePipe(go));
    }
    const int pid = kv::test::ForkProcess();
    if (pid == 0) {
      ::close(fds[0]);
      if (release != nullptr) ::close(go[1]);
      int code = 0;
      {
        Engine child;
        child.StartEngine(EngineMode::kNetwork, 8);
        BlockHandle blk = nullptr;
        child.OpenBlock(blk, Path(base), {.network = true});
        if (!child.LastOpOK()) code = 10;
        child.LockBlock(blk);
        if (!child.LastOpOK()) code = 11;
        const char c = 'L';
        if (::write(fds[1], &c, 1) != 1) code = 12;
        char g = 0;
        if (release == nullptr)
          platform::SleepMs(holdMs);
        else if (::read(go[0], &g, 1) != 1)
          code = 14;
        child.UnlockBlock(blk);
        if (!child.LastOpOK()) code = 13;
        child.CloseBlock(blk);
        child.StopEngine();
      }
      kv::test::ExitChild(code);
    }
    ::close(fds[1]);
    if (release != nullptr) {
      ::close(go[0]);
      *release = go[1];
    }
    char c = 0;
    EXPECT_EQ(::read(fds[0], &c, 1), 1);
    EXPECT_EQ(c, 'L');
    ::close(fds[0]);
    return pid;
  }
  int Wait(int pid) { return kv::test::WaitForExit(pid); }
};

TEST_F(CrossProcessTest, LockBlockWaitsForAHolderThatLetsGoInTime) {
  Build("XP");
  BlockHandle fa = Open(a, "XP");
  const int pid = HoldWriteLock("XP", 1000);
  const auto t = Clock::now();
  a.LockBlock(fa);
  EXPECT_OK(a);
  EXPECT_GE(MsSince(t), 500);
  EXPECT_EQ(Wait(pid), 0);
  a.UnlockBlock(fa);
}

TEST_F(CrossProcessTest, LockBlockGivesUpAfter3072ms) {
  Build("XQ");
  BlockHandle fa = Open(a, "XQ");
  int release = -1;
  const int pid = HoldWriteLock("XQ", 0, &release);  // holds until told
  const uint64_t calls = LockCalls();
  const auto t = Clock::now();
  a.LockBlock(fa);
  EXPECT_ERR(a, EngineError::kLockFailed);
  // 48 attempts 64 ms apart: counted, not timed, so a loaded machine cannot fail it.
  EXPECT_EQ(LockCalls() - calls, 3072u / 64u);
  EXPECT_GE(MsSince(t), 3000);
  EXPECT_FALSE(a.IsLocked(fa));
  EXPECT_EQ(::write(release, "R", 1), 1);
  ::close(release);
  EXPECT_EQ(Wait(pid), 0);
  a.LockBlock(fa);
  EXPECT_OK(a);
}

}  // namespace
}  // namespace kv::isam::testing

namespace kv::isam::testing {
namespace {

TEST_F(NetworkTest, ReadingTakesOnlyTheCallsTheProtocolNeeds) {
  Build("CALLS");
  BlockHandle fa = Open(a, "CALLS");
  std::vector<uint8_t> slot(30);
  a.ReadSlot(fa, 1, slot);  // consumes the set-up signal
  ASSERT_OK(a);
  using platform::Op;
  auto count = [](Op op) { return platform::GetCallCounts().calls[static_cast<int>(op)]; };
  const uint64_t locks = count(Op::kLock), unlocks = count(Op::kUnlock), reads = count(Op::kRead),
                 total = platform::GetCallCounts().Total();
  a.ReadSlot(fa, 2, slot);
  ASSERT_OK(a);
  // Own slot locked, marker and own slot in one read, the slot, own slot released.
  EXPECT_EQ(count(Op::kLock) - locks, 1u);
  EXPECT_EQ(count(Op::kRead) - reads, 2u);
  EXPECT_EQ(count(Op::kUnlock) - unlocks, 1u);
  EXPECT_EQ(platform::GetCallCounts().Total() - total, 4u);
  // A batch of slots costs the same four calls.
  std::vector<uint8_t> batch(50 * 30);
  const uint64_t before = platform::GetCallCounts().Total();
  a.ReadSlots(fa, 1, 50, batch);
  ASSERT_OK(a);
  EXPECT_EQ(platform::GetCallCounts().Total() - before, 4u);
  EXPECT_EQ(GetI32(batch.data() + 49 * 30 + 4), 50);
}

// Where locks are mandatory, a read lock must not read across the bytes another station
// holds in the coordination file (an opener's open lock on the first slot byte, another
// reader's own slot), and a read refused by another's record lock is told apart.
TEST_F(NetworkTest, UnderMandatoryLocksReadsStayOffOtherStationsRanges) {
  if (kv::test::HostIsWindows()) GTEST_SKIP() << "the system's own rule applies";
  const bool was = platform::WindowsLockRule();
  platform::SetWindowsLockRule(true);
  Build("MAND");
  BlockHandle fa = Open(a, "MAND");
  platform::File other;
  ASSERT_EQ(platform::File::Open(Path("MAND.DIA"), platform::Access::kReadWrite, platform::Share::kShared, other),
            platform::OsError::kNone);
  ASSERT_EQ(other.LockRange(3, 1), platform::OsError::kNone);  // an opener's open lock
  std::vector<uint8_t> slot(30);
  a.ReadSlot(fa, 1, slot);
  EXPECT_OK(a);
  EXPECT_FALSE(a.LastOpMetHeldRange());
  ASSERT_EQ(other.UnlockRange(3, 1), platform::OsError::kNone);

  platform::File data;
  ASSERT_EQ(platform::File::Open(Path("MAND.DAT"), platform::Access::kReadWrite, platform::Share::kShared, data),
            platform::OsError::kNone);
  ASSERT_EQ(data.LockRange(2 * 30, 4), platform::OsError::kNone);  // record 2, as a station holds it
  std::vector<uint8_t> batch(3 * 30);
  a.ReadSlots(fa, 1, 3, batch);
  EXPECT_FALSE(a.LastOpOK());
  EXPECT_TRUE(a.LastOpMetHeldRange());
  a.ReadSlot(fa, 3, slot);
  EXPECT_OK(a);
  EXPECT_FALSE(a.LastOpMetHeldRange());
  platform::SetWindowsLockRule(was);
}

TEST_F(NetworkTest, FailedWriteBackKeepsTheBlockLocked) {
  Build("WB");
  BlockHandle fa = Open(a, "WB");
  a.LockBlock(fa);
  std::vector<uint8_t> rec(30, 0);
  a.WriteSlot(fa, 1, rec);
  ASSERT_OK(a);
  platform::SetFaultPlan({.op = platform::Op::kWrite, .nth = 1});
  a.UnlockBlock(fa);
  platform::ClearFaults();
  EXPECT_ERR(a, EngineError::kLockedForShared);  // 10140 on a network block
  EXPECT_TRUE(a.IsLocked(fa));
  a.UnlockBlock(fa);
  EXPECT_OK(a);
  EXPECT_FALSE(a.IsLocked(fa));
}

TEST_F(NetworkTest, CloseThatFailsLateStillFreesTheBlock) {
  Build("CL");
  BlockHandle fa = Open(a, "CL");
  platform::SetFaultPlan({.op = platform::Op::kClose, .nth = 1});
  a.CloseBlock(fa);
  platform::ClearFaults();
  EXPECT_ERR(a, EngineError::kNotClosed);
  EXPECT_EQ(fa, nullptr);
  // Its station claim is gone: the exclusive-use test of a new opener passes.
  std::filesystem::resize_file(Path("CL.DIA"), 1);
  BlockHandle fb = Open(b, "CL");
  EXPECT_NE(fb, nullptr);
}

}  // namespace
}  // namespace kv::isam::testing
