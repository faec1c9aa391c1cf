#include "platform/Faults.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/OsCall.h"

namespace kv::platform {
namespace {

constexpr int kOps = static_cast<int>(Op::kCount);

std::atomic<uint64_t> g_calls[kOps];
std::atomic<uint64_t> g_delayed{0};

// The plan is read under the mutex, and only when g_planActive says there is one.
std::atomic<bool> g_planActive{false};
std::mutex g_planMutex;
FaultPlan g_plan;
uint64_t g_planSeen = 0;
std::atomic<uint64_t> g_injected{0};

uint32_t DelayFromEnvironment() {
  const char* v = std::getenv("KVFIX_SIM_DELAY_US");
  if (v == nullptr || *v == '\0') return 0;
  char* end = nullptr;
  unsigned long n = std::strtoul(v, &end, 10);
  if (end == v || *end != '\0' || n > 10'000'000UL) return 0;  // at most 10 s per call
  return static_cast<uint32_t>(n);
}

std::atomic<uint32_t>& Delay() {
  static std::atomic<uint32_t> delay{DelayFromEnvironment()};
  return delay;
}

bool WindowsLocksFromEnvironment() {
  const char* v = std::getenv("KVFIX_WINDOWS_LOCKS");
  return v != nullptr && *v != '\0' && !(v[0] == '0' && v[1] == '\0');
}

std::atomic<bool>& WindowsLocks() {
  static std::atomic<bool> on{WindowsLocksFromEnvironment()};
  return on;
}

void SleepMicros(uint32_t micros) { std::this_thread::sleep_for(std::chrono::microseconds(micros)); }

}  // namespace

uint64_t CallCounts::Total() const {
  uint64_t sum = 0;
  for (uint64_t c : calls) sum += c;
  return sum;
}

CallCounts GetCallCounts() {
  CallCounts counts;
  for (int i = 0; i < kOps; ++i) counts.calls[i] = g_calls[i].load(std::memory_order_relaxed);
  return counts;
}

void ResetCallCounts() {
  for (auto& c : g_calls) c.store(0, std::memory_order_relaxed);
}

void SetFaultPlan(const FaultPlan& plan) {
  std::lock_guard<std::mutex> lock(g_planMutex);
  g_plan = plan;
  g_planSeen = 0;
  g_injected.store(0, std::memory_order_relaxed);
  g_planActive.store(plan.nth != 0, std::memory_order_release);
}

void ClearFaults() {
  std::lock_guard<std::mutex> lock(g_planMutex);
  g_plan = FaultPlan{};
  g_planSeen = 0;
  g_planActive.store(false, std::memory_order_release);
}

uint64_t FaultsInjected() { return g_injected.load(std::memory_order_relaxed); }

void SetCallDelayMicros(uint32_t micros) { Delay().store(micros, std::memory_order_relaxed); }

uint64_t DelayedCalls() { return g_delayed.load(std::memory_order_relaxed); }

void SetWindowsLockRule(bool on) { WindowsLocks().store(on, std::memory_order_relaxed); }

bool WindowsLockRule() { return WindowsLocks().load(std::memory_order_relaxed); }

namespace detail {

Gate EnterCall(Op op) {
  int index = static_cast<int>(op);
  g_calls[index].fetch_add(1, std::memory_order_relaxed);

  if (uint32_t micros = Delay().load(std::memory_order_relaxed); micros != 0) {
    g_delayed.fetch_add(1, std::memory_order_relaxed);
    SleepMicros(micros);
  }

  Gate gate;
  if (!g_planActive.load(std::memory_order_acquire)) return gate;
  std::lock_guard<std::mutex> lock(g_planMutex);
  if (g_plan.nth == 0 || g_plan.op != op) return gate;
  ++g_planSeen;
  bool hit = g_planSeen == g_plan.nth || (g_plan.persistent && g_planSeen > g_plan.nth);
  if (!hit) return gate;
  g_injected.fetch_add(1, std::memory_order_relaxed);
  bool moves = op == Op::kRead || op == Op::kWrite;
  if (g_plan.kind == FaultKind::kShortCount && moves) {
    gate.short_ = true;
  } else {
    gate.err = g_plan.errnoValue != 0 ? g_plan.errnoValue : EIO;
  }
  return gate;
}

}  // namespace detail
}  // namespace kv::platform
