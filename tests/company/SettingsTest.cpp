#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "company/Settings.h"
#include "isam/Coding.h"
#include "platform/Cp874.h"
#include "platform/Faults.h"
#include "platform/PlainFile.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace kv::company;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}
void WriteFile(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

class SettingsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string made = kv::test::MakeTempDir("kvsettings", fs::temp_directory_path().generic_string());
    ASSERT_FALSE(made.empty());
    root_ = made;
    start_ = root_ / "start";
    fs::create_directories(start_);
    fs::create_directories(root_ / "appdata");
    fs::create_directories(root_ / "tmp");
    previous_ = fs::current_path();
    fs::current_path(start_);  // KORVA.INI is read from the current directory
  }
  void TearDown() override {
    fs::current_path(previous_);
    kv::test::RemoveTempDir(root_.generic_string());
  }

  StartupPlaces Places(bool removable = false) const {
    return {start_.generic_string(), removable, (root_ / "appdata").generic_string(), (root_ / "tmp").generic_string()};
  }
  Settings Init() { return InitSettings(Places()); }
  fs::path Cfg() const { return root_ / "appdata" / "Velmora" / "KORVA.CFG"; }

  fs::path root_, start_, previous_;
};

TEST(BlendColour, MixesWithWhiteOrBlackRoundingTiesToEven) {
  const struct {
    uint32_t colour;
    int32_t percentage;
    uint32_t expected;
  } cases[] = {
      {8404992, 150, 64u << 16 | 32u << 8},  // (0, 32, 64)
      {8404992, 10, 15920358},               // (230, 236, 242)
      {8404992, 100, 8404992},
      {8404992, 0, 0xFFFFFF},
      {8404992, 200, 0},
      {8404992, -40, 0xFFFFFF},              // clamped to 0
      {8404992, 900, 0},                     // clamped to 200
      {0x000000, 50, 0x808080},              // 127.5 -> 128
      {0x020202, 50, 0x808080},              // 128.5 -> 128
      {0x030101, 150, 0x020000},             // blue 1.5 -> 2, red and green 0.5 -> 0
      {0xFF123456, 100, 0x123456},           // the top byte is not a colour
  };
  for (const auto& c : cases)
    EXPECT_EQ(BlendColour(c.colour, c.percentage), c.expected) << c.colour << " " << c.percentage;
}

TEST_F(SettingsFiles, SchemesWithoutOrWithShortSchemeFileAreTheDefaults) {
  for (size_t size : {size_t{0}, size_t{167}}) {
    if (size > 0) WriteFile(start_ / "KVSCHEME.SET", std::string(size, '\x01'));
    const Settings s = Init();
    EXPECT_EQ(s.gridBand[1], 15920358u) << size;
    EXPECT_EQ(s.gridBand[2], 15523031u);
    EXPECT_EQ(s.gridBand[3], 15658978u);
    EXPECT_EQ(s.gridBand[4], 15199725u);
    EXPECT_EQ(s.gridBand[5], 15592697u);
    EXPECT_EQ(s.gridBand[6], 15132390u);
    EXPECT_EQ(GridBandColour(s), 15920358u);
  }
}

TEST_F(SettingsFiles, SchemeFileGivesSchemeOneOthersStayFixed) {
  uint8_t record[kSchemeRecordSize] = {};
  for (int scheme = 0; scheme < 6; ++scheme) {
    kv::isam::PutU32(record + 4 * scheme, 8404992);
    kv::isam::PutI32(record + 72 + 4 * scheme, 150);  // grid band percentage
  }
  WriteFile(start_ / "KVSCHEME.SET", std::string(reinterpret_cast<char*>(record), sizeof record));
  Settings s = Init();
  EXPECT_EQ(s.gridBand[1], 64u << 16 | 32u << 8);
  EXPECT_EQ(s.gridBand[2], 15523031u);
  EXPECT_EQ(s.gridBand[6], 15132390u);

  const struct {
    int32_t type;
    uint32_t band;
  } choices[] = {{1, s.gridBand[1]}, {4, 15199725u}, {6, 15132390u}, {0, s.gridBand[1]},
                 {7, s.gridBand[1]}, {-3, s.gridBand[1]}};
  for (const auto& c : choices) {
    s.userColorType = c.type;
    EXPECT_EQ(GridBandColour(s), c.band) << c.type;
  }
}

TEST_F(SettingsFiles, DirectoriesOnAFixedDrive) {
  const Settings s = Init();
  EXPECT_EQ(s.dirs.start, start_.generic_string());
  EXPECT_EQ(s.dirs.settings, (root_ / "appdata" / "Velmora").generic_string());
  EXPECT_TRUE(fs::is_directory(s.dirs.settings));
  EXPECT_EQ(s.KorvaCfgPath(), Cfg().generic_string());
  EXPECT_EQ(s.dirs.temp, (root_ / "tmp").generic_string() + "/");
  EXPECT_EQ(s.dirs.workData, (root_ / "tmp").generic_string() + "/korva_data/");
  EXPECT_TRUE(fs::is_directory(s.dirs.workData));
}

TEST_F(SettingsFiles, DirectoriesOnARemovableDrive) {
  const Settings s = InitSettings(Places(true));
  EXPECT_EQ(s.dirs.settings, start_.generic_string());
  EXPECT_EQ(s.dirs.temp, (start_ / "TEMP").generic_string() + "/");
  EXPECT_TRUE(fs::is_directory(start_ / "TEMP" / "korva_data"));
  EXPECT_FALSE(fs::exists(root_ / "appdata" / "Velmora"));
}

TEST_F(SettingsFiles, DirectoryFallbacks) {
  StartupPlaces places = Places();
  places.appData = (root_ / "no" / "such").generic_string();  // Velmora cannot be made one level down
  places.temp = (root_ / "missing").generic_string();
  const Settings s = InitSettings(places);
  EXPECT_EQ(s.dirs.settings, start_.generic_string());
  EXPECT_EQ(s.dirs.temp, "");
  EXPECT_EQ(s.dirs.workData, start_.generic_string() + "/korva_data/");
  EXPECT_TRUE(fs::is_directory(start_ / "korva_data"));

  places.temp = "tmp-rel";  // a relative TEMP is taken from the start directory
  fs::create_directories(start_ / "tmp-rel");
  EXPECT_EQ(InitSettings(places).dirs.temp, (start_ / "tmp-rel").generic_string() + "/");
}

TEST(MatchKey, KeyAtTheStartCaseSensitiveWithAValue) {
  const struct {
    const char* line;
    bool match;
    const char* value;
  } cases[] = {
      {"OPENCOMPANY_DIR=/data/a", true, "/data/a"},
      {"OPENCOMPANY_DIR=", false, ""},
      {"OPENCOMPANY_DIR = /data/a", false, ""},
      {"opencompany_dir=/data/a", false, ""},
      {" OPENCOMPANY_DIR=/data/a", false, ""},
      {"OPENCOMPANY_DIR==x y ", true, "=x y "},
      {"OPENCOMPANY_DIR_PR=/pr", false, ""},
  };
  for (const auto& c : cases) {
    std::string value;
    EXPECT_EQ(MatchKey("OPENCOMPANY_DIR=", c.line, value), c.match) << c.line;
    if (c.match) {
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST_F(SettingsFiles, ReadsCfgAsItStandsAndIniCleanedUp) {
  Settings s = Init();
  s.selection.dir = "kept";
  const std::string thai = kv::platform::Th("บริษัท ทดสอบ");
  WriteFile(Cfg(),
            "; OPENCOMPANY_COMPANY=comment\r\n"
            "OPENCOMPANY_DIR=\r\n"                 // empty value: keeps its value
            "OPENCOMPANY_COMPANY = spaced\r\n"     // spaces are significant here
            "OPENCOMPANY_COMPANY=" + thai + "\r\n"
            "opencompany_select=1\r\n"             // case-sensitive
            "OPENCOMPANY_SELECT=1\r\n"
            "OPENCOMPANY_DIR_PR=/pr\r\n"
            "OPENCOMPANY_COLPOSITION=abc\r\n"      // not a number: 0
            "USER_COLOR_TYPE=4\r\n"
            "CUSTOM_GRID_COLOR=255\r\n"
            "INVOICEOLDFORM=TRUE\r\n"              // a KORVA.INI key, not a KORVA.CFG one
            "\r\n");
  WriteFile(start_ / "KORVA.INI",
            "; comment\r\n"
            "   \r\n"
            " invoice old form = true \r\n"
            "OPENCOMPANY_DIR=/from-ini\r\n");
  s.selection.colPosition = 77;
  ReadSettings(s);
  EXPECT_EQ(s.selection.dir, "kept");
  EXPECT_EQ(s.selection.company, thai);
  EXPECT_TRUE(s.selection.select);
  EXPECT_EQ(s.selection.colPosition, 0);
  EXPECT_EQ(s.userColorType, 4);
  EXPECT_EQ(s.gridBand[6], 255u);
  EXPECT_TRUE(s.invoiceOldForm);
  s.userColorType = 6;
  EXPECT_EQ(GridBandColour(s), 255u);
}

TEST_F(SettingsFiles, SelectIsOnlyForOneAndOldFormOnlyForTrue) {
  Settings s = Init();
  WriteFile(Cfg(), "OPENCOMPANY_SELECT=1\nOPENCOMPANY_SELECT=TRUE\nOPENCOMPANY_COLPOSITION=-12\n");
  WriteFile(start_ / "KORVA.INI", "INVOICEOLDFORM=TRUE\nINVOICEOLDFORM=1\n");
  ReadSettings(s);
  EXPECT_FALSE(s.selection.select);
  EXPECT_EQ(s.selection.colPosition, -12);
  EXPECT_FALSE(s.invoiceOldForm);
}

TEST_F(SettingsFiles, ScreenKeyIsCutAndTheRestTestedAgain) {
  Settings s = Init();
  WriteFile(Cfg(), "SCREEN=OPENCOMPANY_COMPANY=Acme\r\nSCREEN=\r\n");
  ReadSettings(s);
  EXPECT_EQ(s.selection.company, "Acme");
}

TEST_F(SettingsFiles, WithoutCfgNeitherFileIsRead) {
  Settings s = Init();
  WriteFile(start_ / "KORVA.INI", "INVOICEOLDFORM=TRUE\r\n");
  ReadSettings(s);
  EXPECT_FALSE(s.invoiceOldForm);
  WriteFile(Cfg(), "");
  ReadSettings(s);
  EXPECT_TRUE(s.invoiceOldForm);
}

TEST_F(SettingsFiles, SaveRewritesOnlyItsOwnLinesInPlace) {
  Settings s = Init();
  WriteFile(Cfg(),
            "; settings of the suite\r\n"
            "OPENCOMPANY_DIR_PR=/pr\r\n"
            "\r\n"
            "OPENCOMPANY_DIR=/old\r\n"
            "PRINTERNAME=HP LaserJet\n"
            "opencompany_select=0\r\n"
            "OPENCOMPANY_SELECT_PR=1\r\n");
  s.selection = {"/data/new", "Acme", true, 120};
  SaveSelectionSettings(s);
  EXPECT_EQ(ReadFile(Cfg()),
            "; settings of the suite\r\n"
            "OPENCOMPANY_DIR_PR=/pr\r\n"
            "OPENCOMPANY_DIR=/data/new\r\n"
            "PRINTERNAME=HP LaserJet\r\n"
            "OPENCOMPANY_SELECT=1\r\n"
            "OPENCOMPANY_SELECT_PR=1\r\n"
            "OPENCOMPANY_COMPANY=Acme\r\n"
            "OPENCOMPANY_COLPOSITION=120\r\n");

  Settings back = Init();
  ReadSettings(back);
  EXPECT_EQ(back.selection.dir, "/data/new");
  EXPECT_EQ(back.selection.company, "Acme");
  EXPECT_TRUE(back.selection.select);
  EXPECT_EQ(back.selection.colPosition, 120);
}

TEST_F(SettingsFiles, SaveWithoutFileWritesTheFourKeysInOrder) {
  Settings s = Init();
  s.selection = {"", "", false, 0};
  SaveSelectionSettings(s);
  EXPECT_EQ(ReadFile(Cfg()),
            "OPENCOMPANY_DIR=\r\nOPENCOMPANY_COMPANY=\r\nOPENCOMPANY_SELECT=0\r\n"
            "OPENCOMPANY_COLPOSITION=0\r\n");
}

TEST_F(SettingsFiles, SaveKeepsEveryLineOfALongFile) {
  Settings s = Init();
  std::string before;
  for (int i = 0; i < 400; ++i) {
    before += "OTHER_PROGRAM_KEY" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
    if (i == 300) before += "OPENCOMPANY_COMPANY=old\r\n";
  }
  WriteFile(Cfg(), before);
  s.selection = {"/d", "new", false, 5};
  SaveSelectionSettings(s);
  std::string expected = before;
  expected.replace(expected.find("OPENCOMPANY_COMPANY=old"), 23, "OPENCOMPANY_COMPANY=new");
  expected += "OPENCOMPANY_DIR=/d\r\nOPENCOMPANY_SELECT=0\r\nOPENCOMPANY_COLPOSITION=5\r\n";
  EXPECT_EQ(ReadFile(Cfg()), expected);
}

TEST_F(SettingsFiles, SaveNeverReplacesACfgItCouldNotRead) {
  Settings s = Init();
  const std::string before = "PRINTERNAME=HP\r\nOPENCOMPANY_DIR=/old\r\n";
  WriteFile(Cfg(), before);
  s.selection = {"/new", "x", true, 1};
  kv::platform::FaultPlan plan;
  plan.op = kv::platform::Op::kRead;
  plan.nth = 1;
  plan.persistent = true;
  kv::platform::SetFaultPlan(plan);
  EXPECT_THROW(SaveSelectionSettings(s), kv::platform::IoError);
  kv::platform::ClearFaults();
  EXPECT_EQ(ReadFile(Cfg()), before);

  // Nor one that cannot even be opened as a file.
  fs::remove(Cfg());
  fs::create_directory(Cfg());
  EXPECT_THROW(SaveSelectionSettings(s), kv::platform::IoError);
  EXPECT_TRUE(fs::is_directory(Cfg()));
}

TEST_F(SettingsFiles, ReadErrorInsideCfgIsAnIoError) {
  Settings s = Init();
  WriteFile(Cfg(), "OPENCOMPANY_DIR=/x\r\n");
  kv::platform::FaultPlan plan;
  plan.op = kv::platform::Op::kRead;
  plan.nth = 1;
  kv::platform::SetFaultPlan(plan);
  EXPECT_THROW(ReadSettings(s), kv::platform::IoError);
  kv::platform::ClearFaults();
}

TEST(SetSettingLine, ReplacesFirstNonEmptyMatchIgnoringCaseOrAppends) {
  std::vector<std::string> lines = {"", "a_key=1", "A_KEY=2", "A_KEYS=3"};
  SetSettingLine(lines, "A_KEY", "9");
  EXPECT_EQ(lines, (std::vector<std::string>{"", "A_KEY=9", "A_KEY=2", "A_KEYS=3"}));
  SetSettingLine(lines, "B", "");
  EXPECT_EQ(lines.back(), "B=");
  EXPECT_EQ(lines.size(), 5u);
}

}  // namespace
