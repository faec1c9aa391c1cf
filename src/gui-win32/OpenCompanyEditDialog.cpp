#include "gui-win32/OpenCompanyEditDialog.h"

#include "company/CompanyList.h"
#include "gui-win32/OpenCompanyCommon.h"
#include "gui-win32/PlaceDialog.h"
#include "gui-win32/WinText.h"
#include "platform/Cp874.h"

namespace kv::gui {

OpenCompanyEditDialog::OpenCompanyEditDialog(const std::string& name, const std::string& directory,
                                             ui::Dialogs& dialogs, HWND owner)
    : dialogs_(dialogs) {
  Create(owner, L"Edit Company", kFixedDialogStyle);
  SetClientSize(494, 150);
  AddControl(L"STATIC", Caption("ชื่อกิจการ:"), SS_LEFT | SS_NOPREFIX, 12, 16, 170, 20, 0);
  HWND nameField = AddControl(L"EDIT", FromCp874(name), ES_AUTOHSCROLL | WS_TABSTOP, 186, 12, 296, 24, kNameId,
                              nullptr, WS_EX_CLIENTEDGE);
  ::SendMessageW(nameField, EM_LIMITTEXT, kNameLength, 0);
  AddControl(L"STATIC", Caption("ไดเร็คทอรี่ของแฟ้มข้อมูล:"), SS_LEFT | SS_NOPREFIX, 12, 52, 170, 20, 0);
  AddControl(L"EDIT", FromCp874(directory), ES_AUTOHSCROLL | WS_TABSTOP, 186, 48, 262, 24, kDirectoryId, nullptr,
             WS_EX_CLIENTEDGE);
  AddControl(L"BUTTON", L"...", BS_PUSHBUTTON | WS_TABSTOP, 452, 48, 30, 24, kBrowseId);
  AddControl(L"BUTTON", Caption("ตกลง"), BS_DEFPUSHBUTTON | WS_TABSTOP, 326, 113, 75, 25, IDOK);
  AddControl(L"BUTTON", Caption("ยกเลิก"), BS_PUSHBUTTON | WS_TABSTOP, 407, 113, 75, 25, IDCANCEL);
  SetDefaultButton(IDOK);
}

std::string OpenCompanyEditDialog::Name() const { return ToCp874(FieldText(NameField())); }
std::string OpenCompanyEditDialog::Directory() const { return ToCp874(FieldText(DirectoryField())); }

void OpenCompanyEditDialog::OnShow() {
  PlaceDialog(*this);
  FocusControl(NameField());
}

void OpenCompanyEditDialog::OnCommand(int id, int /*code*/, HWND /*control*/) {
  if (id == IDOK) Btn_OkClick();
  if (id == kBrowseId) Btn_BrowseClick();
}

bool OpenCompanyEditDialog::PreTranslate(MSG& msg) {
  if ((msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) && msg.wParam == VK_F10 &&
      ::GetKeyState(VK_SHIFT) >= 0) {
    Btn_OkClick();
    return true;
  }
  // Enter presses the focused button ("ยกเลิก" cancels, "..." browses); from a text
  // field it presses the default "ตกลง".
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN) return ClickFocusedButton();
  return false;
}

void OpenCompanyEditDialog::Btn_OkClick() {
  // The name is stored in CP874 as the suite shows it: a letter it cannot hold would
  // become "?" unseen.
  std::string name;
  if (!ToCp874Exact(FieldText(NameField()), name)) {
    dialogs_.ShowError(platform::Th("ชื่อกิจการมีตัวอักษรที่เก็บในรหัสภาษาไทย 874 ไม่ได้ กรุณาแก้ไขชื่อ"));
    FocusControl(NameField());
    return;
  }
  std::string directory;
  if (TakePathField(DirectoryField(), dialogs_, directory) && company::ValidateEntryDirectory(directory, dialogs_)) {
    EndModal(IDOK);
  }
}

void OpenCompanyEditDialog::Btn_BrowseClick() {
  BrowseForDirectory(hwnd(), Caption("ไดเร็คทอรี่ของแฟ้มข้อมูล"), DirectoryField());
}

}  // namespace kv::gui
