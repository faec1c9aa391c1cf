#include "platform/System.h"

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <climits>
#include <cstdlib>
#include <random>
#include <vector>

#include "platform/File.h"
#include "platform/OsCall.h"
#include "platform/Path.h"

namespace kv::platform {

using detail::OsCall;

// Directory names are looked up ignoring ASCII case like file names, but not cut to
// 64 characters: that limit belongs to the names of the files the suite opens. Paths
// come in and go out as CP874 (Path.h).

namespace {

// The current directory as the system names it; empty when it cannot be read.
std::string SystemCurrentDirectory() {
  std::vector<char> buf(512);
  while (true) {
    char* r = nullptr;
    OsCall(Op::kDirectory, [&] { return (r = ::getcwd(buf.data(), buf.size())) != nullptr ? 0 : -1; });
    if (r != nullptr) return std::string(buf.data());
    if (errno != ERANGE || buf.size() > (1u << 20)) return std::string();
    buf.resize(buf.size() * 2);
  }
}

// A directory the system names, in CP874; empty when CP874 cannot hold its name.
std::string FromSystem(const std::string& native) {
  std::string cp874;
  return PathFromSystem(native, cp874) ? cp874 : std::string();
}

// Directory names are converted and looked up ignoring ASCII case, never cut.
std::string SystemDirectory(std::string_view path) { return detail::ResolvePath(PathToSystem(path)); }

}  // namespace

std::string CurrentDirectory() { return FromSystem(SystemCurrentDirectory()); }

std::string CurrentDirectoryAsUtf8() { return SystemCurrentDirectory(); }

bool IsAbsolutePath(std::string_view path) { return !path.empty() && path.front() == '/'; }

OsStatus ChangeDirectory(std::string_view path) {
  std::string dir = SystemDirectory(path);
  if (dir.empty()) return OsError::kPathNotFound;
  if (OsCall(Op::kDirectory, [&] { return ::chdir(dir.c_str()); }) != 0) {
    int err = errno;
    return err == ENOENT ? OsError::kPathNotFound : WinErrorFromErrno(err);
  }
  return OsError::kNone;
}

bool DirectoryExists(std::string_view path) {
  if (path.empty()) return false;
  return detail::IsDirectory(SystemDirectory(path));
}

namespace {

std::string WithoutTrailingSlashes(std::string_view path) {
  std::string p(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

}  // namespace

OsStatus CreateDirectory(std::string_view path) {
  std::string dir = SystemDirectory(WithoutTrailingSlashes(path));
  if (dir.empty()) return OsError::kPathNotFound;
  if (OsCall(Op::kDirectory, [&] { return ::mkdir(dir.c_str(), 0777); }) != 0) {
    int err = errno;
    return err == ENOENT ? OsError::kPathNotFound : WinErrorFromErrno(err);
  }
  return OsError::kNone;
}

OsStatus CreateDirectories(std::string_view path) {
  std::string dir = SystemDirectory(WithoutTrailingSlashes(path));
  if (dir.empty()) return OsError::kPathNotFound;
  if (detail::IsDirectory(dir)) return OsError::kNone;
  // Create each missing level from the top; levels that exist (or appear meanwhile) are
  // fine, anything else on the way that is not a directory fails.
  size_t pos = 0;
  do {
    pos = dir.find('/', pos + 1);
    std::string level = dir.substr(0, pos);
    if (level.back() == '/' || detail::IsDirectory(level)) continue;
    if (OsCall(Op::kDirectory, [&] { return ::mkdir(level.c_str(), 0777); }) == 0) continue;
    int err = errno;
    if (err == EEXIST && detail::IsDirectory(level)) continue;
    // A file standing where a directory should be makes the path impossible.
    if (err == EEXIST || err == ENOENT || err == ENOTDIR) return OsError::kPathNotFound;
    return WinErrorFromErrno(err);
  } while (pos != std::string::npos);
  return OsError::kNone;
}

namespace {

// "1" in a sysfs attribute file; false when it cannot be read. (Such files claim a
// size of a whole page, so they are read up to their real end, not by their size.)
bool SysfsFlag(const std::string& path) {
  File f;
  if (File::Open(path, Access::kReadOnly, Share::kShared, f)) return false;
  char text[8] = {};
  size_t done = 0;
  return !f.ReadAt(0, text, sizeof text, done) && done > 0 && text[0] == '1';
}

}  // namespace

// The block device of the file system holding `path`, as /sys/dev/block/MAJ:MIN. A
// partition has no "removable" attribute worth reading; its disk, the parent
// directory in sysfs, has. Anything unknown (network file systems, overlay mounts,
// no sysfs) counts as not removable.
bool IsRemovableDrive(std::string_view path) {
  struct stat st;
  if (detail::StatPath(SystemDirectory(path), st) != 0) return false;
  std::string node = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
  if (SysfsFlag(node + "/removable")) return true;
  struct stat partition;
  if (detail::StatPath(node + "/partition", partition) != 0) return false;
  return SysfsFlag(node + "/../removable");
}

std::string GetEnv(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? std::string(v) : std::string();
}

namespace {

std::string HomeDirectory() {
  std::string home = GetEnv("HOME");
  if (!home.empty()) return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr && found->pw_dir)
    return found->pw_dir;
  return std::string();
}

}  // namespace

std::string AppDataDirectory() {
  std::string v = GetEnv("APPDATA");
  if (v.empty()) v = GetEnv("XDG_CONFIG_HOME");
  if (v.empty()) {
    std::string home = HomeDirectory();
    if (!home.empty()) v = home + "/.config";
  }
  return FromSystem(v);
}

std::string TempDirectoryFromEnv() {
  std::string v = GetEnv("TEMP");
  if (v.empty()) v = GetEnv("TMPDIR");
  if (v.empty()) v = "/tmp";
  return FromSystem(v);
}

Date Today() {
  time_t now = ::time(nullptr);
  tm local{};
  ::localtime_r(&now, &local);
  return Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

void SleepMs(uint32_t milliseconds) {
  timespec ts{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1'000'000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

uint64_t MonotonicMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1'000'000u;
}

int32_t RandomInRange(int32_t lo, int32_t hi) {
  if (hi < lo) std::swap(lo, hi);
  thread_local std::mt19937 engine{std::random_device{}()};
  std::uniform_int_distribution<int32_t> pick(lo, hi);
  return pick(engine);
}

namespace {
// Set by the handler only; lock-free, so storing it is safe inside a signal handler.
std::atomic<bool> stopSignalled{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnStopSignal(int) { stopSignalled.store(true, std::memory_order_relaxed); }
}  // namespace

void WatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Interrupted reads, writes and lock calls restart, so the engine never sees the
  // signal as a failed call.
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  // A closed terminal or a dropped remote connection stops the run like SIGTERM, with
  // the module closed and the report given its closing line.
  ::sigaction(SIGHUP, &action, nullptr);
}

bool StopSignalled() { return stopSignalled.load(std::memory_order_relaxed); }

std::vector<std::string> FileNamesIn(std::string_view path) {
  std::vector<std::string> names;
  const std::string dir = PathToSystem(path);
  DIR* d = dir.empty() ? nullptr : ::opendir(dir.c_str());
  if (!d) return names;
  while (const dirent* e = ::readdir(d)) {
    const std::string full = dir + "/" + e->d_name;
    struct stat st {};
    std::string name;
    if (::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && PathFromSystem(e->d_name, name)) {
      names.push_back(std::move(name));
    }
  }
  ::closedir(d);
  return names;
}

namespace {
// Viewers still running when OpenInViewer stopped waiting: reaped by later calls, so
// they do not linger as zombies while the program runs.
std::vector<pid_t> pendingViewers;

void ReapViewers() {
  std::erase_if(pendingViewers, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
}
}  // namespace

ViewerResult OpenInViewer(std::string_view path) {
  ReapViewers();
  const std::string native = PathToSystem(path);
  struct stat st {};
  if (native.empty() || ::stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return ViewerResult::kNotFound;
  // xdg-open asks the desktop for the program of the file's kind; its own messages
  // would land on the terminal the program was started from, if any.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string program = "xdg-open";
  std::vector<char*> argv = {program.data(), const_cast<char*>(native.c_str()), nullptr};
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return ViewerResult::kNoViewer;
  // xdg-open ends once the desktop took the file, with a status that says whether a
  // program could open it; where it runs the viewer itself it does not end, and that
  // viewer has the file.
  for (int waited = 0; waited < 5000; waited += 50) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ViewerResult::kOpened : ViewerResult::kNoViewer;
    }
    if (done < 0 && errno != EINTR) return ViewerResult::kNoViewer;
    SleepMs(50);
  }
  pendingViewers.push_back(pid);
  return ViewerResult::kOpened;
}

}  // namespace kv::platform
