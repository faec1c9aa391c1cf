// `kvfix207-cli repair --yes` killed with SIGKILL at random moments. After each kill
// every record is as it was or as the repair leaves it, every index file is untouched,
// every side file and information record holds its old or its new content, every data
// file opens again with its write lock to be had, and a second run completes and leaves
// nothing to repair, with the same data files as an uninterrupted run.
//
// Short form here (KV_KILL_RUNS, default 5, on a KV_KILL_RECORDS demo company, default
// 5000). scripts/killtest.sh runs the full form.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include "Hardening.h"
#include "app/Scan.h"
#include "testkit/Demo.h"

namespace kv::hardening {
namespace {

int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v == nullptr || *v == '\0' ? fallback : std::atoi(v);
}

bool IsDataOrIndex(const std::string& name) {
  return modules::FindDataFile(BaseOf(name)) != nullptr && (EndsWith(name, ".DAT") || EndsWith(name, ".IX"));
}
bool IsSideFile(const std::string& name) { return modules::FindSideFile(name) != nullptr; }

class HardeningKillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    build_ = BuildDir();
    if (build_.empty()) GTEST_SKIP() << "KV_BUILD_DIR not set (run through ctest)";
    cli_ = build_ + "/src/kvfix207-cli";
    if (!fs::exists(cli_)) FAIL() << "kvfix207-cli of this build is missing: " << cli_;
    // In memory where there is a tmpfs: the runs flush, and a disk makes them slow.
    dir_ = MakeRunDir("kvkill", fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override { RemoveUnlessFailed(dir_); }

  bool StartRepair(Child& c, const std::string& company) {
    return c.Start({cli_, "repair", "--yes", company}, dir_ + "/start",
                   {"APPDATA=" + dir_ + "/appdata", "TEMP=" + dir_ + "/temp"}, dir_ + "/repair.out",
                   dir_ + "/repair.err");
  }
  std::string Output() const { return ReadFile(dir_ + "/repair.out") + ReadFile(dir_ + "/repair.err"); }

  std::string build_, cli_, dir_;
};

TEST_F(HardeningKillTest, EveryKillLeavesOldOrRepairedDataAndASecondRunFinishes) {
  const int runs = EnvInt("KV_KILL_RUNS", kSanitized ? 3 : 5);
  const std::string templ = dir_ + "/template";
  testkit::DemoOptions options;
  options.records = EnvInt("KV_KILL_RECORDS", kSanitized ? 400 : 5000);
  options.seed = 7;
  options.unsoundRate = 0.05;
  ASSERT_EQ(testkit::MakeDemoCompany(templ, options).error, "");
  const Snapshot before = Take(templ);

  // The uninterrupted run: its result and its length.
  const std::string reference = dir_ + "/reference";
  CopyDir(templ, reference);
  Child c;
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(StartRepair(c, reference));
  ASSERT_EQ(c.Wait(600), 0) << Output();
  const double full = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const Snapshot done = Take(reference);

  std::mt19937_64 rng(static_cast<uint64_t>(EnvInt("KV_KILL_SEED", 1)));
  int killedMidRun = 0;
  double secondRuns = 0;
  const std::string work = dir_ + "/work";
  for (int run = 0; run < runs && !HasFailure(); ++run) {
    SCOPED_TRACE("kill " + std::to_string(run));
    CopyDir(templ, work);
    const double delay = std::uniform_real_distribution<double>(0.0, full)(rng);
    ASSERT_TRUE(StartRepair(c, work));
    std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    if (c.Running()) ++killedMidRun;
    c.Signal(SIGKILL);
    c.Wait(60);

    const Snapshot after = Take(work);
    for (const auto& [name, old] : before) {
      auto it = after.find(name);
      if (IsDataOrIndex(name)) {
        ASSERT_NE(it, after.end()) << name << " is gone";
        if (EndsWith(name, ".IX")) {
          EXPECT_TRUE(it->second == old) << name << " changed";
        } else {
          EXPECT_EQ(OldOrRepaired(name, old, it->second), "");
        }
      }
    }
    // Side files and information records: the old or the new content, whole (or still
    // missing where the run had not created them yet).
    for (const auto& [name, fresh] : done) {
      if (!IsSideFile(name)) continue;
      auto now = after.find(name);
      auto old = before.find(name);
      const bool isOld = old == before.end() ? now == after.end() : (now != after.end() && now->second == old->second);
      const bool isNew = now != after.end() && now->second == fresh;
      EXPECT_TRUE(isOld || isNew) << name << " holds neither its old nor its new content ("
                                  << (now == after.end() ? std::string("missing") : std::to_string(now->second.size()) + " bytes")
                                  << ")";
    }
    // Every file opens again and nothing is left locked by the killed process.
    EXPECT_EQ(CheckNothingLocked(work), "");
    EXPECT_EQ(CheckCoordinationFiles(work), "");

    // A second run completes and finds the company as an uninterrupted run leaves it.
    const auto t1 = std::chrono::steady_clock::now();
    ASSERT_TRUE(StartRepair(c, work));
    ASSERT_EQ(c.Wait(600), 0) << Output();
    secondRuns += std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
    const Snapshot again = Take(work);
    for (const auto& [name, want] : done) {
      if (!IsDataOrIndex(name)) continue;
      auto it = again.find(name);
      ASSERT_NE(it, again.end()) << name;
      EXPECT_TRUE(it->second == want) << name << " differs from the uninterrupted run";
    }
    app::ScanSummary summary;
    std::string error;
    int64_t findings = 0;
    EXPECT_TRUE(app::ScanCompany(work, [&](const app::ScanFinding&) { ++findings; }, summary, error)) << error;
    EXPECT_EQ(findings, 0) << "the second run left something to repair";
  }
  std::printf("kill test: %d kills (%d in the middle of a run), full run %.2f s, second runs %.2f s in all\n", runs,
              killedMidRun, full, secondRuns);
}

}  // namespace
}  // namespace kv::hardening
