// kvfix207, the desktop program: the main window's start-up chooses the company and
// checks it, "Fix..." repairs it, and closing the window ends the program.
#include <QApplication>
#include <iostream>

#include "app/Run.h"
#include "company/Settings.h"
#include "gui/MainWindow.h"
#include "gui/QtDialogs.h"
#include "gui/QtText.h"
#include "gui/RepairRunControl.h"
#include "gui/SelectCompany.h"

int main(int argc, char** argv) {
  // The directories are fixed before any window exists.
  kv::company::Settings settings = kv::company::InitSettings();

  QApplication application(argc, argv);
  // The program ends when the main window closes, not when the last dialog of the
  // start-up does.
  QApplication::setQuitOnLastWindowClosed(false);
  kv::gui::InstallFontSubstitutes();

  kv::gui::QtDialogs dialogs;
  kv::app::RepairRun run(dialogs, settings, std::cout);
  kv::gui::RepairRunControl control(run);
  kv::gui::MainWindow window(control, dialogs);
  if (!window.Startup([&] { return kv::gui::SelectCompanyDirectory(settings, dialogs); })) {
    return window.ExitCode();
  }
  QObject::connect(&window, &kv::gui::MainWindow::Closed, &application, &QCoreApplication::quit,
                   Qt::QueuedConnection);
  window.show();
  const int result = QApplication::exec();
  return result != 0 ? result : window.ExitCode();
}
