// The coordination layout written for one station, straight through the engine's
// internal step (the station number of a real open is chosen at random).
#include <gtest/gtest.h>

#include <string>

#include "IsamFixture.h"
#include "isam/EngineOps.h"

namespace kv::isam::testing {
namespace {

class LayoutTest : public IsamTest {
 protected:
  // A block of `keys` keys whose coordination file is `name`, station `station`.
  void Prepare(const std::string& name, int keys, int station) {
    ASSERT_EQ(ops::OpenFile(block.coord, Path(name), false, true).Code(), 0);
    block.keyCount = keys;
    block.net = std::make_unique<NetState>();
    block.net->slotLength = CoordSlotLength(keys);
    block.net->stationSlots = 50;
    block.net->slotAreaLength = 51 * block.net->slotLength;
    block.net->station = station;
  }
  void TearDown() override {
    (void)ops::CloseFile(state, block.coord);
    IsamTest::TearDown();
  }
  EngineState state;
  FileBlock block;
};

TEST_F(LayoutTest, EveryBitSetForStation3) {
  WriteRaw("L.DIA", std::string(1, '\x42'));
  Prepare("L.DIA", 5, 3);
  const uint8_t all[1] = {0xFF};
  ASSERT_EQ(ops::WriteLayout(state, block, all).Code(), 0);
  const std::string dia = ReadRaw("L.DIA");
  ASSERT_EQ(dia.size(), 54u);
  EXPECT_EQ(dia[0], '\x42');  // the first byte is left alone
  EXPECT_EQ(I16(dia, 1), 2000);
  for (int s = 0; s <= 50; ++s) EXPECT_EQ(dia[3 + s], s == 3 ? '\0' : '\xFF') << s;
}

TEST_F(LayoutTest, PartialMaskIsAddedToWhatTheSlotsHold) {
  // 100 keys: m = 13, so 513 / 13 = 39 slots per chunk and two chunks for 51 slots.
  std::string dia(3 + 51 * 13, '\0');
  dia[3 + 13 * 45 + 2] = '\x10';  // station 45 has an older signal in its third byte
  dia[3 + 13 * 7] = '\x01';       // the writer's own slot is cleared
  WriteRaw("M.DIA", dia);
  Prepare("M.DIA", 100, 7);
  uint8_t mask[13] = {};
  mask[0] = 0x02;   // key 1
  mask[12] = 0x20;  // bit 101: something changed
  ASSERT_EQ(ops::WriteLayout(state, block, mask).Code(), 0);
  const std::string after = ReadRaw("M.DIA");
  ASSERT_EQ(after.size(), dia.size());
  for (int s = 0; s <= 50; ++s) {
    const std::string slot = after.substr(3 + static_cast<size_t>(s) * 13, 13);
    if (s == 7) {
      EXPECT_EQ(slot, std::string(13, '\0'));
      continue;
    }
    EXPECT_EQ(slot[0], '\x02') << s;
    EXPECT_EQ(slot[12], '\x20') << s;
    EXPECT_EQ(slot[2], s == 45 ? '\x10' : '\0') << s;
  }
}

}  // namespace
}  // namespace kv::isam::testing
