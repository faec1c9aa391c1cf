// How each module opens and closes, as data: the steps in the suite's order, each
// naming the data files, side files or information records it acts on, run by one
// routine. Steps that compute something of their own (the GL book-name lookup, the
// default warehouse, the ledger type defaults) are code, named in the plan by the file
// they fill. Plans and information-record layouts live beside the module's own code
// (GlFix207.cpp, IcFix207.cpp, ApFix207.cpp with AR, BiFix207.cpp with PO).
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "modules/ModuleTables.h"

namespace kv::modules {

struct RunContext;
class SharedFiles;
class InfoRecord;

enum class Step : uint8_t {
  kOpen,           // data files, through the access layer unless already open
  kClose,          // data files; one that is not open is left alone
  kReadInfo,       // information records: zeroed, defaults, read, the record's fix-ups
  kRead,           // side tables; a partial record raises the I/O error
  kReadOrEmpty,    // side tables; a partial record empties the table
  kCall,           // the step's own code, for the one file it names
  kStampAndWrite,  // information records: today's date into the close date, written
  kWriteInfo,      // information records, retrying a failed re-creation
  kWriteInfoOnce,  // information records, a single attempt
  kWriteBack,      // side tables: the records read (not a table whose read failed)
  kWriteBook,      // GLBOOK.DAT: every slot; a failed re-creation leaves the file
  kRelease,        // side tables emptied
};

// The files one step names, all data files or all side files, by their ids: Data(...)
// and Side(...) make one.
struct StepFileList {
  bool data = false;
  uint8_t count = 0;
  std::array<uint8_t, 8> ids{};
};

consteval StepFileList Data(std::same_as<DataFileId> auto... ids) {
  static_assert(sizeof...(ids) >= 1 && sizeof...(ids) <= 8);
  return {true, static_cast<uint8_t>(sizeof...(ids)), {static_cast<uint8_t>(ids)...}};
}
consteval StepFileList Side(std::same_as<SideFileId> auto... ids) {
  static_assert(sizeof...(ids) >= 1 && sizeof...(ids) <= 8);
  return {false, static_cast<uint8_t>(sizeof...(ids)), {static_cast<uint8_t>(ids)...}};
}

// One step of a plan. It is made when the plan compiles, and a step that names files of
// the wrong kind for what it does does not compile: kOpen and kClose take data files;
// the information steps take information files; the side-table steps take side files
// that are not; kCall takes either, and only it takes code.
struct PlanStep {
  using Call = void (*)(SharedFiles&, std::string_view file);

  consteval PlanStep(Step s, StepFileList f) : step(s), files(f), call(nullptr) {
    const bool dataStep = s == Step::kOpen || s == Step::kClose;
    const bool infoStep = s == Step::kReadInfo || s == Step::kStampAndWrite || s == Step::kWriteInfo ||
                          s == Step::kWriteInfoOnce;
    if (s == Step::kCall) throw "a kCall step names its code";
    if (dataStep != f.data) throw "a step names files of the wrong kind";
    if (f.data) return;
    for (size_t i = 0; i < f.count; ++i) {
      if (IsInformationFile(static_cast<SideFileId>(f.ids[i])) != infoStep) {
        throw "information files go with the information steps, side tables with the others";
      }
    }
  }
  // A step of its own code, for a data file or a side file. (The code's address cannot be
  // tested at compile time in every build; ModuleTablesTest finds a null one.)
  consteval PlanStep(Step s, StepFileList f, Call c) : step(s), files(f), call(c) {
    if (s != Step::kCall) throw "only a kCall step names code";
  }

  Step step;
  StepFileList files;
  Call call;
};

// The names of the files a step names (base names of data files, file names of side
// files), in its order.
std::vector<std::string_view> StepFiles(const PlanStep& step);

// A byte (or an extended value) an information record holds before it is read: what
// a missing or empty file leaves in place. Every other byte is zero.
struct FieldDefault {
  uint16_t offset;
  uint8_t value;
  std::string_view what;
  bool extended = false;  // a 10-byte extended value rather than one byte
};
// What the suite gives a new company, for fields nothing here reads.
inline constexpr std::string_view kNewCompany = "new-company setting";

struct InfoLayout {
  std::string_view fileName;
  std::span<const FieldDefault> defaults;
  int closeDate;  // short string[8] stamped at close; -1 when the module stamps none
  bool retry255;  // the open is retried while it fails with code 255
  // Adjustments after the read; `existed` is false when the file was missing.
  void (*fixUp)(InfoRecord& record, bool existed, const RunContext& ctx) = nullptr;
};

struct ModulePlan {
  Module module;
  const InfoLayout& info;
  bool infoMustOpen;  // GL needs only its information file to exist
  std::span<const PlanStep> open;
  std::span<const PlanStep> close;
};

const ModulePlan& PlanOf(Module module);
// The layout of an information file: the one of the plan of the file's module.
const InfoLayout& InfoLayoutOf(SideFileId id);
const InfoLayout* FindInfoLayout(std::string_view fileName);

// Runs steps in order against the run's files.
void RunSteps(SharedFiles& files, std::span<const PlanStep> steps);

// Steps of their own that several plans call (kCall).
void ReadWarehouses(SharedFiles& files, std::string_view fileName);   // ICSUBW.DAT
void ReadLedgerTypes(SharedFiles& files, std::string_view fileName);  // APTYPE/ARTYPE.DAT

// Each module's plan, defined beside its own code.
extern const ModulePlan kGLPlan, kICPlan, kAPPlan, kARPlan, kBIPlan, kPOPlan;

}  // namespace kv::modules
