// SPDX-License-Identifier: GPL-3.0-or-later
#include "project/kxColumnTexts.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace kx {
namespace {

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

}  // namespace
}  // namespace kx
