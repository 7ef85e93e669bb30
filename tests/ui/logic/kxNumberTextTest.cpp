// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logic/kxNumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string_view>

namespace kx {
namespace {

constexpr char32_t Point = U'.';
constexpr char32_t Comma = U',';

TEST(ClampNumber, BoundsOnlyWhenMinIsBelowMax)
{
  EXPECT_EQ(ClampNumber(70000000000.0, 0, 64000000000.0), 64000000000.0);
  EXPECT_EQ(ClampNumber(-5, 0, 64000000000.0), 0);
  EXPECT_EQ(ClampNumber(12, 0, 64000000000.0), 12);
  EXPECT_EQ(ClampNumber(7, 5, 5), 7);   // equal bounds bound nothing
  EXPECT_EQ(ClampNumber(-7, 0, 0), -7);
  EXPECT_EQ(ClampNumber(1, 10, 3), 1);  // reversed bounds neither
}

TEST(ParseNumberText, AcceptsSignFractionAndExponent)
{
  EXPECT_EQ(ParseNumberText("0", Point), 0.0);
  EXPECT_EQ(ParseNumberText("64000000000", Point), 64000000000.0);
  EXPECT_EQ(ParseNumberText("-5", Point), -5.0);
  EXPECT_EQ(ParseNumberText("+5", Point), 5.0);
  EXPECT_EQ(ParseNumberText("0.5", Point), 0.5);
  EXPECT_EQ(ParseNumberText("5.", Point), 5.0);
  EXPECT_EQ(ParseNumberText(".5", Point), 0.5);
  EXPECT_EQ(ParseNumberText("1E20", Point), 1e20);
  EXPECT_EQ(ParseNumberText("1.5e-5", Point), 1.5e-5);
  EXPECT_EQ(ParseNumberText("-2E+3", Point), -2000.0);
  EXPECT_EQ(ParseNumberText(" 12 ", Point), 12.0);
  // Every digit counts: no 64-bit size is rounded on its way in.
  EXPECT_EQ(ParseNumberText("9007199254740993", Point), 9007199254740992.0);
}

TEST(ParseNumberText, RefusesWhatIsNoNumber)
{
  for (const char* text : {"", " ", "-", "+", ".", "E5", "1E", "1e+", "5-", "1.2.3", "abc", "1a", "0x10", "inf",
                           "nan", "1 000", "1,000", "--1", "1E5.5"})
    EXPECT_FALSE(ParseNumberText(text, Point).has_value()) << '"' << text << '"';
}

TEST(ParseNumberText, UsesTheLocalesSeparatorOnly)
{
  EXPECT_EQ(ParseNumberText("0,5", Comma), 0.5);
  EXPECT_EQ(ParseNumberText("-1,25E2", Comma), -125.0);
  // Under a comma the point is a grouping mark, and grouping is not read.
  EXPECT_FALSE(ParseNumberText("0.5", Comma).has_value());
  EXPECT_FALSE(ParseNumberText("1,000", Point).has_value());
  // A separator beyond ASCII (the Arabic decimal separator, U+066B).
  EXPECT_EQ(ParseNumberText("1\xD9\xAB" "5", U'\u066B'), 1.5);
}

TEST(ParseNumberText, BeyondTheDoubleRange)
{
  EXPECT_FALSE(ParseNumberText("1E400", Point).has_value());
  EXPECT_FALSE(ParseNumberText("-1E400", Point).has_value());
  EXPECT_FALSE(ParseNumberText("1E99999999999", Point).has_value());
  const auto tiny = ParseNumberText("1E-400", Point);
  ASSERT_TRUE(tiny.has_value());
  EXPECT_EQ(*tiny, 0.0);
  const auto tinyFraction = ParseNumberText("0.0001E-400", Point);
  ASSERT_TRUE(tinyFraction.has_value());
  EXPECT_EQ(*tinyFraction, 0.0);
  // Large digits with a large negative exponent are an ordinary number.
  EXPECT_EQ(ParseNumberText("1000E-3", Point), 1.0);
}

TEST(FormatNumberText, GeneralFormatWith15Digits)
{
  EXPECT_EQ(FormatNumberText(0, Point), "0");
  EXPECT_EQ(FormatNumberText(-0.0, Point), "0");
  EXPECT_EQ(FormatNumberText(1, Point), "1");
  EXPECT_EQ(FormatNumberText(-1, Point), "-1");
  EXPECT_EQ(FormatNumberText(64000000000.0, Point), "64000000000");
  EXPECT_EQ(FormatNumberText(0.5, Point), "0.5");
  EXPECT_EQ(FormatNumberText(0.1 + 0.2, Point), "0.3");  // 15 digits hide the binary residue
  EXPECT_EQ(FormatNumberText(123456789012345.0, Point), "123456789012345");
  EXPECT_EQ(FormatNumberText(1234567890123456.0, Point), "1.23456789012346E15");
  EXPECT_EQ(FormatNumberText(1e20, Point), "1E20");
  EXPECT_EQ(FormatNumberText(-2.5e100, Point), "-2.5E100");
  EXPECT_EQ(FormatNumberText(0.0001, Point), "0.0001");
  EXPECT_EQ(FormatNumberText(1.5e-5, Point), "1.5E-5");
  EXPECT_EQ(FormatNumberText(1e-300, Point), "1E-300");
  EXPECT_EQ(FormatNumberText(std::numeric_limits<double>::infinity(), Point), "INF");
}

TEST(FormatNumberText, WritesTheLocalesSeparatorAndReadsBack)
{
  EXPECT_EQ(FormatNumberText(0.5, Comma), "0,5");
  EXPECT_EQ(FormatNumberText(1.5e-5, Comma), "1,5E-5");
  EXPECT_EQ(FormatNumberText(1.5, U'\u066B'), "1\xD9\xAB" "5");
  for (const double v : {0.5, -1234.75, 1e20, 1.5e-5, 64000000000.0, 3.14159265358979})
    for (const char32_t separator : {Point, Comma})
      EXPECT_EQ(ParseNumberText(FormatNumberText(v, separator), separator), v) << v;
}

TEST(NumberTextValue, TextThatIsNoNumberReadsAsBoundedZero)
{
  EXPECT_EQ(NumberTextValue("", 0, 0, Point), 0);
  EXPECT_EQ(NumberTextValue("-", -10, 10, Point), 0);
  EXPECT_EQ(NumberTextValue("abc", 5, 10, Point), 5);    // 0 lies below Min
  EXPECT_EQ(NumberTextValue("abc", -10, -5, Point), -5); // 0 lies above Max
  EXPECT_EQ(NumberTextValue("70000000000", 0, 64000000000.0, Point), 64000000000.0);
  EXPECT_EQ(NumberTextValue("2,5", 0, 10, Comma), 2.5);
}

TEST(IsNumberEditChar, DigitsSignsExponentSeparatorAndControlsButReturn)
{
  for (const char32_t c : std::u32string_view(U"0123456789+-Ee.")) EXPECT_TRUE(IsNumberEditChar(c, Point)) << int(c);
  EXPECT_TRUE(IsNumberEditChar(U'\b', Point));
  EXPECT_TRUE(IsNumberEditChar(0x16, Point));  // Ctrl+V
  EXPECT_TRUE(IsNumberEditChar(0x1A, Point));  // Ctrl+Z
  EXPECT_FALSE(IsNumberEditChar(U'\r', Point));
  for (const char32_t c : std::u32string_view(U"aAdxZ ,'_*/\u00A0\u066B")) EXPECT_FALSE(IsNumberEditChar(c, Point)) << int(c);
  EXPECT_FALSE(IsNumberEditChar(U'.', Comma));
  EXPECT_TRUE(IsNumberEditChar(U',', Comma));
  EXPECT_FALSE(IsNumberEditChar(0x7F, Point));
}

TEST(GroupedNumberText, GroupsOfThreeFromTheRightWithTheLocalesSeparator)
{
  const struct {
    std::int64_t Value;
    char32_t Separator;
    const char* Text;
  } cases[] = {
      {0, U',', "0"},
      {999, U',', "999"},
      {1000, U',', "1,000"},
      {4096, U'.', "4.096"},
      {6'000'000'000, U',', "6,000,000,000"},
      {123456, U'\u202F', "123\u202F456"},  // French: a narrow no-break space, three bytes of UTF-8
      {-1234567, U',', "-1,234,567"},
      {std::numeric_limits<std::int64_t>::min(), U',', "-9,223,372,036,854,775,808"},
      {1234567, 0, "1234567"},
  };
  for (const auto& c : cases) EXPECT_EQ(GroupedNumberText(c.Value, c.Separator), c.Text) << c.Value;
}

}  // namespace
}  // namespace kx
