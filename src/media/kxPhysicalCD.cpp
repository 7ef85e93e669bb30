#include "media/kxPhysicalCD.h"

#include "common/kxShared.h"

#include <algorithm>
#include <cstring>

namespace kx {

std::string_view PhysicalCDStatusText(std::uint8_t Status)
{
  switch (Status) {
    case CDReady: return {};
    case CDNoDevice: return MountErrorMessage;
    case CDNotReady: return "Drive unit is not ready";
    default: return "Unknown CD/DVD error";
  }
}

TkxPhysicalCD::TkxPhysicalCD(char Drive)
{
  try {
    Open(OpenCDDrive(Drive));
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
  Handle = std::move(Device);
  if (!Handle) {
    Status = CDNoDevice;
    return;
  }
  if (!TestUnitReady(*Handle)) {
    Status = CDNotReady;
    return;
  }
  SectorSize = CDSectorSize;
  SectorCount = GetCDSectorCount(*Handle);
  Status = CDReady;
}

std::int32_t TkxPhysicalCD::ReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector)
{
  if (Status != CDReady || Count <= 0) return 0;
  if (Count == 1) return ReadOneSector(Buffer, FirstSector);
  if (!ReadCDSectors(*Handle, static_cast<std::int32_t>(FirstSector), Count, Buffer)) return 0;
  return static_cast<std::int32_t>(static_cast<std::int64_t>(Count) * CDSectorSize);
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
    RunRead = ReadCD(*Handle, static_cast<std::int32_t>(Sector), n, Run.data());
    inRun = true;
  }
  if (inRun && RunRead) {
    std::memcpy(Buffer, Run.data() + (Sector - RunFirst) * CDSectorSize, CDSectorSize);
    return CDSectorSize;
  }
  return ReadCD(*Handle, static_cast<std::int32_t>(Sector), 1, Buffer) ? CDSectorSize : 0;
}

}  // namespace kx
