// SPDX-License-Identifier: GPL-3.0-or-later
// Long work of a window on a thread of its own: a worker runs one core job (a scan, an image
// copy, an extraction) and hands each display update to the user-interface thread, waiting until
// it has run, so that whatever the update reads stays still. The runner owns the workers of one
// window and the queue of their hand-overs; the window pauses, resumes and stops a job through
// the job's TkxJobControl.
//
// When the window is done with a worker (Release), the worker is asked to stop (a paused one is
// let go, one never started is started so that it can end), and from then on none of its
// hand-overs runs and it never waits for one: a worker that outlives its dialog touches nothing
// of a later run. The runner's end releases every worker and waits for it, so every worker ends
// before the runner, and with it the queue and the window, is gone. A hand-over's work may release
// its own worker (a message box's event loop in which the window closes): the worker still waits
// until that work has returned. It must not destroy the runner, which would wait for the worker.
//
// Every job of the window runs in a TJobWorker: the job's figures go to the window as hand-overs,
// and whatever the job throws, or a hand-over's work throws on this side, ends the job failed
// with that message; nothing a job does ends the program or leaves a worker waiting.
#pragma once

#include "common/kxJob.h"
#include "common/kxJobControl.h"

#include <QDialog>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QThread;

namespace kx::ui {

class TUserInteraction;
class TWorkerRunner;

// One run of a core job. A subclass holds the job and carries it out in Execute.
class TWorker : public std::enable_shared_from_this<TWorker> {
 public:
  TWorker() = default;
  TWorker(const TWorker&) = delete;
  TWorker& operator=(const TWorker&) = delete;
  virtual ~TWorker() = default;

  // The control of the job: pause, resume and stop.
  virtual TkxJobControl& Control() = 0;

  // User-interface thread only.
  bool Started() const { return IsStarted; }
  bool Released() const { return IsReleased; }

 protected:
  // The job, on the worker's thread.
  virtual void Execute() = 0;

  // From Execute: runs Work on the user-interface thread and returns when it has run. Once the
  // window has released this worker, returns at once without running it; a Work already running
  // is waited for, even when it released the worker itself (a nested event loop in which the
  // window closed), so Work may always refer to Execute's locals. What Work throws is thrown here
  // again, on the worker's thread; so is a failure to queue it.
  void Synchronize(const std::function<void()>& Work);

 private:
  friend class TWorkerRunner;

  TWorkerRunner* Runner = nullptr;
  QThread* Thread = nullptr;
  bool IsStarted = false;
  bool IsReleased = false;
  // Set, with release, as the worker's last act; the runner reads it before it says the worker
  // has ended, so that everything Execute wrote is visible to the window, also to the thread
  // checker, which does not see the order that Qt's own locks give.
  std::atomic<bool> Finished{false};
  // Guarded by the runner's lock.
  bool HandOversClosed = false;
  bool HandOverRunning = false;  // its Work runs on the user-interface thread now
  std::uint64_t Posted = 0;
  std::uint64_t Done = 0;
  std::exception_ptr Thrown;  // by the Work that ran last, for the worker to throw again
};

// A core job in the one shape of every long job, Run(TkxJobControl&, TkxProgressSink<TFigures>)
// returning a TResult that holds a TkxJobOutcome Outcome, run by a worker. Its figures are shown
// by ShowFigures, its end by ShowEnd, both on the user-interface thread and only while the window
// holds the worker (the runner's Ended is told in any case). A job that throws ends failed with
// what it threw as the reason.
template <class TResult, class TFigures>
class TJobWorker final : public TWorker {
 public:
  using TJob = std::function<TResult(TkxJobControl&, const TkxProgressSink<TFigures>&)>;

  explicit TJobWorker(TJob Job_, bool StartPaused = false) : Job(std::move(Job_)), JobControl(StartPaused) {}

  // Set before the worker starts. Worth, on the worker's thread, says whether figures are worth a
  // hand-over: a job may push them far more often than a window can show them.
  std::function<void(const TFigures&)> ShowFigures;
  std::function<void(const TResult&)> ShowEnd;
  std::function<bool(const TFigures&)> Worth;

  TkxJobControl& Control() override { return JobControl; }
  // False once the result is written; a thread that sees false may read it.
  bool Running() const { return IsRunning.load(std::memory_order_acquire); }
  const TResult& Result() const { return Output; }

 protected:
  void Execute() override
  {
    const TkxProgressSink<TFigures> sink = [this](const TFigures& Figures) {
      if (ShowFigures && (!Worth || Worth(Figures))) Synchronize([&] { ShowFigures(Figures); });
    };
    Output = GuardedResult<TResult>([&] { return Job(JobControl, sink); });
    // What the job holds, a drive above all, is let go as soon as it has ended.
    Job = nullptr;
    IsRunning.store(false, std::memory_order_release);
    // A display of the end that throws changes nothing of the result: the runner's Ended is
    // still told, and reads it.
    if (ShowEnd) {
      (void)RunGuarded([this] {
        Synchronize([this] { ShowEnd(Output); });
        return TkxJobOutcome::Completed();
      });
    }
  }

 private:
  TJob Job;
  TkxJobControl JobControl;
  std::atomic<bool> IsRunning{true};
  TResult Output;
};

class TWorkerRunner : public QObject {
  Q_OBJECT

 public:
  using TEnded = std::function<void(TWorker&)>;

  explicit TWorkerRunner(QObject* Parent = nullptr);
  // Releases every worker that has not ended and waits for it.
  ~TWorkerRunner() override;

  // Takes Worker, without starting it. Ended runs on this thread once the worker has ended,
  // whether or not the window still holds it; the worker's thread has then been joined.
  void Add(std::shared_ptr<TWorker> Worker, TEnded Ended);
  // Starts a worker that was added and has not started yet.
  void Start(TWorker& Worker);
  // The window is done with Worker: see the head of this file.
  void Release(TWorker& Worker);

  // Workers added that have not ended yet, released ones included.
  int Outstanding() const { return static_cast<int>(Workers.size()); }
  // Hand-overs queued that this thread has not run, or dropped, yet.
  int PendingHandOvers() const;

 private:
  friend class TWorker;

  struct TEntry {
    std::shared_ptr<TWorker> Worker;
    TEnded Ended;
  };
  struct THandOver {
    std::shared_ptr<TWorker> Worker;
    std::function<void()> Work;
    std::uint64_t Ticket;
  };

  void HandOver(TWorker& Worker, const std::function<void()>& Work);
  void RunHandOvers();
  void WorkerEnded(TWorker* Worker);

  std::vector<TEntry> Workers;
  mutable std::mutex Lock;
  std::condition_variable HandedOver;
  std::deque<THandOver> Queue;
};

// A progress dialog of long work: a tool window that stays on top, shows one worker at a time and
// runs its workers on its runner, which ends, every worker ended, before the dialog's controls
// are gone.
class TWorkerDialog : public QDialog {
 public:
  explicit TWorkerDialog(TUserInteraction& Ui_, QWidget* Parent = nullptr)
      : QDialog(Parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint), Ui(Ui_)
  {
  }

  // Workers that have not ended yet, of this and earlier runs.
  int OutstandingWorkers() const { return Runner.Outstanding(); }

 protected:
  TUserInteraction& Ui;
  TWorkerRunner Runner;
};

}  // namespace kx::ui
