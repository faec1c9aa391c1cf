#include <gtest/gtest.h>

#include "desktop/DesktopRules.h"

// What both desktop front ends share: where a dialog goes, how it stays on the screen,
// and which key answers a question with the Thai layout active.
TEST(DesktopRules, PlacementKeepsWindowsOnTheScreenAndYesNoKeysWorkInThai) {
  using kv::desktop::ScreenPoint;
  EXPECT_EQ(kv::desktop::PlacedPosition(301, 121, 1280, 1024), (ScreenPoint{640 - 150, 512 - 60 - 5}));
  EXPECT_EQ(kv::desktop::PlacedPosition(301, 121, 1280, 1024, 3), (ScreenPoint{490, 449}));
  // Larger than the screen (200 % on 1280 × 1024): the top-left corner stays on it.
  EXPECT_EQ(kv::desktop::KeptOnScreen({-74, -20}, 1428, 800, {0, 0, 1280, 984}), (ScreenPoint{0, 0}));
  EXPECT_EQ(kv::desktop::KeptOnScreen({1200, 950}, 200, 100, {0, 40, 1280, 944}), (ScreenPoint{1080, 884}));
  EXPECT_EQ(kv::desktop::KeptOnScreen({5, 5}, 200, 100, {}), (ScreenPoint{5, 5}));

  using kv::desktop::YesNoAnswer;
  struct Row {
    char32_t c;
    YesNoAnswer answer;
  };
  for (const Row& r : {Row{U'y', YesNoAnswer::kYes}, Row{U'N', YesNoAnswer::kNo}, Row{U'\u0E31', YesNoAnswer::kYes},
                       Row{U'\u0E4C', YesNoAnswer::kNo}, Row{U'\u0E22', YesNoAnswer::kNone}}) {
    EXPECT_EQ(kv::desktop::YesNoOfCharacter(r.c), r.answer) << static_cast<uint32_t>(r.c);
  }
  EXPECT_EQ(kv::desktop::YesNoOfScanCode(0x15), YesNoAnswer::kYes);
  EXPECT_EQ(kv::desktop::YesNoOfScanCode(0x31), YesNoAnswer::kNo);
  EXPECT_EQ(kv::desktop::YesNoOfScanCode(0x2C), YesNoAnswer::kNone);

  // The menus' and the result's letters, by the Thai letters on their keys and their position.
  struct Letter {
    char32_t c;
    char letter;
  };
  for (const Letter& r : {Letter{U'o', 'O'}, Letter{U'\u0E19', 'O'}, Letter{U'\u0E2F', 'O'}, Letter{U'\u0E35', 'U'},
                          Letter{U'\u0E4A', 'U'}, Letter{U'\u0E32', 'K'}, Letter{U'k', 'K'}, Letter{U'\u0E41', 'C'},
                          Letter{U'\u0E22', 0}}) {
    EXPECT_EQ(kv::desktop::AccessLetterOfCharacter(r.c), r.letter) << static_cast<uint32_t>(r.c);
  }
  EXPECT_EQ(kv::desktop::AccessLetterOfScanCode(0x18), 'O');
  EXPECT_EQ(kv::desktop::AccessLetterOfScanCode(0x16), 'U');
  EXPECT_EQ(kv::desktop::AccessLetterOfScanCode(0x25), 'K');
  EXPECT_EQ(kv::desktop::AccessLetterOfScanCode(0x2E), 'C');
  EXPECT_EQ(kv::desktop::AccessLetterOfScanCode(0x2C), 0);
}
