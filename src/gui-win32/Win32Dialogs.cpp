#include "gui-win32/Win32Dialogs.h"

#include <windows.h>

#include "gui-win32/CheckFindingsDialog.h"
#include "gui-win32/DialogWindow.h"
#include "gui-win32/FixRecovDialog.h"
#include "gui-win32/MessageDialogs.h"
#include "gui-win32/WinText.h"

namespace kv::gui {
namespace {

// The catalogue's lines without their carriage returns and the blank lines around them.
std::wstring HelpText(const std::string& cp874) {
  std::wstring text = FromCp874(cp874);
  std::wstring out;
  for (wchar_t c : text) {
    if (c != L'\r') out += c;
  }
  const size_t first = out.find_first_not_of(L" \t\n");
  if (first == std::wstring::npos) return {};
  const size_t last = out.find_last_not_of(L" \t\n");
  return out.substr(first, last - first + 1);
}

}  // namespace

void Win32Dialogs::ShowMessage(int kind, const std::string& text, const std::string& reportPath) {
  DisplayMessageDialog dialog(kind, FromCp874(text), ::GetActiveWindow());
  if (const std::string help = HelpFor(kind); !help.empty()) dialog.SetDetails(HelpText(help));
  if (!reportPath.empty()) dialog.SetReportButton([this, reportPath] { desktop::OpenReport(*this, reportPath); });
  dialog.Run();
}

void Win32Dialogs::ShowCheckFindings(const desktop::CheckListing& listing) {
  CheckFindingsDialog dialog(listing, ::GetActiveWindow());
  dialog.Run();
}

bool Win32Dialogs::AskQuestion(ui::Question question, int questionKind, const std::string& text) {
  HWND owner = ::GetActiveWindow();
  if (question == ui::Question::kTechnicalSupport) {
    AskForYesNoTechnicalSupportDialog dialog(questionKind, FromCp874(text), owner);
    return dialog.Run();
  }
  AskForYesNoDialog dialog(questionKind, FromCp874(text), owner);
  return dialog.Run();
}

bool Win32Dialogs::AskRecovery(const ui::RecoveryQuestion& question) {
  FixRecovDialog dialog(FromCp874(question.fileName), FromCp874(question.tempSize), FromCp874(question.normalSize),
                        ::GetActiveWindow());
  return dialog.Run();
}

void Win32Dialogs::HandlePendingEvents() { DialogWindow::PumpPending(); }

void Win32Dialogs::QuitEventLoop() { ::PostQuitMessage(0); }

}  // namespace kv::gui
