// SPDX-License-Identifier: GPL-3.0-or-later
// The sector source: every medium (an image file, an optical drive) is a run of SectorCount
// sectors of SectorSize bytes of user data, numbered from 0.
#pragma once

#include "common/kxJobControl.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace kx {

// Memory that a drive reads into. Linux passes a SCSI transfer straight to the drive only when
// the buffer meets the drive's DMA alignment (512 bytes for ATAPI through libata), and otherwise
// copies every transfer through pages of its own; a page-aligned buffer meets any of them.
template <class T>
struct TkxPageAllocator {
  using value_type = T;
  static constexpr std::size_t Alignment = 4096;

  TkxPageAllocator() = default;
  template <class U>
  TkxPageAllocator(const TkxPageAllocator<U>&) noexcept
  {
  }
  T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t{Alignment})); }
  void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, std::align_val_t{Alignment}); }
  template <class U>
  bool operator==(const TkxPageAllocator<U>&) const noexcept
  {
    return true;
  }
};
using TkxTransferBuffer = std::vector<std::uint8_t, TkxPageAllocator<std::uint8_t>>;

// A file or device could not be opened, read or written. Raised by a medium whose part file
// vanished after opening and by output streams that could not take all bytes offered.
class EkxIOError : public std::runtime_error {
 public:
  explicit EkxIOError(const std::string& What, int Error_ = 0) : std::runtime_error(What), Error(Error_) {}
  // The system's error number when one caused the failure (ENOSPC for a full disk), else 0.
  int Error;
};

inline constexpr const char* MediumChangedMessage = "The disc was changed during the operation.";

// The disc in a drive was changed or taken out after it was opened: whatever is read from then
// on belongs to another disc, or to none. A scan or copy ends with this message and keeps what it
// did so far.
class EkxMediumChanged : public EkxIOError {
 public:
  EkxMediumChanged() : EkxIOError(MediumChangedMessage) {}
};

// A job was asked to stop while one read was sending its commands (on a damaged disc one read may
// send many, each of which can take a minute): the read ends unfinished and delivers nothing.
class EkxStopped : public std::runtime_error {
 public:
  EkxStopped() : std::runtime_error("Stopped") {}
};

// Where CopyToStream writes. WriteBuffer writes all Count bytes or throws EkxIOError.
class TkxOutStream {
 public:
  virtual ~TkxOutStream() = default;
  virtual void WriteBuffer(const void* Buffer, std::int64_t Count) = 0;
};

// An output stream over a new file. The constructor creates (or truncates) the file and throws
// EkxIOError when it cannot; Close reports a failed final flush, which a full disk often
// causes, so callers that must know the file is complete call it rather than rely on the
// destructor.
enum class TkxCreateMode : std::uint8_t {
  Replace,    // an existing file of the name is truncated
  Exclusive,  // the name must not exist yet, not even as a dangling link: EEXIST otherwise
};

class TkxFileStream final : public TkxOutStream {
 public:
  explicit TkxFileStream(const std::string& FileName, TkxCreateMode Mode = TkxCreateMode::Replace);
  ~TkxFileStream() override;
  TkxFileStream(const TkxFileStream&) = delete;
  TkxFileStream& operator=(const TkxFileStream&) = delete;

  void WriteBuffer(const void* Buffer, std::int64_t Count) override;
  void Close();

 private:
  std::FILE* File;
  std::string Name;
};

// How the reads of one job go. A job makes its own and hands it to every read, so that two jobs
// over one medium never see each other's order or stop.
struct TkxReadOptions {
  // Front to back, sector after sector (a scan, a copy), or here and there, a few sectors at each
  // place (a check of found files). A medium that reads ahead reads far ahead only for the first.
  enum class TOrder : std::uint8_t { Sequential, Scattered };
  TOrder Order = TOrder::Sequential;
  // The job's control, asked between the commands of one read, of which a damaged disc may make
  // many, and between the chunks of a copy; a stop ends the read or the copy with EkxStopped.
  // None: the read runs to its end.
  const TkxJobControl* Control = nullptr;

  bool StopRequested() const { return Control != nullptr && Control->StopRequested(); }
};

class TkxDisk {
 public:
  virtual ~TkxDisk() = default;
  TkxDisk(const TkxDisk&) = delete;
  TkxDisk& operator=(const TkxDisk&) = delete;

  std::int32_t SectorSize = 2048;
  std::int64_t SectorCount = 0;

  // Reads Count sectors from FirstSector into Buffer (Count * SectorSize bytes) and returns the
  // number of bytes of the sectors that were read; 0 when nothing could be read. Unreadable
  // sectors are not an error: a drive delivers them as zeros and leaves them out of the count. A
  // medium that became unusable throws EkxIOError (a vanished part file) or EkxMediumChanged (a
  // disc changed in its drive); a read cut short by a stop of How's control throws EkxStopped.
  std::int32_t ReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector,
                           const TkxReadOptions& How = {})
  {
    return DoReadSectors(Buffer, Count, FirstSector, How);
  }

  // The Size bytes of the medium from byte Offset. Bytes of sectors that could not be read
  // are delivered as zeros. Throws std::out_of_range for a negative Offset or Size.
  void ReadBytes(std::uint8_t* Buffer, std::int64_t Offset, std::int32_t Size, const TkxReadOptions& How = {});

  // Writes the Size bytes of the medium from byte Offset to Stream, reading at most 1000
  // sectors at a time so that memory stays bounded whatever the range. Throws
  // std::out_of_range for a negative Offset or Size or a range whose end overflows; passes on
  // the errors of the medium and of the stream. Asks How's control between chunks, and throws
  // EkxStopped when it was stopped.
  void CopyToStream(TkxOutStream& Stream, std::int64_t Offset, std::int64_t Size, const TkxReadOptions& How = {});

  // Sectors per chunk of a long copy.
  static constexpr std::int32_t ChunkSectors = 1000;

 protected:
  TkxDisk() = default;
  // The read of a medium: see ReadSectors.
  virtual std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector,
                                     const TkxReadOptions& How) = 0;
};

}  // namespace kx
