// A fresh company directory per test under /tmp, made the current directory for the
// test (module repairs work in the current directory) and removed afterwards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace kv::modules::testing {

class CompanyDirTest : public kv::test::TempDirTest {
 protected:
  CompanyDirTest() : kv::test::TempDirTest("kvm", /*enter=*/true) {}

  // Names relative to the current directory (the company directory during a test).
  static void Write(const std::string& name, const std::string& bytes) {
    ASSERT_TRUE(kv::test::WriteWholeFile(name, bytes)) << name;
  }
  static std::string Read(const std::string& name) { return kv::test::ReadWholeFile(name); }
  static bool Exists(const std::string& name) { return std::filesystem::exists(name); }
  static int64_t Size(const std::string& name) { return kv::test::WholeFileSize(name); }
  // `count` records of `length` bytes, record i filled with the byte i+1 (so each
  // record is recognisable after a round trip).
  static std::string Records(int count, int length) {
    std::string out;
    for (int i = 0; i < count; ++i) out.append(static_cast<size_t>(length), static_cast<char>(i + 1));
    return out;
  }
};

}  // namespace kv::modules::testing
