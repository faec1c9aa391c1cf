// What the module repairs share for a run: the open data files, the side tables and
// the information records. Several modules open, read and rewrite files of others
// (GLFILE01, GLINFO.DAT, GLBOOK.DAT, the IC, AP and AR files), so one object holds
// them all, each by its file name.
#pragma once

#include <array>
#include <string_view>
#include <vector>

#include "modules/ModuleTables.h"
#include "modules/Repairs.h"
#include "modules/SideFiles.h"
#include "modules/Walk.h"

namespace kv::modules {

class SharedFiles {
 public:
  explicit SharedFiles(RunContext& context);

  RunContext& ctx;

  isam::BlockHandle& Block(std::string_view baseName);
  // Opens through the access layer unless already open; a failed open ends the run
  // (the layer has reported it).
  void Open(std::string_view baseName);
  // Closing a file that is not open does nothing.
  void Close(std::string_view baseName);
  void CloseAll() noexcept;
  // Walks the module's data files; what the walks did. A walk that ends the run early
  // throws, and what it did until then is in Walked() all the same.
  RepairCounts Walk(Module module);
  // What every walk of the run has done so far.
  const RepairCounts& Walked() const { return walked_; }

  SideTable& Table(std::string_view fileName);
  InfoRecord& Info(std::string_view fileName);

 private:
  // One handle per data file, in the order of AllDataFiles(). A file already open is
  // not opened again (GLFILE01 is left open by the IC close and opened again by the
  // next module): a second open would lose the first handle while it is still open.
  std::array<isam::BlockHandle, 31> blocks_{};
  std::vector<SideTable> tables_;
  std::vector<InfoRecord> infos_;
  RepairCounts walked_;
};

}  // namespace kv::modules
