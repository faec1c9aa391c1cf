#include "ui/ErrorCatalogue.h"

#include <string>
#include <vector>

#include "platform/PlainFile.h"
#include "ui/NumberText.h"

namespace kv::ui {

namespace {

constexpr std::string_view kHeaderMark = "%ERROR%";

}  // namespace

void PrintErrorHelp(int32_t errorNumber, std::string_view startDirectory, std::ostream& out) {
  const std::string header =
      std::string(kHeaderMark) + IntToText(static_cast<uint16_t>(errorNumber));

  // The catalogue is read by its full name: the current directory stays as it is.
  std::string path(startDirectory);
  if (!path.empty() && path.back() != '/') path += '/';
  path += "KVERROR.MSG";

  // Read whole before anything is written, so an unreadable catalogue writes nothing.
  // This runs on the way to closing the program after a fatal error, so no failure of
  // the catalogue may stop it: a missing or unreadable file is silent.
  std::string bytes;
  if (platform::ReadWholeFile(path, bytes)) return;

  bool inEntry = false;
  for (const std::string& line : platform::SplitLines(bytes)) {
    if (!inEntry) {
      inEntry = line == header;  // whole line: "%ERROR%100" is not "%ERROR%1000"
    } else {
      if (line.compare(0, kHeaderMark.size(), kHeaderMark) == 0) break;  // next entry
      out << line << '\n';
    }
  }
  out.flush();
}

}  // namespace kv::ui
