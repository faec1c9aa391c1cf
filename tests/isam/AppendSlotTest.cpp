// Adding a record as the suite's other programs do: the new slot at HighestSlot + 1 is
// written under the write lock, and the new header reaches the other stations with the
// change signal.
#include <gtest/gtest.h>

#include <vector>

#include "IsamFixture.h"
#include "isam/Engine.h"
#include "testkit/Builder.h"

namespace kv::isam::testing {
namespace {

class AppendSlotTest : public IsamTest {
 protected:
  void SetUp() override {
    IsamTest::SetUp();
    ASSERT_EQ(a.StartEngine(EngineMode::kNetwork, 16), 16);
    ASSERT_EQ(b.StartEngine(EngineMode::kNetwork, 16), 16);
    testkit::FileLayout fileLayout;
    fileLayout.dataPath = Path("F.DAT");
    fileLayout.slotLength = 40;
    fileLayout.keys = {{6, false}};
    fileLayout.highestSlot = 3;
    ASSERT_EQ(testkit::BuildFile(fileLayout,
                                 [](int32_t rec, bool, std::span<uint8_t> slot, testkit::KeySink& sink) {
                                   slot[4] = static_cast<uint8_t>(rec);
                                   sink.Add(1, "K" + std::to_string(rec));
                                 }),
              "");
    a.OpenBlock(fa, Path("F"), {.network = true});
    ASSERT_OK(a);
    b.OpenBlock(fb, Path("F"), {.network = true});
    ASSERT_OK(b);
  }
  void TearDown() override {
    a.StopEngine();
    b.StopEngine();
    IsamTest::TearDown();
  }
  Engine a, b;
  BlockHandle fa = nullptr;
  BlockHandle fb = nullptr;
};

TEST_F(AppendSlotTest, NewSlotAndHeaderReachTheOtherStation) {
  EXPECT_EQ(b.SlotTotal(fb), 4);
  std::vector<uint8_t> slot(40, 0);
  slot[4] = 0x77;
  a.LockBlock(fa);
  ASSERT_OK(a);
  EXPECT_EQ(a.AppendSlot(fa, slot), 4);
  ASSERT_OK(a);
  EXPECT_EQ(a.AppendSlot(fa, slot), 5);
  a.UnlockBlock(fa);
  ASSERT_OK(a);

  const std::string data = ReadRaw("F.DAT");
  EXPECT_EQ(data.size(), 6u * 40u);
  EXPECT_EQ(I32(data, 8), 5);  // HighestSlot written at the unlock
  EXPECT_EQ(static_cast<uint8_t>(data[5 * 40 + 4]), 0x77);

  // Station b sees the new count through the signal, and reads the new record.
  EXPECT_EQ(b.SlotTotal(fb), 6);
  std::vector<uint8_t> got(40);
  b.ReadSlot(fb, 5, got);
  ASSERT_OK(b);
  EXPECT_EQ(got, slot);
}

TEST_F(AppendSlotTest, RefusedWithoutTheWriteLockOrWithAShortBuffer) {
  std::vector<uint8_t> slot(40, 0);
  EXPECT_EQ(a.AppendSlot(fa, slot), 0);
  EXPECT_EQ(a.LastError(), EngineError::kMustBeLocked);
  a.LockBlock(fa);
  std::vector<uint8_t> small(39, 0);
  EXPECT_EQ(a.AppendSlot(fa, small), 0);
  EXPECT_EQ(a.LastError(), EngineError::kInconsistent);
  a.UnlockBlock(fa);
  EXPECT_EQ(Size("F.DAT"), 4 * 40);
  EXPECT_EQ(I32(ReadRaw("F.DAT"), 8), 3);
}

}  // namespace
}  // namespace kv::isam::testing
