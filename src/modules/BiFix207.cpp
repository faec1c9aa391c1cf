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

constexpr PlanStep kBIOpen[] = {
    {Step::kReadInfo, "GLINFO.DAT ICINFO.DAT ARINFO.DAT"},
    {Step::kOpen, "GLFILE01"},
    {Step::kRead, "GLBOOK.DAT"},
    {Step::kOpen, "ICFILE01 ICFILE02 ICFILE03 ICFILE04 ICFILE06"},
    {Step::kRead, "ICDPMT.DAT"},
    {Step::kCall, "ICSUBW.DAT", &ReadWarehouses},
    {Step::kOpen, "ARFILE01 ARFILE02 ARFILE03 ARFILE04"},
    {Step::kCall, "ARTYPE.DAT", &ReadLedgerTypes},
    {Step::kOpen, "BIFILE01 BIFILE02 BIFILE03"},
    {Step::kReadInfo, "BIINFO.DAT"},
};
constexpr PlanStep kBIClose[] = {
    {Step::kClose, "GLFILE01"},
    {Step::kWriteBook, "GLBOOK.DAT"},
    {Step::kClose, "ICFILE01 ICFILE03 ICFILE02 ICFILE04 ICFILE06"},
    {Step::kRelease, "ICDPMT.DAT ICSUBW.DAT"},
    {Step::kClose, "ARFILE01 ARFILE02 ARFILE03 ARFILE04"},
    {Step::kRelease, "ARTYPE.DAT"},
    {Step::kClose, "BIFILE01 BIFILE02 BIFILE03"},
    {Step::kWriteInfo, "GLINFO.DAT ARINFO.DAT ICINFO.DAT"},
    {Step::kWriteInfoOnce, "BIINFO.DAT"},
};

constexpr PlanStep kPOOpen[] = {
    {Step::kReadInfo, "GLINFO.DAT ICINFO.DAT APINFO.DAT"},
    {Step::kOpen, "GLFILE01"},
    {Step::kRead, "GLBOOK.DAT"},
    {Step::kOpen, "ICFILE01 ICFILE03 ICFILE02 ICFILE04 ICFILE06"},
    {Step::kRead, "ICDPMT.DAT"},
    {Step::kCall, "ICSUBW.DAT", &ReadWarehouses},
    {Step::kOpen, "APFILE01 APFILE02 APFILE03 APFILE04"},
    {Step::kCall, "APTYPE.DAT", &ReadLedgerTypes},
    {Step::kOpen, "POFILE01 POFILE02 POFILE03"},
    {Step::kReadInfo, "POINFO.DAT"},
};
constexpr PlanStep kPOClose[] = {
    {Step::kClose, "GLFILE01"},
    {Step::kWriteBook, "GLBOOK.DAT"},
    {Step::kClose, "ICFILE01 ICFILE03 ICFILE02 ICFILE04 ICFILE06"},
    {Step::kRelease, "ICDPMT.DAT ICSUBW.DAT"},
    {Step::kClose, "APFILE01 APFILE02 APFILE03 APFILE04"},
    {Step::kRelease, "APTYPE.DAT"},
    {Step::kClose, "POFILE01 POFILE02 POFILE03"},
    {Step::kWriteInfo, "GLINFO.DAT APINFO.DAT ICINFO.DAT POINFO.DAT"},
};

const ModulePlan kBIPlan{Module::kBI, kBIInfo, true, kBIOpen, kBIClose};
const ModulePlan kPOPlan{Module::kPO, kPOInfo, true, kPOOpen, kPOClose};

}  // namespace kv::modules
