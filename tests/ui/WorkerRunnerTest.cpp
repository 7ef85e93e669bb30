// SPDX-License-Identifier: GPL-3.0-or-later
// The worker runner's contract, for any job: pause, a stop while paused, a stop during a
// hand-over, a worker that outlives its dialog, and the runner's end. Also run under
// ThreadSanitizer. The tests wait on gates and on the runner's own state, never for time to pass.
#include "ui/WorkerRunner.h"

#include <QTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

using namespace kx;
using namespace kx::ui;

namespace {

// A job of Steps steps: before each it asks its control, then it hands the step's number over.
// HoldAt, when set, keeps it inside that step until Go is opened.
class TStepWorker final : public TWorker {
 public:
  explicit TStepWorker(int Steps_, bool StartPaused = false) : Steps(Steps_), JobControl(StartPaused) {}

  TkxJobControl& Control() override { return JobControl; }

  std::vector<int> Shown;   // the hand-overs that ran, on the user-interface thread
  int Ends = 0;             // how often the runner said it ended
  std::atomic<int> Taken{0};
  std::atomic<bool> Returned{false};
  int HoldAt = -1;
  std::promise<void> Holding;
  std::promise<void> Go;
  std::function<void(int)> OnShown;

 protected:
  void Execute() override
  {
    const std::shared_future<void> go = Go.get_future().share();
    for (int step = 1; step <= Steps; ++step) {
      if (JobControl.ShouldStop()) break;
      if (step == HoldAt) {
        Holding.set_value();
        go.wait();
      }
      Taken = step;
      Synchronize([this, step] {
        Shown.push_back(step);
        if (OnShown) OnShown(step);
      });
    }
    Returned = true;
  }

 private:
  const int Steps;
  TkxJobControl JobControl;
};

std::shared_ptr<TStepWorker> Add(TWorkerRunner& Runner, std::shared_ptr<TStepWorker> Worker)
{
  TStepWorker* worker = Worker.get();
  Runner.Add(Worker, [worker](TWorker& Ended) {
    [&] { QCOMPARE(&Ended, static_cast<TWorker*>(worker)); }();
    ++worker->Ends;
  });
  return Worker;
}

// A worker of 10 steps that pauses itself in its third hand-over, started; returns once that
// hand-over has run.
std::shared_ptr<TStepWorker> StartPausingAtThree(TWorkerRunner& Runner)
{
  const auto worker = Add(Runner, std::make_shared<TStepWorker>(10));
  worker->OnShown = [w = worker.get()](int Step) {
    if (Step == 3) w->Control().Pause();
  };
  Runner.Start(*worker);
  [&] { QTRY_COMPARE(worker->Shown.size(), std::size_t{3}); }();
  return worker;
}

// A job of one hand-over whose work refers to a local of the job: Work runs first (it may release
// the worker), then the work writes the local, and the job reads it once Synchronize returned.
class TLocalWorker final : public TWorker {
 public:
  TkxJobControl& Control() override { return JobControl; }

  std::function<void()> Work;
  std::atomic<int> SeenAfter{-1};
  std::promise<void> WentOn;

 protected:
  void Execute() override
  {
    int local = 0;
    Synchronize([this, &local] {
      Work();
      local = 42;
    });
    SeenAfter = local;
    WentOn.set_value();
  }

 private:
  TkxJobControl JobControl;
};

// Until a worker waits in a hand-over; the events that would run it are not processed.
void WaitForAHandOver(const TWorkerRunner& Runner)
{
  while (Runner.PendingHandOvers() == 0) std::this_thread::yield();
}

}  // namespace

class WorkerRunnerTest : public QObject {
  Q_OBJECT

 private slots:
  void PausedInAHandOverItWaitsAndResumedItRunsToItsEnd()
  {
    TWorkerRunner runner;
    const auto worker = StartPausingAtThree(runner);
    QVERIFY(worker->Control().Paused());
    worker->Control().Resume();
    QTRY_COMPARE(worker->Ends, 1);
    QCOMPARE(worker->Shown, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    QCOMPARE(runner.Outstanding(), 0);
  }

  void ReleasedWhilePausedItEndsWithoutAnotherStep()
  {
    TWorkerRunner runner;
    const auto worker = StartPausingAtThree(runner);
    runner.Release(*worker);
    QTRY_COMPARE(worker->Ends, 1);
    QCOMPARE(worker->Taken.load(), 3);
    QVERIFY(!worker->Control().Paused());
  }

  void ReleasedDuringAHandOverItGoesOnWithoutTheHandOverRunning()
  {
    TWorkerRunner runner;
    const auto worker = Add(runner, std::make_shared<TStepWorker>(5));
    runner.Start(*worker);
    WaitForAHandOver(runner);
    runner.Release(*worker);
    QTRY_COMPARE(worker->Ends, 1);
    QCOMPARE(worker->Taken.load(), 1);
    QCOMPARE(runner.PendingHandOvers(), 0);
    QVERIFY(worker->Shown.empty());
  }

  // A hand-over's work may release its own worker, as a message box's event loop does in which the
  // window closes. The worker still waits until that work has returned: the work may go on using
  // the worker's locals. The work gives a worker that would go on early a moment to do so; that
  // moment decides nothing when the runner is right, it only lets a wrong one show.
  void ReleasedFromItsOwnHandOverItWaitsUntilTheWorkHasReturned()
  {
    TWorkerRunner runner;
    const auto worker = std::make_shared<TLocalWorker>();
    int ends = 0;
    bool wentOnEarly = true;
    runner.Add(worker, [&ends](TWorker&) { ++ends; });
    worker->Work = [&runner, &wentOnEarly, w = worker.get(), wentOn = worker->WentOn.get_future().share()] {
      runner.Release(*w);
      wentOnEarly = wentOn.wait_for(std::chrono::milliseconds(100)) == std::future_status::ready;
    };
    runner.Start(*worker);
    QTRY_COMPARE(ends, 1);
    QVERIFY(!wentOnEarly);
    QCOMPARE(worker->SeenAfter.load(), 42);
    QVERIFY(worker->Released());
  }

  void WorkerThatOutlivesItsDialogTouchesNothingOfTheNextRun()
  {
    TWorkerRunner runner;
    const auto old = std::make_shared<TStepWorker>(5);
    old->HoldAt = 2;
    Add(runner, old);
    runner.Start(*old);
    QTRY_COMPARE(old->Shown.size(), std::size_t{1});
    old->Holding.get_future().wait();
    runner.Release(*old);  // its dialog ends while it is inside a step

    const auto next = Add(runner, std::make_shared<TStepWorker>(3));
    runner.Start(*next);
    QTRY_COMPARE(next->Ends, 1);
    QCOMPARE(next->Shown, (std::vector<int>{1, 2, 3}));
    QCOMPARE(runner.Outstanding(), 1);

    old->Go.set_value();
    QTRY_COMPARE(old->Ends, 1);
    QCOMPARE(old->Taken.load(), 2);
    QCOMPARE(old->Shown, std::vector<int>{1});
    QCOMPARE(next->Shown, (std::vector<int>{1, 2, 3}));
  }

  void TheRunnersEndStopsLetsGoAndWaitsForEveryWorker()
  {
    const auto unstarted = std::make_shared<TStepWorker>(5);
    const auto paused = std::make_shared<TStepWorker>(5, true);
    const auto handingOver = std::make_shared<TStepWorker>(5);
    {
      TWorkerRunner runner;
      Add(runner, unstarted);
      Add(runner, paused);
      Add(runner, handingOver);
      runner.Start(*paused);
      runner.Start(*handingOver);
      WaitForAHandOver(runner);
    }
    for (const auto& worker : {unstarted, paused, handingOver}) {
      QVERIFY(worker->Returned);
      QCOMPARE(worker->Ends, 0);  // the runner is gone: nobody is told
      QVERIFY(worker->Shown.empty());
    }
    QCOMPARE(unstarted->Taken.load(), 0);
    QCOMPARE(paused->Taken.load(), 0);
    QCOMPARE(handingOver->Taken.load(), 1);
  }
};

QTEST_MAIN(WorkerRunnerTest)
#include "WorkerRunnerTest.moc"
