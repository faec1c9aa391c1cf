// What the desktop programs tell of the repair report and how they open it: the line a
// result adds to name the report, the caption of the button that opens it, and the
// opening itself, which says so when no program can show the file.
#pragma once

#include <string>
#include <string_view>

#include "platform/System.h"
#include "ui/Dialogs.h"

namespace kv::desktop {

// The start of the result's last line, "รายงานการแก้ไข: ", which the report's path
// follows (CP874).
std::string ReportLabel();

// The result dialog's button (UTF-8); Alt+O, or O alone, presses it.
inline constexpr char kOpenReportCaption[] = "เปิดรายงาน (&O)";

// Shows the report at `path` (CP874) in the system's viewer; when the file is gone or no
// program can show it, an error message through `dialogs` says so and names the path.
// True when the viewer has it.
bool OpenReport(ui::Dialogs& dialogs, const std::string& path);

// The function OpenReport hands the path to: platform::OpenInViewer, or a stand-in
// (tests and screenshot tools, which must not start a viewer). Returns the one before.
using ViewerFunction = platform::ViewerResult (*)(std::string_view path);
ViewerFunction SetViewer(ViewerFunction viewer);

}  // namespace kv::desktop
