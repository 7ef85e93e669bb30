// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/kxJobControl.h"
#include "common/kxJob.h"

#include "media/SimulatedDrive.h"
#include "media/kxImageCopy.h"
#include "media/kxRescue.h"
#include "project/kxExtract.h"
#include "recognition/kxRecognition.h"
#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <new>
#include <stdexcept>
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

// ---------------------------------------------------------------------------------------------
// The contract of every long job of the core with its control, run over each job: a paused job
// takes no step until it is resumed, a stop while paused ends it without a further step and
// with a stopped outcome, a stop requested before it begins lets it take none, and a stop from a
// signal handler ends it at its next step. Each adapter runs its job on the calling thread, in
// the one shape Run(control, sink), and calls OnStep after every step with the steps done so far,
// from the figures the job pushed. The tests wait on gates that the job's thread opens, never for
// time to pass.

constexpr std::int64_t Steps = 40;

// A scan of Steps sectors, a step a sector.
struct TScanAdapter {
  TkxScanJob Job{std::make_unique<test::TMemoryDisk>(std::vector<std::uint8_t>(Steps * 2048, 1)), {false, 1, 0}};
  TkxJobControl JobControl;
  TkxJobControl& Control() { return JobControl; }
  std::int64_t Run(const std::function<void(std::int64_t)>& OnStep)
  {
    const TkxScanResult result = Job.Run(JobControl, [&](const TkxScanFigures& Figures) { OnStep(Figures.Position); });
    Outcome = result.Outcome;
    return result.Position;
  }
  TkxJobOutcome Outcome;
};

// A copy of Steps chunks into parts that are thrown away.
struct TCopyAdapter {
  struct TNoPart final : TkxPartStream {
    void WriteBuffer(const void*, std::int64_t) override {}
    void Close() override {}
  };
  TkxCopyJob Job{std::make_unique<test::TMemoryDisk>(std::vector<std::uint8_t>(Steps * 32 * 2048, 1)), "unused.iso"};
  TCopyAdapter()
  {
    Job.CreatePart = [](const std::string&) { return std::make_unique<TNoPart>(); };
  }
  TkxJobControl JobControl;
  TkxJobControl& Control() { return JobControl; }
  std::int64_t Run(const std::function<void(std::int64_t)>& OnStep)
  {
    const TkxImageCopyResult result = Job.Run(JobControl, [&](std::int64_t Done) { OnStep(Done / 32); });
    Outcome = result.Outcome;
    return result.SectorsDone / 32;
  }
  TkxJobOutcome Outcome;
};

// An extraction of Steps entries, a step a file.
struct TExtractAdapter {
  test::TScratchFolder Folder;
  test::TMemoryDisk Disk{std::vector<std::uint8_t>(2048, 1)};
  TkxFileList List;
  std::vector<std::int32_t> Rows;
  TkxJobControl JobControl;
  TExtractAdapter()
  {
    for (std::int32_t i = 0; i < Steps; ++i) {
      List.Add("f" + std::to_string(i), 0, 0, 16, false);
      Rows.push_back(i);
    }
  }
  TkxJobControl& Control() { return JobControl; }
  std::int64_t Run(const std::function<void(std::int64_t)>& OnStep)
  {
    const TkxExtractResult result = ExtractEntries(Disk, List, Rows, Folder.Dir(), TkxExtractMode::Plain, JobControl,
                                                   [&](const TkxFilesDone& Files) { OnStep(Files.Done); });
    Outcome = result.Outcome;
    return result.Written;
  }
  TkxJobOutcome Outcome;
};

// A rescue of a clean disc of Steps runs of 32 sectors, a step a read command.
struct TRescueAdapter {
  test::TScratchFolder Folder;
  test::TSimulatedDrive* Drive = nullptr;
  std::size_t Opened = 0;
  std::unique_ptr<TkxRescueJob> Job;
  TkxJobControl JobControl;
  TRescueAdapter()
  {
    auto owned = std::make_unique<test::TSimulatedDrive>(Steps * MaxSectorsPerRequest);
    Drive = owned.get();
    Job = std::make_unique<TkxRescueJob>(std::make_unique<TkxPhysicalCD>(std::move(owned)), Folder / "disc.iso");
    EXPECT_TRUE(Job->Prepare().IsCompleted());
    Opened = Drive->Commands.size();
  }
  TkxJobControl& Control() { return JobControl; }
  std::int64_t Run(const std::function<void(std::int64_t)>& OnStep)
  {
    const auto reads = [this] { return static_cast<std::int64_t>(Drive->Reads(Opened).size()); };
    Outcome = Job->Run(JobControl, [&](const TkxRescueFigures& Figures) { OnStep(Figures.Reads); }).Outcome;
    return reads();
  }
  TkxJobOutcome Outcome;
};

template <class TAdapter>
class JobContract : public ::testing::Test {
 protected:
  TAdapter Job;

  // Runs the job on a thread of its own, which pauses the job after its third step; returns once
  // it has.
  std::future<std::int64_t> StartPausingAtThree()
  {
    std::promise<void> paused;
    std::future<void> pausing = paused.get_future();
    auto steps = Start(3, [this, p = std::make_shared<std::promise<void>>(std::move(paused))] {
      Job.Control().Pause();
      p->set_value();
    });
    pausing.wait();
    return steps;
  }

  // Runs the job on a thread of its own; At, when given, runs on that thread once, after step
  // AtStep (a scan reports its last position a second time when it ends).
  std::future<std::int64_t> Start(std::int64_t AtStep, std::function<void()> At)
  {
    return std::async(std::launch::async, [this, AtStep, At = std::move(At)] {
      bool done = false;
      return Job.Run([&](std::int64_t Done) {
        if (Done != AtStep || !At || done) return;
        done = true;
        At();
      });
    });
  }
};

using TJobs = ::testing::Types<TScanAdapter, TCopyAdapter, TExtractAdapter, TRescueAdapter>;
TYPED_TEST_SUITE(JobContract, TJobs);

TYPED_TEST(JobContract, PausedBetweenStepsItWaitsAndResumedItRunsToItsEnd)
{
  auto steps = this->StartPausingAtThree();
  EXPECT_TRUE(this->Job.Control().Paused());
  this->Job.Control().Resume();
  EXPECT_EQ(steps.get(), Steps);
}

TYPED_TEST(JobContract, StoppedWhilePausedItEndsWithoutAnotherStep)
{
  auto steps = this->StartPausingAtThree();
  this->Job.Control().RequestStop();
  EXPECT_EQ(steps.get(), 3);
  EXPECT_FALSE(this->Job.Control().Paused());
  EXPECT_TRUE(this->Job.Outcome.IsStopped());
}

TYPED_TEST(JobContract, StoppedBeforeItBeginsItTakesNoStep)
{
  this->Job.Control().RequestStop();
  EXPECT_EQ(this->Start(0, {}).get(), 0);
}

TYPED_TEST(JobContract, StoppedFromASignalHandlerItEndsAtItsNextStep)
{
  auto steps = this->Start(5, [&] { this->Job.Control().RequestStopFromSignal(); });
  EXPECT_EQ(steps.get(), 5);
}

}  // namespace
}  // namespace kx

TEST(RunGuarded, CarriesWhatAJobThrowsAsItsFailure) {
  EXPECT_TRUE(kx::RunGuarded([] { return kx::TkxJobOutcome::Stopped(); }).IsStopped());
  const auto failed = kx::RunGuarded([]() -> kx::TkxJobOutcome { throw std::runtime_error("part 2 vanished"); });
  EXPECT_TRUE(failed.IsFailed());
  EXPECT_EQ(failed.Reason, "part 2 vanished");
  EXPECT_EQ(kx::RunGuarded([]() -> kx::TkxJobOutcome { throw std::bad_alloc(); }).Reason, "Out of memory");
  EXPECT_EQ(kx::RunGuarded([]() -> kx::TkxJobOutcome { throw 42; }).Reason, "Unknown error");
}
