// Company directories for the run's tests: a fresh directory per test under /tmp, the
// module data files written byte by byte (header slot, then the records), and money
// amounts in their 10-byte stored form.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "isam/Coding.h"
#include "isam/Extended.h"
#include "modules/ModuleTables.h"
#include "support/TempDir.h"
#include "testkit/Builder.h"

namespace kv::test {

namespace fs = std::filesystem;

inline std::array<uint8_t, 10> Money(long double v) {
  std::array<uint8_t, 10> out{};
  isam::EncodeExtended(v, out.data());
  return out;
}
inline std::array<uint8_t, 10> RawMoney(uint64_t significand, uint16_t signExponent) {
  std::array<uint8_t, 10> out{};
  isam::PutU64(out.data(), significand);
  isam::PutU16(out.data() + 8, signExponent);
  return out;
}
inline std::array<uint8_t, 10> NaNMoney() { return RawMoney(0xC000000000000000ull, 0x7FFF); }
inline std::array<uint8_t, 10> InfMoney() { return RawMoney(0x8000000000000000ull, 0x7FFF); }

// A record slot: live (four zero bytes) unless `deleteLink` is given.
struct Slot {
  std::vector<uint8_t> bytes;
  Slot(int32_t length, int32_t deleteLink = 0) : bytes(static_cast<size_t>(length), 0) {
    isam::PutI32(bytes.data(), deleteLink);
  }
  Slot& Put(int offset, const std::array<uint8_t, 10>& money) {
    std::memcpy(bytes.data() + offset, money.data(), 10);
    return *this;
  }
};

// The data file's bytes: header slot and records, as the engine lays them out.
inline std::string DataFileBytes(int32_t slotLength, const std::vector<Slot>& slots, int keyCount = 0,
                                 uint8_t defect = 0) {
  std::string out(static_cast<size_t>(slotLength) * (slots.size() + 1), '\0');
  auto* p = reinterpret_cast<uint8_t*>(out.data());
  isam::PutI32(p, -1);
  isam::PutI32(p + 4, 0);
  isam::PutI32(p + 8, static_cast<int32_t>(slots.size()));
  isam::PutI32(p + 12, slotLength);
  isam::PutI32(p + 16, keyCount);
  p[20] = defect;
  for (size_t i = 0; i < slots.size(); ++i) {
    std::memcpy(p + (i + 1) * static_cast<size_t>(slotLength), slots[i].bytes.data(),
                std::min(slots[i].bytes.size(), static_cast<size_t>(slotLength)));
  }
  return out;
}

// Builds a module data file (with its index) in `dir` from the module table's record
// length and keys; slot i + 1 holds slots[i]. Each live record gets unique key texts.
// `slotLength` other than 0 builds a file that disagrees with the table.
inline std::string BuildModuleFile(const std::string& dir, const std::string& baseName, const std::vector<Slot>& slots,
                                   int32_t slotLength = 0, uint8_t defect = 0) {
  const modules::DataFileDef& def = modules::DataFile(baseName);
  testkit::FileLayout fileLayout;
  fileLayout.dataPath = dir + "/" + baseName + ".DAT";
  fileLayout.slotLength = slotLength != 0 ? slotLength : def.recordLength;
  fileLayout.keys.assign(def.keys.begin(), def.keys.end());
  fileLayout.highestSlot = static_cast<int32_t>(slots.size());
  std::vector<int32_t> deleted;
  for (size_t i = 0; i < slots.size(); ++i) {
    if (isam::GetI32(slots[i].bytes.data()) != 0) deleted.push_back(static_cast<int32_t>(i + 1));
  }
  fileLayout.freeChain = testkit::DescendingChain(deleted);
  fileLayout.defectFlag = defect;
  return testkit::BuildFile(fileLayout, [&](int32_t record, bool isDeleted, std::span<uint8_t> slot, testkit::KeySink& keys) {
    const Slot& source = slots[static_cast<size_t>(record - 1)];
    std::memcpy(slot.data(), source.bytes.data(), std::min(slot.size(), source.bytes.size()));
    if (isDeleted) return;
    char text[16];
    std::snprintf(text, sizeof text, "R%08d", record);
    for (size_t k = 1; k <= fileLayout.keys.size(); ++k) keys.Add(static_cast<int>(k), text);
  });
}

class CompanyDirTest : public TempDirTest {
 protected:
  CompanyDirTest() : TempDirTest("kvapp") {}

  // Unlike WriteRaw, a file that cannot be written does not fail the test here.
  void Write(const std::string& name, const std::string& bytes) const { WriteWholeFile(Path(name), bytes); }
  std::string Read(const std::string& name) const { return ReadRaw(name); }
  // Every file with its content and modification time, to prove nothing was written.
  std::map<std::string, std::pair<std::string, fs::file_time_type>> Snapshot() const {
    std::map<std::string, std::pair<std::string, fs::file_time_type>> out;
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string name = e.path().filename().generic_string();
      out[name] = {Read(name), fs::last_write_time(e.path())};
    }
    return out;
  }
};

}  // namespace kv::test
