#include "gui-win32/MessageDialogs.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "gui-win32/PlaceDialog.h"
#include "gui-win32/WinText.h"
#include "desktop/DesktopRules.h"

namespace kv::gui {

const SmallDialogGeometry kMessageGeometry = {88, 88, 198, 60, 53};
const SmallDialogGeometry kQuestionGeometry = {92, 88, 200, 64, 57};
const SmallDialogGeometry kTechnicalSupportGeometry = {116, 138, 200, 64, 58};

namespace {

constexpr int kIconSize = 32;
constexpr int kIconLeft = 12;
constexpr int kTop = 12;
constexpr int kDetailsWidth = 520;  // client width of a dialog with a details area
constexpr int kDetailsMargin = 12;
constexpr int kDetailsGap = 12;
constexpr int kIconId = 10;
constexpr int kTextId = 11;
constexpr int kDetailsId = 12;
constexpr int kWarningId = 13;

// A fixed dialog frame with a title, no resizing, no minimise or maximise box; the close
// box comes with the system menu.
DWORD DialogStyle(bool closeBox) {
  DWORD style = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_NOIDLEMSG;
  if (closeBox) style |= WS_SYSMENU;
  return style;
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(L'\n', start);
    std::wstring line = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    lines.push_back(line);
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  return lines;
}

std::wstring WithCrLf(const std::wstring& text) {
  std::wstring out;
  for (const std::wstring& line : SplitLines(text)) {
    if (!out.empty()) out += L"\r\n";
    out += line;
  }
  return out;
}

bool CtrlDown() { return ::GetKeyState(VK_CONTROL) < 0; }

}  // namespace

HICON StandardIcon(IconKind kind, int size) {
  const wchar_t* id = IDI_INFORMATION;
  switch (kind) {
    case IconKind::kError: id = IDI_ERROR; break;
    case IconKind::kWarning: id = IDI_WARNING; break;
    case IconKind::kQuestion: id = IDI_QUESTION; break;
    default: break;
  }
  // Drawn for the size (crisp at 150 % and 200 %), not a 32-pixel picture stretched;
  // the function comes with the common controls 6, looked up where they are loaded.
  using LoadScaled = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
  static const auto loadScaled = reinterpret_cast<LoadScaled>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"comctl32.dll"), "LoadIconWithScaleDown")));
  HICON icon = nullptr;
  if (!loadScaled || FAILED(loadScaled(nullptr, id, size, size, &icon)) || !icon) icon = ::LoadIconW(nullptr, id);
  return icon;
}

bool ClickYesNoByKey(const MSG& msg, HWND window, int yesId, int noId) {
  if (CtrlDown()) return false;
  desktop::YesNoAnswer answer = desktop::YesNoAnswer::kNone;
  if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) {
    // The key's position first: the Thai layout gives other letters on these keys.
    answer = desktop::YesNoOfScanCode(static_cast<unsigned>((msg.lParam >> 16) & 0xFF));
    if (answer == desktop::YesNoAnswer::kNone && msg.wParam == 'Y') answer = desktop::YesNoAnswer::kYes;
    if (answer == desktop::YesNoAnswer::kNone && msg.wParam == 'N') answer = desktop::YesNoAnswer::kNo;
  } else if (msg.message == WM_CHAR || msg.message == WM_SYSCHAR) {
    answer = desktop::YesNoOfCharacter(static_cast<char32_t>(msg.wParam));
  }
  if (answer == desktop::YesNoAnswer::kNone) return false;
  HWND button = ::GetDlgItem(window, answer == desktop::YesNoAnswer::kYes ? yesId : noId);
  if (!button || !::IsWindowEnabled(button)) return false;
  ::SendMessageW(button, BM_CLICK, 0, 0);
  return true;
}

SmallDialog::SmallDialog(const SmallDialogGeometry& geometry, const std::wstring& title, const std::wstring& text,
                         HWND owner, bool closeBox)
    : geometry_(geometry), fullText_(text) {
  Create(owner, title, DialogStyle(closeBox));
  icon_ = AddControl(L"STATIC", L"", SS_ICON | SS_CENTERIMAGE, kIconLeft, kTop, kIconSize, kIconSize, kIconId);
  text_ = AddControl(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, geometry_.textLeft, kTop, 10, 10, kTextId);
}

void SmallDialog::SetIcon(IconKind kind) {
  iconKind_ = kind;
  ::SendMessageW(icon_, STM_SETICON, reinterpret_cast<WPARAM>(StandardIcon(kind, S(kIconSize))), 0);
  Place(icon_, S(kIconLeft), S(kTop), S(kIconSize), S(kIconSize));
}

HWND SmallDialog::AddButton(const std::wstring& caption, int id) {
  return AddControl(L"BUTTON", caption, BS_PUSHBUTTON | WS_TABSTOP, 0, 0, kButtonWidth, kButtonHeight, id);
}

void SmallDialog::LayOut() {
  RECT client{};
  RECT outer{};
  ::GetClientRect(hwnd(), &client);
  ::GetWindowRect(hwnd(), &outer);
  const int frameWidth = std::max(0, static_cast<int>((outer.right - outer.left) - client.right));
  HFONT font = Font();
  std::vector<std::wstring> lines = SplitLines(fullText_);
  int textWidth = 0;
  int lineHeight = TextExtent(hwnd(), font, L"Ag").cy;
  for (const std::wstring& line : lines) textWidth = std::max<int>(textWidth, TextExtent(hwnd(), font, line).cx);
  int clientWidth = std::max(textWidth + S(geometry_.extraWidth), S(geometry_.minOuterWidth) - frameWidth);

  // Nothing else limits the width; a text wider than the screen gets a dialog as wide as
  // the screen, and the text ends in an ellipsis there.
  const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
  if (screenWidth > 0 && clientWidth + frameWidth > screenWidth) {
    clientWidth = std::max(screenWidth - frameWidth, S(geometry_.minOuterWidth) - frameWidth);
    textWidth = clientWidth - S(geometry_.extraWidth);
  }
  extraHeight_ = static_cast<int>(lines.size() - 1) * lineHeight;
  std::wstring shown;
  for (const std::wstring& line : lines) shown += (shown.empty() ? L"" : L"\r\n") + line;
  ::SetWindowTextW(text_, shown.c_str());
  ::SetWindowLongPtrW(text_, GWL_STYLE, (::GetWindowLongPtrW(text_, GWL_STYLE) & ~SS_TYPEMASK) | SS_LEFT |
                                            (lines.size() == 1 ? SS_ENDELLIPSIS : 0));
  Place(text_, S(geometry_.textLeft), S(kTop), textWidth + 1, lineHeight * static_cast<int>(lines.size()));
  if (details_) {
    // Wide enough for a catalogue line, never wider than the screen.
    int wanted = std::max(clientWidth, S(kDetailsWidth));
    if (screenWidth > 0) wanted = std::min(wanted, std::max(clientWidth, screenWidth - frameWidth));
    clientWidth = wanted;
    const int count = static_cast<int>(::SendMessageW(details_, EM_GETLINECOUNT, 0, 0));
    const int shownLines = std::clamp(count, 1, kDetailsLines);
    const int height = shownLines * lineHeight + ::GetSystemMetrics(SM_CYHSCROLL) + S(8);
    Place(details_, S(kDetailsMargin), S(geometry_.buttonTop) + extraHeight_ - S(kDetailsGap / 2),
          clientWidth - 2 * S(kDetailsMargin), height);
    extraHeight_ += height + S(kDetailsGap);
  }
  SetDeviceClientSize(clientWidth, S(geometry_.clientHeight) + extraHeight_);
  PlaceButtons(clientWidth);
}

void SmallDialog::SetDetails(const std::wstring& details) {
  if (details.empty()) {
    if (details_) ::DestroyWindow(details_);
    details_ = nullptr;
  } else {
    if (!details_) {
      details_ = AddControl(L"EDIT", L"",
                            ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL | WS_HSCROLL |
                                WS_TABSTOP,
                            0, 0, 10, 10, kDetailsId, nullptr, WS_EX_CLIENTEDGE);
    }
    ::SetWindowTextW(details_, WithCrLf(details).c_str());
  }
  LayOut();
}

void SmallDialog::OnShow() {
  LayOut();
  PlaceDialog(*this);
  SetDefaultButton(FirstFocus());
  FocusControl(Item(FirstFocus()));
}

bool SmallDialog::PreTranslate(MSG& msg) {
  // Enter presses the focused button, whichever is the default.
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN) return ClickFocusedButton();
  return false;
}

bool SmallDialog::Run() {
  const int result = RunModal();
  return result == IDYES || result == IDOK;
}

DisplayMessageDialog::DisplayMessageDialog(int kind, const std::wstring& text, HWND owner)
    : SmallDialog(kMessageGeometry,
                  kind == 2   ? L"Error"
                  : kind == 3 ? L"Warning"
                              : L"Information",
                  text, owner, false) {
  SetIcon(kind == 2 ? IconKind::kError : kind == 3 ? IconKind::kWarning : IconKind::kInformation);
  AddButton(L"OK", IDOK);
  SetDefaultButton(IDOK);
  LayOut();
}

void DisplayMessageDialog::PlaceButtons(int clientWidth) {
  Place(okButton(), (clientWidth - S(kButtonWidth)) / 2, S(kMessageGeometry.buttonTop) + extraHeight(),
        S(kButtonWidth), S(kButtonHeight));
}

void DisplayMessageDialog::OnCommand(int id, int /*code*/, HWND /*control*/) {
  if (id == IDOK) EndModal(IDOK);
}

AskForYesNoDialog::AskForYesNoDialog(int questionKind, const std::wstring& text, HWND owner)
    : AskForYesNoDialog(questionKind, L"Confirm", text, owner, kQuestionGeometry) {
  LayOut();
}

AskForYesNoDialog::AskForYesNoDialog(int questionKind, const std::wstring& title, const std::wstring& text,
                                     HWND owner, const SmallDialogGeometry& geometry)
    : SmallDialog(geometry, title, text, owner, true), yesDefault_(questionKind == 1) {
  SetIcon(yesDefault_ ? IconKind::kQuestion : IconKind::kWarning);
  AddButton(L"&Yes", IDYES);
  AddButton(L"&No", IDNO);
  SetDefaultButton(FirstFocus());
}

void AskForYesNoDialog::PlaceButtons(int clientWidth) {
  const int left = (clientWidth - S(2 * kButtonWidth + kButtonGap)) / 2;
  const int top = S(measures().buttonTop) + extraHeight();
  Place(yesButton(), left, top, S(kButtonWidth), S(kButtonHeight));
  Place(noButton(), left + S(kButtonWidth + kButtonGap), top, S(kButtonWidth), S(kButtonHeight));
}

void AskForYesNoDialog::OnCommand(int id, int /*code*/, HWND /*control*/) {
  if (id == IDYES || id == IDNO) EndModal(id);
}

bool AskForYesNoDialog::PreTranslate(MSG& msg) {
  if (ClickYesNoByKey(msg, hwnd(), IDYES, IDNO)) return true;
  return SmallDialog::PreTranslate(msg);
}

AskForYesNoTechnicalSupportDialog::AskForYesNoTechnicalSupportDialog(int questionKind, const std::wstring& text,
                                                                     HWND owner)
    : AskForYesNoDialog(questionKind, L"Caution!", text, owner, kTechnicalSupportGeometry) {
  warning_ = AddControl(L"STATIC", L"*** WARNING: FOR TECHNICAL SUPPORT ONLY! ***", SS_CENTER | SS_NOPREFIX, 0, 93,
                        320, 14, kWarningId, Font(12, true));
  MakeRed(warning_);
  LayOut();
}

void AskForYesNoTechnicalSupportDialog::PlaceButtons(int clientWidth) {
  AskForYesNoDialog::PlaceButtons(clientWidth);
  if (!warning_) return;
  // 320 × 14 in Tahoma; a stand-in font that draws the line wider or taller gets the
  // room it needs, within the dialog, so the warning is never cut.
  const SIZE text = TextExtent(hwnd(), Font(12, true), L"*** WARNING: FOR TECHNICAL SUPPORT ONLY! ***");
  const int width = std::min<int>(clientWidth, std::max<int>(S(320), text.cx + S(2)));
  const int height = std::max<int>(S(14), text.cy);
  Place(warning_, (clientWidth - width) / 2, S(93) + extraHeight(), width, height);
}

}  // namespace kv::gui
