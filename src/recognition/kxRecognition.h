// The scan: walks a medium sector by sector from sector 0 and builds the list of found files.
#pragma once

#include "media/kxDisk.h"
#include "project/kxFileList.h"
#include "recognition/kxEngine.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kx {

class TkxRecognition {
 public:
  // Disk is not owned and must outlive the last RecognizeNext call.
  explicit TkxRecognition(TkxDisk& Disk_);
  TkxRecognition(const TkxRecognition&) = delete;
  TkxRecognition& operator=(const TkxRecognition&) = delete;

  TkxFileList FileList;
  TkxDisk& Disk;
  // The next sector to examine; never decreases. Counted in 64 bits so that a medium beyond
  // 2^31 sectors (a large block device read as an image) cannot wrap it.
  std::int64_t Position = 0;

  // Examines the sector at Position, adds an entry or lengthens the last one, and advances
  // Position past the sector, or past the whole file when its header states the length.
  // Call only while Position < Disk.SectorCount. When the medium raises an error, Position and
  // the list stay as they were.
  void RecognizeNext();

 private:
  void AddEntry(TKind Kind, bool Continues, std::int64_t Size);
  void ExtendLast(TkxFileEntry& Last);
  bool ContinuesStream(const TkxFileEntry* Last, const std::optional<TPackClock>& Clock) const;

  // A program stream repeats its pack header in nearly every sector. The clock of the last pack
  // of the open ".vob" entry tells whether a pack goes on that stream or a new stream begins: a
  // stream's clock never runs backwards, and the next stream's starts again near zero.
  // StreamEntry is that entry's index, or -1 when there is none or its last pack's clock could
  // not be read.
  std::int32_t StreamEntry = -1;
  TPackClock StreamClock;

  // Reused between calls so that a scan does not allocate per sector; cleared before each read
  // so that an unreadable sector is examined as zeros.
  std::vector<std::uint8_t> Block;
};

}  // namespace kx
