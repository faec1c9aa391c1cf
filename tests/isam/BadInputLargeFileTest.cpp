// Data files beyond 2 GiB and 4 GiB: record offsets are record number x slot length in
// 64 bits, for reads, writes, record locks and appends. The files are sparse (a header,
// a hole, a few records far out), so the test costs a few blocks of disk.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "IsamFixture.h"
#include "isam/Engine.h"
#include "platform/File.h"
#include "testkit/Builder.h"

namespace kv::isam::testing {
namespace {

constexpr int32_t kSlot = 2901;  // the inventory master's record length
constexpr int32_t kPast2G = static_cast<int32_t>((1ull << 31) / kSlot + 1);
constexpr int32_t kPast4G = static_cast<int32_t>((1ull << 32) / kSlot + 3);

class LargeFileTest : public IsamTest {
 protected:
  void SetUp() override {
    IsamTest::SetUp();
    ASSERT_GT(static_cast<uint64_t>(kPast2G) * kSlot, 1ull << 31);
    ASSERT_GT(static_cast<uint64_t>(kPast4G) * kSlot, 1ull << 32);
    testkit::FileLayout fileLayout;
    fileLayout.dataPath = Path("BIG.DAT");
    fileLayout.slotLength = kSlot;
    fileLayout.highestSlot = 2;
    ASSERT_EQ(testkit::BuildFile(fileLayout, [](int32_t, bool, std::span<uint8_t>, testkit::KeySink&) {}), "");
    // The far records, written past a hole, and the header that counts them.
    WriteAt(kPast2G, Slot(0x21));
    WriteAt(kPast4G, Slot(0x42));
    PatchI32("BIG.DAT", 8, kPast4G);
    ASSERT_EQ(Size("BIG.DAT"), static_cast<int64_t>(kPast4G + 1) * kSlot);
  }

  static std::vector<uint8_t> Slot(uint8_t fill) {
    std::vector<uint8_t> s(kSlot, fill);
    PutI32(s.data(), 0);
    return s;
  }
  void WriteAt(int32_t record, const std::vector<uint8_t>& bytes) {
    platform::File f;
    ASSERT_EQ(platform::File::Open(Path("BIG.DAT"), platform::Access::kReadWrite, platform::Share::kShared, f), platform::OsError::kNone);
    size_t done = 0;
    ASSERT_EQ(f.WriteAt(static_cast<uint64_t>(record) * kSlot, bytes.data(), bytes.size(), done), platform::OsError::kNone);
    ASSERT_EQ(done, bytes.size());
  }
  std::vector<uint8_t> ReadAt(int32_t record) {
    std::vector<uint8_t> bytes(kSlot);
    platform::File f;
    EXPECT_EQ(platform::File::Open(Path("BIG.DAT"), platform::Access::kReadOnly, platform::Share::kShared, f), platform::OsError::kNone);
    size_t done = 0;
    EXPECT_EQ(f.ReadAt(static_cast<uint64_t>(record) * kSlot, bytes.data(), bytes.size(), done), platform::OsError::kNone);
    EXPECT_EQ(done, bytes.size());
    return bytes;
  }
};

TEST_F(LargeFileTest, ReadsWritesLocksAndAppendsPastFourGiB) {
  Engine a, b;
  a.StartEngine(EngineMode::kNetwork, 16);
  b.StartEngine(EngineMode::kNetwork, 16);
  BlockHandle fa = nullptr;
  BlockHandle fb = nullptr;
  a.OpenBlock(fa, Path("BIG"), {.network = true});
  ASSERT_OK(a);
  b.OpenBlock(fb, Path("BIG"), {.network = true});
  ASSERT_OK(b);
  EXPECT_EQ(a.SlotTotal(fa), kPast4G + 1);

  std::vector<uint8_t> got(kSlot);
  a.ReadSlot(fa, kPast2G, got);
  ASSERT_OK(a);
  EXPECT_EQ(got, Slot(0x21));
  a.ReadSlot(fa, kPast4G, got);
  ASSERT_OK(a);
  EXPECT_EQ(got, Slot(0x42));
  a.ReadSlot(fa, kPast4G - 7, got);  // inside the hole: a live record of zeros
  ASSERT_OK(a);
  EXPECT_EQ(got, std::vector<uint8_t>(kSlot, 0));

  // A record lock far out excludes the other station on that record only.
  a.LockSlot(fa, kPast4G);
  ASSERT_OK(a);
  b.LockSlot(fb, kPast4G);
  EXPECT_EQ(b.LastError(), EngineError::kRecordLockFailed);
  b.LockSlot(fb, kPast4G - 1);
  EXPECT_OK(b);
  b.UnlockSlot(fb, kPast4G - 1);

  a.LockBlock(fa);
  ASSERT_OK(a);
  a.WriteSlot(fa, kPast4G, Slot(0x55));
  ASSERT_OK(a);
  EXPECT_EQ(a.AppendSlot(fa, Slot(0x66)), kPast4G + 1);
  a.UnlockBlock(fa);
  ASSERT_OK(a);
  a.UnlockSlot(fa, kPast4G);

  EXPECT_EQ(ReadAt(kPast4G), Slot(0x55));
  EXPECT_EQ(ReadAt(kPast4G + 1), Slot(0x66));
  EXPECT_EQ(ReadAt(kPast2G), Slot(0x21));
  EXPECT_EQ(GetI32(ReadAt(0).data() + 8), kPast4G + 1);  // the header went out with the unlock
  EXPECT_EQ(b.SlotTotal(fb), kPast4G + 2);
  b.ReadSlot(fb, kPast4G + 1, got);
  ASSERT_OK(b);
  EXPECT_EQ(got, Slot(0x66));
  a.StopEngine();
  b.StopEngine();
}

}  // namespace
}  // namespace kv::isam::testing
