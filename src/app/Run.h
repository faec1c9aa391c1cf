// Start-up (from the change into the company directory on) and the repair run, shared
// by the desktop and the command-line programs. UI-neutral: it speaks through Dialogs
// and reports progress through a ProgressSink.
//
// The desktop program and the command line both start and run a repair through this
// header alone, so that they cannot drift apart: the questions asked, the order of the
// start-up steps and the texts shown are decided here, never in a front end. A
// signature changes together with every front end (cli/, desktop/).
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "company/Settings.h"
#include "isam/Access.h"
#include "modules/Progress.h"
#include "ui/Dialogs.h"

namespace kv::app {

// The start-up question (as shown, "?" rule applied) and the "Fix..." question, CP874.
std::string TechSupportQuestionText();
std::string FixQuestionText();
// The one standard message for an I/O error of a side, information or settings file.
std::string IoErrorMessage(int32_t code, const std::string& name);
// The result of a run: the count of written records as always, and when records were
// left, a second line (after a line feed) that names how many and what to do.
std::string ResultMessage(int32_t repaired, int32_t left);
// With `damaged` of the left ones files whose header is damage: those get a line of
// their own that names the damage (no waiting mends them).
std::string ResultMessage(int32_t repaired, int32_t left, int32_t damaged);
// The result of a run the user stopped: how many records were repaired until then, and
// the line of left records as above when there were any.
std::string StoppedMessage(int32_t repaired, int32_t left);

// What a desktop window shows of a run in progress, the same in every window system.
// Texts are CP874.
struct RunStatus {
  // Bar units per data file: the bar's range is kProgressMax × kBarScale, so that it
  // moves within a file by the records walked.
  static constexpr int kBarScale = 100;
  // How often at most a window repaints the bar and the line for the walk (it handles
  // its events at every progress call all the same).
  static constexpr uint64_t kRefreshMs = 50;

  static int BarMaximum();
  // `position` files finished, `done` of the current file's `total` slots walked.
  static int BarValue(int position, int32_t done, int32_t total);
  // "GL GLFILE01: 1200 / 5000 ระเบียน, แก้ไขแล้ว 3"
  static std::string Walking(std::string_view module, std::string_view file, int32_t done, int32_t total,
                             int32_t repaired);
  // After a finished file: "GL GLFILE01 เสร็จ, แก้ไขแล้ว 3"
  static std::string Finished(std::string_view module, std::string_view file, int32_t repaired);
  // The run waits for a record another station holds.
  static std::string Waiting(std::string_view file, int32_t record, int round, int rounds);
  // The run retries a lock of a file another station holds (engine error `error`).
  static std::string WaitingForLock(std::string_view file, int32_t error, uint64_t waitedMs);
  // A stop was asked for and the run is finishing the records in hand.
  static std::string Stopping(int32_t repaired);
};

class ReportObserver;

// What a run did and how it ended: the records written, the unsound records left (of
// them `damaged` files whose header is damage), whether a stop the user asked for ended
// it, and why it ended before its end: kNone when it went through every module (records
// left or not), kStopped for a stop, kDeclined for a No to the "Fix..." question, else
// the reason of the EndRun it ended with.
struct RunResult {
  int32_t repaired = 0;
  int32_t left = 0;
  bool stopped = false;
  ui::EndReason reason = ui::EndReason::kNone;
  int32_t damaged = 0;
};

struct RunHooks {
  // Switches the remembered automatic company choice off (company selection code).
  std::function<void()> clearAutoSelect;
};

class RepairRun {
 public:
  // helpOut receives the error catalogue's explanations (standard output).
  RepairRun(ui::Dialogs& dialogs, company::Settings& settings, std::ostream& helpOut, RunHooks hooks = {});
  ~RepairRun();  // stops the engine if it still runs

  // After the company choice: change into companyDir, start the engine (network mode,
  // 500 buffers), SaveMode 0, test the information files, ask the technical-support
  // question. True: ready for Fix(). False: the program ends (after returning to the
  // start directory where the rules say so); Result().reason says why.
  bool Startup(const std::string& companyDir);

  // The "Fix..." button: the question, pending messages once, the six repairs in the run
  // order, back to the start directory, the result message: an information, or a
  // warning when unsound records were left. Returns the run's result; reason kDeclined
  // when the question was answered No (nothing changed, Fix() may be called again).
  // Throws ui::EndRun with the reason when the run ends early, after its result was
  // kept (Result()); the caller then calls Close().
  RunResult Fix(modules::ProgressSink& progress);

  // The main window's close step: stops the engine (closing every block, releasing
  // every lock).
  void Close();

  // What the last Startup() or Fix() ended with, also after an EndRun.
  const RunResult& Result() const { return result_; }
  // How long to keep trying records that another station holds, per file, and in how
  // many rounds (the default 30 s in 3 rounds). Takes effect from the next Fix().
  void SetHeldRecordWait(int32_t milliseconds, int32_t rounds);
  // Hears the fields and records of the report of each Fix() (see ReportObserver), for
  // output a script reads; null for none. It must outlive the Fix().
  void SetReportObserver(ReportObserver* observer) { reportObserver_ = observer; }
  // Path of the repair report written by the last Fix(), empty when none.
  const std::string& ReportPath() const { return reportPath_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  RunResult result_;
  int32_t heldWaitMs_ = isam::kHeldRecordWaitMs;
  int32_t heldRounds_ = isam::kHeldRecordRounds;
  std::string reportPath_;
  ReportObserver* reportObserver_ = nullptr;
};

}  // namespace kv::app
