// The whole repair run with one I/O failure injected by the platform layer: the Nth
// read, write, flush, lock or rename fails (once, or from then on) with EIO, ENOSPC or a
// short count, for every N up to the number of such calls a clean run makes. Each run
// must end completed or with a message, never with a crash or an exception that no front
// end catches; afterwards nothing is left locked and every record is as it was or as the
// repair leaves it.
//
// In CI a spread of N is run (the first few, then some spread over the run, and the
// last); scripts/faultloop.sh sets KV_FAULTLOOP_FULL=1 for every N.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sstream>

#include "Hardening.h"
#include "app/Report.h"
#include "app/Run.h"
#include "app/Undo.h"
#include "company/Settings.h"
#include "modules/Progress.h"
#include "platform/Faults.h"
#include "platform/PlainFile.h"
#include "support/RecordingDialogs.h"
#include "testkit/Demo.h"
#include "ui/Dialogs.h"

namespace kv::hardening {
namespace {

using platform::FaultKind;
using platform::Op;

class NullProgress : public modules::ProgressSink {
 protected:
  void OnStep(std::string_view, std::string_view) override {}
};

struct Outcome {
  bool completed = false;
  bool message = false;       // an error or warning was shown
  std::string escaped;        // an exception no front end expects
  std::vector<std::string> lines;
};

class HardeningFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // In memory where there is a tmpfs: a run flushes its files a hundred times, and on
    // a disk those flushes are most of the loop's time.
    dir_ = MakeTempDir("kvfault", fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp");
    ASSERT_FALSE(dir_.empty());
    fs::create_directories(dir_ + "/start");
    old_ = fs::current_path();
    templ_ = dir_ + "/template";
    testkit::DemoOptions options;
    options.records = 12;
    options.seed = 3;
    options.unsoundRate = 0.3;
    ASSERT_EQ(testkit::MakeDemoCompany(templ_, options).error, "");
    before_ = Take(templ_);
  }
  void TearDown() override {
    platform::ClearFaults();
    fs::current_path(old_);
    RemoveUnlessFailed(dir_);
  }

  // One run on a fresh copy of the company, with `plan` set from the start.
  Outcome RunOnce(const platform::FaultPlan* plan, platform::CallCounts* counts = nullptr) {
    const std::string work = dir_ + "/work";
    CopyDir(templ_, work);
    fs::current_path(dir_ + "/start");
    company::Settings settings;
    settings.dirs.start = dir_ + "/start";
    settings.dirs.settings = dir_ + "/start";
    // Yes to the start-up and "Fix..." questions; No to anything after them (a lock
    // conflict that outlasts the silent retries), which ends the run.
    test::RecordingDialogs dialogs;
    dialogs.answers = {true, true};
    dialogs.defaultAnswer = false;
    std::ostringstream help;
    app::RunHooks hooks;
    hooks.clearAutoSelect = [] {};
    Outcome out;
    {
      app::RepairRun run(dialogs, settings, help, hooks);
      // A failing lock call looks like a record another station holds: one quick round
      // again, so that the loop does not wait out the program's 30 s per file.
      run.SetHeldRecordWait(200, 2);
      NullProgress progress;
      platform::ResetCallCounts();
      if (plan != nullptr) platform::SetFaultPlan(*plan);
      try {
        if (run.Startup(work)) static_cast<void>(run.Fix(progress));
      } catch (const ui::EndRun&) {
      } catch (const platform::IoError&) {
        // The front ends show this one with the standard message.
        out.message = true;
      } catch (const std::exception& e) {
        out.escaped = e.what();
      }
      if (counts != nullptr) *counts = platform::GetCallCounts();
      platform::ClearFaults();
      out.completed = run.Result().reason == ui::EndReason::kNone;
      run.Close();
    }
    fs::current_path(old_);
    // Anything shown after the two run questions tells the user the run did not go
    // through: an error, or the lock-conflict question that was answered No.
    for (size_t i = 0; i < dialogs.events.size(); ++i) {
      const auto& e = dialogs.events[i];
      if (e.title == "Error" || e.title == "Warning" || i >= 2) out.message = true;
    }
    out.lines = dialogs.Lines();
    return out;
  }

  // The checks after every run.
  void Judge(const Outcome& out, const std::string& what, bool persistentWrite) {
    const std::string work = dir_ + "/work";
    EXPECT_TRUE(out.escaped.empty()) << what << ": exception escaped: " << out.escaped;
    EXPECT_TRUE(out.completed || out.message) << what << ": ended without a word";
    EXPECT_EQ(CheckNothingLocked(work), "") << what;
    const Snapshot after = Take(work);
    for (const auto& [name, old] : before_) {
      if (!EndsWith(name, ".DAT") || modules::FindDataFile(BaseOf(name)) == nullptr) continue;
      auto it = after.find(name);
      ASSERT_NE(it, after.end()) << what << ": " << name << " is gone";
      const std::string fault = OldOrRepaired(name, old, it->second);
      // A disk that fails every write from some point on may cut the one record being
      // written; that is the single case where a record may be neither.
      if (!fault.empty() && persistentWrite) {
        ++partialUnderPersistentWrite_;
        continue;
      }
      EXPECT_EQ(fault, "") << what;
    }
  }

  std::string dir_, templ_;
  fs::path old_;
  Snapshot before_;
  int partialUnderPersistentWrite_ = 0;
};

TEST_F(HardeningFaultTest, EveryInjectedFailureEndsCleanly) {
  platform::CallCounts clean;
  const Outcome first = RunOnce(nullptr, &clean);
  ASSERT_TRUE(first.completed);
  const bool full = std::getenv("KV_FAULTLOOP_FULL") != nullptr;
  const char* only = std::getenv("KV_FAULT_ONLY");
  std::printf("clean run: read %llu write %llu flush %llu lock %llu rename %llu calls\n",
              static_cast<unsigned long long>(clean.calls[static_cast<int>(Op::kRead)]),
              static_cast<unsigned long long>(clean.calls[static_cast<int>(Op::kWrite)]),
              static_cast<unsigned long long>(clean.calls[static_cast<int>(Op::kFlush)]),
              static_cast<unsigned long long>(clean.calls[static_cast<int>(Op::kLock)]),
              static_cast<unsigned long long>(clean.calls[static_cast<int>(Op::kRename)]));

  struct Kind {
    const char* name;
    FaultKind kind;
    int err;
  };
  const Kind eio{"EIO", FaultKind::kError, EIO}, enospc{"ENOSPC", FaultKind::kError, ENOSPC},
      shortCount{"short", FaultKind::kShortCount, EIO};
  struct Target {
    const char* name;
    Op op;
    std::vector<Kind> kinds;
  };
  const Target targets[] = {{"read", Op::kRead, {eio, shortCount}},
                            {"write", Op::kWrite, {eio, enospc, shortCount}},
                            {"flush", Op::kFlush, {eio, enospc}},
                            {"lock", Op::kLock, {eio}},
                            {"rename", Op::kRename, {eio, enospc}}};

  int runs = 0, completed = 0, messages = 0;
  for (const Target& t : targets) {
    const char* opName = t.name;
    const Op op = t.op;
    const uint64_t calls = clean.calls[static_cast<int>(op)];
    // CI: the first calls one by one (start-up and the first file), then a spread over
    // the rest of the run, and the last call and one beyond it.
    const uint64_t first = kSanitized ? 4 : 12;
    const uint64_t spread = std::max<uint64_t>(1, calls / (kSanitized ? 5 : 16));
    for (const Kind& k : t.kinds) {
      for (const bool persistent : {false, true}) {
        for (uint64_t n = 1; n <= calls + 1; ++n) {
          if (!full && n > first && (n % spread) != 0 && n != calls && n != calls + 1) continue;
          platform::FaultPlan plan;
          plan.op = op;
          plan.nth = n;
          plan.persistent = persistent;
          plan.kind = k.kind;
          plan.errnoValue = k.err;
          const std::string what = std::string(opName) + " #" + std::to_string(n) + " " + k.name +
                                   (persistent ? " from then on" : " once");
          // KV_FAULT_ONLY="read #34 short from then on" runs that one case.
          if (only != nullptr && what != only) continue;
          const auto t0 = std::chrono::steady_clock::now();
          const Outcome out = RunOnce(&plan);
          const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
          if (took > 1.0) std::printf("  slow: %s took %.1f s\n", what.c_str(), took);
          ++runs;
          if (out.completed) ++completed;
          else ++messages;
          Judge(out, what, persistent && op == Op::kWrite);
          if (HasFailure()) {
            for (const std::string& l : out.lines) std::printf("  %s\n", l.c_str());
            return;
          }
        }
      }
    }
  }
  std::printf("fault loop: %d runs (%s), %d completed, %d ended with a message, %d partial records under "
              "persistent write failure; clean run calls: read %llu write %llu flush %llu lock %llu rename %llu\n",
              runs, full ? "every N" : "spread of N", completed, messages, partialUnderPersistentWrite_,
              static_cast<unsigned long long>(clean.calls[static_cast<int>(Op::kRead)]),
              static_cast<unsigned long long>(clean.calls[static_cast<int>(Op::kWrite)]),
              static_cast<unsigned long long>(clean.calls[static_cast<int>(Op::kFlush)]),
              static_cast<unsigned long long>(clean.calls[static_cast<int>(Op::kLock)]),
              static_cast<unsigned long long>(clean.calls[static_cast<int>(Op::kRename)]));
}

// Written ahead, table rows of the Nth write failing once (ENOSPC, a short count): the
// report a run leaves lists exactly the fields that are zero on disk now (however it
// ended: a failed report write ends it before the next record's write), and the undo of
// that report puts every one of them back, so that every walked data file is as it was.
TEST_F(HardeningFaultTest, AReportWriteThatFailsLosesNothingAndItsUndoPutsEverythingBack) {
  platform::CallCounts clean;
  ASSERT_TRUE(RunOnce(nullptr, &clean).completed);
  const uint64_t writes = clean.calls[static_cast<int>(Op::kWrite)];
  const std::string work = dir_ + "/work";
  struct Row {
    const char* what;
    FaultKind kind;
    int err;
  };
  const Row rows[] = {{"ENOSPC", FaultKind::kError, ENOSPC}, {"short", FaultKind::kShortCount, ENOSPC}};
  const uint64_t step = std::max<uint64_t>(1, writes / (kSanitized ? 6 : 24));
  int endedEarly = 0;
  for (const Row& row : rows) {
    for (uint64_t n = 1; n <= writes; n += (n < 8 ? 1 : step)) {
      const std::string what = std::string(row.what) + " at write #" + std::to_string(n);
      SCOPED_TRACE(what);
      platform::FaultPlan plan;
      plan.op = Op::kWrite;
      plan.nth = n;
      plan.kind = row.kind;
      plan.errnoValue = row.err;
      const Outcome out = RunOnce(&plan);
      ASSERT_TRUE(out.escaped.empty()) << out.escaped;
      if (!out.completed) ++endedEarly;
      std::string reportPath;
      for (const auto& e : fs::directory_iterator(work))
        if (e.path().filename().string().rfind("KVFIX207-2", 0) == 0) reportPath = e.path().string();
      if (reportPath.empty()) continue;  // the report could not be made: nothing changed
      std::string text = ReadFile(reportPath);
      app::ReportContents report;
      std::string error;
      ASSERT_TRUE(app::ParseRepairReport(text, report, error)) << error;
      ASSERT_TRUE(report.sumsMatch);
      // Every money field that differs from the template is one the report lists.
      size_t changed = 0;
      for (const auto& [name, old] : before_) {
        const modules::DataFileDef* def = modules::FindDataFile(BaseOf(name));
        if (!EndsWith(name, ".DAT") || def == nullptr || def->walkOrder == 0) continue;
        const std::string now = ReadFile(work + "/" + name);
        const size_t slot = static_cast<size_t>(def->recordLength);
        for (size_t r = 1; (r + 1) * slot <= std::min(now.size(), old.size()); ++r) {
          for (uint16_t off : def->moneyOffsets) {
            if (off + 10u > slot || now.compare(r * slot + off, 10, old, r * slot + off, 10) == 0) continue;
            ++changed;
            const bool listed = std::any_of(report.written.begin(), report.written.end(), [&](const app::ReportedField& f) {
              return f.file == BaseOf(name) && f.record == static_cast<int32_t>(r) && f.offset == off;
            });
            EXPECT_TRUE(listed) << name << " record " << r << " offset " << off << " changed but is not in the report";
          }
        }
      }
      EXPECT_EQ(changed, report.written.size());
      // The undo puts every one of them back.
      test::RecordingDialogs dialogs;
      dialogs.defaultAnswer = true;
      {
        app::UndoRun undo(dialogs);
        undo.SetHeldRecordWait(200, 2);
        ASSERT_TRUE(undo.Prepare(reportPath, error)) << error;
        undo.PutBack(false, [](const app::UndoLine&) {});
        EXPECT_EQ(undo.LeftCount(), 0);
        EXPECT_EQ(undo.PutBackCount(), static_cast<int64_t>(report.written.size()));
        undo.Close();
      }
      fs::current_path(old_);
      for (const auto& [name, old] : before_) {
        const modules::DataFileDef* def = modules::FindDataFile(BaseOf(name));
        if (!EndsWith(name, ".DAT") || def == nullptr || def->walkOrder == 0) continue;
        const std::string now = ReadFile(work + "/" + name);
        const size_t slot = static_cast<size_t>(def->recordLength);
        EXPECT_EQ(now.substr(std::min(slot, now.size())), old.substr(std::min(slot, old.size()))) << name << " not as it was";
      }
      if (HasFailure()) return;
    }
  }
  std::printf("report write faults: %d runs ended early\n", endedEarly);
}

}  // namespace
}  // namespace kv::hardening
