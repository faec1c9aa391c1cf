// The company choice at start-up, the same in both desktop programs: the front end's
// company window with the automatic choice suppressed.
#pragma once

#include <string>

#include "company/Settings.h"
#include "ui/Dialogs.h"

namespace kv::desktop {

// Creates a `CompanyWindow` (the front end's OpenCompanyDialog), sets suppressAutoSelect,
// runs SelectCompany and destroys the window. Returns SelectedDirectory (CP874) when a
// company was chosen, else empty.
template <class CompanyWindow>
std::string SelectCompanyDirectoryWith(company::Settings& settings, ui::Dialogs& dialogs) {
  CompanyWindow window(settings, dialogs);
  window.Selection().suppressAutoSelect = true;
  if (!window.SelectCompany()) return {};
  return window.Selection().SelectedDirectory();
}

}  // namespace kv::desktop
