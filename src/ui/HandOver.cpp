#include "ui/HandOver.h"

#include <deque>

namespace kx::ui {

namespace {

// Work handed over and not yet run. It travels through this queue, guarded by a lock of our own,
// rather than inside the posted call: the posted call carries nothing, so every byte that
// crosses from the worker to the user-interface thread is ordered by a lock that both threads
// take, visibly to the thread checker too.
struct TPending {
  std::shared_ptr<THandOver> Owner;
  std::function<void()> Work;
  std::uint64_t Ticket = 0;
};

std::mutex& QueueLock()
{
  static std::mutex lock;
  return lock;
}

std::deque<TPending>& Queue()
{
  static std::deque<TPending> queue;
  return queue;
}

}  // namespace

void THandOver::Run(QObject* Context, const std::function<void()>& Work)
{
  std::uint64_t ticket = 0;
  {
    const std::lock_guard guard(Lock);
    if (IsClosed) return;
    ticket = ++Posted;
  }
  {
    const std::lock_guard guard(QueueLock());
    Queue().push_back({shared_from_this(), Work, ticket});
  }
  QMetaObject::invokeMethod(Context, [] { RunQueued(); }, Qt::QueuedConnection);
  std::unique_lock guard(Lock);
  Done.wait(guard, [&] { return IsClosed || Finished >= ticket; });
}

void THandOver::RunQueued()
{
  std::deque<TPending> batch;
  {
    const std::lock_guard guard(QueueLock());
    batch.swap(Queue());
  }
  for (TPending& pending : batch) {
    THandOver& owner = *pending.Owner;
    bool run = false;
    {
      const std::lock_guard guard(owner.Lock);
      run = !owner.IsClosed;
    }
    // Close is called on this same thread, so it cannot slip in while the work runs; the work
    // runs only while its worker still waits, so the references it holds are valid.
    if (run) pending.Work();
    {
      const std::lock_guard guard(owner.Lock);
      owner.Finished = std::max(owner.Finished, pending.Ticket);
    }
    owner.Done.notify_all();
  }
}

void THandOver::Close()
{
  {
    const std::lock_guard guard(Lock);
    IsClosed = true;
  }
  Done.notify_all();
}

bool THandOver::Closed() const
{
  const std::lock_guard guard(Lock);
  return IsClosed;
}

}  // namespace kx::ui
