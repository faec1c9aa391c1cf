#include "FuzzSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace kv::fuzz {

namespace {

constexpr rlim_t kFileSizeLimit = 64ull << 20;

std::string* g_scratch = nullptr;

void RemoveScratch() {
  if (g_scratch == nullptr) return;
  if (DIR* dir = opendir(g_scratch->c_str())) {
    std::vector<std::string> names;
    while (dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    for (const std::string& name : names) unlink((*g_scratch + "/" + name).c_str());
  }
  rmdir(g_scratch->c_str());
}

std::string Path(std::string_view name) { return ScratchDirectory() + "/" + std::string(name); }

}  // namespace

const std::string& ScratchDirectory() {
  if (g_scratch == nullptr) {
    // Memory-backed when possible: each execution rewrites its files, and on a disk
    // file system every rewrite costs a write-back.
    std::string base = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') base = tmp;
    if (access("/dev/shm", W_OK | X_OK) == 0) base = "/dev/shm";
    if (const char* own = std::getenv("KV_FUZZ_TMPDIR"); own != nullptr && *own != '\0') base = own;
    std::string pattern = base + "/kvfuzz.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) Fail("cannot make a scratch directory", pattern);
    g_scratch = new std::string(pattern);
    std::atexit(RemoveScratch);

    // Too large a write fails with EFBIG instead of raising SIGXFSZ.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur > kFileSizeLimit) {
      limit.rlim_cur = kFileSizeLimit;
      setrlimit(RLIMIT_FSIZE, &limit);
    }
  }
  return *g_scratch;
}

namespace {

void WriteAll(int fd, const std::string& path, std::string_view bytes) {
  if (fd < 0) Fail("cannot write a scratch file", path);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("cannot write a scratch file", path);
    done += static_cast<size_t>(n);
  }
  close(fd);
}

}  // namespace

std::string WriteScratchFile(std::string_view name, std::string_view bytes) {
  const std::string path = Path(name);
  unlink(path.c_str());  // a new file: truncating one in place forces a write-back
  WriteAll(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644), path, bytes);
  return path;
}

void OverwriteScratchFile(std::string_view name, std::string_view bytes) {
  const std::string path = Path(name);
  WriteAll(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644), path, bytes);
}

void RemoveScratchFile(std::string_view name) { unlink(Path(name).c_str()); }

std::string ReadScratchFile(std::string_view name) {
  std::string bytes;
  const int fd = open(Path(name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return bytes;
}

bool Verbose() {
  static const bool verbose = [] {
    const char* v = std::getenv("KV_FUZZ_VERBOSE");
    return v != nullptr && *v != '\0' && *v != '0';
  }();
  return verbose;
}

void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace kv::fuzz

// Forcing scratch files to disk buys the fuzzer nothing and costs it most of its
// speed (settings and list files are replaced with a sync each time). These take the
// place of the C library's for the fuzz programs only.
extern "C" int fsync(int) { return 0; }
extern "C" int fdatasync(int) { return 0; }
