// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kxDisks.h"

#include "common/kxShared.h"
#include "media/SimulatedDrive.h"
#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace kx {
namespace {

namespace fs = std::filesystem;
using test::TScratchFolder;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t Sync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

void WriteFile(const std::string& Name, const std::uint8_t* Data, std::size_t Size)
{
  std::ofstream out(Name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(Size));
  ASSERT_TRUE(out.good()) << Name;
}

// Part k of a series, spelled out here rather than taken from the code under test.
std::string PartName(const std::string& First, int k)
{
  if (k == 1) return First;
  return First + (k < 10 ? "0" : "") + std::to_string(k);
}

// The stored bytes of an image of Sectors sectors in the given layout: noise everywhere, so that
// a user-data window off by any amount shows, with the sync field and mode byte where a raw
// sector has them. Plain images get a first byte that is not a sync field.
Bytes MakeStored(TkxImageLayout Layout, std::int64_t Sectors, std::int64_t Extra, unsigned Seed)
{
  const std::int64_t raw = Layout == TkxImageLayout::Plain ? 2048 : 2352;
  Bytes stored(static_cast<std::size_t>(Sectors * raw + Extra));
  std::mt19937 random(Seed);
  for (auto& b : stored) b = static_cast<std::uint8_t>(random());
  if (Layout == TkxImageLayout::Plain) {
    if (!stored.empty()) stored[0] = 0x47;
    return stored;
  }
  for (std::int64_t s = 0; s < Sectors; ++s) {
    std::uint8_t* sector = stored.data() + s * raw;
    std::copy(std::begin(Sync), std::end(Sync), sector);
    sector[15] = Layout == TkxImageLayout::RawMode1 ? 1 : 2;
  }
  return stored;
}

// Writes Stored as consecutive parts of the given sizes; the last part takes the rest.
std::string WriteParts(const TScratchFolder& Folder, const std::string& Name, const Bytes& Stored,
                       std::vector<std::int64_t> Sizes = {})
{
  const std::string first = Folder / Name;
  std::size_t at = 0;
  int k = 1;
  for (const std::int64_t size : Sizes) {
    WriteFile(PartName(first, k++), Stored.data() + at, static_cast<std::size_t>(size));
    at += static_cast<std::size_t>(size);
  }
  WriteFile(PartName(first, k), Stored.data() + at, Stored.size() - at);
  return first;
}

// The user data that sector S of the seamless concatenation Stored carries.
Bytes UserData(const Bytes& Stored, TkxImageLayout Layout, std::int64_t S)
{
  const std::int64_t raw = Layout == TkxImageLayout::Plain ? 2048 : 2352;
  const std::int64_t header = Layout == TkxImageLayout::RawMode1 ? 16 : Layout == TkxImageLayout::RawMode2 ? 24 : 0;
  const auto from = Stored.begin() + S * raw + header;
  return Bytes(from, from + 2048);
}

// ---------------------------------------------------------------------------------------------
// Contract: every kind of image delivers the user data of the seamless concatenation of its
// parts, one sector or many per call, in any order. The images are larger than one read-ahead
// run, so that runs end inside parts as well as at their ends.

struct TImageCase {
  TkxImageLayout Layout;
  std::int64_t Sectors;
  std::int64_t Extra;                // bytes after the last whole stored sector
  std::vector<std::int64_t> Sizes;   // part sizes but the last; empty for a single file
};

struct PlainSingle {
  static TImageCase Case() { return {TkxImageLayout::Plain, 1300, 100, {}}; }
};
struct RawMode1Single {
  static TImageCase Case() { return {TkxImageLayout::RawMode1, 1300, 0, {}}; }
};
struct RawMode2WholeParts {  // with an empty part in the middle and a cut last sector
  static TImageCase Case() { return {TkxImageLayout::RawMode2, 1300, 1000, {600 * 2352, 0, 500 * 2352}}; }
};
struct PlainWholeParts {
  static TImageCase Case() { return {TkxImageLayout::Plain, 1300, 0, {529 * 2048, 1 * 2048, 128 * 2048}}; }
};
struct RawMode1StraddlingParts {  // sector 600 spans three parts; part 1 holds all but its last user byte
  static TImageCase Case() { return {TkxImageLayout::RawMode1, 1300, 7, {600 * 2352 + 16 + 2047, 200, 2352 * 50 + 5}}; }
};
struct PlainStraddlingParts {
  static TImageCase Case() { return {TkxImageLayout::Plain, 1300, 0, {2047, 2, 700 * 2048 + 1}}; }
};

template <typename Kind>
class ImageContract : public testing::Test {
 protected:
  ImageContract() : Case(Kind::Case())
  {
    Stored = MakeStored(Case.Layout, Case.Sectors, Case.Extra, 1234);
    FileName = WriteParts(Folder, "disk.img", Stored, Case.Sizes);
  }
  Bytes Expected(std::int64_t S) const { return UserData(Stored, Case.Layout, S); }

  TScratchFolder Folder;
  TImageCase Case;
  Bytes Stored;
  std::string FileName;
};

using ImageKinds = testing::Types<PlainSingle, RawMode1Single, RawMode2WholeParts, PlainWholeParts,
                                  RawMode1StraddlingParts, PlainStraddlingParts>;
TYPED_TEST_SUITE(ImageContract, ImageKinds);

TYPED_TEST(ImageContract, OpensClosedWithLayoutPartsAndSectorCount)
{
  TkxDiskImage image(this->FileName);
  ASSERT_TRUE(image.Opened);
  EXPECT_EQ(image.Layout(), this->Case.Layout);
  EXPECT_EQ(image.SectorSize, 2048);
  EXPECT_EQ(image.SectorCount, this->Case.Sectors);
  EXPECT_EQ(image.CurrentPart, -1);
  ASSERT_EQ(image.Parts.size(), this->Case.Sizes.size() + 1);
  std::int64_t at = 0;
  for (std::size_t k = 0; k < image.Parts.size(); ++k) {
    EXPECT_EQ(image.Parts[k].FileName, PartName(this->FileName, static_cast<int>(k) + 1));
    EXPECT_EQ(image.Parts[k].StartOffset, at);
    at = k < this->Case.Sizes.size() ? at + this->Case.Sizes[k] : static_cast<std::int64_t>(this->Stored.size());
    EXPECT_EQ(image.Parts[k].EndOffset, at);
  }
}

TYPED_TEST(ImageContract, ScanOneSectorAtATimeDeliversEverySectorThenNothing)
{
  TkxDiskImage image(this->FileName);
  ASSERT_TRUE(image.Opened);
  Bytes buffer(2048);
  for (std::int64_t s = 0; s < image.SectorCount; ++s) {
    ASSERT_EQ(image.ReadSectors(buffer.data(), 1, s), 2048) << "sector " << s;
    ASSERT_EQ(buffer, this->Expected(s)) << "sector " << s;
  }
  std::fill(buffer.begin(), buffer.end(), 0xCD);
  EXPECT_EQ(image.ReadSectors(buffer.data(), 1, image.SectorCount), 0);
  EXPECT_EQ(image.ReadSectors(buffer.data(), 1, image.SectorCount + 1000), 0);
  EXPECT_EQ(image.ReadSectors(buffer.data(), 1, -1), 0);
  EXPECT_EQ(buffer, Bytes(2048, 0xCD)) << "a read beyond the end wrote into the buffer";
}

TYPED_TEST(ImageContract, RunsInAnyOrderMatchAndLeaveTheBufferPastTheEndUntouched)
{
  TkxDiskImage image(this->FileName);
  ASSERT_TRUE(image.Opened);
  const std::int64_t count = image.SectorCount;
  std::mt19937 random(99);
  for (int round = 0; round < 300; ++round) {
    // Mostly short runs, some long ones, some that reach past the end.
    const std::int64_t first = std::uniform_int_distribution<std::int64_t>(0, count + 2)(random);
    const auto n = static_cast<std::int32_t>(round % 10 == 0 ? std::uniform_int_distribution<int>(100, 400)(random)
                                                             : std::uniform_int_distribution<int>(1, 40)(random));
    Bytes buffer(static_cast<std::size_t>(n) * 2048, 0xCD);
    const std::int32_t got = image.ReadSectors(buffer.data(), n, first);
    const std::int64_t delivered = std::clamp<std::int64_t>(count - first, 0, n);
    SCOPED_TRACE(testing::Message() << "sectors " << first << " + " << n);
    ASSERT_EQ(got, delivered * 2048);
    for (std::int64_t k = 0; k < delivered; ++k)
      ASSERT_TRUE(std::equal(buffer.begin() + k * 2048, buffer.begin() + (k + 1) * 2048, this->Expected(first + k).begin()))
          << "sector " << first + k;
    ASSERT_TRUE(std::all_of(buffer.begin() + delivered * 2048, buffer.end(), [](std::uint8_t b) { return b == 0xCD; }));
  }
}

TYPED_TEST(ImageContract, CopyToStreamOfTheWholeMediumIsTheUserDataInOrder)
{
  struct TMemoryStream final : TkxOutStream {
    Bytes Data;
    void WriteBuffer(const void* Buffer, std::int64_t Count) override
    {
      const auto* p = static_cast<const std::uint8_t*>(Buffer);
      Data.insert(Data.end(), p, p + Count);
    }
  };
  TkxDiskImage image(this->FileName);
  ASSERT_TRUE(image.Opened);
  Bytes expected;
  for (std::int64_t s = 0; s < image.SectorCount; ++s) {
    const Bytes sector = this->Expected(s);
    expected.insert(expected.end(), sector.begin(), sector.end());
  }
  // Offsets off the sector grid, over a long range (chunks) and a short one.
  TMemoryStream whole;
  image.CopyToStream(whole, 3, image.SectorCount * 2048 - 3);
  EXPECT_TRUE(whole.Data == Bytes(expected.begin() + 3, expected.end()));
  TMemoryStream some;
  image.CopyToStream(some, 2048 * 99 + 1000, 5000);
  EXPECT_TRUE(some.Data == Bytes(expected.begin() + 2048 * 99 + 1000, expected.begin() + 2048 * 99 + 6000));
}

// ---------------------------------------------------------------------------------------------
// Layouts.

TEST(DetectLayout, NeedsTheWholeSyncFieldAndModeOneOrTwo)
{
  struct Case {
    int Mode;
    int SpoiltByte;  // index into the sync field changed, or -1
    TkxImageLayout Want;
  };
  const Case cases[] = {
      {1, -1, TkxImageLayout::RawMode1}, {2, -1, TkxImageLayout::RawMode2}, {0, -1, TkxImageLayout::Plain},
      {3, -1, TkxImageLayout::Plain},    {0xFF, -1, TkxImageLayout::Plain}, {1, 0, TkxImageLayout::Plain},
      {1, 5, TkxImageLayout::Plain},     {2, 11, TkxImageLayout::Plain},
  };
  for (const Case& c : cases) {
    std::array<std::uint8_t, 16> first{};
    std::copy(std::begin(Sync), std::end(Sync), first.begin());
    first[12] = 0x12;  // address bytes do not matter
    first[15] = static_cast<std::uint8_t>(c.Mode);
    if (c.SpoiltByte >= 0) first[static_cast<std::size_t>(c.SpoiltByte)] ^= 0x01;
    EXPECT_EQ(DetectLayout(first), c.Want) << "mode " << c.Mode << ", spoilt byte " << c.SpoiltByte;
  }
}

TEST(TkxDiskImage, SyncFieldWithModeZeroReadsAsPlainFromByteZero)
{
  TScratchFolder folder;
  Bytes stored = MakeStored(TkxImageLayout::RawMode1, 4, 0, 6);  // 9408 bytes = 4 plain sectors + 1216
  stored[15] = 0;
  const std::string name = WriteParts(folder, "mode0.bin", stored);
  TkxDiskImage image(name);
  ASSERT_TRUE(image.Opened);
  EXPECT_EQ(image.Layout(), TkxImageLayout::Plain);
  EXPECT_EQ(image.SectorCount, 4);
  Bytes buffer(2048);
  ASSERT_EQ(image.ReadSectors(buffer.data(), 1, 0), 2048);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), stored.begin()));
}

TEST(TkxDiskImage, OnlyTheFirstPartDecidesTheLayout)
{
  TScratchFolder folder;
  // A plain first part followed by a part that happens to begin like a raw sector.
  Bytes stored = MakeStored(TkxImageLayout::Plain, 4, 0, 7);
  std::copy(std::begin(Sync), std::end(Sync), stored.begin() + 2048);
  stored[2048 + 15] = 1;
  const std::string name = WriteParts(folder, "p.iso", stored, {2048});
  TkxDiskImage image(name);
  ASSERT_TRUE(image.Opened);
  EXPECT_EQ(image.Layout(), TkxImageLayout::Plain);
  EXPECT_EQ(image.SectorCount, 4);
}

// ---------------------------------------------------------------------------------------------
// Opening.

TEST(TkxDiskImage, DoesNotOpenWhatIsMissingTooShortOrNotAFile)
{
  TScratchFolder folder;
  const Bytes fifteen(15, 0);
  WriteFile(folder / "short.iso", fifteen.data(), fifteen.size());
  fs::create_directory(folder / "folder.iso");
  ASSERT_EQ(::mkfifo((folder / "pipe.iso").c_str(), 0600), 0);  // must not wait for a writer
  for (const std::string& name :
       {folder / "missing.iso", folder / "short.iso", folder / "folder.iso", folder / "pipe.iso", std::string()}) {
    TkxDiskImage image(name);
    EXPECT_FALSE(image.Opened) << name;
    EXPECT_EQ(image.SectorCount, 0) << name;
    EXPECT_EQ(image.CurrentPart, -1);
  }
}

TEST(TkxDiskImage, SixteenBytesOpenAsAnImageWithoutSectors)
{
  TScratchFolder folder;
  const Bytes sixteen(16, 0x33);
  WriteFile(folder / "tiny.iso", sixteen.data(), sixteen.size());
  TkxDiskImage image(folder / "tiny.iso");
  EXPECT_TRUE(image.Opened);
  EXPECT_EQ(image.SectorCount, 0);
  Bytes buffer(2048, 0xCD);
  EXPECT_EQ(image.ReadSectors(buffer.data(), 1, 0), 0);
}

TEST(TkxDiskImage, AGapInThePartNumbersEndsTheImage)
{
  TScratchFolder folder;
  const Bytes stored = MakeStored(TkxImageLayout::Plain, 6, 0, 8);
  const std::string name = folder / "a.iso";
  WriteFile(name, stored.data(), 2 * 2048);
  WriteFile(name + "03", stored.data() + 2 * 2048, 4 * 2048);
  TkxDiskImage image(name);
  ASSERT_TRUE(image.Opened);
  EXPECT_EQ(image.Parts.size(), 1u);
  EXPECT_EQ(image.SectorCount, 2);
}

TEST(TkxDiskImage, PartNumbersRunPastNinetyNine)
{
  TScratchFolder folder;
  const Bytes sector(2048, 0x11);
  const std::string name = folder / "many.iso";
  for (int k = 1; k <= 101; ++k) WriteFile(PartName(name, k), sector.data(), sector.size());
  TkxDiskImage image(name);
  ASSERT_TRUE(image.Opened);
  ASSERT_EQ(image.Parts.size(), 101u);
  EXPECT_EQ(image.Parts[99].FileName, name + "100");
  EXPECT_EQ(image.SectorCount, 101);
}

// ---------------------------------------------------------------------------------------------
// Reading across parts and after the files changed.

TEST(TkxDiskImage, OneReadTakesSectorsFromBothSidesOfAPartBoundary)
{
  TScratchFolder folder;
  const Bytes stored = MakeStored(TkxImageLayout::Plain, 10, 0, 9);
  const std::string name = WriteParts(folder, "b.iso", stored, {5 * 2048});
  TkxDiskImage image(name);
  ASSERT_TRUE(image.Opened);
  Bytes buffer(4 * 2048);
  ASSERT_EQ(image.ReadSectors(buffer.data(), 4, 3), 4 * 2048);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), stored.begin() + 3 * 2048));
  EXPECT_EQ(image.CurrentPart, 1);
}

TEST(TkxDiskImage, APartDeletedAfterOpeningRaisesOnlyForReadsThatNeedIt)
{
  TScratchFolder folder;
  const Bytes stored = MakeStored(TkxImageLayout::RawMode2, 10, 0, 11);
  const std::string name = WriteParts(folder, "d.bin", stored, {5 * 2352});
  TkxDiskImage image(name);
  ASSERT_TRUE(image.Opened);
  fs::remove(name + "02");

  Bytes buffer(4 * 2048);
  // The last sector of part 1 reads; reading ahead must not reach for the missing part.
  EXPECT_EQ(image.ReadSectors(buffer.data(), 1, 4), 2048);
  EXPECT_THROW(image.ReadSectors(buffer.data(), 1, 7), EkxIOError);
  EXPECT_EQ(image.CurrentPart, -1);
  EXPECT_THROW(image.ReadSectors(buffer.data(), 4, 3), EkxIOError);
  EXPECT_EQ(image.CurrentPart, -1);
  // The image stays usable for what is left.
  ASSERT_EQ(image.ReadSectors(buffer.data(), 2, 0), 2 * 2048);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 2048, UserData(stored, TkxImageLayout::RawMode2, 0).begin()));
  EXPECT_EQ(image.CurrentPart, 0);
}

// A file cut short after it was opened delivers no sectors of zeros: a read that reaches the cut,
// or lies beyond it, throws and names the file; what lies before the cut still reads.
TEST(TkxDiskImage, AFileThatShrankAfterOpeningIsAReadError)
{
  TScratchFolder folder;
  const Bytes stored = MakeStored(TkxImageLayout::Plain, 10, 0, 12);
  const std::string name = WriteParts(folder, "e.iso", stored);
  TkxDiskImage image(name);
  ASSERT_TRUE(image.Opened);
  fs::resize_file(name, 5 * 2048 + 1024);
  Bytes buffer(3 * 2048, 0xCD);
  for (const auto& [first, count] : {std::pair{4, 3}, std::pair{5, 1}, std::pair{8, 1}}) {
    try {
      image.ReadSectors(buffer.data(), count, first);
      ADD_FAILURE() << "sector " << first << " read";
    } catch (const EkxIOError& e) {
      EXPECT_EQ(std::string(e.what()), "\"" + name + "\" is shorter than when the image was opened: it was cut or replaced");
    }
  }
  EXPECT_EQ(image.ReadSectors(buffer.data(), 2, 3), 2 * 2048);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 2 * 2048, stored.begin() + 3 * 2048));
}

// A block device (a disc in its drive, a loop device) reads like its file; only devices that are
// neither file nor disk are refused. Attaching a loop device needs root; without, the test skips.
TEST(TkxDiskImage, ABlockDeviceReadsLikeItsFile)
{
  TScratchFolder folder;
  const Bytes stored = MakeStored(TkxImageLayout::Plain, 6, 0, 15);
  const std::string name = WriteParts(folder, "loop.iso", stored);
  std::FILE* attach = ::popen(("losetup --find --show --read-only '" + name + "' 2>/dev/null").c_str(), "r");
  ASSERT_NE(attach, nullptr);
  char line[256] = {};
  const bool attached = std::fgets(line, sizeof line, attach) != nullptr;
  ::pclose(attach);
  if (!attached) GTEST_SKIP() << "no loop device can be attached here";
  std::string device(line);
  device.erase(device.find_last_not_of("\n") + 1);
  {
    TkxDiskImage image(device);
    EXPECT_TRUE(image.Opened) << image.FailureReason;
    EXPECT_EQ(image.SectorCount, 6);
    Bytes buffer(2 * 2048);
    EXPECT_EQ(image.ReadSectors(buffer.data(), 2, 4), 2 * 2048);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), stored.begin() + 4 * 2048));
  }
  EXPECT_EQ(std::system(("losetup -d " + device).c_str()), 0);
}

// ---------------------------------------------------------------------------------------------
// Choosing the medium for a location.

TEST(IsDriveName, IsExactlyTwoCharactersWithAColonLast)
{
  for (const char* yes : {"D:", "z:", "1:", "::"}) EXPECT_TRUE(IsDriveName(yes)) << yes;
  for (const char* no : {"", "D", "D:/", ":D", "DD", "/dev/sr0", "D:\\"}) EXPECT_FALSE(IsDriveName(no)) << no;
}

TEST(OpenDisk, OpensImagesAndNothingThatCannotBeRead)
{
  TScratchFolder folder;
  const Bytes stored = MakeStored(TkxImageLayout::Plain, 3, 0, 14);
  const std::string name = WriteParts(folder, "g.iso", stored);
  const auto disk = OpenDisk(name);
  ASSERT_NE(disk, nullptr);
  EXPECT_EQ(disk->SectorCount, 3);
  EXPECT_NE(dynamic_cast<TkxDiskImage*>(disk.get()), nullptr);
  EXPECT_EQ(OpenDisk(folder / "missing.iso"), nullptr);
  EXPECT_EQ(OpenDisk(""), nullptr);
  // A drive name opens the drive, not a file: there is no optical drive at Z: on any machine
  // these tests run on (Z: would be /dev/sr22).
  EXPECT_EQ(OpenDisk("Z:"), nullptr);
  // An image whose file name merely looks like a drive opens by any longer path.
  WriteParts(folder, "Z:", stored);
  EXPECT_NE(OpenDisk(folder / "Z:"), nullptr);
}

// Why a location did not open is said once, where it was found: the part file or device that
// failed and the reason, after the window's message.
TEST(OpenDisk, SaysWhichPathFailedAndWhy)
{
  TScratchFolder folder;
  WriteParts(folder, "short.iso", Bytes(10, 0));
  WriteParts(folder, "one.iso", Bytes(1, 0));
  fs::create_directories(folder / "dir.iso");
  ASSERT_EQ(::mkfifo((folder / "pipe.iso").c_str(), 0600), 0);
  const std::string mount(MountErrorMessage);
  struct TCase {
    std::string Location;
    std::string Path;
    std::string Reason;
  };
  const TCase cases[] = {
      {folder / "missing.iso", folder / "missing.iso", "No such file or directory"},
      {folder / "dir.iso", folder / "dir.iso", "Is a directory"},
      {folder / "short.iso", folder / "short.iso", "too small for a disc image (10 bytes)"},
      {folder / "one.iso", folder / "one.iso", "too small for a disc image (1 byte)"},
      // A pipe cannot be measured; nothing else about it is wrong that a person could mend.
      {folder / "pipe.iso", folder / "pipe.iso", "cannot be read as a disc image"},
      // Endless devices measure 0 bytes: refused, not taken as a medium without sectors.
      {"/dev/zero", "/dev/zero", "cannot be read as a disc image"},
      {"/dev/urandom", "/dev/urandom", "cannot be read as a disc image"},
      {folder / "short.iso/x", folder / "short.iso/x", "Not a directory"},
      {"", "", "No such file or directory"},
      {"1:", "1:", "not a drive name (D: to Z:)"},
      {"c:", "c:", "not a drive name (D: to Z:)"},
  };
  for (const TCase& c : cases) {
    TkxOpenFailure why;
    EXPECT_EQ(OpenDisk(c.Location, &why), nullptr) << c.Location;
    EXPECT_EQ(why.Message, mount) << c.Location;
    EXPECT_EQ(why.Path, c.Path) << c.Location;
    EXPECT_EQ(why.Reason, c.Reason) << c.Location;
  }
}

TEST(DriveOpenFailure, NamesTheDeviceAndWhatTheDriveAnswered)
{
  const auto drive = [](auto Setup) {
    auto transport = std::make_unique<test::TSimulatedDrive>(100);
    Setup(*transport);
    return TkxPhysicalCD(std::move(transport));
  };
  const TkxPhysicalCD notReady = drive([](test::TSimulatedDrive& d) { d.NotReady = true; });
  const TkxPhysicalCD unreadable = drive([](test::TSimulatedDrive& d) { d.Unreadable.insert(0); });
  const TkxPhysicalCD throwing = drive([](test::TSimulatedDrive& d) { d.Throws = true; });
  const TkxPhysicalCD absent(std::unique_ptr<TScsiDevice>{});
  const std::string device = DriveDevicePath('E');
  struct TCase {
    const TkxPhysicalCD& Drive;
    std::string_view Message;
    std::string Reason;
  };
  const TCase cases[] = {
      {notReady, "Drive unit is not ready", "no disc, or the drive is not ready"},
      {unreadable, "The disc in the drive could not be read.", "the disc could not be read"},
      {throwing, "Unknown CD/DVD error", "the drive does not answer as an optical drive"},
      {absent, MountErrorMessage, "cannot be opened"},
  };
  for (const TCase& c : cases) {
    const TkxOpenFailure why = DriveOpenFailure("e:", c.Drive);
    EXPECT_EQ(why.Message, c.Message) << c.Reason;
    EXPECT_EQ(why.Path, device) << c.Reason;
    EXPECT_EQ(why.Reason, c.Reason);
  }
  // The letter of a drive whose device could not be opened: the system's reason.
  const TkxPhysicalCD missing('Z');
  ASSERT_EQ(missing.Status, CDNoDevice);
  EXPECT_EQ(DriveOpenFailure("Z:", missing).Reason, std::strerror(missing.DeviceError));
  EXPECT_NE(missing.DeviceError, 0);
}

}  // namespace
}  // namespace kx
