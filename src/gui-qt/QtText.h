// The edge between the core's CP874 texts and Qt, the window font, and the shared
// layouts' rectangles as Qt's.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

#include <string>
#include <string_view>

#include "desktop/Layouts.h"

namespace kv::gui {

QString FromCp874(std::string_view cp874);
// A caption written in UTF-8 in the source, shown as the CP874 text it stands for.
QString Caption(std::string_view utf8);
std::string ToCp874(const QString& text);
// A path typed or browsed in a window as the CP874 path the core keeps; false when
// CP874 cannot hold one of its characters (the path must then be refused, never kept
// with "?" in its place).
bool PathFromQt(const QString& path, std::string& cp874);

// "Tahoma" at the given pixel height. Where Tahoma is not installed, the font
// substitutes installed by InstallFontSubstitutes() stand in for it.
QFont TahomaFont(int pixelSize = 15, bool bold = false);

// Maps "Tahoma" to a Thai sans-serif font (Loma, then other fonts of the Thai TLWG set)
// when Tahoma itself is absent, so that Latin and Thai come from one font. Call once
// after the application object exists.
void InstallFontSubstitutes();

inline QRect ToQRect(const desktop::Rect& r) { return QRect(r.x, r.y, r.width, r.height); }

}  // namespace kv::gui
