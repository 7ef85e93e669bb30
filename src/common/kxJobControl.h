// SPDX-License-Identifier: GPL-3.0-or-later
// Pause, resume and stop of a long job (a scan, an image copy, an extraction), shared by the
// thread that runs the job and the thread that controls it. The job asks ShouldStop between two
// steps, so that a paused or stopped job never holds a read or a write half done, and a paused
// job holds nothing that another thread needs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace kx {

class TkxJobControl {
 public:
  explicit TkxJobControl(bool StartPaused = false) : PausedFlag(StartPaused) {}
  TkxJobControl(const TkxJobControl&) = delete;
  TkxJobControl& operator=(const TkxJobControl&) = delete;

  void Pause();
  void Resume();
  bool Paused() const { return PausedFlag.load(std::memory_order_acquire); }

  // Asks the job to end at its next step. A paused job is let go, so that it can notice.
  void RequestStop();
  // The same from a signal handler, where nothing but a lock-free store is safe: a paused job is
  // not let go. The command line, which never pauses a job, stops its jobs on Ctrl+C this way.
  void RequestStopFromSignal() noexcept { StopFlag.store(true, std::memory_order_release); }
  bool StopRequested() const { return StopFlag.load(std::memory_order_acquire); }

  // The job's question between two steps: true when it must end. Waits while the job is paused;
  // a stop requested during the wait ends the job without one more step. An open job pays one
  // atomic load per question for the pause.
  bool ShouldStop();

 private:
  void WaitWhilePaused();

  std::atomic<bool> PausedFlag;
  std::atomic<bool> StopFlag{false};
  std::mutex Lock;
  std::condition_variable Opened;
};

static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler may only store lock-free atomics");

}  // namespace kx
