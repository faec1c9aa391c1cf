#include "gui-win32/MessageDialogs.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "gui-win32/PlaceDialog.h"
#include "gui-win32/WinText.h"
#include "desktop/DesktopRules.h"
#include "desktop/Reports.h"
#include "desktop/ElideMiddle.h"

namespace kv::gui {

namespace {

constexpr int kIconSize = 32;
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

namespace {

// Whether a key message is the access key `letter`: by the key's position (the Thai
// layout gives other letters on these keys), its virtual key or its character.
bool IsAccessKey(const MSG& msg, char letter) {
  if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) {
    if ((msg.lParam & (1 << 30)) != 0) return false;  // the key held down: once is enough
    return desktop::AccessLetterOfScanCode(static_cast<unsigned>((msg.lParam >> 16) & 0xFF)) == letter ||
           msg.wParam == static_cast<WPARAM>(letter);
  }
  if (msg.message == WM_CHAR || msg.message == WM_SYSCHAR) {
    return desktop::AccessLetterOfCharacter(static_cast<char32_t>(msg.wParam)) == letter;
  }
  return false;
}

}  // namespace

bool ClickByAccessKey(const MSG& msg, HWND window, char letter, int id) {
  if (CtrlDown() || !IsAccessKey(msg, letter)) return false;
  HWND button = ::GetDlgItem(window, id);
  if (!button || !::IsWindowEnabled(button)) return false;
  ::SendMessageW(button, BM_CLICK, 0, 0);
  return true;
}

bool ClickYesNoByKey(const MSG& msg, HWND window, int yesId, int noId) {
  return ClickByAccessKey(msg, window, 'Y', yesId) || ClickByAccessKey(msg, window, 'N', noId);
}

SmallDialog::SmallDialog(const desktop::SmallDialogGeometry& geometry, const std::wstring& title,
                         const std::wstring& text, HWND owner, bool closeBox)
    : geometry_(geometry), fullText_(text) {
  Create(owner, title, DialogStyle(closeBox));
  const desktop::SmallDialogLayout unscaled = desktop::LayOutSmallDialog({.geometry = geometry_});
  icon_ = AddControl(L"STATIC", L"", SS_ICON | SS_CENTERIMAGE, unscaled.icon.x, unscaled.icon.y, unscaled.icon.width,
                     unscaled.icon.height, kIconId);
  text_ = AddControl(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, unscaled.text.x, unscaled.text.y, 10, 10, kTextId);
}

void SmallDialog::SetIcon(IconKind kind) {
  iconKind_ = kind;
  ::SendMessageW(icon_, STM_SETICON, reinterpret_cast<WPARAM>(StandardIcon(kind, S(kIconSize))), 0);
  Place(icon_, desktop::LayOutSmallDialog({.geometry = geometry_, .dpi = static_cast<int>(dpi())}).icon);
}

HWND SmallDialog::AddButton(const std::wstring& caption, int id) {
  return AddControl(L"BUTTON", caption, BS_PUSHBUTTON | WS_TABSTOP, 0, 0, desktop::kSmallDialogButtonWidth,
                    desktop::kSmallDialogButtonHeight, id);
}

void SmallDialog::LayOut() {
  RECT client{};
  RECT outer{};
  ::GetClientRect(hwnd(), &client);
  ::GetWindowRect(hwnd(), &outer);
  desktop::SmallDialogInput in{.geometry = geometry_, .dpi = static_cast<int>(dpi())};
  in.frameWidth = std::max(0, static_cast<int>((outer.right - outer.left) - client.right));
  in.screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
  HFONT font = Font();
  std::vector<std::wstring> lines = SplitLines(fullText_);
  const int lineHeight = TextExtent(hwnd(), font, L"Ag").cy;
  for (const std::wstring& line : lines) in.textWidth = std::max<int>(in.textWidth, TextExtent(hwnd(), font, line).cx);
  in.lineCount = static_cast<int>(lines.size());
  in.firstLineHeight = lineHeight;
  in.lineSpacing = lineHeight;
  in.textSlack = 1;  // a static control wants a pixel beyond its text's extent
  if (details_) {
    const int count = static_cast<int>(::SendMessageW(details_, EM_GETLINECOUNT, 0, 0));
    const int shownLines = std::clamp(count, 1, kDetailsLines);
    in.detailsHeight = shownLines * lineHeight + ::GetSystemMetrics(SM_CYHSCROLL) + S(8);
  }
  PlaceExtras(in);
  layout_ = desktop::LayOutSmallDialog(in);
  std::wstring shown;
  for (std::wstring& line : lines) {
    if (layout_.elide) {
      line = desktop::ElideMiddle(line, layout_.elideWidth, [&](const std::wstring& cut) {
        return static_cast<int>(TextExtent(hwnd(), font, cut).cx);
      });
    }
    shown += (shown.empty() ? L"" : L"\r\n") + line;
  }
  ::SetWindowTextW(text_, shown.c_str());
  Place(text_, layout_.text);
  if (details_) Place(details_, layout_.details);
  SetDeviceClientSize(layout_.clientWidth, layout_.clientHeight);
  PlaceButtons();
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
    : SmallDialog(desktop::kMessageGeometry,
                  kind == 2   ? L"Error"
                  : kind == 3 ? L"Warning"
                              : L"Information",
                  text, owner, false) {
  SetIcon(kind == 2 ? IconKind::kError : kind == 3 ? IconKind::kWarning : IconKind::kInformation);
  AddButton(L"OK", IDOK);
  SetDefaultButton(IDOK);
  LayOut();
}

void DisplayMessageDialog::SetReportButton(std::function<void()> open) {
  openReport_ = std::move(open);
  if (!reportButton()) AddButton(Caption(desktop::kOpenReportCaption), kReportId);
  LayOut();
}

void DisplayMessageDialog::PlaceExtras(desktop::SmallDialogInput& in) const {
  if (!reportButton()) return;
  in.buttonCount = 2;
  std::wstring caption = Caption(desktop::kOpenReportCaption);
  std::erase(caption, L'&');
  in.secondButtonWidth = static_cast<int>(TextExtent(hwnd(), Font(), caption).cx) + S(16);
}

void DisplayMessageDialog::PlaceButtons() {
  Place(okButton(), layout().buttons[0]);
  if (HWND report = reportButton()) Place(report, layout().buttons[1]);
}

void DisplayMessageDialog::OnCommand(int id, int /*code*/, HWND /*control*/) {
  if (id == IDOK) EndModal(IDOK);
  // The viewer's start may handle window messages: a second press meanwhile is not a
  // second viewer.
  if (id == kReportId && openReport_ && !opening_) {
    opening_ = true;
    openReport_();
    opening_ = false;
  }
}

bool DisplayMessageDialog::PreTranslate(MSG& msg) {
  if (reportButton() && ClickByAccessKey(msg, hwnd(), 'O', kReportId)) return true;
  return SmallDialog::PreTranslate(msg);
}

AskForYesNoDialog::AskForYesNoDialog(int questionKind, const std::wstring& text, HWND owner)
    : AskForYesNoDialog(questionKind, L"Confirm", text, owner, desktop::kQuestionGeometry) {
  LayOut();
}

AskForYesNoDialog::AskForYesNoDialog(int questionKind, const std::wstring& title, const std::wstring& text,
                                     HWND owner, const desktop::SmallDialogGeometry& geometry)
    : SmallDialog(geometry, title, text, owner, true), yesDefault_(questionKind == 1) {
  SetIcon(yesDefault_ ? IconKind::kQuestion : IconKind::kWarning);
  AddButton(L"&Yes", IDYES);
  AddButton(L"&No", IDNO);
  SetDefaultButton(FirstFocus());
}

void AskForYesNoDialog::PlaceExtras(desktop::SmallDialogInput& in) const { in.buttonCount = 2; }

void AskForYesNoDialog::PlaceButtons() {
  Place(yesButton(), layout().buttons[0]);
  Place(noButton(), layout().buttons[1]);
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
    : AskForYesNoDialog(questionKind, L"Caution!", text, owner, desktop::kTechnicalSupportGeometry) {
  warning_ = AddControl(L"STATIC", Caption(desktop::kTechnicalSupportWarning), SS_CENTER | SS_NOPREFIX, 0, 93,
                        desktop::kTechnicalSupportWarningWidth, desktop::kTechnicalSupportWarningHeight, kWarningId,
                        Font(12, true));
  MakeRed(warning_);
  LayOut();
}

void AskForYesNoTechnicalSupportDialog::PlaceExtras(desktop::SmallDialogInput& in) const {
  AskForYesNoDialog::PlaceExtras(in);
  if (!warning_) return;
  // 320 × 14 in Tahoma; a stand-in font that draws the line wider or taller gets the
  // room it needs, within the dialog, so the warning is never cut.
  const SIZE text = TextExtent(hwnd(), Font(12, true), Caption(desktop::kTechnicalSupportWarning));
  in.warningWidth = std::max<int>(S(desktop::kTechnicalSupportWarningWidth), text.cx + S(2));
  in.warningHeight = std::max<int>(S(desktop::kTechnicalSupportWarningHeight), text.cy);
  in.warningWithinDialog = true;
}

void AskForYesNoTechnicalSupportDialog::PlaceButtons() {
  AskForYesNoDialog::PlaceButtons();
  if (warning_) Place(warning_, layout().warning);
}

}  // namespace kv::gui
