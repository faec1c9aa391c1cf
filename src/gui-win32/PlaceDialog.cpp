#include "gui-win32/PlaceDialog.h"

#include <algorithm>

#include "gui-win32/DialogWindow.h"
#include "desktop/DesktopRules.h"

namespace kv::gui {
namespace {

desktop::ScreenArea WorkArea() {
  RECT area{};
  if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) return {};
  return {area.left, area.top, area.right - area.left, area.bottom - area.top};
}

SIZE OuterSize(HWND window) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

// A window larger than the free area is fitted into it: its client loses what does not fit.
void FitToScreen(DialogWindow& window) {
  const desktop::ScreenArea area = WorkArea();
  if (area.Empty()) return;
  const SIZE outer = OuterSize(window.hwnd());
  if (outer.cx <= area.width && outer.cy <= area.height) return;
  RECT client{};
  ::GetClientRect(window.hwnd(), &client);
  const int frameWidth = outer.cx - client.right;
  const int frameHeight = outer.cy - client.bottom;
  window.FitClient(std::min<int>(client.right, area.width - frameWidth),
                   std::min<int>(client.bottom, area.height - frameHeight));
}

void MoveTo(DialogWindow& window, desktop::ScreenPoint wanted) {
  const SIZE outer = OuterSize(window.hwnd());
  const desktop::ScreenPoint at = desktop::KeptOnScreen(wanted, outer.cx, outer.cy, WorkArea());
  ::SetWindowPos(window.hwnd(), nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

bool IsNt6OrLater() {
  // RtlGetVersion tells the true version, whatever the compatibility settings claim.
  static const bool nt6 = [] {
    using GetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto getVersion = reinterpret_cast<GetVersionFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!getVersion || getVersion(&info) != 0) return true;
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion > 5;
  }();
  return nt6;
}

void PlaceDialog(DialogWindow& window) {
  FitToScreen(window);
  const SIZE outer = OuterSize(window.hwnd());
  const int raise = IsNt6OrLater() ? 5 : 3;
  MoveTo(window, desktop::PlacedPosition(outer.cx, outer.cy, ::GetSystemMetrics(SM_CXSCREEN),
                                    ::GetSystemMetrics(SM_CYSCREEN), raise));
  DialogWindow::PumpPending();
}

void CentreOnScreen(DialogWindow& window) {
  FitToScreen(window);
  const SIZE outer = OuterSize(window.hwnd());
  MoveTo(window, {(::GetSystemMetrics(SM_CXSCREEN) - outer.cx) / 2, (::GetSystemMetrics(SM_CYSCREEN) - outer.cy) / 2});
}

}  // namespace kv::gui
