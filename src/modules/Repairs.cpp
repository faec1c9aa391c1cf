#include "modules/Repairs.h"

#include <cstdlib>
#include <cstring>

#include "isam/Coding.h"
#include "modules/ModuleState.h"
#include "modules/Walk.h"
#include "platform/Cp874.h"
#include "platform/File.h"
#include "ui/Dialogs.h"

namespace kv::modules {

// ---------------------------------------------------------------------------------
// Data files

ModuleState::ModuleState(RunContext& context) : ctx(context) {}

isam::FileBlock*& ModuleState::Block(std::string_view baseName) {
  const auto files = AllDataFiles();
  for (size_t i = 0; i < files.size(); ++i) {
    if (files[i].baseName == baseName) return blocks[i];
  }
  std::abort();  // a name missing from the tables is a programming error
}

void ModuleState::OpenData(std::string_view baseName) {
  isam::FileBlock*& block = Block(baseName);
  if (block != nullptr) return;
  const DataFileDef& def = DataFile(baseName);
  if (!ctx.access.OpenModuleFile(block, def.baseName, def.recordLength, def.keys.data(),
                                 static_cast<int>(def.keys.size()))) {
    throw ui::EndRun(1);
  }
}

void ModuleState::OpenData(std::initializer_list<std::string_view> baseNames) {
  for (std::string_view name : baseNames) OpenData(name);
}

void ModuleState::CloseData(std::string_view baseName) {
  isam::FileBlock*& block = Block(baseName);
  if (block == nullptr) return;
  ctx.access.CloseModuleFile(block);
  block = nullptr;
}

void ModuleState::CloseData(std::initializer_list<std::string_view> baseNames) {
  for (std::string_view name : baseNames) CloseData(name);
}

void ModuleState::CloseAll() noexcept {
  const auto files = AllDataFiles();
  for (size_t i = 0; i < files.size(); ++i) {
    if (blocks[i] == nullptr) continue;
    try {
      ctx.access.CloseModuleFile(blocks[i]);
    } catch (...) {
      // Closing never asks the user; nothing is left to do for this block.
    }
    blocks[i] = nullptr;
  }
}

void ModuleState::WalkModule(Module module) {
  for (const DataFileDef* file : WalkedFiles(module)) {
    WalkModuleFile(ctx.access, Block(file->baseName), *file, ctx.progress, ctx.report);
  }
}

// ---------------------------------------------------------------------------------
// The run's entry points

ModuleRepairs::ModuleRepairs(RunContext& context)
    : state_(std::make_unique<ModuleState>(context)) {}

ModuleRepairs::~ModuleRepairs() { CloseAll(); }

void ModuleRepairs::CloseAll() { state_->CloseAll(); }

void ModuleRepairs::FixGL() {
  if (!platform::FileExists("GLINFO.DAT")) return;
  state_->OpenGLFiles();
  state_->WalkModule(Module::kGL);
  state_->CloseGLFiles();
}

void ModuleRepairs::FixIC() {
  if (!FileCanOpen("ICINFO.DAT")) return;
  state_->OpenICFiles();
  state_->WalkModule(Module::kIC);
  state_->CloseICFiles();
}

void ModuleRepairs::FixAP() {
  if (!FileCanOpen("APINFO.DAT")) return;
  state_->OpenAPFiles();
  state_->WalkModule(Module::kAP);
  state_->CloseAPFiles();
}

void ModuleRepairs::FixAR() {
  if (!FileCanOpen("ARINFO.DAT")) return;
  state_->OpenARFiles();
  state_->WalkModule(Module::kAR);
  state_->CloseARFiles();
}

void ModuleRepairs::FixBI() {
  if (!FileCanOpen("BIINFO.DAT")) return;
  state_->OpenBIFiles();
  state_->WalkModule(Module::kBI);
  state_->CloseBIFiles();
}

void ModuleRepairs::FixPO() {
  if (!FileCanOpen("POINFO.DAT")) return;
  state_->OpenPOFiles();
  state_->WalkModule(Module::kPO);
  state_->ClosePOFiles();
}

}  // namespace kv::modules
