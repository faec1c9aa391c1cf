#include "gui-win32/OpenCompanyCommon.h"

#include <shobjidl.h>

#include "company/CompanyList.h"
#include "gui-win32/WinText.h"
#include "platform/Cp874.h"
#include "platform/Path.h"

namespace kv::gui {

std::wstring FieldText(HWND field) {
  const int length = ::GetWindowTextLengthW(field);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  ::GetWindowTextW(field, text.data(), length + 1);
  text.resize(static_cast<size_t>(length));
  return text;
}

bool TakePathField(HWND field, ui::Dialogs& dialogs, std::string& cp874) {
  if (PathFromWindow(FieldText(field), cp874)) {
    if (!cp874.empty() && !platform::IsAbsolutePath(cp874)) {
      cp874 = company::FullDirectoryPath(cp874);
      ::SetWindowTextW(field, FromCp874(cp874).c_str());
    }
    return true;
  }
  dialogs.ShowError(platform::Th("ชื่อไดเร็คทอรี่มีตัวอักษรที่เก็บในรหัสภาษาไทย 874 ไม่ได้ กรุณาเลือกไดเร็คทอรี่อื่น"));
  return false;
}

void BrowseForDirectory(HWND owner, const std::wstring& title, HWND field) {
  IFileDialog* dialog = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)))) return;
  DWORD options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
  dialog->SetTitle(title.c_str());
  const std::wstring start = FieldText(field);
  IShellItem* folder = nullptr;
  if (!start.empty() && SUCCEEDED(::SHCreateItemFromParsingName(start.c_str(), nullptr, IID_PPV_ARGS(&folder)))) {
    dialog->SetFolder(folder);
    folder->Release();
  }
  if (SUCCEEDED(dialog->Show(owner))) {
    IShellItem* chosen = nullptr;
    if (SUCCEEDED(dialog->GetResult(&chosen))) {
      PWSTR path = nullptr;
      if (SUCCEEDED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) {
        ::SetWindowTextW(field, path);
        ::CoTaskMemFree(path);
      }
      chosen->Release();
    }
  }
  dialog->Release();
}

}  // namespace kv::gui
