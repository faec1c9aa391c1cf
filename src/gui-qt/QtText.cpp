#include "gui-qt/QtText.h"

#include <QFontDatabase>
#include <QStringList>

#include "platform/Cp874.h"
#include "platform/Path.h"

namespace kv::gui {

QString FromCp874(std::string_view cp874) {
  const std::string utf8 = platform::Cp874ToUtf8(cp874);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString Caption(std::string_view utf8) { return FromCp874(platform::Th(utf8)); }

std::string ToCp874(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return platform::Utf8ToCp874(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

bool PathFromQt(const QString& path, std::string& cp874) {
  const QByteArray native = path.toUtf8();
  return platform::PathFromSystem(std::string_view(native.constData(), static_cast<size_t>(native.size())), cp874);
}

QFont TahomaFont(int pixelSize, bool bold) {
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

void InstallFontSubstitutes() {
  if (QFontDatabase::families().contains(QStringLiteral("Tahoma"), Qt::CaseInsensitive)) return;
  const QStringList candidates = {QStringLiteral("Loma"), QStringLiteral("Garuda"),
                                  QStringLiteral("Umpush"), QStringLiteral("Waree"),
                                  QStringLiteral("Sawasdee")};
  QStringList present;
  const QStringList families = QFontDatabase::families();
  for (const QString& family : candidates) {
    if (families.contains(family, Qt::CaseInsensitive)) present << family;
  }
  if (!present.isEmpty()) QFont::insertSubstitutions(QStringLiteral("Tahoma"), present);
}

}  // namespace kv::gui
