// SPDX-License-Identifier: GPL-3.0-or-later
#include "recognition/kxStructure.h"
#include "common/kxShared.h"

#include "recognition/kxEndFinders.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace kx {

using namespace kx::bytes;
using namespace std::string_view_literals;

std::span<const std::uint8_t> TkxByteSource::View(std::int64_t Pos, std::size_t MaxBytes)
{
  if (GivenUp()) return {};
  Spend(ViewCost);
  const std::span<const std::uint8_t> v = Serve(Pos, MaxBytes);
  if (!v.empty()) {
    const std::int64_t end = Pos + static_cast<std::int64_t>(v.size());
    if (end > Reached) Spend(end - std::max(Pos, Reached));
    Reached = std::max(Reached, end);
  }
  // Checked after the work is counted: what passed the bound is handed over, nothing after it.
  const std::int64_t ground = std::max<std::int64_t>(0, Reached - Bound.From);
  const std::int64_t allowed = Bound.PerByte > 0 && ground > INT64_MAX / Bound.PerByte
                                    ? INT64_MAX
                                    : SaturatingAdd(Bound.Base, Bound.PerByte * ground);
  OverBound = OverBound || Spent > allowed;
  return v;
}

void TkxByteSource::Spend(std::int64_t Units) { Spent = SaturatingAdd(Spent, std::max<std::int64_t>(Units, 0)); }

bool TkxByteSource::Read(std::int64_t Pos, std::uint8_t* Out, std::size_t N)
{
  if (Pos < 0 || Pos > Size() || static_cast<std::uint64_t>(Size() - Pos) < N) return false;
  Spend(static_cast<std::int64_t>(N));
  while (N > 0) {
    const std::span<const std::uint8_t> v = View(Pos, N);
    if (v.empty()) return false;
    std::memcpy(Out, v.data(), v.size());
    Out += v.size();
    Pos += static_cast<std::int64_t>(v.size());
    N -= v.size();
  }
  return true;
}

std::span<const std::uint8_t> TkxMemorySource::Serve(std::int64_t Pos, std::size_t MaxBytes)
{
  if (Pos < 0 || Pos >= Size()) return {};
  const auto at = static_cast<std::size_t>(Pos);
  return Bytes.subspan(at, std::min(MaxBytes, Bytes.size() - at));
}

namespace {
// Sectors read at once: the first read takes what it needs (most files that are no file
// show it in their first sector), each further one twice as many as the one before, up to
// the most, so that a walk over small headers and a search through a long file cost few reads.
constexpr std::int64_t MaxRunSectors = 128;
}  // namespace

TkxDiskSource::TkxDiskSource(TkxDisk& Disk_, std::int64_t Start_, std::int64_t Length_,
                             std::span<const std::uint8_t> FirstSector, const TkxReadOptions& How_)
    : Disk(Disk_), How(How_), Start(Start_), Length(std::max<std::int64_t>(0, Length_))
{
  if (!FirstSector.empty() && FirstSector.size() == static_cast<std::size_t>(Disk.SectorSize) && Start % Disk.SectorSize == 0) {
    Cache.assign(FirstSector.begin(), FirstSector.end());
    CacheAt = Start;
    CacheBytes = Disk.SectorSize;
  }
}

std::span<const std::uint8_t> TkxDiskSource::Serve(std::int64_t Pos, std::size_t MaxBytes)
{
  if (Pos < 0 || Pos >= Length || MaxBytes == 0) return {};
  const std::int64_t want = std::min<std::int64_t>(static_cast<std::int64_t>(std::min<std::size_t>(MaxBytes, INT32_MAX)), Length - Pos);
  const std::int64_t at = Start + Pos;
  // Served whole from the run in memory, or from a run read anew from the sector of Pos on.
  if (CacheAt < 0 || at < CacheAt || at + want > CacheAt + CacheBytes) {
    const std::int64_t ss = Disk.SectorSize;
    const std::int64_t first = at / ss;
    const std::int64_t needed = (at % ss + want + ss - 1) / ss;
    // Not past the source: a search bounded by the next file reads no sector of it. The end is
    // held at the largest offset: a project's entry may state any size.
    const std::int64_t end = SaturatingAdd(Start, Length);
    const std::int64_t sourceEnd = end / ss + (end % ss != 0 ? 1 : 0);
    const std::int64_t count =
        std::min({std::max(needed, RunSectors), MaxRunSectors, Disk.SectorCount - first, sourceEnd - first});
    RunSectors = std::min(RunSectors * 2, MaxRunSectors);
    if (count <= 0) return {};
    Cache.assign(static_cast<std::size_t>(count * ss), 0);  // unreadable sectors read as zeros
    Disk.ReadSectors(Cache.data(), static_cast<std::int32_t>(count), first, How);
    SectorsRead += count;
    Spend(count * ss);
    CacheAt = first * ss;
    CacheBytes = count * ss;
  }
  const std::int64_t offset = at - CacheAt;
  const std::int64_t n = std::min(want, CacheBytes - offset);
  return {Cache.data() + offset, static_cast<std::size_t>(n)};
}

namespace ends {

TkxFileEnd RiffEnd(TkxByteSource& Src)
{
  const auto h = ReadArray<12>(Src, 0);
  if (!h || !Has(*h, 0, "RIFF"sv)) return Damaged(0);
  const TKind kind = Has(*h, 8, "WEBP"sv) ? Kinds::WebP : TKind{0};
  const std::int64_t end = std::int64_t{U32LE(*h, 4)} + 8;
  // The chunks must fill the form; a last chunk's pad byte is sometimes left out of the size.
  for (std::int64_t pos = 12; pos + 8 <= end;) {
    const auto c = ReadArray<8>(Src, pos);
    if (!c) return Truncated(end, kind);
    if (!IsTypeCode(*c, 0)) return Damaged(pos, kind);
    const std::int64_t size = U32LE(*c, 4);
    if (pos + 8 + size + (size & 1) > end + 1) return Damaged(pos, kind);
    pos += 8 + size + (size & 1);
  }
  return EndAt(Src, end, kind);
}

namespace {

TkxFileEnd IconEnd(TkxByteSource& Src)
{
  const auto h = ReadArray<6>(Src, 0);
  if (!h) return Unknown();
  std::uint32_t end = 0;
  for (std::uint32_t i = 0; i < U16LE(*h, 4); ++i) {
    const auto e = ReadArray<16>(Src, 6 + 16 * std::int64_t{i});
    if (!e) return Truncated(6 + 16 * (std::int64_t{i} + 1));
    end = std::max(end, U32LE(*e, 12) + U32LE(*e, 8));
  }
  return EndAt(Src, end);
}

// A standard MIDI file: its header chunk and the track chunks after it.
TkxFileEnd MidiEnd(TkxByteSource& Src)
{
  std::int64_t pos = 0;
  for (bool first = true;; first = false) {
    const auto c = ReadArray<8>(Src, pos);
    if (!c || !Has(*c, 0, first ? "MThd"sv : "MTrk"sv)) return first ? Damaged(0) : Whole(pos);
    pos += 8 + std::int64_t{U32BE(*c, 4)};
    if (pos > Src.Size()) return Truncated(pos);
  }
}

}  // namespace

TkxFileEnd SizedEnd(TkxByteSource& Src, TKind Kind)
{
  const auto h = ReadArray<12>(Src, 0);
  if (!h) return Unknown();
  switch (Kind) {
    case Kinds::Bitmap: return EndAt(Src, U32LE(*h, 2));
    case Kinds::Icon:
    case Kinds::Cursor: return IconEnd(Src);
    case 34: return EndAt(Src, U32LE(*h, 8));                      // Microsoft cabinet
    case 46: return EndAt(Src, std::int64_t{U32BE(*h, 4)} + 8);    // AIFF
    case 48:                                                       // Sun audio; ~0: size unknown
      return U32BE(*h, 8) == 0xFFFFFFFF ? Unknown() : EndAt(Src, std::int64_t{U32BE(*h, 4)} + U32BE(*h, 8));
    case 50: return MidiEnd(Src);
    default: return RiffEnd(Src);
  }
}

std::optional<std::uint32_t> Crc32Of(TkxByteSource& Src, std::int64_t Pos, std::int64_t N)
{
  uLong crc = crc32(0, nullptr, 0);
  while (N > 0) {
    const auto v = Src.View(Pos, static_cast<std::size_t>(std::min<std::int64_t>(N, 1 << 16)));
    if (v.empty()) return std::nullopt;
    crc = crc32(crc, v.data(), static_cast<uInt>(v.size()));
    Pos += static_cast<std::int64_t>(v.size());
    N -= static_cast<std::int64_t>(v.size());
  }
  return static_cast<std::uint32_t>(crc);
}

// The signature header points to the header at the archive's end; both carry CRCs.
TkxFileEnd SevenZipEnd(TkxByteSource& Src)
{
  const auto h = ReadArray<32>(Src, 0);
  if (!h) return Truncated(32);
  if (Crc32Of(Src, 12, 20) != U32LE(*h, 8)) return Damaged(0);
  const std::uint64_t offset = U64LE(*h, 12), size = U64LE(*h, 20);
  if (offset > (1ull << 48) || size > (1ull << 32)) return Damaged(0);
  const auto end = static_cast<std::int64_t>(32 + offset + size);
  if (end > Src.Size()) return Truncated(end);
  if (Crc32Of(Src, static_cast<std::int64_t>(32 + offset), static_cast<std::int64_t>(size)) != U32LE(*h, 28))
    return Damaged(static_cast<std::int64_t>(32 + offset));
  return Whole(end);
}

// The page size times the page count, where the header's count is known to be current.
TkxFileEnd SqliteEnd(TkxByteSource& Src)
{
  const auto h = ReadArray<100>(Src, 0);
  if (!h) return Truncated(100);
  const std::uint32_t field = U16BE(*h, 16);
  const std::int64_t page = field == 1 ? 65536 : field;
  if (page < 512 || page > 65536 || (page & (page - 1)) != 0) return Damaged(0);
  const std::uint32_t pages = U32BE(*h, 28);
  if (pages == 0 || U32BE(*h, 24) != U32BE(*h, 92)) return Unknown();
  return EndAt(Src, page * pages);
}

TkxFileEnd IfoEnd(TkxByteSource& Src)
{
  const auto h = ReadArray<32>(Src, 0);
  if (!h || U32BE(*h, 0x1C) > 0xFFFF) return Damaged(0);
  return EndAt(Src, (std::int64_t{U32BE(*h, 0x1C)} + 1) * 2048);
}

// An image of an ISO 9660 file system: the volume's block count times its block size. The
// entry begins at the volume descriptor or at the system area 32 KiB before it. The root
// directory's first record must point to itself, as it does only where the image begins
// there: a later session of a multisession disc counts its blocks from the disc's start.
TkxFileEnd IsoEnd(TkxByteSource& Src)
{
  constexpr std::int64_t SystemArea = 16 * 2048;
  std::int64_t base = 0;  // where the image begins, from the entry's first byte
  auto d = ReadArray<190>(Src, 0);
  if (d && Has(*d, 0, "\x01" "CD001"sv)) {
    base = -SystemArea;
  } else {
    d = ReadArray<190>(Src, SystemArea);
    if (!d || !Has(*d, 0, "\x01" "CD001"sv)) return Damaged(0);
  }
  const std::int64_t block = U16LE(*d, 128);
  if (block != 512 && block != 1024 && block != 2048) return Damaged(0);
  const std::uint32_t root = U32LE(*d, 158);
  const auto r = ReadArray<34>(Src, base + root * block);
  if (!r || (*r)[0] < 34 || U32LE(*r, 2) != root || ((*r)[25] & 2) == 0) return Damaged(0);
  return EndAt(Src, base + U32LE(*d, 80) * block);
}

TkxFileEnd FlashEnd(TkxByteSource& Src)
{
  const auto h = ReadArray<9>(Src, 0);
  if (!h) return Unknown();
  if (Has(*h, 0, "FWS"sv)) return EndAt(Src, U32LE(*h, 4));
  if (Has(*h, 0, "CWS"sv)) return InflateEnd(Src, 8, false);
  if (!Has(*h, 0, "FLV"sv)) return Unknown();
  // FLV: tags of audio, video and script data, each followed by its own size.
  std::int64_t pos = std::int64_t{U32BE(*h, 5)} + 4;
  for (;;) {
    const auto t = ReadArray<11>(Src, pos);
    const std::uint32_t type = t ? (*t)[0] & 0x1F : 0;
    if (!t || (type != 8 && type != 9 && type != 18)) return pos <= Src.Size() ? Whole(pos, Kinds::Flv) : Truncated(pos, Kinds::Flv);
    const std::int64_t next = pos + 11 + U24BE(*t, 1);
    const auto back = ReadArray<4>(Src, next);
    if (!back) return Truncated(next + 4, Kinds::Flv);
    if (U32BE(*back, 0) != next - pos) return Damaged(pos, Kinds::Flv);
    pos = next + 4;
  }
}

}  // namespace ends

TkxEndReach EndReach(TKind Kind)
{
  switch (Kind) {
    case Kinds::Jpeg: case Kinds::Png: case Kinds::Gif: case Kinds::Pdf: case Kinds::Gzip:
    case Kinds::Bzip2: case Kinds::Xz: case Kinds::Zstd: case Kinds::Mp3: case Kinds::ProgramStream:
    case Kinds::TransportStream: case Kinds::M2ts: case Kinds::Ogg: case Kinds::Flac:
      return TkxEndReach::Content;
    case Kinds::Zip: case Kinds::SevenZip: case Kinds::Sqlite: case Kinds::Elf: case Kinds::Executable:
    case Kinds::Dll: case Kinds::Office: case Kinds::TrueType: case Kinds::OpenType: case Kinds::DvdIfo:
    case Kinds::IsoImage: case Kinds::Flash: case Kinds::Tiff: case Kinds::QuickTime: case Kinds::Mp4:
    case Kinds::M4a: case Kinds::ThreeGp: case Kinds::Heic: case Kinds::Avif: case Kinds::Matroska:
    case Kinds::WebM: case Kinds::Tar: case Kinds::Asf: case Kinds::Photoshop: case 34: case 46: case 48: case 50:
      return TkxEndReach::Headers;
    default:
      return IsSizedKind(Kind) ? TkxEndReach::Headers : TkxEndReach::None;
  }
}

bool FollowedByScan(TKind Kind)
{
  switch (Kind) {
    case Kinds::QuickTime: case Kinds::Mp4: case Kinds::M4a: case Kinds::ThreeGp: case Kinds::Heic:
    case Kinds::Avif: case Kinds::Matroska: case Kinds::WebM: case Kinds::Ogg: case Kinds::Zip:
    case Kinds::Tiff: case Kinds::TransportStream: case Kinds::M2ts: case Kinds::IsoImage:
      return true;
    default:
      return false;
  }
}

namespace {

TkxFileEnd FindEndOf(TKind Kind, TkxByteSource& Source, std::int64_t ScanSize)
{
  using namespace ends;
  switch (Kind) {
    case Kinds::Jpeg: return JpegEnd(Source);
    case Kinds::Png: return PngEnd(Source);
    case Kinds::Gif: return GifEnd(Source);
    case Kinds::Pdf: return PdfEnd(Source, ScanSize);
    case Kinds::Gzip: return GzipEnd(Source);
    case Kinds::Bzip2: return Bzip2End(Source);
    case Kinds::Xz: return XzEnd(Source);
    case Kinds::Zstd: return ZstdEnd(Source);
    case Kinds::Mp3: return Mp3End(Source);
    case Kinds::Flac: return FlacEnd(Source);
    case Kinds::ProgramStream: return ProgramStreamEnd(Source);
    case Kinds::Asf: return AsfEnd(Source);
    case Kinds::Photoshop: return PhotoshopEnd(Source);
    case Kinds::TransportStream: return TransportEnd(Source, 188);
    case Kinds::M2ts: return TransportEnd(Source, 192);
    case Kinds::Tar: return TarEnd(Source);
    case Kinds::Ogg: return OggEnd(Source);
    case Kinds::Zip: return ZipEnd(Source);
    case Kinds::SevenZip: return SevenZipEnd(Source);
    case Kinds::Sqlite: return SqliteEnd(Source);
    case Kinds::Elf: return ElfEnd(Source);
    case Kinds::Executable: case Kinds::Dll: return PeEnd(Source);
    case Kinds::Office: return OleEnd(Source);
    case Kinds::TrueType: case Kinds::OpenType: return SfntEnd(Source);
    case Kinds::DvdIfo: return IfoEnd(Source);
    case Kinds::IsoImage: return IsoEnd(Source);
    case Kinds::Flash: return FlashEnd(Source);
    case Kinds::Tiff: return TiffEnd(Source);
    case Kinds::Matroska: case Kinds::WebM: return MatroskaEnd(Source);
    case Kinds::QuickTime: case Kinds::Mp4: case Kinds::M4a: case Kinds::ThreeGp: case Kinds::Heic:
    case Kinds::Avif: return BoxesEnd(Source);
    default: return EndReach(Kind) == TkxEndReach::Headers ? SizedEnd(Source, Kind) : Unknown();
  }
}

}  // namespace

TkxFileEnd FindFileEnd(TKind Kind, TkxByteSource& Source, std::int64_t ScanSize)
{
  return FindFileEnd(Kind, Source, ScanSize, BuiltDecoders());
}

TkxDecoders BuiltDecoders()
{
  return (KX_HAVE_BZIP2 ? Decoders::Bzip2 : 0) | (KX_HAVE_LZMA ? Decoders::Xz : 0) | (KX_HAVE_ZSTD ? Decoders::Zstd : 0);
}

TkxDecoders DecoderNeeded(TKind Kind)
{
  switch (Kind) {
    case Kinds::Bzip2: return Decoders::Bzip2;
    case Kinds::Xz: return Decoders::Xz;
    case Kinds::Zstd: return Decoders::Zstd;
    default: return 0;
  }
}

std::string DecoderNames(TkxDecoders Have)
{
  std::string names = "zlib";
  for (const auto& [bit, name] : {std::pair{Decoders::Bzip2, "bzip2"}, {Decoders::Xz, "xz"}, {Decoders::Zstd, "zstd"}})
    if ((Have & bit) != 0) names += std::string(", ") + name;
  return names;
}

TkxFileEnd FindFileEnd(TKind Kind, TkxByteSource& Source, std::int64_t ScanSize, TkxDecoders Have)
{
  if ((DecoderNeeded(Kind) & ~Have) != 0) return ends::Unknown();
  // A finder that was cut off took the missing bytes for the end of the file: its answer
  // says nothing.
  const TkxFileEnd end = FindEndOf(Kind, Source, ScanSize);
  return Source.GivenUp() ? ends::Unknown() : end;
}

}  // namespace kx
