// Inventory: its files, its information record and the IC pieces that the AP, AR, BI
// and PO opens reuse (ICINFO.DAT, ICDPMT.DAT, ICSUBW.DAT, the IC data files).
#include "modules/ModuleState.h"
#include "platform/Cp874.h"

namespace kv::modules {
namespace {

// IC information record.
constexpr int kCloseDate = 264;  // string[8]: date of the last close
constexpr int kByte285 = 285;    // default 2; a stored 0 is replaced by 2 at once

// The record is 141 bytes; the name is cut only by that.
constexpr int kWarehouseNameCapacity = 140;

void PutDefaultWarehouse(SideTable& table) {
  PutShortString(table.Slot(1), kWarehouseNameCapacity, platform::Th("คลังสินค้าหลัก"));
}

}  // namespace

void ModuleState::ReadICInfo() {
  InfoRecord& r = icInfo;
  r.Clear();
  r[274] = 1;
  r[275] = 1;
  r[278] = 0;
  r[kByte285] = 2;
  r[288] = 1;
  if (r.Read() && r[kByte285] == 0) {
    r[kByte285] = 2;
    r.Write(1);
  }
}

void ModuleState::ReadICDpmt() { icDpmt.Read(); }

void ModuleState::ReadICSubw() {
  icSubw.Reset();
  PutDefaultWarehouse(icSubw);
  if (!icSubw.Read(SideTable::OnBadRecord::kRaise, /*createMissing=*/false)) {
    // A missing file is created with a full table: the default warehouse in the first
    // record, the rest zero.
    PutDefaultWarehouse(icSubw);
    icSubw.Write(icSubw.def().capacity);
    return;
  }
  // Read() starts from a zeroed table; an empty file keeps the default warehouse.
  if (icSubw.count() == 0) PutDefaultWarehouse(icSubw);
}

void ModuleState::OpenICFiles() {
  ReadICInfo();
  ReadICDpmt();
  ReadICSubw();
  ReadGLInfo();
  OpenData({"ICFILE01", "ICFILE03", "ICFILE04", "ICFILE02", "ICFILE05", "ICFILE07",
            "ICFILE06", "GLFILE01"});
}

// GLFILE01 stays open: the next module that books into the ledger opens it again (and
// keeps this handle) and closes it; otherwise it is closed at the end of the run. The
// GL information record read at open is not written back here.
void ModuleState::CloseICFiles() {
  CloseData({"ICFILE01", "ICFILE03", "ICFILE04", "ICFILE02", "ICFILE05", "ICFILE07",
             "ICFILE06"});
  PutShortString(icInfo.data() + kCloseDate, 8, ThaiDateStamp());
  icInfo.Write();
  icDpmt.Reset();
  icSubw.Reset();
}

}  // namespace kv::modules
