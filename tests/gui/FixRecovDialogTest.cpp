#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdlib>
#include <QLabel>
#include <QPushButton>
#include <QTextLayout>
#include <QTimer>

#include "GuiTestSupport.h"
#include "gui-qt/FixRecovDialog.h"
#include "gui-qt/QtDialogs.h"
#include "platform/Cp874.h"

namespace kv::gui {
namespace {

using guitest::PressKey;
using guitest::WhenModal;

class RecoveryTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(guitest::OpenWindows(), 0) << "a window was left open"; }
};

QPoint LabelPos(const FixRecovDialog& d, const char* utf8) {
  for (QLabel* label : d.findChildren<QLabel*>()) {
    if (label->text() == QString::fromUtf8(utf8)) return label->pos();
  }
  return {-1, -1};
}

TEST_F(RecoveryTest, LayoutShowsNameAndSizesInBold) {
  FixRecovDialog d(QStringLiteral("GLFILE01.SAV"), QStringLiteral("100,000 byte(s)"), QStringLiteral("50,000 byte(s)"));
  d.show();
  QCoreApplication::processEvents();
  // The paragraph's height grows only when the stand-in for Tahoma needs taller lines;
  // everything below moves down by as much.
  const int grow = d.paragraphLabel()->height() - 144;
  EXPECT_GE(grow, 0);
  EXPECT_EQ(d.windowTitle(), QStringLiteral("Attention!"));
  EXPECT_EQ(d.size(), QSize(496, 345 + grow));
  EXPECT_EQ(d.minimumSize(), d.maximumSize());
  EXPECT_TRUE(d.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_EQ(d.paragraphLabel()->geometry().topLeft(), QPoint(32, 20));
  EXPECT_EQ(d.paragraphLabel()->width(), 429);
  EXPECT_TRUE(d.paragraphLabel()->wordWrap());
  EXPECT_LE(d.paragraphLabel()->heightForWidth(429), d.paragraphLabel()->height()) << "the explanation is cut off";
  EXPECT_TRUE(d.paragraphLabel()->text().contains(QString::fromUtf8("\"แก้ไขแฟ้มข้อมูลที่เสียหาย\"")));

  EXPECT_EQ(LabelPos(d, "แฟ้มข้อมูลที่ตรวจพบ:"), QPoint(32, 184 + grow));
  EXPECT_EQ(LabelPos(d, "ขนาดของ .SAV หรือ .IX~:"), QPoint(32, 208 + grow));
  EXPECT_EQ(LabelPos(d, "ขนาดของ .DAT หรือ .IX:"), QPoint(32, 232 + grow));
  EXPECT_EQ(LabelPos(d, "ท่านต้องการเปลี่ยนแฟ้มชั่วคราวกลับมาเป็นแฟ้มข้อมูลปกติ?"), QPoint(32, 268 + grow));
  const struct {
    QLabel* label;
    const char* text;
    int top;
  } values[] = {{d.fileNameLabel(), "GLFILE01.SAV", 184},
                {d.tempSizeLabel(), "100,000 byte(s)", 208},
                {d.normalSizeLabel(), "50,000 byte(s)", 232}};
  for (const auto& v : values) {
    EXPECT_EQ(v.label->text(), QString::fromLatin1(v.text));
    EXPECT_EQ(v.label->pos(), QPoint(240, v.top + grow));
    EXPECT_TRUE(v.label->font().bold());
  }

  EXPECT_EQ(d.yesButton()->geometry(), QRect(179, 310 + grow, 66, 25));
  EXPECT_EQ(d.noButton()->geometry(), QRect(250, 310 + grow, 66, 25));
  EXPECT_LE(std::abs(d.yesButton()->x() - (496 - d.noButton()->geometry().right() - 1)), 1) << "the row is centred";
  EXPECT_TRUE(d.yesButton()->isDefault());
  EXPECT_EQ(d.focusWidget(), d.yesButton());
  d.close();
}

TEST_F(RecoveryTest, ThaiParagraphWrapsBetweenWords) {
  FixRecovDialog d(QStringLiteral("X.SAV"), QStringLiteral("0"), QStringLiteral("0"));
  const QString text = d.paragraphLabel()->text();
  QTextLayout layout(text, d.paragraphLabel()->font());
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  QList<int> breaks;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(429);
    if (line.textStart() > 0) breaks << line.textStart();
  }
  layout.endLayout();
  ASSERT_GE(breaks.size(), 5);

  // Without Thai word breaking the lines could end only at the few spaces.
  int insideThaiRuns = 0;
  for (int at : breaks) {
    if (!text.at(at - 1).isSpace() && text.at(at - 1).script() == QChar::Script_Thai) ++insideThaiRuns;
  }
  EXPECT_GT(insideThaiRuns, 0);
  // And no line splits a word.
  const char* words[] = {"แฟ้ม", "ข้อมูล", "ชั่วคราว", "สมบูรณ์", "เครื่อง", "ตรวจสอบ", "ขนาด", "ท่าน",
                         "ถูกต้อง", "เปลี่ยน", "สำรอง", "ขั้นตอน", "กลางคัน", "ยกเลิก"};
  for (const char* utf8 : words) {
    const QString word = QString::fromUtf8(utf8);
    for (qsizetype at = text.indexOf(word); at >= 0; at = text.indexOf(word, at + 1)) {
      for (int b : breaks) {
        EXPECT_FALSE(b > at && b < at + word.size()) << "a line break splits " << utf8;
      }
    }
  }
}

struct RecoveryAnswer {
  const char* name;
  Qt::Key key;
  Qt::KeyboardModifiers modifiers;
  bool yes;
};

TEST_F(RecoveryTest, AnswersByKeyAndEscDoesNothing) {
  const RecoveryAnswer cases[] = {
      {"Enter", Qt::Key_Return, Qt::NoModifier, true},
      {"Y", Qt::Key_Y, Qt::NoModifier, true},
      {"Alt+Y", Qt::Key_Y, Qt::AltModifier, true},
      {"N", Qt::Key_N, Qt::NoModifier, false},
      {"Alt+N", Qt::Key_N, Qt::AltModifier, false},
  };
  QtDialogs dialogs;
  const ui::RecoveryQuestion question{"GLFILE01.SAV", "100,000 byte(s)", "50,000 byte(s)"};
  for (const RecoveryAnswer& c : cases) {
    SCOPED_TRACE(c.name);
    WhenModal([&c](QWidget* w) { PressKey(w, c.key, c.modifiers); });
    EXPECT_EQ(dialogs.AskRecovery(question), c.yes);
  }

  // Esc leaves the question open; the close box then answers No.
  bool openAfterEsc = false;
  WhenModal([&](QWidget* w) {
    PressKey(w, Qt::Key_Escape);
    QTimer::singleShot(200, w, [&openAfterEsc, w] {
      openAfterEsc = w->isVisible();
      w->close();
    });
  });
  EXPECT_FALSE(dialogs.AskRecovery(question));
  EXPECT_TRUE(openAfterEsc);
}

TEST_F(RecoveryTest, QtDialogsShowsTheQuestionsTexts) {
  QtDialogs dialogs;
  const ui::RecoveryQuestion question{"ICFILE01.IX~", "1,048,576", "0"};
  QStringList shown;
  WhenModal([&](QWidget* w) {
    auto* d = static_cast<FixRecovDialog*>(w);
    shown << d->fileNameLabel()->text() << d->tempSizeLabel()->text() << d->normalSizeLabel()->text();
    d->noButton()->click();
  });
  EXPECT_FALSE(dialogs.AskRecovery(question));
  EXPECT_EQ(shown, (QStringList{"ICFILE01.IX~", "1,048,576", "0"}));
}

}  // namespace
}  // namespace kv::gui
