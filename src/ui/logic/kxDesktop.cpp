// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logic/kxDesktop.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace kx {

namespace {

// The client size along one axis, and the frame's first edge within Start..Start + Room.
void PlaceAxis(int Start, int Room, int Wanted, int Minimum, int FrameBefore, int FrameAfter, int& Edge, int& Size)
{
  Size = std::max(std::min(Wanted, Room - FrameBefore - FrameAfter), Minimum);
  const int outer = Size + FrameBefore + FrameAfter;
  Edge = outer <= Room ? Start + (Room - outer) / 2 : Start;
}

}  // namespace

TkxRect FirstPlacement(const TkxRect& Area, int Width, int Height, int MinWidth, int MinHeight,
                       const TkxMargins& Frame)
{
  TkxRect placed;
  PlaceAxis(Area.X, Area.Width, Width, MinWidth, Frame.Left, Frame.Right, placed.X, placed.Width);
  PlaceAxis(Area.Y, Area.Height, Height, MinHeight, Frame.Top, Frame.Bottom, placed.Y, placed.Height);
  return placed;
}

void TkxRememberedFolder::Remember(const std::string& Chosen, bool IsFolder)
{
  if (Chosen.empty()) return;
  const std::filesystem::path chosen(Chosen);
  Folder = IsFolder ? chosen.string() : chosen.parent_path().string();
}

std::string TkxRememberedFolder::StartFolder() const
{
  std::filesystem::path folder(Folder);
  std::error_code ec;
  while (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
    const std::filesystem::path parent = folder.parent_path();
    if (parent == folder) return {};
    folder = parent;
  }
  return folder.string();
}

}  // namespace kx
