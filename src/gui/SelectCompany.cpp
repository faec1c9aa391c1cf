// Placeholder until the selection dialog lands.
#include "gui/SelectCompany.h"

namespace kv::gui {

std::string SelectCompanyDirectory(company::Settings&, ui::Dialogs&) { return {}; }

}  // namespace kv::gui
