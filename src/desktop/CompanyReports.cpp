#include "desktop/CompanyReports.h"

#include <algorithm>
#include <set>
#include <string_view>
#include <tuple>
#include <vector>

#include "app/Report.h"
#include "app/Undo.h"
#include "desktop/Reports.h"
#include "platform/Cp874.h"
#include "platform/PlainFile.h"
#include "platform/System.h"
#include "ui/NumberText.h"

namespace kv::desktop {
namespace {

// A report's name: <prefix><yyyymmdd>-<hhmmss>[-<n>].LOG, as ReportFileName makes it.
struct ReportName {
  std::string name;
  std::string stamp;  // "yyyymmdd-hhmmss"
  int suffix = 1;
  bool operator<(const ReportName& other) const {
    return std::tie(stamp, suffix, name) < std::tie(other.stamp, other.suffix, other.name);
  }
};

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ParseReportName(std::string_view name, std::string_view prefix, ReportName& out) {
  constexpr std::string_view kExtension = ".LOG";
  if (!name.starts_with(prefix) || !name.ends_with(kExtension)) return false;
  std::string_view rest = name.substr(prefix.size(), name.size() - prefix.size() - kExtension.size());
  if (rest.size() < 15 || !AllDigits(rest.substr(0, 8)) || rest[8] != '-' || !AllDigits(rest.substr(9, 6))) return false;
  int suffix = 1;
  if (rest.size() > 15) {
    const std::string_view tail = rest.substr(15);
    if (tail.size() < 2 || tail.size() > 6 || tail[0] != '-' || !AllDigits(tail.substr(1))) return false;
    suffix = std::stoi(std::string(tail.substr(1)));
  }
  out = {std::string(name), std::string(rest.substr(0, 15)), suffix};
  return true;
}

// The reports of one kind among `names`, newest first.
std::vector<ReportName> ReportsIn(const std::vector<std::string>& names, std::string_view prefix) {
  std::vector<ReportName> reports;
  for (const std::string& name : names) {
    ReportName parsed;
    if (ParseReportName(name, prefix, parsed)) reports.push_back(std::move(parsed));
  }
  std::sort(reports.rbegin(), reports.rend());
  return reports;
}

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == '/' || dir.back() == '\\') return dir + name;
  return dir + "/" + name;
}

// "yyyymmdd-hhmmss" as "dd/mm/yyyy hh:mm:ss".
std::string WhenOf(const std::string& stamp) {
  return stamp.substr(6, 2) + "/" + stamp.substr(4, 2) + "/" + stamp.substr(0, 4) + " " + stamp.substr(9, 2) + ":" +
         stamp.substr(11, 2) + ":" + stamp.substr(13, 2);
}

// The repair reports an undo put back whole: an undo report names its repair report
// in its "UNDO OF" line and ends with COMPLETED when it left nothing.
std::set<std::string> UndoneReports(const std::string& dir, const std::vector<std::string>& names) {
  std::set<std::string> undone;
  for (const ReportName& undo : ReportsIn(names, app::kUndoReportPrefix)) {
    std::string text;
    if (platform::ReadWholeFile(Join(dir, undo.name), text)) continue;
    constexpr std::string_view kOf = "\r\nUNDO OF\t";
    const size_t of = text.find(kOf);
    if (of == std::string::npos || text.find("\r\nEND\tCOMPLETED\r\n") == std::string::npos) continue;
    const size_t start = of + kOf.size();
    const size_t end = text.find("\r\n", start);
    if (end != std::string::npos) undone.insert(text.substr(start, end - start));
  }
  return undone;
}

}  // namespace

bool FindUndoableReport(const std::string& companyDir, UndoableReport& out, std::string& whyNot) {
  const std::vector<std::string> names = platform::FileNamesIn(companyDir);
  // An undo report's name has "UNDO-" where a repair report's has its date: not one.
  const std::vector<ReportName> repairs = ReportsIn(names, app::kRepairReportPrefix);
  if (repairs.empty()) {
    whyNot = platform::Th("ยังไม่มีรายงานการแก้ไขของกิจการนี้");
    return false;
  }
  const std::set<std::string> undone = UndoneReports(companyDir, names);
  for (const ReportName& r : repairs) {
    if (undone.count(r.name) != 0) continue;
    std::string text;
    if (platform::ReadWholeFile(Join(companyDir, r.name), text)) continue;
    app::ReportContents contents;
    std::string error;
    if (!app::ParseRepairReport(text, contents, error) || contents.written.empty()) continue;
    std::set<std::string> files;
    for (const app::ReportedField& f : contents.written) files.insert(f.file);
    out = {Join(companyDir, r.name), WhenOf(r.stamp), static_cast<int64_t>(contents.written.size()),
           static_cast<int>(files.size())};
    return true;
  }
  whyNot = platform::Th("ไม่มีการแก้ไขที่ย้อนได้ (ย้อนแล้ว หรือไม่ได้แก้ไขค่าใด)");
  return false;
}

std::string LatestReport(const std::string& companyDir, std::string& whyNot) {
  const std::vector<std::string> names = platform::FileNamesIn(companyDir);
  std::vector<ReportName> all = ReportsIn(names, app::kRepairReportPrefix);
  for (ReportName& r : ReportsIn(names, app::kUndoReportPrefix)) all.push_back(std::move(r));
  std::sort(all.rbegin(), all.rend());
  if (all.empty()) {
    whyNot = platform::Th("ยังไม่มีรายงานของกิจการนี้");
    return {};
  }
  return Join(companyDir, all.front().name);
}

CompanyChoice UndoChoiceFor(const std::string& directory, ui::Dialogs& dialogs) {
  UndoableReport report;
  std::string whyNot = platform::Th("ยังไม่ได้กำหนดแฟ้มข้อมูล");
  if (directory.empty() || !FindUndoableReport(directory, report, whyNot)) {
    dialogs.ShowInformation(whyNot);
    return {};
  }
  CompanyChoice choice(directory);
  choice.undoReport = report.path;
  choice.undoQuestion = UndoFromMenuQuestion(report);
  return choice;
}

void OpenLatestReport(const std::string& directory, ui::Dialogs& dialogs) {
  std::string whyNot = platform::Th("ยังไม่ได้กำหนดแฟ้มข้อมูล");
  const std::string path = directory.empty() ? std::string() : LatestReport(directory, whyNot);
  if (path.empty()) {
    dialogs.ShowInformation(whyNot);
  } else {
    OpenReport(dialogs, path);
  }
}

std::string UndoFromMenuQuestion(const UndoableReport& report) {
  return platform::Th("ต้องการย้อนการแก้ไขเมื่อ ") + report.when + platform::Th(" (นำค่าเดิมกลับคืน ") +
         ui::IntToText(report.fields) + platform::Th(" รายการ ใน ") + ui::IntToText(report.files) + platform::Th(" แฟ้ม)");
}

}  // namespace kv::desktop
