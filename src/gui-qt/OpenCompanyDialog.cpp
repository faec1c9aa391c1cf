#include "gui-qt/OpenCompanyDialog.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPalette>
#include <QPushButton>
#include <QScrollBar>
#include <QKeyEvent>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

#include "desktop/CompanyCheck.h"
#include "desktop/CompanyReports.h"
#include "gui-qt/MessageDialogs.h"
#include "gui-qt/OpenCompanyCommon.h"
#include "gui-qt/PlaceDialog.h"
#include "gui-qt/OpenCompanyEditDialog.h"
#include "gui-qt/ReportTemplateDialog.h"

namespace kv::gui {

using company::kCompanyRows;

// The 90 rows of the selection as a table: name, directory and the hidden template.
// Rows alternate between the colour scheme's band colour and the window colour; the
// remembered row is bold.
class CompanyTableModel : public QAbstractTableModel {
 public:
  CompanyTableModel(const company::CompanySelection& selection, QColor band, QObject* parent)
      : QAbstractTableModel(parent), selection_(selection), band_(band) {}

  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : kCompanyRows; }
  int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 3; }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid()) return {};
    const int row = index.row() + 1;
    const company::CompanyEntry& e = selection_.Row(row);
    switch (role) {
      case Qt::DisplayRole:
        return FromCp874(index.column() == 0 ? e.name : index.column() == 1 ? e.directory : e.templateDir);
      case Qt::FontRole:
        if (row == selection_.RememberedRow()) {
          QFont bold = TahomaFont(15, true);
          return bold;
        }
        return {};
      case Qt::BackgroundRole:
        return index.row() % 2 == 0 ? QBrush(band_) : QBrush(QApplication::palette().color(QPalette::Base));
      default:
        return {};
    }
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) {
      if (section == 0) return Caption("ชื่อกิจการ");
      if (section == 1) return Caption("แฟ้มข้อมูล");
      return {};
    }
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
    return {};
  }

  void Changed() { emit dataChanged(index(0, 0), index(kCompanyRows - 1, 2)); }
  void SetBand(QColor band) {
    band_ = band;
    Changed();
  }

 private:
  const company::CompanySelection& selection_;
  QColor band_;
};

namespace {

QColor FromWindowsColour(uint32_t colour) {
  return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                static_cast<int>((colour >> 16) & 0xFF));
}

}  // namespace

OpenCompanyDialog::OpenCompanyDialog(company::Settings& settings, ui::Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), settings_(settings), dialogs_(dialogs), selection_(settings, dialogs, *this) {
  MakeFixedDialog(*this, QStringLiteral("Select Directory"), 714, 367);
  setObjectName(QStringLiteral("OpenCompanyDialog"));

  auto* group = new QGroupBox(Caption("เลือกแฟ้มข้อมูลกิจการ"), this);
  table_ = new CompanyTableModel(selection_, FromWindowsColour(company::GridBandColour(settings)), this);
  grid_ = new QTableView(group);
  grid_->setObjectName(QStringLiteral("CompanyGrid"));
  grid_->setModel(table_);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setWordWrap(false);
  grid_->setCornerButtonEnabled(false);
  // Tab leaves the grid for the check box and the buttons; the arrows move in it.
  grid_->setTabKeyNavigation(false);
  grid_->setContextMenuPolicy(Qt::CustomContextMenu);
  grid_->verticalHeader()->hide();
  grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid_->verticalHeader()->setMinimumSectionSize(1);
  grid_->verticalHeader()->setDefaultSectionSize(26);
  QHeaderView* header = grid_->horizontalHeader();
  header->setDefaultAlignment(Qt::AlignCenter);
  header->setHighlightSections(false);
  header->setSectionResizeMode(0, QHeaderView::Interactive);
  header->setSectionResizeMode(1, QHeaderView::Stretch);
  header->setStretchLastSection(false);
  header->resizeSection(0, company::kDefaultNameColumnWidth);
  grid_->setColumnHidden(2, true);
  grid_->viewport()->installEventFilter(this);  // no mouse wheel
  grid_->installEventFilter(this);

  autoSelect_ = new QCheckBox(Caption("เลือกกิจการนี้โดยอัตโนมัติทุกครั้ง"), group);
  select_ = new QPushButton(Caption("เลือก"), this);
  select_->setDefault(true);
  // Enter on a focused button presses that button; the window's Enter ("เลือก") is
  // kept from them by the filter below.
  edit_ = new QPushButton(Caption("แก้ไข"), this);
  edit_->setAutoDefault(true);
  edit_->installEventFilter(this);
  exit_ = new QPushButton(Caption("ออก"), this);
  exit_->setAutoDefault(true);
  exit_->installEventFilter(this);

  auto* inside = new QVBoxLayout(group);
  inside->addWidget(grid_);
  inside->addWidget(autoSelect_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(select_);
  buttons->addWidget(edit_);
  buttons->addWidget(exit_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addLayout(buttons);

  // One set of actions, from the command table, for the menu and the keys.
  menu_ = new QMenu(this);
  for (const desktop::CompanyCommandEntry& entry : desktop::CompanyCommands()) {
    if (entry.separatorBefore) menu_->addSeparator();
    QAction* action = MakeAction(entry);
    actions_[static_cast<size_t>(entry.command)] = action;
    menu_->addAction(action);
  }
  menu_->setDefaultAction(SelectAction());
  menu_->installEventFilter(this);

  connect(menu_, &QMenu::aboutToShow, this, &OpenCompanyDialog::MenuPopup);
  connect(menu_, &QMenu::aboutToHide, this, &OpenCompanyDialog::MenuClosed);
  connect(grid_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { menu_->popup(grid_->viewport()->mapToGlobal(pos)); });
  connect(grid_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) Btn_SelectClick();
  });
  connect(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          &OpenCompanyDialog::UpdateSelectButton);
  connect(select_, &QPushButton::clicked, this, &OpenCompanyDialog::Btn_SelectClick);
  connect(edit_, &QPushButton::clicked, this, &OpenCompanyDialog::Btn_EditClick);
  connect(exit_, &QPushButton::clicked, this, &QDialog::reject);
  connect(autoSelect_, &QCheckBox::clicked, this, &OpenCompanyDialog::AutoSelectClick);

  SetCurrentRow(1);
}

OpenCompanyDialog::~OpenCompanyDialog() {
  while (busy_ > 0) SetBusy(false);
}

namespace {

QList<QKeySequence> KeysOf(const desktop::CompanyCommandEntry& entry) {
  QList<QKeySequence> keys;
  for (const desktop::CommandKey key : entry.keys) {
    switch (key) {
      case desktop::CommandKey::kEnter:
        keys << QKeySequence(Qt::Key_Return) << QKeySequence(Qt::Key_Enter);
        break;
      case desktop::CommandKey::kF5: keys << QKeySequence(Qt::Key_F5); break;
      case desktop::CommandKey::kF7: keys << QKeySequence(Qt::Key_F7); break;
      case desktop::CommandKey::kF8: keys << QKeySequence(Qt::Key_F8); break;
      case desktop::CommandKey::kF9: keys << QKeySequence(Qt::Key_F9); break;
      case desktop::CommandKey::kF10: keys << QKeySequence(Qt::Key_F10); break;
      case desktop::CommandKey::kInsert: keys << QKeySequence(Qt::Key_Insert); break;
      case desktop::CommandKey::kDelete: keys << QKeySequence(Qt::Key_Delete); break;
      case desktop::CommandKey::kNone: break;
    }
  }
  return keys;
}

}  // namespace

QAction* OpenCompanyDialog::MakeAction(const desktop::CompanyCommandEntry& entry) {
  auto* action = new QAction(Caption(entry.caption), this);
  action->setShortcuts(KeysOf(entry));
  action->setShortcutContext(Qt::WindowShortcut);
  action->setCheckable(entry.checkedForTemplate);
  addAction(action);
  const desktop::CompanyCommand command = entry.command;
  connect(action, &QAction::triggered, this, [this, command] { RunCommand(command); });
  return action;
}

void OpenCompanyDialog::RunCommand(desktop::CompanyCommand command) {
  switch (command) {
    case desktop::CompanyCommand::kSelect: Btn_SelectClick(); break;
    case desktop::CompanyCommand::kEdit: Btn_EditClick(); break;
    case desktop::CompanyCommand::kInsert: InsertClick(); break;
    case desktop::CompanyCommand::kDelete: DeleteClick(); break;
    case desktop::CompanyCommand::kMoveUp: MoveUpClick(); break;
    case desktop::CompanyCommand::kMoveDown: MoveDownClick(); break;
    case desktop::CompanyCommand::kTemplate: ReportTemplateClick(); break;
    case desktop::CompanyCommand::kUndoLast: UndoLastClick(); break;
    case desktop::CompanyCommand::kOpenLastReport: OpenLastReportClick(); break;
    case desktop::CompanyCommand::kCheck: CheckClick(); break;
  }
}

template <class F>
void OpenCompanyDialog::Guarded(F&& command) {
  if (failure_) return;
  try {
    command();
  } catch (...) {
    failure_ = std::current_exception();
    if (isVisible()) reject();
  }
}

// ---- CompanyView ---------------------------------------------------------------------

int OpenCompanyDialog::CurrentRow() const {
  const QModelIndex current = grid_->currentIndex();
  return current.isValid() ? current.row() + 1 : 1;
}

void OpenCompanyDialog::SetCurrentRow(int row) {
  row = std::clamp(row, 1, kCompanyRows);
  const QModelIndex index = table_->index(row - 1, 0);
  grid_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  grid_->scrollTo(index);
}

int OpenCompanyDialog::TopRow() const {
  const int row = grid_->rowAt(0);
  return row < 0 ? 1 : row + 1;
}

void OpenCompanyDialog::SetTopRow(int row) {
  row = std::clamp(row, 1, kCompanyRows);
  // A row that shows with every row above it is shown so: the list is not scrolled for
  // nothing, hiding the companies above the remembered one.
  if (layout()) layout()->activate();
  const int rowHeight = std::max(1, grid_->verticalHeader()->defaultSectionSize());
  const int visibleRows = grid_->viewport()->height() / rowHeight;
  if (row <= visibleRows) row = 1;
  grid_->scrollTo(table_->index(row - 1, 0), QAbstractItemView::PositionAtTop);
}

int OpenCompanyDialog::NameColumnWidth() const { return grid_->horizontalHeader()->sectionSize(0); }

void OpenCompanyDialog::SetNameColumnWidth(int width) { grid_->horizontalHeader()->resizeSection(0, width); }

bool OpenCompanyDialog::AutoSelectChecked() const { return autoSelect_->isChecked(); }

void OpenCompanyDialog::SetAutoSelectChecked(bool checked) { autoSelect_->setChecked(checked); }

void OpenCompanyDialog::Refresh() {
  table_->Changed();
  UpdateSelectButton();
}

void OpenCompanyDialog::SetBusy(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++busy_;
  } else if (busy_ > 0) {
    QApplication::restoreOverrideCursor();
    --busy_;
  }
}

bool OpenCompanyDialog::RunEntryEditor(std::string& name, std::string& directory) {
  OpenCompanyEditDialog editor(name, directory, dialogs_, this);
  const bool ok = editor.exec() == QDialog::Accepted;
  if (ok) {
    name = editor.Name();
    directory = editor.Directory();
  }
  TakeFocusBack();
  return ok;
}

bool OpenCompanyDialog::RunTemplateEditor(std::string& templateDir) {
  ReportTemplateDialog editor(templateDir, company::DefaultTemplateDirectory(settings_), dialogs_, this);
  const bool ok = editor.exec() == QDialog::Accepted;
  if (ok) templateDir = editor.TemplateDirectory();
  TakeFocusBack();
  return ok;
}

void OpenCompanyDialog::TakeFocusBack() {
  // Not every window system hands activation back to the window under a closed dialog.
  activateWindow();
  grid_->setFocus();
}

bool OpenCompanyDialog::RunModal() {
  failure_ = nullptr;
  const int result = exec();
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  return result == QDialog::Accepted;
}

// ---- The window's life -----------------------------------------------------------------

void OpenCompanyDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shownOnce_) return;
  shownOnce_ = true;
  closed_ = false;
  // The colour scheme is current now: the list, and the settings with it, were read
  // before the window is shown.
  table_->SetBand(FromWindowsColour(company::GridBandColour(settings_)));
  grid_->setColumnHidden(2, true);
  PlaceDialog(this);
  // The rest once the window stands on the screen, so an editor opened at once for an
  // empty list appears over it.
  QTimer::singleShot(0, this, &OpenCompanyDialog::FormShow);
}

void OpenCompanyDialog::FormShow() {
  if (!isVisible() || closed_) return;
  Guarded([this] {
    if (!selection_.Show()) {
      reject();
      return;
    }
    UpdateSelectButton();
    grid_->setFocus();
    ready_ = true;
  });
}

void OpenCompanyDialog::done(int result) {
  if (!closed_) {
    closed_ = true;
    // After any way of ending: the list and the column width are saved, the directory
    // restored. A failure here still ends the window.
    if (!failure_) {
      try {
        selection_.Close();
      } catch (...) {
        failure_ = std::current_exception();
      }
    }
  }
  shownOnce_ = false;
  ready_ = false;
  QDialog::done(result);
}

void OpenCompanyDialog::PopupAtCurrentRow() {
  const QRect cell = grid_->visualRect(grid_->currentIndex());
  const QPoint at = cell.isValid() ? cell.center() : QPoint(0, 0);
  menu_->popup(grid_->viewport()->mapToGlobal(at));
}

bool OpenCompanyDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Wheel && (watched == grid_ || watched == grid_->viewport())) return true;
  if (event->type() == QEvent::KeyPress && watched == menu_) {
    // The menu's letters (&U, &O, &K) by the key's position or its Thai letter too, so they
    // work with the Thai layout active.
    const char letter = AccessLetterOf(static_cast<QKeyEvent*>(event));
    for (const desktop::CompanyCommandEntry& entry : desktop::CompanyCommands()) {
      if (letter == 0 || desktop::AccessLetterOf(entry) != letter) continue;
      QAction* action = CommandAction(entry.command);
      if (action->isEnabled()) {
        menu_->close();
        action->trigger();
      }
      return true;
    }
  }
  if (event->type() == QEvent::KeyPress && watched == grid_) {
    // Shift+F10 and the menu key open the menu at the current row, as a right click
    // does, before the window system's own handling of the menu key.
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if ((key->key() == Qt::Key_Menu && mods == Qt::NoModifier) ||
        (key->key() == Qt::Key_F10 && mods == Qt::ShiftModifier)) {
      PopupAtCurrentRow();
      return true;
    }
  }
  if (event->type() == QEvent::ShortcutOverride && (watched == edit_ || watched == exit_)) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      event->accept();  // the button's own Enter, not the window's "เลือก"
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

// ---- Commands ----------------------------------------------------------------------------

void OpenCompanyDialog::Btn_SelectClick() {
  Guarded([this] {
    if (selection_.Select()) accept();
  });
}

void OpenCompanyDialog::Btn_EditClick() {
  Guarded([this] { selection_.Edit(); });
}

void OpenCompanyDialog::InsertClick() {
  Guarded([this] { selection_.Insert(); });
}

void OpenCompanyDialog::DeleteClick() {
  Guarded([this] { selection_.Delete(); });
}

void OpenCompanyDialog::MoveUpClick() {
  Guarded([this] { selection_.MoveUp(); });
}

void OpenCompanyDialog::MoveDownClick() {
  Guarded([this] { selection_.MoveDown(); });
}

void OpenCompanyDialog::ReportTemplateClick() {
  Guarded([this] { selection_.ReportTemplate(); });
}

void OpenCompanyDialog::UndoLastClick() {
  LeaveFor(desktop::UndoChoiceFor(selection_.Row(CurrentRow()).directory, dialogs_));
}

void OpenCompanyDialog::CheckClick() {
  LeaveFor(desktop::CheckChoiceFor(selection_.Row(CurrentRow()).directory, dialogs_));
}

void OpenCompanyDialog::LeaveFor(desktop::CompanyChoice choice) {
  menuChoice_ = std::move(choice);
  if (!menuChoice_.FromMenu()) {
    TakeFocusBack();
    return;
  }
  // The list closes (saved as after any close); the main window does the work and the
  // list shows again.
  reject();
}

void OpenCompanyDialog::OpenLastReportClick() {
  desktop::OpenLatestReport(selection_.Row(CurrentRow()).directory, dialogs_);
  TakeFocusBack();
}

void OpenCompanyDialog::AutoSelectClick() { selection_.AutoSelectClicked(); }

void OpenCompanyDialog::MenuPopup() {
  const company::CompanyEntry& e = selection_.Row(CurrentRow());
  const desktop::RowState row = desktop::RowStateOf(e.directory);
  for (const desktop::CompanyCommandEntry& entry : desktop::CompanyCommands()) {
    QAction* action = CommandAction(entry.command);
    const bool enabled = desktop::EnabledFor(entry, row);
    action->setEnabled(enabled);
    if (entry.checkedForTemplate) action->setChecked(!e.templateDir.empty());
    action->setText(FromCp874(desktop::MenuCaption(entry, !e.HasNameOrDirectory(), row)));
  }
}

void OpenCompanyDialog::MenuClosed() {
  // The menu's enabling describes the row it was opened on; the keys keep working for
  // every row (the commands themselves decide what a row allows).
  QTimer::singleShot(0, this, [this] {
    for (QAction* action : actions_) action->setEnabled(true);
  });
}

void OpenCompanyDialog::UpdateSelectButton() { select_->setEnabled(selection_.SelectEnabled()); }

}  // namespace kv::gui
