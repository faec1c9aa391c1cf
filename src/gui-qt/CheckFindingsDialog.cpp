#include "gui-qt/CheckFindingsDialog.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui-qt/MessageDialogs.h"
#include "gui-qt/QtText.h"

namespace kv::gui {

CheckFindingsDialog::CheckFindingsDialog(const desktop::CheckListing& listing, QWidget* parent)
    : QDialog(parent), listing_(listing) {
  setWindowTitle(Caption(desktop::kCheckWindowTitle));
  setFont(TahomaFont(15));
  resize(desktop::kCheckWindowWidth, desktop::kCheckWindowHeight);
  count_ = new QLabel(FromCp874(desktop::CheckCountText(listing)), this);
  list_ = new QTreeWidget(this);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAlternatingRowColors(true);
  QStringList headings;
  for (const char* heading : desktop::kCheckHeadings) headings << Caption(heading);
  list_->setHeaderLabels(headings);
  for (const app::CheckFinding& finding : listing.findings) {
    QStringList cells;
    for (const std::string& cell : desktop::CheckCells(finding)) cells << FromCp874(cell);
    new QTreeWidgetItem(list_, cells);
  }
  list_->header()->resizeSections(QHeaderView::ResizeToContents);
  if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
  list_->installEventFilter(this);
  copy_ = new QPushButton(Caption(desktop::kCheckCopyCaption), this);
  copy_->setEnabled(!listing.findings.empty());
  close_ = new QPushButton(Caption(desktop::kCheckCloseCaption), this);
  close_->setDefault(true);
  connect(copy_, &QPushButton::clicked, this, [this] {
    QGuiApplication::clipboard()->setText(FromCp874(desktop::CheckClipboardText(listing_, "\n")));
  });
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(copy_);
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(count_);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);
  list_->setFocus(Qt::OtherFocusReason);
}

bool CheckFindingsDialog::eventFilter(QObject* watched, QEvent* event) {
  // C (Alt+C, or the Thai letter on its key) copies from the list too, which would
  // otherwise take the letter for its type-ahead search.
  if (watched == list_ && event->type() == QEvent::KeyPress &&
      ClickByAccessKey(static_cast<QKeyEvent*>(event), 'C', copy_)) {
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void CheckFindingsDialog::keyPressEvent(QKeyEvent* event) {
  if (ClickByAccessKey(event, 'C', copy_)) return;
  QDialog::keyPressEvent(event);
}

}  // namespace kv::gui
