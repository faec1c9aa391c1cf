#include "modules/ModulePlans.h"

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

void RunStep(SharedFiles& files, const PlanStep& step, size_t i) {
  const auto sideId = static_cast<SideFileId>(step.files.ids[i]);
  const std::string_view name = step.files.data
                                    ? DataFile(static_cast<DataFileId>(step.files.ids[i])).baseName
                                    : SideFile(sideId).fileName;
  switch (step.step) {
    case Step::kOpen: files.Open(name); return;
    case Step::kClose: files.Close(name); return;
    case Step::kReadInfo: ReadInfo(files.Info(name), InfoLayoutOf(sideId), files.ctx); return;
    case Step::kRead: files.Table(name).Read(SideTable::OnBadRecord::kRaise); return;
    case Step::kReadOrEmpty: files.Table(name).Read(SideTable::OnBadRecord::kEmptyTable); return;
    case Step::kCall: step.call(files, name); return;
    case Step::kStampAndWrite: {
      // Every module that stamps has a close date (ModuleTablesTest holds the plans to it).
      const InfoLayout& layout = InfoLayoutOf(sideId);
      InfoRecord& record = files.Info(name);
      if (layout.closeDate >= 0) PutShortString(record.data() + layout.closeDate, 8, ThaiDateStamp());
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
  for (size_t i = 0; i < step.files.count; ++i) {
    const uint8_t id = step.files.ids[i];
    names.push_back(step.files.data ? DataFile(static_cast<DataFileId>(id)).baseName
                                    : SideFile(static_cast<SideFileId>(id)).fileName);
  }
  return names;
}

const ModulePlan& PlanOf(Module module) { return *kPlans[static_cast<int>(module)]; }

const InfoLayout& InfoLayoutOf(SideFileId id) { return PlanOf(SideFile(id).module).info; }

const InfoLayout* FindInfoLayout(std::string_view fileName) {
  for (const ModulePlan* plan : kPlans) {
    if (plan->info.fileName == fileName) return &plan->info;
  }
  return nullptr;
}

void RunSteps(SharedFiles& files, std::span<const PlanStep> steps) {
  for (const PlanStep& step : steps) {
    for (size_t i = 0; i < step.files.count; ++i) RunStep(files, step, i);
  }
}

}  // namespace kv::modules
