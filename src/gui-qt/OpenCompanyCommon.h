// What the company selection windows share: captions, the font, the fixed frame, and
// the buttons of the two edit dialogs (company entry and report template).
#pragma once

#include <QDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QString>
#include <string_view>

#include "gui-qt/QtText.h"
#include "platform/Cp874.h"
#include "ui/Dialogs.h"

namespace kv::gui {

// A fixed-size dialog in "Tahoma" 15 px with a title bar and a close box, no minimise
// or maximise.
inline void MakeFixedDialog(QDialog& dialog, const QString& title, int clientWidth, int clientHeight) {
  dialog.setWindowTitle(title);
  dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  dialog.setFont(TahomaFont(15));
  dialog.setFixedSize(clientWidth, clientHeight);
}

// The buttons of an edit dialog: "..." to browse for a directory, OK (the default
// button) and Cancel.
struct EditButtons {
  QPushButton* browse = nullptr;
  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;
};

// Makes the three buttons in this order (the browse button as a child of
// `browseParent`) and returns the row that holds OK and Cancel at its right.
QHBoxLayout* MakeEditButtons(QDialog& dialog, QWidget* browseParent, EditButtons& out);

// OK and F10 run `ok`, Cancel rejects the dialog, the browse button runs `browse`.
template <class D>
void ConnectEditButtons(D& dialog, const EditButtons& buttons, void (D::*ok)(), void (D::*browse)()) {
  QObject::connect(buttons.ok, &QPushButton::clicked, &dialog, ok);
  QObject::connect(buttons.cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
  QObject::connect(buttons.browse, &QPushButton::clicked, &dialog, browse);
  QObject::connect(new QShortcut(Qt::Key_F10, &dialog), &QShortcut::activated, &dialog, ok);
}

// The field's path in CP874; when CP874 cannot hold it, says so with an error message
// and returns false (the dialog stays open with the text as it is).
bool TakePathField(QLineEdit& field, ui::Dialogs& dialogs, std::string& cp874);

// Asks for a directory, starting at the field's text; a choice replaces the text.
void BrowseForDirectory(QWidget* parent, const QString& caption, QLineEdit& field);

}  // namespace kv::gui
