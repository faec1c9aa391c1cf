// A second station for the run's tests: opens a data file in network mode and keeps
// writing a round number into bytes 200..203 of every live record, each under the write
// lock with a fresh read, until told to stop.
//
//   kv_station BASE RECORDS STARTED_FILE STOP_FILE DONE_FILE
//
// Writes STARTED_FILE once the file is open, and DONE_FILE with the last round number
// when STOP_FILE appears.
//
//   kv_station --hold BASE RECORD STARTED_FILE STOP_FILE
//
// Holds the record lock of RECORD (another copy of the suite editing it) from STARTED_FILE
// until STOP_FILE appears: a run beside it waits for that record, whatever the machine's
// speed. Started by a Windows program under Wine, a Linux station gets
// Wine's names for the Linux paths ("Z:/tmp/..." for "/tmp/..."): it takes them back.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "isam/Coding.h"
#include "isam/Engine.h"
#include "platform/Path.h"
#include "platform/System.h"

namespace {
std::string HostPath(std::string path) {
  if (!kv::platform::IsAbsolutePath("C:/") && path.size() > 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':')
    path.erase(0, 2);
  return path;
}

// The file opened as another copy of the suite opens it; nullptr (and a message) when it
// cannot be.
kv::isam::BlockHandle OpenNetwork(kv::isam::Engine& engine, const std::string& base) {
  engine.StartEngine(kv::isam::EngineMode::kNetwork, 500);
  kv::isam::BlockHandle block = nullptr;
  engine.OpenBlock(block, base, {.network = true});
  if (engine.LastOpOK()) return block;
  std::fprintf(stderr, "kv_station: open failed with %d\n", engine.LastOpError());
  return nullptr;
}

int Hold(const std::string& base, int record, const std::string& started, const std::string& stop) {
  kv::isam::Engine engine;
  kv::isam::BlockHandle block = OpenNetwork(engine, base);
  if (block == nullptr) return 1;
  engine.LockSlot(block, record);
  if (!engine.LastOpOK()) {
    std::fprintf(stderr, "kv_station: the lock of record %d failed with %d\n", record, engine.LastOpError());
    return 1;
  }
  std::ofstream(started) << "holding\n";
  while (!std::filesystem::exists(stop)) kv::platform::SleepMs(50);
  engine.UnlockSlot(block, record);
  engine.CloseBlock(block);
  engine.StopEngine();
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "--hold")
    return Hold(HostPath(argv[2]), std::atoi(argv[3]), HostPath(argv[4]), HostPath(argv[5]));
  if (argc != 6) {
    std::fprintf(stderr, "usage: kv_station BASE RECORDS STARTED STOP DONE | --hold BASE RECORD STARTED STOP\n");
    return 2;
  }
  const std::string base = HostPath(argv[1]);
  const std::string started = HostPath(argv[3]), stop = HostPath(argv[4]), done = HostPath(argv[5]);
  const int records = std::atoi(argv[2]);
  kv::isam::Engine engine;
  kv::isam::BlockHandle block = OpenNetwork(engine, base);
  if (block == nullptr) return 1;
  const int32_t slotLength = engine.SlotLength(block);
  std::vector<uint8_t> slot(static_cast<size_t>(slotLength));
  std::ofstream(started) << "started\n";
  int32_t round = 0;
  while (!std::filesystem::exists(stop)) {
    ++round;
    for (int r = 1; r <= records; ++r) {
      engine.LockBlock(block);
      if (!engine.LastOpOK()) {
        --r;  // try the same record again
        continue;
      }
      engine.ReadSlot(block, r, slot);
      if (engine.LastOpMetHeldRange()) {
        // Where locks are mandatory a record another station has locked cannot be read:
        // tried again, as the suite's user would, rather than left out of the round.
        engine.UnlockBlock(block);
        kv::platform::SleepMs(1);
        --r;
        continue;
      }
      if (engine.LastOpOK() && kv::isam::GetI32(slot.data()) == 0) {
        kv::isam::PutI32(slot.data() + 200, round);
        engine.WriteSlot(block, r, slot);
      }
      engine.UnlockBlock(block);
      kv::platform::SleepMs(1);  // let the other station in between records
    }
  }
  engine.CloseBlock(block);
  engine.StopEngine();
  std::ofstream(done) << round << "\n";
  return 0;
}
