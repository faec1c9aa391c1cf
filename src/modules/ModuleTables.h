// The module files as data: every data file of the six modules with its record length,
// its keys (needed only when a missing file has to be created), whether and in which
// order the repair walks it, and the offsets of its money fields; and the side files
// and information files with their record lengths and table capacities.
//
// The money-field offsets are stored expanded, in ascending order, so the walk is one
// loop over a flat list. The suite visits some runs in groups (of 4 or 8); the order
// makes no difference to the outcome, so only the positions are kept.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "isam/Engine.h"

namespace kv::modules {

enum class Module : uint8_t { kGL, kIC, kAP, kAR, kBI, kPO };
inline constexpr int kModuleCount = 6;

std::string_view ModuleCode(Module module);  // "GL", "IC", ...

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
// By base name (exact, upper case), or nullptr.
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
const SideFileDef* FindSideFile(std::string_view fileName);
const SideFileDef& SideFile(std::string_view fileName);

}  // namespace kv::modules
