// Repairs of several records under one block lock: what was read before the locks is
// never written, a record deleted, locked or failing meanwhile costs only itself, every
// lock taken is let go again, a held lock is never waited for past the engine's wait,
// and the other stations get one change signal per run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "IsamFixture.h"
#include "isam/Access.h"
#include "isam/Engine.h"
#include "platform/Faults.h"
#include "support/RecordingDialogs.h"
#include "testkit/Builder.h"
#include "testkit/Writes.h"
#include "ui/Dialogs.h"

namespace kv::isam::testing {
namespace {

constexpr int32_t kSlot = 40;
constexpr size_t kFieldA = 8, kFieldB = 20;  // two 4-byte "amounts"; all ones is damage
constexpr size_t kText = 30;                 // a byte the repair never touches

bool Damaged(const uint8_t* field) { return GetI32(field) == -1; }

class BatchRepairTest : public IsamTest {
 protected:
  void SetUp() override {
    IsamTest::SetUp();
    ASSERT_EQ(ours_.StartEngine(EngineMode::kNetwork, 16), 16);
    ASSERT_EQ(theirs_.StartEngine(EngineMode::kNetwork, 16), 16);
    access_ = std::make_unique<AccessLayer>(ours_, dialogs_, AccessHooks{},
                                            AccessSettings{.saveMode = false, .flushAfterWrite = false, .silentRetries = 0});
  }
  void TearDown() override {
    platform::ClearFaults();
    access_.reset();
    for (Engine* e : {&ours_, &theirs_}) {
      if (e->Initialised()) e->StopEngine();
    }
    IsamTest::TearDown();
  }

  // Records 1..slots; the records in `damaged` carry damage in both fields. Record r
  // holds r at offset 4 and 'a' at kText.
  void Build(int32_t slots, const std::vector<int32_t>& damaged) {
    testkit::FileLayout fileLayout;
    fileLayout.dataPath = Path("B.DAT");
    fileLayout.slotLength = kSlot;
    fileLayout.highestSlot = slots;
    ASSERT_EQ(testkit::BuildFile(fileLayout,
                                 [&](int32_t r, bool, std::span<uint8_t> slot, testkit::KeySink&) {
                                   PutI32(slot.data() + 4, r);
                                   slot[kText] = 'a';
                                   if (std::find(damaged.begin(), damaged.end(), r) != damaged.end()) {
                                     PutI32(slot.data() + kFieldA, -1);
                                     PutI32(slot.data() + kFieldB, -1);
                                   }
                                 }),
              "");
    ours_.OpenBlock(mine_, Path("B"), {.network = true});
    ASSERT_OK(ours_);
    theirs_.OpenBlock(other_, Path("B"), {.network = true});
    ASSERT_OK(theirs_);
  }

  std::string Record(int32_t r) const {
    return ReadRaw("B.DAT").substr(static_cast<size_t>(r) * kSlot, kSlot);
  }

  // The other station changes record r under its record and block locks.
  void TheyChange(int32_t r, const std::function<void(std::vector<uint8_t>&)>& change) {
    std::vector<uint8_t> slot(kSlot);
    theirs_.LockSlot(other_, r);
    theirs_.LockBlock(other_);
    theirs_.ReadSlot(other_, r, slot);
    change(slot);
    theirs_.WriteSlot(other_, r, slot);
    ASSERT_OK(theirs_);
    theirs_.UnlockBlock(other_);
    theirs_.UnlockSlot(other_, r);
    ASSERT_OK(theirs_);
  }

  // Zeroes the damaged fields and notes which records it saw, in order.
  RecordFix Fix() {
    return [this](int32_t r, std::span<uint8_t> slot) {
      fixed_.push_back(r);
      int zeroed = 0;
      for (size_t at : {kFieldA, kFieldB}) {
        if (Damaged(slot.data() + at)) {
          PutI32(slot.data() + at, 0);
          ++zeroed;
        }
      }
      return zeroed;
    };
  }

  std::vector<RepairOutcome> Repair(const std::vector<int32_t>& records) {
    std::vector<RepairOutcome> outcomes(records.size(), RepairOutcome::kNothingToDo);
    report_ = access_->RepairRecordsAt(mine_, records, Fix(), outcomes);
    return outcomes;
  }

  // True when another station can take every one of these record locks and the block
  // lock at once: nothing of ours is left behind.
  bool AllFree(const std::vector<int32_t>& records) {
    bool free = true;
    for (int32_t r : records) {
      theirs_.LockSlot(other_, r);
      free = free && theirs_.LastOpOK();
    }
    theirs_.LockBlock(other_);
    free = free && theirs_.LastOpOK();
    theirs_.UnlockBlock(other_);
    for (int32_t r : records) theirs_.UnlockSlot(other_, r);
    return free;
  }

  Engine ours_, theirs_;
  test::ReleasingDialogs dialogs_;
  std::unique_ptr<AccessLayer> access_;
  BlockHandle mine_ = nullptr;
  BlockHandle other_ = nullptr;
  std::vector<int32_t> fixed_;
  WriteReport report_;  // of the last Repair
};

// Between the walk's unlocked read and the run's write another station changes record
// 5. Whatever it did survives; what is still damaged is repaired.
TEST_F(BatchRepairTest, AChangeMadeBeforeTheLocksSurvives) {
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> change;
    RepairOutcome outcome5;
    uint8_t text5;
    int32_t fieldA5, fieldB5;
  };
  const Case cases[] = {
      {"text changed", [](auto& s) { s[kText] = 'Z'; }, RepairOutcome::kWritten, 'Z', 0, 0},
      {"one amount mended to 7, text changed",
       [](auto& s) {
         s[kText] = 'Y';
         PutI32(s.data() + kFieldA, 7);
       },
       RepairOutcome::kWritten, 'Y', 7, 0},
      {"both amounts mended",
       [](auto& s) {
         PutI32(s.data() + kFieldA, 3);
         PutI32(s.data() + kFieldB, 4);
       },
       RepairOutcome::kNothingToDo, 'a', 3, 4},
      {"deleted", [](auto& s) { PutI32(s.data(), 9); }, RepairOutcome::kDeleted, 'a', -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (mine_) ours_.CloseBlock(mine_);
    if (other_) theirs_.CloseBlock(other_);
    fixed_.clear();
    Build(10, {2, 5, 7});
    std::vector<uint8_t> unlocked(static_cast<size_t>(kSlot) * 10);
    ASSERT_TRUE(access_->ReadRecordsAt(mine_, 1, 10, unlocked));  // what the walk judges
    TheyChange(5, c.change);
    const std::string before5 = Record(5);

    const std::vector<RepairOutcome> outcomes = Repair({2, 5, 7});
    EXPECT_EQ(outcomes, (std::vector<RepairOutcome>{RepairOutcome::kWritten, c.outcome5, RepairOutcome::kWritten}));
    const bool deleted = c.outcome5 == RepairOutcome::kDeleted;
    EXPECT_EQ(report_.ok, !deleted);
    EXPECT_EQ(Code(report_.status), deleted ? 12 : 0);
    EXPECT_EQ(fixed_, deleted ? (std::vector<int32_t>{2, 7}) : (std::vector<int32_t>{2, 5, 7}));

    const std::string r5 = Record(5);
    const auto* b5 = reinterpret_cast<const uint8_t*>(r5.data());
    if (deleted || c.outcome5 == RepairOutcome::kNothingToDo) {
      EXPECT_EQ(r5, before5);
    }
    EXPECT_EQ(static_cast<uint8_t>(r5[kText]), c.text5);
    EXPECT_EQ(GetI32(b5 + kFieldA), c.fieldA5);
    EXPECT_EQ(GetI32(b5 + kFieldB), c.fieldB5);
    for (int32_t r : {2, 7}) {
      const std::string rec = Record(r);
      const auto* b = reinterpret_cast<const uint8_t*>(rec.data());
      EXPECT_EQ(GetI32(b + 4), r);
      EXPECT_EQ(GetI32(b + kFieldA), 0);
      EXPECT_EQ(GetI32(b + kFieldB), 0);
    }
    EXPECT_TRUE(AllFree({2, 5, 7}));
  }
}

// Each run costs one block lock, one read of the locked slots, a write per repaired
// record and one change signal; a run is at most kMaxRepairRun records, and slots spread
// wider than one read are read one by one.
TEST_F(BatchRepairTest, OneLockReadAndSignalPerRun) {
  using platform::Op;
  struct Case {
    const char* what;
    int32_t slots;
    std::vector<int32_t> records;
    uint64_t runs, reads;
  };
  std::vector<int32_t> seventy;
  for (int32_t r = 1; r <= 70; ++r) seventy.push_back(r * 3);
  const int32_t far = static_cast<int32_t>(kMaxLockedReadBytes / kSlot) + 10;
  const Case cases[] = {
      {"three records", 12, {2, 5, 11}, 1, 1 + 1},
      {"seventy records: two runs", 212, seventy, 2, 2 * (1 + 1)},
      {"two records more than one read apart", far + 1, {1, far}, 1, 1 + 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (mine_) ours_.CloseBlock(mine_);
    if (other_) theirs_.CloseBlock(other_);
    Build(c.slots, c.records);
    std::vector<uint8_t> one(kSlot);
    // Both stations consume the signal the open left, so only the run's signal counts.
    ours_.ReadSlot(mine_, 1, one);
    theirs_.ReadSlot(other_, 1, one);
    const size_t theirSlot = 3 + static_cast<size_t>(theirs_.StationNumber(other_));
    ASSERT_EQ(ReadRaw("B.DIA")[theirSlot], '\0');

    const platform::CallCounts start = platform::GetCallCounts();
    const std::vector<RepairOutcome> outcomes = Repair(c.records);
    const platform::CallCounts end = platform::GetCallCounts();
    auto delta = [&](Op op) { return end.calls[static_cast<int>(op)] - start.calls[static_cast<int>(op)]; };
    EXPECT_EQ(outcomes, std::vector<RepairOutcome>(c.records.size(), RepairOutcome::kWritten));
    EXPECT_TRUE(report_.ok);
    const uint64_t n = c.records.size();
    EXPECT_EQ(delta(Op::kLock), n + c.runs);
    EXPECT_EQ(delta(Op::kUnlock), n + c.runs);
    // Per run the slot area with the lock, then the locked slots.
    EXPECT_EQ(delta(Op::kRead), c.reads);
    // The records, and per run the header byte and the signal.
    EXPECT_EQ(delta(Op::kWrite), n + 2 * c.runs);
    EXPECT_EQ(delta(Op::kFlush), 0u);

    // The other station is told, and reads the repaired records.
    const std::string dia = ReadRaw("B.DIA");
    EXPECT_NE(dia[theirSlot], '\0');
    theirs_.ReadSlot(other_, c.records.back(), one);
    ASSERT_OK(theirs_);
    EXPECT_EQ(GetI32(one.data() + kFieldA), 0);
    EXPECT_EQ(ReadRaw("B.DIA")[theirSlot], '\0');  // consumed by that read
  }
}

// With the suite's flush switch on, a run flushes once, not once per record.
TEST_F(BatchRepairTest, ARunFlushesOnce) {
  Build(12, {2, 5, 11});
  AccessSettings settings = access_->Settings();
  settings.flushAfterWrite = true;
  access_->Configure(settings);
  const uint64_t before = platform::GetCallCounts().calls[static_cast<int>(platform::Op::kFlush)];
  EXPECT_EQ(Repair({2, 5, 11}), std::vector<RepairOutcome>(3, RepairOutcome::kWritten));
  const uint64_t after = platform::GetCallCounts().calls[static_cast<int>(platform::Op::kFlush)];
  EXPECT_EQ(after - before, 2u);  // the data file and the coordination file, once each
}

// The disk fails on the write of the middle record: that slot keeps its old bytes whole,
// the others are repaired, and the run says so.
TEST_F(BatchRepairTest, AFailedWriteInTheMiddleLeavesThatSlotWhole) {
  struct Case {
    platform::FaultKind kind;
    int32_t writeStatus;  // the class of the engine's error for it
  };
  for (const Case c : {Case{platform::FaultKind::kShortCount, 4}, Case{platform::FaultKind::kError, 2}}) {
    const platform::FaultKind kind = c.kind;
    SCOPED_TRACE(kind == platform::FaultKind::kShortCount ? "short write" : "write error");
    if (mine_) ours_.CloseBlock(mine_);
    if (other_) theirs_.CloseBlock(other_);
    Build(10, {2, 5, 7});
    std::vector<uint8_t> one(kSlot);
    ours_.ReadSlot(mine_, 1, one);  // nothing of the open's signal is written in the run
    const std::string before5 = Record(5);
    platform::FaultPlan plan;
    plan.op = platform::Op::kWrite;
    plan.nth = 2;  // record 2 is the first write, record 5 the second
    plan.kind = kind;
    platform::SetFaultPlan(plan);
    const std::vector<RepairOutcome> outcomes = Repair({2, 5, 7});
    EXPECT_EQ(platform::FaultsInjected(), 1u);
    platform::ClearFaults();
    EXPECT_EQ(outcomes, (std::vector<RepairOutcome>{RepairOutcome::kWritten, RepairOutcome::kFailed,
                                                    RepairOutcome::kWritten}));
    EXPECT_FALSE(report_.ok);
    EXPECT_EQ(Code(report_.status), c.writeStatus);
    EXPECT_EQ(Record(5), before5);
    for (int32_t r : {2, 7}) {
      const std::string rec = Record(r);
      EXPECT_EQ(GetI32(reinterpret_cast<const uint8_t*>(rec.data()) + kFieldB), 0) << r;
    }
    EXPECT_TRUE(AllFree({2, 5, 7}));
  }
}

// Another station holds record 5's lock, or the file's write lock, past the engine's
// wait: what it holds comes back as kLocked after one try, without a question, and
// every lock the run took is let go. The caller tries those records again later.
TEST_F(BatchRepairTest, WhatAnotherStationHoldsComesBackLockedWithoutAQuestion) {
  for (const bool wholeFile : {false, true}) {
    SCOPED_TRACE(wholeFile ? "the file's write lock" : "record 5's lock");
    if (mine_) ours_.CloseBlock(mine_);
    if (other_) theirs_.CloseBlock(other_);
    fixed_.clear();
    Build(10, {2, 5, 7});
    const std::string before = ReadRaw("B.DAT");
    if (wholeFile) {
      theirs_.LockBlock(other_);
    } else {
      theirs_.LockSlot(other_, 5);
    }
    ASSERT_OK(theirs_);
    const std::vector<RepairOutcome> outcomes = Repair({2, 5, 7});
    EXPECT_TRUE(dialogs_.events.empty());
    EXPECT_FALSE(report_.ok);
    EXPECT_EQ(Code(report_.status), 2);
    if (wholeFile) {
      EXPECT_EQ(outcomes, std::vector<RepairOutcome>(3, RepairOutcome::kLocked));
      EXPECT_TRUE(fixed_.empty());
      EXPECT_EQ(ReadRaw("B.DAT"), before);
      theirs_.UnlockBlock(other_);
    } else {
      EXPECT_EQ(outcomes, (std::vector<RepairOutcome>{RepairOutcome::kWritten, RepairOutcome::kLocked,
                                                      RepairOutcome::kWritten}));
      EXPECT_EQ(fixed_, (std::vector<int32_t>{2, 7}));
      EXPECT_EQ(Record(5), before.substr(5 * kSlot, kSlot));
      theirs_.UnlockSlot(other_, 5);
    }
    EXPECT_TRUE(AllFree({2, 5, 7}));
  }
}

// The fix throws half-way through a run (out of memory, a bug, the user ending the run):
// every lock taken is let go on the way out, so the other stations are not locked out
// of the file for the rest of this program's life, and the record it threw on is left
// as it was.
TEST_F(BatchRepairTest, AFixThatThrowsLeavesNoLockHeld) {
  struct Thrown {};
  for (const bool oneRecord : {false, true}) {
    SCOPED_TRACE(oneRecord ? "RepairRecordAt" : "RepairRecordsAt");
    if (mine_) ours_.CloseBlock(mine_);
    if (other_) theirs_.CloseBlock(other_);
    Build(10, {2, 5, 7});
    const std::string before5 = Record(5);
    if (oneRecord) {
      std::vector<uint8_t> work(kSlot);
      EXPECT_THROW(static_cast<void>(testkit::RepairRecordAt(*access_, mine_, 5, work, [](std::span<uint8_t>) -> int {
                     throw Thrown{};
                   })),
                   Thrown);
    } else {
      const RecordFix fix = Fix();
      std::vector<RepairOutcome> outcomes(3);
      EXPECT_THROW(access_->RepairRecordsAt(mine_, std::vector<int32_t>{2, 5, 7},
                                            [&](int32_t r, std::span<uint8_t> slot) {
                                              if (r == 5) throw Thrown{};
                                              return fix(r, slot);
                                            },
                                            outcomes),
                   Thrown);
    }
    EXPECT_EQ(Record(5), before5);
    EXPECT_TRUE(AllFree({2, 5, 7}));
  }
}

TEST_F(BatchRepairTest, AListOutOfOrderIsRefusedWhole) {
  Build(10, {2, 5, 7});
  const std::string before = ReadRaw("B.DAT");
  for (const std::vector<int32_t>& records :
       {std::vector<int32_t>{5, 2}, std::vector<int32_t>{2, 2}, std::vector<int32_t>{0, 2}}) {
    EXPECT_EQ(Repair(records), std::vector<RepairOutcome>(records.size(), RepairOutcome::kFailed));
    EXPECT_FALSE(report_.ok);
    EXPECT_EQ(Code(report_.status), 4);
  }
  EXPECT_TRUE(fixed_.empty());
  EXPECT_EQ(ReadRaw("B.DAT"), before);
  EXPECT_TRUE(AllFree({2, 5, 7}));
}

}  // namespace
}  // namespace kv::isam::testing
