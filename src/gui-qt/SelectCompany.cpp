#include "gui-qt/SelectCompany.h"

#include "desktop/SelectCompany.h"
#include "gui-qt/OpenCompanyDialog.h"

namespace kv::gui {

std::string SelectCompanyDirectory(company::Settings& settings, ui::Dialogs& dialogs) {
  return desktop::SelectCompanyDirectoryWith<OpenCompanyDialog>(settings, dialogs);
}

}  // namespace kv::gui
