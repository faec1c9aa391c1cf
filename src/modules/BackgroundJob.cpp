#include "modules/BackgroundJob.h"

#include <utility>

namespace kv::modules {

BackgroundJob::BackgroundJob(bool inlineOnly) {
  if (!inlineOnly && std::thread::hardware_concurrency() > 1) thread_ = std::thread([this] { Loop(); });
}

BackgroundJob::~BackgroundJob() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();  // the loop finishes a job still running before it looks at stop_
}

void BackgroundJob::Start(std::function<void()> job) {
  if (!thread_.joinable()) {
    try {
      job();
    } catch (...) {
      failure_ = std::current_exception();
    }
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = std::move(job);
    pending_ = true;
  }
  changed_.notify_all();
}

void BackgroundJob::Wait() {
  if (thread_.joinable()) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !pending_; });
  }
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void BackgroundJob::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return pending_ || stop_; });
    if (!pending_) return;  // stop_, and nothing left to do
    std::function<void()> job = std::move(job_);
    lock.unlock();
    std::exception_ptr failure;
    try {
      job();
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    failure_ = failure;
    pending_ = false;
    changed_.notify_all();
  }
}

}  // namespace kv::modules
