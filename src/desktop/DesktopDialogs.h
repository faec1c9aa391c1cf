// What the desktop programs' Dialogs share beyond their windows: the main window's hooks
// into the run's pending-messages moment and into a close request, the error help kept
// for the next error message, and the report a run's result names.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "desktop/CompanyCheck.h"
#include "desktop/Reports.h"
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

  // A message shown while `resultReport` is set and returns a path: an information or a
  // warning (a run shows those only for its result) gets the line that names the
  // report after its text, and the button that opens it.
  void DisplayMessage(int kind, const std::string& text) final {
    std::string report;
    if (resultReport && (kind == ui::kInformation || kind == ui::kWarning)) report = resultReport();
    ShowResult(kind, text, report);
  }
  // A result: `text`, then (with a report) the line `label` + the report's path and the
  // button that opens it. CP874.
  void ShowResult(int kind, const std::string& text, const std::string& reportPath,
                  const std::string& label = ReportLabel()) {
    ShowMessage(kind, reportPath.empty() ? text : text + "\n" + label + reportPath, reportPath);
  }

  // The findings of a check from the company list's menu, in their list window (modal).
  virtual void ShowCheckFindings(const CheckListing& listing) = 0;

  std::function<void()> beforePendingMessages;
  std::function<void()> closeRequested;
  std::function<std::string()> resultReport;

 protected:
  // The message box: `text` as shown (CP874); with a `reportPath`, its button "เปิดรายงาน"
  // calls OpenReport.
  virtual void ShowMessage(int kind, const std::string& text, const std::string& reportPath) = 0;
  virtual void HandlePendingEvents() = 0;
  virtual void QuitEventLoop() = 0;
  // The kept help for a message of `kind` (CP874): handed to the next error message
  // only, once; empty otherwise.
  std::string HelpFor(int kind) { return kind == ui::kError ? std::exchange(errorHelp_, {}) : std::string(); }

 private:
  std::string errorHelp_;
};

}  // namespace kv::desktop
