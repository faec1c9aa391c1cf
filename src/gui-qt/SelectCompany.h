// The company choice at start-up: the selection dialog with SuppressAutoSelect set.
//
// The main window chooses the company through this alone, so that the choice at
// start-up works as in the Windows program (both share desktop/SelectCompany.h): the
// dialog is shown with SuppressAutoSelect set and the result is the directory as the
// company list stores it (CP874), never converted here.
#pragma once

#include <string>

#include "company/Settings.h"
#include "desktop/DesktopRun.h"
#include "ui/Dialogs.h"

namespace kv::gui {

// Creates OpenCompanyDialog, sets SuppressAutoSelect, runs SelectCompany and destroys
// the dialog. Returns SelectedDirectory (CP874) when a company was chosen, else empty.
std::string SelectCompanyDirectory(company::Settings& settings, ui::Dialogs& dialogs);
// The same with the undo the list's menu may ask for instead (the program's start-up).
desktop::CompanyChoice ChooseCompany(company::Settings& settings, ui::Dialogs& dialogs);

}  // namespace kv::gui
