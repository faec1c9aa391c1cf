#include "gui-win32/MainWindow.h"

#include <commctrl.h>

#include <algorithm>

#include "app/Version.h"
#include "gui-win32/MessageDialogs.h"
#include "gui-win32/PlaceDialog.h"
#include "gui-win32/Win32Dialogs.h"
#include "gui-win32/WinText.h"

namespace kv::gui {
namespace {

using L = desktop::MainWindowLayout;
constexpr int kAppIconId = 1;

}  // namespace

void BarProgress::SetStatus(const std::string& cp874) {
  if (status_) ::SetWindowTextW(status_, FromCp874(cp874).c_str());
}

void BarProgress::SetBar(int value) {
  if (bar_) ::SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

void BarProgress::HandleEvents() { DialogWindow::PumpPending(); }

MainWindow::MainWindow(desktop::RunControl& run, Win32Dialogs& dialogs)
    : run_(run, dialogs, progress_,
           {.showCompany = [this](const std::string& dir) { ::SetWindowTextW(hwnd(), FromCp874(dir).c_str()); },
            .beginRunning = [this] { BeginRunning(); },
            .waitAgain =
                [this] {
                  ::EnableWindow(fixButton(), TRUE);
                  ::EnableWindow(cancelButton(), TRUE);
                  SetDefaultButton(kFixId);
                },
            .close = [this] { CloseWindow(); },
            .closeLater = [this] { ::PostMessageW(hwnd(), WM_CLOSE, 0, 0); },
            .beginUndo = [this] { BeginUndo(); },
            .endUndo = [this] { EndUndo(); }}) {
  // A fixed single border with the system menu and the minimise box; shown on the task bar.
  Create(nullptr, L"Form1", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, WS_EX_APPWINDOW);
  SetClientSize(kClientWidth, kClientHeight);
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  const auto big = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kAppIconId), IMAGE_ICON,
                                                    ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
  const auto small = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kAppIconId), IMAGE_ICON,
                                                      ::GetSystemMetrics(SM_CXSMICON),
                                                      ::GetSystemMetrics(SM_CYSMICON), 0));
  if (big) ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  if (small) ::SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));

  // The warning panel (its bevels are painted by the window): picture, heading, line.
  constexpr desktop::Rect kPicture = L::InWindow(L::kPicture);
  HWND picture = AddControl(L"STATIC", L"", SS_ICON | SS_CENTERIMAGE, kPicture.x, kPicture.y, kPicture.width,
                            kPicture.height, 10);
  ::SendMessageW(picture, STM_SETICON, reinterpret_cast<WPARAM>(StandardIcon(IconKind::kWarning, S(kPicture.width))),
                 0);
  Place(picture, S(kPicture.x), S(kPicture.y), S(kPicture.width), S(kPicture.height));
  constexpr desktop::Rect kHeading = L::InWindow(L::kHeading);
  MakeRed(AddControl(L"STATIC", Caption("คำเตือน"), SS_LEFT | SS_NOPREFIX, kHeading.x, kHeading.y, kHeading.width,
                     kHeading.height, 11, Font(15, true)));
  constexpr desktop::Rect kBackup = L::InWindow(L::kBackupLine);
  AddControl(L"STATIC", Caption("โปรดสำรองแฟ้มข้อมูลก่อนทำขั้นตอนนี้."), SS_LEFT | SS_NOPREFIX, kBackup.x, kBackup.y,
             kBackup.width, kBackup.height, 12);

  bar_ = AddControl(PROGRESS_CLASSW, L"", 0, L::kBar.x, L::kBar.y, L::kBar.width, L::kBar.height, 13);
  ::SendMessageW(bar_, PBM_SETRANGE32, 0, app::RunStatus::BarMaximum());
  ::SendMessageW(bar_, PBM_SETPOS, 0, 0);
  // One line of text high, whatever the font's descent (the buttons start 9 pixels lower).
  status_ = AddControl(L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, L::kStatus.x, L::kStatus.y,
                       L::kStatus.width, L::kStatus.height, 14);
  Place(status_, S(L::kStatus.x), S(L::kStatus.y), S(L::kStatus.width),
        std::max<int>(S(L::kStatus.height), TextExtent(hwnd(), Font(), L"Ag").cy));
  progress_.Attach(bar_, status_);

  AddControl(L"BUTTON", L"Fix...", BS_DEFPUSHBUTTON | WS_TABSTOP, L::kFix.x, L::kFix.y, L::kFix.width, L::kFix.height,
             kFixId);
  AddControl(L"BUTTON", Caption("ยกเลิก"), BS_PUSHBUTTON | WS_TABSTOP, L::kCancel.x, L::kCancel.y, L::kCancel.width,
             L::kCancel.height, IDCANCEL);
  SetDefaultButton(kFixId);

  MakeRed(AddControl(L"STATIC", Caption(desktop::kTechnicalSupportWarning), SS_CENTER | SS_NOPREFIX, L::kFooter.x,
                     L::kFooter.y, L::kFooter.width, L::kFooter.height, 15, Font(12, true)));

  // The version, for a support person to quote: the last line of the system menu (Alt+Space
  // or the icon), shown in full but inert, so the window's layout stays as it is.
  if (HMENU menu = ::GetSystemMenu(hwnd(), FALSE)) {
    constexpr UINT kVersionMenuId = 0x0010;  // below 0xF000, a multiple of 16: a system command of our own
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING | MF_DISABLED, kVersionMenuId, FromUtf8(app::VersionLine("KVFIX207")).c_str());
  }

  // Centred on the desktop.
  CentreOnScreen(*this);
}

MainWindow::~MainWindow() = default;

void MainWindow::Show() {
  ::ShowWindow(hwnd(), SW_SHOW);
  ::SetForegroundWindow(hwnd());
  FocusControl(fixButton());
}

void MainWindow::BeginRunning() {
  HWND focus = ::GetFocus();
  if (focus == nullptr || focus == fixButton() || ::GetAncestor(focus, GA_ROOT) != hwnd()) {
    FocusControl(cancelButton());
  }
  SetDefaultButton(IDCANCEL);
  ::EnableWindow(fixButton(), FALSE);
}

void MainWindow::BeginUndo() {
  // The window does the undo's work as it does the repair's: the bar, the line, "ยกเลิก"
  // (and Esc, the close box) to stop it.
  ::EnableWindow(fixButton(), FALSE);
  ::EnableWindow(cancelButton(), TRUE);
  SetDefaultButton(IDCANCEL);
  ::ShowWindow(hwnd(), SW_SHOW);
  ::SetForegroundWindow(hwnd());
  FocusControl(cancelButton());
}

void MainWindow::EndUndo() {
  ::ShowWindow(hwnd(), SW_HIDE);
  ::SendMessageW(bar_, PBM_SETPOS, 0, 0);
  ::SetWindowTextW(status_, L"");
  ::SetWindowTextW(hwnd(), L"Form1");
  ::EnableWindow(fixButton(), TRUE);
  SetDefaultButton(kFixId);
}

void MainWindow::CancelButtonClick() {
  // During a run or an undo: the stop; the window closes at a run's end.
  if (run_.Running()) {
    run_.RequestStop();
    return;
  }
  if (run_.MayClose()) CloseWindow();
}

void MainWindow::OnCommand(int id, int /*code*/, HWND /*control*/) {
  if (id == kFixId && ::IsWindowEnabled(fixButton())) FixButtonClick();
}

void MainWindow::OnCancel() {
  // "ยกเลิก" and Esc.
  if (::IsWindowEnabled(cancelButton())) CancelButtonClick();
}

void MainWindow::OnClose() {
  // The close box stops a run or an undo too, and the program ends after it.
  if (run_.MayClose()) CloseWindow();
}

bool MainWindow::PreTranslate(MSG& msg) {
  // Buttons take Enter as the window's default button; here it presses the one that has
  // the focus, as on the suite's own windows.
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN) return ClickFocusedButton();
  return false;
}

bool MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  if (message == WM_PAINT) {
    // The warning panel: a lowered outer bevel around a raised inner one.
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(hwnd(), &paint);
    RECT panel{S(L::kPanel.x), S(L::kPanel.y), S(L::kPanel.Right()), S(L::kPanel.Bottom())};
    ::DrawEdge(dc, &panel, BDR_SUNKENOUTER | BDR_RAISEDINNER, BF_RECT);
    ::EndPaint(hwnd(), &paint);
    result = TRUE;
    return true;
  }
  return DialogWindow::HandleMessage(message, wParam, lParam, result);
}

void MainWindow::CloseWindow() {
  if (closed_) return;
  run_.StopEngine();
  closed_ = true;
  ::ShowWindow(hwnd(), SW_HIDE);
  ::PostQuitMessage(run_.ExitCode());
}

}  // namespace kv::gui
