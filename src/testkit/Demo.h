// A complete demo company: every module data file with records and valid indexes, the
// six information files and the side files, with a known set of unsound money amounts
// planted in the files the repair walks. Used by the demo, the tests of the run and the
// benchmarks; the result lists every planted field so a run can be checked against it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "testkit/Money.h"

namespace kv::testkit {

struct DemoOptions {
  int32_t records = 200;      // slots per data file (records 1..records, some deleted)
  uint64_t seed = 1;
  double unsoundRate = 0.01;  // share of live records of walked files that get bad amounts
  double deletedRate = 0.03;  // share of slots that are deleted (on the free chain)
  // Base name -> slot length written instead of the declared record length, for the
  // record-length guard (e.g. {"GLFILE03", 230}).
  std::map<std::string, int32_t> slotLengths;
};

// One unsound amount that a repair has to reset.
struct PlantedField {
  std::string file;  // base name, e.g. "GLFILE01"
  int32_t record = 0;
  int offset = 0;    // within the record
  Money bytes{};
};

struct DemoFileCounts {
  std::string file;  // base name
  bool walked = false;
  int32_t slotLength = 0;
  int32_t slots = 0;          // HighestSlot
  int32_t live = 0;
  int32_t deleted = 0;
  int32_t plantedRecords = 0;  // records a repair must write and count
  int32_t plantedFields = 0;
};

struct DemoCompany {
  std::string error;  // empty when the company was written completely
  std::vector<PlantedField> planted;  // by file in walk order, then record, then offset
  std::vector<DemoFileCounts> files;  // every data file, in table order
  // The key at offset 405 of GLINFO.DAT (a GLFILE02 key 1 text) and the short string
  // the GL open copies from that record into offset 416 (cut to 10 characters).
  std::string glLookupKey;
  std::string glLookupName;

  int64_t PlantedRecords() const;  // what a repair run reports
  const DemoFileCounts* File(const std::string& baseName) const;
};

DemoCompany MakeDemoCompany(const std::string& dir, const DemoOptions& options);
DemoCompany MakeDemoCompany(const std::string& dir, int32_t records = 200, uint64_t seed = 1);

// One line per data file with its live, deleted and planted counts, then the total.
void PrintPlantedCounts(const DemoCompany& company, std::ostream& out);

}  // namespace kv::testkit
