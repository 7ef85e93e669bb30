// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/CdRom.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <thread>

namespace kx {

std::array<std::uint8_t, 6> TestUnitReadyCdb() { return {}; }

std::array<std::uint8_t, 10> ReadCapacityCdb() { return {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}; }

std::array<std::uint8_t, 10> ReadTocCdb(std::uint8_t First, std::uint16_t AllocationLength)
{
  return {0x43, 0, 0, 0, 0, 0, First, static_cast<std::uint8_t>(AllocationLength >> 8),
          static_cast<std::uint8_t>(AllocationLength), 0};
}

std::array<std::uint8_t, 10> ModeSense10Cdb(std::uint8_t PageControl, std::uint8_t Page, std::uint16_t AllocationLength)
{
  // Byte 1 bit 3 (DBD): no block descriptors, only the page.
  return {0x5A, 0x08, static_cast<std::uint8_t>((PageControl << 6) | (Page & 0x3F)), 0, 0, 0, 0,
          static_cast<std::uint8_t>(AllocationLength >> 8), static_cast<std::uint8_t>(AllocationLength), 0};
}

std::array<std::uint8_t, 10> ModeSelect10Cdb(std::uint16_t ParameterLength)
{
  // Byte 1 bit 4 (PF): the pages follow the standard's format; SP clear: nothing is saved for
  // the next power-on.
  return {0x55, 0x10, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(ParameterLength >> 8),
          static_cast<std::uint8_t>(ParameterLength), 0};
}

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

TCDReadAnswer ClassifyAnswer(const TScsiResult& Result)
{
  if (Result.Good()) return TCDReadAnswer::Read;
  if (Result.MediumNotPresent()) return TCDReadAnswer::NoMedium;
  if (Result.MediumMayHaveChanged()) return TCDReadAnswer::MediumChanged;
  if (Result.UnitAttention() && Result.Asc == 0x29) return TCDReadAnswer::Reset;
  if (Result.CheckCondition() && Result.SenseKey == 2 && Result.Asc == 0x04 && Result.Ascq == 0x01)
    return TCDReadAnswer::BecomingReady;
  return TCDReadAnswer::Unreadable;
}

TScsiResult TScsiDevice::SendCdbOut(std::span<const std::uint8_t>, std::span<const std::uint8_t>, std::chrono::seconds)
{
  return {};
}

namespace {

std::uint32_t BigEndian32(const std::uint8_t* p)
{
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::size_t BigEndian16(const std::uint8_t* p) { return (std::size_t{p[0]} << 8) | p[1]; }

}  // namespace

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

TCDDrive::TCDDrive(std::unique_ptr<TScsiDevice> Device_, TWait Wait_) : Device(std::move(Device_)), Wait(std::move(Wait_))
{
  if (!Wait) Wait = [](std::chrono::milliseconds Time) { std::this_thread::sleep_for(Time); };
}

TScsiResult TCDDrive::SendCdb(std::span<const std::uint8_t> Cdb, std::span<std::uint8_t> DataIn,
                              std::chrono::seconds Timeout)
{
  return Send([&] { return Device->SendCdb(Cdb, DataIn, Timeout); });
}

TScsiResult TCDDrive::SendCdbOut(std::span<const std::uint8_t> Cdb, std::span<const std::uint8_t> DataOut,
                                 std::chrono::seconds Timeout)
{
  return Send([&] { return Device->SendCdbOut(Cdb, DataOut, Timeout); });
}

TScsiResult TCDDrive::Send(const std::function<TScsiResult()>& Command)
{
  std::chrono::milliseconds waited{0};
  for (int resends = 0;;) {
    Last = Command();
    const TCDReadAnswer answer = ClassifyAnswer(Last);
    if (Watching && (answer == TCDReadAnswer::MediumChanged || answer == TCDReadAnswer::NoMedium)) {
      // Sending the command again would read the other disc, or keep failing on an empty
      // drive and turn the rest of the disc into "unreadable" sectors.
      DiscChanged = true;
      return Last;
    }
    if (answer == TCDReadAnswer::BecomingReady) {
      if (waited >= BecomingReadyLimit) return Last;
      Wait(BecomingReadyPoll);
      waited += BecomingReadyPoll;
      continue;
    }
    // While the disc is being opened, UNIT ATTENTION echoes its insertion; later only a reset
    // (or a notice such as changed mode parameters) comes that way, and one resend answers it.
    const int allowed = Watching ? 1 : UnitAttentionResends;
    if (!Last.UnitAttention() || resends == allowed) return Last;
    ++resends;
  }
}

TCDCapacityAnswers AskCapacity(TScsiDevice& Device)
{
  TCDCapacityAnswers answers;
  std::array<std::uint8_t, 8> capacity{};
  if (Device.SendCdb(ReadCapacityCdb(), capacity, ScsiTimeout).Good()) {
    const std::uint32_t last = BigEndian32(capacity.data());
    // 0 is what some drives answer for a blank disc, all ones what others answer for "unknown".
    if (last != 0 && last != 0xFFFFFFFF) answers.Capacity = std::int64_t{last} + 1;
  }
  // The header and up to 99 tracks and the lead-out, 8 bytes each.
  std::vector<std::uint8_t> toc(4 + 100 * 8);
  if (Device.SendCdb(ReadTocCdb(1, static_cast<std::uint16_t>(toc.size())), toc, ScsiTimeout).Good()) {
    const std::size_t length = std::min(toc.size(), BigEndian16(toc.data()) + 2);
    for (std::size_t at = 4; at + 8 <= length; at += 8)
      if (toc[at + 2] == 0xAA) answers.LeadOut = BigEndian32(&toc[at + 4]);
    if (length >= 12) {
      toc.resize(length);
      answers.Toc = std::move(toc);
    }
  }
  return answers;
}

std::optional<std::int64_t> ChooseCapacity(const TCDCapacityAnswers& Answers)
{
  const auto plausible = [](const std::optional<std::int64_t>& n) { return n && *n > 0; };
  if (plausible(Answers.Capacity) && plausible(Answers.LeadOut)) return std::min(*Answers.Capacity, *Answers.LeadOut);
  if (plausible(Answers.Capacity)) return Answers.Capacity;
  if (plausible(Answers.LeadOut)) return Answers.LeadOut;
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> ReadErrorRecoveryPage(TScsiDevice& Device, bool Changeable)
{
  constexpr std::uint8_t Page = 0x01;
  constexpr std::size_t HeaderSize = 8;
  std::vector<std::uint8_t> data(HeaderSize + 2 + 255);
  const auto cdb = ModeSense10Cdb(Changeable ? 1 : 0, Page, static_cast<std::uint16_t>(data.size()));
  if (!Device.SendCdb(cdb, data, ScsiTimeout).Good()) return std::nullopt;
  const std::size_t length = std::min(data.size(), BigEndian16(data.data()) + 2);
  // A drive may send block descriptors although none were asked for.
  const std::size_t at = HeaderSize + BigEndian16(&data[6]);
  if (at + 2 > length || (data[at] & 0x3F) != Page) return std::nullopt;
  const std::size_t pageLength = std::size_t{data[at + 1]} + 2;
  if (at + pageLength > length || pageLength <= ReadRetryCountByte) return std::nullopt;
  return std::vector<std::uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(at),
                                   data.begin() + static_cast<std::ptrdiff_t>(at + pageLength));
}

bool WriteErrorRecoveryPage(TScsiDevice& Device, std::span<const std::uint8_t> Page)
{
  if (Page.empty()) return false;
  // An empty mode parameter header (8 bytes, no block descriptors), then the page; its PS bit
  // (bit 7 of the code byte) is reserved in MODE SELECT.
  std::vector<std::uint8_t> data(8);
  data.insert(data.end(), Page.begin(), Page.end());
  data[8] &= 0x3F;
  const auto cdb = ModeSelect10Cdb(static_cast<std::uint16_t>(data.size()));
  return Device.SendCdbOut(cdb, data, ScsiTimeout).Good();
}

}  // namespace kx
