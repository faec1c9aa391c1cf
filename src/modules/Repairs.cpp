#include "modules/Repairs.h"

#include "modules/ModulePlans.h"
#include "modules/SharedFiles.h"
#include "platform/File.h"

namespace kv::modules {

ModuleRepairs::ModuleRepairs(RunContext& context)
    : files_(std::make_unique<SharedFiles>(context)) {}

ModuleRepairs::~ModuleRepairs() { CloseAll(); }

void ModuleRepairs::CloseAll() { files_->CloseAll(); }

// A module whose information file is missing (or, for all but GL, cannot be opened)
// is skipped without a step on the progress bar.
void ModuleRepairs::Repair(Module module) {
  const ModulePlan& plan = PlanOf(module);
  const std::string_view info = plan.info.fileName;
  if (!(plan.infoMustOpen ? FileCanOpen(info) : platform::FileExists(info))) return;
  RunSteps(*files_, plan.open);
  files_->Walk(module);
  RunSteps(*files_, plan.close);
}

void ModuleRepairs::FixGL() { Repair(Module::kGL); }
void ModuleRepairs::FixIC() { Repair(Module::kIC); }
void ModuleRepairs::FixAP() { Repair(Module::kAP); }
void ModuleRepairs::FixAR() { Repair(Module::kAR); }
void ModuleRepairs::FixBI() { Repair(Module::kBI); }
void ModuleRepairs::FixPO() { Repair(Module::kPO); }

}  // namespace kv::modules
