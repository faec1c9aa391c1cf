// The company check: each kind of damage, built into a sound file byte by byte (the
// index rows on trees several levels deep), is named with its file and kind; a sound
// demo company gives no finding; a record another station holds and a file that
// changes under the check are busy, never damage; and nothing is ever written.
#include "app/Check.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "CompanyDir.h"
#include "isam/Coding.h"
#include "isam/Format.h"
#include "platform/Faults.h"
#include "platform/File.h"
#include "testkit/Builder.h"
#include "testkit/Demo.h"

namespace kv::app {
namespace {

constexpr int32_t kRecords = 300;
constexpr int kKeyLength = 10;  // GLFILE02's one key, no duplicates
constexpr int32_t kIndexRecord = kKeyLength * 62 + 564;
constexpr size_t kItemWidth = kKeyLength + isam::kItemFixedPart;
const std::vector<int32_t> kDeleted = {290, 150, 40};  // the free chain, head first

class CheckTest : public test::CompanyDirTest {
 protected:
  // GLFILE02 with records 1..300 (three deleted) and a key tree of four items a page.
  void BuildGl02() {
    const modules::DataFileDef& def = modules::DataFile("GLFILE02");
    testkit::FileLayout layout;
    layout.dataPath = Path("GLFILE02.DAT");
    layout.slotLength = def.recordLength;
    layout.keys.assign(def.keys.begin(), def.keys.end());
    layout.highestSlot = kRecords;
    layout.freeChain = kDeleted;
    layout.index.maxItemsPerPage = 4;
    testkit::FileInfo info;
    ASSERT_EQ(testkit::BuildFile(
                  layout,
                  [](int32_t record, bool deleted, std::span<uint8_t>, testkit::KeySink& keys) {
                    if (!deleted) keys.Add(1, "K" + std::to_string(100000 + record));
                  },
                  &info),
              "");
    tree_ = info.keys.at(0);
    ASSERT_GE(tree_.height, 3);
  }

  int32_t I32(const std::string& file, uint64_t at) {
    const std::string bytes = Read(file);
    return isam::GetI32(reinterpret_cast<const uint8_t*>(bytes.data()) + at);
  }
  void Put(const std::string& file, uint64_t at, const std::string& bytes) {
    std::string all = Read(file);
    if (all.size() < at + bytes.size()) all.resize(at + bytes.size(), '\0');
    all.replace(at, bytes.size(), bytes);
    Write(file, all);
  }
  void Put32(const std::string& file, uint64_t at, int32_t v) {
    uint8_t b[4];
    isam::PutI32(b, v);
    Put(file, at, std::string(reinterpret_cast<char*>(b), 4));
  }
  void Put16(const std::string& file, uint64_t at, int16_t v) {
    uint8_t b[2];
    isam::PutI16(b, v);
    Put(file, at, std::string(reinterpret_cast<char*>(b), 2));
  }
  static uint64_t PageAt(int32_t page) { return static_cast<uint64_t>(page) * kIndexRecord; }
  static uint64_t ItemAt(int32_t page, int item) { return PageAt(page) + 6 + static_cast<uint64_t>(item - 1) * kItemWidth; }
  // The leftmost leaf and its parent.
  int32_t Leaf(int32_t* parent = nullptr) {
    int32_t page = tree_.rootPage;
    for (int32_t child; (child = I32("GLFILE02.IX", PageAt(page) + 2)) != 0;) {
      if (parent != nullptr) *parent = page;
      page = child;
    }
    return page;
  }

  struct Outcome {
    bool ok = false;
    std::vector<CheckFinding> findings;
    CheckSummary summary;
    std::string error;
  };
  // Without a pause before the confirming reading and without waiting for held
  // records, except where a test needs it.
  Outcome Check(uint32_t settleMs = 0, int32_t heldWaitMs = 0) {
    Outcome o;
    CheckOptions options;
    options.settleMs = settleMs;
    options.heldWaitMs = heldWaitMs;
    o.ok = CheckCompany(dir_, [&](const CheckFinding& f) { o.findings.push_back(f); }, o.summary, o.error, options);
    return o;
  }
  static std::string Lines(const Outcome& o) {
    std::string out;
    for (const CheckFinding& f : o.findings) out += CheckLine(f) + "\n";
    return out;
  }

  testkit::KeyTreeInfo tree_;
};

// One row per kind: the damage, then the file and kind of the first finding it must
// give, and whether that is damage (exit 3) or a note.
TEST_F(CheckTest, EachKindOfDamageIsNamedWithItsFileAndKind) {
  const char* dat = "GLFILE02.DAT";
  const char* ix = "GLFILE02.IX";
  const char* dia = "GLFILE02.DIA";
  struct Row {
    const char* what;
    std::function<void()> damage;
    const char* file;
    CheckKind kind;
    bool isDamage;
  };
  const Row rows[] = {
      {"defect flag", [&] { Put(dat, 20, std::string(1, '\1')); }, dat, CheckKind::kDataHeader, true},
      {"slot length against the table", [&] { Put32(dat, 12, 64); }, dat, CheckKind::kDataHeader, true},
      {"key count against the table", [&] { Put32(dat, 16, 2); }, dat, CheckKind::kDataHeader, true},
      {"slots claimed beyond the end", [&] { Put32(dat, 8, kRecords + 5); }, dat, CheckKind::kDataHeader, true},
      {"free chain loops", [&] { Put32(dat, 40 * 128, 290); }, dat, CheckKind::kFreeChain, true},
      {"free chain leaves the file", [&] { Put32(dat, 150 * 128, 9999); }, dat, CheckKind::kFreeChain, true},
      {"free chain through a live slot", [&] { Put32(dat, 150 * 128, 7); }, dat, CheckKind::kFreeChain, true},
      {"free count", [&] { Put32(dat, 4, 4); }, dat, CheckKind::kFreeChain, true},
      {"key header the open refuses", [&] { Put32(ix, 12, kIndexRecord + 1); }, ix, CheckKind::kKeyHeader, true},
      {"duplicates against the table", [&] { Put(ix, 20, std::string(1, '\1')); }, ix, CheckKind::kKeyHeader, true},
      {"index file missing", [&] { std::filesystem::remove(Path(ix)); }, ix, CheckKind::kKeyHeader, true},
      {"item count above the page size", [&] { Put16(ix, PageAt(Leaf()), 63); }, ix, CheckKind::kKeyPage, true},
      {"a page cut short by the end of the file",
       [&] {
         std::string all = Read(ix);
         all.resize(PageAt(tree_.highestPage) + 7);
         Write(ix, all);
       },
       ix, CheckKind::kKeyPage, true},
      {"child link out of range", [&] { Put32(ix, PageAt(tree_.rootPage) + 2, tree_.highestPage + 1); }, ix,
       CheckKind::kKeyLink, true},
      {"child link to the root (a loop)",
       [&] {
         int32_t parent = 0;
         Leaf(&parent);
         Put32(ix, PageAt(parent) + 2, tree_.rootPage);
       },
       ix, CheckKind::kKeyLink, true},
      {"a child link in a leaf", [&] { Put32(ix, ItemAt(Leaf(), 1) + 4, tree_.rootPage); }, ix,
       CheckKind::kKeyLink, true},
      {"keys out of order in a page",
       [&] { Put(ix, ItemAt(Leaf(), 2) + 9, "K0"); }, ix, CheckKind::kKeyOrder, true},
      {"a key outside its parent's bounds",
       [&] {
         const int32_t leaf = Leaf();
         const int16_t count = static_cast<int16_t>(I32(ix, PageAt(leaf)) & 0xFFFF);
         Put(ix, ItemAt(leaf, count) + 9, "K9");
       },
       ix, CheckKind::kKeyOrder, true},
      {"equal keys without duplicates",
       [&] {
         const int32_t leaf = Leaf();
         const std::string all = Read(ix);
         Put(ix, ItemAt(leaf, 2) + 8, all.substr(ItemAt(leaf, 1) + 8, 1 + kKeyLength));
       },
       ix, CheckKind::kKeyDuplicate, true},
      {"an entry naming a deleted record", [&] { Put32(ix, ItemAt(Leaf(), 1), 150); }, ix,
       CheckKind::kKeyRecord, true},
      {"an entry naming no record", [&] { Put32(ix, ItemAt(Leaf(), 1), kRecords + 1); }, ix,
       CheckKind::kKeyRecord, true},
      {"entry count", [&] { Put32(ix, 22, tree_.entryCount + 1); }, ix, CheckKind::kKeyCount, true},
      {"page free chain through the tree", [&] { Put32(ix, 0, Leaf()); }, ix, CheckKind::kPageFreeChain, true},
      {"page free count", [&] { Put32(ix, 4, 1); }, ix, CheckKind::kPageFreeChain, true},
      {"a page neither in the tree nor free",
       [&] {
         Put32(ix, 8, tree_.highestPage + 1);
         Put(ix, PageAt(tree_.highestPage + 1), std::string(kIndexRecord, '\0'));
       },
       ix, CheckKind::kPageLeak, false},
      {"a complete journal",
       [&] {
         testkit::JournalWriter j;
         testkit::DataHeader h;
         h.freeHead = 290;
         h.freeCount = 3;
         h.highestSlot = kRecords;
         h.slotLength = 128;
         h.keyCount = 1;
         j.AddDataHeader(h);
         j.End();
         Write(dia, j.Bytes());
       },
       dia, CheckKind::kJournal, false},
      {"an unfinished journal",
       [&] {
         testkit::JournalWriter j;
         j.AddTag(isam::kJournalHeaderTag);
         Write(dia, j.Bytes());
       },
       dia, CheckKind::kJournal, false},
      {"a journal the replay refuses",
       [&] {
         testkit::JournalWriter j;
         j.AddTag(777);
         j.End();
         Write(dia, j.Bytes());
       },
       dia, CheckKind::kDiaLayout, true},
      {"a layout of one slot", [&] { Write(dia, testkit::CoordinationLayout(1, 1)); }, dia,
       CheckKind::kDiaLayout, true},
      {"an empty coordination file", [&] { Write(dia, ""); }, dia, CheckKind::kDiaLayout, true},
      {"information record cut short", [&] { Write("GLINFO.DAT", std::string(100, '\0')); }, "GLINFO.DAT",
       CheckKind::kFileLength, true},
      {"side file with a partial record", [&] { Write("GLTBUF.DAT", std::string(221, '\0')); },
       "GLTBUF.DAT", CheckKind::kFileLength, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TearDown();
    SetUp();
    BuildGl02();
    Write("GLFILE02.DIA", testkit::CoordinationLayout(1));
    {
      const Outcome sound = Check();
      ASSERT_TRUE(sound.ok) << sound.error;
      ASSERT_EQ(Lines(sound), "");
    }
    row.damage();
    const auto before = Snapshot();
    const Outcome o = Check();
    ASSERT_TRUE(o.ok) << o.error;
    ASSERT_FALSE(o.findings.empty());
    EXPECT_EQ(o.findings[0].file, row.file) << Lines(o);
    EXPECT_EQ(CheckKindName(o.findings[0].kind), CheckKindName(row.kind)) << Lines(o);
    EXPECT_EQ(o.findings[0].damage, row.isDamage) << Lines(o);
    EXPECT_EQ(o.summary.damage > 0, row.isDamage) << Lines(o);
    EXPECT_EQ(o.summary.busyFiles, 0);
    EXPECT_EQ(Snapshot(), before) << "the check wrote something";
  }
}

// Nine levels: the suite's search path holds eight, so the ninth is out of its reach.
TEST_F(CheckTest, ATreeDeeperThanEightLevelsIsDamage) {
  const modules::DataFileDef& def = modules::DataFile("GLFILE06");  // a 4-character key
  testkit::FileLayout layout;
  layout.dataPath = Path("GLFILE06.DAT");
  layout.slotLength = def.recordLength;
  layout.keys.assign(def.keys.begin(), def.keys.end());
  layout.highestSlot = 7000;
  layout.index.maxItemsPerPage = 2;
  testkit::FileInfo info;
  ASSERT_EQ(testkit::BuildFile(
                layout,
                [](int32_t record, bool, std::span<uint8_t>, testkit::KeySink& keys) {
                  keys.Add(1, std::string{static_cast<char>(record >> 8), static_cast<char>(record & 0xFF)});
                },
                &info),
            "");
  ASSERT_GT(info.keys.at(0).height, isam::kMaxTreeDepth);
  const Outcome o = Check();
  ASSERT_TRUE(o.ok);
  ASSERT_FALSE(o.findings.empty());
  EXPECT_EQ(o.findings[0].kind, CheckKind::kKeyLink) << Lines(o);
  EXPECT_NE(o.findings[0].text.find("deeper than 8"), std::string::npos) << Lines(o);
}

TEST_F(CheckTest, ASoundDemoCompanyGivesNoFinding) {
  const testkit::DemoCompany demo = testkit::MakeDemoCompany(dir_, 300);
  ASSERT_EQ(demo.error, "");
  const auto before = Snapshot();
  const Outcome o = Check();
  ASSERT_TRUE(o.ok) << o.error;
  EXPECT_EQ(Lines(o), "");
  EXPECT_EQ(o.summary.filesChecked, 46);
  EXPECT_GT(o.summary.liveRecords, 0);
  EXPECT_EQ(Snapshot(), before);

  // The hook hears every file before it is read, counting up to its total, and a false
  // from it stops the check there: no file after it is judged.
  std::vector<int> done;
  int total = 0;
  CheckOptions options;
  options.settleMs = 0;
  options.onFile = [&](std::string_view, int d, int t) {
    done.push_back(d);
    total = t;
    return true;
  };
  CheckSummary summary;
  std::string error;
  ASSERT_TRUE(CheckCompany(dir_, [](const CheckFinding&) {}, summary, error, options));
  ASSERT_EQ(static_cast<int>(done.size()), total);
  for (size_t i = 0; i < done.size(); ++i) EXPECT_EQ(done[i], static_cast<int>(i));
  std::string last;
  options.onFile = [&](std::string_view file, int d, int) {
    last = file;
    return d < 2;
  };
  ASSERT_TRUE(CheckCompany(dir_, [](const CheckFinding&) {}, summary, error, options));
  EXPECT_EQ(summary.filesChecked, 2);
  EXPECT_EQ(last.size() > 4 ? last.substr(last.size() - 4) : last, ".DAT");
}

TEST_F(CheckTest, AMissingDirectoryCannotBeChecked) {
  CheckSummary summary;
  std::string error;
  EXPECT_FALSE(CheckCompany(dir_ + "/nowhere", [](const CheckFinding&) {}, summary, error));
  EXPECT_NE(error.find("no such directory"), std::string::npos);
}

// Where locks are mandatory a record another station holds cannot be read: it is read
// around and named busy; even a free chain that runs through it is no damage. Tried
// again within the held wait, a record the station lets go meanwhile is judged as any.
TEST_F(CheckTest, ARecordAnotherStationHoldsIsBusyNotDamage) {
  const bool was = platform::WindowsLockRule();
  platform::SetWindowsLockRule(true);
  const struct {
    int32_t held;
    int32_t waitMs;
    int releaseAfterMs;  // -1: held throughout
  } rows[] = {{7, 0, -1}, {150, 0, -1}, {150, 300, -1}, {7, 2000, 200}};
  int64_t soundLive = -1;
  for (const auto& row : rows) {
    const int32_t held = row.held;
    SCOPED_TRACE(testing::Message() << held << " " << row.waitMs << " " << row.releaseAfterMs);
    TearDown();
    SetUp();
    BuildGl02();
    if (soundLive < 0) {  // the file's live records, judged unheld
      const Outcome all = Check();
      ASSERT_TRUE(all.findings.empty()) << Lines(all);
      soundLive = all.summary.liveRecords;
    }
    platform::File station;
    ASSERT_FALSE(platform::File::Open(Path("GLFILE02.DAT"), platform::Access::kReadWrite, platform::Share::kShared, station));
    ASSERT_FALSE(station.LockRange(static_cast<uint64_t>(held) * 128, 4));
    {
      // Wine, like Linux without the test mode, does not refuse the read: nothing to see.
      platform::File reader;
      ASSERT_FALSE(platform::File::Open(Path("GLFILE02.DAT"), platform::Access::kReadOnly, platform::Share::kShared, reader));
      uint8_t mark[4];
      size_t done = 0;
      if (!reader.ReadAt(static_cast<uint64_t>(held) * 128, mark, sizeof mark, done)) {
        platform::SetWindowsLockRule(was);
        GTEST_SKIP() << "this system does not make byte-range locks mandatory";
      }
    }
    std::thread release;
    if (row.releaseAfterMs >= 0) {
      release = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(row.releaseAfterMs));
        (void)station.UnlockRange(static_cast<uint64_t>(held) * 128, 4);
      });
    }
    const Outcome o = Check(0, row.waitMs);
    if (release.joinable()) release.join();
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.summary.damage, 0);
    if (row.releaseAfterMs >= 0) {
      EXPECT_TRUE(o.findings.empty()) << Lines(o);
      EXPECT_EQ(o.summary.liveRecords, soundLive);
      EXPECT_EQ(o.summary.busyFiles, 0);
      continue;
    }
    ASSERT_EQ(o.findings.size(), 1u) << Lines(o);
    EXPECT_EQ(o.findings[0].kind, CheckKind::kBusy);
    EXPECT_EQ(o.findings[0].place, "slot " + std::to_string(held));
    EXPECT_EQ(o.findings[0].text, "record " + std::to_string(held) + " is held by another station: read around, not judged");
    EXPECT_EQ(o.summary.busyFiles, 1);
  }
  platform::SetWindowsLockRule(was);
}

// A station that keeps saving: the header changes under every reading. What the
// readings saw (a free count that disagrees with the chain) is not reported as damage.
TEST_F(CheckTest, AFileThatKeepsChangingIsBusyNotDamage) {
  BuildGl02();
  std::atomic<bool> stop{false};
  std::atomic<int> writes{0};
  std::thread station([&] {
    platform::File file;
    if (platform::File::Open(Path("GLFILE02.DAT"), platform::Access::kReadWrite, platform::Share::kShared, file)) return;
    uint8_t count[4];
    for (int32_t n = 100; !stop; ++n) {
      isam::PutI32(count, n);
      size_t done = 0;
      if (file.WriteAt(4, count, 4, done)) return;
      ++writes;
    }
  });
  while (writes < 10) std::this_thread::yield();
  const Outcome o = Check(CheckOptions{}.settleMs);  // no held record: nothing to wait for
  stop = true;
  station.join();
  ASSERT_TRUE(o.ok);
  ASSERT_EQ(o.findings.size(), 1u) << Lines(o);
  EXPECT_EQ(o.findings[0].file, "GLFILE02.DAT");
  EXPECT_EQ(o.findings[0].kind, CheckKind::kBusy);
  EXPECT_EQ(o.summary.damage, 0);
}

// Hostile numbers never crash or hang the check: every field of the headers and of
// the root page set to values at the edges.
TEST_F(CheckTest, AbsurdNumbersGiveFindingsNotCrashes) {
  BuildGl02();
  const std::string data = Read("GLFILE02.DAT");
  const std::string index = Read("GLFILE02.IX");
  for (const int32_t v : {INT32_MIN, -1, INT32_MAX}) {
    for (const uint64_t at : {0u, 8u, 12u, 16u, 22u}) {
      SCOPED_TRACE(std::to_string(v) + " at " + std::to_string(at));
      Write("GLFILE02.DAT", data);
      Write("GLFILE02.IX", index);
      Put32("GLFILE02.DAT", at % 20, v);
      Put32("GLFILE02.IX", at, v);
      Put32("GLFILE02.IX", PageAt(tree_.rootPage) + at, v);
      const Outcome o = Check();
      EXPECT_TRUE(o.ok);
    }
  }
}

}  // namespace
}  // namespace kv::app
