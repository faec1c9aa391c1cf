#include "app/Version.h"

#include "kv_version.h"  // made by the build (cmake/Version.cmake)

namespace kv::app {

std::string_view VersionNumber() { return KV_VERSION_NUMBER; }

std::string_view VersionText() { return KV_VERSION_TEXT; }

std::string VersionLine(std::string_view program) {
  return std::string(program) + " " + std::string(VersionText());
}

}  // namespace kv::app
