#include "gui-qt/MessageDialogs.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QStyle>
#include <algorithm>

#include "gui-qt/PlaceDialog.h"
#include "gui-qt/QtText.h"
#include "desktop/DesktopRules.h"
#include "desktop/Reports.h"

namespace kv::gui {

namespace {

constexpr int kIconSize = 32;

// A dialog frame: a title (and for some a close box), no resizing, no minimise or
// maximise box.
Qt::WindowFlags DialogFlags(bool closeBox) {
  Qt::WindowFlags flags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint;
  if (closeBox) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  return flags;
}

QStyle::StandardPixmap PixmapOf(IconKind kind) {
  switch (kind) {
    case IconKind::kError: return QStyle::SP_MessageBoxCritical;
    case IconKind::kWarning: return QStyle::SP_MessageBoxWarning;
    case IconKind::kQuestion: return QStyle::SP_MessageBoxQuestion;
    default: return QStyle::SP_MessageBoxInformation;
  }
}

int ScreenWidth() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry().width() : 0;
}

QPushButton* MakeButton(const QString& caption, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setFixedSize(desktop::kSmallDialogButtonWidth, desktop::kSmallDialogButtonHeight);
  return button;
}

}  // namespace

SmallDialog::SmallDialog(const desktop::SmallDialogGeometry& geometry, const QString& text, QWidget* parent)
    : QDialog(parent), geometry_(geometry), fullText_(text) {
  setFont(TahomaFont(15));
  setModal(true);
  icon_ = new QLabel(this);
  icon_->setGeometry(ToQRect(desktop::LayOutSmallDialog({.geometry = geometry_}).icon));
  text_ = new QLabel(this);
  text_->setObjectName(QStringLiteral("text"));
  text_->setTextFormat(Qt::PlainText);
  text_->setWordWrap(false);
}

void SmallDialog::SetIcon(IconKind kind) {
  iconKind_ = kind;
  icon_->setPixmap(style()->standardIcon(PixmapOf(kind), nullptr, this).pixmap(QSize(kIconSize, kIconSize), devicePixelRatioF()));
  icon_->setProperty("iconKind", static_cast<int>(kind));
}

void SmallDialog::LayOut() {
  const QFontMetrics metrics(text_->font());
  desktop::SmallDialogInput in{.geometry = geometry_};
  in.frameWidth = std::max(0, OuterSize(this).width() - width());
  in.screenWidth = ScreenWidth();
  // One line as a rule; a text with line feeds (a result that adds what was left) gets
  // a line each, and the dialog grows by their height.
  QStringList lines = fullText_.split(QLatin1Char('\n'));
  for (const QString& line : lines) in.textWidth = std::max(in.textWidth, metrics.horizontalAdvance(line));
  in.lineCount = static_cast<int>(lines.size());
  in.firstLineHeight = metrics.height();
  in.lineSpacing = metrics.lineSpacing();
  if (details_) {
    const QFontMetrics detailMetrics(details_->font());
    const int lineCount = std::clamp(static_cast<int>(details_->document()->blockCount()), 1, kDetailsLines);
    in.detailsHeight = lineCount * detailMetrics.lineSpacing() + 2 * details_->frameWidth() +
                       static_cast<int>(2 * details_->document()->documentMargin()) + detailMetrics.descent() + 2;
  }
  PlaceExtras(in);
  layout_ = desktop::LayOutSmallDialog(in);
  if (layout_.elide) {
    for (QString& line : lines) line = metrics.elidedText(line, Qt::ElideMiddle, layout_.elideWidth);
  }
  text_->setText(lines.join(QLatin1Char('\n')));
  text_->setGeometry(ToQRect(layout_.text));
  if (details_) details_->setGeometry(ToQRect(layout_.details));
  setFixedSize(layout_.clientWidth, layout_.clientHeight);
  PlaceButtons();
}

void SmallDialog::SetDetails(const QString& details) {
  if (details.isEmpty()) {
    delete details_;
    details_ = nullptr;
  } else {
    if (!details_) {
      details_ = new QPlainTextEdit(this);
      details_->setObjectName(QStringLiteral("details"));
      details_->setReadOnly(true);
      details_->setLineWrapMode(QPlainTextEdit::NoWrap);
      details_->setTabChangesFocus(true);  // Tab goes on to the buttons
    }
    details_->setPlainText(details);
  }
  LayOut();
}

void SmallDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  LayOut();
  PlaceDialog(this);
  FocusFirst();
}

DisplayMessageDialog::DisplayMessageDialog(int kind, const QString& text, QWidget* parent)
    : SmallDialog(desktop::kMessageGeometry, text, parent) {
  setWindowFlags(DialogFlags(false));
  switch (kind) {
    case 2:
      setWindowTitle(QStringLiteral("Error"));
      SetIcon(IconKind::kError);
      break;
    case 3:
      setWindowTitle(QStringLiteral("Warning"));
      SetIcon(IconKind::kWarning);
      break;
    default:
      setWindowTitle(QStringLiteral("Information"));
      SetIcon(IconKind::kInformation);
      break;
  }
  ok_ = MakeButton(QStringLiteral("OK"), this);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  LayOut();
}

void DisplayMessageDialog::SetReportButton(std::function<void()> open) {
  openReport_ = std::move(open);
  if (!report_) {
    report_ = new QPushButton(Caption(desktop::kOpenReportCaption), this);
    report_->setObjectName(QStringLiteral("openReport"));
    report_->setAutoDefault(false);
    connect(report_, &QPushButton::clicked, this, [this] {
      if (openReport_) openReport_();
    });
    setTabOrder(ok_, report_);
  }
  LayOut();
}

void DisplayMessageDialog::PlaceExtras(desktop::SmallDialogInput& in) const {
  if (!report_) return;
  in.buttonCount = 2;
  in.secondButtonWidth = QFontMetrics(report_->font()).horizontalAdvance(report_->text().remove(QLatin1Char('&'))) + 16;
}

void DisplayMessageDialog::PlaceButtons() {
  ok_->setGeometry(ToQRect(layout().buttons[0]));
  if (report_) report_->setGeometry(ToQRect(layout().buttons[1]));
}

void DisplayMessageDialog::keyPressEvent(QKeyEvent* event) {
  if (report_ && ClickByAccessKey(event, 'O', report_)) return;
  QDialog::keyPressEvent(event);
}

void DisplayMessageDialog::FocusFirst() { ok_->setFocus(Qt::OtherFocusReason); }

AskForYesNoDialog::AskForYesNoDialog(int questionKind, const QString& text, QWidget* parent)
    : AskForYesNoDialog(questionKind, text, parent, desktop::kQuestionGeometry) {
  setWindowTitle(QStringLiteral("Confirm"));
  LayOut();
}

AskForYesNoDialog::AskForYesNoDialog(int questionKind, const QString& text, QWidget* parent,
                                     const desktop::SmallDialogGeometry& geometry)
    : SmallDialog(geometry, text, parent), yesDefault_(questionKind == 1) {
  setWindowFlags(DialogFlags(true));
  SetIcon(yesDefault_ ? IconKind::kQuestion : IconKind::kWarning);
  yes_ = MakeButton(QStringLiteral("&Yes"), this);
  no_ = MakeButton(QStringLiteral("&No"), this);
  (yesDefault_ ? yes_ : no_)->setDefault(true);
  connect(yes_, &QPushButton::clicked, this, &QDialog::accept);
  connect(no_, &QPushButton::clicked, this, &QDialog::reject);
}

void AskForYesNoDialog::PlaceExtras(desktop::SmallDialogInput& in) const { in.buttonCount = 2; }

void AskForYesNoDialog::PlaceButtons() {
  yes_->setGeometry(ToQRect(layout().buttons[0]));
  no_->setGeometry(ToQRect(layout().buttons[1]));
}

void AskForYesNoDialog::FocusFirst() { (yesDefault_ ? yes_ : no_)->setFocus(Qt::OtherFocusReason); }

// The letter itself, the Thai letter the standard Thai layout puts on that key (with or
// without Shift), or, under X11 and Wayland, the key's position (the evdev key code less 8).
char AccessLetterOf(const QKeyEvent* event) {
  if (event->key() >= Qt::Key_A && event->key() <= Qt::Key_Z) return static_cast<char>('A' + (event->key() - Qt::Key_A));
  const QString text = event->text();
  if (text.size() == 1) {
    if (const char letter = desktop::AccessLetterOfCharacter(text.at(0).unicode())) return letter;
  }
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"))) {
    // evdev key codes are the PC's set-1 scan codes plus 8.
    if (event->nativeScanCode() > 8) return desktop::AccessLetterOfScanCode(event->nativeScanCode() - 8);
  }
  return 0;
}

bool ClickByAccessKey(QKeyEvent* event, char letter, QAbstractButton* button) {
  const Qt::KeyboardModifiers mods = event->modifiers() & ~(Qt::AltModifier | Qt::KeypadModifier | Qt::ShiftModifier);
  if (mods != Qt::NoModifier || !button->isEnabled() || AccessLetterOf(event) != letter) return false;
  button->click();
  return true;
}

bool ClickYesNoByLetter(QKeyEvent* event, QAbstractButton* yes, QAbstractButton* no) {
  return ClickByAccessKey(event, 'Y', yes) || ClickByAccessKey(event, 'N', no);
}

void AskForYesNoDialog::keyPressEvent(QKeyEvent* event) {
  if (ClickYesNoByLetter(event, yes_, no_)) return;
  QDialog::keyPressEvent(event);
}

AskForYesNoTechnicalSupportDialog::AskForYesNoTechnicalSupportDialog(int questionKind, const QString& text,
                                                                     QWidget* parent)
    : AskForYesNoDialog(questionKind, text, parent, desktop::kTechnicalSupportGeometry) {
  setWindowTitle(QStringLiteral("Caution!"));
  warning_ = new QLabel(QString::fromLatin1(desktop::kTechnicalSupportWarning), this);
  warning_->setObjectName(QStringLiteral("warning"));
  warning_->setFont(TahomaFont(12, true));
  QPalette palette = warning_->palette();
  palette.setColor(QPalette::WindowText, Qt::red);
  warning_->setPalette(palette);
  warning_->setAlignment(Qt::AlignCenter);
  warning_->setFixedSize(desktop::kTechnicalSupportWarningWidth, desktop::kTechnicalSupportWarningHeight);
  LayOut();
}

void AskForYesNoTechnicalSupportDialog::PlaceExtras(desktop::SmallDialogInput& in) const {
  AskForYesNoDialog::PlaceExtras(in);
  if (!warning_) return;
  in.warningWidth = desktop::kTechnicalSupportWarningWidth;
  in.warningHeight = desktop::kTechnicalSupportWarningHeight;
}

void AskForYesNoTechnicalSupportDialog::PlaceButtons() {
  AskForYesNoDialog::PlaceButtons();
  if (warning_) warning_->move(layout().warning.x, layout().warning.y);
}

}  // namespace kv::gui
