// SPDX-License-Identifier: GPL-3.0-or-later
// Disc image files: plain 2048-byte or raw 2352-byte sectors, in one file or split into
// numbered part files; and the choice between an image and a drive for a location text.
#pragma once

#include "common/kxPlatform.h"
#include "media/kxDisk.h"
#include "media/kxPhysicalCD.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// One part file of an image, in part order. Offsets are positions in the concatenation of all
// parts as measured when the image was opened.
struct TkxDiskImagePart {
  std::string FileName;
  std::int64_t StartOffset = 0;
  std::int64_t EndOffset = 0;
};

enum class TkxImageLayout { Plain, RawMode1, RawMode2 };

// A raw CD sector as stored: sync field, header and user data, then error correction. Mode 1
// keeps 16 bytes before the 2048 bytes of user data, mode 2 (form 1) 24, with the rest after.
inline constexpr std::int32_t RawSectorSize = 2352;
inline constexpr std::int32_t RawMode1HeaderSize = 16;
inline constexpr std::int32_t RawMode2HeaderSize = 24;
inline constexpr std::int32_t UserDataSize = 2048;
// The first bytes of an image that DetectLayout needs: the sync field and the mode byte.
inline constexpr std::size_t LayoutProbeSize = 16;

// "plain", "raw mode 1", "raw mode 2".
std::string_view LayoutName(TkxImageLayout Layout);

// The layout that the first 16 bytes of an image's first part announce: raw when they begin
// with the CD sync field and the mode byte (byte 15) is 1 or 2, plain otherwise.
TkxImageLayout DetectLayout(std::span<const std::uint8_t, LayoutProbeSize> FirstBytes);

class TkxDiskImage final : public TkxDisk {
 public:
  // Never throws: Opened tells whether at least one part was found and every part could be
  // opened and measured. No part file is left open.
  explicit TkxDiskImage(const std::string& FileName) noexcept;
  ~TkxDiskImage() override;

  std::int32_t CurrentPart = -1;  // index into Parts of the open part file, -1 when none is
  std::vector<TkxDiskImagePart> Parts;
  std::int32_t HeaderSize = 0;   // stored before each sector's user data: 0, 16 or 24
  std::int32_t TrailerSize = 0;  // stored after it: 0, 288 or 280
  bool Opened = false;
  // The bytes after the last whole stored sector, which no sector holds and nothing reads: the
  // end of a file that is no image, or of an image cut short.
  std::int64_t TrailingBytes = 0;
  // When not Opened: the part file that failed (the image's name when no single part did) and
  // why, in the system's words where it gave them.
  std::string FailedPath;
  std::string FailureReason;

  TkxImageLayout Layout() const;
  // HeaderSize + SectorSize + TrailerSize: 2048 or 2352.
  std::int32_t StoredSectorSize() const { return HeaderSize + SectorSize + TrailerSize; }

  // The parts read as one seamless concatenation. Sectors at or beyond SectorCount are not
  // delivered and leave their part of Buffer untouched. Every sector below it is delivered whole,
  // or the read throws EkxIOError: a part that shrank since opening, or a read error, is no
  // sector of zeros. Throws EkxIOError too when a part file needed for the read can no longer be
  // opened; no part is open afterwards, so the image can still be read or released.
  std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector,
                             const TkxReadOptions& How) override;

 private:
  void SetLayout(TkxImageLayout Layout);
  void OpenPart(std::int32_t Index);
  void ClosePart() noexcept;
  std::int32_t PartAt(std::int64_t Pos) const;
  void Fill(std::int64_t Pos, std::int64_t WantedEnd, TkxReadOptions::TOrder Order);
  [[noreturn]] void ThrowShortRead() const;

  os::TFileHandle PartHandle = os::NoFileHandle;  // the open read-only file of CurrentPart

  // Read-ahead: a copy of the stored bytes [AheadStart, AheadStart + AheadLength) of the
  // concatenation, so that a scan's one-sector reads cost a memory copy, not a system call.
  std::vector<std::uint8_t> Ahead;
  std::int64_t AheadStart = 0;
  std::int64_t AheadLength = 0;
  // Where the last fill of the read-ahead ended short: the part and the system's error number
  // (0 when the part simply ended early).
  struct TShortRead {
    std::int32_t Part = -1;
    int Error = 0;
  };
  TShortRead ShortRead;
};

// What a person is told of an image's trailing bytes: "the last 1500 bytes of the image make no
// whole sector (2048 bytes) and are not read"; empty when there are none.
std::string TrailingBytesText(const TkxDiskImage& Image);

// A drive name is exactly two characters, the second of which is ':'.
bool IsDriveName(std::string_view Location);

// Why a medium did not open: what the window says, and for a person at a terminal the path that
// failed and the reason ("disc.iso", "No such file or directory"), so that nobody opens the
// medium again to find out.
struct TkxOpenFailure {
  std::string Message;
  std::string Path;
  std::string Reason;
};

// Why the drive of Location (a drive name) is not usable: the drive's own message for its
// Status (PhysicalCDStatusText), and the device or the location with the reason.
TkxOpenFailure DriveOpenFailure(const std::string& Location, const TkxPhysicalCD& Drive);

// The medium at Location (a drive name or an image path), or nullptr when it cannot be opened;
// then Why, when given, says why. Its Message is the mount message, or for a drive whose disc
// cannot be read at all, that message of the drive.
std::unique_ptr<TkxDisk> OpenDisk(const std::string& Location, TkxOpenFailure* Why = nullptr);

}  // namespace kx
