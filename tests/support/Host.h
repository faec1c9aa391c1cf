// What the host system offers the tests beyond the platform layer: forked children,
// pipes, permission bits, the environment. One source per system (HostPosix.cpp and
// win32/HostWin32.cpp), chosen by the build; a test that needs what the host lacks
// skips with the reason given here.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace kv::test {

// Why a test cannot fork a copy of this process here; empty where it can.
std::string NoForkReason();
// fork(): 0 in the child, the child's id in the parent, -1 when it failed.
int ForkProcess();
// Waits for the child; its exit status, or -1 when it did not end by exiting.
int WaitForExit(int pid);
// Ends a forked child at once, without running this process's exit handlers.
[[noreturn]] void ExitChild(int code);
// Replaces a forked child by `path` with `args` (args[0] is the program's name).
[[noreturn]] void ExecProgram(const std::string& path, const std::vector<std::string>& args);
bool MakePipe(int fds[2]);
// Starts `args[0]` (looked up in PATH when it has no directory) with the arguments
// after it, without waiting; its id for WaitForExit, or -1.
int StartProgram(const std::vector<std::string>& args);
// A program of the build: "<dir>/<name>", with ".exe" on Windows.
std::string ProgramPath(const std::string& dir, const std::string& name);

// Why tests of POSIX permission bits show nothing here (root passes every check; some
// systems have no such bits); empty where they can run.
std::string NoPermissionBitsReason();

// Sets an environment variable of this process; nullptr removes it.
void SetEnvVar(const std::string& name, const char* value);
std::tm LocalTimeNow();
// The errno value of an exhausted disk quota, or of a full disk where there is none.
int QuotaFullErrno();
// True on Windows, for the few expectations that differ there by design.
bool HostIsWindows();

}  // namespace kv::test
