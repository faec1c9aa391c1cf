// Damaged files against the engine: each case spoils one thing in a sound data file, its
// index or its coordination file, then does what the repair does with a file (open in
// network mode, count, read every record, search and step through every key, lock and
// unlock, close). Every case must end in success or in a numbered error with a text,
// never in a crash, an endless loop or a read past a buffer (the sanitizer build checks
// the last), and must leave the data and index bytes as they were unless replaying a
// journal is what the file asks for.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "IsamFixture.h"
#include "isam/Engine.h"
#include "isam/Errors.h"
#include "testkit/Builder.h"

namespace kv::isam::testing {
namespace {

constexpr int32_t kSlot = 60;
constexpr int32_t kRecords = 40;
constexpr int kLen1 = 8, kLen2 = 12;
constexpr size_t kO1 = 0, kO2 = (kLen1 + 9) * 62 + 6;       // section offsets
constexpr size_t kR = kO2 + (kLen2 + 9) * 62 + 6;           // index record length
constexpr int kM = (2 + 1) / 8 + 1;                          // coordination slot width

enum class Expect { kOk, kError, kEither };

struct Probe {
  int32_t firstError = 0;
  bool opened = false;
  int32_t records = 0;
};

class BadInputTest : public IsamTest {
 protected:
  void SetUp() override {
    IsamTest::SetUp();
    testkit::FileLayout fileLayout;
    fileLayout.dataPath = Path("F.DAT");
    fileLayout.slotLength = kSlot;
    fileLayout.keys = {{kLen1, false}, {kLen2, true}};
    fileLayout.highestSlot = kRecords;
    fileLayout.freeChain = testkit::DescendingChain({7, 19});
    fileLayout.index.maxItemsPerPage = 3;  // a tree several pages high from few entries
    ASSERT_EQ(testkit::BuildFile(fileLayout,
                                 [](int32_t rec, bool deleted, std::span<uint8_t> slot, testkit::KeySink& keys) {
                                   slot[10] = static_cast<uint8_t>(rec);
                                   if (deleted) return;
                                   keys.Add(1, "A" + std::to_string(rec));
                                   keys.Add(2, "D" + std::to_string(rec % 5));
                                 }),
              "");
    root1_ = I32(ReadRaw("F.IX"), kO1 + 16);
    ASSERT_GT(root1_, 0);
  }

 public:
  using IsamTest::Patch;
  using IsamTest::PatchI16;
  using IsamTest::PatchI32;
  using IsamTest::Path;
  using IsamTest::WriteRaw;

  // What the repair does with a file, with every step's error noted.
  Probe Run() {
    Probe p;
    Engine e;
    e.StartEngine(EngineMode::kNetwork, 16);
    auto note = [&] {
      if (!e.LastOpOK() && p.firstError == 0) p.firstError = e.LastOpError();
    };
    BlockHandle b = nullptr;
    e.OpenBlock(b, Path("F"), {.network = true});
    note();
    if (b == nullptr) return p;
    p.opened = true;
    p.records = e.SlotTotal(b);
    note();
    std::vector<uint8_t> slot(static_cast<size_t>(std::max(e.SlotLength(b), 0)));
    for (int32_t r = 1; r < p.records && r <= 200; ++r) {
      e.ReadSlot(b, r, slot);
      note();
    }
    for (int k = 1; k <= e.KeyCount(b); ++k) {
      int32_t rec = 0;
      e.LookupKey(b, k, rec, k == 1 ? "A17" : "D3");
      if (e.LastError() != EngineError::kNoMatchingKey) note();
      std::string text;
      rec = 0;
      e.LookupKey(b, k, rec, "");
      for (int step = 0; step < 1000; ++step) {
        e.StepToNextKey(b, k, rec, text);
        if (!e.LastOpOK()) {
          if (e.LastError() != EngineError::kNoNextKey) note();
          break;
        }
      }
    }
    e.LockBlock(b);
    note();
    e.UnlockBlock(b);
    note();
    e.CloseBlock(b);
    note();
    e.StopEngine();
    note();
    return p;
  }

  void PatchPage(int32_t page, size_t inPage, int32_t value, size_t section = kO1) {
    PatchI32("F.IX", static_cast<size_t>(page) * kR + section + inPage, value);
  }
  void PatchPage16(int32_t page, size_t inPage, int16_t value, size_t section = kO1) {
    PatchI16("F.IX", static_cast<size_t>(page) * kR + section + inPage, value);
  }
  void Resize(const std::string& name, size_t size) {
    std::string b = ReadRaw(name);
    b.resize(size);
    WriteRaw(name, b);
  }
  std::string Coordination(size_t length, char fill, bool marker) {
    std::string c(length, fill);
    if (marker && length >= 3) {
      c[1] = static_cast<char>(2000 & 0xFF);
      c[2] = static_cast<char>(2000 >> 8);
    }
    return c;
  }

  int32_t root1_ = 0;
};

struct Case {
  const char* name;
  std::function<void(BadInputTest&)> spoil;
  Expect expect;
  bool mayWrite = false;  // a journal the open replays writes on purpose
};

// Short spellings of the spoiling steps, for the table.
struct S {
  static void Data(BadInputTest& t, size_t at, int32_t v) { t.PatchI32("F.DAT", at, v); }
  static void Index(BadInputTest& t, size_t at, int32_t v) { t.PatchI32("F.IX", at, v); }
  static void Index16(BadInputTest& t, size_t at, int16_t v) { t.PatchI16("F.IX", at, v); }
  static void Raw(BadInputTest& t, const std::string& name, const std::string& bytes) { t.WriteRaw(name, bytes); }
  static void Cut(BadInputTest& t, const std::string& name, size_t size) { t.Resize(name, size); }
  static void Remove(BadInputTest& t, const std::string& name) { std::remove(t.Path(name).c_str()); }
  static void Page(BadInputTest& t, size_t inPage, int32_t v) { t.PatchPage(t.root1_, inPage, v); }
  static void Page16(BadInputTest& t, size_t inPage, int16_t v) { t.PatchPage16(t.root1_, inPage, v); }
  static int32_t Root(BadInputTest& t) { return t.root1_; }
  static std::string Coord(BadInputTest& t, size_t n, char fill, bool marker) { return t.Coordination(n, fill, marker); }
};

std::string Journal(const std::function<void(testkit::JournalWriter&)>& fill) {
  testkit::JournalWriter j;
  fill(j);
  return j.Bytes();
}

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
      {"sound file", [](BadInputTest&) {}, Expect::kOk},
      {"empty data file", [](BadInputTest& t) { S::Raw(t, "F.DAT", ""); }, Expect::kError},
      {"data file shorter than its header", [](BadInputTest& t) { S::Cut(t, "F.DAT", 12); }, Expect::kError},
      {"data file cut inside a record", [](BadInputTest& t) { S::Cut(t, "F.DAT", kSlot * 10 + 17); }, Expect::kError},
      {"HighestSlot beyond the end", [](BadInputTest& t) { S::Data(t, 8, 1000000); }, Expect::kError},
      {"HighestSlot negative", [](BadInputTest& t) { S::Data(t, 8, -5); }, Expect::kError},
      {"HighestSlot at the top of the range", [](BadInputTest& t) { S::Data(t, 8, INT32_MAX); }, Expect::kError},
      {"slot length 0", [](BadInputTest& t) { S::Data(t, 12, 0); }, Expect::kError},
      {"slot length 20", [](BadInputTest& t) { S::Data(t, 12, 20); }, Expect::kError},
      {"slot length negative", [](BadInputTest& t) { S::Data(t, 12, -60); }, Expect::kError},
      {"slot length 6001", [](BadInputTest& t) { S::Data(t, 12, 6001); }, Expect::kError},
      {"slot length larger than the file", [](BadInputTest& t) { S::Data(t, 12, 1 << 30); }, Expect::kError},
      {"slot length INT32_MAX", [](BadInputTest& t) { S::Data(t, 12, INT32_MAX); }, Expect::kError},
      {"key count 0", [](BadInputTest& t) { S::Data(t, 16, 0); }, Expect::kOk},
      {"key count 255", [](BadInputTest& t) { S::Data(t, 16, 255); }, Expect::kError},
      {"key count above what the index holds", [](BadInputTest& t) { S::Data(t, 16, 3); }, Expect::kError},
      {"FreeHead beyond the file", [](BadInputTest& t) { S::Data(t, 0, 99999); }, Expect::kOk},
      {"empty index file", [](BadInputTest& t) { S::Raw(t, "F.IX", ""); }, Expect::kError},
      {"index shorter than its headers", [](BadInputTest& t) { S::Cut(t, "F.IX", 30); }, Expect::kError},
      {"index cut after the headers", [](BadInputTest& t) { S::Cut(t, "F.IX", kR + 100); }, Expect::kError},
      {"missing index file", [](BadInputTest& t) { S::Remove(t, "F.IX"); }, Expect::kError},
      {"section length INT32_MAX", [](BadInputTest& t) { S::Index(t, kO1 + 12, INT32_MAX); }, Expect::kError},
      {"section length INT32_MIN", [](BadInputTest& t) { S::Index(t, kO1 + 12, INT32_MIN); }, Expect::kError},
      {"section length 0", [](BadInputTest& t) { S::Index(t, kO2 + 12, 0); }, Expect::kError},
      {"page size 63", [](BadInputTest& t) { S::Index16(t, kO1 + 26, 63); }, Expect::kError},
      {"page size negative", [](BadInputTest& t) { S::Index16(t, kO1 + 26, -1); }, Expect::kError},
      {"root page beyond the file", [](BadInputTest& t) { S::Index(t, kO1 + 16, 1000000); }, Expect::kError},
      {"root page negative", [](BadInputTest& t) { S::Index(t, kO1 + 16, -3); }, Expect::kError},
      {"root page INT32_MAX", [](BadInputTest& t) { S::Index(t, kO1 + 16, INT32_MAX); }, Expect::kError},
      {"page with 63 items", [](BadInputTest& t) { S::Page16(t, 0, 63); }, Expect::kError},
      {"page with a negative item count", [](BadInputTest& t) { S::Page16(t, 0, -1); }, Expect::kError},
      {"page with 32767 items", [](BadInputTest& t) { S::Page16(t, 0, 32767); }, Expect::kError},
      {"child page beyond the file", [](BadInputTest& t) { S::Page(t, 2, 99999); }, Expect::kError},
      {"child page negative", [](BadInputTest& t) { S::Page(t, 2, -7); }, Expect::kError},
      {"root page is its own child", [](BadInputTest& t) { S::Page(t, 2, S::Root(t)); }, Expect::kError},
      {"every child of the root is the root",
       [](BadInputTest& t) {
         S::Page(t, 2, S::Root(t));
         for (size_t j = 0; j < 3; ++j) S::Page(t, 6 + j * (kLen1 + 9) + 4, S::Root(t));
       },
       Expect::kError},
      {"key text longer than the key",
       [](BadInputTest& t) {
         std::string b(1, static_cast<char>(200));
         t.Patch("F.IX", static_cast<size_t>(S::Root(t)) * kR + 6 + 8, b);
       },
       Expect::kEither},
      {"defect flag set", [](BadInputTest& t) { t.Patch("F.DAT", 20, std::string(1, '\1')); }, Expect::kError},
      // Coordination files of every odd length: what is not the slot layout is a journal.
      {"coordination file empty", [](BadInputTest& t) { S::Raw(t, "F.DIA", ""); }, Expect::kEither, true},
      {"coordination file of 2 bytes", [](BadInputTest& t) { S::Raw(t, "F.DIA", std::string(2, '\0')); }, Expect::kEither, true},
      {"coordination file of 3 bytes with the marker", [](BadInputTest& t) { S::Raw(t, "F.DIA", S::Coord(t, 3, 0, true)); }, Expect::kEither, true},
      {"coordination file one byte too long", [](BadInputTest& t) { S::Raw(t, "F.DIA", S::Coord(t, 3 + 51 * kM + 1, 0, true)); }, Expect::kOk, true},
      {"coordination file of zeros", [](BadInputTest& t) { S::Raw(t, "F.DIA", S::Coord(t, 100, 0, false)); }, Expect::kEither, true},
      {"coordination file of 0xFF", [](BadInputTest& t) { S::Raw(t, "F.DIA", S::Coord(t, 77, '\xFF', false)); }, Expect::kEither, true},
      {"coordination file of 1 MiB", [](BadInputTest& t) { S::Raw(t, "F.DIA", S::Coord(t, 1 << 20, '\x07', false)); }, Expect::kEither, true},
      // Journals.
      {"journal with tag 63", [](BadInputTest& t) { S::Raw(t, "F.DIA", Journal([](auto& j) { j.AddTag(63); j.End(); })); }, Expect::kError, true},
      {"journal with tag 999", [](BadInputTest& t) { S::Raw(t, "F.DIA", Journal([](auto& j) { j.AddTag(999); j.End(); })); }, Expect::kError, true},
      {"journal with tag -1", [](BadInputTest& t) { S::Raw(t, "F.DIA", Journal([](auto& j) { j.AddTag(-1); })); }, Expect::kError, true},
      {"journal cut inside a page image",
       [](BadInputTest& t) {
         std::string j = Journal([](auto& w) {
           testkit::PageImage p;
           p.items = {{1, 0, "A1"}, {2, 0, "A2"}};
           w.AddPage(1, kLen1, 1, p);
           w.End();
         });
         S::Raw(t, "F.DIA", j.substr(0, 12));
       },
       Expect::kEither, true},
      {"journal cut inside a header image",
       [](BadInputTest& t) {
         std::string j = Journal([](auto& w) {
           testkit::DataHeader h;
           h.slotLength = kSlot;
           h.keyCount = 2;
           h.highestSlot = kRecords;
           w.AddDataHeader(h);
         });
         S::Raw(t, "F.DIA", j.substr(0, 20));
       },
       Expect::kEither, true},
      {"journal page of a key that does not exist",
       [](BadInputTest& t) {
         S::Raw(t, "F.DIA", Journal([](auto& w) {
                  testkit::PageImage p;
                  p.items = {{1, 0, "A1"}};
                  w.AddPage(9, kLen1, 1, p);
                  w.End();
                }));
       },
       Expect::kError, true},
      {"journal page at a negative page number",
       [](BadInputTest& t) {
         S::Raw(t, "F.DIA", Journal([](auto& w) {
                  testkit::PageImage p;
                  p.items = {{1, 0, "A1"}};
                  w.AddPage(1, kLen1, -4, p);
                  w.End();
                }));
       },
       Expect::kError, true},
      {"journal header of a section that does not exist",
       [](BadInputTest& t) {
         S::Raw(t, "F.DIA", Journal([](auto& w) {
                  testkit::KeyHeader h;
                  w.AddKeyHeader(7, h);
                  w.End();
                }));
       },
       Expect::kError, true},
      {"journal frees a slot far beyond the file",
       [](BadInputTest& t) {
         S::Raw(t, "F.DIA", Journal([](auto& w) {
                  testkit::DataHeader h;
                  h.slotLength = kSlot;
                  h.keyCount = 2;
                  h.highestSlot = kRecords;
                  h.freeHead = -9;
                  w.AddDataHeader(h, 5);
                  w.End();
                }));
       },
       Expect::kError, true},
  };
  return cases;
}

TEST_F(BadInputTest, EveryCaseEndsCleanlyAndWritesNothingUnasked) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    c.spoil(*this);
    const std::string dataBefore = ReadRaw("F.DAT");
    const std::string indexBefore = ReadRaw("F.IX");
    const Probe p = Run();
    if (std::getenv("KV_BADINPUT_VERBOSE")) std::printf("%-50s opened=%d error=%d\n", c.name, p.opened, p.firstError);
    if (c.expect == Expect::kOk) {
      EXPECT_EQ(p.firstError, 0) << ErrorText(p.firstError);
    } else if (c.expect == Expect::kError) {
      EXPECT_NE(p.firstError, 0);
    }
    if (p.firstError != 0) {
      EXPECT_FALSE(ErrorText(p.firstError).empty()) << "error " << p.firstError << " has no text";
    }
    if (!c.mayWrite) {
      EXPECT_TRUE(ReadRaw("F.DAT") == dataBefore) << "data file changed";
      EXPECT_TRUE(ReadRaw("F.IX") == indexBefore) << "index file changed";
    } else {
      // A replay may write pages and headers, but never grows a file past what the
      // journal could name, nor shrinks one.
      EXPECT_GE(ReadRaw("F.DAT").size(), dataBefore.size());
      EXPECT_LE(ReadRaw("F.IX").size(), indexBefore.size() + 64 * kR);
    }
    // Whatever happened, another station can take the file's write lock afterwards
    // when it opens at all: nothing was left locked.
    if (p.opened) {
      Engine other;
      other.StartEngine(EngineMode::kNetwork, 16);
      BlockHandle b = nullptr;
      other.OpenBlock(b, Path("F"), {.network = true});
      if (b != nullptr) {
        other.LockBlock(b);
        EXPECT_TRUE(other.LastOpOK()) << other.LastOpError();
        other.UnlockBlock(b);
        other.CloseBlock(b);
      }
      other.StopEngine();
    }
  }
}

}  // namespace
}  // namespace kv::isam::testing
