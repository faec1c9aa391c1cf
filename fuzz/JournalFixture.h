// The files the journal target replays into: a data file with two keys (one of them
// with duplicates) and trees several levels deep, built once with the test kit.
#pragma once

#include <string>

#include "testkit/Builder.h"

namespace kv::fuzz {

inline constexpr int kJournalSlotLength = 24;
inline constexpr int kJournalRecords = 12;
inline constexpr int kJournalKey1Length = 4;
inline constexpr int kJournalKey2Length = 6;

// Builds JF.DAT and JF.IX in `dir`; returns an error text, empty on success.
inline std::string BuildJournalFixture(const std::string& dir, testkit::FileInfo* info = nullptr) {
  testkit::FileLayout fileLayout;
  fileLayout.dataPath = dir + "/JF.DAT";
  fileLayout.slotLength = kJournalSlotLength;
  fileLayout.keys = {{kJournalKey1Length, false}, {kJournalKey2Length, true}};
  fileLayout.highestSlot = kJournalRecords;
  fileLayout.freeChain = testkit::DescendingChain({5, 9});
  fileLayout.index.maxItemsPerPage = 3;
  return testkit::BuildFile(
      fileLayout,
      [](int32_t record, bool deleted, std::span<uint8_t> slot, testkit::KeySink& keys) {
        slot[4] = static_cast<uint8_t>(record);
        if (deleted) return;
        const std::string text = "K" + std::to_string(100 + record);
        keys.Add(1, text);
        keys.Add(2, record % 3 == 0 ? "SAME" : "D" + std::to_string(record));
      },
      info);
}

}  // namespace kv::fuzz
