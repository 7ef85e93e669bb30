// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/kxShared.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>

#include <unistd.h>

namespace kx {
namespace {

TEST(AddDefaultExt, AddsOnlyWhenTheLastPathComponentHasNoDot)
{
  EXPECT_EQ(AddDefaultExt("disk", ".iso"), "disk.iso");
  EXPECT_EQ(AddDefaultExt("disk.img", ".iso"), "disk.img");
  EXPECT_EQ(AddDefaultExt("project.", ".kx"), "project.");
  EXPECT_EQ(AddDefaultExt("some.dir/project", ".kx"), "some.dir/project.kx");
  EXPECT_EQ(AddDefaultExt("some.dir/project.old", ".kx"), "some.dir/project.old");
  EXPECT_EQ(AddDefaultExt("", ".kx"), ".kx");
}

// A save dialog asked about the name as typed; the name with the extension may be another file.
TEST(TypedFileName, AsksBeforeReplacingOnlyWhatTheExtensionNamed)
{
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("kx-typed-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream((dir / "other.kx").string()) << "KX\n";
  const std::string typed = (dir / "other").string();
  EXPECT_EQ(TypedFileName(typed, ".kx").FileName, typed + ".kx");
  EXPECT_TRUE(TypedFileName(typed, ".kx").AskReplace);
  EXPECT_FALSE(TypedFileName(typed + ".kx", ".kx").AskReplace);  // the dialog asked about this one
  EXPECT_FALSE(TypedFileName((dir / "new").string(), ".kx").AskReplace);
  std::filesystem::remove_all(dir);
}

TEST(MakeValidFileName, ReplacesControlAndReservedCharactersOnly)
{
  EXPECT_EQ(MakeValidFileName("Home: Start"), "Home_ Start");
  EXPECT_EQ(MakeValidFileName("a\"b*c/d:e<f>g?h\\i|j"), "a_b_c_d_e_f_g_h_i_j");
  EXPECT_EQ(MakeValidFileName(std::string("x\x01y\x1fz\tq")), "x_y_z_q");
  EXPECT_EQ(MakeValidFileName(std::string("\0", 1)), "_");
  // Space, punctuation that file systems accept and bytes above 127 survive.
  EXPECT_EQ(MakeValidFileName("a b.c-d_(e)\x7f\xc3\xa9"), "a b.c-d_(e)\x7f\xc3\xa9");
  EXPECT_EQ(MakeValidFileName(""), "");
}

// Sizes and offsets of a hostile project: sums hold at the limits instead of wrapping.
TEST(SaturatingAdd, HoldsAtTheLimitsOfHostileNumbers)
{
  constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
  struct TCase {
    std::int64_t A, B, Sum;
  };
  for (const TCase& c : {TCase{max, max, max}, TCase{max, 1, max}, TCase{max - 1, 1, max}, TCase{max, -1, max - 1},
                         TCase{min, -1, min}, TCase{min, min, min}, TCase{min, max, -1}, TCase{min + 1, -1, min},
                         TCase{-5, 3, -2}, TCase{0, 0, 0}}) {
    EXPECT_EQ(SaturatingAdd(c.A, c.B), c.Sum) << c.A << " + " << c.B;
    EXPECT_EQ(SaturatingAdd(c.B, c.A), c.Sum) << c.B << " + " << c.A;
  }
}

TEST(ProgramFolder, IsTheTestBinaryFolderWithATrailingDelimiter)
{
  const std::string& folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), PathDelimiter);
  EXPECT_TRUE(std::filesystem::exists(folder + "kxSharedTest"));
}

TEST(PartFileName, UsesAtLeastTwoDigitsFromPartTwoOn)
{
  EXPECT_EQ(PartFileName("disk.iso", 1), "disk.iso");
  EXPECT_EQ(PartFileName("disk.iso", 2), "disk.iso02");
  EXPECT_EQ(PartFileName("disk.iso", 99), "disk.iso99");
  EXPECT_EQ(PartFileName("disk.iso", 100), "disk.iso100");
}

TEST(IsUtf8, RefusesWhatUtf8CannotHold)
{
  EXPECT_TRUE(IsUtf8(""));
  EXPECT_TRUE(IsUtf8("caf\xC3\xA9"));
  EXPECT_FALSE(IsUtf8("caf\xE9"));
  EXPECT_FALSE(IsUtf8("\xC0\xAF"));          // an overlong form
  EXPECT_FALSE(IsUtf8("\xED\xA0\x80"));      // a surrogate
  EXPECT_FALSE(IsUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
}

TEST(Counted, OneFileManyFiles)
{
  EXPECT_EQ(Counted(0, "file"), "0 files");
  EXPECT_EQ(Counted(1, "file"), "1 file");
  EXPECT_EQ(Counted(2, "file"), "2 files");
  EXPECT_EQ(Counted(-1, "byte"), "-1 bytes");
  EXPECT_EQ(Counted(1, "part file"), "1 part file");
  EXPECT_EQ(Counted(3, "entry", "entries"), "3 entries");
  EXPECT_EQ(Counted(1, "file was", "files were"), "1 file was");
  EXPECT_EQ(Counted(2, "file was", "files were"), "2 files were");
}

// Temporary files are known by their names, and only those of a process that no longer runs
// are removed: never a file of a run that goes on, nor any other file.
TEST(TemporaryFiles, OnlyThoseOfAProcessThatEndedAreRemoved)
{
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("kx-temporary-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string folder = dir.string() + "/";
  const std::string mine = TemporaryFileName(folder);
  EXPECT_EQ(mine.rfind(folder + ".tessarin-" + std::to_string(::getpid()) + "-", 0), 0u) << mine;
  EXPECT_NE(TemporaryFileName(folder), mine) << "each call names another file";
  const struct {
    const char* Name;
    std::uint32_t Owner;
  } names[] = {{".tessarin-123-0.part", 123}, {".tessarin-123-45.part", 123}, {".tessarin-123.part", 0},
               {".tessarin--1.part", 0},      {".tessarin-1x-1.part", 0},     {".tessarin-123-4x.part", 0},
               {"tessarin-123-0.part", 0},    {".tessarin-123-0.tmp", 0},     {".tessarin-99999999999-0.part", 0}};
  for (const auto& n : names) EXPECT_EQ(TemporaryFileOwner(n.Name), n.Owner) << n.Name;

  // The parent of this test runs; a process of the largest number does not.
  const std::string live = ".tessarin-" + std::to_string(::getppid()) + "-0.part";
  const std::string dead = ".tessarin-4194304-0.part";
  for (const std::string& name : {live, dead, std::string("kept.jpg"), mine.substr(folder.size())})
    std::ofstream(folder + name) << "x";
  if (!std::filesystem::exists("/proc/4194304")) {
    EXPECT_EQ(RemoveStaleTemporaryFiles(folder), 1);
    EXPECT_FALSE(std::filesystem::exists(folder + dead));
  }
  for (const std::string& name : {live, std::string("kept.jpg"), mine.substr(folder.size())})
    EXPECT_TRUE(std::filesystem::exists(folder + name)) << name;
  std::filesystem::remove_all(dir);
}

TEST(DurationText, SecondsMinutesHours)
{
  EXPECT_EQ(DurationText(0), "0 s");
  EXPECT_EQ(DurationText(42.4), "42 s");
  EXPECT_EQ(DurationText(59.6), "1:00");
  EXPECT_EQ(DurationText(247), "4:07");
  EXPECT_EQ(DurationText(3903), "1:05:03");
  EXPECT_EQ(DurationText(-5), "0 s");
}

}  // namespace
}  // namespace kx
