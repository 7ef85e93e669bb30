// The list of optical drives that the drive choice offers: one line per drive, in letter order.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kx {

// The line of one drive: "D: (LABEL)" when the disc's volume could be read, "D: ()" for a
// readable volume without a label, and "D:" alone when it could not be read (typically no disc).
std::string DriveListLine(char Letter, const std::optional<std::string>& Label);

// The volume label of the file system on a device or image file; "" for a file system without
// a label; nothing when no file system can be read (no disc, unreadable, unknown format).
std::optional<std::string> ReadVolumeLabel(const std::string& DevicePath);

using TkxLabelReader = std::function<std::optional<std::string>(const std::string& DevicePath)>;

// The lines of every optical drive that has a drive letter, in letter order. A drive is present
// when SysBlockRoot holds its srN entry (D: is sr0, ..., Z: is sr22); its label is read from
// its device path (/dev/srN).
std::vector<std::string> ListOpticalDrives(const std::filesystem::path& SysBlockRoot = "/sys/class/block",
                                           const TkxLabelReader& ReadLabel = ReadVolumeLabel);

}  // namespace kx
