// Directories, environment, clock and the few other services of the operating system
// that the program needs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv::platform {

std::string CurrentDirectory();
// True for a path that does not depend on the current directory: "/..."; on Windows
// also "C:\..." or "C:/..." and "\\server\share\..." (either slash), not "C:dir".
bool IsAbsolutePath(std::string_view path);
// 0 on success, else a Windows error number (3 for a missing directory).
int32_t ChangeDirectory(std::string_view path);
bool DirectoryExists(std::string_view path);
// One level: the parent must exist.
int32_t CreateDirectory(std::string_view path);
// Every missing level.
int32_t CreateDirectories(std::string_view path);
// True when the file system holding `path` lies on a removable block device.
bool IsRemovableDrive(std::string_view path);

// Environment variable, or empty when unset.
std::string GetEnv(const char* name);
// APPDATA, or the user's configuration directory when it is unset.
std::string AppDataDirectory();
// TEMP, or the system's temporary directory when it is unset.
std::string TempDirectoryFromEnv();

struct Date {
  int year;   // Gregorian, e.g. 2026
  int month;  // 1..12
  int day;    // 1..31
};
Date Today();  // local date

void SleepMs(uint32_t milliseconds);
// Pseudo-random integer in lo..hi inclusive.
int32_t RandomInRange(int32_t lo, int32_t hi);

}  // namespace kv::platform
