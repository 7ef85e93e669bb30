// SPDX-License-Identifier: GPL-3.0-or-later
// The end finders of each format, behind FindFileEnd (kxStructure.h). Each reads the file from
// its first byte through a byte source and tells where its structure ends.
#pragma once

#include "recognition/kxBytes.h"
#include "recognition/kxStructure.h"

#include <array>
#include <cstdint>
#include <optional>

namespace kx::ends {

inline TkxFileEnd Whole(std::int64_t Size, TKind Kind = 0) { return {TkxCheckState::Whole, Size, Kind}; }
inline TkxFileEnd Truncated(std::int64_t Size, TKind Kind = 0) { return {TkxCheckState::Truncated, Size, Kind}; }
inline TkxFileEnd Damaged(std::int64_t Size, TKind Kind = 0) { return {TkxCheckState::Damaged, Size, Kind}; }
inline TkxFileEnd Unknown() { return {}; }

// Whole when the stated end lies within the bytes at hand, else truncated at the stated end;
// a header that states no bytes at all is damaged.
inline TkxFileEnd EndAt(TkxByteSource& Src, std::int64_t End, TKind Kind = 0)
{
  if (End <= 0) return Damaged(0, Kind);
  return End <= Src.Size() ? Whole(End, Kind) : Truncated(End, Kind);
}

// N bytes from Pos, or none when they do not lie below the source's size.
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> ReadArray(TkxByteSource& Src, std::int64_t Pos)
{
  std::array<std::uint8_t, N> a{};
  if (Pos < 0 || !Src.Read(Pos, a.data(), N)) return std::nullopt;
  return a;
}

// The CRC-32 (zlib's) of N bytes from Pos; none when they do not all lie in the source.
std::optional<std::uint32_t> Crc32Of(TkxByteSource& Src, std::int64_t Pos, std::int64_t N);

// The end of a deflate stream from From: zlib-wrapped (Gzip false: the body of a compressed
// Flash movie) or gzip members one after the other (Gzip true). Damaged where the decoder fails.
TkxFileEnd InflateEnd(TkxByteSource& Src, std::int64_t From, bool Gzip);

// Headers, tables and sized formats (kxStructure.cpp).
TkxFileEnd RiffEnd(TkxByteSource& Src);
TkxFileEnd SizedEnd(TkxByteSource& Src, TKind Kind);
TkxFileEnd SevenZipEnd(TkxByteSource& Src);
TkxFileEnd SqliteEnd(TkxByteSource& Src);
TkxFileEnd IfoEnd(TkxByteSource& Src);
TkxFileEnd IsoEnd(TkxByteSource& Src);
TkxFileEnd FlashEnd(TkxByteSource& Src);

// Programs, compound documents and fonts: tables of sections (kxProgramEnds.cpp).
TkxFileEnd ElfEnd(TkxByteSource& Src);
TkxFileEnd PeEnd(TkxByteSource& Src);
TkxFileEnd OleEnd(TkxByteSource& Src);
TkxFileEnd SfntEnd(TkxByteSource& Src);

// Media containers (kxMediaEnds.cpp) and pictures (kxPictureEnds.cpp).
TkxFileEnd BoxesEnd(TkxByteSource& Src);
TkxFileEnd MatroskaEnd(TkxByteSource& Src);
TkxFileEnd OggEnd(TkxByteSource& Src);
TkxFileEnd Mp3End(TkxByteSource& Src);
TkxFileEnd FlacEnd(TkxByteSource& Src);  // kxFlacEnds.cpp
TkxFileEnd TransportEnd(TkxByteSource& Src, std::size_t Stride);
TkxFileEnd ProgramStreamEnd(TkxByteSource& Src);
TkxFileEnd AsfEnd(TkxByteSource& Src);
TkxFileEnd TiffEnd(TkxByteSource& Src);
TkxFileEnd JpegEnd(TkxByteSource& Src);
TkxFileEnd PngEnd(TkxByteSource& Src);
TkxFileEnd GifEnd(TkxByteSource& Src);
TkxFileEnd PhotoshopEnd(TkxByteSource& Src);

// Archives, compressed streams and documents (kxArchiveEnds.cpp).
TkxFileEnd ZipEnd(TkxByteSource& Src);
TkxFileEnd TarEnd(TkxByteSource& Src);
TkxFileEnd GzipEnd(TkxByteSource& Src);
TkxFileEnd Bzip2End(TkxByteSource& Src);
TkxFileEnd XzEnd(TkxByteSource& Src);
TkxFileEnd ZstdEnd(TkxByteSource& Src);
// ScanSize as FindFileEnd takes it: [2048, ScanSize - 2048) holds no marker.
TkxFileEnd PdfEnd(TkxByteSource& Src, std::int64_t ScanSize = -1);

}  // namespace kx::ends
