// The read-only scan: every live record of every walked module data file that exists,
// every money field judged by the repair's own rule. It lists exactly what a repair
// would reset: the walked files of a module whose information file the repair would
// not find are judged too, but their unsound fields are only counted and named in a
// note, because the repair leaves that module alone. It writes nothing and takes part
// in no coordination: the data files are read directly, by their header layout, so no
// coordination file is created, no station slot is claimed and no header is touched.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv::app {

struct ScanFinding {
  std::string file;  // base name
  int32_t record = 0;
  int offset = 0;
  std::array<uint8_t, 10> bytes{};
};

struct ScanSummary {
  int filesScanned = 0;        // walked files of the modules the repair walks
  int64_t recordsScanned = 0;  // their live records
  int64_t findings = 0;        // fields a repair would reset
  int64_t notRepaired = 0;     // unsound fields in the files of modules the repair skips
  // One line each, in UTF-8: what a repair would leave as it is, and why.
  std::vector<std::string> notes;
  // No module information file at all: the directory is no company (the command line
  // exits 1 for it, not "nothing to repair").
  bool noCompany = false;
};

// Scans `directory`. Findings arrive in walk order (files as above, records and
// offsets ascending); only fields a repair would reset are delivered. False on an error (missing directory, a file that cannot be read,
// a header that does not fit the table); `error` then says what, in UTF-8, and the
// findings of the files before it have been delivered.
bool ScanCompany(std::string_view directory, const std::function<void(const ScanFinding&)>& onFinding,
                 ScanSummary& summary, std::string& error);

}  // namespace kv::app
