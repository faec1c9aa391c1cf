// The suite's settings files and the directories fixed at start: KORVA.CFG, KORVA.INI,
// KVSCHEME.SET, the colour schemes and the remembered company choice.
//
// THIS HEADER IS A CONTRACT between the settings code and its callers (company
// selection, the run, the error catalogue). Keep the public signatures; add what you need.
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
  std::string workData;  // temp + "korva_data/"
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

// Start-up initialisation: fixes the directories (from the current directory and the
// environment) and computes the colour schemes from KVSCHEME.SET.
Settings InitSettings();
// Reads KORVA.CFG then KORVA.INI (the latter relative to the current directory, which
// the caller makes StartDirectory). Throws platform::IoError on a read error.
void ReadSettings(Settings& settings);
// Rewrites the four OPENCOMPANY keys of KORVA.CFG, keeping every other line.
void SaveSelectionSettings(const Settings& settings);

uint32_t BlendColour(uint32_t colour, int32_t percentage);
uint32_t GridBandColour(const Settings& settings);

// KEY= matched at the start of `line`, case-sensitively, with a non-empty value.
bool MatchKey(std::string_view key, std::string_view line, std::string& value);
// Replaces the first line beginning with key + "=" (ASCII case ignored) or appends one.
void SetSettingLine(std::vector<std::string>& lines, std::string_view key, std::string_view value);

}  // namespace kv::company
