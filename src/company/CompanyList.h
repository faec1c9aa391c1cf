// The suite's company list (USERDRV.INI) and the selection that maintains it.
//
// USERDRV.INI lies in the start directory: one line per row, 90 rows, each line
// "name;directory" or "name;directory|template"; any line without ";" is an empty row
// that still takes its row number. The last choice is remembered in KORVA.CFG (the four
// OPENCOMPANY keys of Settings) so that the remembered company is preselected and drawn
// bold the next time, and can be taken without asking.
//
// CompanySelection is the state and the commands of the selection dialog without the
// window: the window implements CompanyView (current row, name-column width, check box,
// the two small editors) and forwards its commands here, so every rule is exercised in
// tests without a window. Every message and question goes through ui::Dialogs.
//
// Texts are CP874 bytes throughout. Names and directories are compared ignoring the case
// of the ASCII letters a-z only; Thai and every other byte compare as they are.
//
// File and directory failures that the user cannot answer (the start directory cannot be
// entered again, the list cannot be read or written) throw platform::IoError.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "company/Settings.h"
#include "ui/Dialogs.h"

namespace kv::company {

inline constexpr int kCompanyRows = 90;
// Width of the name column when KORVA.CFG remembers none.
inline constexpr int kDefaultNameColumnWidth = 335;

inline constexpr const char* kCompanyListFile = "USERDRV.INI";
inline constexpr const char* kDefaultListFile = "USERDRV.DEF";

struct CompanyEntry {
  std::string name;         // may be empty
  std::string directory;    // the entry is defined only when this is non-empty
  std::string templateDir;  // empty: the program's default report templates

  bool HasNameOrDirectory() const { return !name.empty() || !directory.empty(); }
  bool operator==(const CompanyEntry&) const = default;
};

// ---- Text rules --------------------------------------------------------------------

// a-z turned into A-Z; every other byte unchanged.
std::string UpperAscii(std::string_view text);
// Equal after UpperAscii on both sides.
bool SameText(std::string_view a, std::string_view b);

// One line of USERDRV.INI. Returns false (and leaves `entry` empty) for a line without
// ";". The name ends at the first ";"; of the rest, the text before the first "|" is the
// directory and the text after it the template.
bool ParseCompanyLine(std::string_view line, CompanyEntry& entry);
// The line written for a row: empty when name and directory are both empty (a template
// alone is not kept), else "name;directory" and "|template" when there is one.
std::string FormatCompanyLine(const CompanyEntry& entry);

// The rows of USERDRV.INI in the current directory that name a directory, in list
// order (at most 90). False when there is no list; one that cannot be read throws
// platform::IoError.
bool ReadCompanyList(std::vector<CompanyEntry>& entries);

// Joins a directory and a name with "/" (no doubled separator).
std::string JoinPath(std::string_view dir, std::string_view name);
// Changes the current directory; a failure throws platform::IoError.
void EnterDirectory(const std::string& dir);

// ---- Directory checks of the two editors --------------------------------------------

// OK of the entry editor: an existing directory passes; a missing one is offered for
// creation with every missing level. False keeps the editor open.
bool ValidateEntryDirectory(const std::string& dir, ui::Dialogs& dialogs);
// OK of the report template editor (custom choice): a missing directory is offered for
// creation, one level only; then a last component (after the last "/", "\" or ":")
// equal to "_DEFAULT" in any ASCII case is refused.
bool ValidateTemplateDirectory(const std::string& dir, ui::Dialogs& dialogs);

// Stored directories are full paths: a typed relative one (CP874) is taken from the
// current directory now ("./" and "." dropped). A full path, an empty text or an unknown
// current directory leave the text as it is.
std::string FullDirectoryPath(std::string_view dir);

// The report template directory shown for "the program's default".
std::string DefaultTemplateDirectory(const Settings& settings);

// Switches the automatic choice of the remembered company off and rewrites KORVA.CFG.
// The run calls it when a module data file cannot be opened or created.
void ClearAutoSelect(Settings& settings);

// ---- The selection -----------------------------------------------------------------

// What the selection needs from its window. Rows are numbered 1 to 90.
class CompanyView {
 public:
  virtual ~CompanyView() = default;

  virtual int CurrentRow() const = 0;
  virtual void SetCurrentRow(int row) = 0;
  // First data row visible at the top of the grid, and scrolling a row to the top.
  virtual int TopRow() const = 0;
  virtual void SetTopRow(int row) = 0;
  virtual int NameColumnWidth() const = 0;
  virtual void SetNameColumnWidth(int width) = 0;
  virtual bool AutoSelectChecked() const = 0;
  virtual void SetAutoSelectChecked(bool checked) = 0;
  // The rows, RememberedRow or the current row's directory changed: redraw and update
  // the "Select" button.
  virtual void Refresh() = 0;
  // The wait cursor while a directory is looked at.
  virtual void SetBusy(bool busy) = 0;

  // The entry editor on copies of the row's name and directory; true with OK, when the
  // editor has already checked the directory (ValidateEntryDirectory).
  virtual bool RunEntryEditor(std::string& name, std::string& directory) = 0;
  // The report template editor. In: the row's template (empty = the default). Out, with
  // OK: the chosen template (empty = the default), already checked.
  virtual bool RunTemplateEditor(std::string& templateDir) = 0;
  // Shows the selection window modally; true when it ended with a choice.
  virtual bool RunModal() = 0;
};

class CompanySelection {
 public:
  CompanySelection(Settings& settings, ui::Dialogs& dialogs, CompanyView& view);

  // Set by the caller before SelectCompany: always show the list, never take the
  // remembered company without asking.
  bool suppressAutoSelect = false;

  // Remembers the current directory, tries the automatic choice, goes back to that
  // directory and, without an automatic choice, runs the window. True when a company
  // was chosen and its directory is not empty. The current directory is the same
  // afterwards as before.
  bool SelectCompany();

  // The window's life: Show when it appears (false: end at once without a choice),
  // Close after any way of ending it.
  bool Show();
  void Close();

  // Commands, all on the current row. Select returns true when the window is to end
  // with the choice made.
  bool Select();
  void Edit();
  void Insert();
  void Delete();
  void MoveUp();
  void MoveDown();
  void ReportTemplate();
  void AutoSelectClicked() { listModified_ = true; }

  // The steps the commands are built from.
  // Each of these makes the start directory current.
  bool EnsureCompanyList();
  void LoadAndStoreToGrid();
  void SaveCompanyList();
  bool TryAutoSelect();
  bool CheckDirectory(const std::string& dir);

  // State, for the window and the tests.
  const CompanyEntry& Row(int row) const;  // 1..90
  CompanyEntry& MutableRow(int row);
  bool SelectEnabled() const;              // the current row has a directory
  int RememberedRow() const { return rememberedRow_; }
  int EntryCount() const { return entryCount_; }
  bool ListModified() const { return listModified_; }
  bool ListCreated() const { return listCreated_; }
  const std::string& SelectedDirectory() const { return selectedDirectory_; }
  const std::string& SelectedCompanyName() const { return selectedCompanyName_; }
  const std::string& SelectedTemplateDirectory() const { return selectedTemplateDirectory_; }
  const Settings& GetSettings() const { return settings_; }
  ui::Dialogs& GetDialogs() { return dialogs_; }
  // Full path of USERDRV.INI, for display and for the tests.
  std::string ListPath() const { return JoinPath(settings_.dirs.start, kCompanyListFile); }

 private:
  int Current() const;
  void ImportDefaultList(const std::string& defPath, const std::string& iniPath);
  void TakeRow(int row);

  Settings& settings_;
  ui::Dialogs& dialogs_;
  CompanyView& view_;
  std::array<CompanyEntry, kCompanyRows + 1> rows_;  // [0] unused (the header)
  int rememberedRow_ = 0;
  int entryCount_ = 0;
  bool listModified_ = false;
  bool listCreated_ = false;
  bool shown_ = false;
  std::string shownDirectory_;
  std::string selectedDirectory_;
  std::string selectedCompanyName_;
  std::string selectedTemplateDirectory_;
};

}  // namespace kv::company
