// kvfix207-cli: the repair run without a window, the read-only scan, and the demo
// company.
//
//   kvfix207-cli repair [--yes] [--restore-temp] [--held-wait SECONDS] COMPANY_DIR
//   kvfix207-cli undo [--yes] [--dry-run] [--held-wait SECONDS] [--accept-edited] [--accept-moved] REPORT
//   kvfix207-cli scan [--held-wait SECONDS] COMPANY_DIR
//   kvfix207-cli check [--json] COMPANY_DIR | --all
//   kvfix207-cli make-demo [--records N] [--seed S] COMPANY_DIR
//   kvfix207-cli --version
//
// Standard output carries only what the desktop program would show (one line per
// dialog) and the scan's findings, which are exactly the fields a repair would reset
// (exit status 3 when there are any, else 4 when records held by another station were
// left unjudged); progress, summaries and the damage a repair
// would leave (a module it skips) go to standard error.
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/Check.h"
#include "app/Report.h"
#include "app/Run.h"
#include "app/Scan.h"
#include "app/Undo.h"
#include "app/Version.h"
#include "cli/CliDialogs.h"
#include "company/CompanyList.h"
#include "company/Settings.h"
#include "modules/ModuleTables.h"
#include "modules/Progress.h"
#include "platform/Cp874.h"
#include "platform/Faults.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/PlainFile.h"
#include "platform/System.h"
#include "platform/Terminal.h"
#include "ui/Dialogs.h"

#include "testkit/Demo.h"

namespace {

using namespace kv;

constexpr int kExitOk = 0;
constexpr int kExitEarly = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFindings = 3;
constexpr int kExitLeft = 4;  // done, but records were left: unrepaired (repair, undo) or unjudged (scan)

// The start directory holds the company list and settings, and the run returns to it:
// CP874 must be able to name it.
std::string StartDirectoryProblem() {
  return "the start directory " + platform::CurrentDirectoryAsUtf8() +
         " cannot be named in code page 874 (or read); start the program from another directory";
}

// The usage text. The guides (docs/) and the man page are tested against its command
// lines and its exit-status table, so a new command or status shows up there too.
constexpr const char* kUsageText =
    "usage:\n"
    "  kvfix207-cli repair [--yes] [--restore-temp] [--held-wait SECONDS] COMPANY_DIR\n"
    "  kvfix207-cli undo [--yes] [--dry-run] [--held-wait SECONDS] [--accept-edited]\n"
    "                    [--accept-moved] REPORT\n"
    "  kvfix207-cli scan [--held-wait SECONDS] COMPANY_DIR\n"
    "  kvfix207-cli check [--json] COMPANY_DIR | --all\n"
    "  kvfix207-cli make-demo [--records N] [--seed S] COMPANY_DIR\n"
    "  kvfix207-cli --version\n"
    "  kvfix207-cli --help\n"
    "repair: --held-wait is how long, per file, records another station holds are\n"
    "  tried again (default 30, at most 3600; 0 leaves them at once).\n"
    "scan: reads only; --held-wait as for repair (default 5): records it could not\n"
    "  read because another station holds them are named on standard error.\n"
    "check: judges the structure of every module file, read-only, without locks:\n"
    "  data headers, slots and free chains, each key's tree in the index file,\n"
    "  page free chains, coordination files, information and side file lengths.\n"
    "  One line per finding: FILE, KIND, PLACE, TEXT (tab-separated; a note's text\n"
    "  begins with \"note: \"); --json writes JSON Lines instead and the lines go to\n"
    "  standard error. It cannot tell whether a key's text matches its record (the\n"
    "  key recipes are the suite's). --all checks the companies of USERDRV.INI in the\n"
    "  start directory in list order, each line headed by the company's directory;\n"
    "  the exit status is the worst of them.\n"
    "undo: puts back the original bytes of every field a repair report lists as\n"
    "  written, where its record is still exactly as the repair wrote it (the\n"
    "  report's fingerprint of the record matches); a field that holds its original\n"
    "  bytes already is ALREADY PUT BACK.\n"
    "  A report is refused when its checksum lines do not match (it was edited) or it\n"
    "  has none (--accept-edited undoes it all the same), or when its first line\n"
    "  names another company directory (--accept-moved, for a company that was\n"
    "  moved). A report without its closing line (a run that was killed) is undone\n"
    "  up to its last checksum line.\n"
    "exit status:\n"
    "  0  done: all repaired or none found; scan: nothing to repair; undo: all put back\n"
    "  1  ended early (also when stopped by Ctrl+C after the records in hand), an error,\n"
    "     or an undo refused\n"
    "  2  usage\n"
    "  3  scan: unsound fields found that a repair would reset (also when it left\n"
    "     held records); check: damage found\n"
    "  4  repair or undo done but records or fields left (held by another station,\n"
    "     a read or write failed, or for an undo changed since; see the report);\n"
    "     scan: none found but records another station held were left unjudged\n";

int Usage(const std::string& why) {
  if (!why.empty()) std::cerr << "kvfix207-cli: " << why << "\n";
  std::cerr << kUsageText;
  return kExitUsage;
}

// The progress of a run on standard error. On a terminal it is one line, repainted in
// place at most 10 times a second: module, file, how far into the file's records,
// records per second, and the time the run has left, reckoned from the bytes of the
// walked files still ahead at the rate the run has made so far. Elsewhere (a log file,
// a pipe) it is a line per file and, within a long file, a line every 10 seconds.
// Waits and the stop get lines of their own in both.
class StderrProgress : public modules::ProgressSink {
 public:
  // `companyDir` (CP874): where the walked files lie, for the time left; empty for none.
  explicit StderrProgress(const std::string& companyDir = {}) : terminal_(platform::StderrIsTerminal()) {
    for (const modules::DataFileDef* file : modules::WalkedFiles()) {
      const int64_t size =
          companyDir.empty() ? -1 : platform::FileSizeOf(companyDir + "/" + std::string(file->baseName) + ".DAT");
      sizes_.push_back(static_cast<double>(std::max<int64_t>(size, 0)));
    }
  }

  // Takes the repainted line away, so that what is written next stands on a line of its
  // own; the line comes back with the next repaint.
  void ClearLine() const {
    if (shownWidth_ == 0) return;
    std::cerr << '\r' << std::string(shownWidth_, ' ') << '\r' << std::flush;
    shownWidth_ = 0;
  }

 protected:
  // Ctrl+C (or a termination request) stops the run as the desktop's "ยกเลิก" does.
  bool PollStop() const override {
    if (!platform::StopSignalled()) return false;
    if (!told_) {
      told_ = true;
      ClearLine();
      std::cerr << "stopping: finishing the records in hand and closing the module's files\n";
    }
    return true;
  }
  void OnStep(std::string_view module, std::string_view file) override {
    if (const size_t k = WalkIndex(file); k < sizes_.size()) finishedBytes_ += sizes_[k];
    if (terminal_) return;
    std::cerr << "[" << Position() << "/" << modules::kProgressMax << "] " << module << " " << file
              << " (repaired records so far: " << RepairCount() << ")\n";
  }
  void OnWaiting(std::string_view file, int32_t record, int round, int rounds) override {
    ClearLine();
    std::cerr << "waiting for " << file << " record " << record << ", held by another station (try " << round
              << " of " << rounds << ")\n";
  }
  void OnWaitingForLock(std::string_view file, int32_t error, uint64_t waitedMs) override {
    ClearLine();
    std::cerr << "waiting for " << platform::Cp874ToUtf8(file) << ": another station holds its lock (error " << error
              << "), " << waitedMs / 1000 << " s so far; Ctrl+C stops\n";
  }
  void OnWalking(std::string_view module, std::string_view file, int32_t done, int32_t total) override {
    const uint64_t now = platform::MonotonicMs();
    const size_t k = WalkIndex(file);
    if (k != file_) {
      file_ = k;
      fileStartMs_ = lastSeenMs_ != 0 ? lastSeenMs_ : now;
    }
    lastSeenMs_ = now;
    const double fraction = total > 0 ? static_cast<double>(done) / total : 1.0;
    double walkedBytes = finishedBytes_, aheadBytes = 0;
    if (k < sizes_.size()) {
      walkedBytes += sizes_[k] * fraction;
      aheadBytes = sizes_[k] * (1.0 - fraction);
      for (size_t i = k + 1; i < sizes_.size(); ++i) aheadBytes += sizes_[i];
    }
    if (runStartMs_ == 0) {
      runStartMs_ = now;
      runStartBytes_ = walkedBytes;
    }
    if (!terminal_) {
      // A line every few seconds for a long file, not one per read-ahead run.
      if (now - lastLineMs_ < kLineEveryMs || done >= total) return;
      lastLineMs_ = now;
      std::cerr << "      " << module << " " << file << ": " << done << " of " << total
                << " records walked (repaired so far: " << RepairCount() << ")\n";
      return;
    }
    if (now - lastLineMs_ < kRepaintEveryMs && shownWidth_ != 0 && done < total) return;
    lastLineMs_ = now;
    std::string line = std::string(module) + " " + platform::Cp874ToUtf8(file) + "  " +
                       std::to_string(static_cast<int>(fraction * 100)) + "% of " + std::to_string(total) + " records";
    if (now > fileStartMs_) {
      const uint64_t perSecond = static_cast<uint64_t>(done) * 1000 / (now - fileStartMs_);
      line += "  " + std::to_string(perSecond) + " records/s";
    }
    if (RepairCount() > 0) line += "  repaired " + std::to_string(RepairCount());
    const double runMs = static_cast<double>(now - runStartMs_);
    if (runMs >= 500 && walkedBytes > runStartBytes_) {
      const double leftMs = aheadBytes * runMs / (walkedBytes - runStartBytes_);
      line += "  " + TimeLeftText(static_cast<uint64_t>(leftMs / 1000)) + " left";
    }
    std::cerr << '\r' << line;
    if (line.size() < shownWidth_) std::cerr << std::string(shownWidth_ - line.size(), ' ');
    std::cerr << std::flush;
    shownWidth_ = std::max(shownWidth_, line.size());
  }

 private:
  static constexpr uint64_t kLineEveryMs = 10000;
  static constexpr uint64_t kRepaintEveryMs = 100;

  static size_t WalkIndex(std::string_view file) {
    const auto walked = modules::WalkedFiles();
    for (size_t i = 0; i < walked.size(); ++i)
      if (walked[i]->baseName == file) return i;
    return walked.size();
  }
  static std::string TimeLeftText(uint64_t seconds) {
    if (seconds == 0) return "under a second";
    if (seconds < 60) return "about " + std::to_string(seconds) + " s";
    if (seconds < 3600) return "about " + std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s";
    return "about " + std::to_string(seconds / 3600) + " h " + std::to_string(seconds / 60 % 60) + " min";
  }

  const bool terminal_;
  std::vector<double> sizes_;  // bytes of each walked data file, in walk order
  double finishedBytes_ = 0;   // of the files walked to their end
  double runStartBytes_ = 0;
  uint64_t runStartMs_ = 0;
  size_t file_ = SIZE_MAX;  // walk index of the file in hand
  uint64_t fileStartMs_ = 0;
  uint64_t lastSeenMs_ = 0;
  uint64_t lastLineMs_ = platform::MonotonicMs();
  mutable size_t shownWidth_ = 0;  // of the repainted line on the terminal; 0 when none is shown
  mutable bool told_ = false;
};

bool ParseNumber(std::string_view text, uint64_t& value) {
  if (text.empty()) return false;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

// The seconds after --held-wait at args[i], which then moves past them; false when
// they are missing or beyond an hour.
bool TakeHeldWait(const std::vector<std::string>& args, size_t& i, uint64_t& seconds) {
  if (i + 1 >= args.size() || !ParseNumber(args[i + 1], seconds) || seconds > 3600) return false;
  ++i;
  return true;
}

// An argument that is none of the command's options: the company directory, given
// once. Returns what is wrong with it for the usage text, empty when it was taken.
std::string TakeDirectory(const std::string& arg, std::string& dir) {
  if (!arg.empty() && arg[0] == '-') return "unknown option " + arg;
  if (!dir.empty()) return "more than one company directory";
  dir = arg;
  return {};
}

// The company directory of the command line (the system's encoding) as the CP874 path
// the core keeps, made absolute so that no part of it is taken for a name relative to
// the company directory. Returns what is wrong with it, empty when it was taken.
std::string ToCompanyPath(const std::string& arg, std::string& dir, const char* what = "the company directory") {
  if (!platform::PathFromSystem(arg, dir))
    return std::string(what) + " " + arg +
           " holds a character that code page 874 cannot hold; the suite cannot store such a path";
  if (platform::IsAbsolutePath(dir)) return {};
  const std::string here = platform::CurrentDirectory();
  if (here.empty()) return StartDirectoryProblem();
  dir = here + "/" + dir;
  return {};
}

int Repair(const std::vector<std::string>& args) {
  cli::Answers answers;
  std::string dir;
  uint64_t heldWaitSeconds = 30;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--yes") {
      answers.yes = true;
    } else if (a == "--restore-temp") {
      answers.restoreTemp = true;
    } else if (a == "--held-wait") {
      if (!TakeHeldWait(args, i, heldWaitSeconds)) return Usage("--held-wait needs a number of seconds, 0..3600");
    } else if (const std::string problem = TakeDirectory(a, dir); !problem.empty()) {
      return Usage(problem);
    }
  }
  if (dir.empty()) return Usage("repair needs a company directory");
  if (platform::CurrentDirectory().empty()) {
    std::cerr << "kvfix207-cli: " << StartDirectoryProblem() << "\n";
    return kExitEarly;
  }
  if (const std::string problem = ToCompanyPath(std::string(dir), dir); !problem.empty()) return Usage(problem);
  answers.interactive = !answers.yes && platform::StdinIsTerminal();

  cli::CliDialogs dialogs(answers, std::cout, std::cerr, std::cin);
  company::Settings settings;
  try {
    settings = company::InitSettings();
    company::ReadSettings(settings);
  } catch (const platform::IoError& e) {
    dialogs.ShowError(app::IoErrorMessage(e.code(), e.name()));
    return kExitEarly;
  }

  cli::Utf8LineBuf helpBuf(std::cout);
  std::ostream helpOut(&helpBuf);
  app::RepairRun run(dialogs, settings, helpOut);
  run.SetHeldRecordWait(static_cast<int32_t>(heldWaitSeconds * 1000), isam::kHeldRecordRounds);
  if (!run.Startup(dir)) {
    run.Close();
    return kExitEarly;
  }
  StderrProgress progress(dir);
  dialogs.beforeLine = [&progress] { progress.ClearLine(); };
  // Only once the question is answered: until then Ctrl+C ends the program as usual
  // (nothing has been changed), also while it waits for an answer on the terminal.
  dialogs.runStarts = [] { platform::WatchStopSignals(); };
  try {
    static_cast<void>(run.Fix(progress));
  } catch (const ui::EndRun&) {
    // Its result says how it ended.
  }
  const app::RunResult& result = run.Result();
  // A run that went through every module: 0, or 4 when it left records; every other
  // end (a No, a stop, an error) is 1.
  const int status = result.reason != ui::EndReason::kNone ? kExitEarly : result.left > 0 ? kExitLeft : kExitOk;
  progress.ClearLine();
  run.Close();
  helpOut.flush();
  std::cerr << "repaired records: " << result.repaired << "\n";
  if (result.left > 0) std::cerr << "records left unrepaired: " << result.left << "\n";
  if (!run.ReportPath().empty()) std::cerr << "report: " << platform::Cp874ToUtf8(run.ReportPath()) << "\n";
  return status;
}

int Undo(const std::vector<std::string>& args) {
  cli::Answers answers;
  bool dryRun = false;
  bool acceptEdited = false;
  bool acceptMoved = false;
  std::string report;
  uint64_t heldWaitSeconds = 30;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--yes") {
      answers.yes = true;
    } else if (a == "--dry-run") {
      dryRun = true;
    } else if (a == "--accept-edited") {
      acceptEdited = true;
    } else if (a == "--accept-moved") {
      acceptMoved = true;
    } else if (a == "--held-wait") {
      if (!TakeHeldWait(args, i, heldWaitSeconds)) return Usage("--held-wait needs a number of seconds, 0..3600");
    } else if (!a.empty() && a[0] == '-') {
      return Usage("unknown option " + a);
    } else if (!report.empty()) {
      return Usage("more than one report");
    } else {
      report = a;
    }
  }
  if (report.empty()) return Usage("undo needs a repair report");
  if (const std::string problem = ToCompanyPath(std::string(report), report, "the report"); !problem.empty()) return Usage(problem);
  answers.interactive = !answers.yes && !dryRun && platform::StdinIsTerminal();

  cli::CliDialogs dialogs(answers, std::cout, std::cerr, std::cin);
  app::UndoRun undo(dialogs);
  undo.SetHeldRecordWait(static_cast<int32_t>(heldWaitSeconds * 1000), isam::kHeldRecordRounds);
  undo.AcceptEdited(acceptEdited);
  undo.AcceptMoved(acceptMoved);
  std::string error;
  if (!undo.Prepare(report, error)) {
    std::cerr << "kvfix207-cli: undo refused, nothing written: " << platform::Cp874ToUtf8(error) << "\n";
    return kExitEarly;
  }
  if (undo.TornLine()) std::cerr << "the report's last line is cut short and was ignored\n";
  if (undo.UnsealedLines() > 0)
    std::cerr << undo.UnsealedLines()
              << " lines after the report's last checksum line were ignored (a write the run did not finish; "
                 "its record was not written)\n";
  if (undo.ReportOutcome().empty())
    std::cerr << "the report has no closing line: its run was killed or cut off; every field it lists up to "
                 "its last checksum line is undone\n";
  if (undo.NotWrittenCount() > 0)
    std::cerr << undo.NotWrittenCount() << " lines of the report name fields the repair left; nothing to undo there\n";
  if (undo.FieldCount() == 0) {
    std::cerr << "the report lists no field the repair wrote: nothing to undo\n";
    return kExitOk;
  }
  if (!dryRun && !dialogs.AskForYesNo(ui::Question::kUndo, app::UndoQuestionText(undo.FieldCount(), undo.FileCount()))) {
    std::cerr << "nothing written\n";
    return kExitEarly;
  }
  int status = kExitEarly;
  // Ctrl+C, a termination request or a closed terminal stops the undo between batches
  // and in every wait, as it stops a repair; what was not tried is left as STOPPED.
  platform::WatchStopSignals();
  StderrProgress progress;
  try {
    // One line per field on standard output: file, record, offset, what became of it.
    undo.PutBack(dryRun, [](const app::UndoLine& line) {
      std::cout << line.field->file << '\t' << line.field->record << '\t' << line.field->offset << '\t'
                << app::UndoOutcomeText(line.outcome) << '\n';
    }, &progress);
    status = progress.StopRequested() ? kExitEarly : undo.LeftCount() > 0 ? kExitLeft : kExitOk;
  } catch (const app::ReportCreateError& e) {
    dialogs.ShowError(e.Message());
  } catch (const ui::EndRun&) {
    status = kExitEarly;
  }
  undo.Close();
  std::cout.flush();
  std::cerr << (dryRun ? "dry run, nothing written: fields that would be put back: " : "fields put back: ")
            << undo.PutBackCount();
  if (undo.AlreadyBackCount() > 0) std::cerr << "; already put back: " << undo.AlreadyBackCount();
  std::cerr << "; left: " << undo.LeftCount() << "\n";
  if (!undo.ReportPath().empty()) std::cerr << "undo report: " << platform::Cp874ToUtf8(undo.ReportPath()) << "\n";
  if (undo.ReportWriteFailed()) std::cerr << "kvfix207-cli: a line of the undo report could not be written\n";
  return status;
}

int Scan(const std::vector<std::string>& args) {
  std::string dir;
  uint64_t heldWaitSeconds = static_cast<uint64_t>(app::kScanHeldWaitMs / 1000);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--held-wait") {
      if (!TakeHeldWait(args, i, heldWaitSeconds)) return Usage("--held-wait needs a number of seconds, 0..3600");
    } else if (const std::string problem = TakeDirectory(a, dir); !problem.empty()) {
      return Usage(problem);
    }
  }
  if (dir.empty() && std::find(args.begin(), args.end(), std::string()) != args.end()) {
    std::cerr << "kvfix207-cli: an empty path names no company directory\n";
    return kExitEarly;
  }
  if (dir.empty()) return Usage("scan needs a company directory");
  if (const std::string problem = ToCompanyPath(std::string(dir), dir); !problem.empty()) return Usage(problem);
  app::ScanOptions options;
  options.heldWaitMs = static_cast<int32_t>(heldWaitSeconds * 1000);
  options.onWaiting = [](std::string_view file, int32_t record, int round, int rounds) {
    std::cerr << "waiting for " << file << " record " << record << ", held by another station (try " << round << " of "
              << rounds << ")\n";
  };
  app::ScanSummary summary;
  std::string error;
  const bool ok = app::ScanCompany(
      dir,
      [](const app::ScanFinding& f) {
        std::cout << f.file << '\t' << f.record << '\t' << f.offset << '\t' << app::HexBytes(f.bytes.data(), f.bytes.size())
                  << '\n';
      },
      summary, error, options);
  std::cout.flush();
  std::cerr << "scanned " << summary.filesScanned << " files, " << summary.recordsScanned << " live records; "
            << summary.findings << " unsound money fields a repair would reset";
  if (summary.notRepaired > 0) std::cerr << "; " << summary.notRepaired << " more it would not";
  if (!summary.held.empty())
    std::cerr << "; " << summary.held.size() << (summary.held.size() == 1 ? " record" : " records")
              << " held by another station, not judged";
  std::cerr << "\n";
  // Each held record by name, but not a screenful per file when something holds many.
  constexpr size_t kHeldLinesPerFile = 20;
  for (size_t i = 0; i < summary.held.size();) {
    const std::string& file = summary.held[i].file;
    size_t end = i;
    while (end < summary.held.size() && summary.held[end].file == file) ++end;
    for (size_t k = i; k < std::min(end, i + kHeldLinesPerFile); ++k) {
      std::cerr << file << ".DAT: record " << summary.held[k].record << " is held by another station, not judged\n";
    }
    if (end - i > kHeldLinesPerFile) {
      std::cerr << file << ".DAT: " << end - i - kHeldLinesPerFile
                << " more records held by another station, not judged\n";
    }
    i = end;
  }
  for (const std::string& note : summary.notes) std::cerr << note << "\n";
  if (!ok) {
    std::cerr << "kvfix207-cli: " << platform::Cp874ToUtf8(error) << "\n";
    return kExitEarly;
  }
  if (summary.noCompany && summary.findings == 0) {
    std::cerr << "kvfix207-cli: " << dir << ": no company here (no module information file); nothing was scanned\n";
    return kExitEarly;
  }
  // Fields to reset outweigh records left unjudged: a repair has work either way.
  if (summary.findings > 0) return kExitFindings;
  if (!summary.held.empty()) {
    std::cerr << "scan again later for the held records\n";
    return kExitLeft;
  }
  return kExitOk;
}

// Checks one company; `company` (UTF-8) begins every output line under --all.
int CheckOne(const std::string& dir, bool json, const std::string& company, app::CheckSummary& summary) {
  const std::string column = company.empty() ? std::string() : company + '\t';
  std::string error;
  const bool ok = app::CheckCompany(
      dir,
      [&](const app::CheckFinding& f) {
        (json ? std::cerr : std::cout) << column << app::CheckLine(f) << '\n';
        if (json) std::cout << app::CheckJson(f, company) << '\n';
      },
      summary, error);
  const int status = !ok ? kExitEarly : (summary.damage > 0 ? kExitFindings : kExitOk);
  if (json) std::cout << app::CheckSummaryJson(summary, status, platform::Cp874ToUtf8(error), company) << '\n';
  std::cout.flush();
  std::cerr << column << "checked " << summary.filesChecked << " files, " << summary.liveRecords << " live records: "
            << summary.damage << " damage findings, " << summary.notes << " notes (" << summary.busyFiles
            << " files busy)\n";
  if (!ok) std::cerr << column << "kvfix207-cli: " << platform::Cp874ToUtf8(error) << "\n";
  return status;
}

// Of two exit statuses the one that says more is wrong: 1, then 4, then 3, then 0.
int WorseStatus(int a, int b) {
  auto rank = [](int s) { return s == kExitEarly ? 3 : s == kExitLeft ? 2 : s == kExitFindings ? 1 : 0; };
  return rank(b) > rank(a) ? b : a;
}

int Check(const std::vector<std::string>& args) {
  bool json = false;
  bool all = false;
  std::string dir;
  for (const std::string& a : args) {
    if (a == "--json") {
      json = true;
    } else if (a == "--all") {
      all = true;
    } else if (const std::string problem = TakeDirectory(a, dir); !problem.empty()) {
      return Usage(problem);
    }
  }
  app::CheckSummary summary;
  if (!all) {
    if (dir.empty()) return Usage("check needs a company directory, or --all");
    if (const std::string problem = ToCompanyPath(std::string(dir), dir); !problem.empty()) return Usage(problem);
    return CheckOne(dir, json, {}, summary);
  }
  if (!dir.empty()) return Usage("check --all takes the companies of USERDRV.INI, not a directory");
  std::vector<company::CompanyEntry> companies;
  try {
    if (!company::ReadCompanyList(companies)) {
      std::cerr << "kvfix207-cli: no " << company::kCompanyListFile << " in the start directory\n";
      return kExitEarly;
    }
  } catch (const platform::IoError& e) {
    std::cerr << "kvfix207-cli: " << platform::Cp874ToUtf8(app::IoErrorMessage(e.code(), e.name())) << "\n";
    return kExitEarly;
  }
  int worst = kExitOk;
  std::vector<std::string> table;
  for (const company::CompanyEntry& entry : companies) {
    const std::string shown = platform::Cp874ToUtf8(entry.directory);
    const int status = CheckOne(entry.directory, json, shown, summary);
    worst = WorseStatus(worst, status);
    table.push_back(shown + '\t' + std::to_string(summary.filesChecked) + '\t' + std::to_string(summary.liveRecords) +
                    '\t' + std::to_string(summary.damage) + '\t' + std::to_string(summary.notes) + '\t' +
                    std::to_string(summary.busyFiles) + '\t' + std::to_string(status));
  }
  std::cerr << "company\tfiles\tlive records\tdamage\tnotes\tbusy files\texit\n";
  for (const std::string& row : table) std::cerr << row << '\n';
  return worst;
}

int MakeDemo(const std::vector<std::string>& args) {
  uint64_t records = 0;
  uint64_t seed = 0;
  bool haveRecords = false;
  bool haveSeed = false;
  std::string dir;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--records" || a == "--seed") {
      if (i + 1 >= args.size()) return Usage(a + " needs a number");
      uint64_t v = 0;
      if (!ParseNumber(args[++i], v)) return Usage(a + " needs a number, not " + args[i]);
      if (a == "--records") {
        if (v == 0 || v > 1000000) return Usage("--records must be 1..1000000");
        records = v;
        haveRecords = true;
      } else {
        seed = v;
        haveSeed = true;
      }
    } else if (const std::string problem = TakeDirectory(a, dir); !problem.empty()) {
      return Usage(problem);
    }
  }
  if (dir.empty()) return Usage("make-demo needs a company directory");
  // A company the program could not open is not made at all.
  if (const std::string problem = ToCompanyPath(std::string(dir), dir); !problem.empty()) return Usage(problem);
  // Never over a company: a demo replaces every module file it makes.
  for (const modules::DataFileDef& def : modules::AllDataFiles()) {
    std::string base(def.baseName);
    if (const size_t dot = base.find('.'); dot != std::string::npos) base.resize(dot);
    for (const char* ext : {".DAT", ".IX", ".DIA"}) {
      const std::string name = dir + "/" + base + ext;
      if (platform::ProbeName(name).kind != platform::NameKind::kMissing) {
        std::cerr << "kvfix207-cli: make-demo refused, nothing written: " << platform::Cp874ToUtf8(name)
                  << " exists; a demo company is only made in a directory without module files\n";
        return kExitEarly;
      }
    }
  }
  testkit::DemoOptions options;
  if (haveRecords) options.records = static_cast<int32_t>(records);
  if (haveSeed) options.seed = seed;
  const testkit::DemoCompany company = testkit::MakeDemoCompany(dir, options);
  if (!company.error.empty()) {
    std::cerr << "kvfix207-cli: " << platform::Cp874ToUtf8(company.error) << "\n";
    return kExitEarly;
  }
  testkit::PrintPlantedCounts(company, std::cout);
  return kExitOk;
}

// With KVFIX_STATS=1 in the environment, the calls the platform layer made to the
// operating system are printed to standard error when the program ends (the benchmark
// script counts them per record; with a simulated share, also the delayed ones).
struct CallCountsAtExit {
  ~CallCountsAtExit() {
    if (platform::GetEnv("KVFIX_STATS") != "1") return;
    static constexpr const char* kNames[] = {"open",  "create", "read",   "write",  "flush",
                                             "truncate", "size", "close", "lock",   "unlock",
                                             "delete", "rename", "stat",  "directory"};
    static_assert(std::size(kNames) == static_cast<size_t>(platform::Op::kCount));
    const platform::CallCounts counts = platform::GetCallCounts();
    std::cerr << "platform calls: total " << counts.Total() << ";";
    for (size_t i = 0; i < std::size(kNames); ++i) {
      std::cerr << (i == 0 ? " " : ", ") << kNames[i] << " " << counts.calls[i];
    }
    std::cerr << "; delayed " << platform::DelayedCalls() << "\n";
  }
};

}  // namespace

int main(int argc, char** argv) {
  const CallCountsAtExit callCounts;
  platform::UseConsoleForText();
  platform::IgnoreClosedOutput();
  std::vector<std::string> args = platform::ProgramArguments(argc, argv);
  if (args.empty()) return Usage("");
  const std::string command = args.front();
  args.erase(args.begin());
  try {
    if (command == "repair") return Repair(args);
    if (command == "scan") return Scan(args);
    if (command == "check") return Check(args);
    if (command == "undo") return Undo(args);
    if (command == "make-demo") return MakeDemo(args);
    if (command == "--help" || command == "-h" || command == "help") {
      std::cout << kUsageText;
      return kExitOk;
    }
    if (command == "--version") {
      std::cout << app::VersionLine("kvfix207-cli") << "\n";
      return kExitOk;
    }
    return Usage("unknown command " + command);
  } catch (const platform::IoError& e) {
    std::cout << "Error: " << platform::Cp874ToUtf8(app::IoErrorMessage(e.code(), e.name())) << std::endl;
    return kExitEarly;
  } catch (const std::exception& e) {
    std::cerr << "kvfix207-cli: " << e.what() << "\n";
    return kExitEarly;
  }
}
