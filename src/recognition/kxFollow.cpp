// SPDX-License-Identifier: GPL-3.0-or-later
// The scan's structure following: files whose format states their layout are read to their end
// from the medium when the scan meets their first sector.
#include "common/kxShared.h"
#include "recognition/kxModernKinds.h"
#include "recognition/kxRecognition.h"
#include "recognition/kxStructure.h"

#include <algorithm>

namespace kx {

bool TkxRecognition::ContinuesRecurring(const TkxFileEntry* Last, TKind Kind) const
{
  if (Last == nullptr || !Last->Continues || Last->Kind != Kind) return false;
  if (Kind == Kinds::TransportStream || Kind == Kinds::M2ts) return true;
  return Kind == Kinds::Mp3 && IsMpegAudioFrameRun(Block);
}

// A medium that fails on the way (a part file gone, a disc changed) fails the walk only: the
// scan goes on as without it and meets the failure in the sector where it lies, so that every
// sector before it is still examined.
TkxFileEnd TkxRecognition::FollowedEnd(TKind Kind, std::int64_t Start, std::span<const std::uint8_t> FirstSector)
{
  TkxDiskSource source(Disk, Start, Disk.SectorCount * Disk.SectorSize - Start, FirstSector, {.Control = Control});
  source.Control = Control;
  // Bytes of the source that earlier walks reached: only those after them are new ground.
  const std::int64_t walked = std::max<std::int64_t>(0, WalkedTo - Start);
  source.Bound = {FollowCredit, FreshWork, walked};
  TkxFileEnd end;
  try {
    end = FindFileEnd(Kind, source);
  } catch (const EkxIOError&) {
    end = {};
  }
  FollowWork = SaturatingAdd(FollowWork, source.Work());
  const std::int64_t ground = std::max<std::int64_t>(0, source.Reach() - walked);
  // What a walk spent past its bound (its last step) is owed: the next walks pay it back.
  FollowCredit -= std::max<std::int64_t>(0, source.Work() - FreshWork * ground);
  WalkedTo = std::max(WalkedTo, SaturatingAdd(Start, source.Reach()));
  if (source.StopRequested()) throw EkxStopped();
  return end;
}

bool TkxRecognition::FollowFile(TBlockKind& Found, std::int64_t Start)
{
  if (!FollowedByScan(Found.Kind)) return false;
  // Most false starts show in the sector just read, which the walk need not read again.
  const TkxFileEnd end = FollowedEnd(Found.Kind, Start, Block);
  if (end.State != TkxCheckState::Whole || end.Size <= 0) return false;
  Found = {end.Kind != 0 ? end.Kind : Found.Kind, false, end.Size};
  return true;
}

bool TkxRecognition::AddStoredImage(TBlockKind& Found)
{
  const std::int64_t ss = Disk.SectorSize;
  const std::int64_t systemArea = 16 * 2048 / ss;
  if (FileList.Count == 0 || Position < systemArea) return false;
  TkxFileEntry& last = FileList.Items[static_cast<std::size_t>(FileList.Count - 1)];
  const std::int64_t start = (Position - systemArea) * ss;
  if (!last.Continues || IsTextKind(last.Kind) || last.Offset + last.Size != Position * ss || last.Offset > start)
    return false;
  const TkxFileEnd end = FollowedEnd(Kinds::IsoImage, start);
  if (end.State != TkxCheckState::Whole) return false;
  // The entry before gives the system area back; an entry that was nothing else goes.
  if (last.Offset == start) {
    --FileList.Count;
    FileList.Items[static_cast<std::size_t>(FileList.Count)] = TkxFileEntry{};
  } else {
    last.Size -= systemArea * ss;
  }
  const std::int64_t position = Position;
  Position -= systemArea;
  AddEntry(Kinds::IsoImage, false, end.Size);
  Position = position;
  TkxFileEntry& added = FileList.Items[static_cast<std::size_t>(FileList.Count - 1)];
  added.Check = TkxCheckState::Whole;
  added.CheckedSize = end.Size;
  // The scan goes on after the image, counted from the volume descriptor's sector.
  Found = {Kinds::IsoImage, false, end.Size - systemArea * ss};
  return true;
}

}  // namespace kx
