// The company list: any USERDRV.INI (or only a USERDRV.DEF, or neither) and KORVA.CFG,
// loaded into the selection, changed by a sequence of list commands, saved at close and
// loaded again. Rows survive the save and reload exactly, the file has its 90 lines,
// and every line goes through parse and format unchanged in meaning.
//
// Input: flags, USERDRV.INI, USERDRV.DEF, KORVA.CFG (length-prefixed each), then the
// commands, two bytes each (command, row).
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "company/CompanyList.h"
#include "company/Settings.h"
#include "platform/PlainFile.h"
#include "ui/Dialogs.h"

namespace {

using kv::company::CompanyEntry;
using kv::company::CompanySelection;
using kv::company::kCompanyRows;

class ScriptedDialogs : public kv::ui::Dialogs {
 public:
  bool answer = false;
  void DisplayMessage(int, const std::string&) override {}
  bool AskQuestion(kv::ui::Question, int, const std::string&) override { return answer; }
  bool AskRecovery(const kv::ui::RecoveryQuestion&) override { return false; }
  void ProcessPendingMessages() override {}
  void RequestClose() override {}
};

// The window without a window: it keeps what a grid keeps and declines every editor.
class FakeView : public kv::company::CompanyView {
 public:
  int current = 1;
  int top = 1;
  int width = kv::company::kDefaultNameColumnWidth;
  bool checked = false;

  int CurrentRow() const override { return current; }
  void SetCurrentRow(int row) override {
    KV_FUZZ_CHECK(row >= 1 && row <= kCompanyRows, "current row " + std::to_string(row));
    current = row;
  }
  int TopRow() const override { return top; }
  void SetTopRow(int row) override {
    KV_FUZZ_CHECK(row >= 1 && row <= kCompanyRows, "top row " + std::to_string(row));
    top = row;
  }
  int NameColumnWidth() const override { return width; }
  void SetNameColumnWidth(int w) override { width = w; }
  bool AutoSelectChecked() const override { return checked; }
  void SetAutoSelectChecked(bool c) override { checked = c; }
  void Refresh() override {}
  void SetBusy(bool) override {}
  bool RunEntryEditor(std::string&, std::string&) override { return false; }
  bool RunTemplateEditor(std::string&) override { return false; }
  bool RunModal() override { return false; }
};

void PutOrRemove(bool present, std::string_view name, std::string_view bytes) {
  if (present) kv::fuzz::WriteScratchFile(name, bytes);
  else kv::fuzz::RemoveScratchFile(name);
}

// What a row is after a save and a reload.
CompanyEntry Saved(const CompanyEntry& e) {
  return e.HasNameOrDirectory() ? e : CompanyEntry{};
}

void CheckLineRoundTrip(const std::string& line) {
  CompanyEntry entry;
  if (!kv::company::ParseCompanyLine(line, entry)) {
    KV_FUZZ_CHECK(line.find(';') == std::string::npos, line);
    return;
  }
  KV_FUZZ_CHECK(entry.name.find(';') == std::string::npos, line);
  KV_FUZZ_CHECK(entry.directory.find('|') == std::string::npos, line);
  const std::string formatted = kv::company::FormatCompanyLine(entry);
  CompanyEntry back;
  const bool parsed = kv::company::ParseCompanyLine(formatted, back);
  KV_FUZZ_CHECK(parsed == entry.HasNameOrDirectory(), line);
  if (parsed) KV_FUZZ_CHECK(back == entry, line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kv::fuzz;
  static char* const home = getcwd(nullptr, 0);
  if (home == nullptr) Fail("no current directory");

  InputReader in(data, size);
  const uint8_t flags = in.Byte();
  const std::string ini(in.Part());
  const std::string def(in.Part());
  const std::string cfg(in.Part());

  for (const std::string& line : kv::platform::SplitLines(ini)) CheckLineRoundTrip(line);

  PutOrRemove(!(flags & 1), "USERDRV.INI", ini);
  PutOrRemove(!(flags & 2), "USERDRV.DEF", def);
  PutOrRemove(!(flags & 4), "KORVA.CFG", cfg);

  kv::company::Settings settings;
  settings.dirs.start = ScratchDirectory();
  settings.dirs.settings = ScratchDirectory();
  ScriptedDialogs dialogs;
  dialogs.answer = (flags & 8) != 0;
  FakeView view;
  {
    CompanySelection selection(settings, dialogs, view);
    selection.suppressAutoSelect = (flags & 16) != 0;
    if (flags & 32) selection.SelectCompany();
    if (selection.Show()) {
      for (int i = 0; i < 32 && !in.Empty(); ++i) {
        const uint8_t command = in.Byte();
        view.SetCurrentRow(1 + in.Byte() % kCompanyRows);
        switch (command % 8) {
          case 0: selection.Insert(); break;
          case 1: selection.Delete(); break;
          case 2: selection.MoveUp(); break;
          case 3: selection.MoveDown(); break;
          case 4: selection.Edit(); break;
          case 5: selection.AutoSelectClicked(); break;
          case 6: selection.ReportTemplate(); break;
          case 7: view.width = command; break;
        }
        KV_FUZZ_CHECK(selection.RememberedRow() >= 0 && selection.RememberedRow() <= kCompanyRows,
                      "remembered row " + std::to_string(selection.RememberedRow()));
      }
      std::vector<CompanyEntry> rows;
      for (int k = 1; k <= kCompanyRows; ++k) rows.push_back(Saved(selection.Row(k)));
      const bool modified = selection.ListModified();
      selection.Close();

      if (modified) {
        std::vector<std::string> lines;
        KV_FUZZ_CHECK(kv::platform::ReadTextLines(ScratchDirectory() + "/USERDRV.INI", lines).Code() == kv::platform::kIoOk, "list not saved");
        KV_FUZZ_CHECK(lines.size() == static_cast<size_t>(kCompanyRows),
                      std::to_string(lines.size()) + " lines");
        FakeView view2;
        CompanySelection reloaded(settings, dialogs, view2);
        reloaded.LoadAndStoreToGrid();
        for (int k = 1; k <= kCompanyRows; ++k)
          KV_FUZZ_CHECK(reloaded.Row(k) == rows[static_cast<size_t>(k - 1)], "row " + std::to_string(k));
      }
    }
  }
  if (chdir(home) != 0) Fail("cannot go back to the start directory");
  return 0;
}
