#include "GuiTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include "gui/QtText.h"

namespace kv::guitest {
namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "test_gui";
    static char* argv[] = {name, nullptr};
    if (!qApp) new QApplication(argc, argv);
    // Tests close main windows while other loops run; the process must not quit then.
    QApplication::setQuitOnLastWindowClosed(false);
    gui::InstallFontSubstitutes();
  }
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

void WhenModal(std::function<void(QWidget*)> answer) {
  auto* timer = new QTimer(qApp);
  auto* clock = new QElapsedTimer;
  clock->start();
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, clock, answer = std::move(answer)] {
    QWidget* modal = QApplication::activeModalWidget();
    const bool ready = modal && modal->isVisible();
    if (!ready && clock->elapsed() < 5000) return;
    timer->stop();
    timer->deleteLater();
    delete clock;
    if (ready) {
      answer(modal);
    } else {
      ADD_FAILURE() << "no modal dialog appeared";
    }
  });
  timer->start();
}

void PressKey(QWidget* dialog, Qt::Key key, Qt::KeyboardModifiers modifiers) {
  QWidget* target = dialog->focusWidget() ? dialog->focusWidget() : dialog;
  QTest::keyClick(target, key, modifiers);
}

void AnswerWithKey(Qt::Key key, Qt::KeyboardModifiers modifiers) {
  WhenModal([key, modifiers](QWidget* dialog) { PressKey(dialog, key, modifiers); });
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

int OpenWindows() {
  int open = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible()) ++open;
  }
  return open;
}

}  // namespace kv::guitest
