// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logic/kxWindowTexts.h"

#include "common/kxShared.h"

#include <gtest/gtest.h>

#include "support/kxHostileNames.h"

#include <cerrno>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace kx {
namespace {

TEST(MainWindowCaption, UntitledOrNamedAndTheModifiedStar)
{
  EXPECT_EQ(MainWindowCaption("", false), "Veltrane Tessarin 2008 - [Untitled]");
  EXPECT_EQ(MainWindowCaption("", true), "Veltrane Tessarin 2008 - [Untitled]*");
  EXPECT_EQ(MainWindowCaption("/home/me/p.kx", false), "Veltrane Tessarin 2008 - [/home/me/p.kx]");
  EXPECT_EQ(MainWindowCaption("/home/me/p.kx", true), "Veltrane Tessarin 2008 - [/home/me/p.kx]*");
}

TEST(StatusLine, CountsSelectedRowsAndSumsTheirSizesIn64Bits)
{
  TkxFileList list;
  for (int i = 0; i < 6; ++i) list.Add("f", 1, i * 2048, 1'000'000'000 + i, false);
  const std::vector<TkxRowRange> ranges = {{0, 1}, {3, 5}, {9, 12}, {-3, -1}};
  const TkxSelectionSummary s = SummarizeSelection(list, ranges);
  EXPECT_EQ(s.Rows, 5);
  EXPECT_EQ(s.Bytes, 5'000'000'000 + 0 + 1 + 3 + 4 + 5);
  // Only the byte count is grouped, by the locale's separator.
  EXPECT_EQ(StatusLineText(s.Rows, list.Count, s.Bytes, U','), "5/6 file(s) selected (5,000,000,013 bytes)");
  EXPECT_EQ(StatusLineText(0, 0, 0, U','), "0/0 file(s) selected (0 bytes)");
  EXPECT_EQ(StatusLineText(2, 5700, 4096, U'.'), "2/5700 file(s) selected (4.096 bytes)");

  // The sizes of a hostile project: the sum holds at the limit instead of turning negative.
  TkxFileList hostile;
  for (const std::int64_t size : {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::max(),
                                  std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::min()})
    hostile.Add("f", 1, 0, size, false);
  const std::vector<TkxRowRange> positive = {{0, 1}};
  const std::vector<TkxRowRange> negative = {{2, 3}};
  EXPECT_EQ(SummarizeSelection(hostile, positive).Bytes, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(SummarizeSelection(hostile, negative).Bytes, std::numeric_limits<std::int64_t>::min());
}

// The window's report after an extraction: nothing when all was written (it beeps); what failed,
// that it was stopped or found the disk full with how many were not extracted, and what a
// grouped extraction skipped; why a failed one failed.
TEST(ExtractionReportText, SaysWhatWasNotExtractedAndWhy)
{
  TkxExtractResult all;
  all.Written = 3;
  EXPECT_EQ(ExtractionReportText(all), "");

  TkxExtractResult stopped;
  stopped.Outcome = TkxJobOutcome::Stopped();
  stopped.NotExtracted = 1;
  EXPECT_EQ(ExtractionReportText(stopped), "The extraction was stopped. 1 file was not extracted.");

  TkxExtractResult full;
  full.Failures = {{"/out/a.jpg", "No space left on device"}};
  full.DiskFull = true;
  full.NotExtracted = 4;
  EXPECT_EQ(ExtractionReportText(full),
            std::string(ExtractFailureHeading) + "/out/a.jpg: No space left on device\n\n\n4 files were not extracted.");

  TkxExtractResult skipped;
  skipped.Skipped = 2;
  skipped.NotExtracted = 2;
  EXPECT_EQ(ExtractionReportText(skipped),
            "2 files were skipped: the folder of their extension could not be created or is not a folder.");

  TkxExtractResult failed;
  failed.Outcome = TkxJobOutcome::Failed("Out of memory");
  EXPECT_EQ(ExtractionReportText(failed), "The extraction failed: Out of memory");
}

TEST(ImageSizeText, WholeMebibytesRoundedDown)
{
  EXPECT_EQ(ImageSizeText(333000, 2048), "650M");
  EXPECT_EQ(ImageSizeText(1, 2048), "0M");
  EXPECT_EQ(ImageSizeText(0, 2048), "0M");
  EXPECT_EQ(ImageSizeText(2295104, 2048), "4482M");
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

TEST(WindowQuestions, NameWhatIsAtStakeAndAreEmptyWhenNothingNeedsAsking)
{
  EXPECT_EQ(SaveChangesQuestion(""), "Save changes to project \"Untitled\"?");
  EXPECT_EQ(SaveChangesQuestion("/home/me/p.kx"), "Save changes to project \"/home/me/p.kx\"?");
  EXPECT_EQ(ReplaceQuestion("/x/other.kx"), "\"/x/other.kx\" already exists. Do you want to replace it?");

  EXPECT_EQ(DiscardFoundFilesQuestion(0), "");
  EXPECT_EQ(DiscardFoundFilesQuestion(1), "A file was found and not accepted. Do you want to discard it?");
  EXPECT_EQ(DiscardFoundFilesQuestion(1297), "1297 files were found and not accepted. Do you want to discard them?");

}

// A command on the list reads, or a save names, the medium the files were found on, unless the
// person says otherwise; the question names both, and nothing is asked where nothing is at stake.
TEST(ChooseMedium, AsksOnlyWhereTheFieldNamesAnotherMediumThanTheFilesWereFoundOn)
{
  const struct {
    const char* What;
    const char* ListLocation;
    const char* Location;
    std::int32_t Files;
    bool Asks;
  } cases[] = {
      {"the same medium", "/img/a.iso", "/img/a.iso", 5, false},
      {"another medium", "/img/a.iso", "/img/b.iso", 5, true},
      {"a drive for an image", "/img/a.iso", "E:", 1, true},
      {"a field emptied", "/img/a.iso", "", 1, true},
      {"where the list came from is not known", "", "/img/b.iso", 5, false},
      {"an empty list", "/img/a.iso", "/img/b.iso", 0, false},
  };
  for (const TkxListCommand command : {TkxListCommand::Extract, TkxListCommand::Check, TkxListCommand::Save})
    for (const auto& c : cases) {
      const TkxMediumChoice choice = ChooseMedium(command, c.ListLocation, c.Location, c.Files);
      EXPECT_EQ(!choice.Question.empty(), c.Asks) << c.What;
      // Without a question the field's medium is used, whatever the answer would have been.
      EXPECT_EQ(choice.Medium(true), c.Asks ? c.ListLocation : c.Location) << c.What;
      EXPECT_EQ(choice.Medium(false), c.Location) << c.What;
    }

  EXPECT_EQ(ChooseMedium(TkxListCommand::Check, "/img/a.iso", "E:", 1).Question,
            "The files in the list were found on \"/img/a.iso\", but the location now names \"E:\".\n\n"
            "Check them against \"/img/a.iso\", where they were found? No checks them against \"E:\".");
}

// The message first, as the window has always said it, then where and why, as the command line
// says it.
TEST(WindowMessages, SayWhereAndWhyAfterTheMessage)
{
  const std::string mount(MountErrorMessage);
  EXPECT_EQ(OpenFailureText({mount, "/img/a.iso", "No such file or directory"}),
            mount + "\n\n/img/a.iso: No such file or directory");
  EXPECT_EQ(OpenFailureText({mount, "", "No such file or directory"}), mount + "\n\nNo location is given.");

  EXPECT_EQ(ProjectFailureText("/p/bad.kx", EkxProjectError("Invalid numeric input", 0, 12, "the offset is not a number")),
            "Invalid numeric input\n\n/p/bad.kx, line 12: the offset is not a number");
  EXPECT_EQ(ProjectFailureText("/p/p.kx", EkxProjectError("Disk full", ENOSPC)),
            "Disk full\n\n/p/p.kx: No space left on device");
  EXPECT_EQ(ProjectFailureText("/dev/zero", EkxProjectError("Not a regular file")), "Not a regular file\n\n/dev/zero");

  TkxExtractResult result;
  result.Failures = {{"/ro/a.jpg", "Permission denied"}, {"/out/b", ""}};
  EXPECT_EQ(ExtractionReportText(result),
            "The following files could not be extracted:\n\n/ro/a.jpg: Permission denied\n/out/b\n");
}

}  // namespace
}  // namespace kx
