// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/kxDrivePaths.h"

#include "common/kxShared.h"

namespace kx {

namespace {

char UpperLetter(char Drive)
{
  const char upper = AsciiUpper(Drive);
  return upper >= 'A' && upper <= 'Z' ? upper : 0;
}

}  // namespace

std::string LinuxDrivePath(char Drive)
{
  const char letter = UpperLetter(Drive);
  if (letter < 'D') return {};
  return "/dev/sr" + std::to_string(letter - 'D');
}

std::string WindowsDrivePath(char Drive)
{
  const char letter = UpperLetter(Drive);
  if (letter == 0) return {};
  return std::string("\\\\.\\") + letter + ':';
}

}  // namespace kx
