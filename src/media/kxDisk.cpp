// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kxDisk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

namespace kx {

TkxFileStream::TkxFileStream(const std::string& FileName, TkxCreateMode Mode)
    // "x" opens with O_EXCL, which also refuses to follow a symbolic link at the name.
    : File(std::fopen(FileName.c_str(), Mode == TkxCreateMode::Exclusive ? "wbx" : "wb")), Name(FileName)
{
  if (!File) {
    const int error = errno;
    throw EkxIOError("Cannot create file \"" + FileName + "\": " + std::strerror(error), error);
  }
}

TkxFileStream::~TkxFileStream()
{
  if (File) std::fclose(File);
}

void TkxFileStream::WriteBuffer(const void* Buffer, std::int64_t Count)
{
  if (Count <= 0) return;
  if (!File) throw EkxIOError("Stream write error: \"" + Name + "\" is closed");
  const auto n = static_cast<std::size_t>(Count);
  if (std::fwrite(Buffer, 1, n, File) != n) {
    const int error = errno;
    throw EkxIOError("Stream write error on \"" + Name + "\": " + std::strerror(error), error);
  }
}

void TkxFileStream::Close()
{
  if (!File) return;
  const bool failed = std::ferror(File) != 0;
  const bool closeFailed = std::fclose(File) != 0;
  const int error = errno;
  File = nullptr;
  if (failed || closeFailed)
    throw EkxIOError("Stream write error on \"" + Name + "\": " + std::strerror(error), error);
}

void TkxDisk::ReadBytes(std::uint8_t* Buffer, std::int64_t Offset, std::int32_t Size, const TkxReadOptions& How)
{
  if (Offset < 0 || Size < 0) throw std::out_of_range("ReadBytes: negative offset or size");
  const std::int64_t ss = SectorSize;
  const std::int64_t lead = Offset % ss;
  const std::int64_t n = (Size + lead + ss - 1) / ss;
  if (n == 0) return;
  // Cleared so that sectors the medium could not deliver read as zeros, not as stale memory.
  std::vector<std::uint8_t> scratch(static_cast<std::size_t>(n * ss), 0);
  ReadSectors(scratch.data(), static_cast<std::int32_t>(n), Offset / ss, How);
  if (Size > 0) std::memcpy(Buffer, scratch.data() + lead, static_cast<std::size_t>(Size));
}

void TkxDisk::CopyToStream(TkxOutStream& Stream, std::int64_t Offset, std::int64_t Size, const TkxReadOptions& How)
{
  if (Offset < 0 || Size < 0) throw std::out_of_range("CopyToStream: negative offset or size");
  // The end of the range and of its last sector must be representable.
  if (Offset > std::numeric_limits<std::int64_t>::max() - Size - SectorSize)
    throw std::out_of_range("CopyToStream: range ends beyond the largest offset");
  const std::int64_t ss = SectorSize;
  if (Size < ss * ChunkSectors) {
    if (Size == 0) return;
    std::vector<std::uint8_t> block(static_cast<std::size_t>(Size));
    ReadBytes(block.data(), Offset, static_cast<std::int32_t>(Size), How);
    Stream.WriteBuffer(block.data(), Size);
    return;
  }

  const std::int64_t first = Offset / ss;
  const std::int64_t last = (Offset + Size - 1) / ss;
  const std::int64_t lead = Offset - first * ss;
  const std::int64_t tail = (last + 1) * ss - (Offset + Size);
  const std::int64_t chunks = (last - first + ChunkSectors) / ChunkSectors;

  std::vector<std::uint8_t> block(static_cast<std::size_t>(ss * ChunkSectors));
  for (std::int64_t i = 0; i < chunks; ++i) {
    // A file of gigabytes is many chunks; a stop must not wait for all of them.
    if (i > 0 && How.StopRequested()) throw EkxStopped();
    const std::int64_t s = first + i * ChunkSectors;
    const std::int64_t n = std::min<std::int64_t>(last - s + 1, ChunkSectors);
    std::fill_n(block.begin(), n * ss, std::uint8_t{0});
    ReadSectors(block.data(), static_cast<std::int32_t>(n), s, How);

    std::int64_t from = 0;
    std::int64_t count = n * ss;
    if (i == 0) {
      from = lead;
      count -= lead;
    }
    if (i == chunks - 1) count -= tail;
    Stream.WriteBuffer(block.data() + from, count);
  }
}

}  // namespace kx
