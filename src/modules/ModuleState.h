// What the module repairs share for a run: the open data files and the module
// tables and information records. Several modules open, read and rewrite files of
// others (GLFILE01, GLINFO.DAT, GLBOOK.DAT, the IC, AP and AR files), so one object
// holds them all.
#pragma once

#include <array>
#include <initializer_list>
#include <string_view>

#include "modules/ModuleTables.h"
#include "modules/Repairs.h"
#include "modules/SideFiles.h"

namespace kv::modules {

struct ModuleState {
  explicit ModuleState(RunContext& context);

  RunContext& ctx;

  // One handle per data file. A file already open is not opened again (GLFILE01 is
  // left open by the IC close and opened again by the next module): a second open
  // would lose the first handle while it is still open.
  std::array<isam::FileBlock*, 31> blocks{};

  InfoRecord glInfo{"GLINFO.DAT"};
  InfoRecord icInfo{"ICINFO.DAT"};
  InfoRecord apInfo{"APINFO.DAT"};
  InfoRecord arInfo{"ARINFO.DAT"};
  InfoRecord biInfo{"BIINFO.DAT"};
  InfoRecord poInfo{"POINFO.DAT"};

  SideTable glBook{"GLBOOK.DAT"};
  SideTable glTbuf{"GLTBUF.DAT"};
  SideTable glTbfs{"GLTBFS.DAT"};
  SideTable icDpmt{"ICDPMT.DAT"};
  SideTable icSubw{"ICSUBW.DAT"};
  SideTable apType{"APTYPE.DAT"};
  SideTable apTbuf{"APTBUF.DAT"};
  SideTable arTbuf{"ARTBUF.DAT"};
  SideTable arType{"ARTYPE.DAT"};

  // --- data files ---
  isam::FileBlock*& Block(std::string_view baseName);
  // Opens through the access layer unless already open; a failed open ends the run
  // (the layer has reported it).
  void OpenData(std::string_view baseName);
  void OpenData(std::initializer_list<std::string_view> baseNames);
  // Closing a file that is not open does nothing.
  void CloseData(std::string_view baseName);
  void CloseData(std::initializer_list<std::string_view> baseNames);
  void CloseAll() noexcept;
  void WalkModule(Module module);

  // --- shared reads and writes ---
  void ReadGLInfo();
  void ReadGLBook();
  void WriteGLBook();
  void ReadICInfo();
  void ReadICDpmt();
  void ReadICSubw();
  // The AP and AR information records (twins; AR fills 619 where AP fills 630).
  void ReadLedgerInfo(Module module);
  // APTYPE.DAT / ARTYPE.DAT with their defaults step.
  void ReadLedgerTypes(Module module);
  void ReadBIInfo();
  void ReadPOInfo();

  // --- module procedures ---
  void OpenGLFiles();
  void CloseGLFiles();
  void OpenICFiles();
  void CloseICFiles();
  void OpenAPFiles();
  void CloseAPFiles();
  void OpenARFiles();
  void CloseARFiles();
  void OpenBIFiles();
  void CloseBIFiles();
  void OpenPOFiles();
  void ClosePOFiles();
};

}  // namespace kv::modules
