// SPDX-License-Identifier: GPL-3.0-or-later
#include "found/kxKinds.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string_view>

namespace kx {
namespace {

TEST(KindExtensions, TableShape)
{
  ASSERT_EQ(KindExtensions.size(), static_cast<std::size_t>(KindCount));
  EXPECT_EQ(KindExtensions[0], "");
  for (int k = 1; k < KindCount; ++k) {
    ASSERT_FALSE(KindExtensions[k].empty()) << k;
    EXPECT_EQ(KindExtensions[k][0], '.') << k;
  }
  EXPECT_EQ(KindExtensions[33], ".cab");
  EXPECT_EQ(KindExtensions[34], ".cab");
  EXPECT_EQ(KindExtensions[53], ".ppt.xls.doc");
  EXPECT_EQ(KindExtensions[63], ".chr.bgi");
  EXPECT_EQ(KindExtensions[66], ".elf.so.o");
  EXPECT_EQ(KindExtensions[69], ".ti.__x");
}

TEST(KindOfExtension, CaseIgnoredWholeStringsLowestCodeWins)
{
  const struct {
    std::string_view Ext;
    TKind Kind;
  } cases[] = {
      {".Txt", 1},           {"txt", 0},   {".cab", 33},        {".CAB", 33},   {"", 0},
      {".ppt.xls.doc", 53},  {".PPT.XLS.DOC", 53},              {".doc", 0},    {".xls", 0},
      {".ELF.so.O", 66},     {".sfk", 90}, {".riff", 30},       {".bmp ", 0},   {".\xC9XE", 0},
      // The newer codes: a refined extension loads back as its own kind; the ones that newer
      // rules share with classic codes load as the classic code.
      {".mp4", 91}, {".MKV", 96}, {".docx", 108}, {".apk", 116}, {".webp", 106}, {".mov", 85}, {".mp3", 51},
  };
  for (const auto& c : cases) EXPECT_EQ(KindOfExtension(c.Ext), c.Kind) << c.Ext;

  for (int k = 0; k < KindCount; ++k)
    EXPECT_EQ(KindOfExtension(KindExtensions[k]), k == 34 ? 33 : k) << KindExtensions[k];
}

TEST(KindFamily, NamesEveryFamilyOfTheTable)
{
  const struct {
    TKind Kind;
    std::string_view Family;
  } cases[] = {
      {0, "none"},  {1, "text"},  {19, "text"},  {20, "sized"}, {30, "sized"},
      {31, "open"}, {90, "open"}, {44, "open"},  {51, "open, trailer"},
      {53, "open, text-absorbing"}, {56, "open, trailer, text-absorbing"},
      {57, "open, text-absorbing"}, {67, "open, text-absorbing"},
      {91, "open"}, {105, "open"}, {106, "sized"}, {116, "open"},
  };
  for (const auto& c : cases) EXPECT_EQ(KindFamily(c.Kind), c.Family) << int{c.Kind};
  int trailer = 0, absorbing = 0;
  for (int k = 0; k < KindCount; ++k) {
    const auto kind = static_cast<TKind>(k);
    EXPECT_EQ(IsTextKind(kind) + IsSizedKind(kind) + IsOpenKind(kind), k == 0 ? 0 : 1) << k;
    trailer += IsTrailerKind(kind);
    absorbing += IsTextAbsorbingKind(kind);
  }
  EXPECT_EQ(trailer, 2);
  EXPECT_EQ(absorbing, 4);
}

}  // namespace
}  // namespace kx
