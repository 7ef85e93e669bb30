// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kxDrives.h"

namespace kx {

std::string DriveListLine(char Letter, const std::optional<std::string>& Label)
{
  std::string line{Letter, ':'};
  if (Label) line += " (" + *Label + ")";
  return line;
}

std::vector<std::string> ListOpticalDrives(const TkxDriveTest& IsDrive, const TkxLabelReader& ReadLabel)
{
  std::vector<std::string> lines;
  for (char letter = 'A'; letter <= 'Z'; ++letter)
    if (IsDrive(letter)) lines.push_back(DriveListLine(letter, ReadLabel(DriveDevicePath(letter))));
  return lines;
}

}  // namespace kx
