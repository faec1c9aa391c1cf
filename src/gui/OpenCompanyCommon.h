// What the company selection windows share: their font, the conversion of CP874 texts at
// the edge of the window, and the placement on the screen.
#pragma once

#include <QDialog>
#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QString>
#include <string>
#include <string_view>

#include "platform/Cp874.h"

namespace kv::gui {

// Stored text (CP874) as shown.
inline QString FromCp874(std::string_view cp874) {
  const std::string utf8 = platform::Cp874ToUtf8(cp874);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
// Edited text back to the bytes that are stored.
inline std::string ToCp874(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return platform::Utf8ToCp874(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}
// A caption written in UTF-8 in the source, shown as the CP874 text it stands for.
inline QString Caption(std::string_view utf8) { return FromCp874(platform::Th(utf8)); }

// "Tahoma" 15 px; fontconfig puts a Thai font in its place where Tahoma is missing.
inline QFont CompanyDialogFont() {
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(15);
  return font;
}

// A fixed-size dialog with a title bar and a close box, no minimise or maximise.
inline void MakeFixedDialog(QDialog& dialog, const QString& title, int clientWidth, int clientHeight) {
  dialog.setWindowTitle(title);
  dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  dialog.setFont(CompanyDialogFont());
  dialog.setFixedSize(clientWidth, clientHeight);
}

// Centred on the primary screen, read afresh each time, a little above the middle as the
// suite's own dialogs stand.
inline void CentreOnPrimaryScreen(QWidget& window) {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QSize area = screen->size();
  const QSize outer = window.frameGeometry().size();
  window.move(area.width() / 2 - outer.width() / 2, area.height() / 2 - outer.height() / 2 - 5);
}

}  // namespace kv::gui
