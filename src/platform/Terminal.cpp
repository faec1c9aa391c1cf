#include "platform/Terminal.h"

#include <unistd.h>

namespace kv::platform {

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

}  // namespace kv::platform
