#include "company/CompanyList.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "company/CompanyFiles.h"
#include "platform/Cp874.h"
#include "platform/Faults.h"
#include "platform/PlainFile.h"
#include "platform/System.h"
#include "support/Host.h"
#include "support/RecordingDialogs.h"

namespace kv::company {
namespace {

using platform::Th;
using test::CompanyFiles;

// The window's state without a window; editors answer from scripts.
class FakeView : public CompanyView {
 public:
  int current = 1;
  int top = 1;
  int width = kDefaultNameColumnWidth;
  bool checked = false;
  int refreshes = 0;
  using EntryEdit = std::function<bool(std::string&, std::string&)>;
  using TemplateEdit = std::function<bool(std::string&)>;
  std::deque<EntryEdit> entryEdits;  // run out: the editor is cancelled
  std::deque<TemplateEdit> templateEdits;
  std::function<bool()> modal = [] { return false; };
  int entryEditorRuns = 0;
  int templateEditorRuns = 0;
  std::vector<std::pair<std::string, std::string>> editorInputs;

  int CurrentRow() const override { return current; }
  void SetCurrentRow(int row) override {
    current = row;
    if (row > top + 9) top = row - 9;  // ten rows visible
  }
  int TopRow() const override { return top; }
  void SetTopRow(int row) override { top = row; }
  int NameColumnWidth() const override { return width; }
  void SetNameColumnWidth(int w) override { width = w; }
  bool AutoSelectChecked() const override { return checked; }
  void SetAutoSelectChecked(bool c) override { checked = c; }
  void Refresh() override { ++refreshes; }
  void SetBusy(bool) override {}
  bool RunEntryEditor(std::string& name, std::string& dir) override {
    ++entryEditorRuns;
    editorInputs.emplace_back(name, dir);
    if (entryEdits.empty()) return false;
    auto edit = entryEdits.front();
    entryEdits.pop_front();
    return edit(name, dir);
  }
  bool RunTemplateEditor(std::string& templ) override {
    ++templateEditorRuns;
    if (templateEdits.empty()) return false;
    auto edit = templateEdits.front();
    templateEdits.pop_front();
    return edit(templ);
  }
  bool RunModal() override { return modal(); }
};

FakeView::EntryEdit Typed(std::string name, std::string dir) {
  return [name, dir](std::string& n, std::string& d) {
    n = name;
    d = dir;
    return true;
  };
}

class CompanyListTest : public ::testing::Test {
 protected:
  CompanyFiles files;
  test::RecordingDialogs dialogs;
  FakeView view;
  CompanySelection sel{files.settings, dialogs, view};

  void WriteList(const std::vector<std::string>& lines) { CompanyFiles::Write(files.ListPath(), CompanyFiles::CrLf(lines)); }
  void WriteCfg(const std::string& bytes) { CompanyFiles::Write(files.CfgPath(), bytes); }
  std::string Cfg() const { return CompanyFiles::Read(files.CfgPath()); }
  std::string List() const { return CompanyFiles::Read(files.ListPath()); }
  // A full list: row k is "Ck;<dir>/Ck" (directories not made).
  void WriteFullList() {
    std::vector<std::string> lines;
    for (int k = 1; k <= kCompanyRows; ++k) lines.push_back("C" + std::to_string(k) + ";/x/C" + std::to_string(k));
    WriteList(lines);
  }
  bool CfgHas(const std::string& line) const { return Cfg().find(line + "\r\n") != std::string::npos; }
  std::vector<std::string> ListLines() const { return platform::SplitLines(List()); }
};

// ---- Text rules and lines --------------------------------------------------------------

TEST(CompanyText, CaseIsIgnoredForAsciiLettersOnly) {
  EXPECT_TRUE(SameText("acme co/data", "ACME CO/DATA"));
  EXPECT_FALSE(SameText("acme", "acme "));
  // 0xE0 and 0xC0 are two different Thai letters; a Latin-1 case rule would join them.
  EXPECT_FALSE(SameText("\xE0", "\xC0"));
  EXPECT_FALSE(SameText("\xE1\xE2", "\xC1\xC2"));
  EXPECT_EQ(UpperAscii("a_z\xE0{"), "A_Z\xE0{");
}

TEST(CompanyText, TypedRelativeDirectoriesBecomeFullPaths) {
  const std::string base = kv::platform::CurrentDirectory();
  ASSERT_FALSE(base.empty());
  const std::string sep = base.find('\\') != std::string::npos ? "\\" : "/";
  const std::string full = base + sep;
  EXPECT_EQ(FullDirectoryPath("DATA"), full + "DATA");
  EXPECT_EQ(FullDirectoryPath("./DATA"), full + "DATA");
  EXPECT_EQ(FullDirectoryPath("."), base);
  EXPECT_EQ(FullDirectoryPath(""), "");
  EXPECT_EQ(FullDirectoryPath(full + "X"), full + "X");
}

TEST(CompanyText, LinesSplitAtFirstSemicolonThenFirstBar) {
  struct Case {
    const char* line;
    bool entry;
    CompanyEntry expected;
  } cases[] = {
      {"", false, {}},
      {"no separator", false, {}},
      {"A;/d", true, {"A", "/d", ""}},
      {";/d", true, {"", "/d", ""}},
      {"A;", true, {"A", "", ""}},
      {"A;B;/d", true, {"A", "B;/d", ""}},
      {"A;/d|/t", true, {"A", "/d", "/t"}},
      {"A;/d|/t|u", true, {"A", "/d", "/t|u"}},
      {" A ; /d ", true, {" A ", " /d ", ""}},
  };
  for (const auto& c : cases) {
    CompanyEntry e{"x", "y", "z"};
    EXPECT_EQ(ParseCompanyLine(c.line, e), c.entry) << c.line;
    EXPECT_EQ(e, c.expected) << c.line;
  }
  EXPECT_EQ(FormatCompanyLine({"A", "/d", ""}), "A;/d");
  EXPECT_EQ(FormatCompanyLine({"A", "/d", "/t"}), "A;/d|/t");
  EXPECT_EQ(FormatCompanyLine({"", "", "/t"}), "");
  EXPECT_EQ(FormatCompanyLine({"A", "", ""}), "A;");
}

// ---- Loading and saving ----------------------------------------------------------------

TEST_F(CompanyListTest, LoadTakesFirstNinetyLinesAnyLineEndAndKeepsRowNumbers) {
  for (const char* eol : {"\r\n", "\n", "\r"}) {
    std::string bytes = std::string("A;/a") + eol + "B;/b|/tb" + eol + "just text" + eol + "D;/d" + eol + eol + ";";
    for (int k = 7; k <= 95; ++k) bytes += eol + std::string("R;/r") + std::to_string(k);
    CompanyFiles::Write(files.ListPath(), bytes);
    sel.LoadAndStoreToGrid();
    EXPECT_EQ(sel.Row(1), (CompanyEntry{"A", "/a", ""})) << eol;
    EXPECT_EQ(sel.Row(2), (CompanyEntry{"B", "/b", "/tb"}));
    EXPECT_EQ(sel.Row(3), CompanyEntry{});
    EXPECT_EQ(sel.Row(4).name, "D");
    EXPECT_EQ(sel.Row(5), CompanyEntry{});
    EXPECT_EQ(sel.Row(6), CompanyEntry{});  // ";" alone: an entry with nothing in it
    EXPECT_EQ(sel.Row(90).directory, "/r90");
    EXPECT_EQ(sel.EntryCount(), 3 + 84);  // rows 1, 2, 4 and 7..90
  }
  sel.SaveCompanyList();
  auto lines = ListLines();
  ASSERT_EQ(lines.size(), 90u);
  EXPECT_EQ(lines[1], "B;/b|/tb");
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[89], "R;/r90");
}

TEST_F(CompanyListTest, SaveWritesNinetyCrLfLinesAndDropsALoneTemplate) {
  WriteList({"A;/a|/ta", "B;/b|/tb"});
  sel.LoadAndStoreToGrid();
  sel.MutableRow(2).name.clear();
  sel.MutableRow(2).directory.clear();
  sel.SaveCompanyList();
  EXPECT_EQ(List(), CompanyFiles::Ninety({"A;/a|/ta"}));
}

TEST_F(CompanyListTest, TypedSeparatorsSplitTheFieldsOnTheNextLoad) {
  WriteList({";/old"});
  sel.LoadAndStoreToGrid();
  sel.MutableRow(1) = {"Acme;Thai", "/d|/tpl", ""};
  sel.SaveCompanyList();
  EXPECT_EQ(ListLines()[0], "Acme;Thai;/d|/tpl");
  sel.LoadAndStoreToGrid();
  EXPECT_EQ(sel.Row(1), (CompanyEntry{"Acme", "Thai;/d", "/tpl"}));
}

TEST_F(CompanyListTest, ThaiTextsRoundTripByteForByte) {
  const std::string name = Th("บริษัท ทดสอบ จำกัด");
  const std::string line = name + ";/data/" + Th("บัญชี") + "|/t/" + Th("แม่แบบ") + "\xA0\xFF\x80";
  CompanyFiles::Write(files.ListPath(), CompanyFiles::Ninety({line, "", "x"}));
  sel.LoadAndStoreToGrid();
  EXPECT_EQ(sel.Row(1).name, name);
  sel.SaveCompanyList();
  EXPECT_EQ(List(), CompanyFiles::Ninety({line}));
}

TEST_F(CompanyListTest, ListBeyondTheFileNameLimitAndInAnyCaseIsTheSameFile) {
  // A start directory deep enough that the list's full path passes 64 characters.
  const std::string deep = files.Dir("a-rather-long-directory-name/and-another-long-one/start");
  ASSERT_GT(deep.size() + 12, 64u);
  files.settings.dirs.start = deep;
  CompanyFiles::Write(deep + "/userdrv.ini", "A;/a\r\n");
  sel.LoadAndStoreToGrid();
  EXPECT_EQ(sel.Row(1).name, "A");
  EXPECT_TRUE(sel.EnsureCompanyList());
  sel.MutableRow(2).name = "B";
  sel.SaveCompanyList();
  EXPECT_EQ(CompanyFiles::Read(deep + "/userdrv.ini"), CompanyFiles::Ninety({"A;/a", "B;"}));
  if (!kv::test::HostIsWindows()) {  // there the file system ignores case itself
    EXPECT_FALSE(CompanyFiles::Exists(deep + "/USERDRV.INI"));
  }
  EXPECT_EQ(platform::CurrentDirectory(), deep);
}

// ---- Creating the list -----------------------------------------------------------------

TEST_F(CompanyListTest, MissingListIsImportedFromTheDefaultList) {
  CompanyFiles::Write(files.start + "/USERDRV.DEF", "/srv/a\r\n\r\n/srv/b|/tpl\n  \n");
  EXPECT_TRUE(sel.EnsureCompanyList());
  EXPECT_FALSE(sel.ListCreated());
  EXPECT_EQ(List(), CompanyFiles::CrLf({";/srv/a", ";/srv/b|/tpl", ";  "}));
  sel.LoadAndStoreToGrid();
  EXPECT_EQ(sel.Row(2), (CompanyEntry{"", "/srv/b", "/tpl"}));
  EXPECT_EQ(sel.EntryCount(), 3);
}

TEST_F(CompanyListTest, MissingListIsCreatedWithTheDefaultEntryAndTheEditorOpens) {
  const std::string data = files.Dir("start/DATAFILE");
  view.entryEdits.push_back(Typed(Th("กิจการ"), data));
  ASSERT_TRUE(sel.Show());
  EXPECT_EQ(view.entryEditorRuns, 1);
  ASSERT_EQ(view.editorInputs.size(), 1u);
  EXPECT_EQ(view.editorInputs[0], std::make_pair(std::string(), files.start + "/DATAFILE"));
  EXPECT_FALSE(sel.ListCreated());
  EXPECT_TRUE(sel.ListModified());
  sel.Close();
  EXPECT_EQ(List(), CompanyFiles::Ninety({Th("กิจการ") + ";" + data}));
}

TEST_F(CompanyListTest, AnEmptyListOpensTheEditorOnRowOne) {
  WriteList({"no entries", "A;"});
  view.current = 5;
  ASSERT_TRUE(sel.Show());
  EXPECT_EQ(view.entryEditorRuns, 1);
  EXPECT_EQ(view.current, 1);
  EXPECT_FALSE(sel.ListModified());  // the editor was cancelled
}

TEST_F(CompanyListTest, AListThatCannotBeCreatedEndsTheDialogWithAnError) {
  files.Dir("start/USERDRV.INI");  // a directory where the file should be
  EXPECT_FALSE(sel.Show());
  ASSERT_EQ(dialogs.events.size(), 1u);
  EXPECT_EQ(dialogs.events[0].title, "Error");
  EXPECT_EQ(dialogs.events[0].text, Th("ไม่พบแฟ้ม USERDRV.INI"));
}

// ---- The remembered row ----------------------------------------------------------------

TEST_F(CompanyListTest, RememberedRowMatchesIgnoringAsciiCaseOnly) {
  struct Case {
    std::string cfgCompany, cfgDir;
    int remembered;
  } cases[] = {
      {"acme", "/data/acme", 3},
      {"ACME", "/DATA/ACME", 3},
      {"acme ", "/data/acme", 0},
      {"acme", "/data/acme/", 0},
      {Th("บริษัท"), "/d", 5},
      // The same name with one Thai letter changed by 0x20, as a Latin-1 case rule would.
      {"\xBA\xE3\xD4\xC9\xD1\xB7", "/d", 0},
  };
  for (const auto& c : cases) {
    WriteList({"A;/a", "B;/b", "ACME;/DATA/ACME", "", Th("บริษัท") + ";/D"});
    WriteCfg("OPENCOMPANY_DIR=" + c.cfgDir + "\r\nOPENCOMPANY_COMPANY=" + c.cfgCompany + "\r\nOPENCOMPANY_SELECT=1\r\n");
    view.current = 1;
    sel.LoadAndStoreToGrid();
    EXPECT_EQ(sel.RememberedRow(), c.remembered) << c.cfgCompany;
    EXPECT_EQ(view.current, c.remembered == 0 ? 1 : c.remembered);
    EXPECT_EQ(view.checked, c.remembered != 0);
  }
}

TEST_F(CompanyListTest, LastMatchWinsAndTheRowIsScrolledToTheTop) {
  std::vector<std::string> lines(90, "X;/x");
  lines[39] = "A;/a";
  lines[59] = "a;/A";
  WriteList(lines);
  WriteCfg("OPENCOMPANY_DIR=/a\r\nOPENCOMPANY_COMPANY=a\r\n");
  sel.LoadAndStoreToGrid();
  EXPECT_EQ(sel.RememberedRow(), 60);
  EXPECT_EQ(view.top, 60);
  EXPECT_FALSE(view.checked);  // OPENCOMPANY_SELECT is off

  // Near the end of the list the grid stays where making the row current left it.
  lines[59] = "X;/x";
  lines[87] = "A;/a";
  WriteList(lines);
  view = FakeView{};
  sel.LoadAndStoreToGrid();
  EXPECT_EQ(sel.RememberedRow(), 88);
  EXPECT_EQ(view.top, 79);
}

// ---- Insert, delete, move --------------------------------------------------------------

TEST_F(CompanyListTest, InsertAtRowOneOfAFullListDropsRowNinety) {
  WriteFullList();
  WriteCfg("OPENCOMPANY_DIR=/x/C3\r\nOPENCOMPANY_COMPANY=C3\r\n");
  sel.LoadAndStoreToGrid();
  view.current = 1;
  sel.Insert();
  EXPECT_EQ(sel.Row(1), CompanyEntry{});
  EXPECT_EQ(sel.Row(2).name, "C1");
  EXPECT_EQ(sel.Row(90).name, "C89");
  EXPECT_EQ(sel.RememberedRow(), 3);  // not followed
  EXPECT_TRUE(sel.ListModified());
  // And at row 90 the row's own entry goes.
  view.current = 90;
  sel.Insert();
  EXPECT_EQ(sel.Row(90), CompanyEntry{});
  EXPECT_EQ(sel.Row(89).name, "C88");
}

TEST_F(CompanyListTest, DeleteAsksForEntriesButNotForEmptyRows) {
  WriteFullList();
  sel.LoadAndStoreToGrid();
  dialogs.answers = {false, true};
  view.current = 1;
  sel.Delete();  // No
  EXPECT_EQ(sel.Row(1).name, "C1");
  EXPECT_FALSE(sel.ListModified());
  sel.Delete();  // Yes
  EXPECT_EQ(sel.Row(1).name, "C2");
  EXPECT_EQ(sel.Row(89).name, "C90");
  EXPECT_EQ(sel.Row(90), CompanyEntry{});
  EXPECT_TRUE(sel.ListModified());
  ASSERT_EQ(dialogs.events.size(), 2u);
  EXPECT_EQ(dialogs.events[0].title, "Confirm");
  EXPECT_EQ(dialogs.events[0].text, Th("คุณต้องการลบ?"));

  view.current = 90;  // empty now
  sel.Delete();
  EXPECT_EQ(dialogs.events.size(), 2u);
  view.current = 89;
  dialogs.answers = {true};
  sel.Delete();
  EXPECT_EQ(sel.Row(89), CompanyEntry{});
}

TEST_F(CompanyListTest, MovesFollowTheRememberedRowAndMarkTheListAtBothEnds) {
  struct Case {
    const char* what;
    int remembered, current;
    bool up;
    int rememberedAfter, currentAfter;
  } cases[] = {
      {"up the remembered row", 5, 5, true, 4, 4},
      {"up the row below it", 5, 6, true, 6, 5},
      {"up elsewhere", 5, 9, true, 5, 8},
      {"up at row 1", 1, 1, true, 1, 1},
      {"down the remembered row", 5, 5, false, 6, 6},
      {"down the row above it", 5, 4, false, 4, 5},
      {"down at row 90", 90, 90, false, 90, 90},
      {"down onto row 90", 90, 89, false, 89, 90},
      {"up with no remembered row", 0, 2, true, 0, 1},
  };
  for (const auto& c : cases) {
    WriteFullList();
    std::string r = std::to_string(c.remembered);
    WriteCfg("OPENCOMPANY_DIR=/x/C" + r + "\r\nOPENCOMPANY_COMPANY=C" + r + "\r\n");
    view = FakeView{};
    CompanySelection s(files.settings, dialogs, view);
    s.LoadAndStoreToGrid();
    ASSERT_EQ(s.RememberedRow(), c.remembered) << c.what;
    ASSERT_FALSE(s.ListModified());
    view.current = c.current;
    const std::string moved = s.Row(c.current).name;
    if (c.up) {
      s.MoveUp();
    } else {
      s.MoveDown();
    }
    EXPECT_EQ(s.RememberedRow(), c.rememberedAfter) << c.what;
    EXPECT_EQ(view.current, c.currentAfter) << c.what;
    EXPECT_EQ(s.Row(c.currentAfter).name, moved) << c.what;
    if (c.remembered != 0) {
      EXPECT_EQ(s.Row(s.RememberedRow()).name, "C" + r) << c.what;
    }
    EXPECT_TRUE(s.ListModified()) << c.what;
  }
}

// ---- Select, close and the remembered choice -------------------------------------------

class SelectTest : public CompanyListTest {
 protected:
  std::string acme, beta;
  void SetUp() override {
    acme = files.Dir("acme");
    beta = files.Dir("beta");
    WriteList({"Acme;" + acme, "Beta;" + beta, "Gone;" + files.root + "/missing", "Empty;"});
    // The name remembered in upper case, the file without the trailing CR LF: any rewrite adds one.
    WriteCfg("; settings\r\nOPENCOMPANY_DIR=" + acme + "\r\nOPENCOMPANY_COMPANY=ACME\r\nOPENCOMPANY_SELECT=0\r\nOPENCOMPANY_COLPOSITION=335");
  }
  bool CfgRewritten() const { return Cfg().size() >= 2 && Cfg().substr(Cfg().size() - 2) == "\r\n"; }
};

TEST_F(SelectTest, ChoosingTheRememberedCompanyAgainLeavesBothFilesAlone) {
  WriteList({"Acme;" + acme, "Beta;" + beta});
  ASSERT_TRUE(sel.Show());
  EXPECT_EQ(sel.RememberedRow(), 1);
  EXPECT_FALSE(view.checked);
  ASSERT_TRUE(sel.Select());
  EXPECT_FALSE(CfgRewritten());
  EXPECT_EQ(sel.SelectedDirectory(), acme);
  EXPECT_EQ(sel.SelectedCompanyName(), "Acme");
  sel.Close();
  EXPECT_FALSE(CfgRewritten());
  EXPECT_EQ(List(), CompanyFiles::CrLf({"Acme;" + acme, "Beta;" + beta}));  // not rewritten
  EXPECT_TRUE(dialogs.events.empty());
}

TEST_F(SelectTest, TickingTheCheckBoxRewritesTheSettings) {
  WriteList({"Acme;" + acme, "Beta;" + beta});
  ASSERT_TRUE(sel.Show());
  view.checked = true;
  sel.AutoSelectClicked();
  ASSERT_TRUE(sel.Select());
  EXPECT_TRUE(CfgHas("OPENCOMPANY_SELECT=1"));
  EXPECT_TRUE(CfgHas("; settings"));
  sel.Close();
  EXPECT_EQ(List(), CompanyFiles::Ninety({"Acme;" + acme, "Beta;" + beta}));
}

TEST_F(SelectTest, ChoosingAnotherRowRemembersItAndRewritesTheList) {
  ASSERT_TRUE(sel.Show());
  view.current = 2;
  view.width = 200;  // the user resized the name column
  ASSERT_TRUE(sel.Select());
  EXPECT_TRUE(CfgHas("OPENCOMPANY_DIR=" + beta));
  EXPECT_TRUE(CfgHas("OPENCOMPANY_COMPANY=Beta"));
  EXPECT_TRUE(CfgHas("OPENCOMPANY_SELECT=0"));
  EXPECT_TRUE(CfgHas("OPENCOMPANY_COLPOSITION=200"));
  EXPECT_TRUE(sel.ListModified());
  EXPECT_EQ(sel.SelectedDirectory(), beta);
  sel.Close();
  EXPECT_EQ(ListLines().size(), 90u);
}

TEST_F(SelectTest, AMissingOrUndefinedDirectoryKeepsTheDialogOpen) {
  ASSERT_TRUE(sel.Show());
  view.current = 3;
  EXPECT_FALSE(sel.Select());
  view.current = 4;
  dialogs.answers = {true};
  view.entryEdits.push_back(Typed("Empty", beta));
  EXPECT_FALSE(sel.Select());  // Yes: the editor, and still no choice
  EXPECT_EQ(sel.Row(4).directory, beta);
  EXPECT_EQ(sel.SelectedDirectory(), "");
  ASSERT_EQ(dialogs.events.size(), 2u);
  EXPECT_EQ(dialogs.events[0].title, "Error");
  EXPECT_EQ(dialogs.events[0].text, Th("ไม่พบไดเร็คทอรี่ หรือกำหนดไม่ถูกต้อง"));
  EXPECT_EQ(dialogs.events[1].title, "Confirm");
  EXPECT_EQ(dialogs.events[1].text, Th("ยังไม่ได้กำหนด. ต้องการสร้างใหม่?"));
  EXPECT_FALSE(CfgRewritten());
  dialogs.answers = {false};
  view.current = 5;
  EXPECT_FALSE(sel.Select());
  EXPECT_EQ(view.entryEditorRuns, 1);
}

TEST_F(SelectTest, CloseSavesTheColumnWidthAndReturnsToTheDirectoryOfTheShow) {
  const std::string elsewhere = files.Dir("elsewhere");
  ASSERT_EQ(platform::ChangeDirectory(elsewhere), platform::OsError::kNone);
  ASSERT_TRUE(sel.Show());
  EXPECT_EQ(view.width, 335);
  EXPECT_EQ(platform::CurrentDirectory(), files.start);
  view.width = 250;
  sel.Close();
  EXPECT_TRUE(CfgHas("OPENCOMPANY_COLPOSITION=250"));
  EXPECT_TRUE(CfgHas("OPENCOMPANY_COMPANY=ACME"));
  EXPECT_EQ(platform::CurrentDirectory(), elsewhere);
  EXPECT_EQ(List(), CompanyFiles::CrLf({"Acme;" + acme, "Beta;" + beta, "Gone;" + files.root + "/missing", "Empty;"}));
}

TEST_F(SelectTest, TheRememberedWidthIsAppliedOnShow) {
  WriteCfg("OPENCOMPANY_COLPOSITION=180\r\n");
  ASSERT_TRUE(sel.Show());
  EXPECT_EQ(view.width, 180);
  sel.Close();
  EXPECT_EQ(Cfg(), "OPENCOMPANY_COLPOSITION=180\r\n");
}

TEST_F(SelectTest, AutomaticChoiceTakesTheRememberedCompanyWithoutTheWindow) {
  WriteList({"Acme;" + acme, "Beta;" + beta});
  WriteCfg("OPENCOMPANY_DIR=" + beta + "\r\nOPENCOMPANY_COMPANY=beta\r\nOPENCOMPANY_SELECT=1");
  const std::string elsewhere = files.Dir("elsewhere");
  ASSERT_EQ(platform::ChangeDirectory(elsewhere), platform::OsError::kNone);
  int shown = 0;
  view.modal = [&] { return ++shown, false; };
  EXPECT_TRUE(sel.SelectCompany());
  EXPECT_EQ(shown, 0);
  EXPECT_EQ(sel.SelectedDirectory(), beta);
  EXPECT_EQ(platform::CurrentDirectory(), elsewhere);
  EXPECT_FALSE(CfgRewritten());

  // Suppressed, the window is shown all the same.
  CompanySelection again(files.settings, dialogs, view);
  again.suppressAutoSelect = true;
  EXPECT_FALSE(again.SelectCompany());
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(again.RememberedRow(), 2);  // the list was loaded
}

TEST_F(SelectTest, AutomaticChoiceOfAMissingDirectoryFallsBackToTheWindow) {
  WriteCfg("OPENCOMPANY_DIR=" + files.root + "/missing\r\nOPENCOMPANY_COMPANY=Gone\r\nOPENCOMPANY_SELECT=1\r\n");
  view.modal = [&] {
    EXPECT_TRUE(sel.Show());
    view.current = 2;
    bool ok = sel.Select();
    sel.Close();
    return ok;
  };
  EXPECT_TRUE(sel.SelectCompany());
  EXPECT_EQ(sel.SelectedDirectory(), beta);
  ASSERT_EQ(dialogs.events.size(), 1u);
  EXPECT_EQ(dialogs.events[0].text, Th("ไม่พบไดเร็คทอรี่ หรือกำหนดไม่ถูกต้อง"));
  // The box was ticked for the remembered row and stays so for the row chosen instead.
  EXPECT_TRUE(CfgHas("OPENCOMPANY_SELECT=1"));
  EXPECT_TRUE(CfgHas("OPENCOMPANY_DIR=" + beta));
}

TEST_F(SelectTest, ClearAutoSelectSwitchesTheChoiceOffAndKeepsOtherLines) {
  WriteCfg("OPENCOMPANY_SELECT=1\r\nOTHER=x\r\n");
  ReadSettings(files.settings);
  ClearAutoSelect(files.settings);
  EXPECT_TRUE(CfgHas("OPENCOMPANY_SELECT=0"));
  EXPECT_TRUE(CfgHas("OTHER=x"));
  EXPECT_FALSE(files.settings.selection.select);
}

TEST_F(SelectTest, AListThatCannotBeWrittenIsAnIoErrorAndTheDirectoryComesBack) {
  const std::string elsewhere = files.Dir("elsewhere");
  ASSERT_EQ(platform::ChangeDirectory(elsewhere), platform::OsError::kNone);
  ASSERT_TRUE(sel.Show());
  sel.Insert();
  platform::SetFaultPlan({platform::Op::kRename, 1, true, platform::FaultKind::kError, 5});
  EXPECT_THROW(sel.Close(), platform::IoError);
  platform::ClearFaults();
  EXPECT_EQ(platform::CurrentDirectory(), elsewhere);
  EXPECT_EQ(ListLines().size(), 4u);  // the old list is whole
}

// ---- Edit and report template ----------------------------------------------------------

TEST_F(SelectTest, EditStoresNameAndDirectoryAndKeepsTheTemplate) {
  WriteList({"Acme;" + acme + "|/tpl"});
  ASSERT_TRUE(sel.Show());
  view.entryEdits.push_back(Typed("New", beta));
  sel.Edit();
  EXPECT_EQ(sel.Row(1), (CompanyEntry{"New", beta, "/tpl"}));
  EXPECT_TRUE(sel.ListModified());
  sel.Close();
  EXPECT_EQ(ListLines()[0], "New;" + beta + "|/tpl");
}

TEST_F(SelectTest, CancelledEditorsLeaveTheRowAndTheListAlone) {
  ASSERT_TRUE(sel.Show());
  const CompanyEntry before = sel.Row(1);
  view.entryEdits.push_back([](std::string& n, std::string& d) { return n = "x", d = "y", false; });
  sel.Edit();
  view.templateEdits.push_back([](std::string& t) { return t = "/t", false; });
  sel.ReportTemplate();
  EXPECT_EQ(sel.Row(1), before);
  EXPECT_FALSE(sel.ListModified());
}

TEST_F(SelectTest, ReportTemplateSetsAndClearsOnlyOnRowsWithADirectory) {
  ASSERT_TRUE(sel.Show());
  view.templateEdits.push_back([](std::string& t) { return t = "/mine", true; });
  view.templateEdits.push_back([](std::string& t) {
    EXPECT_EQ(t, "/mine");
    return t.clear(), true;
  });
  sel.ReportTemplate();
  EXPECT_EQ(sel.Row(1).templateDir, "/mine");
  sel.ReportTemplate();
  EXPECT_EQ(sel.Row(1).templateDir, "");
  EXPECT_TRUE(sel.ListModified());
  view.current = 4;  // "Empty;": no directory
  sel.ReportTemplate();
  EXPECT_EQ(view.templateEditorRuns, 2);
  EXPECT_EQ(DefaultTemplateDirectory(files.settings), files.start + "/Template");
}

// ---- Directory checks of the editors ---------------------------------------------------

TEST_F(CompanyListTest, EntryDirectoryIsCreatedWithEveryMissingLevelAfterYes) {
  const std::string deep = files.root + "/a/b/c";
  dialogs.answers = {false};
  EXPECT_FALSE(ValidateEntryDirectory(deep, dialogs));
  EXPECT_FALSE(CompanyFiles::Exists(deep));
  dialogs.answers = {true};
  EXPECT_TRUE(ValidateEntryDirectory(deep, dialogs));
  EXPECT_TRUE(platform::DirectoryExists(deep));
  EXPECT_TRUE(ValidateEntryDirectory(deep, dialogs));  // exists: no question
  ASSERT_EQ(dialogs.events.size(), 2u);
  EXPECT_EQ(dialogs.events[0].text, Th("ไม่พบไดเร็คทอรี่ที่กำหนด. ต้องการสร้างใหม่?"));

  // Nothing can be made of an empty field, nor below a file.
  CompanyFiles::Write(files.root + "/file", "x");
  for (const std::string& bad : {std::string(), files.root + "/file/sub"}) {
    dialogs.events.clear();
    dialogs.answers = {true};
    EXPECT_FALSE(ValidateEntryDirectory(bad, dialogs)) << bad;
    ASSERT_EQ(dialogs.events.size(), 2u);
    EXPECT_EQ(dialogs.events[1].title, "Error");
    EXPECT_EQ(dialogs.events[1].text, Th("ไม่สามารถสร้างไดเร็คทอรี่ที่กำหนดได้"));
  }
}

TEST_F(CompanyListTest, TemplateDirectoryIsMadeOneLevelOnlyAndNeverNamedDefault) {
  struct Case {
    std::string dir;
    bool makeFirst;
    std::vector<bool> answers;
    bool ok;
    std::vector<std::string> texts;  // UTF-8
  } cases[] = {
      {"t/a/b/c", false, {true}, false, {"ไม่พบไดเร็คทอรี่ที่กำหนด. ต้องการสร้างใหม่?", "ไม่สามารถสร้างไดเร็คทอรี่ที่กำหนดได้"}},
      {"t/one", false, {true}, true, {"ไม่พบไดเร็คทอรี่ที่กำหนด. ต้องการสร้างใหม่?"}},
      {"t/no", false, {false}, false, {"ไม่พบไดเร็คทอรี่ที่กำหนด. ต้องการสร้างใหม่?"}},
      {"t/x/_default", true, {}, false, {"ไม่อนุญาตให้กำหนดชื่อ _Default"}},
      {"t/_DeFaUlT", false, {true}, false, {"ไม่พบไดเร็คทอรี่ที่กำหนด. ต้องการสร้างใหม่?", "ไม่อนุญาตให้กำหนดชื่อ _Default"}},
      {"t/x/_default/", true, {}, true, {}},
      {"t/y\\_Default", true, {}, false, {"ไม่อนุญาตให้กำหนดชื่อ _Default"}},
      {"t/z:_DEFAULT", true, {}, false, {"ไม่อนุญาตให้กำหนดชื่อ _Default"}},
      {"t/_defaults", true, {}, true, {}},
  };
  files.Dir("t");
  for (const auto& c : cases) {
    // On Windows a backslash or a colon cannot be part of a directory's name.
    if (kv::test::HostIsWindows() && c.dir.find_first_of("\\:") != std::string::npos) continue;
    const std::string dir = files.root + "/" + c.dir;
    if (c.makeFirst) files.Dir(c.dir);
    dialogs.events.clear();
    dialogs.answers.assign(c.answers.begin(), c.answers.end());
    EXPECT_EQ(ValidateTemplateDirectory(dir, dialogs), c.ok) << c.dir;
    std::vector<std::string> texts;
    for (const auto& e : dialogs.events) texts.push_back(platform::Cp874ToUtf8(e.text));
    EXPECT_EQ(texts, c.texts) << c.dir;
  }
  EXPECT_TRUE(platform::DirectoryExists(files.root + "/t/_DeFaUlT"));  // made before the name test
  EXPECT_FALSE(CompanyFiles::Exists(files.root + "/t/a"));
}

}  // namespace
}  // namespace kv::company
