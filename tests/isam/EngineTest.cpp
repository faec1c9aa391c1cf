// The engine's life cycle, file creation, open and close, record reads and writes, the
// entry checks, and files that are damaged or refuse to open.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "IsamFixture.h"
#include "support/Host.h"
#include "isam/Engine.h"
#include "platform/Faults.h"
#include "testkit/Builder.h"

namespace kv::isam::testing {
namespace {

using testkit::BuildFile;
using testkit::FileLayout;
using testkit::KeySink;

class EngineTest : public IsamTest {
 protected:
  void TearDown() override {
    if (engine.Initialised()) engine.StopEngine();
    IsamTest::TearDown();
  }

  // A data file of `highest` slots; record n carries n in bytes 4..7 and key text
  // "K<n>" when the file has a key.
  void Build(const std::string& base, int32_t slotLength, int32_t highest,
             std::vector<int32_t> freeChain = {}, std::vector<KeyDesc> keys = {},
             FileLayout* tweak = nullptr) {
    FileLayout fileLayout;
    fileLayout.dataPath = Path(base + ".DAT");
    fileLayout.slotLength = slotLength;
    fileLayout.keys = keys;
    fileLayout.highestSlot = highest;
    fileLayout.freeChain = freeChain;
    if (tweak) {
      fileLayout.headerSlotLength = tweak->headerSlotLength;
      fileLayout.headerKeyCount = tweak->headerKeyCount;
      fileLayout.defectFlag = tweak->defectFlag;
      fileLayout.writeIndex = tweak->writeIndex;
    }
    const bool hasKeys = !keys.empty();
    ASSERT_EQ(BuildFile(fileLayout,
                        [&](int32_t rec, bool deleted, std::span<uint8_t> slot, KeySink& sink) {
                          PutI32(slot.data() + 4, rec);
                          if (!deleted && hasKeys) sink.Add(1, "K" + std::to_string(rec));
                        }),
              "");
  }

  Engine engine;
};

TEST_F(EngineTest, StartAndStopChecks) {
  EXPECT_EQ(engine.StartEngine(EngineMode::kNetwork, 7), 0);
  EXPECT_ERR(engine, EngineError::kTooFewBuffersAsked);
  EXPECT_EQ(engine.StartEngine(static_cast<EngineMode>(1), 500), 0);
  EXPECT_ERR(engine, EngineError::kNetworkInit);
  EXPECT_FALSE(engine.Initialised());
  engine.StopEngine();
  EXPECT_ERR(engine, EngineError::kNotStarted);
  EXPECT_EQ(engine.StartEngine(EngineMode::kNetwork, 500), 500);
  EXPECT_OK(engine);
  EXPECT_EQ(engine.StartEngine(EngineMode::kNetwork, 500), 0);
  EXPECT_ERR(engine, EngineError::kAlreadyStarted);
  engine.StopEngine();
  EXPECT_OK(engine);
  EXPECT_EQ(engine.StartEngine(EngineMode::kSingleUser, 8), 8);
  EXPECT_OK(engine);
}

TEST_F(EngineTest, OperationsNeedAnInitialisedEngineAndAnOpenBlock) {
  BlockHandle none = nullptr;
  std::vector<uint8_t> buf(100);
  engine.ReadSlot(none, 1, buf);
  EXPECT_ERR(engine, EngineError::kNotStarted);
  engine.CreateBlock(Path("X"), 100, 0, nullptr);
  EXPECT_ERR(engine, EngineError::kNotStarted);
  ASSERT_EQ(engine.StartEngine(EngineMode::kSingleUser, 16), 16);
  engine.ReadSlot(none, 1, buf);
  EXPECT_ERR(engine, EngineError::kInvalidBlock);
  engine.CloseBlock(none);
  EXPECT_ERR(engine, EngineError::kInvalidBlock);
  int32_t rec = 0;
  engine.LookupKey(none, 1, rec, "A");
  EXPECT_ERR(engine, EngineError::kInvalidBlock);
}

TEST_F(EngineTest, CreateGivesTheWorkedExampleFiles) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kSingleUser, 16), 16);
  const KeyDesc one[] = {{10, true}};
  engine.CreateBlock(Path("ONE"), 100, 1, one);
  EXPECT_OK(engine);
  const std::string dat = ReadRaw("ONE.DAT");
  ASSERT_EQ(dat.size(), 100u);
  EXPECT_EQ(I32(dat, 0), -1);
  EXPECT_EQ(I32(dat, 4), 0);
  EXPECT_EQ(I32(dat, 8), 0);
  EXPECT_EQ(I32(dat, 12), 100);
  EXPECT_EQ(I32(dat, 16), 1);
  EXPECT_EQ(dat.substr(20), std::string(80, '\0'));
  const std::string ix = ReadRaw("ONE.IX");
  ASSERT_EQ(ix.size(), 1184u);
  EXPECT_EQ(I32(ix, 0), -1);
  EXPECT_EQ(I32(ix, 4), 0);
  EXPECT_EQ(I32(ix, 8), 0);
  EXPECT_EQ(I32(ix, 12), 1184);
  EXPECT_EQ(I32(ix, 16), 0);
  EXPECT_EQ(ix[20], 1);
  EXPECT_EQ(I32(ix, 22), 0);
  EXPECT_EQ(I16(ix, 26), 62);
  EXPECT_EQ(ix.substr(28), std::string(1184 - 28, '\0'));
  EXPECT_FALSE(Exists("ONE.DIA"));

  const KeyDesc two[] = {{10, false}, {30, false}};
  engine.CreateBlock(Path("TWO"), 21, 2, two);
  EXPECT_OK(engine);
  const std::string ix2 = ReadRaw("TWO.IX");
  ASSERT_EQ(ix2.size(), 3608u);
  EXPECT_EQ(I32(ix2, 1184 + 12), 2424);
  EXPECT_EQ(I16(ix2, 1184 + 26), 62);
  EXPECT_EQ(ix2[20], 0);

  // Without keys there is no index file; an old one of the same name goes.
  WriteRaw("NOKEY.IX", "old");
  WriteRaw("NOKEY.DIA", "old");
  engine.CreateBlock(Path("NOKEY"), 50, 0, nullptr);
  EXPECT_OK(engine);
  EXPECT_EQ(Size("NOKEY.DAT"), 50);
  EXPECT_FALSE(Exists("NOKEY.IX"));
  EXPECT_FALSE(Exists("NOKEY.DIA"));
}

TEST_F(EngineTest, CreateRefusals) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kSingleUser, 16), 16);
  engine.CreateBlock(Path("R20"), 20, 0, nullptr);
  EXPECT_ERR(engine, EngineError::kBadRecordLength);
  EXPECT_FALSE(Exists("R20.DAT"));
  engine.CreateBlock(Path("R21"), 21, 0, nullptr);
  EXPECT_OK(engine);
  std::vector<KeyDesc> many(101, KeyDesc{5, false});
  engine.CreateBlock(Path("K101"), 100, 101, many.data());
  EXPECT_ERR(engine, EngineError::kBadKeyCount);
  EXPECT_FALSE(Exists("K101.DAT"));
  for (uint8_t bad : {uint8_t{0}, uint8_t{101}}) {
    const KeyDesc keys[] = {{10, false}, {bad, false}};
    engine.CreateBlock(Path("BADKEY"), 100, 2, keys);
    EXPECT_ERR(engine, EngineError::kKeyTooLong);
    EXPECT_FALSE(Exists("BADKEY.DAT"));
    EXPECT_FALSE(Exists("BADKEY.IX"));
  }
  engine.CreateBlock(Path("nodir/X"), 100, 0, nullptr);
  EXPECT_ERR(engine, EngineError::kInvalidPath);
}

TEST_F(EngineTest, SingleUserOpenReadWriteClose) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kSingleUser, 16), 16);
  Build("WALK", 40, 5, {4, 2});
  BlockHandle b = nullptr;
  engine.OpenBlock(b, Path("WALK"), {});
  ASSERT_OK(engine);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(engine.SlotLength(b), 40);
  EXPECT_EQ(engine.KeyCount(b), 0);
  EXPECT_EQ(engine.StationNumber(b), 0);
  EXPECT_EQ(engine.SlotTotal(b), 6);
  EXPECT_OK(engine);

  // The walk sees records 1, 3 and 5; 2 and 4 are deleted (links -1 and 2).
  std::vector<int32_t> live;
  std::vector<uint8_t> slot(40);
  for (int32_t n = 1; n < engine.SlotTotal(b); ++n) {
    engine.ReadSlot(b, n, slot);
    ASSERT_OK(engine);
    if (GetI32(slot.data()) == 0) live.push_back(GetI32(slot.data() + 4));
  }
  EXPECT_EQ(live, (std::vector<int32_t>{1, 3, 5}));
  if (!kv::test::HostIsWindows()) {  // a single-user open keeps every other reader out there
    const std::string dat = ReadRaw("WALK.DAT");
    EXPECT_EQ(I32(dat, 0), 4);
    EXPECT_EQ(I32(dat, 4), 2);
    EXPECT_EQ(I32(dat, 4 * 40), 2);
    EXPECT_EQ(I32(dat, 2 * 40), -1);
  }

  // Read-ahead of consecutive slots in one call.
  std::vector<uint8_t> batch(5 * 40);
  engine.ReadSlots(b, 1, 5, batch);
  EXPECT_OK(engine);
  EXPECT_EQ(GetI32(batch.data() + 2 * 40 + 4), 3);
  engine.ReadSlots(b, 2, 5, batch);  // slot 6 does not exist
  EXPECT_ERR(engine, EngineError::kReadError);

  // Write record 3 and read it back; record 0 is refused.
  std::vector<uint8_t> rec(40, 0x5A);
  PutI32(rec.data(), 0);
  engine.WriteSlot(b, 3, rec);
  EXPECT_OK(engine);
  engine.ReadSlot(b, 3, slot);
  EXPECT_EQ(slot, rec);
  engine.WriteSlot(b, 0, rec);
  EXPECT_ERR(engine, EngineError::kRecordZero);
  engine.WriteSlot(b, -1, rec);
  EXPECT_ERR(engine, EngineError::kRecordZero);

  // Buffers smaller than a slot are refused before anything moves.
  std::vector<uint8_t> small(39);
  engine.ReadSlot(b, 1, small);
  EXPECT_ERR(engine, EngineError::kInconsistent);
  engine.WriteSlot(b, 1, small);
  EXPECT_ERR(engine, EngineError::kInconsistent);
  engine.ReadSlot(b, 6, slot);
  EXPECT_ERR(engine, EngineError::kReadError);
  engine.ReadSlot(b, -3, slot);
  EXPECT_ERR(engine, EngineError::kReadError);

  // The next operation starts with a clean status.
  engine.ReadSlot(b, 1, slot);
  EXPECT_OK(engine);

  // Closing a block that is not in network mode writes its header with 0 at offset 20.
  if (!kv::test::HostIsWindows()) PatchI32("WALK.DAT", 8, 5);  // no other writer gets in there
  engine.CloseBlock(b);
  EXPECT_OK(engine);
  EXPECT_EQ(b, nullptr);
  engine.CloseBlock(b);
  EXPECT_ERR(engine, EngineError::kInvalidBlock);
  EXPECT_EQ(ReadRaw("WALK.DAT")[20], 0);
}

TEST_F(EngineTest, StaleBlockPointerIsRefusedWithoutBeingTouched) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kSingleUser, 16), 16);
  Build("STALE", 40, 1);
  BlockHandle b = nullptr;
  engine.OpenBlock(b, Path("STALE"), {});
  ASSERT_OK(engine);
  BlockHandle copy = b;
  engine.CloseBlock(b);
  ASSERT_OK(engine);
  std::vector<uint8_t> slot(40);
  engine.ReadSlot(copy, 1, slot);
  EXPECT_ERR(engine, EngineError::kInvalidBlock);
  Engine other;
  ASSERT_EQ(other.StartEngine(EngineMode::kSingleUser, 8), 8);
  engine.OpenBlock(b, Path("STALE"), {});
  ASSERT_OK(engine);
  other.ReadSlot(b, 1, slot);  // a block of another engine
  EXPECT_ERR(other, EngineError::kInvalidBlock);
  engine.CloseBlock(b);
}

// A handle kept past its close must not reach the block a later open puts in the same
// place or memory: each row closes one block and opens another, then uses the old handle.
TEST_F(EngineTest, StaleHandleIsRefusedAfterItsPlaceIsReused) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kSingleUser, 16), 16);
  Build("OLD", 40, 2);
  Build("NEW", 40, 2);
  Engine other;
  ASSERT_EQ(other.StartEngine(EngineMode::kSingleUser, 8), 8);
  const std::vector<uint8_t> ones(40, 0x11);
  struct Row {
    const char* what;
    const char* reopen;
    bool otherEngine;
  } rows[] = {{"same file again", "OLD", false},
              {"another file", "NEW", false},
              {"an open by another engine", "NEW", true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    BlockHandle old = nullptr;
    engine.OpenBlock(old, Path("OLD"), {});
    ASSERT_OK(engine);
    BlockHandle stale = old;
    engine.CloseBlock(old);
    ASSERT_OK(engine);
    Engine& opener = row.otherEngine ? other : engine;
    BlockHandle fresh = nullptr;
    opener.OpenBlock(fresh, Path(row.reopen), {});
    ASSERT_OK(opener);
    EXPECT_NE(fresh, stale);
    std::vector<uint8_t> slot(40);
    opener.ReadSlot(stale, 1, slot);
    EXPECT_ERR(opener, EngineError::kInvalidBlock);
    opener.WriteSlot(stale, 1, ones);
    EXPECT_ERR(opener, EngineError::kInvalidBlock);
    EXPECT_EQ(opener.SlotLength(stale), 0);
    opener.CloseBlock(stale);
    EXPECT_ERR(opener, EngineError::kInvalidBlock);
    opener.ReadSlot(fresh, 1, slot);  // the new block is untouched and still usable
    EXPECT_OK(opener);
    EXPECT_EQ(I32(std::string(slot.begin(), slot.end()), 4), 1);
    opener.CloseBlock(fresh);
    EXPECT_OK(opener);
  }
  // Values that were never handles.
  for (uint64_t forged : {uint64_t{1}, uint64_t{0xFFF}, ~uint64_t{0}}) {
    std::vector<uint8_t> slot(40);
    engine.ReadSlot(BlockHandle::FromValue(forged), 1, slot);
    EXPECT_ERR(engine, EngineError::kInvalidBlock);
  }
}

TEST_F(EngineTest, ReadOnlyBlockRefusesWrites) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kSingleUser, 16), 16);
  Build("RO", 40, 2);
  BlockHandle b = nullptr;
  engine.OpenBlock(b, Path("RO"), {.readOnly = true});
  ASSERT_OK(engine);
  std::vector<uint8_t> rec(40, 0);
  engine.WriteSlot(b, 1, rec);
  EXPECT_ERR(engine, EngineError::kReadOnlyBlock);
  engine.CloseBlock(b);
  EXPECT_OK(engine);
}

TEST_F(EngineTest, NetworkBlockNeedsTheLockToWrite) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kNetwork, 16), 16);
  Build("NET", 40, 3);
  BlockHandle b = nullptr;
  engine.OpenBlock(b, Path("NET"), {.network = true});
  ASSERT_OK(engine);
  EXPECT_GE(engine.StationNumber(b), 1);
  EXPECT_LE(engine.StationNumber(b), 50);
  std::vector<uint8_t> rec(40, 0);
  engine.WriteSlot(b, 1, rec);
  EXPECT_ERR(engine, EngineError::kMustBeLocked);
  engine.LockBlock(b);
  EXPECT_OK(engine);
  EXPECT_TRUE(engine.IsLocked(b));
  engine.WriteSlot(b, 1, rec);
  EXPECT_OK(engine);
  engine.FlushBlock(b);
  EXPECT_OK(engine);
  engine.UnlockBlock(b);
  EXPECT_OK(engine);
  EXPECT_FALSE(engine.IsLocked(b));
  // Closing with the lock still held unlocks first.
  engine.LockBlock(b);
  engine.CloseBlock(b);
  EXPECT_OK(engine);
}

TEST_F(EngineTest, StopEngineClosesEverything) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kNetwork, 16), 16);
  Build("S1", 40, 1);
  Build("S2", 40, 1);
  BlockHandle a = nullptr;
  BlockHandle c = nullptr;
  engine.OpenBlock(a, Path("S1"), {.network = true});
  engine.OpenBlock(c, Path("S2"), {.network = true});
  ASSERT_OK(engine);
  engine.LockBlock(c);
  engine.StopEngine();
  EXPECT_OK(engine);
  EXPECT_FALSE(engine.Initialised());
  // Everything was released: another engine gets the write lock at once.
  Engine other;
  ASSERT_EQ(other.StartEngine(EngineMode::kNetwork, 8), 8);
  BlockHandle o = nullptr;
  other.OpenBlock(o, Path("S2"), {.network = true});
  ASSERT_OK(other);
  other.LockBlock(o);
  EXPECT_OK(other);
  other.StopEngine();
}

TEST_F(EngineTest, MissingFilesAndDirectories) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kNetwork, 16), 16);
  BlockHandle b = nullptr;
  engine.OpenBlock(b, Path("NONE"), {.network = true});
  EXPECT_ERR(engine, EngineError::kFileNotFound);
  EXPECT_EQ(b, nullptr);
  // The coordination file this open created is gone again.
  EXPECT_FALSE(Exists("NONE.DIA"));
  engine.OpenBlock(b, Path("nodir/NONE"), {.network = true});
  EXPECT_ERR(engine, EngineError::kInvalidPath);
  engine.OpenBlock(b, Path("NONE"), {});
  EXPECT_ERR(engine, EngineError::kFileNotFound);
}

TEST_F(EngineTest, NewCoordinationFileIsCreatedAndLaidOut) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kNetwork, 16), 16);
  std::vector<KeyDesc> five(5, KeyDesc{4, false});
  std::vector<KeyDesc> seven(7, KeyDesc{4, false});
  engine.CreateBlock(Path("FIVE"), 30, 5, five.data());
  engine.CreateBlock(Path("SEVEN"), 30, 7, seven.data());
  ASSERT_OK(engine);
  BlockHandle f = nullptr;
  BlockHandle s = nullptr;
  engine.OpenBlock(f, Path("FIVE"), {.network = true});
  ASSERT_OK(engine);
  engine.OpenBlock(s, Path("SEVEN"), {.network = true});
  ASSERT_OK(engine);
  const std::string dia5 = ReadRaw("FIVE.DIA");
  ASSERT_EQ(dia5.size(), 54u);
  EXPECT_EQ(I16(dia5, 1), 2000);
  const std::string dia7 = ReadRaw("SEVEN.DIA");
  ASSERT_EQ(dia7.size(), 105u);
  EXPECT_EQ(I16(dia7, 1), 2000);
  // Every bit set in every slot but the opener's own, slot 0 included.
  const int own = engine.StationNumber(s);
  for (int slot = 0; slot <= 50; ++slot) {
    const std::string bytes = dia7.substr(3 + static_cast<size_t>(slot) * 2, 2);
    EXPECT_EQ(bytes, slot == own ? std::string(2, '\0') : std::string(2, '\xFF')) << slot;
  }
  engine.CloseBlock(f);
  engine.CloseBlock(s);
  EXPECT_OK(engine);
  EXPECT_EQ(Size("FIVE.DIA"), 54);
}

TEST_F(EngineTest, CoordinationFileOfABlockOutsideNetworkMode) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kSingleUser, 16), 16);
  Build("PLAIN", 40, 1);
  // Not required and existing: deleted by an open for writing.
  WriteRaw("PLAIN.DIA", std::string(1, '\0'));
  BlockHandle b = nullptr;
  engine.OpenBlock(b, Path("PLAIN"), {});
  ASSERT_OK(engine);
  EXPECT_FALSE(Exists("PLAIN.DIA"));
  engine.CloseBlock(b);
  // Save mode needs one: created, and laid out only for network blocks.
  engine.OpenBlock(b, Path("PLAIN"), {.saveMode = true});
  ASSERT_OK(engine);
  EXPECT_EQ(Size("PLAIN.DIA"), 1);
  engine.CloseBlock(b);
  // Single-user network block: one slot, the block's own (station 0).
  engine.OpenBlock(b, Path("PLAIN"), {.network = true});
  ASSERT_OK(engine);
  EXPECT_EQ(engine.StationNumber(b), 0);
  EXPECT_EQ(Size("PLAIN.DIA"), 4);
  std::vector<uint8_t> slot(40);
  engine.ReadSlot(b, 1, slot);
  EXPECT_OK(engine);
  engine.CloseBlock(b);
  // A read-only open refuses an existing coordination file it would need.
  engine.OpenBlock(b, Path("PLAIN"), {.readOnly = true, .network = true});
  EXPECT_ERR(engine, EngineError::kNoCoordReadOnly);
  engine.OpenBlock(b, Path("PLAIN"), {.noLocks = true, .network = true});  // no locks: read-only
  EXPECT_ERR(engine, EngineError::kNoCoordReadOnly);
}

TEST_F(EngineTest, BadFilesFailTheOpenCleanly) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kNetwork, 16), 16);
  const std::vector<KeyDesc> key = {{10, false}};
  struct Case {
    const char* name;
    EngineError error;
  };
  Build("DEFECT", 40, 2, {}, key);
  Patch("DEFECT.DAT", 20, std::string(1, '\1'));
  Build("MANY", 40, 1);
  PatchI32("MANY.DAT", 16, 101);
  Build("SECT", 40, 1, {}, key);
  PatchI32("SECT.IX", 12, 1185);
  Build("LONG", 40, 1, {}, key);
  PatchI32("LONG.IX", 12, 6826);
  Build("PAGE", 40, 1, {}, key);
  PatchI16("PAGE.IX", 26, 63);
  Build("NOIX", 40, 1, {}, key);
  std::filesystem::remove(Path("NOIX.IX"));
  Build("TINY", 40, 1);
  PatchI32("TINY.DAT", 12, 0);
  WriteRaw("SHORT.DAT", std::string(10, '\0'));
  using enum EngineError;
  const Case cases[] = {{"DEFECT", kFileDefect},      {"MANY", kTooManyKeys},
                        {"SECT", kPageSizeMismatch},  {"LONG", kKeyLengthTooSmall},
                        {"PAGE", kPageSizeTooSmall},  {"NOIX", kFileDefect},
                        {"TINY", kInconsistent},      {"SHORT", kReadError}};
  for (const Case& c : cases) {
    BlockHandle b = nullptr;
    engine.OpenBlock(b, Path(c.name), {.network = true});
    EXPECT_ERR(engine, c.error);
    EXPECT_EQ(b, nullptr) << c.name;
    EXPECT_FALSE(Exists(std::string(c.name) + ".DIA")) << c.name;
  }
  // A key length of exactly 100 opens.
  const std::vector<KeyDesc> widest = {{100, false}};
  Build("WIDE", 40, 1, {}, widest);
  BlockHandle b = nullptr;
  engine.OpenBlock(b, Path("WIDE"), {.network = true});
  EXPECT_OK(engine);
  engine.CloseBlock(b);
  // Nothing of the failed opens stayed open.
  engine.StopEngine();
  EXPECT_OK(engine);
}

TEST_F(EngineTest, FileShorterThanItsSlots) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kNetwork, 16), 16);
  Build("CUT", 40, 4);
  std::filesystem::resize_file(Path("CUT.DAT"), 40 * 3 + 10);
  BlockHandle b = nullptr;
  engine.OpenBlock(b, Path("CUT"), {.network = true});
  ASSERT_OK(engine);
  EXPECT_EQ(engine.SlotTotal(b), 5);
  std::vector<uint8_t> slot(40);
  engine.ReadSlot(b, 2, slot);
  EXPECT_OK(engine);
  engine.ReadSlot(b, 3, slot);
  EXPECT_ERR(engine, EngineError::kReadError);
  engine.ReadSlot(b, 4, slot);
  EXPECT_ERR(engine, EngineError::kReadError);
  engine.CloseBlock(b);
  EXPECT_OK(engine);

  // A slot count that no file can have.
  for (int32_t highest : {-5, 2147483647}) {
    PatchI32("CUT.DAT", 8, highest);
    engine.OpenBlock(b, Path("CUT"), {.network = true});
    ASSERT_OK(engine);
    EXPECT_EQ(engine.SlotTotal(b), 0);
    EXPECT_ERR(engine, EngineError::kInconsistent);
    engine.CloseBlock(b);
  }
}

TEST_F(EngineTest, OffsetsAreComputedIn64Bits) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kSingleUser, 16), 16);
  // 100000 x 30000 lies beyond 2^31: a 32-bit product would wrap into the file.
  Build("BIG", 30000, 1);
  BlockHandle b = nullptr;
  engine.OpenBlock(b, Path("BIG"), {});
  ASSERT_OK(engine);
  std::vector<uint8_t> slot(30000);
  engine.ReadSlot(b, 100000, slot);
  EXPECT_ERR(engine, EngineError::kReadError);
  engine.CloseBlock(b);
}

TEST_F(EngineTest, ReadErrorsAreTranslated) {
  ASSERT_EQ(engine.StartEngine(EngineMode::kSingleUser, 16), 16);
  Build("FAULT", 40, 2);
  BlockHandle b = nullptr;
  engine.OpenBlock(b, Path("FAULT"), {});
  ASSERT_OK(engine);
  std::vector<uint8_t> slot(40);
  platform::FaultPlan plan;
  plan.op = platform::Op::kRead;
  plan.nth = 1;
  platform::SetFaultPlan(plan);
  engine.ReadSlot(b, 1, slot);
  platform::ClearFaults();
  EXPECT_ERR(engine, EngineError::kUndefined);
  plan.kind = platform::FaultKind::kShortCount;
  platform::SetFaultPlan(plan);
  engine.ReadSlot(b, 1, slot);
  platform::ClearFaults();
  EXPECT_ERR(engine, EngineError::kReadError);
  engine.ReadSlot(b, 1, slot);
  EXPECT_OK(engine);
  engine.CloseBlock(b);
}

}  // namespace
}  // namespace kv::isam::testing
