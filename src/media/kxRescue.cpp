// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kxRescue.h"

#include "common/kxPlatform.h"
#include "common/kxShared.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <optional>
#include <system_error>

namespace kx {

namespace {

using TSeconds = std::chrono::duration<double>;

std::string SizeText(std::int64_t Sectors)
{
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(Sectors) * 2048.0 / 1048576.0);
  return text;
}

}  // namespace

void EstimateTimeLeft(TkxRescueFigures& f, double BytesPerSecond, const TkxRescueSettings& Settings)
{
  f.EstimateLow = f.EstimateHigh = 0;
  f.EstimateOpen = false;
  f.EstimateKnown = BytesPerSecond > 0;
  if (!f.EstimateKnown) return;
  if (f.Phase == TkxRescuePhase::Finished) return;
  const bool scrape = Settings.Scrape;
  const auto n = [](std::int64_t Count) { return static_cast<double>(Count); };
  f.EstimateLow = n(f.NonTried + f.NonTrimmed + (scrape ? f.NonScraped : 0)) * 2048.0 / BytesPerSecond;

  // Failing reads of single sectors, each of which leaves a bad sector for the retry passes.
  const auto trimmed = [scrape](double Sectors, double Areas) { return scrape ? Sectors : std::min(Sectors, 2 * Areas); };
  double singles = trimmed(n(f.NonTrimmed), n(f.NonTrimmedAreas)) + (scrape ? n(f.NonScraped) : 0);
  double requests = 0;
  const std::int64_t tried = f.Sectors - f.NonTried;
  if (f.NonTried > 0 && tried > 0) {
    const double share = n(f.NonTried) / n(tried);
    const double areas = n(f.DamagedAreas) * share;
    requests = 2 * areas;
    singles += trimmed(n(f.NonTrimmed + f.NonScraped + f.Bad) * share, areas);
  }
  double failing = requests + singles + Settings.Retries * (n(f.Bad) + singles);
  if (f.Phase == TkxRescuePhase::Retry) failing = n(f.BadAheadInPass) + std::max(0, Settings.Retries - f.Pass) * n(f.Bad);
  // A failing read of a damaged disc takes seconds: until one was timed, the end is open.
  f.EstimateOpen = failing > 0 && f.SecondsPerFailingRead <= 0;
  f.EstimateHigh = f.EstimateLow + failing * f.SecondsPerFailingRead;
}

std::string RescuePhaseText(TkxRescuePhase Phase, int Pass, int Passes)
{
  switch (Phase) {
    case TkxRescuePhase::Copy: return "Copying";
    case TkxRescuePhase::Gaps: return "Closing gaps";
    case TkxRescuePhase::Trim: return "Trimming";
    case TkxRescuePhase::Scrape: return "Scraping";
    case TkxRescuePhase::Retry: return "Retrying, pass " + std::to_string(Pass) + " of " + std::to_string(Passes);
    case TkxRescuePhase::Finished: break;
  }
  return "Finished";
}

std::string RescueSummaryText(const TkxRescueFigures& f)
{
  std::string text = SizeText(f.Finished) + " of " + SizeText(f.Sectors) + " MiB rescued";
  if (f.Unread() == 0) {
    text += ", every sector read";
  } else {
    // Until the rescue has finished, what is not read yet may still read.
    const bool finished = f.Phase == TkxRescuePhase::Finished;
    text += "; " + (finished ? Counted(f.Unread(), "unreadable sector")
                             : Counted(f.Unread(), "sector") + " not read") +
            " in " + Counted(f.Areas, "area") + " (";
    bool first = true;
    const auto part = [&](std::int64_t n, const char* what) {
      if (n == 0) return;
      text += (first ? "" : ", ") + std::to_string(n) + " " + what;
      first = false;
    };
    part(f.Bad, "bad");
    part(f.NonScraped, "not scraped");
    part(f.NonTrimmed, "not trimmed");
    part(f.NonTried, "not tried");
    text += ")";
  }
  // Before the first read of a run there is nothing to count.
  if (f.Reads == 0) return text;
  return text + "; " + Counted(f.FailingReads, "failing read");
}

TkxRescueFigureTexts RescueFigureTexts(const TkxRescueFigures& f)
{
  // Failing reads take seconds each, so their tenths tell drives apart.
  const auto seconds = [](double Seconds) {
    if (Seconds >= 59.95) return DurationText(Seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", Seconds);
    return std::string(text);
  };
  TkxRescueFigureTexts t;
  t.Phase = RescuePhaseText(f.Phase, f.Pass, f.Passes);
  t.Rescued = SizeText(f.Finished) + " of " + SizeText(f.Sectors) + " MiB";
  t.Unreadable = std::to_string(f.Unread() - f.NonTried);
  t.FailingReads = std::to_string(f.FailingReads);
  t.PerFailingRead = f.FailingReads > 0 ? seconds(f.SecondsPerFailingRead) : "-";
  t.SinceGoodRead = f.Seconds > 0 ? DurationText(f.SecondsSinceGoodRead) : "-";
  if (f.Phase == TkxRescuePhase::Finished)
    t.TimeLeft = DurationText(0);
  else if (!f.EstimateKnown)
    t.TimeLeft = "unknown";
  else if (f.EstimateOpen)
    t.TimeLeft = DurationText(f.EstimateLow) + " or more";
  else if (DurationText(f.EstimateLow) == DurationText(f.EstimateHigh))
    t.TimeLeft = DurationText(f.EstimateLow);
  else
    t.TimeLeft = DurationText(f.EstimateLow) + " to " + DurationText(f.EstimateHigh);
  return t;
}

// ---- the image file ------------------------------------------------------------------------------

// The image: one file of the disc's size, written where each sector belongs.
class TkxRescueJob::TImageFile {
 public:
  TImageFile(const std::string& Name_, bool Create, std::int64_t Size) : Name(Name_)
  {
    // A new image is created exclusively: another file of the name is never overwritten.
    Handle = Create ? os::CreateNew(Name) : os::OpenWrite(Name);
    if (Handle == os::NoFileHandle) Fail("Cannot open the image");
    const os::TFileStatus status = os::Status(Handle);
    if (status.Kind != os::TFileKind::Regular) {
      errno = status.Kind == os::TFileKind::Unknown ? errno : EINVAL;
      Fail("The image is not a regular file");
    }
    // Sectors never read stay zeros, and the image reads as a disc of the whole size.
    if (status.Size < Size && !os::Resize(Handle, Size)) Fail("Cannot extend the image");
  }
  ~TImageFile()
  {
    if (Handle != os::NoFileHandle) os::Close(Handle);
  }
  TImageFile(const TImageFile&) = delete;
  TImageFile& operator=(const TImageFile&) = delete;

  void Write(const std::uint8_t* Data, std::int64_t Count, std::int64_t Offset)
  {
    if (!os::WriteAt(Handle, Data, Count, Offset)) Fail("Cannot write the image");
  }
  // Before the map says a sector is rescued, its data are on the disk.
  void Sync()
  {
    if (!os::Sync(Handle)) Fail("Cannot write the image");
  }

 private:
  [[noreturn]] void Fail(const char* What) const
  {
    const int error = errno ? errno : EIO;
    throw EkxIOError(std::string(What) + " \"" + Name + "\": " + std::strerror(error), error);
  }

  std::string Name;
  os::TFileHandle Handle = os::NoFileHandle;
};

// ---- the drive's retry count ---------------------------------------------------------------------

// Lowers the drive's read retry count where the drive allows it, and gives it back.
class TkxRescueJob::TRetries {
 public:
  explicit TRetries(TScsiDevice& Device_) : Device(Device_)
  {
    const auto page = ReadErrorRecoveryPage(Device);
    if (!page || (*page)[ReadRetryCountByte] <= LoweredReadRetries) return;
    // A drive that states which fields may change and leaves the count out would refuse it.
    const auto changeable = ReadErrorRecoveryPage(Device, true);
    if (changeable && (*changeable)[ReadRetryCountByte] == 0) return;
    std::vector<std::uint8_t> lowered = *page;
    lowered[ReadRetryCountByte] = LoweredReadRetries;
    if (WriteErrorRecoveryPage(Device, lowered)) Original = *page;
  }
  ~TRetries() { Restore(); }
  TRetries(const TRetries&) = delete;
  TRetries& operator=(const TRetries&) = delete;

  bool Lowered() const { return Original.has_value(); }
  void Restore() noexcept
  {
    if (!Original) return;
    try {
      WriteErrorRecoveryPage(Device, *Original);
    } catch (...) {
      // A transport that throws has lost the drive; there is nothing left to restore.
    }
    Original.reset();
  }

 private:
  TScsiDevice& Device;
  std::optional<std::vector<std::uint8_t>> Original;
};

// ---- the job -------------------------------------------------------------------------------------

TkxRescueJob::TkxRescueJob(std::unique_ptr<TkxPhysicalCD> Drive_, std::string ImageName, TkxRescueOptions Options_)
    : Drive(std::move(Drive_)), Image(std::move(ImageName)), Options(std::move(Options_))
{
}

TkxRescueJob::~TkxRescueJob() = default;

bool TkxRescueJob::MapExists(const std::string& ImageName)
{
  std::error_code ec;
  return std::filesystem::exists(RescueMapName(ImageName), ec);
}

// The hash of the volume descriptors from sector 16 up to the terminator (at most 16), which hold
// the volume's name and its creation time; empty when sector 16 holds none or cannot be read.
std::string TkxRescueJob::VolumeHash()
{
  std::vector<std::uint8_t> all;
  std::vector<std::uint8_t> sector(2048);
  for (std::int64_t s = 16; s < std::min<std::int64_t>(32, Drive->SectorCount); ++s) {
    if (!Drive->ReadOnce(sector.data(), 1, s) || std::memcmp(sector.data() + 1, "CD001", 5) != 0) break;
    all.insert(all.end(), sector.begin(), sector.end());
    if (sector[0] == 0xFF) break;
  }
  return all.empty() ? std::string() : IdentityHash(all);
}

TkxJobOutcome TkxRescueJob::Prepare()
{
  if (!Drive || Drive->Status != CDReady)
    return TkxJobOutcome::Failed(std::string(PhysicalCDStatusText(Drive ? Drive->Status : CDNoDevice)));
  return RunGuarded([this] {
    TkxDiscIdentity present{Drive->SectorCount, Drive->Toc.empty() ? std::string() : IdentityHash(Drive->Toc), {}};
    std::string problem = MapExists(Image) ? OpenMap(present) : Begin(present);
    if (!problem.empty()) return TkxJobOutcome::Failed(std::move(problem));
    const std::lock_guard guard(Lock);
    Plan = std::make_unique<TkxRescuePlan>(Map, Options.Settings);
    return TkxJobOutcome::Completed();
  });
}

std::string TkxRescueJob::OpenMap(const TkxDiscIdentity& Present)
{
  const std::string mapName = RescueMapName(Image);
  TkxRescueMap map;
  try {
    map = LoadRescueMap(mapName, MapLineLimit(Present.Sectors));
  } catch (const EkxMapError& e) {
    return "The map \"" + mapName + "\" cannot be used" + (e.Line > 0 ? " (line " + std::to_string(e.Line) + ")" : "") +
           ": " + e.what();
  }
  TkxDiscIdentity present = Present;
  const TkxDiscIdentity recorded = map.Disc.value_or(TkxDiscIdentity{map.Sectors.Sectors(), {}, {}});
  // The TOC tells discs apart without reading a sector; the volume descriptors are read again
  // only where one side has no TOC.
  if (recorded.Toc.empty() || present.Toc.empty()) present.Volume = VolumeHash();
  std::string mismatch = IdentityMismatch(recorded, present);
  if (mismatch.empty() && map.Sectors.Sectors() != present.Sectors)
    mismatch = "the map covers " + std::to_string(map.Sectors.Sectors()) + " sectors; this disc has " +
               std::to_string(present.Sectors);
  if (!mismatch.empty()) return "The map \"" + mapName + "\" belongs to another disc: " + mismatch + ".";
  std::error_code ec;
  if (!std::filesystem::exists(Image, ec))
    return "The image \"" + Image + "\" of the map \"" + mapName + "\" is missing.";
  File = std::make_unique<TImageFile>(Image, false, present.Sectors * 2048);
  if (!map.Disc) map.Disc = present;
  ResumeRescue(map, Options.Settings);
  {
    const std::lock_guard guard(Lock);
    Map = std::move(map);
  }
  Resuming = true;
  return {};
}

std::string TkxRescueJob::TargetProblem(const std::string& ImageName)
{
  std::error_code ec;
  if (MapExists(ImageName) || !std::filesystem::exists(std::filesystem::symlink_status(ImageName, ec))) return {};
  return "\"" + ImageName + "\" exists and has no map beside it; a rescue goes on only with its map (\"" +
         RescueMapName(ImageName) + "\"). Choose another name.";
}

std::string TkxRescueJob::Begin(const TkxDiscIdentity& Present)
{
  if (std::string problem = TargetProblem(Image); !problem.empty()) return problem;
  TkxDiscIdentity present = Present;
  present.Volume = VolumeHash();
  File = std::make_unique<TImageFile>(Image, true, present.Sectors * 2048);
  TkxRescueMap map{TkxSectorMap(present.Sectors)};
  map.Disc = present;
  {
    const std::lock_guard guard(Lock);
    Map = std::move(map);
  }
  Save();
  return {};
}

void TkxRescueJob::Save()
{
  File->Sync();
  TkxRescueMap copy;
  {
    const std::lock_guard guard(Lock);
    copy = Map;
  }
  LastSave = Options.Now();
  try {
    SaveRescueMap(RescueMapName(Image), copy);
  } catch (const EkxMapError& e) {
    throw EkxIOError(e.what());
  }
}

void TkxRescueJob::Step(const TkxSectorRange& Read, std::uint8_t* Buffer)
{
  const auto t0 = Options.Now();
  const bool ok = Drive->ReadOnce(Buffer, Read.Count, Read.First);
  const auto t1 = Options.Now();
  // The data are in the image before the map may say so.
  if (ok) File->Write(Buffer, std::int64_t{Read.Count} * 2048, Read.First * 2048);
  const double seconds = TSeconds(t1 - t0).count();
  const std::lock_guard guard(Lock);
  Plan->Report(ok);
  ++Reads;
  if (ok) {
    GoodSeconds += seconds;
    GoodBytes += std::int64_t{Read.Count} * 2048;
    LastGood = t1;
  } else {
    ++FailingReads;
    FailingSeconds += seconds;
  }
}

TkxRescueResult TkxRescueJob::Run(TkxJobControl& Control, const TkxProgressSink<TkxRescueFigures>& Progress)
{
  TkxRescueResult result;
  if (!Plan) return {TkxJobOutcome::Failed("The rescue was not prepared."), false};
  {
    const std::lock_guard guard(Lock);
    Started = LastGood = Options.Now();
  }
  LastSave = Started;
  TkxTransferBuffer buffer(static_cast<std::size_t>(MaxSectorsPerRequest) * CDSectorSize);
  try {
    Retries = std::make_unique<TRetries>(Drive->Device());
    Lowered = Retries->Lowered();
    for (;;) {
      if (Control.ShouldStop()) {
        result.Outcome = TkxJobOutcome::Stopped();
        break;
      }
      std::optional<TkxSectorRange> read;
      TkxRescuePhase phase;
      {
        const std::lock_guard guard(Lock);
        read = Plan->Next();
        phase = Map.Phase;
      }
      if (!read) break;
      // The retry passes give a sector every chance: the drive's own retries as well.
      if (phase == TkxRescuePhase::Retry && Lowered) {
        Retries->Restore();
        Lowered = false;
      }
      Step(*read, buffer.data());
      if (Options.Now() - LastSave >= Options.SaveInterval) Save();
      if (Progress) Progress(Figures());
    }
  } catch (const std::exception& e) {
    result.Outcome = TkxJobOutcome::Failed(e.what());
  }
  if (Retries) Retries->Restore();
  Lowered = false;
  try {
    Save();
  } catch (const std::exception& e) {
    // A map that cannot be saved fails a stopped rescue too: the stop promised it was saved.
    if (!result.Outcome.IsFailed()) result.Outcome = TkxJobOutcome::Failed(e.what());
  }
  {
    const std::lock_guard guard(Lock);
    result.Complete =
        !result.Outcome.IsFailed() && Map.Sectors.Count(TkxSectorState::Finished) == Map.Sectors.Sectors();
  }
  if (Progress) Progress(Figures());
  return result;
}

TkxRescueFigures TkxRescueJob::Figures() const
{
  const std::lock_guard guard(Lock);
  TkxRescueFigures f;
  const TkxSectorMap& sectors = Map.Sectors;
  f.Phase = Map.Phase;
  f.Pass = Map.Pass;
  f.Passes = Options.Settings.Retries;
  f.Sectors = sectors.Sectors();
  f.Position = Map.Position;
  f.Finished = sectors.Count(TkxSectorState::Finished);
  f.NonTried = sectors.Count(TkxSectorState::NonTried);
  f.NonTrimmed = sectors.Count(TkxSectorState::NonTrimmed);
  f.NonScraped = sectors.Count(TkxSectorState::NonScraped);
  f.Bad = sectors.Count(TkxSectorState::Bad);
  f.Areas = sectors.UnfinishedAreas();
  // The walk over the map's runs costs time in their number, which a map beside the image may
  // make large, while the command line asks for the figures after every read: it is made again
  // at most once a second of the job's clock, and whenever the phase or the pass changed.
  const auto now = Options.Now();
  TRunCounts& counts = RunCounts;
  if (!counts.Known || now - counts.Taken >= std::chrono::seconds(1) || counts.Phase != Map.Phase || counts.Pass != Map.Pass) {
    counts = {};
    bool damaged = false;
    const auto& runs = sectors.Runs();
    for (auto run = runs.begin(); run != runs.end(); ++run) {
      const TkxSectorState state = run->second;
      const bool met = state == TkxSectorState::NonTrimmed || state == TkxSectorState::NonScraped || state == TkxSectorState::Bad;
      if (state == TkxSectorState::NonTrimmed) ++counts.NonTrimmedAreas;
      if (met && !damaged) ++counts.DamagedAreas;
      damaged = met;
      const std::int64_t end = std::next(run) == runs.end() ? f.Sectors : std::next(run)->first;
      if (state == TkxSectorState::Bad) counts.BadBefore += std::max<std::int64_t>(0, std::min(end, Map.Position) - run->first);
    }
    counts.Taken = now;
    counts.Phase = Map.Phase;
    counts.Pass = Map.Pass;
    counts.Known = true;
  }
  f.NonTrimmedAreas = counts.NonTrimmedAreas;
  f.DamagedAreas = counts.DamagedAreas;
  // The odd passes go backwards from the end, the even ones forwards.
  if (f.Phase == TkxRescuePhase::Retry)
    f.BadAheadInPass = std::clamp(f.Pass % 2 == 1 ? counts.BadBefore : f.Bad - counts.BadBefore, std::int64_t{0}, f.Bad);
  f.Reads = Reads;
  f.FailingReads = FailingReads;
  f.SecondsPerFailingRead = FailingReads > 0 ? FailingSeconds / static_cast<double>(FailingReads) : 0;
  if (Started != std::chrono::steady_clock::time_point{}) {
    f.Seconds = TSeconds(now - Started).count();
    f.SecondsSinceGoodRead = TSeconds(now - LastGood).count();
  }
  EstimateTimeLeft(f, GoodSeconds > 0 ? static_cast<double>(GoodBytes) / GoodSeconds : 0, Options.Settings);
  return f;
}

std::vector<TkxSectorState> TkxRescueJob::Cells(std::size_t Count) const
{
  const std::lock_guard guard(Lock);
  return CellStates(Map.Sectors, Count);
}

}  // namespace kx
