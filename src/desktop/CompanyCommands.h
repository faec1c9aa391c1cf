// The company list's commands, one table for both desktop front ends: the Qt window
// builds its actions and the grid's menu from it, the Win32 window its menu and its key
// table. Each front end only maps the keys to its own key codes and routes a command to
// company::CompanySelection, which decides what a command does for a row.
#pragma once

#include <array>
#include <span>

namespace kv::desktop {

enum class CompanyCommand { kSelect, kEdit, kInsert, kDelete, kMoveUp, kMoveDown, kTemplate };

// Keys as a PC keyboard labels them; kEnter is either Enter key.
enum class CommandKey { kNone, kEnter, kF5, kF7, kF8, kF9, kF10, kInsert, kDelete };

// When the grid's menu offers a command for its current row. The keys run every command
// on every row: the selection itself refuses what a row does not allow.
enum class EnabledWhen { kAlways, kRowHasDirectory };

struct CompanyCommandEntry {
  CompanyCommand command;
  const char* caption;          // UTF-8
  const char* emptyRowCaption;  // for a row with neither name nor directory (UTF-8)
  std::array<CommandKey, 2> keys;  // the first is the one a menu shows
  EnabledWhen enabledWhen;
  bool separatorBefore;         // in the menu
  bool checkedForTemplate;      // checked when the row has a report template
};

// In menu order; "เลือก" is the menu's default.
std::span<const CompanyCommandEntry> CompanyCommands();
const CompanyCommandEntry& CompanyCommandOf(CompanyCommand command);

// How a menu names a key beside a caption ("Enter", "F5", "Ins", …); empty for kNone.
const char* KeyText(CommandKey key);

// The caption for a row (`rowEmpty`: neither name nor directory).
inline const char* CaptionFor(const CompanyCommandEntry& entry, bool rowEmpty) {
  return rowEmpty ? entry.emptyRowCaption : entry.caption;
}

// Whether the menu offers `entry` for a row with or without a directory.
inline bool EnabledFor(const CompanyCommandEntry& entry, bool rowHasDirectory) {
  return entry.enabledWhen == EnabledWhen::kAlways || rowHasDirectory;
}

}  // namespace kv::desktop
