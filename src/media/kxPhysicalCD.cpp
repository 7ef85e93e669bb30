// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kxPhysicalCD.h"

#include "common/kxShared.h"
#include "media/kxReadPlan.h"

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
  TCDCapacityAnswers answers = AskCapacity(*Handle);
  Toc = std::move(answers.Toc);
  if (const std::optional<std::int64_t> capacity = ChooseCapacity(answers)) {
    // The drive knows the size, so an unreadable sector anywhere, the first included, is one
    // sector of a damaged disc and no reason to refuse it. A READ CD of no sectors costs the
    // disc nothing and tells whether the drive knows the command.
    SectorCount = *capacity;
    const auto probe = ReadCDCdb(0, 0);
    if (Handle->SendCdb(probe, {}, ScsiTimeout).InvalidOpcode()) ReadCommand = TCDReadCommand::Read10;
  } else {
    // Only where the drive states no size is it searched for, which a bad sector cuts short.
    SectorCount = GetCDSectorCount(*Handle);
    // A count of 0 comes from the one probe of sector 0. A drive that refused it as an unknown
    // command is measured again with READ(10); one that knows READ CD is read exactly as before.
    if (SectorCount == 0 && Handle->Last.InvalidOpcode()) {
      ReadCommand = TCDReadCommand::Read10;
      SectorCount = GetCDSectorCount(*Handle, ReadCommand);
    }
  }
  Known = TkxSectorMap(SectorCount);
  Status = SectorCount > 0 ? CDReady : CDUnreadable;
}

void TkxPhysicalCD::ThrowIfDiscChanged() const
{
  if (Handle->DiscChanged) throw EkxMediumChanged();
}

bool TkxPhysicalCD::Send(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector)
{
  const bool read = ReadCD(*Handle, static_cast<std::int32_t>(FirstSector), Count, Buffer, ReadCommand);
  ThrowIfDiscChanged();
  // The first command after opening may still meet the UNIT ATTENTION of the disc's insertion
  // and go out again; from now on that answer means another disc.
  Handle->Watching = true;
  return read;
}

std::int32_t TkxPhysicalCD::DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector,
                                          const TkxReadOptions& How)
{
  if (Status != CDReady || Count <= 0) return 0;
  ThrowIfDiscChanged();
  if (Count == 1) return ReadOneSector(Buffer, FirstSector, How);
  return static_cast<std::int32_t>(ReadCarefully(Buffer, Count, FirstSector, How) * CDSectorSize);
}

bool TkxPhysicalCD::ReadOnce(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector)
{
  if (Status != CDReady || Count <= 0 || Count > MaxSectorsPerRequest) return false;
  ThrowIfDiscChanged();
  return Send(Buffer, Count, FirstSector);
}

std::int64_t TkxPhysicalCD::ReadCarefully(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector,
                                          const TkxReadOptions& How)
{
  std::fill_n(Buffer, static_cast<std::size_t>(Count) * CDSectorSize, std::uint8_t{0});
  TkxCarefulRead plan(Known, FirstSector, Count);
  bool first = true;
  while (const std::optional<TkxSectorRange> command = plan.Next()) {
    if (!first && How.StopRequested()) throw EkxStopped();
    first = false;
    // Probes for the end of a bad area may reach past the range asked for; their data go nowhere.
    std::uint8_t* target = nullptr;
    if (command->First >= FirstSector && command->End() <= FirstSector + Count) {
      target = Buffer + (command->First - FirstSector) * CDSectorSize;
    } else {
      Scratch.resize(static_cast<std::size_t>(command->Count) * CDSectorSize);
      target = Scratch.data();
    }
    plan.Report(Send(target, command->Count, command->First));
  }
  return plan.SectorsRead();
}

std::int32_t TkxPhysicalCD::ReadOneSector(std::uint8_t* Buffer, std::int64_t Sector, const TkxReadOptions& How)
{
  if (Sector < 0 || Sector >= SectorCount) {
    std::fill_n(Buffer, CDSectorSize, std::uint8_t{0});
    return 0;
  }
  if (RunCount == 0 || Sector < RunFirst || Sector >= RunFirst + RunCount) {
    // A run never reaches past the measured end: a drive fails a request that straddles the end
    // of the disc as a whole.
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(MaxSectorsPerRequest, SectorCount - Sector));
    Run.resize(static_cast<std::size_t>(MaxSectorsPerRequest) * CDSectorSize);
    RunCount = 0;
    ReadCarefully(Run.data(), n, Sector, How);
    RunFirst = Sector;
    RunCount = n;
  }
  // After a careful read every sector of the run is either read or in a known bad area.
  if (Known.At(Sector) == TkxSectorState::Bad) {
    std::fill_n(Buffer, CDSectorSize, std::uint8_t{0});
    return 0;
  }
  std::memcpy(Buffer, Run.data() + (Sector - RunFirst) * CDSectorSize, CDSectorSize);
  return CDSectorSize;
}

}  // namespace kx
