#include "platform/PlainFile.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempDir.h"
#include "support/Host.h"
#include "platform/Faults.h"

namespace kv::platform {
namespace {

class PlainFileTest : public testing::TempDirTest {
 protected:
  void TearDown() override {
    ClearFaults();
    TempDirTest::TearDown();
  }
};

TEST(SplitLinesTest, EveryLineEnd) {
  struct {
    const char* text;
    std::vector<std::string> lines;
  } table[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\r\nb", {"a", "b"}},
      {"a\n\r\nb", {"a", "", "b"}},
      {"a\r\rb", {"a", "", "b"}},
      {"\r\n", {""}},
      {"\n\r", {"", ""}},  // LF then a lone CR: two line ends
      {"x=\xA1\xA2 \r\n", {"x=\xA1\xA2 "}},
  };
  for (const auto& row : table) EXPECT_EQ(SplitLines(row.text), row.lines) << "text: " << row.text;
}

TEST_F(PlainFileTest, RecordFileReadsWholeRecordsOnly) {
  WriteRaw("SIDE.DAT", "AAAABBBBCC");  // two records of 4 and a partial third
  RecordFile f;
  ASSERT_EQ(f.Open(Path("side.dat"), 4), kIoOk);
  char rec[4];
  std::vector<std::string> read;
  while (!f.Eof()) {
    ASSERT_EQ(f.Read(rec), kIoOk);
    read.emplace_back(rec, 4);
  }
  EXPECT_EQ(read, (std::vector<std::string>{"AAAA", "BBBB"}));
  EXPECT_EQ(f.Read(rec), kIoReadPastEnd);
  EXPECT_EQ(f.Read(rec), kIoReadPastEnd);  // the position stays before the partial record
  ASSERT_EQ(f.Write("DDDD"), kIoOk);      // and a write replaces it
  EXPECT_EQ(f.Close(), kIoOk);
  EXPECT_EQ(ReadRaw("SIDE.DAT"), "AAAABBBBDDDD");

  // Not open: 103 for everything, Eof true.
  EXPECT_EQ(f.Read(rec), kIoNotOpen);
  EXPECT_EQ(f.Write(rec), kIoNotOpen);
  EXPECT_EQ(f.Close(), kIoNotOpen);
  EXPECT_TRUE(f.Eof());
}

TEST_F(PlainFileTest, RecordFileOpenFailuresAndCreate) {
  RecordFile f;
  EXPECT_EQ(f.Open(Path("NONE.DAT"), 4), OsError::kFileNotFound);
  EXPECT_EQ(f.Open(Path("NODIR/X.DAT"), 4), OsError::kPathNotFound);
  EXPECT_EQ(f.Create(Path("NODIR/X.DAT"), 4), OsError::kPathNotFound);
  EXPECT_FALSE(f.IsOpen());

  WriteRaw("INFO.DAT", "old old old");
  ASSERT_EQ(f.Create(Path("INFO.DAT"), 3), kIoOk);
  EXPECT_TRUE(f.Eof());
  ASSERT_EQ(f.Write("xyz"), kIoOk);
  ASSERT_EQ(f.Close(), kIoOk);
  EXPECT_EQ(ReadRaw("INFO.DAT"), "xyz");
}

TEST_F(PlainFileTest, RecordFileWriteFailureIs101) {
  RecordFile f;
  ASSERT_EQ(f.Create(Path("W.DAT"), 8), kIoOk);
  SetFaultPlan({Op::kWrite, 1, false, FaultKind::kError, ENOSPC});
  EXPECT_EQ(f.Write("12345678"), kIoWriteFailed);
  SetFaultPlan({Op::kWrite, 1, false, FaultKind::kShortCount, 0});
  EXPECT_EQ(f.Write("12345678"), kIoWriteFailed);
  EXPECT_EQ(FaultsInjected(), 1u);
  ClearFaults();
  EXPECT_EQ(f.Write("12345678"), kIoOk);
}

TEST_F(PlainFileTest, TextLinesRoundTripWithCrLf) {
  std::vector<std::string> lines = {"OPENCOMPANY_DIR=/data/a", "", "\xA1\xA2\xA3"};
  ASSERT_EQ(WriteTextLines(Path("KORVA.CFG"), lines), kIoOk);
  EXPECT_EQ(ReadRaw("KORVA.CFG"), "OPENCOMPANY_DIR=/data/a\r\n\r\n\xA1\xA2\xA3\r\n");
  std::vector<std::string> back;
  ASSERT_EQ(ReadTextLines(Path("korva.cfg"), back), kIoOk);
  EXPECT_EQ(back, lines);
  EXPECT_EQ(ReadTextLines(Path("NONE.INI"), back), OsError::kFileNotFound);
  EXPECT_TRUE(back.empty());
  EXPECT_TRUE(Others({"KORVA.CFG"}).empty());
}

// Whatever step of the replace fails, the old content stays and no temporary is left.
TEST_F(PlainFileTest, AtomicReplaceKeepsOldContentOnFailure) {
  struct {
    const char* what;
    FaultPlan plan;
  } table[] = {
      {"write error", {Op::kWrite, 1, false, FaultKind::kError, EIO}},
      {"disk full", {Op::kWrite, 1, true, FaultKind::kError, ENOSPC}},
      {"short write", {Op::kWrite, 1, false, FaultKind::kShortCount, 0}},
      {"flush", {Op::kFlush, 1, false, FaultKind::kError, EIO}},
      {"close", {Op::kClose, 1, false, FaultKind::kError, EIO}},
      {"rename", {Op::kRename, 1, false, FaultKind::kError, EIO}},
  };
  WriteRaw("USERDRV.INI", "old\r\n");
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    SetFaultPlan(row.plan);
    const OsStatus err = ReplaceFileAtomically(Path("USERDRV.INI"), std::string(1000, 'n'));
    EXPECT_NE(err, OsError::kNone);
    EXPECT_EQ(FaultsInjected(), 1u);
    ClearFaults();
    EXPECT_EQ(ReadRaw("USERDRV.INI"), "old\r\n");
    EXPECT_TRUE(Others({"USERDRV.INI"}).empty());
  }
  SetFaultPlan({Op::kWrite, 1, false, FaultKind::kError, EIO});
  EXPECT_EQ(WriteTextLines(Path("USERDRV.INI"), {"new"}), kIoWriteFailed);
  ClearFaults();
  EXPECT_EQ(ReadRaw("USERDRV.INI"), "old\r\n");

  ASSERT_EQ(ReplaceFileAtomically(Path("userdrv.ini"), "new"), OsError::kNone);
  EXPECT_EQ(ReadRaw("USERDRV.INI"), "new");  // the existing spelling is replaced
  EXPECT_EQ(Others({"USERDRV.INI"}), std::vector<std::string>{});
  EXPECT_EQ(ReplaceFileAtomically(Path("NODIR/A.INI"), "x"), OsError::kPathNotFound);
}

// A temporary left by a killed run is removed by the next replace of its file (on every
// system; what a running program holds is tested per system); other names stay.
TEST_F(PlainFileTest, LeftoverTemporaryOfAKilledRunGoes) {
  const std::vector<std::string> stay = {"A.INI", "A.INI.~tmp12x", "A.INI.~tmp", "A.INI.~tmp12345678901",
                                         "B.INI.~tmp77", "AA.INI.~tmp5"};
  for (const std::string& name : stay) WriteRaw(name, "x");
  WriteRaw("A.INI.~tmp4194999", "left by a killed run");
  ASSERT_EQ(ReplaceFileAtomically(Path("A.INI"), "new"), OsError::kNone);
  EXPECT_EQ(ReadRaw("A.INI"), "new");
  EXPECT_TRUE(Others(stay).empty());
  for (const std::string& name : stay) EXPECT_TRUE(Exists(name)) << name;
}

TEST_F(PlainFileTest, ReadWholeFile) {
  std::string bytes = "x";
  WriteRaw("E.DAT", "");
  ASSERT_EQ(ReadWholeFile(Path("E.DAT"), bytes), kIoOk);
  EXPECT_TRUE(bytes.empty());
  WriteRaw("B.DAT", std::string("\0\x01\xFF", 3));
  ASSERT_EQ(ReadWholeFile(Path("B.DAT"), bytes), kIoOk);
  EXPECT_EQ(bytes, std::string("\0\x01\xFF", 3));
  SetFaultPlan({Op::kRead, 1, false, FaultKind::kError, EIO});
  EXPECT_EQ(ReadWholeFile(Path("B.DAT"), bytes), OsError::kGenFailure);
  EXPECT_TRUE(bytes.empty());
  ClearFaults();

  // An absurdly large file is refused, not loaded (a sparse file costs no disk).
  std::filesystem::resize_file(Path("B.DAT"), kMaxWholeFile + 1);
  EXPECT_EQ(ReadWholeFile(Path("B.DAT"), bytes), OsError::kNotEnoughMemory);
  EXPECT_TRUE(bytes.empty());
}

TEST_F(PlainFileTest, ReadOnlyFileIsNotReplaced) {
  if (const std::string why = kv::test::NoPermissionBitsReason(); !why.empty()) GTEST_SKIP() << why;
  WriteRaw("KORVA.CFG", "keep");
  std::filesystem::permissions(Path("KORVA.CFG"), std::filesystem::perms::owner_read);
  EXPECT_EQ(WriteTextLines(Path("KORVA.CFG"), {"x"}), OsError::kAccessDenied);
  EXPECT_EQ(ReadRaw("KORVA.CFG"), "keep");
}

}  // namespace
}  // namespace kv::platform
