// The company choice at start-up, the same in both desktop programs: the front end's
// company window with the automatic choice suppressed.
#pragma once

#include <string>

#include "company/Settings.h"
#include "desktop/DesktopRun.h"
#include "ui/Dialogs.h"

namespace kv::desktop {

// Creates a `CompanyWindow` (the front end's OpenCompanyDialog), sets suppressAutoSelect,
// runs SelectCompany and destroys the window. Returns SelectedDirectory (CP874) when a
// company was chosen, the undo its menu asked for, else nothing.
template <class CompanyWindow>
CompanyChoice SelectCompanyDirectoryWith(company::Settings& settings, ui::Dialogs& dialogs) {
  CompanyWindow window(settings, dialogs);
  window.Selection().suppressAutoSelect = true;
  if (!window.SelectCompany()) return window.MenuChoice();
  return CompanyChoice(window.Selection().SelectedDirectory());
}

}  // namespace kv::desktop
