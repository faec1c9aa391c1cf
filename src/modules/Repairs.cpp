#include "modules/Repairs.h"

#include <algorithm>

#include "modules/ModulePlans.h"
#include "modules/SharedFiles.h"
#include "platform/File.h"

namespace kv::modules {

ModuleRepairs::ModuleRepairs(RunContext& context)
    : files_(std::make_unique<SharedFiles>(context)) {}

ModuleRepairs::~ModuleRepairs() { CloseAll(); }

void ModuleRepairs::CloseAll() { files_->CloseAll(); }

ModuleVerdict JudgeModule(std::string_view dir, Module module) {
  const ModulePlan& plan = PlanOf(module);
  const std::string info = std::string(dir) + std::string(plan.info.fileName);
  ModuleVerdict verdict;
  if (!plan.infoMustOpen) {
    verdict.walked = platform::FileExists(info);
    verdict.missing = !verdict.walked;
    return verdict;
  }
  platform::File file;
  const platform::OsStatus rc = platform::File::Open(info, platform::Access::kReadWrite, platform::Share::kShared, file);
  verdict.walked = !rc;
  verdict.missing = rc == platform::OsError::kFileNotFound || rc == platform::OsError::kPathNotFound;
  verdict.error = rc.error();
  return verdict;
}

std::vector<Module> InformationWrittenBy(Module module) {
  std::vector<Module> out;
  for (const PlanStep& step : PlanOf(module).close) {
    if (step.step != Step::kWriteInfo && step.step != Step::kWriteInfoOnce && step.step != Step::kStampAndWrite) continue;
    for (std::string_view name : StepFiles(step)) {
      for (int m = 0; m < kModuleCount; ++m) {
        const auto other = static_cast<Module>(m);
        if (other != module && PlanOf(other).info.fileName == name &&
            std::find(out.begin(), out.end(), other) == out.end()) {
          out.push_back(other);
        }
      }
    }
  }
  return out;
}

// A module whose information file is missing (or, for all but GL, cannot be opened)
// is skipped without a step on the progress bar.
RepairCounts ModuleRepairs::Repair(Module module) {
  const ModulePlan& plan = PlanOf(module);
  if (!JudgeModule({}, module).walked) return {};
  RunSteps(*files_, plan.open);
  const RepairCounts counts = files_->Walk(module);
  RunSteps(*files_, plan.close);
  return counts;
}

const RepairCounts& ModuleRepairs::Walked() const { return files_->Walked(); }

RepairCounts ModuleRepairs::FixGL() { return Repair(Module::kGL); }
RepairCounts ModuleRepairs::FixIC() { return Repair(Module::kIC); }
RepairCounts ModuleRepairs::FixAP() { return Repair(Module::kAP); }
RepairCounts ModuleRepairs::FixAR() { return Repair(Module::kAR); }
RepairCounts ModuleRepairs::FixBI() { return Repair(Module::kBI); }
RepairCounts ModuleRepairs::FixPO() { return Repair(Module::kPO); }

}  // namespace kv::modules
