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

using enum DataFileId;
using enum SideFileId;

constexpr PlanStep kAPOpen[] = {
    {Step::kReadInfo, Side(kAPINFO)},
    {Step::kCall, Side(kAPTYPE), &ReadLedgerTypes},
    {Step::kReadOrEmpty, Side(kAPTBUF)},
    {Step::kOpen, Data(kAPFILE01, kAPFILE02, kAPFILE03, kAPFILE04, kAPFILE05)},
    {Step::kReadInfo, Side(kGLINFO)},
    {Step::kOpen, Data(kGLFILE01)},
    {Step::kRead, Side(kGLBOOK)},
    {Step::kReadInfo, Side(kICINFO)},
    {Step::kCall, Side(kICSUBW), &ReadWarehouses},
};
// ICFILE04 is not open here (the IC close closed it); closing it does nothing.
constexpr PlanStep kAPClose[] = {
    {Step::kClose, Data(kAPFILE01, kAPFILE02, kAPFILE03, kAPFILE04, kAPFILE05)},
    {Step::kStampAndWrite, Side(kAPINFO)},
    {Step::kWriteBack, Side(kAPTBUF)},
    {Step::kClose, Data(kICFILE04, kGLFILE01)},
    {Step::kWriteBook, Side(kGLBOOK)},
    {Step::kRelease, Side(kAPTYPE, kICSUBW, kAPTBUF)},
};

constexpr PlanStep kAROpen[] = {
    {Step::kReadInfo, Side(kARINFO)},
    {Step::kRead, Side(kARTBUF)},
    {Step::kCall, Side(kARTYPE), &ReadLedgerTypes},
    {Step::kOpen, Data(kARFILE01, kARFILE02, kARFILE03, kARFILE04, kARFILE05)},
    {Step::kReadInfo, Side(kGLINFO, kICINFO)},
    {Step::kCall, Side(kICSUBW), &ReadWarehouses},
    {Step::kOpen, Data(kGLFILE01)},
    {Step::kRead, Side(kGLBOOK)},
};
constexpr PlanStep kARClose[] = {
    {Step::kClose, Data(kARFILE01, kARFILE02, kARFILE03, kARFILE04, kARFILE05)},
    {Step::kStampAndWrite, Side(kARINFO)},
    {Step::kWriteBack, Side(kARTBUF)},
    {Step::kClose, Data(kICFILE04, kGLFILE01)},
    {Step::kWriteBook, Side(kGLBOOK)},
    {Step::kRelease, Side(kARTYPE, kICSUBW, kARTBUF)},
};

const ModulePlan kAPPlan{Module::kAP, kAPInfo, true, kAPOpen, kAPClose};
const ModulePlan kARPlan{Module::kAR, kARInfo, true, kAROpen, kARClose};

}  // namespace kv::modules
