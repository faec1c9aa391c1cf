// The repair run while other copies of the suite work on the same company: several peer
// stations (tests/tools/peer_station) rewrite and append records of every walked file,
// each under the record and write locks, while `kvfix207-cli repair --yes` walks the
// files. Afterwards every write a peer logged must be in the files, every unsound amount
// that was there before must be zero unless a peer wrote a sound one over it, no other
// byte may have changed, the coordination files must be sound and nothing may be left
// locked; no process may wait for ever.
//
// Short form here (two rounds, four peers). The long form is scripts/stress.sh, which sets
//   KV_STRESS_ROUNDS, KV_STRESS_PEERS, KV_STRESS_RECORDS, KV_STRESS_PAUSE_US
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "Hardening.h"
#include "app/Scan.h"
#include "testkit/Demo.h"

namespace kv::hardening {
namespace {

int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v == nullptr || *v == '\0' ? fallback : std::atoi(v);
}

struct Figures {
  int peers = 0;
  long writes = 0, held = 0, appends = 0, conflicts = 0, waits = 0;
  long lost = 0, soundChanged = 0, unsoundLeft = 0;
  double seconds = 0;
};

class HardeningStressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    build_ = BuildDir();
    if (build_.empty()) GTEST_SKIP() << "KV_BUILD_DIR not set (run through ctest)";
    cli_ = build_ + "/src/kvfix207-cli";
    peer_ = build_ + "/tests/peer_station";
    if (!fs::exists(cli_) || !fs::exists(peer_)) FAIL() << "kvfix207-cli or peer_station of this build is missing";
    dir_ = MakeRunDir("kvstress");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override { RemoveUnlessFailed(dir_); }

  // One round: a fresh demo company, the peers, the repair, the checks.
  void Round(int round, int peers, int records, int pauseMicros, Figures& fig) {
    const std::string company = dir_ + "/company" + std::to_string(round);
    testkit::DemoOptions options;
    options.records = records;
    options.seed = 1000 + static_cast<uint64_t>(round);
    options.unsoundRate = 0.05;
    const testkit::DemoCompany demo = testkit::MakeDemoCompany(company, options);
    ASSERT_EQ(demo.error, "");
    const Snapshot before = Take(company);

    std::vector<Child> stations(static_cast<size_t>(peers));
    const std::string go = dir_ + "/go" + std::to_string(round);
    for (int i = 0; i < peers; ++i) {
      const std::string stem = dir_ + "/peer" + std::to_string(round) + "_" + std::to_string(i);
      ASSERT_TRUE(stations[static_cast<size_t>(i)].Start(
          {peer_, "--dir", company, "--peer", std::to_string(i), "--peers", std::to_string(peers), "--log",
           stem + ".log", "--ready", stem + ".ready", "--go", go, "--seed", std::to_string(round * 100 + i),
           "--pause-us", std::to_string(pauseMicros)},
          "", {}, stem + ".out", stem + ".err"));
    }
    // Every peer has its files open and its records counted before the repair starts.
    const auto waitUntil = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int i = 0; i < peers; ++i) {
      const std::string ready = dir_ + "/peer" + std::to_string(round) + "_" + std::to_string(i) + ".ready";
      while (!fs::exists(ready)) {
        ASSERT_TRUE(stations[static_cast<size_t>(i)].Running()) << "peer " << i << " ended early";
        ASSERT_LT(std::chrono::steady_clock::now(), waitUntil) << "peer " << i << " never got ready";
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    std::ofstream(go) << "go\n";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    const auto start = std::chrono::steady_clock::now();
    Child repair;
    ASSERT_TRUE(repair.Start({cli_, "repair", "--yes", company}, dir_ + "/start",
                             {"APPDATA=" + dir_ + "/appdata", "TEMP=" + dir_ + "/temp"}, dir_ + "/repair.out",
                             dir_ + "/repair.err"));
    const int status = repair.Wait(600);
    fig.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (Child& s : stations) s.Signal(SIGTERM);
    for (size_t i = 0; i < stations.size(); ++i) {
      EXPECT_EQ(stations[i].Wait(60), 0) << "peer " << i << " (-1000: did not end; 3: a write failed)\n"
                                         << ReadFile(dir_ + "/peer" + std::to_string(round) + "_" +
                                                     std::to_string(i) + ".err");
    }
    ASSERT_EQ(status, 0) << "repair (-1000: did not end)\n" << ReadFile(dir_ + "/repair.out")
                         << ReadFile(dir_ + "/repair.err");

    // Expected bytes: the files as they were, every logged write applied in log order,
    // then every unsound amount of a live record zeroed.
    Snapshot expected = before;
    std::vector<PeerLog> logs;
    for (int i = 0; i < peers; ++i) {
      logs.push_back(ParsePeerLog(dir_ + "/peer" + std::to_string(round) + "_" + std::to_string(i) + ".log"));
      const PeerLog& log = logs.back();
      EXPECT_TRUE(log.finished) << "peer " << i << " left no summary";
      EXPECT_EQ(log.failures, 0) << "peer " << i;
      fig.conflicts += log.conflicts;
      fig.waits += log.waits;
      for (const PeerWrite& w : log.writes) {
        std::string& bytes = expected[w.file + ".DAT"];
        int32_t slot = 0, highest = 0;
        HeaderOf(bytes, slot, highest);
        const size_t at = static_cast<size_t>(w.record) * static_cast<size_t>(slot) + w.offset;
        if (bytes.size() < at + w.bytes.size()) bytes.resize(at + w.bytes.size(), '\0');
        bytes.replace(at, w.bytes.size(), w.bytes);
        ++fig.writes;
      }
      for (const auto& [file, n] : log.appends) {
        std::string& bytes = expected[file + ".DAT"];
        auto* p = reinterpret_cast<uint8_t*>(bytes.data());
        isam::PutI32(p + 8, isam::GetI32(p + 8) + n);
        fig.appends += n;
      }
    }
    for (auto& [name, bytes] : expected) {
      if (EndsWith(name, ".DAT") && modules::FindDataFile(BaseOf(name)) != nullptr) bytes = Repaired(name, bytes);
    }

    const Snapshot after = Take(company);
    for (const auto& [name, want] : expected) {
      if (!EndsWith(name, ".DAT") && !EndsWith(name, ".IX")) continue;
      if (EndsWith(name, ".DAT") && modules::FindDataFile(BaseOf(name)) == nullptr) continue;  // side files
      auto it = after.find(name);
      ASSERT_NE(it, after.end()) << name << " is gone";
      const std::string& got = it->second;
      EXPECT_EQ(got.size(), want.size()) << name;
      if (got == want) continue;
      int32_t slot = 0, highest = 0;
      HeaderOf(want, slot, highest);
      for (size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
        if (got[i] == want[i]) continue;
        const bool logged = std::any_of(logs.begin(), logs.end(), [&](const PeerLog& l) {
          return std::any_of(l.writes.begin(), l.writes.end(), [&](const PeerWrite& w) {
            const size_t at = static_cast<size_t>(w.record) * static_cast<size_t>(slot) + w.offset;
            return w.file + ".DAT" == name && i >= at && i < at + w.bytes.size();
          });
        });
        if (logged) ++fig.lost;
        else ++fig.soundChanged;
        if (fig.lost + fig.soundChanged < 5) {
          ADD_FAILURE() << name << " byte " << i << " (record " << (slot > 0 ? i / static_cast<size_t>(slot) : 0)
                        << ", offset " << (slot > 0 ? i % static_cast<size_t>(slot) : i) << ")"
                        << (logged ? ": a peer's write was lost" : ": a byte no peer wrote changed");
        }
      }
    }
    // Writes held: every logged range still holds what the last write to it put there.
    for (const PeerLog& l : logs) {
      for (const PeerWrite& w : l.writes) {
        const std::string& got = after.at(w.file + ".DAT");
        const std::string& want = expected.at(w.file + ".DAT");
        int32_t slot = 0, highest = 0;
        HeaderOf(want, slot, highest);
        const size_t at = static_cast<size_t>(w.record) * static_cast<size_t>(slot) + w.offset;
        if (got.compare(at, w.bytes.size(), want, at, w.bytes.size()) == 0) ++fig.held;
      }
    }
    EXPECT_EQ(fig.lost, 0);
    EXPECT_EQ(fig.soundChanged, 0);

    app::ScanSummary summary;
    std::string error;
    EXPECT_TRUE(app::ScanCompany(company, [&](const app::ScanFinding&) { ++fig.unsoundLeft; }, summary, error))
        << error;
    EXPECT_EQ(fig.unsoundLeft, 0);
    EXPECT_EQ(CheckCoordinationFiles(company), "");
    EXPECT_EQ(CheckNothingLocked(company), "");
    if (!HasFailure()) {
      std::error_code ec;
      fs::remove_all(company, ec);
    }
  }

  std::string build_, cli_, peer_, dir_;
};

TEST_F(HardeningStressTest, PeersKeepEveryWriteWhileTheRepairRuns) {
  const int rounds = EnvInt("KV_STRESS_ROUNDS", kSanitized ? 1 : 2);
  Figures fig;
  fig.peers = EnvInt("KV_STRESS_PEERS", 4);
  ASSERT_GE(fig.peers, 4);
  for (int round = 0; round < rounds && !HasFatalFailure(); ++round) {
    Round(round, fig.peers, EnvInt("KV_STRESS_RECORDS", 800), EnvInt("KV_STRESS_PAUSE_US", 300), fig);
  }
  std::printf("stress: rounds %d, peers %d, writes logged %ld, writes held %ld, appends %ld, "
              "lock conflicts retried %ld, locks had after a wait %ld, lost writes %ld, changed sound bytes %ld, "
              "unsound left %ld, repair run time %.1f s\n",
              rounds, fig.peers, fig.writes, fig.held, fig.appends, fig.conflicts, fig.waits, fig.lost,
              fig.soundChanged, fig.unsoundLeft, fig.seconds);
}

}  // namespace
}  // namespace kv::hardening
