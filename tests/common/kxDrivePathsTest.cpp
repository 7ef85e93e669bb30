// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/kxDrivePaths.h"

#include <gtest/gtest.h>

namespace kx {
namespace {

TEST(DrivePaths, LettersMapToDevicesInEitherCase)
{
  struct {
    char Drive;
    const char* Linux;
    const char* Windows;
  } const cases[] = {
      {'D', "/dev/sr0", "\\\\.\\D:"},  {'d', "/dev/sr0", "\\\\.\\D:"},  {'E', "/dev/sr1", "\\\\.\\E:"},
      {'n', "/dev/sr10", "\\\\.\\N:"}, {'Z', "/dev/sr22", "\\\\.\\Z:"}, {'z', "/dev/sr22", "\\\\.\\Z:"},
      {'C', "", "\\\\.\\C:"},          {'a', "", "\\\\.\\A:"},          {'1', "", ""},
      {':', "", ""},                   {'[', "", ""},                   {'\0', "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LinuxDrivePath(c.Drive), c.Linux) << c.Drive;
    EXPECT_EQ(WindowsDrivePath(c.Drive), c.Windows) << c.Drive;
  }
}

}  // namespace
}  // namespace kx
