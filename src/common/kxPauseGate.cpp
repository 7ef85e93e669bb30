#include "common/kxPauseGate.h"

namespace kx {

void TkxPauseGate::Pause()
{
  const std::lock_guard guard(Lock);
  PausedFlag.store(true, std::memory_order_release);
}

void TkxPauseGate::Resume()
{
  {
    const std::lock_guard guard(Lock);
    PausedFlag.store(false, std::memory_order_release);
  }
  Opened.notify_all();
}

void TkxPauseGate::WaitWhilePaused()
{
  if (!Paused()) return;
  std::unique_lock guard(Lock);
  Opened.wait(guard, [this] { return !PausedFlag.load(std::memory_order_acquire); });
}

}  // namespace kx
