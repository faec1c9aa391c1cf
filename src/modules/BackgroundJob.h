// One job at a time on a second thread: the walk judges one read-ahead run there while
// the engine reads the next, so copying bytes out of the file and judging them overlap.
// On a machine with a single core the job runs inline in Start: a second thread would
// only take turns with the first.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace kv::modules {

class BackgroundJob {
 public:
  // inlineOnly: never start a thread (what a single-core machine gets anyway).
  explicit BackgroundJob(bool inlineOnly = false);
  ~BackgroundJob();  // waits for a job still running
  BackgroundJob(const BackgroundJob&) = delete;
  BackgroundJob& operator=(const BackgroundJob&) = delete;

  // Starts `job`; a job started before must have been waited for.
  void Start(std::function<void()> job);
  // Waits for the job started last; rethrows what it threw. Returns at once when no
  // job is running.
  void Wait();

 private:
  void Loop();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> job_;
  std::exception_ptr failure_;
  bool pending_ = false;  // a job was started and not yet finished
  bool stop_ = false;
  std::thread thread_;  // last: started once everything above exists
};

}  // namespace kv::modules
