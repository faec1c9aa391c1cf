#include "gui-qt/QtDialogs.h"

#include <QApplication>
#include <QMetaObject>

#include "gui-qt/CheckFindingsDialog.h"
#include "gui-qt/FixRecovDialog.h"
#include "gui-qt/MessageDialogs.h"
#include "gui-qt/QtText.h"

namespace kv::gui {

void QtDialogs::ShowCheckFindings(const desktop::CheckListing& listing) {
  CheckFindingsDialog dialog(listing, QApplication::activeWindow());
  dialog.exec();
}

void QtDialogs::ShowMessage(int kind, const std::string& text, const std::string& reportPath) {
  DisplayMessageDialog dialog(kind, FromCp874(text), QApplication::activeWindow());
  if (const std::string help = HelpFor(kind); !help.empty()) {
    dialog.SetDetails(FromCp874(help).remove(QLatin1Char('\r')).trimmed());
  }
  if (!reportPath.empty()) dialog.SetReportButton([this, reportPath] { desktop::OpenReport(*this, reportPath); });
  dialog.exec();
}

bool QtDialogs::AskQuestion(ui::Question question, int questionKind, const std::string& text) {
  QWidget* parent = QApplication::activeWindow();
  if (question == ui::Question::kTechnicalSupport) {
    AskForYesNoTechnicalSupportDialog dialog(questionKind, FromCp874(text), parent);
    return dialog.exec() == QDialog::Accepted;
  }
  AskForYesNoDialog dialog(questionKind, FromCp874(text), parent);
  return dialog.exec() == QDialog::Accepted;
}

bool QtDialogs::AskRecovery(const ui::RecoveryQuestion& question) {
  FixRecovDialog dialog(FromCp874(question.fileName), FromCp874(question.tempSize),
                        FromCp874(question.normalSize), QApplication::activeWindow());
  return dialog.exec() == QDialog::Accepted;
}

void QtDialogs::HandlePendingEvents() { QCoreApplication::processEvents(); }

void QtDialogs::QuitEventLoop() {
  QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

}  // namespace kv::gui
