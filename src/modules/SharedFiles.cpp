#include "modules/SharedFiles.h"

#include <cstdlib>

#include "modules/Walk.h"
#include "ui/Dialogs.h"

namespace kv::modules {
namespace {

// A name missing from the tables is a programming error.
template <class Item>
Item& ByName(std::vector<Item>& items, std::string_view fileName) {
  for (Item& item : items) {
    if (item.def().fileName == fileName) return item;
  }
  std::abort();
}

}  // namespace

SharedFiles::SharedFiles(RunContext& context) : ctx(context) {
  for (const SideFileDef& def : AllSideFiles()) {
    if (def.informationRecord) {
      infos_.emplace_back(def.fileName);
    } else {
      tables_.emplace_back(def.fileName);
    }
  }
}

isam::BlockHandle& SharedFiles::Block(std::string_view baseName) {
  return blocks_.at(static_cast<size_t>(&DataFile(baseName) - AllDataFiles().data()));
}

SideTable& SharedFiles::Table(std::string_view fileName) { return ByName(tables_, fileName); }
InfoRecord& SharedFiles::Info(std::string_view fileName) { return ByName(infos_, fileName); }

void SharedFiles::Open(std::string_view baseName) {
  isam::BlockHandle& block = Block(baseName);
  if (block != nullptr) return;
  const DataFileDef& def = DataFile(baseName);
  if (!ctx.access.OpenModuleFile(block, def.baseName, def.recordLength, def.keys.data(),
                                 static_cast<int>(def.keys.size()))) {
    throw ui::EndRun(ui::EndReason::kOpenFailed);
  }
}

void SharedFiles::Close(std::string_view baseName) {
  isam::BlockHandle& block = Block(baseName);
  if (block == nullptr) return;
  ctx.access.CloseModuleFile(block);
  block = nullptr;
}

void SharedFiles::CloseAll() noexcept {
  for (isam::BlockHandle& block : blocks_) {
    if (block == nullptr) continue;
    try {
      ctx.access.CloseModuleFile(block);
    } catch (...) {
      // Closing never asks the user; nothing is left to do for this block.
    }
    block = nullptr;
  }
}

RepairCounts SharedFiles::Walk(Module module) {
  RepairCounts counts;
  // The read-ahead, kept from file to file of the module; it goes with the module's
  // walk, as its files do, since its thread is a handle of the process as they are.
  WalkBuffers buffers;
  for (const DataFileDef* file : WalkedFiles(module)) {
    FileWalk walk(ctx.access, Block(file->baseName), *file, ctx.progress, ctx.report, buffers);
    try {
      walk.Run();
    } catch (...) {
      walked_ += walk.Stats().Counts();  // what it did before it ended the run
      throw;
    }
    counts += walk.Stats().Counts();
    walked_ += walk.Stats().Counts();
  }
  return counts;
}

}  // namespace kv::modules
