// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/kxJobControl.h"

namespace kx {

void TkxJobControl::Pause()
{
  const std::lock_guard guard(Lock);
  PausedFlag.store(true, std::memory_order_release);
}

void TkxJobControl::Resume()
{
  {
    const std::lock_guard guard(Lock);
    PausedFlag.store(false, std::memory_order_release);
  }
  Opened.notify_all();
}

void TkxJobControl::RequestStop()
{
  StopFlag.store(true, std::memory_order_release);
  Resume();
}

void TkxJobControl::WaitWhilePaused()
{
  if (!Paused()) return;
  std::unique_lock guard(Lock);
  Opened.wait(guard, [this] { return !PausedFlag.load(std::memory_order_acquire); });
}

bool TkxJobControl::ShouldStop()
{
  if (StopRequested()) return true;
  WaitWhilePaused();
  return StopRequested();
}

}  // namespace kx
