// The company entry editor: a row's name and data directory.
#pragma once

#include <QDialog>
#include <string>

#include "gui-qt/OpenCompanyCommon.h"
#include "ui/Dialogs.h"

class QLineEdit;
class QPushButton;

namespace kv::gui {

class OpenCompanyEditDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kNameLength = 50;

  // name and directory as stored (CP874).
  OpenCompanyEditDialog(const std::string& name, const std::string& directory, ui::Dialogs& dialogs,
                        QWidget* parent = nullptr);

  std::string Name() const;
  std::string Directory() const;

  QLineEdit* NameField() const { return name_; }
  QLineEdit* DirectoryField() const { return directory_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private slots:
  void Btn_OkClick();
  void Btn_BrowseClick();

 private:
  ui::Dialogs& dialogs_;
  QLineEdit* name_;
  QLineEdit* directory_;
  EditButtons buttons_;
};

}  // namespace kv::gui
