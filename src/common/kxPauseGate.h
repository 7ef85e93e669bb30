// Where a worker waits while it is paused: between two steps of a scan or two chunks of a copy,
// so that a paused worker holds nothing that another thread needs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace kx {

class TkxPauseGate {
 public:
  explicit TkxPauseGate(bool StartPaused = false) : PausedFlag(StartPaused) {}
  TkxPauseGate(const TkxPauseGate&) = delete;
  TkxPauseGate& operator=(const TkxPauseGate&) = delete;

  void Pause();
  void Resume();
  bool Paused() const { return PausedFlag.load(std::memory_order_acquire); }

  // Returns at once while the gate is open, which costs one atomic load per step; otherwise
  // blocks until Resume.
  void WaitWhilePaused();

 private:
  std::atomic<bool> PausedFlag;
  std::mutex Lock;
  std::condition_variable Opened;
};

}  // namespace kx
