#include "media/CdRom.h"

#include "common/kxShared.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace kx {

std::array<std::uint8_t, 6> TestUnitReadyCdb() { return {}; }

std::array<std::uint8_t, 12> ReadCDCdb(std::int32_t Lba, std::int32_t Count)
{
  const auto lba = static_cast<std::uint32_t>(Lba);
  const auto count = static_cast<std::uint32_t>(Count);
  return {0xBE,
          0x00,
          static_cast<std::uint8_t>(lba >> 24),
          static_cast<std::uint8_t>(lba >> 16),
          static_cast<std::uint8_t>(lba >> 8),
          static_cast<std::uint8_t>(lba),
          static_cast<std::uint8_t>(count >> 16),
          static_cast<std::uint8_t>(count >> 8),
          static_cast<std::uint8_t>(count),
          0x10,
          0x00,
          0x00};
}

std::array<std::uint8_t, 10> Read10Cdb(std::int32_t Lba, std::int32_t Count)
{
  const auto lba = static_cast<std::uint32_t>(Lba);
  const auto count = static_cast<std::uint32_t>(Count);
  return {0x28,
          0x00,
          static_cast<std::uint8_t>(lba >> 24),
          static_cast<std::uint8_t>(lba >> 16),
          static_cast<std::uint8_t>(lba >> 8),
          static_cast<std::uint8_t>(lba),
          0x00,
          static_cast<std::uint8_t>(count >> 8),
          static_cast<std::uint8_t>(count),
          0x00};
}

void DecodeSense(std::span<const std::uint8_t> Sense, TScsiResult& Result)
{
  Result.SenseKey = Result.Asc = Result.Ascq = 0;
  if (Sense.empty()) return;
  const std::uint8_t code = Sense[0] & 0x7F;
  if ((code == 0x70 || code == 0x71) && Sense.size() > 2) {
    Result.SenseKey = Sense[2] & 0x0F;
    if (Sense.size() > 12) Result.Asc = Sense[12];
    if (Sense.size() > 13) Result.Ascq = Sense[13];
  } else if ((code == 0x72 || code == 0x73) && Sense.size() > 1) {
    Result.SenseKey = Sense[1] & 0x0F;
    if (Sense.size() > 2) Result.Asc = Sense[2];
    if (Sense.size() > 3) Result.Ascq = Sense[3];
  }
}

namespace {

char UpperLetter(char Drive)
{
  const char upper = AsciiUpper(Drive);
  return upper >= 'A' && upper <= 'Z' ? upper : 0;
}

}  // namespace

std::string LinuxDrivePath(char Drive)
{
  const char letter = UpperLetter(Drive);
  if (letter < 'D') return {};
  return "/dev/sr" + std::to_string(letter - 'D');
}

std::string WindowsDrivePath(char Drive)
{
  const char letter = UpperLetter(Drive);
  if (letter == 0) return {};
  return std::string("\\\\.\\") + letter + ':';
}

std::unique_ptr<TScsiDevice> OpenCDDrive(char Drive, const TScsiOpener& Open)
{
  const std::string path = DriveDevicePath(Drive);
  if (path.empty()) return nullptr;
  return Open(path);
}

bool TestUnitReady(TScsiDevice& Device)
{
  const auto cdb = TestUnitReadyCdb();
  return Device.SendCdb(cdb, {}, ScsiTimeout).Good();
}

bool ReadCD(TScsiDevice& Device, std::int32_t FirstSector, std::int32_t Count, std::uint8_t* Buffer,
            TCDReadCommand Command)
{
  if (Count <= 0) return true;
  const std::span<std::uint8_t> data(Buffer, static_cast<std::size_t>(Count) * CDSectorSize);
  std::fill(data.begin(), data.end(), std::uint8_t{0});
  if (Command == TCDReadCommand::Read10) {
    // The transfer length has 16 bits; a longer request could not say how much it wants.
    if (Count > 0xFFFF) return false;
    const auto cdb = Read10Cdb(FirstSector, Count);
    return Device.SendCdb(cdb, data, ScsiTimeout).Good();
  }
  const auto cdb = ReadCDCdb(FirstSector, Count);
  return Device.SendCdb(cdb, data, ScsiTimeout).Good();
}

bool ReadCDSectors(TScsiDevice& Device, std::int32_t FirstSector, std::int32_t Count,
                   std::uint8_t* Buffer, TCDReadCommand Command)
{
  // Addresses wrap like the drive's 32-bit LBA field rather than overflowing a signed int.
  auto lba = static_cast<std::uint32_t>(FirstSector);
  while (Count > 0) {
    const std::int32_t n = std::min(Count, MaxSectorsPerRequest);
    if (!ReadCD(Device, static_cast<std::int32_t>(lba), n, Buffer, Command)) return false;
    lba += static_cast<std::uint32_t>(n);
    Count -= n;
    Buffer += static_cast<std::size_t>(n) * CDSectorSize;
  }
  return true;
}

std::int32_t GetCDSectorCount(TScsiDevice& Device, TCDReadCommand Command)
{
  constexpr std::int64_t LastAddress = std::numeric_limits<std::int32_t>::max();
  std::array<std::uint8_t, CDSectorSize> scratch;
  auto readable = [&](std::int64_t sector) {
    return ReadCDSectors(Device, static_cast<std::int32_t>(sector), 1, scratch.data(), Command);
  };

  if (!readable(0)) return 0;
  // lo stays 0 while hi doubles; the bisection then runs over the whole interval, which keeps
  // the number of probes of a clean medium predictable.
  std::int64_t lo = 0;
  std::int64_t hi = 65536;
  while (readable(hi)) {
    // The next doubling would leave the 32-bit address field: the last address is the final
    // probe, and a device that answers even that one is taken as full.
    if (hi == LastAddress) return static_cast<std::int32_t>(LastAddress);
    hi = std::min(hi * 2, LastAddress);
  }
  while (hi - lo >= 2) {
    const std::int64_t mid = (lo + hi) / 2;
    if (readable(mid))
      lo = mid;
    else
      hi = mid;
  }
  return static_cast<std::int32_t>(hi);
}

bool IsUnitAttention(std::span<const std::uint8_t> Sense)
{
  TScsiResult decoded;
  decoded.Transported = true;
  decoded.ScsiStatus = 2;
  DecodeSense(Sense, decoded);
  return decoded.UnitAttention();
}

TScsiResult TCDDrive::SendCdb(std::span<const std::uint8_t> Cdb, std::span<std::uint8_t> DataIn,
                              std::chrono::seconds Timeout)
{
  for (int resends = 0;; ++resends) {
    Last = Device->SendCdb(Cdb, DataIn, Timeout);
    if (Watching && (Last.MediumMayHaveChanged() || Last.MediumNotPresent())) {
      // Sending the command again would read the other disc, or keep failing on an empty
      // drive and turn the rest of the disc into "unreadable" sectors.
      DiscChanged = true;
      return Last;
    }
    if (!Last.UnitAttention() || resends == UnitAttentionResends) return Last;
  }
}

}  // namespace kx
