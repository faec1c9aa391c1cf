// Counters and fault injection for every call the platform makes to the OS.
//
// Counting is always on (a relaxed atomic add per call) so that benchmarks can report
// system calls per record. Faults and the simulated network delay are off unless a
// test or a benchmark switches them on; the check costs one load per call.
#pragma once

#include <cstdint>

namespace kv::platform {

enum class Op : int {
  kOpen, kCreate, kRead, kWrite, kFlush, kTruncate, kSize, kClose,
  kLock, kUnlock, kDelete, kRename,
  kStat,       // existence and type checks, directory listings for the name lookup
  kDirectory,  // current directory, change and create directory
  kCount
};

struct CallCounts {
  uint64_t calls[static_cast<int>(Op::kCount)] = {};
  uint64_t Total() const;
};
CallCounts GetCallCounts();
void ResetCallCounts();

enum class FaultKind {
  kError,       // the call fails with `errnoValue` (EIO, ENOSPC, ...)
  kShortCount,  // a read or write moves fewer bytes than asked (half, at least 0)
};

// Fail the nth call (1-based, counted from when the plan is set) of operation `op`;
// with persistent, that call and every later one of the same operation.
// A short-count fault on an operation that moves no bytes fails it with `errnoValue`.
struct FaultPlan {
  Op op = Op::kRead;
  uint64_t nth = 0;  // 0 = no fault
  bool persistent = false;
  FaultKind kind = FaultKind::kError;
  int errnoValue = 5;  // EIO
};
void SetFaultPlan(const FaultPlan& plan);
void ClearFaults();
// Number of faults injected since the plan was set.
uint64_t FaultsInjected();

// Adds a fixed delay to every file operation and lock call (a simulated network
// share). 0 switches it off. Also read once from KVFIX_SIM_DELAY_US at first use.
void SetCallDelayMicros(uint32_t micros);
uint64_t DelayedCalls();

// Windows' rule for byte-range locks, imposed on a system whose locks are advisory (a
// test mode of the POSIX half; the Win32 half has the real rule). On Windows a lock is
// mandatory: a read of a range that another handle has locked fails with
// kLockViolation, and so does a write. Neither Linux nor Wine enforces that, so without
// this mode no test would ever meet a record another station holds the way the
// program meets it where the suite runs. When on, every read first asks whether another
// open file holds a write lock over its range, every write whether another holds any
// lock, and fails with kLockViolation if so; a file's own locks never stand in its way,
// as for the locking handle on Windows. Off unless KVFIX_WINDOWS_LOCKS is set (to
// anything but "" or "0"), read once at first use; tests may switch it.
void SetWindowsLockRule(bool on);
bool WindowsLockRule();

}  // namespace kv::platform
