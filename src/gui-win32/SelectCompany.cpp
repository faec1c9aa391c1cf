#include "gui-win32/SelectCompany.h"

#include "gui-win32/OpenCompanyDialog.h"

namespace kv::gui {

std::string SelectCompanyDirectory(company::Settings& settings, ui::Dialogs& dialogs) {
  OpenCompanyDialog dialog(settings, dialogs);
  dialog.Selection().suppressAutoSelect = true;
  if (!dialog.SelectCompany()) return {};
  return dialog.Selection().SelectedDirectory();
}

}  // namespace kv::gui
