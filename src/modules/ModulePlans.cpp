#include "modules/ModulePlans.h"

#include <cstdlib>

#include "isam/Extended.h"
#include "modules/SharedFiles.h"

namespace kv::modules {
namespace {

const ModulePlan* const kPlans[kModuleCount] = {&kGLPlan, &kICPlan, &kAPPlan,
                                                &kARPlan, &kBIPlan, &kPOPlan};

void ReadInfo(InfoRecord& record, const InfoLayout& layout, const RunContext& ctx) {
  record.Clear();
  for (const FieldDefault& field : layout.defaults) {
    if (field.extended) {
      isam::EncodeExtended(field.value, record.data() + field.offset);
    } else {
      record[field.offset] = field.value;
    }
  }
  const bool existed = record.Read(layout.retry255);
  if (layout.fixUp != nullptr) layout.fixUp(record, existed, ctx);
}

void RunStep(SharedFiles& files, const PlanStep& step, std::string_view name) {
  switch (step.step) {
    case Step::kOpen: files.Open(name); return;
    case Step::kClose: files.Close(name); return;
    case Step::kReadInfo: {
      const InfoLayout* layout = FindInfoLayout(name);
      if (layout == nullptr) std::abort();
      ReadInfo(files.Info(name), *layout, files.ctx);
      return;
    }
    case Step::kRead: files.Table(name).Read(SideTable::OnBadRecord::kRaise); return;
    case Step::kReadOrEmpty: files.Table(name).Read(SideTable::OnBadRecord::kEmptyTable); return;
    case Step::kCall: step.call(files, name); return;
    case Step::kStampAndWrite: {
      const InfoLayout* layout = FindInfoLayout(name);
      if (layout == nullptr || layout->closeDate < 0) std::abort();
      InfoRecord& record = files.Info(name);
      PutShortString(record.data() + layout->closeDate, 8, ThaiDateStamp());
      record.Write();
      return;
    }
    case Step::kWriteInfo: files.Info(name).Write(); return;
    case Step::kWriteInfoOnce: files.Info(name).WriteOnce(); return;
    case Step::kWriteBack: {
      // A table that could not be read whole was emptied in memory, as the suite
      // does; the file itself is left as it was rather than rewritten empty, which
      // would throw away every record in it.
      const SideTable& table = files.Table(name);
      if (!table.readFailed()) table.WriteBack();
      return;
    }
    case Step::kWriteBook:
      // Written by the modules that book into the general ledger. A failure to
      // re-create the file leaves it as it was, silently, as the suite does.
      files.Table(name).WriteAll(SideTable::OnWriteFailure::kLeaveFile);
      return;
    case Step::kRelease: files.Table(name).Reset(); return;
  }
}

}  // namespace

std::vector<std::string_view> StepFiles(const PlanStep& step) {
  std::vector<std::string_view> names;
  std::string_view rest = step.files;
  while (!rest.empty()) {
    const size_t space = rest.find(' ');
    names.push_back(rest.substr(0, space));
    rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
  }
  return names;
}

const ModulePlan& PlanOf(Module module) { return *kPlans[static_cast<int>(module)]; }

const InfoLayout* FindInfoLayout(std::string_view fileName) {
  for (const ModulePlan* plan : kPlans) {
    if (plan->info.fileName == fileName) return &plan->info;
  }
  return nullptr;
}

void RunSteps(SharedFiles& files, std::span<const PlanStep> steps) {
  for (const PlanStep& step : steps) {
    for (std::string_view name : StepFiles(step)) RunStep(files, step, name);
  }
}

}  // namespace kv::modules
