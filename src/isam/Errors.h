// Engine error numbers: classes, English texts, the translation of OS failures, and the
// fatal report shown when a module file cannot be opened.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kv::ui {
class Dialogs;
}

namespace kv::isam {

// 0 no error, 1 not found, 2 conflict or temporary (worth retrying), 3 serious failure
// in save mode, 4 error.
int32_t ErrorClass(int32_t error);
// English text of an engine error number; empty for a number without text.
std::string ErrorText(int32_t error);

// The kind of operation an OS failure happened in; the same OS error means different
// things to the engine depending on it.
enum class OsOp { kOpen, kCreate, kDelete, kReadWrite /* read, write, seek, truncate, close */ };
int32_t TranslateOsError(OsOp op, int32_t winError);

// Shows "<n>: <text>", hands `error` to printErrorHelp, shows `message` as an error
// (with the help, where the front end took it), and asks the main window to close.
void ShowFatalEngineError(ui::Dialogs& dialogs, int32_t error, std::string_view message,
                          const std::function<void(int32_t)>& printErrorHelp);

}  // namespace kv::isam
