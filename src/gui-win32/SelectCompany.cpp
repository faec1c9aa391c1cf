#include "gui-win32/SelectCompany.h"

#include "desktop/SelectCompany.h"
#include "gui-win32/OpenCompanyDialog.h"

namespace kv::gui {

std::string SelectCompanyDirectory(company::Settings& settings, ui::Dialogs& dialogs) {
  return desktop::SelectCompanyDirectoryWith<OpenCompanyDialog>(settings, dialogs);
}

}  // namespace kv::gui
