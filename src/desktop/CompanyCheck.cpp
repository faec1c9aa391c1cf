#include "desktop/CompanyCheck.h"

#include "platform/Cp874.h"
#include "ui/NumberText.h"

namespace kv::desktop {

CompanyChoice CheckChoiceFor(const std::string& directory, ui::Dialogs& dialogs) {
  if (directory.empty()) {
    dialogs.ShowInformation(platform::Th("ยังไม่ได้กำหนดแฟ้มข้อมูล"));
    return {};
  }
  CompanyChoice choice(directory);
  choice.check = true;
  return choice;
}

std::string CheckCountText(const CheckListing& listing) {
  const app::CheckSummary& s = listing.summary;
  std::string text = listing.stopped ? platform::Th("หยุดการตรวจสอบตามที่สั่งแล้ว (ตรวจไป ") +
                                           ui::IntToText(s.filesChecked) + platform::Th(" แฟ้ม): ")
                                     : std::string();
  if (s.damage == 0 && s.notes == 0) {
    return text + platform::Th(listing.stopped ? "ยังไม่พบความเสียหาย" : "โครงสร้างแฟ้มข้อมูลถูกต้อง ไม่พบความเสียหาย");
  }
  text += s.damage == 0 ? platform::Th("ไม่พบความเสียหาย")
                        : platform::Th("พบความเสียหาย ") + ui::IntToText(s.damage) + platform::Th(" รายการ");
  if (s.notes > 0) text += platform::Th(", หมายเหตุ ") + ui::IntToText(s.notes) + platform::Th(" รายการ");
  return text;
}

std::array<std::string, 4> CheckCells(const app::CheckFinding& finding) {
  return {finding.file, std::string(app::CheckKindName(finding.kind)), finding.place,
          (finding.damage ? "" : "note: ") + finding.text};
}

CheckListing ExampleCheckListing(const std::string& directory) {
  CheckListing listing;
  listing.directory = directory;
  listing.findings = {
      {"GLFILE02.IX", app::CheckKind::kKeyOrder, true, "key 1 page 57 item 3",
       "the key text is out of order: \"K100212\" after \"K100305\""},
      {"GLTBUF.DAT", app::CheckKind::kFileLength, true, "file", "221 bytes: a partial record (the record is 222 bytes)"},
      {"ICFILE01.IX", app::CheckKind::kPageLeak, false, "key 2", "3 pages neither in the tree nor free"},
  };
  listing.summary.filesChecked = 46;
  listing.summary.damage = 2;
  listing.summary.notes = 1;
  return listing;
}

std::string CheckClipboardText(const CheckListing& listing, const char* lineEnd) {
  std::string text;
  for (const app::CheckFinding& finding : listing.findings) text += app::CheckLine(finding) + lineEnd;
  return text;
}

}  // namespace kv::desktop
