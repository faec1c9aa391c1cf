// Inventory: its plan, its information record and the warehouse table, which the AP,
// AR, BI and PO plans read as well (with ICINFO.DAT, ICDPMT.DAT and IC data files).
#include "modules/ModulePlans.h"
#include "modules/SharedFiles.h"
#include "platform/Cp874.h"

namespace kv::modules {
namespace {

// IC information record (388 bytes).
constexpr int kCloseDate = 264;   // string[8]: date of the last close
constexpr int kNeverZero = 285;   // default 2; a stored 0 is replaced by 2 at once

constexpr FieldDefault kICDefaults[] = {
    {274, 1, kNewCompany}, {275, 1, kNewCompany}, {278, 0, kNewCompany},
    {kNeverZero, 2, "setting that is never 0"},   {288, 1, kNewCompany},
};

void FixICInfo(InfoRecord& r, bool existed, const RunContext&) {
  if (existed && r[kNeverZero] == 0) {
    r[kNeverZero] = 2;
    r.WriteOnce();
  }
}

const InfoLayout kICInfo{"ICINFO.DAT", kICDefaults, kCloseDate, true, &FixICInfo};

// The record is 141 bytes; the name is cut only by that.
constexpr int kWarehouseNameCapacity = 140;

void PutDefaultWarehouse(SideTable& table) {
  PutShortString(table.Slot(1), kWarehouseNameCapacity, platform::Th("คลังสินค้าหลัก"));
}

}  // namespace

// ICSUBW.DAT always names at least the main warehouse.
void ReadWarehouses(SharedFiles& files, std::string_view fileName) {
  SideTable& table = files.Table(fileName);
  table.Reset();
  PutDefaultWarehouse(table);
  if (!table.Read(SideTable::OnBadRecord::kRaise, /*createMissing=*/false)) {
    // A missing file is created with a full table: the default warehouse in the first
    // record, the rest zero.
    PutDefaultWarehouse(table);
    table.WriteAll();
    return;
  }
  // Read() starts from a zeroed table; an empty file keeps the default warehouse.
  if (table.count() == 0) PutDefaultWarehouse(table);
}

using enum DataFileId;
using enum SideFileId;

constexpr StepFileList kICFiles = Data(kICFILE01, kICFILE03, kICFILE04, kICFILE02, kICFILE05, kICFILE07, kICFILE06);

constexpr PlanStep kOpen[] = {
    {Step::kReadInfo, Side(kICINFO)},
    {Step::kRead, Side(kICDPMT)},
    {Step::kCall, Side(kICSUBW), &ReadWarehouses},
    {Step::kReadInfo, Side(kGLINFO)},
    {Step::kOpen, kICFiles},
    {Step::kOpen, Data(kGLFILE01)},
};
// GLFILE01 stays open: the next module that books into the ledger opens it again (and
// keeps this handle) and closes it; otherwise it is closed at the end of the run. The
// GL information record read at open is not written back here.
constexpr PlanStep kClose[] = {
    {Step::kClose, kICFiles},
    {Step::kStampAndWrite, Side(kICINFO)},
    {Step::kRelease, Side(kICDPMT, kICSUBW)},
};

const ModulePlan kICPlan{Module::kIC, kICInfo, true, kOpen, kClose};

}  // namespace kv::modules
