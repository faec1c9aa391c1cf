#include "gui-qt/FixRecovDialog.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "gui-qt/MessageDialogs.h"
#include "gui-qt/PlaceDialog.h"
#include "gui-qt/QtText.h"

namespace kv::gui {
namespace {

constexpr int kClientWidth = 496;
constexpr int kClientHeight = 345;
constexpr int kParagraphWidth = 429;
constexpr int kParagraphHeight = 144;

const char kParagraph[] =
    "เนื่องจาก โปรแกรมได้ตรวจพบแฟ้ม .SAV หรือ .IX~ ซึ่งเป็นแฟ้มชั่วคราวที่ถูกสร้างขึ้นขณะทำการ "
    "\"แก้ไขแฟ้มข้อมูลที่เสียหาย\" ซึ่งจะถูกลบเมื่อการทำงานเสร็จสมบูรณ์ แต่หากการทำงานยังไม่สมบูรณ์ "
    "เช่น ผู้ใช้ยกเลิกเอง, ไฟดับ หรือปิดเครื่องกลางคัน แฟ้มดังกล่าวจะยังคงอยู่ ดังนั้น "
    "จึงขอให้ท่านทำการตรวจสอบขนาดของแฟ้มทั้งสอง ซึ่งถ้าหากแฟ้มใดมีขนาดใหญ่กว่า "
    "ก็น่าจะเป็นแฟ้มข้อมูลจริงของท่าน จึงควรลบแฟ้มข้อมูลที่ไม่ถูกต้องและเปลี่ยนแฟ้ม .SAV หรือ .IX~ "
    "กลับมาใช้งาน (หรือแก้ไข) ตามปกติ (ควรมีการสำรองข้อมูลก่อนทำขั้นตอนนี้)";

QLabel* MakeLabel(const QString& text, int left, int top, bool bold, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  if (bold) label->setFont(TahomaFont(15, true));
  label->move(left, top);
  label->resize(kClientWidth - left - 8, label->sizeHint().height());
  return label;
}

}  // namespace

QString FixRecovDialog::ParagraphText() { return QString::fromUtf8(kParagraph); }

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
  const int grow = std::max(0, paragraph_->heightForWidth(kParagraphWidth) - kParagraphHeight);
  paragraph_->setGeometry(32, 20, kParagraphWidth, kParagraphHeight + grow);
  setFixedSize(kClientWidth, kClientHeight + grow);

  MakeLabel(QString::fromUtf8("แฟ้มข้อมูลที่ตรวจพบ:"), 32, 184 + grow, false, this);
  fileName_ = MakeLabel(fileName, 240, 184 + grow, true, this);
  MakeLabel(QString::fromUtf8("ขนาดของ .SAV หรือ .IX~:"), 32, 208 + grow, false, this);
  tempSize_ = MakeLabel(tempSize, 240, 208 + grow, true, this);
  MakeLabel(QString::fromUtf8("ขนาดของ .DAT หรือ .IX:"), 32, 232 + grow, false, this);
  normalSize_ = MakeLabel(normalSize, 240, 232 + grow, true, this);
  MakeLabel(QString::fromUtf8("ท่านต้องการเปลี่ยนแฟ้มชั่วคราวกลับมาเป็นแฟ้มข้อมูลปกติ?"), 32, 268 + grow, false,
            this);

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
