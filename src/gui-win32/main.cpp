// kvfix207.exe, the Windows desktop program: the main window's start-up chooses the
// company and checks it, "Fix..." repairs it, and closing the window ends the program.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/Version.h"
#include "desktop/DesktopRun.h"
#include "company/Settings.h"
#include "gui-win32/MainWindow.h"
#include "gui-win32/MessageDialogs.h"
#include "gui-win32/SelectCompany.h"
#include "gui-win32/Win32Dialogs.h"
#include "gui-win32/WinText.h"
#include "platform/System.h"
#include "platform/Terminal.h"

namespace {

// kvfix207.exe --version: a windowed program has no console of its own, so the line goes
// to standard output where there is one (redirected, or a pipe of a script) and into a
// message otherwise, where a person who typed it in a command prompt sees it.
bool VersionAsked() {
  const std::vector<std::string> args = kv::platform::ProgramArguments(0, nullptr);
  return args.size() == 1 && args[0] == "--version";
}

void ShowVersion() {
  const std::string line = kv::app::VersionLine("kvfix207");
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE && ::GetFileType(out) != FILE_TYPE_UNKNOWN) {
    std::cout << line << std::endl;
    return;
  }
  kv::gui::DisplayMessageDialog(kv::ui::kInformation, kv::gui::FromUtf8(line)).Run();
}

}  // namespace

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  if (VersionAsked()) {
    ShowVersion();
    return 0;
  }
  // The directories are fixed before any window exists.
  kv::company::Settings settings = kv::company::InitSettings();

  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&controls);
  // The folder browser is a COM object of the shell.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

  kv::gui::Win32Dialogs dialogs;
  int exitCode = 0;
  if (kv::platform::CurrentDirectory().empty()) {
    // The company list, the settings and every return lead to the start directory: a
    // name CP874 cannot hold would be stored or followed as another directory.
    const std::string native = kv::platform::CurrentDirectoryAsUtf8();
    kv::gui::DisplayMessageDialog message(
        kv::ui::kError,
        kv::gui::Caption("ไม่สามารถใช้ไดเร็คทอรี่เริ่มต้น ") + kv::gui::FromUtf8(native) +
            kv::gui::Caption(" ได้ เนื่องจากมีตัวอักษรที่เก็บในรหัสภาษาไทย 874 ไม่ได้ กรุณาเรียกโปรแกรมจากไดเร็คทอรี่อื่น"));
    message.Run();
    exitCode = 1;
  } else {
    kv::app::RepairRun run(dialogs, settings, std::cout);
    kv::desktop::RepairRunControl control(run);
    kv::gui::MainWindow window(control, dialogs);
    if (!window.Startup([&] { return kv::gui::ChooseCompany(settings, dialogs); })) {
      exitCode = window.ExitCode();
    } else {
      window.Show();
      MSG msg;
      while (!window.Closed() && ::GetMessageW(&msg, nullptr, 0, 0) > 0) kv::gui::DialogWindow::DispatchOne(msg);
      exitCode = window.ExitCode();
    }
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
  return exitCode;
}
