#include "gui-qt/SelectCompany.h"

#include "desktop/SelectCompany.h"
#include "gui-qt/OpenCompanyDialog.h"

namespace kv::gui {

desktop::CompanyChoice ChooseCompany(company::Settings& settings, ui::Dialogs& dialogs) {
  return desktop::SelectCompanyDirectoryWith<OpenCompanyDialog>(settings, dialogs);
}

std::string SelectCompanyDirectory(company::Settings& settings, ui::Dialogs& dialogs) {
  const desktop::CompanyChoice choice = ChooseCompany(settings, dialogs);
  return choice.FromMenu() ? std::string() : choice.directory;
}

}  // namespace kv::gui
