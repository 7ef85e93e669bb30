// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kxImageCopy.h"

#include "common/kxShared.h"
#include "media/SimulatedDrive.h"
#include "media/kxPhysicalCD.h"
#include "support/kxTestMedia.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kx {
namespace {

using test::TScratchFolder;
using test::TSimulatedDrive;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr std::int64_t GiB = 1073741824;

// A disc whose sectors carry only their number in the first 8 bytes, cheap enough to copy a
// whole DVD in a test; it counts its reads.
class TStampedDisk final : public TkxDisk {
 public:
  explicit TStampedDisk(std::int64_t sectors) { SectorCount = sectors; }
  int Reads = 0;
  std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector, const TkxReadOptions&) override
  {
    ++Reads;
    for (std::int32_t i = 0; i < Count; ++i) {
      const std::int64_t stamp = FirstSector + i;
      std::memcpy(Buffer + i * 2048, &stamp, 8);
    }
    return Count * 2048;
  }
};

// Part files kept in memory as their size and their first 8 bytes, named as created.
struct TPartLog {
  struct TPart {
    std::string Name;
    std::int64_t Size = 0;
    std::int64_t FirstStamp = -1;
    int Writes = 0;
    bool Closed = false;
  };
  std::vector<TPart> Parts;
  int FailOnWrite = 0;  // the n-th write overall fails (1-based); 0: never
  int FailOnCreate = 0; // the n-th part cannot be created
  int Writes = 0;

  TkxPartCreator Creator()
  {
    return [this](const std::string& name) -> std::unique_ptr<TkxPartStream> {
      if (static_cast<int>(Parts.size()) + 1 == FailOnCreate) throw EkxIOError("cannot create " + name);
      Parts.push_back({name});
      return std::make_unique<TStream>(*this, Parts.size() - 1);
    };
  }
  std::vector<std::int64_t> Sizes() const
  {
    std::vector<std::int64_t> sizes;
    for (const auto& p : Parts) sizes.push_back(p.Size);
    return sizes;
  }

 private:
  struct TStream final : TkxPartStream {
    TStream(TPartLog& log, std::size_t index) : Log(log), Index(index) {}
    TPartLog& Log;
    std::size_t Index;
    void WriteBuffer(const void* Buffer, std::int64_t Count) override
    {
      if (++Log.Writes == Log.FailOnWrite) throw EkxIOError("Stream write error: disk full");
      auto& part = Log.Parts[Index];
      if (part.Size == 0) std::memcpy(&part.FirstStamp, Buffer, 8);
      part.Size += Count;
      ++part.Writes;
    }
    void Close() override { Log.Parts[Index].Closed = true; }
  };
};

struct TPartCase {
  std::int64_t Sectors;
  std::vector<std::int64_t> PartSizes;
};

void PrintTo(const TPartCase& c, std::ostream* os) { *os << c.Sectors << " sectors"; }

class ImagePartsTest : public ::testing::TestWithParam<TPartCase> {};

TEST_P(ImagePartsTest, PartsOf1GiBNamedLikeTheReaderExpects)
{
  const auto& c = GetParam();
  TStampedDisk disk(c.Sectors);
  TPartLog log;
  TkxImageCopyOptions options;
  options.CreatePart = log.Creator();
  const auto result = CopyDiskToImage(disk, "disk.iso", options);

  EXPECT_TRUE(result.Complete);
  EXPECT_EQ(result.Outcome.Reason, "");
  EXPECT_EQ(result.SectorsDone, c.Sectors);
  EXPECT_EQ(result.UnreadableSectors, 0);
  EXPECT_EQ(disk.Reads, (c.Sectors + 31) / 32);
  EXPECT_EQ(log.Sizes(), c.PartSizes);
  ASSERT_EQ(result.Parts, static_cast<int>(c.PartSizes.size()));
  for (std::size_t k = 0; k < log.Parts.size(); ++k) {
    EXPECT_EQ(log.Parts[k].Name, PartFileName("disk.iso", static_cast<int>(k + 1)));
    EXPECT_TRUE(log.Parts[k].Closed);
    if (log.Parts[k].Size > 0) {
      EXPECT_EQ(log.Parts[k].FirstStamp, static_cast<std::int64_t>(k) * 524288);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Discs, ImagePartsTest,
    ::testing::Values(TPartCase{359846, {736964608}},
                      // The part reaches 1 GiB with the last chunk: the next part is begun, empty.
                      TPartCase{524288, {GiB, 0}},
                      TPartCase{2295104, {GiB, GiB, GiB, GiB, 405405696}},
                      TPartCase{0, {0}}, TPartCase{1, {2048}}));

TEST(CopyDiskToImage, DriveCopyOnDiskWithUnreadableSectorAsZeros)
{
  TScratchFolder dir;
  auto owned = std::make_unique<TSimulatedDrive>(150);
  TSimulatedDrive* drive = owned.get();
  drive->Unreadable = {70};
  TkxPhysicalCD cd(std::move(owned));
  ASSERT_EQ(cd.Status, CDReady);
  ASSERT_EQ(cd.SectorCount, 150);
  const std::size_t opened = drive->Commands.size();

  std::vector<std::int64_t> progress;
  TkxImageCopyOptions options;
  options.PartSize = 64 * 2048;
  options.Progress = [&](std::int64_t done) { progress.push_back(done); };
  const std::string name = dir / "disk.iso";
  const auto result = CopyDiskToImage(cd, name, options);

  EXPECT_TRUE(result.Complete);
  EXPECT_EQ(result.SectorsDone, 150);
  EXPECT_EQ(result.UnreadableSectors, 1) << "only the bad sector, not its chunk";
  EXPECT_EQ(result.Parts, 3);
  EXPECT_THAT(progress, ElementsAre(32, 64, 96, 128, 150));
  const auto reads = drive->Reads(opened);
  EXPECT_EQ(std::count_if(reads.begin(), reads.end(), [](const auto& r) { return r.first <= 70 && r.first + r.second > 70; }), 2)
      << "the chunk and the sector itself fail, nothing else";

  std::vector<std::uint8_t> image;
  for (int k = 1; k <= 3; ++k) {
    std::ifstream in(PartFileName(name, k), std::ios::binary);
    image.insert(image.end(), std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(image.size(), std::min<std::size_t>(k * 64, 150) * 2048) << "part " << k;
  }
  ASSERT_EQ(image.size(), 150u * 2048);
  for (std::int64_t s = 0; s < 150; ++s) {
    const bool zeros = s == 70;
    for (std::size_t i : {0, 5, 8, 2047})
      ASSERT_EQ(image[s * 2048 + i], zeros ? 0 : TSimulatedDrive::SectorByte(s, i)) << "sector " << s;
  }
}

// A chunk with a bad area takes many commands, each of which a real drive may spend a minute on;
// a stop is honoured as soon as one returns, and the unfinished chunk is not written.
TEST(CopyDiskToImage, StopIsHonouredBetweenTheCommandsOfADamagedChunk)
{
  TScratchFolder dir;
  auto owned = std::make_unique<TSimulatedDrive>(200);
  TSimulatedDrive* drive = owned.get();
  for (std::int64_t s = 40; s < 60; ++s) drive->Unreadable.insert(s);
  TkxPhysicalCD cd(std::move(owned));
  const std::size_t opened = drive->Commands.size();
  TkxJobControl control;
  TkxImageCopyOptions options;
  options.Control = &control;
  // Pressed while the drive answers the third single sector of chunk 2, after chunk 1 and
  // chunk 2's request.
  drive->BeforeCommand = [&](std::size_t) {
    if (drive->Reads(opened).size() == 5) control.RequestStop();
  };
  const auto result = CopyDiskToImage(cd, dir / "disk.iso", options);
  EXPECT_TRUE(result.Outcome.IsStopped());
  EXPECT_FALSE(result.Complete);
  EXPECT_EQ(result.SectorsDone, 32);
  EXPECT_EQ(std::filesystem::file_size(dir / "disk.iso"), 32u * 2048);
  EXPECT_EQ(drive->Reads(opened).size(), 1u + 1u + 3u);
}

TEST(CopyDiskToImage, DiscChangedDuringTheCopyEndsItAndKeepsWhatWasCopied)
{
  TScratchFolder dir;
  auto owned = std::make_unique<TSimulatedDrive>(1000);
  TSimulatedDrive* drive = owned.get();
  TkxPhysicalCD cd(std::move(owned));
  ASSERT_EQ(cd.Status, CDReady);
  const std::size_t opened = drive->Commands.size();
  drive->BeforeCommand = [&](std::size_t index) {
    if (index == opened + 5) drive->ChangeDisc(1000);
  };
  const std::string name = dir / "disk.iso";
  const auto result = CopyDiskToImage(cd, name);

  EXPECT_FALSE(result.Complete);
  EXPECT_FALSE(result.Outcome.IsStopped());
  EXPECT_EQ(result.Outcome.Reason, MediumChangedMessage);
  EXPECT_EQ(result.SectorsDone, 5 * 32);
  EXPECT_EQ(result.UnreadableSectors, 0) << "the chunk that met the other disc is not written at all";
  std::ifstream in(name, std::ios::binary);
  const std::vector<std::uint8_t> image(std::istreambuf_iterator<char>(in), {});
  ASSERT_EQ(image.size(), 5u * 32 * 2048);
  for (std::int64_t s = 0; s < 5 * 32; ++s)
    ASSERT_EQ(image[s * 2048 + 1], TSimulatedDrive::SectorByte(s, 1)) << "sector " << s;
}

TEST(CopyDiskToImage, StopKeepsThePartsWritten)
{
  TScratchFolder dir;
  TStampedDisk disk(1000);
  TkxJobControl control;
  TkxImageCopyOptions options;
  options.PartSize = 64 * 2048;
  options.Control = &control;
  options.Progress = [&](std::int64_t Done) {
    if (Done == 96) control.RequestStop();
  };
  const std::string name = dir / "disk.iso";
  std::ofstream(PartFileName(name, 3)) << "left from an earlier image";
  const auto result = CopyDiskToImage(disk, name, options);

  EXPECT_TRUE(result.Outcome.IsStopped());
  EXPECT_FALSE(result.Complete);
  EXPECT_EQ(result.Outcome.Reason, "");
  EXPECT_EQ(result.SectorsDone, 96);
  EXPECT_EQ(disk.Reads, 3) << "the request is checked before every chunk";
  EXPECT_EQ(std::filesystem::file_size(name), 64u * 2048);
  EXPECT_EQ(std::filesystem::file_size(PartFileName(name, 2)), 32u * 2048);
  EXPECT_TRUE(std::filesystem::exists(PartFileName(name, 3))) << "only a complete copy tidies up";

  TStampedDisk other(100);
  TkxJobControl stopped;
  stopped.RequestStop();
  options.Control = &stopped;
  const auto none = CopyDiskToImage(other, dir / "none.iso", options);
  EXPECT_TRUE(none.Outcome.IsStopped());
  EXPECT_EQ(none.SectorsDone, 0);
  EXPECT_EQ(other.Reads, 0);
}

TEST(CopyDiskToImage, CompleteCopyRemovesLaterPartsOfAnEarlierImage)
{
  TScratchFolder dir;
  const std::string name = dir / "disk.iso";
  for (int k : {1, 2, 3, 4, 6}) std::ofstream(PartFileName(name, k)) << "old";
  TStampedDisk disk(100);
  TkxImageCopyOptions options;
  options.PartSize = 64 * 2048;
  const auto result = CopyDiskToImage(disk, name, options);

  ASSERT_TRUE(result.Complete) << result.Outcome.Reason;
  EXPECT_EQ(result.Parts, 2);
  EXPECT_EQ(std::filesystem::file_size(name), 64u * 2048);
  EXPECT_EQ(std::filesystem::file_size(PartFileName(name, 2)), 36u * 2048);
  EXPECT_FALSE(std::filesystem::exists(PartFileName(name, 3)));
  EXPECT_FALSE(std::filesystem::exists(PartFileName(name, 4)));
  // Past a gap the reader stops anyway; what lies there is not this image's business.
  EXPECT_TRUE(std::filesystem::exists(PartFileName(name, 6)));
}

TEST(CopyDiskToImage, OnlyFilesNamedLikeLaterPartsAreRemoved)
{
  // The reader never takes a folder for a part, and stops its series there.
  TScratchFolder dir;
  const std::string name = dir / "disk.iso";
  for (const bool empty : {true, false}) {
    std::filesystem::create_directory(PartFileName(name, 3));
    if (!empty) std::ofstream(PartFileName(name, 3) + "/keep.txt") << "mine";
    std::ofstream(PartFileName(name, 4)) << "after the folder";
    const std::string elsewhere = dir / "elsewhere.iso";
    std::ofstream(elsewhere) << "not part of any image";
    std::filesystem::create_symlink(elsewhere, PartFileName(name, 2));

    TStampedDisk disk(10);
    const auto result = CopyDiskToImage(disk, name);
    ASSERT_TRUE(result.Complete) << result.Outcome.Reason;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(PartFileName(name, 2))));
    EXPECT_TRUE(std::filesystem::exists(elsewhere)) << "a link goes, not what it points to";
    EXPECT_TRUE(std::filesystem::is_directory(PartFileName(name, 3))) << empty;
    EXPECT_TRUE(std::filesystem::exists(PartFileName(name, 4))) << empty;
    std::filesystem::remove_all(PartFileName(name, 3));
  }
}

TEST(CopyDiskToImage, FailedWriteEndsTheCopyAndIsReported)
{
  TStampedDisk disk(1000);
  TPartLog log;
  log.FailOnWrite = 3;
  TkxImageCopyOptions options;
  options.CreatePart = log.Creator();
  const auto result = CopyDiskToImage(disk, "disk.iso", options);

  EXPECT_FALSE(result.Complete);
  EXPECT_FALSE(result.Outcome.IsStopped());
  EXPECT_THAT(result.Outcome.Reason, HasSubstr("disk full"));
  EXPECT_EQ(result.SectorsDone, 64);
  EXPECT_EQ(disk.Reads, 3) << "nothing is read after the failed write";
  ASSERT_EQ(log.Parts.size(), 1u);
  EXPECT_EQ(log.Parts[0].Size, 64 * 2048);
  EXPECT_TRUE(log.Parts[0].Closed) << "what was written is kept";
}

TEST(CopyDiskToImage, NextPartThatCannotBeCreatedEndsTheCopy)
{
  TStampedDisk disk(1000);
  TPartLog log;
  log.FailOnCreate = 2;
  TkxImageCopyOptions options;
  options.PartSize = 64 * 2048;
  options.CreatePart = log.Creator();
  const auto result = CopyDiskToImage(disk, "disk.iso", options);

  EXPECT_FALSE(result.Complete);
  EXPECT_THAT(result.Outcome.Reason, HasSubstr("disk.iso02"));
  EXPECT_EQ(result.SectorsDone, 64);
  EXPECT_EQ(result.Parts, 1);
  EXPECT_EQ(disk.Reads, 2);
}

TEST(CopyDiskToImage, FullDeviceAndMissingFolderAreErrors)
{
  TStampedDisk disk(100);
  if (std::filesystem::exists("/dev/full")) {
    const auto full = CopyDiskToImage(disk, "/dev/full");
    EXPECT_FALSE(full.Complete);
    EXPECT_NE(full.Outcome.Reason, "");
    EXPECT_LT(full.SectorsDone, 100);
  }
  TScratchFolder dir;
  const auto missing = CopyDiskToImage(disk, dir / "no/such/folder/disk.iso");
  EXPECT_FALSE(missing.Complete);
  EXPECT_THAT(missing.Outcome.Reason, HasSubstr("no/such/folder/disk.iso"));
  EXPECT_EQ(missing.SectorsDone, 0);
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

TEST(ImageCopyTexts, SourceLineAndProgressLine)
{
  EXPECT_EQ(ImageCopySourceText('D', "/home/me/disk.iso"), "Source: 'D:', target: '/home/me/disk.iso'");
  EXPECT_EQ(ImageCopyProgressText(1216, 359846, 2048), "1216/359846 sectors (702 MB)");
  EXPECT_EQ(ImageCopyProgressText(0, 0, 2048), "0/0 sectors (0 MB)");
}

TEST(CopyDiskToImage, PausedCopyWaitsBetweenChunksAndAStopWhilePausedCopiesNoMore)
{
  TScratchFolder dir;
  TStampedDisk disk(1000);
  TkxJobControl control(true);
  TkxImageCopyOptions options;
  options.Control = &control;
  TkxImageCopyResult result;
  std::thread worker([&] { result = CopyDiskToImage(disk, dir / "disk.iso", options); });
  control.RequestStop();
  worker.join();
  EXPECT_TRUE(result.Outcome.IsStopped());
  EXPECT_EQ(result.SectorsDone, 0);
  EXPECT_EQ(disk.Reads, 0) << "a paused copy holds before its first chunk";
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// The source line ends as it always did; the count of unreadable sectors goes to the progress
// line, which has the room for it, in place of the final figures.
TEST(ImageCopyEndText, CompleteOrFailedAndTheUnreadableCountOnTheProgressLine)
{
  TkxImageCopyResult r;
  r.Complete = true;
  r.SectorsDone = 359846;
  EXPECT_EQ(ImageCopyEndText(r), " - Complete");
  EXPECT_EQ(ImageCopyEndFigures(r, 359846, 2048), "359846/359846 sectors (702 MB)");
  r.UnreadableSectors = 1;
  EXPECT_EQ(ImageCopyEndText(r), " - Complete");
  EXPECT_EQ(ImageCopyEndFigures(r, 359846, 2048), "1 unreadable sector was written as zeros.");
  r.UnreadableSectors = 96;
  EXPECT_EQ(ImageCopyEndFigures(r, 359846, 2048), "96 unreadable sectors were written as zeros.");
  TkxImageCopyResult failed;
  failed.Outcome = TkxJobOutcome::Failed("No space left on device");
  failed.UnreadableSectors = 5;
  EXPECT_EQ(ImageCopyEndText(failed), " - Failed");
  TkxImageCopyResult stopped;
  stopped.Outcome = TkxJobOutcome::Stopped();
  EXPECT_EQ(ImageCopyEndText(stopped), " - Complete");
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// One resolver for the window and the command line: the name with ".iso" when it has none, a
// folder refused before any drive is opened, and a file that only the added ".iso" named left
// for the caller to ask about.
TEST(ResolveImageTarget, AddsTheExtensionRefusesFoldersAndFlagsWhatTheExtensionNamed)
{
  TScratchFolder dir;
  std::ofstream(dir / "taken.iso") << "x";
  std::ofstream(dir / "chosen.img") << "x";
  std::filesystem::create_directories(dir / "folder");
  std::filesystem::create_directories(dir / "hidden.iso");
  struct TCase {
    std::string Typed;
    std::string FileName;
    bool Refused;
    bool AskReplace;
  };
  const TCase cases[] = {
      {dir / "new", dir / "new.iso", false, false},
      {dir / "taken", dir / "taken.iso", false, true},
      {dir / "taken.iso", dir / "taken.iso", false, false},  // the save dialog asked about it
      {dir / "chosen.img", dir / "chosen.img", false, false},
      {dir / "folder", "", true, false},
      {dir / "folder/", "", true, false},
      {dir / "hidden", "", true, false},
  };
  for (const TCase& c : cases) {
    const TkxImageTarget target = ResolveImageTarget(c.Typed);
    if (!c.Refused) {
      EXPECT_EQ(target.FileName, c.FileName) << c.Typed;
    }
    EXPECT_EQ(!target.Error.empty(), c.Refused) << c.Typed;
    EXPECT_EQ(target.AskReplace, c.AskReplace) << c.Typed;
  }
  EXPECT_EQ(ResolveImageTarget(dir / "folder").Error,
            "\"" + dir / "folder" + "\" names a folder, not an image file; give a file name, such as \"" +
                dir / "folder/disc.iso" + "\".");
  EXPECT_EQ(ResolveImageTarget("").Error, "No image file name was given.");
}

// The drive is the job's until the copy no longer needs it.
class TCountedDisk final : public TkxDisk {
 public:
  TCountedDisk(std::int64_t Sectors, bool& Released_) : Released(Released_) { SectorCount = Sectors; }
  ~TCountedDisk() override { Released = true; }
  std::int32_t DoReadSectors(std::uint8_t*, std::int32_t Count, std::int64_t, const TkxReadOptions&) override { return Count * 2048; }

 private:
  bool& Released;
};

TEST(TkxCopyJob, RunCopiesAndReleasesTheDriveOnce)
{
  bool released = false;
  TkxCopyJob job(std::make_unique<TCountedDisk>(100, released), "disk.iso");
  TPartLog log;
  job.CreatePart = log.Creator();
  EXPECT_EQ(job.SectorCount, 100);
  EXPECT_EQ(job.SectorSize, 2048);
  std::vector<std::int64_t> progress;
  TkxJobControl control;
  const TkxImageCopyResult result = job.Run(control, [&](std::int64_t Done) { progress.push_back(Done); });
  EXPECT_TRUE(released);
  EXPECT_TRUE(result.Complete);
  EXPECT_TRUE(result.Outcome.IsCompleted());
  EXPECT_EQ(result.SectorsDone, 100);
  EXPECT_THAT(progress, ElementsAre(32, 64, 96, 100));
  EXPECT_THAT(log.Sizes(), ElementsAre(100 * 2048));
  EXPECT_TRUE(job.Run(control).Outcome.IsFailed()) << "the drive is gone";
}

}  // namespace
}  // namespace kx
