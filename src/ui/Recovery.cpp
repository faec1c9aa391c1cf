#include "ui/Recovery.h"

#include "platform/File.h"
#include "ui/Dialogs.h"
#include "ui/NumberText.h"

namespace kv::ui {

namespace {

// The size tests and the restore use no more of the name than the suite's own
// 8.3-era names could hold.
constexpr size_t kNameChars = 12;

std::string Short(std::string_view name) { return std::string(name.substr(0, kNameChars)); }

std::string SizeText(int64_t size) { return WholeMoneyText(0, static_cast<long double>(size)); }

}  // namespace

int64_t RecoverySizeOf(std::string_view fileName) {
  platform::File file;
  if (platform::File::Open(fileName, platform::Access::kReadWrite, platform::Share::kShared, file)) {
    return -1;
  }
  uint64_t size = 0;
  if (file.Size(size)) return -1;
  (void)file.Close();  // only its size was asked for
  return static_cast<int64_t>(size);
}

std::string KeepAside(std::string_view file) {
  for (int n = 1; n <= 99; ++n) {
    std::string kept = std::string(file) + ".KEPT" + (n > 1 ? std::to_string(n) : std::string());
    const platform::OsStatus rc = platform::RenameFile(file, kept);
    if (!rc) return kept;
    if (rc != platform::OsError::kFileExists) return {};
  }
  return {};
}

namespace {

// `temp` becomes `target`; a `target` there is kept beside first. False when the
// target could not be kept: both stay where they are.
void MoveOver(const std::string& temp, const std::string& target, const KeptHook& onKept) {
  if (platform::FileExists(target)) {
    const std::string kept = KeepAside(target);
    if (kept.empty()) return;
    if (onKept) onKept(target, kept, "REPLACED BY " + temp);
  }
  (void)platform::RenameFile(temp, target);
}

}  // namespace

void RestoreTempFiles(std::string_view name, const KeptHook& onKept) {
  const std::string base = Short(name);
  // A rename never replaces a file, so whatever fails here leaves both files in place
  // for the next check to offer again; nothing is lost, and nothing is deleted.
  if (platform::FileExists(base + ".SAV") && platform::FileExists(base + ".DAT"))
    MoveOver(base + ".SAV", base + ".DAT", onKept);
  if (platform::FileExists(base + ".IX~")) MoveOver(base + ".IX~", base + ".IX", onKept);
}

bool CheckSavedDataFile(Dialogs& dialogs, std::string_view name, const KeptHook& onKept) {
  const std::string base = Short(name);
  const int64_t saved = RecoverySizeOf(base + ".SAV");
  if (saved < 0) return true;
  const int64_t data = RecoverySizeOf(base + ".DAT");
  if (data < 0) return true;
  RecoveryQuestion question{std::string(name) + ".SAV", SizeText(saved) + " byte(s)", SizeText(data) + " byte(s)"};
  if (dialogs.AskRecovery(question)) {
    RestoreTempFiles(name, onKept);
    return true;
  }
  dialogs.RequestClose();
  return false;
}

bool CheckTempIndexFile(Dialogs& dialogs, std::string_view name, const KeptHook& onKept) {
  const std::string base = Short(name);
  const int64_t temp = RecoverySizeOf(base + ".IX~");
  if (temp < 0) return true;
  // A missing or unreadable .IX does not stop the check; there is no size to show.
  const int64_t index = RecoverySizeOf(base + ".IX");
  RecoveryQuestion question{std::string(name) + ".IX~", SizeText(temp), index < 0 ? std::string("-") : SizeText(index)};
  if (dialogs.AskRecovery(question)) {
    const std::string full(name);
    // As above: the old .IX is kept beside, a failed rename leaves the .IX~ in place.
    MoveOver(full + ".IX~", full + ".IX", onKept);
    return true;
  }
  dialogs.RequestClose();
  return false;
}

}  // namespace kv::ui
