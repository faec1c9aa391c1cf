// Temporary-file recovery: which leftovers are shown, with which sizes, and what Yes
// and No do to the files.
#include "ui/Recovery.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/RecordingDialogs.h"
#include "support/TempDir.h"

namespace kv::ui {
namespace {

namespace fs = std::filesystem;

// Each test runs inside its own fresh directory.
class RecoveryTest : public test::TempDirTest {
 protected:
  RecoveryTest() : TempDirTest("kvrec", /*enter=*/true) {}

  static void Write(const std::string& name, const std::string& bytes) { test::WriteWholeFile(name, bytes); }
  static void Sized(const std::string& name, uintmax_t size) {
    Write(name, "");
    fs::resize_file(name, size);
  }
  static std::string Read(const std::string& name) { return test::ReadWholeFile(name); }
  static bool Exists(const std::string& name) { return fs::exists(name); }

  test::RecordingDialogs dialogs_;
};

TEST_F(RecoveryTest, NothingLeftOverShowsNothing) {
  Write("GLFILE01.DAT", "data");
  Write("GLFILE01.IX", "index");
  EXPECT_TRUE(CheckSavedDataFile(dialogs_, "GLFILE01"));
  EXPECT_TRUE(CheckTempIndexFile(dialogs_, "GLFILE01"));
  EXPECT_TRUE(dialogs_.events.empty());
  EXPECT_EQ(Read("GLFILE01.DAT"), "data");
  EXPECT_EQ(Read("GLFILE01.IX"), "index");
}

TEST_F(RecoveryTest, SavedDataWithoutDataFileIsNotShownButIndexCheckRuns) {
  Write("GLFILE01.SAV", "saved");
  Write("GLFILE01.IX~", "tmpidx");
  dialogs_.answers = {true};
  EXPECT_TRUE(CheckSavedDataFile(dialogs_, "GLFILE01"));
  EXPECT_TRUE(dialogs_.events.empty());
  EXPECT_TRUE(CheckTempIndexFile(dialogs_, "GLFILE01"));
  ASSERT_EQ(dialogs_.recoveryQuestions.size(), 1u);
  EXPECT_EQ(dialogs_.recoveryQuestions[0].fileName, "GLFILE01.IX~");
  EXPECT_EQ(dialogs_.recoveryQuestions[0].tempSize, "6");
  // A missing .IX has no size; the question still comes and Yes still renames.
  EXPECT_EQ(dialogs_.recoveryQuestions[0].normalSize, "-");
  EXPECT_EQ(Read("GLFILE01.IX"), "tmpidx");
  EXPECT_FALSE(Exists("GLFILE01.IX~"));
  EXPECT_EQ(Read("GLFILE01.SAV"), "saved");  // the lone .SAV is left alone
}

TEST_F(RecoveryTest, YesPutsTheSavedCopyBackAndTheIndexWithIt) {
  Sized("GLFILE01.SAV", 100000);
  Sized("GLFILE01.DAT", 50000);
  Write("GLFILE01.IX", "old index");
  Write("GLFILE01.IX~", "new index");
  dialogs_.answers = {true};
  EXPECT_TRUE(CheckSavedDataFile(dialogs_, "GLFILE01"));
  EXPECT_TRUE(CheckTempIndexFile(dialogs_, "GLFILE01"));
  ASSERT_EQ(dialogs_.recoveryQuestions.size(), 1u);  // one Yes restores both
  const RecoveryQuestion& q = dialogs_.recoveryQuestions[0];
  EXPECT_EQ(q.fileName, "GLFILE01.SAV");
  EXPECT_EQ(q.tempSize, "100,000 byte(s)");
  EXPECT_EQ(q.normalSize, "50,000 byte(s)");
  EXPECT_EQ(dialogs_.events[0].title, "Attention!");
  EXPECT_EQ(fs::file_size("GLFILE01.DAT"), 100000u);
  EXPECT_FALSE(Exists("GLFILE01.SAV"));
  EXPECT_EQ(Read("GLFILE01.IX"), "new index");
  EXPECT_FALSE(Exists("GLFILE01.IX~"));
  EXPECT_EQ(dialogs_.closeRequests, 0);
}

TEST_F(RecoveryTest, NoLeavesEveryFileAndAsksToClose) {
  Write("GLFILE03.SAV", "saved");
  Write("GLFILE03.DAT", "data");
  Write("GLFILE03.IX~", "tmp");
  dialogs_.answers = {false};
  EXPECT_FALSE(CheckSavedDataFile(dialogs_, "GLFILE03"));
  EXPECT_EQ(dialogs_.closeRequests, 1);
  EXPECT_EQ(Read("GLFILE03.SAV"), "saved");
  EXPECT_EQ(Read("GLFILE03.DAT"), "data");
  EXPECT_EQ(Read("GLFILE03.IX~"), "tmp");

  test::RecordingDialogs second;
  second.answers = {false};
  EXPECT_FALSE(CheckTempIndexFile(second, "GLFILE03"));
  EXPECT_EQ(second.closeRequests, 1);
  EXPECT_EQ(Read("GLFILE03.IX~"), "tmp");
  EXPECT_FALSE(Exists("GLFILE03.IX"));
}

TEST_F(RecoveryTest, SizesCarrySeparatorsAndTheIndexSizesNoUnit) {
  struct Case {
    uintmax_t size;
    const char* text;
  };
  const Case cases[] = {{0, "0"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"}, {1000000000, "1,000,000,000"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Sized("ICFILE02.IX~", c.size);
    Sized("ICFILE02.IX", 5);
    test::RecordingDialogs d;
    d.answers = {false};
    EXPECT_FALSE(CheckTempIndexFile(d, "ICFILE02"));
    ASSERT_EQ(d.recoveryQuestions.size(), 1u);
    EXPECT_EQ(d.recoveryQuestions[0].tempSize, c.text);
    EXPECT_EQ(d.recoveryQuestions[0].normalSize, "5");
  }
}

TEST_F(RecoveryTest, OnlyTwelveCharactersOfALongNameAreUsedForTheFiles) {
  Write("ABCDEFGHIJKL.SAV", "saved!");
  Write("ABCDEFGHIJKL.DAT", "dat");
  dialogs_.answers = {true};
  EXPECT_TRUE(CheckSavedDataFile(dialogs_, "ABCDEFGHIJKLMNOP"));
  ASSERT_EQ(dialogs_.recoveryQuestions.size(), 1u);
  EXPECT_EQ(dialogs_.recoveryQuestions[0].fileName, "ABCDEFGHIJKLMNOP.SAV");  // shown whole
  EXPECT_EQ(dialogs_.recoveryQuestions[0].tempSize, "6 byte(s)");
  EXPECT_EQ(Read("ABCDEFGHIJKL.DAT"), "saved!");
  EXPECT_FALSE(Exists("ABCDEFGHIJKL.SAV"));
}

TEST_F(RecoveryTest, RestoreKeepsTheSavedCopyWhenTheDataFileCannotBeDeleted) {
  // A directory of the data file's name cannot be deleted as a file.
  Write("GLFILE04.SAV", "saved");
  fs::create_directory("GLFILE04.DAT");
  RestoreTempFiles("GLFILE04");
  EXPECT_EQ(Read("GLFILE04.SAV"), "saved");
}

}  // namespace
}  // namespace kv::ui
