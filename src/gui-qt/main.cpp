// kvfix207, the desktop program: the main window's start-up chooses the company and
// checks it, "Fix..." repairs it, and closing the window ends the program.
#include <QApplication>
#include <iostream>
#include <string_view>

#include "app/Version.h"
#include "desktop/DesktopRun.h"
#include "company/Settings.h"
#include "gui-qt/MainWindow.h"
#include "gui-qt/MessageDialogs.h"
#include "gui-qt/OpenCompanyCommon.h"
#include "platform/System.h"
#include "gui-qt/QtDialogs.h"
#include "gui-qt/QtText.h"
#include "gui-qt/SelectCompany.h"

int main(int argc, char** argv) {
  // Answered before Qt starts, so it needs no display.
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    std::cout << kv::app::VersionLine("kvfix207") << std::endl;
    return 0;
  }
  // The directories are fixed before any window exists.
  kv::company::Settings settings = kv::company::InitSettings();

  QApplication application(argc, argv);
  // The program ends when the main window closes, not when the last dialog of the
  // start-up does.
  QApplication::setQuitOnLastWindowClosed(false);
  kv::gui::InstallFontSubstitutes();

  kv::gui::QtDialogs dialogs;
  if (kv::platform::CurrentDirectory().empty()) {
    // The company list, the settings and every return lead to the start directory: a
    // name CP874 cannot hold would be stored or followed as another directory.
    const std::string native = kv::platform::CurrentDirectoryAsUtf8();
    kv::gui::DisplayMessageDialog message(
        kv::ui::kError,
        kv::gui::Caption("ไม่สามารถใช้ไดเร็คทอรี่เริ่มต้น ") + QString::fromUtf8(native.data(), static_cast<qsizetype>(native.size())) +
            kv::gui::Caption(" ได้ เนื่องจากมีตัวอักษรที่เก็บในรหัสภาษาไทย 874 ไม่ได้ กรุณาเรียกโปรแกรมจากไดเร็คทอรี่อื่น"));
    message.exec();
    return 1;
  }
  kv::app::RepairRun run(dialogs, settings, std::cout);
  kv::desktop::RepairRunControl control(run);
  kv::gui::MainWindow window(control, dialogs);
  if (!window.Startup([&] { return kv::gui::ChooseCompany(settings, dialogs); })) {
    return window.ExitCode();
  }
  QObject::connect(&window, &kv::gui::MainWindow::Closed, &application, &QCoreApplication::quit,
                   Qt::QueuedConnection);
  window.show();
  const int result = QApplication::exec();
  return result != 0 ? result : window.ExitCode();
}
