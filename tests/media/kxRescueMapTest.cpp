// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kxRescueMap.h"

#include "support/kxTestMedia.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <fstream>
#include <random>

namespace kx {
namespace {

using State = TkxSectorState;
using ::testing::ElementsAre;

// The map as a string of state characters, one per sector: easy to compare with a model.
std::string Picture(const TkxSectorMap& Map)
{
  std::string out;
  for (std::int64_t s = 0; s < Map.Sectors(); ++s) out += static_cast<char>(Map.At(s));
  return out;
}

std::int64_t AreasOf(const std::string& Picture)
{
  std::int64_t areas = 0;
  for (std::size_t i = 0; i < Picture.size(); ++i)
    if (Picture[i] != '+' && (i == 0 || Picture[i - 1] == '+')) ++areas;
  return areas;
}

// Random changes against a plain string of states: the runs, the counts and the areas follow.
TEST(TkxSectorMap, RunsCountsAndAreasFollowEveryChange)
{
  std::mt19937 random(18);
  const char states[] = {'?', '*', '/', '-', '+'};
  for (int round = 0; round < 20; ++round) {
    const std::int64_t n = 1 + static_cast<std::int64_t>(random() % 70);
    TkxSectorMap map(n);
    std::string model(static_cast<std::size_t>(n), '?');
    for (int step = 0; step < 60; ++step) {
      const std::int64_t a = static_cast<std::int64_t>(random() % (n + 4)) - 2;
      const std::int64_t b = a + static_cast<std::int64_t>(random() % 12);
      const char c = states[random() % 5];
      map.Set(a, b, static_cast<State>(c));
      for (std::int64_t s = std::max<std::int64_t>(a, 0); s < std::min(b, n); ++s) model[static_cast<std::size_t>(s)] = c;
      ASSERT_EQ(Picture(map), model) << round << "/" << step;
      for (const char k : states)
        ASSERT_EQ(map.Count(static_cast<State>(k)), std::count(model.begin(), model.end(), k)) << k;
      ASSERT_EQ(map.UnfinishedAreas(), AreasOf(model)) << model;
      // Runs are maximal: neighbours differ.
      State previous{};
      bool first = true;
      for (const auto& [start, state] : map.Runs()) {
        ASSERT_TRUE(first || state != previous) << model;
        previous = state;
        first = false;
      }
    }
    const std::int64_t from = static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(n));
    const std::size_t next = model.find('-', static_cast<std::size_t>(from));
    EXPECT_EQ(map.FindNext(from, State::Bad), next == std::string::npos ? n : static_cast<std::int64_t>(next));
    const std::size_t previous = from == 0 ? std::string::npos : model.rfind('-', static_cast<std::size_t>(from - 1));
    EXPECT_EQ(map.FindPrevious(from, State::Bad), previous == std::string::npos ? -1 : static_cast<std::int64_t>(previous));
    EXPECT_EQ(map.UnfinishedIn(from, n), static_cast<std::int64_t>(std::count_if(model.begin() + from, model.end(),
                                                                                  [](char c) { return c != '+'; })));
  }
}

TEST(CellStates, EachCellShowsItsWorstState)
{
  TkxSectorMap map(100, State::Finished);
  map.Set(5, 6, State::Bad);
  map.Set(12, 30, State::NonScraped);
  map.Set(40, 41, State::NonTried);
  map.Set(41, 50, State::NonTrimmed);
  EXPECT_THAT(CellStates(map, 10), ElementsAre(State::Bad, State::NonScraped, State::NonScraped, State::Finished,
                                               State::NonTrimmed, State::Finished, State::Finished, State::Finished,
                                               State::Finished, State::Finished));
  // More cells than sectors: each sector fills the cells that fall on it.
  TkxSectorMap three(3, State::Finished);
  three.Set(1, 2, State::Bad);
  EXPECT_THAT(CellStates(three, 6), ElementsAre(State::Finished, State::Finished, State::Bad, State::Bad,
                                                State::Finished, State::Finished));
  EXPECT_TRUE(CellStates(TkxSectorMap(0), 4).size() == 4);
}

TEST(IdentityMismatch, SizeAndTheHashesThatBothHave)
{
  const TkxDiscIdentity disc{10000, "0123456789abcdef", "fedcba9876543210"};
  EXPECT_EQ(IdentityMismatch(disc, disc), "");
  EXPECT_EQ(IdentityMismatch(disc, {10001, disc.Toc, disc.Volume}),
            "the map describes a disc of 10000 sectors; this disc has 10001");
  EXPECT_NE(IdentityMismatch(disc, {10000, "1123456789abcdef", disc.Volume}), "");
  EXPECT_NE(IdentityMismatch(disc, {10000, disc.Toc, "0000000000000000"}), "");
  EXPECT_EQ(IdentityMismatch(disc, {10000, "", ""}), "") << "what one side lacks is not compared";
  EXPECT_EQ(IdentityHash({}), "cbf29ce484222325");
  EXPECT_EQ(IdentityHash({'a'}), "af63dc4c8601ec8c");
}

TkxRescueMap SampleMap()
{
  TkxRescueMap map{TkxSectorMap(10000, State::Finished)};
  map.Sectors.Set(1000, 1001, State::Bad);
  map.Sectors.Set(1001, 1009, State::NonScraped);
  map.Sectors.Set(1009, 1010, State::Bad);
  map.Sectors.Set(9000, 10000, State::NonTried);
  map.Phase = TkxRescuePhase::Retry;
  map.Pass = 3;
  map.Position = 1005;
  map.Disc = TkxDiscIdentity{10000, "0123456789abcdef", ""};
  return map;
}

TEST(RescueMapFile, RoundTripInDdrescuesFormat)
{
  const TkxRescueMap map = SampleMap();
  const std::string text = FormatRescueMap(map);
  EXPECT_THAT(text, ::testing::HasSubstr("# Disc: 10000 sectors; TOC 0123456789abcdef; volume descriptors none\n"));
  EXPECT_THAT(text, ::testing::HasSubstr("\n0x001F6800     -               3\n"));
  EXPECT_THAT(text, ::testing::HasSubstr("\n0x00000000  0x001F4000  +\n0x001F4000  0x00000800  -\n"
                                         "0x001F4800  0x00004000  /\n"));
  const TkxRescueMap back = ParseRescueMap(text);
  EXPECT_EQ(back.Sectors, map.Sectors);
  EXPECT_EQ(back.Phase, map.Phase);
  EXPECT_EQ(back.Pass, 3);
  EXPECT_EQ(back.Position, 1005);
  ASSERT_TRUE(back.Disc);
  EXPECT_EQ(*back.Disc, *map.Disc);

  // Every phase survives the status line.
  for (const auto phase : {TkxRescuePhase::Copy, TkxRescuePhase::Gaps, TkxRescuePhase::Trim, TkxRescuePhase::Scrape,
                           TkxRescuePhase::Finished}) {
    TkxRescueMap m = map;
    m.Phase = phase;
    EXPECT_EQ(ParseRescueMap(FormatRescueMap(m)).Phase, phase) << static_cast<int>(phase);
  }
}

TEST(RescueMapFile, ReadsDdrescuesOwnMaps)
{
  // As ddrescue 1.27 writes them: decimal is allowed too, and its fill mode's status.
  const TkxRescueMap map = ParseRescueMap("# Mapfile. Created by GNU ddrescue version 1.27\n"
                                          "# Command line: ddrescue -d -n -b2048 /dev/sr0 x.iso x.map\n"
                                          "# current_pos  current_status  current_pass\n"
                                          "0x00010000     +               1\n"
                                          "#      pos        size  status\n"
                                          "0x00000000  0x00008000  +\r\n"
                                          "32768  2048  *\n"
                                          "0x00008800  0x00001000  ?\n");
  EXPECT_EQ(map.Phase, TkxRescuePhase::Finished);
  EXPECT_EQ(Picture(map.Sectors), std::string(16, '+') + "*??");
  EXPECT_FALSE(map.Disc);
  EXPECT_EQ(ParseRescueMap("0 ? 2\n0 4096 ?\n").Phase, TkxRescuePhase::Gaps);
  EXPECT_EQ(ParseRescueMap("0 F\n0 4096 ?\n").Phase, TkxRescuePhase::Finished);
}

TEST(RescueMapFile, MalformedMapsAreRefusedWithTheLine)
{
  struct TCase {
    const char* Text;
    int Line;
  };
  for (const TCase c : {TCase{"", 0},
                        {"# only comments\n", 0},
                        {"0 ?\n", 0},
                        {"0 x 1\n0 2048 +\n", 1},
                        {"zero ? 1\n", 1},
                        {"0 ? 1\n0 2048 +\n4096 2048 +\n", 3},
                        {"0 ? 1\n2048 2048 +\n", 2},
                        {"0 ? 1\n0 2048 +\n2048 0 +\n", 3},
                        {"0 ? 1\n0 512 +\n", 2},
                        {"0 ? 1\n0 2048 x\n", 2},
                        {"0 ? 1\n0 2048\n", 2},
                        {"0 ? 1\n-2048 2048 +\n", 2},
                        {"0 ? 1\n0 0x7fffffffffffffff +\n", 2},
                        {"0 ? 1\n0 99999999999999999999 +\n", 2},
                        {"# Disc: many sectors\n0 ? 1\n0 2048 +\n", 1}}) {
    try {
      ParseRescueMap(c.Text);
      ADD_FAILURE() << "accepted: " << c.Text;
    } catch (const EkxMapError& e) {
      EXPECT_EQ(e.Line, c.Line) << c.Text << ": " << e.what();
    }
  }
}

TEST(RescueMapFile, SavedOverTheOldOneAndFoundBesideItsImage)
{
  test::TScratchFolder dir;
  const std::string image = dir / "disc.iso";
  EXPECT_EQ(RescueMapName(image), image + ".map");
  EXPECT_FALSE(MapBesideImage(image));
  SaveRescueMap(RescueMapName(image), SampleMap());
  TkxRescueMap changed = SampleMap();
  changed.Sectors.Set(0, 10000, State::Finished);
  SaveRescueMap(RescueMapName(image), changed);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path), {}), 1) << "the map alone, no new file left";
  const auto found = MapBesideImage(image);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->Sectors, changed.Sectors);
  EXPECT_FALSE(MapBesideImage("E:")) << "a drive has no map";

  std::ofstream(RescueMapName(image)) << "not a map\n";
  EXPECT_FALSE(MapBesideImage(image));
  EXPECT_THROW(LoadRescueMap(dir / "missing.map"), EkxMapError);
  EXPECT_THROW(SaveRescueMap(dir / "no/such/folder/x.map", changed), EkxMapError);
}

// A map beside an image of 20 sectors, as the list and extraction read it: each malformed map
// with why it is not used, and a map shorter than the image with its tail as not read.
TEST(ReadImageMap, SaysWhyAMapCannotBeUsedAndNeverCountsAnUncoveredSectorAsRead)
{
  test::TScratchFolder dir;
  const std::string image = dir / "disc.iso";
  constexpr std::int64_t sectors = 20;  // 0xA000 bytes
  std::string comments;
  for (int i = 0; i < 200; ++i) comments += "#\n";
  struct TCase {
    const char* What;
    std::string Text;
    const char* Problem;  // a part of it; empty for a usable map
    std::int64_t Unread;  // of the image's sectors, when usable
  };
  const TCase cases[] = {
      {"the map of the image", "0 + 1\n0 0x9000 +\n0x9000 0x1000 -\n", "", 2},
      {"a map shorter than the image", "0 + 1\n0 0x5000 +\n", "", 10},
      {"overlapping blocks", "0 ? 1\n0 0xA000 +\n0x5000 0x5000 -\n", "line 3: the block does not begin where", 0},
      {"a negative size", "0 ? 1\n0 -2048 +\n", "line 2: the size is not a number", 0},
      {"an unaligned size", "0 ? 1\n0 1000 +\n", "line 2: the block does not lie on 2048-byte sector boundaries", 0},
      {"no status line", "# a comment, then nothing\n", "the file holds no status line", 0},
      {"an unknown status", "0 X 1\n0 0xA000 +\n", "line 1: unknown current status 'X'", 0},
      {"a block of four words", "0 ? 1\n0 0xA000 + more\n", "line 2: a block line must hold", 0},
      {"the identity of another disc", "# Disc: 99 sectors; TOC none; volume descriptors none\n0 + 1\n0 0x31800 +\n",
       "its identity line names a disc of 99 sectors; the image has 20", 0},
      {"more sectors than the image", "0 + 1\n0 0xA800 +\n", "it covers 21 sectors; the image has 20", 0},
      {"more lines than a map of the image has", "0 + 1\n" + comments + "0 0xA000 +\n",
       "line 105: the file has more than the 104 lines", 0},
      {"a line too long", "0 + 1\n# " + std::string(70000, 'x') + "\n0 0xA000 +\n", "holds a line too long for a map", 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    test::WriteFileText(RescueMapName(image), c.Text);
    const TkxImageMap map = ReadImageMap(image, sectors);
    EXPECT_EQ(map.FileName, RescueMapName(image));
    if (*c.Problem != '\0') {
      EXPECT_THAT(map.Problem, ::testing::HasSubstr(c.Problem));
      EXPECT_FALSE(map.Sectors);
    } else {
      EXPECT_EQ(map.Problem, "");
      ASSERT_TRUE(map.Sectors);
      EXPECT_EQ(map.Sectors->Sectors(), sectors);
      EXPECT_EQ(UnreadSectorsIn(*map.Sectors, 0, sectors * MapSectorSize), c.Unread);
    }
  }
  std::filesystem::remove(RescueMapName(image));
  EXPECT_EQ(ReadImageMap(image, sectors).FileName, "") << "no map, nothing to say";
}

TEST(UnreadSectorsIn, CountsTheSectorsThatHoldTheBytes)
{
  TkxSectorMap map(100, State::Finished);
  map.Set(10, 12, State::Bad);
  map.Set(50, 100, State::NonScraped);
  EXPECT_EQ(UnreadSectorsIn(map, 0, 10 * 2048), 0);
  EXPECT_EQ(UnreadSectorsIn(map, 0, 10 * 2048 + 1), 1);
  EXPECT_EQ(UnreadSectorsIn(map, 11 * 2048 + 2047, 2), 1);
  EXPECT_EQ(UnreadSectorsIn(map, 9 * 2048, 4 * 2048), 2);
  EXPECT_EQ(UnreadSectorsIn(map, 99 * 2048, 10 * 2048), 1) << "bytes past the disc are no sectors of it";
  EXPECT_EQ(UnreadSectorsIn(map, 20 * 2048, 0), 0);
}

}  // namespace
}  // namespace kx
