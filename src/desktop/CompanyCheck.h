// The company check as the company list's menu offers it: what the list window shows of
// its findings (headings, the count line, the text a copy puts on the clipboard). The
// run itself is DesktopRun's, in the main window with its bar and stop.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/Check.h"
#include "desktop/CompanyReports.h"
#include "ui/Dialogs.h"

namespace kv::desktop {

// What a check from the menu found, for the findings window.
struct CheckListing {
  std::string directory;  // CP874
  std::vector<app::CheckFinding> findings;
  app::CheckSummary summary;
  bool stopped = false;  // "ยกเลิก", Esc: the files after the stop were not looked at
};

// The menu's "ตรวจสอบโครงสร้างแฟ้ม...": the check of `directory`; nothing (the reason
// shown through `dialogs`) for a row without a directory.
CompanyChoice CheckChoiceFor(const std::string& directory, ui::Dialogs& dialogs);

// The window's title, its columns' headings (file, kind, place, text) and its buttons;
// UTF-8 captions as the command table's.
inline constexpr const char* kCheckWindowTitle = "ผลการตรวจสอบโครงสร้างแฟ้ม";
inline constexpr std::array<const char*, 4> kCheckHeadings = {"แฟ้ม", "ชนิด", "ตำแหน่ง", "รายละเอียด"};
inline constexpr const char* kCheckCopyCaption = "คัดลอก (&C)";
inline constexpr const char* kCheckCloseCaption = "ปิด";

// The line above the list (CP874): "พบความเสียหาย N รายการ, หมายเหตุ M รายการ", or that
// the structure is sound; a stopped check says so first.
std::string CheckCountText(const CheckListing& listing);

// A finding's four cells as the list shows them (CP874; the text of a note begins with
// "note: " as on the command line).
std::array<std::string, 4> CheckCells(const app::CheckFinding& finding);

// A listing of three findings (two damage, a note) in `directory` (CP874), as the
// screenshot tools show the window.
CheckListing ExampleCheckListing(const std::string& directory);

// The clipboard's text: the command line's text lines, tab-separated, each ended by
// `lineEnd` ("\r\n" on Windows).
std::string CheckClipboardText(const CheckListing& listing, const char* lineEnd);

}  // namespace kv::desktop
