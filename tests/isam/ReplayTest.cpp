// Replay of a save journal found in the coordination file: at open, and when a station
// meets one under its read lock.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "IsamFixture.h"
#include "isam/Engine.h"
#include "testkit/Builder.h"

namespace kv::isam::testing {
namespace {

using testkit::BuildFile;
using testkit::FileLayout;
using testkit::JournalWriter;
using testkit::KeySink;
using testkit::PageImage;

constexpr int kL = 8;
constexpr size_t kR = kL * 62 + 564;  // one key: R is its section length

class ReplayTest : public IsamTest {
 protected:
  void SetUp() override {
    IsamTest::SetUp();
    ASSERT_EQ(engine.StartEngine(EngineMode::kNetwork, 16), 16);
    // Records 1..10 with keys K1..K10: a single root page, page 1.
    FileLayout fileLayout;
    fileLayout.dataPath = Path("JR.DAT");
    fileLayout.slotLength = 30;
    fileLayout.keys = {{kL, false}};
    fileLayout.highestSlot = 10;
    testkit::FileInfo info;
    ASSERT_EQ(BuildFile(fileLayout,
                        [](int32_t rec, bool, std::span<uint8_t> slot, KeySink& sink) {
                          PutI32(slot.data() + 4, rec);
                          sink.Add(1, "K" + std::to_string(rec));
                        },
                        &info),
              "");
    ASSERT_EQ(info.keys[0].rootPage, 1);
    ASSERT_EQ(info.keys[0].highestPage, 1);
    ix = ReadRaw("JR.IX");
    dat = ReadRaw("JR.DAT");
  }
  void TearDown() override {
    if (engine.Initialised()) engine.StopEngine();
    IsamTest::TearDown();
  }

  static PageImage NewRoot() {
    PageImage p;
    p.leftmost = 0;
    p.items = {{3, 0, "NEW"}, {4, 0, "ZED"}};
    return p;
  }

  BlockHandle Open() {
    BlockHandle b = nullptr;
    engine.OpenBlock(b, Path("JR"), {.network = true});
    return b;
  }

  int32_t Find(BlockHandle b, const std::string& text) {
    int32_t rec = 0;
    engine.LookupKey(b, 1, rec, text);
    return engine.LastOpOK() ? rec : -engine.LastOpError();
  }

  Engine engine;
  std::string ix, dat;
};

TEST_F(ReplayTest, PageImageIsWrittenAndTheFileLaidOutAgain) {
  JournalWriter j;
  j.AddPage(1, kL, 1, NewRoot());
  j.End();
  WriteRaw("JR.DIA", j.Bytes());
  BlockHandle b = Open();
  ASSERT_OK(engine);
  const std::string after = ReadRaw("JR.IX");
  ASSERT_EQ(after.size(), ix.size());
  EXPECT_EQ(after.substr(kR, 6 + 2 * (kL + 9)),
            testkit::EncodePage(NewRoot(), kL));
  EXPECT_EQ(after.substr(kR + 6 + 2 * (kL + 9)), ix.substr(kR + 6 + 2 * (kL + 9)));
  EXPECT_EQ(Size("JR.DIA"), 54);
  EXPECT_EQ(Find(b, "NEW"), 3);
  EXPECT_EQ(Find(b, "K1"), -10200);
  engine.CloseBlock(b);
  EXPECT_OK(engine);
}

// A journal written out byte by byte as the layout lays it down, not through the codec:
// the test kit's writer must produce exactly these bytes, and the replay must put the
// page and the header where they belong.
TEST_F(ReplayTest, JournalWrittenOutByteByByte) {
  using namespace std::string_literals;
  const std::string journal =
      "\x00"s                                      // not interpreted
      "\x02\x00" "\x01\x00" "\x00\x00"s            // page image: 2 items, key 1, 2 bytes
      "\x03\x00\x00\x00" "\x00\x00\x00\x00" "\x03NEW\0\0\0\0\0"s  // record 3, no child
      "\x04\x00\x00\x00" "\x00\x00\x00\x00" "\x03ZED\0\0\0\0\0"s
      "\x01\x00\x00\x00" "\x00\x00\x00\x00"s       // page 1, no leftmost child
      "\xE8\x03" "\x00\x00"s                       // header image (1000) of section 0
      "\x05\x00\x00\x00" "\x01\x00\x00\x00" "\x0A\x00\x00\x00" "\x1E\x00\x00\x00"s
      "\x01\x00\x00\x00" "\x00\x00" "\x00\x00\x00\x00" "\x00\x00"s
      "\xFF\xFF\xFF\xFF"s                          // link -1: slot 5 ends the free chain
      "\xD0\x07"s;                                 // end (2000)
  JournalWriter j;
  j.AddPage(1, kL, 1, NewRoot());
  const testkit::DataHeader h{.freeHead = 5, .freeCount = 1, .highestSlot = 10, .slotLength = 30, .keyCount = 1};
  j.AddDataHeader(h, -1);
  j.End();
  EXPECT_EQ(j.Bytes(), journal);

  WriteRaw("JR.DIA", journal);
  BlockHandle b = Open();
  ASSERT_OK(engine);
  const std::string x = ReadRaw("JR.IX");
  EXPECT_EQ(I16(x, kR), 2);
  EXPECT_EQ(I32(x, kR + 2), 0);
  EXPECT_EQ(I32(x, kR + 6), 3);
  EXPECT_EQ(x.substr(kR + 6 + 8, 4), "\x03NEW");
  EXPECT_EQ(I32(x, kR + 6 + 17), 4);
  const std::string d = ReadRaw("JR.DAT");
  EXPECT_EQ(I32(d, 0), 5);
  EXPECT_EQ(I32(d, 4), 1);
  EXPECT_EQ(I32(d, 5 * 30), -1);
  EXPECT_EQ(Size("JR.DIA"), 54);
  EXPECT_EQ(Find(b, "ZED"), 4);
  engine.CloseBlock(b);
}

TEST_F(ReplayTest, HeaderImagesWithAndWithoutTheFreeChainLink) {
  testkit::DataHeader h{.freeHead = 5, .freeCount = 1, .highestSlot = 10, .slotLength = 30, .keyCount = 1};
  testkit::KeyHeader k;
  k.freeHead = 1;
  k.freeCount = 1;
  k.highestPage = 1;
  k.sectionLength = static_cast<int32_t>(kR);
  k.rootPage = 0;
  k.entryCount = 0;
  JournalWriter j;
  j.AddDataHeader(h, -1);  // slot 5 joins the chain, ending it
  j.AddKeyHeader(1, k, -1);
  h.freeCount = 7;
  j.AddDataHeader(h);       // no link: only the header changes
  j.End();
  WriteRaw("JR.DIA", j.Bytes());
  BlockHandle b = Open();
  ASSERT_OK(engine);
  const std::string d = ReadRaw("JR.DAT");
  EXPECT_EQ(I32(d, 0), 5);
  EXPECT_EQ(I32(d, 4), 7);
  EXPECT_EQ(I32(d, 8), 10);
  EXPECT_EQ(I32(d, 12), 30);
  EXPECT_EQ(d[20], 0);
  EXPECT_EQ(I32(d, 5 * 30), -1);
  EXPECT_EQ(d.substr(6 * 30), dat.substr(6 * 30));
  const std::string x = ReadRaw("JR.IX");
  EXPECT_EQ(I32(x, 16), 0);       // root
  EXPECT_EQ(I32(x, kR), -1);      // page 1 is free now
  EXPECT_EQ(I16(x, 26), 62);      // the page size is kept
  EXPECT_EQ(engine.SlotTotal(b), 11);
  EXPECT_EQ(Find(b, "K3"), -10200);  // empty tree
  engine.CloseBlock(b);
}

TEST_F(ReplayTest, JournalCutShortIsNoJournal) {
  JournalWriter j;
  j.AddPage(1, kL, 1, NewRoot());
  std::string bytes = j.Bytes();  // no end tag
  for (size_t cut : {bytes.size(), bytes.size() - 3, size_t{2}, size_t{0}}) {
    WriteRaw("JR.DIA", bytes.substr(0, cut));
    BlockHandle b = Open();
    ASSERT_OK(engine);
    EXPECT_EQ(ReadRaw("JR.IX"), ix) << cut;  // nothing of the broken save was applied
    EXPECT_EQ(Size("JR.DIA"), 54);
    EXPECT_EQ(Find(b, "K7"), 7);
    engine.CloseBlock(b);
  }
}

TEST_F(ReplayTest, BadJournalsFailWith10180AndWriteNothing) {
  PageImage tooMany = NewRoot();
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::vector<Case> cases;
  {
    JournalWriter j;
    j.AddPage(1, kL, 1, NewRoot());
    j.AddTag(999);
    cases.push_back({"bad tag", j.Bytes()});
  }
  {
    JournalWriter j;
    j.AddTag(0);
    cases.push_back({"tag 0", j.Bytes()});
  }
  {
    JournalWriter j;
    j.AddPage(2, kL, 1, NewRoot());
    j.End();
    cases.push_back({"key number", j.Bytes()});
  }
  {
    JournalWriter j;
    j.AddPage(1, kL, 0, NewRoot());
    j.End();
    cases.push_back({"page 0", j.Bytes()});
  }
  {
    JournalWriter j;
    j.AddPage(1, kL, 2000000000, NewRoot());
    j.End();
    cases.push_back({"page far beyond", j.Bytes()});
  }
  {
    testkit::DataHeader h;
    h.freeHead = 50;
    h.highestSlot = 10;
    h.slotLength = 30;
    h.keyCount = 1;
    JournalWriter j;
    j.AddDataHeader(h, -1);
    j.End();
    cases.push_back({"free slot beyond the file", j.Bytes()});
    h.freeHead = -1;
    h.slotLength = 31;
    JournalWriter j2;
    j2.AddDataHeader(h);
    j2.End();
    cases.push_back({"other slot length", j2.Bytes()});
  }
  {
    testkit::KeyHeader k;
    k.sectionLength = static_cast<int32_t>(kR);
    JournalWriter j;
    j.AddKeyHeader(3, k);
    j.End();
    cases.push_back({"section number", j.Bytes()});
  }
  {
    // An item whose text is longer than the key.
    JournalWriter j;
    j.AddPage(1, kL, 1, NewRoot());
    j.End();
    std::string bytes = j.Bytes();
    bytes[1 + 6 + 8] = static_cast<char>(kL + 1);
    cases.push_back({"text length", bytes});
  }
  for (const Case& c : cases) {
    WriteRaw("JR.DIA", c.bytes);
    BlockHandle b = Open();
    EXPECT_ERR(engine, EngineError::kRepairFailed);
    EXPECT_EQ(b, nullptr) << c.what;
    EXPECT_EQ(ReadRaw("JR.IX"), ix) << c.what;
    EXPECT_EQ(ReadRaw("JR.DAT"), dat) << c.what;
    EXPECT_EQ(ReadRaw("JR.DIA"), c.bytes) << c.what;  // kept for a later repair
  }
}

TEST_F(ReplayTest, PageOfTheSecondKeyLandsAtItsSectionOffset) {
  // Keys of lengths 10 and 30: S = 1184 and 2424, R = 3608; page 3 of key 2 starts at
  // 3 x 3608 + 1184 = 12008.
  const KeyDesc keys[] = {{10, false}, {30, false}};
  engine.CreateBlock(Path("TWO"), 40, 2, keys);
  ASSERT_OK(engine);
  testkit::KeyHeader k;
  k.highestPage = 3;
  k.sectionLength = 2424;
  k.rootPage = 3;
  k.entryCount = 2;
  PageImage root;
  root.items = {{1, 0, "ALPHA"}, {2, 0, "OMEGA"}};
  JournalWriter j;
  j.AddKeyHeader(2, k);
  j.AddPage(2, 30, 3, root);
  j.End();
  WriteRaw("TWO.DIA", j.Bytes());
  BlockHandle b = nullptr;
  engine.OpenBlock(b, Path("TWO"), {.network = true});
  ASSERT_OK(engine);
  const std::string x = ReadRaw("TWO.IX");
  ASSERT_GE(x.size(), 12008u + 6 + 2 * 39);
  EXPECT_EQ(x.substr(12008, 6 + 2 * 39), testkit::EncodePage(root, 30));
  EXPECT_EQ(I32(x, 1184 + 16), 3);
  int32_t rec = 0;
  engine.LookupKey(b, 2, rec, "OMEGA");
  EXPECT_OK(engine);
  EXPECT_EQ(rec, 2);
  engine.LookupKey(b, 1, rec, "OMEGA");
  EXPECT_ERR(engine, EngineError::kNoMatchingKey);
  engine.CloseBlock(b);
}

TEST_F(ReplayTest, DamagedLengthWithTwoByteSlots) {
  // Seven keys: m = 2. A layout with one byte too many is damaged: the replay meets the
  // end tag (the marker) at once, and the file is laid out again with 51 slots.
  std::vector<KeyDesc> seven(7, KeyDesc{4, false});
  engine.CreateBlock(Path("SEV"), 30, 7, seven.data());
  std::string dia = testkit::CoordinationLayout(7, 51, 0);
  dia.push_back('\0');
  ASSERT_EQ(dia.size(), 3u + 51 * 2 + 1);
  WriteRaw("SEV.DIA", dia);
  BlockHandle b = nullptr;
  engine.OpenBlock(b, Path("SEV"), {.network = true});
  ASSERT_OK(engine);
  const std::string after = ReadRaw("SEV.DIA");
  ASSERT_EQ(after.size(), 105u);
  EXPECT_EQ(I16(after, 1), 2000);
  engine.CloseBlock(b);

  // Five keys: m = 1, and 3 + 52 bytes with the marker is a valid file of 52 slots.
  std::vector<KeyDesc> five(5, KeyDesc{4, false});
  engine.CreateBlock(Path("FIV"), 30, 5, five.data());
  WriteRaw("FIV.DIA", testkit::CoordinationLayout(5, 52, 0));
  engine.OpenBlock(b, Path("FIV"), {.network = true});
  ASSERT_OK(engine);
  EXPECT_EQ(Size("FIV.DIA"), 55);
  engine.CloseBlock(b);

  // More slots than station claims can exist for: not a layout, whatever its marker.
  WriteRaw("FIV.DIA", testkit::CoordinationLayout(5, 70000, 0));
  engine.OpenBlock(b, Path("FIV"), {.network = true});
  ASSERT_OK(engine);
  EXPECT_EQ(Size("FIV.DIA"), 54);
  engine.CloseBlock(b);
}

TEST_F(ReplayTest, StationMeetsAJournalUnderItsReadLock) {
  BlockHandle b = Open();
  ASSERT_OK(engine);
  EXPECT_EQ(Find(b, "K7"), 7);  // page 1 cached
  const int own = engine.StationNumber(b);
  JournalWriter j;
  j.AddPage(1, kL, 1, NewRoot());
  j.End();
  WriteRaw("JR.DIA", j.Bytes());
  EXPECT_EQ(Find(b, "ZED"), 4);
  EXPECT_EQ(Find(b, "K7"), -10200);
  const std::string dia = ReadRaw("JR.DIA");
  ASSERT_EQ(dia.size(), 54u);
  EXPECT_EQ(I16(dia, 1), 2000);
  for (int s = 0; s <= 50; ++s) {
    EXPECT_EQ(dia[3 + static_cast<size_t>(s)], s == own ? '\0' : '\xFF') << s;
  }
  engine.CloseBlock(b);
  EXPECT_OK(engine);
}

// A file that holds the marker but ends before the station's own slot has no signal to
// read: it is replayed (the marker is the journal's end tag, so nothing is applied) and
// laid out again, whichever operation meets it first; the block then counts, reads and
// repairs as before, and only the repaired record changes in the data file.
TEST_F(ReplayTest, MarkerWithoutTheOwnSlotIsLaidOutAgain) {
  JournalWriter page;
  page.AddPage(1, kL, 1, NewRoot());
  const std::string marker = testkit::CoordinationLayout(1, 0);
  enum class First { kCount, kRead, kWriteLock };
  struct Row {
    const char* what;
    std::function<std::string(int own)> bytes;
  };
  const Row rows[] = {
      {"just the marker", [&](int) { return marker; }},
      {"marker and part of a page image, ending before the own slot",
       [&](int own) { return marker + page.Bytes().substr(1, static_cast<size_t>(std::min(own, 9))); }},
      {"one byte short of the own slot",
       [&](int own) { return testkit::CoordinationLayout(1, 51, 0xFF).substr(0, 3 + own); }},
  };
  for (const Row& row : rows) {
    for (First first : {First::kCount, First::kRead, First::kWriteLock}) {
      SCOPED_TRACE(std::string(row.what) + " / first op " + std::to_string(static_cast<int>(first)));
      WriteRaw("JR.DAT", dat);
      WriteRaw("JR.IX", ix);
      BlockHandle b = Open();
      ASSERT_OK(engine);
      const int own = engine.StationNumber(b);
      ASSERT_GE(own, 1);
      WriteRaw("JR.DIA", row.bytes(own));
      std::vector<uint8_t> slot(30);
      if (first == First::kCount) {
        EXPECT_EQ(engine.SlotTotal(b), 11);
      } else if (first == First::kRead) {
        engine.ReadSlot(b, 7, slot);
      } else {
        engine.LockBlock(b);
        EXPECT_OK(engine);
        engine.UnlockBlock(b);
      }
      EXPECT_OK(engine);
      EXPECT_EQ(Size("JR.DIA"), 54);
      EXPECT_EQ(ReadRaw("JR.IX"), ix);
      EXPECT_EQ(ReadRaw("JR.DAT"), dat);
      EXPECT_EQ(Find(b, "K7"), 7);

      // What a repair of record 7 does: its lock, the write lock, read, write back.
      engine.LockSlot(b, 7);
      engine.LockBlock(b);
      engine.ReadSlot(b, 7, slot);
      ASSERT_OK(engine);
      EXPECT_EQ(GetI32(slot.data() + 4), 7);
      slot[20] = 0x5A;
      engine.WriteSlot(b, 7, slot);
      engine.UnlockBlock(b);
      engine.UnlockSlot(b, 7);
      EXPECT_OK(engine);
      std::string expected = dat;
      expected[7 * 30 + 20] = 0x5A;
      EXPECT_EQ(ReadRaw("JR.DAT"), expected);
      const std::string dia = ReadRaw("JR.DIA");
      ASSERT_EQ(dia.size(), 54u);
      EXPECT_EQ(I16(dia, 1), 2000);
      engine.CloseBlock(b);
      EXPECT_OK(engine);
    }
  }
  // At open, before any slot is claimed, the marker alone is a damaged file (with one-byte
  // slots, the marker and nine more bytes are a layout of nine slots).
  for (const std::string& bytes : {marker, marker + page.Bytes().substr(1, 9)}) {
    WriteRaw("JR.DIA", bytes);
    BlockHandle b = Open();
    ASSERT_OK(engine);
    EXPECT_EQ(Size("JR.DIA"), bytes == marker ? 54 : 12);
    EXPECT_EQ(Find(b, "K7"), 7);
    engine.CloseBlock(b);
  }
}

TEST_F(ReplayTest, JournalOfABlockOutsideNetworkMode) {
  Engine single;
  ASSERT_EQ(single.StartEngine(EngineMode::kSingleUser, 8), 8);
  JournalWriter j;
  j.AddPage(1, kL, 1, NewRoot());
  j.End();
  WriteRaw("JR.DIA", j.Bytes());
  BlockHandle b = nullptr;
  single.OpenBlock(b, Path("JR"), {});
  ASSERT_OK(single);
  EXPECT_FALSE(Exists("JR.DIA"));  // replayed, and not needed any more
  int32_t rec = 0;
  single.LookupKey(b, 1, rec, "NEW");
  EXPECT_OK(single);
  EXPECT_EQ(rec, 3);
  single.CloseBlock(b);
  // A read-only block cannot repair.
  WriteRaw("JR.DIA", j.Bytes());
  single.OpenBlock(b, Path("JR"), {.readOnly = true});
  EXPECT_ERR(single, EngineError::kNoCoordReadOnly);
  single.StopEngine();
}

}  // namespace
}  // namespace kv::isam::testing
