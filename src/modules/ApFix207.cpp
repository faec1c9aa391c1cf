// Accounts payable, and what it shares with its twin, accounts receivable: the
// information record with its two fix-ups and the type file with its defaults.
#include "isam/Coding.h"
#include "isam/Extended.h"
#include "modules/ModuleState.h"
#include "platform/Cp874.h"

namespace kv::modules {
namespace {

// AP and AR information records (same layout for these fields).
constexpr int kCloseDate = 246;  // string[8]: date of the last close
constexpr int kType1 = 307;      // string[10]: goes into the first type record
constexpr int kType2 = 318;      // string[10]: goes into the second, then emptied
constexpr int kInt601 = 601;     // int16: source of the value at 606 when that is zero
constexpr int kValue606 = 606;   // extended, default 7.0
constexpr int kByte616 = 616;    // source of the byte below when that is zero
constexpr int kAPByte630 = 630;
constexpr int kARByte619 = 619;

// APTYPE.DAT / ARTYPE.DAT records: a name at 0, a string[10] at 31.
constexpr int kTypeName = 0;
constexpr int kTypeNameCapacity = 30;
constexpr int kTypeCode = 31;

}  // namespace

void ModuleState::ReadLedgerInfo(Module module) {
  InfoRecord& r = module == Module::kAP ? apInfo : arInfo;
  const int target = module == Module::kAP ? kAPByte630 : kARByte619;
  r.Clear();
  r[282] = 1;
  r[283] = 1;
  r[603] = 1;
  isam::EncodeExtended(7, r.data() + kValue606);
  if (!r.Read()) return;  // created empty: nothing else happens

  const int16_t days = isam::GetI16(r.data() + kInt601);
  if (isam::ExtendedIsZero(r.data() + kValue606) && days != 0) {
    isam::EncodeExtended(days, r.data() + kValue606);
    r.Write(1);
  }
  if (r[target] == 0 && r[kByte616] != 0) {
    r[target] = r[kByte616];
    r.Write(1);
  }
}

void ModuleState::ReadLedgerTypes(Module module) {
  const bool ap = module == Module::kAP;
  SideTable& types = ap ? apType : arType;
  InfoRecord& r = ap ? apInfo : arInfo;
  types.Read();

  uint8_t* first = types.Slot(0);
  uint8_t* second = types.Slot(1);
  if (first[kTypeName] != 0 || first[kTypeCode] != 0 || second[kTypeName] != 0 ||
      second[kTypeCode] != 0) {
    return;
  }
  PutShortString(first + kTypeName, kTypeNameCapacity,
                 platform::Th(ap ? "เจ้าหนี้การค้า" : "ลูกหนี้การค้า"));
  PutShortString(first + kTypeCode, 10, ShortString(r.data() + kType1, 10));
  PutShortString(second + kTypeName, kTypeNameCapacity,
                 platform::Th(ap ? "เจ้าหนี้อื่น" : "ลูกหนี้อื่น"));
  PutShortString(second + kTypeCode, 10, ShortString(r.data() + kType2, 10));
  types.Write(types.def().capacity);
  if (r[kType2] != 0) {
    r[kType2] = 0;
    r.Write();
  }
}

void ModuleState::OpenAPFiles() {
  ReadLedgerInfo(Module::kAP);
  ReadLedgerTypes(Module::kAP);
  apTbuf.Read(SideTable::OnBadRecord::kEmptyTable);
  OpenData({"APFILE01", "APFILE02", "APFILE03", "APFILE04", "APFILE05"});
  ReadGLInfo();
  OpenData("GLFILE01");
  ReadGLBook();
  ReadICInfo();
  ReadICSubw();
}

void ModuleState::CloseAPFiles() {
  CloseData({"APFILE01", "APFILE02", "APFILE03", "APFILE04", "APFILE05"});
  PutShortString(apInfo.data() + kCloseDate, 8, ThaiDateStamp());
  apInfo.Write();
  // An APTBUF.DAT that could not be read whole was emptied in memory, as the suite
  // does; the file itself is left as it was rather than rewritten empty, which would
  // throw away every record in it.
  if (!apTbuf.readFailed()) apTbuf.WriteBack();
  CloseData("ICFILE04");
  CloseData("GLFILE01");
  WriteGLBook();
  apType.Reset();
  icSubw.Reset();
  apTbuf.Reset();
}

void ModuleState::OpenARFiles() {
  ReadLedgerInfo(Module::kAR);
  arTbuf.Read(SideTable::OnBadRecord::kRaise);
  ReadLedgerTypes(Module::kAR);
  OpenData({"ARFILE01", "ARFILE02", "ARFILE03", "ARFILE04", "ARFILE05"});
  ReadGLInfo();
  ReadICInfo();
  ReadICSubw();
  OpenData("GLFILE01");
  ReadGLBook();
}

void ModuleState::CloseARFiles() {
  CloseData({"ARFILE01", "ARFILE02", "ARFILE03", "ARFILE04", "ARFILE05"});
  PutShortString(arInfo.data() + kCloseDate, 8, ThaiDateStamp());
  arInfo.Write();
  arTbuf.WriteBack();
  CloseData("ICFILE04");
  CloseData("GLFILE01");
  WriteGLBook();
  arType.Reset();
  icSubw.Reset();
  arTbuf.Reset();
}

}  // namespace kv::modules
