#include "gui-win32/FixRecovDialog.h"

#include <algorithm>

#include "gui-win32/MessageDialogs.h"
#include "gui-win32/PlaceDialog.h"
#include "gui-win32/WinText.h"

namespace kv::gui {
namespace {

constexpr int kClientWidth = 496;
constexpr int kClientHeight = 345;
constexpr int kParagraphWidth = 429;
constexpr int kParagraphHeight = 144;

const char kParagraph[] =
    "เนื่องจาก โปรแกรมได้ตรวจพบแฟ้ม .SAV หรือ .IX~ ซึ่งเป็นแฟ้มชั่วคราวที่ถูกสร้างขึ้นขณะทำการ "
    "\"แก้ไขแฟ้มข้อมูลที่เสียหาย\" ซึ่งจะถูกลบเมื่อการทำงานเสร็จสมบูรณ์ แต่หากการทำงานยังไม่สมบูรณ์ "
    "เช่น ผู้ใช้ยกเลิกเอง, ไฟดับ หรือปิดเครื่องกลางคัน แฟ้มดังกล่าวจะยังคงอยู่ ดังนั้น "
    "จึงขอให้ท่านทำการตรวจสอบขนาดของแฟ้มทั้งสอง ซึ่งถ้าหากแฟ้มใดมีขนาดใหญ่กว่า "
    "ก็น่าจะเป็นแฟ้มข้อมูลจริงของท่าน จึงควรลบแฟ้มข้อมูลที่ไม่ถูกต้องและเปลี่ยนแฟ้ม .SAV หรือ .IX~ "
    "กลับมาใช้งาน (หรือแก้ไข) ตามปกติ (ควรมีการสำรองข้อมูลก่อนทำขั้นตอนนี้)";

}  // namespace

std::wstring FixRecovDialog::ParagraphText() { return FromUtf8(kParagraph); }

FixRecovDialog::FixRecovDialog(const std::wstring& fileName, const std::wstring& tempSize,
                               const std::wstring& normalSize, HWND owner) {
  Create(owner, L"Attention!", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
  const std::wstring paragraph = ParagraphText();
  paragraph_ = AddControl(L"STATIC", paragraph, SS_LEFT | SS_NOPREFIX, 32, 20, kParagraphWidth, kParagraphHeight, 10);

  // The layout is measured for Tahoma. A stand-in Thai font with taller lines would cut
  // the explanation off; the window then grows by what is missing and everything below
  // the paragraph moves down with it, so the whole text stays readable.
  int grow = 0;
  if (HDC dc = ::GetDC(hwnd())) {
    HGDIOBJ old = ::SelectObject(dc, Font());
    RECT rect{0, 0, S(kParagraphWidth), 0};
    ::DrawTextW(dc, paragraph.c_str(), static_cast<int>(paragraph.size()), &rect,
                DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    ::SelectObject(dc, old);
    ::ReleaseDC(hwnd(), dc);
    grow = std::max(0, static_cast<int>(rect.bottom) - S(kParagraphHeight));
  }
  const int g = MulDiv(grow, 96, static_cast<int>(dpi()));  // back to layout pixels
  if (g > 0) Place(paragraph_, S(32), S(20), S(kParagraphWidth), S(kParagraphHeight + g));
  SetClientSize(kClientWidth, kClientHeight + g);

  auto label = [&](const std::wstring& text, int left, int top, bool bold) {
    AddControl(L"STATIC", text, SS_LEFT | SS_NOPREFIX, left, top + g, kClientWidth - left - 8, 20, 0,
               Font(15, bold));
  };
  label(Caption("แฟ้มข้อมูลที่ตรวจพบ:"), 32, 184, false);
  label(fileName, 240, 184, true);
  label(Caption("ขนาดของ .SAV หรือ .IX~:"), 32, 208, false);
  label(tempSize, 240, 208, true);
  label(Caption("ขนาดของ .DAT หรือ .IX:"), 32, 232, false);
  label(normalSize, 240, 232, true);
  label(Caption("ท่านต้องการเปลี่ยนแฟ้มชั่วคราวกลับมาเป็นแฟ้มข้อมูลปกติ?"), 32, 268, false);

  // The two buttons stand centred in a row 150 wide at (173, 310).
  AddControl(L"BUTTON", L"&Yes", BS_DEFPUSHBUTTON | WS_TABSTOP, 179, 310 + g, 66, 25, IDYES);
  AddControl(L"BUTTON", L"&No", BS_PUSHBUTTON | WS_TABSTOP, 179 + 66 + 5, 310 + g, 66, 25, IDNO);
  SetDefaultButton(IDYES);
}

void FixRecovDialog::OnShow() {
  CentreOnScreen(*this);
  FocusControl(yesButton());
}

void FixRecovDialog::OnCommand(int id, int /*code*/, HWND /*control*/) {
  if (id == IDYES || id == IDNO) EndModal(id);
}

void FixRecovDialog::OnCancel() {
  // The close box answers No. Esc never comes here: neither button cancels, so the key
  // is swallowed before the dialog manager sees it.
  EndModal(IDNO);
}

bool FixRecovDialog::PreTranslate(MSG& msg) {
  if ((msg.message == WM_KEYDOWN || msg.message == WM_CHAR) && msg.wParam == VK_ESCAPE) return true;
  if (ClickYesNoByKey(msg, hwnd(), IDYES, IDNO)) return true;
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN) return ClickFocusedButton();
  return false;
}

}  // namespace kv::gui
