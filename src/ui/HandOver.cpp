#include "ui/HandOver.h"

namespace kx::ui {

void THandOver::Run(QObject* Context, const std::function<void()>& Work)
{
  std::uint64_t ticket = 0;
  {
    const std::lock_guard guard(Lock);
    if (IsClosed) return;
    ticket = ++Posted;
  }
  // The work is copied into the posted call, but it runs only while this thread still waits
  // here, so references to the caller's locals are valid whenever it runs.
  QMetaObject::invokeMethod(
      Context,
      [self = shared_from_this(), Work, ticket] {
        bool run = false;
        {
          const std::lock_guard guard(self->Lock);
          run = !self->IsClosed;
        }
        // Close is called on this same thread, so it cannot slip in while the work runs.
        if (run) Work();
        {
          const std::lock_guard guard(self->Lock);
          self->Finished = std::max(self->Finished, ticket);
        }
        self->Done.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock guard(Lock);
  Done.wait(guard, [&] { return IsClosed || Finished >= ticket; });
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
