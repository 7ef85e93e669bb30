// SPDX-License-Identifier: GPL-3.0-or-later
// The rescue of a damaged disc: every readable sector into one image file with the fewest failing
// reads, in the phases of TkxRescuePlan, with a map beside the image (IMAGE.map, GNU ddrescue's
// format) that lets a later run go on where this one stopped. A job that a worker runs: the window
// and the command line only start it, show its figures and stop it.
#pragma once

#include "common/kxJob.h"
#include "common/kxJobControl.h"
#include "media/kxDisk.h"
#include "media/kxPhysicalCD.h"
#include "media/kxReadPlan.h"
#include "media/kxRescueMap.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kx {

using TkxClock = std::function<std::chrono::steady_clock::time_point()>;

struct TkxRescueOptions {
  TkxRescueSettings Settings;
  // The map is saved at least this often while the rescue runs, and whenever it ends.
  std::chrono::milliseconds SaveInterval{5000};
  // The clock of the figures and of the saving; tests bring their own.
  TkxClock Now = [] { return std::chrono::steady_clock::now(); };
};

// What a person watching a rescue sees at one moment.
struct TkxRescueFigures {
  TkxRescuePhase Phase = TkxRescuePhase::Copy;
  int Pass = 1;    // of the retry passes
  int Passes = 0;  // retry passes asked for
  std::int64_t Sectors = 0;
  std::int64_t Position = 0;
  std::int64_t Finished = 0;
  std::int64_t NonTried = 0;
  std::int64_t NonTrimmed = 0;
  std::int64_t NonScraped = 0;
  std::int64_t Bad = 0;
  std::int64_t Areas = 0;         // areas of sectors not read
  std::int64_t NonTrimmedAreas = 0;  // runs of non-trimmed sectors
  std::int64_t DamagedAreas = 0;     // runs of sectors met in failed reads (non-trimmed, non-scraped, bad)
  std::int64_t BadAheadInPass = 0;   // while retrying: the bad sectors the pass under way has still to read
  std::int64_t Reads = 0;         // commands sent in this run
  std::int64_t FailingReads = 0;  // of them, the ones that failed
  double SecondsPerFailingRead = 0;  // 0 before the first failing read
  double SecondsSinceGoodRead = 0;
  double Seconds = 0;             // since this run began
  // Bounds of the time left: the data still to read at the rate good reads had, and on top the
  // failing reads the phases still to come may meet. Both 0 while no rate is known.
  double EstimateLow = 0;
  double EstimateHigh = 0;
  bool EstimateKnown = false;     // a rate of good reads is known
  bool EstimateOpen = false;      // failing reads are to come, but no time per failing read is known yet

  std::int64_t Unread() const { return Sectors - Finished; }
  double MiBRescued() const { return static_cast<double>(Finished) * 2048.0 / 1048576.0; }
};

// The bounds of the time left for Figures, at BytesPerSecond for good data and the figures' time
// per failing read. The low bound: every sector still to be read reads, at the rate. The high
// bound adds the failing reads the phases to come may meet:
// - trimming reads each non-trimmed area inward from its edges up to a failing read on each side,
//   two per area; with scraping, which reads what trimming leaves, each non-trimmed sector may
//   fail once;
// - scraping, when asked for: each non-scraped sector once;
// - the sectors not tried yet, taken to be as damaged as the tried part of the disc (as many
//   damaged areas and sectors per sector): each area costs a failed request when copying and one
//   when closing the gaps, then is trimmed and scraped as above;
// - each retry pass still to come: the bad sectors, and those the reads above will find bad; of
//   the pass under way, the bad sectors ahead of it.
// EstimateOpen where such reads are to come before the time of one is known.
void EstimateTimeLeft(TkxRescueFigures& Figures, double BytesPerSecond, const TkxRescueSettings& Settings);

// "Copying", "Closing gaps", "Trimming", "Scraping", "Retrying, pass 2 of 3", "Finished".
std::string RescuePhaseText(TkxRescuePhase Phase, int Pass, int Passes);
// "19.3 of 19.5 MiB rescued; 111 unreadable sectors in 3 areas (5 bad, 106 not scraped); 11
// failing reads", or "... MiB rescued, every sector read; ..." when none is left. Before the
// rescue has finished: "2544 sectors not read in 3 areas (96 not trimmed, 2448 not tried)"; the
// failing reads are left out while this run has made no read.
std::string RescueSummaryText(const TkxRescueFigures& Figures);

// The figures as the rescue window shows them, each beside its caption.
struct TkxRescueFigureTexts {
  std::string Phase;           // RescuePhaseText
  std::string Rescued;         // "12.3 of 19.5 MiB"
  std::string Unreadable;      // sectors met in failed reads and not read since: "111"
  std::string FailingReads;    // "11"
  std::string PerFailingRead;  // "3.0 s", "1:05"; "-" before the first failing read
  std::string SinceGoodRead;   // "4 s"; "-" before this run has begun
  std::string TimeLeft;        // "2:10 to 15:03", "42 s", "42 s or more"; "unknown" while no rate is known
};
TkxRescueFigureTexts RescueFigureTexts(const TkxRescueFigures& Figures);

struct TkxRescueResult {
  // Stopped on request, the map saved; or failed with why it ended early: the disc changed, the
  // image or the map could not be written.
  TkxJobOutcome Outcome;
  bool Complete = false;  // every sector of the disc was read
};

class TkxRescueJob {
 public:
  // Drive is the opened drive (Status CDReady for a rescue to begin); ImageName the image file,
  // whose map is ImageName + ".map".
  TkxRescueJob(std::unique_ptr<TkxPhysicalCD> Drive, std::string ImageName, TkxRescueOptions Options = {});
  ~TkxRescueJob();
  TkxRescueJob(const TkxRescueJob&) = delete;
  TkxRescueJob& operator=(const TkxRescueJob&) = delete;

  // Whether a map lies beside ImageName: a rescue of it goes on rather than begins.
  static bool MapExists(const std::string& ImageName);
  // Why a rescue into ImageName cannot begin before the drive is touched: something of that
  // name exists without a map beside it, and an image without its map cannot be continued.
  // "" when it can begin or go on.
  static std::string TargetProblem(const std::string& ImageName);

  // Before Run: with a map, reads it and checks that it belongs to the disc in the drive and
  // that its image is there; without one, creates the image (a file of that name must not exist:
  // an image without its map cannot be continued) and saves a first map. Completed when the
  // rescue can run; failed with what to tell the user when it cannot.
  TkxJobOutcome Prepare();
  bool Resumed() const { return Resuming; }
  const std::string& ImageName() const { return Image; }
  // Whether the drive has a lower retry count for the rescue now (MODE SELECT, error-recovery
  // page); it is given its own back before the retry passes and at the end. Safe from any thread.
  bool RetriesLowered() const { return Lowered.load(std::memory_order_acquire); }

  // The rescue on the calling thread, one read command per step; asks Control between steps.
  // Progress is given the figures after every step and once at the end.
  TkxRescueResult Run(TkxJobControl& Control, const TkxProgressSink<TkxRescueFigures>& Progress = {});

  // Safe from any thread, also while Prepare or Run is working.
  TkxRescueFigures Figures() const;
  // The map in Count groups of sectors, each shown as its worst state.
  std::vector<TkxSectorState> Cells(std::size_t Count) const;

  // The read retry count a drive is set to for the rescue: one retry, so that a damaged sector
  // fails in a fraction of the time the drive's own count takes.
  static constexpr std::uint8_t LoweredReadRetries = 1;

 private:
  class TImageFile;
  class TRetries;

  std::string OpenMap(const TkxDiscIdentity& Present);
  std::string Begin(const TkxDiscIdentity& Present);
  std::string VolumeHash();
  void Step(const TkxSectorRange& Read, std::uint8_t* Buffer);
  void Save();

  std::unique_ptr<TkxPhysicalCD> Drive;
  std::string Image;
  TkxRescueOptions Options;
  std::unique_ptr<TImageFile> File;
  std::unique_ptr<TRetries> Retries;
  std::atomic<bool> Lowered{false};
  bool Resuming = false;

  std::chrono::steady_clock::time_point LastSave{};  // only the thread of Prepare and Run

  mutable std::mutex Lock;  // guards what follows
  TkxRescueMap Map;
  std::unique_ptr<TkxRescuePlan> Plan;
  std::chrono::steady_clock::time_point Started{};
  std::chrono::steady_clock::time_point LastGood{};
  std::int64_t Reads = 0;
  std::int64_t FailingReads = 0;
  double FailingSeconds = 0;
  double GoodSeconds = 0;
  std::int64_t GoodBytes = 0;
  // What Figures counts by walking the map's runs, and when and where it was counted.
  struct TRunCounts {
    std::int64_t NonTrimmedAreas = 0;
    std::int64_t DamagedAreas = 0;
    std::int64_t BadBefore = 0;  // bad sectors before the position
    std::chrono::steady_clock::time_point Taken{};
    TkxRescuePhase Phase = TkxRescuePhase::Finished;
    int Pass = 0;
    bool Known = false;
  };
  mutable TRunCounts RunCounts;
};

}  // namespace kx
