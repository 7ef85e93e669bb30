// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kxReadPlan.h"

#include <algorithm>

namespace kx {

namespace {

constexpr std::int64_t RequestSectors = 32;  // the drive's largest request (64 KiB)

}  // namespace

// ---- TkxAreaEndSearch --------------------------------------------------------------------------

TkxAreaEndSearch::TkxAreaEndSearch(std::int64_t FirstBad_, std::int64_t Limit_)
    : FirstBad(FirstBad_), Limit(std::max(Limit_, FirstBad_ + 1)), Low(FirstBad_), High(Limit)
{
}

std::optional<std::int64_t> TkxAreaEndSearch::Next() const
{
  if (!Bisecting) {
    if (Low >= Limit - 1) return std::nullopt;
    return std::min(FirstBad + Step, Limit - 1);
  }
  if (High - Low <= 1) return std::nullopt;
  return Low + (High - Low) / 2;
}

void TkxAreaEndSearch::Report(bool Readable)
{
  const std::optional<std::int64_t> probe = Next();
  if (!probe) return;
  if (Bisecting) {
    (Readable ? High : Low) = *probe;
  } else if (Readable) {
    High = *probe;
    Bisecting = true;
  } else {
    Low = *probe;
    Step *= 2;
  }
}

// ---- TkxCarefulRead ----------------------------------------------------------------------------

TkxCarefulRead::TkxCarefulRead(TkxSectorMap& Known_, std::int64_t First, std::int32_t Count)
    : Known(Known_), Pos(std::max<std::int64_t>(First, 0)),
      End(std::min(First + std::max<std::int32_t>(Count, 0), Known_.Sectors()))
{
}

void TkxCarefulRead::StartSearch(std::int64_t FirstBad)
{
  Stage = TStage::Search;
  SearchFirst = FirstBad;
  Search.emplace(FirstBad, Known.Sectors());
}

std::optional<TkxSectorRange> TkxCarefulRead::Next()
{
  if (Pending) return Pending;
  for (;;) {
    switch (Stage) {
      case TStage::Requests: {
        if (Pos >= End) return std::nullopt;
        if (Known.At(Pos) == TkxSectorState::Bad) {
          Pos = std::min(End, Known.RunAt(Pos).second);
          continue;
        }
        const std::int64_t n = std::min({RequestSectors, End - Pos, Known.FindNext(Pos, TkxSectorState::Bad) - Pos});
        Pending = TkxSectorRange{Pos, static_cast<std::int32_t>(n)};
        return Pending;
      }
      case TStage::Singles:
        // Every sector of the failed request read on its own: the drive failed it once only.
        if (Pos >= FailedEnd) {
          Stage = TStage::Requests;
          continue;
        }
        Pending = TkxSectorRange{Pos, 1};
        return Pending;
      case TStage::Search: {
        const std::optional<std::int64_t> probe = Search->Next();
        if (!probe) {
          const std::int64_t areaEnd = Search->End();
          Known.Set(SearchFirst, areaEnd, TkxSectorState::Bad);
          Pos = std::min(areaEnd, End);
          Stage = TStage::Requests;
          Search.reset();
          continue;
        }
        // A sector of a bad area found before needs no command to fail.
        if (Known.At(*probe) == TkxSectorState::Bad) {
          Search->Report(false);
          continue;
        }
        Pending = TkxSectorRange{*probe, 1};
        return Pending;
      }
    }
  }
}

void TkxCarefulRead::Report(bool Readable)
{
  if (!Pending) return;
  const TkxSectorRange read = *Pending;
  Pending.reset();
  switch (Stage) {
    case TStage::Requests:
      if (Readable) {
        Read += read.Count;
        Pos = read.End();
      } else if (read.Count == 1) {
        StartSearch(Pos);
      } else {
        Stage = TStage::Singles;
        FailedEnd = read.End();
      }
      break;
    case TStage::Singles:
      if (Readable) {
        ++Read;
        ++Pos;
      } else {
        StartSearch(Pos);
      }
      break;
    case TStage::Search:
      Search->Report(Readable);
      break;
  }
}

// ---- TkxRescuePlan -----------------------------------------------------------------------------

TkxRescuePlan::TkxRescuePlan(TkxRescueMap& Map_, const TkxRescueSettings& Settings_)
    : Map(Map_), Settings(Settings_),
      FirstSkip(std::max<std::int64_t>(RequestSectors, Map_.Sectors.Sectors() / 32768)),
      LastSkip(std::max(FirstSkip, Map_.Sectors.Sectors() / 100))
{
}

std::optional<TkxSectorRange> TkxRescuePlan::Next()
{
  if (!Pending) Pending = NextInPhase();
  return Pending;
}

void TkxRescuePlan::Enter(TkxRescuePhase Phase)
{
  const std::int64_t n = Map.Sectors.Sectors();
  Map.Phase = Phase;
  Map.Pass = 1;
  Map.Position = Phase == TkxRescuePhase::Gaps || Phase == TkxRescuePhase::Retry ? n : 0;
  FailuresInARow = 0;
}

std::optional<TkxSectorRange> TkxRescuePlan::NextInPhase()
{
  for (;;) {
    std::optional<TkxSectorRange> read;
    TkxRescuePhase following = TkxRescuePhase::Finished;
    switch (Map.Phase) {
      case TkxRescuePhase::Copy:
        read = NextCopy();
        following = TkxRescuePhase::Gaps;
        break;
      case TkxRescuePhase::Gaps:
        read = NextGap();
        following = TkxRescuePhase::Trim;
        break;
      case TkxRescuePhase::Trim:
        read = NextTrim();
        following = Settings.Scrape ? TkxRescuePhase::Scrape : TkxRescuePhase::Retry;
        break;
      case TkxRescuePhase::Scrape:
        if (Settings.Scrape) read = NextScrape();
        following = TkxRescuePhase::Retry;
        break;
      case TkxRescuePhase::Retry:
        read = NextRetry();
        break;
      case TkxRescuePhase::Finished:
        return std::nullopt;
    }
    if (read) return read;
    if (following == TkxRescuePhase::Retry && Settings.Retries <= 0) following = TkxRescuePhase::Finished;
    Enter(following);
  }
}

std::optional<TkxSectorRange> TkxRescuePlan::NextCopy()
{
  const TkxSectorMap& sectors = Map.Sectors;
  const std::int64_t first = sectors.FindNext(Map.Position, TkxSectorState::NonTried);
  if (first >= sectors.Sectors()) return std::nullopt;
  const std::int64_t n = std::min(RequestSectors, sectors.RunAt(first).second - first);
  Map.Position = first;
  return TkxSectorRange{first, static_cast<std::int32_t>(n)};
}

std::optional<TkxSectorRange> TkxRescuePlan::NextGap()
{
  const std::int64_t last = Map.Sectors.FindPrevious(Map.Position, TkxSectorState::NonTried);
  if (last < 0) return std::nullopt;
  const std::int64_t runFirst = Map.Sectors.RunAt(last).first;
  const std::int64_t n = std::min(RequestSectors, last + 1 - runFirst);
  Map.Position = last + 1;
  return TkxSectorRange{last + 1 - n, static_cast<std::int32_t>(n)};
}

// An edge of a non-trimmed run is trimmed where the run meets data that was read, sectors not
// tried yet, or the edge of the disc; next to a bad sector or a non-scraped area it has been found.
bool TkxRescuePlan::TrimsAt(std::int64_t Neighbour) const
{
  if (Neighbour < 0 || Neighbour >= Map.Sectors.Sectors()) return true;
  const TkxSectorState state = Map.Sectors.At(Neighbour);
  return state != TkxSectorState::Bad && state != TkxSectorState::NonScraped;
}

std::optional<TkxSectorRange> TkxRescuePlan::NextTrim()
{
  for (;;) {
    const std::int64_t first = Map.Sectors.FindNext(Map.Position, TkxSectorState::NonTrimmed);
    if (first >= Map.Sectors.Sectors()) return std::nullopt;
    const std::int64_t end = Map.Sectors.RunAt(first).second;
    Map.Position = first;
    if (TrimsAt(first - 1)) return TkxSectorRange{first, 1};
    if (TrimsAt(end)) return TkxSectorRange{end - 1, 1};
    Map.Sectors.Set(first, end, TkxSectorState::NonScraped);
    Map.Position = end;
  }
}

std::optional<TkxSectorRange> TkxRescuePlan::NextScrape()
{
  const std::int64_t sector = Map.Sectors.FindNext(Map.Position, TkxSectorState::NonScraped);
  if (sector >= Map.Sectors.Sectors()) return std::nullopt;
  Map.Position = sector;
  return TkxSectorRange{sector, 1};
}

std::optional<TkxSectorRange> TkxRescuePlan::NextRetry()
{
  for (;;) {
    if (Map.Pass > Settings.Retries) return std::nullopt;
    const bool backwards = Map.Pass % 2 == 1;
    const std::int64_t sector = backwards ? Map.Sectors.FindPrevious(Map.Position, TkxSectorState::Bad)
                                          : Map.Sectors.FindNext(Map.Position, TkxSectorState::Bad);
    if (sector >= 0 && sector < Map.Sectors.Sectors()) {
      Map.Position = backwards ? sector + 1 : sector;
      return TkxSectorRange{sector, 1};
    }
    if (Map.Pass >= Settings.Retries) return std::nullopt;
    ++Map.Pass;
    Map.Position = Map.Pass % 2 == 1 ? Map.Sectors.Sectors() : 0;
  }
}

void TkxRescuePlan::Report(bool Readable)
{
  if (!Pending) return;
  const TkxSectorRange read = *Pending;
  Pending.reset();
  TkxSectorMap& sectors = Map.Sectors;
  const TkxSectorState failed = read.Count == 1 ? TkxSectorState::Bad : TkxSectorState::NonTrimmed;
  switch (Map.Phase) {
    case TkxRescuePhase::Copy:
      sectors.Set(read.First, read.End(), Readable ? TkxSectorState::Finished : failed);
      Map.Position = read.End();
      if (Readable) {
        FailuresInARow = 0;
      } else {
        ++FailuresInARow;
        std::int64_t skip = FirstSkip;
        for (int i = 1; i < FailuresInARow && skip < LastSkip; ++i) skip = std::min(skip * 2, LastSkip);
        Map.Position += skip;
      }
      break;
    case TkxRescuePhase::Gaps:
      Map.Position = read.First;
      if (Readable) {
        sectors.Set(read.First, read.End(), TkxSectorState::Finished);
      } else {
        // The rest of the gap lies between the request that failed before it and this one.
        std::int64_t runFirst = read.First;
        if (read.First > 0 && sectors.At(read.First - 1) == TkxSectorState::NonTried)
          runFirst = sectors.RunAt(read.First - 1).first;
        sectors.Set(read.First, read.End(), failed);
        sectors.Set(runFirst, read.First, TkxSectorState::NonTrimmed);
        Map.Position = runFirst;
      }
      break;
    case TkxRescuePhase::Trim:
    case TkxRescuePhase::Scrape:
    case TkxRescuePhase::Retry:
      sectors.Set(read.First, read.End(), Readable ? TkxSectorState::Finished : TkxSectorState::Bad);
      if (Map.Phase == TkxRescuePhase::Scrape || (Map.Phase == TkxRescuePhase::Retry && Map.Pass % 2 == 0))
        Map.Position = read.End();
      else if (Map.Phase == TkxRescuePhase::Retry)
        Map.Position = read.First;
      break;
    case TkxRescuePhase::Finished:
      break;
  }
}

void ResumeRescue(TkxRescueMap& Map, const TkxRescueSettings& Settings)
{
  const TkxSectorMap& sectors = Map.Sectors;
  const auto enter = [&](TkxRescuePhase Phase, std::int64_t Position) {
    Map.Phase = Phase;
    Map.Position = Position;
    Map.Pass = 1;
  };
  const std::int64_t n = sectors.Sectors();
  if (Map.Phase > TkxRescuePhase::Gaps && sectors.Count(TkxSectorState::NonTried) > 0)
    enter(TkxRescuePhase::Gaps, n);
  else if (Map.Phase > TkxRescuePhase::Trim && sectors.Count(TkxSectorState::NonTrimmed) > 0)
    enter(TkxRescuePhase::Trim, 0);
  else if (Map.Phase > TkxRescuePhase::Scrape && Settings.Scrape && sectors.Count(TkxSectorState::NonScraped) > 0)
    enter(TkxRescuePhase::Scrape, 0);
  else if (Map.Phase == TkxRescuePhase::Finished && Settings.Retries > 0 && sectors.Count(TkxSectorState::Bad) > 0)
    enter(TkxRescuePhase::Retry, n);
}

}  // namespace kx
