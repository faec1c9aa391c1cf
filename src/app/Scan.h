// The read-only scan: every live record of every walked module data file that exists,
// every money field judged by the repair's own rule. It writes nothing and takes part
// in no coordination: the data files are read directly, by their header layout, so no
// coordination file is created, no station slot is claimed and no header is touched.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace kv::app {

struct ScanFinding {
  std::string file;  // base name
  int32_t record = 0;
  int offset = 0;
  std::array<uint8_t, 10> bytes{};
};

struct ScanSummary {
  int filesScanned = 0;
  int64_t recordsScanned = 0;  // live records
  int64_t findings = 0;
};

// Scans `directory`. Findings arrive in walk order (files as above, records and
// offsets ascending). False on an error (missing directory, a file that cannot be read,
// a header that does not fit the table); `error` then says what, in UTF-8, and the
// findings of the files before it have been delivered.
bool ScanCompany(std::string_view directory, const std::function<void(const ScanFinding&)>& onFinding,
                 ScanSummary& summary, std::string& error);

}  // namespace kv::app
