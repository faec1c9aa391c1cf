// Directories, environment, clock and the few other services of the operating system
// that the program needs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/File.h"

namespace kv::platform {

// Paths in and out are CP874; the conversion to the system's names is Path.h's.

// The current directory; empty when it cannot be read or CP874 cannot hold its name
// (CurrentDirectoryAsUtf8 then names it for a message).
std::string CurrentDirectory();
std::string CurrentDirectoryAsUtf8();
// kNone on success, else the Windows error number (kPathNotFound for a missing
// directory).
OsStatus ChangeDirectory(std::string_view path);
bool DirectoryExists(std::string_view path);
// One level: the parent must exist.
OsStatus CreateDirectory(std::string_view path);
// Every missing level.
OsStatus CreateDirectories(std::string_view path);
// True when the file system holding `path` lies on a removable block device.
bool IsRemovableDrive(std::string_view path);

// The names (CP874) of the plain files in directory `path`, in no order; empty when it
// cannot be listed. A name CP874 cannot hold is left out (it could name no file the
// program made).
std::vector<std::string> FileNamesIn(std::string_view path);

// Environment variable, or empty when unset.
std::string GetEnv(const char* name);
// APPDATA, or the user's configuration directory when it is unset; empty when CP874
// cannot hold it.
std::string AppDataDirectory();
// TEMP, or the system's temporary directory when it is unset; empty when CP874 cannot
// hold it (the settings then take their fallback, as for an unusable TEMP).
std::string TempDirectoryFromEnv();

struct Date {
  int year;   // Gregorian, e.g. 2026
  int month;  // 1..12
  int day;    // 1..31
};
Date Today();  // local date

// What became of a request to show a file in the desktop's viewer.
enum class ViewerResult {
  kOpened,    // handed to the viewer (it may still be starting)
  kNotFound,  // the file does not exist
  kNoViewer,  // no program is registered for it, or the one tried could not open it
};

// Opens the file `path` (CP874) in the program the desktop has for its kind, without
// waiting for that program to end: Windows the one registered for the file's extension
// (Notepad where none is), Linux xdg-open. Waits at most a few seconds for the answer.
ViewerResult OpenInViewer(std::string_view path);

void SleepMs(uint32_t milliseconds);
// Milliseconds on a clock that only moves forward (not the time of day), for measuring
// how long something has waited.
uint64_t MonotonicMs();
// Pseudo-random integer in lo..hi inclusive.
int32_t RandomInRange(int32_t lo, int32_t hi);

// From the call on, an interrupt or termination request to the process (Ctrl+C,
// SIGINT, SIGTERM, SIGHUP: a closed terminal or a dropped remote connection) no longer ends it; it is remembered for StopSignalled() so that the
// caller can stop at a safe point. Later signals of the same kind are remembered too.
void WatchStopSignals();
bool StopSignalled();

}  // namespace kv::platform
