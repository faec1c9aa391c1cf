// The company selection window: the company list in a list view, the check box for the
// automatic choice, and the commands of the list on buttons, a context menu and keys.
// The rules live in company::CompanySelection; this window shows its rows and forwards
// its commands.
#pragma once

#include <exception>
#include <string>
#include <vector>

#include "company/CompanyList.h"
#include "company/Settings.h"
#include "desktop/CompanyCommands.h"
#include "desktop/CompanyReports.h"
#include "gui-win32/DialogWindow.h"
#include "ui/Dialogs.h"

namespace kv::gui {

class OpenCompanyDialog : public DialogWindow, public company::CompanyView {
 public:
  static constexpr int kGridId = 300;
  static constexpr int kEditId = 301;
  static constexpr int kAutoSelectId = 302;
  static constexpr int kGroupId = 303;
  // Client area at 100 %.
  static constexpr int kClientWidth = 714;
  static constexpr int kClientHeight = 367;

  OpenCompanyDialog(company::Settings& settings, ui::Dialogs& dialogs, HWND owner = nullptr);
  ~OpenCompanyDialog() override;

  company::CompanySelection& Selection() { return selection_; }
  // Shows the window when no automatic choice applies; rethrows a file error that ended
  // the window (platform::IoError).
  bool SelectCompany() { return selection_.SelectCompany(); }
  // After SelectCompany returned false: the undo the menu asked for, if any.
  const desktop::CompanyChoice& MenuChoice() const { return menuChoice_; }

  // CompanyView
  int CurrentRow() const override;
  void SetCurrentRow(int row) override;
  int TopRow() const override;
  void SetTopRow(int row) override;
  int NameColumnWidth() const override;
  void SetNameColumnWidth(int width) override;
  bool AutoSelectChecked() const override;
  void SetAutoSelectChecked(bool checked) override;
  void Refresh() override;
  void SetBusy(bool busy) override;
  bool RunEntryEditor(std::string& name, std::string& directory) override;
  bool RunTemplateEditor(std::string& templateDir) override;
  bool RunModal() override;

  // The list is loaded and shown (and the first editor, if any, has closed).
  bool IsReady() const { return ready_; }
  HWND Grid() const { return Item(kGridId); }
  HWND SelectButton() const { return Item(IDOK); }

  void FitClient(int maxWidth, int maxHeight) override;
  // Places the controls for a client size (device pixels).
  void LayOut(int width, int height);

 protected:
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
  void OnCommand(int id, int code, HWND control) override;
  void OnCancel() override;
  void OnShow() override;
  bool PreTranslate(MSG& msg) override;

 private:
  // The menu's item ids: the command's place in the command table after this.
  static constexpr int kMenuIdBase = 401;

  void FormShow();
  void RunCommand(desktop::CompanyCommand command);
  void EndDialog(int result);
  // The grid's menu at a screen point, or at the current row when `keyboard`.
  void PopupMenu(POINT at, bool keyboard);
  LRESULT CustomDraw(LPARAM lParam);  // NM_CUSTOMDRAW of the list
  void StretchLastColumn();
  void UpdateSelectButton();
  void TakeFocusBack();
  // Runs a command of the selection; a file error ends the window and is rethrown by
  // RunModal once the loop has returned.
  template <class F>
  void Guarded(F&& command);

  company::Settings& settings_;
  ui::Dialogs& dialogs_;
  company::CompanySelection selection_;
  COLORREF band_ = RGB(255, 255, 255);
  std::exception_ptr failure_;
  std::wstring cellText_;
  desktop::CompanyChoice menuChoice_;
  // The open menu's items by position, for its letters typed in the Thai layout
  // (WM_MENUCHAR): the command of each, or none for a separator.
  std::vector<int> menuCommands_;
  bool ready_ = false;
  bool closed_ = false;
  int busy_ = 0;
};

}  // namespace kv::gui
