#include "gui-win32/CheckFindingsDialog.h"

#include <commctrl.h>

#include <cstring>
#include <string>

#include "desktop/Layouts.h"
#include "gui-win32/MessageDialogs.h"
#include "gui-win32/OpenCompanyCommon.h"
#include "gui-win32/WinText.h"

namespace kv::gui {

CheckFindingsDialog::CheckFindingsDialog(const desktop::CheckListing& listing, HWND owner) : listing_(listing) {
  Create(owner, Caption(desktop::kCheckWindowTitle), kFixedDialogStyle);
  SetClientSize(desktop::kCheckWindowWidth, desktop::kCheckWindowHeight);
  const desktop::CheckWindowLayout layout = desktop::LayOutCheckWindow(static_cast<int>(dpi()));
  Place(AddControl(L"STATIC", FromCp874(desktop::CheckCountText(listing)), SS_LEFT | SS_NOPREFIX, 0, 0, 10, 10,
                   kCountId),
        layout.count);
  HWND list = AddControl(WC_LISTVIEWW, L"",
                         LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | WS_TABSTOP | WS_GROUP, 0, 0,
                         10, 10, kListId, nullptr, WS_EX_CLIENTEDGE);
  Place(list, layout.list);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  for (int i = 0; i < 4; ++i) {
    const std::wstring heading = Caption(desktop::kCheckHeadings[static_cast<size_t>(i)]);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = LVCFMT_LEFT;
    column.cx = layout.columns[static_cast<size_t>(i)];
    column.pszText = const_cast<wchar_t*>(heading.c_str());
    ListView_InsertColumn(list, i, &column);
  }
  int row = 0;
  for (const app::CheckFinding& finding : listing.findings) {
    const auto cells = desktop::CheckCells(finding);
    for (int i = 0; i < 4; ++i) {
      std::wstring text = FromCp874(cells[static_cast<size_t>(i)]);
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = row;
      item.iSubItem = i;
      item.pszText = text.data();
      if (i == 0) {
        ListView_InsertItem(list, &item);
      } else {
        ListView_SetItem(list, &item);
      }
    }
    ++row;
  }
  // The text column as wide as its longest text (a scroll bar then reaches it), at
  // least to the list's edge.
  ListView_SetColumnWidth(list, 3, LVSCW_AUTOSIZE);
  if (ListView_GetColumnWidth(list, 3) < layout.columns[3]) ListView_SetColumnWidth(list, 3, layout.columns[3]);
  if (row > 0) ListView_SetItemState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  HWND copy = AddControl(L"BUTTON", Caption(desktop::kCheckCopyCaption), BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, 0,
                         10, 10, kCopyId);
  Place(copy, layout.copy);
  ::EnableWindow(copy, row > 0);
  Place(AddControl(L"BUTTON", Caption(desktop::kCheckCloseCaption), BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 0, 10, 10,
                   IDCANCEL),
        layout.close);
  SetDefaultButton(IDCANCEL);
}

void CheckFindingsDialog::OnShow() { FocusControl(Item(kListId)); }

void CheckFindingsDialog::OnCommand(int id, int /*code*/, HWND /*control*/) {
  if (id == kCopyId) Copy();
}

bool CheckFindingsDialog::PreTranslate(MSG& msg) {
  // C (Alt+C, or the Thai letter on its key) from the list too, which would otherwise
  // take the letter for its type-ahead search; Enter closes as "ปิด".
  if (ClickByAccessKey(msg, hwnd(), 'C', kCopyId)) return true;
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN) {
    if (ClickFocusedButton()) return true;
    EndModal(IDCANCEL);
    return true;
  }
  return false;
}

void CheckFindingsDialog::Copy() {
  const std::wstring text = FromCp874(desktop::CheckClipboardText(listing_, "\r\n"));
  if (!::OpenClipboard(hwnd())) return;
  ::EmptyClipboard();
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    if (void* at = ::GlobalLock(memory)) {
      std::memcpy(at, text.c_str(), bytes);
      ::GlobalUnlock(memory);
      if (!::SetClipboardData(CF_UNICODETEXT, memory)) ::GlobalFree(memory);
    } else {
      ::GlobalFree(memory);
    }
  }
  ::CloseClipboard();
}

}  // namespace kv::gui
