#include <gtest/gtest.h>

#include <string>

#include "desktop/ElideMiddle.h"
#include "desktop/Layouts.h"

using kv::desktop::Rect;

// The small dialog as both front ends draw it: sized to its text, the buttons centred
// under it, a too-wide text cut to the screen, the details area widening the dialog.
TEST(SmallDialogLayout, SizesToTheTextAndKeepsWithinTheScreen) {
  using kv::desktop::LayOutSmallDialog;
  kv::desktop::SmallDialogInput in{.geometry = kv::desktop::kQuestionGeometry, .frameWidth = 8, .screenWidth = 1280,
                                   .textWidth = 200, .firstLineHeight = 18, .lineSpacing = 18, .buttonCount = 2};
  kv::desktop::SmallDialogLayout out = LayOutSmallDialog(in);
  EXPECT_EQ(out.clientWidth, 288);
  EXPECT_EQ(out.clientHeight, 92);
  EXPECT_FALSE(out.elide);
  EXPECT_EQ(out.icon, (Rect{12, 12, 32, 32}));
  EXPECT_EQ(out.text, (Rect{64, 12, 200, 18}));
  EXPECT_EQ(out.buttons[0], (Rect{75, 57, 66, 25}));
  EXPECT_EQ(out.buttons[1], (Rect{146, 57, 66, 25}));

  // Two lines, at 150 %: the measures scale, the measured text does not.
  in.dpi = 144;
  in.lineCount = 2;
  out = LayOutSmallDialog(in);
  EXPECT_EQ(out.clientWidth, 200 + 132);
  EXPECT_EQ(out.clientHeight, 138 + 18);
  EXPECT_EQ(out.text, (Rect{96, 18, 200, 36}));
  EXPECT_EQ(out.buttons[0].y, 86 + 18);

  // Wider than the screen: as wide as the screen, the text cut in the middle to fit.
  in.dpi = 96;
  in.lineCount = 1;
  in.textWidth = 3000;
  out = LayOutSmallDialog(in);
  EXPECT_EQ(out.clientWidth, 1272);
  EXPECT_TRUE(out.elide);
  EXPECT_EQ(out.elideWidth, 1272 - 88);

  // A details area: at least 520 wide, below the text, pushing the buttons down.
  in.textWidth = 100;
  in.detailsHeight = 60;
  in.buttonCount = 1;
  out = LayOutSmallDialog(in);
  EXPECT_EQ(out.clientWidth, 520);
  EXPECT_EQ(out.details, (Rect{12, 51, 496, 60}));
  EXPECT_EQ(out.buttons[0], (Rect{227, 57 + 72, 66, 25}));

  // The result with its "เปิดรายงาน" button: OK and the wider button centred as a row, a
  // short text's dialog widened to hold them.
  in = {.geometry = kv::desktop::kMessageGeometry, .textWidth = 40, .buttonCount = 2, .secondButtonWidth = 150};
  out = LayOutSmallDialog(in);
  EXPECT_EQ(out.clientWidth, 66 + 5 + 150 + 24);
  EXPECT_EQ(out.buttons[0], (Rect{12, 53, 66, 25}));
  EXPECT_EQ(out.buttons[1], (Rect{83, 53, 150, 25}));

  // The support warning line, centred; cut to the dialog where the front end asks.
  in = {.geometry = kv::desktop::kTechnicalSupportGeometry, .textWidth = 40, .buttonCount = 2};
  in.warningWidth = 330;
  in.warningHeight = 14;
  EXPECT_EQ(LayOutSmallDialog(in).warning, (Rect{(200 - 330) / 2, 93, 330, 14}));
  in.warningWithinDialog = true;
  EXPECT_EQ(LayOutSmallDialog(in).warning, (Rect{0, 93, 200, 14}));
}

TEST(SmallDialogLayout, ALongLineLosesItsMiddleNeverItsEnds) {
  const auto width = [](const std::u16string& s) {
    int w = 0;
    for (char16_t c : s) w += kv::desktop::MayCutBefore(c) ? 10 : 0;  // marks take no room
    return w;
  };
  const std::u16string line = u"BEGIN-abcdefghijklmnopqrstuvwxyz-END";
  EXPECT_EQ(kv::desktop::ElideMiddle(line, 1000, width), line);
  const std::u16string cut = kv::desktop::ElideMiddle(line, 150, width);
  EXPECT_LE(width(cut), 150);
  EXPECT_EQ(cut, u"BEGIN-a\u2026xyz-END");
  // A Thai letter keeps its vowel above and its tone mark.
  const std::u16string thai = u"\u0E01\u0E31\u0E48\u0E01\u0E31\u0E48\u0E01\u0E31\u0E48\u0E01\u0E31\u0E48";
  const std::u16string thaiCut = kv::desktop::ElideMiddle(thai, 30, width);
  EXPECT_EQ(thaiCut, u"\u0E01\u0E31\u0E48\u2026\u0E01\u0E31\u0E48");
}
