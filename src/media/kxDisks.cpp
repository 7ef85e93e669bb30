// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kxDisks.h"

#include "common/kxPlatform.h"
#include "common/kxShared.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

namespace kx {

namespace {

// Exists as something other than a folder: a folder named like the next part ends the series
// just as a missing file does.
bool PartExists(const std::string& Name)
{
  std::error_code ec;
  const std::filesystem::file_status st = std::filesystem::status(Name, ec);
  return !ec && std::filesystem::exists(st) && !std::filesystem::is_directory(st);
}

// Why the first part of an image is not there: the system's reason, or a folder in its place,
// which exists and so gave no error.
std::string WhyNoFirstPart(const std::string& Name)
{
  std::error_code ec;
  (void)std::filesystem::status(Name, ec);
  return ec ? ec.message() : std::strerror(EISDIR);
}

constexpr const char* NotAnImage = "cannot be read as a disc image";

std::string TooSmall(std::int64_t Size)
{
  return "too small for a disc image (" + Counted(Size, "byte") + ")";
}

constexpr std::array<std::uint8_t, 12> SyncField = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

// Stored sectors per read-ahead run, about 1 MiB: on a cached image shorter runs spend their
// time in system calls, and longer ones no longer gain.
constexpr std::int64_t AheadSectors = 512;
// Reads here and there (scattered ones) read what they ask for where they jump: a check of
// found files reads a sector or two at each file's start, and a full run for each would read
// the whole medium again. Each run that goes on from the one before is twice as long, up to a
// full one, for a check that reads a file through.
constexpr std::int64_t FirstRunSectors = 16;

}  // namespace

std::string_view LayoutName(TkxImageLayout Layout)
{
  switch (Layout) {
    case TkxImageLayout::RawMode1: return "raw mode 1";
    case TkxImageLayout::RawMode2: return "raw mode 2";
    case TkxImageLayout::Plain: break;
  }
  return "plain";
}

TkxImageLayout DetectLayout(std::span<const std::uint8_t, LayoutProbeSize> FirstBytes)
{
  if (!std::equal(SyncField.begin(), SyncField.end(), FirstBytes.begin()))
    return TkxImageLayout::Plain;
  switch (FirstBytes[15]) {
    case 1: return TkxImageLayout::RawMode1;
    case 2: return TkxImageLayout::RawMode2;
    default: return TkxImageLayout::Plain;
  }
}

TkxDiskImage::TkxDiskImage(const std::string& FileName) noexcept
{
  os::TFileHandle handle = os::NoFileHandle;
  const auto fail = [&](const std::string& Path, std::string Reason) {
    if (handle != os::NoFileHandle) os::Close(handle);
    handle = os::NoFileHandle;
    FailedPath = Path;
    FailureReason = std::move(Reason);
  };
  try {
    std::int64_t total = 0;
    for (int k = 1;; ++k) {
      const std::string name = PartFileName(FileName, k);
      if (!PartExists(name)) {
        // Only the first part must exist; the parts end at the first number that does not.
        if (k == 1) fail(name, WhyNoFirstPart(name));
        break;
      }
      handle = os::OpenRead(name);
      if (handle == os::NoFileHandle) {
        fail(name, std::strerror(errno));
        return;
      }
      // A character device such as /dev/zero measures 0 bytes and would read forever; a pipe
      // cannot be measured at all.
      const os::TFileKind kind = os::Status(handle).Kind;
      if (kind != os::TFileKind::Regular && kind != os::TFileKind::BlockDevice) {
        fail(name, NotAnImage);
        return;
      }
      const std::int64_t size = os::Size(handle);
      if (size < 0 || size > std::numeric_limits<std::int64_t>::max() - total) {
        fail(FileName, NotAnImage);
        return;
      }
      Parts.push_back({name, total, total + size});
      total += size;
      if (k == 1) {
        std::array<std::uint8_t, LayoutProbeSize> first{};
        if (os::ReadAt(handle, first.data(), first.size(), 0) != static_cast<std::int64_t>(first.size())) {
          fail(name, size < static_cast<std::int64_t>(LayoutProbeSize) ? TooSmall(size) : NotAnImage);
          return;
        }
        SetLayout(DetectLayout(first));
      }
      os::Close(handle);
      handle = os::NoFileHandle;
    }
    SectorCount = total / StoredSectorSize();
    TrailingBytes = total % StoredSectorSize();
    Opened = !Parts.empty();
  } catch (...) {
    // Only memory can run out here; the image is then simply not opened.
    fail(FileName, NotAnImage);
    SectorCount = 0;
    Opened = false;
  }
}

void TkxDiskImage::SetLayout(TkxImageLayout Layout)
{
  switch (Layout) {
    case TkxImageLayout::RawMode1:
      HeaderSize = RawMode1HeaderSize;
      TrailerSize = RawSectorSize - RawMode1HeaderSize - UserDataSize;
      break;
    case TkxImageLayout::RawMode2:
      HeaderSize = RawMode2HeaderSize;
      TrailerSize = RawSectorSize - RawMode2HeaderSize - UserDataSize;
      break;
    case TkxImageLayout::Plain: break;
  }
}

TkxDiskImage::~TkxDiskImage() { ClosePart(); }

TkxImageLayout TkxDiskImage::Layout() const
{
  switch (HeaderSize) {
    case RawMode1HeaderSize: return TkxImageLayout::RawMode1;
    case RawMode2HeaderSize: return TkxImageLayout::RawMode2;
    default: return TkxImageLayout::Plain;
  }
}

void TkxDiskImage::ClosePart() noexcept
{
  if (PartHandle != os::NoFileHandle) os::Close(PartHandle);
  PartHandle = os::NoFileHandle;
  CurrentPart = -1;
}

void TkxDiskImage::OpenPart(std::int32_t Index)
{
  ClosePart();
  const std::string& name = Parts[static_cast<std::size_t>(Index)].FileName;
  const os::TFileHandle handle = os::OpenRead(name);
  if (handle == os::NoFileHandle)
    throw EkxIOError("Cannot open file \"" + name + "\". " + std::strerror(errno));
  PartHandle = handle;
  CurrentPart = Index;
}

// The first part, in part order, that holds the byte at Pos; empty parts hold none.
std::int32_t TkxDiskImage::PartAt(std::int64_t Pos) const
{
  const auto it = std::upper_bound(Parts.begin(), Parts.end(), Pos,
                                   [](std::int64_t p, const TkxDiskImagePart& part) { return p < part.EndOffset; });
  return it == Parts.end() ? -1 : static_cast<std::int32_t>(it - Parts.begin());
}

// Reads the stored bytes from Pos on into the read-ahead buffer. The read runs past WantedEnd
// (the end of what the current request needs) only inside the part that holds WantedEnd's last
// byte, so that reading ahead never opens, or fails on, a part the request does not touch.
void TkxDiskImage::Fill(std::int64_t Pos, std::int64_t WantedEnd, TkxReadOptions::TOrder Order)
{
  const std::int64_t capacity = AheadSectors * StoredSectorSize();
  if (Ahead.empty()) Ahead.resize(static_cast<std::size_t>(capacity));
  const std::int64_t limit = SectorCount * StoredSectorSize();
  const bool goesOn = Pos == AheadStart + AheadLength && AheadLength > 0;
  std::int64_t run = capacity;
  if (Order == TkxReadOptions::TOrder::Scattered)
    run = goesOn ? std::min(capacity, std::max(2 * AheadLength, FirstRunSectors * StoredSectorSize()))
                 : std::min(capacity, WantedEnd - Pos);
  std::int64_t end = std::min(limit, Pos + run);
  if (end > WantedEnd)
    end = std::max(WantedEnd, std::min(end, Parts[static_cast<std::size_t>(PartAt(WantedEnd - 1))].EndOffset));

  AheadStart = Pos;
  AheadLength = 0;
  ShortRead = {};
  std::int64_t p = Pos;
  for (std::int32_t i = PartAt(p); p < end && i >= 0; i = PartAt(p)) {
    const TkxDiskImagePart& part = Parts[static_cast<std::size_t>(i)];
    if (i != CurrentPart) OpenPart(i);
    const std::int64_t wanted = std::min(end, part.EndOffset) - p;
    errno = 0;
    const std::int64_t got = os::ReadAt(PartHandle, Ahead.data() + (p - Pos), wanted, p - part.StartOffset);
    AheadLength += got;
    p += got;
    // A part that shrank since opening, or an unreadable spot of a device. Only what the request
    // needs is an error (ReadSectors); what follows is read again by the next request.
    if (got < wanted) {
      ShortRead = {i, errno};
      break;
    }
  }
}

std::int32_t TkxDiskImage::DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector,
                                         const TkxReadOptions& How)
{
  if (Count <= 0 || FirstSector < 0 || FirstSector >= SectorCount) return 0;
  const std::int64_t ss = SectorSize;
  const std::int64_t raw = StoredSectorSize();
  // Only whole stored sectors below SectorCount are delivered, and the count must fit the result.
  const std::int64_t n = std::min({std::int64_t{Count}, SectorCount - FirstSector,
                                   std::numeric_limits<std::int32_t>::max() / ss});
  const std::int64_t wantedEnd = (FirstSector + n - 1) * raw + HeaderSize + ss;

  std::int64_t total = 0;
  for (std::int64_t k = 0; k < n; ++k) {
    const std::int64_t pos = (FirstSector + k) * raw + HeaderSize;
    if (pos < AheadStart || pos + ss > AheadStart + AheadLength) Fill(pos, wantedEnd, How.Order);
    const std::int64_t avail = std::clamp<std::int64_t>(AheadStart + AheadLength - pos, 0, ss);
    if (avail < ss) ThrowShortRead();
    std::memcpy(Buffer + k * ss, Ahead.data() + (pos - AheadStart), static_cast<std::size_t>(ss));
    total += ss;
  }
  return static_cast<std::int32_t>(total);
}

void TkxDiskImage::ThrowShortRead() const
{
  const std::string name =
      ShortRead.Part >= 0 ? Parts[static_cast<std::size_t>(ShortRead.Part)].FileName : Parts.front().FileName;
  if (ShortRead.Error != 0)
    throw EkxIOError("Cannot read \"" + name + "\": " + std::strerror(ShortRead.Error), ShortRead.Error);
  throw EkxIOError("\"" + name + "\" is shorter than when the image was opened: it was cut or replaced");
}

std::string TrailingBytesText(const TkxDiskImage& Image)
{
  if (Image.TrailingBytes <= 0) return {};
  return "the last " + Counted(Image.TrailingBytes, "byte") + " of the image make no whole sector (" +
         std::to_string(Image.StoredSectorSize()) + " bytes) and " + (Image.TrailingBytes == 1 ? "is" : "are") +
         " not read";
}

bool IsDriveName(std::string_view Location) { return Location.size() == 2 && Location[1] == ':'; }

TkxOpenFailure DriveOpenFailure(const std::string& Location, const TkxPhysicalCD& Drive)
{
  TkxOpenFailure why{std::string(PhysicalCDStatusText(Drive.Status)), Location, {}};
  const std::string device = Location.empty() ? std::string() : DriveDevicePath(Location[0]);
  if (device.empty()) {
    why.Reason = "not a drive name (D: to Z:)";
    return why;
  }
  why.Path = device;
  switch (Drive.Status) {
    case CDNoDevice:
      why.Reason = Drive.DeviceError != 0 ? std::strerror(Drive.DeviceError) : "cannot be opened";
      break;
    case CDUnreadable: why.Reason = "the disc could not be read"; break;
    case CDNotReady: why.Reason = "no disc, or the drive is not ready"; break;
    default: why.Reason = "the drive does not answer as an optical drive"; break;
  }
  return why;
}

std::unique_ptr<TkxDisk> OpenDisk(const std::string& Location, TkxOpenFailure* Why)
{
  TkxOpenFailure failure{std::string(MountErrorMessage), Location, NotAnImage};
  // Whatever goes wrong while opening, even running out of memory, means "not opened".
  try {
    if (IsDriveName(Location)) {
      auto drive = std::make_unique<TkxPhysicalCD>(Location[0]);
      if (drive->Status == CDReady) return drive;
      failure = DriveOpenFailure(Location, *drive);
      if (drive->Status != CDUnreadable) failure.Message = MountErrorMessage;
    } else {
      auto image = std::make_unique<TkxDiskImage>(Location);
      if (image->Opened) return image;
      failure.Path = image->FailedPath;
      failure.Reason = image->FailureReason;
    }
  } catch (...) {
  }
  if (Why) *Why = std::move(failure);
  return nullptr;
}

}  // namespace kx
