// The question about a temporary file left by an interrupted repair of the suite: it
// explains the leftovers, shows the file's name and both sizes, and asks whether the
// temporary file is to become the normal file again.
#pragma once

#include <string>

#include "gui-win32/DialogWindow.h"

namespace kv::gui {

class FixRecovDialog : public DialogWindow {
 public:
  FixRecovDialog(const std::wstring& fileName, const std::wstring& tempSize, const std::wstring& normalSize,
                 HWND owner = nullptr);

  HWND paragraphLabel() const { return paragraph_; }
  HWND yesButton() const { return Item(IDYES); }
  HWND noButton() const { return Item(IDNO); }
  // Shows it modally: true only for Yes.
  bool Run() { return RunModal() == IDYES; }

  // The explanation above the file's name and sizes.
  static std::wstring ParagraphText();

 protected:
  void OnShow() override;
  void OnCommand(int id, int code, HWND control) override;
  void OnCancel() override;
  bool PreTranslate(MSG& msg) override;

 private:
  HWND paragraph_ = nullptr;
};

}  // namespace kv::gui
