#include "common/kxJobControl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace kx {
namespace {

// A job of steps on a thread of its own, counting the steps it took before ShouldStop said so.
struct TStepJob {
  explicit TStepJob(TkxJobControl& Control_) : Control(Control_) {}
  TkxJobControl& Control;
  std::atomic<int> Steps{0};
  std::promise<void> Waiting;  // set once the job asks its first question

  int Run(int Limit)
  {
    bool first = true;
    while (Steps < Limit) {
      if (first) Waiting.set_value();
      first = false;
      if (Control.ShouldStop()) break;
      ++Steps;
    }
    return Steps;
  }
};

TEST(TkxJobControl, OpenJobRunsToItsEndAndAStopRequestedBeforeItsStartTakesNoStep)
{
  TkxJobControl open;
  TStepJob job(open);
  EXPECT_EQ(job.Run(5), 5);

  TkxJobControl stopped;
  stopped.RequestStop();
  TStepJob none(stopped);
  EXPECT_EQ(none.Run(5), 0);
}

TEST(TkxJobControl, PausedJobWaitsAndAStopWhilePausedEndsItWithoutAnotherStep)
{
  TkxJobControl control(true);
  EXPECT_TRUE(control.Paused());
  TStepJob job(control);
  std::future<void> asking = job.Waiting.get_future();
  std::future<int> steps = std::async(std::launch::async, [&] { return job.Run(1000); });
  asking.wait();
  EXPECT_EQ(job.Steps, 0);
  control.RequestStop();
  EXPECT_EQ(steps.get(), 0);
  EXPECT_FALSE(control.Paused());
}

}  // namespace
}  // namespace kx
