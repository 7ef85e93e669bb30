// SPDX-License-Identifier: GPL-3.0-or-later
// The helpers behind the command line's text: the progress line, the stop signals and the files
// they remove.
#include "cli/CliSupport.h"
#include "common/kxJobControl.h"
#include "common/kxPendingFiles.h"
#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include <string>

namespace kx::cli {
namespace {

TEST(ProgressText, ShowsRateAndTimeLeftOnceMeasurable)
{
  TProgressFigures scan;
  scan.Done = 1000;
  scan.Total = 4000;
  scan.Unit = "sectors";
  scan.BytesDone = 1000 * 2048;
  scan.BytesTotal = 4000 * 2048;
  scan.Extra = ", 7 files found";
  scan.Seconds = 0.5;  // too early for a rate
  EXPECT_EQ(ProgressText(scan), "1000 of 4000 sectors (25.0%), 7 files found");
  scan.Seconds = 2.048;  // 1 MB/s: 6.144 MB left take 6 s
  EXPECT_EQ(ProgressText(scan), "1000 of 4000 sectors (25.0%), 1.0 MB/s, 6 s left, 7 files found");

  TProgressFigures extract;
  extract.Done = 3;
  extract.Total = 10;
  extract.Unit = "files";
  extract.BytesDone = 30'000'000;
  extract.BytesTotal = 120'000'000;
  extract.ShowBytes = true;
  extract.Seconds = 10;  // 3 MB/s: 90 MB left take 30 s
  EXPECT_EQ(ProgressText(extract), "3 of 10 files, 30.0 of 120.0 MB (25.0%), 3.0 MB/s, 30 s left");
  extract.Seconds = 1;  // 30 MB/s, with 3903 s of work left
  extract.BytesTotal = 30'000'000 + std::int64_t{30'000'000} * 3903;
  const std::string text = ProgressText(extract);
  EXPECT_EQ(text.substr(text.find("MB (")), "MB (0.0%), 30.0 MB/s, 1:05:03 left");
}

}  // namespace
}  // namespace kx::cli

namespace kx::cli {
namespace {

// Ctrl+C reaches the control of the job that runs at once, from the signal handler, so that a
// write the signal broke off is known as a stop; a job that begins after it stops before its
// first step; a control that was never handed over is left alone. In a child process, since the
// handler stays installed.
TEST(TStopOnSignal, PassesTheStopToTheRunningJobsControl)
{
  EXPECT_EXIT(
      {
        InstallStopHandler();
        TkxJobControl running;
        TkxJobControl elsewhere;
        {
          const TStopOnSignal stop(running);
          std::raise(SIGINT);
        }
        TkxJobControl later;
        const TStopOnSignal stop(later);
        std::exit(running.StopRequested() && later.StopRequested() && !elsewhere.StopRequested() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// A second Ctrl+C ends the program at once, and removes first what was being written: a
// project's new file, a file half extracted. A file written before, or after its writer let it
// go, stays.
TEST(TStopOnSignal, ASecondSignalRemovesThePendingFilesAndEndsTheProgram)
{
  const test::TScratchFolder dir;
  const std::string pending = dir / ".p.kx.1-0.tmp";
  const std::string released = dir / "done.jpg";
  const std::string other = dir / "other.jpg";
  for (const std::string& name : {pending, released, other}) test::WriteFileText(name, "x");
  EXPECT_EXIT(
      {
        InstallStopHandler();
        { const TkxPendingFile done(released); }
        const TkxPendingFile writing(pending);
        std::raise(SIGINT);
        std::raise(SIGINT);
        std::exit(0);
      },
      ::testing::KilledBySignal(SIGINT), "");
  EXPECT_FALSE(std::filesystem::exists(pending));
  EXPECT_TRUE(std::filesystem::exists(released));
  EXPECT_TRUE(std::filesystem::exists(other));
}

}  // namespace
}  // namespace kx::cli
