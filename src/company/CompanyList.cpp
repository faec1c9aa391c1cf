#include "company/CompanyList.h"

#include <algorithm>
#include <utility>

#include "platform/Cp874.h"
#include "platform/File.h"
#include "platform/PlainFile.h"
#include "platform/Path.h"
#include "platform/System.h"

namespace kv::company {

using platform::Th;

namespace {

constexpr std::string_view kMsgListMissing = "ไม่พบแฟ้ม USERDRV.INI";
constexpr std::string_view kMsgDirectoryMissing = "ไม่พบไดเร็คทอรี่ หรือกำหนดไม่ถูกต้อง";
constexpr std::string_view kAskUndefined = "ยังไม่ได้กำหนด. ต้องการสร้างใหม่?";
constexpr std::string_view kAskDelete = "คุณต้องการลบ?";
constexpr std::string_view kAskCreate = "ไม่พบไดเร็คทอรี่ที่กำหนด. ต้องการสร้างใหม่?";
constexpr std::string_view kMsgCannotCreate = "ไม่สามารถสร้างไดเร็คทอรี่ที่กำหนดได้";
constexpr std::string_view kMsgNoDefaultName = "ไม่อนุญาตให้กำหนดชื่อ _Default";

// Rows scrolled to the top of the grid only when at least this many rows follow them,
// so the last page of the list is never scrolled past.
constexpr int kRowsBelowTop = 6;

void ReadLinesOrThrow(const std::string& path, std::vector<std::string>& lines) {
  if (const platform::IoStatus rc = platform::ReadTextLines(path, lines)) throw platform::IoError(rc, path);
}

void WriteLinesOrThrow(const std::string& path, const std::vector<std::string>& lines) {
  // Company data copied from Windows may hold the list as "userdrv.ini": the platform
  // rewrites that file rather than create a second one beside it.
  if (const platform::IoStatus rc = platform::WriteTextLines(path, lines)) throw platform::IoError(rc, path);
}

}  // namespace

// ---- Text rules --------------------------------------------------------------------

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

bool ParseCompanyLine(std::string_view line, CompanyEntry& entry) {
  entry = CompanyEntry{};
  size_t semi = line.find(';');
  if (semi == std::string_view::npos) return false;
  entry.name = std::string(line.substr(0, semi));
  std::string_view rest = line.substr(semi + 1);
  size_t bar = rest.find('|');
  if (bar == std::string_view::npos) {
    entry.directory = std::string(rest);
  } else {
    entry.directory = std::string(rest.substr(0, bar));
    entry.templateDir = std::string(rest.substr(bar + 1));
  }
  return true;
}

std::string FormatCompanyLine(const CompanyEntry& entry) {
  if (!entry.HasNameOrDirectory()) return {};
  std::string line = entry.name + ";" + entry.directory;
  if (!entry.templateDir.empty()) line += "|" + entry.templateDir;
  return line;
}

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (!out.empty() && out.back() != '/') out += '/';
  out += name;
  return out;
}

void EnterDirectory(const std::string& dir) {
  if (const platform::OsStatus rc = platform::ChangeDirectory(dir)) throw platform::IoError(rc, dir);
}

// ---- Directory checks --------------------------------------------------------------

bool ValidateEntryDirectory(const std::string& dir, ui::Dialogs& dialogs) {
  if (!dir.empty() && platform::DirectoryExists(dir)) return true;
  if (!dialogs.AskForYesNo(ui::Question::kCreateDirectory, Th(kAskCreate))) return false;
  // An empty field names no directory: nothing can be made of it.
  if (dir.empty() || platform::CreateDirectories(dir) || !platform::DirectoryExists(dir)) {
    dialogs.ShowError(Th(kMsgCannotCreate));
    return false;
  }
  return true;
}

bool ValidateTemplateDirectory(const std::string& dir, ui::Dialogs& dialogs) {
  if (dir.empty() || !platform::DirectoryExists(dir)) {
    if (!dialogs.AskForYesNo(ui::Question::kCreateDirectory, Th(kAskCreate))) return false;
    if (dir.empty() || platform::CreateDirectory(dir)) {
      dialogs.ShowError(Th(kMsgCannotCreate));
      return false;
    }
  }
  // Templates of the program itself live in "_Default": a custom directory of that name
  // would be mistaken for them. Paths may come from the suite's own platform, so "\" and
  // ":" end a component as well as "/".
  size_t cut = dir.find_last_of("/\\:");
  std::string_view last = std::string_view(dir).substr(cut == std::string::npos ? 0 : cut + 1);
  if (UpperAscii(last) == "_DEFAULT") {
    dialogs.ShowError(Th(kMsgNoDefaultName));
    return false;
  }
  return true;
}

bool ReadCompanyList(std::vector<CompanyEntry>& entries) {
  entries.clear();
  if (!platform::FileExists(kCompanyListFile)) return false;
  std::vector<std::string> lines;
  ReadLinesOrThrow(kCompanyListFile, lines);
  if (lines.size() > kCompanyRows) lines.resize(kCompanyRows);
  for (const std::string& line : lines) {
    CompanyEntry entry;
    if (ParseCompanyLine(line, entry) && !entry.directory.empty()) entries.push_back(std::move(entry));
  }
  return true;
}

std::string FullDirectoryPath(std::string_view dir) {
  if (dir.empty() || platform::IsAbsolutePath(dir)) return std::string(dir);
  std::string base = platform::CurrentDirectory();
  if (base.empty()) return std::string(dir);
  std::string_view rest = dir;
  while (rest.size() >= 2 && rest[0] == '.' && (rest[1] == '/' || rest[1] == '\\')) rest.remove_prefix(2);
  if (rest == ".") rest = {};
  const char separator = base.find('\\') != std::string::npos ? '\\' : '/';
  if (!rest.empty() && base.back() != '/' && base.back() != '\\') base += separator;
  return base + std::string(rest);
}

std::string DefaultTemplateDirectory(const Settings& settings) {
  return JoinPath(settings.dirs.start, "Template");
}

void ClearAutoSelect(Settings& settings) {
  settings.selection.select = false;
  SaveSelectionSettings(settings);
}

// ---- The selection -----------------------------------------------------------------

CompanySelection::CompanySelection(Settings& settings, ui::Dialogs& dialogs, CompanyView& view)
    : settings_(settings), dialogs_(dialogs), view_(view) {}

// The list files are named relative to the start directory, made current first: names
// handed to the file layer are cut to 64 characters, and a start directory deep in a
// home directory easily makes the full path longer than that.

const CompanyEntry& CompanySelection::Row(int row) const {
  return rows_[static_cast<size_t>(std::clamp(row, 1, kCompanyRows))];
}

CompanyEntry& CompanySelection::MutableRow(int row) {
  return rows_[static_cast<size_t>(std::clamp(row, 1, kCompanyRows))];
}

int CompanySelection::Current() const { return std::clamp(view_.CurrentRow(), 1, kCompanyRows); }

bool CompanySelection::SelectEnabled() const { return !Row(Current()).directory.empty(); }

void CompanySelection::ImportDefaultList(const std::string& defPath, const std::string& iniPath) {
  std::vector<std::string> defLines;
  ReadLinesOrThrow(defPath, defLines);
  std::vector<std::string> lines;
  for (const std::string& line : defLines) {
    if (line.empty()) continue;
    std::string entry = ";";  // appended, not ";" + line: GCC 12 -O3 warns (-Wrestrict) there
    entry += line;
    lines.push_back(std::move(entry));
  }
  WriteLinesOrThrow(iniPath, lines);
}

// The list files are named relative to the start directory, made current first: names
// handed to the file layer are cut to 64 characters, and a start directory deep in a
// home directory easily makes the full path longer than that.
bool CompanySelection::EnsureCompanyList() {
  EnterDirectory(settings_.dirs.start);
  const std::string ini = kCompanyListFile;
  if (platform::FileExists(ini)) return true;
  const std::string def = kDefaultListFile;
  if (platform::FileExists(def)) {
    ImportDefaultList(def, ini);
    return true;
  }
  // A first start: one entry without a name for the DATAFILE subdirectory. When the
  // file cannot be made, the caller reports the missing list.
  std::string entry = ";";
  entry += JoinPath(settings_.dirs.start, "DATAFILE");
  (void)platform::WriteTextLines(ini, {entry});  // whether it was made is checked below
  listCreated_ = true;
  return platform::FileExists(ini);
}

void CompanySelection::LoadAndStoreToGrid() {
  EnterDirectory(settings_.dirs.start);
  entryCount_ = 0;
  const std::string ini = kCompanyListFile;
  if (!platform::FileExists(ini)) return;
  // Read afresh each time, so the remembered choice is what other programs left.
  ReadSettings(settings_);
  std::vector<std::string> lines;
  ReadLinesOrThrow(ini, lines);

  for (CompanyEntry& e : rows_) e = CompanyEntry{};
  rememberedRow_ = 0;
  const SelectionSettings& sel = settings_.selection;
  const int count = static_cast<int>(std::min<size_t>(lines.size(), kCompanyRows));
  for (int k = 1; k <= count; ++k) {
    CompanyEntry entry;
    if (!ParseCompanyLine(lines[static_cast<size_t>(k - 1)], entry)) continue;
    rows_[static_cast<size_t>(k)] = std::move(entry);
    const CompanyEntry& e = rows_[static_cast<size_t>(k)];
    if (SameText(e.name, sel.company) && SameText(e.directory, sel.dir)) {
      view_.SetCurrentRow(k);
      rememberedRow_ = k;  // of several matches the last one wins
    }
    if (!e.directory.empty()) ++entryCount_;
  }
  const int current = Current();
  if (current != 1 && view_.TopRow() != 1 && current + kRowsBelowTop < kCompanyRows + 1) {
    view_.SetTopRow(current);
  }
  view_.SetAutoSelectChecked(rememberedRow_ != 0 && sel.select);
  view_.Refresh();
}

void CompanySelection::SaveCompanyList() {
  std::vector<std::string> lines;
  lines.reserve(kCompanyRows);
  for (int k = 1; k <= kCompanyRows; ++k) lines.push_back(FormatCompanyLine(rows_[static_cast<size_t>(k)]));
  EnterDirectory(settings_.dirs.start);
  WriteLinesOrThrow(kCompanyListFile, lines);
}

bool CompanySelection::CheckDirectory(const std::string& dir) {
  view_.SetBusy(true);
  bool exists = !dir.empty() && platform::DirectoryExists(dir);
  view_.SetBusy(false);
  if (!exists) dialogs_.ShowError(Th(kMsgDirectoryMissing));
  return exists;
}

void CompanySelection::TakeRow(int row) {
  const CompanyEntry& e = Row(row);
  selectedDirectory_ = e.directory;
  selectedCompanyName_ = e.name;
  selectedTemplateDirectory_ = e.templateDir;
}

bool CompanySelection::TryAutoSelect() {
  if (!EnsureCompanyList()) return false;
  LoadAndStoreToGrid();
  if (entryCount_ == 0) return false;
  if (suppressAutoSelect || !view_.AutoSelectChecked() || rememberedRow_ == 0) return false;
  if (!CheckDirectory(Row(rememberedRow_).directory)) return false;
  TakeRow(rememberedRow_);
  return true;
}

bool CompanySelection::SelectCompany() {
  const std::string saved = platform::CurrentDirectory();
  bool chosen = false;
  try {
    chosen = TryAutoSelect();
  } catch (...) {
    (void)platform::ChangeDirectory(saved);  // best effort: the first failure is the one thrown
    throw;
  }
  EnterDirectory(saved);
  if (!chosen) chosen = view_.RunModal();
  return chosen && !selectedDirectory_.empty();
}

bool CompanySelection::Show() {
  shownDirectory_ = platform::CurrentDirectory();
  shown_ = true;
  listModified_ = false;
  if (!EnsureCompanyList()) {
    dialogs_.ShowError(Th(kMsgListMissing));
    return false;
  }
  LoadAndStoreToGrid();
  if (entryCount_ == 0 || listCreated_) {
    // Nothing to choose from yet: straight into the editor for the first entry.
    listCreated_ = false;
    view_.SetCurrentRow(1);
    Edit();
  }
  view_.Refresh();
  if (settings_.selection.colPosition != 0) view_.SetNameColumnWidth(settings_.selection.colPosition);
  return true;
}

void CompanySelection::Close() {
  const bool wasShown = std::exchange(shown_, false);
  try {
    if (listModified_) {
      SaveCompanyList();
      listModified_ = false;
    }
    const int width = view_.NameColumnWidth();
    if (width != settings_.selection.colPosition) {
      settings_.selection.colPosition = width;
      SaveSelectionSettings(settings_);
    }
  } catch (...) {
    // The caller gets its directory back whatever failed.
    if (wasShown) (void)platform::ChangeDirectory(shownDirectory_);  // best effort: the first failure is thrown
    throw;
  }
  if (wasShown) EnterDirectory(shownDirectory_);
}

bool CompanySelection::Select() {
  const int row = Current();
  const CompanyEntry entry = Row(row);
  if (entry.directory.empty()) {
    if (dialogs_.AskForYesNo(ui::Question::kDefineCompany, Th(kAskUndefined))) Edit();
    return false;
  }
  if (!CheckDirectory(entry.directory)) return false;

  SelectionSettings& sel = settings_.selection;
  const int width = view_.NameColumnWidth();
  const bool checked = view_.AutoSelectChecked();
  const bool unchanged = SameText(entry.directory, sel.dir) && SameText(entry.name, sel.company) &&
                         width == sel.colPosition && checked == sel.select;
  sel.select = checked;
  sel.dir = entry.directory;
  sel.company = entry.name;
  sel.colPosition = width;
  TakeRow(row);
  if (!unchanged) SaveSelectionSettings(settings_);
  if (row != rememberedRow_) listModified_ = true;
  return true;
}

void CompanySelection::Edit() {
  const int row = Current();
  CompanyEntry& e = MutableRow(row);
  std::string name = e.name;
  std::string directory = e.directory;
  if (view_.RunEntryEditor(name, directory)) {
    e.name = std::move(name);
    e.directory = std::move(directory);
    listModified_ = true;
  }
  view_.Refresh();
}

void CompanySelection::Insert() {
  const int row = Current();
  for (int k = kCompanyRows; k > row; --k) rows_[static_cast<size_t>(k)] = std::move(rows_[static_cast<size_t>(k - 1)]);
  rows_[static_cast<size_t>(row)] = CompanyEntry{};
  listModified_ = true;
  view_.Refresh();
}

void CompanySelection::Delete() {
  const int row = Current();
  if (Row(row).HasNameOrDirectory() && !dialogs_.AskForYesNo(ui::Question::kDeleteCompany, Th(kAskDelete))) return;
  for (int k = row; k < kCompanyRows; ++k) rows_[static_cast<size_t>(k)] = std::move(rows_[static_cast<size_t>(k + 1)]);
  rows_[kCompanyRows] = CompanyEntry{};
  listModified_ = true;
  view_.Refresh();
}

void CompanySelection::MoveUp() {
  const int row = Current();
  if (row > 1) {
    std::swap(rows_[static_cast<size_t>(row)], rows_[static_cast<size_t>(row - 1)]);
    if (row == rememberedRow_) {
      --rememberedRow_;
    } else if (row == rememberedRow_ + 1) {
      ++rememberedRow_;
    }
    view_.SetCurrentRow(row - 1);
  }
  listModified_ = true;
  view_.Refresh();
}

void CompanySelection::MoveDown() {
  const int row = Current();
  if (row < kCompanyRows) {
    std::swap(rows_[static_cast<size_t>(row)], rows_[static_cast<size_t>(row + 1)]);
    if (row == rememberedRow_) {
      ++rememberedRow_;
    } else if (row + 1 == rememberedRow_) {
      --rememberedRow_;
    }
    view_.SetCurrentRow(row + 1);
  }
  listModified_ = true;
  view_.Refresh();
}

void CompanySelection::ReportTemplate() {
  const int row = Current();
  CompanyEntry& e = MutableRow(row);
  // Templates belong to a defined entry only; the menu item is disabled for the others.
  if (e.directory.empty()) return;
  std::string templ = e.templateDir;
  if (view_.RunTemplateEditor(templ)) {
    e.templateDir = std::move(templ);
    listModified_ = true;
  }
  view_.Refresh();
}

}  // namespace kv::company
