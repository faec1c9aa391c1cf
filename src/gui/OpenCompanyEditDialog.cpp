#include "gui/OpenCompanyEditDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "company/CompanyList.h"
#include "gui/OpenCompanyCommon.h"
#include "gui/PlaceDialog.h"

namespace kv::gui {

OpenCompanyEditDialog::OpenCompanyEditDialog(const std::string& name, const std::string& directory,
                                             ui::Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), dialogs_(dialogs) {
  MakeFixedDialog(*this, QStringLiteral("Edit Company"), 494, 150);
  setObjectName(QStringLiteral("OpenCompanyEditDialog"));

  name_ = new QLineEdit(FromCp874(name), this);
  name_->setMaxLength(kNameLength);
  directory_ = new QLineEdit(FromCp874(directory), this);
  browse_ = new QPushButton(QStringLiteral("..."), this);
  browse_->setFixedWidth(28);
  browse_->setAutoDefault(false);
  ok_ = new QPushButton(Caption("ตกลง"), this);
  ok_->setDefault(true);
  cancel_ = new QPushButton(Caption("ยกเลิก"), this);
  cancel_->setAutoDefault(false);

  auto* fields = new QGridLayout;
  fields->addWidget(new QLabel(Caption("ชื่อกิจการ:"), this), 0, 0);
  fields->addWidget(name_, 0, 1, 1, 2);
  fields->addWidget(new QLabel(Caption("ไดเร็คทอรี่ของแฟ้มข้อมูล:"), this), 1, 0);
  fields->addWidget(directory_, 1, 1);
  fields->addWidget(browse_, 1, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addStretch();
  layout->addLayout(buttons);

  connect(ok_, &QPushButton::clicked, this, &OpenCompanyEditDialog::Btn_OkClick);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(browse_, &QPushButton::clicked, this, &OpenCompanyEditDialog::Btn_BrowseClick);
  connect(new QShortcut(Qt::Key_F10, this), &QShortcut::activated, this, &OpenCompanyEditDialog::Btn_OkClick);
}

std::string OpenCompanyEditDialog::Name() const { return ToCp874(name_->text()); }
std::string OpenCompanyEditDialog::Directory() const { return ToCp874(directory_->text()); }

void OpenCompanyEditDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  name_->setFocus();
  PlaceDialog(this);
}

void OpenCompanyEditDialog::Btn_OkClick() {
  if (company::ValidateEntryDirectory(Directory(), dialogs_)) accept();
}

void OpenCompanyEditDialog::Btn_BrowseClick() {
  QString chosen = QFileDialog::getExistingDirectory(this, Caption("ไดเร็คทอรี่ของแฟ้มข้อมูล"), directory_->text());
  if (!chosen.isEmpty()) directory_->setText(QDir::toNativeSeparators(QDir(chosen).absolutePath()));
}

}  // namespace kv::gui
