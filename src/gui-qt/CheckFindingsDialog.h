// The findings of a company check from the company list's menu: the count line, the
// list (file, kind, place, text), "คัดลอก (&C)" to put the text lines on the clipboard,
// and "ปิด". Everything it shows comes from desktop/CompanyCheck.
#pragma once

#include <QDialog>

#include "desktop/CompanyCheck.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace kv::gui {

class CheckFindingsDialog : public QDialog {
 public:
  explicit CheckFindingsDialog(const desktop::CheckListing& listing, QWidget* parent = nullptr);

  QLabel* countLabel() const { return count_; }
  QTreeWidget* list() const { return list_; }
  QPushButton* copyButton() const { return copy_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  const desktop::CheckListing& listing_;
  QLabel* count_;
  QTreeWidget* list_;
  QPushButton* copy_;
  QPushButton* close_;
};

}  // namespace kv::gui
