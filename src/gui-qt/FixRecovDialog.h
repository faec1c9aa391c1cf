// The question about a temporary file left by an interrupted repair of the suite: it
// explains the leftovers, shows the file's name and both sizes, and asks whether the
// temporary file is to become the normal file again.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace kv::gui {

class FixRecovDialog : public QDialog {
  Q_OBJECT

 public:
  FixRecovDialog(const QString& fileName, const QString& tempSize, const QString& normalSize,
                 QWidget* parent = nullptr);

  QLabel* paragraphLabel() const { return paragraph_; }
  QLabel* fileNameLabel() const { return fileName_; }
  QLabel* tempSizeLabel() const { return tempSize_; }
  QLabel* normalSizeLabel() const { return normalSize_; }
  QPushButton* yesButton() const { return yes_; }
  QPushButton* noButton() const { return no_; }
  bool answeredYes() const { return result() == QDialog::Accepted; }

  // The explanation above the file's name and sizes.
  static QString ParagraphText();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QLabel* paragraph_;
  QLabel* fileName_;
  QLabel* tempSize_;
  QLabel* normalSize_;
  QPushButton* yes_;
  QPushButton* no_;
};

}  // namespace kv::gui
