#include "platform/Path.h"

#include <algorithm>

#include "platform/Cp874.h"
#include "platform/File.h"

namespace kv::platform {

std::string PathToSystem(std::string_view cp874) {
  if (cp874.find('\0') != std::string_view::npos) return std::string();
  return Cp874ToUtf8(cp874);
}

bool PathFromSystem(std::string_view native, std::string& cp874) {
  if (native.find('\0') != std::string_view::npos) {
    cp874.clear();
    return false;
  }
  return Utf8ToCp874Exact(native, cp874);
}

std::string_view CutRelativeName(std::string_view name) {
  // One CP874 byte is one character, so the cut never splits a letter.
  if (IsAbsolutePath(name)) return name;
  return name.substr(0, std::min(name.size(), kMaxFileName));
}

std::string SystemName(std::string_view name) { return PathToSystem(CutRelativeName(name)); }

}  // namespace kv::platform
