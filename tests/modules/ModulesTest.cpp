// Each module's open and close bookkeeping, byte for byte, on company directories made
// for the test; and the shared files between modules.
#include "modules/Repairs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "RepairFixture.h"
#include "modules/SideFiles.h"
#include "platform/Cp874.h"
#include "platform/Faults.h"
#include "platform/PlainFile.h"
#include "testkit/Demo.h"
#include "ui/Dialogs.h"

namespace kv::modules {
namespace {

using platform::Th;
using testing::kNaN;
using testing::RepairFixture;

size_t OpenDescriptors() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

std::string Zeros(size_t n) { return std::string(n, '\0'); }
std::string ShortStr(std::string_view text) { return std::string(1, static_cast<char>(text.size())) + std::string(text); }
void Put(std::string& record, size_t offset, std::string_view bytes) { record.replace(offset, bytes.size(), bytes); }

class ModulesTest : public RepairFixture {
 protected:
  std::string Stamp() { return ShortStr(ThaiDateStamp()); }
  ModuleRepairs& Repairs() {
    if (!repairs_) repairs_ = std::make_unique<ModuleRepairs>(*ctx_);
    return *repairs_;
  }
  // The six modules in the order of the run.
  void FixAllModules() {
    Repairs().FixGL();
    Repairs().FixIC();
    Repairs().FixAP();
    Repairs().FixAR();
    Repairs().FixBI();
    Repairs().FixPO();
  }
  void TearDown() override {
    repairs_.reset();
    RepairFixture::TearDown();
  }
  std::unique_ptr<ModuleRepairs> repairs_;
};

// ---- General ledger ------------------------------------------------------------------

TEST_F(ModulesTest, GLAbsentIsSkippedWithoutATrace) {
  Repairs().FixGL();
  EXPECT_EQ(progress_.Position(), 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

TEST_F(ModulesTest, GLOpenAndCloseOnAnEmptyCompany) {
  Write("GLINFO.DAT", "");
  Repairs().FixGL();

  for (const char* name : {"GLFILE01", "GLFILE02", "GLFILE03", "GLFILE04", "GLFILE05",
                           "GLFILE06", "GLFILE07", "GLFILE08"}) {
    EXPECT_TRUE(Exists(std::string(name) + ".DAT")) << name;
    EXPECT_TRUE(Exists(std::string(name) + ".IX")) << name;
  }
  std::string expected = Zeros(2406);
  for (int off : {294, 296, 2205, 2209, 2215}) expected[off] = 1;
  expected[295] = 3;
  expected[2212] = 2;
  Put(expected, 284, Stamp());
  EXPECT_EQ(Read("GLINFO.DAT"), expected);
  EXPECT_EQ(Size("GLBOOK.DAT"), 0);  // created, not written by GL
  EXPECT_EQ(Size("GLTBUF.DAT"), 0);
  EXPECT_EQ(Size("GLTBFS.DAT"), 0);
  EXPECT_EQ(progress_.steps,
            (std::vector<std::string>{"GL GLFILE01", "GL GLFILE03", "GL GLFILE04"}));
  EXPECT_EQ(progress_.RepairCount(), 0);
}

TEST_F(ModulesTest, GLBookNameIsLookedUpInGLFILE02ByKey) {
  std::string info = Zeros(2406);
  Put(info, 405, ShortStr("1100"));
  Put(info, 416, ShortStr("stale"));
  Write("GLINFO.DAT", info);
  Build("GLFILE02", {
                        {false, [](uint8_t* r) { std::memcpy(r + 15, "\x04" "Cash", 5); }, {"1000"}},
                        {false, [](uint8_t* r) { std::memcpy(r + 15, "\x0F" "Bank account 01", 16); }, {"1100"}},
                    });
  Write("GLBOOK.DAT", Records(12, 230));
  Repairs().FixGL();
  const std::string after = Read("GLINFO.DAT");
  EXPECT_EQ(after.substr(416, 11), ShortStr("Bank accou"));
  EXPECT_EQ(after.substr(405, 5), ShortStr("1100"));
  EXPECT_EQ(Read("GLBOOK.DAT"), Records(12, 230));  // not written by the GL close
}

TEST_F(ModulesTest, GLBookNameIsEmptiedWhenTheKeyIsNotFound) {
  std::string info = Zeros(2406);
  Put(info, 405, ShortStr("9999"));
  Put(info, 416, ShortStr("stale"));
  Write("GLINFO.DAT", info);
  Repairs().FixGL();
  EXPECT_EQ(Read("GLINFO.DAT")[416], 0);
}

TEST_F(ModulesTest, GLRecordsAreRepairedAndCounted) {
  Write("GLINFO.DAT", "");
  Build("GLFILE01", {{false, [](uint8_t* r) {
                        std::memcpy(r + 78, kNaN, 10);
                        std::memcpy(r + 1188, kNaN, 10);
                      }}});
  Build("GLFILE03", {{false, [](uint8_t* r) { std::memcpy(r + 103, kNaN, 10); }}});
  const RepairCounts counts = Repairs().FixGL();
  EXPECT_EQ(counts.repaired, 2);
  EXPECT_EQ(counts.left, 0);
  EXPECT_EQ(progress_.RepairCount(), 2);
  EXPECT_EQ(Field(Slot("GLFILE01", 1), 1188), Zeros(10));
  EXPECT_EQ(report_.lines.size(), 3u);
}

TEST_F(ModulesTest, AFileThatCannotBeOpenedEndsTheRunAndNothingStaysOpen) {
  Write("GLINFO.DAT", "");
  Write("GLFILE03.DAT", std::string(500, 'x'));  // not a data file
  EXPECT_THROW(Repairs().FixGL(), ui::EndRun);
  EXPECT_FALSE(dialogs_.events.empty());
  EXPECT_EQ(Size("GLINFO.DAT"), 0);  // the module never reached its close
  Repairs().CloseAll();
  Repairs().CloseAll();  // closing what is closed does nothing
}

// ---- Inventory -----------------------------------------------------------------------

TEST_F(ModulesTest, ICOpenCreatesTheWarehouseFileAndStampsTheDate) {
  Write("ICINFO.DAT", "");
  Repairs().FixIC();

  std::string subw = Zeros(150 * 141);
  Put(subw, 0, ShortStr(Th("คลังสินค้าหลัก")));
  EXPECT_EQ(Read("ICSUBW.DAT"), subw);
  EXPECT_EQ(Size("ICDPMT.DAT"), 0);
  std::string expected = Zeros(388);
  expected[274] = 1;
  expected[275] = 1;
  expected[285] = 2;
  expected[288] = 1;
  Put(expected, 264, Stamp());
  EXPECT_EQ(Read("ICINFO.DAT"), expected);
  EXPECT_TRUE(Exists("GLFILE01.DAT"));
  EXPECT_EQ(Size("GLINFO.DAT"), 0);  // created by the read, not written by IC's close
  EXPECT_EQ(progress_.Position(), 4);
  EXPECT_EQ(progress_.steps.back(), "IC ICFILE05");
}

// GLFILE01 stays open after the IC close for a later module; when none comes, the end
// of the run closes it.
TEST_F(ModulesTest, GLFILE01LeftOpenByICIsClosedAtTheEnd) {
  Write("ICINFO.DAT", "");
  const size_t descriptors = OpenDescriptors();
  Repairs().FixIC();
  EXPECT_GT(OpenDescriptors(), descriptors);
  Repairs().CloseAll();
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST_F(ModulesTest, ICByte285ZeroBecomesTwo) {
  std::string info = Records(1, 388);
  info[285] = 0;
  Write("ICINFO.DAT", info);
  Write("ICSUBW.DAT", Records(3, 141));
  Repairs().FixIC();
  EXPECT_EQ(Read("ICINFO.DAT")[285], 2);
  EXPECT_EQ(Read("ICSUBW.DAT"), Records(3, 141));  // never written back
}

TEST_F(ModulesTest, ICAbsentOrUnopenableIsSkipped) {
  Repairs().FixIC();
  EXPECT_EQ(progress_.Position(), 0);
  EXPECT_FALSE(Exists("ICSUBW.DAT"));
}

// ---- Accounts payable and receivable ---------------------------------------------------

std::string LedgerInfo() {
  std::string info = Zeros(1107);
  info[282] = 1;
  info[283] = 1;
  info[603] = 1;
  Put(info, 307, ShortStr("TRADE"));
  Put(info, 318, ShortStr("OTHER"));
  info[601] = 10;  // int16 10, with the value at 606 zero
  info[616] = 5;
  return info;
}

TEST_F(ModulesTest, APInformationFixUpsTypesAndBook) {
  Write("APINFO.DAT", LedgerInfo());
  Write("GLBOOK.DAT", Records(5, 230));
  Repairs().FixAP();

  const std::string info = Read("APINFO.DAT");
  ASSERT_EQ(info.size(), 1107u);
  EXPECT_EQ(info.substr(606, 10), std::string("\0\0\0\0\0\0\0\xA0\x02\x40", 10));  // 10.0
  EXPECT_EQ(info[630], 5);
  EXPECT_EQ(info[318], 0);                      // emptied after the copy
  EXPECT_EQ(info.substr(319, 5), "OTHER");      // only the length byte
  EXPECT_EQ(info.substr(246, 9), Stamp());

  std::string types = Zeros(60 * 52);
  Put(types, 0, ShortStr(Th("เจ้าหนี้การค้า")));
  Put(types, 31, ShortStr("TRADE"));
  Put(types, 52, ShortStr(Th("เจ้าหนี้อื่น")));
  Put(types, 52 + 31, ShortStr("OTHER"));
  EXPECT_EQ(Read("APTYPE.DAT"), types);

  EXPECT_EQ(Read("GLBOOK.DAT"), Records(5, 230) + Zeros(25 * 230));
  EXPECT_EQ(Size("APTBUF.DAT"), 0);
  EXPECT_EQ(progress_.Position(), 4);
}

TEST_F(ModulesTest, APTypesAlreadyNamedAreLeftAlone) {
  std::string info = LedgerInfo();
  Write("APINFO.DAT", info);
  std::string types = Records(3, 52);
  Write("APTYPE.DAT", types);
  Repairs().FixAP();
  EXPECT_EQ(Read("APTYPE.DAT"), types);
  EXPECT_EQ(Read("APINFO.DAT").substr(318, 6), ShortStr("OTHER"));
}

TEST_F(ModulesTest, APTruncatedBufferIsEmptiedButTheFileKept) {
  Write("APINFO.DAT", LedgerInfo());
  const std::string tbuf = Records(2, 261) + "partial";
  Write("APTBUF.DAT", tbuf);
  Repairs().FixAP();
  EXPECT_EQ(Read("APTBUF.DAT"), tbuf);
  EXPECT_EQ(progress_.Position(), 4);
}

TEST_F(ModulesTest, ARFillsByte619AndItsOwnTypeNames) {
  std::string info = LedgerInfo();
  info[616] = 3;
  Write("ARINFO.DAT", info);
  Repairs().FixAR();
  const std::string after = Read("ARINFO.DAT");
  EXPECT_EQ(after[619], 3);
  EXPECT_EQ(after[630], 0);
  const std::string types = Read("ARTYPE.DAT");
  ASSERT_EQ(types.size(), 60u * 52u);
  EXPECT_EQ(types.substr(0, 14), ShortStr(Th("ลูกหนี้การค้า")));
  EXPECT_EQ(types.substr(52, 12), ShortStr(Th("ลูกหนี้อื่น")));
  EXPECT_EQ(progress_.steps.front(), "AR ARFILE01");
}

TEST_F(ModulesTest, ARTruncatedBufferEndsTheRunBeforeTheWalk) {
  Write("ARINFO.DAT", LedgerInfo());
  Write("ARTBUF.DAT", Records(2, 301) + "x");
  EXPECT_THROW(Repairs().FixAR(), platform::IoError);
  EXPECT_EQ(progress_.Position(), 0);
  EXPECT_EQ(Read("ARTBUF.DAT"), Records(2, 301) + "x");
}

// ---- Billing and purchasing -------------------------------------------------------------

TEST_F(ModulesTest, BIInformationAdjustmentsAndTheFourRecordsWrittenBack) {
  std::string bi = Zeros(960);
  bi[690] = 7;
  bi[692] = 1;
  bi[714] = 1;
  Put(bi, 484, ShortStr("abc"));
  Put(bi, 565, ShortStr("def"));
  Write("BIINFO.DAT", bi);
  std::string gl = Zeros(2406);
  Put(gl, 284, ShortStr("01/01/60"));
  Write("GLINFO.DAT", gl);
  ctx_->invoiceOldForm = true;
  Repairs().FixBI();

  const std::string after = Read("BIINFO.DAT");
  ASSERT_EQ(after.size(), 960u);
  EXPECT_EQ(after[484], 0);
  EXPECT_EQ(after[565], 0);
  EXPECT_EQ(after.substr(485, 3), "abc");
  EXPECT_EQ(after[690], 1);
  EXPECT_EQ(after[699], 2);
  EXPECT_EQ(after[318], 1);
  EXPECT_EQ(Read("GLINFO.DAT"), gl);  // read and written back, no stamp
  EXPECT_EQ(Size("ARINFO.DAT"), 1107);
  EXPECT_EQ(Size("ICINFO.DAT"), 388);
  EXPECT_EQ(Size("GLBOOK.DAT"), 30 * 230);
  EXPECT_EQ(Size("ARTYPE.DAT"), 60 * 52);
  EXPECT_EQ(progress_.steps, (std::vector<std::string>{"BI BIFILE01", "BI BIFILE02"}));
}

TEST_F(ModulesTest, BIWithoutInvoiceOldFormClearsByte318) {
  std::string bi = Zeros(960);
  bi[318] = 1;
  Write("BIINFO.DAT", bi);
  Repairs().FixBI();
  const std::string after = Read("BIINFO.DAT");
  EXPECT_EQ(after[318], 0);
  EXPECT_EQ(after[692], 1);
  EXPECT_EQ(after[693], 0);  // from 315
  EXPECT_EQ(after[714], 1);
}

std::string PODefaults() {
  std::string r = Zeros(964);
  for (int off : {315, 316, 319, 321, 690, 692, 693, 696, 701, 702, 711}) r[static_cast<size_t>(off)] = 1;
  r[317] = 2;
  r[699] = 2;
  Put(r, 403, ShortStr(Th("รายการซื้อสินค้า")));
  Put(r, 484, ShortStr(Th("ใบเพิ่มหนี้/ใบกำกับภาษี")));
  Put(r, 565, ShortStr(Th("ใบสั่งซื้อสินค้า")));
  return r;
}

TEST_F(ModulesTest, POEmptyInformationFileGetsDefaultsAndTexts) {
  Write("POINFO.DAT", "");
  Repairs().FixPO();
  EXPECT_EQ(Read("POINFO.DAT"), PODefaults());
  EXPECT_EQ(Size("APINFO.DAT"), 1107);
  EXPECT_EQ(Size("APTYPE.DAT"), 60 * 52);
  EXPECT_EQ(progress_.Position(), 2);
}

TEST_F(ModulesTest, POStringsEmptiedAtOpenGetTheirTextsAtClose) {
  std::string po = Zeros(964);
  po[692] = 1;
  po[690] = 0;
  Put(po, 403, ShortStr("own text"));
  Put(po, 484, ShortStr("old"));
  Write("POINFO.DAT", po);
  Repairs().FixPO();
  const std::string after = Read("POINFO.DAT");
  EXPECT_EQ(after.substr(403, 9), ShortStr("own text"));
  EXPECT_EQ(after.substr(484, 24), ShortStr(Th("ใบเพิ่มหนี้/ใบกำกับภาษี")));
  EXPECT_EQ(after.substr(565, 17), ShortStr(Th("ใบสั่งซื้อสินค้า")));
  EXPECT_EQ(after[690], 1);
}

// ---- The whole run -------------------------------------------------------------------

TEST_F(ModulesTest, AllModulesShareTheirFilesAndLeaveNothingOpen) {
  for (const char* name : {"GLINFO.DAT", "ICINFO.DAT", "APINFO.DAT", "ARINFO.DAT", "BIINFO.DAT", "POINFO.DAT"}) {
    Write(name, "");
  }
  const std::string book = Records(35, 230);  // beyond the table: kept whole
  Write("GLBOOK.DAT", book);
  Build("GLFILE01", {{false, [](uint8_t* r) { std::memcpy(r + 78, kNaN, 10); }}});
  Build("POFILE02", {{false, [](uint8_t* r) { std::memcpy(r + 260, kNaN, 10); }}});

  const size_t descriptors = OpenDescriptors();
  FixAllModules();
  EXPECT_EQ(OpenDescriptors(), descriptors);  // every module closed what it opened

  EXPECT_EQ(progress_.Position(), 19);
  EXPECT_EQ(progress_.RepairCount(), 2);
  EXPECT_EQ(Read("GLBOOK.DAT"), book);
  EXPECT_EQ(Field(Slot("POFILE02", 1), 260), Zeros(10));
}

// The demo company with its planted amounts: every planted field is reset and reported,
// every record holding one is counted once, and nothing else changes in the walked
// files.
TEST_F(ModulesTest, DemoCompanyEveryPlantedFieldIsRepaired) {
  const testkit::DemoCompany demo = testkit::MakeDemoCompany(dir_, 120, 7);
  ASSERT_EQ(demo.error, "");
  ASSERT_FALSE(demo.planted.empty());
  std::map<std::string, std::string> before;
  for (const DataFileDef* def : WalkedFiles()) before[std::string(def->baseName)] = Read(std::string(def->baseName) + ".DAT");

  FixAllModules();
  Repairs().CloseAll();

  EXPECT_EQ(progress_.Position(), 19);
  EXPECT_EQ(progress_.RepairCount(), demo.PlantedRecords());
  ASSERT_EQ(report_.lines.size(), demo.planted.size());
  for (size_t i = 0; i < demo.planted.size(); ++i) {
    const testkit::PlantedField& p = demo.planted[i];
    EXPECT_EQ(report_.lines[i].file, p.file);
    EXPECT_EQ(report_.lines[i].record, p.record);
    EXPECT_EQ(report_.lines[i].offset, p.offset);
    EXPECT_EQ(report_.lines[i].original, Money(p.bytes.data()));
    EXPECT_TRUE(report_.lines[i].written);
    // Zero the planted field in the copy taken before the run: the files must then match.
    std::string& copy = before[p.file];
    const size_t at = static_cast<size_t>(p.record) * DataFile(p.file).recordLength + p.offset;
    copy.replace(at, 10, Zeros(10));
  }
  for (const auto& [name, bytes] : before) {
    const std::string after = Read(name + ".DAT");
    const size_t length = static_cast<size_t>(DataFile(name).recordLength);
    ASSERT_EQ(after.size(), bytes.size()) << name;
    // Slot 0 is the header, which the engine may rewrite; the records must match.
    EXPECT_TRUE(after.compare(length, std::string::npos, bytes, length, std::string::npos) == 0) << name;
  }
  EXPECT_EQ(Read("GLINFO.DAT").substr(416, demo.glLookupName.size() + 1), ShortStr(demo.glLookupName));
}

TEST_F(ModulesTest, OnlyGLAndPOPresent) {
  Write("GLINFO.DAT", "");
  Write("POINFO.DAT", "");
  FixAllModules();
  EXPECT_EQ(progress_.Position(), 5);
}

}  // namespace
}  // namespace kv::modules
