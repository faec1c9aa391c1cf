#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>

#include "ui/NumberText.h"

namespace {

using namespace kv::ui;

TEST(NumberText, IntToText) {
  EXPECT_EQ(IntToText(0), "0");
  EXPECT_EQ(IntToText(-5), "-5");
  EXPECT_EQ(IntToText(2147483647), "2147483647");
  EXPECT_EQ(IntToText(-2147483648LL), "-2147483648");
}

TEST(NumberText, WholeMoneyTextOfFileSizes) {
  const struct {
    long double x;
    const char* text;
  } cases[] = {
      {0, "0"},           {999, "999"},         {1000, "1,000"},
      {100000, "100,000"}, {50000, "50,000"},   {1234567, "1,234,567"},
      {2147483647, "2,147,483,647"}, {1234.56L, "1,234"}, {999.996L, "1,000"},
      {-1234.5L, "-1,234"},
  };
  for (const auto& c : cases) EXPECT_EQ(WholeMoneyText(0, c.x), c.text) << static_cast<double>(c.x);
}

TEST(NumberText, WholeMoneyTextWithWidthKeepsTheWidth) {
  EXPECT_EQ(WholeMoneyText(8, 1234.56L), "   1,234");
  EXPECT_EQ(WholeMoneyText(4, 1234567.0L), "****");
}

TEST(NumberText, MoneyTextAlignsSeparatesAndFits) {
  const struct {
    int width;
    long double x;
    const char* text;
  } cases[] = {
      {15, 1234567.891L, "   1,234,567.89"},
      {10, 1234567.891L, "1234567.89"},  // too long with commas, fits exactly without
      {5, 1234567.891L, "*****"},
      {8, -0.004L, "    0.00"},  // rounds to zero: no sign
      {9, -1234.5L, "-1,234.50"},
      {8, 999.996L, "1,000.00"},
      {16, 1234567890.12L, "1,234,567,890.12"},
      {17, -1234567890.12L, "-1,234,567,890.12"},
      {20, 1234567890123.0L, " 1234,567,890,123.00"},  // at most three separators
      {1, 5, "*"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MoneyText(c.width, c.x), c.text) << c.width << " " << static_cast<double>(c.x);
}

TEST(NumberText, MoneyTextTrimHasNoBlanks) {
  EXPECT_EQ(MoneyTextTrim(1234567.891L), "1,234,567.89");
  EXPECT_EQ(MoneyTextTrim(0), "0.00");
  EXPECT_EQ(MoneyTextTrim(-0.5L), "-0.50");
}

TEST(NumberText, ExtendedToTextRoundsAndDropsTheSignOfZero) {
  EXPECT_EQ(ExtendedToText(2, -0.001L), "0.00");
  EXPECT_EQ(ExtendedToText(2, -0.0L), "0.00");
  EXPECT_EQ(ExtendedToText(2, 0.125L), "0.12");  // exact ties go to even
  EXPECT_EQ(ExtendedToText(2, 0.375L), "0.38");
  EXPECT_EQ(ExtendedToText(0, 2.5L), "2");
  EXPECT_EQ(ExtendedToText(2, -12.345678L), "-12.35");
  // Only the first 20 characters are kept.
  EXPECT_EQ(ExtendedToText(2, 1e19L), "10000000000000000000");
  EXPECT_EQ(ExtendedToText(2, LDBL_MAX), "11897314953572317650");  // 4933 digits made, 20 kept
}

TEST(NumberText, TextToExtendedAndRounding) {
  EXPECT_EQ(TextToExtended("1,234,567.89"), TextToExtended("1234567.89"));
  EXPECT_EQ(TextToExtended("1,234,567.89"), 1234567.89L);
  EXPECT_EQ(TextToExtended("abc"), 0);
  // Read to the nearest extended value on every system, whatever path the text takes.
  EXPECT_EQ(TextToExtended("-9,999,999,999.99"), -9999999999.99L);
  EXPECT_EQ(TextToExtended("0.000000000000000000000000001"), 1e-27L);
  EXPECT_EQ(TextToExtended("12345678901234567890"), 12345678901234567890.0L);
  EXPECT_EQ(TextToExtended("1.5e3"), 1500.0L);
  EXPECT_EQ(TextToExtended("."), 0);
  EXPECT_EQ(TextToExtended("1.2.3"), 0);
  long double x = 0.125L;
  RoundToDecimals(x, 2);
  EXPECT_EQ(x, 0.12L);
  x = -999.996L;
  RoundToDecimals(x, 2);
  EXPECT_EQ(x, -1000.0L);
}

TEST(NumberText, NonFiniteValuesDoNotCrash) {
  EXPECT_EQ(MoneyText(5, INFINITY).size(), 5u);
  EXPECT_EQ(MoneyText(5, NAN).size(), 5u);
  EXPECT_EQ(WholeMoneyText(0, -INFINITY).empty(), false);
}

}  // namespace
