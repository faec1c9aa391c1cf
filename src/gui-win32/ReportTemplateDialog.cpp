#include "gui-win32/ReportTemplateDialog.h"

#include "company/CompanyList.h"
#include "gui-win32/OpenCompanyCommon.h"
#include "gui-win32/PlaceDialog.h"
#include "gui-win32/WinText.h"

namespace kv::gui {

ReportTemplateDialog::ReportTemplateDialog(const std::string& templateDir, const std::string& defaultDir,
                                           ui::Dialogs& dialogs, HWND owner)
    : dialogs_(dialogs) {
  Create(owner, L"Report Template", kFixedDialogStyle);
  SetClientSize(491, 158);
  AddControl(L"BUTTON", Caption("กำหนดเท็มเพลตรายงาน"), BS_GROUPBOX, 8, 6, 475, 110, 0);
  AddControl(L"BUTTON", Caption("ค่าปกติที่โปรแกรมกำหนดไว้"), BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 20, 30, 300,
             22, kDefaultId);
  AddControl(L"BUTTON", Caption("กำหนดเอง:"), BS_AUTORADIOBUTTON, 20, 66, 104, 22, kCustomId);
  AddControl(L"EDIT", L"", ES_AUTOHSCROLL | WS_GROUP | WS_TABSTOP, 126, 64, 314, 24, kDirectoryId, nullptr,
             WS_EX_CLIENTEDGE);
  AddControl(L"BUTTON", L"...", BS_PUSHBUTTON | WS_TABSTOP, 444, 64, 28, 24, kBrowseId);
  AddControl(L"BUTTON", Caption("ตกลง"), BS_DEFPUSHBUTTON | WS_TABSTOP, 322, 125, 75, 25, IDOK);
  AddControl(L"BUTTON", Caption("ยกเลิก"), BS_PUSHBUTTON | WS_TABSTOP, 403, 125, 75, 25, IDCANCEL);
  SetDefaultButton(IDOK);

  const bool custom = !templateDir.empty();
  ::CheckRadioButton(hwnd(), kDefaultId, kCustomId, custom ? kCustomId : kDefaultId);
  ::SetWindowTextW(DirectoryField(), FromCp874(custom ? templateDir : defaultDir).c_str());
  ChoiceChanged();
}

bool ReportTemplateDialog::CustomChosen() const { return ::IsDlgButtonChecked(hwnd(), kCustomId) == BST_CHECKED; }

std::string ReportTemplateDialog::TemplateDirectory() const {
  return CustomChosen() ? ToCp874(FieldText(DirectoryField())) : std::string();
}

void ReportTemplateDialog::ChoiceChanged() {
  ::EnableWindow(DirectoryField(), CustomChosen());
  ::EnableWindow(Item(kBrowseId), CustomChosen());
}

void ReportTemplateDialog::OnShow() {
  PlaceDialog(*this);
  FocusControl(CustomChosen() ? DirectoryField() : DefaultButton());
}

void ReportTemplateDialog::OnCommand(int id, int code, HWND /*control*/) {
  switch (id) {
    case IDOK: Btn_OkClick(); break;
    case kBrowseId: Btn_BrowseClick(); break;
    case kDefaultId:
    case kCustomId:
      if (code == BN_CLICKED) ChoiceChanged();
      break;
    default: break;
  }
}

bool ReportTemplateDialog::PreTranslate(MSG& msg) {
  if ((msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) && msg.wParam == VK_F10 &&
      ::GetKeyState(VK_SHIFT) >= 0) {
    Btn_OkClick();
    return true;
  }
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN) return ClickFocusedButton();
  return false;
}

void ReportTemplateDialog::Btn_OkClick() {
  if (!CustomChosen()) {
    EndModal(IDOK);
    return;
  }
  std::string directory;
  if (TakePathField(DirectoryField(), dialogs_, directory) && company::ValidateTemplateDirectory(directory, dialogs_)) {
    EndModal(IDOK);
  }
}

void ReportTemplateDialog::Btn_BrowseClick() {
  BrowseForDirectory(hwnd(), Caption("กำหนดเท็มเพลตรายงาน"), DirectoryField());
}

}  // namespace kv::gui
