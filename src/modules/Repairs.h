// The six module repairs. Each tests its information file, opens the module's files as
// the suite does (information record, side files, data files through the record access
// layer), walks the data files that carry money fields, and closes the module, writing
// its information record and side files back.
//
// The run is the only caller besides the tests. What must hold whatever changes inside:
// the repairs run in the order GL, IC, AP, AR, BI, PO, because a module's close writes
// information records that a later module's open reads, and each module opens and closes
// its files in the suite's own steps, because the suite's programs find the files as
// those steps leave them. A signature changes together with the run (app/Run.cpp).
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "isam/Access.h"
#include "modules/ModuleTables.h"
#include "modules/Progress.h"
#include "platform/File.h"

namespace kv::modules {

struct RunContext {
  isam::AccessLayer& access;
  ProgressSink& progress;
  RepairReport* report = nullptr;  // may be null
  bool invoiceOldForm = false;     // KORVA.INI INVOICEOLDFORM=TRUE
};

class SharedFiles;  // data files, tables and information records of all modules

// Whether a repair walks a module, by the module's own rule: the general ledger needs
// its information file to exist, every other module needs it to open for reading and
// writing (it is rewritten at the close).
struct ModuleVerdict {
  bool walked = false;
  bool missing = false;  // not walked because the information file is not there
  platform::OsError error = platform::OsError::kNone;  // why it would not open, else
};
// `dir`: the company directory with its trailing separator, or empty for the current
// directory (where the run is).
ModuleVerdict JudgeModule(std::string_view dir, Module module);
// The modules whose information records the close of `module` writes besides its own,
// creating one that is missing: a module skipped for want of it is walked by a later
// repair.
std::vector<Module> InformationWrittenBy(Module module);

// Module repairs share state (GLFILE01, GLINFO.DAT, GLBOOK.DAT, the IC, AP and AR
// files): one object holds it for the run. Run them in the order of kRunOrder. Each
// returns what its walks did. A data file that cannot be opened throws ui::EndRun after
// the access layer's report; a side-file I/O failure throws platform::IoError. The
// current directory is the company directory.
class ModuleRepairs {
 public:
  explicit ModuleRepairs(RunContext& context);
  ~ModuleRepairs();  // closes any data file still open

  RepairCounts FixGL();
  RepairCounts FixIC();
  RepairCounts FixAP();
  RepairCounts FixAR();
  RepairCounts FixBI();
  RepairCounts FixPO();

  // What every walk of the run has done so far, the one in hand when a repair ended the
  // run early included.
  const RepairCounts& Walked() const;

  // Closes every data file still open (end of run, or after an early end).
  void CloseAll();

 private:
  RepairCounts Repair(Module module);

  std::unique_ptr<SharedFiles> files_;  // holds the context for the run
};

// The order of a run: several modules read and rewrite files of the ones before them.
struct RunOrderEntry {
  Module module;
  RepairCounts (ModuleRepairs::*fix)();
};
inline constexpr RunOrderEntry kRunOrder[] = {
    {Module::kGL, &ModuleRepairs::FixGL}, {Module::kIC, &ModuleRepairs::FixIC}, {Module::kAP, &ModuleRepairs::FixAP},
    {Module::kAR, &ModuleRepairs::FixAR}, {Module::kBI, &ModuleRepairs::FixBI}, {Module::kPO, &ModuleRepairs::FixPO},
};

}  // namespace kv::modules
