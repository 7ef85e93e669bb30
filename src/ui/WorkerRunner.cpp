// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/WorkerRunner.h"

#include <QThread>

#include <algorithm>
#include <utility>

namespace kx::ui {

void TWorker::Synchronize(const std::function<void()>& Work) { Runner->HandOver(*this, Work); }

TWorkerRunner::TWorkerRunner(QObject* Parent) : QObject(Parent) {}

TWorkerRunner::~TWorkerRunner()
{
  for (const TEntry& entry : Workers) Release(*entry.Worker);
  for (const TEntry& entry : Workers) {
    entry.Worker->Thread->wait();
    delete entry.Worker->Thread;
    entry.Worker->Thread = nullptr;
  }
}

void TWorkerRunner::Add(std::shared_ptr<TWorker> Worker, TEnded Ended)
{
  TWorker* worker = Worker.get();
  worker->Runner = this;
  worker->Thread = QThread::create([worker] {
    // A job that escapes its guard still ends its worker, not the program.
    try {
      worker->Execute();
    } catch (...) {
    }
    worker->Finished.store(true, std::memory_order_release);
  });
  connect(worker->Thread, &QThread::finished, this, [this, worker] { WorkerEnded(worker); });
  Workers.push_back({std::move(Worker), std::move(Ended)});
}

void TWorkerRunner::Start(TWorker& Worker)
{
  if (Worker.IsStarted) return;
  Worker.IsStarted = true;
  Worker.Thread->start();
}

void TWorkerRunner::Release(TWorker& Worker)
{
  if (Worker.IsReleased) return;
  Worker.IsReleased = true;
  // Asked to stop before it is let go, so that a paused worker takes no further step.
  Worker.Control().RequestStop();
  {
    const std::lock_guard guard(Lock);
    Worker.HandOversClosed = true;
  }
  HandedOver.notify_all();
  Start(Worker);
}

void TWorkerRunner::HandOver(TWorker& Worker, const std::function<void()>& Work)
{
  std::unique_lock guard(Lock);
  if (Worker.HandOversClosed) return;
  // This runner outlives every worker (its end waits for them), so it is there to receive the
  // call; and Release, which closes the hand-overs, cannot slip in between the look above and
  // the post. Posted first: a hand-over that fails to be queued throws here with nothing queued
  // that would refer to the worker's locals, and a call that finds the queue empty does nothing.
  QMetaObject::invokeMethod(this, &TWorkerRunner::RunHandOvers, Qt::QueuedConnection);
  Queue.push_back({Worker.shared_from_this(), Work, Worker.Posted + 1});
  const std::uint64_t ticket = ++Worker.Posted;
  // Released, the worker goes on only once no Work of its own is running: that Work refers to the
  // locals of Execute, which the worker would leave.
  HandedOver.wait(guard, [&] { return Worker.Done >= ticket || (Worker.HandOversClosed && !Worker.HandOverRunning); });
  if (Worker.Thrown) std::rethrow_exception(std::exchange(Worker.Thrown, nullptr));
}

int TWorkerRunner::PendingHandOvers() const
{
  const std::lock_guard guard(Lock);
  return static_cast<int>(Queue.size());
}

void TWorkerRunner::RunHandOvers()
{
  std::deque<THandOver> batch;
  {
    const std::lock_guard guard(Lock);
    batch.swap(Queue);
  }
  for (THandOver& handOver : batch) {
    TWorker& worker = *handOver.Worker;
    bool open = false;
    {
      const std::lock_guard guard(Lock);
      open = !worker.HandOversClosed;
      worker.HandOverRunning = open;
    }
    // The worker waits in HandOver until HandOverRunning is false again, whatever Work does (it
    // may even release the worker, from a nested event loop), so the locals it refers to are there.
    // What Work throws goes to the worker, which ends its job with it; the window goes on.
    std::exception_ptr thrown;
    if (open) {
      try {
        handOver.Work();
      } catch (...) {
        thrown = std::current_exception();
      }
    }
    {
      const std::lock_guard guard(Lock);
      worker.HandOverRunning = false;
      worker.Done = std::max(worker.Done, handOver.Ticket);
      if (thrown) worker.Thrown = thrown;
    }
    HandedOver.notify_all();
  }
}

void TWorkerRunner::WorkerEnded(TWorker* Worker)
{
  const auto it =
      std::find_if(Workers.begin(), Workers.end(), [Worker](const TEntry& e) { return e.Worker.get() == Worker; });
  if (it == Workers.end()) return;
  const TEntry entry = std::move(*it);
  Workers.erase(it);
  Worker->Thread->wait();
  delete Worker->Thread;
  Worker->Thread = nullptr;
  const bool finished = Worker->Finished.load(std::memory_order_acquire);
  Q_ASSERT(finished);
  (void)finished;
  if (entry.Ended) entry.Ended(*Worker);
}

}  // namespace kx::ui
