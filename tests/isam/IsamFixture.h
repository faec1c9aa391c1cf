// Shared set-up for the engine tests: a fresh short directory per test, raw file access
// for building and inspecting fixtures byte by byte, and an engine per station.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "isam/Coding.h"
#include "isam/Engine.h"
#include "platform/Faults.h"
#include "support/TempDir.h"
#include "testkit/Builder.h"

namespace kv::isam::testing {

class IsamTest : public kv::test::TempDirTest {
 protected:
  IsamTest() : kv::test::TempDirTest("kvi") {}

  // Overwrites bytes in place (the file keeps its length unless the patch runs past it).
  void Patch(const std::string& name, size_t at, const std::string& bytes) const {
    std::fstream f(Path(name), std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(at));
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(f.good());
  }
  void PatchI32(const std::string& name, size_t at, int32_t v) const {
    uint8_t b[4];
    PutI32(b, v);
    Patch(name, at, std::string(reinterpret_cast<char*>(b), 4));
  }
  void PatchI16(const std::string& name, size_t at, int16_t v) const {
    uint8_t b[2];
    PutI16(b, v);
    Patch(name, at, std::string(reinterpret_cast<char*>(b), 2));
  }

  // A data file without keys: slots 1..highestSlot of slotLength bytes, every byte of a
  // record after its first four set to `fill`.
  void BuildPlain(const std::string& name, int32_t slotLength, int32_t highestSlot, uint8_t fill = 0) const {
    testkit::FileLayout fileLayout;
    fileLayout.dataPath = Path(name);
    fileLayout.slotLength = slotLength;
    fileLayout.highestSlot = highestSlot;
    ASSERT_EQ(testkit::BuildFile(fileLayout,
                                 [fill](int32_t, bool, std::span<uint8_t> slot, testkit::KeySink&) {
                                   std::fill(slot.begin() + 4, slot.end(), fill);
                                 }),
              "");
  }

  static int32_t I32(const std::string& b, size_t at) {
    return GetI32(reinterpret_cast<const uint8_t*>(b.data()) + at);
  }
  static int16_t I16(const std::string& b, size_t at) {
    return GetI16(reinterpret_cast<const uint8_t*>(b.data()) + at);
  }
};

// For tests that inject faults: no fault plan outlives its test.
class IsamFaultTest : public IsamTest {
 protected:
  void TearDown() override {
    platform::ClearFaults();
    IsamTest::TearDown();
  }
};

// The state checks every test repeats after an engine call; each also finds the
// engine's invariants whole.
#define EXPECT_OK(engine)                                                          \
  do {                                                                             \
    EXPECT_TRUE((engine).LastOpOK()) << "error " << (engine).LastOpError();        \
    EXPECT_EQ((engine).CheckInvariants(), "");                                     \
  } while (0)
#define ASSERT_OK(engine)                                                          \
  do {                                                                             \
    ASSERT_TRUE((engine).LastOpOK()) << "error " << (engine).LastOpError();        \
    ASSERT_EQ((engine).CheckInvariants(), "");                                     \
  } while (0)
#define EXPECT_ERR(engine, error)                                                  \
  do {                                                                             \
    EXPECT_FALSE((engine).LastOpOK());                                             \
    EXPECT_EQ((engine).LastError(), (error)) << "error " << (engine).LastOpError(); \
    EXPECT_EQ((engine).CheckInvariants(), "");                                     \
  } while (0)

}  // namespace kv::isam::testing
