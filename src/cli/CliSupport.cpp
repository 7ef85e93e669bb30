#include "cli/CliSupport.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>
#include <utility>

namespace kx::cli {

namespace {

volatile std::sig_atomic_t StopSignals = 0;

extern "C" void OnStopSignal(int sig)
{
  if (StopSignals > 0) {
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return;
  }
  StopSignals = StopSignals + 1;
}

}  // namespace

void InstallStopHandler()
{
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() { return StopSignals > 0; }

bool TProgressLine::Enabled() { return isatty(STDERR_FILENO) != 0; }

TProgressLine::TProgressLine(std::int64_t Total_, std::int64_t SectorBytes_)
    : Total(Total_), SectorBytes(SectorBytes_), Unit("sectors"), Shown(false), Active(Enabled()),
      Started(std::chrono::steady_clock::now()), LastDraw(Started)
{
}

TProgressLine::TProgressLine(std::int64_t Total_, std::string Unit_)
    : Total(Total_), SectorBytes(0), Unit(std::move(Unit_)), Shown(false), Active(Enabled()),
      Started(std::chrono::steady_clock::now()), LastDraw(Started)
{
}

TProgressLine::~TProgressLine()
{
  if (Shown) std::fputc('\n', stderr);
}

void TProgressLine::Update(std::int64_t Done, const std::string& Extra)
{
  if (!Active) return;
  const auto now = std::chrono::steady_clock::now();
  if (Shown && now - LastDraw < std::chrono::milliseconds(250)) return;
  LastDraw = now;
  Draw(Done, Extra);
}

void TProgressLine::Finish(std::int64_t Done, const std::string& Extra)
{
  if (!Active) return;
  Draw(Done, Extra);
  std::fputc('\n', stderr);
  Shown = false;
}

void TProgressLine::Draw(std::int64_t Done, const std::string& Extra)
{
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - Started).count();
  const double percent = Total > 0 ? 100.0 * static_cast<double>(Done) / static_cast<double>(Total) : 100.0;
  std::fprintf(stderr, "\r%lld of %lld %s (%.1f%%)%s", static_cast<long long>(Done), static_cast<long long>(Total),
               Unit.c_str(), percent, Extra.c_str());
  if (SectorBytes > 0) {
    const double rate = seconds > 0 ? static_cast<double>(Done) * static_cast<double>(SectorBytes) / 1e6 / seconds : 0.0;
    std::fprintf(stderr, ", %.1f MB/s", rate);
  }
  std::fputs("\033[K", stderr);
  std::fflush(stderr);
  Shown = true;
}

}  // namespace kx::cli
