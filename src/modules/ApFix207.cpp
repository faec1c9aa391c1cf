// Accounts payable and its twin, accounts receivable: their plans, their information
// records with the two fix-ups, and the type file with its defaults. The BI and PO
// plans read the AR and AP records and type files as well.
#include "isam/Coding.h"
#include "isam/Extended.h"
#include "modules/ModulePlans.h"
#include "modules/SharedFiles.h"
#include "platform/Cp874.h"

namespace kv::modules {
namespace {

// AP and AR information records (1107 bytes; the same layout for these fields).
constexpr int kCloseDate = 246;    // string[8]: date of the last close
constexpr int kFirstType = 307;    // string[10]: goes into the first type record
constexpr int kSecondType = 318;   // string[10]: goes into the second, then emptied
constexpr int kValueSource = 601;  // int16: fills kValue when that is zero
constexpr int kValue = 606;        // extended, default 7.0
constexpr int kByteSource = 616;   // fills the module's byte below when that is zero
constexpr int kAPFilledByte = 630;
constexpr int kARFilledByte = 619;

constexpr FieldDefault kLedgerDefaults[] = {
    {282, 1, kNewCompany}, {283, 1, kNewCompany}, {603, 1, kNewCompany},
    {kValue, 7, "value filled from the int16 before it when zero", true},
};

void FixLedgerInfo(InfoRecord& r, bool existed, size_t filledByte) {
  if (!existed) return;  // created empty: nothing else happens
  const int16_t source = isam::GetI16(r.data() + kValueSource);
  if (isam::ExtendedIsZero(r.data() + kValue) && source != 0) {
    isam::EncodeExtended(source, r.data() + kValue);
    r.WriteOnce();
  }
  if (r[filledByte] == 0 && r[kByteSource] != 0) {
    r[filledByte] = r[kByteSource];
    r.WriteOnce();
  }
}

void FixAPInfo(InfoRecord& r, bool existed, const RunContext&) { FixLedgerInfo(r, existed, kAPFilledByte); }
void FixARInfo(InfoRecord& r, bool existed, const RunContext&) { FixLedgerInfo(r, existed, kARFilledByte); }

const InfoLayout kAPInfo{"APINFO.DAT", kLedgerDefaults, kCloseDate, true, &FixAPInfo};
const InfoLayout kARInfo{"ARINFO.DAT", kLedgerDefaults, kCloseDate, true, &FixARInfo};

// APTYPE.DAT / ARTYPE.DAT records: a name at 0, a string[10] at 31.
constexpr int kTypeName = 0;
constexpr int kTypeNameCapacity = 30;
constexpr int kTypeCode = 31;

}  // namespace

// A type file whose first two records are both empty gets the two default types, their
// codes taken from the information record (the second then emptied there).
void ReadLedgerTypes(SharedFiles& files, std::string_view fileName) {
  SideTable& types = files.Table(fileName);
  const bool ap = types.def().module == Module::kAP;
  InfoRecord& r = files.Info(ap ? "APINFO.DAT" : "ARINFO.DAT");
  types.Read();

  uint8_t* first = types.Slot(0);
  uint8_t* second = types.Slot(1);
  if (first[kTypeName] != 0 || first[kTypeCode] != 0 || second[kTypeName] != 0 ||
      second[kTypeCode] != 0) {
    return;
  }
  PutShortString(first + kTypeName, kTypeNameCapacity,
                 platform::Th(ap ? "เจ้าหนี้การค้า" : "ลูกหนี้การค้า"));
  PutShortString(first + kTypeCode, 10, ShortString(r.data() + kFirstType, 10));
  PutShortString(second + kTypeName, kTypeNameCapacity,
                 platform::Th(ap ? "เจ้าหนี้อื่น" : "ลูกหนี้อื่น"));
  PutShortString(second + kTypeCode, 10, ShortString(r.data() + kSecondType, 10));
  types.WriteAll();
  if (r[kSecondType] != 0) {
    r[kSecondType] = 0;
    r.Write();
  }
}

constexpr PlanStep kAPOpen[] = {
    {Step::kReadInfo, "APINFO.DAT"},
    {Step::kCall, "APTYPE.DAT", &ReadLedgerTypes},
    {Step::kReadOrEmpty, "APTBUF.DAT"},
    {Step::kOpen, "APFILE01 APFILE02 APFILE03 APFILE04 APFILE05"},
    {Step::kReadInfo, "GLINFO.DAT"},
    {Step::kOpen, "GLFILE01"},
    {Step::kRead, "GLBOOK.DAT"},
    {Step::kReadInfo, "ICINFO.DAT"},
    {Step::kCall, "ICSUBW.DAT", &ReadWarehouses},
};
// ICFILE04 is not open here (the IC close closed it); closing it does nothing.
constexpr PlanStep kAPClose[] = {
    {Step::kClose, "APFILE01 APFILE02 APFILE03 APFILE04 APFILE05"},
    {Step::kStampAndWrite, "APINFO.DAT"},
    {Step::kWriteBack, "APTBUF.DAT"},
    {Step::kClose, "ICFILE04 GLFILE01"},
    {Step::kWriteBook, "GLBOOK.DAT"},
    {Step::kRelease, "APTYPE.DAT ICSUBW.DAT APTBUF.DAT"},
};

constexpr PlanStep kAROpen[] = {
    {Step::kReadInfo, "ARINFO.DAT"},
    {Step::kRead, "ARTBUF.DAT"},
    {Step::kCall, "ARTYPE.DAT", &ReadLedgerTypes},
    {Step::kOpen, "ARFILE01 ARFILE02 ARFILE03 ARFILE04 ARFILE05"},
    {Step::kReadInfo, "GLINFO.DAT ICINFO.DAT"},
    {Step::kCall, "ICSUBW.DAT", &ReadWarehouses},
    {Step::kOpen, "GLFILE01"},
    {Step::kRead, "GLBOOK.DAT"},
};
constexpr PlanStep kARClose[] = {
    {Step::kClose, "ARFILE01 ARFILE02 ARFILE03 ARFILE04 ARFILE05"},
    {Step::kStampAndWrite, "ARINFO.DAT"},
    {Step::kWriteBack, "ARTBUF.DAT"},
    {Step::kClose, "ICFILE04 GLFILE01"},
    {Step::kWriteBook, "GLBOOK.DAT"},
    {Step::kRelease, "ARTYPE.DAT ICSUBW.DAT ARTBUF.DAT"},
};

const ModulePlan kAPPlan{Module::kAP, kAPInfo, true, kAPOpen, kAPClose};
const ModulePlan kARPlan{Module::kAR, kARInfo, true, kAROpen, kARClose};

}  // namespace kv::modules
