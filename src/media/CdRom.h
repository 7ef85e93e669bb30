// Optical drives reached with SCSI commands (TEST UNIT READY and MMC READ CD). The commands are
// built here, free of any platform; one transport per platform sends them
// (ScsiPassThrough_linux.cpp, ScsiPassThrough_windows.cpp), and tests send them to a simulated
// drive.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace kx {

// What a transport learnt about one command: whether it reached the drive and came back, and
// the SCSI status byte the drive returned (0 is GOOD).
struct TScsiResult {
  bool Transported = false;
  std::uint8_t ScsiStatus = 0xFF;

  bool Good() const { return Transported && ScsiStatus == 0; }
};

// An opened drive. SendCdb sends one command block; DataIn is empty for commands without data
// and otherwise receives the data the drive returns. Sense data are requested but not looked at.
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

// Device paths of a drive letter, either case. Linux: D: is /dev/sr0, E: /dev/sr1, ... Z:
// /dev/sr22; A: to C: are never optical drives and give "". Windows: \\.\D: for any letter A
// to Z. Anything that is not a letter gives "".
std::string LinuxDrivePath(char Drive);
std::string WindowsDrivePath(char Drive);

// Provided by the platform's transport file: the device path of a drive letter on this
// platform, and opening a device for SCSI commands (nullptr when it cannot be opened).
std::string DriveDevicePath(char Drive);
std::unique_ptr<TScsiDevice> OpenScsiDevice(const std::string& Path);

using TScsiOpener = std::function<std::unique_ptr<TScsiDevice>(const std::string& Path)>;

// Opens the drive of a letter (either case); nullptr when there is no such drive or it cannot
// be opened. Open is the platform's opener unless a test supplies another.
std::unique_ptr<TScsiDevice> OpenCDDrive(char Drive, const TScsiOpener& Open = OpenScsiDevice);

// Whether sense data report UNIT ATTENTION (sense key 6), in fixed or descriptor format. A drive
// reports it once after a disc was inserted or the drive was reset; the command itself was not
// carried out and is to be sent again. Windows' class driver retries such commands itself;
// transports that reach the drive directly do it themselves.
bool IsUnitAttention(std::span<const std::uint8_t> Sense);

// True only when the command came back with GOOD status.
bool TestUnitReady(TScsiDevice& Device);

// Count <= 0: true without a command. Otherwise clears Count * 2048 bytes of Buffer, then sends
// one READ CD; true only when it came back with GOOD status.
bool ReadCD(TScsiDevice& Device, std::int32_t FirstSector, std::int32_t Count, std::uint8_t* Buffer);

// Count sectors as consecutive READ CD requests of at most 32 sectors. After the first failed
// request nothing more is sent: the failed request's part of Buffer is zero, later parts are
// left as they were, and the result is false.
bool ReadCDSectors(TScsiDevice& Device, std::int32_t FirstSector, std::int32_t Count,
                   std::uint8_t* Buffer);

// Number of readable sectors, by probing single sectors: doubling from 65536 until a probe
// fails, then halving the interval. 0 when sector 0 cannot be read. Never probes past the
// signed 32-bit address range; a device that answers every address gives INT32_MAX.
std::int32_t GetCDSectorCount(TScsiDevice& Device);

}  // namespace kx
