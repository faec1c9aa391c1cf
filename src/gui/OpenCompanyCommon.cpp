#include "gui/OpenCompanyCommon.h"

#include <QDir>
#include <QFileDialog>

namespace kv::gui {

QHBoxLayout* MakeEditButtons(QDialog& dialog, QWidget* browseParent, EditButtons& out) {
  out.browse = new QPushButton(QStringLiteral("..."), browseParent);
  out.browse->setFixedWidth(28);
  out.browse->setAutoDefault(false);
  out.ok = new QPushButton(Caption("ตกลง"), &dialog);
  out.ok->setDefault(true);
  out.cancel = new QPushButton(Caption("ยกเลิก"), &dialog);
  out.cancel->setAutoDefault(false);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(out.ok);
  row->addWidget(out.cancel);
  return row;
}

bool TakePathField(const QLineEdit& field, ui::Dialogs& dialogs, std::string& cp874) {
  if (PathFromQt(field.text(), cp874)) return true;
  dialogs.ShowError(platform::Th("ชื่อไดเร็คทอรี่มีตัวอักษรที่เก็บในรหัสภาษาไทย 874 ไม่ได้ กรุณาเลือกไดเร็คทอรี่อื่น"));
  return false;
}

void BrowseForDirectory(QWidget* parent, const QString& caption, QLineEdit& field) {
  const QString chosen = QFileDialog::getExistingDirectory(parent, caption, field.text());
  if (!chosen.isEmpty()) field.setText(QDir::toNativeSeparators(QDir(chosen).absolutePath()));
}

}  // namespace kv::gui
