#include "desktop/CompanyCommands.h"

#include <cstddef>
#include <string_view>

#include "desktop/CompanyReports.h"
#include "platform/Cp874.h"

namespace kv::desktop {
namespace {

using enum CommandKey;

// F10 also chooses, as in the suite's own list; Shift+F10 is the menu, not a command.
constexpr std::array<CompanyCommandEntry, kCompanyCommandCount> kCommands = {{
    {CompanyCommand::kSelect, "เลือก", "เลือก", {kEnter, kF10}, EnabledWhen::kRowHasDirectory, false, false},
    {CompanyCommand::kEdit, "แก้ไข...", "แก้ไข...", {kF5, kNone}, EnabledWhen::kAlways, false, false},
    {CompanyCommand::kInsert, "แทรก", "แทรก", {kInsert, kNone}, EnabledWhen::kAlways, true, false},
    {CompanyCommand::kDelete, "ลบ...", "ลบ", {kDelete, kNone}, EnabledWhen::kAlways, false, false},
    {CompanyCommand::kMoveUp, "เลื่อนขึ้น", "เลื่อนขึ้น", {kF7, kNone}, EnabledWhen::kAlways, true, false},
    {CompanyCommand::kMoveDown, "เลื่อนลง", "เลื่อนลง", {kF8, kNone}, EnabledWhen::kAlways, false, false},
    {CompanyCommand::kTemplate, "Custom Report Template...", "Custom Report Template...", {kF9, kNone},
     EnabledWhen::kRowHasDirectory, true, true},
    {CompanyCommand::kUndoLast, "ย้อนการแก้ไขครั้งล่าสุด... (&U)", "ย้อนการแก้ไขครั้งล่าสุด... (&U)", {kNone, kNone},
     EnabledWhen::kRowHasUndoableReport, true, false},
    {CompanyCommand::kOpenLastReport, "เปิดรายงานล่าสุด... (&O)", "เปิดรายงานล่าสุด... (&O)", {kNone, kNone},
     EnabledWhen::kRowHasReport, false, false},
    {CompanyCommand::kCheck, "ตรวจสอบโครงสร้างแฟ้ม... (&K)", "ตรวจสอบโครงสร้างแฟ้ม... (&K)", {kNone, kNone},
     EnabledWhen::kRowHasDirectory, false, false},
}};

constexpr bool InCommandOrder() {
  for (size_t i = 0; i < kCommands.size(); ++i) {
    if (static_cast<size_t>(kCommands[i].command) != i) return false;
  }
  return true;
}
static_assert(InCommandOrder(), "the table is indexed by CompanyCommand");

}  // namespace

std::span<const CompanyCommandEntry> CompanyCommands() { return kCommands; }

const CompanyCommandEntry& CompanyCommandOf(CompanyCommand command) {
  return kCommands[static_cast<size_t>(command)];
}

char AccessLetterOf(const CompanyCommandEntry& entry) {
  const std::string_view caption = entry.caption;
  const size_t amp = caption.find('&');
  if (amp == std::string_view::npos || amp + 1 >= caption.size()) return 0;
  const char c = caption[amp + 1];
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EnabledFor(const CompanyCommandEntry& entry, const RowState& row) {
  switch (entry.enabledWhen) {
    case EnabledWhen::kAlways: return true;
    case EnabledWhen::kRowHasDirectory: return row.hasDirectory;
    case EnabledWhen::kRowHasUndoableReport: return row.hasDirectory && row.hasUndoableReport;
    case EnabledWhen::kRowHasReport: return row.hasDirectory && row.hasReport;
  }
  return false;
}

std::string MenuCaption(const CompanyCommandEntry& entry, bool rowEmpty, const RowState& row) {
  std::string caption = platform::Th(CaptionFor(entry, rowEmpty));
  if (EnabledFor(entry, row)) return caption;
  const std::string& why = entry.enabledWhen == EnabledWhen::kRowHasUndoableReport ? row.undoWhyNot
                           : entry.enabledWhen == EnabledWhen::kRowHasReport       ? row.reportWhyNot
                                                                                   : std::string();
  return why.empty() ? caption : caption + " : " + why;
}

RowState RowStateOf(const std::string& directory) {
  RowState row;
  row.hasDirectory = !directory.empty();
  if (!row.hasDirectory) {
    row.undoWhyNot = row.reportWhyNot = platform::Th("ยังไม่ได้กำหนดแฟ้มข้อมูล");
    return row;
  }
  UndoableReport undoable;
  row.hasUndoableReport = FindUndoableReport(directory, undoable, row.undoWhyNot);
  row.hasReport = !LatestReport(directory, row.reportWhyNot).empty();
  return row;
}

const char* KeyText(CommandKey key) {
  switch (key) {
    case kEnter: return "Enter";
    case kF5: return "F5";
    case kF7: return "F7";
    case kF8: return "F8";
    case kF9: return "F9";
    case kF10: return "F10";
    case kInsert: return "Ins";
    case kDelete: return "Del";
    case kNone: break;
  }
  return "";
}

}  // namespace kv::desktop
