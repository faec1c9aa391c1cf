// The signal a writer leaves at the unlock is built from the slot area read when the
// write lock was taken (nobody else may change it meanwhile): it must be exactly what
// reading the area again would have given, and cost no second read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "IsamFixture.h"
#include "isam/Engine.h"
#include "platform/Faults.h"
#include "testkit/Builder.h"

namespace kv::isam::testing {
namespace {

class WriteSignalTest : public IsamTest {
 protected:
  void SetUp() override {
    IsamTest::SetUp();
    for (Engine* e : {&a, &b, &c}) ASSERT_EQ(e->StartEngine(EngineMode::kNetwork, 16), 16);
    testkit::FileLayout fileLayout;
    fileLayout.dataPath = Path("SIG.DAT");
    fileLayout.slotLength = 30;
    fileLayout.keys = {{8, false}};
    fileLayout.highestSlot = 20;
    ASSERT_EQ(testkit::BuildFile(fileLayout,
                                 [](int32_t rec, bool, std::span<uint8_t> slot, testkit::KeySink& sink) {
                                   PutI32(slot.data() + 4, rec);
                                   sink.Add(1, "K" + std::to_string(rec));
                                 }),
              "");
  }
  void TearDown() override {
    for (Engine* e : {&a, &b, &c}) {
      if (e->Initialised()) e->StopEngine();
    }
    IsamTest::TearDown();
  }
  BlockHandle Open(Engine& e) {
    BlockHandle blk = nullptr;
    e.OpenBlock(blk, Path("SIG"), {.network = true});
    EXPECT_TRUE(e.LastOpOK()) << e.LastOpError();
    return blk;
  }

  Engine a, b, c;
};

TEST_F(WriteSignalTest, TheSignalKeepsWhatTheOtherSlotsHeldAndCostsOneRead) {
  BlockHandle fa = Open(a);
  BlockHandle fb = Open(b);
  BlockHandle fc = Open(c);
  const size_t sa = 3 + static_cast<size_t>(a.StationNumber(fa));
  const size_t sb = 3 + static_cast<size_t>(b.StationNumber(fb));
  const size_t sc = 3 + static_cast<size_t>(c.StationNumber(fc));
  std::vector<uint8_t> rec(30);
  for (auto [e, f] : {std::pair{&a, fa}, {&b, fb}, {&c, fc}}) {
    e->ReadSlot(f, 1, rec);  // each consumes the set-up signal
    ASSERT_OK(*e);
  }
  // Station c has a header signal it has not looked at yet; station a has a signal of
  // its own pending, which its lock consumes.
  Patch("SIG.DIA", sc, "\x05");
  Patch("SIG.DIA", sa, "\x04");
  const std::string before = ReadRaw("SIG.DIA");

  using platform::Op;
  const platform::CallCounts start = platform::GetCallCounts();
  a.LockBlock(fa);
  ASSERT_OK(a);
  PutI32(rec.data() + 4, 999);
  a.WriteSlot(fa, 3, rec);
  ASSERT_OK(a);
  a.FlushBlock(fa);  // signals once under the lock ...
  ASSERT_OK(a);
  a.WriteSlot(fa, 4, rec);
  ASSERT_OK(a);
  a.UnlockBlock(fa);  // ... and again at the unlock, from what the first one wrote
  ASSERT_OK(a);
  const platform::CallCounts end = platform::GetCallCounts();
  auto delta = [&](Op op) { return end.calls[static_cast<int>(op)] - start.calls[static_cast<int>(op)]; };
  EXPECT_EQ(delta(Op::kRead), 1u);  // the marker and the whole slot area, once

  std::string expected = before;
  for (size_t s = 3; s < expected.size(); ++s) expected[s] = static_cast<char>(expected[s] | 0x04);
  expected[sa] = '\0';
  const std::string after = ReadRaw("SIG.DIA");
  EXPECT_EQ(after, expected);
  EXPECT_EQ(after[sc], '\x05');
  EXPECT_EQ(after[sb], '\x04');

  // The next lock reads the area afresh: what another station wrote in between counts.
  b.LockBlock(fb);  // consumes b's signal and writes nothing
  ASSERT_OK(b);
  b.UnlockBlock(fb);
  ASSERT_OK(b);
  Patch("SIG.DIA", sc, "\x07");
  a.LockBlock(fa);
  ASSERT_OK(a);
  a.WriteSlot(fa, 5, rec);
  a.UnlockBlock(fa);
  ASSERT_OK(a);
  const std::string last = ReadRaw("SIG.DIA");
  EXPECT_EQ(last[sc], '\x07');
  EXPECT_EQ(last[sb], '\x04');
  EXPECT_EQ(last[sa], '\0');

  for (auto [e, f] : {std::pair{&a, fa}, {&b, fb}, {&c, fc}}) e->CloseBlock(f);
}

}  // namespace
}  // namespace kv::isam::testing
