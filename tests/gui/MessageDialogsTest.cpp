#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <memory>

#include "GuiTestSupport.h"
#include "gui-qt/MessageDialogs.h"
#include "gui-qt/PlaceDialog.h"
#include "gui-qt/QtDialogs.h"
#include "platform/Cp874.h"

namespace kv::gui {
namespace {

using guitest::AnswerWithKey;
using guitest::PressKey;
using guitest::WhenModal;
using platform::Th;

const QString kShort = QStringLiteral("x");
const QString kLong = QString::fromUtf8("การทำงานเสร็จเรียบร้อยแล้ว (พบและแก้ไข 12345 ข้อผิดพลาด");

class DialogTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(guitest::OpenWindows(), 0) << "a window was left open"; }
};

int FrameWidth(const QWidget& w) { return w.frameGeometry().width() - w.width(); }
int TextWidth(const SmallDialog& d, const QString& text) {
  return QFontMetrics(d.textLabel()->font()).horizontalAdvance(text);
}

// Shows a dialog as the program does (placed and focused), hands it to `check`, closes it.
template <typename Dialog>
void WithShown(Dialog& d, const std::function<void()>& check) {
  d.show();
  QCoreApplication::processEvents();
  check();
  d.close();
}

struct MessageCase {
  int kind;
  const char* title;
  IconKind icon;
};

TEST_F(DialogTest, MessageBoxTitleIconAndMeasuresPerKind) {
  const MessageCase cases[] = {{1, "Information", IconKind::kInformation},
                               {2, "Error", IconKind::kError},
                               {3, "Warning", IconKind::kWarning}};
  for (const MessageCase& c : cases) {
    for (const QString& text : {kShort, kLong}) {
      SCOPED_TRACE(std::string(c.title) + " " + text.toStdString());
      DisplayMessageDialog d(c.kind, text);
      WithShown(d, [&] {
        EXPECT_EQ(d.windowTitle(), QString::fromLatin1(c.title));
        EXPECT_EQ(d.iconKind(), c.icon);
        EXPECT_EQ(d.iconLabel()->geometry(), QRect(12, 12, 32, 32));
        EXPECT_FALSE(d.iconLabel()->pixmap().isNull());
        EXPECT_FALSE(d.windowFlags() & Qt::WindowCloseButtonHint);
        EXPECT_FALSE(d.windowFlags() & Qt::WindowSystemMenuHint);
        EXPECT_EQ(d.height(), 88);
        EXPECT_EQ(d.minimumSize(), d.maximumSize());
        EXPECT_EQ(d.textLabel()->pos(), QPoint(60, 12));
        EXPECT_EQ(d.textLabel()->text(), text);
        const int wanted = std::max(TextWidth(d, text) + 88, 198 - FrameWidth(d));
        EXPECT_EQ(d.width(), wanted);
        EXPECT_GE(d.frameGeometry().width(), 198);
        EXPECT_EQ(d.okButton()->geometry(), QRect((d.width() - 66) / 2, 53, 66, 25));
        EXPECT_TRUE(d.okButton()->isDefault());
        EXPECT_TRUE(d.okButton()->hasFocus() || d.focusWidget() == d.okButton());
      });
    }
  }
  // The short text gives the smallest window, the long one a wider window.
  DisplayMessageDialog small(1, kShort);
  WithShown(small, [&] { EXPECT_EQ(small.frameGeometry().width(), 198); });

  // A result with a second line: as wide as its wider line, taller by one line, the
  // button below both.
  DisplayMessageDialog two(3, kShort + QLatin1Char('\n') + kLong);
  WithShown(two, [&] {
    const int line = two.textLabel()->fontMetrics().lineSpacing();
    EXPECT_EQ(two.height(), 88 + line);
    EXPECT_EQ(two.width(), std::max(TextWidth(two, kLong) + 88, 198 - FrameWidth(two)));
    EXPECT_GE(two.textLabel()->height(), 2 * two.textLabel()->fontMetrics().height());
    EXPECT_EQ(two.okButton()->geometry(), QRect((two.width() - 66) / 2, 53 + line, 66, 25));
  });
}

TEST_F(DialogTest, MessageBoxClosesOnOkEnterAndEsc) {
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_Space}) {
    DisplayMessageDialog d(2, kShort);
    AnswerWithKey(key);
    d.exec();
    EXPECT_FALSE(d.isVisible());
  }
  DisplayMessageDialog d(1, kShort);
  WhenModal([](QWidget* w) { static_cast<DisplayMessageDialog*>(w)->okButton()->click(); });
  d.exec();
  EXPECT_FALSE(d.isVisible());
}

struct QuestionCase {
  bool technicalSupport;
  int kind;
};

std::unique_ptr<AskForYesNoDialog> MakeQuestion(const QuestionCase& c, const QString& text) {
  if (c.technicalSupport) return std::make_unique<AskForYesNoTechnicalSupportDialog>(c.kind, text);
  return std::make_unique<AskForYesNoDialog>(c.kind, text);
}

TEST_F(DialogTest, QuestionMeasuresIconAndDefaultButtonPerKind) {
  for (const QuestionCase c : {QuestionCase{false, 1}, QuestionCase{false, 2}, QuestionCase{true, 1},
                               QuestionCase{true, 2}}) {
    for (const QString& text : {kShort, kLong}) {
      SCOPED_TRACE(testing::Message() << "technical support " << c.technicalSupport << " kind " << c.kind
                                      << " text " << text.toStdString());
      auto d = MakeQuestion(c, text);
      WithShown(*d, [&] {
        EXPECT_EQ(d->windowTitle(), c.technicalSupport ? QStringLiteral("Caution!") : QStringLiteral("Confirm"));
        EXPECT_TRUE(d->windowFlags() & Qt::WindowCloseButtonHint);
        EXPECT_FALSE(d->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
        EXPECT_EQ(d->iconKind(), c.kind == 1 ? IconKind::kQuestion : IconKind::kWarning);
        EXPECT_EQ(d->iconLabel()->geometry(), QRect(12, 12, 32, 32));
        EXPECT_EQ(d->height(), c.technicalSupport ? 116 : 92);
        EXPECT_EQ(d->textLabel()->pos(), QPoint(64, 12));
        const int extra = c.technicalSupport ? 138 : 88;
        EXPECT_EQ(d->width(), std::max(TextWidth(*d, text) + extra, 200 - FrameWidth(*d)));
        EXPECT_GE(d->frameGeometry().width(), 200);

        const int top = c.technicalSupport ? 58 : 57;
        const int left = (d->width() - 137) / 2;
        EXPECT_EQ(d->yesButton()->geometry(), QRect(left, top, 66, 25));
        EXPECT_EQ(d->noButton()->geometry(), QRect(left + 71, top, 66, 25));
        EXPECT_EQ(d->yesButton()->text(), QStringLiteral("&Yes"));
        EXPECT_EQ(d->noButton()->text(), QStringLiteral("&No"));
        QPushButton* first = c.kind == 1 ? d->yesButton() : d->noButton();
        QPushButton* other = c.kind == 1 ? d->noButton() : d->yesButton();
        EXPECT_TRUE(first->isDefault());
        EXPECT_FALSE(other->isDefault());
        EXPECT_EQ(d->focusWidget(), first);

        if (c.technicalSupport) {
          QLabel* warning = static_cast<AskForYesNoTechnicalSupportDialog&>(*d).warningLabel();
          EXPECT_EQ(warning->text(), QStringLiteral("*** WARNING: FOR TECHNICAL SUPPORT ONLY! ***"));
          EXPECT_EQ(warning->geometry(), QRect((d->width() - 320) / 2, 93, 320, 14));
          EXPECT_TRUE(warning->font().bold());
          EXPECT_EQ(warning->font().pixelSize(), 12);
          EXPECT_EQ(warning->palette().color(QPalette::WindowText), QColor(Qt::red));
        }
      });
    }
  }
}

struct AnswerCase {
  const char* name;
  int kind;
  Qt::Key key;
  Qt::KeyboardModifiers modifiers;
  bool yes;
};

TEST_F(DialogTest, QuestionAnswersByKey) {
  const AnswerCase cases[] = {
      {"Enter on Yes default", 1, Qt::Key_Return, Qt::NoModifier, true},
      {"Enter on No default", 2, Qt::Key_Return, Qt::NoModifier, false},
      {"Space on focused Yes", 1, Qt::Key_Space, Qt::NoModifier, true},
      {"Esc", 1, Qt::Key_Escape, Qt::NoModifier, false},
      {"Y", 2, Qt::Key_Y, Qt::NoModifier, true},
      {"N", 1, Qt::Key_N, Qt::NoModifier, false},
      {"Alt+Y", 2, Qt::Key_Y, Qt::AltModifier, true},
      {"Alt+N", 1, Qt::Key_N, Qt::AltModifier, false},
      {"a letter that is no accelerator", 1, Qt::Key_Q, Qt::NoModifier, false},
  };
  for (bool technicalSupport : {false, true}) {
    for (const AnswerCase& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (technicalSupport ? " (technical support)" : ""));
      auto d = MakeQuestion({technicalSupport, c.kind}, kLong);
      WhenModal([&c](QWidget* w) {
        PressKey(w, c.key, c.modifiers);
        // A key that answers nothing leaves the dialog open: close it with No.
        QTimer::singleShot(300, w, [w] {
          if (w->isVisible()) static_cast<AskForYesNoDialog*>(w)->noButton()->click();
        });
      });
      d->exec();
      EXPECT_EQ(d->answeredYes(), c.yes);
    }
  }
}

TEST_F(DialogTest, QuestionCloseBoxAnswersNo) {
  for (bool technicalSupport : {false, true}) {
    auto d = MakeQuestion({technicalSupport, 1}, kShort);
    WhenModal([](QWidget* w) { w->close(); });
    d->exec();
    EXPECT_FALSE(d->answeredYes());
  }
}

TEST_F(DialogTest, TextWiderThanTheScreenIsShortenedInTheMiddle) {
  QString text;
  for (int i = 0; i < 40; ++i) text += QString::fromUtf8("ไม่พบแฟ้ม USERDRV.INI ");
  text = QStringLiteral("BEGIN ") + text + QStringLiteral("END");
  const int screenWidth = QGuiApplication::primaryScreen()->geometry().width();
  DisplayMessageDialog d(2, text);
  WithShown(d, [&] {
    EXPECT_EQ(d.frameGeometry().width(), screenWidth);
    EXPECT_EQ(d.fullText(), text);
    const QString shown = d.textLabel()->text();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("BEGIN")));
    EXPECT_TRUE(shown.endsWith(QStringLiteral("END")));
    EXPECT_TRUE(shown.contains(QChar(0x2026)));
    EXPECT_LE(d.textLabel()->geometry().right(), d.width());
    EXPECT_EQ(d.okButton()->x(), (d.width() - 66) / 2);
  });
}

TEST_F(DialogTest, EmptyQuestionShowsAnEmptyLineInTheSmallestWindow) {
  QtDialogs dialogs;
  QString shown = QStringLiteral("not shown");
  int width = 0;
  WhenModal([&](QWidget* w) {
    auto* d = static_cast<AskForYesNoDialog*>(w);
    shown = d->textLabel()->text();
    width = d->frameGeometry().width();
    PressKey(w, Qt::Key_Return);
  });
  EXPECT_TRUE(dialogs.AskForYesNo(kv::ui::Question::kFix, ""));
  EXPECT_EQ(shown, QString());
  EXPECT_EQ(width, 200);
}

TEST_F(DialogTest, QuestionRuleReachesTheDialog) {
  struct RuleCase {
    const char* given;
    const char* shown;
  };
  const RuleCase cases[] = {
      {"คุณต้องการแก้ไขข้อผิดพลาด 207", "คุณต้องการแก้ไขข้อผิดพลาด 207?"},
      {"ต้องการแก้ไขข้อผิดพลาด 207?", "ต้องการแก้ไขข้อผิดพลาด 207?"},
      {"ยังไม่ได้กำหนด. ต้องการสร้างใหม่.", "ยังไม่ได้กำหนด. ต้องการสร้างใหม่."},
  };
  QtDialogs dialogs;
  for (const RuleCase& c : cases) {
    for (bool technicalSupport : {false, true}) {
      QString shown;
      WhenModal([&](QWidget* w) {
        shown = static_cast<AskForYesNoDialog*>(w)->textLabel()->text();
        PressKey(w, Qt::Key_Escape);
      });
      const bool yes = technicalSupport ? dialogs.AskForYesNoTechnicalSupport(2, Th(c.given))
                                        : dialogs.AskForYesNo(kv::ui::Question::kFix, Th(c.given));
      EXPECT_FALSE(yes);
      EXPECT_EQ(shown, QString::fromUtf8(c.shown));
    }
  }
}

TEST_F(DialogTest, QtDialogsShowsMessagesWithTheirKindAndThaiText) {
  QtDialogs dialogs;
  for (int kind : {1, 2, 3}) {
    QString title;
    QString text;
    IconKind icon = IconKind::kNone;
    WhenModal([&](QWidget* w) {
      auto* d = static_cast<DisplayMessageDialog*>(w);
      title = d->windowTitle();
      text = d->textLabel()->text();
      icon = d->iconKind();
      PressKey(w, Qt::Key_Escape);
    });
    dialogs.DisplayMessage(kind, Th("ไม่พบแฟ้ม USERDRV.INI"));
    EXPECT_EQ(text, QString::fromUtf8("ไม่พบแฟ้ม USERDRV.INI"));
    EXPECT_EQ(title, kind == 1 ? "Information" : kind == 2 ? "Error" : "Warning");
    EXPECT_EQ(icon, kind == 1 ? IconKind::kInformation : kind == 2 ? IconKind::kError : IconKind::kWarning);
  }
}

TEST_F(DialogTest, ProcessPendingMessagesRunsTheHookFirst) {
  QtDialogs dialogs;
  int hooks = 0;
  bool posted = false;
  dialogs.beforePendingMessages = [&] {
    ++hooks;
    EXPECT_FALSE(posted) << "the hook runs before the waiting events";
  };
  QTimer::singleShot(0, [&] { posted = true; });
  dialogs.ProcessPendingMessages();
  EXPECT_EQ(hooks, 1);
  EXPECT_TRUE(posted);
}

TEST(PlaceDialogTest, CentresAcrossAndFiveAboveTheMiddle) {
  struct PlaceCase {
    QSize window, screen;
    QPoint at;
  };
  const PlaceCase cases[] = {
      {{200, 100}, {800, 600}, {300, 245}},
      {{201, 101}, {800, 600}, {300, 245}},  // halves truncate
      {{198, 117}, {1366, 768}, {584, 321}},
      {{900, 100}, {800, 600}, {-50, 245}},
  };
  for (const PlaceCase& c : cases) EXPECT_EQ(PlacedPosition(c.window, c.screen), c.at);
}

// A window larger than the free area keeps its title bar on the screen; one that fits is
// moved back from an edge but never off it (a 200% scale on 1280 × 1024 leaves 640 × 512).
TEST(PlaceDialogTest, KeptOnTheScreen) {
  struct KeepCase {
    QPoint wanted;
    QSize outer;
    QRect available;
    QPoint at;
  };
  const KeepCase cases[] = {
      {{300, 245}, {200, 100}, {0, 0, 800, 600}, {300, 245}},
      {{-37, 71}, {714, 400}, {0, 0, 640, 512}, {0, 71}},       // wider than the screen: at its left edge
      {{-50, 245}, {900, 100}, {0, 24, 800, 576}, {0, 245}},
      {{600, 550}, {300, 100}, {0, 24, 800, 576}, {500, 500}},  // past the bottom right: moved back
      {{100, -20}, {300, 700}, {0, 24, 800, 576}, {100, 24}},   // taller: the title bar stays
  };
  for (const KeepCase& c : cases) EXPECT_EQ(KeptOnScreen(c.wanted, c.outer, c.available), c.at);
}

// The Y and N keys answer with the Thai layout active too: the Thai letters the layout
// puts on them (with or without Shift) count as Y and N.
TEST_F(DialogTest, QuestionAnswersByTheYAndNKeysOfTheThaiLayout) {
  struct ThaiKey {
    char16_t letter;
    Qt::KeyboardModifiers modifiers;
    bool yes;
  };
  const ThaiKey keys[] = {{u'\u0E31', Qt::NoModifier, true}, {u'\u0E4D', Qt::ShiftModifier, true},
                          {u'\u0E37', Qt::NoModifier, false}, {u'\u0E4C', Qt::ShiftModifier, false}};
  for (const ThaiKey& k : keys) {
    SCOPED_TRACE(static_cast<int>(k.letter));
    AskForYesNoDialog d(k.yes ? 2 : 1, kShort);  // the key must choose the other button than Enter would
    WhenModal([&k](QWidget* w) {
      const QString text(QChar(k.letter));
      QKeyEvent press(QEvent::KeyPress, k.letter, k.modifiers, text);
      QApplication::sendEvent(w, &press);
      QTimer::singleShot(300, w, [w] {
        if (w->isVisible()) static_cast<AskForYesNoDialog*>(w)->noButton()->click();
      });
    });
    d.exec();
    EXPECT_EQ(d.answeredYes(), k.yes);
  }
}

// A fatal error's explanation appears in the message's details area, Thai and whole,
// and the dialog grows to hold it; the next error shows no details.
TEST_F(DialogTest, ErrorHelpShowsInTheNextErrorMessage) {
  QtDialogs dialogs;
  EXPECT_TRUE(dialogs.TakeErrorHelp(Th("บรรทัดแรก\r\nบรรทัดที่สอง\r\n")));
  QStringList details;
  QList<int> heights;
  for (int i = 0; i < 2; ++i) {
    WhenModal([&](QWidget* w) {
      auto* d = static_cast<DisplayMessageDialog*>(w);
      details << (d->detailsArea() ? d->detailsArea()->toPlainText() : QString());
      heights << d->height();
      if (d->detailsArea()) {
        EXPECT_LE(d->detailsArea()->geometry().bottom(), d->okButton()->y());
      }
      PressKey(w, Qt::Key_Return);
    });
    dialogs.ShowError(Th("เปิดแฟ้มไม่ได้"));
  }
  EXPECT_EQ(details, (QStringList{QString::fromUtf8("บรรทัดแรก\nบรรทัดที่สอง"), QString()}));
  ASSERT_EQ(heights.size(), 2);
  EXPECT_GT(heights[0], heights[1]);
}

TEST_F(DialogTest, ShownDialogIsPlacedOnThePrimaryScreen) {
  AskForYesNoTechnicalSupportDialog d(2, kLong);
  WithShown(d, [&] {
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    EXPECT_EQ(d.frameGeometry().topLeft(), PlacedPosition(d.frameGeometry().size(), screen));
  });
}

}  // namespace
}  // namespace kv::gui
