// kvfix207-cli: the repair run without a window, the read-only scan, and the demo
// company.
//
//   kvfix207-cli repair [--yes] [--restore-temp] [--held-wait SECONDS] [--json] COMPANY_DIR | --all
//   kvfix207-cli undo [--yes] [--dry-run] [--held-wait SECONDS] [--accept-edited] [--accept-moved] [--json] REPORT
//   kvfix207-cli scan [--held-wait SECONDS] [--json] COMPANY_DIR | --all
//   kvfix207-cli check [--held-wait SECONDS] [--json] COMPANY_DIR | --all
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
#include <functional>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/Check.h"
#include "app/JsonLine.h"
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
    "  kvfix207-cli repair [--yes] [--restore-temp] [--held-wait SECONDS]\n"
    "                      [--json] COMPANY_DIR | --all\n"
    "  kvfix207-cli undo [--yes] [--dry-run] [--held-wait SECONDS] [--accept-edited]\n"
    "                    [--accept-moved] [--json] REPORT\n"
    "  kvfix207-cli scan [--held-wait SECONDS] [--json] COMPANY_DIR | --all\n"
    "  kvfix207-cli check [--held-wait SECONDS] [--json] COMPANY_DIR | --all\n"
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
    "  standard error. Records another station holds are read around, tried again\n"
    "  within --held-wait as the scan does (default 5), and named BUSY if still held.\n"
    "  It cannot tell whether a key's text matches its record (the key recipes are\n"
    "  the suite's).\n"
    "--all (scan, check, repair): the companies of USERDRV.INI in the start\n"
    "  directory, in list order, one after another; each output line begins with\n"
    "  the company's directory and a tab, standard error ends with a table of one\n"
    "  row per company, and the exit status is the worst (1, then 4, 3, 0); a\n"
    "  missing company gives 1. repair --all asks its questions once for the list.\n"
    "--json (scan, check, repair, undo): JSON Lines on standard output, one object\n"
    "  per finding, field or record left (\"type\" finding, held, field, left),\n"
    "  then one \"summary\" object with the exit status; the text lines then go to\n"
    "  standard error.\n"
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

// Where a command's output goes. The text lines go to standard output, or under --json
// to standard error, where the messages go; under --all each of these lines is headed
// by the company's directory and a tab. JSON Lines go to standard output and name the
// company in a field of their own.
class Output {
 public:
  Output(bool json, const std::string& company)
      : company_(company),
        linesBuf_(json ? std::cerr : std::cout, Head(company)),
        errBuf_(std::cerr, Head(company)),
        lines(&linesBuf_),
        err(&errBuf_),
        json_(json) {}

  bool Json() const { return json_; }
  const std::string& Company() const { return company_; }
  // A JSON object headed by its type (and the company under --all).
  app::JsonLine Object(std::string_view type) const { return app::JsonLine(type, company_); }
  void Write(const app::JsonLine& line) const {
    if (json_) std::cout << line.Dump() << '\n';
  }
  void Flush() {
    lines.flush();
    err.flush();
    std::cout.flush();
  }

 private:
  static std::string Head(const std::string& company) { return company.empty() ? std::string() : company + '\t'; }
  std::string company_;
  cli::PrefixLineBuf linesBuf_;
  cli::PrefixLineBuf errBuf_;

 public:
  std::ostream lines;
  std::ostream err;

 private:
  bool json_;
};

// Of two exit statuses the one that says more is wrong: 1, then 4, then 3, then 0.
int WorseStatus(int a, int b) {
  auto rank = [](int s) { return s == kExitEarly ? 3 : s == kExitLeft ? 2 : s == kExitFindings ? 1 : 0; };
  return rank(b) > rank(a) ? b : a;
}

// --all: the companies of USERDRV.INI in the start directory, in list order, one after
// another. `one` runs a company (its directory, CP874 and absolute, and the name it is
// shown by, UTF-8) and fills its row of the table with `columns`; standard error ends
// with the table, a row per company, and the status is the worst of them.
int ForEachCompany(std::string_view columns,
                   const std::function<int(const std::string& dir, const std::string& shown, std::string& row)>& one) {
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
  const std::string start = platform::CurrentDirectory();
  if (start.empty()) {
    std::cerr << "kvfix207-cli: " << StartDirectoryProblem() << "\n";
    return kExitEarly;
  }
  int worst = kExitOk;
  std::vector<std::string> table;
  for (const company::CompanyEntry& entry : companies) {
    const std::string shown = platform::Cp874ToUtf8(entry.directory);
    if (platform::StopSignalled()) {
      std::cerr << "stopped: " << shown << " and the companies after it were not started\n";
      worst = WorseStatus(worst, kExitEarly);
      break;
    }
    const std::string dir = platform::IsAbsolutePath(entry.directory) ? entry.directory : start + "/" + entry.directory;
    std::string row;
    const int status = one(dir, shown, row);
    // Each company from the start directory, whatever way the one before ended.
    (void)platform::ChangeDirectory(start);
    worst = WorseStatus(worst, status);
    table.push_back(shown + '\t' + row + '\t' + std::to_string(status));
  }
  std::cerr << "company\t" << columns << "\texit\n";
  for (const std::string& row : table) std::cerr << row << '\n';
  return worst;
}

// --json and --all, which scan, check and repair share: true when `arg` was one.
bool TakeOutputOption(const std::string& arg, bool& json, bool& all) {
  if (arg == "--json") return json = true;
  if (arg == "--all") return all = true;
  return false;
}

// The company directory of the command line, or under --all every company of the list
// (see ForEachCompany): `one` runs a company with its output and fills its table row.
using CompanyCommand = std::function<int(const std::string& dir, Output& out, std::string& row)>;
int RunCompanies(const std::string& command, bool all, bool json, std::string dir, std::string_view columns,
                 const CompanyCommand& one) {
  if (all) {
    if (!dir.empty()) return Usage(command + " --all takes the companies of USERDRV.INI, not a directory");
    return ForEachCompany(columns, [&](const std::string& company, const std::string& shown, std::string& row) {
      Output o(json, shown);
      return one(company, o, row);
    });
  }
  if (dir.empty()) return Usage(command + " needs a company directory, or --all");
  if (const std::string problem = ToCompanyPath(std::string(dir), dir); !problem.empty()) return Usage(problem);
  Output o(json, {});
  std::string row;
  return one(dir, o, row);
}

// repair --json: each field the report records as written ("field") or left ("left",
// with the reason; a record that could not be judged has no offset and bytes).
class JsonReportLines : public app::ReportObserver {
 public:
  explicit JsonReportLines(const Output& out) : out_(out) {}
  void Reported(std::string_view file, int32_t record, int offset, const uint8_t* original,
                modules::LeftReason left) override {
    app::JsonLine line = out_.Object(left == modules::LeftReason::kNone ? "field" : "left");
    line.Text("file", platform::Cp874ToUtf8(file)).Number("record", record);
    if (original != nullptr) {
      line.Number("offset", offset).Text("bytes", app::HexBytes(original, 10)).Text("value", app::ExtendedValueText(original));
    } else {
      line.Null("offset").Null("bytes").Null("value");
    }
    if (left != modules::LeftReason::kNone) line.Text("reason", modules::LeftReasonText(left));
    out_.Write(line);
  }

 private:
  const Output& out_;
};

// One company's repair; `row` gets its repaired and left records and its report.
int RepairOne(const std::string& dir, const cli::Answers& answers, uint64_t heldWaitSeconds,
              company::Settings settings, Output& o, std::string& row) {
  cli::CliDialogs dialogs(answers, o.lines, o.err, std::cin);
  cli::Utf8LineBuf helpBuf(o.lines);
  std::ostream helpOut(&helpBuf);
  JsonReportLines observer(o);
  app::RepairRun run(dialogs, settings, helpOut);
  run.SetHeldRecordWait(static_cast<int32_t>(heldWaitSeconds * 1000), isam::kHeldRecordRounds);
  if (o.Json()) run.SetReportObserver(&observer);
  int status = kExitEarly;
  if (!run.Startup(dir)) {
    run.Close();
  } else {
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
    // A run that went through every module: 0, or 4 when it left records; every other
    // end (a No, a stop, an error) is 1.
    const app::RunResult& result = run.Result();
    status = result.reason != ui::EndReason::kNone ? kExitEarly : result.left > 0 ? kExitLeft : kExitOk;
    progress.ClearLine();
    run.Close();
  }
  helpOut.flush();
  const app::RunResult& result = run.Result();
  const std::string report = platform::Cp874ToUtf8(run.ReportPath());
  o.err << "repaired records: " << result.repaired << "\n";
  if (result.left > 0) o.err << "records left unrepaired: " << result.left << "\n";
  if (!report.empty()) o.err << "report: " << report << "\n";
  o.Write(o.Object("summary")
              .Number("repaired", result.repaired)
              .Number("left", result.left)
              .Text("report", report)
              .Number("exit", status));
  o.Flush();
  row = std::to_string(result.repaired) + '\t' + std::to_string(result.left) + '\t' + report;
  return status;
}

int Repair(const std::vector<std::string>& args) {
  cli::Answers answers;
  std::string dir;
  bool json = false;
  bool all = false;
  uint64_t heldWaitSeconds = 30;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--yes") {
      answers.yes = true;
    } else if (a == "--restore-temp") {
      answers.restoreTemp = true;
    } else if (TakeOutputOption(a, json, all)) {
    } else if (a == "--held-wait") {
      if (!TakeHeldWait(args, i, heldWaitSeconds)) return Usage("--held-wait needs a number of seconds, 0..3600");
    } else if (const std::string problem = TakeDirectory(a, dir); !problem.empty()) {
      return Usage(problem);
    }
  }
  if (all && !dir.empty()) return Usage("repair --all takes the companies of USERDRV.INI, not a directory");
  if (!all && dir.empty()) return Usage("repair needs a company directory, or --all");
  if (platform::CurrentDirectory().empty()) {
    std::cerr << "kvfix207-cli: " << StartDirectoryProblem() << "\n";
    return kExitEarly;
  }
  answers.interactive = !answers.yes && platform::StdinIsTerminal();

  company::Settings settings;
  try {
    settings = company::InitSettings();
    company::ReadSettings(settings);
  } catch (const platform::IoError& e) {
    Output o(json, {});
    cli::CliDialogs(answers, o.lines, o.err, std::cin).ShowError(app::IoErrorMessage(e.code(), e.name()));
    return kExitEarly;
  }
  auto one = [&](const std::string& company, Output& o, std::string& row) {
    return RepairOne(company, answers, heldWaitSeconds, settings, o, row);
  };
  if (!all) return RunCompanies("repair", all, json, dir, {}, one);
  // The two questions once for the whole list, on standard error (their lines belong
  // to no company); each company's run then takes them as answered.
  {
    cli::CliDialogs dialogs(answers, std::cerr, std::cerr, std::cin);
    if (!dialogs.AskForYesNo(ui::Question::kTechnicalSupport, app::TechSupportQuestionText()) ||
        !dialogs.AskForYesNo(ui::Question::kFix, app::FixQuestionText())) {
      std::cerr << "nothing changed\n";
      return kExitEarly;
    }
  }
  answers.yes = true;
  answers.interactive = false;
  return RunCompanies("repair", all, json, dir, "repaired\tleft\treport", one);
}

int Undo(const std::vector<std::string>& args) {
  cli::Answers answers;
  bool dryRun = false;
  bool acceptEdited = false;
  bool acceptMoved = false;
  bool json = false;
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
    } else if (a == "--json") {
      json = true;
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

  Output o(json, {});
  cli::CliDialogs dialogs(answers, o.lines, o.err, std::cin);
  app::UndoRun undo(dialogs);
  // The closing JSON object, whichever way the undo ends.
  auto finish = [&](int status, const std::string& error) {
    app::JsonLine summary = o.Object("summary");
    summary.Number("put_back", undo.PutBackCount())
        .Number("already_put_back", undo.AlreadyBackCount())
        .Number("left", undo.LeftCount())
        .Flag("dry_run", dryRun)
        .Text("report", platform::Cp874ToUtf8(undo.ReportPath()))
        .Number("exit", status);
    if (!error.empty()) summary.Text("error", error);
    o.Write(summary);
    o.Flush();
    return status;
  };
  undo.SetHeldRecordWait(static_cast<int32_t>(heldWaitSeconds * 1000), isam::kHeldRecordRounds);
  undo.AcceptEdited(acceptEdited);
  undo.AcceptMoved(acceptMoved);
  std::string error;
  if (!undo.Prepare(report, error)) {
    o.err << "kvfix207-cli: undo refused, nothing written: " << platform::Cp874ToUtf8(error) << "\n";
    return finish(kExitEarly, "undo refused, nothing written: " + platform::Cp874ToUtf8(error));
  }
  if (undo.TornLine()) o.err << "the report's last line is cut short and was ignored\n";
  if (undo.UnsealedLines() > 0)
    o.err << undo.UnsealedLines()
          << " lines after the report's last checksum line were ignored (a write the run did not finish; "
             "its record was not written)\n";
  if (undo.ReportOutcome().empty())
    o.err << "the report has no closing line: its run was killed or cut off; every field it lists up to "
             "its last checksum line is undone\n";
  if (undo.NotWrittenCount() > 0)
    o.err << undo.NotWrittenCount() << " lines of the report name fields the repair left; nothing to undo there\n";
  if (undo.FieldCount() == 0) {
    o.err << "the report lists no field the repair wrote: nothing to undo\n";
    return finish(kExitOk, {});
  }
  if (!dryRun && !dialogs.AskForYesNo(ui::Question::kUndo, app::UndoQuestionText(undo.FieldCount(), undo.FileCount()))) {
    o.err << "nothing written\n";
    return finish(kExitEarly, "not confirmed, nothing written");
  }
  int status = kExitEarly;
  // Ctrl+C, a termination request or a closed terminal stops the undo between batches
  // and in every wait, as it stops a repair; what was not tried is left as STOPPED.
  platform::WatchStopSignals();
  StderrProgress progress;
  try {
    // One line per field: file, record, offset, what became of it.
    undo.PutBack(dryRun, [&o](const app::UndoLine& line) {
      const std::string_view outcome = app::UndoOutcomeText(line.outcome);
      o.lines << line.field->file << '\t' << line.field->record << '\t' << line.field->offset << '\t' << outcome
              << '\n';
      app::JsonLine field = o.Object("field");
      field.Text("file", platform::Cp874ToUtf8(line.field->file))
          .Number("record", line.field->record)
          .Number("offset", line.field->offset)
          .Text("outcome", outcome)
          .Text("original", app::HexBytes(line.field->original.data(), line.field->original.size()));
      if (line.haveNow) field.Text("found", app::HexBytes(line.now.data(), line.now.size()));
      o.Write(field);
    }, &progress);
    status = progress.StopRequested() ? kExitEarly : undo.LeftCount() > 0 ? kExitLeft : kExitOk;
  } catch (const app::ReportCreateError& e) {
    dialogs.ShowError(e.Message());
    error = platform::Cp874ToUtf8(e.Message());
  } catch (const ui::EndRun&) {
    status = kExitEarly;
  }
  undo.Close();
  o.lines.flush();
  o.err << (dryRun ? "dry run, nothing written: fields that would be put back: " : "fields put back: ")
        << undo.PutBackCount();
  if (undo.AlreadyBackCount() > 0) o.err << "; already put back: " << undo.AlreadyBackCount();
  o.err << "; left: " << undo.LeftCount() << "\n";
  if (!undo.ReportPath().empty()) o.err << "undo report: " << platform::Cp874ToUtf8(undo.ReportPath()) << "\n";
  if (undo.ReportWriteFailed()) o.err << "kvfix207-cli: a line of the undo report could not be written\n";
  return finish(status, error);
}

// Before each wait of a scan or check for a record another station holds.
void PrintWaiting(std::string_view file, int32_t record, int round, int rounds) {
  std::cerr << "waiting for " << file << " record " << record << ", held by another station (try " << round << " of "
            << rounds << ")\n";
}

// One company's scan; `row` gets its files, live records, fields to reset and held
// records.
int ScanOne(const std::string& dir, uint64_t heldWaitSeconds, Output& o, std::string& row) {
  app::ScanOptions options;
  options.heldWaitMs = static_cast<int32_t>(heldWaitSeconds * 1000);
  options.onWaiting = PrintWaiting;
  app::ScanSummary summary;
  std::string error;
  const bool ok = app::ScanCompany(
      dir,
      [&o](const app::ScanFinding& f) {
        const std::string bytes = app::HexBytes(f.bytes.data(), f.bytes.size());
        o.lines << f.file << '\t' << f.record << '\t' << f.offset << '\t' << bytes << '\n';
        o.Write(o.Object("finding")
                    .Text("file", platform::Cp874ToUtf8(f.file))
                    .Number("record", f.record)
                    .Number("offset", f.offset)
                    .Text("bytes", bytes));
      },
      summary, error, options);
  o.lines.flush();
  o.err << "scanned " << summary.filesScanned << " files, " << summary.recordsScanned << " live records; "
        << summary.findings << " unsound money fields a repair would reset";
  if (summary.notRepaired > 0) o.err << "; " << summary.notRepaired << " more it would not";
  if (!summary.held.empty())
    o.err << "; " << summary.held.size() << (summary.held.size() == 1 ? " record" : " records")
          << " held by another station, not judged";
  o.err << "\n";
  // Each held record by name, but not a screenful per file when something holds many.
  constexpr size_t kHeldLinesPerFile = 20;
  for (size_t i = 0; i < summary.held.size();) {
    const std::string& file = summary.held[i].file;
    size_t end = i;
    while (end < summary.held.size() && summary.held[end].file == file) ++end;
    for (size_t k = i; k < std::min(end, i + kHeldLinesPerFile); ++k) {
      o.err << file << ".DAT: record " << summary.held[k].record << " is held by another station, not judged\n";
    }
    if (end - i > kHeldLinesPerFile) {
      o.err << file << ".DAT: " << end - i - kHeldLinesPerFile << " more records held by another station, not judged\n";
    }
    i = end;
  }
  for (const app::ScanHeldRecord& h : summary.held)
    o.Write(o.Object("held").Text("file", platform::Cp874ToUtf8(h.file)).Number("record", h.record));
  for (const std::string& note : summary.notes) o.err << note << "\n";
  int status = kExitOk;
  if (!ok) {
    error = platform::Cp874ToUtf8(error);
    o.err << "kvfix207-cli: " << error << "\n";
    status = kExitEarly;
  } else if (summary.noCompany && summary.findings == 0) {
    error = platform::Cp874ToUtf8(dir) + ": no company here (no module information file); nothing was scanned";
    o.err << "kvfix207-cli: " << error << "\n";
    status = kExitEarly;
  } else if (summary.findings > 0) {
    status = kExitFindings;  // fields to reset outweigh records left unjudged: a repair has work either way
  } else if (!summary.held.empty()) {
    o.err << "scan again later for the held records\n";
    status = kExitLeft;
  }
  app::JsonLine closing = o.Object("summary");
  closing.Number("files", summary.filesScanned)
      .Number("live_records", summary.recordsScanned)
      .Number("findings", summary.findings)
      .Number("not_repaired", summary.notRepaired)
      .Number("held", static_cast<int64_t>(summary.held.size()))
      .Number("exit", status);
  if (status == kExitEarly) closing.Text("error", error);
  o.Write(closing);
  o.Flush();
  row = std::to_string(summary.filesScanned) + '\t' + std::to_string(summary.recordsScanned) + '\t' +
        std::to_string(summary.findings) + '\t' + std::to_string(summary.held.size());
  return status;
}

int Scan(const std::vector<std::string>& args) {
  std::string dir;
  bool json = false;
  bool all = false;
  uint64_t heldWaitSeconds = static_cast<uint64_t>(app::kScanHeldWaitMs / 1000);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--held-wait") {
      if (!TakeHeldWait(args, i, heldWaitSeconds)) return Usage("--held-wait needs a number of seconds, 0..3600");
    } else if (TakeOutputOption(a, json, all)) {
    } else if (const std::string problem = TakeDirectory(a, dir); !problem.empty()) {
      return Usage(problem);
    }
  }
  if (!all && dir.empty() && std::find(args.begin(), args.end(), std::string()) != args.end()) {
    std::cerr << "kvfix207-cli: an empty path names no company directory\n";
    return kExitEarly;
  }
  return RunCompanies("scan", all, json, dir, "files\tlive records\tto reset\theld",
                      [&](const std::string& company, Output& o, std::string& row) {
                        return ScanOne(company, heldWaitSeconds, o, row);
                      });
}

// One company's check; `row` gets its counts.
int CheckOne(const std::string& dir, uint64_t heldWaitSeconds, Output& o, std::string& row) {
  app::CheckOptions options;
  options.heldWaitMs = static_cast<int32_t>(heldWaitSeconds * 1000);
  options.onWaiting = PrintWaiting;
  app::CheckSummary summary;
  std::string error;
  const bool ok = app::CheckCompany(
      dir,
      [&o](const app::CheckFinding& f) {
        o.lines << app::CheckLine(f) << '\n';
        o.Write(o.Object("finding")
                    .Text("file", f.file)
                    .Text("kind", app::CheckKindName(f.kind))
                    .Text("place", f.place)
                    .Text("text", f.text)
                    .Flag("damage", f.damage));
      },
      summary, error, options);
  const int status = !ok ? kExitEarly : (summary.damage > 0 ? kExitFindings : kExitOk);
  app::JsonLine closing = o.Object("summary");
  closing.Number("files", summary.filesChecked)
      .Number("live_records", summary.liveRecords)
      .Number("damage", summary.damage)
      .Number("notes", summary.notes)
      .Number("busy_files", summary.busyFiles)
      .Number("exit", status);
  if (!ok) closing.Text("error", platform::Cp874ToUtf8(error));
  o.Write(closing);
  o.lines.flush();
  o.err << "checked " << summary.filesChecked << " files, " << summary.liveRecords << " live records: "
        << summary.damage << " damage findings, " << summary.notes << " notes (" << summary.busyFiles
        << " files busy)\n";
  if (!ok) o.err << "kvfix207-cli: " << platform::Cp874ToUtf8(error) << "\n";
  o.Flush();
  row = std::to_string(summary.filesChecked) + '\t' + std::to_string(summary.liveRecords) + '\t' +
        std::to_string(summary.damage) + '\t' + std::to_string(summary.notes) + '\t' + std::to_string(summary.busyFiles);
  return status;
}

int Check(const std::vector<std::string>& args) {
  bool json = false;
  bool all = false;
  std::string dir;
  uint64_t heldWaitSeconds = static_cast<uint64_t>(app::kScanHeldWaitMs / 1000);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--held-wait") {
      if (!TakeHeldWait(args, i, heldWaitSeconds)) return Usage("--held-wait needs a number of seconds, 0..3600");
    } else if (!TakeOutputOption(a, json, all)) {
      if (const std::string problem = TakeDirectory(a, dir); !problem.empty()) return Usage(problem);
    }
  }
  return RunCompanies("check", all, json, dir, "files\tlive records\tdamage\tnotes\tbusy files",
                      [&](const std::string& company, Output& o, std::string& row) {
                        return CheckOne(company, heldWaitSeconds, o, row);
                      });
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
