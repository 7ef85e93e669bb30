// A simulated optical drive for the drive tests: a SCSI transport that answers TEST UNIT READY
// and READ CD from a generated or in-memory disc, can make chosen sectors unreadable or report
// no medium, and records every command it receives.
#pragma once

#include "media/CdRom.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

namespace kx::test {

class TSimulatedDrive final : public TScsiDevice {
 public:
  struct TCommand {
    std::vector<std::uint8_t> Cdb;
    std::size_t DataLength;
    std::chrono::seconds Timeout;
  };

  // A disc of Sectors readable sectors with generated content (see SectorByte).
  explicit TSimulatedDrive(std::int64_t Sectors) : SectorCount(Sectors) {}
  // A disc whose content is Image (whole 2048-byte sectors).
  explicit TSimulatedDrive(std::vector<std::uint8_t> Image_)
      : SectorCount(static_cast<std::int64_t>(Image_.size() / CDSectorSize)), Image(std::move(Image_)) {}

  std::int64_t SectorCount;
  std::set<std::int64_t> Unreadable;  // a READ CD that touches one of these fails whole
  bool NotReady = false;              // no medium: every command ends in CHECK CONDITION
  bool AnswersEverything = false;     // every address reads, however high
  bool Throws = false;                // the transport raises instead of answering
  std::vector<TCommand> Commands;

  // The generated content: the sector number in the first 8 bytes (little-endian), then a byte
  // that depends on the sector, so that a sector read from the wrong place shows.
  static std::uint8_t SectorByte(std::int64_t Sector, std::size_t Offset)
  {
    if (Offset < 8) return static_cast<std::uint8_t>(static_cast<std::uint64_t>(Sector) >> (8 * Offset));
    return static_cast<std::uint8_t>((Sector * 37 + 11) ^ 0x5A);
  }
  static void FillSector(std::uint8_t* Out, std::int64_t Sector)
  {
    std::memset(Out + 8, SectorByte(Sector, 8), CDSectorSize - 8);
    for (std::size_t i = 0; i < 8; ++i) Out[i] = SectorByte(Sector, i);
  }

  TScsiResult SendCdb(std::span<const std::uint8_t> Cdb, std::span<std::uint8_t> DataIn,
                      std::chrono::seconds Timeout) override
  {
    Commands.push_back({std::vector<std::uint8_t>(Cdb.begin(), Cdb.end()), DataIn.size(), Timeout});
    if (Throws) throw std::runtime_error("simulated transport failure");
    constexpr TScsiResult Good{true, 0};
    constexpr TScsiResult CheckCondition{true, 2};
    if (Cdb.empty()) return {};
    if (NotReady) return CheckCondition;
    if (Cdb[0] == 0x00 && Cdb.size() == 6) return DataIn.empty() ? Good : TScsiResult{};
    if (Cdb[0] != 0xBE || Cdb.size() != 12 || Cdb[9] != 0x10) return CheckCondition;

    const auto [lba, count] = DecodeReadCD(Commands.back().Cdb);
    if (DataIn.size() != static_cast<std::size_t>(count) * CDSectorSize) return {};
    if (!AnswersEverything && lba + count > SectorCount) return CheckCondition;
    auto bad = Unreadable.lower_bound(lba);
    if (bad != Unreadable.end() && *bad < lba + count) return CheckCondition;
    for (std::int64_t i = 0; i < count; ++i) {
      std::uint8_t* out = DataIn.data() + i * CDSectorSize;
      if (Image.empty())
        FillSector(out, lba + i);
      else
        std::memcpy(out, Image.data() + (lba + i) * CDSectorSize, CDSectorSize);
    }
    return Good;
  }

  // (first sector, sector count) of a READ CD command block; the address is unsigned, as the
  // drive reads it.
  static std::pair<std::int64_t, std::int64_t> DecodeReadCD(const std::vector<std::uint8_t>& Cdb)
  {
    const std::int64_t lba = (std::int64_t{Cdb[2]} << 24) | (Cdb[3] << 16) | (Cdb[4] << 8) | Cdb[5];
    const std::int64_t count = (Cdb[6] << 16) | (Cdb[7] << 8) | Cdb[8];
    return {lba, count};
  }

  // The READ CD commands received, as (first sector, sector count), from command From on.
  std::vector<std::pair<std::int64_t, std::int64_t>> Reads(std::size_t From = 0) const
  {
    std::vector<std::pair<std::int64_t, std::int64_t>> reads;
    for (std::size_t i = From; i < Commands.size(); ++i)
      if (!Commands[i].Cdb.empty() && Commands[i].Cdb[0] == 0xBE) reads.push_back(DecodeReadCD(Commands[i].Cdb));
    return reads;
  }

 private:
  std::vector<std::uint8_t> Image;
};

}  // namespace kx::test
