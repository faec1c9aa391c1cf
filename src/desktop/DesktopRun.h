// The repair run as a desktop main window drives it, the same in every window system:
// what the window needs of the run, the progress sink behind its bar and status line,
// and what start-up, "Fix...", the stop and the close do. A window brings only its
// controls, through small hooks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/Run.h"
#include "modules/Progress.h"
#include "desktop/CompanyReports.h"
#include "desktop/DesktopDialogs.h"

namespace kv::desktop {

// What the window needs of the repair run (RepairRun in the program, a fake in tests).
class RunControl {
 public:
  virtual ~RunControl() = default;
  virtual bool Startup(const std::string& companyDir) = 0;
  virtual bool Fix(modules::ProgressSink& progress) = 0;
  virtual void Close() = 0;
  virtual int ExitCode() const = 0;
  // The report the last Fix() wrote (CP874), empty when none.
  virtual std::string ReportPath() const { return {}; }
};

// The desktop programs' exit code for the way start-up or a run ended: 0 when it ran
// its course (records left or not) or nothing was done (no module data, a question
// answered No before anything changed), 1 for every other end.
int ExitCodeFor(ui::EndReason reason);

class RepairRunControl : public RunControl {
 public:
  explicit RepairRunControl(app::RepairRun& run) : run_(run) {}
  bool Startup(const std::string& companyDir) override { return run_.Startup(companyDir); }
  // False when the "Fix..." question was answered No.
  bool Fix(modules::ProgressSink& progress) override {
    return run_.Fix(progress).reason != ui::EndReason::kDeclined;
  }
  void Close() override { run_.Close(); }
  int ExitCode() const override { return ExitCodeFor(run_.Result().reason); }
  std::string ReportPath() const override { return run_.ReportPath(); }

 private:
  app::RepairRun& run_;
};

// The progress bar and the status line under it as the run's progress sink. The run
// stays on the window's thread and this sink lets the window handle its events at every
// call (after each read-ahead run of the walk, each finished file, and every 100 ms of a
// wait): the window repaints when uncovered or restored, "ยกเลิก" and Esc are heard,
// and the questions the run raises midway (a held record, temporary files, a fatal
// error) are plain modal dialogs on that same thread. A worker thread would need every
// one of those questions sent across and answered back, and the engine handed between
// threads; one thread keeps the run as simple as it is on the command line.
class WindowProgress : public modules::ProgressSink {
 public:
  // Shows that a stop was asked for; the run stops at its next check.
  void ShowStopping() { SetStatus(app::RunStatus::Stopping(RepairCount())); }
  // For work beside the repair (an undo) that shows itself on the same line and bar.
  void ShowStatus(const std::string& cp874) { SetStatus(cp874); }
  void ShowBar(int value) { SetBar(value); }
  void Pump() { HandleEvents(); }

 protected:
  void OnStep(std::string_view module, std::string_view file) override;
  void OnWaiting(std::string_view file, int32_t record, int round, int rounds) override;
  void OnWaitingForLock(std::string_view file, int32_t error, uint64_t waitedMs) override;
  void OnWalking(std::string_view module, std::string_view file, int32_t done, int32_t total) override;
  void OnIdle() override { HandleEvents(); }

  // The window's side: the status line (CP874), the bar, its waiting events once.
  virtual void SetStatus(const std::string& cp874) = 0;
  virtual void SetBar(int value) = 0;
  virtual void HandleEvents() = 0;

 private:
  uint64_t lastRefresh_ = 0;
};

// A WindowProgress over the window's bar and status line controls (the toolkit's
// handles of them), attached once the window has made them.
template <class Bar, class Status>
class ControlProgress : public WindowProgress {
 public:
  void Attach(Bar bar, Status status) {
    bar_ = bar;
    status_ = status;
  }

 protected:
  Bar bar_{};
  Status status_{};
};

// Start-up, "Fix..." and the close of the main window. Closing it, for any reason,
// stops the engine.
class DesktopRun {
 public:
  // Exit code after an I/O error that ended start-up or the run.
  static constexpr int kIoErrorExitCode = 1;

  struct Hooks {
    std::function<void(const std::string& companyDir)> showCompany;  // in the title
    std::function<void()> beginRunning;  // "Fix..." answered Yes: the buttons for the run
    std::function<void()> waitAgain;     // answered No: the buttons as before
    std::function<void()> close;         // the run is over: the window closes now
    std::function<void()> closeLater;    // once control is back in the event loop
    // An undo or a check from the company list: the window shows for it (title, bar,
    // "ยกเลิก" to stop, "Fix..." off), and hides again when it is over.
    std::function<void()> beginUndo;
    std::function<void()> endUndo;
  };

  DesktopRun(RunControl& run, DesktopDialogs& dialogs, WindowProgress& progress, Hooks hooks);
  ~DesktopRun();

  // `chooseCompany` returns the chosen company directory (CP874) or empty. True when
  // the window is to be shown; otherwise the program ends with ExitCode() (the engine
  // already stopped).
  // A choice of an undo or a check from the list's menu runs it (see Undo, Check) and
  // asks again.
  bool Startup(const std::function<CompanyChoice()>& chooseCompany);
  // "Fix...": the run, its result or the error that ended it, then the close; after a
  // No the window waits as before.
  void Fix();
  // The close box, "ยกเลิก" and Esc: stop a run (the window closes at its end) and are
  // not heard during start-up or the question. True when the window closes now; the
  // engine is stopped then.
  bool MayClose();
  void RequestStop();
  void StopEngine();

  int ExitCode() const { return exitCode_; }
  bool Running() const { return running_; }
  bool EngineStopped() const { return engineStopped_; }

 private:
  // Runs a step of start-up or of the run; false when an end of the run or an error
  // stopped it (the error shown, the exit code set).
  bool Guarded(const std::function<void()>& step);
  // The undo of a repair report: its question, the undo with the window's bar, status
  // line and stop, and the outcome (put back, left and why, the undo report).
  void Undo(const CompanyChoice& choice);
  // The company check of the chosen directory with the window's bar, status line and
  // stop (between files), then its findings in the dialogs' list window.
  void Check(const CompanyChoice& choice);

  RunControl& run_;
  DesktopDialogs& dialogs_;
  WindowProgress& progress_;
  Hooks hooks_;
  bool inFix_ = false;
  bool running_ = false;
  bool closeRequested_ = false;
  bool engineStopped_ = false;
  bool undoing_ = false;  // an undo or a check from the list's menu
  bool checking_ = false;
  bool undoStop_ = false;
  int exitCode_ = 0;
};

}  // namespace kv::desktop
