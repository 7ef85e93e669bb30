// SPDX-License-Identifier: GPL-3.0-or-later
// What the desktop program decides about its windows and choosers without drawing or asking:
// where a window first appears on a screen, and where the next file or folder choice opens.
#pragma once

#include <string>

namespace kx {

struct TkxRect {
  int X = 0;
  int Y = 0;
  int Width = 0;
  int Height = 0;
};

// The frame a window manager puts around a window's client area: title bar, borders.
struct TkxMargins {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
};

// Where a window first appears in Area (the screen's part that panels leave free) and how large
// its client area is: Width x Height where that fits with its Frame, else shrunk to the area but
// never below the minimum; centred, or at the area's top left edge where even that is too large,
// so that the title bar and the menu stay in reach. X and Y are the frame's top left corner.
TkxRect FirstPlacement(const TkxRect& Area, int Width, int Height, int MinWidth, int MinHeight,
                       const TkxMargins& Frame);

// The folder where the file and folder choosers open: where the person chose something last, so
// that the next choice begins there. Kept for as long as the program runs.
class TkxRememberedFolder {
 public:
  // After a choice: the folder of the file chosen, or the folder chosen itself.
  void Remember(const std::string& Chosen, bool IsFolder);
  // The remembered folder, or the nearest folder above it that still exists; empty before the
  // first choice, when the chooser begins where it always does.
  std::string StartFolder() const;

 private:
  std::string Folder;
};

}  // namespace kx
