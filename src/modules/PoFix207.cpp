// Purchasing: the shape of billing with AP in the place of AR. Its close writes the
// GL, AP, IC and PO information records back without a date stamp.
#include "modules/ModuleState.h"
#include "platform/Cp874.h"

namespace kv::modules {
namespace {

constexpr int kOnes[] = {315, 316, 319, 321, 690, 692, 693, 696, 701, 702, 711};

// Strings that get a default text when empty: offset, width in bytes, text.
struct DefaultText {
  int offset;
  int width;
  const char* utf8;
};
constexpr DefaultText kDefaultTexts[] = {
    {403, 17, "รายการซื้อสินค้า"},
    {484, 24, "ใบเพิ่มหนี้/ใบกำกับภาษี"},
    {565, 17, "ใบสั่งซื้อสินค้า"},
};

}  // namespace

void ModuleState::ReadPOInfo() {
  InfoRecord& r = poInfo;
  r.Clear();
  for (int offset : kOnes) r[offset] = 1;
  r[317] = 2;
  r[314] = 0;
  r[318] = 0;
  r[691] = 0;
  r.Read();

  if (r[699] == 0) r[699] = 2;
  if (r[692] != 1) {
    r[693] = r[315];
    r[692] = 1;
    r.Write(1);
  }
  if (r[690] != 1 && r[690] != 2 && r[690] != 3) {
    r[484] = 0;
    r[565] = 0;
    r[690] = 1;
    r.Write(1);
  }
  // These reach the file at close.
  for (const DefaultText& text : kDefaultTexts) {
    if (r[text.offset] == 0) PutShortString(r.data() + text.offset, text.width - 1, platform::Th(text.utf8));
  }
}

void ModuleState::OpenPOFiles() {
  ReadGLInfo();
  ReadICInfo();
  ReadLedgerInfo(Module::kAP);
  OpenData("GLFILE01");
  ReadGLBook();
  OpenData({"ICFILE01", "ICFILE03", "ICFILE02", "ICFILE04", "ICFILE06"});
  ReadICDpmt();
  ReadICSubw();
  OpenData({"APFILE01", "APFILE02", "APFILE03", "APFILE04"});
  ReadLedgerTypes(Module::kAP);
  OpenData({"POFILE01", "POFILE02", "POFILE03"});
  ReadPOInfo();
}

void ModuleState::ClosePOFiles() {
  CloseData("GLFILE01");
  WriteGLBook();
  CloseData({"ICFILE01", "ICFILE03", "ICFILE02", "ICFILE04", "ICFILE06"});
  icDpmt.Reset();
  icSubw.Reset();
  CloseData({"APFILE01", "APFILE02", "APFILE03", "APFILE04"});
  apType.Reset();
  CloseData({"POFILE01", "POFILE02", "POFILE03"});
  glInfo.Write();
  apInfo.Write();
  icInfo.Write();
  poInfo.Write();
}

}  // namespace kv::modules
