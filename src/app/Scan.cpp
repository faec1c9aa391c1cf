#include "app/Scan.h"

#include <algorithm>
#include <array>
#include <vector>

#include "app/ReadAround.h"
#include "isam/Coding.h"
#include "isam/Format.h"
#include "modules/ModuleTables.h"
#include "modules/Repairs.h"
#include "modules/MoneyCheck.h"
#include "platform/File.h"
#include "platform/System.h"

namespace kv::app {

namespace {

constexpr size_t kChunkBytes = 256 * 1024;

// Scans one data file; false with `error` set when it cannot be read as the table says.
// `held` receives the records another station still held after the rounds of `options`.
bool ScanFile(const std::string& path, const modules::DataFileDef& walked, const std::function<void(const ScanFinding&)>& onFinding,
              const ScanOptions& options, ScanSummary& summary, std::vector<int32_t>& held, std::string& error,
              bool& missing) {
  missing = false;
  held.clear();
  platform::File file;
  const platform::OsStatus rc = platform::File::Open(path, platform::Access::kReadOnly, platform::Share::kShared, file);
  if (rc == platform::OsError::kFileNotFound) {
    missing = true;
    return true;
  }
  const std::string label = std::string(walked.baseName) + ".DAT";
  if (rc) {
    error = label + ": cannot be opened (error " + std::to_string(rc.Code()) + ")";
    return false;
  }
  uint64_t size = 0;
  if (file.Size(size)) {
    error = label + ": cannot read its size";
    return false;
  }
  uint8_t raw[isam::kDataHeaderSize];
  size_t done = 0;
  if (file.ReadAt(0, raw, sizeof raw, done) || done != sizeof raw) {
    error = label + ": header cannot be read (file too short)";
    return false;
  }
  const isam::DataHeader header = isam::DecodeDataHeader(raw);
  const int32_t highest = header.highestSlot;
  switch (isam::InspectDataHeader(header, walked.recordLength, size)) {
    case isam::DataHeaderFault::kNone:
      break;
    case isam::DataHeaderFault::kSlotLength:
      error = label + ": slot length " + std::to_string(header.slotLength) + " differs from the record length " +
              std::to_string(walked.recordLength);
      return false;
    case isam::DataHeaderFault::kDefect:
      error = label + ": the file carries the defect flag (error 10010)";
      return false;
    case isam::DataHeaderFault::kSlotCount:
      error = label + ": invalid highest slot " + std::to_string(highest);
      return false;
    case isam::DataHeaderFault::kCutShort:
      error = label + ": the file is shorter than its " + std::to_string(highest) + " records";
      return false;
  }
  const uint64_t slot = static_cast<uint64_t>(header.slotLength);

  ScanFinding finding;
  finding.file = std::string(walked.baseName);
  auto judge = [&](const uint8_t* record, int32_t number) {
    if (!isam::SlotIsLive(record)) return;  // deleted slot
    ++summary.recordsScanned;
    if (!modules::AnyMoneyUnsound(record, walked.moneyOffsets)) return;
    for (int offset : walked.moneyOffsets) {
      if (modules::IsMoneySound(record + offset)) continue;
      finding.record = number;
      finding.offset = offset;
      std::copy(record + offset, record + offset + modules::kMoneySize, finding.bytes.begin());
      ++summary.findings;
      onFinding(finding);
    }
  };

  {
    const int32_t perChunk = static_cast<int32_t>(std::max<uint64_t>(1, kChunkBytes / slot));
    ChunkReader reader(file, slot, perChunk, highest);
    ChunkReader::Chunk* chunk = nullptr;
    while ((chunk = reader.Next()) != nullptr) {
      if (!chunk->ok) {
        error = label + ": records from " + std::to_string(chunk->failedAt) + " cannot be read";
        return false;
      }
      chunk->Visit(slot, held, judge);
      reader.Done(chunk);
    }
  }  // the reader's thread has ended: the file is this thread's alone again

  // The held records again: the first round right after the rest of the file, the last
  // at the end of the wait. Each try is one read; a lock violation keeps the record held.
  int32_t failed = 0;
  if (!RetryHeldRecords(
          file, slot, held, options.heldWaitMs, options.heldRecordRounds,
          [&](int32_t record, int round) {
            if (options.onWaiting) options.onWaiting(walked.baseName, record, round, std::max(1, options.heldRecordRounds));
          },
          judge, failed)) {
    error = label + ": record " + std::to_string(failed) + " cannot be read";
    return false;
  }
  ++summary.filesScanned;
  return true;
}

// Why a repair would leave `module` out, by the repair's own rule; empty when it walks
// the module.
std::string SkipReason(const std::string& dir, modules::Module module, bool& missing) {
  const modules::ModuleVerdict verdict = modules::JudgeModule(dir, module);
  missing = verdict.missing;
  if (verdict.walked) return {};
  const std::string code(modules::ModuleCode(module));
  const std::string info = code + "INFO.DAT";
  const std::string skips = ", the repair skips the " + code + " module";
  if (missing) return info + " is missing" + skips;
  return info + " cannot be opened for reading and writing (error " + std::to_string(platform::Code(verdict.error)) +
         ")" + skips;
}

// Judges a walked file of a module the repair skips: its unsound fields are counted
// and named in a note; a file that cannot be judged is named too, without ending the
// scan, since the repair would not walk it either.
// A record another station holds there is named in a note of its own, not waited for:
// the repair would not walk it either.
void NoteSkippedFile(const std::string& path, const modules::DataFileDef& walked, const std::string& reason,
                     ScanSummary& summary) {
  int64_t unsound = 0;
  ScanSummary ignored;
  std::vector<int32_t> held;
  std::string error;
  bool missing = false;
  ScanOptions noWait;
  noWait.heldWaitMs = 0;
  const bool judged =
      ScanFile(path, walked, [&unsound](const ScanFinding&) { ++unsound; }, noWait, ignored, held, error, missing);
  summary.notRepaired += unsound;
  const std::string label = std::string(walked.baseName) + ".DAT";
  if (!judged) {
    summary.notes.push_back(error + "; not judged further: " + reason);
    return;
  }
  if (unsound > 0) {
    summary.notes.push_back(label + ": " + std::to_string(unsound) + (unsound == 1 ? " damaged field" : " damaged fields") +
                            " not repaired: " + reason);
  }
  if (!held.empty()) {
    summary.notes.push_back(label + ": " + std::to_string(held.size()) +
                            (held.size() == 1 ? " record held by another station, not judged: "
                                              : " records held by another station, not judged: ") +
                            reason);
  }
}

}  // namespace

bool ScanCompany(std::string_view directory, const std::function<void(const ScanFinding&)>& onFinding,
                 ScanSummary& summary, std::string& error, const ScanOptions& options) {
  summary = {};
  error.clear();
  std::string dir(directory);
  if (dir.empty()) {
    error = "an empty path names no company directory";
    return false;
  }
  if (!platform::DirectoryExists(dir)) {
    error = dir + ": no such directory";
    return false;
  }
  if (!dir.empty() && dir.back() != '/') dir += '/';
  // The repair's own table and its own module rule: the scan judges exactly the files
  // and fields the walk does, module by module in the run's order.
  std::string reasons[modules::kModuleCount];
  bool missing[modules::kModuleCount] = {};
  for (int m = 0; m < modules::kModuleCount; ++m) reasons[m] = SkipReason(dir, static_cast<modules::Module>(m), missing[m]);
  // A module walked later may write the information record of one that is skipped,
  // creating it: a second repair then walks that one too.
  for (int closing = 0; closing < modules::kModuleCount; ++closing) {
    if (!reasons[closing].empty()) continue;
    const auto by = static_cast<modules::Module>(closing);
    for (const modules::Module w : modules::InformationWrittenBy(by)) {
      const int written = static_cast<int>(w);
      if (!missing[written]) continue;
      const std::string code(modules::ModuleCode(w));
      reasons[written] += " (the " + std::string(modules::ModuleCode(by)) + " module's repair creates " + code +
                          "INFO.DAT, so a second repair would walk " + code + ")";
      missing[written] = false;  // one hint is enough
    }
  }
  bool anyInformation = false;
  std::vector<int32_t> held;
  for (int m = 0; m < modules::kModuleCount; ++m) {
    const auto module = static_cast<modules::Module>(m);
    if (platform::FileExists(dir + std::string(modules::ModuleCode(module)) + "INFO.DAT")) anyInformation = true;
    for (const modules::DataFileDef* walked : modules::WalkedFiles(module)) {
      const std::string path = dir + std::string(walked->baseName) + ".DAT";
      if (!reasons[m].empty()) {
        NoteSkippedFile(path, *walked, reasons[m], summary);
        continue;
      }
      bool fileMissing = false;
      if (!ScanFile(path, *walked, onFinding, options, summary, held, error, fileMissing)) return false;
      for (int32_t record : held) summary.held.push_back({std::string(walked->baseName), record});
    }
  }
  if (!anyInformation) {
    summary.notes.push_back("no module information file (GLINFO.DAT, ICINFO.DAT, ...): the repair refuses this directory");
    summary.noCompany = true;
  }
  return true;
}

}  // namespace kv::app
