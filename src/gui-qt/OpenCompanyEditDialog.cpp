#include "gui-qt/OpenCompanyEditDialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "company/CompanyList.h"
#include "gui-qt/OpenCompanyCommon.h"
#include "gui-qt/PlaceDialog.h"

namespace kv::gui {

OpenCompanyEditDialog::OpenCompanyEditDialog(const std::string& name, const std::string& directory,
                                             ui::Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), dialogs_(dialogs) {
  MakeFixedDialog(*this, QStringLiteral("Edit Company"), 494, 150);
  setObjectName(QStringLiteral("OpenCompanyEditDialog"));

  name_ = new QLineEdit(FromCp874(name), this);
  name_->setMaxLength(kNameLength);
  directory_ = new QLineEdit(FromCp874(directory), this);
  QHBoxLayout* buttons = MakeEditButtons(*this, this, buttons_);

  auto* fields = new QGridLayout;
  fields->addWidget(new QLabel(Caption("ชื่อกิจการ:"), this), 0, 0);
  fields->addWidget(name_, 0, 1, 1, 2);
  fields->addWidget(new QLabel(Caption("ไดเร็คทอรี่ของแฟ้มข้อมูล:"), this), 1, 0);
  fields->addWidget(directory_, 1, 1);
  fields->addWidget(buttons_.browse, 1, 2);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addStretch();
  layout->addLayout(buttons);

  ConnectEditButtons(*this, buttons_, &OpenCompanyEditDialog::Btn_OkClick, &OpenCompanyEditDialog::Btn_BrowseClick);
}

std::string OpenCompanyEditDialog::Name() const { return ToCp874(name_->text()); }
std::string OpenCompanyEditDialog::Directory() const { return ToCp874(directory_->text()); }

void OpenCompanyEditDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  name_->setFocus();
  PlaceDialog(this);
}

void OpenCompanyEditDialog::Btn_OkClick() {
  // The name is stored in CP874 as the suite shows it: a letter it cannot hold would
  // become "?" unseen.
  std::string name;
  const QByteArray utf8 = name_->text().toUtf8();
  if (!platform::Utf8ToCp874Exact(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())), name)) {
    dialogs_.ShowError(platform::Th("ชื่อกิจการมีตัวอักษรที่เก็บในรหัสภาษาไทย 874 ไม่ได้ กรุณาแก้ไขชื่อ"));
    name_->setFocus();
    return;
  }
  std::string directory;
  if (TakePathField(*directory_, dialogs_, directory) && company::ValidateEntryDirectory(directory, dialogs_)) accept();
}

void OpenCompanyEditDialog::Btn_BrowseClick() {
  BrowseForDirectory(this, Caption("ไดเร็คทอรี่ของแฟ้มข้อมูล"), *directory_);
}

}  // namespace kv::gui
