// SPDX-License-Identifier: GPL-3.0-or-later
// A simulated optical drive for the drive tests: a SCSI transport that answers TEST UNIT READY,
// READ CD and READ(10) from a generated or in-memory disc with the sense data a drive sends, can
// make chosen sectors unreadable, report no medium, refuse READ CD, or have its disc changed, and
// records every command it receives. On request it also states the disc's size (READ CAPACITY,
// READ TOC) and keeps an error-recovery mode page (MODE SENSE, MODE SELECT).
#pragma once

#include "media/CdRom.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <stdexcept>
#include <tuple>
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
  std::set<std::int64_t> Unreadable;  // a read that touches one of these fails whole
  bool NotReady = false;              // no medium: every command ends in NOT READY 3A/00
  bool AnswersEverything = false;     // every address reads, however high
  bool Throws = false;                // the transport raises instead of answering
  bool RefusesReadCD = false;         // READ CD is an unknown command (ILLEGAL REQUEST 20/00)
  bool ReportsCapacity = false;       // answers READ CAPACITY and READ TOC (one data track)
  // Sense of a failed read: MEDIUM ERROR 11/00 as a real drive reports it; the VM's emulated
  // drives report ILLEGAL REQUEST 21/00 (ATAPI) or ABORTED COMMAND 00/06 (SCSI).
  std::uint8_t FailKey = 3, FailAsc = 0x11, FailAscq = 0;
  // The next this many commands are answered NOT READY 04/01 (becoming ready).
  int BecomingReady = 0;
  // The error-recovery page (01h) that MODE SENSE(10) reports and MODE SELECT(10) changes; empty:
  // both are unknown commands. Its read retry count (byte 3) is changeable unless RetriesFixed.
  std::vector<std::uint8_t> ErrorRecoveryPage;
  bool RetriesFixed = false;
  // The pages MODE SELECT took, in order.
  std::vector<std::vector<std::uint8_t>> PagesSelected;
  // The next this many commands are turned away with UNIT ATTENTION of this code (28h: medium
  // may have changed; 29h: reset), as after a disc was put in.
  int UnitAttentions = 0;
  std::uint8_t UnitAttentionCode = 0x28;
  // The disc in the drive: 0 for the first, counted up by ChangeDisc; generated content differs.
  int Disc = 0;
  // Called with the index of each command before it is answered, to change the drive's state
  // part way through an operation.
  std::function<void(std::size_t Index)> BeforeCommand;
  std::vector<TCommand> Commands;

  // Another disc of Sectors generated sectors goes in; the next command meets UNIT ATTENTION 28/00.
  void ChangeDisc(std::int64_t Sectors)
  {
    ++Disc;
    SectorCount = Sectors;
    Image.clear();
    Unreadable.clear();
    NotReady = false;
    UnitAttentions = 1;
    UnitAttentionCode = 0x28;
  }

  // The generated content: the sector number in the first 8 bytes (little-endian), then a byte
  // that depends on the sector, so that a sector read from the wrong place shows. A later disc
  // (Disc > 0) carries Disc in bits 40 and up of the number.
  static std::uint8_t SectorByte(std::int64_t Sector, std::size_t Offset, int Disc = 0)
  {
    const std::int64_t stamp = Sector + (std::int64_t{Disc} << 40);
    if (Offset < 8) return static_cast<std::uint8_t>(static_cast<std::uint64_t>(stamp) >> (8 * Offset));
    return static_cast<std::uint8_t>((Sector * 37 + 11 + Disc * 101) ^ 0x5A);
  }
  static void FillSector(std::uint8_t* Out, std::int64_t Sector, int Disc = 0)
  {
    std::memset(Out + 8, SectorByte(Sector, 8, Disc), CDSectorSize - 8);
    for (std::size_t i = 0; i < 8; ++i) Out[i] = SectorByte(Sector, i, Disc);
  }

  TScsiResult SendCdb(std::span<const std::uint8_t> Cdb, std::span<std::uint8_t> DataIn,
                      std::chrono::seconds Timeout) override
  {
    Commands.push_back({std::vector<std::uint8_t>(Cdb.begin(), Cdb.end()), DataIn.size(), Timeout});
    if (const auto event = Event()) return *event;
    constexpr TScsiResult Good{true, 0};
    if (Cdb[0] == 0x00 && Cdb.size() == 6) return DataIn.empty() ? Good : TScsiResult{};
    if (Cdb[0] == 0x25 && ReportsCapacity) return Capacity(DataIn);
    if (Cdb[0] == 0x43 && ReportsCapacity) return Toc(DataIn);
    if (Cdb[0] == 0x5A && !ErrorRecoveryPage.empty()) return ModeSense(Cdb, DataIn);

    std::int64_t lba = 0;
    std::int64_t count = 0;
    if (Cdb[0] == 0xBE && Cdb.size() == 12) {
      if (RefusesReadCD) return Check(5, 0x20, 0);
      if (Cdb[9] != 0x10) return Check(5, 0x24, 0);
      std::tie(lba, count) = DecodeRead(Commands.back().Cdb);
    } else if (Cdb[0] == 0x28 && Cdb.size() == 10) {
      std::tie(lba, count) = DecodeRead(Commands.back().Cdb);
    } else {
      return Check(5, 0x20, 0);
    }
    if (DataIn.size() != static_cast<std::size_t>(count) * CDSectorSize) return {};
    if (!AnswersEverything && lba + count > SectorCount) return Check(5, 0x21, 0);
    auto bad = Unreadable.lower_bound(lba);
    if (bad != Unreadable.end() && *bad < lba + count) return Check(FailKey, FailAsc, FailAscq);
    for (std::int64_t i = 0; i < count; ++i) {
      std::uint8_t* out = DataIn.data() + i * CDSectorSize;
      if (Image.empty())
        FillSector(out, lba + i, Disc);
      else
        std::memcpy(out, Image.data() + (lba + i) * CDSectorSize, CDSectorSize);
    }
    return Good;
  }

  // (first sector, sector count) of a READ CD or READ(10) command block; the address is
  // unsigned, as the drive reads it.
  static std::pair<std::int64_t, std::int64_t> DecodeRead(const std::vector<std::uint8_t>& Cdb)
  {
    const std::int64_t lba = (std::int64_t{Cdb[2]} << 24) | (Cdb[3] << 16) | (Cdb[4] << 8) | Cdb[5];
    const std::int64_t count = Cdb[0] == 0x28 ? (Cdb[7] << 8) | Cdb[8] : (Cdb[6] << 16) | (Cdb[7] << 8) | Cdb[8];
    return {lba, count};
  }

  // The read commands received (READ CD, and READ(10) when Opcode is 0x28), as (first sector,
  // sector count), from command From on.
  std::vector<std::pair<std::int64_t, std::int64_t>> Reads(std::size_t From = 0, std::uint8_t Opcode = 0xBE) const
  {
    std::vector<std::pair<std::int64_t, std::int64_t>> reads;
    for (std::size_t i = From; i < Commands.size(); ++i)
      if (!Commands[i].Cdb.empty() && Commands[i].Cdb[0] == Opcode) reads.push_back(DecodeRead(Commands[i].Cdb));
    return reads;
  }

  TScsiResult SendCdbOut(std::span<const std::uint8_t> Cdb, std::span<const std::uint8_t> DataOut,
                         std::chrono::seconds Timeout) override
  {
    Commands.push_back({std::vector<std::uint8_t>(Cdb.begin(), Cdb.end()), DataOut.size(), Timeout});
    if (const auto event = Event()) return *event;
    if (Cdb[0] != 0x55 || ErrorRecoveryPage.empty()) return Check(5, 0x20, 0);
    // An empty header, then the page as MODE SENSE gave it.
    if (DataOut.size() != 8 + ErrorRecoveryPage.size() || DataOut[8] != 0x01) return Check(5, 0x26, 0);
    std::vector<std::uint8_t> page(DataOut.begin() + 8, DataOut.end());
    if (RetriesFixed && page[3] != ErrorRecoveryPage[3]) return Check(5, 0x26, 0);
    ErrorRecoveryPage = page;
    PagesSelected.push_back(page);
    return {true, 0};
  }

  // The TOC the simulated drive reports: one data track from 0 and the lead-out, in LBA form.
  std::vector<std::uint8_t> TocBytes() const
  {
    const auto n = static_cast<std::uint32_t>(SectorCount);
    return {0, 18, 1, 1, 0, 0x14, 1, 0, 0, 0, 0, static_cast<std::uint8_t>(Disc), 0, 0x14, 0xAA, 0,
            static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
            static_cast<std::uint8_t>(n)};
  }

 private:
  // What every command meets before it is looked at: the test's hook, a broken transport, and
  // the drive's events (UNIT ATTENTION, becoming ready, no medium).
  std::optional<TScsiResult> Event()
  {
    if (BeforeCommand) BeforeCommand(Commands.size() - 1);
    if (Throws) throw std::runtime_error("simulated transport failure");
    if (Commands.back().Cdb.empty()) return TScsiResult{};
    if (UnitAttentions > 0) {
      --UnitAttentions;
      return Check(6, UnitAttentionCode, 0);
    }
    if (BecomingReady > 0) {
      --BecomingReady;
      return Check(2, 0x04, 0x01);
    }
    if (NotReady) return Check(2, 0x3A, 0);
    return std::nullopt;
  }

  TScsiResult Capacity(std::span<std::uint8_t> DataIn) const
  {
    if (DataIn.size() < 8) return Check(5, 0x24, 0);
    const auto last = static_cast<std::uint32_t>(SectorCount - 1);
    const std::uint8_t answer[8] = {static_cast<std::uint8_t>(last >> 24), static_cast<std::uint8_t>(last >> 16),
                                    static_cast<std::uint8_t>(last >> 8), static_cast<std::uint8_t>(last), 0, 0, 8, 0};
    std::copy(answer, answer + 8, DataIn.begin());
    return {true, 0};
  }

  TScsiResult Toc(std::span<std::uint8_t> DataIn) const
  {
    const std::vector<std::uint8_t> toc = TocBytes();
    std::copy_n(toc.begin(), std::min(toc.size(), DataIn.size()), DataIn.begin());
    return {true, 0};
  }

  TScsiResult ModeSense(std::span<const std::uint8_t> Cdb, std::span<std::uint8_t> DataIn) const
  {
    if ((Cdb[2] & 0x3F) != 0x01) return Check(5, 0x24, 0);
    // The mode parameter header of 8 bytes, then the page; asked for what may change, the page
    // shows only the retry count (byte 3), changeable or not.
    const bool changeable = (Cdb[2] >> 6) == 1;
    const std::size_t length = 8 + ErrorRecoveryPage.size();
    for (std::size_t i = 0; i < std::min(length, DataIn.size()); ++i) {
      const std::size_t at = i - 8;
      std::uint8_t byte = 0;
      if (i == 1)
        byte = static_cast<std::uint8_t>(length - 2);
      else if (i >= 8 && (!changeable || at < 2))
        byte = ErrorRecoveryPage[at];
      else if (i >= 8 && at == 3 && !RetriesFixed)
        byte = 0xFF;
      DataIn[i] = byte;
    }
    return {true, 0};
  }

  static TScsiResult Check(std::uint8_t Key, std::uint8_t Asc, std::uint8_t Ascq)
  {
    TScsiResult r{true, 2};
    r.SenseKey = Key;
    r.Asc = Asc;
    r.Ascq = Ascq;
    return r;
  }

  std::vector<std::uint8_t> Image;
};

}  // namespace kx::test
