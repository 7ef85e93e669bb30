// SPDX-License-Identifier: GPL-3.0-or-later
// Copying a disc into an ISO image: every sector's 2048 bytes of user data back to back, split
// into parts named like the parts that the image reader joins ("%s%.2d").
#pragma once

#include "common/kxJob.h"
#include "common/kxJobControl.h"
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
  // Asked before every chunk whether to end (keeping what was written); a paused copy waits
  // there, holding no read or write half done.
  TkxJobControl* Control = nullptr;
  // Told the number of sectors copied after every chunk.
  std::function<void(std::int64_t SectorsDone)> Progress;
  TkxPartCreator CreatePart = CreatePartFile;
};

struct TkxImageCopyResult {
  // Stopped on request, or failed with why the copy ended early or is not usable.
  TkxJobOutcome Outcome;
  std::int64_t SectorsDone = 0;        // sectors written to the image
  std::int64_t UnreadableSectors = 0;  // of those, the ones written as zeros
  int Parts = 0;                       // part files created, the last one possibly empty
  // Every sector written, every part closed without error, and no part file of an earlier,
  // longer image left after the last part.
  bool Complete = false;
};

// Why Target, an image file name as the user gave it (before ".iso" is added), cannot be
// written; "" when it can. A name that is empty, ends with a path delimiter or names a folder
// (with or without the added ".iso") is refused: ".iso" would be added to it as a hidden file
// inside that folder, or the copy would fail only after the drive was opened.
std::string ImageTargetError(const std::string& Target);

// The image file that a name typed or chosen by the user stands for, decided before the drive
// is opened.
struct TkxImageTarget {
  std::string FileName;     // the name with ".iso" added when it has no extension
  std::string Error;        // ImageTargetError: why no image can be written there; "" when it can
  // ".iso" turned the name into that of something that exists, which a save dialog asking about
  // the name as typed did not see: the caller asks before it is replaced, or replaces it.
  bool AskReplace = false;
};
TkxImageTarget ResolveImageTarget(const std::string& Typed);

// The line that names a copy's source and target: "Source: 'D:', target: 'disk.iso'".
std::string ImageCopySourceText(char DriveLetter, const std::string& FileName);

// The progress line of a copy: "1216/359846 sectors (702 MB)", the megabytes being the whole
// disc's size in MiB, rounded down.
std::string ImageCopyProgressText(std::int64_t SectorsDone, std::int64_t SectorCount, std::int32_t SectorSize);

// What follows the source line once a copy has ended: " - Complete" for a copy that wrote every
// sector or that was stopped; " - Failed" for one that ended on an error, which is then shown on
// its own.
std::string ImageCopyEndText(const TkxImageCopyResult& Result);

// The progress line once a copy has ended: its final figures, or, where sectors could not be
// read, how many were written as zeros ("128 unreadable sectors were written as zeros."), which
// the source line has no room for.
std::string ImageCopyEndFigures(const TkxImageCopyResult& Result, std::int64_t SectorCount, std::int32_t SectorSize);

// Copies Disk into FileName (part 1) and its further parts, 32 sectors per read and per write.
// Sectors that cannot be read are written as zeros and counted. The first part that cannot be
// created, the first write that fails and a disc changed in its drive (EkxMediumChanged) end the
// copy failed; the parts written so far stay in place.
TkxImageCopyResult CopyDiskToImage(TkxDisk& Disk, const std::string& FileName,
                                   const TkxImageCopyOptions& Options = {});

// A drive and its copy into an image, kept together for as long as anyone holds them: the
// worker that runs the copy and the window that shows it may let go in either order.
class TkxCopyJob {
 public:
  TkxCopyJob(std::unique_ptr<TkxDisk> Disk, std::string FileName_);
  TkxCopyJob(const TkxCopyJob&) = delete;
  TkxCopyJob& operator=(const TkxCopyJob&) = delete;

  const std::string FileName;
  // The drive's geometry, kept for the display after the drive has been released.
  const std::int32_t SectorSize;
  const std::int64_t SectorCount;
  // Where the parts are created; tests put a log of their own here.
  TkxPartCreator CreatePart = CreatePartFile;

  // CopyDiskToImage of the drive into FileName on the calling thread, asking Control before
  // every chunk; Progress is told the sectors copied after each. The drive is released as soon
  // as the copy ends. A job runs once.
  TkxImageCopyResult Run(TkxJobControl& Control, const TkxProgressSink<std::int64_t>& Progress = {});

 private:
  std::unique_ptr<TkxDisk> Disk;
};

}  // namespace kx
