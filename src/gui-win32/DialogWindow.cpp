#include "gui-win32/DialogWindow.h"

#include <commctrl.h>

#include <cstdlib>
#include <vector>

#include "gui-win32/WinText.h"

namespace kv::gui {
namespace {

const wchar_t kWindowProperty[] = L"kvfix207.window";

}  // namespace

DialogWindow::~DialogWindow() {
  if (hwnd_) {
    ::RemovePropW(hwnd_, kWindowProperty);
    ::SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
    ::DestroyWindow(hwnd_);
  }
}

void DialogWindow::Create(HWND owner, const std::wstring& title, DWORD style, DWORD exStyle) {
  // An empty template: the controls are created at pixel positions afterwards, not in
  // dialog units, so the layouts stand as they are given.
  std::vector<WORD> buffer(64, 0);
  auto* dialog = reinterpret_cast<DLGTEMPLATE*>(buffer.data());
  dialog->style = style & ~static_cast<DWORD>(WS_VISIBLE);
  dialog->dwExtendedStyle = exStyle;
  dialog->cdit = 0;
  // Menu, class and title words follow the header, all zero (the buffer is zeroed and
  // aligned as the template must be).
  hwnd_ = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), dialog, owner, &DialogWindow::Procedure,
                                       reinterpret_cast<LPARAM>(this));
  if (!hwnd_) return;
  dpi_ = WindowDpi(hwnd_);
  ::SetWindowTextW(hwnd_, title.c_str());
  ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(Font()), FALSE);
}

int DialogWindow::S(int px) const { return ScalePx(px, dpi_); }

HFONT DialogWindow::Font(int pixelSize, bool bold) const { return TahomaFont(pixelSize, bold, dpi_); }

DialogWindow* DialogWindow::FromHwnd(HWND window) {
  if (!window) return nullptr;
  return static_cast<DialogWindow*>(::GetPropW(window, kWindowProperty));
}

void DialogWindow::Place(HWND control, int x, int y, int width, int height) {
  ::SetWindowPos(control, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void DialogWindow::SetDeviceClientSize(int width, int height) {
  RECT rect{0, 0, width, height};
  const DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(hwnd_, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(::GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
  using AdjustForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = reinterpret_cast<AdjustForDpi>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
  if (adjustForDpi) {
    adjustForDpi(&rect, style, FALSE, exStyle, dpi_);
  } else {
    ::AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  }
  ::SetWindowPos(hwnd_, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND DialogWindow::AddControl(const wchar_t* windowClass, const std::wstring& text, DWORD style, int x, int y,
                              int width, int height, int id, HFONT font, DWORD exStyle) {
  HWND control = ::CreateWindowExW(exStyle, windowClass, text.c_str(), style | WS_CHILD | WS_VISIBLE, S(x), S(y),
                                   S(width), S(height), hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font ? font : Font()), FALSE);
  return control;
}

void DialogWindow::FocusControl(HWND control) {
  if (control) ::SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

void DialogWindow::SetDefaultButton(int id) { ::SendMessageW(hwnd_, DM_SETDEFID, static_cast<WPARAM>(id), 0); }

bool DialogWindow::IsButton(HWND control) const {
  if (!control || ::GetParent(control) != hwnd_) return false;
  wchar_t name[16] = {};
  ::GetClassNameW(control, name, 16);
  if (::lstrcmpiW(name, L"Button") != 0) return false;
  const LONG_PTR type = ::GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

bool DialogWindow::ClickFocusedButton() {
  HWND focus = ::GetFocus();
  if (!IsButton(focus) || !::IsWindowEnabled(focus)) return false;
  ::SendMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(focus), BN_CLICKED), reinterpret_cast<LPARAM>(focus));
  return true;
}

void DialogWindow::OnCancel() {
  if (modal_) EndModal(IDCANCEL);
}

int DialogWindow::RunModal() {
  HWND owner = ::GetWindow(hwnd_, GW_OWNER);
  const bool disableOwner = owner && ::IsWindowEnabled(owner);
  if (disableOwner) ::EnableWindow(owner, FALSE);
  modal_ = true;
  ended_ = false;
  result_ = IDCANCEL;
  ::ShowWindow(hwnd_, SW_SHOW);
  ::SetForegroundWindow(hwnd_);
  OnShow();
  MSG msg;
  while (!ended_) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      result_ = IDCANCEL;
      break;
    }
    DispatchOne(msg);
  }
  // The owner is enabled before this window hides, so that it, and not some other
  // program, becomes active again.
  if (disableOwner) ::EnableWindow(owner, TRUE);
  ::ShowWindow(hwnd_, SW_HIDE);
  if (owner) ::SetActiveWindow(owner);
  modal_ = false;
  return result_;
}

void DialogWindow::EndModal(int result) {
  result_ = result;
  ended_ = true;
  // Wakes the loop should it wait.
  ::PostMessageW(hwnd_, WM_NULL, 0, 0);
}

void DialogWindow::DispatchOne(MSG& msg) {
  HWND root = msg.hwnd ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (DialogWindow* window = FromHwnd(root)) {
    if (window->PreTranslate(msg)) return;
    if (::IsDialogMessageW(root, &msg)) return;
  }
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
}

void DialogWindow::PumpPending() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    DispatchOne(msg);
  }
}

bool DialogWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        OnCancel();  // Esc, or the button of that id
      } else {
        OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      }
      result = TRUE;
      return true;
    case WM_DPICHANGED:
      Rescale(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      result = 0;
      return true;
    case WM_CLOSE:
      OnClose();
      result = TRUE;
      return true;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      if (red_.count(reinterpret_cast<HWND>(lParam)) != 0) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, RGB(255, 0, 0));
        ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
        result = reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_BTNFACE));
        return true;
      }
      return false;
    default:
      return false;
  }
}

void DialogWindow::Rescale(UINT newDpi, const RECT& suggested) {
  // Moved to a screen of another scale: every control keeps its place and size in layout
  // pixels, and its font its height, at the new scale.
  const UINT oldDpi = dpi_;
  if (newDpi == 0 || newDpi == oldDpi) return;
  dpi_ = newDpi;
  for (HWND child = ::GetWindow(hwnd_, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    RECT rect{};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&rect), 2);
    const auto scale = [&](LONG v) { return MulDiv(v, static_cast<int>(newDpi), static_cast<int>(oldDpi)); };
    Place(child, scale(rect.left), scale(rect.top), scale(rect.right - rect.left), scale(rect.bottom - rect.top));
    if (auto font = reinterpret_cast<HFONT>(::SendMessageW(child, WM_GETFONT, 0, 0))) {
      LOGFONTW logical{};
      if (::GetObjectW(font, sizeof(logical), &logical) != 0) {
        const int pixels = MulDiv(std::abs(static_cast<int>(logical.lfHeight)), 96, static_cast<int>(oldDpi));
        ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(TahomaFont(pixels, logical.lfWeight >= FW_BOLD, newDpi)),
                       TRUE);
      }
    }
  }
  ::SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  ::InvalidateRect(hwnd_, nullptr, TRUE);
}

INT_PTR CALLBACK DialogWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<DialogWindow*>(lParam);
    self->hwnd_ = window;
    ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    ::SetPropW(window, kWindowProperty, self);
    return FALSE;  // the window sets its own focus when it shows
  }
  auto* self = reinterpret_cast<DialogWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (!self) return FALSE;
  INT_PTR result = 0;
  if (!self->HandleMessage(message, wParam, lParam, result)) return FALSE;
  if (message == WM_NOTIFY || message == WM_MENUCHAR || message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORBTN ||
      message == WM_CTLCOLOREDIT) {
    // A dialog procedure hands most results back through DWLP_MSGRESULT.
    if (message == WM_NOTIFY || message == WM_MENUCHAR) {
      ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
      return TRUE;
    }
    return result;
  }
  return result;
}

}  // namespace kv::gui
