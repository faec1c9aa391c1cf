// The read-only scan: what it lists, in which order, what it refuses, which modules it
// leaves to a note as the repair leaves them, and that it leaves the directory exactly
// as it found it.
#include "app/Scan.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompanyDir.h"
#include "app/Report.h"
#include "platform/Faults.h"
#include "platform/File.h"

namespace kv::app {
namespace {

using test::InfMoney;
using test::Money;
using test::NaNMoney;
using test::Slot;

class ScanTest : public test::CompanyDirTest {
 protected:
  // "FILE RECORD OFFSET HEX" lines, as the command line prints them.
  bool Scan(std::vector<std::string>& lines, ScanSummary& summary, std::string& error, const ScanOptions& options = {}) {
    lines.clear();
    return ScanCompany(
        dir_,
        [&](const ScanFinding& f) {
          lines.push_back(f.file + " " + std::to_string(f.record) + " " + std::to_string(f.offset) + " " +
                          HexBytes(f.bytes.data(), f.bytes.size()));
        },
        summary, error, options);
  }
};

TEST_F(ScanTest, ListsUnsoundFieldsInWalkOrderAndSkipsDeletedSlots) {
  Write("GLINFO.DAT", "");
  Write("ICINFO.DAT", "");
  // Written out of walk order on purpose: ICFILE05 before GLFILE01.
  Write("ICFILE05.DAT", test::DataFileBytes(224, {Slot(224).Put(110, Money(1e11L))}));
  Write("GLFILE01.DAT",
        test::DataFileBytes(1248, {Slot(1248).Put(78, Money(12.5L)),
                                   Slot(1248).Put(1188, InfMoney()).Put(78, NaNMoney()),
                                   Slot(1248, -1).Put(78, NaNMoney()),  // deleted: garbage is not looked at
                                   Slot(1248).Put(88, Money(-9999999999.99L))}));
  Write("GLFILE03.DAT", test::DataFileBytes(220, {Slot(220).Put(103, Money(-1e10L))}));
  std::vector<std::string> lines;
  ScanSummary summary;
  std::string error;
  ASSERT_TRUE(Scan(lines, summary, error)) << error;
  const std::vector<std::string> expected = {
      "GLFILE01 2 78 00000000000000C0FF7F",
      "GLFILE01 2 1188 0000000000000080FF7F",
      "GLFILE03 1 103 " + HexBytes(Money(-1e10L).data(), 10),
      "ICFILE05 1 110 " + HexBytes(Money(1e11L).data(), 10),
  };
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(summary.filesScanned, 3);
  EXPECT_EQ(summary.recordsScanned, 5);
  EXPECT_EQ(summary.findings, 4);
}

TEST_F(ScanTest, AnEmptyCompanyHasNothingToList) {
  std::vector<std::string> lines;
  ScanSummary summary;
  std::string error;
  EXPECT_TRUE(Scan(lines, summary, error));
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(summary.filesScanned, 0);
}

TEST_F(ScanTest, RefusesFilesItCannotReadAsTheTableSays) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::string truncated = test::DataFileBytes(220, {Slot(220), Slot(220)});
  truncated.resize(truncated.size() - 1);
  const Case cases[] = {
      {"slot length", test::DataFileBytes(221, {Slot(221)})},
      {"defect flag", test::DataFileBytes(220, {Slot(220)}, 0, 1)},
      {"shorter", truncated},
      {"header", std::string(10, '\0')},
  };
  Write("GLINFO.DAT", "");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write("GLFILE01.DAT", test::DataFileBytes(1248, {Slot(1248).Put(78, NaNMoney())}));
    Write("GLFILE03.DAT", c.bytes);
    std::vector<std::string> lines;
    ScanSummary summary;
    std::string error;
    EXPECT_FALSE(Scan(lines, summary, error));
    EXPECT_NE(error.find("GLFILE03.DAT"), std::string::npos) << error;
    EXPECT_EQ(lines.size(), 1u);  // GLFILE01, before the refused file, was delivered
  }
}

// A file of several read chunks: the chunks are read ahead on another thread, yet the
// findings come in record order, and a chunk that cannot be read ends the scan of that
// file with an error naming the first record of the chunk, after the findings before it.
TEST_F(ScanTest, LargeFileKeepsRecordOrderAndStopsAtAChunkThatCannotBeRead) {
  constexpr int kSlots = 700;  // 700 x 1248 bytes: four chunks of 256 KiB
  std::vector<Slot> slots;
  for (int r = 1; r <= kSlots; ++r) {
    Slot slot(1248);
    if (r % 50 == 0) slot.Put(78, NaNMoney());
    slots.push_back(slot);
  }
  Write("GLINFO.DAT", "");
  Write("GLFILE01.DAT", test::DataFileBytes(1248, slots));
  std::vector<std::string> lines;
  ScanSummary summary;
  std::string error;
  ASSERT_TRUE(Scan(lines, summary, error)) << error;
  ASSERT_EQ(lines.size(), static_cast<size_t>(kSlots / 50));
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind("GLFILE01 " + std::to_string((i + 1) * 50) + " 78 ", 0), 0u) << lines[i];
  }
  EXPECT_EQ(summary.recordsScanned, kSlots);

  // Reads: the header, then one per chunk; the third chunk fails.
  platform::FaultPlan plan;
  plan.op = platform::Op::kRead;
  plan.nth = 4;
  platform::SetFaultPlan(plan);
  const bool ok = Scan(lines, summary, error);
  platform::ClearFaults();
  EXPECT_FALSE(ok);
  const int perChunk = 256 * 1024 / 1248;
  EXPECT_NE(error.find("records from " + std::to_string(2 * perChunk + 1)), std::string::npos) << error;
  EXPECT_EQ(lines.size(), static_cast<size_t>(2 * perChunk / 50));
}

// Another station holds records of a large file (the 4 bytes at N x 1248) under Windows'
// rule: the chunks around them are read in smaller pieces, the records beside them are
// judged, the held ones are neither damage nor an error; they are tried again within the
// wait and, still held, named. One released during the wait is judged, its finding after
// the rest of its file. A held record of a module the repair skips gets a note.
TEST_F(ScanTest, RecordsAnotherStationHoldsAreReadAroundTriedAgainAndNamed) {
  constexpr int kSlots = 700;  // 210 records per chunk: 1..210, 211..420, 421..630, 631..700
  std::vector<Slot> slots;
  for (int r = 1; r <= kSlots; ++r) {
    Slot slot(1248);
    if (r % 100 == 0 || r == 421) slot.Put(78, NaNMoney());
    slots.push_back(slot);
  }
  Write("GLINFO.DAT", "");
  Write("GLFILE01.DAT", test::DataFileBytes(1248, slots));
  Write("GLFILE03.DAT", test::DataFileBytes(220, {Slot(220).Put(103, InfMoney())}));
  Write("ICFILE05.DAT", test::DataFileBytes(224, {Slot(224), Slot(224)}));  // IC is skipped: no ICINFO.DAT
  struct RuleBack {
    bool was = platform::WindowsLockRule();
    ~RuleBack() { platform::SetWindowsLockRule(was); }
  } ruleBack;
  platform::SetWindowsLockRule(true);
  platform::File station, probe;
  ASSERT_EQ(platform::File::Open(Path("GLFILE01.DAT"), platform::Access::kReadWrite, platform::Share::kShared, station),
            platform::OsError::kNone);
  ASSERT_EQ(platform::File::Open(Path("ICFILE05.DAT"), platform::Access::kReadWrite, platform::Share::kShared, probe),
            platform::OsError::kNone);
  ASSERT_EQ(probe.LockRange(2 * 224, 4), platform::OsError::kNone);
  {
    platform::File reader;
    ASSERT_EQ(platform::File::Open(Path("ICFILE05.DAT"), platform::Access::kReadOnly, platform::Share::kShared, reader),
              platform::OsError::kNone);
    uint8_t byte = 0;
    size_t done = 0;
    if (reader.ReadAt(2 * 224, &byte, 1, done) != platform::OsError::kLockViolation) {
      GTEST_SKIP() << "reads here pass another file's lock (Wine): the held case cannot be met";
    }
  }
  auto line = [](int record) { return "GLFILE01 " + std::to_string(record) + " 78 00000000000000C0FF7F"; };
  const std::string gl03 = "GLFILE03 1 103 0000000000000080FF7F";
  struct Case {
    const char* what;
    std::vector<int32_t> held;
    int32_t waitMs;
    bool releaseWhenWaiting;  // the station lets go when the scan first says it waits
    std::vector<int> listed;  // GLFILE01 records with findings, in the order delivered
    std::vector<int32_t> left;
  };
  const Case cases[] = {
      {"a damaged record held, no wait", {421}, 0, false, {100, 200, 300, 400, 500, 600, 700}, {421}},
      {"first, chunk edges, last", {1, 210, 211, 420, 700}, 0, false, {100, 200, 300, 400, 421, 500, 600}, {1, 210, 211, 420, 700}},
      {"held through the wait", {421, 422}, 600, false, {100, 200, 300, 400, 500, 600, 700}, {421, 422}},
      {"let go during the wait", {421}, 1000, true, {100, 200, 300, 400, 500, 600, 700, 421}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (int32_t r : c.held) ASSERT_EQ(station.LockRange(static_cast<uint64_t>(r) * 1248, 4), platform::OsError::kNone);
    ScanOptions options;
    options.heldWaitMs = c.waitMs;
    int waits = 0;
    options.onWaiting = [&](std::string_view file, int32_t record, int round, int rounds) {
      EXPECT_EQ(file, "GLFILE01");
      EXPECT_EQ(record, c.held.front());
      EXPECT_EQ(rounds, kScanHeldRounds);
      EXPECT_EQ(round, ++waits + 1);  // the first round follows the file at once
      if (c.releaseWhenWaiting && waits == 1) {
        for (int32_t r : c.held) EXPECT_EQ(station.UnlockRange(static_cast<uint64_t>(r) * 1248, 4), platform::OsError::kNone);
      }
    };
    std::vector<std::string> lines;
    ScanSummary summary;
    std::string error;
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(Scan(lines, summary, error, options)) << error;
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    std::vector<std::string> expected;
    for (int r : c.listed) expected.push_back(line(r));
    expected.push_back(gl03);
    EXPECT_EQ(lines, expected);
    ASSERT_EQ(summary.held.size(), c.left.size());
    for (size_t i = 0; i < c.left.size(); ++i) {
      EXPECT_EQ(summary.held[i].file, "GLFILE01");
      EXPECT_EQ(summary.held[i].record, c.left[i]);
    }
    EXPECT_EQ(summary.filesScanned, 2);
    EXPECT_EQ(summary.recordsScanned, kSlots + 1 - static_cast<int64_t>(c.left.size()));
    if (c.waitMs > 0 && !c.left.empty()) {
      EXPECT_GE(took, c.waitMs);  // the last round ends the wait
    }
    EXPECT_LT(took, c.waitMs + 3000);
    ASSERT_EQ(summary.notes.size(), 1u);
    EXPECT_EQ(summary.notes[0].rfind("ICFILE05.DAT: 1 record held by another station, not judged: ICINFO.DAT is missing", 0), 0u)
        << summary.notes[0];
    if (!c.releaseWhenWaiting) {
      for (int32_t r : c.held) ASSERT_EQ(station.UnlockRange(static_cast<uint64_t>(r) * 1248, 4), platform::OsError::kNone);
    }
  }
}

// The files of a module the repair skips (its information file missing, or one the
// repair cannot open for writing) are judged but not listed: their damage goes to a
// note naming the file, the count and the reason. The files of the modules the repair
// walks are listed as ever, even when another module's file could not be judged.
TEST_F(ScanTest, ListsOnlyTheModulesTheRepairWalks) {
  const std::string gl01 =
      test::DataFileBytes(1248, {Slot(1248).Put(78, NaNMoney()).Put(88, InfMoney()), Slot(1248, -1).Put(78, NaNMoney())});
  const std::string po02 = test::DataFileBytes(320, {Slot(320), Slot(320).Put(260, NaNMoney())});
  const std::string ic05 = test::DataFileBytes(224, {Slot(224).Put(110, Money(1e11L))});
  const std::string glSkipped = "GLFILE01.DAT: 2 damaged fields not repaired: GLINFO.DAT is missing, the repair skips the GL module";
  const std::string icSkipped = "ICFILE05.DAT: 1 damaged field not repaired: ICINFO.DAT is missing, the repair skips the IC module";
  const std::string poLine = "POFILE02 2 260 00000000000000C0FF7F";
  struct Case {
    const char* what;
    std::vector<const char*> information;  // the modules whose information file exists
    std::string gl01;
    std::vector<std::string> lines;
    std::vector<std::string> notes;  // each the start of a note, in order
    int64_t notRepaired;
  };
  const Case cases[] = {
      {"PO only", {"PO"}, gl01, {poLine}, {glSkipped, icSkipped}, 3},
      {"all walked", {"GL", "IC", "PO"}, gl01,
       {"GLFILE01 1 78 00000000000000C0FF7F", "GLFILE01 1 88 0000000000000080FF7F",
        "ICFILE05 1 110 " + HexBytes(Money(1e11L).data(), 10), poLine},
       {}, 0},
      {"none", {}, gl01, {}, {glSkipped, icSkipped, "POFILE02.DAT: 1 damaged field not repaired: POINFO.DAT is missing",
                              "no module information file"}, 4},
      {"IC information not writable", {"GL", "PO"}, gl01, {"GLFILE01 1 78 00000000000000C0FF7F",
       "GLFILE01 1 88 0000000000000080FF7F", poLine},
       {"ICFILE05.DAT: 1 damaged field not repaired: ICINFO.DAT cannot be opened for reading and writing"}, 1},
      {"skipped file unreadable", {"PO"}, test::DataFileBytes(1249, {Slot(1249)}), {poLine},
       {"GLFILE01.DAT: slot length 1249", icSkipped}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* m : {"GL", "IC", "PO"}) std::filesystem::remove_all(Path(std::string(m) + "INFO.DAT"));
    for (const char* m : c.information) Write(std::string(m) + "INFO.DAT", "");
    // A directory in the place of the information file: no station could open it for writing.
    if (std::string(c.what) == "IC information not writable") std::filesystem::create_directory(Path("ICINFO.DAT"));
    Write("GLFILE01.DAT", c.gl01);
    Write("POFILE02.DAT", po02);
    Write("ICFILE05.DAT", ic05);
    std::vector<std::string> lines;
    ScanSummary summary;
    std::string error;
    ASSERT_TRUE(Scan(lines, summary, error)) << error;
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(summary.findings, static_cast<int64_t>(c.lines.size()));
    EXPECT_EQ(summary.notRepaired, c.notRepaired);
    ASSERT_EQ(summary.notes.size(), c.notes.size());
    for (size_t i = 0; i < c.notes.size(); ++i) EXPECT_EQ(summary.notes[i].rfind(c.notes[i], 0), 0u) << summary.notes[i];
  }
}

TEST_F(ScanTest, AMissingDirectoryIsAnError) {
  ScanSummary summary;
  std::string error;
  EXPECT_FALSE(ScanCompany(dir_ + "/nowhere", [](const ScanFinding&) {}, summary, error));
  EXPECT_FALSE(error.empty());
}

TEST_F(ScanTest, WritesNothing) {
  Write("GLINFO.DAT", "");
  Write("POINFO.DAT", "");
  Write("GLFILE01.DAT", test::DataFileBytes(1248, {Slot(1248).Put(78, NaNMoney())}, 3));
  Write("GLFILE01.IX", "not read");
  Write("POFILE02.DAT", test::DataFileBytes(320, {Slot(320).Put(260, InfMoney())}, 4));
  const auto before = Snapshot();
  std::vector<std::string> lines;
  ScanSummary summary;
  std::string error;
  ASSERT_TRUE(Scan(lines, summary, error)) << error;
  EXPECT_EQ(lines.size(), 2u);
  EXPECT_EQ(Snapshot(), before);  // no .DIA, no created file, no touched header
}

}  // namespace
}  // namespace kv::app
