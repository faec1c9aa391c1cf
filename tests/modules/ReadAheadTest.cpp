// The walk reads many records per read lock. What it read ahead is only judged: a
// change another station makes after the read-ahead and before the repair write must
// survive, lock conflicts on a batch follow the retry rule, and a batch that cannot be
// read costs only the slots that cannot be read.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RepairFixture.h"
#include "isam/Coding.h"
#include "modules/Walk.h"
#include "platform/Faults.h"
#include "testkit/Writes.h"

namespace kv::modules::testing {
namespace {

constexpr int kMoney = 54;     // GLFILE04's one money field
constexpr int kText = 120;     // a byte outside the money field
constexpr int32_t kRecords = 12;

using test::ReleasingDialogs;

// A second station on the same files: its own engine and access layer.
struct OtherStation {
  isam::Engine engine;
  test::RecordingDialogs dialogs;
  std::unique_ptr<isam::AccessLayer> access;
  isam::BlockHandle block = nullptr;
  bool opened = false;

  explicit OtherStation(const std::string& name) {
    engine.StartEngine(kv::isam::EngineMode::kNetwork, 500);
    access = std::make_unique<isam::AccessLayer>(engine, dialogs, isam::AccessHooks{},
                                                 isam::AccessSettings{.saveMode = false, .flushAfterWrite = false});
    const DataFileDef& def = DataFile(name);
    opened = access->OpenModuleFile(block, name, def.recordLength, def.keys.data(), static_cast<int>(def.keys.size()));
  }
  ~OtherStation() {
    access->CloseModuleFile(block);
    engine.StopEngine();
  }
};

class ReadAheadTest : public RepairFixture {
 protected:
  // GLFILE04 with records 1..12; records 2 and 9 carry a NaN.
  void BuildDamaged() {
    std::vector<TestRecord> records;
    for (int32_t r = 1; r <= kRecords; ++r) {
      const bool bad = r == 2 || r == 9;
      records.emplace_back(
          false,
          [r, bad](uint8_t* slot) {
            slot[kText] = static_cast<uint8_t>('a' + r);
            std::memcpy(slot + kMoney, bad ? kNaN : kSound, 10);
          },
          std::vector<std::string>{"K" + std::to_string(r), "B"});
    }
    Build("GLFILE04", records);
  }

  WalkStats Walk(RepairReport& report) { return Walk(*access_, report); }
  WalkStats Walk(isam::AccessLayer& access, RepairReport& report) {
    const DataFileDef& def = DataFile("GLFILE04");
    isam::BlockHandle block = nullptr;
    EXPECT_TRUE(access.OpenModuleFile(block, "GLFILE04", def.recordLength, def.keys.data(),
                                      static_cast<int>(def.keys.size())));
    const WalkStats stats = WalkModuleFile(access, block, def, progress_, &report);
    access.CloseModuleFile(block);
    return stats;
  }
};

struct ChangeCase {
  const char* name;
  // What the other station does to record 9 (a copy of its slot, changed in place).
  std::function<void(std::string& slot)> change;
  bool walkWrites;  // the walk still has to reset the field
};

TEST_F(ReadAheadTest, AChangeAfterTheReadAheadIsKept) {
  const std::vector<ChangeCase> cases = {
      {"another field changed, the amount still unsound",
       [](std::string& s) { s[kText] = 'X'; }, true},
      {"the amount mended and another field changed",
       [](std::string& s) {
         s[kText] = 'Y';
         s.replace(kMoney, 10, Money(kSound));
       },
       false},
      {"the record deleted", [](std::string& s) { isam::PutI32(reinterpret_cast<uint8_t*>(s.data()), 5); },
       false},
  };
  for (const ChangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    BuildDamaged();
    const std::string before9 = Slot("GLFILE04", 9);
    std::string theirs = before9;
    c.change(theirs);

    OtherStation other("GLFILE04");
    ASSERT_TRUE(other.opened);
    // The other station holds record 9's lock while the walk reads ahead and repairs the
    // run: record 2 is written with the run and record 9, still with its NaN in the
    // read-ahead, is set aside. When the walk says it waits for record 9, the other
    // station changes it and lets go of it.
    other.engine.LockSlot(other.block, 9);
    ASSERT_TRUE(other.engine.LastOpOK());
    ReleasingDialogs dialogs;
    progress_.waits.clear();
    progress_.onWaiting = [&] {
      if (progress_.waits.size() != 1) return;
      const isam::WriteReport written = testkit::WriteRecordAt(
          *other.access, other.block, 9, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(theirs.data()), theirs.size()));
      ASSERT_TRUE(written.ok) << isam::Code(written.status);
    };
    isam::AccessLayer access(*engine_, dialogs, isam::AccessHooks{},
                             {.saveMode = false, .flushAfterWrite = false, .silentRetries = 0});
    RecordingReport report;
    const int32_t countBefore = progress_.RepairCount();
    const WalkStats stats = Walk(access, report);
    progress_.onWaiting = nullptr;
    EXPECT_TRUE(dialogs.events.empty());
    EXPECT_EQ(progress_.waits, std::vector<std::string>{"GLFILE04 9 1/3"});

    std::string expected9 = theirs;
    if (c.walkWrites) expected9.replace(kMoney, 10, std::string(10, '\0'));
    EXPECT_EQ(Slot("GLFILE04", 9), expected9);
    EXPECT_EQ(Field(Slot("GLFILE04", 2), kMoney), std::string(10, '\0'));
    EXPECT_EQ(stats.repaired, c.walkWrites ? 2 : 1);
    EXPECT_EQ(progress_.RepairCount() - countBefore, stats.repaired);
    EXPECT_EQ(stats.notWritten, 0);
    ASSERT_EQ(report.lines.size(), c.walkWrites ? 2u : 1u);
    if (c.walkWrites) {
      EXPECT_EQ(report.lines[1].record, 9);
      EXPECT_TRUE(report.lines[1].written);
    }
  }
}

TEST_F(ReadAheadTest, ABatchReadFollowsTheRetryRule) {
  BuildDamaged();
  OtherStation other("GLFILE04");
  ASSERT_TRUE(other.opened);
  ReleasingDialogs dialogs;
  dialogs.answers = {true};
  dialogs.onQuestion = [&] { other.engine.UnlockBlock(other.block); };
  isam::AccessLayer access(*engine_, dialogs, isam::AccessHooks{}, {.saveMode = false, .silentRetries = 1});
  const DataFileDef& def = DataFile("GLFILE04");
  isam::BlockHandle block = nullptr;
  ASSERT_TRUE(
      access.OpenModuleFile(block, "GLFILE04", def.recordLength, def.keys.data(), static_cast<int>(def.keys.size())));

  other.engine.LockBlock(other.block);  // a writer keeps every reader out
  ASSERT_TRUE(other.engine.LastOpOK());
  std::vector<uint8_t> batch(static_cast<size_t>(kRecords) * static_cast<size_t>(def.recordLength));
  EXPECT_TRUE(access.ReadRecordsAt(block, 1, kRecords, batch));
  ASSERT_EQ(dialogs.events.size(), 1u);  // after one silent retry, the question once
  EXPECT_EQ(dialogs.events[0].title, "Confirm");
  EXPECT_EQ(access.LockRetryCount(), 0);
  for (int32_t r = 1; r <= kRecords; ++r) {
    const std::string slot = Slot("GLFILE04", r);
    EXPECT_EQ(std::memcmp(batch.data() + static_cast<size_t>(r - 1) * def.recordLength, slot.data(), slot.size()), 0)
        << "record " << r;
  }

  // Locked again and answered No: the run ends, as after a single read.
  other.engine.LockBlock(other.block);
  ASSERT_TRUE(other.engine.LastOpOK());
  dialogs.onQuestion = nullptr;
  dialogs.answers = {false};
  EXPECT_THROW(static_cast<void>(access.ReadRecordsAt(block, 1, kRecords, batch)), ui::EndRun);
  EXPECT_EQ(dialogs.closeRequests, 1);
  other.engine.UnlockBlock(other.block);
  access.CloseModuleFile(block);
}

TEST_F(ReadAheadTest, ABatchThatCannotBeReadIsReadRecordByRecord) {
  BuildDamaged();
  // The file ends in the middle of record 11: the batch read fails, records 1..10 are
  // still judged and record 2 and 9 repaired; 11 and 12 are skipped as unreadable.
  const int32_t length = DataFile("GLFILE04").recordLength;
  std::string bytes = Read("GLFILE04.DAT");
  bytes.resize(static_cast<size_t>(11 * length + length / 2));
  Write("GLFILE04.DAT", bytes);

  RecordingReport report;
  const WalkStats stats = Walk(report);
  EXPECT_EQ(stats.visited, 10);
  EXPECT_EQ(stats.unreadable, 2);
  EXPECT_EQ(stats.repaired, 2);
  EXPECT_EQ(Field(Slot("GLFILE04", 9), kMoney), std::string(10, '\0'));
}

TEST_F(ReadAheadTest, AnInjectedReadFailureCostsOnlyItsBatch) {
  BuildDamaged();
  // The first data read of the walk fails once: the batch is read again record by
  // record and nothing is lost.
  RecordingReport report;
  const DataFileDef& def = DataFile("GLFILE04");
  isam::BlockHandle block = nullptr;
  ASSERT_TRUE(
      access_->OpenModuleFile(block, "GLFILE04", def.recordLength, def.keys.data(), static_cast<int>(def.keys.size())));
  // Reads from here: RecordCount's signal read (1), the batch's signal read (2), the
  // batch (3).
  platform::SetFaultPlan({platform::Op::kRead, 3, false, platform::FaultKind::kError, 5});
  const WalkStats stats = WalkModuleFile(*access_, block, def, progress_, &report);
  EXPECT_EQ(platform::FaultsInjected(), 1u);
  platform::ClearFaults();
  access_->CloseModuleFile(block);
  EXPECT_EQ(stats.visited, kRecords);
  EXPECT_EQ(stats.unreadable, 0);
  EXPECT_EQ(stats.repaired, 2);
}

}  // namespace
}  // namespace kv::modules::testing
