// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target over the image opener: one to four part files of arbitrary bytes must open as a
// simple model says (the layout from the first part's first 16 bytes, the sector count from the
// parts' total size, every sector's user data at its place in the concatenation), reads past the
// end must deliver nothing, and ReadBytes must agree with CopyToStream.
//
// Input: byte 0 gives the number of parts (1 + its low two bits), the next six bytes the sizes
// of the first three parts (16 bits each, cut to what is left), the next four bytes an offset
// and a size for the byte-range reads; the rest is the image, split into the parts.

#include "FuzzSupport.h"
#include "common/kxShared.h"
#include "media/kxDisks.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <span>
#include <string>
#include <vector>

namespace {

std::uint32_t U16(const std::uint8_t* p) { return p[0] | (std::uint32_t{p[1]} << 8); }

void Check(bool Condition)
{
  if (!Condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
  namespace fs = std::filesystem;
  constexpr std::size_t HeaderBytes = 11;
  if (Size < HeaderBytes) return 0;
  const int parts = 1 + (Data[0] & 3);
  const std::uint8_t* image = Data + HeaderBytes;
  const std::size_t imageSize = Size - HeaderBytes;

  const std::string name = (kx::fuzz::ScratchFolder() / "disc.iso").string();
  std::vector<std::size_t> sizes;
  std::size_t used = 0;
  for (int k = 0; k < parts; ++k) {
    const std::size_t left = imageSize - used;
    const std::size_t n = k == parts - 1 ? left : std::min<std::size_t>(U16(Data + 1 + 2 * k), left);
    std::ofstream(kx::PartFileName(name, k + 1), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(image + used), static_cast<std::streamsize>(n));
    sizes.push_back(n);
    used += n;
  }
  std::error_code ec;
  for (int k = parts + 1; k <= 4; ++k) fs::remove(kx::PartFileName(name, k), ec);

  // The model.
  const bool opens = sizes[0] >= kx::LayoutProbeSize;
  std::int32_t header = 0;
  std::int32_t stored = kx::UserDataSize;
  if (opens) {
    const std::span<const std::uint8_t, kx::LayoutProbeSize> probe(image, kx::LayoutProbeSize);
    switch (kx::DetectLayout(probe)) {
      case kx::TkxImageLayout::RawMode1: header = kx::RawMode1HeaderSize; stored = kx::RawSectorSize; break;
      case kx::TkxImageLayout::RawMode2: header = kx::RawMode2HeaderSize; stored = kx::RawSectorSize; break;
      case kx::TkxImageLayout::Plain: break;
    }
  }
  const std::int64_t sectors = opens ? static_cast<std::int64_t>(imageSize) / stored : 0;
  const std::int64_t end = sectors * kx::UserDataSize;
  const auto userByte = [&](std::int64_t at) -> std::uint8_t {
    if (at >= end) return 0;
    const std::int64_t sector = at / kx::UserDataSize;
    return image[sector * stored + header + at % kx::UserDataSize];
  };

  kx::TkxDiskImage disk(name);
  Check(disk.Opened == opens);
  if (!opens) return 0;
  Check(disk.SectorCount == sectors);
  Check(disk.HeaderSize == header && disk.StoredSectorSize() == stored);
  Check(disk.Parts.size() == static_cast<std::size_t>(parts));

  std::vector<std::uint8_t> block(2 * kx::UserDataSize);
  for (std::int64_t s = 0; s < sectors; ++s) {
    Check(disk.ReadSectors(block.data(), 1, s) == kx::UserDataSize);
    for (std::int64_t i = 0; i < kx::UserDataSize; ++i) Check(block[static_cast<std::size_t>(i)] == userByte(s * kx::UserDataSize + i));
  }
  // Past the end nothing is delivered; a read straddling the end delivers its first sector.
  Check(disk.ReadSectors(block.data(), 1, sectors) == 0);
  Check(disk.ReadSectors(block.data(), 1, -1) == 0);
  if (sectors > 0) Check(disk.ReadSectors(block.data(), 2, sectors - 1) == kx::UserDataSize);
  // All at once, from a fresh image so that the read-ahead starts cold.
  {
    kx::TkxDiskImage whole(name);
    std::vector<std::uint8_t> all(static_cast<std::size_t>(end) + 1);
    Check(whole.ReadSectors(all.data(), static_cast<std::int32_t>(sectors), 0) == end);
    for (std::int64_t i = 0; i < end; ++i) Check(all[static_cast<std::size_t>(i)] == userByte(i));
  }

  // A byte range that may run past the end: zeros there, the same bytes both ways.
  const std::int64_t offset = U16(Data + 7) % (end + 1);
  const std::int64_t length = U16(Data + 9) % (end - offset + 4097);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
  disk.ReadBytes(bytes.data(), offset, static_cast<std::int32_t>(length));
  kx::fuzz::TMemoryStream stream;
  disk.CopyToStream(stream, offset, length);
  Check(stream.Bytes == bytes);
  for (std::int64_t i = 0; i < length; ++i) Check(bytes[static_cast<std::size_t>(i)] == userByte(offset + i));
  return 0;
}
