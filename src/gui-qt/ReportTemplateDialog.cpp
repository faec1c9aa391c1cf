#include "gui-qt/ReportTemplateDialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "company/CompanyList.h"
#include "gui-qt/OpenCompanyCommon.h"
#include "gui-qt/PlaceDialog.h"

namespace kv::gui {

ReportTemplateDialog::ReportTemplateDialog(const std::string& templateDir, const std::string& defaultDir,
                                           ui::Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), dialogs_(dialogs) {
  MakeFixedDialog(*this, QStringLiteral("Report Template"), 491, 158);
  setObjectName(QStringLiteral("ReportTemplateDialog"));

  group_ = new QGroupBox(Caption("กำหนดเท็มเพลตรายงาน"), this);
  default_ = new QRadioButton(Caption("ค่าปกติที่โปรแกรมกำหนดไว้"), group_);
  custom_ = new QRadioButton(Caption("กำหนดเอง:"), group_);
  directory_ = new QLineEdit(group_);
  QHBoxLayout* buttons = MakeEditButtons(*this, group_, buttons_);

  auto* inside = new QGridLayout(group_);
  inside->addWidget(default_, 0, 0, 1, 3);
  inside->addWidget(custom_, 1, 0);
  inside->addWidget(directory_, 1, 1);
  inside->addWidget(buttons_.browse, 1, 2);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group_);
  layout->addLayout(buttons);

  if (!templateDir.empty()) {
    custom_->setChecked(true);
    directory_->setText(FromCp874(templateDir));
  } else {
    default_->setChecked(true);
    directory_->setText(FromCp874(defaultDir));
  }
  ChoiceChanged();

  connect(default_, &QRadioButton::toggled, this, &ReportTemplateDialog::ChoiceChanged);
  ConnectEditButtons(*this, buttons_, &ReportTemplateDialog::Btn_OkClick, &ReportTemplateDialog::Btn_BrowseClick);
}

bool ReportTemplateDialog::CustomChosen() const { return custom_->isChecked(); }

std::string ReportTemplateDialog::TemplateDirectory() const {
  return CustomChosen() ? ToCp874(directory_->text()) : std::string();
}

void ReportTemplateDialog::ChoiceChanged() {
  directory_->setEnabled(CustomChosen());
  buttons_.browse->setEnabled(CustomChosen());
}

void ReportTemplateDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (CustomChosen()) {
    directory_->setFocus();
  } else {
    default_->setFocus();
  }
  PlaceDialog(this);
}

void ReportTemplateDialog::Btn_OkClick() {
  if (!CustomChosen()) {
    accept();
    return;
  }
  std::string directory;
  if (TakePathField(*directory_, dialogs_, directory) && company::ValidateTemplateDirectory(directory, dialogs_))
    accept();
}

void ReportTemplateDialog::Btn_BrowseClick() {
  BrowseForDirectory(this, Caption("กำหนดเท็มเพลตรายงาน"), *directory_);
}

}  // namespace kv::gui
