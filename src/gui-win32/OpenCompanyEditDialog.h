// The company entry editor: a row's company name and data directory.
#pragma once

#include <string>

#include "gui-win32/DialogWindow.h"
#include "ui/Dialogs.h"

namespace kv::gui {

class OpenCompanyEditDialog : public DialogWindow {
 public:
  static constexpr int kNameLength = 50;
  static constexpr int kNameId = 101;
  static constexpr int kDirectoryId = 102;

  // name and directory: the row's fields (CP874).
  OpenCompanyEditDialog(const std::string& name, const std::string& directory, ui::Dialogs& dialogs,
                        HWND owner = nullptr);

  // Shows it modally: true when it ended with OK (the directory checked).
  bool Run() { return RunModal() == IDOK; }
  std::string Name() const;
  std::string Directory() const;

  HWND NameField() const { return Item(kNameId); }
  HWND DirectoryField() const { return Item(kDirectoryId); }

 protected:
  void OnShow() override;
  void OnCommand(int id, int code, HWND control) override;
  bool PreTranslate(MSG& msg) override;

 private:
  void Btn_OkClick();
  void Btn_BrowseClick();

  ui::Dialogs& dialogs_;
};

}  // namespace kv::gui
