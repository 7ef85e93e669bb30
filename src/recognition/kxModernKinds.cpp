// SPDX-License-Identifier: GPL-3.0-or-later
#include "recognition/kxModernKinds.h"

#include "recognition/kxBytes.h"

#include <array>
#include <string_view>

namespace kx {

using namespace std::string_view_literals;
using namespace kx::bytes;

namespace {

struct TBrandKind {
  std::string_view Brand;
  TKind Kind;
};

// Major brands that name what a file holds; every other brand is plain MP4.
constexpr TBrandKind BrandKinds[] = {
    {"M4A "sv, Kinds::M4a},  {"M4B "sv, Kinds::M4a},  {"M4P "sv, Kinds::M4a},  {"F4A "sv, Kinds::M4a},
    {"qt  "sv, Kinds::QuickTime},
    {"heic"sv, Kinds::Heic}, {"heix"sv, Kinds::Heic}, {"hevc"sv, Kinds::Heic}, {"hevx"sv, Kinds::Heic},
    {"heim"sv, Kinds::Heic}, {"heis"sv, Kinds::Heic}, {"avif"sv, Kinds::Avif}, {"avis"sv, Kinds::Avif},
};

// The largest "ftyp" box taken: a major brand, a version and a few dozen compatible brands.
constexpr std::uint32_t MaxFtypSize = 1024;

bool IsBrand(TBytes b, std::size_t n, std::string_view Brand) { return Has(b, n, Brand); }

// A box whose header follows at n looks like one: a type of letters and a size of at least a
// header (or 0, "to the end", or 1, "64-bit size follows"). A block that ends first cannot tell.
bool PlausibleNextBox(TBytes b, std::size_t n)
{
  if (n + 8 > b.size()) return true;
  const std::uint32_t size = U32BE(b, n);
  return IsTypeCode(b, n + 4) && (size >= 8 || size <= 1);
}

TKind FtypKind(TBytes b)
{
  const std::uint32_t size = U32BE(b, 0);
  if (size < 16 || size > MaxFtypSize || size % 4 != 0 || !IsTypeCode(b, 8) || !PlausibleNextBox(b, size))
    return 0;
  if (IsBrand(b, 8, "mif1"sv) || IsBrand(b, 8, "msf1"sv)) {
    // Still images: the compatible brands tell AV1 from HEVC pictures.
    for (std::size_t n = 16; n + 4 <= size && n + 4 <= b.size(); n += 4)
      if (IsBrand(b, n, "avif"sv) || IsBrand(b, n, "avis"sv)) return Kinds::Avif;
    return Kinds::Heic;
  }
  if (IsBrand(b, 8, "3g"sv)) return Kinds::ThreeGp;
  for (const TBrandKind& bk : BrandKinds)
    if (IsBrand(b, 8, bk.Brand)) return bk.Kind;
  return Kinds::Mp4;
}

// Matroska and WebM: the EBML header and, inside it, the document type.
TKind EbmlKind(TBytes b)
{
  if (U32BE(b, 0) != 0x1A45DFA3) return 0;
  std::size_t n = 4;
  const auto vint = [&](bool keepMarker) -> std::uint64_t {
    const std::uint32_t first = U8(b, n);
    int length = 1;
    while (length <= 8 && (first & (0x80u >> (length - 1))) == 0) ++length;
    if (length > 8 || n + static_cast<std::size_t>(length) > b.size()) {
      n = b.size();
      return UINT64_MAX;
    }
    std::uint64_t v = keepMarker ? first : first & (0xFFu >> length);
    for (int i = 1; i < length; ++i) v = v << 8 | b[n + static_cast<std::size_t>(i)];
    n += static_cast<std::size_t>(length);
    return v;
  };
  const std::uint64_t headerSize = vint(false);
  if (headerSize == UINT64_MAX || headerSize > 256) return 0;
  const std::size_t end = n + static_cast<std::size_t>(headerSize);
  while (n < end && n < b.size()) {
    const std::uint64_t id = vint(true);
    const std::uint64_t size = vint(false);
    if (size == UINT64_MAX || n + size > end) return 0;
    if (id == 0x4282) {
      if (size == 4 && Has(b, n, "webm"sv)) return Kinds::WebM;
      if (size == 8 && Has(b, n, "matroska"sv)) return Kinds::Matroska;
      return 0;
    }
    n += static_cast<std::size_t>(size);
  }
  return 0;
}

bool IsXz(TBytes b) { return Has(b, 0, "\xFD" "7zXZ\x00\x00"sv) && (U8(b, 7) == 0 || U8(b, 7) == 1 || U8(b, 7) == 4 || U8(b, 7) == 10); }

// A frame header descriptor whose reserved bit is clear.
bool IsZstd(TBytes b) { return U32LE(b, 0) == 0xFD2FB528 && b.size() > 4 && (b[4] & 0x08) == 0; }

// The table directory of a font: a table count whose search fields agree with it, and records
// whose tags are letters and whose data lie after the directory.
TKind SfntKind(TBytes b)
{
  const std::uint32_t version = U32BE(b, 0);
  TKind kind = 0;
  if (version == 0x00010000 || version == 0x74727565) kind = Kinds::TrueType;  // "true": Apple's fonts
  if (version == 0x4F54544F) kind = Kinds::OpenType;                          // "OTTO": CFF outlines
  const std::uint32_t tables = U16BE(b, 4);
  if (kind == 0 || tables == 0 || tables > 100) return 0;
  std::uint32_t selector = 0;
  while ((2u << selector) <= tables) ++selector;
  const std::uint32_t searchRange = 16u << selector;
  if (U16BE(b, 6) != searchRange || U16BE(b, 8) != selector || U16BE(b, 10) != tables * 16 - searchRange) return 0;
  for (std::size_t i = 0; i < tables && 12 + 16 * i + 16 <= b.size(); ++i) {
    const std::size_t r = 12 + 16 * i;
    // Tags are printable ASCII ("OS/2", "cvt ").
    for (std::size_t k = r; k < r + 4; ++k)
      if (b[k] < 0x20 || b[k] > 0x7E) return 0;
    if (U32BE(b, r + 8) < 12 + 16 * tables) return 0;
  }
  return kind;
}

// The primary volume descriptor of an ISO 9660 file system.
bool IsIso9660(TBytes b) { return Has(b, 0, "\x01" "CD001\x01"sv); }

bool IsDvdIfo(TBytes b) { return Has(b, 0, "DVDVIDEO-VMG"sv) || Has(b, 0, "DVDVIDEO-VTS"sv); }

constexpr std::array<std::array<std::uint16_t, 15>, 5> Bitrates = {{
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG-1 layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG-1 layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG-1 layer III
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG-2, 2.5 layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // MPEG-2, 2.5 layers II, III
}};
constexpr std::array<std::array<std::uint32_t, 3>, 4> SampleRates = {{
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}}};

}  // namespace

TKind IsoMediaKind(std::span<const std::uint8_t> Block)
{
  const TBytes b = Block;
  if (Has(b, 4, "ftyp"sv)) return FtypKind(b);
  const std::uint32_t size = U32BE(b, 0);
  if ((Has(b, 4, "wide"sv) || Has(b, 4, "free"sv) || Has(b, 4, "skip"sv)) && size >= 8 && size + 8 <= b.size() &&
      (Has(b, size + 4, "mdat"sv) || Has(b, size + 4, "moov"sv)))
    return Kinds::QuickTime;
  return 0;
}

TMpegAudioFrame ReadMpegAudioFrame(std::span<const std::uint8_t> Bytes, std::size_t n)
{
  const TBytes b = Bytes;
  if (n + 4 > b.size() || b[n] != 0xFF || (b[n + 1] & 0xE0) != 0xE0) return {};
  const std::uint8_t version = (b[n + 1] >> 3) & 3;
  const std::uint8_t layer = (b[n + 1] >> 1) & 3;
  const std::uint32_t rateIndex = b[n + 2] >> 4;
  const std::uint32_t srIndex = (b[n + 2] >> 2) & 3;
  if (version == 1 || layer == 0 || rateIndex == 0 || rateIndex == 15 || srIndex == 3 || (b[n + 3] & 3) == 2) return {};
  const bool mpeg1 = version == 3;
  const std::size_t table = mpeg1 ? static_cast<std::size_t>(3 - layer) : (layer == 3 ? 3 : 4);
  const std::uint32_t bitrate = Bitrates[table][rateIndex] * 1000u;
  const std::uint32_t rate = SampleRates[version][srIndex];
  const std::uint32_t padding = (b[n + 2] >> 1) & 1;
  std::uint32_t length = 0;
  if (layer == 3)
    length = (12 * bitrate / rate + padding) * 4;
  else
    length = (layer == 1 && !mpeg1 ? 72 : 144) * bitrate / rate + padding;
  return {length, version, layer, rate};
}

bool IsMpegAudioFrameRun(std::span<const std::uint8_t> Block)
{
  const TMpegAudioFrame first = ReadMpegAudioFrame(Block, 0);
  if (first.Length < 4) return false;
  int frames = 1;
  for (std::size_t n = first.Length; n + 4 <= Block.size(); ++frames) {
    const TMpegAudioFrame f = ReadMpegAudioFrame(Block, n);
    if (f.Length < 4 || f.Version != first.Version || f.Layer != first.Layer || f.SampleRate != first.SampleRate)
      return false;
    n += f.Length;
  }
  return frames >= 2;
}

bool IsTransportPacketRun(std::span<const std::uint8_t> Block, std::size_t Stride)
{
  const std::size_t sync = Stride - 188;  // the time code of a 192-byte packet comes first
  int packets = 0;
  for (std::size_t n = sync; n < Block.size(); n += Stride, ++packets)
    if (Block[n] != 0x47) return false;
  return packets >= 4;
}

TKind RecognizeNewerKinds(std::span<const std::uint8_t> Block)
{
  const TBytes b = Block;
  if (b.size() < 8) return 0;
  // Every block that no classic rule took comes here, most of them compressed data: the first
  // byte leaves at most a few rules to try.
  if (b[4] == 0x47 && IsTransportPacketRun(b, 192)) return Kinds::M2ts;
  switch (b[0]) {
    case 0x00:
      if (TKind k = IsoMediaKind(b); k != 0) return k;
      return SfntKind(b);
    case 't':
    case 'O': return SfntKind(b);
    case 0x1A: return EbmlKind(b);
    case 0x47: return IsTransportPacketRun(b, 188) ? Kinds::TransportStream : TKind{0};
    case 0xFD: return IsXz(b) ? Kinds::Xz : TKind{0};
    case 0x28: return IsZstd(b) ? Kinds::Zstd : TKind{0};
    case 'D': return IsDvdIfo(b) ? Kinds::DvdIfo : TKind{0};
    case 0x01: return IsIso9660(b) ? Kinds::IsoImage : TKind{0};
    case 0xFF: return IsMpegAudioFrameRun(b) ? Kinds::Mp3 : TKind{0};
    default: return 0;
  }
}

}  // namespace kx
