// Another copy of the suite on the same company, for the stress tests: opens the walked
// module data files in network mode and, in a loop, rewrites records it owns and appends
// new ones, each under the record lock and the write lock with a fresh read, and logs
// every byte range it wrote so a test can check afterwards that every one of them is in
// the files.
//
//   peer_station --dir DIR --peer I --peers P --log FILE [--seconds S] [--ops N]
//                [--files GLFILE01,ICFILE02,...] [--seed X] [--pause-us U]
//                [--ready FILE] [--go FILE]
//
// Ownership: peer I rewrites only the live records r with r mod P = I that existed when it
// started, and the records it appended itself, so no two peers ever write the same bytes;
// whatever a peer logs for a byte range is what that range must hold at the end (last
// write in log order wins), unless the repair reset an unsound amount there, and a peer
// only ever writes sound amounts.
//
// Each write changes one to three fields of the record: a run of non-money bytes (never
// the first four, which mark the record live) or one money field set to a new sound
// amount. An append writes a whole new live slot at HighestSlot + 1.
//
// Log lines (flushed one by one, so a killed peer leaves a usable log):
//   W <file> <record> <offset> <hex bytes>   a byte range written
//   A <file> <record>                        a record appended (its W line follows)
//   S writes=<n> appends=<n> conflicts=<n> waits=<n> failures=<n> ops=<n>   at the end
// (conflicts: lock attempts that failed and were made again; waits: locks that were had
// only after the engine waited for another station)
//
// --ready is written once every file is open and ownership is fixed; with --go the peer
// then waits until that file exists, so a test can start all peers before the repair.
// SIGTERM and SIGINT end the loop after the current operation; the peer closes its files
// and exits 0. Exit 1: a file could not be opened; 3: a write could not be made (the
// log's failures count says how many).
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "isam/Coding.h"
#include "isam/Engine.h"
#include "modules/ModuleTables.h"
#include "testkit/Money.h"

namespace {

volatile sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

struct Options {
  std::string dir, log, ready, go;
  int peer = 0, peers = 1;
  double seconds = 0;
  long ops = 0;
  uint64_t seed = 1;
  int pauseMicros = 500;
  std::vector<std::string> files;
};

struct PeerFile {
  std::string name;
  const kv::modules::DataFileDef* def = nullptr;
  kv::isam::BlockHandle block = nullptr;
  int32_t slotLength = 0;
  std::vector<int32_t> owned;   // records this peer may rewrite
  std::vector<bool> isMoney;    // per byte of the slot: inside a money field
};

struct Counters {
  long writes = 0, appends = 0, conflicts = 0, waits = 0, failures = 0, ops = 0;
};

// A lock that took longer than this was held by another station meanwhile (the engine
// waits out short conflicts itself, in steps of 64 ms).
constexpr auto kWaitedLock = std::chrono::milliseconds(5);

// Record and write lock conflicts are waited out; anything else is a failure.
constexpr int kMaxLockAttempts = 2000;

bool IsConflict(int32_t error) { return error == 10330 || error == 10335 || error == 10399; }

std::string Hex(const uint8_t* p, size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string s;
  s.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    s.push_back(kDigits[p[i] >> 4]);
    s.push_back(kDigits[p[i] & 15]);
  }
  return s;
}

bool ParseArgs(int argc, char** argv, Options& o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string k = argv[i], v = argv[i + 1];
    if (k == "--dir") o.dir = v;
    else if (k == "--log") o.log = v;
    else if (k == "--ready") o.ready = v;
    else if (k == "--go") o.go = v;
    else if (k == "--peer") o.peer = std::atoi(v.c_str());
    else if (k == "--peers") o.peers = std::atoi(v.c_str());
    else if (k == "--seconds") o.seconds = std::atof(v.c_str());
    else if (k == "--ops") o.ops = std::atol(v.c_str());
    else if (k == "--seed") o.seed = std::strtoull(v.c_str(), nullptr, 10);
    else if (k == "--pause-us") o.pauseMicros = std::atoi(v.c_str());
    else if (k == "--files") {
      size_t at = 0;
      while (at <= v.size()) {
        const size_t comma = v.find(',', at);
        const std::string one = v.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        if (!one.empty()) o.files.push_back(one);
        if (comma == std::string::npos) break;
        at = comma + 1;
      }
    } else {
      return false;
    }
  }
  return (argc % 2) == 1 && !o.dir.empty() && !o.log.empty() && o.peers >= 1 && o.peer >= 0 &&
         o.peer < o.peers;
}

class Peer {
 public:
  Peer(const Options& o, std::FILE* log) : o_(o), log_(log), rng_(o.seed * 1000003u + static_cast<uint64_t>(o.peer)) {}

  bool Open() {
    engine_.StartEngine(kv::isam::EngineMode::kNetwork, 64);
    if (!engine_.LastOpOK()) return Fail("start", engine_.LastOpError());
    std::vector<std::string> names = o_.files;
    if (names.empty()) {
      for (const auto* def : kv::modules::WalkedFiles()) {
        if (std::filesystem::exists(std::string(def->baseName) + ".DAT")) names.emplace_back(def->baseName);
      }
    }
    for (const std::string& name : names) {
      PeerFile f;
      f.name = name;
      f.def = kv::modules::FindDataFile(name);
      if (!OpenOne(f)) return false;
      files_.push_back(std::move(f));
    }
    // Ownership is fixed from what the files hold now, under the write lock, so every
    // peer started before the go signal sees the same records.
    for (PeerFile& f : files_) {
      if (!Locked(f, 0, [&] {
            const int32_t total = engine_.SlotTotal(f.block);
            std::vector<uint8_t> slot(static_cast<size_t>(f.slotLength));
            for (int32_t r = 1; r < total; ++r) {
              if (r % o_.peers != o_.peer) continue;
              engine_.ReadSlot(f.block, r, slot);
              if (!engine_.LastOpOK()) return false;
              if (kv::isam::GetI32(slot.data()) == 0) f.owned.push_back(r);
            }
            return true;
          })) {
        return false;
      }
    }
    return true;
  }

  void Run() {
    const auto start = std::chrono::steady_clock::now();
    std::vector<uint8_t> slot;
    while (!gStop) {
      if (o_.ops > 0 && counters_.ops >= o_.ops) break;
      if (o_.seconds > 0 &&
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= o_.seconds) {
        break;
      }
      if (files_.empty()) break;
      PeerFile& f = files_[kv::testkit::RandomBelow(rng_, files_.size())];
      slot.assign(static_cast<size_t>(f.slotLength), 0);
      ++counters_.ops;
      const bool append = f.owned.empty() || kv::testkit::RandomBelow(rng_, 100) < 4;
      if (append ? !Append(f, slot) : !Rewrite(f, slot)) ++counters_.failures;
      if (o_.pauseMicros > 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(
            kv::testkit::RandomBelow(rng_, static_cast<uint64_t>(o_.pauseMicros) * 2 + 1)));
      }
    }
  }

  void Close() {
    for (PeerFile& f : files_) {
      if (f.block != nullptr) engine_.CloseBlock(f.block);
    }
    engine_.StopEngine();
    std::fprintf(log_, "S writes=%ld appends=%ld conflicts=%ld waits=%ld failures=%ld ops=%ld\n", counters_.writes,
                 counters_.appends, counters_.conflicts, counters_.waits, counters_.failures, counters_.ops);
    std::fflush(log_);
  }

  const Counters& counters() const { return counters_; }

 private:
  bool Fail(const char* what, int32_t error) {
    std::fprintf(stderr, "peer_station %d: %s failed with %d\n", o_.peer, what, error);
    return false;
  }

  bool OpenOne(PeerFile& f) {
    for (int attempt = 0;; ++attempt) {
      engine_.OpenBlock(f.block, f.name, {.network = true});
      if (engine_.LastOpOK()) break;
      // Another station may hold the open lock for a moment, or be setting up a new
      // coordination file.
      const int32_t e = engine_.LastOpError();
      if ((e == 10355 || e == 10360) && attempt < 200) {
        ++counters_.conflicts;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      return Fail(("open " + f.name).c_str(), e);
    }
    f.slotLength = engine_.SlotLength(f.block);
    f.isMoney.assign(static_cast<size_t>(f.slotLength), false);
    if (f.def != nullptr) {
      for (uint16_t at : f.def->moneyOffsets) {
        for (size_t i = at; i < at + 10u && i < f.isMoney.size(); ++i) f.isMoney[i] = true;
      }
    }
    return true;
  }

  // Runs `body` under the record lock of `record` (0: none) and the write lock, waiting
  // out conflicts. The locks are taken in the order the repair takes them.
  template <class Body>
  bool Locked(PeerFile& f, int32_t record, Body&& body) {
    for (int attempt = 0; attempt < kMaxLockAttempts && !gStop; ++attempt) {
      const auto asked = std::chrono::steady_clock::now();
      if (record > 0) {
        engine_.LockSlot(f.block, record);
        if (!engine_.LastOpOK()) {
          if (!IsConflict(engine_.LastOpError())) return Fail("record lock", engine_.LastOpError());
          ++counters_.conflicts;
          continue;
        }
      }
      engine_.LockBlock(f.block);
      if (!engine_.LastOpOK()) {
        const int32_t e = engine_.LastOpError();
        if (record > 0) engine_.UnlockSlot(f.block, record);
        if (!IsConflict(e)) return Fail("write lock", e);
        ++counters_.conflicts;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        continue;
      }
      if (std::chrono::steady_clock::now() - asked > kWaitedLock) ++counters_.waits;
      const bool ok = body();
      engine_.UnlockBlock(f.block);
      bool released = engine_.LastOpOK();
      if (!released) Fail("unlock", engine_.LastOpError());
      if (record > 0) {
        engine_.UnlockSlot(f.block, record);
        if (!engine_.LastOpOK()) released = Fail("record unlock", engine_.LastOpError());
      }
      return ok && released;
    }
    return gStop ? true : Fail("lock (gave up waiting)", 10330);
  }

  // Fills one to three fields of `slot` with new content and logs each range written.
  void Scribble(const PeerFile& f, std::span<uint8_t> slot, int32_t record, std::vector<std::string>& lines) {
    const int fields = 1 + static_cast<int>(kv::testkit::RandomBelow(rng_, 3));
    const auto& money = f.def != nullptr ? f.def->moneyOffsets : std::span<const uint16_t>{};
    for (int i = 0; i < fields; ++i) {
      size_t at = 0, len = 0;
      if (!money.empty() && kv::testkit::RandomBelow(rng_, 2) == 0) {
        at = money[kv::testkit::RandomBelow(rng_, money.size())];
        if (at + 10 > slot.size()) continue;
        const kv::testkit::Money m = kv::testkit::RandomSoundMoney(rng_);
        std::memcpy(slot.data() + at, m.data(), 10);
        len = 10;
      } else {
        // A run of up to 8 non-money bytes after the live mark.
        if (slot.size() <= 4) continue;
        at = 4 + kv::testkit::RandomBelow(rng_, slot.size() - 4);
        while (at < slot.size() && f.isMoney[at]) ++at;
        while (len < 8 && at + len < slot.size() && !f.isMoney[at + len]) ++len;
        if (len == 0) continue;
        for (size_t j = 0; j < len; ++j) slot[at + j] = static_cast<uint8_t>(kv::testkit::NextRandom(rng_));
      }
      lines.push_back("W " + f.name + " " + std::to_string(record) + " " + std::to_string(at) + " " +
                      Hex(slot.data() + at, len));
    }
  }

  bool Rewrite(PeerFile& f, std::vector<uint8_t>& slot) {
    const int32_t record = f.owned[kv::testkit::RandomBelow(rng_, f.owned.size())];
    std::vector<std::string> lines;
    bool wrote = false;
    const bool ok = Locked(f, record, [&] {
      engine_.ReadSlot(f.block, record, slot);
      if (!engine_.LastOpOK()) return Fail("read", engine_.LastOpError());
      if (kv::isam::GetI32(slot.data()) != 0) return true;  // deleted by nobody; cannot happen
      Scribble(f, slot, record, lines);
      engine_.WriteSlot(f.block, record, slot);
      if (!engine_.LastOpOK()) return Fail("write", engine_.LastOpError());
      wrote = true;
      return true;
    });
    // Logged only once the write lock is given back: the change is then in the file
    // and signalled.
    if (ok && wrote) {
      for (const std::string& l : lines) std::fprintf(log_, "%s\n", l.c_str());
      std::fflush(log_);
      counters_.writes += static_cast<long>(lines.size());
    }
    return ok;
  }

  bool Append(PeerFile& f, std::vector<uint8_t>& slot) {
    std::fill(slot.begin(), slot.end(), 0);
    std::vector<std::string> lines;
    int32_t added = 0;
    const bool ok = Locked(f, 0, [&] {
      Scribble(f, slot, 0, lines);
      added = engine_.AppendSlot(f.block, slot);
      if (!engine_.LastOpOK()) return Fail("append", engine_.LastOpError());
      return true;
    });
    if (ok && added > 0) {
      f.owned.push_back(added);
      std::fprintf(log_, "A %s %d\nW %s %d 0 %s\n", f.name.c_str(), added, f.name.c_str(), added,
                   Hex(slot.data(), slot.size()).c_str());
      std::fflush(log_);
      ++counters_.appends;
      ++counters_.writes;
    }
    return ok;
  }

  const Options& o_;
  std::FILE* log_;
  uint64_t rng_;
  kv::isam::Engine engine_;
  std::vector<PeerFile> files_;
  Counters counters_;
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: peer_station --dir DIR --peer I --peers P --log FILE [--seconds S] [--ops N]\n"
                 "       [--files A,B] [--seed X] [--pause-us U] [--ready FILE] [--go FILE]\n");
    return 2;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);

  std::FILE* log = std::fopen(o.log.c_str(), "w");
  if (log == nullptr) {
    std::perror(o.log.c_str());
    return 2;
  }
  std::error_code ec;
  std::filesystem::current_path(o.dir, ec);
  if (ec) {
    std::fprintf(stderr, "peer_station: cannot change into %s\n", o.dir.c_str());
    return 2;
  }
  Peer peer(o, log);
  if (!peer.Open()) {
    peer.Close();
    std::fclose(log);
    return 1;
  }
  if (!o.ready.empty()) std::ofstream(o.ready) << "ready\n";
  while (!o.go.empty() && !gStop && !std::filesystem::exists(o.go)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  peer.Run();
  peer.Close();
  std::fclose(log);
  return peer.counters().failures > 0 ? 3 : 0;
}
