// What a replace does with POSIX owners, modes, descriptors' locks and symbolic links.
#include "platform/PlainFile.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempDir.h"

namespace kv::platform {
namespace {

class PlainFilePosixTest : public testing::TempDirTest {};

// A replaced file keeps its owner, group and mode. Where they cannot be given to a new
// file (not root, the file belongs to another user), it is rewritten in place.
TEST_F(PlainFilePosixTest, ReplacedFileKeepsOwnerGroupAndMode) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can make files of other owners";
  struct stat st;
  auto statOf = [&](const char* name) {
    EXPECT_EQ(::stat(Path(name).c_str(), &st), 0) << name;
    return st;
  };
  WriteRaw("GLINFO.DAT", "old");
  ASSERT_EQ(::chown(Path("GLINFO.DAT").c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chmod(Path("GLINFO.DAT").c_str(), 0640), 0);
  const ino_t oldInode = statOf("GLINFO.DAT").st_ino;
  ASSERT_EQ(ReplaceFileAtomically(Path("GLINFO.DAT"), "new content"), OsError::kNone);
  statOf("GLINFO.DAT");
  EXPECT_NE(st.st_ino, oldInode);  // renamed over the old file
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadRaw("GLINFO.DAT"), "new content");

  // As user nobody, in a directory it may write, a file of root's: written in place,
  // longer and then shorter than before.
  ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);
  WriteRaw("KORVA.CFG", "0123456789");
  ASSERT_EQ(::chmod(Path("KORVA.CFG").c_str(), 0666), 0);
  const ino_t cfgInode = statOf("KORVA.CFG").st_ino;
  for (const std::string& bytes : {std::string(100, 'L'), std::string("short")}) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const bool dropped = ::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
                           ::setresuid(65534, 65534, 65534) == 0;
      ::_exit(!dropped ? 99 : ReplaceFileAtomically(Path("KORVA.CFG"), bytes) == OsError::kNone ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    statOf("KORVA.CFG");
    EXPECT_EQ(st.st_ino, cfgInode);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    EXPECT_EQ(ReadRaw("KORVA.CFG"), bytes);
  }
  EXPECT_TRUE(Others({"GLINFO.DAT", "KORVA.CFG"}).empty());
}

// A temporary of a killed run is removed by the next replace of its file; one that a
// running program holds, and names of any other shape, stay.
TEST_F(PlainFilePosixTest, LeftoverTemporaryIsRemovedByTheNextReplace) {
  const std::vector<std::string> stay = {"USERDRV.INI", "USERDRV.INI.~tmp12x", "USERDRV.INI.~tmp",
                                         "USERDRV.INI.~tmp12345678901", "OTHER.INI.~tmp77",
                                         "USERDRV.INI.~tmp55"};
  for (const std::string& name : stay) WriteRaw(name, "x");
  WriteRaw("USERDRV.INI.~tmp4194999", "left by a killed run");
  WriteRaw("USERDRV.INI.~tmp66", "left by another killed run");
  // USERDRV.INI.~tmp55 is being written by a running program: it holds the lock.
  const int held = ::open(Path("USERDRV.INI.~tmp55").c_str(), O_RDWR);
  ASSERT_GE(held, 0);
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  ASSERT_EQ(::fcntl(held, F_OFD_SETLK, &fl), 0);
  // A symbolic link of that shape is neither followed nor removed.
  ASSERT_EQ(::symlink("OTHER.INI.~tmp77", Path("USERDRV.INI.~tmp67").c_str()), 0);
  std::vector<std::string> after = stay;
  after.push_back("USERDRV.INI.~tmp67");

  ASSERT_EQ(ReplaceFileAtomically(Path("USERDRV.INI"), "new"), OsError::kNone);
  EXPECT_EQ(ReadRaw("USERDRV.INI"), "new");
  EXPECT_TRUE(Others(after).empty());
  for (const std::string& name : after) EXPECT_TRUE(Exists(name)) << name;
  ::close(held);
  ASSERT_EQ(ReplaceFileAtomically(Path("USERDRV.INI"), "again"), OsError::kNone);
  EXPECT_FALSE(Exists("USERDRV.INI.~tmp55"));
}

}  // namespace
}  // namespace kv::platform
