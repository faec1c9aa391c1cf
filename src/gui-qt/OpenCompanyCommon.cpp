#include "gui-qt/OpenCompanyCommon.h"

#include <QDir>
#include <QFileDialog>

#include "company/CompanyList.h"
#include "platform/Path.h"

namespace kv::gui {

QHBoxLayout* MakeEditButtons(QDialog& dialog, QWidget* browseParent, EditButtons& out) {
  out.browse = new QPushButton(QStringLiteral("..."), browseParent);
  out.browse->setFixedWidth(28);
  // Enter presses the focused button ("ยกเลิก" cancels, "..." browses); from a text
  // field it presses the default "ตกลง".
  out.browse->setAutoDefault(true);
  out.ok = new QPushButton(Caption("ตกลง"), &dialog);
  out.ok->setDefault(true);
  out.cancel = new QPushButton(Caption("ยกเลิก"), &dialog);
  out.cancel->setAutoDefault(true);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(out.ok);
  row->addWidget(out.cancel);
  return row;
}

bool TakePathField(QLineEdit& field, ui::Dialogs& dialogs, std::string& cp874) {
  if (PathFromQt(field.text(), cp874)) {
    // Stored paths are full paths: a typed relative one is taken from the current
    // directory now, and the field shows what will be stored.
    if (!cp874.empty() && !platform::IsAbsolutePath(cp874)) {
      cp874 = company::FullDirectoryPath(cp874);
      field.setText(FromCp874(cp874));
    }
    return true;
  }
  dialogs.ShowError(platform::Th("ชื่อไดเร็คทอรี่มีตัวอักษรที่เก็บในรหัสภาษาไทย 874 ไม่ได้ กรุณาเลือกไดเร็คทอรี่อื่น"));
  return false;
}

void BrowseForDirectory(QWidget* parent, const QString& caption, QLineEdit& field) {
  const QString chosen = QFileDialog::getExistingDirectory(parent, caption, field.text());
  if (!chosen.isEmpty()) field.setText(QDir::toNativeSeparators(QDir(chosen).absolutePath()));
}

}  // namespace kv::gui
