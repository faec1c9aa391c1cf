// The whole start-up and repair run on company directories built in /tmp, through the
// scripted dialogs: every message and question with its text, the result for 0, 1 and
// many repaired records, progress, the early ends, the recovery question, and the
// fatal errors that must end the run without changing any data file.
#include "app/Run.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompanyDir.h"
#include "app/Report.h"
#include "app/Scan.h"
#include "app/Undo.h"
#include "app/Version.h"
#include "company/Settings.h"
#include "isam/Engine.h"
#include "modules/MoneyCheck.h"
#include "modules/Progress.h"
#include "platform/Cp874.h"
#include "platform/Faults.h"
#include "platform/File.h"
#include "platform/PlainFile.h"
#include "platform/System.h"
#include "support/Host.h"
#include "support/RecordingDialogs.h"
#include "testkit/Demo.h"

namespace kv::app {
namespace {

// The field lines of a repair report as an undo reads them: without the checksum,
// closing and fingerprint lines, and a field written ahead whose record was then left
// only as its line with the reason.
std::vector<std::string> ReportLines(const std::string& text) {
  std::vector<std::string> out;
  for (const std::string& line : platform::SplitLines(text)) {
    if (line.rfind("SUM\t", 0) == 0 || line.rfind("END\t", 0) == 0 || line.find("\tCRC32C\t") != std::string::npos)
      continue;
    if (std::count(line.begin(), line.end(), '\t') == 5) {
      const std::string place = line.substr(0, line.find('\t', line.find('\t', line.find('\t') + 1) + 1));
      out.erase(std::remove_if(out.begin(), out.end(),
                               [&](const std::string& l) {
                                 return std::count(l.begin(), l.end(), '\t') == 4 && l.rfind(place + "\t", 0) == 0;
                               }),
                out.end());
    }
    out.push_back(line);
  }
  return out;
}

namespace fs = std::filesystem;
using test::InfMoney;
using test::Money;
using test::NaNMoney;
using test::Slot;

const char kNotFound[] = "Error: ERROR: File not found.!";
const char kCaution[] = "Caution!: คุณต้องการแก้ไขข้อผิดพลาด 207?";
const char kConfirm[] = "Confirm: ต้องการแก้ไขข้อผิดพลาด 207?";
const char kNoneFound[] = "Information: การทำงานเสร็จเรียบร้อยแล้ว (ไม่พบข้อผิดพลาด)";

std::string Found(int n) { return "Information: การทำงานเสร็จเรียบร้อยแล้ว (พบและแก้ไข " + std::to_string(n) + " ข้อผิดพลาด"; }
std::string Left(int n) {
  return "มี " + std::to_string(n) +
         " รายการที่ยังแก้ไขไม่ได้ เนื่องจากมีผู้ใช้อื่นใช้งานอยู่หรืออ่านเขียนแฟ้มไม่ได้ โปรดเรียกใช้อีกครั้งภายหลัง";
}

// Remembers the current directory at every message.
class Dialogs : public test::RecordingDialogs {
 public:
  std::vector<std::string> directories;
  void DisplayMessage(int kind, const std::string& text) override {
    directories.push_back(fs::current_path().generic_string());
    RecordingDialogs::DisplayMessage(kind, text);
  }
};

class Progress : public modules::ProgressSink {
 public:
  std::vector<std::string> steps;

 protected:
  void OnStep(std::string_view module, std::string_view file) override {
    steps.push_back(std::string(module) + " " + std::string(file));
  }
};

class RunTest : public test::CompanyDirTest {
 protected:
  void SetUp() override {
    CompanyDirTest::SetUp();
    start_ = dir_ + "/start";
    company_ = dir_ + "/company";
    fs::create_directories(start_);
    fs::create_directories(company_);
    old_ = fs::current_path();
    fs::current_path(start_);
    settings_.dirs.start = start_;
    settings_.dirs.settings = start_;
    hooks_.clearAutoSelect = [this] { ++clears_; };
  }
  void TearDown() override {
    fs::current_path(old_);
    CompanyDirTest::TearDown();
  }

  void Info(std::initializer_list<const char*> modulesPresent) {
    for (const char* m : modulesPresent) Write("company/" + std::string(m) + "INFO.DAT", "");
  }
  void Build(const std::string& name, const std::vector<Slot>& slots, int32_t slotLength = 0, uint8_t defect = 0) {
    ASSERT_EQ(test::BuildModuleFile(company_, name, slots, slotLength, defect), "");
  }
  // Contents of every data and index file of the company.
  std::map<std::string, std::string> DataFiles() const {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(company_)) {
      const std::string ext = e.path().extension().generic_string();
      if (ext == ".DAT" || ext == ".IX") out[e.path().filename().generic_string()] = Read("company/" + e.path().filename().generic_string());
    }
    return out;
  }
  // True when a fresh station can take the write lock of a file: nobody holds a lock.
  bool Unlocked(const std::string& name) {
    isam::Engine probe;
    probe.StartEngine(kv::isam::EngineMode::kNetwork, 500);
    isam::BlockHandle block = nullptr;
    probe.OpenBlock(block, company_ + "/" + name, {.network = true});
    if (!probe.LastOpOK()) return false;
    probe.LockBlock(block);
    const bool ok = probe.LastOpOK();
    if (ok) probe.UnlockBlock(block);
    probe.CloseBlock(block);
    probe.StopEngine();
    return ok;
  }
  // A whole run with the fixture's dialogs answering `answers`: start-up, the repair
  // (an EndRun is caught and noted), the close, and the messages shown on the way.
  struct WholeRun {
    explicit WholeRun(RunTest& t) : run(t.dialogs_, t.settings_, t.help_, t.hooks_) {}
    RepairRun run;
    Progress progress;
    bool threw = false;
    std::vector<std::string> lines;
  };
  std::unique_ptr<WholeRun> RunWhole(std::initializer_list<bool> answers) {
    dialogs_.answers = answers;
    auto w = std::make_unique<WholeRun>(*this);
    if (w->run.Startup(company_)) {
      try {
        static_cast<void>(w->run.Fix(w->progress));
      } catch (const ui::EndRun&) {
        w->threw = true;
      }
    }
    w->run.Close();
    w->lines = dialogs_.Lines();
    return w;
  }

  std::string start_;
  std::string company_;
  fs::path old_;
  company::Settings settings_;
  RunHooks hooks_;
  int clears_ = 0;
  Dialogs dialogs_;
  std::ostringstream help_;
};

TEST_F(RunTest, NoInformationFileEndsWithExactlyOneError) {
  RepairRun run(dialogs_, settings_, help_, hooks_);
  EXPECT_FALSE(run.Startup(company_));
  EXPECT_EQ(dialogs_.Lines(), std::vector<std::string>{kNotFound});
  EXPECT_EQ(fs::current_path(), fs::path(start_));
  EXPECT_TRUE(fs::is_empty(company_));
}

TEST_F(RunTest, NoToEitherQuestionEndsWithoutChangingAnything) {
  Info({"PO"});  // one information file is enough
  Build("POFILE01", {Slot(306).Put(60, NaNMoney())});
  const auto before = DataFiles();
  {
    RepairRun run(dialogs_, settings_, help_, hooks_);
    dialogs_.answers = {false};
    EXPECT_FALSE(run.Startup(company_));
    EXPECT_EQ(dialogs_.Lines(), std::vector<std::string>{kCaution});
    EXPECT_EQ(dialogs_.events[0].kind, ui::kQuestionNoDefault);
    EXPECT_EQ(fs::current_path(), fs::path(start_));
  }
  dialogs_.events.clear();
  RepairRun run(dialogs_, settings_, help_, hooks_);
  dialogs_.answers = {true, false};
  ASSERT_TRUE(run.Startup(company_));
  Progress progress;
  EXPECT_EQ(run.Fix(progress).reason, ui::EndReason::kDeclined);
  EXPECT_EQ(dialogs_.Lines(), (std::vector<std::string>{kCaution, kConfirm}));
  EXPECT_EQ(dialogs_.events[1].kind, ui::kQuestionYesDefault);
  EXPECT_EQ(dialogs_.pendingMessagesProcessed, 0);
  run.Close();
  EXPECT_EQ(DataFiles(), before);
}

TEST_F(RunTest, ResultMessageForNoneOneAndManyRepairedRecords) {
  struct Case {
    const char* what;
    std::vector<Slot> gl01;
    int expected;
  };
  const Case cases[] = {
      {"sound", {Slot(1248).Put(78, Money(1.25L))}, 0},
      {"one record, three fields", {Slot(1248).Put(78, NaNMoney()).Put(188, InfMoney()).Put(1188, Money(1e12L))}, 1},
      {"three records", {Slot(1248).Put(78, NaNMoney()), Slot(1248), Slot(1248).Put(98, InfMoney()), Slot(1248).Put(1188, NaNMoney())}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    Info({"GL", "IC", "AP", "AR", "BI", "PO"});
    Build("GLFILE01", c.gl01);
    Dialogs dialogs;
    dialogs.answers = {true, true};
    RepairRun run(dialogs, settings_, help_, hooks_);
    ASSERT_TRUE(run.Startup(company_));
    Progress progress;
    ASSERT_NE(run.Fix(progress).reason, ui::EndReason::kDeclined);
    run.Close();
    EXPECT_EQ(dialogs.Lines(), (std::vector<std::string>{kCaution, kConfirm, c.expected ? Found(c.expected) : kNoneFound}));
    EXPECT_EQ(dialogs.pendingMessagesProcessed, 1);
    EXPECT_EQ(run.Result().repaired, c.expected);
    EXPECT_EQ(run.Result().reason, ui::EndReason::kNone);
    EXPECT_EQ(progress.Position(), 19);
    ASSERT_EQ(dialogs.directories.size(), 1u);
    EXPECT_EQ(dialogs.directories[0], start_);  // back in the start directory for the result
    const std::string data = Read("company/GLFILE01.DAT");
    for (size_t r = 1; r < c.gl01.size() + 1; ++r) {
      for (int off : {78, 88, 98, 188, 1188}) {
        const std::string field = data.substr(r * 1248 + static_cast<size_t>(off), 10);
        EXPECT_TRUE(modules::IsMoneySound(reinterpret_cast<const uint8_t*>(field.data())));
      }
    }
    EXPECT_EQ(data.substr(1248 + 78, 10), c.expected ? std::string(10, '\0') : std::string(reinterpret_cast<const char*>(Money(1.25L).data()), 10));
  }
}

TEST_F(RunTest, ProgressCountsWalkedFilesOfThePresentModules) {
  Info({"GL", "PO"});
  const auto w = RunWhole({true, true});
  EXPECT_FALSE(w->threw);
  EXPECT_EQ(w->progress.Position(), 5);
  EXPECT_EQ(w->progress.steps, (std::vector<std::string>{"GL GLFILE01", "GL GLFILE03", "GL GLFILE04", "PO POFILE01", "PO POFILE02"}));
}

// The scan lists exactly what the next repair resets, pass by pass, until both find
// nothing. With only PO's information file the first repair walks PO alone (the scan
// names the damage it leaves), but PO's close creates the GL, AP and IC information
// files, so the second repair walks those modules and the scan says so in between.
TEST_F(RunTest, TheReportListsExactlyWhatTheScanFound) {
  struct Case {
    std::initializer_list<const char*> information;
    std::vector<size_t> listed;  // per pass
    std::vector<size_t> notes;   // per pass
  };
  // The scan asks the repair's own rule which modules it walks, and which information
  // files a later module's close creates: the two agree pass by pass.
  const Case cases[] = {{{"GL", "IC", "AP", "AR", "BI", "PO"}, {5}, {0}},
                        {{"PO"}, {1, 4}, {3, 0}},
                        {{"IC", "AP", "AR", "BI", "PO"}, {3, 2}, {2, 0}},
                        {{"GL", "IC", "AR", "BI", "PO"}, {3, 2}, {1, 0}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listed.size());
    fs::remove_all(company_);
    fs::create_directories(company_);
    Info(c.information);
    Build("GLFILE01", {Slot(1248).Put(78, NaNMoney())});
    Build("GLFILE03", {Slot(220).Put(103, NaNMoney()), Slot(220, -1).Put(103, NaNMoney())});
    Build("APFILE02", {Slot(261).Put(66, InfMoney()).Put(208, Money(-2e10L))});
    Build("POFILE02", {Slot(320), Slot(320).Put(260, NaNMoney())});
    for (size_t pass = 0; pass <= c.listed.size(); ++pass) {
      SCOPED_TRACE(pass);
      std::vector<std::string> scanned;
      ScanSummary summary;
      std::string error;
      ASSERT_TRUE(ScanCompany(company_, [&](const ScanFinding& f) {
        scanned.push_back(f.file + "\t" + std::to_string(f.record) + "\t" + std::to_string(f.offset) + "\t" + HexBytes(f.bytes.data(), 10));
      }, summary, error));
      if (pass == c.listed.size()) {
        EXPECT_TRUE(scanned.empty());
        EXPECT_TRUE(summary.notes.empty());
        break;
      }
      ASSERT_EQ(scanned.size(), c.listed[pass]);
      EXPECT_EQ(summary.notes.size(), c.notes[pass]);

      const auto w = RunWhole({true, true});
      ASSERT_FALSE(w->threw);
      ASSERT_FALSE(w->run.ReportPath().empty());
      std::string text;
      ASSERT_EQ(platform::ReadWholeFile(w->run.ReportPath(), text), platform::kIoOk);
      fs::remove(w->run.ReportPath());  // the next pass may fall in the same second
      std::vector<std::string> reported;
      for (const std::string& line : ReportLines(text)) {
        const size_t a = line.find('\t');
        if (a == std::string::npos || line.rfind("FILE\t", 0) == 0) continue;
        const size_t valueTab = line.find('\t', line.find('\t', line.find('\t', a + 1) + 1) + 1);
        reported.push_back(line.substr(0, valueTab));
      }
      EXPECT_EQ(reported, scanned);
    }
  }
}

TEST_F(RunTest, RecoveryYesRestoresAndTheRunGoesOn) {
  Info({"GL"});
  Build("GLFILE03", {Slot(220).Put(103, NaNMoney())});
  fs::rename(company_ + "/GLFILE03.DAT", company_ + "/GLFILE03.SAV");
  Write("company/GLFILE03.DAT", std::string(220, '\0'));  // the smaller, broken copy
  const auto w = RunWhole({true, true, true});
  EXPECT_FALSE(w->threw);
  ASSERT_EQ(dialogs_.recoveryQuestions.size(), 1u);
  EXPECT_EQ(dialogs_.recoveryQuestions[0].fileName, "GLFILE03.SAV");
  EXPECT_EQ(dialogs_.recoveryQuestions[0].tempSize, "440 byte(s)");
  EXPECT_EQ(dialogs_.recoveryQuestions[0].normalSize, "220 byte(s)");
  EXPECT_EQ(w->lines, (std::vector<std::string>{kCaution, kConfirm, "Attention!: GLFILE03.SAV", Found(1)}));
  EXPECT_FALSE(fs::exists(company_ + "/GLFILE03.SAV"));
}

TEST_F(RunTest, RecoveryNoStopsTheRunBeforeThatFileIsOpened) {
  Info({"GL", "PO"});
  Build("GLFILE01", {Slot(1248)});
  Build("GLFILE03", {Slot(220).Put(103, NaNMoney())});
  Write("company/GLFILE03.SAV", std::string(100, 'x'));
  const auto before = DataFiles();
  const auto w = RunWhole({true, true, false});
  EXPECT_TRUE(w->threw);
  EXPECT_NE(w->run.Result().reason, ui::EndReason::kNone);
  EXPECT_EQ(w->lines, (std::vector<std::string>{kCaution, kConfirm, "Attention!: GLFILE03.SAV"}));
  EXPECT_EQ(w->progress.Position(), 0);
  EXPECT_FALSE(fs::exists(company_ + "/GLFILE03.DIA"));  // never opened
  EXPECT_EQ(DataFiles(), before);
  EXPECT_EQ(Read("company/GLFILE03.SAV"), std::string(100, 'x'));
  EXPECT_TRUE(Unlocked("GLFILE01"));  // the file opened before was closed
}

// A data file that cannot be opened ends the run with the engine's number and text
// and the file's name; the remembered company choice is switched off, every lock is
// released, and no data file is changed.
TEST_F(RunTest, FatalOpenErrorsEndTheRunAndChangeNoDataFile) {
  struct Case {
    const char* what;
    std::vector<std::string> errors;
  };
  const Case cases[] = {
      {"defect flag", {"Error: 10010: File defect, that can be corrected by reindexing", "Error: ไม่สามารถเปิดแฟ้มข้อมูล GLFILE03 ได้."}},
      {"slot length", {"Error: 10170: Consistency of Fileblock endangered", "Error: ไม่สามารถเปิดแฟ้มข้อมูล GLFILE03 ได้."}},
      {"no station slot", {"Error: 10306: Too many Fileblock accesses", "Error: ไม่สามารถเปิดแฟ้มข้อมูล GLFILE03 ได้."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    Info({"GL"});
    Build("GLFILE01", {Slot(1248).Put(78, NaNMoney())});
    const std::string what = c.what;
    Build("GLFILE03", {Slot(what == "slot length" ? 221 : 220).Put(103, NaNMoney())}, what == "slot length" ? 221 : 0,
          what == "defect flag" ? 1 : 0);
    platform::File holder;
    if (what == "no station slot") {
      // Another program holds every station slot of GLFILE03.
      Write("company/GLFILE03.DIA", testkit::CoordinationLayout(5));
      ASSERT_EQ(platform::File::Open(company_ + "/GLFILE03.DIA", platform::Access::kReadWrite, platform::Share::kShared, holder), platform::OsError::kNone);
      ASSERT_EQ(holder.LockRange(2147483647ull - 50, 50), platform::OsError::kNone);
    }
    const auto before = DataFiles();
    Dialogs dialogs;
    dialogs.answers = {true, true};
    clears_ = 0;
    RepairRun run(dialogs, settings_, help_, hooks_);
    ASSERT_TRUE(run.Startup(company_));
    Progress progress;
    EXPECT_THROW(run.Fix(progress), ui::EndRun);
    run.Close();
    std::vector<std::string> expected = {kCaution, kConfirm};
    expected.insert(expected.end(), c.errors.begin(), c.errors.end());
    EXPECT_EQ(dialogs.Lines(), expected);
    EXPECT_EQ(clears_, 1);
    EXPECT_GE(dialogs.closeRequests, 1);
    EXPECT_EQ(DataFiles(), before);
    EXPECT_TRUE(Unlocked("GLFILE01"));
  }
}

// A side file that cannot be read or created: one standard message naming the file,
// the run ends, every file block is closed.
TEST_F(RunTest, ASideFileIoErrorIsShownOnceAndEndsTheRun) {
  Info({"GL"});
  Build("GLFILE01", {Slot(1248).Put(78, NaNMoney())});
  fs::create_directory(company_ + "/GLTBUF.DAT");  // neither a file to read nor one to create
  dialogs_.answers = {true, true};
  RepairRun run(dialogs_, settings_, help_, hooks_);
  ASSERT_TRUE(run.Startup(company_));
  Progress progress;
  EXPECT_THROW(run.Fix(progress), ui::EndRun);
  run.Close();
  EXPECT_EQ(run.Result().reason, ui::EndReason::kIoError);
  EXPECT_NE(run.Result().reason, ui::EndReason::kNone);
  const auto lines = dialogs_.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2].rfind("Error: I/O error ", 0), 0u) << lines[2];
  EXPECT_NE(lines[2].find("GLTBUF.DAT"), std::string::npos) << lines[2];
  EXPECT_TRUE(Unlocked("GLFILE01"));
}

// Nothing is changed unless the report of the change can be kept.
TEST_F(RunTest, AReportThatCannotBeCreatedStopsTheRunBeforeAnyChange) {
  Info({"GL"});
  Build("GLFILE01", {Slot(1248).Put(78, NaNMoney())});
  const auto before = DataFiles();
  dialogs_.answers = {true, true};
  RepairRun run(dialogs_, settings_, help_, hooks_);
  ASSERT_TRUE(run.Startup(company_));
  platform::SetFaultPlan({platform::Op::kCreate, 1, true, platform::FaultKind::kError, EACCES});
  Progress progress;
  EXPECT_THROW(run.Fix(progress), ui::EndRun);
  platform::ClearFaults();
  run.Close();
  EXPECT_EQ(run.Result().reason, ui::EndReason::kReportFailed);
  const auto lines = dialogs_.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2].rfind("Error: ไม่สามารถสร้างแฟ้มรายงาน " + company_ + "/KVFIX207-", 0), 0u) << lines[2];
  EXPECT_NE(lines[2].find(".LOG: access denied (5)"), std::string::npos) << lines[2];
  EXPECT_EQ(DataFiles(), before);
  for (const auto& e : fs::directory_iterator(company_)) EXPECT_NE(e.path().extension(), ".LOG");
}

TEST_F(RunTest, ACompanyDirectoryThatCannotBeEnteredIsAnIoError) {
  RepairRun run(dialogs_, settings_, help_, hooks_);
  EXPECT_FALSE(run.Startup(company_ + "/missing"));
  EXPECT_EQ(run.Result().reason, ui::EndReason::kIoError);
  ASSERT_EQ(dialogs_.Lines().size(), 1u);
  EXPECT_EQ(dialogs_.Lines()[0], "Error: I/O error 3: " + company_ + "/missing");
  EXPECT_EQ(fs::current_path(), fs::path(start_));
}

// Records the run could not repair turn the result into a warning: the usual text, then
// a line with how many were left; the report names each with its reason. A record that
// another station holds through the whole run is left within the time given and
// repaired by the next run once it is let go; a write that fails leaves its record whole.
// A stop asked for during the walk of a long GLFILE01: the records in hand are finished,
// GL is closed by its own close steps, PO is never opened, every lock is let go and the
// result says the run was stopped; a second run repairs exactly the rest.
TEST_F(RunTest, AStopEndsTheWalkSafelyAndASecondRunRepairsTheRest) {
  Info({"GL", "PO"});
  std::vector<Slot> slots(3000, Slot(1248));
  int planted = 0;
  for (size_t i = 0; i < slots.size(); i += 7, ++planted) slots[i].Put(78, NaNMoney());
  Build("GLFILE01", slots);
  Build("POFILE01", {Slot(306).Put(60, NaNMoney())});
  const std::string infoBefore = Read("company/GLINFO.DAT");

  class StoppingProgress : public Progress {
   public:
    std::vector<int32_t> walked;

   protected:
    void OnWalking(std::string_view, std::string_view, int32_t done, int32_t) override {
      walked.push_back(done);
      RequestStop();
    }
  } progress;
  dialogs_.answers = {true, true};
  RepairRun run(dialogs_, settings_, help_, hooks_);
  ASSERT_TRUE(run.Startup(company_));
  ASSERT_NE(run.Fix(progress).reason, ui::EndReason::kDeclined);
  run.Close();
  EXPECT_TRUE(run.Result().stopped);
  EXPECT_NE(run.Result().reason, ui::EndReason::kNone);
  EXPECT_EQ(run.Result().reason, ui::EndReason::kStopped);
  ASSERT_EQ(progress.walked.size(), 1u) << "the walk stops after the run in hand";
  EXPECT_LT(progress.walked[0], 3000);
  EXPECT_TRUE(progress.steps.empty()) << "a file cut short is no finished step";
  const int first = run.Result().repaired;
  EXPECT_EQ(first, (progress.walked[0] - 1) / 7 + 1);  // every 7th record from record 1 on
  ASSERT_EQ(dialogs_.Lines().size(), 3u);
  EXPECT_EQ(dialogs_.Lines()[2], "Warning: " + platform::Cp874ToUtf8(StoppedMessage(first, 0)));
  EXPECT_NE(dialogs_.Lines()[2].find(" " + std::to_string(first) + " "), std::string::npos);
  EXPECT_NE(Read("company/GLINFO.DAT"), infoBefore) << "GL's close steps ran";
  EXPECT_EQ(Read("company/POFILE01.DAT").substr(306 + 60, 10), std::string(reinterpret_cast<const char*>(NaNMoney().data()), 10))
      << "PO was not started";
  EXPECT_TRUE(Unlocked("GLFILE01.DAT"));

  dialogs_.events.clear();
  dialogs_.answers = {true, true};
  RepairRun again(dialogs_, settings_, help_, hooks_);
  ASSERT_TRUE(again.Startup(company_));
  Progress all;
  ASSERT_NE(again.Fix(all).reason, ui::EndReason::kDeclined);
  again.Close();
  EXPECT_FALSE(again.Result().stopped);
  EXPECT_EQ(again.Result().repaired, planted - first + 1);  // the rest of GL and PO's record
}

TEST_F(RunTest, RecordsLeftUnrepairedMakeTheResultAWarning) {
  struct Case {
    const char* what;
    const char* reason;
  };
  for (const Case c : {Case{"held by another station", "LOCKED"}, Case{"the write fails", "WRITE FAILED"}}) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    Info({"GL"});
    Build("GLFILE03", {Slot(220).Put(103, NaNMoney()), Slot(220).Put(103, InfMoney())});
    const std::string before = Read("company/GLFILE03.DAT");
    const bool held = std::string(c.reason) == "LOCKED";
    isam::Engine other;
    other.StartEngine(kv::isam::EngineMode::kNetwork, 16);
    isam::BlockHandle theirs = nullptr;
    other.OpenBlock(theirs, company_ + "/GLFILE03", {.network = true});
    ASSERT_TRUE(other.LastOpOK());
    if (held) {
      other.LockSlot(theirs, 2);
      ASSERT_TRUE(other.LastOpOK());
    }
    // With the write fault: GLFILE01's walk is done; the next writes are the report
    // lines of both records (written ahead together, before either record) and then the
    // records themselves: the fourth is a record's.
    class FaultingProgress : public Progress {
     public:
      bool fault = false;

     protected:
      void OnStep(std::string_view module, std::string_view file) override {
        Progress::OnStep(module, file);
        if (fault && file == "GLFILE01") platform::SetFaultPlan({platform::Op::kWrite, 4, false, platform::FaultKind::kError, 5});
        if (file == "GLFILE03") platform::ClearFaults();
      }
    } progress;
    progress.fault = !held;
    Dialogs dialogs;
    dialogs.answers = {true, true};
    RepairRun run(dialogs, settings_, help_, hooks_);
    run.SetHeldRecordWait(1500, 3);
    ASSERT_TRUE(run.Startup(company_));
    const uint64_t t0 = platform::MonotonicMs();
    EXPECT_NE(run.Fix(progress).reason, ui::EndReason::kDeclined);
    const uint64_t took = platform::MonotonicMs() - t0;
    platform::ClearFaults();
    run.Close();
    if (held) {
      EXPECT_LT(took, 1500u + 4 * 800u + 2000u);  // the time given, one engine wait per try
    }
    EXPECT_EQ(run.Result().reason, ui::EndReason::kNone);
    EXPECT_EQ(run.Result().repaired, 1);
    EXPECT_EQ(run.Result().left, 1);
    ASSERT_EQ(dialogs.events.size(), 3u);
    EXPECT_EQ(dialogs.events[2].kind, ui::kWarning);
    EXPECT_EQ(dialogs.Lines()[2], "Warning: " + Found(1).substr(std::string("Information: ").size()) + "\n" + Left(1));
    std::string text;
    ASSERT_EQ(platform::ReadWholeFile(run.ReportPath(), text), platform::kIoOk);
    const std::vector<std::string> lines = ReportLines(text);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], "FILE\tGLFILE03\tSLOT\t220");
    // One line per record; the one left ends in its reason, and its slot is as it was.
    int leftRecord = 0;
    for (const std::string& line : {lines[3], lines[4]}) {
      const std::string tail = std::string("\t") + c.reason;
      if (line.size() > tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0) {
        EXPECT_EQ(leftRecord, 0) << line;
        leftRecord = line[9] - '0';  // "GLFILE03\tR\t..."
      } else {
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 4) << line;
      }
    }
    if (held) {
      EXPECT_EQ(leftRecord, 2);
    }
    ASSERT_TRUE(leftRecord == 1 || leftRecord == 2);
    const size_t at = static_cast<size_t>(leftRecord) * 220;
    EXPECT_EQ(Read("company/GLFILE03.DAT").substr(at, 220), before.substr(at, 220));

    // Let go: the next run repairs it, and the result is the usual information again.
    other.CloseBlock(theirs);
    other.StopEngine();
    Dialogs again;
    again.answers = {true, true};
    RepairRun second(again, settings_, help_, hooks_);
    ASSERT_TRUE(second.Startup(company_));
    Progress quiet;
    EXPECT_NE(second.Fix(quiet).reason, ui::EndReason::kDeclined);
    second.Close();
    EXPECT_EQ(second.Result().left, 0);
    EXPECT_EQ(again.Lines().back(), Found(1));
    EXPECT_EQ(Read("company/GLFILE03.DAT").substr(at + 103, 10), std::string(10, '\0'));
  }
}

// An undo of a repair, as the command line runs it: prepared from the report, then the
// fields put back. `lines` holds "FILE RECORD OFFSET RESULT" per field.
struct UndoDone {
  bool prepared = false;
  std::string error;
  int64_t putBack = 0;
  int64_t left = 0;
  std::string reportPath;
  std::vector<std::string> lines;
};
UndoDone UndoRepair(ui::Dialogs& dialogs, const std::string& reportPath, bool dryRun = false) {
  UndoDone d;
  UndoRun undo(dialogs);
  undo.SetHeldRecordWait(0, 1);
  d.prepared = undo.Prepare(reportPath, d.error);
  if (!d.prepared) return d;
  undo.PutBack(dryRun, [&](const UndoLine& l) {
    d.lines.push_back(l.field->file + " " + std::to_string(l.field->record) + " " + std::to_string(l.field->offset) + " " +
                      std::string(UndoOutcomeText(l.outcome)));
  });
  undo.Close();
  d.putBack = undo.PutBackCount();
  d.left = undo.LeftCount();
  d.reportPath = undo.ReportPath();
  return d;
}

class UndoTest : public RunTest {
 protected:
  // The data and index files the repair walks.
  std::map<std::string, std::string> Walked() const {
    std::map<std::string, std::string> out;
    for (const modules::DataFileDef* def : modules::WalkedFiles()) {
      for (const char* ext : {".DAT", ".IX"}) {
        const std::string name = std::string(def->baseName) + ext;
        out[name] = Read("company/" + name);
      }
    }
    return out;
  }
  // A demo company repaired; returns the report's path.
  std::string DemoRepaired(testkit::DemoCompany& demo) {
    testkit::DemoOptions options;
    options.records = 60;
    options.seed = 11;
    options.unsoundRate = 0.05;
    demo = testkit::MakeDemoCompany(company_, options);
    EXPECT_EQ(demo.error, "");
    before_ = Walked();
    const auto w = RunWhole({true, true});
    EXPECT_FALSE(w->threw);
    EXPECT_EQ(w->run.Result().left, 0);
    return w->run.ReportPath();
  }
  // Writes `money` at `offset` of `record` as another station does: locks, fresh read.
  void StationWrites(const std::string& file, int32_t record, int offset, const std::array<uint8_t, 10>& money) {
    isam::Engine other;
    other.StartEngine(kv::isam::EngineMode::kNetwork, 16);
    isam::BlockHandle block = nullptr;
    other.OpenBlock(block, company_ + "/" + file, {.network = true});
    ASSERT_TRUE(other.LastOpOK());
    std::vector<uint8_t> slot(static_cast<size_t>(other.SlotLength(block)));
    other.LockSlot(block, record);
    other.LockBlock(block);
    other.ReadSlot(block, record, slot);
    std::memcpy(slot.data() + offset, money.data(), 10);
    other.WriteSlot(block, record, slot);
    ASSERT_TRUE(other.LastOpOK());
    other.UnlockBlock(block);
    other.UnlockSlot(block, record);
    other.CloseBlock(block);
    other.StopEngine();
  }
  std::map<std::string, std::string> before_;
};

// Repair, then undo: the walked files are as before the repair, byte for byte, except a
// field another station changed in between, which is left and reported; a report cut
// in the middle of a line undoes the lines before the cut. A repair after the undo
// makes a report that undoes again.
TEST_F(UndoTest, RepairThenUndoGivesBackTheWalkedFiles) {
  enum Kind { kWhole, kChanged, kCut };
  for (const Kind kind : {kWhole, kChanged, kCut}) {
    SCOPED_TRACE(kind);
    TearDown();
    SetUp();
    testkit::DemoCompany demo;
    const std::string report = DemoRepaired(demo);
    const int64_t planted = static_cast<int64_t>(demo.planted.size());
    ASSERT_GE(planted, 6);
    const testkit::PlantedField& changed = demo.planted[2];
    std::string text;
    ASSERT_EQ(platform::ReadWholeFile(report, text), platform::kIoOk);
    if (kind == kChanged) StationWrites(changed.file, changed.record, changed.offset, Money(5.0L));
    size_t kept = static_cast<size_t>(planted);
    if (kind == kCut) {
      // Cut inside the fourth field line, just before its line end: that line is torn.
      size_t at = 0;
      int fieldLines = 0;
      for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', nl + 1)) {
        const size_t next = text.find('\n', nl + 1);
        if (next == std::string::npos) break;
        const std::string line = text.substr(nl + 1, next - nl - 1);
        if (line.rfind("FILE\t", 0) != 0 && line.rfind("SUM\t", 0) != 0 && line.find("\tCRC32C\t") == std::string::npos &&
            ++fieldLines == 4) {
          at = next - 1;
          break;
        }
      }
      ASSERT_GT(at, 0u);
      Write(report.substr(dir_.size() + 1), text.substr(0, at));
      kept = 3;
    }
    const auto dry = UndoRepair(dialogs_, report, /*dryRun=*/true);
    ASSERT_TRUE(dry.prepared) << dry.error;
    EXPECT_EQ(dry.reportPath, "");
    EXPECT_EQ(dry.putBack + dry.left, static_cast<int64_t>(kept));

    const auto done = UndoRepair(dialogs_, report);
    ASSERT_TRUE(done.prepared) << done.error;
    EXPECT_EQ(done.lines, dry.lines);  // the dry run said what would be done
    EXPECT_EQ(done.putBack, static_cast<int64_t>(kind == kChanged ? kept - 1 : kept));
    EXPECT_EQ(done.left, kind == kChanged ? 1 : 0);
    auto expected = before_;
    if (kind == kChanged) {
      expected[changed.file + ".DAT"].replace(static_cast<size_t>(changed.record) * modules::DataFile(changed.file).recordLength + changed.offset, 10,
                                              reinterpret_cast<const char*>(Money(5.0L).data()), 10);
      EXPECT_NE(std::find(done.lines.begin(), done.lines.end(),
                          changed.file + " " + std::to_string(changed.record) + " " + std::to_string(changed.offset) + " CHANGED SINCE"),
                done.lines.end());
    }
    if (kind == kCut) {
      for (size_t i = kept; i < demo.planted.size(); ++i) {  // still the repair's zero
        const testkit::PlantedField& p = demo.planted[i];
        expected[p.file + ".DAT"].replace(static_cast<size_t>(p.record) * modules::DataFile(p.file).recordLength + p.offset, 10,
                                          std::string(10, '\0'));
      }
    }
    EXPECT_EQ(Walked(), expected);
    std::string undoText;
    ASSERT_EQ(platform::ReadWholeFile(done.reportPath, undoText), platform::kIoOk);
    EXPECT_EQ(done.reportPath.substr(company_.size() + 1, 14), "KVFIX207-UNDO-");
    EXPECT_NE(platform::SplitLines(undoText).at(0).find(" version " + std::string(VersionText()) + " "), std::string::npos);
    size_t putBackLines = 0;
    for (const std::string& line : platform::SplitLines(undoText)) putBackLines += line.find("\tPUT BACK") != std::string::npos;
    EXPECT_EQ(static_cast<int64_t>(putBackLines), done.putBack) << undoText;
    if (kind != kWhole) continue;
    // Undone again, every field holds its original already: ALREADY PUT BACK, nothing
    // left, nothing written; a repair mends it all again and its report undoes as well.
    const auto twice = UndoRepair(dialogs_, report);
    EXPECT_EQ(twice.left, 0);
    EXPECT_EQ(twice.putBack, 0);
    EXPECT_EQ(static_cast<int64_t>(std::count_if(twice.lines.begin(), twice.lines.end(), [](const std::string& l) {
                return l.find(" ALREADY PUT BACK") != std::string::npos;
              })),
              planted);
    EXPECT_EQ(Walked(), before_);
    const auto w = RunWhole({true, true});
    const auto again = UndoRepair(dialogs_, w->run.ReportPath());
    EXPECT_EQ(again.putBack, planted);
    EXPECT_EQ(Walked(), before_);
  }
}

// A report that does not belong to the files in its directory is refused before
// anything is written, and no undo report is made.
TEST_F(UndoTest, AReportOfOtherDataIsRefusedAndNothingIsWritten) {
  struct Case {
    const char* what;
    const char* error;
  };
  // An edited report is refused by its checksum lines before anything else is looked at.
  const Case cases[] = {{"slot length in the report", "checksum lines do not match"},
                        {"file missing", "is missing"},
                        {"file of another record length", "has slots of"},
                        {"not a repair report", "not a repair report"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    testkit::DemoCompany demo;
    const std::string report = DemoRepaired(demo);
    std::string text;
    ASSERT_EQ(platform::ReadWholeFile(report, text), platform::kIoOk);
    const size_t fileLine = text.rfind("\r\nFILE\t", text.find("\tSLOT\t")) + 2;
    const std::string name = text.substr(fileLine + 5, 8);  // "GLFILE01"
    const std::string what = c.what;
    if (what == "slot length in the report") {
      const size_t at = text.find("\tSLOT\t", fileLine) + 6;
      const size_t end = text.find("\r\n", at);
      text.replace(at, end - at, std::to_string(std::stoi(text.substr(at, end - at)) + 2));
      Write(report.substr(dir_.size() + 1), text);
    } else if (what == "file missing") {
      fs::remove(company_ + "/" + name + ".IX");
    } else if (what == "file of another record length") {
      Build(name, {Slot(modules::DataFile(name).recordLength + 2)}, modules::DataFile(name).recordLength + 2);
    } else {
      text = "KVFIX207 undo report 2026-01-02 03:04:05 /x\r\n" + text.substr(text.find("\r\n") + 2);
      Write(report.substr(dir_.size() + 1), text);
    }
    const auto after = DataFiles();
    const auto done = UndoRepair(dialogs_, report);
    EXPECT_FALSE(done.prepared);
    EXPECT_NE(done.error.find(c.error), std::string::npos) << done.error;
    EXPECT_EQ(DataFiles(), after);
    for (const auto& e : fs::directory_iterator(company_)) EXPECT_EQ(e.path().filename().string().find("UNDO"), std::string::npos);
    EXPECT_EQ(fs::current_path(), fs::path(start_));
  }
}

// Another process keeps changing a text field of every record while the undo puts the
// amounts back: afterwards each record holds that process's last change (no lost
// update), and its amount is back where the record was still as the repair wrote it
// when the undo came to it; a record the process had changed before is CHANGED SINCE
// and keeps the repair's zero.
TEST_F(UndoTest, ASecondProcessChangingRecordsDuringTheUndoLosesNothing) {
  const char* build = std::getenv("KV_BUILD_DIR");
  if (build == nullptr) GTEST_SKIP() << "KV_BUILD_DIR not set";
  const std::string tool = kv::test::ProgramPath(std::string(build) + "/tests", "kv_station");
  if (!fs::exists(tool)) FAIL() << "missing: " << tool;
  constexpr int kRecords = 1000;
  Info({"GL"});
  std::vector<Slot> slots;
  for (int i = 0; i < kRecords; ++i) slots.push_back(Slot(220).Put(103, i % 2 ? NaNMoney() : InfMoney()));
  Build("GLFILE03", slots);
  const auto w = RunWhole({true, true});
  ASSERT_EQ(w->run.Result().repaired, kRecords);
  const int pid = kv::test::StartProgram({tool, company_ + "/GLFILE03", std::to_string(kRecords), dir_ + "/started",
                                           dir_ + "/stop", dir_ + "/done"});
  ASSERT_GT(pid, 0);
  for (int i = 0; i < 600 && !fs::exists(dir_ + "/started"); ++i) platform::SleepMs(20);
  ASSERT_TRUE(fs::exists(dir_ + "/started"));
  platform::SleepMs(100);
  const auto done = UndoRepair(dialogs_, w->run.ReportPath());
  Write("stop", "");
  EXPECT_EQ(kv::test::WaitForExit(pid), 0);
  ASSERT_TRUE(fs::exists(dir_ + "/done"));
  EXPECT_EQ(done.putBack + done.left, kRecords);
  const std::string data = Read("company/GLFILE03.DAT");
  const int32_t rounds = std::stoi(Read("done"));
  int64_t back = 0;
  for (size_t r = 1; r <= kRecords; ++r) {
    SCOPED_TRACE(r);
    const std::string amount = data.substr(r * 220 + 103, 10);
    const std::string original(reinterpret_cast<const char*>(slots[r - 1].bytes.data()) + 103, 10);
    EXPECT_TRUE(amount == original || amount == std::string(10, '\0'));
    back += amount == original;
    EXPECT_EQ(isam::GetI32(reinterpret_cast<const uint8_t*>(data.data()) + r * 220 + 200), rounds);
  }
  EXPECT_EQ(back, done.putBack);
}

// Ctrl+C during an undo that waits for a record another station holds (for longer than
// the undo may wait): the undo ends within a second of the stop, whether the stop comes
// while the engine waits for the record's lock or in the pause before the next round.
// The held record's fields are left, the rest put back.
TEST_F(UndoTest, AStopEndsTheUndoWithinASecondAlsoWhileItWaitsForAHeldRecord) {
  struct Row {
    const char* what;
    uint64_t stopAfterMs;  // after the first try of the held record began
  } rows[] = {{"in the engine's wait for the lock", 300}, {"in the pause between the rounds", 1200}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TearDown();
    SetUp();
    testkit::DemoCompany demo;
    const std::string report = DemoRepaired(demo);
    ASSERT_GE(demo.planted.size(), 2u);
    const testkit::PlantedField held = demo.planted[0];
    isam::Engine other;
    other.StartEngine(kv::isam::EngineMode::kNetwork, 16);
    isam::BlockHandle block = nullptr;
    other.OpenBlock(block, company_ + "/" + held.file, {.network = true});
    ASSERT_TRUE(other.LastOpOK());
    other.LockSlot(block, held.record);
    ASSERT_TRUE(other.LastOpOK());

    // The stop as the command line's Ctrl+C reaches the sink: asked for from outside.
    class StopLater : public modules::ProgressSink {
     public:
      explicit StopLater(uint64_t afterMs) : afterMs_(afterMs) {}
      uint64_t stopAt = 0;  // 0 until the first wait for the held record
     protected:
      void OnWaiting(std::string_view, int32_t, int, int) override {
        if (stopAt == 0) stopAt = platform::MonotonicMs() + afterMs_;
      }
      bool PollStop() const override { return stopAt != 0 && platform::MonotonicMs() >= stopAt; }

     private:
      uint64_t afterMs_;
    } progress(row.stopAfterMs);
    UndoRun undo(dialogs_);
    undo.SetHeldRecordWait(60000, 3);
    std::string error;
    ASSERT_TRUE(undo.Prepare(report, error)) << error;
    // The held record's fields are left as LOCKED; those of the files after it, never
    // tried, as STOPPED.
    int lockedFields = 0;
    undo.PutBack(false, [&](const UndoLine& l) {
      const bool isHeld = l.field->file == held.file && l.field->record == held.record;
      if (isHeld) {
        EXPECT_EQ(l.outcome, UndoOutcome::kLocked);
        ++lockedFields;
      } else if (l.outcome != UndoOutcome::kPutBack) {
        EXPECT_EQ(l.outcome, UndoOutcome::kStopped) << l.field->file << " " << l.field->record;
      }
    }, &progress);
    const uint64_t ended = platform::MonotonicMs();
    undo.Close();
    other.UnlockSlot(block, held.record);
    other.CloseBlock(block);
    other.StopEngine();
    ASSERT_NE(progress.stopAt, 0u) << "the undo never waited for the held record";
    EXPECT_LT(ended - std::min(ended, progress.stopAt), 1000u);
    EXPECT_GE(lockedFields, 1);
    EXPECT_EQ(undo.PutBackCount() + undo.LeftCount(), static_cast<int64_t>(demo.planted.size()));
  }
}

// Another process keeps changing a text field of every record while the run repairs
// the same records: afterwards each record holds that process's last change and the
// repair.
TEST_F(RunTest, ASecondProcessChangingRecordsDuringTheRunLosesNothing) {
  const char* build = std::getenv("KV_BUILD_DIR");
  if (build == nullptr) GTEST_SKIP() << "KV_BUILD_DIR not set";
  // KV_STATION names another station program, KV_STATION_RUNNER what runs it (wine for
  // a Windows station beside this run, or the other way round).
  const char* station = std::getenv("KV_STATION");
  const std::string tool = station != nullptr ? station : kv::test::ProgramPath(std::string(build) + "/tests", "kv_station");
  if (!fs::exists(tool)) FAIL() << "missing: " << tool;
  Info({"GL"});
  std::vector<Slot> slots;
  for (int i = 0; i < 120; ++i) slots.push_back(Slot(220).Put(103, NaNMoney()));
  Build("GLFILE03", slots);
  const std::string started = dir_ + "/station.started";
  const std::string stop = dir_ + "/station.stop";
  const std::string done = dir_ + "/station.done";
  std::vector<std::string> args = {tool, company_ + "/GLFILE03", "120", started, stop, done};
  if (const char* runner = std::getenv("KV_STATION_RUNNER"); runner != nullptr && *runner != '\0')
    args.insert(args.begin(), runner);
  const int pid = kv::test::StartProgram(args);
  ASSERT_GE(pid, 0);
  for (int i = 0; i < 600 && !fs::exists(started); ++i) platform::SleepMs(20);
  ASSERT_TRUE(fs::exists(started));
  const auto w = RunWhole({true, true});
  EXPECT_FALSE(w->threw);
  EXPECT_EQ(w->run.Result().repaired, 120);
  Write("station.stop", "");
  for (int i = 0; i < 600 && !fs::exists(done); ++i) platform::SleepMs(50);
  ASSERT_TRUE(fs::exists(done));
  // A Linux station started by this program under Wine gives Wine no exit status to
  // hand back; its done file says it ended well.
  const int status = kv::test::WaitForExit(pid);
  if (!(station != nullptr && status == -1)) {
    EXPECT_EQ(status, 0);
  }
  const std::string data = Read("company/GLFILE03.DAT");
  const std::string rounds = Read("station.done");
  for (size_t r = 1; r <= 120; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(data.substr(r * 220 + 103, 10), std::string(10, '\0'));
    // The station wrote its round number into bytes 200..203 of every record.
    EXPECT_EQ(isam::GetI32(reinterpret_cast<const uint8_t*>(data.data()) + r * 220 + 200), std::stoi(rounds));
  }
}

}  // namespace
}  // namespace kv::app
