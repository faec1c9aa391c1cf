// The company list's commands, one table for both desktop front ends: the Qt window
// builds its actions and the grid's menu from it, the Win32 window its menu and its key
// table. Each front end only maps the keys to its own key codes and routes a command to
// company::CompanySelection, which decides what a command does for a row.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>

namespace kv::desktop {

enum class CompanyCommand { kSelect, kEdit, kInsert, kDelete, kMoveUp, kMoveDown, kTemplate, kUndoLast, kOpenLastReport, kCheck };

// Keys as a PC keyboard labels them; kEnter is either Enter key.
enum class CommandKey { kNone, kEnter, kF5, kF7, kF8, kF9, kF10, kInsert, kDelete };

// When the grid's menu offers a command for its current row. The keys run every command
// on every row: the selection itself refuses what a row does not allow. The report
// commands and the check have no key beside their menu letter (&U, &O, &K).
enum class EnabledWhen { kAlways, kRowHasDirectory, kRowHasUndoableReport, kRowHasReport };

// What the menu knows of its row when it opens.
struct RowState {
  bool hasDirectory = false;
  bool hasUndoableReport = false;  // desktop::FindUndoableReport found one
  bool hasReport = false;          // desktop::LatestReport found one
  std::string undoWhyNot;          // CP874: why there is nothing to undo
  std::string reportWhyNot;        // CP874: why there is no report
};

struct CompanyCommandEntry {
  CompanyCommand command;
  const char* caption;          // UTF-8
  const char* emptyRowCaption;  // for a row with neither name nor directory (UTF-8)
  std::array<CommandKey, 2> keys;  // the first is the one a menu shows
  EnabledWhen enabledWhen;
  bool separatorBefore;         // in the menu
  bool checkedForTemplate;      // checked when the row has a report template
};

inline constexpr size_t kCompanyCommandCount = 10;

// The menu's access letter of `entry` (the letter after "&" in its caption, upper case),
// 0 for none: the report commands have theirs, which the Thai layout's letters on the
// same key choose too (AccessLetterOfCharacter).
char AccessLetterOf(const CompanyCommandEntry& entry);

// In menu order; "เลือก" is the menu's default.
std::span<const CompanyCommandEntry> CompanyCommands();
const CompanyCommandEntry& CompanyCommandOf(CompanyCommand command);

// How a menu names a key beside a caption ("Enter", "F5", "Ins", …); empty for kNone.
const char* KeyText(CommandKey key);

// The caption for a row (`rowEmpty`: neither name nor directory).
inline const char* CaptionFor(const CompanyCommandEntry& entry, bool rowEmpty) {
  return rowEmpty ? entry.emptyRowCaption : entry.caption;
}

// Whether the menu offers `entry` for a row.
bool EnabledFor(const CompanyCommandEntry& entry, const RowState& row);
inline bool EnabledFor(const CompanyCommandEntry& entry, bool rowHasDirectory) {
  RowState row;
  row.hasDirectory = rowHasDirectory;
  return EnabledFor(entry, row);
}

// The menu's caption of `entry` for a row (CP874): CaptionFor, and for a report command
// the menu does not offer, the reason after it ("... (&U) : ยังไม่มีรายงาน...").
std::string MenuCaption(const CompanyCommandEntry& entry, bool rowEmpty, const RowState& row);

// The state of the row whose directory is `directory` (CP874): the directory set, and
// the reports found there.
RowState RowStateOf(const std::string& directory);

}  // namespace kv::desktop
