#include "modules/SideFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "CompanyDir.h"
#include "platform/Faults.h"
#include "platform/PlainFile.h"

namespace kv::modules {
namespace {

using testing::CompanyDirTest;

std::string Bytes(const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

TEST(ThaiDateStamp, BuddhistEraTwoDigitYearWithLeadingZeros) {
  struct Row {
    platform::Date date;
    const char* text;
  } rows[] = {
      {{2026, 12, 8}, "08/12/69"},
      {{2000, 1, 1}, "01/01/43"},
      {{2457, 10, 31}, "31/10/00"},  // 3000 in the Buddhist era
      {{2056, 2, 29}, "29/02/99"},
  };
  for (const Row& row : rows) EXPECT_EQ(ThaiDateStamp(row.date), row.text);
  EXPECT_EQ(ThaiDateStamp().size(), 8u);
}

TEST(ShortStrings, CutToCapacityAndLeaveTheRestAlone) {
  uint8_t f[12];
  std::memset(f, 0xEE, sizeof f);
  PutShortString(f, 10, "ABCDEFGHIJKLMN");
  EXPECT_EQ(f[0], 10);
  EXPECT_EQ(ShortString(f, 10), "ABCDEFGHIJ");
  EXPECT_EQ(f[11], 0xEE);
  f[0] = 200;  // a length byte beyond the capacity reads only the capacity
  EXPECT_EQ(ShortString(f, 10).size(), 10u);
  PutShortString(f, 10, "");
  EXPECT_EQ(f[0], 0);
  EXPECT_EQ(f[1], 'A');
}

class SideTableTest : public CompanyDirTest {};

TEST_F(SideTableTest, MissingFileIsCreatedEmptyAndWrittenBackEmpty) {
  SideTable t("GLTBUF.DAT");
  EXPECT_FALSE(t.Read());
  EXPECT_TRUE(Exists("GLTBUF.DAT"));
  EXPECT_EQ(Size("GLTBUF.DAT"), 0);
  EXPECT_EQ(t.count(), 0);
  t.WriteBack();
  EXPECT_EQ(Size("GLTBUF.DAT"), 0);
}

TEST_F(SideTableTest, BookFileIsFilledToThirtyRecords) {
  Write("GLBOOK.DAT", Records(12, 230));
  SideTable t("GLBOOK.DAT");
  EXPECT_TRUE(t.Read());
  EXPECT_EQ(t.count(), 12);
  t.WriteAll();
  std::string expected = Records(12, 230) + std::string(18 * 230, '\0');
  EXPECT_EQ(Read("GLBOOK.DAT"), expected);
}

// Records beyond a table's capacity are kept and written back unchanged.
TEST_F(SideTableTest, OversizedFilesAreNeverShortened) {
  struct Row {
    const char* name;
    int records;
    bool fixedWrite;  // written with the full table rather than the number read
  } rows[] = {
      {"GLBOOK.DAT", 35, true},  {"GLTBUF.DAT", 25, false}, {"GLTBFS.DAT", 40, false},
      {"APTBUF.DAT", 13, false}, {"ARTBUF.DAT", 11, false}, {"APTYPE.DAT", 70, true},
      {"ARTYPE.DAT", 61, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const SideFileDef& def = SideFile(row.name);
    // Plus a partial record at the very end, which must survive as well.
    const std::string original = Records(row.records, def.recordLength) + "xyz";
    Write(row.name, original);
    SideTable t(row.name);
    t.Read();
    EXPECT_EQ(t.count(), def.capacity);
    EXPECT_EQ(Bytes(t.Slot(def.capacity - 1), 1)[0], static_cast<char>(def.capacity));
    if (row.fixedWrite) {
      t.WriteAll();
    } else {
      t.WriteBack();
    }
    EXPECT_EQ(Read(row.name), original);
  }
}

TEST_F(SideTableTest, TablesWithALeadingSlotStopAtTheirLimit) {
  Write("ICDPMT.DAT", Records(120, 63));
  SideTable t("ICDPMT.DAT");
  t.Read();
  EXPECT_EQ(t.count(), 90);
  EXPECT_EQ(t.Slot(0)[0], 0);  // slot 0 is not used
  EXPECT_EQ(t.Slot(1)[0], 1);
  EXPECT_EQ(t.Slot(90)[62], 90);
  EXPECT_EQ(t.Slot(100)[0], 0);
  EXPECT_EQ(Size("ICDPMT.DAT"), 120 * 63);
}

TEST_F(SideTableTest, PartialRecordRaisesOrEmptiesTheTable) {
  Write("ARTBUF.DAT", Records(3, 301) + "abc");
  SideTable ar("ARTBUF.DAT");
  EXPECT_THROW(ar.Read(), platform::IoError);

  const std::string ap = Records(3, 261) + "abc";
  Write("APTBUF.DAT", ap);
  SideTable t("APTBUF.DAT");
  EXPECT_TRUE(t.Read(SideTable::OnBadRecord::kEmptyTable));
  EXPECT_TRUE(t.readFailed());
  EXPECT_EQ(t.count(), 0);
  for (uint8_t b : t.bytes()) ASSERT_EQ(b, 0);
  EXPECT_EQ(Read("APTBUF.DAT"), ap);
}

TEST_F(SideTableTest, FailedReplaceLeavesTheOldContentAndRaises) {
  Write("GLTBUF.DAT", Records(2, 220));
  SideTable t("GLTBUF.DAT");
  t.Read();
  std::memset(t.Slot(0), 0x55, 220);
  platform::SetFaultPlan({platform::Op::kRename, 1, true, platform::FaultKind::kError, 5});
  EXPECT_THROW(t.WriteBack(), platform::IoError);
  SideTable book("GLBOOK.DAT");
  EXPECT_FALSE(book.WriteAll(SideTable::OnWriteFailure::kLeaveFile));  // silently left as it was
  platform::ClearFaults();
  EXPECT_EQ(Read("GLTBUF.DAT"), Records(2, 220));
  EXPECT_FALSE(Exists("GLBOOK.DAT"));
}

class InfoRecordTest : public CompanyDirTest {};

TEST_F(InfoRecordTest, DefaultsSurviveAMissingOrEmptyFile) {
  InfoRecord r("GLINFO.DAT");
  r[294] = 1;
  EXPECT_FALSE(r.Read());
  EXPECT_EQ(Size("GLINFO.DAT"), 0);
  EXPECT_EQ(r[294], 1);
  EXPECT_TRUE(r.Read());  // now it exists, empty
  EXPECT_EQ(r[294], 1);
  r.Write();
  EXPECT_EQ(Size("GLINFO.DAT"), 2406);
  EXPECT_EQ(Read("GLINFO.DAT")[294], 1);
}

TEST_F(InfoRecordTest, FirstRecordIsReadAndExactlyOneWritten) {
  std::string stored = Records(1, 960) + Records(1, 960);  // a second record is ignored
  stored[5] = 9;
  Write("BIINFO.DAT", stored);
  InfoRecord r("BIINFO.DAT");
  EXPECT_TRUE(r.Read(false));
  EXPECT_EQ(r[5], 9);
  r.WriteOnce();
  EXPECT_EQ(Read("BIINFO.DAT"), stored.substr(0, 960));
}

TEST_F(InfoRecordTest, ShortFileRaisesAndIsLeftAlone) {
  Write("APINFO.DAT", std::string(100, 'a'));
  InfoRecord r("APINFO.DAT");
  EXPECT_THROW(r.Read(), platform::IoError);
  EXPECT_EQ(Read("APINFO.DAT"), std::string(100, 'a'));
}

TEST_F(InfoRecordTest, WriteRetriesAreBounded) {
  InfoRecord r("ICINFO.DAT");
  platform::SetFaultPlan({platform::Op::kRename, 1, true, platform::FaultKind::kError, 5});
  EXPECT_THROW(r.Write(), platform::IoError);
  EXPECT_EQ(platform::FaultsInjected(), static_cast<uint64_t>(kIoAttempts));
  platform::ClearFaults();
  // A failure that clears up before the last attempt is not an error.
  platform::SetFaultPlan({platform::Op::kRename, 1, false, platform::FaultKind::kError, 5});
  EXPECT_NO_THROW(r.Write());
  platform::ClearFaults();
  EXPECT_EQ(Size("ICINFO.DAT"), 388);
}

TEST_F(InfoRecordTest, FileCanOpen) {
  EXPECT_FALSE(FileCanOpen("ICINFO.DAT"));
  Write("ICINFO.DAT", "");
  EXPECT_TRUE(FileCanOpen("ICINFO.DAT"));
  EXPECT_TRUE(FileCanOpen("icinfo.dat"));  // names ignore ASCII case
}

}  // namespace
}  // namespace kv::modules
