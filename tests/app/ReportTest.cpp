// The repair report: file name, value texts, and lines that are on disk as soon as
// they are written.
#include "app/Report.h"

#include <string>

#include <gtest/gtest.h>

#include "CompanyDir.h"
#include "platform/Faults.h"
#include "platform/PlainFile.h"

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

TEST_F(ReportFileTest, LinesAreOnDiskAsTheyHappen) {
  const platform::LocalTime t{2026, 1, 2, 3, 4, 5};
  ReportFile report(dir_, t);
  EXPECT_EQ(report.Path(), dir_ + "/KVFIX207-20260102-030405.LOG");
  const auto nan = test::NaNMoney();
  report.FieldReset("GLFILE01", 7, 78, nan.data(), modules::LeftReason::kNone);
  // Read while the report is still open: nothing waits in a buffer.
  std::vector<std::string> lines = platform::SplitLines(Read("KVFIX207-20260102-030405.LOG"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "KVFIX207 repair report 2026-01-02 03:04:05 " + dir_);
  EXPECT_EQ(lines[2], "GLFILE01\t7\t78\t00000000000000C0FF7F\tNaN");
  report.FieldReset("POFILE02", 12, 260, nan.data(), modules::LeftReason::kLocked);
  lines = platform::SplitLines(Read("KVFIX207-20260102-030405.LOG"));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], "POFILE02\t12\t260\t00000000000000C0FF7F\tNaN\tLOCKED");
  EXPECT_FALSE(report.WriteFailed());
}

TEST_F(ReportFileTest, ASecondRunInTheSameSecondAddsToTheFirstReport) {
  const platform::LocalTime t{2026, 1, 2, 3, 4, 5};
  const auto inf = test::InfMoney();
  { ReportFile(dir_, t).FieldReset("GLFILE03", 1, 103, inf.data(), modules::LeftReason::kNone); }
  { ReportFile second(dir_, t); }
  const std::vector<std::string> lines = platform::SplitLines(Read("KVFIX207-20260102-030405.LOG"));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2], "GLFILE03\t1\t103\t0000000000000080FF7F\t+Inf");
  EXPECT_EQ(lines[3].rfind("KVFIX207 repair report", 0), 0u);
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
    expected = platform::SplitLines(Read("KVFIX207-20260102-030405.LOG"));
  }
  const platform::LocalTime later{2026, 1, 2, 3, 4, 6};
  ReportFile batch(dir_, later);
  const modules::ResetField fields[] = {
      {7, 78, nan.data()}, {7, 1188, inf.data()}, {9, 88, nan.data(), modules::LeftReason::kWriteFailed}};
  const uint64_t before = platform::GetCallCounts().calls[static_cast<int>(platform::Op::kWrite)];
  batch.FieldsReset("GLFILE01", fields);
  const uint64_t after = platform::GetCallCounts().calls[static_cast<int>(platform::Op::kWrite)];
  EXPECT_EQ(after - before, 1u);
  std::vector<std::string> lines = platform::SplitLines(Read("KVFIX207-20260102-030406.LOG"));
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << i;  // line 0 has the time
  EXPECT_FALSE(batch.WriteFailed());
}

TEST_F(ReportFileTest, AnUnwritableDirectoryIsAnIoError) {
  EXPECT_THROW(ReportFile(dir_ + "/missing", platform::LocalTime{2026, 1, 2, 3, 4, 5}), platform::IoError);
}

}  // namespace
}  // namespace kv::app
