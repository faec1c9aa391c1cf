// The three small modal dialogs through which every message and yes/no question
// reaches the user: a message box with OK, a question, and the question with the
// technical-support warning line. Each is built for one call, sized to its line of text
// (or lines, where the text has line feeds), placed by PlaceDialog when it shows, run modally and destroyed.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

#include "desktop/Layouts.h"

class QAbstractButton;
class QKeyEvent;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace kv::gui {

// The accelerator letters of a yes/no question work alone too (and with Alt), as in
// the suite's dialogs: Y clicks `yes`, N clicks `no`. True when the key was one of them.
bool ClickYesNoByLetter(QKeyEvent* event, QAbstractButton* yes, QAbstractButton* no);
// The Latin letter of a key press whatever the layout ('A'..'Z', by the letter, the
// Thai letter on its key, or the key's position); 0 for none.
char AccessLetterOf(const QKeyEvent* event);
// An access key alone or with Alt (`letter` upper case) clicks `button`.
bool ClickByAccessKey(QKeyEvent* event, char letter, QAbstractButton* button);

enum class IconKind { kNone, kInformation, kError, kWarning, kQuestion };

class SmallDialog : public QDialog {
  Q_OBJECT

 public:
  IconKind iconKind() const { return iconKind_; }
  QLabel* iconLabel() const { return icon_; }
  QLabel* textLabel() const { return text_; }
  // The text as given (the label may show it shortened when it is wider than the screen).
  const QString& fullText() const { return fullText_; }

  // A read-only details area between the text and the buttons (the error catalogue's
  // explanation of a fatal error): the dialog grows to hold it, scrolling past
  // kDetailsLines lines. Empty removes it.
  void SetDetails(const QString& details);
  QPlainTextEdit* detailsArea() const { return details_; }
  static constexpr int kDetailsLines = desktop::kSmallDialogDetailsLines;

  // Sets the client width for the current frame and screen and places the controls.
  // Runs when the dialog shows; public so that tools can lay a dialog out unshown.
  void LayOut();

 protected:
  SmallDialog(const desktop::SmallDialogGeometry& geometry, const QString& text, QWidget* parent);

  void SetIcon(IconKind kind);
  // The dialog's layout as LayOut last made it.
  const desktop::SmallDialogLayout& layout() const { return layout_; }
  // What a dialog kind adds to the layout: its buttons, the warning line.
  virtual void PlaceExtras(desktop::SmallDialogInput& /*in*/) const {}
  // Places the buttons (and any other bottom-row control) where the layout says.
  virtual void PlaceButtons() = 0;
  // Where the keyboard focus goes once the dialog is placed.
  virtual void FocusFirst() = 0;

  void showEvent(QShowEvent* event) override;

 private:
  desktop::SmallDialogGeometry geometry_;
  QString fullText_;
  IconKind iconKind_ = IconKind::kNone;
  desktop::SmallDialogLayout layout_;
  QLabel* icon_;
  QLabel* text_;
  QPlainTextEdit* details_ = nullptr;
};

// DisplayMessage: kind 1 "Information", 2 "Error", 3 "Warning" (any other kind is shown
// as information). No close box; OK, Enter and Esc close it.
class DisplayMessageDialog : public SmallDialog {
  Q_OBJECT

 public:
  DisplayMessageDialog(int kind, const QString& text, QWidget* parent = nullptr);
  QPushButton* okButton() const { return ok_; }
  // A second button, "เปิดรายงาน (&O)", beside OK: `open` runs when it is pressed (also by
  // Alt+O or O, in any keyboard layout); the dialog stays open.
  void SetReportButton(std::function<void()> open);
  QPushButton* reportButton() const { return report_; }

 protected:
  void PlaceExtras(desktop::SmallDialogInput& in) const override;
  void PlaceButtons() override;
  void FocusFirst() override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QPushButton* ok_;
  QPushButton* report_ = nullptr;
  std::function<void()> openReport_;
};

// AskForYesNo: "Confirm". Kind 1 shows the question icon with "&Yes" default and
// focused; kind 2 (and any other) the warning icon with "&No". Only "&Yes" answers Yes;
// "&No", Esc and the close box answer No. Y and N choose the buttons, with or without Alt.
class AskForYesNoDialog : public SmallDialog {
  Q_OBJECT

 public:
  AskForYesNoDialog(int questionKind, const QString& text, QWidget* parent = nullptr);
  QPushButton* yesButton() const { return yes_; }
  QPushButton* noButton() const { return no_; }
  bool answeredYes() const { return result() == QDialog::Accepted; }

 protected:
  AskForYesNoDialog(int questionKind, const QString& text, QWidget* parent,
                    const desktop::SmallDialogGeometry& geometry);
  void PlaceExtras(desktop::SmallDialogInput& in) const override;
  void PlaceButtons() override;
  void FocusFirst() override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool yesDefault_;
  QPushButton* yes_;
  QPushButton* no_;
};

// AskForYesNoTechnicalSupport: "Caution!", the question with the red warning line
// "*** WARNING: FOR TECHNICAL SUPPORT ONLY! ***" under the buttons.
class AskForYesNoTechnicalSupportDialog : public AskForYesNoDialog {
  Q_OBJECT

 public:
  AskForYesNoTechnicalSupportDialog(int questionKind, const QString& text, QWidget* parent = nullptr);
  QLabel* warningLabel() const { return warning_; }

 protected:
  void PlaceExtras(desktop::SmallDialogInput& in) const override;
  void PlaceButtons() override;

 private:
  QLabel* warning_ = nullptr;
};

}  // namespace kv::gui
