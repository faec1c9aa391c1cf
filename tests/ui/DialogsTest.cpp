#include <gtest/gtest.h>

#include "platform/Cp874.h"
#include "support/RecordingDialogs.h"
#include "ui/Dialogs.h"

using kv::platform::Th;

TEST(QuestionRule, AppendsQuestionMarkOnlyWhenTextEndsInNeitherMarkNorStop) {
  EXPECT_EQ(kv::ui::ApplyQuestionRule(Th("คุณต้องการแก้ไขข้อผิดพลาด 207")),
            Th("คุณต้องการแก้ไขข้อผิดพลาด 207?"));
  EXPECT_EQ(kv::ui::ApplyQuestionRule(Th("ต้องการแก้ไขข้อผิดพลาด 207?")), Th("ต้องการแก้ไขข้อผิดพลาด 207?"));
  EXPECT_EQ(kv::ui::ApplyQuestionRule("Go on."), "Go on.");
  EXPECT_EQ(kv::ui::ApplyQuestionRule(""), "");
}

TEST(RecordingDialogs, RecordsTitlesAndAnswersFromScript) {
  kv::test::RecordingDialogs d;
  d.answers = {true};
  EXPECT_TRUE(d.AskForYesNoTechnicalSupport(2, "x"));
  EXPECT_FALSE(d.AskForYesNo("y"));
  d.ShowError("e");
  ASSERT_EQ(d.events.size(), 3u);
  EXPECT_EQ(d.events[0].title, "Caution!");
  EXPECT_EQ(d.events[0].text, "x?");
  EXPECT_EQ(d.events[1].title, "Confirm");
  EXPECT_EQ(d.events[2].title, "Error");
}
