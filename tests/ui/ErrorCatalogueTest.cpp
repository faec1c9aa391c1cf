#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/TempDir.h"
#include "ui/ErrorCatalogue.h"

namespace {

namespace fs = std::filesystem;

class ErrorCatalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string made = kv::test::MakeTempDir("kvcatalogue", fs::temp_directory_path().string());
    ASSERT_FALSE(made.empty());
    dir_ = made;
  }
  void TearDown() override { kv::test::RemoveTempDir(dir_.string()); }

  void Write(const std::string& bytes) {
    std::ofstream(dir_ / "KVERROR.MSG", std::ios::binary) << bytes;
  }
  std::string Help(int32_t number) {
    std::ostringstream out;
    kv::ui::PrintErrorHelp(number, dir_.string(), out);
    return out.str();
  }

  fs::path dir_;
};

TEST_F(ErrorCatalogue, WritesTheLinesOfTheMatchingEntryOnly) {
  Write(
      "text before any header\r\n"
      "%ERROR%10010\r\n"
      "The index does not fit the data.\r\n"
      "Run the reindex.\r\n"
      "%ERROR%10020\r\n"
      "Record length.\r\n");
  const struct {
    int32_t number;
    const char* out;
  } cases[] = {
      {10010, "The index does not fit the data.\nRun the reindex.\n"},
      {10020, "Record length.\n"},  // last entry: up to the end of the file
      {9903, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Help(c.number), c.out) << c.number;
}

TEST_F(ErrorCatalogue, HeaderMustEqualTheWholeLine) {
  Write(
      "%ERROR%100 \r\n"  // trailing blank: not a header of 100
      "blank\r\n"
      "%ERROR%1000\r\n"
      "thousand\r\n"
      "%ERROR%100\r\n"
      "hundred\r\n"
      "\r\n"
      "%ERROR%100\r\n"
      "second hundred\r\n"
      "%ERROR%\r\n"
      "after a bare mark\r\n");
  EXPECT_EQ(Help(100), "hundred\n\n");  // ends at the next header, same number or not
  EXPECT_EQ(Help(1000), "thousand\n");
  EXPECT_EQ(Help(10), "");
}

TEST_F(ErrorCatalogue, NumberIsTakenAsUnsigned16Bit) {
  Write("%ERROR%65535\r\nminus one\r\n%ERROR%10010\r\nwrapped\r\n");
  EXPECT_EQ(Help(-1), "minus one\n");
  EXPECT_EQ(Help(10010 + 65536), "wrapped\n");
}

TEST_F(ErrorCatalogue, MissingCatalogueIsSilentAndLeavesCurrentDirectory) {
  const fs::path before = fs::current_path();
  EXPECT_EQ(Help(10010), "");
  EXPECT_EQ(fs::current_path(), before);
  std::ostringstream out;
  kv::ui::PrintErrorHelp(10010, (dir_ / "missing").string(), out);
  EXPECT_EQ(out.str(), "");
}

TEST_F(ErrorCatalogue, LongLinesNulBytesAndNoFinalLineBreak) {
  const std::string longLine(1 << 20, 'x');
  const std::string withNul("a\0b", 3);
  Write("%ERROR%5\r\n" + longLine + "\r\n" + withNul + "\r\nlast line without end");
  EXPECT_EQ(Help(5), longLine + "\n" + withNul + "\nlast line without end\n");
  EXPECT_EQ(Help(6), "");
}

}  // namespace
