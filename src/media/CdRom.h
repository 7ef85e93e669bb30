// SPDX-License-Identifier: GPL-3.0-or-later
// Optical drives reached with SCSI commands (TEST UNIT READY, MMC READ CD, and READ(10) for
// drives that lack READ CD; READ CAPACITY and READ TOC for the size of a disc; MODE SENSE and
// MODE SELECT of the error-recovery page). The commands are built here, free of any platform; one transport per
// platform sends them (ScsiPassThrough_linux.cpp, ScsiPassThrough_windows.cpp), and tests send
// them to a simulated drive.
#pragma once

#include "common/kxPlatform.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

// What a read command's answer means for the sectors it asked for.
enum class TCDReadAnswer : std::uint8_t {
  Read,           // GOOD: the data came
  Unreadable,     // the sectors cannot be read now; reading goes on with the next ones
  NoMedium,       // NOT READY 3A/xx: no disc
  MediumChanged,  // UNIT ATTENTION 28/xx: the disc was changed
  Reset,          // UNIT ATTENTION 29/xx: the drive or the bus was reset; the command was not run
  BecomingReady,  // NOT READY 04/01: the disc is spinning up; the command was not run
};

// A damaged disc fails its reads in many ways: MEDIUM ERROR (03/xx), HARDWARE ERROR (04/xx),
// ABORTED COMMAND (0B/xx), and emulated drives ILLEGAL REQUEST 21/00 or 64/00 for any I/O
// error. None of them says more than "not these sectors", and the information field is at best a
// hint, so every answer other than GOOD and the four events is Unreadable.
TCDReadAnswer ClassifyAnswer(const TScsiResult& Result);

// An opened drive. SendCdb sends one command block; DataIn is empty for commands without data
// and otherwise receives the data the drive returns. SendCdbOut sends a command with data for the
// drive (MODE SELECT); a transport that cannot send data answers "not transported". A transport
// sends each command once and reports the drive's sense data; what to do about them is decided
// above it.
class TScsiDevice {
 public:
  virtual ~TScsiDevice() = default;
  virtual TScsiResult SendCdb(std::span<const std::uint8_t> Cdb, std::span<std::uint8_t> DataIn,
                              std::chrono::seconds Timeout) = 0;
  virtual TScsiResult SendCdbOut(std::span<const std::uint8_t> Cdb, std::span<const std::uint8_t> DataOut,
                                 std::chrono::seconds Timeout);
};

inline constexpr std::int32_t CDSectorSize = 2048;
// The largest READ CD request (64 KiB); longer runs are split.
inline constexpr std::int32_t MaxSectorsPerRequest = 32;
// A drive retries a damaged sector for seconds, on some drives minutes, before it gives up. A
// shorter limit aborts the command mid-retry, and on an ATA channel the kernel then resets the
// link of both devices, which costs the next read seconds more; the drive's own answer is worth
// the wait.
inline constexpr std::chrono::seconds ScsiTimeout{60};
inline constexpr std::size_t SenseLength = 18;

std::array<std::uint8_t, 6> TestUnitReadyCdb();
// READ CAPACITY(10): the last address and the block length, 8 bytes.
std::array<std::uint8_t, 10> ReadCapacityCdb();
// READ TOC/PMA/ATIP, format 0 (the TOC) in LBA form, from track First, AllocationLength bytes.
std::array<std::uint8_t, 10> ReadTocCdb(std::uint8_t First, std::uint16_t AllocationLength);
// MODE SENSE(10) of one page, without block descriptors. PageControl 0 gives the current values,
// 1 the mask of the changeable ones.
std::array<std::uint8_t, 10> ModeSense10Cdb(std::uint8_t PageControl, std::uint8_t Page, std::uint16_t AllocationLength);
// MODE SELECT(10) of ParameterLength bytes in the standard page format.
std::array<std::uint8_t, 10> ModeSelect10Cdb(std::uint16_t ParameterLength);
// READ CD of Count sectors from Lba, user data only, any sector type, no sub-channel. Count is
// the 24-bit transfer length.
std::array<std::uint8_t, 12> ReadCDCdb(std::int32_t Lba, std::int32_t Count);
// READ(10) of Count logical blocks from Lba; Count is the 16-bit transfer length. A data disc's
// logical blocks are its sectors' 2048 bytes of user data.
std::array<std::uint8_t, 10> Read10Cdb(std::int32_t Lba, std::int32_t Count);

// The command with which sectors are read. READ CD unless the drive refuses it as an unknown
// operation code, as some SCSI drives and USB bridges do; those serve READ(10).
enum class TCDReadCommand : std::uint8_t { ReadCD, Read10 };

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
// gone: that answer is passed on and DiscChanged stays set; a reset is answered by sending the
// command once more. A drive that says it is becoming ready (a disc spinning up) is waited for,
// at most BecomingReadyLimit, asking again every BecomingReadyPoll.
class TCDDrive final : public TScsiDevice {
 public:
  using TWait = std::function<void(std::chrono::milliseconds)>;

  explicit TCDDrive(std::unique_ptr<TScsiDevice> Device_, TWait Wait_ = {});

  TScsiResult SendCdb(std::span<const std::uint8_t> Cdb, std::span<std::uint8_t> DataIn,
                      std::chrono::seconds Timeout) override;
  TScsiResult SendCdbOut(std::span<const std::uint8_t> Cdb, std::span<const std::uint8_t> DataOut,
                         std::chrono::seconds Timeout) override;

  bool Watching = false;
  bool DiscChanged = false;
  // The answer to the last command, after any resending.
  TScsiResult Last;

  static constexpr int UnitAttentionResends = 3;
  static constexpr std::chrono::milliseconds BecomingReadyPoll{500};
  static constexpr std::chrono::seconds BecomingReadyLimit{60};

 private:
  TScsiResult Send(const std::function<TScsiResult()>& Command);

  std::unique_ptr<TScsiDevice> Device;
  TWait Wait;
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

// The size of the disc as the drive states it: READ CAPACITY's last address + 1 and the
// lead-out's address in the TOC; either is missing when the drive does not answer it. Toc holds
// the TOC as the drive returned it (empty when there is none): it tells one disc from another.
struct TCDCapacityAnswers {
  std::optional<std::int64_t> Capacity;
  std::optional<std::int64_t> LeadOut;
  std::vector<std::uint8_t> Toc;
};
TCDCapacityAnswers AskCapacity(TScsiDevice& Device);

// The number of sectors of the disc from the drive's two answers: the one that is there, or the
// smaller of two that differ (a rewritable DVD may report its formatted size while its TOC ends
// where the data ends). Nothing when neither is there; then the size can only be searched for.
std::optional<std::int64_t> ChooseCapacity(const TCDCapacityAnswers& Answers);

// The error-recovery mode page (01h) from its page code byte on; nothing when the drive does not
// answer MODE SENSE(10) with that page. Changeable: the mask of the fields that may be changed.
std::optional<std::vector<std::uint8_t>> ReadErrorRecoveryPage(TScsiDevice& Device, bool Changeable = false);
// Sends Page (as read above) with MODE SELECT(10); true when the drive took it.
bool WriteErrorRecoveryPage(TScsiDevice& Device, std::span<const std::uint8_t> Page);
// The read retry count of the page (byte 3).
inline constexpr std::size_t ReadRetryCountByte = 3;

}  // namespace kx
