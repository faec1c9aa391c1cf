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
#include <algorithm>
#include <exception>

#include "app/Run.h"
#include "gui-qt/PlaceDialog.h"
#include "gui-qt/QtDialogs.h"
#include "gui-qt/QtText.h"
#include "platform/PlainFile.h"
#include "platform/System.h"
#include "ui/Dialogs.h"

namespace kv::gui {
namespace {

constexpr int kClientWidth = MainWindow::kClientWidth;
constexpr int kClientHeight = MainWindow::kClientHeight;
constexpr int kStatusHeight = 18;  // the status line pushes the buttons and footer down

void MakeRed(QLabel* label) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, Qt::red);
  label->setPalette(palette);
}

}  // namespace

void BarProgress::SetStatus(const std::string& cp874) {
  if (status_) status_->setText(FromCp874(cp874));
}

void BarProgress::HandleEvents() {
  // The window's own events only: no timers of other code run inside the walk.
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void BarProgress::ShowStopping() {
  SetStatus(app::RunStatus::Stopping(RepairCount()));
}

void BarProgress::OnStep(std::string_view module, std::string_view file) {
  if (bar_) bar_->setValue(app::RunStatus::BarValue(Position(), 0, 0));
  if (StopRequested()) {
    ShowStopping();
  } else {
    SetStatus(app::RunStatus::Finished(module, file, RepairCount()));
  }
  lastRefresh_ = platform::MonotonicMs();
  HandleEvents();
}

void BarProgress::OnWalking(std::string_view module, std::string_view file, int32_t done, int32_t total) {
  const uint64_t now = platform::MonotonicMs();
  if (now - lastRefresh_ >= app::RunStatus::kRefreshMs) {
    lastRefresh_ = now;
    if (bar_) bar_->setValue(app::RunStatus::BarValue(Position(), done, total));
    if (StopRequested()) {
      ShowStopping();
    } else {
      SetStatus(app::RunStatus::Walking(module, file, done, total, RepairCount()));
    }
  }
  HandleEvents();
}

void BarProgress::OnWaiting(std::string_view file, int32_t record, int round, int rounds) {
  SetStatus(app::RunStatus::Waiting(file, record, round, rounds));
  HandleEvents();
}

void BarProgress::OnIdle() { HandleEvents(); }

MainWindow::MainWindow(RunControl& run, QtDialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      run_(run),
      dialogs_(dialogs) {
  setWindowTitle(QStringLiteral("Form1"));
  setFont(TahomaFont(15));
  setFixedSize(kClientWidth, kClientHeight);

  // The warning panel: a lowered outer bevel around a raised inner one.
  panel_ = new QFrame(this);
  panel_->setObjectName(QStringLiteral("warningPanel"));
  panel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel_->setLineWidth(1);
  panel_->setGeometry(19, 8, 400, 49);
  auto* inner = new QFrame(panel_);
  inner->setFrameStyle(QFrame::Panel | QFrame::Raised);
  inner->setLineWidth(1);
  inner->setGeometry(1, 1, 398, 47);

  picture_ = new QLabel(panel_);
  picture_->setGeometry(9, 8, 32, 32);
  picture_->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(QSize(32, 32), devicePixelRatioF()));

  heading_ = new QLabel(QString::fromUtf8("คำเตือน"), panel_);
  heading_->setFont(TahomaFont(15, true));
  MakeRed(heading_);
  heading_->setGeometry(52, 4, 340, 20);
  backup_ = new QLabel(QString::fromUtf8("โปรดสำรองแฟ้มข้อมูลก่อนทำขั้นตอนนี้."), panel_);
  backup_->setGeometry(52, 24, 340, 20);

  bar_ = new QProgressBar(this);
  bar_->setRange(0, app::RunStatus::BarMaximum());
  bar_->setValue(0);
  bar_->setTextVisible(false);
  bar_->setGeometry(19, 66, 401, 17);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("runStatus"));
  status_->setGeometry(19, 85, 401, kStatusHeight);
  progress_.Attach(bar_, status_);

  fix_ = new QPushButton(QStringLiteral("Fix..."), this);
  fix_->setGeometry(140, 94 + kStatusHeight, 75, 25);
  cancel_ = new QPushButton(QString::fromUtf8("ยกเลิก"), this);
  cancel_->setGeometry(223, 94 + kStatusHeight, 75, 25);
  setTabOrder(fix_, cancel_);
  connect(fix_, &QPushButton::clicked, this, &MainWindow::FixButtonClick);
  connect(cancel_, &QPushButton::clicked, this, &MainWindow::CancelButtonClick);

  footer_ = new QLabel(QStringLiteral("*** WARNING: FOR TECHNICAL SUPPORT ONLY! ***"), this);
  footer_->setFont(TahomaFont(12, true));
  MakeRed(footer_);
  footer_->setAlignment(Qt::AlignCenter);
  footer_->setGeometry(0, 132 + kStatusHeight, kClientWidth, 16);

  // Centred on the desktop.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect desktop = screen->availableGeometry();
    move(desktop.x() + (desktop.width() - kClientWidth) / 2, desktop.y() + (desktop.height() - kClientHeight) / 2);
  }
  fix_->setFocus(Qt::OtherFocusReason);

  dialogs_.closeRequested = [this] { OnCloseRequested(); };
}

MainWindow::~MainWindow() {
  dialogs_.closeRequested = nullptr;
  dialogs_.beforePendingMessages = nullptr;
  StopEngine();
}

bool MainWindow::Startup(const std::function<std::string()>& chooseCompany) {
  inFix_ = true;  // no close while start-up runs
  bool ready = false;
  try {
    const std::string dir = chooseCompany();
    if (dir.empty()) {
      // No company chosen: the program ends at once, without a word (no engine runs
      // yet; stopping it does nothing).
      inFix_ = false;
      exitCode_ = 0;
      StopEngine();
      return false;
    }
    setWindowTitle(FromCp874(dir));
    ready = run_.Startup(dir);
    if (!ready) exitCode_ = run_.ExitCode();
  } catch (const ui::EndRun& end) {
    exitCode_ = end.exitCode();
  } catch (const platform::IoError& error) {
    ShowIoError(error.name(), error.code());
  } catch (const std::exception& error) {
    dialogs_.ShowError(error.what());
    exitCode_ = kIoErrorExitCode;
  }
  inFix_ = false;
  if (ready && closeRequested_) ready = false;
  if (!ready) StopEngine();
  return ready;
}

void MainWindow::ShowIoError(const std::string& name, int code) {
  dialogs_.ShowError(app::IoErrorMessage(code, name));
  exitCode_ = kIoErrorExitCode;
}

void MainWindow::BeginRunning() {
  // The question was answered Yes: from here on the run owns the window; "ยกเลิก"
  // stays, to stop it.
  running_ = true;
  fix_->setEnabled(false);
  if (focusWidget() == nullptr || focusWidget() == fix_) cancel_->setFocus(Qt::OtherFocusReason);
}

void MainWindow::RequestStop() {
  if (progress_.StopRequested()) return;
  progress_.RequestStop();
  progress_.ShowStopping();
}

void MainWindow::FixButtonClick() {
  if (inFix_ || running_) return;
  inFix_ = true;
  dialogs_.beforePendingMessages = [this] { BeginRunning(); };
  bool finished = false;
  bool ended = false;
  try {
    finished = run_.Fix(progress_);
  } catch (const ui::EndRun& end) {
    exitCode_ = end.exitCode();
    ended = true;
  } catch (const platform::IoError& error) {
    ShowIoError(error.name(), error.code());
    ended = true;
  } catch (const std::exception& error) {
    dialogs_.ShowError(error.what());
    exitCode_ = kIoErrorExitCode;
    ended = true;
  }
  dialogs_.beforePendingMessages = nullptr;
  inFix_ = false;
  running_ = false;
  if (finished) exitCode_ = run_.ExitCode();  // 1 after a stopped run
  if (finished || ended || closeRequested_) {
    close();
    return;
  }
  // Answered No: nothing changed, the window waits as before.
  fix_->setEnabled(true);
  cancel_->setEnabled(true);
}

void MainWindow::CancelButtonClick() {
  if (running_) {
    RequestStop();
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

void MainWindow::OnCloseRequested() {
  closeRequested_ = true;
  // Takes effect when control is back in the event loop; a run or start-up in progress
  // goes on until it returns.
  if (!inFix_) QTimer::singleShot(0, this, [this] { close(); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (inFix_ || running_) {
    // The close box during the run stops it; the window closes at its end.
    if (running_) RequestStop();
    event->ignore();
    return;
  }
  StopEngine();
  event->accept();
  emit Closed();
}

void MainWindow::StopEngine() {
  if (engineStopped_) return;
  engineStopped_ = true;
  try {
    run_.Close();
  } catch (...) {
    // Stopping closes what it can; nothing is left to report to.
  }
}

}  // namespace kv::gui
