// The reports a company directory holds, as the company list's menu offers them: the
// most recent repair that can still be undone, and the most recent report of any kind.
// Both look only at the report files' names and their text: nothing is opened under
// the engine and nothing is written.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "ui/Dialogs.h"

namespace kv::desktop {

struct UndoableReport {
  std::string path;  // CP874
  std::string when;  // the repair's date and time from the report's name: "08/12/2026 21:55:59"
  int64_t fields = 0;  // money fields the repair wrote
  int files = 0;       // in how many files
};

// The newest repair report of `companyDir` (CP874) that lists written fields and that
// no undo completed (an undo that left fields leaves its report undoable: a second
// undo takes what it can). False when there is none; `whyNot` (CP874) says why, for
// the menu.
bool FindUndoableReport(const std::string& companyDir, UndoableReport& out, std::string& whyNot);

// The newest report of `companyDir`, a repair's or an undo's; empty when there is none
// (`whyNot` says so).
std::string LatestReport(const std::string& companyDir, std::string& whyNot);

// What the company list chose: a company to repair, or the undo of one of its repairs
// or its check (the list shows again afterwards). Empty: nothing, the program ends.
struct CompanyChoice {
  CompanyChoice() = default;
  CompanyChoice(std::string dir) : directory(std::move(dir)) {}  // NOLINT: a plain choice
  std::string directory;   // CP874
  std::string undoReport;  // CP874: the repair report to undo
  std::string undoQuestion;  // CP874: the question that names its date and fields
  bool check = false;        // the company check of `directory` (desktop/CompanyCheck.h)
  // Work the menu asked for, after which the list shows again.
  bool FromMenu() const { return check || !undoReport.empty(); }
};

// The menu's "ย้อนการแก้ไขครั้งล่าสุด...": the undo of the newest undoable repair of
// `directory`; nothing (the reason shown through `dialogs`) when there is none.
CompanyChoice UndoChoiceFor(const std::string& directory, ui::Dialogs& dialogs);
// The menu's "เปิดรายงานล่าสุด...": the newest report in the viewer, or why there is none.
void OpenLatestReport(const std::string& directory, ui::Dialogs& dialogs);

// The question before the undo from the menu (CP874): the repair's date and time and
// the number of fields.
std::string UndoFromMenuQuestion(const UndoableReport& report);

}  // namespace kv::desktop
