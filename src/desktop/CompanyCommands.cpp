#include "desktop/CompanyCommands.h"

#include <cstddef>

namespace kv::desktop {
namespace {

using enum CommandKey;

// F10 also chooses, as in the suite's own list; Shift+F10 is the menu, not a command.
constexpr std::array<CompanyCommandEntry, 7> kCommands = {{
    {CompanyCommand::kSelect, "เลือก", "เลือก", {kEnter, kF10}, EnabledWhen::kRowHasDirectory, false, false},
    {CompanyCommand::kEdit, "แก้ไข...", "แก้ไข...", {kF5, kNone}, EnabledWhen::kAlways, false, false},
    {CompanyCommand::kInsert, "แทรก", "แทรก", {kInsert, kNone}, EnabledWhen::kAlways, true, false},
    {CompanyCommand::kDelete, "ลบ...", "ลบ", {kDelete, kNone}, EnabledWhen::kAlways, false, false},
    {CompanyCommand::kMoveUp, "เลื่อนขึ้น", "เลื่อนขึ้น", {kF7, kNone}, EnabledWhen::kAlways, true, false},
    {CompanyCommand::kMoveDown, "เลื่อนลง", "เลื่อนลง", {kF8, kNone}, EnabledWhen::kAlways, false, false},
    {CompanyCommand::kTemplate, "Custom Report Template...", "Custom Report Template...", {kF9, kNone},
     EnabledWhen::kRowHasDirectory, true, true},
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
