#include "modules/ModuleTables.h"

#include <array>
#include <cstdlib>
#include <iterator>

namespace kv::modules {
namespace {

using isam::KeyDesc;

// A run of `count` money fields, `stride` bytes apart, starting at `first`.
struct Run {
  int first;
  int count;
  int stride;
};

template <size_t N>
constexpr auto Expand(std::initializer_list<Run> runs) {
  std::array<uint16_t, N> out{};
  size_t i = 0;
  for (const Run& run : runs) {
    for (int k = 0; k < run.count; ++k) {
      if (i >= N) throw "money run longer than its array";  // compile-time error
      out[i++] = static_cast<uint16_t>(run.first + k * run.stride);
    }
  }
  if (i != N) throw "money run shorter than its array";
  for (size_t k = 1; k < N; ++k) {
    if (out[k] <= out[k - 1]) throw "money offsets not ascending";
  }
  return out;
}

// Keys: length / duplicates allowed.
constexpr KeyDesc K(int length, int dup) {
  return KeyDesc{static_cast<uint8_t>(length), dup != 0};
}

// --- General ledger ---
constexpr KeyDesc kGL01Keys[] = {K(10, 0), K(11, 0), K(21, 0)};
constexpr KeyDesc kGL02Keys[] = {K(10, 0)};
constexpr KeyDesc kGL03Keys[] = {K(30, 1), K(19, 1), K(19, 1), K(30, 1), K(16, 1)};
constexpr KeyDesc kGL04Keys[] = {K(23, 1), K(16, 1)};
constexpr KeyDesc kGL05Keys[] = {K(40, 1), K(19, 1)};
constexpr KeyDesc kGL06Keys[] = {K(4, 0)};
constexpr KeyDesc kGL07Keys[] = {K(10, 0)};
constexpr KeyDesc kGL08Keys[] = {K(28, 0)};
// 12 fields at 78..188 and 100 at 198..1188: one unbroken run of 112.
constexpr auto kGL01Money = Expand<112>({{78, 12, 10}, {198, 100, 10}});
constexpr auto kGL03Money = Expand<1>({{103, 1, 0}});
constexpr auto kGL04Money = Expand<1>({{54, 1, 0}});

// --- Inventory ---
constexpr KeyDesc kIC01Keys[] = {K(13, 0), K(23, 0), K(15, 0), K(28, 0), K(30, 1)};
constexpr KeyDesc kIC02Keys[] = {K(21, 1), K(35, 1), K(10, 1), K(36, 1), K(22, 1)};
constexpr KeyDesc kIC03Keys[] = {K(13, 0)};
constexpr KeyDesc kIC04Keys[] = {K(14, 0)};
constexpr KeyDesc kIC05Keys[] = {K(21, 1)};
constexpr KeyDesc kIC06Keys[] = {K(4, 1)};
constexpr KeyDesc kIC07Keys[] = {K(10, 1)};
constexpr auto kIC01Money =
    Expand<261>({{100, 3, 10}, {205, 13, 10}, {349, 243, 10}, {2781, 2, 10}});
constexpr auto kIC02Money = Expand<4>({{38, 3, 10}, {126, 1, 0}});
constexpr auto kIC05Money = Expand<3>({{37, 2, 10}, {110, 1, 0}});

// --- Accounts payable ---
constexpr KeyDesc kAP01Keys[] = {K(10, 0), K(30, 1)};
constexpr KeyDesc kAP02Keys[] = {K(26, 0), K(27, 0), K(20, 1), K(10, 1), K(26, 1), K(27, 0)};
constexpr KeyDesc kAP03Keys[] = {K(10, 0), K(27, 0), K(11, 0), K(16, 0)};
constexpr KeyDesc kAP04Keys[] = {K(27, 1), K(26, 1), K(22, 1), K(26, 1), K(30, 1)};
constexpr KeyDesc kAP05Keys[] = {K(10, 1), K(16, 1)};
constexpr auto kAP01Money = Expand<105>({{321, 1, 0}, {352, 104, 10}});
constexpr auto kAP02Money = Expand<5>({{66, 1, 0}, {87, 1, 0}, {108, 1, 0}, {197, 1, 0}, {208, 1, 0}});
constexpr auto kAP03Money = Expand<2>({{35, 1, 0}, {63, 1, 0}});
constexpr auto kAP04Money = Expand<1>({{67, 1, 0}});

// --- Accounts receivable ---
constexpr KeyDesc kAR01Keys[] = {K(10, 0), K(30, 1)};
constexpr KeyDesc kAR02Keys[] = {K(16, 0), K(27, 0), K(10, 0), K(10, 1), K(26, 1), K(17, 0)};
constexpr KeyDesc kAR03Keys[] = {K(10, 0), K(27, 0), K(11, 0), K(16, 0)};
constexpr KeyDesc kAR04Keys[] = {K(27, 1), K(26, 1), K(22, 1), K(26, 1), K(26, 1)};
constexpr KeyDesc kAR05Keys[] = {K(10, 1), K(16, 1)};
constexpr auto kAR02Money = Expand<5>({{66, 1, 0}, {87, 1, 0}, {108, 1, 0}, {237, 1, 0}, {257, 1, 0}});

// --- Billing ---
constexpr KeyDesc kBI01Keys[] = {K(10, 0), K(16, 0), K(17, 0)};
constexpr KeyDesc kBI02Keys[] = {K(10, 1), K(30, 1), K(27, 1), K(27, 1), K(17, 1)};
constexpr KeyDesc kBI03Keys[] = {K(10, 0), K(16, 0)};
constexpr auto kBI01Money = Expand<4>({{264, 1, 0}, {296, 1, 0}, {456, 1, 0}, {468, 1, 0}});
constexpr auto kBI02Money =
    Expand<6>({{112, 2, 10}, {165, 1, 0}, {239, 2, 10}, {261, 1, 0}});

// --- Purchasing ---
constexpr KeyDesc kPO01Keys[] = {K(20, 0), K(26, 0), K(27, 0)};
constexpr KeyDesc kPO02Keys[] = {K(20, 1), K(30, 1), K(27, 1), K(27, 1)};
constexpr KeyDesc kPO03Keys[] = {K(10, 1), K(20, 0), K(26, 0)};
constexpr auto kPO01Money = Expand<3>({{60, 1, 0}, {92, 1, 0}, {234, 1, 0}});
constexpr auto kPO02Money =
    Expand<6>({{120, 2, 10}, {173, 1, 0}, {238, 2, 10}, {260, 1, 0}});

constexpr std::span<const uint16_t> kNone{};

constexpr DataFileDef kDataFiles[] = {
    {"GLFILE01", Module::kGL, 1248, kGL01Keys, 1, kGL01Money},
    {"GLFILE02", Module::kGL, 128, kGL02Keys, 0, kNone},
    {"GLFILE03", Module::kGL, 220, kGL03Keys, 2, kGL03Money},
    {"GLFILE04", Module::kGL, 151, kGL04Keys, 3, kGL04Money},
    {"GLFILE05", Module::kGL, 152, kGL05Keys, 0, kNone},
    {"GLFILE06", Module::kGL, 108, kGL06Keys, 0, kNone},
    {"GLFILE07", Module::kGL, 609, kGL07Keys, 0, kNone},
    {"GLFILE08", Module::kGL, 146, kGL08Keys, 0, kNone},

    {"ICFILE01", Module::kIC, 2901, kIC01Keys, 1, kIC01Money},
    {"ICFILE02", Module::kIC, 266, kIC02Keys, 2, kIC02Money},
    {"ICFILE03", Module::kIC, 546, kIC03Keys, 0, kNone},
    {"ICFILE04", Module::kIC, 2901, kIC04Keys, 3, kIC01Money},
    {"ICFILE05", Module::kIC, 224, kIC05Keys, 4, kIC05Money},
    {"ICFILE06", Module::kIC, 63, kIC06Keys, 0, kNone},
    {"ICFILE07", Module::kIC, 130, kIC07Keys, 0, kNone},

    {"APFILE01", Module::kAP, 1492, kAP01Keys, 1, kAP01Money},
    {"APFILE02", Module::kAP, 261, kAP02Keys, 2, kAP02Money},
    {"APFILE03", Module::kAP, 73, kAP03Keys, 3, kAP03Money},
    {"APFILE04", Module::kAP, 135, kAP04Keys, 4, kAP04Money},
    {"APFILE05", Module::kAP, 86, kAP05Keys, 0, kNone},

    {"ARFILE01", Module::kAR, 1492, kAR01Keys, 1, kAP01Money},
    {"ARFILE02", Module::kAR, 301, kAR02Keys, 2, kAR02Money},
    {"ARFILE03", Module::kAR, 73, kAR03Keys, 3, kAP03Money},
    {"ARFILE04", Module::kAR, 135, kAR04Keys, 4, kAP04Money},
    {"ARFILE05", Module::kAR, 86, kAR05Keys, 0, kNone},

    {"BIFILE01", Module::kBI, 532, kBI01Keys, 1, kBI01Money},
    {"BIFILE02", Module::kBI, 321, kBI02Keys, 2, kBI02Money},
    {"BIFILE03", Module::kBI, 82, kBI03Keys, 0, kNone},

    {"POFILE01", Module::kPO, 306, kPO01Keys, 1, kPO01Money},
    {"POFILE02", Module::kPO, 320, kPO02Keys, 2, kPO02Money},
    {"POFILE03", Module::kPO, 83, kPO03Keys, 0, kNone},
};

const DataFileDef* const kWalked[] = {
    &kDataFiles[0],  &kDataFiles[2],  &kDataFiles[3],                   // GL 01 03 04
    &kDataFiles[8],  &kDataFiles[9],  &kDataFiles[11], &kDataFiles[12],  // IC 01 02 04 05
    &kDataFiles[15], &kDataFiles[16], &kDataFiles[17], &kDataFiles[18],  // AP 01..04
    &kDataFiles[20], &kDataFiles[21], &kDataFiles[22], &kDataFiles[23],  // AR 01..04
    &kDataFiles[25], &kDataFiles[26],                                    // BI 01 02
    &kDataFiles[28], &kDataFiles[29],                                    // PO 01 02
};

// Where each module's walked files begin in kWalked, and how many there are.
constexpr size_t kWalkFirst[kModuleCount] = {0, 3, 7, 11, 15, 17};
constexpr size_t kWalkCount[kModuleCount] = {3, 4, 4, 4, 2, 2};

//                fileName      module        len   cap first slots  info
constexpr SideFileDef kSideFiles[] = {
    {"GLINFO.DAT", Module::kGL, 2406, 1, 0, 1, true},
    {"GLBOOK.DAT", Module::kGL, 230, 30, 0, 30, false},
    {"GLTBUF.DAT", Module::kGL, 220, 19, 0, 19, false},
    {"GLTBFS.DAT", Module::kGL, 4, 25, 0, 25, false},
    {"ICINFO.DAT", Module::kIC, 388, 1, 0, 1, true},
    {"ICDPMT.DAT", Module::kIC, 63, 90, 1, 101, false},
    {"ICSUBW.DAT", Module::kIC, 141, 150, 1, 151, false},
    {"APINFO.DAT", Module::kAP, 1107, 1, 0, 1, true},
    {"APTYPE.DAT", Module::kAP, 52, 60, 0, 60, false},
    {"APTBUF.DAT", Module::kAP, 261, 10, 0, 10, false},
    {"ARINFO.DAT", Module::kAR, 1107, 1, 0, 1, true},
    {"ARTBUF.DAT", Module::kAR, 301, 10, 0, 10, false},
    {"ARTYPE.DAT", Module::kAR, 52, 60, 0, 60, false},
    {"BIINFO.DAT", Module::kBI, 960, 1, 0, 1, true},
    {"POINFO.DAT", Module::kPO, 964, 1, 0, 1, true},
};

// The ids name the entries of the tables in order.
constexpr bool IdsNameTheTables() {
  constexpr std::string_view kData[] = {
      "GLFILE01", "GLFILE02", "GLFILE03", "GLFILE04", "GLFILE05", "GLFILE06", "GLFILE07", "GLFILE08",
      "ICFILE01", "ICFILE02", "ICFILE03", "ICFILE04", "ICFILE05", "ICFILE06", "ICFILE07", "APFILE01",
      "APFILE02", "APFILE03", "APFILE04", "APFILE05", "ARFILE01", "ARFILE02", "ARFILE03", "ARFILE04",
      "ARFILE05", "BIFILE01", "BIFILE02", "BIFILE03", "POFILE01", "POFILE02", "POFILE03"};
  constexpr std::string_view kSide[] = {"GLINFO.DAT", "GLBOOK.DAT", "GLTBUF.DAT", "GLTBFS.DAT", "ICINFO.DAT",
                                        "ICDPMT.DAT", "ICSUBW.DAT", "APINFO.DAT", "APTYPE.DAT", "APTBUF.DAT",
                                        "ARINFO.DAT", "ARTBUF.DAT", "ARTYPE.DAT", "BIINFO.DAT", "POINFO.DAT"};
  static_assert(std::size(kData) == kDataFileCount && std::size(kDataFiles) == kDataFileCount);
  static_assert(std::size(kSide) == kSideFileCount && std::size(kSideFiles) == kSideFileCount);
  for (size_t i = 0; i < kDataFileCount; ++i) {
    if (kDataFiles[i].baseName != kData[i]) return false;
  }
  for (size_t i = 0; i < kSideFileCount; ++i) {
    if (kSideFiles[i].fileName != kSide[i]) return false;
    if (kSideFiles[i].informationRecord != IsInformationFile(static_cast<SideFileId>(i))) return false;
  }
  return true;
}
static_assert(IdsNameTheTables(), "DataFileId and SideFileId must follow the order of the tables");

}  // namespace

std::string_view ModuleCode(Module module) {
  static constexpr std::string_view kCodes[kModuleCount] = {"GL", "IC", "AP", "AR", "BI", "PO"};
  return kCodes[static_cast<int>(module)];
}

std::span<const DataFileDef> AllDataFiles() { return kDataFiles; }

std::span<const DataFileDef* const> WalkedFiles() { return kWalked; }

std::span<const DataFileDef* const> WalkedFiles(Module module) {
  const size_t m = static_cast<size_t>(module);
  return std::span<const DataFileDef* const>(kWalked).subspan(kWalkFirst[m], kWalkCount[m]);
}

namespace {

template <typename Def, size_t N>
const Def* FindByName(const Def (&defs)[N], std::string_view Def::*name, std::string_view wanted) {
  for (const Def& def : defs) {
    if (def.*name == wanted) return &def;
  }
  return nullptr;
}

// A name the caller wrote itself that the tables lack is a programming error.
template <typename Def>
const Def& Known(const Def* def) {
  if (def == nullptr) std::abort();
  return *def;
}

}  // namespace

const DataFileDef& DataFile(DataFileId id) { return kDataFiles[static_cast<size_t>(id)]; }
const DataFileDef* FindDataFile(std::string_view baseName) {
  return FindByName(kDataFiles, &DataFileDef::baseName, baseName);
}
const DataFileDef& DataFile(std::string_view baseName) { return Known(FindDataFile(baseName)); }

std::span<const SideFileDef> AllSideFiles() { return kSideFiles; }

const SideFileDef& SideFile(SideFileId id) { return kSideFiles[static_cast<size_t>(id)]; }
const SideFileDef* FindSideFile(std::string_view fileName) {
  return FindByName(kSideFiles, &SideFileDef::fileName, fileName);
}
const SideFileDef& SideFile(std::string_view fileName) { return Known(FindSideFile(fileName)); }

}  // namespace kv::modules
