// What the company selection windows share: captions, the font and the fixed frame.
#pragma once

#include <QDialog>
#include <QString>
#include <string_view>

#include "gui/QtText.h"
#include "platform/Cp874.h"

namespace kv::gui {

// A caption written in UTF-8 in the source, shown as the CP874 text it stands for.
inline QString Caption(std::string_view utf8) { return FromCp874(platform::Th(utf8)); }

// A fixed-size dialog in "Tahoma" 15 px with a title bar and a close box, no minimise
// or maximise.
inline void MakeFixedDialog(QDialog& dialog, const QString& title, int clientWidth, int clientHeight) {
  dialog.setWindowTitle(title);
  dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  dialog.setFont(TahomaFont(15));
  dialog.setFixedSize(clientWidth, clientHeight);
}

}  // namespace kv::gui
