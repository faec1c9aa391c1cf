// Shows one window or dialog of the Windows desktop program, for its picture:
//   kvscreenshots.exe NAME
// NAME is one of the names printed by "kvscreenshots.exe list". The window stays until
// the process is ended; scripts/screenshots-windows.sh captures it from the X server
// Wine draws on. The company windows use the current directory as a scratch start
// directory (the company list and the settings are written there).
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "company/Settings.h"
#include "desktop/CompanyReports.h"
#include "gui-win32/CheckFindingsDialog.h"
#include "gui-win32/FixRecovDialog.h"
#include "gui-win32/MainWindow.h"
#include "gui-win32/MessageDialogs.h"
#include "gui-win32/OpenCompanyDialog.h"
#include "gui-win32/OpenCompanyEditDialog.h"
#include "gui-win32/ReportTemplateDialog.h"
#include "gui-win32/Win32Dialogs.h"
#include "gui-win32/WinText.h"
#include "platform/Cp874.h"
#include "platform/System.h"

namespace {

using kv::gui::Caption;
using kv::platform::Th;

// Handles messages until the process is ended.
[[noreturn]] void Forever() {
  MSG msg;
  for (;;) {
    if (::GetMessageW(&msg, nullptr, 0, 0) <= 0) ::ExitProcess(0);
    kv::gui::DialogWindow::DispatchOne(msg);
  }
}

// A run that takes the window through a few steps and stays mid-run.
class ShowcaseRun : public kv::desktop::RunControl {
 public:
  explicit ShowcaseRun(kv::gui::Win32Dialogs& dialogs) : dialogs_(dialogs) {}
  bool Startup(const std::string&) override { return true; }
  bool Fix(kv::modules::ProgressSink& progress) override {
    dialogs_.ProcessPendingMessages();
    for (const char* file : {"GLFILE01", "GLFILE03", "GLFILE04", "ICFILE01", "ICFILE02", "ICFILE03", "ICFILE04"}) {
      progress.Step("IC", file);
    }
    for (int i = 0; i < 12; ++i) progress.AddRepair();
    kv::platform::SleepMs(150);  // past the window's refresh interval
    progress.Walking("AP", "APFILE01", 41250, 120000);
    Forever();
  }
  void Close() override {}
  int ExitCode() const override { return 0; }

 private:
  kv::gui::Win32Dialogs& dialogs_;
};

void MainWindow(bool running) {
  kv::gui::Win32Dialogs dialogs;
  ShowcaseRun run(dialogs);
  kv::gui::MainWindow main(run, dialogs);
  main.Startup([] { return Th("C:\\KORVA\\บริษัท ตัวอย่าง จำกัด"); });
  main.Show();
  if (running) {
    dialogs.beforePendingMessages = nullptr;
    main.FixButtonClick();
  }
  Forever();
}

void Message(int kind, const std::wstring& text, const std::wstring& details = {}, bool reportButton = false) {
  kv::gui::DisplayMessageDialog dialog(kind, text);
  if (!details.empty()) dialog.SetDetails(details);
  if (reportButton) dialog.SetReportButton([] {});
  dialog.Run();
}

// The company selection over a list of a few Thai companies, one of them the remembered
// choice (drawn bold); `menu` opens the list's menu from the keyboard.
void CompanySelection(bool menu) {
  const char* names[][2] = {{"บริษัท ตัวอย่าง จำกัด", "C:\\KORVA\\DEMO"},
                            {"ห้างหุ้นส่วนจำกัด สมใจการค้า", "C:\\KORVA\\SOMJAI"},
                            {"บริษัท ไทยรุ่งเรือง อุตสาหกรรม จำกัด (มหาชน)", "D:\\DATA\\THAIRUNG"},
                            {"", ""},
                            {"ร้านเจริญพาณิชย์", "\\\\SERVER\\KORVA\\CHAROEN"}};
  {
    std::ofstream list("USERDRV.INI", std::ios::binary);
    for (const auto& entry : names) {
      if (entry[1][0] != '\0') list << Th(entry[0]) << ';' << Th(entry[1]);
      list << "\r\n";
    }
  }
  kv::company::Settings settings = kv::company::InitSettings();
  // Only pictures are made here: a failure shows in them (the settings file below is not written).
  (void)kv::platform::CreateDirectories(settings.dirs.settings);
  {
    std::ofstream cfg(std::filesystem::path(kv::gui::FromCp874(settings.KorvaCfgPath())), std::ios::binary);
    cfg << "OPENCOMPANY_DIR=" << Th(names[0][1]) << "\r\n"
        << "OPENCOMPANY_COMPANY=" << Th(names[0][0]) << "\r\n"
        << "OPENCOMPANY_SELECT=1\r\n";
  }
  kv::gui::Win32Dialogs dialogs;
  kv::gui::OpenCompanyDialog dialog(settings, dialogs);
  dialog.Selection().suppressAutoSelect = true;
  if (menu) {
    ::SetTimer(nullptr, 0, 800, [](HWND, UINT, UINT_PTR id, DWORD) {
      ::KillTimer(nullptr, id);
      HWND window = ::FindWindowW(nullptr, L"Select Directory");
      if (window) ::PostMessageW(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(::GetDlgItem(window, 300)), -1);
    });
  }
  try {
    dialog.SelectCompany();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kvscreenshots: company selection: %s\n", error.what());
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&controls);
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const std::wstring result = Caption("การทำงานเสร็จเรียบร้อยแล้ว (พบและแก้ไข 3 ข้อผิดพลาด");
  std::wstring longText;
  for (int i = 0; i < 12; ++i) longText += Caption("ไม่สามารถสร้างไดเร็คทอรี่ที่กำหนดได้ ");
  kv::gui::Win32Dialogs dialogs;
  const std::map<std::string, std::function<void()>> windows = {
      {"main-window", [] { MainWindow(false); }},
      {"main-window-running", [] { MainWindow(true); }},
      {"message-information", [&] { Message(1, result); }},
      {"message-information-left",
       [&] {
         Message(3, result + L"\n" + Caption("เหลือ 2 ระเบียนที่ยังไม่ได้แก้ไข (ถูกล็อคโดยเครื่องอื่น) โปรดเรียกโปรแกรมอีกครั้ง"));
       }},
      {"message-result-report",
       [&] {
         Message(1, result + L"\n" + Caption("รายงานการแก้ไข: C:\\KORVA\\บริษัท ตัวอย่าง จำกัด\\KVFIX207-20261209-215559.LOG"),
                 {}, true);
       }},
      {"question-undo",
       [&] {
         dialogs.AskForYesNo(kv::ui::Question::kUndo,
                             kv::desktop::UndoFromMenuQuestion({"", "09/12/2026 21:55:59", 38, 3}));
       }},
      {"message-undo-outcome",
       [] {
         Message(3,
                 Caption("หยุดการย้อนการแก้ไขตามที่สั่งแล้ว (นำค่าเดิมกลับคืน 35 รายการ)\n"
                         "เหลือ 3 รายการที่ยังไม่ได้คืน (LOCKED 1, STOPPED 2) โปรดลองใหม่ภายหลัง\n"
                         "รายงานการย้อนการแก้ไข: C:\\KORVA\\บริษัท ตัวอย่าง จำกัด\\KVFIX207-UNDO-20261209-220102.LOG"),
                 {}, true);
       }},
      {"check-findings",
       [] {
         const kv::desktop::CheckListing listing = kv::desktop::ExampleCheckListing(Th("C:\\KORVA\\บริษัท ตัวอย่าง จำกัด"));
         kv::gui::CheckFindingsDialog(listing).Run();
       }},
      {"message-error", [] { Message(2, L"ERROR: File not found.!"); }},
      {"message-fatal-error-help",
       [] {
         Message(2, Caption("ไม่สามารถเปิดแฟ้ม GLFILE01 ได้"),
                 Caption("แฟ้มข้อมูลหรือแฟ้มดัชนีไม่มีอยู่ในไดเร็คทอรี่ที่กำหนด\n"
                         "สาเหตุ: แฟ้มถูกลบ ย้าย หรือเปลี่ยนชื่อ\n"
                         "วิธีแก้ไข: ตรวจสอบไดเร็คทอรี่ของแฟ้มข้อมูล แล้วเรียกโปรแกรมอีกครั้ง\n"
                         "หากยังพบปัญหา โปรดติดต่อฝ่ายบริการลูกค้า"));
       }},
      {"message-warning", [] { Message(3, Caption("ไม่พบแฟ้ม USERDRV.INI")); }},
      {"message-short", [] { Message(1, L"OK"); }},
      {"message-wider-than-screen", [&] { Message(2, longText + L"END"); }},
      {"question-confirm", [&] { dialogs.AskForYesNo(kv::ui::Question::kFix, Th("ต้องการแก้ไขข้อผิดพลาด 207?")); }},
      {"question-lock-conflict", [&] { dialogs.AskForYesNo(kv::ui::Question::kLockConflict, Th("(3) มีการล็อคข้อมูลซ้อนกัน. โปรดลองใหม่อีกครั้ง")); }},
      {"question-technical-support",
       [&] { dialogs.AskForYesNoTechnicalSupport(2, Th("คุณต้องการแก้ไขข้อผิดพลาด 207")); }},
      {"recovery", [] { kv::gui::FixRecovDialog(L"GLFILE01.SAV", L"100,000 byte(s)", L"50,000 byte(s)").Run(); }},
      {"recovery-index", [] { kv::gui::FixRecovDialog(L"ICFILE01.IX~", L"1,048,576", L"0").Run(); }},
      {"company-selection", [] { CompanySelection(false); }},
      {"company-menu", [] { CompanySelection(true); }},
      {"company-edit",
       [&] {
         kv::gui::OpenCompanyEditDialog(Th("บริษัท ตัวอย่าง จำกัด"), Th("C:\\KORVA\\DEMO"), dialogs).Run();
       }},
      {"company-report-template",
       [&] { kv::gui::ReportTemplateDialog(Th("C:\\KORVA\\TEMPLATES\\THAI"), Th("C:\\KVFIX\\Template"), dialogs).Run(); }},
  };
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  const std::string name = argc > 1 ? kv::gui::ToUtf8(argv[1]) : "list";
  const auto it = windows.find(name);
  if (it == windows.end()) {
    for (const auto& [known, show] : windows) std::printf("%s\n", known.c_str());
    return name == "list" ? 0 : 2;
  }
  it->second();
  return 0;
}
