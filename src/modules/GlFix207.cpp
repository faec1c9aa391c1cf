// General ledger: its plan, its information record and the book-name lookup at open.
// GLFILE01, GLINFO.DAT and GLBOOK.DAT are opened, read and written by the other
// modules' plans as well.
#include <string>
#include <vector>

#include "modules/ModulePlans.h"
#include "modules/SharedFiles.h"

namespace kv::modules {
namespace {

// GL information record (2406 bytes).
constexpr int kCloseDate = 284;  // string[8]: date of the last close
constexpr int kBookKey = 405;    // string[10]: key looked up in GLFILE02 at open
constexpr int kBookName = 416;   // string[10]: taken from the GLFILE02 record found
constexpr int kGL02Name = 15;    // string in the GLFILE02 record copied to kBookName

constexpr FieldDefault kGLDefaults[] = {
    {293, 0, kNewCompany},  {294, 1, kNewCompany},  {295, 3, kNewCompany},
    {296, 1, kNewCompany},  {2205, 1, kNewCompany}, {2209, 1, kNewCompany},
    {2212, 2, kNewCompany}, {2214, 0, kNewCompany}, {2215, 1, kNewCompany},
};
const InfoLayout kGLInfo{"GLINFO.DAT", kGLDefaults, kCloseDate, true};

// The book name shown with the ledger: looked up by the key the information record
// holds, emptied when there is none or it is not found.
void LookUpBookName(SharedFiles& files, std::string_view gl02Name) {
  RunContext& ctx = files.ctx;
  uint8_t* info = files.Info("GLINFO.DAT").data();
  info[kBookName] = 0;
  const std::string key(ShortString(info + kBookKey, 10));
  if (key.empty()) return;
  isam::BlockHandle gl02 = files.Block(gl02Name);
  int32_t record = 0;
  if (!ctx.access.FindRecordByKey(gl02, 1, record, key)) return;
  // Sized by the file's own slot length when that is sane, so the read cannot fail for
  // a file made with another record length.
  int32_t length = DataFile(DataFileId::kGLFILE02).recordLength;
  const int32_t slot = gl02 ? ctx.access.engine().SlotLength(gl02) : 0;
  if (slot > length && slot <= isam::kMaxRecordLength) length = slot;
  std::vector<uint8_t> buffer(static_cast<size_t>(length), 0);
  if (ctx.access.ReadRecordAt(gl02, record, buffer)) {
    PutShortString(info + kBookName, 10, ShortString(buffer.data() + kGL02Name, 10));
  }
}

}  // namespace

using enum DataFileId;
using enum SideFileId;

constexpr StepFileList kGLFiles = Data(kGLFILE01, kGLFILE03, kGLFILE05, kGLFILE04, kGLFILE06, kGLFILE02, kGLFILE07, kGLFILE08);

constexpr PlanStep kOpen[] = {
    {Step::kOpen, kGLFiles},
    {Step::kReadInfo, Side(kGLINFO)},
    {Step::kRead, Side(kGLBOOK, kGLTBUF, kGLTBFS)},
    {Step::kCall, Data(kGLFILE02), &LookUpBookName},
};
constexpr PlanStep kClose[] = {
    {Step::kClose, kGLFiles},
    {Step::kStampAndWrite, Side(kGLINFO)},
    {Step::kWriteBack, Side(kGLTBUF, kGLTBFS)},
    {Step::kRelease, Side(kGLBOOK, kGLTBUF)},
};

const ModulePlan kGLPlan{Module::kGL, kGLInfo, false, kOpen, kClose};

}  // namespace kv::modules
