// Shared pieces of the desktop tests: the application object (offscreen platform) and
// answering modal dialogs from a timer.
#pragma once

#include <QString>
#include <QWidget>
#include <Qt>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace kv::guitest {

// Calls `answer` with the modal dialog as soon as one is showing (polled every few
// milliseconds, for up to five seconds). Arm it before the call that runs the dialog.
void WhenModal(std::function<void(QWidget*)> answer);

// Presses `key` in the modal dialog's focused control (the dialog itself when nothing
// has the focus), as a user would.
void PressKey(QWidget* dialog, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Answers the next modal dialog with one key.
void AnswerWithKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Answers a sequence of modal dialogs, one step per dialog in the order they appear.
// Every dialog that shows is recorded ("title: text of its first label"); a dialog
// beyond the script is answered with Esc and counted as unexpected.
struct ModalStep {
  QString title;                      // expected window title
  std::function<void(QWidget*)> act;  // the answer
};

class ModalScript {
 public:
  explicit ModalScript(std::vector<ModalStep> steps);
  ~ModalScript();
  ModalScript(const ModalScript&) = delete;
  ModalScript& operator=(const ModalScript&) = delete;

  const QStringList& seen() const;
  int unexpected() const;
  bool finished() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

ModalStep Press(const QString& title, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Processes events until `done` holds or the time runs out; true when it held.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000);

// Top-level widgets still visible (each test must leave none).
int OpenWindows();

}  // namespace kv::guitest
