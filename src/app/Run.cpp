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
  completed_ = false;
  exitCode_ = 0;
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
      exitCode_ = 1;
      return false;
    }
    isam::AccessHooks accessHooks;
    accessHooks.clearAutoSelect = [&m] { m.ClearAutoSelect(); };
    accessHooks.printErrorHelp = [&m](int32_t error) {
      std::ostringstream help;
      ui::PrintErrorHelp(error, m.startDirectory, help);
      if (!help.str().empty() && !m.dialogs.TakeErrorHelp(help.str())) {
        m.helpOut << help.str();
        m.helpOut.flush();
      }
    };
    accessHooks.fileKept = [&m](std::string_view name, std::string_view keptAs, std::string_view why) {
      if (m.report != nullptr) m.report->FileKept(name, keptAs, why);
    };
    m.access.emplace(*m.engine, m.dialogs, std::move(accessHooks), isam::AccessSettings{.saveMode = false});

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
      ChangeDirectoryOrThrow(m.startDirectory);
      return false;
    }
    if (!m.dialogs.AskForYesNoTechnicalSupport(ui::kQuestionNoDefault, platform::Th("คุณต้องการแก้ไขข้อผิดพลาด 207"))) {
      m.StopEngine();
      ChangeDirectoryOrThrow(m.startDirectory);
      return false;
    }
    return true;
  } catch (const platform::IoError& e) {
    m.ShowIoError(e);
    m.StopEngine();
    exitCode_ = 1;
    return false;
  }
}

bool RepairRun::Fix(modules::ProgressSink& progress) {
  Impl& m = *impl_;
  completed_ = false;
  stopped_ = false;
  if (!m.access) throw ui::EndRun(1);  // Startup did not get the run ready
  if (!m.dialogs.AskForYesNo(ui::Question::kFix, FixQuestionText())) return false;
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

  try {
    // The report comes first: nothing is changed unless its record can be kept.
    ReportFile report(m.reportDirectory, platform::NowLocal());
    reportPath_ = report.Path();
    report.SetObserver(reportObserver_);

    m.report = &report;
    modules::RunContext context{*m.access, progress, &report, m.settings.invoiceOldForm};
    {
      modules::ModuleRepairs repairs(context);
      using Fixer = void (modules::ModuleRepairs::*)();
      for (Fixer fix : {&modules::ModuleRepairs::FixGL, &modules::ModuleRepairs::FixIC, &modules::ModuleRepairs::FixAP,
                        &modules::ModuleRepairs::FixAR, &modules::ModuleRepairs::FixBI, &modules::ModuleRepairs::FixPO}) {
        if (progress.StopRequested()) break;  // the module before was closed as usual
        (repairs.*fix)();
      }
      repairs.CloseAll();
    }
    stopped_ = progress.StopRequested();
    repairCount_ = progress.RepairCount();
    leftCount_ = progress.LeftCount();
    // The outcome closes the report; one destroyed without it (an early end) says so.
    report.Close(stopped_ ? "STOPPED" : leftCount_ > 0 ? "LEFT\t" + std::to_string(leftCount_) : "COMPLETED");
    m.report = nullptr;
    ChangeDirectoryOrThrow(m.startDirectory);
  } catch (const ReportCreateError& e) {
    m.report = nullptr;
    m.dialogs.ShowError(e.Message());
    exitCode_ = 1;
    throw ui::EndRun(1);
  } catch (const modules::ReportWriteFailed& e) {
    // The report could not keep the record of the next write: nothing more was written.
    m.report = nullptr;
    repairCount_ = progress.RepairCount();
    leftCount_ = progress.LeftCount();
    m.dialogs.ShowError(e.what());
    exitCode_ = 1;
    throw ui::EndRun(1);
  } catch (const platform::IoError& e) {
    m.report = nullptr;
    repairCount_ = progress.RepairCount();
    leftCount_ = progress.LeftCount();
    m.ShowIoError(e);
    exitCode_ = 1;
    throw ui::EndRun(1);
  } catch (const ui::EndRun& e) {
    m.report = nullptr;
    repairCount_ = progress.RepairCount();
    leftCount_ = progress.LeftCount();
    exitCode_ = e.exitCode();
    // A stop in the middle of a wait for another station's lock ends the run there,
    // without the module's close steps: it still says what it did.
    if (progress.StopRequested()) {
      stopped_ = true;
      m.dialogs.ShowWarning(StoppedMessage(repairCount_, leftCount_));
    }
    throw;
  }

  if (stopped_) {
    m.dialogs.ShowWarning(StoppedMessage(repairCount_, leftCount_));
    exitCode_ = 1;
    return true;
  }
  if (leftCount_ > 0) {
    m.dialogs.ShowWarning(ResultMessage(repairCount_, leftCount_, progress.DamagedCount()));
  } else {
    m.dialogs.ShowInformation(ResultMessage(repairCount_, 0));
  }
  completed_ = true;
  exitCode_ = 0;
  return true;
}

}  // namespace kv::app
