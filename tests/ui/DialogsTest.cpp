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

