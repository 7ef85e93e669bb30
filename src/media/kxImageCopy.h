// Copying a disc into an ISO image: every sector's 2048 bytes of user data back to back, split
// into parts named like the parts that the image reader joins ("%s%.2d").
#pragma once

#include "common/kxPauseGate.h"
#include "media/kxDisk.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kx {

inline constexpr std::int64_t ImagePartSize = 0x40000000;  // 1 GiB
inline constexpr std::int32_t ImageCopyChunkSectors = 32;  // the drive's largest request

// One part file being written. Close reports what the last writes could not flush.
class TkxPartStream : public TkxOutStream {
 public:
  virtual void Close() = 0;
};

// Creates (or replaces) a part file; throws EkxIOError when it cannot.
using TkxPartCreator = std::function<std::unique_ptr<TkxPartStream>(const std::string& FileName)>;
std::unique_ptr<TkxPartStream> CreatePartFile(const std::string& FileName);

struct TkxImageCopyOptions {
  // A part is closed and the next one begun once it holds at least this many bytes. Keep it a
  // multiple of the chunk (32 sectors) so that every part but the last has exactly this size.
  std::int64_t PartSize = ImagePartSize;
  // Asked before every chunk; true ends the copy and keeps what was written.
  std::function<bool()> StopRequested;
  // Waited in before every chunk (after the stop request was asked), so that a paused copy
  // holds no read or write half done.
  TkxPauseGate* PauseGate = nullptr;
  // Told the number of sectors copied after every chunk.
  std::function<void(std::int64_t SectorsDone)> Progress;
  TkxPartCreator CreatePart = CreatePartFile;
};

struct TkxImageCopyResult {
  std::int64_t SectorsDone = 0;        // sectors written to the image
  std::int64_t UnreadableSectors = 0;  // of those, the ones written as zeros
  int Parts = 0;                       // part files created, the last one possibly empty
  bool Stopped = false;                // ended by the stop request
  // Every sector written, every part closed without error, and no part file of an earlier,
  // longer image left after the last part.
  bool Complete = false;
  std::string Error;                   // why the copy ended early or is not usable
};

// Why Target, an image file name as the user gave it (before ".iso" is added), cannot be
// written; "" when it can. A name that is empty, ends with a path delimiter or names a folder
// (with or without the added ".iso") is refused: ".iso" would be added to it as a hidden file
// inside that folder, or the copy would fail only after the drive was opened.
std::string ImageTargetError(const std::string& Target);

// The line that names a copy's source and target: "Source: 'D:', target: 'disk.iso'".
std::string ImageCopySourceText(char DriveLetter, const std::string& FileName);

// The progress line of a copy: "1216/359846 sectors (702 MB)", the megabytes being the whole
// disc's size in MiB, rounded down.
std::string ImageCopyProgressText(std::int64_t SectorsDone, std::int64_t SectorCount, std::int32_t SectorSize);

// What follows the source line once a copy has ended: " - Complete" for a copy that wrote every
// sector (with the count of unreadable sectors written as zeros, when there were any) or that
// was stopped; " - Failed" for one that ended on an error, which is then shown on its own.
std::string ImageCopyEndText(const TkxImageCopyResult& Result);

// Copies Disk into FileName (part 1) and its further parts, 32 sectors per read and per write.
// Sectors that cannot be read are written as zeros and counted. The first part that cannot be
// created, the first write that fails and a disc changed in its drive (EkxMediumChanged) end the
// copy with Error set; the parts written so far stay in place.
TkxImageCopyResult CopyDiskToImage(TkxDisk& Disk, const std::string& FileName,
                                   const TkxImageCopyOptions& Options = {});

}  // namespace kx
