// SPDX-License-Identifier: GPL-3.0-or-later
#include "project/kxFind.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace kx {
namespace {

TkxFindMatcher Matcher(std::string Fragment, bool CaseSensitive = false, double Min = 0, double Max = FindMaxSize)
{
  return TkxFindMatcher({std::move(Fragment), CaseSensitive, Min, Max});
}

TkxFileEntry Entry(std::string Name, TKind Kind, std::int64_t Size)
{
  return TkxFileEntry{std::move(Name), Kind, 0, Size, false};
}

TEST(FindMatch, FragmentIsSoughtInTheNameWithItsExtension)
{
  const struct {
    const char* Fragment;
    bool CaseSensitive;
    TkxFileEntry E;
    bool Match;
  } cases[] = {
      {".jpg", false, Entry("File 000003", 77, 10), true},
      {"0003", false, Entry("File 000003", 77, 10), true},
      {"cab", false, Entry("File 000009", 34, 10), true},
      {".ppt", false, Entry("File 000010", 53, 10), true},
      {"01.b", false, Entry("File 000001", 20, 10), true},  // spans name and extension
      {"", false, Entry("anything", 0, 10), true},
      {"file", true, Entry("File 000001", 1, 10), false},
      {"File", true, Entry("File 000001", 1, 10), true},
      {".JPG", true, Entry("File 000003", 77, 10), false},
      {"0004", false, Entry("File 000003", 77, 10), false},
      {"\xC3\xA9t\xC3\xA9", false, Entry("\xC3\x89T\xC3\x89 2020", 1, 10), true},  // été in ÉTÉ
      // A name (or a fragment) that is not UTF-8 is read as Windows-1252, not as replacement
      // characters that match each other.
      {"caf\xC3\xA9", false, Entry("CAF\xC9", 20, 10), true},
      {"caf\xC3\xA9", true, Entry("caf\xE9", 20, 10), true},
      {"caf\xE9", false, Entry("caf\xE8", 20, 10), false},
      {"\xE9", false, Entry("caf\xE9", 20, 10), true},
      {"\xE2\x82\xAC", false, Entry("5 \x80", 1, 10), true},  // the euro sign
  };
  for (const auto& c : cases)
    EXPECT_EQ(Matcher(c.Fragment, c.CaseSensitive).Matches(c.E), c.Match) << c.Fragment << " in " << c.E.Name;
}

TEST(FindMatch, SizeBoundsAreInclusiveAndExact)
{
  EXPECT_TRUE(Matcher("", false, 100, 100).Matches(Entry("a", 0, 100)));
  EXPECT_FALSE(Matcher("", false, 100, 100).Matches(Entry("a", 0, 99)));
  EXPECT_FALSE(Matcher("", false, 100, 100).Matches(Entry("a", 0, 101)));
  EXPECT_FALSE(Matcher("", false, 200, 100).Matches(Entry("a", 0, 150)));
  // Above the default upper bound nothing is found.
  EXPECT_TRUE(Matcher("").Matches(Entry("a", 0, 64'000'000'000)));
  EXPECT_FALSE(Matcher("").Matches(Entry("a", 0, 64'000'000'001)));
  // 2^53 + 1 is not a double; converting the size would round it onto the bound.
  const std::int64_t odd = (std::int64_t{1} << 53) + 1;
  const double bound = 9007199254740992.0;  // 2^53
  EXPECT_FALSE(Matcher("", false, 0, bound).Matches(Entry("a", 0, odd)));
  EXPECT_TRUE(Matcher("", false, bound, HUGE_VAL).Matches(Entry("a", 0, odd)));
  // Fractional bounds: 99.5 <= 100 <= 100.5.
  EXPECT_TRUE(Matcher("", false, 99.5, 100.5).Matches(Entry("a", 0, 100)));
  EXPECT_FALSE(Matcher("", false, 100.5, 200).Matches(Entry("a", 0, 100)));
  EXPECT_TRUE(Matcher("", false, -HUGE_VAL, HUGE_VAL).Matches(Entry("a", 0, std::numeric_limits<std::int64_t>::max())));
  EXPECT_TRUE(Matcher("", false, -HUGE_VAL, HUGE_VAL).Matches(Entry("a", 0, std::numeric_limits<std::int64_t>::min())));
}

TEST(FindRow, StepsFromTheCurrentRowWithoutWrapping)
{
  TkxFileList list;
  list.Add("File 000001", 77, 0, 10, false);
  list.Add("File 000002", 20, 0, 10, false);
  list.Add("File 000003", 77, 0, 10, false);
  list.Add("File 000004", 1, 0, 10, false);
  const TkxFindMatcher jpg = Matcher(".jpg");
  const TkxFindMatcher all = Matcher("");

  EXPECT_EQ(FindRow(list, 0, +1, all), 1);
  EXPECT_EQ(FindRow(list, -1, +1, all), 1);  // no current row: as if row 0 were current
  EXPECT_EQ(FindRow(list, 0, +1, jpg), 2);
  EXPECT_EQ(FindRow(list, 3, -1, jpg), 2);
  EXPECT_EQ(FindRow(list, 2, -1, jpg), 0);
  EXPECT_EQ(FindRow(list, 2, +1, jpg), -1);  // no wrap-around to row 0
  EXPECT_EQ(FindRow(list, 3, +1, all), -1);  // next from the last row
  EXPECT_EQ(FindRow(list, 0, -1, all), -1);  // previous from the first row
  // The current row itself is never a candidate.
  EXPECT_EQ(FindRow(list, 1, +1, Matcher(".bmp")), -1);
  EXPECT_EQ(FindRow(list, 1, -1, Matcher(".bmp")), -1);
  TkxFileList empty;
  EXPECT_EQ(FindRow(empty, -1, +1, all), -1);
}

}  // namespace
}  // namespace kx
