// What the desktop programs' Dialogs share beyond their windows: the main window's hooks
// into the run's pending-messages moment and into a close request, and the error help
// kept for the next error message.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "ui/Dialogs.h"

namespace kv::desktop {

class DesktopDialogs : public ui::Dialogs {
 public:
  // Runs `beforePendingMessages` (the run uses this moment, right after its question was
  // answered Yes, to set the window's buttons for the run), then handles waiting events
  // once.
  void ProcessPendingMessages() override {
    if (beforePendingMessages) beforePendingMessages();
    HandlePendingEvents();
  }
  // Hands the request to `closeRequested` (the main window), or else ends the event
  // loop once control returns to it.
  void RequestClose() override {
    if (closeRequested) {
      closeRequested();
      return;
    }
    QuitEventLoop();
  }
  // Kept for the next error message, which shows it in its details area.
  bool TakeErrorHelp(const std::string& help) override {
    errorHelp_ = help;
    return true;
  }

  std::function<void()> beforePendingMessages;
  std::function<void()> closeRequested;

 protected:
  virtual void HandlePendingEvents() = 0;
  virtual void QuitEventLoop() = 0;
  // The kept help for a message of `kind` (CP874): handed to the next error message
  // only, once; empty otherwise.
  std::string HelpFor(int kind) { return kind == ui::kError ? std::exchange(errorHelp_, {}) : std::string(); }

 private:
  std::string errorHelp_;
};

}  // namespace kv::desktop
