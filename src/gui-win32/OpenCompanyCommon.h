// What the company selection windows share: the fixed frame, the buttons of the two edit
// dialogs (company entry and report template), the path field and the folder browser.
#pragma once

#include <string>

#include "gui-win32/DialogWindow.h"
#include "ui/Dialogs.h"

namespace kv::gui {

// A fixed-size dialog in "Tahoma" 15 px with a title bar and a close box, no minimise or
// maximise.
constexpr DWORD kFixedDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;

// The ids of the edit dialogs' buttons: "..." browses, "ตกลง" (OK, the default button,
// also F10), "ยกเลิก" (Cancel, also Esc).
constexpr int kBrowseId = 200;

// The field's text.
std::wstring FieldText(HWND field);

// The field's path in CP874, made a full path (a typed relative one is taken from the
// current directory, and the field shows what will be stored); when CP874 cannot hold it,
// says so with an error message and returns false (the dialog stays open as it is).
bool TakePathField(HWND field, ui::Dialogs& dialogs, std::string& cp874);

// Asks for a directory with the system's folder browser, starting at the field's text;
// a choice replaces the text.
void BrowseForDirectory(HWND owner, const std::wstring& title, HWND field);

}  // namespace kv::gui
