// SPDX-License-Identifier: GPL-3.0-or-later
// Where to read next on a damaged disc. Every routine here is a plan that works step by step:
// Next gives one read command, Report tells it whether that command came back with data, and the
// plan decides the next one from that alone. No plan touches a drive, so the number of failing
// reads (each of which a real drive spends seconds on) is measured without one.
#pragma once

#include "media/kxRescueMap.h"

#include <cstdint>
#include <optional>

namespace kx {

// One read command: Count sectors from First.
struct TkxSectorRange {
  std::int64_t First = 0;
  std::int32_t Count = 0;

  std::int64_t End() const { return First + Count; }
  bool operator==(const TkxSectorRange& Other) const = default;
};

// The sector after a bad area that begins at FirstBad, found with few failing reads: single
// sectors are probed further and further ahead (1, 2, 4, ... sectors after FirstBad) until one
// reads, then the step between the last failing probe and that one is halved down to the first
// readable sector. An area of L sectors costs about 2 log2(L) failing reads. Sectors between
// probes that failed are taken to be bad without being read. Limit is the disc's size: a probe
// never goes past it, and an area that reaches it ends there.
class TkxAreaEndSearch {
 public:
  TkxAreaEndSearch(std::int64_t FirstBad, std::int64_t Limit);

  // The sector to probe next, or nothing once the end is found.
  std::optional<std::int64_t> Next() const;
  void Report(bool Readable);
  // The first readable sector after the area (Limit when the area runs to the end); valid once
  // Next gives nothing.
  std::int64_t End() const { return High; }

 private:
  std::int64_t FirstBad;
  std::int64_t Limit;
  std::int64_t Step = 1;
  std::int64_t Low;     // the last sector known to be bad
  std::int64_t High;    // the first sector known to read (Limit until one is found)
  bool Bisecting = false;
};

// A careful read of the sectors [First, First + Count) for a scan or an image copy. Requests of
// up to 32 sectors; when one fails, its sectors are asked for one by one until one fails, and from
// there the end of the bad area is searched for (TkxAreaEndSearch). The bad area goes into Known
// (as bad sectors), which later reads consult, so a sector inside it is never asked for again.
// Every sector of the range ends either read (counted in SectorsRead) or in a bad area of Known.
// Commands may reach past the range while the end of a bad area is searched for: their data do
// not belong to the read.
class TkxCarefulRead {
 public:
  TkxCarefulRead(TkxSectorMap& Known, std::int64_t First, std::int32_t Count);

  std::optional<TkxSectorRange> Next();
  void Report(bool Readable);

  // Sectors of the range that were read.
  std::int64_t SectorsRead() const { return Read; }

 private:
  enum class TStage : std::uint8_t { Requests, Singles, Search };
  void StartSearch(std::int64_t FirstBad);

  TkxSectorMap& Known;
  std::int64_t Pos;        // the first sector of the range not yet settled
  std::int64_t End;
  TStage Stage = TStage::Requests;
  std::int64_t FailedEnd = 0;  // the end of the request that failed, while its sectors go singly
  std::int64_t SearchFirst = 0;
  std::optional<TkxAreaEndSearch> Search;
  std::optional<TkxSectorRange> Pending;
  std::int64_t Read = 0;
};

struct TkxRescueSettings {
  bool Scrape = false;  // read the inside of bad areas sector by sector
  int Retries = 0;      // passes over the bad sectors at the end
};

// The phases of a rescue over a map of the disc, each a function of the map alone:
// - copy: untried sectors in requests of 32 from the start; after a failed request the next
//   InitialSkip sectors are skipped, twice as many after each further failure in a row (at most
//   MaxSkip), and a request that reads goes back to no skip;
// - gaps: every run of untried sectors left, from the end of the disc backwards, each read from
//   its far end backwards in requests of 32; at the first failure the rest of the run, which
//   lies between two failures, becomes non-trimmed;
// - trim: each run of non-trimmed sectors is read sector by sector inward from each edge that
//   borders readable data or the disc's edge, up to the first bad sector; what is left between
//   becomes non-scraped;
// - scrape (when asked for): every non-scraped sector on its own;
// - retry (when asked for): passes over the bad sectors, the first backwards, then alternating.
// A finished sector is never read again, and the map says after every report where the rescue
// stands, so that a plan built from a saved map goes on where that one stopped.
class TkxRescuePlan {
 public:
  TkxRescuePlan(TkxRescueMap& Map, const TkxRescueSettings& Settings);

  // The next command, or nothing when the rescue is finished. Asking again without a report
  // gives the same command.
  std::optional<TkxSectorRange> Next();
  void Report(bool Readable);

  TkxRescuePhase Phase() const { return Map.Phase; }
  std::int64_t InitialSkip() const { return FirstSkip; }
  std::int64_t MaxSkip() const { return LastSkip; }

 private:
  std::optional<TkxSectorRange> NextInPhase();
  void Enter(TkxRescuePhase Phase);
  std::optional<TkxSectorRange> NextCopy();
  std::optional<TkxSectorRange> NextGap();
  std::optional<TkxSectorRange> NextTrim();
  std::optional<TkxSectorRange> NextScrape();
  std::optional<TkxSectorRange> NextRetry();
  bool TrimsAt(std::int64_t Neighbour) const;

  TkxRescueMap& Map;
  TkxRescueSettings Settings;
  std::int64_t FirstSkip;
  std::int64_t LastSkip;
  int FailuresInARow = 0;
  std::optional<TkxSectorRange> Pending;
};

// The phase a rescue goes on with when it finds Map from an earlier run, asked for with
// Settings: the map's own phase, unless sectors are left that an earlier phase handles (untried
// ones: gaps; non-trimmed ones: trim; non-scraped ones when scraping is asked for: scrape), or
// a finished map is asked for retry passes. Sets Map's phase, position and pass.
void ResumeRescue(TkxRescueMap& Map, const TkxRescueSettings& Settings);

}  // namespace kx
