// What every window of the program is built on: a dialog-class window (so the window
// system's dialog manager gives Tab and Shift+Tab, the default button, Esc and the
// accelerator letters) created empty and filled with controls at the layouts' pixel
// positions, scaled to the window's screen. Modal windows run their own message loop;
// every loop, and the pump that keeps a run's window painting, offers each key to the
// window it belongs to first (PreTranslate), so every window handles its own keys.
#pragma once

#include <windows.h>

#include <set>
#include <string>

#include "desktop/Layouts.h"

namespace kv::gui {

class DialogWindow {
 public:
  DialogWindow(const DialogWindow&) = delete;
  DialogWindow& operator=(const DialogWindow&) = delete;
  virtual ~DialogWindow();

  HWND hwnd() const { return hwnd_; }
  UINT dpi() const { return dpi_; }
  // A layout measure (pixels at 100 %) at this window's scale.
  int S(int px) const;

  // Shows the window, runs the modal loop until EndModal and returns its result; the
  // owner takes no input meanwhile. A quit request met in the loop ends it with
  // IDCANCEL and is passed on to the loop outside.
  int RunModal();
  void EndModal(int result);
  bool InModal() const { return modal_; }

  // Client size in layout pixels; the window takes the frame around it.
  void SetClientSize(int width, int height) { SetDeviceClientSize(S(width), S(height)); }
  // The same in device pixels.
  void SetDeviceClientSize(int width, int height);
  // The window larger than the room it has (a large scale on a small screen): gets at
  // most this client size (device pixels). Windows with a list give up rows.
  virtual void FitClient(int /*maxWidth*/, int /*maxHeight*/) {}

  // Offers a message to the window it belongs to, then to the dialog manager of that
  // window, then dispatches it.
  static void DispatchOne(MSG& msg);
  // Handles every waiting message once (a run that keeps its window painting).
  static void PumpPending();
  static DialogWindow* FromHwnd(HWND window);

 protected:
  DialogWindow() = default;
  // Creates the hidden, empty window with the title and the frame styles.
  void Create(HWND owner, const std::wstring& title, DWORD style, DWORD exStyle = 0);

  // A control at layout pixels (scaled), in the 15-pixel Tahoma unless `font` is given.
  HWND AddControl(const wchar_t* windowClass, const std::wstring& text, DWORD style, int x, int y, int width,
                  int height, int id, HFONT font = nullptr, DWORD exStyle = 0);
  // Moves a control, device pixels.
  static void Place(HWND control, int x, int y, int width, int height);
  static void Place(HWND control, const desktop::Rect& r) { Place(control, r.x, r.y, r.width, r.height); }
  HWND Item(int id) const { return ::GetDlgItem(hwnd_, id); }
  HFONT Font(int pixelSize = 15, bool bold = false) const;
  void MakeRed(HWND control) { red_.insert(control); }
  // Moves the keyboard focus the dialog manager's way (the default button follows).
  void FocusControl(HWND control);
  // Makes `id` the default push button.
  void SetDefaultButton(int id);
  bool IsButton(HWND control) const;
  // Enter presses the focused button: true when it did.
  bool ClickFocusedButton();

  // Before the dialog manager sees a message of this window: true when handled.
  virtual bool PreTranslate(MSG& /*msg*/) { return false; }
  // The window procedure's share of the subclass: a message handled sets `result`.
  virtual bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
  virtual void OnCommand(int /*id*/, int /*code*/, HWND /*control*/) {}
  // After the window is shown by RunModal: placement and the first focus.
  virtual void OnShow() {}
  // Esc and a button with the id IDCANCEL: the default ends a modal window with IDCANCEL.
  virtual void OnCancel();
  // The close box and the system menu's close: as Esc unless a window says otherwise.
  virtual void OnClose() { OnCancel(); }

 private:
  // A new scale (the window moved to another screen): controls and fonts follow it.
  void Rescale(UINT newDpi, const RECT& suggested);
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
  UINT dpi_ = 96;
  bool modal_ = false;
  bool ended_ = false;
  int result_ = IDCANCEL;
  std::set<HWND> red_;
};

}  // namespace kv::gui
