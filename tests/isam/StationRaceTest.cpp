// Stations that open a file at the same moment, when its coordination file does not
// exist yet: one of them creates it, another may set it up first. Every station must
// end up on the same coordination file, so the write lock excludes them all and no
// two of them add a record under the same number.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "IsamFixture.h"
#include "support/Host.h"
#include "isam/Engine.h"
#include "testkit/Builder.h"

namespace kv::isam::testing {
namespace {

class StationRaceTest : public IsamTest {};

// One child: wait for the start signal, open (waiting out the set-up of another
// station), add `adds` records under the write lock, close. Exit 0 when all went well.
int Child(const std::vector<std::string>& bases, const std::string& go, int adds) {
  while (!std::filesystem::exists(go)) {
  }
  Engine e;
  e.StartEngine(EngineMode::kNetwork, 16);
  std::vector<BlockHandle> blocks;
  for (const std::string& base : bases) {
    BlockHandle b = nullptr;
    for (int attempt = 0; attempt < 500 && b == nullptr; ++attempt) {
      e.OpenBlock(b, base, {.network = true});
      if (e.LastOpOK()) break;
      if (e.LastError() != EngineError::kNotExclusive && e.LastError() != EngineError::kOpenLocked) return 2;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (b == nullptr) return 3;
    blocks.push_back(b);
  }
  std::vector<uint8_t> slot(24, 0);
  for (int i = 0; i < adds; ++i) {
    for (BlockHandle b : blocks) {
      e.LockBlock(b);
      if (!e.LastOpOK()) return 4;
      if (e.AppendSlot(b, slot) == 0) return 5;
      e.UnlockBlock(b);
      if (!e.LastOpOK()) return 6;
    }
  }
  e.StopEngine();
  return 0;
}

TEST_F(StationRaceTest, StationsOpeningTogetherShareOneCoordinationFile) {
  if (const std::string why = kv::test::NoForkReason(); !why.empty()) GTEST_SKIP() << why;
  constexpr int kStations = 6, kAdds = 5, kRounds = 4, kFiles = 40;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::string> bases;
    for (int f = 0; f < kFiles; ++f) {
      bases.push_back(Path("R" + std::to_string(round) + "_" + std::to_string(f)));
      testkit::FileLayout fileLayout;
      fileLayout.dataPath = bases.back() + ".DAT";
      fileLayout.slotLength = 24;
      ASSERT_EQ(testkit::BuildFile(fileLayout, [](int32_t, bool, std::span<uint8_t>, testkit::KeySink&) {}), "");
    }
    const std::string go = Path("R" + std::to_string(round) + ".GO");
    std::vector<int> children;
    for (int i = 0; i < kStations; ++i) {
      const int pid = kv::test::ForkProcess();
      ASSERT_GE(pid, 0);
      if (pid == 0) kv::test::ExitChild(Child(bases, go, kAdds));
      children.push_back(pid);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    WriteRaw("R" + std::to_string(round) + ".GO", "go");
    for (int pid : children) EXPECT_EQ(kv::test::WaitForExit(pid), 0) << "station " << pid;
    for (int f = 0; f < kFiles; ++f) {
      const std::string name = "R" + std::to_string(round) + "_" + std::to_string(f) + ".DAT";
      EXPECT_EQ(I32(ReadRaw(name), 8), kStations * kAdds) << name << ": records added under one number twice";
    }
  }
}

}  // namespace
}  // namespace kv::isam::testing
