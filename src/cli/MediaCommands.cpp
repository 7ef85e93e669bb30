// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliSupport.h"
#include "cli/Commands.h"

#include "common/kxShared.h"
#include "media/kxDisks.h"

#include <cstdio>
#include <memory>
#include <string>

namespace kx::cli {

namespace {

int ShowInfo(const std::string& Location)
{
  TkxOpenFailure why;
  const std::unique_ptr<TkxDisk> disk = OpenDisk(Location, &why);
  if (!disk) {
    ReportMediumNotOpened(why);
    return ExitFailure;
  }
  if (const auto* image = dynamic_cast<const TkxDiskImage*>(disk.get())) {
    const std::string_view layout = LayoutName(image->Layout());
    std::printf("Layout: %.*s (%d-byte sectors)\n", static_cast<int>(layout.size()), layout.data(),
                static_cast<int>(image->StoredSectorSize()));
    int k = 1;
    for (const TkxDiskImagePart& part : image->Parts)
      std::printf("Part %d: %s (%lld bytes)\n", k++, Escaped(part.FileName).c_str(),
                  static_cast<long long>(part.EndOffset - part.StartOffset));
    if (const std::string trailing = TrailingBytesText(*image); !trailing.empty())
      std::printf("Note: %s\n", trailing.c_str());
  } else {
    std::printf("Drive: %c: (%s)\n", AsciiUpper(Location[0]),
                DriveDevicePath(Location[0]).c_str());
  }
  std::printf("Sectors: %lld\n", static_cast<long long>(disk->SectorCount));
  std::printf("Size: %.2f MiB\n",
              static_cast<double>(disk->SectorCount) * disk->SectorSize / (1024.0 * 1024.0));
  return 0;
}

}  // namespace

void AddMediaCommands(CLI::App& App, int& Status)
{
  auto* info = App.add_subcommand("info", "Show the layout, parts and size of a disc image or drive");
  auto location = std::make_shared<std::string>();
  info->add_option("LOCATION", *location, "Image file, or drive name such as D:")->required();
  info->callback([location, &Status] { Status = ShowInfo(*location); });
}

}  // namespace kx::cli
