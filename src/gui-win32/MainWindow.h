// The program's one window: the warning panel, the progress bar, "Fix..." and
// "ยกเลิก", and the footer warning. Its creation runs the start-up (company choice and
// checks); "Fix..." runs the repair; closing it, for any reason, stops the engine.
#pragma once

#include <functional>
#include <string>

#include "gui-win32/DialogWindow.h"
#include "modules/Progress.h"

namespace kv::gui {

class Win32Dialogs;

// What the window needs of the repair run (app::RepairRun in the program, a fake in
// tests).
class RunControl {
 public:
  virtual ~RunControl() = default;
  virtual bool Startup(const std::string& companyDir) = 0;
  virtual bool Fix(modules::ProgressSink& progress) = 0;
  virtual void Close() = 0;
  virtual int ExitCode() const = 0;
};

// The progress bar and the status line under it as the run's progress sink. The run
// stays on the window's thread and this sink handles the waiting window messages at
// every call (after each read-ahead run of the walk, each finished file, and every
// 100 ms of a wait): the window repaints when uncovered or restored, "ยกเลิก" and Esc
// are heard, and the questions the run raises midway (a held record, temporary files,
// a fatal error) are plain modal dialogs on that same thread. A worker thread would
// need every one of those questions sent across and answered back, and the engine
// handed between threads; one thread keeps the run as simple as it is on the command
// line.
class BarProgress : public modules::ProgressSink {
 public:
  void Attach(HWND bar, HWND status) {
    bar_ = bar;
    status_ = status;
  }
  // Shows that a stop was asked for; the run stops at its next check.
  void ShowStopping();

 protected:
  void OnStep(std::string_view module, std::string_view file) override;
  void OnWaiting(std::string_view file, int32_t record, int round, int rounds) override;
  void OnWalking(std::string_view module, std::string_view file, int32_t done, int32_t total) override;
  void OnIdle() override;

 private:
  void SetStatus(const std::string& cp874);
  void SetBar(int value);

  HWND bar_ = nullptr;
  HWND status_ = nullptr;
  uint64_t lastRefresh_ = 0;
};

class MainWindow : public DialogWindow {
 public:
  // Exit code after an I/O error that ended start-up or the run.
  static constexpr int kIoErrorExitCode = 1;
  static constexpr int kFixId = 100;
  // Client area: the layout's 438 × 158 and a line for the run's status under the bar.
  static constexpr int kClientWidth = 438;
  static constexpr int kClientHeight = 176;

  MainWindow(RunControl& run, Win32Dialogs& dialogs);
  ~MainWindow() override;

  // The start-up at the creation of the window: `chooseCompany` returns the chosen
  // company directory (CP874) or empty. True when the window is to be shown; otherwise
  // the program ends with ExitCode() (the engine already stopped).
  bool Startup(const std::function<std::string()>& chooseCompany);
  // Shows the window with the focus on "Fix...".
  void Show();

  int ExitCode() const { return exitCode_; }
  bool Running() const { return running_; }
  bool Closed() const { return closed_; }
  HWND progressBar() const { return bar_; }
  HWND statusLabel() const { return status_; }
  HWND fixButton() const { return Item(kFixId); }
  HWND cancelButton() const { return Item(IDCANCEL); }
  const modules::ProgressSink& progress() const { return progress_; }

  void FixButtonClick();
  void CancelButtonClick();

 protected:
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
  void OnCommand(int id, int code, HWND control) override;
  void OnCancel() override;
  void OnClose() override;
  bool PreTranslate(MSG& msg) override;

 private:
  void CloseWindow();
  void StopEngine();
  void ShowIoError(const std::string& name, int code);
  void BeginRunning();
  void OnCloseRequested();
  void RequestStop();

  RunControl& run_;
  Win32Dialogs& dialogs_;
  HWND bar_ = nullptr;
  HWND status_ = nullptr;
  BarProgress progress_;
  bool inFix_ = false;
  bool running_ = false;
  bool closeRequested_ = false;
  bool engineStopped_ = false;
  bool closed_ = false;
  int exitCode_ = 0;
};

}  // namespace kv::gui
