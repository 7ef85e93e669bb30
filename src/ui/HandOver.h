// The blocking hand-over of a worker to the user-interface thread: the worker has a piece of
// work run there and waits until it has run, so that whatever the work reads stays still. Once
// the window that served the hand-overs is done with the worker, it closes the hand-over: work
// not yet run is dropped and a worker waiting in a hand-over goes on, so that neither side can
// wait for the other for ever.
#pragma once

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace kx::ui {

class THandOver : public std::enable_shared_from_this<THandOver> {
 public:
  static std::shared_ptr<THandOver> Create() { return std::shared_ptr<THandOver>(new THandOver()); }

  // Worker side: runs Work on Context's thread and returns when it has run, or at once without
  // running it when the hand-over is (or becomes) closed. Work may refer to the caller's locals.
  void Run(QObject* Context, const std::function<void()>& Work);

  // User-interface side: no hand-over runs from now on and no worker waits for one.
  void Close();
  bool Closed() const;

 private:
  THandOver() = default;
  // Runs every piece of work handed over so far, on the user-interface thread.
  static void RunQueued();

  mutable std::mutex Lock;
  std::condition_variable Done;
  bool IsClosed = false;
  std::uint64_t Posted = 0;
  std::uint64_t Finished = 0;
};

}  // namespace kx::ui
