#include "GuiTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QLabel>
#include <QTimer>

#include "gui-qt/QtText.h"

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

struct ModalScript::State {
  std::vector<ModalStep> steps;
  size_t next = 0;
  QStringList seen;
  int unexpected = 0;
  QTimer timer;
};

ModalScript::ModalScript(std::vector<ModalStep> steps) : state_(std::make_shared<State>()) {
  state_->steps = std::move(steps);
  state_->timer.setInterval(5);
  std::weak_ptr<State> weak = state_;
  QObject::connect(&state_->timer, &QTimer::timeout, [weak] {
    const std::shared_ptr<State> state = weak.lock();
    if (!state) return;
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || modal->property("kvScriptSeen").toBool()) return;
    modal->setProperty("kvScriptSeen", true);
    QString line = modal->windowTitle();
    if (auto* text = modal->findChild<QLabel*>(QStringLiteral("text"))) line += QStringLiteral(": ") + text->text();
    state->seen << line;
    if (state->next >= state->steps.size()) {
      ++state->unexpected;
      ADD_FAILURE() << "unexpected dialog " << line.toStdString();
      PressKey(modal, Qt::Key_Escape);
      return;
    }
    const ModalStep& step = state->steps[state->next++];
    EXPECT_EQ(modal->windowTitle(), step.title) << "dialog " << state->next;
    step.act(modal);
  });
  state_->timer.start();
}

ModalScript::~ModalScript() { state_->timer.stop(); }

const QStringList& ModalScript::seen() const { return state_->seen; }
int ModalScript::unexpected() const { return state_->unexpected; }
bool ModalScript::finished() const { return state_->next == state_->steps.size(); }

ModalStep Press(const QString& title, Qt::Key key, Qt::KeyboardModifiers modifiers) {
  return {title, [key, modifiers](QWidget* dialog) { PressKey(dialog, key, modifiers); }};
}

int OpenWindows() {
  int open = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible()) ++open;
  }
  return open;
}

}  // namespace kv::guitest
