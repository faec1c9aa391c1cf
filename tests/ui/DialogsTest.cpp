#include <gtest/gtest.h>

#include "platform/Cp874.h"
#include "support/RecordingDialogs.h"
#include "ui/DesktopRules.h"
#include "ui/Dialogs.h"

using kv::platform::Th;

TEST(QuestionRule, AppendsQuestionMarkOnlyWhenTextEndsInNeitherMarkNorStop) {
  EXPECT_EQ(kv::ui::ApplyQuestionRule(Th("คุณต้องการแก้ไขข้อผิดพลาด 207")),
            Th("คุณต้องการแก้ไขข้อผิดพลาด 207?"));
  EXPECT_EQ(kv::ui::ApplyQuestionRule(Th("ต้องการแก้ไขข้อผิดพลาด 207?")), Th("ต้องการแก้ไขข้อผิดพลาด 207?"));
  EXPECT_EQ(kv::ui::ApplyQuestionRule("Go on."), "Go on.");
  EXPECT_EQ(kv::ui::ApplyQuestionRule(""), "");
}

// What both desktop front ends share: where a dialog goes, how it stays on the screen,
// and which key answers a question with the Thai layout active.
TEST(DesktopRules, PlacementKeepsWindowsOnTheScreenAndYesNoKeysWorkInThai) {
  using kv::ui::ScreenPoint;
  EXPECT_EQ(kv::ui::PlacedPosition(301, 121, 1280, 1024), (ScreenPoint{640 - 150, 512 - 60 - 5}));
  EXPECT_EQ(kv::ui::PlacedPosition(301, 121, 1280, 1024, 3), (ScreenPoint{490, 449}));
  // Larger than the screen (200 % on 1280 × 1024): the top-left corner stays on it.
  EXPECT_EQ(kv::ui::KeptOnScreen({-74, -20}, 1428, 800, {0, 0, 1280, 984}), (ScreenPoint{0, 0}));
  EXPECT_EQ(kv::ui::KeptOnScreen({1200, 950}, 200, 100, {0, 40, 1280, 944}), (ScreenPoint{1080, 884}));
  EXPECT_EQ(kv::ui::KeptOnScreen({5, 5}, 200, 100, {}), (ScreenPoint{5, 5}));

  using kv::ui::YesNoAnswer;
  struct Row {
    char32_t c;
    YesNoAnswer answer;
  };
  for (const Row& r : {Row{U'y', YesNoAnswer::kYes}, Row{U'N', YesNoAnswer::kNo}, Row{U'\u0E31', YesNoAnswer::kYes},
                       Row{U'\u0E4C', YesNoAnswer::kNo}, Row{U'\u0E22', YesNoAnswer::kNone}}) {
    EXPECT_EQ(kv::ui::YesNoOfCharacter(r.c), r.answer) << static_cast<uint32_t>(r.c);
  }
  EXPECT_EQ(kv::ui::YesNoOfScanCode(0x15), YesNoAnswer::kYes);
  EXPECT_EQ(kv::ui::YesNoOfScanCode(0x31), YesNoAnswer::kNo);
  EXPECT_EQ(kv::ui::YesNoOfScanCode(0x2C), YesNoAnswer::kNone);
}
