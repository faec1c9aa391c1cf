#include <windows.h>
#include <io.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>

#include "support/Host.h"

namespace kv::test {

std::string NoForkReason() {
  return "Windows has no fork(); the other stations run as programs of their own (kv_station)";
}
int ForkProcess() { return -1; }

namespace {

std::mutex g_mutex;
std::map<int, HANDLE> g_started;  // processes started here, by id

std::wstring Wide(const std::string& utf8) {
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  return w;
}

// One argument quoted as the C run-time of the started program splits it again.
std::wstring Quoted(const std::wstring& arg) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

}  // namespace

int StartProgram(const std::vector<std::string>& args) {
  if (args.empty()) return -1;
  std::wstring line;
  for (const std::string& a : args) line += (line.empty() ? L"" : L" ") + Quoted(Wide(a));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  ::CloseHandle(pi.hThread);
  std::lock_guard<std::mutex> lock(g_mutex);
  g_started[static_cast<int>(pi.dwProcessId)] = pi.hProcess;
  return static_cast<int>(pi.dwProcessId);
}

int WaitForExit(int pid) {
  HANDLE h = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_started.find(pid);
    if (it == g_started.end()) return -1;
    h = it->second;
    g_started.erase(it);
  }
  DWORD code = 0;
  const bool ok = ::WaitForSingleObject(h, INFINITE) == WAIT_OBJECT_0 && ::GetExitCodeProcess(h, &code);
  ::CloseHandle(h);
  return ok ? static_cast<int>(code) : -1;
}

std::string ProgramPath(const std::string& dir, const std::string& name) { return dir + "/" + name + ".exe"; }
void ExitChild(int code) { std::_Exit(code); }
void ExecProgram(const std::string&, const std::vector<std::string>&) { std::_Exit(4); }
bool MakePipe(int fds[2]) { return ::_pipe(fds, 256, 0x8000 /* _O_BINARY */) == 0; }

std::string NoPermissionBitsReason() {
  return "Windows has no POSIX permission bits (access is by ACL and the read-only attribute)";
}

void SetEnvVar(const std::string& name, const char* value) {
  // _putenv_s also sets the process environment that GetEnvironmentVariableW reads;
  // an empty value removes the variable.
  ::_putenv_s(name.c_str(), value != nullptr ? value : "");
}

std::tm LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_s(&local, &now);
  return local;
}

int QuotaFullErrno() { return ENOSPC; }
bool HostIsWindows() { return true; }

}  // namespace kv::test
