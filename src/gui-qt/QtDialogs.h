// The desktop program's Dialogs: every message and question of the core as a modal Qt
// dialog over the active window.
#pragma once

#include <functional>
#include <string>

#include "ui/Dialogs.h"

namespace kv::gui {

class QtDialogs : public ui::Dialogs {
 public:
  void DisplayMessage(int kind, const std::string& text) override;
  bool AskQuestion(ui::Question question, int questionKind, const std::string& text) override;
  bool AskRecovery(const ui::RecoveryQuestion& question) override;
  // Runs `beforePendingMessages` (the run uses this moment, right after its question was
  // answered Yes, to disable the window's buttons), then handles waiting events once.
  void ProcessPendingMessages() override;
  // Hands the request to `closeRequested` (the main window), or else quits the
  // application's event loop once control returns to it.
  void RequestClose() override;
  // Kept for the next error message, which shows it in its details area.
  bool TakeErrorHelp(const std::string& help) override;

  std::function<void()> beforePendingMessages;
  std::function<void()> closeRequested;

 private:
  std::string errorHelp_;
};

}  // namespace kv::gui
