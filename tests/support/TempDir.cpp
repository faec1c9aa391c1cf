#include "support/TempDir.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>

namespace kv::test {

namespace fs = std::filesystem;

std::string MakeTempDir(const std::string& stem, const std::string& under) {
  std::string path = under + "/" + stem + ".XXXXXX";
  if (::mkdtemp(path.data()) == nullptr) return {};
  return path;
}

void RemoveTempDir(const std::string& dir) {
  if (dir.empty()) return;
  std::error_code ec;
  fs::permissions(dir, fs::perms::owner_all, ec);
  fs::remove_all(dir, ec);
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out.good();
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int64_t WholeFileSize(const std::string& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  return ec ? -1 : static_cast<int64_t>(size);
}

void TempDirTest::SetUp() {
  if (enter_) previous_ = fs::current_path();
  dir_ = MakeTempDir(stem_);
  ASSERT_FALSE(dir_.empty()) << "cannot make a directory for " << stem_;
  if (enter_) fs::current_path(dir_);
}

void TempDirTest::TearDown() {
  std::error_code ec;
  if (enter_ && !previous_.empty()) fs::current_path(previous_, ec);
  RemoveTempDir(dir_);
}

}  // namespace kv::test
