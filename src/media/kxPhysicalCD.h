// SPDX-License-Identifier: GPL-3.0-or-later
// The sector source of an optical drive.
#pragma once

#include "media/CdRom.h"
#include "media/kxDisk.h"
#include "media/kxRescueMap.h"

#include <cstdint>
#include <memory>
#include <string_view>

namespace kx {

// Values of TkxPhysicalCD::Status.
inline constexpr std::uint8_t CDReady = 0;     // open and ready; SectorCount is set
inline constexpr std::uint8_t CDError = 1;     // an error was raised while opening or measuring
inline constexpr std::uint8_t CDNoDevice = 2;  // the device could not be opened
inline constexpr std::uint8_t CDNotReady = 3;  // opened, but no medium or not yet usable
// Ready, but not even the disc's first sector can be read: its size cannot be found, and a scan
// or copy of "0 sectors" would pass for a blank disc.
inline constexpr std::uint8_t CDUnreadable = 4;

// The message with which image creation reports a drive that is not usable; "" for CDReady.
std::string_view PhysicalCDStatusText(std::uint8_t Status);

class TkxPhysicalCD final : public TkxDisk {
 public:
  // Opens the drive of a letter (either case). Never throws; the outcome is Status.
  explicit TkxPhysicalCD(char Drive);
  // Takes a device that is already open (nullptr counts as one that could not be opened).
  explicit TkxPhysicalCD(std::unique_ptr<TScsiDevice> Device);

  std::uint8_t Status = CDError;
  // For CDNoDevice: the system's error number of the failed opening of the device; 0 when the
  // letter names no device or none was given.
  int DeviceError = 0;
  // Chosen once, while opening: READ(10) only for a drive that refuses READ CD as an unknown
  // command.
  TCDReadCommand ReadCommand = TCDReadCommand::ReadCD;
  // The TOC as the drive gave it when the disc was opened; empty when it gave none.
  std::vector<std::uint8_t> Toc;

  // Count sectors from FirstSector (its low 32 bits are the drive address), read carefully (see
  // TkxCarefulRead): requests of up to 32 sectors, and where one fails, the sectors one by one up
  // to the bad area and a search for its end, which is remembered, so that no sector of a bad
  // area is asked for twice. Unreadable sectors and sectors past the end are zeros; the result
  // counts the bytes of the sectors read. Single-sector reads, which the scan makes, are served
  // from a careful read of the run of up to 32 sectors from there, so that a clean disc costs one
  // command per 32 sectors. Throws EkxMediumChanged once the drive has reported that the disc
  // was changed or taken out (from the second command on; see TCDDrive), and on every later
  // call; EkxStopped when How's control was stopped, between two commands.
  std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector,
                             const TkxReadOptions& How) override;

  // One read command of Count sectors (1 to 32) and nothing else: no splitting, no search, no
  // memory of bad areas. True when the data came. Throws EkxMediumChanged as ReadSectors does.
  bool ReadOnce(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector);

  // The drive, for commands other than reads (mode pages); only while Status is CDReady.
  TScsiDevice& Device() { return *Handle; }

 private:
  void Open(std::unique_ptr<TScsiDevice> Device);
  std::int32_t ReadOneSector(std::uint8_t* Buffer, std::int64_t Sector, const TkxReadOptions& How);
  std::int64_t ReadCarefully(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector,
                             const TkxReadOptions& How);
  bool Send(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector);
  void ThrowIfDiscChanged() const;

  std::unique_ptr<TCDDrive> Handle;
  // The bad areas that careful reads found.
  TkxSectorMap Known;
  TkxTransferBuffer Run;
  TkxTransferBuffer Scratch;
  std::int64_t RunFirst = 0;
  std::int64_t RunCount = 0;
};

}  // namespace kx
