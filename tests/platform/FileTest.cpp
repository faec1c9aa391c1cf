#include "platform/File.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempDir.h"
#include "platform/Path.h"
#include "platform/System.h"
#include "support/Host.h"

namespace kv::platform {
namespace {

using testing::TempDirTest;

class FileTest : public TempDirTest {};

TEST_F(FileTest, ErrorNumbersOfOpenCreateDeleteRename) {
  WriteRaw("A.DAT", "abc");
  std::filesystem::create_directory(Path("SUB"));
  File f;
  struct Case {
    const char* what;
    int32_t got;
    int32_t want;
  };
  std::vector<Case> cases = {
      {"open missing file", File::Open(Path("NONE.DAT"), Access::kReadWrite, Share::kShared, f), kErrFileNotFound},
      {"open in missing dir", File::Open(Path("NODIR/A.DAT"), Access::kReadOnly, Share::kShared, f), kErrPathNotFound},
      {"open below a file", File::Open(Path("A.DAT/X"), Access::kReadOnly, Share::kShared, f), kErrPathNotFound},
      {"open a directory", File::Open(Path("SUB"), Access::kReadOnly, Share::kShared, f), kErrAccessDenied},
      {"create in missing dir", File::Create(Path("NODIR/B.DAT"), true, f), kErrPathNotFound},
      {"create existing, no replace", File::Create(Path("A.DAT"), false, f), kErrFileExists},
      {"delete missing file", DeleteFile(Path("NONE.DAT")), kErrFileNotFound},
      {"delete in missing dir", DeleteFile(Path("NODIR/A.DAT")), kErrPathNotFound},
      {"delete a directory", DeleteFile(Path("SUB")), kErrAccessDenied},
      {"rename missing file", RenameFile(Path("NONE.DAT"), Path("B.DAT")), kErrFileNotFound},
      {"rename into missing dir", RenameFile(Path("A.DAT"), Path("NODIR/B.DAT")), kErrPathNotFound},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(ReadRaw("A.DAT"), "abc");  // the refused create did not truncate it
}

TEST_F(FileTest, PermissionDeniedIsFive) {
  if (const std::string why = kv::test::NoPermissionBitsReason(); !why.empty()) GTEST_SKIP() << why;
  namespace fs = std::filesystem;
  WriteRaw("RO.DAT", "x");
  fs::permissions(Path("RO.DAT"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  File f;
  EXPECT_EQ(File::Open(Path("RO.DAT"), Access::kReadWrite, Share::kShared, f), kErrAccessDenied);
  EXPECT_EQ(File::Open(Path("RO.DAT"), Access::kReadOnly, Share::kShared, f), kErrNone);
  std::filesystem::create_directory(Path("LOCKED"));
  fs::permissions(Path("LOCKED"), fs::perms::all & ~(fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write));
  EXPECT_EQ(File::Create(Path("LOCKED/N.DAT"), true, f), kErrAccessDenied);
}

TEST_F(FileTest, ErrnoMapping) {
  struct {
    int err;
    int32_t win;
  } table[] = {{0, 0},          {ENOENT, 2}, {ENOTDIR, 3},  {EMFILE, 4},  {ENFILE, 4},   {EACCES, 5},
               {EPERM, 5},      {EROFS, 5},  {EBADF, 6},    {ENOMEM, 8},  {EINVAL, 12},  {EBUSY, 32},
               {EAGAIN, 33},    {EEXIST, 80}, {ENOSPC, 112}, {kv::test::QuotaFullErrno(), 112}, {EIO, 31},   {EXDEV, 31}};
  for (auto& row : table) EXPECT_EQ(WinErrorFromErrno(row.err), row.win) << "errno " << row.err;
}

TEST_F(FileTest, ReadWriteAtOffsetsAndShortCounts) {
  File f;
  ASSERT_EQ(File::Create(Path("R.DAT"), false, f), kErrNone);
  size_t done = 0;
  ASSERT_EQ(f.WriteAt(10, "hello", 5, done), kErrNone);
  EXPECT_EQ(done, 5u);
  uint64_t size = 0;
  ASSERT_EQ(f.Size(size), kErrNone);
  EXPECT_EQ(size, 15u);

  char buf[32] = {};
  ASSERT_EQ(f.ReadAt(8, buf, 10, done), kErrNone);  // crosses the end: short, no error
  EXPECT_EQ(done, 7u);
  EXPECT_EQ(std::string(buf, 7), std::string("\0\0hello", 7));
  ASSERT_EQ(f.ReadAt(100, buf, 4, done), kErrNone);  // wholly beyond the end
  EXPECT_EQ(done, 0u);

  ASSERT_EQ(f.Truncate(12), kErrNone);
  ASSERT_EQ(f.Size(size), kErrNone);
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(f.Flush(), kErrNone);
  EXPECT_EQ(f.Close(), kErrNone);
  EXPECT_EQ(ReadRaw("R.DAT"), std::string("\0\0\0\0\0\0\0\0\0\0he", 12));

  // Everything on a closed file is an invalid handle.
  EXPECT_EQ(f.ReadAt(0, buf, 1, done), kErrInvalidHandle);
  EXPECT_EQ(f.WriteAt(0, buf, 1, done), kErrInvalidHandle);
  EXPECT_EQ(f.Size(size), kErrInvalidHandle);
  EXPECT_EQ(f.Flush(), kErrInvalidHandle);
  EXPECT_EQ(f.LockRange(0, 1), kErrInvalidHandle);
  EXPECT_EQ(f.Close(), kErrInvalidHandle);
}

TEST_F(FileTest, CreateReplaceTruncatesAndReadOnlyCannotWrite) {
  WriteRaw("C.DAT", "old content");
  File f;
  ASSERT_EQ(File::Create(Path("C.DAT"), true, f), kErrNone);
  uint64_t size = 99;
  ASSERT_EQ(f.Size(size), kErrNone);
  EXPECT_EQ(size, 0u);
  f.Close();

  WriteRaw("C.DAT", "abc");
  File ro;
  ASSERT_EQ(File::Open(Path("C.DAT"), Access::kReadOnly, Share::kExclusive, ro), kErrNone);
  size_t done = 0;
  // EBADF on POSIX; Windows refuses the access itself.
  EXPECT_EQ(ro.WriteAt(0, "x", 1, done), kv::test::HostIsWindows() ? kErrAccessDenied : kErrInvalidHandle);
  ro.Close();  // an exclusive open keeps every other reader out on Windows
  EXPECT_EQ(ReadRaw("C.DAT"), "abc");
}

TEST_F(FileTest, MoveKeepsOneOwner) {
  File a;
  ASSERT_EQ(File::Create(Path("M.DAT"), true, a), kErrNone);
  int fd = a.NativeHandle();
  File b(std::move(a));
  EXPECT_FALSE(a.IsOpen());
  EXPECT_EQ(b.NativeHandle(), fd);
  File c;
  c = std::move(b);
  EXPECT_EQ(c.NativeHandle(), fd);
  size_t done = 0;
  EXPECT_EQ(c.WriteAt(0, "z", 1, done), kErrNone);
}

TEST_F(FileTest, NamesResolveIgnoringAsciiCase) {
  if (kv::test::HostIsWindows())
    GTEST_SKIP() << "Windows finds every spelling of a name itself, and two spellings cannot coexist there";
  std::filesystem::create_directories(Path("Company/Data"));
  WriteRaw("Company/Data/glFile01.dat", "mixed");

  // Both directory levels and the file are found whatever their case.
  File f;
  ASSERT_EQ(File::Open(Path("COMPANY/DATA/GLFILE01.DAT"), Access::kReadWrite, Share::kShared, f), kErrNone);
  EXPECT_EQ(f.Name(), Path("Company/Data/glFile01.dat"));
  EXPECT_TRUE(FileExists(Path("company/data/GLFILE01.DAT")));
  EXPECT_EQ(FileSizeOf(Path("COMPANY/Data/glfile01.DAT")), 5);

  // An exact match wins over another spelling; of two other spellings the smaller one.
  WriteRaw("Company/Data/GLFILE01.DAT", "upper");
  EXPECT_EQ(ResolveName(Path("Company/Data/glFile01.dat")), Path("Company/Data/glFile01.dat"));
  EXPECT_EQ(ResolveName(Path("Company/Data/GLFILE01.DAT")), Path("Company/Data/GLFILE01.DAT"));
  EXPECT_EQ(ResolveName(Path("company/data/Glfile01.dat")), Path("Company/Data/GLFILE01.DAT"));

  // A name that matches nothing keeps its spelling below the levels that were found.
  EXPECT_EQ(ResolveName(Path("COMPANY/NEW/X.DAT")), Path("Company/NEW/X.DAT"));

  // Create uses the existing file rather than adding a second spelling beside it.
  std::filesystem::remove(Path("Company/Data/GLFILE01.DAT"));
  File g;
  ASSERT_EQ(File::Create(Path("COMPANY/DATA/GLFILE01.DAT"), true, g), kErrNone);
  g.Close();
  EXPECT_EQ(ReadRaw("Company/Data/glFile01.dat"), "");
  EXPECT_FALSE(Exists("Company/Data/GLFILE01.DAT"));

  // Thai names are CP874 in the program and UTF-8 on disk; Thai letters are not folded.
  WriteRaw("\u0E01\u0E02.DAT", "t");
  EXPECT_TRUE(FileExists(Path("\xA1\xA2.dat")));
  EXPECT_FALSE(FileExists(Path("\xA1\xA3.DAT")));
  EXPECT_FALSE(Exists("\xA1\xA2.DAT"));

  // Relative names are looked up from the current directory.
  std::string here = std::filesystem::current_path().string();
  std::filesystem::current_path(dir_);
  EXPECT_EQ(ResolveName("company/DATA/GLFILE01.DAT"), "Company/Data/glFile01.dat");
  std::filesystem::current_path(here);
}

TEST_F(FileTest, OnlyNamesRelativeToTheCurrentDirectoryAreCutTo64Characters) {
  const std::string here = std::filesystem::current_path().string();
  std::filesystem::current_path(dir_);
  // 62 letters and a Thai "กข": the cut counts CP874 bytes and never splits a letter.
  std::string longName = std::string(62, 'N') + "\xA1\xA2" + "X.DAT";
  std::string cut = longName.substr(0, kMaxFileName);
  File f;
  ASSERT_EQ(File::Create(longName, true, f), kErrNone);
  EXPECT_EQ(f.Name(), std::string(62, 'N') + "\u0E01\u0E02");
  f.Close();
  EXPECT_TRUE(Exists(std::string(62, 'N') + "\u0E01\u0E02"));
  EXPECT_TRUE(FileExists(longName));
  EXPECT_EQ(DeleteFile(longName + "ignored"), kErrNone);
  EXPECT_FALSE(FileExists(cut));
  std::filesystem::current_path(here);

  // An absolute path is used whole, however long: the cut would name another file.
  for (size_t length : {60u, 64u, 65u, 255u, 1100u}) {
    std::string dir = dir_;
    while (dir.size() < length) dir += "/" + std::string(std::min<size_t>(200, length - dir.size()), 'd');
    ASSERT_TRUE(std::filesystem::create_directories(dir) || std::filesystem::is_directory(dir));
    const std::string name = dir + "/GLFILE01.DAT";
    File g;
    ASSERT_EQ(File::Create(name, false, g), kErrNone) << length;
    EXPECT_EQ(g.Name(), name);
    g.Close();
    EXPECT_TRUE(FileExists(name));
    EXPECT_EQ(DeleteFile(name), kErrNone);
    EXPECT_EQ(CreateDirectories(dir + "/\xA1/b"), kErrNone);
    EXPECT_TRUE(std::filesystem::is_directory(kv::test::FsPath(dir + "/\u0E01/b")));
  }
}

TEST_F(FileTest, PathsCrossToTheSystemWithoutLoss) {
  std::string cp874;
  EXPECT_TRUE(PathFromSystem("/home/\u0E02\u0E49\u0E2D\u0E21\u0E39\u0E25 x", cp874));
  EXPECT_EQ(cp874, "/home/\xA2\xE9\xCD\xC1\xD9\xC5 x");
  EXPECT_EQ(PathToSystem(cp874), "/home/\u0E02\u0E49\u0E2D\u0E21\u0E39\u0E25 x");
  // Refused, never kept with "?": a letter CP874 lacks, broken UTF-8, a NUL byte.
  for (std::string_view bad : {std::string_view("/tmp/\u00E9t\u00E9"), std::string_view("/tmp/\xFF"),
                               std::string_view("/tmp/a\0b", 8)}) {
    cp874 = "x";
    EXPECT_FALSE(PathFromSystem(bad, cp874)) << bad;
    EXPECT_EQ(cp874, "");
  }
  // A stored path with a NUL names nothing rather than the part before the NUL.
  WriteRaw("A", "a");
  const std::string withNul = Path("A") + std::string(1, '\0') + "B";
  EXPECT_FALSE(FileExists(withNul));
  File f;
  EXPECT_NE(File::Open(withNul, Access::kReadOnly, Share::kShared, f), kErrNone);
  EXPECT_FALSE(DirectoryExists(Path("") + std::string(1, '\0')));
}

TEST_F(FileTest, RenameNeverReplacesAnExistingFile) {
  WriteRaw("X.SAV", "saved");
  WriteRaw("X.DAT", "current");
  EXPECT_EQ(RenameFile(Path("X.SAV"), Path("x.dat")), kErrFileExists);
  EXPECT_EQ(ReadRaw("X.SAV"), "saved");
  EXPECT_EQ(ReadRaw("X.DAT"), "current");
  ASSERT_EQ(DeleteFile(Path("x.dat")), kErrNone);
  ASSERT_EQ(RenameFile(Path("x.sav"), Path("X.DAT")), kErrNone);
  EXPECT_EQ(ReadRaw("X.DAT"), "saved");
  EXPECT_FALSE(Exists("X.SAV"));
  EXPECT_EQ(FileSizeOf(Path("X.SAV")), -1);
}

TEST_F(FileTest, ExistsOnlyForRegularFiles) {
  std::filesystem::create_directory(Path("D"));
  EXPECT_FALSE(FileExists(Path("D")));
  EXPECT_FALSE(FileExists(Path("NONE")));
  WriteRaw("F", "");
  EXPECT_TRUE(FileExists(Path("f")));
  EXPECT_EQ(FileSizeOf(Path("F")), 0);
}

}  // namespace
}  // namespace kv::platform
