#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <functional>

#include "GuiTestSupport.h"
#include "app/Run.h"
#include "app/Version.h"
#include "gui-qt/MainWindow.h"
#include "gui-qt/MessageDialogs.h"
#include "gui-qt/QtDialogs.h"
#include "platform/Cp874.h"
#include "platform/PlainFile.h"
#include "ui/Dialogs.h"

namespace kv::gui {
namespace {

using guitest::PressKey;
using guitest::WaitFor;
using guitest::WhenModal;
using platform::Th;

// A run whose start-up and repair are scripted by the test.
class FakeRun : public desktop::RunControl {
 public:
  std::function<bool(const std::string&)> startup = [](const std::string&) { return true; };
  std::function<bool(modules::ProgressSink&)> fix = [](modules::ProgressSink&) { return false; };
  int exitCode = 0;
  int startups = 0;
  int fixes = 0;
  int closes = 0;
  std::string startedIn;

  bool Startup(const std::string& dir) override {
    ++startups;
    startedIn = dir;
    return startup(dir);
  }
  bool Fix(modules::ProgressSink& progress) override {
    ++fixes;
    return fix(progress);
  }
  void Close() override { ++closes; }
  int ExitCode() const override { return exitCode; }
};

class MainWindowTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(guitest::OpenWindows(), 0) << "a window was left open"; }

  // Start-up with a chosen company; shows the window when start-up says so.
  bool Start(MainWindow& w, const std::string& dir = Th("/data/บริษัท ทดสอบ")) {
    const bool ready = w.Startup([dir] { return dir; });
    if (ready) {
      w.show();
      QCoreApplication::processEvents();
    }
    return ready;
  }

  FakeRun run;
  QtDialogs dialogs;
};

TEST_F(MainWindowTest, Layout) {
  MainWindow w(run, dialogs);
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Form1"));
  EXPECT_EQ(w.toolTip(), QString::fromStdString(app::VersionLine("KVFIX207")));
  EXPECT_EQ(w.size(), QSize(438, 176));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());
  const Qt::WindowFlags flags = w.windowFlags();
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(w.font().family(), QStringLiteral("Tahoma"));
  EXPECT_EQ(w.font().pixelSize(), 15);

  EXPECT_EQ(w.warningPanel()->size(), QSize(400, 49));
  EXPECT_EQ(w.warningPicture()->size(), QSize(32, 32));
  EXPECT_FALSE(w.warningPicture()->pixmap().isNull());
  EXPECT_EQ(w.headingLabel()->text(), QString::fromUtf8("คำเตือน"));
  EXPECT_TRUE(w.headingLabel()->font().bold());
  EXPECT_EQ(w.headingLabel()->palette().color(QPalette::WindowText), QColor(Qt::red));
  EXPECT_EQ(w.backupLabel()->text(), QString::fromUtf8("โปรดสำรองแฟ้มข้อมูลก่อนทำขั้นตอนนี้."));
  EXPECT_EQ(w.progressBar()->minimum(), 0);
  EXPECT_EQ(w.progressBar()->maximum(), 19 * app::RunStatus::kBarScale);
  EXPECT_EQ(w.progressBar()->value(), 0);
  EXPECT_EQ(w.progressBar()->width(), 401);
  EXPECT_EQ(w.fixButton()->text(), QStringLiteral("Fix..."));
  EXPECT_EQ(w.cancelButton()->text(), QString::fromUtf8("ยกเลิก"));
  EXPECT_EQ(w.fixButton()->nextInFocusChain(), w.cancelButton());
  EXPECT_EQ(w.footerLabel()->text(), QStringLiteral("*** WARNING: FOR TECHNICAL SUPPORT ONLY! ***"));
  EXPECT_TRUE(w.footerLabel()->font().bold());
  EXPECT_EQ(w.footerLabel()->font().pixelSize(), 12);
  EXPECT_EQ(w.footerLabel()->palette().color(QPalette::WindowText), QColor(Qt::red));
  // Every control lies inside the client area.
  for (QWidget* child : w.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    EXPECT_TRUE(QRect(0, 0, 438, 176).contains(child->geometry())) << child->metaObject()->className();
  }
}

TEST_F(MainWindowTest, NoCompanyChosenEndsAtOnceWithoutStartingTheRun) {
  MainWindow w(run, dialogs);
  EXPECT_FALSE(w.Startup([] { return std::string(); }));
  EXPECT_EQ(w.ExitCode(), 0);
  EXPECT_EQ(run.startups, 0);
  EXPECT_FALSE(w.isVisible());
}

TEST_F(MainWindowTest, StartupSetsTheCaptionAndStartsInTheChosenDirectory) {
  MainWindow w(run, dialogs);
  ASSERT_TRUE(Start(w));
  EXPECT_EQ(w.windowTitle(), QString::fromUtf8("/data/บริษัท ทดสอบ"));
  EXPECT_EQ(run.startedIn, Th("/data/บริษัท ทดสอบ"));
  EXPECT_TRUE(w.fixButton()->isEnabled());
  EXPECT_TRUE(w.cancelButton()->isEnabled());
  EXPECT_EQ(run.closes, 0);
  w.close();
  EXPECT_EQ(run.closes, 1);
}

TEST_F(MainWindowTest, StartupEndsWithTheRunsExitCodeOrItsEndRun) {
  struct Case {
    const char* name;
    std::function<bool(const std::string&)> startup;
    int runExitCode;
    int exitCode;
  };
  const Case cases[] = {
      {"refused", [](const std::string&) { return false; }, 0, 0},
      {"refused with a code", [](const std::string&) { return false; }, 3, 3},
      // The reason an EndRun gives is the desktop's to map: every early end is 1.
      {"EndRun", [](const std::string&) -> bool { throw ui::EndRun(ui::EndReason::kIoError); }, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRun fake;
    fake.startup = c.startup;
    fake.exitCode = c.runExitCode;
    {
      MainWindow w(fake, dialogs);
      EXPECT_FALSE(Start(w));
      EXPECT_EQ(w.ExitCode(), c.exitCode);
      EXPECT_TRUE(w.EngineStopped());
      EXPECT_FALSE(w.isVisible());
    }
    EXPECT_EQ(fake.closes, 1) << "the engine is stopped exactly once";
  }
}

TEST_F(MainWindowTest, IoErrorAtStartupShowsOneErrorAndEnds) {
  run.startup = [](const std::string&) -> bool { throw platform::IoError(3, "/gone"); };
  MainWindow w(run, dialogs);
  QString title;
  QString text;
  int shown = 0;
  WhenModal([&](QWidget* d) {
    ++shown;
    title = d->windowTitle();
    text = static_cast<DisplayMessageDialog*>(d)->textLabel()->text();
    PressKey(d, Qt::Key_Return);
  });
  EXPECT_FALSE(Start(w));
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(title, QStringLiteral("Error"));
  EXPECT_TRUE(text.contains(QStringLiteral("3")));
  EXPECT_EQ(w.ExitCode(), desktop::DesktopRun::kIoErrorExitCode);
  EXPECT_EQ(run.closes, 1);
}

TEST_F(MainWindowTest, CancelCloseBoxAndDestructionStopTheEngineOnce) {
  for (int road = 0; road < 2; ++road) {
    FakeRun fake;
    {
      MainWindow w(fake, dialogs);
      QSignalSpy closed(&w, &MainWindow::Closed);
      ASSERT_TRUE(Start(w));
      if (road == 0) {
        w.cancelButton()->click();
      } else {
        w.close();  // the close box and the system menu's close
      }
      EXPECT_FALSE(w.isVisible());
      EXPECT_EQ(fake.closes, 1);
      EXPECT_EQ(fake.fixes, 0);
      EXPECT_EQ(closed.count(), 1);
    }
    EXPECT_EQ(fake.closes, 1);
  }
}

TEST_F(MainWindowTest, AnsweredNoLeavesTheWindowReadyForAnotherFix) {
  bool enabledDuringQuestion = false;
  run.fix = [&](modules::ProgressSink&) {
    enabledDuringQuestion = true;  // the fake answers No at once
    return false;
  };
  MainWindow w(run, dialogs);
  ASSERT_TRUE(Start(w));
  w.fixButton()->click();
  EXPECT_TRUE(enabledDuringQuestion);
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(w.fixButton()->isEnabled());
  EXPECT_TRUE(w.cancelButton()->isEnabled());
  EXPECT_FALSE(w.Running());
  w.fixButton()->click();
  EXPECT_EQ(run.fixes, 2);
  EXPECT_EQ(run.closes, 0);
  w.close();
}

TEST_F(MainWindowTest, RunDisablesFixMovesTheBarWithinAFileRefusesToCloseAndClosesAtTheEnd) {
  MainWindow* window = nullptr;
  bool disabledAfterPending = false;
  bool stayedOpen = false;
  QList<int> positions;
  QStringList status;
  run.fix = [&](modules::ProgressSink& progress) {
    EXPECT_TRUE(window->fixButton()->isEnabled()) << "buttons stay enabled until the question is answered";
    dialogs.ProcessPendingMessages();  // what the run does right after Yes
    disabledAfterPending = !window->fixButton()->isEnabled() && window->cancelButton()->isEnabled();
    for (int i = 0; i < 2; ++i) {
      progress.Step("GL", "GLFILE01");
      positions << window->progressBar()->value();
    }
    QTest::qWait(60);  // the walk's refresh is at most every 50 ms
    progress.AddRepair();
    progress.Walking("GL", "GLFILE04", 250, 1000);
    positions << window->progressBar()->value();
    status << window->statusLabel()->text();
    progress.Waiting("GLFILE04", 7, 1, 3);
    status << window->statusLabel()->text();
    window->close();  // the close box in the middle of a run
    QCoreApplication::processEvents();
    stayedOpen = window->isVisible();
    return true;
  };
  MainWindow w(run, dialogs);
  window = &w;
  ASSERT_TRUE(Start(w));
  w.fixButton()->click();
  EXPECT_TRUE(disabledAfterPending);
  EXPECT_EQ(positions, (QList<int>{100, 200, 225}));
  EXPECT_EQ(status, (QStringList{QString::fromUtf8("GL GLFILE04: 250 / 1000 ระเบียน, แก้ไขแล้ว 1"),
                                 QString::fromUtf8("รอ GLFILE04 ระเบียนที่ 7 ซึ่งผู้ใช้อื่นใช้งานอยู่ (ครั้งที่ 1/3)")}));
  EXPECT_TRUE(stayedOpen);
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(run.closes, 1);
  EXPECT_EQ(w.progress().RepairCount(), 1);
  EXPECT_EQ(w.ExitCode(), 0);
}

// "ยกเลิก", Esc, Enter on the focused "ยกเลิก" and the close box during the run each ask
// it to stop (the run sees the request at its next progress call) and leave the window
// open until the run returns.
TEST_F(MainWindowTest, CancelEscAndCloseBoxDuringTheRunRequestAStop) {
  struct Case {
    const char* name;
    std::function<void(MainWindow&)> act;
  };
  const Case cases[] = {
      {"button", [](MainWindow& w) { w.cancelButton()->click(); }},
      {"Esc", [](MainWindow& w) { QTest::keyClick(&w, Qt::Key_Escape); }},
      {"Enter on the focused button", [](MainWindow& w) { QTest::keyClick(w.cancelButton(), Qt::Key_Return); }},
      {"close box", [](MainWindow& w) { w.close(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRun fake;
    fake.exitCode = 1;
    MainWindow* window = nullptr;
    bool stopSeen = false;
    bool stayedOpen = false;
    fake.fix = [&](modules::ProgressSink& progress) {
      dialogs.ProcessPendingMessages();
      EXPECT_EQ(window->focusWidget(), window->cancelButton());
      c.act(*window);
      QCoreApplication::processEvents();
      progress.Walking("GL", "GLFILE01", 10, 100);
      stopSeen = progress.StopRequested();
      stayedOpen = window->isVisible();
      return true;
    };
    MainWindow w(fake, dialogs);
    window = &w;
    ASSERT_TRUE(Start(w));
    w.fixButton()->click();
    EXPECT_TRUE(stopSeen);
    EXPECT_TRUE(stayedOpen);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.ExitCode(), 1);
    EXPECT_EQ(fake.closes, 1);
  }
}

// Enter presses the focused button (outside a dialog Qt's buttons take only Space), Tab
// moves between the two, and Esc before the run closes the window as "ยกเลิก" does.
TEST_F(MainWindowTest, EnterPressesTheFocusedButtonAndEscCancels) {
  MainWindow w(run, dialogs);
  ASSERT_TRUE(Start(w));
  w.fixButton()->setFocus();
  QTest::keyClick(w.fixButton(), Qt::Key_Return);
  EXPECT_EQ(run.fixes, 1) << "Enter on the focused Fix... pressed it";
  QTest::keyClick(w.fixButton(), Qt::Key_Tab);
  EXPECT_EQ(w.focusWidget(), w.cancelButton());
  QTest::keyClick(w.cancelButton(), Qt::Key_Backtab);
  EXPECT_EQ(w.focusWidget(), w.fixButton());
  QTest::keyClick(&w, Qt::Key_Escape);
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(run.closes, 1);
}

TEST_F(MainWindowTest, EndRunAndIoErrorInTheRunCloseTheWindow) {
  struct Case {
    const char* name;
    std::function<bool(modules::ProgressSink&)> fix;
    int errorMessages;
    int exitCode;
  };
  QtDialogs* d = &dialogs;
  const Case cases[] = {
      {"EndRun", [d](modules::ProgressSink&) -> bool { d->ProcessPendingMessages(); throw ui::EndRun(ui::EndReason::kAnsweredNo); },
       0, 1},
      {"IoError", [d](modules::ProgressSink&) -> bool { d->ProcessPendingMessages(); throw platform::IoError(101, "GLBOOK.DAT"); },
       1, desktop::DesktopRun::kIoErrorExitCode},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRun fake;
    fake.fix = c.fix;
    MainWindow w(fake, dialogs);
    ASSERT_TRUE(Start(w));
    int messages = 0;
    if (c.errorMessages > 0) {
      WhenModal([&](QWidget* m) {
        ++messages;
        EXPECT_TRUE(static_cast<DisplayMessageDialog*>(m)->textLabel()->text().contains("GLBOOK.DAT"));
        PressKey(m, Qt::Key_Escape);
      });
    }
    w.fixButton()->click();
    EXPECT_EQ(messages, c.errorMessages);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(w.ExitCode(), c.exitCode);
  }
}

TEST_F(MainWindowTest, RequestCloseClosesOnceBackInTheEventLoop) {
  MainWindow w(run, dialogs);
  ASSERT_TRUE(Start(w));
  dialogs.RequestClose();
  EXPECT_TRUE(w.isVisible()) << "the request takes effect only in the event loop";
  EXPECT_TRUE(WaitFor([&] { return !w.isVisible(); }));
  EXPECT_EQ(run.closes, 1);
}

TEST_F(MainWindowTest, RequestCloseDuringTheRunClosesWhenItReturns) {
  run.fix = [&](modules::ProgressSink&) {
    dialogs.ProcessPendingMessages();
    dialogs.RequestClose();  // a recovery question answered No
    QCoreApplication::processEvents();
    return false;
  };
  MainWindow w(run, dialogs);
  ASSERT_TRUE(Start(w));
  w.fixButton()->click();
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(run.closes, 1);
}

}  // namespace
}  // namespace kv::gui
