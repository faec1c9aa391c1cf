// The repair report: file name, value texts, and lines that are on disk as soon as
// they are written.
#include "app/Report.h"
#include "app/Version.h"

#include <cerrno>
#include <clocale>
#include <filesystem>
#include <iostream>
#include <locale>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompanyDir.h"
#include "platform/Cp874.h"
#include "platform/Faults.h"
#include "platform/PlainFile.h"
#include "support/RecordingDialogs.h"
#include "ui/NumberText.h"
#include "ui/Recovery.h"

namespace kv::app {
namespace {

TEST(ReportText, FileNameCarriesDateAndTime) {
  EXPECT_EQ(ReportFileName({2026, 12, 8, 7, 5, 9}), "KVFIX207-20261208-070509.LOG");
}

TEST(ReportText, StoredValuesAsText) {
  struct Case {
    std::array<uint8_t, 10> bytes;
    const char* text;
  };
  const Case cases[] = {
      {test::NaNMoney(), "NaN"},
      {test::RawMoney(0xC000000000000000ull, 0xFFFF), "NaN"},
      {test::InfMoney(), "+Inf"},
      {test::RawMoney(0x8000000000000000ull, 0xFFFF), "-Inf"},
      {test::RawMoney(0, 0x7FFF), "invalid"},                     // pseudo-infinity
      {test::RawMoney(0x4000000000000000ull, 0x4000), "invalid"},  // unnormal
      {test::Money(1e11L), "1.00000000000000000e+11"},
      {test::Money(-2.5L), "-2.50000000000000000e+00"},
      {test::Money(0.0L), "0.00000000000000000e+00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ExtendedValueText(c.bytes.data()), c.text);
  }
  const uint8_t bytes[] = {0x00, 0x0f, 0xa5, 0xff};
  EXPECT_EQ(HexBytes(bytes, 4), "000FA5FF");
}

class ReportFileTest : public test::CompanyDirTest {};

// The lines of a report without its checksum and closing lines.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  for (std::string& line : platform::SplitLines(text)) {
    if (line.rfind("SUM\t", 0) == 0 || line.rfind("END\t", 0) == 0) continue;
    out.push_back(std::move(line));
  }
  return out;
}

TEST_F(ReportFileTest, LinesAreOnDiskAsTheyHappen) {
  const platform::LocalTime t{2026, 1, 2, 3, 4, 5};
  ReportFile report(dir_, t);
  EXPECT_EQ(report.Path(), dir_ + "/KVFIX207-20260102-030405.LOG");
  const auto nan = test::NaNMoney();
  report.FieldReset("GLFILE01", 7, 78, nan.data(), modules::LeftReason::kNone);
  // Read while the report is still open: nothing waits in a buffer.
  std::vector<std::string> lines = Lines(Read("KVFIX207-20260102-030405.LOG"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "KVFIX207 repair report 2026-01-02 03:04:05 version " + std::string(VersionText()) + " " + dir_);
  EXPECT_EQ(lines[2], "GLFILE01\t7\t78\t00000000000000C0FF7F\tNaN");
  report.FieldReset("POFILE02", 12, 260, nan.data(), modules::LeftReason::kLocked);
  lines = Lines(Read("KVFIX207-20260102-030405.LOG"));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], "POFILE02\t12\t260\t00000000000000C0FF7F\tNaN\tLOCKED");
  EXPECT_FALSE(report.WriteFailed());
}

// Runs in the same second never write into each other's report, nor into any file
// that already bears the name.
TEST_F(ReportFileTest, ARunInTheSameSecondAsAnotherGetsAReportOfItsOwn) {
  const platform::LocalTime t{2026, 1, 2, 3, 4, 5};
  const auto inf = test::InfMoney();
  { ReportFile(dir_, t).FieldReset("GLFILE03", 1, 103, inf.data(), modules::LeftReason::kNone); }
  const std::string first = Read("KVFIX207-20260102-030405.LOG");
  ASSERT_FALSE(first.empty());
  Write("KVFIX207-20260102-030405-2.LOG", "someone else's");
  for (const char* name : {"KVFIX207-20260102-030405-3.LOG", "KVFIX207-20260102-030405-4.LOG"}) {
    ReportFile next(dir_, t);
    EXPECT_EQ(next.Path(), dir_ + "/" + name);
    EXPECT_EQ(Lines(Read(name)).size(), 2u) << name;
  }
  EXPECT_EQ(Read("KVFIX207-20260102-030405.LOG"), first);
  EXPECT_EQ(Read("KVFIX207-20260102-030405-2.LOG"), "someone else's");
  EXPECT_EQ(ReportFileName(t, 2), "KVFIX207-20260102-030405-2.LOG");
}

// A comma-decimal C++ locale with '.' grouping, for when no such system locale exists.
struct CommaDecimal : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

// The desktop front end runs under the user's locale (its toolkit sets it from the
// environment); every number text must still come out as in the "C" locale: the sizes
// of the recovery question (where 100,000 once read "10,000,000"), the report's VALUE
// column, the money and integer texts.
TEST_F(ReportFileTest, NumberTextsAreTheSameInEveryLocale) {
  Write("GLFILE01.DAT", "");
  std::filesystem::resize_file(Path("GLFILE01.DAT"), 50000);
  Write("GLFILE01.SAV", "");
  std::filesystem::resize_file(Path("GLFILE01.SAV"), 100000);
  const auto texts = [this] {
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    test::RecordingDialogs dialogs;
    dialogs.defaultAnswer = false;  // No: the files stay as they are
    ui::CheckSavedDataFile(dialogs, "GLFILE01");
    std::filesystem::current_path(cwd);
    std::vector<std::string> out = {
        ui::IntToText(-2147483648LL), ui::IntToText(1234567), ui::WholeMoneyText(0, 100000), ui::WholeMoneyText(8, 1234.56L),
        ui::MoneyText(17, -1234567890.12L), ui::MoneyTextTrim(0.125L), ui::ExtendedToText(2, 999.996L),
        ExtendedValueText(test::Money(1e11L).data()), ExtendedValueText(test::Money(-2.5L).data()),
        ExtendedValueText(test::Money(1234.5678L).data())};
    for (const ui::RecoveryQuestion& q : dialogs.recoveryQuestions) {
      out.push_back(q.tempSize);
      out.push_back(q.normalSize);
    }
    return out;
  };
  const std::vector<std::string> inC = texts();
  const std::vector<std::string> expected = {
      "-2147483648", "1234567", "100,000", "   1,234", "-1,234,567,890.12", "0.12", "1000.00",
      "1.00000000000000000e+11", "-2.50000000000000000e+00", "1.23456780000000000e+03",
      "100,000 byte(s)", "50,000 byte(s)"};
  EXPECT_EQ(inC, expected);

  const std::string oldC = std::setlocale(LC_ALL, nullptr);
  const std::locale oldCpp;
  struct Case {
    const char* what;
    bool facet;
    const char* system;
  };
  const Case cases[] = {{"C++ facet", true, nullptr}, {"de_DE.UTF-8", false, "de_DE.UTF-8"}, {"both", true, "de_DE.UTF-8"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.system != nullptr && std::setlocale(LC_ALL, c.system) == nullptr) {
      std::cout << "[  NOTE    ] no " << c.system << " locale here (scripts/setup.sh makes one); " << c.what << " not tried\n";
      continue;
    }
    if (c.facet) std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    EXPECT_EQ(texts(), inC);
    std::locale::global(oldCpp);
    std::setlocale(LC_ALL, oldC.c_str());
  }
}

// The lines of records repaired together: the same lines as one by one, with one write.
TEST_F(ReportFileTest, LinesOfABatchGoOutWithOneWrite) {
  const platform::LocalTime t{2026, 1, 2, 3, 4, 5};
  const auto nan = test::NaNMoney();
  const auto inf = test::InfMoney();
  std::vector<std::string> expected;
  {
    ReportFile single(dir_, t);
    single.FieldReset("GLFILE01", 7, 78, nan.data(), modules::LeftReason::kNone);
    single.FieldReset("GLFILE01", 7, 1188, inf.data(), modules::LeftReason::kNone);
    single.FieldReset("GLFILE01", 9, 88, nan.data(), modules::LeftReason::kWriteFailed);
    expected = Lines(Read("KVFIX207-20260102-030405.LOG"));
  }
  const platform::LocalTime later{2026, 1, 2, 3, 4, 6};
  ReportFile batch(dir_, later);
  const modules::ResetField fields[] = {
      {7, 78, nan.data()}, {7, 1188, inf.data()}, {9, 88, nan.data(), modules::LeftReason::kWriteFailed}};
  const uint64_t before = platform::GetCallCounts().calls[static_cast<int>(platform::Op::kWrite)];
  batch.FieldsReset("GLFILE01", fields);
  const uint64_t after = platform::GetCallCounts().calls[static_cast<int>(platform::Op::kWrite)];
  EXPECT_EQ(after - before, 1u);
  std::vector<std::string> lines = Lines(Read("KVFIX207-20260102-030406.LOG"));
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << i;  // line 0 has the time
  EXPECT_FALSE(batch.WriteFailed());
}

// What a report carries for an undo: a file's slot length before its first line (only
// for files with lines), and whole lines read back, the written ones apart.
TEST_F(ReportFileTest, AReportReadsBackForAnUndo) {
  const platform::LocalTime t{2026, 1, 2, 3, 4, 5};
  const auto nan = test::NaNMoney();
  {
    ReportFile report(dir_, t);
    report.FileWalked("GLFILE01", 1248);
    report.FileWalked("GLFILE03", 220);
    report.FieldReset("GLFILE03", 7, 103, nan.data(), modules::LeftReason::kNone);
    const modules::ResetField fields[] = {{9, 103, nan.data()}, {12, 103, nan.data(), modules::LeftReason::kLocked}};
    report.FieldsReset("GLFILE03", fields);
    report.RecordUnread("GLFILE03", 20, modules::LeftReason::kReadFailed);
  }
  const std::string text = Read("KVFIX207-20260102-030405.LOG");
  const std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[2], "FILE\tGLFILE03\tSLOT\t220");
  ReportContents read;
  std::string error;
  ASSERT_TRUE(ParseRepairReport(text, read, error)) << error;
  EXPECT_EQ(read.slotLengths, (std::vector<std::pair<std::string, int32_t>>{{"GLFILE03", 220}}));
  ASSERT_EQ(read.written.size(), 2u);
  EXPECT_EQ(read.written[1].record, 9);
  EXPECT_EQ(read.written[1].original, nan);
  EXPECT_EQ(read.notWritten, 2);

  struct Case {
    const char* what;
    std::string text;
    const char* error;  // nullptr: read, with `written` fields
    size_t written;
  };
  const std::string head = lines[0] + "\r\n" + lines[1] + "\r\n" + lines[2] + "\r\n";
  const Case cases[] = {
      // A write cut short counts for nothing: its lines follow the last sum.
      {"cut inside the reason of a left field", text.substr(0, text.find("\tLOCKED") + 3), nullptr, 1},
      {"cut before the line end of a written one", head + lines[3] + "\r\n" + lines[4], nullptr, 1},
      {"no slot length", lines[0] + "\r\n" + lines[1] + "\r\n" + lines[3] + "\r\n", "without its file's slot length", 0},
      {"value and bytes disagree", head + "GLFILE03\t7\t103\t00000000000000C0FF7F\t+Inf\r\n", "disagree", 0},
      {"written twice", head + lines[3] + "\r\n" + lines[3] + "\r\n", "twice", 0},
      {"another slot length", head + "FILE\tGLFILE03\tSLOT\t221\r\n", "different slot length", 0},
      {"not a report", "GLFILE03\t7\r\n", "not a repair report", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const bool ok = ParseRepairReport(c.text, read, error);
    EXPECT_EQ(ok, c.error == nullptr) << error;
    if (ok) {
      EXPECT_EQ(read.written.size(), c.written);
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
  }
}


// Written ahead: the lines and fingerprints of the records written under one lock are
// forced to disk once, before any of them is written; a write that fails leaves no part
// of its block, a force that fails takes back every block since the last one, the
// closing line still follows, and the report reads back as exactly the fields before
// it. An edit breaks the sums.
TEST_F(ReportFileTest, WrittenAheadWithSumsAndAClosingLine) {
  const platform::LocalTime t{2026, 1, 2, 3, 4, 5};
  const auto nan = test::NaNMoney();
  std::vector<uint8_t> slot(220, 0);
  struct Case {
    const char* what;
    platform::Op op;
    platform::FaultKind kind;
    uint64_t failing;  // 0: none; else the Nth write or flush after the header
    size_t written;
    bool ahead2;
    bool forced;
  };
  using platform::FaultKind;
  using platform::Op;
  const Case cases[] = {{"all written", Op::kWrite, FaultKind::kShortCount, 0, 2, true, true},
                        {"the second record's write fails", Op::kWrite, FaultKind::kShortCount, 2, 1, false, true},
                        {"the force fails", Op::kFlush, FaultKind::kError, 1, 0, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(Path("KVFIX207-20260102-030405.LOG"));
    {
      ReportFile report(dir_, t);
      report.FileWalked("GLFILE03", 220);
      const modules::ResetField f1[] = {{7, 103, nan.data()}};
      const modules::ResetField f2[] = {{9, 103, nan.data()}};
      if (c.failing != 0) platform::SetFaultPlan({c.op, c.failing, false, c.kind, ENOSPC});
      EXPECT_TRUE(report.WriteAhead("GLFILE03", 7, f1, slot));
      EXPECT_EQ(report.WriteAhead("GLFILE03", 9, f2, slot), c.ahead2);
      EXPECT_EQ(report.ForceAhead(), c.forced);
      platform::ClearFaults();
      const bool failed = !c.ahead2 || !c.forced;
      if (failed) {
        EXPECT_THROW(report.ThrowWriteFailure(), modules::ReportWriteFailed);
      }
      report.Close(failed ? "ENDED EARLY" : "COMPLETED");
    }
    const std::string text = Read("KVFIX207-20260102-030405.LOG");
    ReportContents read;
    std::string error;
    ASSERT_TRUE(ParseRepairReport(text, read, error)) << error;
    EXPECT_TRUE(read.sealed);
    EXPECT_TRUE(read.sumsMatch);
    EXPECT_EQ(read.written.size(), c.written);
    EXPECT_EQ(read.fingerprints.size(), c.written);
    EXPECT_EQ(read.outcome, c.ahead2 && c.forced ? "COMPLETED" : "ENDED EARLY");
    EXPECT_EQ(read.directory, dir_);
    if (c.written == 0) continue;
    // One changed byte (a record number) breaks the sums.
    std::string edited = text;
    edited[edited.find("GLFILE03\t7\t")+9] = '8';
    ASSERT_TRUE(ParseRepairReport(edited, read, error)) << error;
    EXPECT_FALSE(read.sumsMatch);
  }
  EXPECT_EQ(EscapeControls("/a\nb"), "/a\\x0Ab");
  EXPECT_EQ(UnescapeControls("/a\\x0Ab"), "/a\nb");
  // The directory of the first line whichever build wrote it: one that wrote no version,
  // one built without git, one with the commit.
  for (const char* version : {"", "version 1.0.0 ", "version 1.0.0 (6f3b8ce-dirty) "}) {
    SCOPED_TRACE(version);
    const std::string header = std::string(kRepairReportTitle) + "2026-01-02 03:04:05 " + version +
                               "/co (1)\r\nFILE\tRECORD\tOFFSET\tBYTES\tVALUE\r\n";
    ReportContents read;
    std::string error;
    ASSERT_TRUE(ParseRepairReport(header, read, error)) << error;
    EXPECT_EQ(read.directory, "/co (1)");
  }
}

// A field written ahead whose record then could not be written follows again with its
// reason: it is taken back, the undo has nothing to do there.
TEST_F(ReportFileTest, AFieldLeftAfterItsLineWasWrittenAheadIsTakenBack) {
  const platform::LocalTime t{2026, 1, 2, 3, 4, 5};
  const auto nan = test::NaNMoney();
  std::vector<uint8_t> slot(220, 0);
  {
    ReportFile report(dir_, t);
    report.FileWalked("GLFILE03", 220);
    const modules::ResetField f[] = {{7, 103, nan.data()}};
    ASSERT_TRUE(report.WriteAhead("GLFILE03", 7, f, slot));
    report.FieldReset("GLFILE03", 7, 103, nan.data(), modules::LeftReason::kWriteFailed);
  }
  ReportContents read;
  std::string error;
  ASSERT_TRUE(ParseRepairReport(Read("KVFIX207-20260102-030405.LOG"), read, error)) << error;
  EXPECT_EQ(read.written.size(), 0u);
  EXPECT_EQ(read.notWritten, 1);
  EXPECT_EQ(read.outcome, "ENDED EARLY");  // destroyed without its outcome
}

// The message names the report's path and the system's reason; a header that cannot be
// written leaves no report behind.
TEST_F(ReportFileTest, AReportThatCannotBeMadeSaysWhereAndWhy) {
  const platform::LocalTime t{2026, 1, 2, 3, 4, 5};
  try {
    ReportFile report(dir_ + "/missing", t);
    ADD_FAILURE() << "no error";
  } catch (const ReportCreateError& e) {
    EXPECT_EQ(platform::Cp874ToUtf8(e.Message()),
              "ไม่สามารถสร้างแฟ้มรายงาน " + dir_ + "/missing/KVFIX207-20260102-030405.LOG: path not found (3)");
  }
  platform::SetFaultPlan({platform::Op::kWrite, 1, false, platform::FaultKind::kError, ENOSPC});
  EXPECT_THROW(ReportFile(dir_, t), ReportCreateError);
  platform::ClearFaults();
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/KVFIX207-20260102-030405.LOG"));
}

}  // namespace
}  // namespace kv::app
