// Leftovers of an interrupted data-file repair by the suite: a .SAV copy beside the
// .DAT file, an .IX~ copy beside the .IX file. Before a module data file is opened the
// user sees both sizes and decides whether the temporary copy becomes the normal file
// again. This program never creates such files; it only detects and restores them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv::ui {

class Dialogs;

// Both checks take the module file's name without extension, relative to the current
// directory. They return false when the user answered No: every file stays as it was,
// the main window has been asked to close, and the caller must not open the file.
bool CheckSavedDataFile(Dialogs& dialogs, std::string_view name);
bool CheckTempIndexFile(Dialogs& dialogs, std::string_view name);

// name.SAV over name.DAT (only when the .DAT could be deleted), then name.IX~ over
// name.IX. Failures are not reported; what could not be moved stays where it was.
void RestoreTempFiles(std::string_view name);

// Byte length of a file opened for reading and writing while others may share it, or
// -1 when it cannot be opened so (missing, read-only, held exclusively).
int64_t RecoverySizeOf(std::string_view fileName);

}  // namespace kv::ui
