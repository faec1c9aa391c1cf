// Scratch directories for tests: a fresh directory per test under /tmp, removed with
// everything in it afterwards, and whole-file reads and writes for building fixtures.
// The paths are short on purpose: the engine cuts file names to 64 characters.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace kv::test {

// A new directory <under>/<stem>.XXXXXX; empty when it cannot be made.
std::string MakeTempDir(const std::string& stem, const std::string& under = "/tmp");
// Removes `dir` with everything in it, also when a test took away its write permission.
void RemoveTempDir(const std::string& dir);

// Whole files, named as given (a relative name is taken from the current directory).
// Replaces the file; false when it could not be written.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
// Empty when the file cannot be read.
std::string ReadWholeFile(const std::string& path);
// -1 when the file does not exist.
int64_t WholeFileSize(const std::string& path);

// A path written in UTF-8 (as the tests' sources write Thai names) for std::filesystem,
// which takes a plain string in the system's narrow encoding: the ANSI code page on
// Windows. Bytes that are not UTF-8 are handed over as they are.
inline std::filesystem::path FsPath(const std::string& utf8) {
  try {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
  } catch (const std::exception&) {
    return std::filesystem::path(utf8);
  }
}

class TempDirTest : public ::testing::Test {
 protected:
  // `stem` begins the directory's name. With `enter`, every test runs inside the
  // directory and the previous current directory comes back afterwards.
  explicit TempDirTest(std::string stem, bool enter = false) : stem_(std::move(stem)), enter_(enter) {}

  void SetUp() override;
  void TearDown() override;

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void WriteRaw(const std::string& name, const std::string& bytes) const {
    ASSERT_TRUE(WriteWholeFile(Path(name), bytes)) << name;
  }
  std::string ReadRaw(const std::string& name) const { return ReadWholeFile(Path(name)); }
  bool Exists(const std::string& name) const { return std::filesystem::exists(FsPath(Path(name))); }
  int64_t Size(const std::string& name) const { return WholeFileSize(Path(name)); }

  std::string dir_;

 private:
  std::string stem_;
  bool enter_;
  std::filesystem::path previous_;
};

}  // namespace kv::test
