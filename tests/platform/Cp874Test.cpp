#include "platform/Cp874.h"

#include <string>

#include <gtest/gtest.h>

namespace kv::platform {
namespace {

// Every byte with a character in CP874 comes back as itself after a trip through
// UTF-8: the Thai block 0xA1..0xDA and 0xDF..0xFB, NBSP and the punctuation at 0x80..0x97.
TEST(Cp874Test, EveryCharacterRoundTrips) {
  std::string all;
  for (int b = 0; b < 0x100; ++b) {
    bool thai = (b >= 0xA1 && b <= 0xDA) || (b >= 0xDF && b <= 0xFB);
    bool other = b < 0x80 || b == 0x80 || b == 0x85 || (b >= 0x91 && b <= 0x97) || b == 0xA0;
    if (thai || other) all += static_cast<char>(b);
  }
  ASSERT_EQ(all.size(), 128u + 87u + 10u);
  std::string utf8 = Cp874ToUtf8(all);
  EXPECT_EQ(Utf8ToCp874(utf8), all);
  EXPECT_EQ(Cp874ToUtf8(std::string(1, '\xA1')), "\u0E01");  // ko kai
  EXPECT_EQ(Cp874ToUtf8(std::string(1, '\xDF')), "\u0E3F");  // baht sign
  EXPECT_EQ(Cp874ToUtf8(std::string(1, '\xFB')), "\u0E5B");
  EXPECT_EQ(Cp874ToUtf8(std::string(1, '\x80')), "\u20AC");
}

TEST(Cp874Test, TextsAndUnmappable) {
  EXPECT_EQ(Th("คำเตือน"), "\xA4\xD3\xE0\xB5\xD7\xCD\xB9");
  EXPECT_EQ(Th("A ก"), "A \xA1");
  // Characters CP874 cannot hold, and broken UTF-8, become '?'.
  EXPECT_EQ(Utf8ToCp874("\u00E9x"), "?x");
  EXPECT_EQ(Utf8ToCp874("\xE0\xB8"), "?");          // cut-off sequence
  EXPECT_EQ(Utf8ToCp874("\xFFok"), "?ok");
  EXPECT_EQ(Utf8ToCp874("\xE0" "A"), "?A");         // lead byte without continuation
  EXPECT_EQ(Utf8ToCp874("\xE0\xB8" "AB"), "?AB");  // cut off before more text
  EXPECT_EQ(Utf8ToCp874(std::string("\xC0\x80x", 3)), "?x");  // overlong NUL is no NUL
  // Holes in the code page become U+FFFD.
  for (char b : {'\x81', '\xDB', '\xDE', '\xFC', '\xFF'}) EXPECT_EQ(Cp874ToUtf8(std::string(1, b)), "\uFFFD");
}

}  // namespace
}  // namespace kv::platform
