#include "support/Host.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kv::test {

std::string NoForkReason() { return {}; }
int ForkProcess() { return static_cast<int>(::fork()); }

int WaitForExit(int pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ExitChild(int code) { ::_exit(code); }

void ExecProgram(const std::string& path, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(path.c_str(), argv.data());
  ::_exit(4);
}

bool MakePipe(int fds[2]) { return ::pipe(fds) == 0; }

int StartProgram(const std::vector<std::string>& args) {
  if (args.empty()) return -1;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  return static_cast<int>(pid);
}

std::string ProgramPath(const std::string& dir, const std::string& name) { return dir + "/" + name; }

std::string NoPermissionBitsReason() { return ::geteuid() == 0 ? "root passes every permission check" : ""; }

void SetEnvVar(const std::string& name, const char* value) {
  if (value != nullptr) ::setenv(name.c_str(), value, 1);
  else ::unsetenv(name.c_str());
}

std::tm LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return local;
}

int QuotaFullErrno() { return EDQUOT; }
bool HostIsWindows() { return false; }

}  // namespace kv::test
