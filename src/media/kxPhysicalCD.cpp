#include "media/kxPhysicalCD.h"

#include "common/kxShared.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kx {

std::string_view PhysicalCDStatusText(std::uint8_t Status)
{
  switch (Status) {
    case CDReady: return {};
    case CDNoDevice: return MountErrorMessage;
    case CDNotReady: return "Drive unit is not ready";
    case CDUnreadable: return "The disc in the drive could not be read.";
    default: return "Unknown CD/DVD error";
  }
}

TkxPhysicalCD::TkxPhysicalCD(char Drive)
{
  try {
    errno = 0;
    std::unique_ptr<TScsiDevice> device = OpenCDDrive(Drive);
    if (!device) DeviceError = errno;
    Open(std::move(device));
  } catch (...) {
    Status = CDError;
  }
}

TkxPhysicalCD::TkxPhysicalCD(std::unique_ptr<TScsiDevice> Device)
{
  try {
    Open(std::move(Device));
  } catch (...) {
    Status = CDError;
  }
}

void TkxPhysicalCD::Open(std::unique_ptr<TScsiDevice> Device)
{
  if (!Device) {
    Status = CDNoDevice;
    return;
  }
  Handle = std::make_unique<TCDDrive>(std::move(Device));
  if (!TestUnitReady(*Handle)) {
    Status = CDNotReady;
    return;
  }
  SectorSize = CDSectorSize;
  SectorCount = GetCDSectorCount(*Handle);
  // A count of 0 comes from the one probe of sector 0. A drive that refused it as an unknown
  // command is measured again with READ(10); one that knows READ CD is read exactly as before.
  if (SectorCount == 0 && Handle->Last.InvalidOpcode()) {
    ReadCommand = TCDReadCommand::Read10;
    SectorCount = GetCDSectorCount(*Handle, ReadCommand);
  }
  Status = SectorCount > 0 ? CDReady : CDUnreadable;
}

void TkxPhysicalCD::ThrowIfDiscChanged() const
{
  if (Handle->DiscChanged) throw EkxMediumChanged();
}

std::int32_t TkxPhysicalCD::ReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector)
{
  if (Status != CDReady || Count <= 0) return 0;
  ThrowIfDiscChanged();
  std::int32_t got = 0;
  if (Count == 1)
    got = ReadOneSector(Buffer, FirstSector);
  else if (ReadCDSectors(*Handle, static_cast<std::int32_t>(FirstSector), Count, Buffer, ReadCommand))
    got = static_cast<std::int32_t>(static_cast<std::int64_t>(Count) * CDSectorSize);
  ThrowIfDiscChanged();
  // The first read after opening may still meet the UNIT ATTENTION of the disc's insertion and
  // send its command again; from now on that answer means another disc.
  Handle->Watching = true;
  return got;
}

std::int32_t TkxPhysicalCD::ReadOneSector(std::uint8_t* Buffer, std::int64_t Sector)
{
  bool inRun = RunCount > 0 && Sector >= RunFirst && Sector < RunFirst + RunCount;
  // A run never reaches past the measured end: a drive fails a request that straddles the end
  // of the disc as a whole, which would turn the last readable sectors into a fallback.
  if (!inRun && Sector >= 0 && SectorCount - Sector >= 2) {
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(MaxSectorsPerRequest, SectorCount - Sector));
    Run.resize(static_cast<std::size_t>(MaxSectorsPerRequest) * CDSectorSize);
    RunFirst = Sector;
    RunCount = n;
    RunRead = ReadCD(*Handle, static_cast<std::int32_t>(Sector), n, Run.data(), ReadCommand);
    inRun = true;
    // A run that failed because the disc was changed must not fall back to single sectors,
    // which the new disc would answer.
    if (Handle->DiscChanged) {
      RunCount = 0;
      ThrowIfDiscChanged();
    }
  }
  if (inRun && RunRead) {
    std::memcpy(Buffer, Run.data() + (Sector - RunFirst) * CDSectorSize, CDSectorSize);
    return CDSectorSize;
  }
  return ReadCD(*Handle, static_cast<std::int32_t>(Sector), 1, Buffer, ReadCommand) ? CDSectorSize : 0;
}

}  // namespace kx
