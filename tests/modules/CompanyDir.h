// A fresh company directory per test under /tmp, made the current directory for the
// test (module repairs work in the current directory) and removed afterwards.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace kv::modules::testing {

class CompanyDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    char tmpl[] = "/tmp/kvm.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
    std::filesystem::remove_all(dir_, ec);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  static void Write(const std::string& name, const std::string& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good());
  }
  static std::string Read(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static bool Exists(const std::string& name) { return std::filesystem::exists(name); }
  static int64_t Size(const std::string& name) {
    std::error_code ec;
    auto size = std::filesystem::file_size(name, ec);
    return ec ? -1 : static_cast<int64_t>(size);
  }
  // `count` records of `length` bytes, record i filled with the byte i+1 (so each
  // record is recognisable after a round trip).
  static std::string Records(int count, int length) {
    std::string out;
    for (int i = 0; i < count; ++i) out.append(static_cast<size_t>(length), static_cast<char>(i + 1));
    return out;
  }

  std::filesystem::path previous_;
  std::string dir_;
};

}  // namespace kv::modules::testing
