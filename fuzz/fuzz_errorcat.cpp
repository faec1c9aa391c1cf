// The error catalogue: any KVERROR.MSG, looked up for numbers taken from the input and
// for the numbers of its own headers.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "ui/ErrorCatalogue.h"

namespace {

// The lines of the entry as the catalogue defines it: after the first line equal to
// the header, up to the next line that begins with "%ERROR%". Lines end at CR LF, LF or
// a lone CR; a last line without an end still counts.
std::string Expected(const std::string& bytes, const std::string& header) {
  std::vector<std::string> lines;
  std::string line;
  bool pending = false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      pending = false;
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else {
      line += c;
      pending = true;
    }
  }
  if (pending) lines.push_back(line);

  std::string out;
  bool inEntry = false;
  for (const std::string& l : lines) {
    if (!inEntry) {
      inEntry = l == header;
    } else {
      if (l.rfind("%ERROR%", 0) == 0) break;
      out += l + "\n";
    }
  }
  return out;
}

void Lookup(int32_t number, const std::string& bytes) {
  std::ostringstream out;
  kv::ui::PrintErrorHelp(number, kv::fuzz::ScratchDirectory(), out);
  const std::string header = "%ERROR%" + std::to_string(static_cast<uint16_t>(number));
  const std::string expected = Expected(bytes, header);
  KV_FUZZ_CHECK(out.str() == expected, header);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  kv::fuzz::InputReader in(data, size);
  const int32_t asked = in.I32();
  const std::string bytes(in.Rest());
  kv::fuzz::WriteScratchFile("KVERROR.MSG", bytes);

  Lookup(asked, bytes);
  // The numbers the catalogue itself names (a few, so each run stays short).
  int looked = 0;
  for (size_t at = bytes.find("%ERROR%"); at != std::string::npos && looked < 4;
       at = bytes.find("%ERROR%", at + 1), ++looked) {
    int32_t number = 0;
    for (size_t i = at + 7; i < bytes.size() && i < at + 13 && bytes[i] >= '0' && bytes[i] <= '9'; ++i)
      number = number * 10 + (bytes[i] - '0');
    Lookup(number, bytes);
  }
  return 0;
}
