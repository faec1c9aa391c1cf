#include "desktop/DesktopRun.h"

#include <exception>
#include <utility>

#include "platform/PlainFile.h"
#include "platform/System.h"

namespace kv::desktop {

int ExitCodeFor(ui::EndReason reason) {
  switch (reason) {
    case ui::EndReason::kNone:
    case ui::EndReason::kDeclined:
    case ui::EndReason::kNoModuleData:
      return 0;
    case ui::EndReason::kStopped:
    case ui::EndReason::kAnsweredNo:
    case ui::EndReason::kOpenFailed:
    case ui::EndReason::kReportFailed:
    case ui::EndReason::kIoError:
    case ui::EndReason::kEngineFailed:
    case ui::EndReason::kNotReady:
      break;
  }
  return 1;
}

void WindowProgress::OnStep(std::string_view module, std::string_view file) {
  SetBar(app::RunStatus::BarValue(Position(), 0, 0));
  if (StopRequested()) {
    ShowStopping();
  } else {
    SetStatus(app::RunStatus::Finished(module, file, RepairCount()));
  }
  lastRefresh_ = platform::MonotonicMs();
  HandleEvents();
}

void WindowProgress::OnWalking(std::string_view module, std::string_view file, int32_t done, int32_t total) {
  const uint64_t now = platform::MonotonicMs();
  if (now - lastRefresh_ >= app::RunStatus::kRefreshMs) {
    lastRefresh_ = now;
    SetBar(app::RunStatus::BarValue(Position(), done, total));
    if (StopRequested()) {
      ShowStopping();
    } else {
      SetStatus(app::RunStatus::Walking(module, file, done, total, RepairCount()));
    }
  }
  HandleEvents();
}

void WindowProgress::OnWaiting(std::string_view file, int32_t record, int round, int rounds) {
  SetStatus(app::RunStatus::Waiting(file, record, round, rounds));
  HandleEvents();
}

void WindowProgress::OnWaitingForLock(std::string_view file, int32_t error, uint64_t waitedMs) {
  SetStatus(app::RunStatus::WaitingForLock(file, error, waitedMs));
  HandleEvents();
}

DesktopRun::DesktopRun(RunControl& run, DesktopDialogs& dialogs, WindowProgress& progress, Hooks hooks)
    : run_(run), dialogs_(dialogs), progress_(progress), hooks_(std::move(hooks)) {
  dialogs_.closeRequested = [this] {
    closeRequested_ = true;
    // Takes effect when control is back in the event loop; a run or start-up in
    // progress goes on until it returns.
    if (!inFix_) hooks_.closeLater();
  };
}

DesktopRun::~DesktopRun() {
  dialogs_.closeRequested = nullptr;
  dialogs_.beforePendingMessages = nullptr;
  StopEngine();
}

bool DesktopRun::Guarded(const std::function<void()>& step) {
  try {
    step();
    return true;
  } catch (const ui::EndRun& end) {
    exitCode_ = ExitCodeFor(end.reason());
  } catch (const platform::IoError& error) {
    dialogs_.ShowError(app::IoErrorMessage(error.code(), error.name()));
    exitCode_ = kIoErrorExitCode;
  } catch (const std::exception& error) {
    dialogs_.ShowError(error.what());
    exitCode_ = kIoErrorExitCode;
  }
  return false;
}

bool DesktopRun::Startup(const std::function<std::string()>& chooseCompany) {
  inFix_ = true;  // no close while start-up runs
  bool ready = false;
  Guarded([&] {
    // No company chosen: the program ends at once, without a word (no engine runs yet;
    // stopping it does nothing).
    const std::string dir = chooseCompany();
    if (dir.empty()) return;
    hooks_.showCompany(dir);
    ready = run_.Startup(dir);
    if (!ready) exitCode_ = run_.ExitCode();
  });
  inFix_ = false;
  if (ready && closeRequested_) ready = false;
  if (!ready) StopEngine();
  return ready;
}

void DesktopRun::Fix() {
  if (inFix_ || running_) return;
  inFix_ = true;
  dialogs_.beforePendingMessages = [this] {
    // The question was answered Yes: from here on the run owns the window; "ยกเลิก"
    // stays, to stop it.
    running_ = true;
    hooks_.beginRunning();
  };
  bool finished = false;
  const bool ended = !Guarded([&] { finished = run_.Fix(progress_); });
  dialogs_.beforePendingMessages = nullptr;
  inFix_ = false;
  running_ = false;
  if (finished) exitCode_ = run_.ExitCode();  // 1 after a stopped run
  if (finished || ended || closeRequested_) {
    hooks_.close();
  } else {
    hooks_.waitAgain();  // answered No: nothing changed
  }
}

bool DesktopRun::MayClose() {
  if (running_) RequestStop();
  if (inFix_ || running_) return false;
  StopEngine();
  return true;
}

void DesktopRun::RequestStop() {
  if (progress_.StopRequested()) return;
  progress_.RequestStop();
  progress_.ShowStopping();
}

void DesktopRun::StopEngine() {
  if (engineStopped_) return;
  engineStopped_ = true;
  try {
    run_.Close();
  } catch (...) {
    // Stopping closes what it can; nothing is left to report to.
  }
}

}  // namespace kv::desktop
