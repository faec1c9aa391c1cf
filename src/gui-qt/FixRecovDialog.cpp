#include "gui-qt/FixRecovDialog.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <iterator>

#include "gui-qt/MessageDialogs.h"
#include "gui-qt/PlaceDialog.h"
#include "gui-qt/QtText.h"
#include "desktop/RecoveryWindow.h"

namespace kv::gui {
namespace {

using W = desktop::RecoveryWindow;

QLabel* MakeLabel(const QString& text, int left, int top, bool bold, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  if (bold) label->setFont(TahomaFont(15, true));
  label->move(left, top);
  label->resize(W::kClientWidth - left - 8, label->sizeHint().height());
  return label;
}

}  // namespace

QString FixRecovDialog::ParagraphText() { return QString::fromUtf8(W::kParagraph); }

FixRecovDialog::FixRecovDialog(const QString& fileName, const QString& tempSize, const QString& normalSize,
                               QWidget* parent)
    : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                 Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(QStringLiteral("Attention!"));
  setFont(TahomaFont(15));
  setModal(true);

  paragraph_ = new QLabel(ParagraphText(), this);
  paragraph_->setTextFormat(Qt::PlainText);
  // Thai writes no spaces between words; Qt's line breaker finds the word boundaries
  // (through the system's Thai word breaker), so the wrap falls between words.
  paragraph_->setWordWrap(true);
  paragraph_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // The layout is measured for Tahoma. A stand-in Thai font with taller lines would cut
  // the explanation off; the window then grows by what is missing and everything below
  // the paragraph moves down with it, so the whole text stays readable.
  const int grow = std::max(0, paragraph_->heightForWidth(W::kParagraphWidth) - W::kParagraphHeight);
  paragraph_->setGeometry(W::kCaptionLeft, 20, W::kParagraphWidth, W::kParagraphHeight + grow);
  setFixedSize(W::kClientWidth, W::kClientHeight + grow);

  const QString* values[] = {&fileName, &tempSize, &normalSize};
  QLabel** valueLabels[] = {&fileName_, &tempSize_, &normalSize_};
  for (size_t i = 0; i < std::size(W::kRows); ++i) {
    const int top = W::kRows[i].top + grow;
    MakeLabel(QString::fromUtf8(W::kRows[i].caption), W::kCaptionLeft, top, false, this);
    if (i < std::size(values)) *valueLabels[i] = MakeLabel(*values[i], W::kValueLeft, top, true, this);
  }

  // The two buttons stand centred in a row 150 wide at (173, 310).
  yes_ = new QPushButton(QStringLiteral("&Yes"), this);
  no_ = new QPushButton(QStringLiteral("&No"), this);
  yes_->setGeometry(179, 310 + grow, 66, 25);
  no_->setGeometry(179 + 66 + 5, 310 + grow, 66, 25);
  yes_->setDefault(true);
  connect(yes_, &QPushButton::clicked, this, &QDialog::accept);
  connect(no_, &QPushButton::clicked, this, &QDialog::reject);
}

void FixRecovDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreOnScreen(this);
  yes_->setFocus(Qt::OtherFocusReason);
}

void FixRecovDialog::keyPressEvent(QKeyEvent* event) {
  // Neither button cancels: Esc does nothing here. The close box still answers No.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  if (ClickYesNoByLetter(event, yes_, no_)) return;
  QDialog::keyPressEvent(event);
}

}  // namespace kv::gui
