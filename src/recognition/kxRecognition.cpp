// SPDX-License-Identifier: GPL-3.0-or-later
#include "recognition/kxRecognition.h"

#include "common/kxShared.h"
#include "recognition/kxEngine.h"

#include <algorithm>
#include <cmath>

namespace kx {

TkxRecognition::TkxRecognition(TkxDisk& Disk_) : Disk(Disk_) {}

void TkxRecognition::RecognizeNext()
{
  const auto ss = static_cast<std::size_t>(Disk.SectorSize);
  Block.resize(ss);
  const std::int32_t got = Disk.ReadSectors(Block.data(), 1, Position, {.Control = Control});
  const bool unreadable = got < Disk.SectorSize;
  // What the medium did not deliver is examined as zeros.
  if (unreadable) std::fill(Block.begin() + std::max(got, 0), Block.end(), std::uint8_t{0});

  TkxFileEntry* last = FileList.Count > 0 ? &FileList.Items[static_cast<std::size_t>(FileList.Count - 1)] : nullptr;
  TBlockKind found = RecognizeBlock(Block);
  // The medium's own file system begins with its volume descriptor in sector 16.
  if (found.Kind == Kinds::IsoImage && Position * Disk.SectorSize == 16 * 2048) found.Kind = Kinds::Unknown;

  if (ContinuesRecurring(last, found.Kind)) {
    ExtendLast(*last);
  } else if (found.Kind == Kinds::IsoImage && FollowStructure && AddStoredImage(found)) {
    // The image's entry was added where the image begins, 16 sectors back.
  } else if (found.Kind == Kinds::Unknown) {
    if (last && last->Continues && !IsTextKind(last->Kind))
      ExtendLast(*last);
    else
      AddEntry(Kinds::Unknown, true, static_cast<std::int64_t>(ss));
  } else if (found.Kind == Kinds::Text) {
    if (last && last->Continues && IsTextKind(last->Kind)) {
      last->Size += found.Size;
      last->Continues = found.Continues;
    } else if (last && last->Continues && IsTextAbsorbingKind(last->Kind)) {
      ExtendLast(*last);
    } else {
      AddEntry(found.Kind, found.Continues, found.Size);
    }
  } else if (found.Kind == Kinds::ProgramStream) {
    const std::optional<TPackClock> clock = ReadPackClock(Block);
    if (ContinuesStream(last, clock))
      ExtendLast(*last);
    else
      AddEntry(found.Kind, found.Continues, found.Size);
    StreamEntry = clock ? FileList.Count - 1 : -1;
    if (clock) StreamClock = *clock;
  } else if (found.Kind == Kinds::Tar && last && last->Continues && last->Kind == Kinds::Tar &&
             IsTarMemberHeader(Block)) {
    // A tar archive holds a member header wherever a member begins, and members begin on
    // sector boundaries often enough that each would start an entry of its own.
    ExtendLast(*last);
  } else if (FollowStructure && FollowFile(found, Position * Disk.SectorSize)) {
    AddEntry(found.Kind, found.Continues, found.Size);
    TkxFileEntry& added = FileList.Items[static_cast<std::size_t>(FileList.Count - 1)];
    added.Check = TkxCheckState::Whole;
    added.CheckedSize = found.Size;
  } else {
    AddEntry(found.Kind, found.Continues, found.Size);
  }

  // A sized file's sectors are skipped unread; everything else advances by one sector. The
  // size is the one just recognised, not the entry's grown size.
  const auto sectors = static_cast<std::int64_t>(std::ceil(static_cast<double>(found.Size) / static_cast<double>(ss)));
  const std::int64_t before = std::min(Position, Disk.SectorCount);
  Position += std::max<std::int64_t>(sectors, 1);
  if (unreadable) ++UnreadableSectors;
  const std::int64_t passed = std::min(Position, Disk.SectorCount) - before;
  FollowCredit = SaturatingAdd(FollowCredit, passed * Disk.SectorSize * CreditPerByte);
}

// A pack goes on the stream of the open ".vob" entry directly before it when it continues that
// entry's last pack (PackContinues).
bool TkxRecognition::ContinuesStream(const TkxFileEntry* Last, const std::optional<TPackClock>& Clock) const
{
  return Last && Last->Continues && Last->Kind == Kinds::ProgramStream && StreamEntry == FileList.Count - 1 &&
         PackContinues(StreamClock, Clock);
}

void TkxRecognition::ExtendLast(TkxFileEntry& Last)
{
  Last.Size += Disk.SectorSize;
  if (TrailerFound(Block, Last.Kind)) Last.Continues = false;
}

void TkxRecognition::AddEntry(TKind Kind, bool Continues, std::int64_t Size)
{
  TkxNewEntry entry = DescribeNewEntry(Block, FileList.Count + 1, Kind);
  FileList.Add(std::move(entry.Name), entry.Kind, Position * Disk.SectorSize, Size, Continues);
}

TkxNewEntry DescribeNewEntry(std::span<const std::uint8_t> Block, std::int32_t Number, TKind Kind)
{
  TkxNewEntry entry{ScanEntryName(Number), Kind};
  DescribeFoundFile(Block, entry.Name, entry.Kind);
  return entry;
}

void AcceptFoundFiles(const TkxFileList& Found, TkxFileList& Into)
{
  Into.Assign(Found);
  Into.Sort(TkxSortKey::skExtension);
}

std::string ScanUnreadableText(std::int64_t Count)
{
  return Counted(Count, "unreadable sector was", "unreadable sectors were") + " examined as zeros";
}

TkxScanJob::TkxScanJob(std::unique_ptr<TkxDisk> Disk, TkxScanOptions Options_)
    : DiskOwned(std::move(Disk)), Options(Options_), Recognition(*DiskOwned)
{
}

TkxScanResult TkxScanJob::Run(TkxJobControl& Control, const TkxProgressSink<TkxScanFigures>& Progress)
{
  TkxScanResult result;
  TkxScanFigures figures;
  result.Outcome = Scan(Control, figures, Progress);
  result.Position = Recognition.Position;
  result.UnreadableSectors = Recognition.UnreadableSectors;
  result.Found = Recognition.FileList.Count;
  // Nothing writes the scan's list any more: it is copied without the lock.
  result.Outcome = RunGuarded([&] {
    AcceptFoundFiles(Recognition.FileList, result.Files);
    return result.Outcome;
  });
  if (result.Outcome.IsCompleted() && Options.Check) result.Outcome = CheckFiles(Control, result, figures, Progress);
  return result;
}

TkxJobOutcome TkxScanJob::Scan(TkxJobControl& Control, TkxScanFigures& Figures,
                               const TkxProgressSink<TkxScanFigures>& Progress)
{
  Recognition.Control = &Control;
  Recognition.FollowStructure = Options.Check;
  const std::int64_t total = DiskOwned->SectorCount;
  std::int64_t reported = Recognition.Position;
  const auto report = [&] {
    reported = Recognition.Position;
    Figures.Position = Recognition.Position;
    Figures.Found = Recognition.FileList.Count;
    if (Progress) Progress(Figures);
  };
  const TkxJobOutcome outcome = RunGuarded([&] {
    try {
      while (Recognition.Position < total) {
        if (Control.ShouldStop()) return TkxJobOutcome::Stopped();
        {
          const std::lock_guard guard(StepLock);
          Recognition.RecognizeNext();
        }
        if (Recognition.Position >= reported + Options.ScanStride) report();
      }
    } catch (const EkxStopped&) {
      // The sector being read is examined when the scan goes on.
      return TkxJobOutcome::Stopped();
    }
    return TkxJobOutcome::Completed();
  });
  report();
  return outcome;
}

TkxJobOutcome TkxScanJob::CheckFiles(TkxJobControl& Control, TkxScanResult& Result, TkxScanFigures& Figures,
                                     const TkxProgressSink<TkxScanFigures>& Progress)
{
  Result.Phase = TkxScanPhase::Check;
  Figures.Phase = TkxScanPhase::Check;
  Figures.ToCheck = Result.Files.Count;
  if (Progress) Progress(Figures);
  const std::int32_t stride = Options.CheckStride > 0 ? Options.CheckStride : std::max(1, Result.Files.Count / 100);
  return RunGuarded([&] {
    Result.Check = CheckFoundFiles(Disk(), Result.Files, Control, [&](const TkxFilesDone& Done) {
      if (Done.Done - Figures.Checked < stride && Done.Done < Done.Total) return;
      Figures.Checked = Done.Done;
      if (Progress) Progress(Figures);
    });
    const TkxCheckResult& check = *Result.Check;
    ApplyCheck(check, Result.Files);
    // Refined extensions and the runs listed apart at the end leave the list out of order.
    Result.Files.Sort(TkxSortKey::skExtension);
    if (Figures.Checked != check.Checked) {
      Figures.Checked = check.Checked;
      if (Progress) Progress(Figures);
    }
    return check.Outcome;
  });
}

void TkxScanJob::AcceptInto(TkxFileList& Into)
{
  const std::lock_guard guard(StepLock);
  AcceptFoundFiles(Recognition.FileList, Into);
}

std::int32_t TkxScanJob::FoundCount()
{
  const std::lock_guard guard(StepLock);
  return Recognition.FileList.Count;
}

}  // namespace kx
