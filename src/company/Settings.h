// The suite's settings files and the directories fixed at start: KORVA.CFG, KORVA.INI,
// KVSCHEME.SET, the colour schemes and the remembered company choice.
//
// The files are the suite's and its programs read them too: what is read and written,
// byte for byte and in code page 874, must not change. The callers (company selection,
// the run, the error catalogue) know the settings only by the names below, never by the
// files' layout, so that the layout is kept in this one place.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::company {

struct Directories {
  std::string start;     // current directory when the program started
  std::string settings;  // directory of KORVA.CFG
  std::string temp;      // full path ending in "/", or empty when unusable
  std::string workData;  // temp + "korva_data/" (start + "/korva_data/" without temp)
};

// The remembered company choice (KORVA.CFG, OPENCOMPANY_* keys).
struct SelectionSettings {
  std::string dir;        // OPENCOMPANY_DIR (CP874)
  std::string company;    // OPENCOMPANY_COMPANY (CP874)
  bool select = false;    // OPENCOMPANY_SELECT, "1" = true
  int32_t colPosition = 0;  // OPENCOMPANY_COLPOSITION
};

struct Settings {
  Directories dirs;
  SelectionSettings selection;
  int32_t userColorType = 1;             // USER_COLOR_TYPE, 1..6
  std::array<uint32_t, 7> gridBand = {};  // GridBandColour per scheme, [1..6]
  bool invoiceOldForm = false;           // KORVA.INI INVOICEOLDFORM=TRUE

  std::string KorvaCfgPath() const;  // dirs.settings + "/KORVA.CFG"
};

// What the start-up initialisation takes from the process and the environment.
struct StartupPlaces {
  std::string startDirectory;  // the current directory
  bool removableDrive = false; // the start directory lies on a removable drive
  std::string appData;         // platform::AppDataDirectory()
  std::string temp;            // platform::TempDirectoryFromEnv()
};

// Start-up initialisation: fixes the directories (from the current directory and the
// environment) and computes the colour schemes from KVSCHEME.SET.
Settings InitSettings();
// The same from given places (tests, and callers that already know them). Creates the
// settings, TEMP and work-data directories when missing; never changes the current
// directory.
Settings InitSettings(const StartupPlaces& places);
// Reads KORVA.CFG then KORVA.INI (the latter relative to the current directory, which
// the caller makes StartDirectory). Throws platform::IoError on a read error.
void ReadSettings(Settings& settings);
// Rewrites the four OPENCOMPANY keys of KORVA.CFG, keeping every other line (however
// many there are) in its place; empty lines are dropped, lines end in CR LF, and the
// file is replaced atomically. Throws platform::IoError when an existing KORVA.CFG
// cannot be read (nothing is written then) or the new one cannot be written.
void SaveSelectionSettings(const Settings& settings);

// Default colours of the schemes.
inline constexpr uint32_t kDefaultBaseColour = 8404992;  // red 0, green 64, blue 128
inline constexpr int32_t kDefaultGridPercentage = 10;
// The grid band colours of schemes 2 to 6, whatever KVSCHEME.SET holds.
inline constexpr uint32_t kFixedGridBand[7] = {0,        0,        15523031, 15658978,
                                               15199725, 15592697, 15132390};
// KVSCHEME.SET: one record of seven groups of six int32 (base colours, then the
// percentages of the six derived colours). Fewer than 168 bytes: the defaults.
inline constexpr size_t kSchemeRecordSize = 168;
// The grid band colours [1..6] from a KVSCHEME.SET record, or from none (nullptr).
std::array<uint32_t, 7> ComputeGridBands(const uint8_t* schemeRecord);

uint32_t BlendColour(uint32_t colour, int32_t percentage);
uint32_t GridBandColour(const Settings& settings);

// KEY= matched at the start of `line`, case-sensitively, with a non-empty value.
bool MatchKey(std::string_view key, std::string_view line, std::string& value);
// Replaces the first line beginning with key + "=" (ASCII case ignored) or appends one.
void SetSettingLine(std::vector<std::string>& lines, std::string_view key, std::string_view value);

}  // namespace kv::company
