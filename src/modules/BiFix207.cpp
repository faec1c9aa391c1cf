// Billing and purchasing, which has the shape of billing with AP in the place of AR:
// their plans and information records. Their opens also open the GL, IC and AR (AP)
// files they book into; their closes write four information records back without a
// date stamp.
#include "modules/ModulePlans.h"
#include "modules/SharedFiles.h"
#include "platform/Cp874.h"

namespace kv::modules {
namespace {

// BI (960 bytes) and PO (964 bytes) information records, the same layout for these.
constexpr int kCopySource = 315;     // copied into kCopy once
constexpr int kInvoiceOldForm = 318; // BI: KORVA.INI INVOICEOLDFORM, set after every read
constexpr int kFirstTitle = 403;     // string[16]: PO document titles, 81 bytes apart
constexpr int kSecondTitle = 484;    // string[23]
constexpr int kThirdTitle = 565;     // string[16]
constexpr int kFormChoice = 690;     // 1, 2 or 3; anything else empties the two titles
constexpr int kCopied = 692;         // 1 once kCopy holds kCopySource
constexpr int kCopy = 693;
constexpr int kTwoWhenZero = 699;    // a stored 0 reads as 2 (reaches the file at close)
constexpr int kOneWhenZero = 714;    // BI: a stored 0 becomes 1 at once

constexpr FieldDefault kBIDefaults[] = {
    {314, 1, kNewCompany}, {kCopySource, 1, "copied into 693"}, {316, 1, kNewCompany},
    {317, 1, kNewCompany}, {kInvoiceOldForm, 0, "invoice old form"}, {319, 1, kNewCompany},
    {321, 1, kNewCompany}, {kFormChoice, 1, "form choice"},     {691, 0, kNewCompany},
    {kCopied, 1, "693 holds the copy"}, {kCopy, 1, "copy of 315"}, {696, 1, kNewCompany},
    {700, 1, kNewCompany}, {702, 1, kNewCompany}, {703, 1, kNewCompany},
    {704, 1, kNewCompany}, {706, 1, kNewCompany}, {kOneWhenZero, 1, "never 0"},
};
constexpr FieldDefault kPODefaults[] = {
    {314, 0, kNewCompany}, {kCopySource, 1, "copied into 693"}, {316, 1, kNewCompany},
    {317, 2, kNewCompany}, {318, 0, kNewCompany},               {319, 1, kNewCompany},
    {321, 1, kNewCompany}, {kFormChoice, 1, "form choice"},     {691, 0, kNewCompany},
    {kCopied, 1, "693 holds the copy"}, {kCopy, 1, "copy of 315"}, {696, 1, kNewCompany},
    {701, 1, kNewCompany}, {702, 1, kNewCompany}, {711, 1, kNewCompany},
};

// The fix-ups both records share, each written at once (a single attempt).
void FixCopyAndForm(InfoRecord& r) {
  if (r[kCopied] != 1) {
    r[kCopy] = r[kCopySource];
    r[kCopied] = 1;
    r.WriteOnce();
  }
  if (r[kFormChoice] != 1 && r[kFormChoice] != 2 && r[kFormChoice] != 3) {
    r[kSecondTitle] = 0;  // length bytes: both strings emptied
    r[kThirdTitle] = 0;
    r[kFormChoice] = 1;
    r.WriteOnce();
  }
}

// Whether or not the file held a record.
void FixBIInfo(InfoRecord& r, bool, const RunContext& ctx) {
  if (r[kTwoWhenZero] == 0) r[kTwoWhenZero] = 2;
  r[kInvoiceOldForm] = ctx.invoiceOldForm ? 1 : 0;
  FixCopyAndForm(r);
  if (r[kOneWhenZero] == 0) {
    r[kOneWhenZero] = 1;
    r.WriteOnce();
  }
}

// Titles that get a default text when empty: offset, width in bytes, text.
struct DefaultTitle {
  int offset;
  int width;
  const char* utf8;
};
constexpr DefaultTitle kPOTitles[] = {
    {kFirstTitle, 17, "รายการซื้อสินค้า"},
    {kSecondTitle, 24, "ใบเพิ่มหนี้/ใบกำกับภาษี"},
    {kThirdTitle, 17, "ใบสั่งซื้อสินค้า"},
};

void FixPOInfo(InfoRecord& r, bool, const RunContext&) {
  if (r[kTwoWhenZero] == 0) r[kTwoWhenZero] = 2;
  FixCopyAndForm(r);
  // These reach the file at close.
  for (const DefaultTitle& title : kPOTitles) {
    if (r[static_cast<size_t>(title.offset)] == 0) {
      PutShortString(r.data() + title.offset, title.width - 1, platform::Th(title.utf8));
    }
  }
}

// BI opens BIINFO.DAT once (no retry on code 255).
const InfoLayout kBIInfo{"BIINFO.DAT", kBIDefaults, -1, false, &FixBIInfo};
const InfoLayout kPOInfo{"POINFO.DAT", kPODefaults, -1, true, &FixPOInfo};

}  // namespace

using enum DataFileId;
using enum SideFileId;

constexpr PlanStep kBIOpen[] = {
    {Step::kReadInfo, Side(kGLINFO, kICINFO, kARINFO)},
    {Step::kOpen, Data(kGLFILE01)},
    {Step::kRead, Side(kGLBOOK)},
    {Step::kOpen, Data(kICFILE01, kICFILE02, kICFILE03, kICFILE04, kICFILE06)},
    {Step::kRead, Side(kICDPMT)},
    {Step::kCall, Side(kICSUBW), &ReadWarehouses},
    {Step::kOpen, Data(kARFILE01, kARFILE02, kARFILE03, kARFILE04)},
    {Step::kCall, Side(kARTYPE), &ReadLedgerTypes},
    {Step::kOpen, Data(kBIFILE01, kBIFILE02, kBIFILE03)},
    {Step::kReadInfo, Side(kBIINFO)},
};
constexpr PlanStep kBIClose[] = {
    {Step::kClose, Data(kGLFILE01)},
    {Step::kWriteBook, Side(kGLBOOK)},
    {Step::kClose, Data(kICFILE01, kICFILE03, kICFILE02, kICFILE04, kICFILE06)},
    {Step::kRelease, Side(kICDPMT, kICSUBW)},
    {Step::kClose, Data(kARFILE01, kARFILE02, kARFILE03, kARFILE04)},
    {Step::kRelease, Side(kARTYPE)},
    {Step::kClose, Data(kBIFILE01, kBIFILE02, kBIFILE03)},
    {Step::kWriteInfo, Side(kGLINFO, kARINFO, kICINFO)},
    {Step::kWriteInfoOnce, Side(kBIINFO)},
};

constexpr PlanStep kPOOpen[] = {
    {Step::kReadInfo, Side(kGLINFO, kICINFO, kAPINFO)},
    {Step::kOpen, Data(kGLFILE01)},
    {Step::kRead, Side(kGLBOOK)},
    {Step::kOpen, Data(kICFILE01, kICFILE03, kICFILE02, kICFILE04, kICFILE06)},
    {Step::kRead, Side(kICDPMT)},
    {Step::kCall, Side(kICSUBW), &ReadWarehouses},
    {Step::kOpen, Data(kAPFILE01, kAPFILE02, kAPFILE03, kAPFILE04)},
    {Step::kCall, Side(kAPTYPE), &ReadLedgerTypes},
    {Step::kOpen, Data(kPOFILE01, kPOFILE02, kPOFILE03)},
    {Step::kReadInfo, Side(kPOINFO)},
};
constexpr PlanStep kPOClose[] = {
    {Step::kClose, Data(kGLFILE01)},
    {Step::kWriteBook, Side(kGLBOOK)},
    {Step::kClose, Data(kICFILE01, kICFILE03, kICFILE02, kICFILE04, kICFILE06)},
    {Step::kRelease, Side(kICDPMT, kICSUBW)},
    {Step::kClose, Data(kAPFILE01, kAPFILE02, kAPFILE03, kAPFILE04)},
    {Step::kRelease, Side(kAPTYPE)},
    {Step::kClose, Data(kPOFILE01, kPOFILE02, kPOFILE03)},
    {Step::kWriteInfo, Side(kGLINFO, kAPINFO, kICINFO, kPOINFO)},
};

const ModulePlan kBIPlan{Module::kBI, kBIInfo, true, kBIOpen, kBIClose};
const ModulePlan kPOPlan{Module::kPO, kPOInfo, true, kPOOpen, kPOClose};

}  // namespace kv::modules
