// The desktop program's Dialogs: every message and question of the core as a modal
// Win32 dialog over the active window.
#pragma once

#include <string>

#include "desktop/DesktopDialogs.h"

namespace kv::gui {

class Win32Dialogs : public desktop::DesktopDialogs {
 public:
  bool AskQuestion(ui::Question question, int questionKind, const std::string& text) override;
  bool AskRecovery(const ui::RecoveryQuestion& question) override;
  void ShowCheckFindings(const desktop::CheckListing& listing) override;

 protected:
  void ShowMessage(int kind, const std::string& text, const std::string& reportPath) override;
  void HandlePendingEvents() override;
  void QuitEventLoop() override;
};

}  // namespace kv::gui
