// The company selection window: the company list in a grid, the check box for the
// automatic choice, and the commands of the list on buttons, a context menu and keys.
// The rules live in company::CompanySelection; this window shows its rows and forwards
// its commands.
#pragma once

#include <QDialog>
#include <array>
#include <exception>
#include <string>

#include "company/CompanyList.h"
#include "company/Settings.h"
#include "desktop/CompanyCommands.h"
#include "desktop/DesktopRun.h"
#include "ui/Dialogs.h"

class QAction;
class QCheckBox;
class QMenu;
class QPushButton;
class QTableView;

namespace kv::gui {

class CompanyTableModel;

class OpenCompanyDialog : public QDialog, public company::CompanyView {
  Q_OBJECT

 public:
  OpenCompanyDialog(company::Settings& settings, ui::Dialogs& dialogs, QWidget* parent = nullptr);
  ~OpenCompanyDialog() override;

  company::CompanySelection& Selection() { return selection_; }
  // Shows the window when no automatic choice applies; rethrows a file error that ended
  // the window (platform::IoError).
  bool SelectCompany() { return selection_.SelectCompany(); }
  // After SelectCompany returned false: the undo or check the menu asked for, if any.
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

  // The controls, for the tests.
  QTableView* Grid() const { return grid_; }
  QCheckBox* AutoSelectBox() const { return autoSelect_; }
  QPushButton* SelectButton() const { return select_; }
  QMenu* ContextMenu() const { return menu_; }
  QAction* CommandAction(desktop::CompanyCommand command) const { return actions_[static_cast<size_t>(command)]; }
  QAction* SelectAction() const { return CommandAction(desktop::CompanyCommand::kSelect); }
  QAction* DeleteAction() const { return CommandAction(desktop::CompanyCommand::kDelete); }
  QAction* TemplateAction() const { return CommandAction(desktop::CompanyCommand::kTemplate); }

 public slots:
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The grid's menu from the keyboard (Shift+F10, the menu key), at the current row.
  void PopupAtCurrentRow();

 private slots:
  void FormShow();
  void Btn_SelectClick();
  void Btn_EditClick();
  void InsertClick();
  void DeleteClick();
  void MoveUpClick();
  void MoveDownClick();
  void ReportTemplateClick();
  void UndoLastClick();
  void OpenLastReportClick();
  void CheckClick();
  // Closes the list for `choice`, the work of its menu, unless it is none.
  void LeaveFor(desktop::CompanyChoice choice);
  void AutoSelectClick();
  void MenuPopup();
  void MenuClosed();
  void UpdateSelectButton();

 private:
  // The action of a row of the command table, its keys working wherever the focus is in
  // the window.
  QAction* MakeAction(const desktop::CompanyCommandEntry& entry);
  void RunCommand(desktop::CompanyCommand command);
  // Runs a command of the selection; a file error ends the window and is rethrown by
  // RunModal once the event loop has returned.
  template <class F>
  void Guarded(F&& command);
  void TakeFocusBack();

  company::Settings& settings_;
  ui::Dialogs& dialogs_;
  company::CompanySelection selection_;
  CompanyTableModel* table_;
  QTableView* grid_;
  QCheckBox* autoSelect_;
  QPushButton* select_;
  QPushButton* edit_;
  QPushButton* exit_;
  QMenu* menu_;
  std::array<QAction*, desktop::kCompanyCommandCount> actions_{};
  desktop::CompanyChoice menuChoice_;
  std::exception_ptr failure_;
  bool shownOnce_ = false;
  bool ready_ = false;
  bool closed_ = false;
  int busy_ = 0;
};

}  // namespace kv::gui
