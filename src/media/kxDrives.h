// SPDX-License-Identifier: GPL-3.0-or-later
// The list of optical drives that the drive choice offers: one line per drive, in letter order.
#pragma once

#include "common/kxPlatform.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kx {

// The line of one drive: "D: (LABEL)" when the disc's volume could be read, "D: ()" for a
// readable volume without a label, and "D:" alone when it could not be read (typically no disc).
std::string DriveListLine(char Letter, const std::optional<std::string>& Label);

using TkxDriveTest = std::function<bool(char Letter)>;
using TkxLabelReader = std::function<std::optional<std::string>(const std::string& DevicePath)>;

// The lines of every letter from A to Z that IsDrive accepts, in letter order; each label is read
// from the drive's device path (DriveDevicePath).
std::vector<std::string> ListOpticalDrives(const TkxDriveTest& IsDrive = IsOpticalDrive,
                                           const TkxLabelReader& ReadLabel = ReadVolumeLabel);

}  // namespace kx
