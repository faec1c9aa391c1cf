// The module files as data: every data file of the six modules with its record length,
// its keys (needed only when a missing file has to be created), whether and in which
// order the repair walks it, and the offsets of its money fields; and the side files
// and information files with their record lengths and table capacities.
//
// The money-field offsets are stored expanded, in ascending order, so the walk is one
// loop over a flat list. The suite visits some runs in groups (of 4 or 8); the order
// makes no difference to the outcome, so only the positions are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "isam/Engine.h"

namespace kv::modules {

enum class Module : uint8_t { kGL, kIC, kAP, kAR, kBI, kPO };
inline constexpr int kModuleCount = 6;

std::string_view ModuleCode(Module module);  // "GL", "IC", ...

// Every data file and every side file by a name the compiler checks: the tables below
// are indexed by these, in this order (ModuleTables.cpp proves it when it compiles), so a
// plan or a caller that names a file cannot miss it at run time.
enum class DataFileId : uint8_t {
  kGLFILE01, kGLFILE02, kGLFILE03, kGLFILE04, kGLFILE05, kGLFILE06, kGLFILE07, kGLFILE08,
  kICFILE01, kICFILE02, kICFILE03, kICFILE04, kICFILE05, kICFILE06, kICFILE07,
  kAPFILE01, kAPFILE02, kAPFILE03, kAPFILE04, kAPFILE05,
  kARFILE01, kARFILE02, kARFILE03, kARFILE04, kARFILE05,
  kBIFILE01, kBIFILE02, kBIFILE03,
  kPOFILE01, kPOFILE02, kPOFILE03,
};
inline constexpr size_t kDataFileCount = 31;
enum class SideFileId : uint8_t {
  kGLINFO, kGLBOOK, kGLTBUF, kGLTBFS,
  kICINFO, kICDPMT, kICSUBW,
  kAPINFO, kAPTYPE, kAPTBUF,
  kARINFO, kARTBUF, kARTYPE,
  kBIINFO,
  kPOINFO,
};
inline constexpr size_t kSideFileCount = 15;

// The six information files; their records are read and written whole, once.
constexpr bool IsInformationFile(SideFileId id) {
  using enum SideFileId;
  return id == kGLINFO || id == kICINFO || id == kAPINFO || id == kARINFO || id == kBIINFO ||
         id == kPOINFO;
}

struct DataFileDef {
  std::string_view baseName;  // without extension, e.g. "GLFILE03"
  Module module;
  int32_t recordLength;
  std::span<const isam::KeyDesc> keys;
  int walkOrder;  // 0 = not walked; else 1, 2, ... within the module
  std::span<const uint16_t> moneyOffsets;  // ascending; empty when not walked
};

// Every data file of every module, GL first, each module's files in numeric order.
std::span<const DataFileDef> AllDataFiles();
// The files the repair walks, in the run's walk order (19 files: GLFILE01 ...
// POFILE02). One progress step each.
std::span<const DataFileDef* const> WalkedFiles();
// The walked files of one module, in their walk order.
std::span<const DataFileDef* const> WalkedFiles(Module module);
const DataFileDef& DataFile(DataFileId id);
// By base name (exact, upper case), or nullptr: for names that come from outside (a
// report, a directory listing).
const DataFileDef* FindDataFile(std::string_view baseName);
// Same as FindDataFile but the name must be known; a typo is a programming error.
const DataFileDef& DataFile(std::string_view baseName);

// Plain files of fixed-length records without a header.
struct SideFileDef {
  std::string_view fileName;  // with extension, e.g. "GLTBUF.DAT"
  Module module;
  int32_t recordLength;
  int32_t capacity;      // records the in-memory table holds (1 for an information file)
  int32_t firstSlot;     // table slot of the file's first record (1 for ICDPMT, ICSUBW)
  int32_t tableSlots;    // slots of the in-memory table (capacity + firstSlot)
  bool informationRecord;
};

std::span<const SideFileDef> AllSideFiles();
const SideFileDef& SideFile(SideFileId id);
const SideFileDef* FindSideFile(std::string_view fileName);
const SideFileDef& SideFile(std::string_view fileName);

}  // namespace kv::modules
