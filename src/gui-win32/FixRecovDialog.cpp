#include "gui-win32/FixRecovDialog.h"

#include <algorithm>
#include <iterator>

#include "gui-win32/MessageDialogs.h"
#include "gui-win32/PlaceDialog.h"
#include "gui-win32/WinText.h"
#include "desktop/RecoveryWindow.h"

namespace kv::gui {

using W = desktop::RecoveryWindow;

std::wstring FixRecovDialog::ParagraphText() { return FromUtf8(W::kParagraph); }

FixRecovDialog::FixRecovDialog(const std::wstring& fileName, const std::wstring& tempSize,
                               const std::wstring& normalSize, HWND owner) {
  Create(owner, L"Attention!", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
  const std::wstring paragraph = ParagraphText();
  paragraph_ = AddControl(L"STATIC", paragraph, SS_LEFT | SS_NOPREFIX, W::kCaptionLeft, 20, W::kParagraphWidth,
                          W::kParagraphHeight, 10);

  // The layout is measured for Tahoma. A stand-in Thai font with taller lines would cut
  // the explanation off; the window then grows by what is missing and everything below
  // the paragraph moves down with it, so the whole text stays readable.
  int grow = 0;
  if (HDC dc = ::GetDC(hwnd())) {
    HGDIOBJ old = ::SelectObject(dc, Font());
    RECT rect{0, 0, S(W::kParagraphWidth), 0};
    ::DrawTextW(dc, paragraph.c_str(), static_cast<int>(paragraph.size()), &rect,
                DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    ::SelectObject(dc, old);
    ::ReleaseDC(hwnd(), dc);
    grow = std::max(0, static_cast<int>(rect.bottom) - S(W::kParagraphHeight));
  }
  const int g = MulDiv(grow, 96, static_cast<int>(dpi()));  // back to layout pixels
  if (g > 0) Place(paragraph_, S(W::kCaptionLeft), S(20), S(W::kParagraphWidth), S(W::kParagraphHeight + g));
  SetClientSize(W::kClientWidth, W::kClientHeight + g);

  auto label = [&](const std::wstring& text, int left, int top, bool bold) {
    AddControl(L"STATIC", text, SS_LEFT | SS_NOPREFIX, left, top + g, W::kClientWidth - left - 8, 20, 0,
               Font(15, bold));
  };
  const std::wstring* values[] = {&fileName, &tempSize, &normalSize};
  for (size_t i = 0; i < std::size(W::kRows); ++i) {
    label(Caption(W::kRows[i].caption), W::kCaptionLeft, W::kRows[i].top, false);
    if (i < std::size(values)) label(*values[i], W::kValueLeft, W::kRows[i].top, true);
  }

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
