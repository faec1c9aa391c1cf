// The suite's catalogue of error explanations, KVERROR.MSG in the start directory.
#pragma once

#include <cstdint>
#include <ostream>
#include <string_view>

namespace kv::ui {

// Writes the catalogue entry of errorNumber (taken as an unsigned 16-bit value) from
// startDirectory/KVERROR.MSG to `out`, one line each. A missing catalogue or entry
// writes nothing. The current directory is not changed.
void PrintErrorHelp(int32_t errorNumber, std::string_view startDirectory, std::ostream& out);

}  // namespace kv::ui
