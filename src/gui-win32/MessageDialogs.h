// The three small modal dialogs through which every message and yes/no question
// reaches the user: a message box with OK, a question, and the question with the
// technical-support warning line. Each is built for one call, sized to its line of text
// (or lines, where the text has line feeds), placed by PlaceDialog when it shows, run
// modally and destroyed.
#pragma once

#include <functional>
#include <string>

#include "gui-win32/DialogWindow.h"

namespace kv::gui {

enum class IconKind { kNone, kInformation, kError, kWarning, kQuestion };

// The accelerator letters of a yes/no question work alone too (and with Alt), by the
// key's position or its letter, so they work with the Thai layout active: true when
// `msg` was Y (yesId clicked) or N (noId clicked) for `window`.
bool ClickYesNoByKey(const MSG& msg, HWND window, int yesId, int noId);
// An access key (`letter`, upper case) alone or with Alt, by its position or its letter in
// any layout, clicks the button `id` of `window`: true when it did.
bool ClickByAccessKey(const MSG& msg, HWND window, char letter, int id);

class SmallDialog : public DialogWindow {
 public:
  IconKind iconKind() const { return iconKind_; }
  HWND textLabel() const { return text_; }
  const std::wstring& fullText() const { return fullText_; }

  // A read-only details area between the text and the buttons (the error catalogue's
  // explanation of a fatal error): the dialog grows to hold it, scrolling past
  // kDetailsLines lines. Empty removes it.
  void SetDetails(const std::wstring& details);
  HWND detailsArea() const { return details_; }
  static constexpr int kDetailsLines = desktop::kSmallDialogDetailsLines;

  // Sets the client width for the text and the screen and places the controls. Runs
  // when the dialog shows; public so that tools can lay a dialog out unshown.
  void LayOut();
  // Shows the dialog modally; true when it ended with Yes (or OK).
  bool Run();

 protected:
  SmallDialog(const desktop::SmallDialogGeometry& geometry, const std::wstring& title, const std::wstring& text,
              HWND owner, bool closeBox);

  void SetIcon(IconKind kind);
  // The dialog's layout as LayOut last made it (device pixels).
  const desktop::SmallDialogLayout& layout() const { return layout_; }
  HWND AddButton(const std::wstring& caption, int id);
  // What a dialog kind adds to the layout: its buttons, the warning line.
  virtual void PlaceExtras(desktop::SmallDialogInput& /*in*/) const {}
  // Places the buttons (and any other bottom-row control) where the layout says.
  virtual void PlaceButtons() = 0;
  virtual int FirstFocus() const = 0;
  void OnShow() override;
  bool PreTranslate(MSG& msg) override;

 private:
  desktop::SmallDialogGeometry geometry_;
  std::wstring fullText_;
  IconKind iconKind_ = IconKind::kNone;
  desktop::SmallDialogLayout layout_;
  HWND icon_ = nullptr;
  HWND text_ = nullptr;
  HWND details_ = nullptr;
};

// DisplayMessage: kind 1 "Information", 2 "Error", 3 "Warning" (any other kind is shown
// as information). No close box; OK, Enter and Esc close it.
class DisplayMessageDialog : public SmallDialog {
 public:
  DisplayMessageDialog(int kind, const std::wstring& text, HWND owner = nullptr);
  HWND okButton() const { return Item(IDOK); }
  // A second button, "เปิดรายงาน (&O)", beside OK: `open` runs when it is pressed (also by
  // Alt+O or O, in any keyboard layout); the dialog stays open.
  void SetReportButton(std::function<void()> open);
  static constexpr int kReportId = 20;
  HWND reportButton() const { return Item(kReportId); }

 protected:
  void PlaceExtras(desktop::SmallDialogInput& in) const override;
  void PlaceButtons() override;
  int FirstFocus() const override { return IDOK; }
  void OnCommand(int id, int code, HWND control) override;
  bool PreTranslate(MSG& msg) override;

 private:
  std::function<void()> openReport_;
  bool opening_ = false;
};

// AskForYesNo: "Confirm". Kind 1 shows the question icon with "&Yes" default and
// focused; kind 2 (and any other) the warning icon with "&No". Only "&Yes" answers Yes;
// "&No", Esc and the close box answer No. Y and N choose the buttons, with or without Alt.
class AskForYesNoDialog : public SmallDialog {
 public:
  AskForYesNoDialog(int questionKind, const std::wstring& text, HWND owner = nullptr);
  HWND yesButton() const { return Item(IDYES); }
  HWND noButton() const { return Item(IDNO); }

 protected:
  AskForYesNoDialog(int questionKind, const std::wstring& title, const std::wstring& text, HWND owner,
                    const desktop::SmallDialogGeometry& geometry);
  void PlaceExtras(desktop::SmallDialogInput& in) const override;
  void PlaceButtons() override;
  int FirstFocus() const override { return yesDefault_ ? IDYES : IDNO; }
  void OnCommand(int id, int code, HWND control) override;
  bool PreTranslate(MSG& msg) override;

 private:
  bool yesDefault_;
};

// AskForYesNoTechnicalSupport: "Caution!", the question with the red warning line
// "*** WARNING: FOR TECHNICAL SUPPORT ONLY! ***" under the buttons.
class AskForYesNoTechnicalSupportDialog : public AskForYesNoDialog {
 public:
  AskForYesNoTechnicalSupportDialog(int questionKind, const std::wstring& text, HWND owner = nullptr);
  HWND warningLabel() const { return warning_; }

 protected:
  void PlaceExtras(desktop::SmallDialogInput& in) const override;
  void PlaceButtons() override;

 private:
  HWND warning_ = nullptr;
};

// A standard icon at `size` device pixels, drawn for that size where the system can.
HICON StandardIcon(IconKind kind, int size);

}  // namespace kv::gui
