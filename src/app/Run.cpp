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
// An I/O error of a side file is caught here, at the top, and shown with one standard
// message; the run then ends. Every early end unwinds as ui::EndRun to the front end,
// which calls Close(): the engine is stopped, so every block is closed and every lock
// released before the process exits.
#include "app/Run.h"

#include <optional>

#include "app/Report.h"
#include "company/CompanyList.h"
#include "isam/Access.h"
#include "isam/Engine.h"
#include "isam/Errors.h"
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

constexpr int kNetworkMode = 2;
constexpr int kPageBuffers = 500;

const char* const kInformationFiles[] = {"ICINFO.DAT", "APINFO.DAT", "GLINFO.DAT",
                                         "ARINFO.DAT", "BIINFO.DAT", "POINFO.DAT"};

void ChangeDirectoryOrThrow(const std::string& dir) {
  const int32_t rc = platform::ChangeDirectory(dir);
  if (rc != 0) throw platform::IoError(rc, dir);
}

}  // namespace

std::string TechSupportQuestionText() { return ui::ApplyQuestionRule(platform::Th("คุณต้องการแก้ไขข้อผิดพลาด 207")); }

std::string FixQuestionText() { return platform::Th("ต้องการแก้ไขข้อผิดพลาด 207?"); }

std::string IoErrorMessage(int32_t code, const std::string& name) {
  return "I/O error " + ui::IntToText(code) + ": " + name;
}

std::string ResultMessage(int32_t repaired, int32_t left) {
  std::string text = repaired >= 1 ? platform::Th("การทำงานเสร็จเรียบร้อยแล้ว (พบและแก้ไข ") + ui::IntToText(repaired) +
                                         platform::Th(" ข้อผิดพลาด")
                                   : platform::Th("การทำงานเสร็จเรียบร้อยแล้ว (ไม่พบข้อผิดพลาด)");
  if (left > 0) {
    text += '\n';
    text += platform::Th("มี ") + ui::IntToText(left) +
            platform::Th(" รายการที่ยังแก้ไขไม่ได้ เนื่องจากมีผู้ใช้อื่นใช้งานอยู่หรืออ่านเขียนแฟ้มไม่ได้ โปรดเรียกใช้อีกครั้งภายหลัง");
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
    m.engine->StartEngine(kNetworkMode, kPageBuffers);
    if (!m.engine->LastOpOK()) {
      const int32_t error = m.engine->LastOpError();
      m.dialogs.ShowError(ui::IntToText(error) + ": " + isam::ErrorText(error));
      m.engine.reset();
      exitCode_ = 1;
      return false;
    }
    isam::AccessHooks accessHooks;
    accessHooks.clearAutoSelect = [&m] { m.ClearAutoSelect(); };
    accessHooks.printErrorHelp = [&m](int32_t error) { ui::PrintErrorHelp(error, m.startDirectory, m.helpOut); };
    m.access.emplace(*m.engine, m.dialogs, std::move(accessHooks));
    m.access->SaveMode = 0;

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
  if (!m.access) throw ui::EndRun(1);  // Startup did not get the run ready
  if (!m.dialogs.AskForYesNo(FixQuestionText())) return false;
  m.dialogs.ProcessPendingMessages();
  m.access->SaveMode = 0;
  m.access->FlushAfterWrite = 0;
  m.access->HeldRecordWaitMs = heldWaitMs_;
  m.access->HeldRecordRounds = heldRounds_;

  try {
    // The report comes first: nothing is changed unless its record can be kept.
    ReportFile report(m.reportDirectory, platform::NowLocal());
    reportPath_ = report.Path();

    modules::RunContext context{*m.access, progress, &report, m.settings.invoiceOldForm};
    {
      modules::ModuleRepairs repairs(context);
      repairs.FixGL();
      repairs.FixIC();
      repairs.FixAP();
      repairs.FixAR();
      repairs.FixBI();
      repairs.FixPO();
      repairs.CloseAll();
    }
    repairCount_ = progress.RepairCount();
    leftCount_ = progress.LeftCount();
    ChangeDirectoryOrThrow(m.startDirectory);
  } catch (const ReportCreateError& e) {
    m.dialogs.ShowError(e.Message());
    exitCode_ = 1;
    throw ui::EndRun(1);
  } catch (const platform::IoError& e) {
    repairCount_ = progress.RepairCount();
    leftCount_ = progress.LeftCount();
    m.ShowIoError(e);
    exitCode_ = 1;
    throw ui::EndRun(1);
  } catch (const ui::EndRun& e) {
    repairCount_ = progress.RepairCount();
    leftCount_ = progress.LeftCount();
    exitCode_ = e.exitCode();
    throw;
  }

  if (leftCount_ > 0) {
    m.dialogs.ShowWarning(ResultMessage(repairCount_, leftCount_));
  } else {
    m.dialogs.ShowInformation(ResultMessage(repairCount_, 0));
  }
  completed_ = true;
  exitCode_ = 0;
  return true;
}

}  // namespace kv::app
