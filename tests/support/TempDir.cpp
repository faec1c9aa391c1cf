#include "support/TempDir.h"

#include <fstream>
#include <iterator>
#include <random>

namespace kv::test {

namespace fs = std::filesystem;

std::string MakeTempDir(const std::string& stem, const std::string& under) {
  // As mkdtemp does it, with the standard library only: six random letters and digits,
  // and a fresh try when the directory exists already.
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = under + "/" + stem + ".";
    for (int i = 0; i < 6; ++i) path += kChars[pick(random)];
    std::error_code ec;
    // In the form the platform gives back names (a drive and forward slashes on
    // Windows), so tests can compare with it.
    if (fs::create_directory(path, ec)) return fs::absolute(path).generic_string();
    if (ec) return {};
  }
  return {};
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
