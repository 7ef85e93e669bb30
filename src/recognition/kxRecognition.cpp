#include "recognition/kxRecognition.h"

#include "recognition/kxEngine.h"

#include <algorithm>
#include <cmath>

namespace kx {

TkxRecognition::TkxRecognition(TkxDisk& Disk_) : Disk(Disk_) {}

void TkxRecognition::RecognizeNext()
{
  const auto ss = static_cast<std::size_t>(Disk.SectorSize);
  Block.assign(ss, 0);
  Disk.ReadSectors(Block.data(), 1, Position);

  TkxFileEntry* last = FileList.Count > 0 ? &FileList.Items[static_cast<std::size_t>(FileList.Count - 1)] : nullptr;
  const TBlockKind found = RecognizeBlock(Block);

  if (found.Kind == Kinds::Unknown) {
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
  } else {
    AddEntry(found.Kind, found.Continues, found.Size);
  }

  // A sized file's sectors are skipped unread; everything else advances by one sector. The
  // size is the one just recognised, not the entry's grown size.
  const auto sectors = static_cast<std::int64_t>(std::ceil(static_cast<double>(found.Size) / static_cast<double>(ss)));
  Position += std::max<std::int64_t>(sectors, 1);
}

void TkxRecognition::ExtendLast(TkxFileEntry& Last)
{
  Last.Size += Disk.SectorSize;
  if (TrailerFound(Block, Last.Kind)) Last.Continues = false;
}

void TkxRecognition::AddEntry(TKind Kind, bool Continues, std::int64_t Size)
{
  std::string entryName = ScanEntryName(FileList.Count + 1);
  TKind kind = Kind;
  DescribeFoundFile(Block, entryName, kind);
  FileList.Add(std::move(entryName), kind, Position * Disk.SectorSize, Size, Continues);
}

void AcceptFoundFiles(const TkxFileList& Found, TkxFileList& Into)
{
  Into.Assign(Found);
  Into.Sort(TkxSortKey::skExtension);
}

TkxScanJob::TkxScanJob(std::unique_ptr<TkxDisk> Disk) : DiskOwned(std::move(Disk)), Recognition(*DiskOwned) {}

TkxScanOutcome TkxScanJob::Run(const std::function<void()>& Report, std::int64_t Stride)
{
  TkxScanOutcome outcome;
  const auto report = [&] {
    LastReported = Recognition.Position;
    if (Report) Report();
  };
  const std::int64_t total = DiskOwned->SectorCount;
  try {
    while (Recognition.Position < total) {
      if (StopRequest.load(std::memory_order_acquire)) break;
      Gate.WaitWhilePaused();
      if (StopRequest.load(std::memory_order_acquire)) break;
      {
        const std::lock_guard guard(StepLock);
        Recognition.RecognizeNext();
      }
      if (Recognition.Position >= LastReported + Stride) report();
    }
  } catch (const std::exception& e) {
    outcome.Error = e.what();
  }
  outcome.Stopped = outcome.Error.empty() && Recognition.Position < total;
  report();
  return outcome;
}

void TkxScanJob::AcceptInto(TkxFileList& Into)
{
  const std::lock_guard guard(StepLock);
  AcceptFoundFiles(Recognition.FileList, Into);
}

}  // namespace kx
