// The program's one window: the warning panel, the progress bar, "Fix..." and
// "ยกเลิก", and the footer warning. Its creation runs the start-up (company choice and
// checks); "Fix..." runs the repair; closing it, for any reason, stops the engine.
#pragma once

#include <functional>
#include <string>

#include "desktop/DesktopRun.h"
#include "gui-win32/DialogWindow.h"

namespace kv::gui {

class Win32Dialogs;

// The progress bar and the status line under it as the run's progress sink.
class BarProgress : public desktop::ControlProgress<HWND, HWND> {
 protected:
  void SetStatus(const std::string& cp874) override;
  void SetBar(int value) override;
  void HandleEvents() override;
};

class MainWindow : public DialogWindow {
 public:
  static constexpr int kFixId = 100;
  static constexpr int kClientWidth = desktop::MainWindowLayout::kClientWidth;
  static constexpr int kClientHeight = desktop::MainWindowLayout::kClientHeight;

  MainWindow(desktop::RunControl& run, Win32Dialogs& dialogs);
  ~MainWindow() override;

  // The start-up at the creation of the window: `chooseCompany` returns the chosen
  // company directory (CP874) or empty. True when the window is to be shown; otherwise
  // the program ends with ExitCode() (the engine already stopped).
  // The list's menu may ask for an undo instead: the window shows for it and hides again.
  bool Startup(const std::function<desktop::CompanyChoice()>& chooseCompany) { return run_.Startup(chooseCompany); }
  // Shows the window with the focus on "Fix...".
  void Show();

  int ExitCode() const { return run_.ExitCode(); }
  bool Running() const { return run_.Running(); }
  bool Closed() const { return closed_; }
  HWND progressBar() const { return bar_; }
  HWND statusLabel() const { return status_; }
  HWND fixButton() const { return Item(kFixId); }
  HWND cancelButton() const { return Item(IDCANCEL); }
  const modules::ProgressSink& progress() const { return progress_; }

  void FixButtonClick() { run_.Fix(); }
  void CancelButtonClick();

 protected:
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
  void OnCommand(int id, int code, HWND control) override;
  void OnCancel() override;
  void OnClose() override;
  bool PreTranslate(MSG& msg) override;

 private:
  void CloseWindow();
  void BeginRunning();
  void BeginUndo();
  void EndUndo();

  HWND bar_ = nullptr;
  HWND status_ = nullptr;
  BarProgress progress_;
  desktop::DesktopRun run_;
  bool closed_ = false;
};

}  // namespace kv::gui
