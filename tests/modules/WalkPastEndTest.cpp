// A header that promises far more records than the file holds: the walk stops at the
// end of the file instead of trying every promised slot.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "RepairFixture.h"
#include "modules/Walk.h"

namespace kv::modules {
namespace {

using testing::kNaN;
using testing::RepairFixture;

class WalkPastEndTest : public RepairFixture {};

TEST_F(WalkPastEndTest, AHeaderPromisingTwoBillionRecordsEndsAtTheFilesEnd) {
  Build("GLFILE03", {{false}, {false, [](uint8_t* r) { std::memcpy(r + 103, kNaN, 10); }}, {false}});
  testkit::DataHeader header;
  header.highestSlot = 2000000000;
  header.slotLength = 220;
  header.keyCount = 5;
  ASSERT_EQ(testkit::PatchDataHeader(Path("GLFILE03.DAT"), header), "");
  const int64_t size = Size("GLFILE03.DAT");

  const DataFileDef& def = DataFile("GLFILE03");
  isam::BlockHandle block = nullptr;
  ASSERT_TRUE(
      access_->OpenModuleFile(block, def.baseName, def.recordLength, def.keys.data(), static_cast<int>(def.keys.size())));
  const auto t0 = std::chrono::steady_clock::now();
  const WalkStats stats = WalkModuleFile(*access_, block, def, progress_, &report_);
  const auto took = std::chrono::steady_clock::now() - t0;
  access_->CloseModuleFile(block);

  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_EQ(stats.visited, 3);
  EXPECT_EQ(stats.repaired, 1);
  EXPECT_EQ(stats.unreadable, 2000000000 - 3);
  EXPECT_EQ(Size("GLFILE03.DAT"), size);
  EXPECT_EQ(progress_.Position(), 1);
}

}  // namespace
}  // namespace kv::modules
