// Start-up and the repair run, shared by both front ends.
//
// Startup (after the company choice):
//   1. remember the start directory; 2. change into the company directory;
//   3. start the engine in network mode with 500 page buffers; 4. SaveMode 0;
//   5. find one of the six module information files, else "ERROR: File not found.!";
//   6. the technical-support question.
// Fix (the "Fix..." button):
//   1. the question; 2. pending messages once; 3. SaveMode 0, FlushAfterWrite 0;
//   4. open the repair report; 5. GL, IC, AP, AR, BI, PO; 6. back to the start
//   directory; 7. the result message. It counts written records only; when unsound
//   records were left (held by another station, a read or write failed) it is a warning
//   that says how many, so a run that could not do everything never reads as success.
//   A stop asked for through the progress sink ends the walk after the records in
//   hand; the module in progress is closed by its own close steps, no later module is
//   opened, and the result (a warning) says that the run was stopped.
// An I/O error of a side file is caught here, at the top, and shown with one standard
// message; the run then ends. Every early end unwinds as ui::EndRun to the front end,
// which calls Close(): the engine is stopped, so every block is closed and every lock
// released before the process exits.
#include "app/Run.h"

#include <algorithm>
#include <optional>
#include <sstream>

#include "app/Report.h"
#include "company/CompanyList.h"
#include "isam/Access.h"
#include "isam/Engine.h"
#include "isam/Errors.h"
#include "modules/HeldRounds.h"
#include "modules/Repairs.h"
#include "platform/Clock.h"
#include "platform/Cp874.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/PlainFile.h"
#include "platform/System.h"
#include "ui/ErrorCatalogue.h"
#include "ui/NumberText.h"

namespace kv::app {

namespace {

constexpr int kPageBuffers = 500;

const char* const kInformationFiles[] = {"ICINFO.DAT", "APINFO.DAT", "GLINFO.DAT",
                                         "ARINFO.DAT", "BIINFO.DAT", "POINFO.DAT"};

void ChangeDirectoryOrThrow(const std::string& dir) {
  if (const platform::OsStatus rc = platform::ChangeDirectory(dir)) throw platform::IoError(rc, dir);
}

}  // namespace

std::string TechSupportQuestionText() { return ui::ApplyQuestionRule(platform::Th("คุณต้องการแก้ไขข้อผิดพลาด 207")); }

std::string FixQuestionText() { return platform::Th("ต้องการแก้ไขข้อผิดพลาด 207?"); }

std::string IoErrorMessage(int32_t code, const std::string& name) {
  return "I/O error " + ui::IntToText(code) + ": " + name;
}

namespace {
std::string LeftLine(int32_t left) {
  return platform::Th("มี ") + ui::IntToText(left) +
         platform::Th(" รายการที่ยังแก้ไขไม่ได้ เนื่องจากมีผู้ใช้อื่นใช้งานอยู่หรืออ่านเขียนแฟ้มไม่ได้ โปรดเรียกใช้อีกครั้งภายหลัง");
}
}  // namespace

int RunStatus::BarMaximum() { return modules::kProgressMax * kBarScale; }

int RunStatus::BarValue(int position, int32_t done, int32_t total) {
  int within = 0;
  if (total > 0 && done > 0) {
    within = static_cast<int>(static_cast<int64_t>(std::min(done, total)) * kBarScale / total);
  }
  return std::clamp(position * kBarScale + within, 0, BarMaximum());
}

std::string RunStatus::Walking(std::string_view module, std::string_view file, int32_t done, int32_t total,
                               int32_t repaired) {
  return std::string(module) + " " + std::string(file) + ": " + ui::IntToText(done) + " / " +
         ui::IntToText(total) + platform::Th(" ระเบียน, แก้ไขแล้ว ") + ui::IntToText(repaired);
}

std::string RunStatus::Finished(std::string_view module, std::string_view file, int32_t repaired) {
  return std::string(module) + " " + std::string(file) + platform::Th(" เสร็จ, แก้ไขแล้ว ") +
         ui::IntToText(repaired);
}

std::string RunStatus::Waiting(std::string_view file, int32_t record, int round, int rounds) {
  return platform::Th("รอ ") + std::string(file) + platform::Th(" ระเบียนที่ ") + ui::IntToText(record) +
         platform::Th(" ซึ่งผู้ใช้อื่นใช้งานอยู่ (ครั้งที่ ") + ui::IntToText(round) + "/" + ui::IntToText(rounds) + ")";
}

std::string RunStatus::WaitingForLock(std::string_view file, int32_t error, uint64_t waitedMs) {
  return platform::Th("รอ ") + std::string(file) + platform::Th(" ซึ่งผู้ใช้อื่นล็อคอยู่ (") + ui::IntToText(error) +
         platform::Th(") มา ") + ui::IntToText(static_cast<int64_t>(waitedMs / 1000)) + platform::Th(" วินาที");
}

std::string RunStatus::Stopping(int32_t repaired) {
  return platform::Th("กำลังหยุด: ทำรายการที่อยู่ในมือให้เสร็จและปิดแฟ้ม, แก้ไขแล้ว ") + ui::IntToText(repaired);
}

std::string StoppedMessage(int32_t repaired, int32_t left) {
  std::string text = platform::Th("หยุดการทำงานตามที่สั่งแล้ว (แก้ไขไปแล้ว ") + ui::IntToText(repaired) +
                     platform::Th(" ข้อผิดพลาด) แฟ้มที่ยังไม่ได้ตรวจจะตรวจได้เมื่อเรียกใช้อีกครั้ง");
  if (left > 0) {
    text += '\n';
    text += LeftLine(left);
  }
  return text;
}

std::string ResultMessage(int32_t repaired, int32_t left, int32_t damaged) {
  std::string text = ResultMessage(repaired, left - std::min(left, damaged));
  if (damaged > 0) {
    text += '\n';
    text += ui::IntToText(damaged) +
            platform::Th(" แฟ้มมีส่วนหัวเสียหาย (จำนวนระเบียนในส่วนหัวไม่ตรงกับขนาดแฟ้ม) จึงตรวจได้ไม่ครบ "
                         "การเรียกใช้อีกครั้งไม่ช่วย โปรดตรวจด้วยคำสั่ง scan และซ่อมแฟ้มด้วยโปรแกรมของระบบ (ดูรายงาน)");
  }
  return text;
}

std::string ResultMessage(int32_t repaired, int32_t left) {
  std::string text = repaired >= 1 ? platform::Th("การทำงานเสร็จเรียบร้อยแล้ว (พบและแก้ไข ") + ui::IntToText(repaired) +
                                         platform::Th(" ข้อผิดพลาด")
                                   : platform::Th("การทำงานเสร็จเรียบร้อยแล้ว (ไม่พบข้อผิดพลาด)");
  if (left > 0) {
    text += '\n';
    text += LeftLine(left);
  }
  return text;
}

struct RepairRun::Impl {
  Impl(ui::Dialogs& d, company::Settings& s, std::ostream& h, RunHooks k)
      : dialogs(d), settings(s), helpOut(h), hooks(std::move(k)) {}

  ui::Dialogs& dialogs;
  company::Settings& settings;
  std::ostream& helpOut;
  RunHooks hooks;

  std::string startDirectory;
  std::string reportDirectory;  // the company directory as chosen, for the report's path
  std::optional<isam::Engine> engine;
  std::optional<isam::AccessLayer> access;
  ReportFile* report = nullptr;  // the report of the Fix in progress

  void ClearAutoSelect() {
    if (hooks.clearAutoSelect) {
      hooks.clearAutoSelect();
    } else {
      company::ClearAutoSelect(settings);
    }
  }

  void StopEngine() {
    access.reset();
    if (engine) {
      if (engine->Initialised()) engine->StopEngine();
      engine.reset();  // whatever a failed stop left open is closed here, without reporting
    }
  }

  void ShowIoError(const platform::IoError& e) { dialogs.ShowError(IoErrorMessage(e.code(), e.name())); }

  // The access layer over the started engine, with what it needs of the run.
  void MakeAccess() {
    isam::AccessHooks accessHooks;
    accessHooks.clearAutoSelect = [this] { ClearAutoSelect(); };
    accessHooks.printErrorHelp = [this](int32_t error) {
      std::ostringstream help;
      ui::PrintErrorHelp(error, startDirectory, help);
      if (!help.str().empty() && !dialogs.TakeErrorHelp(help.str())) {
        helpOut << help.str();
        helpOut.flush();
      }
    };
    accessHooks.fileKept = [this](std::string_view name, std::string_view keptAs, std::string_view why) {
      if (report != nullptr) report->FileKept(name, keptAs, why);
    };
    access.emplace(*engine, dialogs, std::move(accessHooks), isam::AccessSettings{.saveMode = false});
  }

  // The module repairs in the run order; `counts` holds what their walks did, also when
  // one of them ends the run early.
  static void RunModules(modules::RunContext& context, modules::RepairCounts& counts) {
    modules::ModuleRepairs repairs(context);
    try {
      for (const modules::RunOrderEntry& step : modules::kRunOrder) {
        if (context.progress.StopRequested()) break;  // the module before was closed as usual
        counts += (repairs.*step.fix)();
      }
    } catch (...) {
      counts = repairs.Walked();
      throw;
    }
    repairs.CloseAll();
  }

  // The exception in flight ended the run that `counts` tells of early: says why (the
  // message of its kind) and keeps the result.
  void EndedEarly(modules::ProgressSink& progress, const modules::RepairCounts& counts, RunResult& result) {
    report = nullptr;
    result = {counts.repaired, counts.left, false, ui::EndReason::kNone, counts.damaged};
    try {
      throw;
    } catch (const ReportCreateError& e) {
      dialogs.ShowError(e.Message());
      result.reason = ui::EndReason::kReportFailed;
    } catch (const modules::ReportWriteFailed& e) {
      // The report could not keep the record of the next write: nothing more was written.
      dialogs.ShowError(e.what());
      result.reason = ui::EndReason::kReportFailed;
    } catch (const platform::IoError& e) {
      ShowIoError(e);
      result.reason = ui::EndReason::kIoError;
    } catch (const ui::EndRun& e) {
      result.reason = e.reason();
      // A stop in the middle of a wait for another station's lock ends the run there,
      // without the module's close steps: it still says what it did.
      result.stopped = progress.StopRequested();
      if (result.stopped) dialogs.ShowWarning(StoppedMessage(result.repaired, result.left));
    }
  }
};

RepairRun::RepairRun(ui::Dialogs& dialogs, company::Settings& settings, std::ostream& helpOut, RunHooks hooks)
    : impl_(std::make_unique<Impl>(dialogs, settings, helpOut, std::move(hooks))) {}

RepairRun::~RepairRun() { Close(); }

void RepairRun::SetHeldRecordWait(int32_t milliseconds, int32_t rounds) {
  heldWaitMs_ = milliseconds;
  heldRounds_ = rounds;
}

void RepairRun::Close() {
  if (impl_) impl_->StopEngine();
}

bool RepairRun::Startup(const std::string& companyDir) {
  Impl& m = *impl_;
  result_ = {};
  try {
    m.startDirectory = platform::CurrentDirectory();
    ChangeDirectoryOrThrow(companyDir);
    // The report names the directory as the user chose it (a symbolic link stays one); a
    // relative choice is named from where it led. Empty only when CP874 cannot name the
    // way there: the report is then made by its bare name in the current directory,
    // which is the company directory all the same.
    m.reportDirectory = platform::IsAbsolutePath(companyDir) ? companyDir : platform::CurrentDirectory();

    m.engine.emplace();
    m.engine->StartEngine(isam::EngineMode::kNetwork, kPageBuffers);
    if (!m.engine->LastOpOK()) {
      const int32_t error = m.engine->LastOpError();
      m.dialogs.ShowError(ui::IntToText(error) + ": " + isam::ErrorText(error));
      m.engine.reset();
      result_.reason = ui::EndReason::kEngineFailed;
      return false;
    }
    m.MakeAccess();

    bool found = false;
    for (const char* name : kInformationFiles) {
      if (platform::FileExists(name)) {
        found = true;
        break;
      }
    }
    if (!found) {
      m.dialogs.ShowError("ERROR: File not found.!");
      m.StopEngine();
      result_.reason = ui::EndReason::kNoModuleData;
      ChangeDirectoryOrThrow(m.startDirectory);
      return false;
    }
    if (!m.dialogs.AskForYesNoTechnicalSupport(ui::kQuestionNoDefault, platform::Th("คุณต้องการแก้ไขข้อผิดพลาด 207"))) {
      m.StopEngine();
      result_.reason = ui::EndReason::kDeclined;
      ChangeDirectoryOrThrow(m.startDirectory);
      return false;
    }
    return true;
  } catch (const platform::IoError& e) {
    m.ShowIoError(e);
    m.StopEngine();
    result_.reason = ui::EndReason::kIoError;
    return false;
  }
}

RunResult RepairRun::Fix(modules::ProgressSink& progress) {
  Impl& m = *impl_;
  result_ = {};
  if (!m.access) {  // Startup did not get the run ready
    result_.reason = ui::EndReason::kNotReady;
    throw ui::EndRun(result_.reason);
  }
  if (!m.dialogs.AskForYesNo(ui::Question::kFix, FixQuestionText())) {
    result_.reason = ui::EndReason::kDeclined;
    return result_;
  }
  m.dialogs.ProcessPendingMessages();
  isam::AccessSettings settings = m.access->Settings();
  settings.saveMode = false;
  settings.flushAfterWrite = false;
  settings.heldRecordWaitMs = heldWaitMs_;
  settings.heldRecordRounds = heldRounds_;
  m.access->Configure(settings);
  // The retry rule's waits tell the progress what they wait for and end at its stop;
  // the watch goes with the run, whichever way it ends.
  const isam::ScopedConflictWatch watch(*m.access, modules::ConflictWatchFor(progress));

  modules::RepairCounts counts;
  try {
    // The report comes first: nothing is changed unless its record can be kept.
    ReportFile report(m.reportDirectory, platform::NowLocal());
    reportPath_ = report.Path();
    report.SetObserver(reportObserver_);
    m.report = &report;
    modules::RunContext context{*m.access, progress, &report, m.settings.invoiceOldForm};
    Impl::RunModules(context, counts);
    const bool stopped = progress.StopRequested();
    result_ = {counts.repaired, counts.left, stopped, stopped ? ui::EndReason::kStopped : ui::EndReason::kNone,
               counts.damaged};
    // The outcome closes the report; one destroyed without it (an early end) says so.
    report.Close(stopped ? "STOPPED" : counts.left > 0 ? "LEFT\t" + std::to_string(counts.left) : "COMPLETED");
    m.report = nullptr;
    ChangeDirectoryOrThrow(m.startDirectory);
  } catch (...) {
    m.EndedEarly(progress, counts, result_);
    throw ui::EndRun(result_.reason);
  }

  if (result_.stopped) {
    m.dialogs.ShowWarning(StoppedMessage(result_.repaired, result_.left));
  } else if (result_.left > 0) {
    m.dialogs.ShowWarning(ResultMessage(result_.repaired, result_.left, result_.damaged));
  } else {
    m.dialogs.ShowInformation(ResultMessage(result_.repaired, 0));
  }
  return result_;
}

}  // namespace kv::app
