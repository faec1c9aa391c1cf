#include "desktop/Reports.h"

#include "platform/Cp874.h"

namespace kv::desktop {
namespace {

ViewerFunction viewerFunction = &platform::OpenInViewer;

}  // namespace

std::string ReportLabel() { return platform::Th("รายงานการแก้ไข: "); }

bool OpenReport(ui::Dialogs& dialogs, const std::string& path) {
  switch (viewerFunction(path)) {
    case platform::ViewerResult::kOpened:
      return true;
    case platform::ViewerResult::kNotFound:
      dialogs.ShowError(platform::Th("ไม่พบแฟ้มรายงาน ") + path);
      return false;
    case platform::ViewerResult::kNoViewer:
      break;
  }
  dialogs.ShowError(platform::Th("ไม่มีโปรแกรมที่เปิดแฟ้มรายงานได้ กรุณาเปิดแฟ้มเอง: ") + path);
  return false;
}

ViewerFunction SetViewer(ViewerFunction viewer) {
  const ViewerFunction before = viewerFunction;
  viewerFunction = viewer ? viewer : &platform::OpenInViewer;
  return before;
}

}  // namespace kv::desktop
