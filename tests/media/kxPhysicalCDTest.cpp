// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kxPhysicalCD.h"

#include "common/kxShared.h"
#include "media/SimulatedDrive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace kx {
namespace {

using test::TSimulatedDrive;
using Reads = std::vector<std::pair<std::int64_t, std::int64_t>>;

// Opens a TkxPhysicalCD over a simulated drive and keeps a view of the drive for the checks.
struct TOpenedDrive {
  explicit TOpenedDrive(std::unique_ptr<TSimulatedDrive> d) : Drive(d.get()), Disk(std::move(d)) {}
  TSimulatedDrive* Drive;
  TkxPhysicalCD Disk;
};

std::unique_ptr<TSimulatedDrive> Disc(std::int64_t sectors, std::set<std::int64_t> unreadable = {})
{
  auto drive = std::make_unique<TSimulatedDrive>(sectors);
  drive->Unreadable = std::move(unreadable);
  return drive;
}

TEST(TkxPhysicalCD, StatusTellsHowOpeningEnded)
{
  TkxPhysicalCD missing(std::unique_ptr<TScsiDevice>{});
  EXPECT_EQ(missing.Status, CDNoDevice);

  auto empty = Disc(1000);
  empty->NotReady = true;
  TOpenedDrive notReady(std::move(empty));
  EXPECT_EQ(notReady.Disk.Status, CDNotReady);
  EXPECT_EQ(notReady.Disk.SectorCount, 0);
  ASSERT_EQ(notReady.Drive->Commands.size(), 1u) << "no capacity probe after a failed TEST UNIT READY";
  EXPECT_EQ(notReady.Drive->Commands[0].Cdb.size(), 6u);

  auto broken = Disc(1000);
  broken->Throws = true;
  TkxPhysicalCD failing(std::move(broken));
  EXPECT_EQ(failing.Status, CDError);

  TOpenedDrive ready(Disc(359846));
  EXPECT_EQ(ready.Disk.Status, CDReady);
  EXPECT_EQ(ready.Disk.SectorCount, 359846);
  EXPECT_EQ(ready.Disk.SectorSize, 2048);
}

TEST(TkxPhysicalCD, StatusTexts)
{
  EXPECT_EQ(PhysicalCDStatusText(CDReady), "");
  EXPECT_EQ(PhysicalCDStatusText(CDError), "Unknown CD/DVD error");
  EXPECT_EQ(PhysicalCDStatusText(CDNoDevice), MountErrorMessage);
  EXPECT_EQ(PhysicalCDStatusText(CDNotReady), "Drive unit is not ready");
  EXPECT_EQ(PhysicalCDStatusText(CDUnreadable), "The disc in the drive could not be read.");
}

TEST(TkxPhysicalCD, DiscWithoutReadableFirstSectorIsNotReady)
{
  // Its size cannot be found; "0 sectors" would be scanned and copied as a blank disc.
  for (const bool refusesReadCD : {false, true}) {
    auto drive = Disc(1000, {0});
    drive->RefusesReadCD = refusesReadCD;
    TOpenedDrive cd(std::move(drive));
    EXPECT_EQ(cd.Disk.Status, CDUnreadable) << refusesReadCD;
    EXPECT_EQ(cd.Disk.SectorCount, 0) << refusesReadCD;
    std::vector<std::uint8_t> buffer(2048);
    const std::size_t opened = cd.Drive->Commands.size();
    EXPECT_EQ(cd.Disk.ReadSectors(buffer.data(), 1, 5), 0);
    EXPECT_EQ(cd.Drive->Commands.size(), opened);
  }
}

TEST(TkxPhysicalCD, DiscJustPutInIsOpenedAndReadWhole)
{
  // The insertion's UNIT ATTENTION meets the TEST UNIT READY, or a read that a scan makes first
  // when the disc went in between opening and reading.
  for (const std::size_t at : {0u, 30u}) {
    auto drive = Disc(359846);
    TSimulatedDrive* sim = drive.get();
    sim->BeforeCommand = [sim, at](std::size_t index) {
      if (index == at) sim->UnitAttentions = 1;
    };
    TOpenedDrive cd(std::move(drive));
    ASSERT_EQ(cd.Disk.Status, CDReady) << at;
    EXPECT_EQ(cd.Disk.SectorCount, 359846) << at;
    std::vector<std::uint8_t> sector(2048);
    for (std::int64_t s : {0, 1, 40}) {
      EXPECT_EQ(cd.Disk.ReadSectors(sector.data(), 1, s), 2048) << at;
      EXPECT_EQ(sector[0], TSimulatedDrive::SectorByte(s, 0)) << at;
    }
  }
}

// A drive that states the disc's size is believed: a bad sector anywhere, the first included,
// is one sector of a damaged disc, not its end.
TEST(TkxPhysicalCD, SizeComesFromTheDriveAndABadSectorNeverShortensIt)
{
  for (const std::int64_t badSector : {16384, 0}) {
    const std::set<std::int64_t> bad{badSector};
    auto drive = Disc(20000, bad);
    drive->ReportsCapacity = true;
    TOpenedDrive cd(std::move(drive));
    EXPECT_EQ(cd.Disk.Status, CDReady);
    EXPECT_EQ(cd.Disk.SectorCount, 20000);
    EXPECT_EQ(cd.Disk.Toc, cd.Drive->TocBytes());
    EXPECT_TRUE(cd.Drive->Reads().empty() || cd.Drive->Reads() == (Reads{{0, 0}})) << "no sector read to measure";
  }
  // Without the drive's word the size is searched for, and the bad sector cuts it short.
  TOpenedDrive searched(Disc(20000, {16384}));
  EXPECT_LE(searched.Disk.SectorCount, 16384);

  // A drive without READ CD refuses the empty READ CD that asks for it.
  auto scsi = Disc(20000);
  scsi->ReportsCapacity = true;
  scsi->RefusesReadCD = true;
  TOpenedDrive read10(std::move(scsi));
  EXPECT_EQ(read10.Disk.ReadCommand, TCDReadCommand::Read10);
  std::vector<std::uint8_t> sector(2048);
  EXPECT_EQ(read10.Disk.ReadSectors(sector.data(), 1, 19999), 2048);
}

TEST(TkxPhysicalCD, StopIsHonouredBetweenTheCommandsOfOneRead)
{
  auto drive = Disc(10000, {});
  for (std::int64_t s = 5000; s < 5100; ++s) drive->Unreadable.insert(s);
  drive->ReportsCapacity = true;
  TOpenedDrive cd(std::move(drive));
  std::vector<std::uint8_t> buffer(32 * 2048);
  const std::size_t before = cd.Drive->Commands.size();
  TkxJobControl control;
  cd.Drive->BeforeCommand = [&](std::size_t Index) {
    if (Index == before + 2) control.RequestStop();
  };
  EXPECT_THROW(cd.Disk.ReadSectors(buffer.data(), 32, 4992, {.Control = &control}), EkxStopped);
  EXPECT_EQ(cd.Drive->Commands.size(), before + 3) << "the request, then two single sectors";
}

TEST(TkxPhysicalCD, DriveWithoutReadCDIsReadWithRead10)
{
  auto drive = Disc(359846, {70});
  drive->RefusesReadCD = true;
  TOpenedDrive cd(std::move(drive));
  ASSERT_EQ(cd.Disk.Status, CDReady);
  EXPECT_EQ(cd.Disk.ReadCommand, TCDReadCommand::Read10);
  EXPECT_EQ(cd.Disk.SectorCount, 359846);
  EXPECT_EQ(cd.Drive->Reads(0, 0xBE).size(), 1u) << "READ CD is tried once, when the drive is opened";
  const std::size_t opened = cd.Drive->Commands.size();

  std::vector<std::uint8_t> buffer(40 * 2048);
  EXPECT_EQ(cd.Disk.ReadSectors(buffer.data(), 40, 100), 40 * 2048);
  EXPECT_EQ(buffer[39 * 2048 + 9], TSimulatedDrive::SectorByte(139, 9));
  EXPECT_EQ(cd.Disk.ReadSectors(buffer.data(), 1, 64), 2048);
  EXPECT_EQ(cd.Disk.ReadSectors(buffer.data(), 1, 70), 0);
  EXPECT_EQ(cd.Drive->Reads(opened, 0xBE).size(), 0u);
  EXPECT_EQ(cd.Drive->Reads(opened, 0x28).front(), (std::pair<std::int64_t, std::int64_t>{100, 32}));

  // A drive that knows READ CD never sees READ(10).
  TOpenedDrive plain(Disc(359846));
  EXPECT_EQ(plain.Disk.ReadCommand, TCDReadCommand::ReadCD);
  plain.Disk.ReadSectors(buffer.data(), 40, 100);
  EXPECT_EQ(plain.Drive->Reads(0, 0x28).size(), 0u);
}

// A disc changed or taken out after the first read ends every later read with the one message,
// and nothing is read from the other disc.
TEST(TkxPhysicalCD, ChangedDiscEndsReading)
{
  enum Change { Swapped, Removed };
  for (const Change change : {Swapped, Removed}) {
    for (const std::int32_t count : {1, 40}) {
      TOpenedDrive cd(Disc(1000));
      std::vector<std::uint8_t> buffer(40 * 2048);
      ASSERT_EQ(cd.Disk.ReadSectors(buffer.data(), count, 0), count * 2048);
      if (change == Swapped)
        cd.Drive->ChangeDisc(1000);
      else
        cd.Drive->NotReady = true;
      const std::size_t before = cd.Drive->Commands.size();
      EXPECT_THROW(cd.Disk.ReadSectors(buffer.data(), count, 100), EkxMediumChanged) << change << count;
      EXPECT_EQ(cd.Drive->Commands.size(), before + 1) << "neither resent nor read sector by sector";
      EXPECT_THROW(cd.Disk.ReadSectors(buffer.data(), 1, 0), EkxMediumChanged) << "it stays changed";
      EXPECT_EQ(cd.Drive->Commands.size(), before + 1);
      try {
        cd.Disk.ReadSectors(buffer.data(), 1, 0);
      } catch (const EkxIOError& e) {
        EXPECT_STREQ(e.what(), "The disc was changed during the operation.");
      }
    }
  }
}

TEST(TkxPhysicalCD, UnusableDriveIsNeverRead)
{
  auto empty = Disc(1000);
  empty->NotReady = true;
  TOpenedDrive notReady(std::move(empty));
  std::vector<std::uint8_t> buffer(40 * 2048);
  EXPECT_EQ(notReady.Disk.ReadSectors(buffer.data(), 1, 0), 0);
  EXPECT_EQ(notReady.Disk.ReadSectors(buffer.data(), 40, 0), 0);
  EXPECT_EQ(notReady.Drive->Commands.size(), 1u);
}

TEST(TkxPhysicalCD, NoDriveOfThatLetterOnThisMachine)
{
  if (std::filesystem::exists(DriveDevicePath('Z'))) GTEST_SKIP() << "a drive Z: exists here";
  TkxPhysicalCD disk('Z');
  EXPECT_EQ(disk.Status, CDNoDevice);
  TkxPhysicalCD notALetter('?');
  EXPECT_EQ(notALetter.Status, CDNoDevice);
}

TEST(TkxPhysicalCD, LongReadsGoOutInRequestsOf32)
{
  TOpenedDrive cd(Disc(1000));
  const std::size_t opened = cd.Drive->Commands.size();
  std::vector<std::uint8_t> buffer(70 * 2048);
  EXPECT_EQ(cd.Disk.ReadSectors(buffer.data(), 70, 100), 70 * 2048);
  EXPECT_EQ(cd.Drive->Reads(opened), (Reads{{100, 32}, {132, 32}, {164, 6}}));
  EXPECT_EQ(buffer[69 * 2048], TSimulatedDrive::SectorByte(169, 0));

  // An unreadable sector costs only itself: it is zeros and left out of the count.
  cd.Drive->Unreadable = {140};
  EXPECT_EQ(cd.Disk.ReadSectors(buffer.data(), 70, 100), 69 * 2048);
  EXPECT_EQ(std::count(buffer.begin() + 40 * 2048, buffer.begin() + 41 * 2048, 0), 2048);
  EXPECT_EQ(buffer[41 * 2048], TSimulatedDrive::SectorByte(141, 0));
}

// Reads every sector of the disc one at a time, as the scan does, and returns what each call
// delivered: (result, the sector's bytes).
std::vector<std::pair<std::int32_t, std::vector<std::uint8_t>>> ScanOneByOne(TkxDisk& disk, std::int64_t sectors)
{
  std::vector<std::pair<std::int32_t, std::vector<std::uint8_t>>> out;
  for (std::int64_t s = 0; s < sectors; ++s) {
    std::vector<std::uint8_t> sector(2048, 0xCC);
    const std::int32_t got = disk.ReadSectors(sector.data(), 1, s);
    out.emplace_back(got, std::move(sector));
  }
  return out;
}

// What one READ CD per sector would deliver: the reference for the read-ahead.
std::vector<std::pair<std::int32_t, std::vector<std::uint8_t>>> OneCommandPerSector(
    std::int64_t sectors, const std::set<std::int64_t>& unreadable)
{
  TSimulatedDrive drive(sectors);
  drive.Unreadable = unreadable;
  std::vector<std::pair<std::int32_t, std::vector<std::uint8_t>>> out;
  for (std::int64_t s = 0; s < sectors; ++s) {
    std::vector<std::uint8_t> sector(2048, 0xCC);
    const bool ok = ReadCDSectors(drive, static_cast<std::int32_t>(s), 1, sector.data());
    out.emplace_back(ok ? 2048 : 0, std::move(sector));
  }
  return out;
}

TEST(TkxPhysicalCDReadAhead, CleanDiscCostsOneCommandPer32Sectors)
{
  for (std::int64_t sectors : {100, 64, 33}) {
    TOpenedDrive cd(Disc(sectors));
    const std::size_t opened = cd.Drive->Commands.size();
    EXPECT_EQ(ScanOneByOne(cd.Disk, sectors), OneCommandPerSector(sectors, {})) << sectors;
    const auto reads = cd.Drive->Reads(opened);
    EXPECT_EQ(static_cast<std::int64_t>(reads.size()), (sectors + 31) / 32) << sectors;
    for (const auto& [lba, count] : reads) EXPECT_LE(lba + count, sectors) << "a run past the end fails whole";
  }
}

// Where a run fails, the scan still gets every readable sector and a bad area's sectors cost no
// command once its end is found.
TEST(TkxPhysicalCDReadAhead, FailedRunIsReadCarefully)
{
  const std::set<std::int64_t> unreadable = {40, 41, 90};
  TOpenedDrive cd(Disc(100, unreadable));
  ASSERT_EQ(cd.Disk.SectorCount, 100);
  const std::size_t opened = cd.Drive->Commands.size();
  EXPECT_EQ(ScanOneByOne(cd.Disk, 100), OneCommandPerSector(100, unreadable));
  std::size_t failing = 0;
  for (const auto& [lba, count] : cd.Drive->Reads(opened)) {
    bool bad = false;
    for (std::int64_t s = lba; s < lba + count; ++s) bad = bad || unreadable.count(s) > 0;
    failing += bad ? 1 : 0;
  }
  // Runs 32-63 and 64-95 fail; then 40 and the probe of 41, and 90.
  EXPECT_EQ(failing, 5u);
}

TEST(TkxPhysicalCDReadAhead, JumpsAndRereadsAreServedLikeSingleReads)
{
  TOpenedDrive cd(Disc(1000, {515}));
  const auto reference = OneCommandPerSector(1000, {515});
  // The scan skips over files whose length it knows; extraction may go back.
  for (std::int64_t s : {0, 1, 500, 514, 515, 516, 530, 531, 532, 2, 999, 998}) {
    std::vector<std::uint8_t> sector(2048, 0xCC);
    const std::int32_t got = cd.Disk.ReadSectors(sector.data(), 1, s);
    EXPECT_EQ(got, reference[s].first) << s;
    EXPECT_EQ(sector, reference[s].second) << s;
  }
}

TEST(TkxPhysicalCDReadAhead, SectorsPastTheEndAreNotAskedFor)
{
  TOpenedDrive cd(Disc(100));
  const std::size_t opened = cd.Drive->Commands.size();
  std::vector<std::uint8_t> sector(2048, 0xCC);
  EXPECT_EQ(cd.Disk.ReadSectors(sector.data(), 1, 100), 0);
  EXPECT_EQ(cd.Disk.ReadSectors(sector.data(), 1, -1), 0);
  EXPECT_EQ(std::count(sector.begin(), sector.end(), 0), 2048);
  std::vector<std::uint8_t> straddling(4 * 2048, 0xCC);
  EXPECT_EQ(cd.Disk.ReadSectors(straddling.data(), 4, 98), 2 * 2048) << "the sectors that are on the disc";
  EXPECT_EQ(cd.Drive->Reads(opened), (Reads{{98, 2}}));
  EXPECT_EQ(straddling[2 * 2048], 0);
}

}  // namespace
}  // namespace kx
