// General ledger: its files, its information record and the GL pieces that the other
// modules' opens and closes reuse (GLFILE01, GLINFO.DAT, GLBOOK.DAT).
#include <cstring>
#include <vector>

#include "modules/ModuleState.h"

namespace kv::modules {
namespace {

// GL information record.
constexpr int kCloseDate = 284;    // string[8]: date of the last close
constexpr int kBookKey = 405;      // string[10]: key looked up in GLFILE02
constexpr int kBookName = 416;     // string[10]: taken from the GLFILE02 record found
constexpr int kGL02Name = 15;      // string in the GLFILE02 record copied to kBookName

constexpr int kBookLimit = 30;     // GLBOOK.DAT: read at most, always written

}  // namespace

void ModuleState::ReadGLInfo() {
  InfoRecord& r = glInfo;
  r.Clear();
  r[293] = 0;
  r[294] = 1;
  r[295] = 3;
  r[296] = 1;
  r[2205] = 1;
  r[2209] = 1;
  r[2212] = 2;
  r[2214] = 0;
  r[2215] = 1;
  r.Read();
}

void ModuleState::ReadGLBook() { glBook.Read(); }

// Written by the modules that book into the general ledger. A failure to re-create the
// file leaves it as it was, silently, as the suite does.
void ModuleState::WriteGLBook() { glBook.Write(kBookLimit, /*silent=*/true); }

void ModuleState::OpenGLFiles() {
  OpenData({"GLFILE01", "GLFILE03", "GLFILE05", "GLFILE04", "GLFILE06", "GLFILE02",
            "GLFILE07", "GLFILE08"});
  ReadGLInfo();
  ReadGLBook();
  glTbuf.Read();
  glTbfs.Read();

  uint8_t* info = glInfo.data();
  info[kBookName] = 0;
  const std::string key(ShortString(info + kBookKey, 10));
  if (!key.empty()) {
    isam::FileBlock* gl02 = Block("GLFILE02");
    int32_t record = 0;
    if (ctx.access.FindRecordByKey(gl02, 1, record, key)) {
      // Sized by the file's own slot length when that is sane, so the read cannot fail
      // for a file made with another record length.
      int32_t length = DataFile("GLFILE02").recordLength;
      const int32_t slot = gl02 ? ctx.access.engine().SlotLength(gl02) : 0;
      if (slot > length && slot <= isam::kMaxRecordLength) length = slot;
      std::vector<uint8_t> buffer(static_cast<size_t>(length), 0);
      if (ctx.access.ReadRecordAt(gl02, record, buffer)) {
        PutShortString(info + kBookName, 10, ShortString(buffer.data() + kGL02Name, 10));
      }
    }
  }
}

void ModuleState::CloseGLFiles() {
  CloseData({"GLFILE01", "GLFILE03", "GLFILE05", "GLFILE04", "GLFILE06", "GLFILE02",
             "GLFILE07", "GLFILE08"});
  PutShortString(glInfo.data() + kCloseDate, 8, ThaiDateStamp());
  glInfo.Write();
  glTbuf.WriteBack();
  glTbfs.WriteBack();
  glBook.Reset();
  glTbuf.Reset();
}

}  // namespace kv::modules
