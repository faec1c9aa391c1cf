// Renders every window and dialog of the desktop program to PNG files, for review:
//   kvscreenshots OUTPUT_DIR
// Meant for the offscreen platform (QT_QPA_PLATFORM=offscreen). The window system's frame
// is not part of a grab, so each picture gets a plain title bar with the window's title.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <string>

#include "gui-qt/FixRecovDialog.h"
#include "gui-qt/MainWindow.h"
#include "gui-qt/MessageDialogs.h"
#include "gui-qt/QtDialogs.h"
#include "gui-qt/QtText.h"
#include "platform/Cp874.h"
#include "platform/System.h"

#include <QTimer>
#include <QKeyEvent>
#include <QMenu>
#include <QTableView>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "company/Settings.h"
#include "desktop/CompanyReports.h"
#include "ui/Dialogs.h"
#include "gui-qt/CheckFindingsDialog.h"
#include "gui-qt/OpenCompanyDialog.h"
#include "gui-qt/OpenCompanyEditDialog.h"
#include "gui-qt/ReportTemplateDialog.h"

namespace {

using kv::platform::Th;

QString g_dir;
int g_written = 0;

void Save(QWidget* window, const QString& name) {
  const QPixmap client = window->grab();
  constexpr int kTitle = 24;
  QImage image(client.width() + 2, client.height() + kTitle + 1, QImage::Format_RGB32);
  image.fill(QColor(0x80, 0x80, 0x80));
  QPainter painter(&image);
  painter.fillRect(1, 1, client.width(), kTitle - 1, QColor(0x1f, 0x4e, 0x99));
  QFont font = kv::gui::TahomaFont(13, true);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(QRect(8, 1, client.width() - 12, kTitle - 1), Qt::AlignVCenter | Qt::AlignLeft,
                   window->windowTitle());
  painter.drawPixmap(1, kTitle, client);
  painter.end();
  const QString path = QDir(g_dir).filePath(name + QStringLiteral(".png"));
  if (!image.save(path)) {
    std::fprintf(stderr, "kvscreenshots: cannot write %s\n", qPrintable(path));
    return;
  }
  ++g_written;
  std::printf("%s\n", qPrintable(path));
}

// Shows a dialog without its modal loop, saves it and closes it.
void Shoot(QWidget* window, const QString& name) {
  window->show();
  QCoreApplication::processEvents();
  Save(window, name);
  window->close();
}

// A run that takes the window through a few steps and photographs it mid-run.
class ShowcaseRun : public kv::desktop::RunControl {
 public:
  ShowcaseRun(kv::gui::QtDialogs& dialogs, std::function<void()> midRun)
      : dialogs_(dialogs), midRun_(std::move(midRun)) {}
  bool Startup(const std::string&) override { return true; }
  bool Fix(kv::modules::ProgressSink& progress) override {
    dialogs_.ProcessPendingMessages();
    for (const char* file : {"GLFILE01", "GLFILE03", "GLFILE04", "ICFILE01", "ICFILE02", "ICFILE03", "ICFILE04"}) {
      progress.Step("IC", file);
    }
    for (int i = 0; i < 12; ++i) progress.AddRepair();
    kv::platform::SleepMs(60);  // past the window's refresh interval
    progress.Walking("AP", "APFILE01", 41250, 120000);
    midRun_();
    return true;
  }
  void Close() override {}
  int ExitCode() const override { return 0; }

 private:
  kv::gui::QtDialogs& dialogs_;
  std::function<void()> midRun_;
};

void MainWindows() {
  kv::gui::QtDialogs dialogs;
  kv::gui::MainWindow* window = nullptr;
  ShowcaseRun run(dialogs, [&] { Save(window, QStringLiteral("main-window-running")); });
  kv::gui::MainWindow main(run, dialogs);
  window = &main;
  main.Startup([] { return Th("/srv/korva/บริษัท ตัวอย่าง จำกัด"); });
  main.show();
  QCoreApplication::processEvents();
  Save(&main, QStringLiteral("main-window"));
  main.FixButtonClick();
}

void MessageDialogs() {
  using kv::gui::AskForYesNoDialog;
  using kv::gui::AskForYesNoTechnicalSupportDialog;
  using kv::gui::DisplayMessageDialog;
  const QString result = QString::fromUtf8("การทำงานเสร็จเรียบร้อยแล้ว (พบและแก้ไข 3 ข้อผิดพลาด");
  {
    DisplayMessageDialog d(1, result);
    Shoot(&d, QStringLiteral("message-information"));
  }
  {
    // The result names its report; "เปิดรายงาน" opens it.
    DisplayMessageDialog d(1, result + QString::fromUtf8("\nรายงานการแก้ไข: /srv/korva/บริษัท ตัวอย่าง จำกัด/KVFIX207-20261209-215559.LOG"));
    d.SetReportButton([] {});
    Shoot(&d, QStringLiteral("message-result-report"));
  }
  {
    // The undo from the company list: its question and its outcome.
    kv::desktop::UndoableReport report{"", "09/12/2026 21:55:59", 38, 3};
    AskForYesNoDialog q(1, kv::gui::FromCp874(kv::ui::ApplyQuestionRule(kv::desktop::UndoFromMenuQuestion(report))));
    Shoot(&q, QStringLiteral("question-undo"));
    DisplayMessageDialog d(3, QString::fromUtf8("หยุดการย้อนการแก้ไขตามที่สั่งแล้ว (นำค่าเดิมกลับคืน 35 รายการ)\n"
                                                "เหลือ 3 รายการที่ยังไม่ได้คืน (LOCKED 1, STOPPED 2) โปรดลองใหม่ภายหลัง\n"
                                                "รายงานการย้อนการแก้ไข: /srv/korva/บริษัท ตัวอย่าง จำกัด/KVFIX207-UNDO-20261209-220102.LOG"));
    d.SetReportButton([] {});
    Shoot(&d, QStringLiteral("message-undo-outcome"));
  }
  {
    // The check from the company list: its findings window.
    const kv::desktop::CheckListing listing = kv::desktop::ExampleCheckListing(Th("/srv/korva/บริษัท ตัวอย่าง จำกัด"));
    kv::gui::CheckFindingsDialog d(listing);
    Shoot(&d, QStringLiteral("check-findings"));
  }
  {
    DisplayMessageDialog d(2, QStringLiteral("ERROR: File not found.!"));
    Shoot(&d, QStringLiteral("message-error"));
  }
  {
    // A fatal engine error with the error catalogue's explanation in its details area.
    DisplayMessageDialog d(2, QString::fromUtf8("ไม่สามารถเปิดแฟ้ม GLFILE01 ได้"));
    d.SetDetails(QString::fromUtf8("แฟ้มข้อมูลหรือแฟ้มดัชนีไม่มีอยู่ในไดเร็คทอรี่ที่กำหนด\n"
                                   "สาเหตุ: แฟ้มถูกลบ ย้าย หรือเปลี่ยนชื่อ\n"
                                   "วิธีแก้ไข: ตรวจสอบไดเร็คทอรี่ของแฟ้มข้อมูล แล้วเรียกโปรแกรมอีกครั้ง\n"
                                   "หากยังพบปัญหา โปรดติดต่อฝ่ายบริการลูกค้า"));
    Shoot(&d, QStringLiteral("message-fatal-error-help"));
  }
  {
    DisplayMessageDialog d(3, QString::fromUtf8("ไม่พบแฟ้ม USERDRV.INI"));
    Shoot(&d, QStringLiteral("message-warning"));
  }
  {
    DisplayMessageDialog d(1, QStringLiteral("OK"));
    Shoot(&d, QStringLiteral("message-short"));
  }
  {
    QString longText;
    for (int i = 0; i < 12; ++i) longText += QString::fromUtf8("ไม่สามารถสร้างไดเร็คทอรี่ที่กำหนดได้ ");
    DisplayMessageDialog d(2, longText + QStringLiteral("END"));
    Shoot(&d, QStringLiteral("message-wider-than-screen"));
  }
  {
    AskForYesNoDialog d(1, QString::fromUtf8("ต้องการแก้ไขข้อผิดพลาด 207?"));
    Shoot(&d, QStringLiteral("question-confirm"));
  }
  {
    AskForYesNoDialog d(1, QString::fromUtf8("(3) มีการล็อคข้อมูลซ้อนกัน. โปรดลองใหม่อีกครั้ง?"));
    Shoot(&d, QStringLiteral("question-lock-conflict"));
  }
  {
    AskForYesNoTechnicalSupportDialog d(2, QString::fromUtf8("คุณต้องการแก้ไขข้อผิดพลาด 207?"));
    Shoot(&d, QStringLiteral("question-technical-support"));
  }
  {
    kv::gui::FixRecovDialog d(QStringLiteral("GLFILE01.SAV"), QStringLiteral("100,000 byte(s)"),
                              QStringLiteral("50,000 byte(s)"));
    Shoot(&d, QStringLiteral("recovery"));
  }
  {
    kv::gui::FixRecovDialog d(QStringLiteral("ICFILE01.IX~"), QStringLiteral("1,048,576"),
                              QStringLiteral("0"));
    Shoot(&d, QStringLiteral("recovery-index"));
  }
}

// The company selection over a list of a few Thai companies, one of them the remembered
// choice (drawn bold), and the two editors of an entry. Runs in a scratch start
// directory with its own settings directory.
void CompanyDialogs() {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("kvscreenshots-" + std::to_string(QCoreApplication::applicationPid()));
  fs::remove_all(root);
  fs::create_directories(root / "start");
  fs::create_directories(root / "appdata");
  fs::create_directories(root / "temp");
  const std::string saved = kv::platform::CurrentDirectory();
  setenv("APPDATA", (root / "appdata").c_str(), 1);
  setenv("TEMP", (root / "temp").c_str(), 1);
  // Only pictures are made here: a failure shows in them (a list that cannot be found).
  (void)kv::platform::ChangeDirectory((root / "start").string());

  const char* names[][2] = {{"บริษัท ตัวอย่าง จำกัด", "/srv/korva/demo"},
                            {"ห้างหุ้นส่วนจำกัด สมใจการค้า", "/srv/korva/somjai"},
                            {"บริษัท ไทยรุ่งเรือง อุตสาหกรรม จำกัด (มหาชน)", "/srv/korva/thairung"},
                            {"", ""},
                            {"ร้านเจริญพาณิชย์", "/srv/korva/charoen"}};
  {
    std::ofstream list(root / "start" / "USERDRV.INI", std::ios::binary);
    for (const auto& entry : names) {
      if (entry[1][0] != '\0') list << Th(entry[0]) << ';' << Th(entry[1]);
      list << "\r\n";
    }
  }
  kv::company::Settings settings = kv::company::InitSettings();
  fs::create_directories(settings.dirs.settings);
  {
    std::ofstream cfg(settings.KorvaCfgPath(), std::ios::binary);
    cfg << "OPENCOMPANY_DIR=" << Th(names[0][1]) << "\r\n"
        << "OPENCOMPANY_COMPANY=" << Th(names[0][0]) << "\r\n"
        << "OPENCOMPANY_SELECT=1\r\n";
  }

  kv::gui::QtDialogs dialogs;
  {
    kv::gui::OpenCompanyDialog dialog(settings, dialogs);
    dialog.Selection().suppressAutoSelect = true;
    QTimer::singleShot(200, &dialog, [&dialog] {
      Save(&dialog, QStringLiteral("company-selection"));
      // Its menu on a company without reports: the report entries say why they are off.
      dialog.Grid()->setFocus();
      QKeyEvent menuKey(QEvent::KeyPress, Qt::Key_F10, Qt::ShiftModifier);
      QApplication::sendEvent(dialog.Grid(), &menuKey);
      QCoreApplication::processEvents();
      Save(dialog.ContextMenu(), QStringLiteral("company-menu"));
      dialog.ContextMenu()->close();
      dialog.reject();
    });
    try {
      dialog.SelectCompany();
    } catch (const std::exception& error) {
      std::fprintf(stderr, "kvscreenshots: company selection: %s\n", error.what());
    }
  }
  {
    kv::gui::OpenCompanyEditDialog dialog(Th(names[0][0]), Th(names[0][1]), dialogs);
    Shoot(&dialog, QStringLiteral("company-edit"));
  }
  {
    kv::gui::ReportTemplateDialog dialog(Th("/srv/korva/templates/thai"), Th("/srv/korva/demo/REPORT"), dialogs);
    Shoot(&dialog, QStringLiteral("company-report-template"));
  }
  (void)kv::platform::ChangeDirectory(saved);  // the tool ends next
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  kv::gui::InstallFontSubstitutes();
  g_dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("out/screenshots");
  if (!QDir().mkpath(g_dir)) {
    std::fprintf(stderr, "kvscreenshots: cannot create %s\n", qPrintable(g_dir));
    return 1;
  }
  MainWindows();
  MessageDialogs();
  CompanyDialogs();
  return g_written > 0 ? 0 : 1;
}
