// SPDX-License-Identifier: GPL-3.0-or-later
// What the commands share: the exit statuses, messages in one style, a Ctrl+C stop request, and
// a progress line on stderr.
#pragma once

#include "common/kxDisplayText.h"
#include "common/kxShared.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace kx {
class EkxProjectError;
class TkxJobControl;
struct TkxOpenFailure;
}

namespace kx::cli {

inline constexpr std::string_view ProgramName = "tessarin-cli";

// The exit statuses, as --help lists them.
inline constexpr int ExitSuccess = 0;
inline constexpr int ExitFailure = 1;      // a file could not be read or written, a medium not opened
inline constexpr int ExitUsage = 2;        // the command line was wrong
inline constexpr int ExitInterrupted = 130;  // stopped by Ctrl+C (128 + SIGINT), as shells report it

// "tessarin-cli: PATH: REASON" on stderr, the path escaped.
void ReportPathError(const std::string& Path, const std::string& Reason);
// "tessarin-cli: TEXT" on stderr.
void Report(const std::string& Text);

// The system's words for a project-file error where it has them ("Is a directory"), the
// program's own words otherwise ("the offset of entry 2 of 3 is not a whole number ...").
std::string Reason(const EkxProjectError& Error);
// The system's text of an error number.
std::string SystemReason(int Error);

// A medium that could not be opened: what the window says (the mount message, or the drive's
// own message), then the path and the reason ("tessarin-cli: disc.iso: No such file or
// directory").
void ReportMediumNotOpened(const TkxOpenFailure& Why);

// The command line and the start of this run, for reports that record how they were made.
void RecordInvocation(int argc, char** argv);
const std::string& CommandLine();
// UTC, ISO 8601: 2024-05-01T12:00:00Z.
const std::string& StartTime();

// After InstallStopHandler, the first Ctrl+C (SIGINT) or SIGTERM only sets the stop request, so
// that a scan or copy can end cleanly and keep its work; a second one removes the files being
// written (RemovePendingFiles) and ends the process.
void InstallStopHandler();
bool StopRequested();

// While it exists, a stop request (one that came before it too) is passed to the job's control
// at once, so that the job ends at its next step, even inside a write that the signal broke off.
class TStopOnSignal {
 public:
  explicit TStopOnSignal(TkxJobControl& Control);
  ~TStopOnSignal();
  TStopOnSignal(const TStopOnSignal&) = delete;
  TStopOnSignal& operator=(const TStopOnSignal&) = delete;
};

// What the progress line shows at one moment.
struct TProgressFigures {
  std::int64_t Done = 0;
  std::int64_t Total = 0;
  std::string Unit;             // "sectors", "files"
  std::int64_t BytesDone = 0;
  std::int64_t BytesTotal = 0;
  bool ShowBytes = false;       // "3.1 of 9.4 MB" beside the count (files are of any size)
  double Seconds = 0;           // since the start
  std::string Extra;            // appended: ", 12 files found"
};

// "1200 of 5000 sectors (24.0%), 35.2 MB/s, 0:12 left, 7 files found" or
// "3 of 10 files, 1.2 of 4.5 MB (26.7%), 35.2 MB/s, 0:12 left". The rate and the time left are
// measured in bytes and appear once a second has passed and bytes were done.
std::string ProgressText(const TProgressFigures& Figures);

// A progress line on stderr, redrawn in place a few times a second; silent when stderr is not
// a terminal, so that logs and pipes get only the final summary.
class TProgressLine {
 public:
  TProgressLine(std::int64_t Total, std::string Unit, std::int64_t BytesTotal, bool ShowBytes);
  TProgressLine(const TProgressLine&) = delete;
  TProgressLine& operator=(const TProgressLine&) = delete;
  ~TProgressLine();

  // Extra is appended to the line (", 12 files found"); redraws only when due.
  void Update(std::int64_t Done, std::int64_t BytesDone, const std::string& Extra = {});
  // Draws the last state and ends the line.
  void Finish(std::int64_t Done, std::int64_t BytesDone, const std::string& Extra = {});

  static bool Enabled();

 private:
  void Draw(std::int64_t Done, std::int64_t BytesDone, const std::string& Extra);

  TProgressFigures Figures;
  bool Shown;
  bool Active;
  std::chrono::steady_clock::time_point Started;
  std::chrono::steady_clock::time_point LastDraw;
};

}  // namespace kx::cli
