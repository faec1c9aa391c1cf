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
    OsStatus got;
    OsError want;
  };
  std::vector<Case> cases = {
      {"open missing file", File::Open(Path("NONE.DAT"), Access::kReadWrite, Share::kShared, f), OsError::kFileNotFound},
      {"open in missing dir", File::Open(Path("NODIR/A.DAT"), Access::kReadOnly, Share::kShared, f), OsError::kPathNotFound},
      {"open below a file", File::Open(Path("A.DAT/X"), Access::kReadOnly, Share::kShared, f), OsError::kPathNotFound},
      {"open a directory", File::Open(Path("SUB"), Access::kReadOnly, Share::kShared, f), OsError::kAccessDenied},
      {"create in missing dir", File::Create(Path("NODIR/B.DAT"), IfExists::kReplace, f), OsError::kPathNotFound},
      {"create existing, no replace", File::Create(Path("A.DAT"), IfExists::kFail, f), OsError::kFileExists},
      {"delete missing file", DeleteFile(Path("NONE.DAT")), OsError::kFileNotFound},
      {"delete in missing dir", DeleteFile(Path("NODIR/A.DAT")), OsError::kPathNotFound},
      {"delete a directory", DeleteFile(Path("SUB")), OsError::kAccessDenied},
      {"rename missing file", RenameFile(Path("NONE.DAT"), Path("B.DAT")), OsError::kFileNotFound},
      {"rename into missing dir", RenameFile(Path("A.DAT"), Path("NODIR/B.DAT")), OsError::kPathNotFound},
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
  EXPECT_EQ(File::Open(Path("RO.DAT"), Access::kReadWrite, Share::kShared, f), OsError::kAccessDenied);
  EXPECT_EQ(File::Open(Path("RO.DAT"), Access::kReadOnly, Share::kShared, f), OsError::kNone);
  std::filesystem::create_directory(Path("LOCKED"));
  fs::permissions(Path("LOCKED"), fs::perms::all & ~(fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write));
  EXPECT_EQ(File::Create(Path("LOCKED/N.DAT"), IfExists::kReplace, f), OsError::kAccessDenied);
}

TEST_F(FileTest, ErrnoMapping) {
  struct {
    int err;
    int32_t win;
  } table[] = {{0, 0},          {ENOENT, 2}, {ENOTDIR, 3},  {EMFILE, 4},  {ENFILE, 4},   {EACCES, 5},
               {EPERM, 5},      {EROFS, 5},  {EBADF, 6},    {ENOMEM, 8},  {EINVAL, 12},  {EBUSY, 32},
               {EAGAIN, 33},    {EEXIST, 80}, {ENOSPC, 112}, {kv::test::QuotaFullErrno(), 112}, {EIO, 31},   {EXDEV, 31}};
  for (auto& row : table) EXPECT_EQ(Code(WinErrorFromErrno(row.err)), row.win) << "errno " << row.err;
}

TEST_F(FileTest, ReadWriteAtOffsetsAndShortCounts) {
  File f;
  ASSERT_EQ(File::Create(Path("R.DAT"), IfExists::kFail, f), OsError::kNone);
  size_t done = 0;
  ASSERT_EQ(f.WriteAt(10, "hello", 5, done), OsError::kNone);
  EXPECT_EQ(done, 5u);
  uint64_t size = 0;
  ASSERT_EQ(f.Size(size), OsError::kNone);
  EXPECT_EQ(size, 15u);

  char buf[32] = {};
  ASSERT_EQ(f.ReadAt(8, buf, 10, done), OsError::kNone);  // crosses the end: short, no error
  EXPECT_EQ(done, 7u);
  EXPECT_EQ(std::string(buf, 7), std::string("\0\0hello", 7));
  ASSERT_EQ(f.ReadAt(100, buf, 4, done), OsError::kNone);  // wholly beyond the end
  EXPECT_EQ(done, 0u);

  ASSERT_EQ(f.Truncate(12), OsError::kNone);
  ASSERT_EQ(f.Size(size), OsError::kNone);
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(f.Flush(), OsError::kNone);
  EXPECT_EQ(f.Close(), OsError::kNone);
  EXPECT_EQ(ReadRaw("R.DAT"), std::string("\0\0\0\0\0\0\0\0\0\0he", 12));

  // Everything on a closed file is an invalid handle.
  EXPECT_EQ(f.ReadAt(0, buf, 1, done), OsError::kInvalidHandle);
  EXPECT_EQ(f.WriteAt(0, buf, 1, done), OsError::kInvalidHandle);
  EXPECT_EQ(f.Size(size), OsError::kInvalidHandle);
  EXPECT_EQ(f.Flush(), OsError::kInvalidHandle);
  EXPECT_EQ(f.LockRange(0, 1), OsError::kInvalidHandle);
  EXPECT_EQ(f.Close(), OsError::kInvalidHandle);
}

TEST_F(FileTest, CreateReplaceTruncatesAndReadOnlyCannotWrite) {
  WriteRaw("C.DAT", "old content");
  File f;
  ASSERT_EQ(File::Create(Path("C.DAT"), IfExists::kReplace, f), OsError::kNone);
  uint64_t size = 99;
  ASSERT_EQ(f.Size(size), OsError::kNone);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(f.Close(), OsError::kNone);

  WriteRaw("C.DAT", "abc");
  File ro;
  ASSERT_EQ(File::Open(Path("C.DAT"), Access::kReadOnly, Share::kExclusive, ro), OsError::kNone);
  size_t done = 0;
  // EBADF on POSIX; Windows refuses the access itself.
  EXPECT_EQ(ro.WriteAt(0, "x", 1, done), kv::test::HostIsWindows() ? OsError::kAccessDenied : OsError::kInvalidHandle);
  EXPECT_EQ(ro.Close(), OsError::kNone);  // an exclusive open keeps every other reader out on Windows
  EXPECT_EQ(ReadRaw("C.DAT"), "abc");
}

TEST_F(FileTest, MoveKeepsOneOwner) {
  File a;
  ASSERT_EQ(File::Create(Path("M.DAT"), IfExists::kReplace, a), OsError::kNone);
  int fd = a.NativeHandle();
  File b(std::move(a));
  EXPECT_FALSE(a.IsOpen());
  EXPECT_EQ(b.NativeHandle(), fd);
  File c;
  c = std::move(b);
  EXPECT_EQ(c.NativeHandle(), fd);
  size_t done = 0;
  EXPECT_EQ(c.WriteAt(0, "z", 1, done), OsError::kNone);
}

TEST_F(FileTest, NamesResolveIgnoringAsciiCase) {
  if (kv::test::HostIsWindows())
    GTEST_SKIP() << "Windows finds every spelling of a name itself, and two spellings cannot coexist there";
  std::filesystem::create_directories(Path("Company/Data"));
  WriteRaw("Company/Data/glFile01.dat", "mixed");

  // Both directory levels and the file are found whatever their case.
  File f;
  ASSERT_EQ(File::Open(Path("COMPANY/DATA/GLFILE01.DAT"), Access::kReadWrite, Share::kShared, f), OsError::kNone);
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
  ASSERT_EQ(File::Create(Path("COMPANY/DATA/GLFILE01.DAT"), IfExists::kReplace, g), OsError::kNone);
  EXPECT_EQ(g.Close(), OsError::kNone);
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
  ASSERT_EQ(File::Create(longName, IfExists::kReplace, f), OsError::kNone);
  EXPECT_EQ(f.Name(), std::string(62, 'N') + "\u0E01\u0E02");
  EXPECT_EQ(f.Close(), OsError::kNone);
  EXPECT_TRUE(Exists(std::string(62, 'N') + "\u0E01\u0E02"));
  EXPECT_TRUE(FileExists(longName));
  EXPECT_EQ(DeleteFile(longName + "ignored"), OsError::kNone);
  EXPECT_FALSE(FileExists(cut));
  std::filesystem::current_path(here);

  // An absolute path is used whole, however long: the cut would name another file.
  for (size_t length : {60u, 64u, 65u, 255u, 1100u}) {
    std::string dir = dir_;
    while (dir.size() < length) dir += "/" + std::string(std::min<size_t>(200, length - dir.size()), 'd');
    ASSERT_TRUE(std::filesystem::create_directories(dir) || std::filesystem::is_directory(dir));
    const std::string name = dir + "/GLFILE01.DAT";
    File g;
    ASSERT_EQ(File::Create(name, IfExists::kFail, g), OsError::kNone) << length;
    EXPECT_EQ(g.Name(), name);
    EXPECT_EQ(g.Close(), OsError::kNone);
    EXPECT_TRUE(FileExists(name));
    EXPECT_EQ(DeleteFile(name), OsError::kNone);
    EXPECT_EQ(CreateDirectories(dir + "/\xA1/b"), OsError::kNone);
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
  EXPECT_NE(File::Open(withNul, Access::kReadOnly, Share::kShared, f), OsError::kNone);
  EXPECT_FALSE(DirectoryExists(Path("") + std::string(1, '\0')));
}

TEST_F(FileTest, RenameNeverReplacesAnExistingFile) {
  WriteRaw("X.SAV", "saved");
  WriteRaw("X.DAT", "current");
  EXPECT_EQ(RenameFile(Path("X.SAV"), Path("x.dat")), OsError::kFileExists);
  EXPECT_EQ(ReadRaw("X.SAV"), "saved");
  EXPECT_EQ(ReadRaw("X.DAT"), "current");
  ASSERT_EQ(DeleteFile(Path("x.dat")), OsError::kNone);
  ASSERT_EQ(RenameFile(Path("x.sav"), Path("X.DAT")), OsError::kNone);
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
