// SPDX-License-Identifier: GPL-3.0-or-later
// The conventions of a GNU command line: --version, --help with the exit statuses and examples,
// and status 2 with a clear word for every usage error.
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "recognition/kxStructure.h"
#include "support/kxCliRunner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace kx {
namespace {

using test::RunCli;
using test::TRun;
using ::testing::HasSubstr;

class CliConventions : public testing::Test {
 protected:
  void SetUp() override
  {
    if (test::CliPath().empty()) GTEST_SKIP() << "KX_CLI is not set";
  }
};

TEST_F(CliConventions, VersionNamesTheProgramAndTheVersion)
{
  const TRun run = RunCli("--version");
  EXPECT_EQ(run.Status, 0);
  EXPECT_TRUE(std::regex_search(run.Out, std::regex("^tessarin-cli [0-9]+\\.[0-9]+\\.[0-9]+\nDecoders: zlib(, [a-z0-9]+)*\n"))) << run.Out;
  EXPECT_THAT(run.Out, testing::HasSubstr("\nDecoders: " + DecoderNames(BuiltDecoders()) + "\n"));
  EXPECT_THAT(run.Out, testing::HasSubstr("License GPLv3+: GNU GPL version 3 or later"));
  EXPECT_EQ(run.Err, "");
}

TEST_F(CliConventions, HelpListsTheExitStatusesAndExamples)
{
  const TRun run = RunCli("--help");
  EXPECT_EQ(run.Status, 0);
  EXPECT_THAT(run.Out, HasSubstr("Exit status:\n  0    success\n  1    something failed"));
  EXPECT_THAT(run.Out, HasSubstr("  2    the command line was wrong\n  130  stopped by Ctrl+C"));
  EXPECT_THAT(run.Out, HasSubstr("Examples:\n  tessarin-cli scan disc.iso"));
  const TRun scan = RunCli("scan --help");
  EXPECT_EQ(scan.Status, 0);
  EXPECT_THAT(scan.Out, HasSubstr("--dfxml"));
}

TEST_F(CliConventions, EveryUsageErrorExitsWith2AndSaysWhatWasWrong)
{
  struct TCase {
    const char* Args;
    const char* FirstLine;
    const char* HelpFor;
  };
  const TCase cases[] = {
      {"", "tessarin-cli: no command given", "tessarin-cli"},
      {"bogus", "tessarin-cli: unknown command 'bogus'", "tessarin-cli"},
      {"--bogus", "tessarin-cli: unrecognized option '--bogus'", "tessarin-cli"},
      {"scan", "tessarin-cli: LOCATION is required", "tessarin-cli scan"},
      {"list p.kx --sort colour", "tessarin-cli: --sort: colour not in {name,ext,offset,size}", "tessarin-cli list"},
      {"list p.kx --json --long", "tessarin-cli: --json excludes --long", "tessarin-cli list"},
      {"extract p.kx", "tessarin-cli: --dir is required", "tessarin-cli extract"},
      {"extract p.kx -d out --min-size many", "", "tessarin-cli extract"},
      {"kinds extra", "tessarin-cli: The following argument was not expected: extra", "tessarin-cli kinds"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Args);
    const TRun run = RunCli(c.Args);
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Out, "");
    const auto lines = test::Lines(run.Err);
    ASSERT_EQ(lines.size(), 2u) << run.Err;
    if (*c.FirstLine != '\0') {
      EXPECT_EQ(lines[0], c.FirstLine);
    }
    EXPECT_EQ(lines[0].rfind("tessarin-cli: ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], std::string("Try '") + c.HelpFor + " --help' for more information.");
  }
}

// image exits as rescue does: 1 when sectors could not be read, after the image is written.
TEST(ExitStatus, OfAnImageCopy)
{
  const auto result = [](std::int64_t Unreadable, bool Complete, TkxJobOutcome Outcome) {
    TkxImageCopyResult r;
    r.SectorsDone = 10;
    r.UnreadableSectors = Unreadable;
    r.Parts = 1;
    r.Complete = Complete;
    r.Outcome = std::move(Outcome);
    return r;
  };
  const struct {
    const char* What;
    TkxImageCopyResult Result;
    int Status;
  } cases[] = {
      {"every sector read", result(0, true, {}), cli::ExitSuccess},
      {"unreadable sectors written as zeros", result(1, true, {}), cli::ExitFailure},
      {"stopped by Ctrl+C", result(1, false, TkxJobOutcome::Stopped()), cli::ExitInterrupted},
      {"a write failed", result(0, false, TkxJobOutcome::Failed("No space left on device")), cli::ExitFailure},
  };
  for (const auto& c : cases) EXPECT_EQ(cli::ImageCopyStatus(c.Result), c.Status) << c.What;
}

}  // namespace
}  // namespace kx
