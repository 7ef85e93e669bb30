// SPDX-License-Identifier: GPL-3.0-or-later
// The contract of a job in the window's one worker template, for any job of the one shape: its
// figures reach the window in order, a pause holds it and a stop ends it with a stopped outcome,
// also a stop asked from inside a hand-over; a job that throws ends failed with its message; and
// a hand-over that throws on the window's side ends the job failed, lets the window go on, and
// never leaves the worker waiting. Also run under ThreadSanitizer. The tests wait on gates and on
// the runner's own state, never for time to pass.
#include "ui/WorkerRunner.h"

#include <QTest>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace kx;
using namespace kx::ui;

namespace {

struct TSteps {
  TkxJobOutcome Outcome;
  int Taken = 0;
};
using TStepsWorker = TJobWorker<TSteps, int>;

// A job of Steps steps that asks its control before each and pushes the step's number after it;
// step ThrowAt throws instead.
std::shared_ptr<TStepsWorker> StepsWorker(int Steps, int ThrowAt = 0, bool StartPaused = false)
{
  return std::make_shared<TStepsWorker>(
      [Steps, ThrowAt](TkxJobControl& Control, const TkxProgressSink<int>& Progress) {
        TSteps done;
        for (int step = 1; step <= Steps; ++step) {
          if (Control.ShouldStop()) {
            done.Outcome = TkxJobOutcome::Stopped();
            break;
          }
          if (step == ThrowAt) throw std::runtime_error("part 2 vanished");
          done.Taken = step;
          Progress(step);
        }
        return done;
      },
      StartPaused);
}

// What the window saw of one worker.
struct TSeen {
  std::vector<int> Figures;
  std::vector<std::string> Ends;  // the reason of each end shown: "" when it did not fail
  int Ended = 0;                  // the runner's word that the worker ended
};

void Watch(TWorkerRunner& Runner, const std::shared_ptr<TStepsWorker>& Worker, TSeen& Seen)
{
  Worker->ShowFigures = [&Seen](int Step) { Seen.Figures.push_back(Step); };
  Worker->ShowEnd = [&Seen](const TSteps& End) { Seen.Ends.push_back(End.Outcome.Reason); };
  Runner.Add(Worker, [&Seen](TWorker&) { ++Seen.Ended; });
}

}  // namespace

class JobContractTest : public QObject {
  Q_OBJECT

 private slots:
  void StartedPausedItWaitsAndResumedItRunsToItsEndWithEveryFigure()
  {
    TWorkerRunner runner;
    TSeen seen;
    const auto worker = StepsWorker(5, 0, true);
    Watch(runner, worker, seen);
    runner.Start(*worker);
    QVERIFY(worker->Running());
    worker->Control().Resume();
    QTRY_COMPARE(seen.Ended, 1);
    QVERIFY(!worker->Running());
    QVERIFY(worker->Result().Outcome.IsCompleted());
    QCOMPARE(worker->Result().Taken, 5);
    QCOMPARE(seen.Figures, (std::vector<int>{1, 2, 3, 4, 5}));
    QCOMPARE(seen.Ends, std::vector<std::string>{""});
  }

  // The window stops the job from inside a hand-over, as a Cancel pressed while figures come.
  void StoppedDuringAHandOverItEndsStoppedWithoutAnotherStep()
  {
    TWorkerRunner runner;
    TSeen seen;
    const auto worker = StepsWorker(10);
    Watch(runner, worker, seen);
    worker->ShowFigures = [&seen, w = worker.get()](int Step) {
      seen.Figures.push_back(Step);
      if (Step == 3) w->Control().RequestStop();
    };
    runner.Start(*worker);
    QTRY_COMPARE(seen.Ended, 1);
    QVERIFY(worker->Result().Outcome.IsStopped());
    QCOMPARE(worker->Result().Taken, 3);
    QCOMPARE(seen.Figures, (std::vector<int>{1, 2, 3}));
  }

  void AJobThatThrowsEndsFailedWithItsMessage()
  {
    TWorkerRunner runner;
    TSeen seen;
    const auto worker = StepsWorker(10, 3);
    Watch(runner, worker, seen);
    runner.Start(*worker);
    QTRY_COMPARE(seen.Ended, 1);
    QVERIFY(worker->Result().Outcome.IsFailed());
    QCOMPARE(worker->Result().Outcome.Reason, std::string("part 2 vanished"));
    QCOMPARE(seen.Figures, (std::vector<int>{1, 2}));
    QCOMPARE(seen.Ends, std::vector<std::string>{"part 2 vanished"});
  }

  // The work of a hand-over throws on the window's side: the window goes on with the next
  // worker's hand-overs, and the job ends with the message instead of waiting for ever, so the
  // runner's end does not hang.
  void AHandOverThatThrowsEndsTheJobFailedAndTheWindowGoesOn()
  {
    TSeen seen;
    TSeen other;
    const auto worker = StepsWorker(10);
    const auto next = StepsWorker(3);
    {
      TWorkerRunner runner;
      Watch(runner, worker, seen);
      Watch(runner, next, other);
      worker->ShowFigures = [&seen](int Step) {
        if (Step == 2) throw std::runtime_error("cannot show the figures");
        seen.Figures.push_back(Step);
      };
      runner.Start(*worker);
      runner.Start(*next);
      QTRY_COMPARE(seen.Ended, 1);
      QTRY_COMPARE(other.Ended, 1);
    }
    QCOMPARE(worker->Result().Outcome.Reason, std::string("cannot show the figures"));
    QCOMPARE(worker->Result().Taken, 0);  // a job that throws hands over nothing it made
    QCOMPARE(seen.Figures, std::vector<int>{1});
    QCOMPARE(seen.Ends, std::vector<std::string>{"cannot show the figures"});
    QVERIFY(next->Result().Outcome.IsCompleted());
    QCOMPARE(other.Figures, (std::vector<int>{1, 2, 3}));
  }

  // Released by the window, the job is stopped, its figures and end are no longer shown, and the
  // runner still tells that it ended.
  void ReleasedItEndsStoppedAndShowsNothingMore()
  {
    TWorkerRunner runner;
    TSeen seen;
    const auto worker = StepsWorker(10, 0, true);
    Watch(runner, worker, seen);
    runner.Start(*worker);
    runner.Release(*worker);
    QTRY_COMPARE(seen.Ended, 1);
    QVERIFY(worker->Result().Outcome.IsStopped());
    QCOMPARE(worker->Result().Taken, 0);
    QVERIFY(seen.Figures.empty());
    QVERIFY(seen.Ends.empty());
  }
};

QTEST_MAIN(JobContractTest)
#include "JobContractTest.moc"
