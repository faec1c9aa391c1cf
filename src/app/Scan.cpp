#include "app/Scan.h"

#include <vector>

#include "isam/Coding.h"
#include "modules/ModuleTables.h"
#include "modules/MoneyCheck.h"
#include "platform/File.h"
#include "platform/System.h"

namespace kv::app {

namespace {

constexpr size_t kHeaderLength = 21;
constexpr size_t kChunkBytes = 256 * 1024;

// Scans one data file; false with `error` set when it cannot be read as the table says.
bool ScanFile(const std::string& path, const modules::DataFileDef& walked, const std::function<void(const ScanFinding&)>& onFinding,
              ScanSummary& summary, std::string& error, bool& missing) {
  missing = false;
  platform::File file;
  int32_t rc = platform::File::Open(path, platform::Access::kReadOnly, platform::Share::kShared, file);
  if (rc == platform::kErrFileNotFound) {
    missing = true;
    return true;
  }
  const std::string label = std::string(walked.baseName) + ".DAT";
  if (rc != 0) {
    error = label + ": cannot be opened (error " + std::to_string(rc) + ")";
    return false;
  }
  uint64_t size = 0;
  if (file.Size(size) != 0) {
    error = label + ": cannot read its size";
    return false;
  }
  uint8_t header[kHeaderLength];
  size_t done = 0;
  if (file.ReadAt(0, header, kHeaderLength, done) != 0 || done != kHeaderLength) {
    error = label + ": header cannot be read (file too short)";
    return false;
  }
  const int32_t highest = isam::GetI32(header + 8);
  const int32_t slotLength = isam::GetI32(header + 12);
  if (slotLength != walked.recordLength) {
    error = label + ": slot length " + std::to_string(slotLength) + " differs from the record length " +
            std::to_string(walked.recordLength);
    return false;
  }
  if (header[20] != 0) {
    error = label + ": the file carries the defect flag (error 10010)";
    return false;
  }
  if (highest < 0) {
    error = label + ": invalid highest slot " + std::to_string(highest);
    return false;
  }
  const uint64_t slot = static_cast<uint64_t>(slotLength);
  if (size < (static_cast<uint64_t>(highest) + 1) * slot) {
    error = label + ": the file is shorter than its " + std::to_string(highest) + " records";
    return false;
  }

  const int32_t perChunk = static_cast<int32_t>(std::max<uint64_t>(1, kChunkBytes / slot));
  std::vector<uint8_t> buffer(static_cast<size_t>(perChunk) * slot);
  ScanFinding finding;
  finding.file = std::string(walked.baseName);
  for (int32_t first = 1; first <= highest;) {
    const int32_t count = std::min<int32_t>(perChunk, highest - first + 1);
    const size_t bytes = static_cast<size_t>(count) * slot;
    if (file.ReadAt(static_cast<uint64_t>(first) * slot, buffer.data(), bytes, done) != 0 || done != bytes) {
      error = label + ": records from " + std::to_string(first) + " cannot be read";
      return false;
    }
    for (int32_t i = 0; i < count; ++i) {
      const uint8_t* record = buffer.data() + static_cast<size_t>(i) * slot;
      if (isam::GetI32(record) != 0) continue;  // deleted slot
      ++summary.recordsScanned;
      if (!modules::AnyMoneyUnsound(record, walked.moneyOffsets)) continue;
      for (int offset : walked.moneyOffsets) {
        if (modules::IsMoneySound(record + offset)) continue;
        finding.record = first + i;
        finding.offset = offset;
        std::copy(record + offset, record + offset + 10, finding.bytes.begin());
        ++summary.findings;
        onFinding(finding);
      }
    }
    first += count;
  }
  ++summary.filesScanned;
  return true;
}

}  // namespace

bool ScanCompany(std::string_view directory, const std::function<void(const ScanFinding&)>& onFinding,
                 ScanSummary& summary, std::string& error) {
  summary = {};
  error.clear();
  std::string dir(directory);
  if (!platform::DirectoryExists(dir)) {
    error = dir + ": no such directory";
    return false;
  }
  if (!dir.empty() && dir.back() != '/') dir += '/';
  // The repair's own table: the scan judges exactly the files and fields the walk does.
  for (const modules::DataFileDef* walked : modules::WalkedFiles()) {
    bool missing = false;
    if (!ScanFile(dir + std::string(walked->baseName) + ".DAT", *walked, onFinding, summary, error, missing)) {
      return false;
    }
  }
  return true;
}

}  // namespace kv::app
