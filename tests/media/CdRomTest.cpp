// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/CdRom.h"

#include "media/SimulatedDrive.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

namespace kx {
namespace {

using test::TSimulatedDrive;
using ::testing::ElementsAre;
using ::testing::Pair;
using Reads = std::vector<std::pair<std::int64_t, std::int64_t>>;

TEST(CdRomCommands, TestUnitReadyIsSixZeroBytes)
{
  TSimulatedDrive drive(100);
  EXPECT_TRUE(TestUnitReady(drive));
  ASSERT_EQ(drive.Commands.size(), 1u);
  EXPECT_EQ(drive.Commands[0].Cdb, std::vector<std::uint8_t>(6, 0));
  EXPECT_EQ(drive.Commands[0].DataLength, 0u);
  EXPECT_EQ(drive.Commands[0].Timeout, std::chrono::seconds(60)) << "a drive retries a damaged sector for long";
}

TEST(CdRomCommands, ReadCDAsksForUserDataOnlyWithBigEndianFields)
{
  EXPECT_THAT(ReadCDCdb(0x01020304, 0x0A0B0C),
              ElementsAre(0xBE, 0, 0x01, 0x02, 0x03, 0x04, 0x0A, 0x0B, 0x0C, 0x10, 0, 0));
  // The address field holds the full 32 bits, also above the signed range.
  EXPECT_THAT(ReadCDCdb(-1, 1), ElementsAre(0xBE, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 1, 0x10, 0, 0));

  TSimulatedDrive drive(100);
  std::vector<std::uint8_t> buffer(3 * CDSectorSize);
  ASSERT_TRUE(ReadCD(drive, 70, 3, buffer.data()));
  ASSERT_EQ(drive.Commands.size(), 1u);
  EXPECT_EQ(drive.Commands[0].Cdb, std::vector<std::uint8_t>({0xBE, 0, 0, 0, 0, 70, 0, 0, 3, 0x10, 0, 0}));
  EXPECT_EQ(drive.Commands[0].DataLength, 3u * CDSectorSize);
  EXPECT_EQ(drive.Commands[0].Timeout, std::chrono::seconds(60));
  for (int s = 0; s < 3; ++s)
    for (std::size_t i : {0, 7, 8, 2047}) EXPECT_EQ(buffer[s * CDSectorSize + i], TSimulatedDrive::SectorByte(70 + s, i));
}

TEST(CdRomCommands, Read10ForDrivesWithoutReadCD)
{
  EXPECT_THAT(Read10Cdb(0x01020304, 0x0A0B), ElementsAre(0x28, 0, 0x01, 0x02, 0x03, 0x04, 0, 0x0A, 0x0B, 0));

  TSimulatedDrive drive(100);
  drive.RefusesReadCD = true;
  std::vector<std::uint8_t> buffer(40 * CDSectorSize);
  EXPECT_FALSE(ReadCDSectors(drive, 50, 40, buffer.data()));
  ASSERT_TRUE(ReadCDSectors(drive, 50, 40, buffer.data(), TCDReadCommand::Read10));
  EXPECT_EQ(drive.Reads(1, 0x28), (Reads{{50, 32}, {82, 8}}));
  EXPECT_EQ(drive.Commands.back().DataLength, 8u * CDSectorSize);
  EXPECT_EQ(buffer[39 * CDSectorSize], TSimulatedDrive::SectorByte(89, 0));
  EXPECT_EQ(GetCDSectorCount(drive, TCDReadCommand::Read10), 100);
}

TEST(CdRomCommands, FailedReadLeavesZerosNotStaleBytes)
{
  TSimulatedDrive drive(100);
  drive.Unreadable = {5};
  std::vector<std::uint8_t> buffer(2 * CDSectorSize, 0xCC);
  EXPECT_FALSE(ReadCD(drive, 4, 2, buffer.data()));
  EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0), static_cast<long>(buffer.size()));
}

TEST(CdRomCommands, TestUnitReadyFailsWithoutGoodStatus)
{
  TSimulatedDrive empty(100);
  empty.NotReady = true;
  EXPECT_FALSE(TestUnitReady(empty));

  struct TLostDevice final : TScsiDevice {
    TScsiResult SendCdb(std::span<const std::uint8_t>, std::span<std::uint8_t>, std::chrono::seconds) override
    {
      return {false, 0};  // status byte GOOD, but the request never came back
    }
  } lost;
  EXPECT_FALSE(TestUnitReady(lost));
  std::vector<std::uint8_t> buffer(CDSectorSize);
  EXPECT_FALSE(ReadCD(lost, 0, 1, buffer.data()));
}

TEST(ReadCDSectors, SplitsIntoRequestsOfAtMost32)
{
  TSimulatedDrive drive(200);
  std::vector<std::uint8_t> buffer(70 * CDSectorSize);
  ASSERT_TRUE(ReadCDSectors(drive, 10, 70, buffer.data()));
  EXPECT_EQ(drive.Reads(), (Reads{{10, 32}, {42, 32}, {74, 6}}));
  for (int s = 0; s < 70; ++s) {
    ASSERT_EQ(buffer[s * CDSectorSize], TSimulatedDrive::SectorByte(10 + s, 0)) << s;
    ASSERT_EQ(buffer[s * CDSectorSize + 100], TSimulatedDrive::SectorByte(10 + s, 100)) << s;
  }
}

TEST(ReadCDSectors, StopsAtTheFirstFailedRequest)
{
  TSimulatedDrive drive(200);
  drive.Unreadable = {40};
  std::vector<std::uint8_t> buffer(70 * CDSectorSize, 0xCC);
  EXPECT_FALSE(ReadCDSectors(drive, 0, 70, buffer.data()));
  EXPECT_EQ(drive.Reads(), (Reads{{0, 32}, {32, 32}}));
  auto at = [&](int sector) { return buffer.begin() + sector * CDSectorSize; };
  EXPECT_EQ(buffer[31 * CDSectorSize], TSimulatedDrive::SectorByte(31, 0));
  EXPECT_TRUE(std::all_of(at(32), at(64), [](std::uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::all_of(at(64), at(70), [](std::uint8_t b) { return b == 0xCC; }));
}

TEST(ReadCDSectors, NothingToReadSendsNothing)
{
  TSimulatedDrive drive(100);
  for (int count : {0, -1, -40}) EXPECT_TRUE(ReadCDSectors(drive, 0, count, nullptr));
  EXPECT_TRUE(drive.Commands.empty());
}

// Every probe is a READ CD of one sector; the count of probes is what capacity measuring costs.
struct TCapacityCase {
  std::int64_t ReadableSectors;
  std::int32_t Expected;
  std::size_t Probes;
};

void PrintTo(const TCapacityCase& c, std::ostream* os) { *os << c.ReadableSectors << " readable sectors"; }

class GetCDSectorCountTest : public ::testing::TestWithParam<TCapacityCase> {};

TEST_P(GetCDSectorCountTest, FindsTheEndOfTheReadableRun)
{
  const auto& c = GetParam();
  TSimulatedDrive drive(c.ReadableSectors);
  EXPECT_EQ(GetCDSectorCount(drive), c.Expected);
  const auto reads = drive.Reads();
  EXPECT_EQ(reads.size(), c.Probes);
  for (const auto& [lba, count] : reads) {
    EXPECT_EQ(count, 1);
    EXPECT_LE(lba, std::numeric_limits<std::int32_t>::max());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Media, GetCDSectorCountTest,
    ::testing::Values(TCapacityCase{0, 0, 1},                   // sector 0 unreadable: no search
                      TCapacityCase{1, 1, 18},                  // 0, 65536, then 16 halvings
                      TCapacityCase{65536, 65536, 18},          // the run ends at 65535
                      TCapacityCase{65537, 65537, 20},          // 0, 65536, 131072, 17 halvings
                      TCapacityCase{131072, 131072, 20},
                      TCapacityCase{359846, 359846, 24},        // a 700 MB CD
                      TCapacityCase{2295104, 2295104, 30},      // a DVD
                      // Beyond 2^30 the doubling cannot go on: the last address is probed instead,
                      // and the halving works on the whole 31-bit interval.
                      TCapacityCase{2147483000, 2147483000, 1 + 15 + 1 + 31}));

TEST(GetCDSectorCount, DeviceAnsweringEveryAddressStaysInTheSignedRange)
{
  TSimulatedDrive drive(0);
  drive.AnswersEverything = true;
  EXPECT_EQ(GetCDSectorCount(drive), std::numeric_limits<std::int32_t>::max());
  const auto reads = drive.Reads();
  ASSERT_EQ(reads.size(), 17u);  // sector 0, 2^16 ... 2^30, and 2^31 - 1
  EXPECT_EQ(reads[15].first, std::int64_t{1} << 30);
  EXPECT_EQ(reads.back().first, std::numeric_limits<std::int32_t>::max());
}

TEST(GetCDSectorCount, HoleInsideTheMediumEndsTheCountAtTheStepTheSearchMeets)
{
  TSimulatedDrive drive(359846);
  drive.Unreadable = {262144};  // the third doubling probe fails
  const std::int32_t count = GetCDSectorCount(drive);
  EXPECT_GT(count, 131072);
  EXPECT_LE(count, 262144);
}

TEST(OpenCDDrive, LowerCaseOpensTheSameDevice)
{
  std::vector<std::string> opened;
  auto opener = [&](const std::string& path) -> std::unique_ptr<TScsiDevice> {
    opened.push_back(path);
    return std::make_unique<TSimulatedDrive>(10);
  };
  EXPECT_NE(OpenCDDrive('e', opener), nullptr);
  EXPECT_NE(OpenCDDrive('E', opener), nullptr);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], opened[1]);
  EXPECT_EQ(opened[0], DriveDevicePath('E'));

  EXPECT_EQ(OpenCDDrive('7', opener), nullptr);
  EXPECT_EQ(opened.size(), 2u) << "no device is opened for a character that is not a letter";
}

TEST(OpenScsiDevice, MissingDeviceGivesNothing)
{
  const std::string missing = "/nonexistent/sr0";
  ASSERT_FALSE(std::filesystem::exists(missing));
  EXPECT_EQ(OpenScsiDevice(missing), nullptr);
}

TEST(DecodeSense, KeyCodeAndQualifierOfBothFormats)
{
  auto decode = [](std::vector<std::uint8_t> sense) {
    TScsiResult r{true, 2};
    r.SenseKey = r.Asc = r.Ascq = 0xEE;  // stale values must not survive
    DecodeSense(sense, r);
    return std::vector<int>{r.SenseKey, r.Asc, r.Ascq};
  };
  // As the Linux driver hands them over (fixed format, 18 bytes; bit 7 of byte 0 "valid").
  EXPECT_EQ(decode({0xF0, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x28, 0x00, 0, 0, 0, 0}), (std::vector<int>{6, 0x28, 0}));
  EXPECT_EQ(decode({0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00, 0, 0, 0, 0}), (std::vector<int>{5, 0x20, 0}));
  EXPECT_EQ(decode({0x72, 0x02, 0x3A, 0x02}), (std::vector<int>{2, 0x3A, 2}));
  EXPECT_EQ(decode({0x70, 0, 0x03}), (std::vector<int>{3, 0, 0})) << "too short for the codes";
  EXPECT_EQ(decode({0x7F, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x28, 0}), (std::vector<int>{0, 0, 0})) << "vendor format";
  EXPECT_EQ(decode({}), (std::vector<int>{0, 0, 0}));

  TScsiResult invalid{true, 2, 5, 0x20, 0};
  EXPECT_TRUE(invalid.InvalidOpcode());
  invalid.Ascq = 1;
  EXPECT_FALSE(invalid.InvalidOpcode());
  const TScsiResult lost{false, 2, 6, 0x28, 0};
  EXPECT_FALSE(lost.UnitAttention()) << "sense of a command that never came back means nothing";
}

// The drive the drive object talks to: UNIT ATTENTION is the echo of an insertion until the disc
// is read, and a changed disc afterwards.
TEST(TCDDrive, ResendsUnitAttentionWhileOpening)
{
  auto owned = std::make_unique<TSimulatedDrive>(100);
  TSimulatedDrive* sim = owned.get();
  TCDDrive drive(std::move(owned));
  sim->UnitAttentions = 2;
  EXPECT_TRUE(TestUnitReady(drive));
  EXPECT_EQ(sim->Commands.size(), 3u);
  EXPECT_FALSE(drive.DiscChanged);

  // A drive that never stops reporting it is believed after three resends.
  sim->UnitAttentions = 100;
  sim->Commands.clear();
  EXPECT_FALSE(TestUnitReady(drive));
  EXPECT_EQ(sim->Commands.size(), 1u + TCDDrive::UnitAttentionResends);
  EXPECT_TRUE(drive.Last.UnitAttention());
}

TEST(TCDDrive, WatchingTurnsMediumChangeAndRemovalIntoDiscChanged)
{
  for (const bool removed : {false, true}) {
    auto owned = std::make_unique<TSimulatedDrive>(100);
    TSimulatedDrive* sim = owned.get();
    TCDDrive drive(std::move(owned));
    drive.Watching = true;
    std::vector<std::uint8_t> buffer(CDSectorSize);

    // A reset is no sign of another disc: the command goes out again.
    sim->UnitAttentions = 1;
    sim->UnitAttentionCode = 0x29;
    EXPECT_TRUE(ReadCD(drive, 5, 1, buffer.data()));
    EXPECT_FALSE(drive.DiscChanged);

    if (removed)
      sim->NotReady = true;
    else
      sim->ChangeDisc(100);
    const std::size_t before = sim->Commands.size();
    EXPECT_FALSE(ReadCD(drive, 6, 1, buffer.data())) << removed;
    EXPECT_EQ(sim->Commands.size(), before + 1) << "not sent again: it would read the other disc";
    EXPECT_TRUE(drive.DiscChanged) << removed;
  }
}

TScsiResult Answer(std::uint8_t Key, std::uint8_t Asc, std::uint8_t Ascq)
{
  TScsiResult r{true, 2};
  r.SenseKey = Key;
  r.Asc = Asc;
  r.Ascq = Ascq;
  return r;
}

// How drives report a failed read, as logs of real and emulated drives show them.
TEST(ClassifyAnswer, FailedReadsAreUnreadableAndEventsAreTheirOwn)
{
  using A = TCDReadAnswer;
  struct TCase {
    TScsiResult Result;
    A Expected;
  };
  for (const TCase c : {TCase{{true, 0}, A::Read},
                        {Answer(3, 0x11, 0), A::Unreadable},   // unrecovered read error
                        {Answer(3, 0x02, 0), A::Unreadable},   // no seek complete
                        {Answer(4, 0x3E, 2), A::Unreadable},   // timeout on logical unit
                        {Answer(0x0B, 0, 6), A::Unreadable},   // aborted (SCSI emulation)
                        {Answer(5, 0x21, 0), A::Unreadable},   // "out of range" (ATAPI emulation)
                        {Answer(5, 0x64, 0), A::Unreadable},   // illegal mode for this track
                        {{false, 0xFF}, A::Unreadable},        // the command never came back
                        {Answer(2, 0x3A, 0), A::NoMedium},
                        {Answer(2, 0x3A, 2), A::NoMedium},
                        {Answer(6, 0x28, 0), A::MediumChanged},
                        {Answer(6, 0x29, 0), A::Reset},
                        {Answer(6, 0x29, 2), A::Reset},
                        {Answer(2, 0x04, 1), A::BecomingReady},
                        {Answer(2, 0x04, 2), A::Unreadable}}) {  // needs START UNIT: not coming by itself
    EXPECT_EQ(ClassifyAnswer(c.Result), c.Expected)
        << int(c.Result.SenseKey) << "/" << int(c.Result.Asc) << "/" << int(c.Result.Ascq);
  }
}

TEST(TCDDrive, ResetIsAnsweredByOneResendAndBecomingReadyIsWaitedFor)
{
  auto owned = std::make_unique<TSimulatedDrive>(100);
  TSimulatedDrive* sim = owned.get();
  std::vector<std::chrono::milliseconds> waits;
  TCDDrive drive(std::move(owned), [&](std::chrono::milliseconds t) { waits.push_back(t); });
  drive.Watching = true;
  std::vector<std::uint8_t> buffer(CDSectorSize);

  sim->UnitAttentions = 1;
  sim->UnitAttentionCode = 0x29;
  EXPECT_TRUE(ReadCD(drive, 5, 1, buffer.data()));
  EXPECT_EQ(sim->Commands.size(), 2u);
  sim->UnitAttentions = 2;
  EXPECT_FALSE(ReadCD(drive, 5, 1, buffer.data())) << "a second reset in a row is the answer";
  EXPECT_EQ(ClassifyAnswer(drive.Last), TCDReadAnswer::Reset);
  EXPECT_FALSE(drive.DiscChanged);
  EXPECT_TRUE(waits.empty());

  sim->UnitAttentions = 0;
  sim->Commands.clear();
  sim->BecomingReady = 5;
  EXPECT_TRUE(ReadCD(drive, 6, 1, buffer.data()));
  EXPECT_EQ(sim->Commands.size(), 6u);
  EXPECT_EQ(waits, std::vector<std::chrono::milliseconds>(5, TCDDrive::BecomingReadyPoll));

  // A drive that never gets ready is given up after the limit.
  waits.clear();
  sim->BecomingReady = 1000;
  EXPECT_FALSE(TestUnitReady(drive));
  EXPECT_EQ(static_cast<std::int64_t>(waits.size()), TCDDrive::BecomingReadyLimit / TCDDrive::BecomingReadyPoll);
}

TEST(Capacity, FromReadCapacityAndTheLeadOut)
{
  EXPECT_THAT(ReadCapacityCdb(), ElementsAre(0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0));
  EXPECT_THAT(ReadTocCdb(1, 804), ElementsAre(0x43, 0, 0, 0, 0, 0, 1, 0x03, 0x24, 0));

  TSimulatedDrive drive(20000);
  drive.ReportsCapacity = true;
  const TCDCapacityAnswers answers = AskCapacity(drive);
  EXPECT_EQ(answers.Capacity, 20000);
  EXPECT_EQ(answers.LeadOut, 20000);
  EXPECT_EQ(answers.Toc, drive.TocBytes());

  TSimulatedDrive silent(20000);
  const TCDCapacityAnswers none = AskCapacity(silent);
  EXPECT_FALSE(none.Capacity);
  EXPECT_FALSE(none.LeadOut);
  EXPECT_TRUE(none.Toc.empty());

  using N = std::optional<std::int64_t>;
  const auto choose = [](N capacity, N leadOut) { return ChooseCapacity({capacity, leadOut, {}}); };
  EXPECT_EQ(choose(20000, 20000), 20000);
  EXPECT_EQ(choose(20000, std::nullopt), 20000);
  EXPECT_EQ(choose(std::nullopt, 19000), 19000);
  EXPECT_EQ(choose(2295104, 50000), 50000) << "a rewritable disc's formatted size against its data";
  EXPECT_EQ(choose(std::nullopt, std::nullopt), std::nullopt);
  EXPECT_EQ(choose(0, std::nullopt), std::nullopt);
}

TEST(ErrorRecoveryPage, ReadChangedAndSentBack)
{
  EXPECT_THAT(ModeSense10Cdb(1, 0x01, 265), ElementsAre(0x5A, 0x08, 0x41, 0, 0, 0, 0, 0x01, 0x09, 0));
  EXPECT_THAT(ModeSelect10Cdb(20), ElementsAre(0x55, 0x10, 0, 0, 0, 0, 0, 0, 20, 0));

  TSimulatedDrive drive(100);
  EXPECT_FALSE(ReadErrorRecoveryPage(drive)) << "a drive without mode pages";
  drive.ErrorRecoveryPage = {0x81, 0x0A, 0x04, 0x20, 0, 0, 0, 0, 0x20, 0, 0, 0};
  const auto page = ReadErrorRecoveryPage(drive);
  ASSERT_TRUE(page);
  EXPECT_EQ(*page, drive.ErrorRecoveryPage);
  const auto mask = ReadErrorRecoveryPage(drive, true);
  ASSERT_TRUE(mask);
  EXPECT_EQ((*mask)[ReadRetryCountByte], 0xFF);

  std::vector<std::uint8_t> lowered = *page;
  lowered[ReadRetryCountByte] = 1;
  EXPECT_TRUE(WriteErrorRecoveryPage(drive, lowered));
  ASSERT_EQ(drive.PagesSelected.size(), 1u);
  EXPECT_EQ(drive.PagesSelected[0][0], 0x01) << "PS is reserved in MODE SELECT";
  EXPECT_EQ(drive.PagesSelected[0][ReadRetryCountByte], 1);
  EXPECT_EQ(drive.Commands.back().DataLength, 8u + 12u);

  // A transport without data-out answers "not transported"; the page is not sent.
  struct TReadOnlyTransport final : TScsiDevice {
    TScsiResult SendCdb(std::span<const std::uint8_t>, std::span<std::uint8_t>, std::chrono::seconds) override
    {
      return {true, 0};
    }
  } readOnly;
  EXPECT_FALSE(WriteErrorRecoveryPage(readOnly, lowered));
}

TEST(IsUnitAttention, ReadsTheSenseKeyOfBothFormats)
{
  const std::uint8_t fixedUA[18] = {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x28, 0x00};
  const std::uint8_t deferredUA[18] = {0x71, 0, 0x06};
  const std::uint8_t descriptorUA[8] = {0x72, 0x06, 0x28, 0x00};
  const std::uint8_t notReady[18] = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x00};
  const std::uint8_t illegal[8] = {0x72, 0x05, 0x21, 0x00};
  const std::uint8_t noSense[18] = {};
  EXPECT_TRUE(IsUnitAttention(fixedUA));
  EXPECT_TRUE(IsUnitAttention(deferredUA));
  EXPECT_TRUE(IsUnitAttention(descriptorUA));
  EXPECT_FALSE(IsUnitAttention(notReady));
  EXPECT_FALSE(IsUnitAttention(illegal));
  EXPECT_FALSE(IsUnitAttention(noSense));
  EXPECT_FALSE(IsUnitAttention(std::span<const std::uint8_t>(fixedUA, 2)));  // too short to hold the key
  EXPECT_FALSE(IsUnitAttention({}));
}

}  // namespace
}  // namespace kx
