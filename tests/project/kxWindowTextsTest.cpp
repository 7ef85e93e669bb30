#include "project/kxWindowTexts.h"

#include "common/kxShared.h"

#include <gtest/gtest.h>

#include <cerrno>
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

TEST(ColumnTexts, OffsetHasAtLeastNineUpperCaseDigitsAndSizeTenColumns)
{
  EXPECT_EQ(OffsetText(0), "0x000000000");
  EXPECT_EQ(OffsetText(2048), "0x000000800");
  EXPECT_EQ(OffsetText(0xABCDEF), "0x000ABCDEF");
  EXPECT_EQ(OffsetText(std::int64_t{1} << 36), "0x1000000000");
  EXPECT_EQ(OffsetText(-1), "0xFFFFFFFFFFFFFFFF");
  EXPECT_EQ(SizeText(1234), "      1234");
  EXPECT_EQ(SizeText(0), "         0");
  EXPECT_EQ(SizeText(12345678901), "12345678901");
}

TEST(StatusLine, CountsSelectedRowsAndSumsTheirSizesIn64Bits)
{
  TkxFileList list;
  for (int i = 0; i < 6; ++i) list.Add("f", 1, i * 2048, 1'000'000'000 + i, false);
  const std::vector<TkxRowRange> ranges = {{0, 1}, {3, 5}, {9, 12}, {-3, -1}};
  const TkxSelectionSummary s = SummarizeSelection(list, ranges);
  EXPECT_EQ(s.Rows, 5);
  EXPECT_EQ(s.Bytes, 5'000'000'000 + 0 + 1 + 3 + 4 + 5);
  EXPECT_EQ(StatusLineText(s.Rows, list.Count, s.Bytes), "5/6 file(s) selected (5000000013 bytes)");
  EXPECT_EQ(StatusLineText(0, 0, 0), "0/0 file(s) selected (0 bytes)");
  EXPECT_EQ(StatusLineText(2, 57, 4096), "2/57 file(s) selected (4096 bytes)");
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

  EXPECT_EQ(ExtractSourceQuestion("/img/a.iso", "/img/a.iso"), "");
  EXPECT_EQ(ExtractSourceQuestion("", "/img/b.iso"), "");  // where the list came from is not known
  EXPECT_EQ(ExtractSourceQuestion("/img/a.iso", "E:"),
            "The files in the list were found on \"/img/a.iso\", but the location now names \"E:\".\n\n"
            "Extract them from \"E:\"?");
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
  result.Failed = "/ro/a.jpg\n/out/b\n";
  EXPECT_EQ(ExtractionReportText(result),
            "The following files could not be extracted:\n\n/ro/a.jpg: Permission denied\n/out/b\n");
}

}  // namespace
}  // namespace kx
