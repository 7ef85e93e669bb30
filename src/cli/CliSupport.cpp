// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliSupport.h"

#include "common/kxJobControl.h"
#include "common/kxShared.h"
#include "common/kxPendingFiles.h"
#include "media/kxDisks.h"
#include "project/kxProject.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>
#include <utility>

namespace kx::cli {

namespace {

volatile std::sig_atomic_t StopSignals = 0;
// The control of the job that runs, told of a stop from the handler itself.
std::atomic<TkxJobControl*> StopTarget{nullptr};
static_assert(std::atomic<TkxJobControl*>::is_always_lock_free, "the signal handler reads it");

extern "C" void OnStopSignal(int sig)
{
  if (StopSignals > 0) {
    // The program ends now: a project's or report's new file, or a file half extracted, must
    // not stay behind.
    RemovePendingFiles();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return;
  }
  StopSignals = StopSignals + 1;
  if (TkxJobControl* control = StopTarget.load()) control->RequestStopFromSignal();
}

std::string Invocation;
std::string Started;

}  // namespace

void Report(const std::string& Text)
{
  std::fflush(stdout);
  std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(ProgramName.size()), ProgramName.data(), Text.c_str());
}

void ReportPathError(const std::string& Path, const std::string& Reason) { Report(Escaped(Path) + ": " + Reason); }

std::string SystemReason(int Error) { return std::strerror(Error); }

std::string Reason(const EkxProjectError& Error) { return ProjectErrorReason(Error); }

void ReportMediumNotOpened(const TkxOpenFailure& Why)
{
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", Why.Message.c_str());
  ReportPathError(Why.Path, Why.Reason);
}

void RecordInvocation(int argc, char** argv)
{
  Invocation.clear();
  for (int i = 0; i < argc; ++i) {
    const std::string word = argv[i];
    if (i > 0) Invocation += ' ';
    // Words that a shell would split or expand are quoted, so that the line can be run again.
    if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-+=.,/:@%") ==
                             std::string::npos) {
      Invocation += word;
    } else {
      Invocation += '\'';
      for (const char c : word) Invocation += c == '\'' ? std::string("'\\''") : std::string(1, c);
      Invocation += '\'';
    }
  }
  const std::time_t now = std::time(nullptr);
  std::tm utc {};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  Started = text;
}

const std::string& CommandLine() { return Invocation; }
const std::string& StartTime() { return Started; }

void InstallStopHandler()
{
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() { return StopSignals > 0; }

TStopOnSignal::TStopOnSignal(TkxJobControl& Control)
{
  StopTarget.store(&Control);
  if (StopRequested()) Control.RequestStop();
}

TStopOnSignal::~TStopOnSignal() { StopTarget.store(nullptr); }

std::string ProgressText(const TProgressFigures& f)
{
  const auto percentOf = [](std::int64_t Done, std::int64_t Total) {
    return Total > 0 ? 100.0 * static_cast<double>(Done) / static_cast<double>(Total) : 100.0;
  };
  char text[160];
  std::string line;
  if (f.ShowBytes) {
    std::snprintf(text, sizeof text, "%lld of %lld %s, %.1f of %.1f MB (%.1f%%)", static_cast<long long>(f.Done),
                  static_cast<long long>(f.Total), f.Unit.c_str(), static_cast<double>(f.BytesDone) / 1e6,
                  static_cast<double>(f.BytesTotal) / 1e6, percentOf(f.BytesDone, f.BytesTotal));
  } else {
    std::snprintf(text, sizeof text, "%lld of %lld %s (%.1f%%)", static_cast<long long>(f.Done),
                  static_cast<long long>(f.Total), f.Unit.c_str(), percentOf(f.Done, f.Total));
  }
  line = text;
  if (f.Seconds >= 1.0 && f.BytesDone > 0) {
    const double rate = static_cast<double>(f.BytesDone) / f.Seconds;
    const double left = static_cast<double>(std::max<std::int64_t>(0, f.BytesTotal - f.BytesDone)) / rate;
    std::snprintf(text, sizeof text, ", %.1f MB/s, %s left", rate / 1e6, DurationText(left).c_str());
    line += text;
  }
  line += f.Extra;
  return line;
}

bool TProgressLine::Enabled() { return isatty(STDERR_FILENO) != 0; }

TProgressLine::TProgressLine(std::int64_t Total, std::string Unit, std::int64_t BytesTotal, bool ShowBytes)
    : Shown(false), Active(Enabled()), Started(std::chrono::steady_clock::now()), LastDraw(Started)
{
  Figures.Total = Total;
  Figures.Unit = std::move(Unit);
  Figures.BytesTotal = BytesTotal;
  Figures.ShowBytes = ShowBytes;
}

TProgressLine::~TProgressLine()
{
  if (Shown) std::fputc('\n', stderr);
}

void TProgressLine::Update(std::int64_t Done, std::int64_t BytesDone, const std::string& Extra)
{
  if (!Active) return;
  const auto now = std::chrono::steady_clock::now();
  if (Shown && now - LastDraw < std::chrono::milliseconds(250)) return;
  LastDraw = now;
  Draw(Done, BytesDone, Extra);
}

void TProgressLine::Finish(std::int64_t Done, std::int64_t BytesDone, const std::string& Extra)
{
  if (!Active) return;
  Draw(Done, BytesDone, Extra);
  std::fputc('\n', stderr);
  Shown = false;
}

void TProgressLine::Draw(std::int64_t Done, std::int64_t BytesDone, const std::string& Extra)
{
  Figures.Done = Done;
  Figures.BytesDone = BytesDone;
  Figures.Extra = Extra;
  Figures.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Started).count();
  std::fprintf(stderr, "\r%s\033[K", ProgressText(Figures).c_str());
  std::fflush(stderr);
  Shown = true;
}

}  // namespace kx::cli
