// Shared pieces of the desktop tests: the application object (offscreen platform) and
// answering modal dialogs from a timer.
#pragma once

#include <QString>
#include <QWidget>
#include <Qt>
#include <functional>

namespace kv::guitest {

// Calls `answer` with the modal dialog as soon as one is showing (polled every few
// milliseconds, for up to five seconds). Arm it before the call that runs the dialog.
void WhenModal(std::function<void(QWidget*)> answer);

// Presses `key` in the modal dialog's focused control (the dialog itself when nothing
// has the focus), as a user would.
void PressKey(QWidget* dialog, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Answers the next modal dialog with one key.
void AnswerWithKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Processes events until `done` holds or the time runs out; true when it held.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000);

// Top-level widgets still visible (each test must leave none).
int OpenWindows();

}  // namespace kv::guitest
