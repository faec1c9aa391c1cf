#include "platform/Path.h"
#include "platform/System.h"

#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "TempDir.h"
#include "support/Host.h"
#include "platform/File.h"

namespace kv::platform {
namespace {

class SystemTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    start_ = CurrentDirectory();
  }
  void TearDown() override {
    EXPECT_EQ(ChangeDirectory(start_), OsError::kNone);
    TempDirTest::TearDown();
  }
  std::string start_;
};

// Sets or unsets environment variables for one test and puts them back afterwards.
class EnvGuard {
 public:
  void Set(const char* name, const char* value) {
    if (!saved_.count(name)) {
      const char* old = ::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    kv::test::SetEnvVar(name, value);
  }
  ~EnvGuard() {
    for (auto& [name, value] : saved_) {
      kv::test::SetEnvVar(name, value ? value->c_str() : nullptr);
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(SystemTest, Directories) {
  EXPECT_FALSE(DirectoryExists(Path("A")));
  EXPECT_EQ(CreateDirectory(Path("A/B")), OsError::kPathNotFound);  // one level only
  ASSERT_EQ(CreateDirectory(Path("A")), OsError::kNone);
  EXPECT_EQ(CreateDirectory(Path("a")), OsError::kFileExists);     // same directory, other case
  EXPECT_TRUE(DirectoryExists(Path("a")));
  ASSERT_EQ(CreateDirectories(Path("a/Korva_Data/X/Y/")), OsError::kNone);
  EXPECT_TRUE(std::filesystem::is_directory(Path("A/Korva_Data/X/Y")));
  EXPECT_EQ(CreateDirectories(Path("A/korva_data/x")), OsError::kNone);  // all there already
  // (On Windows the file system itself ignores the case, and gives the current
  // directory in its own form.)
  const bool windows = kv::test::HostIsWindows();
  if (!windows) {
    EXPECT_FALSE(std::filesystem::exists(Path("A/korva_data")));
  }

  WriteRaw("FILE", "");
  EXPECT_FALSE(DirectoryExists(Path("FILE")));
  EXPECT_EQ(CreateDirectories(Path("FILE/SUB")), OsError::kPathNotFound);
  EXPECT_EQ(ChangeDirectory(Path("FILE")), OsError::kPathNotFound);
  EXPECT_EQ(ChangeDirectory(Path("NONE")), OsError::kPathNotFound);

  ASSERT_EQ(ChangeDirectory(Path("a/KORVA_DATA")), OsError::kNone);
  if (!windows) {
    EXPECT_EQ(CurrentDirectory(), Path("A/Korva_Data"));
  }
  EXPECT_TRUE(DirectoryExists("x"));
  ASSERT_EQ(ChangeDirectory(".."), OsError::kNone);
  if (!windows) {
    EXPECT_EQ(CurrentDirectory(), Path("A"));
  }
  EXPECT_TRUE(DirectoryExists("Korva_Data"));
}

TEST(PathTest, AbsolutePaths) {
  const bool windows = kv::test::HostIsWindows();
  const struct {
    const char* path;
    bool absolute;
  } rows[] = {{"/tmp/x", true},           {"tmp/x", false},     {"", false},
              {"C:\\KORVA\\CO1", windows}, {"C:/KORVA", windows}, {"\\\\srv\\share\\co", windows},
              {"C:KORVA", false},         {"./x", false}};
  for (const auto& row : rows) EXPECT_EQ(IsAbsolutePath(row.path), row.absolute) << row.path;
}

TEST_F(SystemTest, RemovableDrive) {
  // A temporary file system or a fixed disk: not removable; a missing path is unknown.
  EXPECT_FALSE(IsRemovableDrive(dir_));
  EXPECT_FALSE(IsRemovableDrive(Path("NONE")));
}

TEST_F(SystemTest, EnvironmentFallbacks) {
  EnvGuard env;
  env.Set("APPDATA", "/w/appdata");
  env.Set("TEMP", "/w/temp");
  EXPECT_EQ(AppDataDirectory(), "/w/appdata");
  EXPECT_EQ(TempDirectoryFromEnv(), "/w/temp");
  EXPECT_EQ(GetEnv("APPDATA"), "/w/appdata");

  env.Set("APPDATA", nullptr);
  env.Set("TEMP", nullptr);
  if (kv::test::HostIsWindows()) {
    // Windows' own fallbacks: the profile's roaming folder, then TMP.
    env.Set("USERPROFILE", "C:\\Users\\w");
    env.Set("TMP", "C:\\w\\tmp");
    EXPECT_EQ(AppDataDirectory(), "C:\\Users\\w\\AppData\\Roaming");
    EXPECT_EQ(TempDirectoryFromEnv(), "C:\\w\\tmp");
    EXPECT_EQ(GetEnv("APPDATA"), "");
    return;
  }
  env.Set("XDG_CONFIG_HOME", "/w/xdg");
  env.Set("TMPDIR", "/w/tmpdir");
  EXPECT_EQ(AppDataDirectory(), "/w/xdg");
  EXPECT_EQ(TempDirectoryFromEnv(), "/w/tmpdir");
  EXPECT_EQ(GetEnv("APPDATA"), "");

  env.Set("XDG_CONFIG_HOME", nullptr);
  env.Set("TMPDIR", "");
  env.Set("HOME", "/w/home");
  EXPECT_EQ(AppDataDirectory(), "/w/home/.config");
  EXPECT_EQ(TempDirectoryFromEnv(), "/tmp");
}

TEST(ClockTest, RandomStaysInRangeAndCoversIt) {
  std::set<int32_t> seen;
  for (int i = 0; i < 5000; ++i) {
    int32_t r = RandomInRange(1, 50);
    ASSERT_GE(r, 1);
    ASSERT_LE(r, 50);
    seen.insert(r);
  }
  EXPECT_EQ(seen.size(), 50u);
  EXPECT_EQ(RandomInRange(7, 7), 7);
}

}  // namespace
}  // namespace kv::platform
