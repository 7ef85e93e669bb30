// SPDX-License-Identifier: GPL-3.0-or-later
// The device paths of drive letters on each system. They are rules on names, free of any system
// call, so that the platform layer of either system takes its own and the tests check both on any
// machine; the drive code above them asks the platform layer (DriveDevicePath).
#pragma once

#include <string>

namespace kx {

// Device paths of a drive letter, either case. Linux: D: is /dev/sr0, E: /dev/sr1, ... Z:
// /dev/sr22; A: to C: are never optical drives and give "". Windows: \\.\D: for any letter A
// to Z. Anything that is not a letter gives "".
std::string LinuxDrivePath(char Drive);
std::string WindowsDrivePath(char Drive);

}  // namespace kx
