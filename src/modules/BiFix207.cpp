// Billing. Its open also opens the GL, IC and AR files it books into; its close
// writes four information records back (GL, AR, IC, BI) without a date stamp.
#include "modules/ModuleState.h"

namespace kv::modules {
namespace {

constexpr int kOnes[] = {314, 315, 316, 317, 319, 321, 690, 692, 693, 696, 700, 702, 703, 704, 706, 714};
constexpr int kInvoiceOldForm = 318;

}  // namespace

void ModuleState::ReadBIInfo() {
  InfoRecord& r = biInfo;
  r.Clear();
  for (int offset : kOnes) r[offset] = 1;
  r[kInvoiceOldForm] = 0;
  r[691] = 0;
  r.Read(/*retry255=*/false);

  if (r[699] == 0) r[699] = 2;
  r[kInvoiceOldForm] = ctx.invoiceOldForm ? 1 : 0;
  if (r[692] != 1) {
    r[693] = r[315];
    r[692] = 1;
    r.Write(1);
  }
  if (r[690] != 1 && r[690] != 2 && r[690] != 3) {
    r[484] = 0;  // length bytes of two strings
    r[565] = 0;
    r[690] = 1;
    r.Write(1);
  }
  if (r[714] == 0) {
    r[714] = 1;
    r.Write(1);
  }
}

void ModuleState::OpenBIFiles() {
  ReadGLInfo();
  ReadICInfo();
  ReadLedgerInfo(Module::kAR);
  OpenData("GLFILE01");
  ReadGLBook();
  OpenData({"ICFILE01", "ICFILE02", "ICFILE03", "ICFILE04", "ICFILE06"});
  ReadICDpmt();
  ReadICSubw();
  OpenData({"ARFILE01", "ARFILE02", "ARFILE03", "ARFILE04"});
  ReadLedgerTypes(Module::kAR);
  OpenData({"BIFILE01", "BIFILE02", "BIFILE03"});
  ReadBIInfo();
}

void ModuleState::CloseBIFiles() {
  CloseData("GLFILE01");
  WriteGLBook();
  CloseData({"ICFILE01", "ICFILE03", "ICFILE02", "ICFILE04", "ICFILE06"});
  icDpmt.Reset();
  icSubw.Reset();
  CloseData({"ARFILE01", "ARFILE02", "ARFILE03", "ARFILE04"});
  arType.Reset();
  CloseData({"BIFILE01", "BIFILE02", "BIFILE03"});
  glInfo.Write();
  arInfo.Write();
  icInfo.Write();
  biInfo.Write(1);
}

}  // namespace kv::modules
