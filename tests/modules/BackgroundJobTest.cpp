// The second thread of the walk: jobs run one at a time, Wait sees their results, a
// failure comes back to the caller, and the inline form behaves the same.
#include "modules/BackgroundJob.h"

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace kv::modules {
namespace {

TEST(BackgroundJob, RunsJobsInTurnAndHandsBackFailures) {
  for (const bool inlineOnly : {false, true}) {
    SCOPED_TRACE(inlineOnly ? "inline" : "thread");
    BackgroundJob job(inlineOnly);
    job.Wait();  // nothing started: returns at once
    std::vector<int> seen;
    for (int i = 0; i < 1000; ++i) {
      job.Start([&seen, i] { seen.push_back(i); });  // the caller touches `seen` only after Wait
      job.Wait();
      ASSERT_EQ(seen.size(), static_cast<size_t>(i + 1));
      ASSERT_EQ(seen.back(), i);
    }
    job.Start([] { throw std::runtime_error("judging failed"); });
    EXPECT_THROW(job.Wait(), std::runtime_error);
    job.Wait();  // the failure was handed back once
    job.Start([&seen] { seen.clear(); });
    job.Wait();
    EXPECT_TRUE(seen.empty());
  }
}

TEST(BackgroundJob, DestructionWaitsForARunningJob) {
  std::atomic<bool> finished{false};
  {
    BackgroundJob job;
    job.Start([&finished] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      finished = true;
    });
  }
  EXPECT_TRUE(finished);
}

}  // namespace
}  // namespace kv::modules
