// Optical drives reached with SCSI commands (TEST UNIT READY, MMC READ CD, and READ(10) for
// drives that lack READ CD). The commands are built here, free of any platform; one transport per
// platform sends them (ScsiPassThrough_linux.cpp, ScsiPassThrough_windows.cpp), and tests send
// them to a simulated drive.
#pragma once

#include "common/kxPlatform.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace kx {

// What a transport learnt about one command: whether it reached the drive and came back, the
// SCSI status byte the drive returned (0 is GOOD), and for a CHECK CONDITION the sense key,
// additional sense code and qualifier of its sense data (0 when there were none).
struct TScsiResult {
  bool Transported = false;
  std::uint8_t ScsiStatus = 0xFF;
  std::uint8_t SenseKey = 0;
  std::uint8_t Asc = 0;
  std::uint8_t Ascq = 0;

  bool Good() const { return Transported && ScsiStatus == 0; }
  bool CheckCondition() const { return Transported && ScsiStatus == 2; }
  // The drive turned the command away without carrying it out, to report an event: a disc put
  // in or changed, a reset.
  bool UnitAttention() const { return CheckCondition() && SenseKey == 6; }
  // UNIT ATTENTION 28/00: "not ready to ready change, medium may have changed".
  bool MediumMayHaveChanged() const { return UnitAttention() && Asc == 0x28; }
  // NOT READY 3A/xx: no disc (tray open or closed).
  bool MediumNotPresent() const { return CheckCondition() && SenseKey == 2 && Asc == 0x3A; }
  // ILLEGAL REQUEST 20/00: the drive does not know the operation code.
  bool InvalidOpcode() const { return CheckCondition() && SenseKey == 5 && Asc == 0x20 && Ascq == 0; }
};

// Fills SenseKey, Asc and Ascq of Result from sense data in fixed (70h/71h) or descriptor
// (72h/73h) format; leaves them 0 when Sense is too short or of another format.
void DecodeSense(std::span<const std::uint8_t> Sense, TScsiResult& Result);

// An opened drive. SendCdb sends one command block; DataIn is empty for commands without data
// and otherwise receives the data the drive returns. A transport sends each command once and
// reports the drive's sense data; what to do about them is decided above it.
class TScsiDevice {
 public:
  virtual ~TScsiDevice() = default;
  virtual TScsiResult SendCdb(std::span<const std::uint8_t> Cdb, std::span<std::uint8_t> DataIn,
                              std::chrono::seconds Timeout) = 0;
};

inline constexpr std::int32_t CDSectorSize = 2048;
// The largest READ CD request (64 KiB); longer runs are split.
inline constexpr std::int32_t MaxSectorsPerRequest = 32;
inline constexpr std::chrono::seconds ScsiTimeout{8};
inline constexpr std::size_t SenseLength = 18;

std::array<std::uint8_t, 6> TestUnitReadyCdb();
// READ CD of Count sectors from Lba, user data only, any sector type, no sub-channel. Count is
// the 24-bit transfer length.
std::array<std::uint8_t, 12> ReadCDCdb(std::int32_t Lba, std::int32_t Count);
// READ(10) of Count logical blocks from Lba; Count is the 16-bit transfer length. A data disc's
// logical blocks are its sectors' 2048 bytes of user data.
std::array<std::uint8_t, 10> Read10Cdb(std::int32_t Lba, std::int32_t Count);

// The command with which sectors are read. READ CD unless the drive refuses it as an unknown
// operation code, as some SCSI drives and USB bridges do; those serve READ(10).
enum class TCDReadCommand : std::uint8_t { ReadCD, Read10 };

// Device paths of a drive letter, either case. Linux: D: is /dev/sr0, E: /dev/sr1, ... Z:
// /dev/sr22; A: to C: are never optical drives and give "". Windows: \\.\D: for any letter A
// to Z. Anything that is not a letter gives "".
std::string LinuxDrivePath(char Drive);
std::string WindowsDrivePath(char Drive);

// Provided by the platform's transport file: opening a device for SCSI commands (nullptr when it
// cannot be opened). The device path of a drive letter comes from the platform layer
// (DriveDevicePath).
std::unique_ptr<TScsiDevice> OpenScsiDevice(const std::string& Path);

using TScsiOpener = std::function<std::unique_ptr<TScsiDevice>(const std::string& Path)>;

// Opens the drive of a letter (either case); nullptr when there is no such drive or it cannot
// be opened. Open is the platform's opener unless a test supplies another.
std::unique_ptr<TScsiDevice> OpenCDDrive(char Drive, const TScsiOpener& Open = OpenScsiDevice);

// Whether sense data report UNIT ATTENTION (sense key 6), in fixed or descriptor format.
bool IsUnitAttention(std::span<const std::uint8_t> Sense);

// A drive as the drive object talks to it. A drive answers the first command after a disc was
// put in, or after a reset, with UNIT ATTENTION and does not carry it out; while the disc is
// being opened that answer is only the echo of its insertion, and the command is sent again (at
// most 3 times; Windows' class driver does the same on its own). Once Watching, UNIT ATTENTION
// "medium may have changed" or NOT READY "medium not present" means that the disc being read is
// gone: that answer is passed on and DiscChanged stays set; other UNIT ATTENTIONs are still
// answered by sending the command again.
class TCDDrive final : public TScsiDevice {
 public:
  explicit TCDDrive(std::unique_ptr<TScsiDevice> Device_) : Device(std::move(Device_)) {}

  TScsiResult SendCdb(std::span<const std::uint8_t> Cdb, std::span<std::uint8_t> DataIn,
                      std::chrono::seconds Timeout) override;

  bool Watching = false;
  bool DiscChanged = false;
  // The answer to the last command, after any resending.
  TScsiResult Last;

  static constexpr int UnitAttentionResends = 3;

 private:
  std::unique_ptr<TScsiDevice> Device;
};

// True only when the command came back with GOOD status.
bool TestUnitReady(TScsiDevice& Device);

// Count <= 0: true without a command. Otherwise clears Count * 2048 bytes of Buffer, then sends
// one read command (READ CD, or READ(10) when Command says so); true only when it came back with
// GOOD status.
bool ReadCD(TScsiDevice& Device, std::int32_t FirstSector, std::int32_t Count, std::uint8_t* Buffer,
            TCDReadCommand Command = TCDReadCommand::ReadCD);

// Count sectors as consecutive read requests of at most 32 sectors. After the first failed
// request nothing more is sent: the failed request's part of Buffer is zero, later parts are
// left as they were, and the result is false.
bool ReadCDSectors(TScsiDevice& Device, std::int32_t FirstSector, std::int32_t Count,
                   std::uint8_t* Buffer, TCDReadCommand Command = TCDReadCommand::ReadCD);

// Number of readable sectors, by probing single sectors: doubling from 65536 until a probe
// fails, then halving the interval. 0 when sector 0 cannot be read. Never probes past the
// signed 32-bit address range; a device that answers every address gives INT32_MAX.
std::int32_t GetCDSectorCount(TScsiDevice& Device, TCDReadCommand Command = TCDReadCommand::ReadCD);

}  // namespace kx
