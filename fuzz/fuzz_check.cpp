// The company check on hostile files: a company directory holding one module data file
// (GLFILE04, two keys with duplicates) with its index and coordination files and one
// side file, all from the input. The check must come back with findings, never crash,
// hang or read past a buffer, name only the files that are there, and write nothing.
//
// Input: GLFILE04.DAT, GLFILE04.IX, GLFILE04.DIA (16-bit length before each; an empty
// part leaves that file out), then the rest is GLTBUF.DAT.
#include <cstdint>
#include <map>
#include <string>

#include "FuzzSupport.h"
#include "app/Check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kv::fuzz;
  if (size > 256 * 1024) return 0;
  InputReader in(data, size);
  std::map<std::string, std::string> files;
  for (const char* name : {"GLFILE04.DAT", "GLFILE04.IX", "GLFILE04.DIA"}) {
    const std::string_view part = in.Part();
    RemoveScratchFile(name);
    if (!part.empty()) files[name] = std::string(part);
  }
  const std::string_view side = in.Rest();
  RemoveScratchFile("GLTBUF.DAT");
  if (!side.empty()) files["GLTBUF.DAT"] = std::string(side);
  for (const auto& [name, bytes] : files) WriteScratchFile(name, bytes);

  kv::app::CheckSummary summary;
  std::string error;
  int64_t findings = 0;
  kv::app::CheckOptions options;  // no pause to confirm, no held record to wait for
  options.settleMs = 0;
  options.heldWaitMs = 0;
  const bool ok = kv::app::CheckCompany(
      ScratchDirectory(),
      [&](const kv::app::CheckFinding& f) {
        ++findings;
        KV_FUZZ_CHECK(files.count(f.file) == 1 || f.file == "GLFILE04.IX", f.file + " is not in the directory");
        KV_FUZZ_CHECK(!f.text.empty() && !f.place.empty(), kv::app::CheckLine(f));
        if (Verbose()) std::fprintf(stderr, "%s\n", kv::app::CheckLine(f).c_str());
      },
      summary, error, options);
  KV_FUZZ_CHECK(ok, error);
  KV_FUZZ_CHECK(summary.damage + summary.notes == findings, "the summary miscounts");
  for (const auto& [name, bytes] : files) KV_FUZZ_CHECK(ReadScratchFile(name) == bytes, name + " was written");
  return 0;
}
