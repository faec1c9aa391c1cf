// The desktop program end to end with its real windows: the company list in the start
// directory, the selection dialog, the run's questions, the repair of a demo company
// and the result message, each dialog answered by keys.
// The test kit's headers come before Qt's, whose "slots" keyword macro would break them.
#include "testkit/Demo.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QTreeWidget>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QAction>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "GuiTestSupport.h"
#include "desktop/DesktopRun.h"
#include "app/Scan.h"
#include "company/Settings.h"
#include "gui-qt/CheckFindingsDialog.h"
#include "gui-qt/MainWindow.h"
#include "gui-qt/MessageDialogs.h"
#include "gui-qt/OpenCompanyDialog.h"
#include "gui-qt/QtDialogs.h"
#include "gui-qt/QtText.h"
#include "gui-qt/SelectCompany.h"
#include "desktop/Reports.h"
#include "app/Report.h"
#include "desktop/CompanyReports.h"
#include "isam/Engine.h"
#include "platform/Cp874.h"
#include "platform/PlainFile.h"
#include "platform/System.h"

namespace kv::gui {
namespace {

namespace fs = std::filesystem;
using guitest::ModalScript;
using guitest::ModalStep;
using guitest::Press;
using platform::Th;

const QString kSelect = QStringLiteral("Select Directory");

// The walked data and index files, by name.
std::map<std::string, std::string> Walked(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    const std::string ext = e.path().extension().string();
    if (name.find("FILE") == std::string::npos || (ext != ".DAT" && ext != ".IX")) continue;
    std::ifstream in(e.path(), std::ios::binary);
    out[name] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return out;
}


class FlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    root_ = fs::temp_directory_path() / ("kvgui-flow-" + std::to_string(getpid()) + "-" + std::to_string(++counter));
    fs::remove_all(root_);
    for (const char* sub : {"start", "appdata", "temp", "company"}) fs::create_directories(root_ / sub);
    savedCwd_ = platform::CurrentDirectory();
    SaveEnv("APPDATA", (root_ / "appdata").string());
    SaveEnv("TEMP", (root_ / "temp").string());
    ASSERT_EQ(platform::ChangeDirectory((root_ / "start").string()), platform::OsError::kNone);
  }

  void TearDown() override {
    EXPECT_EQ(platform::ChangeDirectory(savedCwd_), platform::OsError::kNone);
    for (const auto& [name, value] : savedEnv_) {
      if (value.has_value()) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
    fs::remove_all(root_);
    EXPECT_EQ(guitest::OpenWindows(), 0) << "a window was left open";
  }

  void SaveEnv(const std::string& name, const std::string& value) {
    const char* old = getenv(name.c_str());
    savedEnv_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    setenv(name.c_str(), value.c_str(), 1);
  }

  // USERDRV.INI in the start directory, one entry: a Thai company name and its directory.
  void ListCompany(const std::string& dir) {
    std::ofstream out(root_ / "start" / "USERDRV.INI", std::ios::binary);
    out << Th("บริษัท ตัวอย่าง จำกัด") << ';' << dir << "\r\n";
  }

  std::string Company() const { return (root_ / "company").string(); }
  std::string Start() const { return (root_ / "start").string(); }

  struct Outcome {
    bool shown = false;
    int exitCode = -1;
    int32_t repairs = 0;
    int ticksInRun = 0;
    QStringList dialogs;
  };

  // The program as main() runs it; "Fix..." is pressed when the window shows.
  // `during` is offered the window every millisecond of the event loop, in the run too
  // (it counts how often it was called there).
  Outcome RunProgram(std::vector<ModalStep> steps, std::function<void(MainWindow&)> during = {}) {
    Outcome outcome;
    company::Settings settings = company::InitSettings();
    QtDialogs dialogs;
    std::ostringstream help;
    app::RepairRun run(dialogs, settings, help);
    desktop::RepairRunControl control(run);
    ModalScript script(std::move(steps));
    {
      MainWindow window(control, dialogs);
      outcome.shown = window.Startup([&] { return SelectCompanyDirectory(settings, dialogs); });
      if (outcome.shown) {
        window.show();
        QCoreApplication::processEvents();
        QTimer ticks;
        if (during) {
          QObject::connect(&ticks, &QTimer::timeout, [&] {
            if (window.Running()) ++outcome.ticksInRun;
            during(window);
          });
          ticks.start(1);
        }
        window.fixButton()->click();
        EXPECT_TRUE(guitest::WaitFor([&] { return !window.isVisible(); })) << "the window stayed open";
      }
      outcome.exitCode = window.ExitCode();
      outcome.repairs = window.progress().RepairCount();
      EXPECT_TRUE(window.EngineStopped());
    }
    EXPECT_TRUE(script.finished()) << script.seen().join(QStringLiteral(" | ")).toStdString();
    outcome.dialogs = script.seen();
    return outcome;
  }

  // A listed demo company with damaged amounts, repaired by the program; `before` gets
  // its walked files as they were made.
  void RepairDemo(std::map<std::string, std::string>* before = nullptr) {
    testkit::DemoOptions options;
    options.records = 60;
    options.unsoundRate = 0.1;
    const testkit::DemoCompany demo = testkit::MakeDemoCompany(Company(), options);
    ASSERT_TRUE(demo.error.empty()) << demo.error;
    ListCompany(Company());
    if (before) *before = Walked(Company());
    RunProgram({Press(kSelect, Qt::Key_Return), Press(QStringLiteral("Caution!"), Qt::Key_Y),
                Press(QStringLiteral("Confirm"), Qt::Key_Return), Press(QStringLiteral("Information"), Qt::Key_Return)});
  }

  int64_t Findings() {
    app::ScanSummary summary;
    std::string error;
    EXPECT_TRUE(app::ScanCompany(Company(), [](const app::ScanFinding&) {}, summary, error)) << error;
    return summary.findings;
  }

  fs::path root_;
  std::string savedCwd_;
  std::vector<std::pair<std::string, std::optional<std::string>>> savedEnv_;
};

TEST_F(FlowTest, PickedByKeysRepairedAndReported) {
  testkit::DemoOptions options;
  options.records = 60;
  options.unsoundRate = 0.1;
  const testkit::DemoCompany demo = testkit::MakeDemoCompany(Company(), options);
  ASSERT_TRUE(demo.error.empty()) << demo.error;
  ASSERT_GT(demo.PlantedRecords(), 0);
  ASSERT_GT(Findings(), 0);
  ListCompany(Company());

  // The result's button hands the report to the viewer: Alt+O in the Latin layout, the
  // O key's Thai letter in the Thai one; a viewer that cannot show it is said so.
  static std::vector<std::string> viewed;
  static platform::ViewerResult answer = platform::ViewerResult::kOpened;
  viewed.clear();
  const desktop::ViewerFunction before = desktop::SetViewer([](std::string_view path) {
    viewed.emplace_back(path);
    return answer;
  });
  QString result, errorText;
  const Outcome outcome = RunProgram({
      Press(kSelect, Qt::Key_Return),
      Press(QStringLiteral("Caution!"), Qt::Key_Y),
      Press(QStringLiteral("Confirm"), Qt::Key_Return),
      {QStringLiteral("Information"),
       [&](QWidget* d) {
         result = static_cast<DisplayMessageDialog*>(d)->fullText();
         guitest::PressKey(d, Qt::Key_O, Qt::AltModifier);
         EXPECT_TRUE(guitest::WaitFor([] { return viewed.size() == 1; }));  // a mnemonic clicks as it is animated
         // The error that follows runs inside this step: answered by a watch of its own.
         answer = platform::ViewerResult::kNoViewer;
         QTimer errorWatch;
         QObject::connect(&errorWatch, &QTimer::timeout, [&] {
           QWidget* modal = QApplication::activeModalWidget();
           if (!modal || modal == d || modal->windowTitle() != QStringLiteral("Error")) return;
           errorText = static_cast<DisplayMessageDialog*>(modal)->fullText();
           guitest::PressKey(modal, Qt::Key_Return);
         });
         errorWatch.start(5);
         QKeyEvent thaiO(QEvent::KeyPress, 0x0E19, Qt::NoModifier, QString(QChar(0x0E19)));  // น: the O key
         QApplication::sendEvent(d, &thaiO);
         guitest::PressKey(d, Qt::Key_Return);
       }},
  });
  desktop::SetViewer(before);
  EXPECT_TRUE(outcome.shown);
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.repairs, demo.PlantedRecords());
  const QString line = QString::fromUtf8("\nรายงานการแก้ไข: ");
  ASSERT_TRUE(result.contains(line)) << result.toStdString();
  EXPECT_EQ(result.left(result.indexOf(line)), QString::fromUtf8("การทำงานเสร็จเรียบร้อยแล้ว (พบและแก้ไข ") +
                                                   QString::number(demo.PlantedRecords()) +
                                                   QString::fromUtf8(" ข้อผิดพลาด"));
  const std::string report = ToCp874(result.mid(result.indexOf(line) + line.size()));
  EXPECT_TRUE(fs::is_regular_file(report)) << report;
  EXPECT_EQ(fs::path(report).parent_path(), fs::path(Company()));
  EXPECT_EQ(viewed, (std::vector<std::string>{report, report}));
  EXPECT_TRUE(errorText.endsWith(FromCp874(report))) << "the error names the report: " << errorText.toStdString();
  EXPECT_EQ(Findings(), 0) << "every planted amount is repaired on disk";
  EXPECT_EQ(platform::CurrentDirectory(), Start());
}

// A run over a few thousand records per file keeps handling events and is stopped by
// "ยกเลิก" as soon as the status line names the first file: what was repaired is on
// disk, the rest is found by a scan, and the result says the run was stopped.
TEST_F(FlowTest, ALongRunKeepsHandlingEventsAndStopsCleanlyByCancel) {
  testkit::DemoOptions options;
  options.records = 3000;
  options.unsoundRate = 0.05;
  const testkit::DemoCompany demo = testkit::MakeDemoCompany(Company(), options);
  ASSERT_TRUE(demo.error.empty()) << demo.error;
  const int64_t before = Findings();
  ListCompany(Company());

  QString result;
  QString statusWhenStopped;
  const Outcome outcome = RunProgram(
      {
          Press(kSelect, Qt::Key_Return),
          Press(QStringLiteral("Caution!"), Qt::Key_Y),
          Press(QStringLiteral("Confirm"), Qt::Key_Return),
          {QStringLiteral("Warning"),
           [&](QWidget* d) {
             result = static_cast<DisplayMessageDialog*>(d)->fullText();
             guitest::PressKey(d, Qt::Key_Return);
           }},
      },
      [&](MainWindow& w) {
        if (!w.Running() || !statusWhenStopped.isEmpty() || w.statusLabel()->text().isEmpty()) return;
        statusWhenStopped = w.statusLabel()->text();
        EXPECT_TRUE(w.cancelButton()->isEnabled());
        QTest::mouseClick(w.cancelButton(), Qt::LeftButton);
      });
  EXPECT_TRUE(outcome.shown);
  EXPECT_GT(outcome.ticksInRun, 0) << "the window handled no event during the run";
  EXPECT_TRUE(statusWhenStopped.startsWith(QStringLiteral("GL GLFILE01: "))) << statusWhenStopped.toStdString();
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_GT(outcome.repairs, 0);
  EXPECT_LT(outcome.repairs, demo.PlantedRecords());
  EXPECT_TRUE(result.startsWith(QString::fromUtf8("หยุดการทำงานตามที่สั่งแล้ว (แก้ไขไปแล้ว ") + QString::number(outcome.repairs) + " "))
      << result.toStdString();
  const int64_t after = Findings();
  EXPECT_LT(after, before);
  EXPECT_GT(after, 0) << "files after the stop were left for the next run";
  EXPECT_EQ(platform::CurrentDirectory(), Start());
}

// The company list's menu by keys: Shift+F10 on the grid, then the entry's letter
// (`thai`: the Thai layout's letter on that key).
void MenuByKeys(QWidget* list, QChar letter) {
  auto* d = static_cast<OpenCompanyDialog*>(list);
  guitest::PressKey(d, Qt::Key_F10, Qt::ShiftModifier);
  ASSERT_TRUE(d->ContextMenu()->isVisible());
  const int key = letter.unicode() < 0x80 ? letter.toUpper().unicode() : letter.unicode();
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(letter));
  QApplication::sendEvent(d->ContextMenu(), &press);
}

// Repair, then undo from the list's menu by keys (the Thai layout's letter on U): the
// walked files are back byte for byte, the outcome names the undo report, and the list
// shows again; its menu then has nothing more to undo.
TEST_F(FlowTest, RepairThenUndoFromTheListByKeysGivesTheFilesBack) {
  std::map<std::string, std::string> before;
  ASSERT_NO_FATAL_FAILURE(RepairDemo(&before));
  ASSERT_NE(Walked(Company()), before);

  company::Settings settings = company::InitSettings();
  QtDialogs dialogs;
  std::ostringstream help;
  app::RepairRun run(dialogs, settings, help);
  desktop::RepairRunControl control(run);
  QString question, outcome, menuAfter;
  bool shownDuringUndo = false;
  {
    MainWindow window(control, dialogs);
    ModalScript script({
        {kSelect, [](QWidget* d) { MenuByKeys(d, QChar(0x0E35)); }},  // ี, on the U key
        {QStringLiteral("Confirm"),
         [&](QWidget* d) {
           question = static_cast<AskForYesNoDialog*>(d)->fullText();
           guitest::PressKey(d, Qt::Key_Return);
         }},
        {QStringLiteral("Information"),
         [&](QWidget* d) {
           shownDuringUndo = window.isVisible();
           outcome = static_cast<DisplayMessageDialog*>(d)->fullText();
           guitest::PressKey(d, Qt::Key_Return);
         }},
        {kSelect,
         [&](QWidget* d) {
           auto* list = static_cast<OpenCompanyDialog*>(d);
           guitest::PressKey(list, Qt::Key_F10, Qt::ShiftModifier);
           menuAfter = list->CommandAction(desktop::CompanyCommand::kUndoLast)->text();
           EXPECT_FALSE(list->CommandAction(desktop::CompanyCommand::kUndoLast)->isEnabled());
           EXPECT_TRUE(list->CommandAction(desktop::CompanyCommand::kOpenLastReport)->isEnabled());
           list->ContextMenu()->close();
           guitest::PressKey(list, Qt::Key_Escape);
         }},
    });
    EXPECT_FALSE(window.Startup([&] { return ChooseCompany(settings, dialogs); }));
    EXPECT_TRUE(script.finished()) << script.seen().join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(window.ExitCode(), 0);
  }
  EXPECT_TRUE(shownDuringUndo) << "the undo runs in the main window";
  EXPECT_TRUE(question.startsWith(QString::fromUtf8("ต้องการย้อนการแก้ไขเมื่อ "))) << question.toStdString();
  EXPECT_TRUE(question.contains(QString::fromUtf8(" (นำค่าเดิมกลับคืน "))) << question.toStdString();
  EXPECT_TRUE(outcome.startsWith(QString::fromUtf8("ย้อนการแก้ไขเสร็จแล้ว (นำค่าเดิมกลับคืน "))) << outcome.toStdString();
  const QString line = QString::fromUtf8("\nรายงานการย้อนการแก้ไข: ");
  ASSERT_TRUE(outcome.contains(line)) << outcome.toStdString();
  EXPECT_TRUE(fs::is_regular_file(ToCp874(outcome.mid(outcome.indexOf(line) + line.size()))));
  EXPECT_TRUE(menuAfter.contains(QString::fromUtf8(" : "))) << "the reason: " << menuAfter.toStdString();
  EXPECT_EQ(Walked(Company()), before) << "the undo gives every walked file back byte for byte";
  EXPECT_EQ(platform::CurrentDirectory(), Start());
}

// The check from the list's menu by keys (the Thai layout's letter on K) on a company
// with a damaged side file: it runs in the main window, the list window shows the
// finding with its file and kind and the count, C (in the Thai layout) copies the
// command line's text lines, and no file of the directory changed or appeared.
TEST_F(FlowTest, CheckFromTheListByKeysListsTheFindingsAndWritesNothing) {
  const testkit::DemoCompany demo = testkit::MakeDemoCompany(Company(), 60);
  ASSERT_TRUE(demo.error.empty()) << demo.error;
  ListCompany(Company());
  {
    std::ofstream cut(fs::path(Company()) / "GLTBUF.DAT", std::ios::binary | std::ios::trunc);
    cut << std::string(221, '\0');  // a partial record
  }
  auto everything = [&] {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(Company())) {
      std::ifstream in(e.path(), std::ios::binary);
      out[e.path().filename().string()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return out;
  };
  const auto before = everything();

  company::Settings settings = company::InitSettings();
  QtDialogs dialogs;
  std::ostringstream help;
  app::RepairRun run(dialogs, settings, help);
  desktop::RepairRunControl control(run);
  QString count, copied;
  QStringList row;
  bool shownDuringCheck = false;
  {
    MainWindow window(control, dialogs);
    ModalScript script({
        {kSelect, [](QWidget* d) { MenuByKeys(d, QChar(0x0E32)); }},  // า, on the K key
        {QString::fromUtf8("ผลการตรวจสอบโครงสร้างแฟ้ม"),
         [&](QWidget* d) {
           shownDuringCheck = window.isVisible();
           auto* list = static_cast<CheckFindingsDialog*>(d);
           count = list->countLabel()->text();
           for (int i = 0; i < list->list()->topLevelItemCount(); ++i) {
             const QTreeWidgetItem* item = list->list()->topLevelItem(i);
             if (item->text(0) == QLatin1String("GLTBUF.DAT")) row = {item->text(0), item->text(1), item->text(2)};
           }
           QApplication::clipboard()->clear();
           // แ, the Thai layout's letter on the C key, in the list (Alt+C is Qt's mnemonic).
           QKeyEvent thaiC(QEvent::KeyPress, 0x0E41, Qt::NoModifier, QString(QChar(0x0E41)));
           QApplication::sendEvent(list->list(), &thaiC);
           copied = QApplication::clipboard()->text();
           guitest::PressKey(list, Qt::Key_Escape);
         }},
        Press(kSelect, Qt::Key_Escape),
    });
    EXPECT_FALSE(window.Startup([&] { return ChooseCompany(settings, dialogs); }));
    EXPECT_TRUE(script.finished()) << script.seen().join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(window.ExitCode(), 0);
  }
  EXPECT_TRUE(shownDuringCheck) << "the check runs in the main window";
  EXPECT_TRUE(count.startsWith(QString::fromUtf8("พบความเสียหาย 1 รายการ"))) << count.toStdString();
  ASSERT_EQ(row.size(), 3) << "no row for GLTBUF.DAT";
  EXPECT_EQ(row[1], QLatin1String("FILE-LENGTH"));
  EXPECT_TRUE(copied.startsWith(QLatin1String("GLTBUF.DAT\tFILE-LENGTH\t"))) << copied.toStdString();
  EXPECT_TRUE(copied.endsWith(QLatin1Char('\n')));
  EXPECT_EQ(everything(), before) << "the check writes nothing";
  EXPECT_EQ(platform::CurrentDirectory(), Start());
}

// An undo beside another station that holds a record it must put back: the status line
// says what it waits for, Esc stops it within a second, and the outcome says how many
// were left; a later undo from the menu still finds the report.
TEST_F(FlowTest, EscStopsAnUndoThatWaitsForAHeldRecord) {
  ASSERT_NO_FATAL_FAILURE(RepairDemo());
  desktop::UndoableReport report;
  std::string whyNot;
  ASSERT_TRUE(desktop::FindUndoableReport(Company(), report, whyNot)) << whyNot;
  std::string text;
  ASSERT_FALSE(platform::ReadWholeFile(report.path, text));
  app::ReportContents contents;
  std::string error;
  ASSERT_TRUE(app::ParseRepairReport(text, contents, error)) << error;
  ASSERT_FALSE(contents.written.empty());
  const app::ReportedField& held = contents.written.front();

  // Another station edits that record all along.
  isam::Engine station;
  station.StartEngine(isam::EngineMode::kNetwork, 500);
  isam::BlockHandle block;
  station.OpenBlock(block, Company() + "/" + held.file, {.network = true});
  ASSERT_TRUE(station.LastOpOK()) << station.LastOpError();
  station.LockSlot(block, held.record);
  ASSERT_TRUE(station.LastOpOK());

  company::Settings settings = company::InitSettings();
  QtDialogs dialogs;
  std::ostringstream help;
  app::RepairRun run(dialogs, settings, help);
  desktop::RepairRunControl control(run);
  QString waiting, outcome;
  uint64_t escAt = 0, outcomeAt = 0;
  {
    MainWindow window(control, dialogs);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (!window.Running() || escAt != 0 || !window.statusLabel()->text().contains(QString::fromUtf8(held.file.c_str())))
        return;
      waiting = window.statusLabel()->text();
      escAt = platform::MonotonicMs();
      QTest::keyClick(&window, Qt::Key_Escape);
    });
    watch.start(5);
    ModalScript script({
        {kSelect, [](QWidget* d) { MenuByKeys(d, QLatin1Char('u')); }},
        Press(QStringLiteral("Confirm"), Qt::Key_Return),
        {QStringLiteral("Warning"),
         [&](QWidget* d) {
           outcomeAt = platform::MonotonicMs();
           outcome = static_cast<DisplayMessageDialog*>(d)->fullText();
           guitest::PressKey(d, Qt::Key_Return);
         }},
        Press(kSelect, Qt::Key_Escape),
    });
    EXPECT_FALSE(window.Startup([&] { return ChooseCompany(settings, dialogs); }));
    EXPECT_TRUE(script.finished()) << script.seen().join(QStringLiteral(" | ")).toStdString();
  }
  station.UnlockSlot(block, held.record);
  station.CloseBlock(block);
  station.StopEngine();
  ASSERT_NE(escAt, 0u) << "the status line never named the held record";
  EXPECT_LT(outcomeAt - escAt, 1500u) << "the stop took " << outcomeAt - escAt << " ms";
  EXPECT_TRUE(outcome.startsWith(QString::fromUtf8("หยุดการย้อนการแก้ไขตามที่สั่งแล้ว"))) << outcome.toStdString();
  EXPECT_TRUE(outcome.contains(QString::fromUtf8("\nเหลือ "))) << outcome.toStdString();
  EXPECT_TRUE(desktop::FindUndoableReport(Company(), report, whyNot)) << "a stopped undo leaves the report undoable";
  EXPECT_EQ(platform::CurrentDirectory(), Start());
}

TEST_F(FlowTest, SelectionCancelledEndsWithoutAnyOtherDialog) {
  ListCompany(Company());
  const Outcome outcome = RunProgram({Press(kSelect, Qt::Key_Escape)});
  EXPECT_FALSE(outcome.shown);
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.dialogs.size(), 1);
}

TEST_F(FlowTest, NoInformationFileShowsOneErrorAndEnds) {
  ListCompany(Company());  // an empty directory
  const Outcome outcome = RunProgram({Press(kSelect, Qt::Key_Return), Press(QStringLiteral("Error"), Qt::Key_Return)});
  EXPECT_FALSE(outcome.shown);
  EXPECT_EQ(outcome.exitCode, 0);
  ASSERT_EQ(outcome.dialogs.size(), 2);
  EXPECT_EQ(outcome.dialogs[1], QStringLiteral("Error: ERROR: File not found.!"));
  EXPECT_EQ(platform::CurrentDirectory(), Start());
}

TEST_F(FlowTest, TechnicalSupportQuestionRefusedByEnterEndsWithoutChangingAnything) {
  const testkit::DemoCompany demo = testkit::MakeDemoCompany(Company(), 30, 7);
  ASSERT_TRUE(demo.error.empty()) << demo.error;
  ListCompany(Company());
  const int64_t before = Findings();
  // "&No" has the focus in the start-up question: Enter answers No.
  const Outcome outcome = RunProgram({Press(kSelect, Qt::Key_Return), Press(QStringLiteral("Caution!"), Qt::Key_Return)});
  EXPECT_FALSE(outcome.shown);
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(Findings(), before);
  EXPECT_EQ(platform::CurrentDirectory(), Start());
}

}  // namespace
}  // namespace kv::gui
