#include "project/kxWindowTexts.h"

#include <gtest/gtest.h>

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
