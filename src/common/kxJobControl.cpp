#include "common/kxJobControl.h"

namespace kx {

void TkxJobControl::RequestStop()
{
  StopFlag.store(true, std::memory_order_release);
  Gate.Resume();
}

bool TkxJobControl::ShouldStop()
{
  if (StopRequested()) return true;
  Gate.WaitWhilePaused();
  return StopRequested();
}

}  // namespace kx
