// The demo company read back: file sizes and headers, the planted list against the
// bytes, and the money catalogues against the money check.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include "isam/Engine.h"
#include "modules/ModuleTables.h"
#include "modules/MoneyCheck.h"
#include "support/Bytes.h"
#include "support/TempDir.h"
#include "testkit/Builder.h"
#include "testkit/Demo.h"

namespace kv::testkit {
namespace {

namespace fs = std::filesystem;

using test::I32;

bool Sound(const std::string& b, size_t at) {
  return modules::IsMoneySound(reinterpret_cast<const uint8_t*>(b.data() + at));
}

class DemoTest : public test::TempDirTest {
 protected:
  DemoTest() : TempDirTest("kvdemo") {}
  std::string Read(const std::string& name) const {
    std::string bytes;
    EXPECT_EQ(ReadBytes(dir_ + "/" + name, bytes), "") << name;
    return bytes;
  }
};

TEST(MoneySamples, CatalogueAgreesWithTheMoneyCheck) {
  for (const MoneySample& s : SoundMoneySamples()) {
    EXPECT_TRUE(modules::IsMoneySound(s.bytes.data())) << s.name;
  }
  for (const MoneySample& s : UnsoundMoneySamples()) {
    EXPECT_FALSE(modules::IsMoneySound(s.bytes.data())) << s.name;
  }
  uint64_t rng = 42;
  for (int i = 0; i < 100000; ++i) {
    const Money m = RandomSoundMoney(rng);
    ASSERT_TRUE(modules::IsMoneySound(m.data())) << i;
  }
  // The encodings the money check's own description gives.
  EXPECT_EQ(MoneyFromLongDouble(7.0L), (Money{0, 0, 0, 0, 0, 0, 0, 0xE0, 0x01, 0x40}));
  EXPECT_EQ(MoneyFromCents(999999999999), kMoneyUpperBound);
  EXPECT_EQ(MoneyFromCents(-999999999999), kMoneyLowerBound);
}

TEST_F(DemoTest, EveryFileHasItsSizeAndHeader) {
  constexpr int32_t kN = 200;
  const DemoCompany c = MakeDemoCompany(dir_, kN, 7);
  ASSERT_EQ(c.error, "");
  ASSERT_EQ(c.files.size(), modules::AllDataFiles().size());
  for (const modules::DataFileDef& def : modules::AllDataFiles()) {
    const std::string base(def.baseName);
    const DemoFileCounts* counts = c.File(base);
    ASSERT_NE(counts, nullptr) << base;
    const std::string dat = Read(base + ".DAT");
    ASSERT_EQ(dat.size(), static_cast<size_t>(kN + 1) * static_cast<size_t>(def.recordLength)) << base;
    EXPECT_EQ(I32(dat, 4), counts->deleted) << base;
    EXPECT_EQ(I32(dat, 8), kN) << base;
    EXPECT_EQ(I32(dat, 12), def.recordLength) << base;
    EXPECT_EQ(I32(dat, 16), static_cast<int32_t>(def.keys.size())) << base;
    EXPECT_EQ(dat[20], 0) << base;
    EXPECT_GT(counts->deleted, 0) << base;
    EXPECT_EQ(counts->live + counts->deleted, kN) << base;

    // The free chain reaches every deleted slot once and ends with -1.
    std::set<int32_t> chain;
    for (int32_t s = I32(dat, 0); s != -1; s = I32(dat, static_cast<size_t>(s) * static_cast<size_t>(def.recordLength))) {
      ASSERT_TRUE(s >= 1 && s <= kN && chain.insert(s).second) << base << " slot " << s;
    }
    EXPECT_EQ(static_cast<int32_t>(chain.size()), counts->deleted) << base;

    // One tree per key, each holding every live record.
    const std::string ix = Read(base + ".IX");
    size_t offset = 0, record = 0;
    for (const isam::KeyDesc& k : def.keys) record += static_cast<size_t>(SectionLength(k.length));
    EXPECT_EQ(ix.size() % record, 0u) << base;
    for (const isam::KeyDesc& k : def.keys) {
      EXPECT_EQ(I32(ix, offset + 12), SectionLength(k.length)) << base;
      EXPECT_EQ(I32(ix, offset + 22), counts->live) << base;
      EXPECT_EQ(ix[offset + 20], k.duplicates ? 1 : 0) << base;
      offset += static_cast<size_t>(SectionLength(k.length));
    }
  }
  for (const modules::SideFileDef& side : modules::AllSideFiles()) {
    const std::string bytes = Read(std::string(side.fileName));
    ASSERT_FALSE(bytes.empty()) << side.fileName;
    EXPECT_EQ(bytes.size() % static_cast<size_t>(side.recordLength), 0u) << side.fileName;
    if (side.informationRecord) {
      EXPECT_EQ(bytes.size(), static_cast<size_t>(side.recordLength)) << side.fileName;
    }
    EXPECT_LE(bytes.size() / static_cast<size_t>(side.recordLength), static_cast<size_t>(side.capacity))
        << side.fileName;
  }
  EXPECT_EQ(Read("GLINFO.DAT").size(), 2406u);
  EXPECT_EQ(Read("APTYPE.DAT").size(), 60u * 52);

  std::ostringstream out;
  PrintPlantedCounts(c, out);
  EXPECT_NE(out.str().find("GLFILE01"), std::string::npos);
  EXPECT_NE(out.str().find("records to repair: " + std::to_string(c.PlantedRecords())), std::string::npos);
}

// Every money field of every live record is sound unless the planted list names it;
// deleted slots carry bad amounts that are not in the list.
TEST_F(DemoTest, PlantedListMatchesTheBytes) {
  DemoOptions options;
  options.records = 1000;
  options.seed = 3;
  const DemoCompany c = MakeDemoCompany(dir_, options);
  ASSERT_EQ(c.error, "");
  std::map<std::tuple<std::string, int32_t, int>, Money> planted;
  for (const PlantedField& p : c.planted) {
    EXPECT_TRUE(planted.emplace(std::tuple{p.file, p.record, p.offset}, p.bytes).second);
    EXPECT_FALSE(modules::IsMoneySound(p.bytes.data()));
  }
  int64_t multi = 0;
  for (const modules::DataFileDef* def : modules::WalkedFiles()) {
    const std::string base(def->baseName);
    const std::string dat = Read(base + ".DAT");
    const size_t len = static_cast<size_t>(def->recordLength);
    int32_t badRecords = 0, badFields = 0, deletedBad = 0;
    for (int32_t r = 1; r <= options.records; ++r) {
      const size_t at = static_cast<size_t>(r) * len;
      const bool live = I32(dat, at) == 0;
      int bad = 0;
      for (uint16_t off : def->moneyOffsets) {
        const bool sound = Sound(dat, at + off);
        const auto it = planted.find(std::tuple{base, r, static_cast<int>(off)});
        if (!live) {
          EXPECT_EQ(it, planted.end());
          deletedBad += sound ? 0 : 1;
          continue;
        }
        EXPECT_EQ(sound, it == planted.end()) << base << " record " << r << " offset " << off;
        if (it != planted.end()) {
          EXPECT_EQ(dat.substr(at + off, 10), std::string(it->second.begin(), it->second.end()));
        }
        bad += sound ? 0 : 1;
      }
      badRecords += bad > 0 ? 1 : 0;
      badFields += bad;
      multi += bad > 1 ? 1 : 0;
    }
    const DemoFileCounts* counts = c.File(base);
    ASSERT_NE(counts, nullptr);
    EXPECT_EQ(badRecords, counts->plantedRecords) << base;
    EXPECT_EQ(badFields, counts->plantedFields) << base;
    // About one live record in a hundred.
    EXPECT_EQ(counts->plantedRecords, (counts->live + 50) / 100) << base;
    EXPECT_GT(deletedBad, 0) << base;
  }
  EXPECT_GT(multi, 0);  // some records carry several bad amounts
  int64_t total = 0;
  for (const DemoFileCounts& f : c.files) {
    if (!f.walked) {
      EXPECT_EQ(f.plantedRecords, 0) << f.file;
    }
    total += f.plantedRecords;
  }
  EXPECT_EQ(c.PlantedRecords(), total);
}

TEST_F(DemoTest, GlInformationKeyNamesAGlfile02Record) {
  const DemoCompany c = MakeDemoCompany(dir_, 50, 11);
  ASSERT_EQ(c.error, "");
  ASSERT_FALSE(c.glLookupKey.empty());
  const std::string info = Read("GLINFO.DAT");
  EXPECT_EQ(info.substr(405, 1 + c.glLookupKey.size()),
            std::string(1, static_cast<char>(c.glLookupKey.size())) + c.glLookupKey);
  EXPECT_EQ(info[294], 1);
  EXPECT_EQ(info[295], 3);
  const std::string gl02 = Read("GLFILE02.DAT");
  int found = 0;
  for (size_t at = 128; at < gl02.size(); at += 128) {
    if (I32(gl02, at) != 0 || gl02.substr(at + 5, static_cast<size_t>(static_cast<uint8_t>(gl02[at + 4]))) != c.glLookupKey) {
      continue;
    }
    ++found;
    const size_t nameLength = static_cast<uint8_t>(gl02[at + 15]);
    EXPECT_EQ(gl02.substr(at + 16, std::min<size_t>(nameLength, 10)), c.glLookupName);
  }
  EXPECT_EQ(found, 1);
  EXPECT_EQ(c.glLookupName.size(), 10u);
}

TEST_F(DemoTest, SameSeedSameBytesAndSlotLengthOverride) {
  DemoOptions options;
  options.records = 60;
  options.seed = 5;
  ASSERT_EQ(MakeDemoCompany(dir_ + "/a", options).error, "");
  ASSERT_EQ(MakeDemoCompany(dir_ + "/b", options).error, "");
  options.seed = 6;
  options.slotLengths["GLFILE03"] = 230;
  const DemoCompany c = MakeDemoCompany(dir_ + "/c", options);
  ASSERT_EQ(c.error, "");
  for (const char* name : {"ICFILE01.DAT", "ICFILE01.IX", "GLFILE01.DAT", "GLINFO.DAT"}) {
    EXPECT_EQ(Read(std::string("a/") + name), Read(std::string("b/") + name)) << name;
  }
  EXPECT_NE(Read("a/ICFILE01.DAT"), Read("c/ICFILE01.DAT"));
  const std::string gl03 = Read("c/GLFILE03.DAT");
  EXPECT_EQ(gl03.size(), 61u * 230);
  EXPECT_EQ(I32(gl03, 12), 230);
  EXPECT_EQ(c.File("GLFILE03")->slotLength, 230);
}

// The engine opens every file, steps through every key from the start and finds
// each live record once per key; the GL lookup key leads to its GLFILE02 record.
TEST_F(DemoTest, EngineReadsEveryFileAndKey) {
  constexpr int32_t kN = 150;
  const DemoCompany c = MakeDemoCompany(dir_, kN, 9);
  ASSERT_EQ(c.error, "");
  isam::Engine engine;
  engine.StartEngine(kv::isam::EngineMode::kSingleUser, 500);
  for (const modules::DataFileDef& def : modules::AllDataFiles()) {
    const std::string base(def.baseName);
    isam::BlockHandle block = nullptr;
    engine.OpenBlock(block, dir_ + "/" + base, {.network = true});
    ASSERT_TRUE(engine.LastOpOK()) << base << " " << engine.LastOpError();
    EXPECT_EQ(engine.SlotTotal(block), kN + 1) << base;
    for (int key = 1; key <= static_cast<int>(def.keys.size()); ++key) {
      std::set<int32_t> records;
      int32_t record = 0;
      std::string text;
      for (int steps = 0; steps <= kN; ++steps) {
        engine.StepToNextKey(block, key, record, text);
        if (!engine.LastOpOK()) break;
        EXPECT_TRUE(records.insert(record).second) << base << " key " << key;
      }
      EXPECT_EQ(engine.LastError(), isam::EngineError::kNoNextKey) << base << " key " << key;
      EXPECT_EQ(static_cast<int32_t>(records.size()), c.File(base)->live) << base << " key " << key;
    }
    if (base == "GLFILE02") {
      int32_t record = 0;
      engine.LookupKey(block, 1, record, c.glLookupKey);
      ASSERT_TRUE(engine.LastOpOK()) << engine.LastOpError();
      std::vector<uint8_t> slot(128);
      engine.ReadSlot(block, record, slot);
      ASSERT_TRUE(engine.LastOpOK());
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(slot.data()) + 16, 10), c.glLookupName);
    }
    engine.CloseBlock(block);
    EXPECT_TRUE(engine.LastOpOK()) << base;
  }
  engine.StopEngine();
}

TEST_F(DemoTest, RefusesAnEmptyCompany) {
  EXPECT_NE(MakeDemoCompany(dir_, 0, 1).error, "");
}

}  // namespace
}  // namespace kv::testkit
