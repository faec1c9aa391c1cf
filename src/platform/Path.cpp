#include "platform/Path.h"

#include <algorithm>

#include "platform/Cp874.h"
#include "platform/File.h"
#include "platform/OsCall.h"

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

namespace detail {

namespace {
constexpr std::string_view kTempMarker = ".~tmp";
}  // namespace

std::string TemporaryOf(std::string_view target, uint64_t process) {
  return std::string(target) + std::string(kTempMarker) + std::to_string(process);
}

bool IsTemporaryOf(std::string_view entry, std::string_view base) {
  if (entry.size() <= base.size() + kTempMarker.size()) return false;
  if (entry.substr(0, base.size()) != base) return false;
  if (entry.substr(base.size(), kTempMarker.size()) != kTempMarker) return false;
  const std::string_view digits = entry.substr(base.size() + kTempMarker.size());
  if (digits.size() > 10) return false;
  return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace detail

}  // namespace kv::platform
