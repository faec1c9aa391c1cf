// The desktop program end to end with its real windows: the company list in the start
// directory, the selection dialog, the run's questions, the repair of a demo company
// and the result message, each dialog answered by keys.
// The test kit's headers come before Qt's, whose "slots" keyword macro would break them.
#include "testkit/Demo.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "GuiTestSupport.h"
#include "desktop/DesktopRun.h"
#include "app/Scan.h"
#include "company/Settings.h"
#include "gui-qt/MainWindow.h"
#include "gui-qt/MessageDialogs.h"
#include "gui-qt/QtDialogs.h"
#include "gui-qt/SelectCompany.h"
#include "platform/Cp874.h"
#include "platform/System.h"

namespace kv::gui {
namespace {

namespace fs = std::filesystem;
using guitest::ModalScript;
using guitest::ModalStep;
using guitest::Press;
using platform::Th;

const QString kSelect = QStringLiteral("Select Directory");

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

  QString result;
  const Outcome outcome = RunProgram({
      Press(kSelect, Qt::Key_Return),
      Press(QStringLiteral("Caution!"), Qt::Key_Y),
      Press(QStringLiteral("Confirm"), Qt::Key_Return),
      {QStringLiteral("Information"),
       [&](QWidget* d) {
         result = static_cast<DisplayMessageDialog*>(d)->fullText();
         guitest::PressKey(d, Qt::Key_Return);
       }},
  });
  EXPECT_TRUE(outcome.shown);
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.repairs, demo.PlantedRecords());
  EXPECT_EQ(result, QString::fromUtf8("การทำงานเสร็จเรียบร้อยแล้ว (พบและแก้ไข ") + QString::number(demo.PlantedRecords()) +
                        QString::fromUtf8(" ข้อผิดพลาด"));
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
