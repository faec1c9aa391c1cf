#include "desktop/DesktopRun.h"

#include <array>
#include <exception>
#include <utility>

#include "app/Check.h"
#include "app/Undo.h"
#include "platform/Cp874.h"
#include "platform/PlainFile.h"
#include "platform/System.h"
#include "ui/NumberText.h"

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
  dialogs_.resultReport = nullptr;
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

bool DesktopRun::Startup(const std::function<CompanyChoice()>& chooseCompany) {
  inFix_ = true;  // no close while start-up runs
  bool ready = false;
  Guarded([&] {
    CompanyChoice choice = chooseCompany();
    while (choice.FromMenu()) {
      if (choice.check) {
        Check(choice);
      } else {
        Undo(choice);
      }
      if (closeRequested_) return;  // the close box during the undo: the program ends
      choice = chooseCompany();
    }
    // No company chosen: the program ends at once, without a word (no engine runs yet;
    // stopping it does nothing).
    const std::string dir = choice.directory;
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
  // The result names the report the run wrote (not an earlier one).
  dialogs_.resultReport = [this] { return running_ ? run_.ReportPath() : std::string(); };
  bool finished = false;
  const bool ended = !Guarded([&] { finished = run_.Fix(progress_); });
  dialogs_.resultReport = nullptr;
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
  if (undoing_) closeRequested_ = true;
  if (running_) RequestStop();
  if (inFix_ || running_) return false;
  StopEngine();
  return true;
}

void DesktopRun::RequestStop() {
  if (undoing_) {
    if (!undoStop_) {
      progress_.ShowStatus(platform::Th(checking_ ? "กำลังหยุด: ตรวจแฟ้มที่อยู่ในมือให้เสร็จก่อน"
                                                  : "กำลังหยุด: ทำระเบียนที่อยู่ในมือให้เสร็จก่อน"));
    }
    undoStop_ = true;
    return;
  }
  if (progress_.StopRequested()) return;
  progress_.RequestStop();
  progress_.ShowStopping();
}

namespace {

// The undo's progress on the window's line: the waits for records another station
// holds, and the stop that "ยกเลิก", Esc and the close box ask for.
class UndoProgress : public modules::ProgressSink {
 public:
  UndoProgress(WindowProgress& window, const bool& stop) : window_(window), stop_(stop) {}

 protected:
  void OnWaiting(std::string_view file, int32_t record, int round, int rounds) override {
    if (!stop_) window_.ShowStatus(app::RunStatus::Waiting(file, record, round, rounds));
    window_.Pump();
  }
  void OnWaitingForLock(std::string_view file, int32_t error, uint64_t waitedMs) override {
    if (!stop_) window_.ShowStatus(app::RunStatus::WaitingForLock(file, error, waitedMs));
    window_.Pump();
  }
  void OnIdle() override { window_.Pump(); }
  bool PollStop() const override { return stop_; }

 private:
  WindowProgress& window_;
  const bool& stop_;
};

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What the fields left were, by reason: "LOCKED 2, CHANGED SINCE 1".
std::string LeftReasons(const std::array<int64_t, 8>& byOutcome) {
  std::string text;
  for (size_t i = 0; i < byOutcome.size(); ++i) {
    const auto outcome = static_cast<app::UndoOutcome>(i);
    if (byOutcome[i] == 0 || outcome == app::UndoOutcome::kPutBack || outcome == app::UndoOutcome::kAlreadyBack) continue;
    if (!text.empty()) text += ", ";
    text += std::string(app::UndoOutcomeText(outcome)) + " " + ui::IntToText(byOutcome[i]);
  }
  return text;
}

}  // namespace

void DesktopRun::Undo(const CompanyChoice& choice) {
  if (!dialogs_.AskForYesNo(ui::Question::kUndo, choice.undoQuestion)) return;
  // "ยกเลิก", Esc and the close box stop the undo as they stop a run.
  running_ = undoing_ = true;
  undoStop_ = false;
  hooks_.showCompany(choice.directory);
  hooks_.beginUndo();
  progress_.ShowBar(0);
  progress_.ShowStatus(platform::Th("กำลังย้อนการแก้ไขตามรายงาน ") + BaseName(choice.undoReport));
  progress_.Pump();
  UndoProgress progress(progress_, undoStop_);
  app::UndoRun undo(dialogs_);
  std::array<int64_t, 8> byOutcome{};
  std::string error;
  bool ran = false;
  Guarded([&] {
    if (!undo.Prepare(choice.undoReport, error)) {
      dialogs_.ShowError(platform::Th("ย้อนการแก้ไขไม่ได้ ไม่ได้เขียนสิ่งใด: ") + platform::Utf8ToCp874(error));
      return;
    }
    try {
      undo.PutBack(false, [&](const app::UndoLine& line) { ++byOutcome[static_cast<size_t>(line.outcome)]; }, &progress);
      ran = true;
    } catch (const app::ReportCreateError& e) {
      dialogs_.ShowError(e.Message());
    } catch (const ui::EndRun&) {
      ran = true;  // a lock question answered No: what was done is in the report
    }
  });
  undo.Close();
  exitCode_ = 0;  // the undo does not decide how the program ends
  progress_.ShowBar(ran ? app::RunStatus::BarMaximum() : 0);
  progress_.ShowStatus({});
  if (ran) {
    std::string text = platform::Th(undoStop_ ? "หยุดการย้อนการแก้ไขตามที่สั่งแล้ว (นำค่าเดิมกลับคืน "
                                              : "ย้อนการแก้ไขเสร็จแล้ว (นำค่าเดิมกลับคืน ") +
                       ui::IntToText(undo.PutBackCount()) + platform::Th(" รายการ");
    if (undo.AlreadyBackCount() > 0) {
      text += platform::Th(", คืนไว้ก่อนแล้ว ") + ui::IntToText(undo.AlreadyBackCount()) + platform::Th(" รายการ");
    }
    text += ")";
    if (undo.LeftCount() > 0) {
      text += "\n" + platform::Th("เหลือ ") + ui::IntToText(undo.LeftCount()) +
              platform::Th(" รายการที่ยังไม่ได้คืน (") + LeftReasons(byOutcome) +
              platform::Th(") โปรดลองใหม่ภายหลัง");
    }
    const int kind = undo.LeftCount() > 0 || undoStop_ ? ui::kWarning : ui::kInformation;
    dialogs_.ShowResult(kind, text, undo.ReportPath(), platform::Th("รายงานการย้อนการแก้ไข: "));
  }
  running_ = undoing_ = false;
  undoStop_ = false;
  hooks_.endUndo();
}

void DesktopRun::Check(const CompanyChoice& choice) {
  running_ = undoing_ = checking_ = true;
  undoStop_ = false;
  hooks_.showCompany(choice.directory);
  hooks_.beginUndo();
  progress_.ShowBar(0);
  progress_.ShowStatus(platform::Th("กำลังตรวจสอบโครงสร้างแฟ้ม"));
  progress_.Pump();
  CheckListing listing;
  listing.directory = choice.directory;
  app::CheckOptions options;
  options.onFile = [this](std::string_view file, int done, int total) {
    if (undoStop_) return false;
    progress_.ShowBar(total > 0 ? done * app::RunStatus::BarMaximum() / total : 0);
    progress_.ShowStatus(platform::Th("กำลังตรวจสอบโครงสร้างแฟ้ม ") + std::string(file));
    progress_.Pump();
    return !undoStop_;
  };
  options.onWaiting = [this](std::string_view file, int32_t record, int round, int rounds) {
    if (!undoStop_) progress_.ShowStatus(app::RunStatus::Waiting(file, record, round, rounds));
    progress_.Pump();
  };
  std::string error;
  bool checked = false;
  Guarded([&] {
    checked = app::CheckCompany(
        choice.directory, [&](const app::CheckFinding& finding) { listing.findings.push_back(finding); },
        listing.summary, error, options);
  });
  exitCode_ = 0;  // the check does not decide how the program ends
  listing.stopped = undoStop_;
  progress_.ShowBar(checked && !undoStop_ ? app::RunStatus::BarMaximum() : 0);
  progress_.ShowStatus({});
  // The close box asked for the program's end: nothing more is shown (the check wrote
  // nothing, so nothing is lost).
  if (!closeRequested_) {
    if (checked) {
      dialogs_.ShowCheckFindings(listing);
    } else if (!error.empty()) {
      dialogs_.ShowError(platform::Th("ตรวจสอบโครงสร้างแฟ้มไม่ได้: ") + error);
    }
  }
  running_ = undoing_ = checking_ = false;
  undoStop_ = false;
  hooks_.endUndo();
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
