// Leftovers of an interrupted data-file repair by the suite: a .SAV copy beside the
// .DAT file, an .IX~ copy beside the .IX file. Before a module data file is opened the
// user sees both sizes and decides whether the temporary copy becomes the normal file
// again. This program never creates such files; it only detects and restores them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kv::ui {

class Dialogs;

// Both checks take the module file's name without extension, relative to the current
// directory. They return false when the user answered No: every file stays as it was,
// the main window has been asked to close, and the caller must not open the file.
// A file that a restore replaces is kept beside (KeepAside), never deleted, and
// `onKept` hears of it: (the replaced file, the name it is kept as, what replaced it).
using KeptHook = std::function<void(std::string_view name, std::string_view keptAs, std::string_view why)>;
bool CheckSavedDataFile(Dialogs& dialogs, std::string_view name, const KeptHook& onKept = {});
bool CheckTempIndexFile(Dialogs& dialogs, std::string_view name, const KeptHook& onKept = {});

// name.SAV over name.DAT (only when the .DAT could be kept aside), then name.IX~ over
// name.IX (likewise). Failures are not reported; what could not be moved stays where it was.
void RestoreTempFiles(std::string_view name, const KeptHook& onKept = {});

// Renames `file` to the first free of "<file>.KEPT", "<file>.KEPT2" ... "<file>.KEPT99"
// (a rename never replaces a file) and returns that name; empty when it could not.
std::string KeepAside(std::string_view file);

// Byte length of a file opened for reading and writing while others may share it, or
// -1 when it cannot be opened so (missing, read-only, held exclusively).
int64_t RecoverySizeOf(std::string_view fileName);

}  // namespace kv::ui
