// The findings of a company check from the company list's menu: the count line, the
// list (file, kind, place, text), "คัดลอก (&C)" to put the text lines on the clipboard,
// and "ปิด". Everything it shows comes from desktop/CompanyCheck.
#pragma once

#include <windows.h>

#include "desktop/CompanyCheck.h"
#include "gui-win32/DialogWindow.h"

namespace kv::gui {

class CheckFindingsDialog : public DialogWindow {
 public:
  explicit CheckFindingsDialog(const desktop::CheckListing& listing, HWND owner = nullptr);
  void Run() { RunModal(); }

  static constexpr int kCountId = 10;
  static constexpr int kListId = 11;
  static constexpr int kCopyId = 12;

 protected:
  void OnShow() override;
  void OnCommand(int id, int code, HWND control) override;
  bool PreTranslate(MSG& msg) override;

 private:
  void Copy();

  const desktop::CheckListing& listing_;
};

}  // namespace kv::gui
