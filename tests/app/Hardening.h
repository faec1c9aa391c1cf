// Shared pieces of the hardening tests (stress with peer stations, kills, I/O faults):
// child processes with a time limit, company snapshots, the "old or repaired" judgement
// of every record, the peers' write logs, and the checks that the coordination files
// are sound and that nothing was left locked.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "isam/Coding.h"
#include "isam/Engine.h"
#include "modules/ModuleTables.h"
#include "modules/MoneyCheck.h"
#include "support/TempDir.h"

namespace kv::hardening {

namespace fs = std::filesystem;

// The sanitizer build runs every test a second time, several times slower: the long
// loops take a shorter form there.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

inline std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string BuildDir() {
  const char* b = std::getenv("KV_BUILD_DIR");
  return b == nullptr ? std::string() : std::string(b);
}

using test::MakeTempDir;

// A scratch directory for a run (see MakeTempDir) with the run's start directory and its
// APPDATA and TEMP directories in it: start/, appdata/, temp/, and `more`.
inline std::string MakeRunDir(const char* stem, const std::string& under = "/tmp",
                              std::initializer_list<const char*> more = {}) {
  const std::string dir = MakeTempDir(stem, under);
  if (dir.empty()) return dir;
  for (const char* d : {"start", "appdata", "temp"}) fs::create_directories(dir + "/" + d);
  for (const char* d : more) fs::create_directories(dir + "/" + d);
  return dir;
}

// Removes the scratch directory after a test that passed; after a failure it stays, and
// its name is printed, so that the files can be looked at.
inline void RemoveUnlessFailed(const std::string& dir) {
  if (dir.empty()) return;
  if (::testing::Test::HasFailure()) {
    std::printf("files kept in %s\n", dir.c_str());
    return;
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
}

// A child process: argv, working directory, extra environment, stdout and stderr to files.
struct Child {
  pid_t pid = -1;

  bool Start(const std::vector<std::string>& argv, const std::string& cwd,
             const std::vector<std::string>& env, const std::string& out, const std::string& err) {
    pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
      if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) _exit(127);
      for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int r = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int in = ::open("/dev/null", O_RDONLY);
      if (o >= 0) ::dup2(o, 1);
      if (r >= 0) ::dup2(r, 2);
      if (in >= 0) ::dup2(in, 0);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      _exit(127);
    }
    return true;
  }

  // The exit status, -signal when killed by one, or -1000 when it did not end within
  // `seconds` (it is killed then).
  int Wait(double seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      int status = 0;
      const pid_t r = ::waitpid(pid, &status, WNOHANG);
      if (r == pid) {
        pid = -1;
        if (WIFEXITED(status)) return WEXITSTATUS(status);
        if (WIFSIGNALED(status)) return -WTERMSIG(status);
        return -999;
      }
      if (r < 0) return -999;
      if (std::chrono::steady_clock::now() >= until) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        pid = -1;
        return -1000;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  bool Running() {
    if (pid < 0) return false;
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == 0;
  }
  void Signal(int sig) {
    if (pid > 0) ::kill(pid, sig);
  }
};

// Every regular file of a directory (not recursive) with its bytes.
using Snapshot = std::map<std::string, std::string>;
inline Snapshot Take(const std::string& dir) {
  Snapshot s;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.is_regular_file()) s[e.path().filename().string()] = ReadFile(e.path());
  }
  return s;
}
inline void CopyDir(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::remove_all(to, ec);
  fs::create_directories(to);
  for (const auto& e : fs::directory_iterator(from)) {
    if (e.is_regular_file()) fs::copy_file(e.path(), fs::path(to) / e.path().filename());
  }
}

inline bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
inline std::string BaseOf(const std::string& fileName) {
  const size_t dot = fileName.rfind('.');
  return dot == std::string::npos ? fileName : fileName.substr(0, dot);
}

// Slot length and HighestSlot of a data file's bytes (0, 0 when too short).
inline void HeaderOf(const std::string& bytes, int32_t& slotLength, int32_t& highest) {
  slotLength = highest = 0;
  if (bytes.size() < 21) return;
  highest = isam::GetI32(reinterpret_cast<const uint8_t*>(bytes.data()) + 8);
  slotLength = isam::GetI32(reinterpret_cast<const uint8_t*>(bytes.data()) + 12);
}

// The data file as the repair must leave it: every live record's unsound money fields
// zeroed, nothing else changed.
inline std::string Repaired(const std::string& name, std::string bytes) {
  const modules::DataFileDef* def = modules::FindDataFile(BaseOf(name));
  if (def == nullptr || def->walkOrder == 0) return bytes;
  int32_t slot = 0, highest = 0;
  HeaderOf(bytes, slot, highest);
  if (slot <= 0) return bytes;
  auto* p = reinterpret_cast<uint8_t*>(bytes.data());
  for (int64_t r = 1; r <= highest && (r + 1) * slot <= static_cast<int64_t>(bytes.size()); ++r) {
    uint8_t* rec = p + r * slot;
    if (isam::GetI32(rec) != 0) continue;
    for (uint16_t off : def->moneyOffsets) {
      if (off + 10 > slot) continue;
      if (!modules::IsMoneySound(rec + off)) std::memset(rec + off, 0, 10);
    }
  }
  return bytes;
}

// Judges a data file against its bytes before a run: every slot must be either as it
// was or as the repair leaves it, and the header must be unchanged. Returns a
// description of the first fault, empty when there is none.
inline std::string OldOrRepaired(const std::string& name, const std::string& before, const std::string& now) {
  if (now.size() != before.size()) {
    return name + ": length " + std::to_string(now.size()) + " instead of " + std::to_string(before.size());
  }
  int32_t slot = 0, highest = 0;
  HeaderOf(before, slot, highest);
  if (slot <= 0) return now == before ? "" : name + ": changed";
  if (before.compare(0, 21, now, 0, 21) != 0) return name + ": header changed";
  const std::string repaired = Repaired(name, before);
  for (int64_t r = 1; (r + 1) * slot <= static_cast<int64_t>(now.size()); ++r) {
    const size_t at = static_cast<size_t>(r * slot);
    const size_t n = static_cast<size_t>(slot);
    if (now.compare(at, n, before, at, n) == 0) continue;
    if (now.compare(at, n, repaired, at, n) == 0) continue;
    return name + ": record " + std::to_string(r) + " is neither old nor repaired";
  }
  // Bytes past the last whole slot and the rest of slot 0.
  const size_t tail = static_cast<size_t>((static_cast<int64_t>(now.size()) / slot) * slot);
  if (now.compare(21, static_cast<size_t>(slot) - 21, before, 21, static_cast<size_t>(slot) - 21) != 0 ||
      now.compare(tail, std::string::npos, before, tail, std::string::npos) != 0) {
    return name + ": bytes outside the records changed";
  }
  return "";
}

// Coordination files: the slot layout (marker 2000, 3 + k x m bytes, k >= 2) or a
// single byte. Returns the first that is not, empty when all are sound.
inline std::string CheckCoordinationFiles(const std::string& dir) {
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (!EndsWith(name, ".DIA")) continue;
    const std::string c = ReadFile(e.path());
    if (c.size() == 1) continue;
    const std::string data = ReadFile(fs::path(dir) / (BaseOf(name) + ".DAT"));
    if (data.size() < 21) return name + ": no data file header";
    const int keys = static_cast<uint8_t>(data[16]);
    const size_t m = static_cast<size_t>((keys + 1) / 8 + 1);
    if (c.size() < 3 || (c.size() - 3) % m != 0 || (c.size() - 3) / m < 2) {
      return name + ": length " + std::to_string(c.size());
    }
    if (isam::GetI16(reinterpret_cast<const uint8_t*>(c.data()) + 1) != 2000) return name + ": no layout marker";
  }
  return "";
}

// Opens every data file of the directory as another station and takes its write lock
// and the record lock of record 1: nothing may have been left locked. Returns the
// first failure, empty when every lock was had.
inline std::string CheckNothingLocked(const std::string& dir) {
  isam::Engine e;
  e.StartEngine(kv::isam::EngineMode::kNetwork, 16);
  std::string fault;
  for (const auto& ent : fs::directory_iterator(dir)) {
    const std::string name = ent.path().filename().string();
    if (!EndsWith(name, ".DAT") || modules::FindDataFile(BaseOf(name)) == nullptr) continue;
    isam::BlockHandle b = nullptr;
    e.OpenBlock(b, (fs::path(dir) / BaseOf(name)).string(), {.network = true});
    if (b == nullptr) {
      fault = name + ": open failed with " + std::to_string(e.LastOpError());
      break;
    }
    e.LockSlot(b, 1);
    if (!e.LastOpOK()) fault = name + ": record lock failed with " + std::to_string(e.LastOpError());
    e.LockBlock(b);
    if (!e.LastOpOK() && fault.empty()) fault = name + ": write lock failed with " + std::to_string(e.LastOpError());
    e.UnlockBlock(b);
    e.UnlockSlot(b, 1);
    e.CloseBlock(b);
    if (!fault.empty()) break;
  }
  e.StopEngine();
  return fault;
}

// ---- Peer logs -----------------------------------------------------------------------------

struct PeerWrite {
  std::string file;
  int32_t record = 0;
  size_t offset = 0;
  std::string bytes;
};

struct PeerLog {
  std::vector<PeerWrite> writes;
  std::map<std::string, int> appends;
  long conflicts = 0, waits = 0, failures = 0;
  bool finished = false;  // the summary line is there
};

inline std::string Unhex(const std::string& h) {
  std::string out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return out;
}

inline PeerLog ParsePeerLog(const std::string& path) {
  PeerLog log;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) {
    std::istringstream l(line);
    std::string tag;
    l >> tag;
    if (tag == "W") {
      PeerWrite w;
      std::string hex;
      l >> w.file >> w.record >> w.offset >> hex;
      w.bytes = Unhex(hex);
      log.writes.push_back(std::move(w));
    } else if (tag == "A") {
      std::string file;
      l >> file;
      ++log.appends[file];
    } else if (tag == "S") {
      log.finished = true;
      for (std::string kv; l >> kv;) {
        const size_t eq = kv.find('=');
        if (eq == std::string::npos) continue;
        const long v = std::stol(kv.substr(eq + 1));
        if (kv.compare(0, eq, "conflicts") == 0) log.conflicts = v;
        if (kv.compare(0, eq, "failures") == 0) log.failures = v;
        if (kv.compare(0, eq, "waits") == 0) log.waits = v;
      }
    }
  }
  return log;
}

}  // namespace kv::hardening
