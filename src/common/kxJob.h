// SPDX-License-Identifier: GPL-3.0-or-later
// The one shape of a long job (the scan with its check, the image copy, the check, extraction,
// the rescue): it runs on the calling thread as Run(TkxJobControl&, progress sink), pushes its
// figures to the sink, and returns a result that holds a TkxJobOutcome beside what the job made.
// Whoever runs a job (a worker of the window, a command of the command line) learns from the
// outcome alone whether it completed, was stopped, or failed and why.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <new>
#include <string>
#include <utility>

#include "common/kxJobControl.h"

namespace kx {

struct TkxJobOutcome {
  enum class TEnd { Completed, Stopped, Failed };
  TEnd End = TEnd::Completed;
  // Why the job failed, a sentence for the user; empty unless it failed.
  std::string Reason;

  static TkxJobOutcome Completed() { return {}; }
  static TkxJobOutcome Stopped() { return {TEnd::Stopped, {}}; }
  static TkxJobOutcome Failed(std::string Why) { return {TEnd::Failed, std::move(Why)}; }

  bool IsCompleted() const { return End == TEnd::Completed; }
  bool IsStopped() const { return End == TEnd::Stopped; }
  bool IsFailed() const { return End == TEnd::Failed; }
};

// Where a job pushes its figures as they change, on the job's thread. An empty sink is allowed.
template <class TFigures>
using TkxProgressSink = std::function<void(const TFigures&)>;

// The figures of a job that handles a list's files one after the other (an extraction, a check):
// how many of them it is done with.
struct TkxFilesDone {
  std::int32_t Done = 0;
  std::int32_t Total = 0;
};

// Runs Body, which returns a TkxJobOutcome, and turns whatever it throws into a failed outcome
// that carries the message: a job that runs out of memory or meets a fault of ours ends with a
// message, never the program. The out-of-memory reason fits the string's own buffer, so making it
// allocates nothing.
template <class TBody>
TkxJobOutcome RunGuarded(TBody&& Body) noexcept {
  try {
    return std::forward<TBody>(Body)();
  } catch (const std::bad_alloc&) {
    return TkxJobOutcome::Failed("Out of memory");
  } catch (const std::exception& Error) {
    try {
      return TkxJobOutcome::Failed(Error.what());
    } catch (...) {
      return TkxJobOutcome::Failed("Out of memory");
    }
  } catch (...) {
    return TkxJobOutcome::Failed("Unknown error");
  }
}

// Runs Job, which returns a result that holds a TkxJobOutcome Outcome: what it returns, or, when
// it throws, a result with nothing done whose outcome carries the message.
template <class TResult, class TJob>
TResult GuardedResult(TJob&& Job)
{
  TResult result;
  result.Outcome = RunGuarded([&] {
    result = std::forward<TJob>(Job)();
    return result.Outcome;
  });
  return result;
}

}  // namespace kx
