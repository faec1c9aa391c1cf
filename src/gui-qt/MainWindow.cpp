#include "gui-qt/MainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include "app/Version.h"
#include "gui-qt/PlaceDialog.h"
#include "gui-qt/QtDialogs.h"
#include "gui-qt/QtText.h"

namespace kv::gui {
namespace {

using L = desktop::MainWindowLayout;
constexpr int kClientWidth = L::kClientWidth;
constexpr int kClientHeight = L::kClientHeight;

void MakeRed(QLabel* label) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, Qt::red);
  label->setPalette(palette);
}

}  // namespace

void BarProgress::SetStatus(const std::string& cp874) {
  if (status_) status_->setText(FromCp874(cp874));
}

void BarProgress::SetBar(int value) {
  if (bar_) bar_->setValue(value);
}

void BarProgress::HandleEvents() {
  // The window's own events only: no timers of other code run inside the walk.
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

MainWindow::MainWindow(desktop::RunControl& run, QtDialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      run_(run, dialogs, progress_,
           {.showCompany = [this](const std::string& dir) { setWindowTitle(FromCp874(dir)); },
            .beginRunning = [this] { BeginRunning(); },
            .waitAgain =
                [this] {
                  fix_->setEnabled(true);
                  cancel_->setEnabled(true);
                },
            .close = [this] { close(); },
            .closeLater = [this] { QTimer::singleShot(0, this, [this] { close(); }); },
            .beginUndo = [this] { BeginUndo(); },
            .endUndo = [this] { EndUndo(); }}) {
  setWindowTitle(QStringLiteral("Form1"));
  // The version, for a support person to quote: the window's tooltip (the mouse held
  // anywhere over it), so the layout stays as it is; the window manager owns the title bar.
  const std::string version = app::VersionLine("KVFIX207");
  setToolTip(QString::fromUtf8(version.data(), static_cast<qsizetype>(version.size())));
  setFont(TahomaFont(15));
  setFixedSize(kClientWidth, kClientHeight);

  // The warning panel: a lowered outer bevel around a raised inner one.
  panel_ = new QFrame(this);
  panel_->setObjectName(QStringLiteral("warningPanel"));
  panel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel_->setLineWidth(1);
  panel_->setGeometry(ToQRect(L::kPanel));
  auto* inner = new QFrame(panel_);
  inner->setFrameStyle(QFrame::Panel | QFrame::Raised);
  inner->setLineWidth(1);
  inner->setGeometry(ToQRect(L::kPanelInner));

  picture_ = new QLabel(panel_);
  picture_->setGeometry(ToQRect(L::kPicture));
  picture_->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(QSize(32, 32), devicePixelRatioF()));

  heading_ = new QLabel(QString::fromUtf8("คำเตือน"), panel_);
  heading_->setFont(TahomaFont(15, true));
  MakeRed(heading_);
  heading_->setGeometry(ToQRect(L::kHeading));
  backup_ = new QLabel(QString::fromUtf8("โปรดสำรองแฟ้มข้อมูลก่อนทำขั้นตอนนี้."), panel_);
  backup_->setGeometry(ToQRect(L::kBackupLine));

  bar_ = new QProgressBar(this);
  bar_->setRange(0, app::RunStatus::BarMaximum());
  bar_->setValue(0);
  bar_->setTextVisible(false);
  bar_->setGeometry(ToQRect(L::kBar));
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("runStatus"));
  status_->setGeometry(ToQRect(L::kStatus));
  progress_.Attach(bar_, status_);

  fix_ = new QPushButton(QStringLiteral("Fix..."), this);
  fix_->setGeometry(ToQRect(L::kFix));
  cancel_ = new QPushButton(QString::fromUtf8("ยกเลิก"), this);
  cancel_->setGeometry(ToQRect(L::kCancel));
  setTabOrder(fix_, cancel_);
  connect(fix_, &QPushButton::clicked, this, &MainWindow::FixButtonClick);
  connect(cancel_, &QPushButton::clicked, this, &MainWindow::CancelButtonClick);

  footer_ = new QLabel(QStringLiteral("*** WARNING: FOR TECHNICAL SUPPORT ONLY! ***"), this);
  footer_->setFont(TahomaFont(12, true));
  MakeRed(footer_);
  footer_->setAlignment(Qt::AlignCenter);
  footer_->setGeometry(ToQRect(L::kFooter));

  // Centred on the desktop.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect desktop = screen->availableGeometry();
    move(desktop.x() + (desktop.width() - kClientWidth) / 2, desktop.y() + (desktop.height() - kClientHeight) / 2);
  }
  fix_->setFocus(Qt::OtherFocusReason);
}

MainWindow::~MainWindow() = default;

void MainWindow::BeginRunning() {
  fix_->setEnabled(false);
  if (focusWidget() == nullptr || focusWidget() == fix_) cancel_->setFocus(Qt::OtherFocusReason);
}

void MainWindow::BeginUndo() {
  // The window does the undo's work as it does the repair's: the bar, the line, "ยกเลิก"
  // (and Esc, the close box) to stop it.
  fix_->setEnabled(false);
  cancel_->setEnabled(true);
  show();
  raise();
  activateWindow();
  cancel_->setFocus(Qt::OtherFocusReason);
}

void MainWindow::EndUndo() {
  hide();
  bar_->setValue(0);
  status_->clear();
  fix_->setEnabled(true);
  fix_->setFocus(Qt::OtherFocusReason);
  setWindowTitle(QStringLiteral("Form1"));
}

void MainWindow::FixButtonClick() { run_.Fix(); }

void MainWindow::CancelButtonClick() {
  if (run_.Running()) {
    run_.RequestStop();
    return;
  }
  close();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      if (cancel_->isEnabled()) cancel_->click();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // Buttons outside a dialog take only the space bar; Enter presses the one that has
      // the focus, as on the suite's own windows.
      if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isEnabled()) {
        button->click();
        return;
      }
      break;
    default:
      break;
  }
  QWidget::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!run_.MayClose()) {
    event->ignore();
    return;
  }
  event->accept();
  emit Closed();
}

}  // namespace kv::gui
