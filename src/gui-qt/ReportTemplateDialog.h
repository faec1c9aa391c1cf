// The report template editor: the program's default templates or a directory of the
// user's own.
#pragma once

#include <QDialog>
#include <string>

#include "gui-qt/OpenCompanyCommon.h"
#include "ui/Dialogs.h"

class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kv::gui {

class ReportTemplateDialog : public QDialog {
  Q_OBJECT

 public:
  // templateDir: the row's template (CP874), empty for the default; defaultDir is what
  // the field shows for the default.
  ReportTemplateDialog(const std::string& templateDir, const std::string& defaultDir, ui::Dialogs& dialogs,
                       QWidget* parent = nullptr);

  bool CustomChosen() const;
  // The template to store with OK: empty for the default, else the field's text.
  std::string TemplateDirectory() const;

  QRadioButton* DefaultButton() const { return default_; }
  QRadioButton* CustomButton() const { return custom_; }
  QLineEdit* DirectoryField() const { return directory_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private slots:
  void Btn_OkClick();
  void Btn_BrowseClick();
  void ChoiceChanged();

 private:
  ui::Dialogs& dialogs_;
  QGroupBox* group_;
  QRadioButton* default_;
  QRadioButton* custom_;
  QLineEdit* directory_;
  EditButtons buttons_;
};

}  // namespace kv::gui
