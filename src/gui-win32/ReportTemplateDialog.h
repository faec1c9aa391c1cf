// The report template editor: the program's default templates or a directory of the
// user's own.
#pragma once

#include <string>

#include "gui-win32/DialogWindow.h"
#include "ui/Dialogs.h"

namespace kv::gui {

class ReportTemplateDialog : public DialogWindow {
 public:
  static constexpr int kDefaultId = 101;
  static constexpr int kCustomId = 102;
  static constexpr int kDirectoryId = 103;

  // templateDir: the row's template (CP874), empty for the default; defaultDir is what
  // the field shows for the default.
  ReportTemplateDialog(const std::string& templateDir, const std::string& defaultDir, ui::Dialogs& dialogs,
                       HWND owner = nullptr);

  bool Run() { return RunModal() == IDOK; }
  bool CustomChosen() const;
  // The template to store with OK: empty for the default, else the field's text.
  std::string TemplateDirectory() const;

  HWND DefaultButton() const { return Item(kDefaultId); }
  HWND CustomButton() const { return Item(kCustomId); }
  HWND DirectoryField() const { return Item(kDirectoryId); }

 protected:
  void OnShow() override;
  void OnCommand(int id, int code, HWND control) override;
  bool PreTranslate(MSG& msg) override;

 private:
  void Btn_OkClick();
  void Btn_BrowseClick();
  void ChoiceChanged();

  ui::Dialogs& dialogs_;
};

}  // namespace kv::gui
