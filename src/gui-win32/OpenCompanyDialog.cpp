#include "gui-win32/OpenCompanyDialog.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "desktop/CompanyCheck.h"
#include "desktop/DesktopRules.h"
#include "gui-win32/OpenCompanyCommon.h"
#include "gui-win32/OpenCompanyEditDialog.h"
#include "gui-win32/PlaceDialog.h"
#include "gui-win32/ReportTemplateDialog.h"
#include "gui-win32/WinText.h"

namespace kv::gui {

using company::kCompanyRows;

namespace {

constexpr UINT kFormShowMessage = WM_APP + 1;
constexpr UINT kStretchMessage = WM_APP + 2;
constexpr int kRowHeight = 26;

// The mouse wheel does not scroll the list.
LRESULT CALLBACK NoWheel(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR /*id*/,
                         DWORD_PTR /*data*/) {
  if (message == WM_MOUSEWHEEL || message == WM_MOUSEHWHEEL) return 0;
  return ::DefSubclassProc(window, message, wParam, lParam);
}

bool KeyDown(const MSG& msg) { return msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN; }

}  // namespace

OpenCompanyDialog::OpenCompanyDialog(company::Settings& settings, ui::Dialogs& dialogs, HWND owner)
    : settings_(settings), dialogs_(dialogs), selection_(settings, dialogs, *this) {
  Create(owner, L"Select Directory", kFixedDialogStyle);
  SetClientSize(kClientWidth, kClientHeight);

  AddControl(L"BUTTON", Caption("เลือกแฟ้มข้อมูลกิจการ"), BS_GROUPBOX, 0, 0, 10, 10, kGroupId);
  HWND grid = AddControl(WC_LISTVIEWW, L"",
                         LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | LVS_OWNERDATA | WS_TABSTOP |
                             WS_GROUP,
                         0, 0, 10, 10, kGridId, nullptr, WS_EX_CLIENTEDGE);
  ListView_SetExtendedListViewStyle(grid, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  // The rows are as high as the small images: a one-pixel-wide list of the row height.
  HIMAGELIST rows = ImageList_Create(1, S(kRowHeight), ILC_COLOR32, 1, 0);
  ListView_SetImageList(grid, rows, LVSIL_SMALL);
  const std::wstring nameHeader = Caption("ชื่อกิจการ");
  const std::wstring directoryHeader = Caption("แฟ้มข้อมูล");
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
  column.fmt = LVCFMT_LEFT;
  column.cx = S(company::kDefaultNameColumnWidth);
  column.pszText = const_cast<wchar_t*>(nameHeader.c_str());
  ListView_InsertColumn(grid, 0, &column);
  column.cx = S(300);
  column.pszText = const_cast<wchar_t*>(directoryHeader.c_str());
  ListView_InsertColumn(grid, 1, &column);
  // The header captions are centred (the cells stay left-aligned).
  HWND header = ListView_GetHeader(grid);
  for (int i = 0; i < 2; ++i) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    Header_GetItem(header, i, &item);
    item.fmt = (item.fmt & ~HDF_JUSTIFYMASK) | HDF_CENTER;
    Header_SetItem(header, i, &item);
  }
  ListView_SetItemCountEx(grid, kCompanyRows, LVSICF_NOINVALIDATEALL);
  ::SetWindowSubclass(grid, NoWheel, 1, 0);

  AddControl(L"BUTTON", Caption("เลือกกิจการนี้โดยอัตโนมัติทุกครั้ง"), BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP, 0, 0,
             10, 10, kAutoSelectId);
  AddControl(L"BUTTON", Caption("เลือก"), BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, 0, 75, 25, IDOK);
  AddControl(L"BUTTON", Caption("แก้ไข"), BS_PUSHBUTTON | WS_TABSTOP, 0, 0, 75, 25, kEditId);
  AddControl(L"BUTTON", Caption("ออก"), BS_PUSHBUTTON | WS_TABSTOP, 0, 0, 75, 25, IDCANCEL);
  SetDefaultButton(IDOK);
  LayOut(S(kClientWidth), S(kClientHeight));
  SetCurrentRow(1);
}

OpenCompanyDialog::~OpenCompanyDialog() {
  while (busy_ > 0) SetBusy(false);
  if (HWND grid = Grid()) {
    ::RemoveWindowSubclass(grid, NoWheel, 1);
    if (HIMAGELIST rows = ListView_GetImageList(grid, LVSIL_SMALL)) ImageList_Destroy(rows);
  }
}

void OpenCompanyDialog::LayOut(int width, int height) {
  // The list takes what the window has; the check box and the buttons keep their place
  // at the bottom, the buttons at the right.
  const int buttonTop = height - S(35);
  Place(Item(kGroupId), S(8), S(4), width - S(16), buttonTop - S(14));
  Place(Grid(), S(18), S(26), width - S(36), std::max(S(kRowHeight) * 2, buttonTop - S(10) - S(30) - S(26)));
  Place(Item(kAutoSelectId), S(18), buttonTop - S(40), std::min(width - S(36), S(420)), S(22));
  Place(Item(IDCANCEL), width - S(82), buttonTop, S(75), S(25));
  Place(Item(kEditId), width - S(163), buttonTop, S(75), S(25));
  Place(SelectButton(), width - S(244), buttonTop, S(75), S(25));
  StretchLastColumn();
}

void OpenCompanyDialog::FitClient(int maxWidth, int maxHeight) {
  RECT client{};
  ::GetClientRect(hwnd(), &client);
  const int width = std::min<int>(client.right, maxWidth);
  const int height = std::min<int>(client.bottom, maxHeight);
  SetDeviceClientSize(width, height);
  LayOut(width, height);
}

void OpenCompanyDialog::StretchLastColumn() {
  HWND grid = Grid();
  RECT client{};
  ::GetClientRect(grid, &client);
  const int rest = std::max(S(20), static_cast<int>(client.right) - ListView_GetColumnWidth(grid, 0));
  if (ListView_GetColumnWidth(grid, 1) != rest) ListView_SetColumnWidth(grid, 1, rest);
}

template <class F>
void OpenCompanyDialog::Guarded(F&& command) {
  if (failure_) return;
  try {
    command();
  } catch (...) {
    failure_ = std::current_exception();
    if (InModal()) EndDialog(IDCANCEL);
  }
}

// ---- CompanyView ---------------------------------------------------------------------

int OpenCompanyDialog::CurrentRow() const {
  const int index = ListView_GetNextItem(Grid(), -1, LVNI_FOCUSED);
  return index >= 0 ? index + 1 : 1;
}

void OpenCompanyDialog::SetCurrentRow(int row) {
  row = std::clamp(row, 1, kCompanyRows);
  HWND grid = Grid();
  ListView_SetItemState(grid, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_SetItemState(grid, row - 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_EnsureVisible(grid, row - 1, FALSE);
}

int OpenCompanyDialog::TopRow() const { return ListView_GetTopIndex(Grid()) + 1; }

void OpenCompanyDialog::SetTopRow(int row) {
  row = std::clamp(row, 1, kCompanyRows);
  HWND grid = Grid();
  // A row that shows with every row above it is shown so: the list is not scrolled for
  // nothing, hiding the companies above the remembered one.
  if (row <= ListView_GetCountPerPage(grid)) row = 1;
  RECT item{};
  ListView_GetItemRect(grid, 0, &item, LVIR_BOUNDS);
  const int rowHeight = std::max(1, static_cast<int>(item.bottom - item.top));
  ListView_Scroll(grid, 0, (row - TopRow()) * rowHeight);
}

int OpenCompanyDialog::NameColumnWidth() const {
  // Kept in KORVA.CFG in pixels at 100 %, whatever the screen's scale.
  return MulDiv(ListView_GetColumnWidth(Grid(), 0), 96, static_cast<int>(dpi()));
}

void OpenCompanyDialog::SetNameColumnWidth(int width) {
  ListView_SetColumnWidth(Grid(), 0, S(width));
  StretchLastColumn();
}

bool OpenCompanyDialog::AutoSelectChecked() const {
  return ::IsDlgButtonChecked(hwnd(), kAutoSelectId) == BST_CHECKED;
}

void OpenCompanyDialog::SetAutoSelectChecked(bool checked) {
  ::CheckDlgButton(hwnd(), kAutoSelectId, checked ? BST_CHECKED : BST_UNCHECKED);
}

void OpenCompanyDialog::Refresh() {
  ::InvalidateRect(Grid(), nullptr, TRUE);
  UpdateSelectButton();
}

void OpenCompanyDialog::SetBusy(bool busy) {
  if (busy) {
    ++busy_;
    ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
  } else if (busy_ > 0) {
    if (--busy_ == 0) ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
  }
}

bool OpenCompanyDialog::RunEntryEditor(std::string& name, std::string& directory) {
  bool ok = false;
  {
    OpenCompanyEditDialog editor(name, directory, dialogs_, hwnd());
    ok = editor.Run();
    if (ok) {
      name = editor.Name();
      directory = editor.Directory();
    }
  }
  TakeFocusBack();
  return ok;
}

bool OpenCompanyDialog::RunTemplateEditor(std::string& templateDir) {
  bool ok = false;
  {
    ReportTemplateDialog editor(templateDir, company::DefaultTemplateDirectory(settings_), dialogs_, hwnd());
    ok = editor.Run();
    if (ok) templateDir = editor.TemplateDirectory();
  }
  TakeFocusBack();
  return ok;
}

void OpenCompanyDialog::TakeFocusBack() {
  ::SetActiveWindow(hwnd());
  FocusControl(Grid());
}

bool OpenCompanyDialog::RunModal() {
  failure_ = nullptr;
  closed_ = false;
  const int result = DialogWindow::RunModal();
  ready_ = false;
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  return result == IDOK;
}

// ---- The window's life -----------------------------------------------------------------

void OpenCompanyDialog::OnShow() {
  // The colour scheme is current now: the list, and the settings with it, were read
  // before the window is shown.
  band_ = static_cast<COLORREF>(company::GridBandColour(settings_));
  PlaceDialog(*this);
  // The rest once the window stands on the screen, so an editor opened at once for an
  // empty list appears over it.
  ::PostMessageW(hwnd(), kFormShowMessage, 0, 0);
}

void OpenCompanyDialog::FormShow() {
  if (!InModal() || closed_) return;
  Guarded([this] {
    if (!selection_.Show()) {
      EndDialog(IDCANCEL);
      return;
    }
    UpdateSelectButton();
    FocusControl(Grid());
    ready_ = true;
  });
}

void OpenCompanyDialog::EndDialog(int result) {
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
  EndModal(result);
}

void OpenCompanyDialog::OnCancel() { EndDialog(IDCANCEL); }

void OpenCompanyDialog::OnCommand(int id, int code, HWND /*control*/) {
  switch (id) {
    case IDOK: RunCommand(desktop::CompanyCommand::kSelect); break;
    case kEditId: RunCommand(desktop::CompanyCommand::kEdit); break;
    case kAutoSelectId:
      if (code == BN_CLICKED) selection_.AutoSelectClicked();
      break;
    default: break;
  }
}

namespace {

UINT VirtualKeyOf(desktop::CommandKey key) {
  switch (key) {
    case desktop::CommandKey::kEnter: return VK_RETURN;
    case desktop::CommandKey::kF5: return VK_F5;
    case desktop::CommandKey::kF7: return VK_F7;
    case desktop::CommandKey::kF8: return VK_F8;
    case desktop::CommandKey::kF9: return VK_F9;
    case desktop::CommandKey::kF10: return VK_F10;
    case desktop::CommandKey::kInsert: return VK_INSERT;
    case desktop::CommandKey::kDelete: return VK_DELETE;
    case desktop::CommandKey::kNone: break;
  }
  return 0;
}

struct KeyCommand {
  UINT key;
  desktop::CompanyCommand command;
};

// The command table's keys as virtual keys, built once.
const std::vector<KeyCommand>& KeyTable() {
  static const std::vector<KeyCommand> table = [] {
    std::vector<KeyCommand> keys;
    for (const desktop::CompanyCommandEntry& entry : desktop::CompanyCommands()) {
      for (const desktop::CommandKey key : entry.keys) {
        if (key != desktop::CommandKey::kNone) keys.push_back({VirtualKeyOf(key), entry.command});
      }
    }
    return keys;
  }();
  return table;
}

}  // namespace

void OpenCompanyDialog::RunCommand(desktop::CompanyCommand command) {
  if (closed_) return;
  Guarded([this, command] {
    switch (command) {
      case desktop::CompanyCommand::kSelect:
        if (selection_.Select()) EndDialog(IDOK);
        break;
      case desktop::CompanyCommand::kEdit: selection_.Edit(); break;
      case desktop::CompanyCommand::kInsert: selection_.Insert(); break;
      case desktop::CompanyCommand::kDelete: selection_.Delete(); break;
      case desktop::CompanyCommand::kMoveUp: selection_.MoveUp(); break;
      case desktop::CompanyCommand::kMoveDown: selection_.MoveDown(); break;
      case desktop::CompanyCommand::kTemplate: selection_.ReportTemplate(); break;
      case desktop::CompanyCommand::kUndoLast:
        // The list closes (saved as after any close); the main window runs the undo and
        // the list shows again.
        menuChoice_ = desktop::UndoChoiceFor(selection_.Row(CurrentRow()).directory, dialogs_);
        if (menuChoice_.FromMenu()) EndDialog(IDCANCEL);
        break;
      case desktop::CompanyCommand::kOpenLastReport:
        desktop::OpenLatestReport(selection_.Row(CurrentRow()).directory, dialogs_);
        break;
      case desktop::CompanyCommand::kCheck:
        // As the undo: the main window runs the check, then the list shows again.
        menuChoice_ = desktop::CheckChoiceFor(selection_.Row(CurrentRow()).directory, dialogs_);
        if (menuChoice_.FromMenu()) EndDialog(IDCANCEL);
        break;
    }
  });
  if (!closed_) Refresh();
}

bool OpenCompanyDialog::PreTranslate(MSG& msg) {
  if (!KeyDown(msg)) return false;
  const bool shift = ::GetKeyState(VK_SHIFT) < 0;
  if (::GetKeyState(VK_CONTROL) < 0 || ::GetKeyState(VK_MENU) < 0) return false;
  switch (msg.wParam) {
    case VK_RETURN:
      // Enter on a focused "แก้ไข" or "ออก" presses that button; anywhere else it is "เลือก".
      if (::GetFocus() != SelectButton() && ClickFocusedButton()) return true;
      RunCommand(desktop::CompanyCommand::kSelect);
      return true;
    case VK_F10:
      if (shift) {
        PopupMenu({0, 0}, true);
        return true;
      }
      break;
    case VK_APPS:
      PopupMenu({0, 0}, true);
      return true;
    default: break;
  }
  // The keys of the command table work wherever the focus is in the window.
  for (const KeyCommand& key : KeyTable()) {
    if (key.key == msg.wParam) {
      RunCommand(key.command);
      return true;
    }
  }
  return false;
}

void OpenCompanyDialog::PopupMenu(POINT at, bool keyboard) {
  if (!ready_) return;
  HWND grid = Grid();
  if (keyboard) {
    RECT cell{};
    const int index = CurrentRow() - 1;
    if (ListView_GetItemRect(grid, index, &cell, LVIR_LABEL)) {
      at = {(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2};
    } else {
      at = {0, 0};
    }
    ::ClientToScreen(grid, &at);
  }
  // The menu's enabling describes the current row; the keys keep working for every row
  // (the commands themselves decide what a row allows).
  const company::CompanyEntry& e = selection_.Row(CurrentRow());
  const desktop::RowState row = desktop::RowStateOf(e.directory);
  HMENU menu = ::CreatePopupMenu();
  menuCommands_.clear();
  for (const desktop::CompanyCommandEntry& entry : desktop::CompanyCommands()) {
    if (entry.separatorBefore) {
      ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      menuCommands_.push_back(-1);
    }
    const UINT enabled = desktop::EnabledFor(entry, row) ? MF_ENABLED : MF_GRAYED;
    const UINT checked = e.templateDir.empty() ? MF_UNCHECKED : MF_CHECKED;
    const UINT flags = MF_STRING | enabled | (entry.checkedForTemplate ? checked : 0u);
    std::wstring text = FromCp874(desktop::MenuCaption(entry, !e.HasNameOrDirectory(), row));
    if (entry.keys[0] != desktop::CommandKey::kNone) text += L"\t" + Caption(desktop::KeyText(entry.keys[0]));
    ::AppendMenuW(menu, flags, static_cast<UINT_PTR>(kMenuIdBase + static_cast<int>(entry.command)), text.c_str());
    menuCommands_.push_back(static_cast<int>(entry.command));
  }
  ::SetMenuDefaultItem(menu, kMenuIdBase + static_cast<int>(desktop::CompanyCommand::kSelect), FALSE);
  const int chosen = static_cast<int>(
      ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN, at.x, at.y, 0, hwnd(), nullptr));
  ::DestroyMenu(menu);
  const int index = chosen - kMenuIdBase;
  if (chosen != 0 && index >= 0 && static_cast<size_t>(index) < desktop::CompanyCommands().size()) {
    RunCommand(static_cast<desktop::CompanyCommand>(index));
  }
}

LRESULT OpenCompanyDialog::CustomDraw(LPARAM lParam) {
  auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
  switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT: return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
      // The draw record in member order: its fifth member is the index of the item drawn.
      const auto& [header, stage, dc, bounds, item, itemState, itemParam] = draw->nmcd;
      const int row = static_cast<int>(item) + 1;
      // Rows alternate between the colour scheme's band colour and the window colour;
      // the remembered row is bold.
      draw->clrTextBk = (row % 2 == 1) ? band_ : ::GetSysColor(COLOR_WINDOW);
      draw->clrText = ::GetSysColor(COLOR_WINDOWTEXT);
      if (row == selection_.RememberedRow()) {
        ::SelectObject(draw->nmcd.hdc, Font(15, true));
        return CDRF_NEWFONT;
      }
      return CDRF_DODEFAULT;
    }
    default: return CDRF_DODEFAULT;
  }
}

bool OpenCompanyDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  switch (message) {
    case kFormShowMessage:
      FormShow();
      result = TRUE;
      return true;
    case kStretchMessage:
      StretchLastColumn();
      result = TRUE;
      return true;
    case WM_MENUCHAR: {
      // A letter the menu did not match (the Thai layout's letter on the U, O or K key):
      // the item of that access letter, if the menu offers it.
      const char letter = desktop::AccessLetterOfCharacter(static_cast<char32_t>(LOWORD(wParam)));
      for (size_t i = 0; letter != 0 && i < menuCommands_.size(); ++i) {
        if (menuCommands_[i] < 0) continue;
        const auto& entry = desktop::CompanyCommandOf(static_cast<desktop::CompanyCommand>(menuCommands_[i]));
        if (desktop::AccessLetterOf(entry) != letter) continue;
        result = MAKELRESULT(i, MNC_EXECUTE);
        return true;
      }
      result = MAKELRESULT(0, MNC_IGNORE);
      return true;
    }
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wParam) == Grid()) {
        const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        PopupMenu(at, lParam == -1);
        result = TRUE;
        return true;
      }
      return false;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->hwndFrom == ListView_GetHeader(Grid())) {
        // The name column was resized: the directory column fills the rest.
        if (header->code == HDN_ITEMCHANGEDW || header->code == HDN_ITEMCHANGEDA || header->code == HDN_ENDTRACKW ||
            header->code == HDN_ENDTRACKA) {
          ::PostMessageW(hwnd(), kStretchMessage, 0, 0);
        }
        return false;
      }
      if (header->idFrom != kGridId) return false;
      switch (header->code) {
        case LVN_GETDISPINFOW: {
          auto* info = reinterpret_cast<NMLVDISPINFOW*>(lParam);
          if ((info->item.mask & LVIF_TEXT) && info->item.pszText && info->item.cchTextMax > 0) {
            const company::CompanyEntry& e = selection_.Row(info->item.iItem + 1);
            cellText_ = FromCp874(info->item.iSubItem == 0 ? e.name : e.directory);
            ::lstrcpynW(info->item.pszText, cellText_.c_str(), info->item.cchTextMax);
          }
          result = 0;
          return true;
        }
        case LVN_ITEMCHANGED:
          UpdateSelectButton();
          return false;
        case NM_DBLCLK: {
          const auto* activate = reinterpret_cast<const NMITEMACTIVATE*>(lParam);
          if (activate->iItem >= 0) RunCommand(desktop::CompanyCommand::kSelect);
          result = 0;
          return true;
        }
        case NM_CUSTOMDRAW:
          result = CustomDraw(lParam);
          return true;
        default: return false;
      }
    }
    default: return DialogWindow::HandleMessage(message, wParam, lParam, result);
  }
}

void OpenCompanyDialog::UpdateSelectButton() { ::EnableWindow(SelectButton(), selection_.SelectEnabled()); }

}  // namespace kv::gui
