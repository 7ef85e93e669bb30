// What the long-running commands share: a Ctrl+C stop request and a progress line on stderr.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kx::cli {

// After InstallStopHandler, the first Ctrl+C (SIGINT) or SIGTERM only sets the stop request, so
// that a scan or copy can end cleanly and keep its work; a second one ends the process.
void InstallStopHandler();
bool StopRequested();

// A progress line on stderr, redrawn in place a few times a second; silent when stderr is not
// a terminal, so that logs and pipes get only the final summary.
class TProgressLine {
 public:
  // Counts sectors of SectorBytes bytes each, which gives the MB/s rate.
  TProgressLine(std::int64_t Total, std::int64_t SectorBytes);
  // Counts anything else ("files"); no rate is shown.
  TProgressLine(std::int64_t Total, std::string Unit);
  TProgressLine(const TProgressLine&) = delete;
  TProgressLine& operator=(const TProgressLine&) = delete;
  ~TProgressLine();

  // Extra is appended to the line (", 12 files found"); redraws only when due.
  void Update(std::int64_t Done, const std::string& Extra = {});
  // Draws the last state and ends the line.
  void Finish(std::int64_t Done, const std::string& Extra = {});

  static bool Enabled();

 private:
  void Draw(std::int64_t Done, const std::string& Extra);

  std::int64_t Total;
  std::int64_t SectorBytes;  // 0 when the count is not of sectors
  std::string Unit;
  bool Shown;
  bool Active;
  std::chrono::steady_clock::time_point Started;
  std::chrono::steady_clock::time_point LastDraw;
};

}  // namespace kx::cli
