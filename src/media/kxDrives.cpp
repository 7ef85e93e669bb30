#include "media/kxDrives.h"

#include "media/CdRom.h"

#include <blkid.h>
#include <fcntl.h>
#include <unistd.h>

#include <system_error>

namespace kx {

std::string DriveListLine(char Letter, const std::optional<std::string>& Label)
{
  std::string line{Letter, ':'};
  if (Label) line += " (" + *Label + ")";
  return line;
}

std::optional<std::string> ReadVolumeLabel(const std::string& DevicePath)
{
  // O_NONBLOCK lets an empty drive open instead of failing with ENOMEDIUM; the probe then finds
  // nothing to read.
  const int fd = ::open(DevicePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> label;
  if (blkid_probe probe = blkid_new_probe()) {
    if (blkid_probe_set_device(probe, fd, 0, 0) == 0) {
      blkid_probe_enable_superblocks(probe, 1);
      blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE);
      int found = blkid_do_safeprobe(probe);
      if (found == -2) {
        // Several file systems answer (a bridge disc carries ISO 9660 and UDF): take the first.
        blkid_reset_probe(probe);
        found = blkid_do_probe(probe);
      }
      if (found == 0) {
        const char* value = nullptr;
        std::size_t length = 0;
        if (blkid_probe_lookup_value(probe, "LABEL", &value, &length) == 0 && value)
          label = std::string(value);
        else
          label = std::string();
      }
    }
    blkid_free_probe(probe);
  }
  ::close(fd);
  return label;
}

std::vector<std::string> ListOpticalDrives(const std::filesystem::path& SysBlockRoot,
                                           const TkxLabelReader& ReadLabel)
{
  std::vector<std::string> lines;
  for (char letter = 'D'; letter <= 'Z'; ++letter) {
    const std::string device = LinuxDrivePath(letter);
    const auto name = std::filesystem::path(device).filename();
    std::error_code ec;
    if (!std::filesystem::exists(SysBlockRoot / name, ec)) continue;
    lines.push_back(DriveListLine(letter, ReadLabel(device)));
  }
  return lines;
}

}  // namespace kx
