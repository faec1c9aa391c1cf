// The read-only scan: every live record of every walked module data file that exists,
// every money field judged by the repair's own rule. It lists exactly what a repair
// would reset: the walked files of a module whose information file the repair would
// not find are judged too, but their unsound fields are only counted and named in a
// note, because the repair leaves that module alone. It writes nothing and takes part
// in no coordination: the data files are read directly, by their header layout, so no
// coordination file is created, no station slot is claimed and no header is touched.
//
// Where locks are mandatory (Windows), a record that another station holds (the suite
// holds the 4 bytes at N x SlotLength while a user edits record N) cannot be read. A
// chunk that meets such a lock is read again around it, in smaller reads down to the
// record alone; the records still unreadable are held: tried again after the rest of
// their file, in a few rounds within ScanOptions::heldWaitMs, then left unjudged and
// listed in ScanSummary::held. A held record is never counted as damage, nor as a read
// error; its findings, when it is judged in a later round, follow the rest of its file
// (as the repair reports a record it had to set aside).
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

// A record of a file the repair walks that another station held through every round.
struct ScanHeldRecord {
  std::string file;  // base name
  int32_t record = 0;
};

// How long, per file, held records are tried again: `heldRecordRounds` rounds, the first
// right after the rest of the file and the last at the end of the wait; 0 leaves them
// at once. Shorter than the repair's default: the scan only reads, and a user who runs
// it beside working stations wants its answer soon.
inline constexpr int32_t kScanHeldWaitMs = 5000;
inline constexpr int32_t kScanHeldRounds = 3;

struct ScanOptions {
  int32_t heldWaitMs = kScanHeldWaitMs;
  int32_t heldRecordRounds = kScanHeldRounds;
  // Told before each wait for a held record (file base name, record, round, rounds).
  std::function<void(std::string_view file, int32_t record, int round, int rounds)> onWaiting;
};

struct ScanSummary {
  int filesScanned = 0;        // walked files of the modules the repair walks
  int64_t recordsScanned = 0;  // their live records
  int64_t findings = 0;        // fields a repair would reset
  int64_t notRepaired = 0;     // unsound fields in the files of modules the repair skips
  // Records of the files the repair walks that were left unjudged, in walk order:
  // another station held them through every round.
  std::vector<ScanHeldRecord> held;
  // One line each, in UTF-8: what a repair would leave as it is, and why.
  std::vector<std::string> notes;
  // No module information file at all: the directory is no company (the command line
  // exits 1 for it, not "nothing to repair").
  bool noCompany = false;
};

// Scans `directory`. Findings arrive in walk order (files as above, records and
// offsets ascending, a record judged in a later round after the rest of its file); only
// fields a repair would reset are delivered. False on an error (missing directory, a
// file that cannot be read other than for a held record, a header that does not fit the
// table); `error` then says what, in UTF-8, and the findings and held records of the
// files before it have been delivered.
bool ScanCompany(std::string_view directory, const std::function<void(const ScanFinding&)>& onFinding,
                 ScanSummary& summary, std::string& error, const ScanOptions& options = {});

}  // namespace kv::app
