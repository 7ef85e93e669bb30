// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kxRescue.h"

#include "media/SimulatedDrive.h"
#include "support/kxTestMedia.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

namespace kx {
namespace {

using test::TScratchFolder;
using test::TSimulatedDrive;
using ::testing::HasSubstr;

// A clock that the simulated drive moves: every command takes 10 ms, a failing one 3 s.
struct TDriveClock {
  std::atomic<std::int64_t> Ms{1000000};
  std::chrono::steady_clock::time_point Now() const
  {
    return std::chrono::steady_clock::time_point(std::chrono::milliseconds(Ms.load()));
  }
};

// A drive with the disc of the measurement in small: 2000 sectors, bad 100-109, 1000-1099, 1800.
struct TDamagedDrive {
  explicit TDamagedDrive(TDriveClock* Clock = nullptr, int Disc = 0)
  {
    auto owned = std::make_unique<TSimulatedDrive>(2000);
    Sim = owned.get();
    Sim->Disc = Disc;
    Sim->ReportsCapacity = true;
    for (std::int64_t s : {100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 1800}) Sim->Unreadable.insert(s);
    for (std::int64_t s = 1000; s < 1100; ++s) Sim->Unreadable.insert(s);
    if (Clock) {
      Sim->BeforeCommand = [this, Clock](std::size_t Index) {
        const auto& cdb = Sim->Commands[Index].Cdb;
        bool failing = false;
        if (!cdb.empty() && cdb[0] == 0xBE) {
          const auto [lba, count] = TSimulatedDrive::DecodeRead(cdb);
          const auto bad = Sim->Unreadable.lower_bound(lba);
          failing = bad != Sim->Unreadable.end() && *bad < lba + count;
        }
        Clock->Ms += failing ? 3000 : 10;
      };
    }
    Drive = std::make_unique<TkxPhysicalCD>(std::move(owned));
  }
  TSimulatedDrive* Sim;
  std::unique_ptr<TkxPhysicalCD> Drive;
};

TkxRescueOptions OptionsWith(TDriveClock& Clock, TkxRescueSettings Settings = {})
{
  TkxRescueOptions options;
  options.Settings = Settings;
  options.Now = [&Clock] { return Clock.Now(); };
  return options;
}

// The image expected of the damaged disc: its sectors, with the bad ones zeros.
void ExpectImageOfDamagedDisc(const std::string& Image, const std::set<std::int64_t>& Bad, int Disc = 0)
{
  const std::string bytes = test::ReadFileText(Image);
  ASSERT_EQ(bytes.size(), 2000u * 2048);
  for (std::int64_t s = 0; s < 2000; ++s) {
    for (std::size_t i : {0, 8, 2047}) {
      const auto expected = Bad.count(s) ? 0 : TSimulatedDrive::SectorByte(s, i, Disc);
      ASSERT_EQ(static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(s) * 2048 + i]), expected) << "sector " << s;
    }
  }
}

std::set<std::int64_t> Unfinished(const TkxSectorMap& Map)
{
  std::set<std::int64_t> out;
  for (std::int64_t s = 0; s < Map.Sectors(); ++s)
    if (Map.At(s) != TkxSectorState::Finished) out.insert(s);
  return out;
}

TEST(TkxRescueJob, RescuesEveryReadableSectorIntoOneImageWithItsMap)
{
  TScratchFolder dir;
  TDriveClock clock;
  TDamagedDrive disc(&clock);
  const auto bad = disc.Sim->Unreadable;
  const std::string image = dir / "disc.iso";
  EXPECT_FALSE(TkxRescueJob::MapExists(image));
  TkxRescueJob job(std::move(disc.Drive), image, OptionsWith(clock));
  ASSERT_TRUE(job.Prepare().IsCompleted());
  EXPECT_FALSE(job.Resumed());
  EXPECT_TRUE(TkxRescueJob::MapExists(image)) << "a map from the first moment";

  TkxJobControl control;
  const TkxRescueResult outcome = job.Run(control);
  EXPECT_FALSE(outcome.Outcome.IsStopped());
  EXPECT_FALSE(outcome.Complete);
  EXPECT_EQ(outcome.Outcome.Reason, "");
  ExpectImageOfDamagedDisc(image, bad);

  const TkxRescueMap map = LoadRescueMap(image + ".map");
  EXPECT_EQ(map.Phase, TkxRescuePhase::Finished);
  EXPECT_EQ(Unfinished(map.Sectors), bad);
  ASSERT_TRUE(map.Disc);
  EXPECT_EQ(map.Disc->Sectors, 2000);
  EXPECT_EQ(map.Disc->Toc, IdentityHash(disc.Sim->TocBytes()));

  const TkxRescueFigures f = job.Figures();
  EXPECT_EQ(f.Phase, TkxRescuePhase::Finished);
  EXPECT_EQ(f.Finished, 2000 - 111);
  EXPECT_EQ(f.Areas, 3);
  EXPECT_EQ(f.DamagedAreas, 3);
  EXPECT_EQ(f.NonTrimmedAreas, 0);
  EXPECT_GT(f.FailingReads, 0);
  EXPECT_DOUBLE_EQ(f.SecondsPerFailingRead, 3.0);
  EXPECT_EQ(RescueSummaryText(f), "3.7 of 3.9 MiB rescued; 111 unreadable sectors in 3 areas (" +
                                      std::to_string(f.Bad) + " bad, " + std::to_string(f.NonScraped) +
                                      " not scraped); " + std::to_string(f.FailingReads) + " failing reads");
  EXPECT_EQ(f.Bad + f.NonScraped, 111);

  // Part way: what is left may still read, and a run that read nothing has no count.
  TkxRescueFigures partWay = f;
  partWay.Phase = TkxRescuePhase::Trim;
  partWay.NonTrimmed = 96;
  partWay.Finished -= 96;
  partWay.Reads = 0;
  EXPECT_EQ(RescueSummaryText(partWay), "3.5 of 3.9 MiB rescued; 207 sectors not read in 3 areas (" +
                                            std::to_string(f.Bad) + " bad, " + std::to_string(f.NonScraped) +
                                            " not scraped, 96 not trimmed)");
  partWay.Finished = partWay.Sectors;
  partWay.Bad = partWay.NonScraped = partWay.NonTrimmed = 0;
  partWay.Reads = 1;
  partWay.FailingReads = 1;
  EXPECT_EQ(RescueSummaryText(partWay), "3.9 of 3.9 MiB rescued, every sector read; 1 failing read");
}

TEST(TkxRescueJob, DriveRetriesAreLoweredForTheRescueAndGivenBackForRetryPasses)
{
  TScratchFolder dir;
  TDriveClock clock;
  TDamagedDrive disc(&clock);
  disc.Sim->ErrorRecoveryPage = {0x01, 0x0A, 0x00, 0x20, 0, 0, 0, 0, 0x20, 0, 0, 0};
  TSimulatedDrive* sim = disc.Sim;
  // The drive's retry count at every read of a single sector, by the phase the map shows then.
  std::vector<int> countsAtSingleReads;
  const auto clockHook = sim->BeforeCommand;
  sim->BeforeCommand = [&](std::size_t Index) {
    clockHook(Index);
    const auto& cdb = sim->Commands[Index].Cdb;
    if (cdb[0] == 0xBE && TSimulatedDrive::DecodeRead(cdb).second == 1) countsAtSingleReads.push_back(sim->ErrorRecoveryPage[3]);
  };
  TkxRescueJob job(std::move(disc.Drive), dir / "disc.iso", OptionsWith(clock, {false, 1}));
  ASSERT_TRUE(job.Prepare().IsCompleted());
  countsAtSingleReads.clear();  // the volume descriptors, read while preparing
  TkxJobControl control;
  bool loweredDuringRun = false;
  job.Run(control, [&](const TkxRescueFigures&) { loweredDuringRun = loweredDuringRun || job.RetriesLowered(); });
  EXPECT_TRUE(loweredDuringRun);
  ASSERT_EQ(sim->PagesSelected.size(), 2u);
  EXPECT_EQ(sim->PagesSelected[0][3], TkxRescueJob::LoweredReadRetries);
  EXPECT_EQ(sim->PagesSelected[1][3], 0x20) << "given back";
  // Trimming reads single sectors with one retry; the retry pass with the drive's 32.
  ASSERT_FALSE(countsAtSingleReads.empty());
  EXPECT_EQ(countsAtSingleReads.front(), 1);
  EXPECT_EQ(countsAtSingleReads.back(), 0x20);

  // A drive whose count cannot be changed is read as it is.
  TDamagedDrive fixed(&clock);
  fixed.Sim->ErrorRecoveryPage = {0x01, 0x0A, 0x00, 0x20, 0, 0, 0, 0, 0x20, 0, 0, 0};
  fixed.Sim->RetriesFixed = true;
  TSimulatedDrive* fixedSim = fixed.Sim;
  TkxRescueJob plain(std::move(fixed.Drive), dir / "other.iso", OptionsWith(clock));
  ASSERT_TRUE(plain.Prepare().IsCompleted());
  EXPECT_FALSE(plain.Run(control).Outcome.IsStopped());
  EXPECT_TRUE(fixedSim->PagesSelected.empty());
  EXPECT_FALSE(plain.RetriesLowered());
}

// Stopped part way, the map is saved; a second run with the map goes on without reading a
// finished sector again and ends with the same image.
TEST(TkxRescueJob, StoppedAndResumedNeverReadsAFinishedSectorAgain)
{
  TScratchFolder dir;
  const std::string image = dir / "disc.iso";
  for (const int stopAfter : {5, 70, 90}) {
    std::filesystem::remove(image);
    std::filesystem::remove(image + ".map");
    TDriveClock clock;
    TDamagedDrive first(&clock);
    const auto bad = first.Sim->Unreadable;
    TkxJobControl control;
    {
      TkxRescueJob job(std::move(first.Drive), image, OptionsWith(clock));
      ASSERT_TRUE(job.Prepare().IsCompleted());
      int steps = 0;
      const TkxRescueResult outcome = job.Run(control, [&](const TkxRescueFigures&) {
        if (++steps == stopAfter) control.RequestStop();
      });
      EXPECT_TRUE(outcome.Outcome.IsStopped()) << stopAfter;
    }
    const TkxRescueMap saved = LoadRescueMap(image + ".map");
    EXPECT_NE(saved.Phase, TkxRescuePhase::Finished) << stopAfter;

    TDamagedDrive second(&clock);
    TSimulatedDrive* sim = second.Sim;
    TkxRescueJob again(std::move(second.Drive), image, OptionsWith(clock));
    ASSERT_TRUE(again.Prepare().IsCompleted()) << stopAfter;
    EXPECT_TRUE(again.Resumed());
    const std::size_t opened = sim->Commands.size();
    TkxJobControl goOn;
    EXPECT_FALSE(again.Run(goOn).Outcome.IsStopped());
    for (const auto& [lba, count] : sim->Reads(opened))
      for (std::int64_t s = lba; s < lba + count; ++s)
        ASSERT_NE(saved.Sectors.At(s), TkxSectorState::Finished) << "sector " << s << " read again, stop after " << stopAfter;
    ExpectImageOfDamagedDisc(image, bad);
    EXPECT_EQ(Unfinished(LoadRescueMap(image + ".map").Sectors), bad);
  }
}

TEST(TkxRescueJob, RefusesAnotherDiscAndAnImageWithoutItsMap)
{
  TScratchFolder dir;
  TDriveClock clock;
  const std::string image = dir / "disc.iso";
  {
    TDamagedDrive disc(&clock);
    TkxRescueJob job(std::move(disc.Drive), image, OptionsWith(clock));
    ASSERT_TRUE(job.Prepare().IsCompleted());
  }
  EXPECT_EQ(TkxRescueJob::TargetProblem(image), "") << "an image with its map goes on";
  // The same size, another TOC.
  TDamagedDrive other(&clock, 1);
  TkxRescueJob wrong(std::move(other.Drive), image, OptionsWith(clock));
  EXPECT_THAT(wrong.Prepare().Reason, HasSubstr("belongs to another disc: the table of contents"));

  // Another size.
  auto small = std::make_unique<TSimulatedDrive>(500);
  small->ReportsCapacity = true;
  TkxRescueJob smaller(std::make_unique<TkxPhysicalCD>(std::move(small)), image, OptionsWith(clock));
  EXPECT_THAT(smaller.Prepare().Reason, HasSubstr("the map describes a disc of 2000 sectors; this disc has 500"));

  // The image went missing; a map that is no map; an image without a map.
  std::filesystem::rename(image, image + ".moved");
  TDamagedDrive same(&clock);
  TkxRescueJob missing(std::move(same.Drive), image, OptionsWith(clock));
  EXPECT_THAT(missing.Prepare().Reason, HasSubstr("is missing"));
  std::filesystem::rename(image + ".moved", image);
  test::WriteFileText(image + ".map", "0 + 1\n0 4096 x\n");
  TDamagedDrive again(&clock);
  TkxRescueJob broken(std::move(again.Drive), image, OptionsWith(clock));
  EXPECT_THAT(broken.Prepare().Reason, HasSubstr("cannot be used (line 2)"));
  std::filesystem::remove(image + ".map");
  TDamagedDrive fresh(&clock);
  TkxRescueJob noMap(std::move(fresh.Drive), image, OptionsWith(clock));
  EXPECT_THAT(noMap.Prepare().Reason, HasSubstr("exists and has no map beside it"));
  EXPECT_EQ(TkxRescueJob::TargetProblem(image), noMap.Prepare().Reason) << "known before the drive is touched";
  EXPECT_EQ(TkxRescueJob::TargetProblem(dir / "new.iso"), "");

  // A drive that is not ready.
  auto empty = std::make_unique<TSimulatedDrive>(100);
  empty->NotReady = true;
  TkxRescueJob none(std::make_unique<TkxPhysicalCD>(std::move(empty)), dir / "x.iso", OptionsWith(clock));
  EXPECT_EQ(none.Prepare().Reason, "Drive unit is not ready");
}

TEST(TkxRescueJob, ChangedDiscEndsTheRescueAndKeepsTheMap)
{
  TScratchFolder dir;
  TDriveClock clock;
  TDamagedDrive disc(&clock);
  TSimulatedDrive* sim = disc.Sim;
  const auto clockHook = sim->BeforeCommand;
  std::size_t reads = 0;
  sim->BeforeCommand = [&](std::size_t Index) {
    clockHook(Index);
    if (sim->Commands[Index].Cdb[0] == 0xBE && ++reads == 20) sim->ChangeDisc(2000);
  };
  const std::string image = dir / "disc.iso";
  TkxRescueJob job(std::move(disc.Drive), image, OptionsWith(clock));
  ASSERT_TRUE(job.Prepare().IsCompleted());
  TkxJobControl control;
  const TkxRescueResult outcome = job.Run(control);
  EXPECT_EQ(outcome.Outcome.Reason, MediumChangedMessage);
  const TkxRescueMap map = LoadRescueMap(image + ".map");
  EXPECT_GT(map.Sectors.Count(TkxSectorState::Finished), 0);
  EXPECT_LT(map.Sectors.Count(TkxSectorState::Finished), 2000 - 111);
}

// The map on disk is never older than the save interval while the rescue runs.
TEST(TkxRescueJob, MapIsSavedAtLeastEveryFiveSeconds)
{
  TScratchFolder dir;
  TDriveClock clock;
  TDamagedDrive disc(&clock);
  const std::string image = dir / "disc.iso";
  TkxRescueJob job(std::move(disc.Drive), image, OptionsWith(clock));
  ASSERT_TRUE(job.Prepare().IsCompleted());
  std::string last = test::ReadFileText(image + ".map");
  std::int64_t lastChange = clock.Ms;
  std::int64_t longest = 0;
  int saves = 0;
  TkxJobControl control;
  job.Run(control, [&](const TkxRescueFigures&) {
    const std::string now = test::ReadFileText(image + ".map");
    if (now != last) {
      last = now;
      ++saves;
      lastChange = clock.Ms;
    }
    longest = std::max(longest, clock.Ms - lastChange);
  });
  EXPECT_GT(saves, 3);
  // At most one failing read (3 s) beyond the interval passes before the save after it.
  EXPECT_LT(longest, 5000 + 3000);
}

// At 1024 sectors a second and 2 s per failing read: the low bound reads every sector still to
// be read at the rate, the high one adds the failing reads each phase to come may meet.
TEST(EstimateTimeLeft, GoodDataAtTheRatePlusTheFailingReadsEachPhaseWillNeed)
{
  struct TCase {
    const char* What;
    TkxRescuePhase Phase;
    std::int64_t NonTried, NonTrimmed, NonTrimmedAreas, NonScraped, Bad, DamagedAreas;
    TkxRescueSettings Settings;
    double Low, High;
  };
  const TCase cases[] = {
      {"trimming: a failing read at each edge of each area", TkxRescuePhase::Trim, 0, 1024, 4, 0, 0, 4, {}, 1, 1 + 8 * 2},
      {"with scraping every non-trimmed sector may fail once", TkxRescuePhase::Trim, 0, 1024, 4, 0, 0, 4, {true, 0}, 1,
       1 + 1024 * 2},
      {"scraping: each non-scraped sector", TkxRescuePhase::Scrape, 0, 0, 0, 512, 10, 2, {true, 0}, 0.5, 0.5 + 512 * 2},
      {"without scraping non-scraped sectors are left alone", TkxRescuePhase::Trim, 0, 0, 0, 512, 10, 2, {}, 0, 0},
      {"untried sectors, half as many as the tried ones: half their damage, a failing request in and one back, "
       "then trimmed",
       TkxRescuePhase::Copy, 1024, 0, 0, 0, 64, 2, {}, 1, 1 + (2 + 2) * 2},
      {"retry passes: the bad sectors and those trimming will find", TkxRescuePhase::Trim, 0, 1024, 4, 0, 6, 5, {false, 2},
       1, 1 + (8 + 2 * (6 + 8)) * 2},
      {"a pass under way: the bad sectors ahead in it, then each once per pass to come", TkxRescuePhase::Retry, 0, 0, 0,
       0, 4, 4, {false, 3}, 0, (1 + 4) * 2},
  };
  for (const TCase& c : cases) {
    TkxRescueFigures f;
    f.Phase = c.Phase;
    f.Pass = c.Phase == TkxRescuePhase::Retry ? 2 : 1;
    f.BadAheadInPass = c.Phase == TkxRescuePhase::Retry ? 1 : 0;
    f.NonTried = c.NonTried;
    f.NonTrimmed = c.NonTrimmed;
    f.NonTrimmedAreas = c.NonTrimmedAreas;
    f.NonScraped = c.NonScraped;
    f.Bad = c.Bad;
    f.DamagedAreas = c.DamagedAreas;
    // 2048 sectors tried.
    f.Finished = 2048 - (f.NonTrimmed + f.NonScraped + f.Bad);
    f.Sectors = 2048 + f.NonTried;
    f.SecondsPerFailingRead = 2;
    EstimateTimeLeft(f, 1024 * 2048, c.Settings);
    EXPECT_TRUE(f.EstimateKnown) << c.What;
    EXPECT_FALSE(f.EstimateOpen) << c.What;
    EXPECT_DOUBLE_EQ(f.EstimateLow, c.Low) << c.What;
    EXPECT_DOUBLE_EQ(f.EstimateHigh, c.High) << c.What;

    // Failing reads to come whose time is not known yet leave the range open; no rate, no estimate.
    f.SecondsPerFailingRead = 0;
    EstimateTimeLeft(f, 1024 * 2048, c.Settings);
    EXPECT_EQ(f.EstimateOpen, c.High > c.Low) << c.What;
    EstimateTimeLeft(f, 0, c.Settings);
    EXPECT_FALSE(f.EstimateKnown) << c.What;
  }
  EXPECT_EQ(RescuePhaseText(TkxRescuePhase::Retry, 2, 3), "Retrying, pass 2 of 3");
}

// From every moment of a rescue of the damaged disc after each sector was tried once, the range
// holds the time it then really took (on the drive's clock: 10 ms a command, 3 s a failing one).
// Before, damage not met yet cannot be foreseen: the untried sectors are only taken to be as
// damaged as the tried ones.
TEST(EstimateTimeLeft, TheRangeHoldsTheTimeTheRescueTook)
{
  for (const TkxRescueSettings settings : {TkxRescueSettings{}, TkxRescueSettings{true, 1}}) {
    TScratchFolder dir;
    TDriveClock clock;
    TDamagedDrive disc(&clock);
    TkxRescueJob job(std::move(disc.Drive), dir / "disc.iso", OptionsWith(clock, settings));
    ASSERT_TRUE(job.Prepare().IsCompleted());
    std::vector<std::pair<TkxRescueFigures, std::int64_t>> moments;
    TkxJobControl control;
    job.Run(control, [&](const TkxRescueFigures& f) { moments.emplace_back(f, clock.Ms.load()); });
    const std::int64_t end = clock.Ms;
    int estimated = 0;
    for (const auto& [f, at] : moments) {
      if (!f.EstimateKnown || f.EstimateOpen || f.Phase == TkxRescuePhase::Finished || f.NonTried > 0) continue;
      ++estimated;
      const double left = static_cast<double>(end - at) / 1000;
      EXPECT_LE(left, f.EstimateHigh + 0.5) << RescuePhaseText(f.Phase, f.Pass, f.Passes) << ", " << f.Unread() << " unread";
      EXPECT_GE(left + 0.5, f.EstimateLow) << RescuePhaseText(f.Phase, f.Pass, f.Passes) << ", " << f.Unread() << " unread";
    }
    EXPECT_GT(estimated, 10);
  }
}

TEST(RescueFigureTexts, CountersAndTheEstimateAsBounds)
{
  TkxRescueFigures f;
  f.Sectors = 10000;
  f.Finished = 5000;
  f.NonTried = 4000;
  f.NonTrimmed = 900;
  f.NonScraped = 100;
  TkxRescueFigureTexts t = RescueFigureTexts(f);
  EXPECT_EQ(t.Phase, "Copying");
  EXPECT_EQ(t.Rescued, "9.8 of 19.5 MiB");
  EXPECT_EQ(t.Unreadable, "1000") << "every sector of a failed read not read since; the untried ones are not known";
  EXPECT_EQ(t.FailingReads, "0");
  EXPECT_EQ(t.PerFailingRead, "-");
  EXPECT_EQ(t.SinceGoodRead, "-") << "before the run has begun";
  EXPECT_EQ(t.TimeLeft, "unknown");

  f.Seconds = 30;
  f.SecondsSinceGoodRead = 125;
  f.FailingReads = 7;
  f.SecondsPerFailingRead = 4.25;
  f.EstimateKnown = true;
  f.EstimateLow = 100;
  f.EstimateHigh = 525;
  t = RescueFigureTexts(f);
  EXPECT_EQ(t.FailingReads, "7");
  EXPECT_EQ(t.PerFailingRead, "4.2 s");
  EXPECT_EQ(t.SinceGoodRead, "2:05");
  EXPECT_EQ(t.TimeLeft, "1:40 to 8:45");
  f.SecondsPerFailingRead = 75;
  f.EstimateHigh = 100.2;
  t = RescueFigureTexts(f);
  EXPECT_EQ(t.PerFailingRead, "1:15");
  EXPECT_EQ(t.TimeLeft, "1:40") << "bounds that read alike are one";
  f.EstimateOpen = true;
  EXPECT_EQ(RescueFigureTexts(f).TimeLeft, "1:40 or more");
  f.Phase = TkxRescuePhase::Finished;
  EXPECT_EQ(RescueFigureTexts(f).TimeLeft, "0 s");
  EXPECT_EQ(RescueFigureTexts(f).Phase, "Finished");
}

// The window reads the figures and the map from its own thread while the worker runs.
TEST(TkxRescueJob, FiguresAndCellsFromAnotherThreadWhileItRuns)
{
  TScratchFolder dir;
  TDamagedDrive disc;
  TkxRescueJob job(std::move(disc.Drive), dir / "disc.iso");
  ASSERT_TRUE(job.Prepare().IsCompleted());
  TkxJobControl control;
  // The worker and this thread take turns: a step, then a look at the figures, so that the
  // rescue is certainly still running when it is told to stop.
  std::mutex lock;
  std::condition_variable turn;
  int steps = 0;
  int allowed = 0;
  TkxRescueResult outcome;
  std::thread worker([&] {
    outcome = job.Run(control, [&](const TkxRescueFigures&) {
      std::unique_lock guard(lock);
      ++steps;
      turn.notify_all();
      turn.wait(guard, [&] { return allowed >= steps; });
    });
  });
  std::int64_t seen = 0;
  for (int round = 1; round <= 20; ++round) {
    {
      std::unique_lock guard(lock);
      turn.wait(guard, [&] { return steps >= round; });
    }
    const TkxRescueFigures f = job.Figures();
    EXPECT_EQ(f.Reads, round);
    EXPECT_GE(f.Reads, seen) << "figures only grow";
    seen = f.Reads;
    EXPECT_EQ(job.Cells(64).size(), 64u);
    const std::lock_guard guard(lock);
    if (round == 20) {
      control.RequestStop();
      allowed = 1 << 30;
    } else {
      allowed = round;
    }
    turn.notify_all();
  }
  worker.join();
  EXPECT_TRUE(outcome.Outcome.IsStopped());
  EXPECT_GE(job.Figures().Reads, 20);
}

}  // namespace
}  // namespace kx
