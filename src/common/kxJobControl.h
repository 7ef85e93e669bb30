// Pause, resume and stop of a long job (a scan, an image copy, an extraction), shared by the
// thread that runs the job and the thread that controls it. The job asks ShouldStop between two
// steps, so that a paused or stopped job never holds a read or a write half done.
#pragma once

#include "common/kxPauseGate.h"

#include <atomic>

namespace kx {

class TkxJobControl {
 public:
  explicit TkxJobControl(bool StartPaused = false) : Gate(StartPaused) {}
  TkxJobControl(const TkxJobControl&) = delete;
  TkxJobControl& operator=(const TkxJobControl&) = delete;

  void Pause() { Gate.Pause(); }
  void Resume() { Gate.Resume(); }
  bool Paused() const { return Gate.Paused(); }

  // Asks the job to end at its next step. A paused job is let go, so that it can notice.
  void RequestStop();
  bool StopRequested() const { return StopFlag.load(std::memory_order_acquire); }

  // The job's question between two steps: true when it must end. Waits while the job is paused;
  // a stop requested during the wait ends the job without one more step.
  bool ShouldStop();

 private:
  TkxPauseGate Gate;
  std::atomic<bool> StopFlag{false};
};

}  // namespace kx
