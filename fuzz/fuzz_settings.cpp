// KORVA.CFG and KORVA.INI of any content, the colour scheme record, and the rewrite of
// the remembered company keys.
//
// Input: flags, KORVA.CFG (length-prefixed), KORVA.INI (length-prefixed), the
// remembered directory and company to save (length-prefixed each), then the bytes of a
// KVSCHEME.SET record.
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "company/Settings.h"
#include "platform/PlainFile.h"

namespace {

bool ContainsIgnoringAsciiCase(std::string_view text, std::string_view word) {
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
  for (size_t i = 0; i + word.size() <= text.size(); ++i) {
    size_t j = 0;
    while (j < word.size() && upper(text[i + j]) == word[j]) ++j;
    if (j == word.size()) return true;
  }
  return false;
}

// A value as a settings line can carry it: one line, no line ends.
std::string OneLine(std::string_view part) {
  std::string value;
  for (char c : part)
    if (c != '\r' && c != '\n') value += c;
  return value;
}

// KORVA.INI is read from the current directory, which the caller makes the start
// directory; the fuzzer's own paths are relative to the directory it started in, so
// that one is current again afterwards.
void ReadSettingsInScratch(kv::company::Settings& s) {
  static char* const home = getcwd(nullptr, 0);
  if (home == nullptr || chdir(kv::fuzz::ScratchDirectory().c_str()) != 0)
    kv::fuzz::Fail("cannot enter the scratch directory");
  kv::company::ReadSettings(s);
  if (chdir(home) != 0) kv::fuzz::Fail("cannot go back to the start directory");
}

kv::company::Settings FreshSettings() {
  kv::company::Settings s;
  s.dirs.start = kv::fuzz::ScratchDirectory();
  s.dirs.settings = kv::fuzz::ScratchDirectory();
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kv::company;
  kv::fuzz::InputReader in(data, size);
  const uint8_t flags = in.Byte();
  const std::string cfg(in.Part());
  const std::string ini(in.Part());
  const std::string savedDir = OneLine(in.Part());
  const std::string savedCompany = OneLine(in.Part());
  const std::string scheme(in.Rest());

  if (flags & 1) kv::fuzz::RemoveScratchFile("KORVA.CFG");
  else kv::fuzz::WriteScratchFile("KORVA.CFG", cfg);
  if (flags & 2) kv::fuzz::RemoveScratchFile("KORVA.INI");
  else kv::fuzz::WriteScratchFile("KORVA.INI", ini);

  Settings s = FreshSettings();
  ReadSettingsInScratch(s);
  const uint32_t band = GridBandColour(s);
  KV_FUZZ_CHECK(band <= 0xFFFFFF || s.userColorType == 6, "band colour with a top byte");

  const auto bands = ComputeGridBands(
      scheme.size() >= kSchemeRecordSize ? reinterpret_cast<const uint8_t*>(scheme.data()) : nullptr);
  for (int i = 1; i <= 6; ++i) KV_FUZZ_CHECK(bands[i] <= 0xFFFFFF, "band colour with a top byte");
  if (scheme.size() >= 8) {
    kv::fuzz::InputReader colours(reinterpret_cast<const uint8_t*>(scheme.data()), scheme.size());
    const uint32_t colour = static_cast<uint32_t>(colours.I32());
    const int32_t percentage = colours.I32();
    const uint32_t blended = BlendColour(colour, percentage);
    KV_FUZZ_CHECK(blended <= 0xFFFFFF, "blend with a top byte");
    if (percentage == 100) KV_FUZZ_CHECK(blended == (colour & 0xFFFFFF), "blend at 100");
  }

  // Rewriting the remembered choice keeps the other lines; doing it twice changes
  // nothing more.
  s.selection.dir = savedDir;
  s.selection.company = savedCompany;
  s.selection.select = (flags & 4) != 0;
  s.selection.colPosition = static_cast<int32_t>(flags) * 37 - 1000;
  SaveSelectionSettings(s);
  const std::string once = kv::fuzz::ReadScratchFile("KORVA.CFG");
  SaveSelectionSettings(s);
  const std::string twice = kv::fuzz::ReadScratchFile("KORVA.CFG");
  KV_FUZZ_CHECK(once == twice, "a second rewrite changed the file");
  KV_FUZZ_CHECK(once.size() >= 2 && once.compare(once.size() - 2, 2, "\r\n") == 0,
                "rewritten file does not end in CR LF");
  KV_FUZZ_CHECK(once.find("\r\n\r\n") == std::string::npos && once.rfind("\r\n", 0) != 0,
                "rewritten file holds an empty line");

  // Without other spellings of the keys in the file, what was saved reads back.
  const bool otherSpellings = !(flags & 1) && ContainsIgnoringAsciiCase(cfg, "OPENCOMPANY_");
  Settings back = FreshSettings();
  ReadSettingsInScratch(back);
  if (!otherSpellings) {
    KV_FUZZ_CHECK(back.selection.dir == savedDir, savedDir);
    KV_FUZZ_CHECK(back.selection.company == savedCompany, savedCompany);
    KV_FUZZ_CHECK(back.selection.select == s.selection.select, "select flag");
    KV_FUZZ_CHECK(back.selection.colPosition == s.selection.colPosition, "column position");
  }
  return 0;
}
