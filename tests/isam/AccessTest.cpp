// The record access layer on the real engine: opening (created when missing, refused
// when it does not fit), the fatal report, writes that respect deleted slots, the
// repair write that never loses another station's change, and the retry rule.
#include "isam/Access.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/CompanyDir.h"
#include "isam/Coding.h"
#include "isam/Engine.h"
#include "modules/MoneyCheck.h"
#include "platform/Cp874.h"
#include "support/RecordingDialogs.h"
#include "testkit/Writes.h"
#include "ui/Dialogs.h"

namespace kv::isam {
namespace {

namespace fs = std::filesystem;
using test::Money;
using test::NaNMoney;
using test::Slot;

const KeyDesc kGl03Keys[] = {{30, true}, {19, true}, {19, true}, {30, true}, {16, true}};

class AccessTest : public test::CompanyDirTest {
 protected:
  void SetUp() override {
    CompanyDirTest::SetUp();
    old_ = fs::current_path();
    fs::current_path(dir_);
    ASSERT_GE(engine_.StartEngine(EngineMode::kNetwork, 500), 8);
    hooks_.clearAutoSelect = [this] { ++clears_; };
    hooks_.printErrorHelp = [this](int32_t n) { helped_.push_back(n); };
    access_ = std::make_unique<AccessLayer>(engine_, dialogs_, hooks_);
  }
  void TearDown() override {
    access_.reset();
    if (engine_.Initialised()) engine_.StopEngine();
    fs::current_path(old_);
    CompanyDirTest::TearDown();
  }

  bool Open(BlockHandle& block, const std::string& name) {
    const auto& def = modules::DataFile(name);
    return access_->OpenModuleFile(block, name, def.recordLength, def.keys.data(), static_cast<int>(def.keys.size()));
  }

  Engine engine_;
  test::RecordingDialogs dialogs_;
  AccessHooks hooks_;
  std::unique_ptr<AccessLayer> access_;
  int clears_ = 0;
  std::vector<int32_t> helped_;
  fs::path old_;
};

TEST_F(AccessTest, AMissingFileIsCreatedEmptyAndOpened) {
  BlockHandle block = nullptr;
  ASSERT_TRUE(access_->OpenModuleFile(block, "GLFILE03", 220, kGl03Keys, 5));
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(dialogs_.events.empty());
  const RecordTotal total = access_->RecordCount(block);
  EXPECT_EQ(total.count, 1);  // header only: a walk visits nothing
  EXPECT_TRUE(total.ok);
  EXPECT_EQ(fs::file_size("GLFILE03.DAT"), 220u);
  EXPECT_TRUE(fs::exists("GLFILE03.IX"));
  EXPECT_TRUE(access_->CloseModuleFile(block));
  EXPECT_EQ(block, nullptr);
  EXPECT_TRUE(access_->CloseModuleFile(block));  // closing what is not open does nothing
}

TEST_F(AccessTest, TheSizeGuardWarnsButTheOpenGoesOn) {
  const KeyDesc keys[] = {{10, false}};
  BlockHandle block = nullptr;
  EXPECT_TRUE(access_->OpenModuleFile(block, "BIGFILE", 6000, keys, 1));
  EXPECT_TRUE(dialogs_.events.empty());
  access_->CloseModuleFile(block);

  const bool opened = access_->OpenModuleFile(block, "HUGEFILE", 6001, keys, 1);
  ASSERT_EQ(dialogs_.Lines(), std::vector<std::string>{"Error: HUGEFILE: Record size too big.! (Size = 6001, Max = 6000)"});
  EXPECT_EQ(dialogs_.closeRequests, 1);
  EXPECT_TRUE(opened);
  access_->CloseModuleFile(block);
}

TEST_F(AccessTest, FilesThatCannotBeOpenedAreReportedFatallyAndLeftAlone) {
  struct Case {
    const char* what;
    int32_t slotLength;
    uint8_t defect;
    std::string numberLine;
  };
  const Case cases[] = {
      {"slot length", 150, 0, "Error: 10170: Consistency of Fileblock endangered"},
      {"defect flag", 0, 1, "Error: 10010: File defect, that can be corrected by reindexing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(test::BuildModuleFile(dir_, "GLFILE04", {Slot(151).Put(54, NaNMoney())}, c.slotLength, c.defect), "");
    const std::string data = Read("GLFILE04.DAT");
    dialogs_.events.clear();
    helped_.clear();
    clears_ = 0;
    BlockHandle block = nullptr;
    EXPECT_FALSE(Open(block, "GLFILE04"));
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(dialogs_.Lines(), (std::vector<std::string>{c.numberLine, "Error: ไม่สามารถเปิดแฟ้มข้อมูล GLFILE04 ได้."}));
    EXPECT_EQ(clears_, 1);
    EXPECT_EQ(helped_.size(), 1u);
    EXPECT_GE(dialogs_.closeRequests, 1);
    EXPECT_EQ(Read("GLFILE04.DAT"), data);
    // Nothing stays open: the engine stops cleanly.
    engine_.StopEngine();
    EXPECT_TRUE(engine_.LastOpOK());
    ASSERT_GE(engine_.StartEngine(EngineMode::kNetwork, 500), 8);
  }
}

TEST_F(AccessTest, ANoInTheRecoveryStopsBeforeTheOpen) {
  ASSERT_EQ(test::BuildModuleFile(dir_, "GLFILE04", {Slot(151)}), "");
  Write("GLFILE04.SAV", "leftover");
  dialogs_.answers = {false};
  BlockHandle block = nullptr;
  EXPECT_FALSE(Open(block, "GLFILE04"));
  EXPECT_EQ(block, nullptr);
  ASSERT_EQ(dialogs_.events.size(), 1u);  // the question, and no further message
  EXPECT_EQ(dialogs_.events[0].title, "Attention!");
  EXPECT_EQ(clears_, 0);
  EXPECT_FALSE(fs::exists("GLFILE04.DIA"));  // never opened
}

TEST_F(AccessTest, WritesGoOnlyIntoLiveSlots) {
  ASSERT_EQ(test::BuildModuleFile(dir_, "GLFILE04", {Slot(151), Slot(151, -1), Slot(151)}), "");
  BlockHandle block = nullptr;
  ASSERT_TRUE(Open(block, "GLFILE04"));
  EXPECT_EQ(access_->RecordCount(block).count, 4);
  std::vector<uint8_t> buffer(151, 0x5A);
  const std::string before = Read("GLFILE04.DAT");

  WriteReport written = testkit::WriteRecordAt(*access_, block, 2, buffer);
  EXPECT_FALSE(written.ok);
  EXPECT_EQ(Code(written.status), 12);
  EXPECT_EQ(Read("GLFILE04.DAT"), before);

  // Only the slot on disk is tested, not the buffer's first four bytes.
  written = testkit::WriteRecordAt(*access_, block, 3, buffer);
  EXPECT_TRUE(written.ok);
  EXPECT_EQ(Code(written.status), 0);
  std::vector<uint8_t> back(151);
  EXPECT_TRUE(access_->ReadRecordAt(block, 3, back));
  EXPECT_EQ(back, buffer);

  std::vector<uint8_t> shortBuffer(100);
  EXPECT_FALSE(testkit::WriteRecordAt(*access_, block, 1, shortBuffer).ok);
  access_->CloseModuleFile(block);
}

// Another station changes a field between the walk's read and its write: both the
// change and the repair end up in the record.
TEST_F(AccessTest, ARepairNeverLosesAnotherStationsChange) {
  ASSERT_EQ(test::BuildModuleFile(dir_, "GLFILE03", {Slot(220).Put(103, NaNMoney())}), "");
  BlockHandle block = nullptr;
  ASSERT_TRUE(Open(block, "GLFILE03"));
  std::vector<uint8_t> walk(220);
  ASSERT_TRUE(access_->ReadRecordAt(block, 1, walk));
  ASSERT_FALSE(modules::IsMoneySound(walk.data() + 103));

  {  // the second station
    Engine other;
    ASSERT_GE(other.StartEngine(EngineMode::kNetwork, 500), 8);
    BlockHandle theirs = nullptr;
    other.OpenBlock(theirs, "GLFILE03", {.network = true});
    ASSERT_TRUE(other.LastOpOK()) << other.LastOpError();
    std::vector<uint8_t> slot(220);
    other.LockBlock(theirs);
    ASSERT_TRUE(other.LastOpOK());
    other.ReadSlot(theirs, 1, slot);
    slot[200] = 'Z';  // a text field, not money
    other.WriteSlot(theirs, 1, slot);
    ASSERT_TRUE(other.LastOpOK());
    other.UnlockBlock(theirs);
    other.CloseBlock(theirs);
    other.StopEngine();
  }

  std::vector<uint8_t> work(220);
  const RepairOutcome outcome = testkit::RepairRecordAt(*access_, block, 1, work, [](std::span<uint8_t> slot) {
    bool changed = false;
    modules::CheckMoneyField(slot.data() + 103, changed);
    return changed ? 1 : 0;
  });
  EXPECT_EQ(outcome, RepairOutcome::kWritten);
  access_->CloseModuleFile(block);

  const std::string data = Read("GLFILE03.DAT");
  EXPECT_EQ(data[220 + 200], 'Z');
  EXPECT_EQ(data.substr(220 + 103, 10), std::string(10, '\0'));
}

TEST_F(AccessTest, RepairWritesNothingWhenThereIsNothingLeftToFix) {
  ASSERT_EQ(test::BuildModuleFile(dir_, "GLFILE03", {Slot(220).Put(103, Money(5.0L)), Slot(220, -1)}), "");
  BlockHandle block = nullptr;
  ASSERT_TRUE(Open(block, "GLFILE03"));
  const std::string before = Read("GLFILE03.DAT");
  std::vector<uint8_t> work(220);
  int calls = 0;
  auto fix = [&](std::span<uint8_t>) {
    ++calls;
    return 0;
  };
  EXPECT_EQ(testkit::RepairRecordAt(*access_, block, 1, work, fix), RepairOutcome::kNothingToDo);
  EXPECT_EQ(testkit::RepairRecordAt(*access_, block, 2, work, fix), RepairOutcome::kDeleted);
  EXPECT_EQ(calls, 1);  // never called for a deleted slot
  EXPECT_EQ(Read("GLFILE03.DAT"), before);
  access_->CloseModuleFile(block);
}

using test::ReleasingDialogs;

TEST_F(AccessTest, ALockConflictIsRetriedThenAsked) {
  ASSERT_EQ(test::BuildModuleFile(dir_, "GLFILE04", {Slot(151)}), "");
  Engine other;
  ASSERT_GE(other.StartEngine(EngineMode::kNetwork, 500), 8);
  BlockHandle theirs = nullptr;
  other.OpenBlock(theirs, "GLFILE04", {.network = true});
  ASSERT_TRUE(other.LastOpOK());
  ReleasingDialogs dialogs;
  dialogs.answers = {true};
  dialogs.onQuestion = [&] { other.UnlockBlock(theirs); };
  AccessLayer access(engine_, dialogs, hooks_, {.silentRetries = 1});
  BlockHandle block = nullptr;
  const auto& def = modules::DataFile("GLFILE04");
  ASSERT_TRUE(
      access.OpenModuleFile(block, "GLFILE04", def.recordLength, def.keys.data(), static_cast<int>(def.keys.size())));
  other.LockBlock(theirs);  // the writer's lock keeps every reader out
  ASSERT_TRUE(other.LastOpOK());
  std::vector<uint8_t> buffer(151);
  EXPECT_TRUE(access.ReadRecordAt(block, 1, buffer));
  ASSERT_EQ(dialogs.events.size(), 1u);
  EXPECT_EQ(dialogs.events[0].title, "Confirm");
  EXPECT_EQ(dialogs.events[0].question, ui::Question::kLockConflict);
  const std::string text = platform::Cp874ToUtf8(dialogs.events[0].text);
  EXPECT_EQ(text.front(), '(');
  EXPECT_NE(text.find(") มีการล็อคข้อมูลซ้อนกัน. โปรดลองใหม่อีกครั้ง"), std::string::npos) << text;
  EXPECT_EQ(access.LockRetryCount(), 0);

  // Locked again and answered No: the run ends.
  other.LockBlock(theirs);
  ASSERT_TRUE(other.LastOpOK());
  dialogs.onQuestion = nullptr;
  dialogs.answers = {false};
  EXPECT_THROW(static_cast<void>(access.ReadRecordAt(block, 1, buffer)), ui::EndRun);
  EXPECT_EQ(dialogs.closeRequests, 1);

  // Still locked, with a watch: after a second of silent retries it hears what is waited
  // for, and a stop ends the read there, without the question.
  access.Configure({.silentRetries = 900});
  std::vector<std::string> told;
  bool stop = false;
  {
    const ScopedConflictWatch watch(access, {[&](std::string_view file, int32_t error, uint64_t waited) {
                                               told.push_back(std::string(file) + " " + std::to_string(error));
                                               EXPECT_GE(waited, kConflictNoticeMs);
                                               stop = true;
                                             },
                                             [&] { return stop; }});
    EXPECT_THROW(static_cast<void>(access.ReadRecordAt(block, 1, buffer)), ui::EndRun);
  }
  EXPECT_EQ(told, std::vector<std::string>{"GLFILE04.DAT 10399"});  // its read lock, refused
  EXPECT_EQ(dialogs.events.size(), 2u);  // no further question
  EXPECT_EQ(dialogs.closeRequests, 1);
  other.UnlockBlock(theirs);
  other.CloseBlock(theirs);
  access.CloseModuleFile(block);
}

TEST_F(AccessTest, KeySearchUsesAtMostHundredCharacters) {
  ASSERT_EQ(test::BuildModuleFile(dir_, "GLFILE04", {Slot(151), Slot(151)}), "");
  BlockHandle block = nullptr;
  ASSERT_TRUE(Open(block, "GLFILE04"));
  int32_t record = -1;
  EXPECT_TRUE(access_->FindRecordByKey(block, 1, record, "R00000002"));
  EXPECT_EQ(record, 2);
  EXPECT_FALSE(access_->FindRecordByKey(block, 1, record, "R00000009"));
  access_->CloseModuleFile(block);

  testkit::FileLayout fileLayout;
  fileLayout.dataPath = dir_ + "/LONGKEY.DAT";
  fileLayout.slotLength = 120;
  fileLayout.keys = {{100, false}};
  fileLayout.highestSlot = 1;
  ASSERT_EQ(testkit::BuildFile(fileLayout, [](int32_t, bool, std::span<uint8_t>, testkit::KeySink& keys) {
    keys.Add(1, std::string(100, 'A'));
  }), "");
  const KeyDesc keys[] = {{100, false}};
  ASSERT_TRUE(access_->OpenModuleFile(block, "LONGKEY", 120, keys, 1));
  record = -1;
  EXPECT_TRUE(access_->FindRecordByKey(block, 1, record, std::string(120, 'A')));
  EXPECT_EQ(record, 1);
  access_->CloseModuleFile(block);
}

}  // namespace
}  // namespace kv::isam
