// The program's one window: the warning panel, the progress bar, "Fix..." and
// "ยกเลิก", and the footer warning. Its creation runs the start-up (company choice and
// checks); "Fix..." runs the repair; closing it, for any reason, stops the engine.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "desktop/DesktopRun.h"
#include "desktop/Layouts.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QFrame;

namespace kv::gui {

class QtDialogs;

// The progress bar and the status line under it as the run's progress sink.
class BarProgress : public desktop::ControlProgress<QProgressBar*, QLabel*> {
 protected:
  void SetStatus(const std::string& cp874) override;
  void SetBar(int value) override;
  void HandleEvents() override;
};

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  MainWindow(desktop::RunControl& run, QtDialogs& dialogs, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The start-up at the creation of the window: `chooseCompany` returns the chosen
  // company directory (CP874) or empty. True when the window is to be shown; otherwise
  // the program ends with ExitCode() (the engine already stopped).
  // The list's menu may ask for an undo instead: the window shows for it and hides again.
  bool Startup(const std::function<desktop::CompanyChoice()>& chooseCompany) { return run_.Startup(chooseCompany); }

  int ExitCode() const { return run_.ExitCode(); }
  bool Running() const { return run_.Running(); }
  bool EngineStopped() const { return run_.EngineStopped(); }

  QFrame* warningPanel() const { return panel_; }
  QLabel* warningPicture() const { return picture_; }
  QLabel* headingLabel() const { return heading_; }
  QLabel* backupLabel() const { return backup_; }
  QLabel* footerLabel() const { return footer_; }
  QProgressBar* progressBar() const { return bar_; }
  QLabel* statusLabel() const { return status_; }
  QPushButton* fixButton() const { return fix_; }
  QPushButton* cancelButton() const { return cancel_; }
  const modules::ProgressSink& progress() const { return progress_; }
  static constexpr int kClientWidth = desktop::MainWindowLayout::kClientWidth;
  static constexpr int kClientHeight = desktop::MainWindowLayout::kClientHeight;

 signals:
  // The window closed for good (the engine is stopped); the program ends.
  void Closed();

 public slots:
  void FixButtonClick();
  void CancelButtonClick();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Enter presses the focused button; Esc is "ยกเลิก".
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BeginRunning();
  void BeginUndo();
  void EndUndo();

  QFrame* panel_;
  QLabel* picture_;
  QLabel* heading_;
  QLabel* backup_;
  QProgressBar* bar_;
  QLabel* status_;
  QPushButton* fix_;
  QPushButton* cancel_;
  QLabel* footer_;
  BarProgress progress_;
  desktop::DesktopRun run_;
};

}  // namespace kv::gui
