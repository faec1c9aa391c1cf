#include "company/Settings.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "isam/Coding.h"
#include "platform/File.h"
#include "platform/PlainFile.h"
#include "platform/Path.h"
#include "platform/System.h"
#include "ui/NumberText.h"

namespace kv::company {

namespace {

// The settings files may be held open by another program of the suite for a moment;
// an open that reports 255 is tried again, a bounded number of times.
constexpr int kOpenAttempts = 11;
constexpr int32_t kIoBusy = 255;

// This program is the GL member of the suite: its module code picks the forms of the
// module-specific keys (and the forms without _PR of the remembered company).
constexpr std::string_view kModuleCode = "GL";

enum class Key {
  kIgnored,  // part of the shared vocabulary, no effect in this program
  kOpenCompanyDir,
  kOpenCompanyCompany,
  kOpenCompanySelect,
  kOpenCompanyColPosition,
  kUserColorType,
  kCustomGridColor,
  kInvoiceOldForm,
};

struct KeyRule {
  std::string key;  // with its "="
  Key effect;
};

// KORVA.CFG keys in the order a line is tested ("SCREEN=" is tested apart, before these).
std::vector<KeyRule> CfgKeys() {
  std::vector<KeyRule> keys;
  for (const char* k :
       {"SVGA=", "BACKGROUND=", "THAIDRIVER=", "SHADOWTYPE=", "NETWORK=", "SCREENSAVER=",
        "PRINTERNAME=", "PRINTERTABLE=", "LOADAXTHAI=", "FREEHEAP=", "MOUSE=", "LOOKANDFEEL=",
        "LOOKANDFEEL_MENU=", "COMPANYBARWIDTH=", "PASSSETTING=", "PREVIEWSETTING=",
        "REPORTDISPLAYZERO=", "ASKFORENTERDATE=", "ASKFORENTERDATE_PR=", "SHOWTIPONSTART=",
        "SHOWTIPONSTART_PR=", "SHOWSOFTWARETYPE="})
    keys.push_back({k, Key::kIgnored});
  keys.push_back({"OPENCOMPANY_DIR=", Key::kOpenCompanyDir});
  keys.push_back({"OPENCOMPANY_COMPANY=", Key::kOpenCompanyCompany});
  keys.push_back({"OPENCOMPANY_SELECT=", Key::kOpenCompanySelect});
  for (const char* k : {"OPENCOMPANY_DIR_PR=", "OPENCOMPANY_COMPANY_PR=", "OPENCOMPANY_SELECT_PR="})
    keys.push_back({k, Key::kIgnored});
  keys.push_back({"OPENCOMPANY_COLPOSITION=", Key::kOpenCompanyColPosition});
  for (const char* k : {"DEFAULT_PRINTERNAME=", "KVBACKUP_DIR=", "MAINMENU_TYPE="})
    keys.push_back({k, Key::kIgnored});
  for (const char* k : {"BACKGROUND_TYPE_", "BACKGROUND_COLOR0_", "BACKGROUND_SHOWCOMPANY_",
                        "BACKGROUND_SHOWTRANSPARENT_", "BACKGROUND_PICTURE_",
                        "BACKGROUND_TRANSPARENT_", "BACKGROUND_POSITION_",
                        "BACKGROUND_POSITION_FITWIDTH_"})
    keys.push_back({std::string(k) + std::string(kModuleCode) + "=", Key::kIgnored});
  for (const char* k : {"GL_USESMARTMOVE=", "AR_AUTORUNINVOICE=", "AR_USEPAIDOLDSTYLE=",
                        "AP_USEPAIDOLDSTYLE=", "IC_PRINTTRANSFER="})
    keys.push_back({k, Key::kIgnored});
  keys.push_back({"USER_COLOR_TYPE=", Key::kUserColorType});
  keys.push_back({"CUSTOM_PANEL_COLOR=", Key::kIgnored});
  keys.push_back({"CUSTOM_PANEL_COLORTO=", Key::kIgnored});
  keys.push_back({"CUSTOM_GRID_COLOR=", Key::kCustomGridColor});
  for (const char* k : {"CUSTOM_REPTMENU_COLOR=", "CUSTOM_REPTMENU_COLORTO=", "USEESCFORMENU=",
                        "PREXPORT32_DIR=", "APS_DRIVE_LIST="})
    keys.push_back({k, Key::kIgnored});
  return keys;
}

std::vector<KeyRule> IniKeys() {
  std::vector<KeyRule> keys;
  for (const char* k :
       {"WSNUMBER=", "SAVEMODE=", "VIEWREPTBUFSIZE=", "PRINTWAREHOUSE=", "CHECKSTOCKTYPE=",
        "VIEWREPTTHAIBLANK=", "VATSORTTYPE=", "PRINTTOSCREEN=", "BEGINBALANCETYPE=",
        "INVCALCVATTYPE="})
    keys.push_back({k, Key::kIgnored});
  keys.push_back({"INVOICEOLDFORM=", Key::kInvoiceOldForm});
  for (const char* k :
       {"HISTREPTINCLUDEVAT=", "AUDITTRAILOFF=", "DEFEATLOCALCACHE=", "ENGINEINIT_FREE=",
        "PROVIDEUSEDEPT_TFB=", "USEVENDORITEM=", "DECOFAMOUNT_IC=", "ALLOWEDITUNITLEVEL1=",
        "TAXREPORT2TYPE=", "PO_USECOMPONENT=", "DESCOFINVOICESHOWZERO=",
        "QTYOFINVOICESHOWCOMMA=", "TAX1USENEXTMONTH=", "SOCIALMAXAGES="})
    keys.push_back({k, Key::kIgnored});
  return keys;
}

bool StartsWith(std::string_view line, std::string_view key) {
  return line.size() >= key.size() && line.compare(0, key.size(), key) == 0;
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWithIgnoringAsciiCase(std::string_view line, std::string_view key) {
  if (line.size() < key.size()) return false;
  for (size_t i = 0; i < key.size(); ++i)
    if (AsciiUpper(line[i]) != AsciiUpper(key[i])) return false;
  return true;
}

// A decimal integer; anything else (or a number beyond 32 bits) reads as 0.
int32_t ToInt(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return 0;
  return value;
}

void Apply(Settings& settings, Key key, const std::string& value) {
  switch (key) {
    case Key::kIgnored:
      break;
    case Key::kOpenCompanyDir:
      settings.selection.dir = value;
      break;
    case Key::kOpenCompanyCompany:
      settings.selection.company = value;
      break;
    case Key::kOpenCompanySelect:
      settings.selection.select = value == "1";
      break;
    case Key::kOpenCompanyColPosition:
      settings.selection.colPosition = ToInt(value);
      break;
    case Key::kUserColorType:
      settings.userColorType = ToInt(value);
      break;
    case Key::kCustomGridColor:
      settings.gridBand[6] = static_cast<uint32_t>(ToInt(value));
      break;
    case Key::kInvoiceOldForm:
      settings.invoiceOldForm = value == "TRUE";
      break;
  }
}

// The first key the line begins with decides; its value applies when not empty.
void ApplyLine(Settings& settings, const std::vector<KeyRule>& keys, std::string_view line) {
  for (const KeyRule& rule : keys) {
    std::string value;
    if (MatchKey(rule.key, line, value)) Apply(settings, rule.effect, value);
    if (StartsWith(line, rule.key)) return;
  }
}

void ApplyCfgLine(Settings& settings, const std::vector<KeyRule>& keys, std::string_view line) {
  if (line.empty() || line.front() == ';') return;
  // "SCREEN=" is tested on its own; its key is cut off and what follows is tested
  // against the other keys like a line of its own.
  constexpr std::string_view kScreen = "SCREEN=";
  if (StartsWith(line, kScreen)) line.remove_prefix(kScreen.size());
  ApplyLine(settings, keys, line);
}

void ApplyIniLine(Settings& settings, const std::vector<KeyRule>& keys, std::string line) {
  line.erase(std::remove(line.begin(), line.end(), ' '), line.end());
  for (char& c : line) c = AsciiUpper(c);
  if (line.empty() || line.front() == ';') return;
  ApplyLine(settings, keys, line);
}

// Opens a settings file (retrying while it is busy) and reads all its lines. False when
// it cannot be opened; a read error after the open is the run-time's I/O error.
bool ReadSettingsFile(const std::string& name, std::vector<std::string>& lines) {
  platform::File file;
  platform::OsStatus result = platform::OsErrorOf(kIoBusy);
  for (int attempt = 0; attempt < kOpenAttempts && result.Code() == kIoBusy; ++attempt)
    result = platform::File::Open(name, platform::Access::kReadOnly, platform::Share::kShared, file);
  if (result) return false;

  std::string bytes;
  char buffer[65536];
  for (;;) {
    size_t done = 0;
    if (const platform::OsStatus err = file.ReadAt(bytes.size(), buffer, sizeof buffer, done))
      throw platform::IoError(err, name);
    if (done == 0) break;
    bytes.append(buffer, done);
  }
  (void)file.Close();  // opened for reading only: every byte is in hand already
  lines = platform::SplitLines(bytes);
  return true;
}

std::string Join(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

// Round half to even of num / den, both non-negative, den > 0.
uint32_t RoundHalfEven(int64_t num, int64_t den) {
  int64_t q = num / den;
  const int64_t r2 = 2 * (num % den);
  if (r2 > den || (r2 == den && (q % 2) != 0)) ++q;
  return static_cast<uint32_t>(q);
}

}  // namespace

std::string Settings::KorvaCfgPath() const { return Join(dirs.settings, "KORVA.CFG"); }

uint32_t BlendColour(uint32_t colour, int32_t percentage) {
  const int64_t p = std::clamp<int32_t>(percentage, 0, 200);
  uint32_t result = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const int64_t channel = (colour >> shift) & 0xFF;
    // Up to 100: towards white; above: towards black. Exact in hundredths.
    const uint32_t mixed = p <= 100 ? RoundHalfEven(p * channel + (100 - p) * 255, 100)
                                    : RoundHalfEven((200 - p) * channel, 100);
    result |= mixed << shift;
  }
  return result;
}

std::array<uint32_t, 7> ComputeGridBands(const uint8_t* schemeRecord) {
  std::array<uint32_t, 7> bands = {};
  if (schemeRecord != nullptr) {
    constexpr size_t kGridGroup = 3;
    for (size_t scheme = 1; scheme <= 6; ++scheme) {
      const uint32_t base = isam::GetU32(schemeRecord + 4 * (scheme - 1));
      const int32_t percentage = isam::GetI32(schemeRecord + 24 * kGridGroup + 4 * (scheme - 1));
      bands[scheme] = BlendColour(base, percentage);
    }
  } else {
    bands[1] = BlendColour(kDefaultBaseColour, kDefaultGridPercentage);
  }
  for (size_t scheme = 2; scheme <= 6; ++scheme) bands[scheme] = kFixedGridBand[scheme];
  return bands;
}

uint32_t GridBandColour(const Settings& settings) {
  const int32_t scheme = settings.userColorType;
  return settings.gridBand[static_cast<size_t>((scheme >= 1 && scheme <= 6) ? scheme : 1)];
}

Settings InitSettings() {
  StartupPlaces places;
  places.startDirectory = platform::CurrentDirectory();
  places.removableDrive = platform::IsRemovableDrive(places.startDirectory);
  places.appData = platform::AppDataDirectory();
  places.temp = platform::TempDirectoryFromEnv();
  return InitSettings(places);
}

Settings InitSettings(const StartupPlaces& places) {
  Settings settings;
  Directories& dirs = settings.dirs;
  dirs.start = places.startDirectory;

  std::string scheme;
  const bool haveScheme =
      platform::ReadWholeFile(Join(dirs.start, "KVSCHEME.SET"), scheme) == platform::kIoOk &&
      scheme.size() >= kSchemeRecordSize;
  settings.gridBand =
      ComputeGridBands(haveScheme ? reinterpret_cast<const uint8_t*>(scheme.data()) : nullptr);

  std::string temp;
  if (places.removableDrive) {
    // A program run from a stick keeps its settings and temporary files on the stick.
    dirs.settings = dirs.start;
    temp = Join(dirs.start, "TEMP");
    if (!platform::DirectoryExists(temp) && platform::CreateDirectory(temp)) temp = dirs.start;
  } else {
    // Without APPDATA the settings directory is "Velmora" at the root.
    dirs.settings = places.appData.empty() ? "/Velmora" : Join(places.appData, "Velmora");
    if (!platform::DirectoryExists(dirs.settings) && platform::CreateDirectory(dirs.settings))
      dirs.settings = dirs.start;
    temp = places.temp;
  }

  // The temporary directory must exist; it is kept as a full path ending in "/".
  if (!temp.empty()) {
    if (!platform::IsAbsolutePath(temp)) temp = Join(dirs.start, temp);
    dirs.temp = platform::DirectoryExists(temp) ? WithSlash(temp) : std::string();
  }

  // Without a temporary directory the work data goes beside the start directory (the
  // suite makes it relative to the current directory, which is the start directory
  // now but a company directory later).
  const std::string tempBase = dirs.temp.empty() ? WithSlash(dirs.start) : dirs.temp;
  dirs.workData = tempBase + "korva_data/";
  if (!platform::DirectoryExists(dirs.workData) && platform::CreateDirectory(dirs.workData))
    dirs.workData = tempBase;
  return settings;
}

bool MatchKey(std::string_view key, std::string_view line, std::string& value) {
  if (!StartsWith(line, key)) return false;
  value.assign(line.substr(key.size()));
  return !value.empty();
}

void ReadSettings(Settings& settings) {
  std::vector<std::string> lines;
  if (!ReadSettingsFile(settings.KorvaCfgPath(), lines)) return;
  const std::vector<KeyRule> cfgKeys = CfgKeys();
  for (const std::string& line : lines) ApplyCfgLine(settings, cfgKeys, line);

  if (!ReadSettingsFile("KORVA.INI", lines)) return;
  const std::vector<KeyRule> iniKeys = IniKeys();
  for (const std::string& line : lines) ApplyIniLine(settings, iniKeys, line);
}

void SetSettingLine(std::vector<std::string>& lines, std::string_view key, std::string_view value) {
  const std::string prefix = std::string(key) + "=";
  const std::string line = prefix + std::string(value);
  for (std::string& existing : lines) {
    if (!existing.empty() && StartsWithIgnoringAsciiCase(existing, prefix)) {
      existing = line;
      return;
    }
  }
  lines.push_back(line);
}

void SaveSelectionSettings(const Settings& settings) {
  const std::string path = settings.KorvaCfgPath();
  // Other programs of the suite keep their settings in the same file: every line is
  // kept, however many there are, and a file that exists but cannot be read is left
  // alone rather than replaced by the four keys alone.
  std::vector<std::string> lines;
  if (const platform::IoStatus read = platform::ReadTextLines(path, lines)) {
    if (platform::FileExists(path) || read != platform::OsError::kFileNotFound)
      throw platform::IoError(read, path);
    lines.clear();
  }

  const SelectionSettings& s = settings.selection;
  SetSettingLine(lines, "OPENCOMPANY_DIR", s.dir);
  SetSettingLine(lines, "OPENCOMPANY_COMPANY", s.company);
  SetSettingLine(lines, "OPENCOMPANY_SELECT", s.select ? "1" : "0");
  SetSettingLine(lines, "OPENCOMPANY_COLPOSITION", ui::IntToText(s.colPosition));

  lines.erase(std::remove_if(lines.begin(), lines.end(),
                             [](const std::string& l) { return l.empty(); }),
              lines.end());
  if (const platform::IoStatus written = platform::WriteTextLines(path, lines)) throw platform::IoError(written, path);
}

}  // namespace kv::company
