// SPDX-License-Identifier: GPL-3.0-or-later
// The helpers behind the command line's text: escaping for a terminal, counts, durations, the
// progress line and text for XML.
#include "cli/CliSupport.h"
#include "common/kxJobControl.h"
#include "cli/Dfxml.h"
#include "common/kxPendingFiles.h"
#include "support/kxHostileNames.h"
#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include <string>

namespace kx::cli {
namespace {

TEST(Escaped, ControlCharactersCannotReachTheTerminal)
{
  EXPECT_EQ(Escaped("File 000001"), "File 000001");
  // An OSC sequence that would retitle the terminal, a colour, a bell, a carriage return.
  EXPECT_EQ(Escaped("a\x1b]0;owned\x07" "b"), "a\\x1b]0;owned\\x07b");
  EXPECT_EQ(Escaped("\x1b[31mred"), "\\x1b[31mred");
  EXPECT_EQ(Escaped("line\rover\nnext\t\x7f"), "line\\x0dover\\x0anext\\x09\\x7f");
  // C1 controls: as UTF-8 (U+009B, the one-byte CSI) and as a stray byte.
  EXPECT_EQ(Escaped("x\xc2\x9b" "1m"), "x\\xc2\\x9b1m");
  EXPECT_EQ(Escaped("x\x9b" "1m"), "x\\x9b1m");
  // Printable text passes, in UTF-8 or in a legacy code page.
  EXPECT_EQ(Escaped("Café ünd 日本"), "Café ünd 日本");
  EXPECT_EQ(Escaped("caf\xe9"), "caf\xe9");
  // A backslash is doubled, so that a name cannot pretend to hold an escape.
  EXPECT_EQ(Escaped("a\\x1b"), "a\\\\x1b");
  for (const test::THostileName& name : test::HostileNames()) EXPECT_EQ(Escaped(name.Name), name.Terminal) << name.What;
}

TEST(Counted, OneFileManyFiles)
{
  EXPECT_EQ(Counted(0, "file"), "0 files");
  EXPECT_EQ(Counted(1, "file"), "1 file");
  EXPECT_EQ(Counted(2, "file"), "2 files");
  EXPECT_EQ(Counted(1, "part file"), "1 part file");
  EXPECT_EQ(Counted(3, "entry", "entries"), "3 entries");
}

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

TEST(XmlText, GivesTextThatXmlCanHold)
{
  EXPECT_EQ(XmlText("photo.jpg"), "photo.jpg");
  EXPECT_EQ(XmlText("Café"), "Café");
  EXPECT_EQ(XmlText("caf\xe9"), "café");                   // Latin-1 byte read as U+00E9
  EXPECT_EQ(XmlText("a\x1b" "b\tc"), "a\xef\xbf\xbd" "b\tc");  // ESC cannot be in XML 1.0
  EXPECT_EQ(XmlText("\xef\xbf\xbe"), "\xef\xbf\xbd");         // nor U+FFFE
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
