// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logic/kxDesktop.h"

#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kx {
namespace {

TEST(FirstPlacement, CentredWhereItFitsShrunkToTheAreaAndNeverOutOfReach)
{
  const TkxMargins frame{2, 11, 2, 2};
  struct Case {
    const char* What;
    TkxRect Area;
    int Width, Height;
    TkxRect Placed;
  };
  const Case cases[] = {
      // 1280 x 1024 less a panel at the top: the whole window, centred with its frame.
      {"fits", {0, 24, 1280, 1000}, 632, 544, {0 + (1280 - 636) / 2, 24 + (1000 - 557) / 2, 632, 544}},
      // 1366 x 768 at scale factor 2: 683 x 384 logical pixels; the height shrinks to the area.
      {"too tall", {0, 0, 683, 384}, 632, 544, {(683 - 636) / 2, 0, 632, 384 - 13}},
      {"too wide and too tall", {10, 20, 500, 300}, 632, 544, {10, 20, 496, 287}},
      // Not even the minimum fits: the frame's corner stays at the area's, the title bar in reach.
      {"below the minimum", {0, 0, 400, 150}, 632, 544, {0, 0, 480, 210}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const TkxRect placed = FirstPlacement(c.Area, c.Width, c.Height, 480, 210, frame);
    EXPECT_EQ(placed.X, c.Placed.X);
    EXPECT_EQ(placed.Y, c.Placed.Y);
    EXPECT_EQ(placed.Width, c.Placed.Width);
    EXPECT_EQ(placed.Height, c.Placed.Height);
  }
}

TEST(RememberedFolder, TheFolderOfTheLastChoiceOrTheNearestOneThatStillExists)
{
  test::TScratchFolder dir;
  std::filesystem::create_directories(dir / "a/b/c");
  TkxRememberedFolder folder;
  EXPECT_EQ(folder.StartFolder(), "");
  folder.Remember(dir / "a/b/project.kx", false);
  EXPECT_EQ(folder.StartFolder(), dir / "a/b");
  folder.Remember("", false);  // a cancelled choice changes nothing
  EXPECT_EQ(folder.StartFolder(), dir / "a/b");
  folder.Remember(dir / "a/b/c", true);
  EXPECT_EQ(folder.StartFolder(), dir / "a/b/c");
  std::filesystem::remove_all(dir / "a/b");
  EXPECT_EQ(folder.StartFolder(), dir / "a");
}

}  // namespace
}  // namespace kx
