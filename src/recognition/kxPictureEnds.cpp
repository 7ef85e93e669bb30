// SPDX-License-Identifier: GPL-3.0-or-later
// End finders of pictures: TIFF's directories, JPEG's markers and scan data, PNG's chunks and
// GIF's blocks.
#include "recognition/kxEndFinders.h"

#include <algorithm>
#include <optional>
#include <cstring>
#include <vector>

namespace kx::ends {

using namespace kx::bytes;
using namespace std::string_view_literals;

namespace {

// The most directories a walk visits, and the most values it reads in all. A real file has a
// few pages, thumbnails and sub-images, and its largest tables of strips hold tens of thousands
// of values; a directory of 4,096 entries that each list 65,536 directories holds a quarter of
// a billion.
constexpr std::size_t MaxDirectories = 64;
constexpr std::uint64_t MaxValues = 1 << 20;

struct TTiffReader {
  TkxByteSource& Src;
  bool Big;  // "MM": numbers are big-endian
  std::uint64_t ValuesLeft = MaxValues;
  bool OverLimit = false;  // more values than MaxValues were asked for
  std::uint32_t U16(TBytes b, std::size_t n) const { return Big ? U16BE(b, n) : U16LE(b, n); }
  std::uint32_t U32(TBytes b, std::size_t n) const { return Big ? U32BE(b, n) : U32LE(b, n); }

  // The first Most values of an entry of SHORT or LONG numbers, read where the entry keeps them.
  std::vector<std::uint32_t> Values(TBytes Entry, std::uint32_t Most = 1u << 16)
  {
    const std::uint32_t type = U16(Entry, 2), count = std::min(U32(Entry, 4), Most);
    if (count > ValuesLeft) {
      OverLimit = true;
      return {};
    }
    ValuesLeft -= count;
    const std::size_t width = type == 3 ? 2 : 4;
    std::vector<std::uint8_t> raw(count * width);
    if (raw.empty()) return {};
    if (raw.size() <= 4)
      std::memcpy(raw.data(), Entry.data() + 8, raw.size());
    else if (!Src.Read(U32(Entry, 8), raw.data(), raw.size()))
      return {};
    std::vector<std::uint32_t> v(count);
    for (std::size_t i = 0; i < count; ++i) v[i] = width == 2 ? U16(raw, i * width) : U32(raw, i * width);
    return v;
  }
};

constexpr std::uint8_t TiffTypeBytes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};

// The data an entry's values need outside the entry, and the pairs of offsets and byte counts
// (strips, tiles, an embedded JPEG) whose data the file holds. The directories it points to
// join Ifds, each once, as long as fewer than MaxDirectories are listed.
std::int64_t TiffEntryEnd(TTiffReader& r, TBytes e, std::vector<std::uint32_t>& Ifds,
                          std::vector<std::uint32_t> (&Pairs)[6])
{
  const std::uint32_t tag = r.U16(e, 0), type = r.U16(e, 2);
  const std::uint64_t bytes = std::uint64_t{type < std::size(TiffTypeBytes) ? TiffTypeBytes[type] : 1u} * r.U32(e, 4);
  std::int64_t end = bytes > 4 ? static_cast<std::int64_t>(r.U32(e, 8) + std::min<std::uint64_t>(bytes, 1ull << 32)) : 0;
  constexpr std::uint32_t pairTags[6] = {273, 279, 324, 325, 513, 514};
  for (int i = 0; i < 6; ++i)
    if (tag == pairTags[i]) Pairs[i] = r.Values(e);
  if (tag == 330 || tag == 34665 || tag == 34853 || tag == 40965)
    for (const std::uint32_t v : r.Values(e, MaxDirectories))
      if (v >= 8 && Ifds.size() < MaxDirectories && std::find(Ifds.begin(), Ifds.end(), v) == Ifds.end()) Ifds.push_back(v);
  return end;
}

}  // namespace

namespace {

// The bytes of the row byte counts of Rows rows of run-length data from Pos, each Width bytes;
// none where the table runs past the bytes at hand.
std::optional<std::uint64_t> RowBytes(TkxByteSource& Src, std::int64_t Pos, std::uint64_t Rows, std::size_t Width)
{
  std::uint64_t sum = 0;
  while (Rows > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(Rows, 1 << 14)) * Width;
    const auto v = Src.View(Pos, want);
    const std::size_t whole = v.size() / Width;
    if (whole == 0) return std::nullopt;
    for (std::size_t i = 0; i < whole; ++i) sum += Width == 2 ? U16BE(v, i * 2) : U32BE(v, i * 4);
    Pos += static_cast<std::int64_t>(whole * Width);
    Rows -= whole;
  }
  return sum;
}

}  // namespace

// A Photoshop document (PSD, or PSB for version 2): the header, three sections that each state
// their length, and the image data, whose length follows from the header's dimensions: raw
// planes, or run-length rows whose byte counts precede them. Compressed (zip) data states no
// length.
TkxFileEnd PhotoshopEnd(TkxByteSource& Src)
{
  const auto h = ReadArray<26>(Src, 0);
  if (!h) return Truncated(26);
  const std::uint32_t version = U16BE(*h, 4);
  const std::uint64_t channels = U16BE(*h, 12), height = U32BE(*h, 14), width = U32BE(*h, 18),
                      depth = U16BE(*h, 22);
  if (!Has(*h, 0, "8BPS"sv) || (version != 1 && version != 2) || channels == 0 || channels > 56 ||
      height == 0 || height > 300000 || width == 0 || width > 300000 || depth == 0 || depth > 32)
    return Damaged(0);
  const bool big = version == 2;
  std::int64_t pos = 26;
  for (int section = 0; section < 3; ++section) {
    const bool wide = big && section == 2;  // PSB states the layer section's length in 8 bytes
    const auto n = ReadArray<8>(Src, pos);
    if (!n && pos + (wide ? 8 : 4) > Src.Size()) return Truncated(pos + (wide ? 8 : 4));
    const std::uint64_t length = !n ? 0 : wide ? U64BE(*n, 0) : U32BE(*n, 0);
    if (length > (1ull << 40)) return Damaged(pos);
    pos += (wide ? 8 : 4) + static_cast<std::int64_t>(length);
  }
  const auto c = ReadArray<2>(Src, pos);
  if (!c) return Truncated(pos + 2);
  const std::uint32_t compression = U16BE(*c, 0);
  const std::uint64_t rows = channels * height;
  pos += 2;
  if (compression == 0) return EndAt(Src, pos + static_cast<std::int64_t>(rows * ((width * depth + 7) / 8)));
  if (compression != 1) return compression <= 3 ? Unknown() : Damaged(pos - 2);
  const std::size_t count = big ? 4 : 2;
  const auto table = static_cast<std::int64_t>(rows * count);
  const std::optional<std::uint64_t> data = RowBytes(Src, pos, rows, count);
  if (!data) return Truncated(pos + table);
  return EndAt(Src, pos + table + static_cast<std::int64_t>(*data));
}

// A TIFF file ends with the last of its directories and of the data they point to.
TkxFileEnd TiffEnd(TkxByteSource& Src)
{
  const auto h = ReadArray<8>(Src, 0);
  if (!h || !(Has(*h, 0, "II*\0"sv) || Has(*h, 0, "MM\0*"sv))) return Unknown();
  TTiffReader r{Src, (*h)[0] == 'M'};
  // Each directory once, the first one included: a chain that loops ends where it meets itself.
  std::vector<std::uint32_t> ifds;
  if (r.U32(*h, 4) >= 8) ifds.push_back(r.U32(*h, 4));
  std::int64_t end = 8;
  for (std::size_t k = 0; k < ifds.size(); ++k) {
    const std::uint32_t at = ifds[k];
    const auto count = ReadArray<2>(Src, at);
    if (!count) return Truncated(at + 2);
    const std::uint32_t n = std::min<std::uint32_t>(r.U16(*count, 0), 4096);
    std::vector<std::uint8_t> entries(12 * n + 4);
    if (!Src.Read(at + 2, entries.data(), entries.size())) return Truncated(at + 2 + static_cast<std::int64_t>(entries.size()));
    end = std::max<std::int64_t>(end, at + 2 + static_cast<std::int64_t>(entries.size()));
    std::vector<std::uint32_t> pairs[6];
    for (std::uint32_t i = 0; i < n; ++i)
      end = std::max(end, TiffEntryEnd(r, TBytes(entries).subspan(12 * i, 12), ifds, pairs));
    if (r.OverLimit) return Unknown();
    for (int p = 0; p < 6; p += 2)
      for (std::size_t i = 0; i < std::min(pairs[p].size(), pairs[p + 1].size()); ++i)
        end = std::max<std::int64_t>(end, std::int64_t{pairs[p][i]} + pairs[p + 1][i]);
    if (const std::uint32_t next = r.U32(entries, 12 * n);
        next >= 8 && ifds.size() < MaxDirectories && std::find(ifds.begin(), ifds.end(), next) == ifds.end())
      ifds.push_back(next);
  }
  return EndAt(Src, end);
}

namespace {

// The position of the marker that ends JPEG scan data from Pos: an 0xFF followed by a byte that
// is neither a stuffed zero nor a restart marker. -1 when the bytes run out first.
std::int64_t ScanDataEnd(TkxByteSource& Src, std::int64_t Pos)
{
  for (;;) {
    const auto v = Src.View(Pos, 1 << 16);
    if (v.size() < 2) return -1;
    const std::uint8_t* p = v.data();
    const std::uint8_t* stop = p + v.size() - 1;  // every candidate needs the byte after it
    while (p < stop) {
      p = static_cast<const std::uint8_t*>(std::memchr(p, 0xFF, static_cast<std::size_t>(stop - p)));
      if (p == nullptr) break;
      const std::uint8_t next = p[1];
      if (next != 0x00 && next != 0xFF && (next < 0xD0 || next > 0xD7)) return Pos + (p - v.data());
      ++p;
    }
    Pos += static_cast<std::int64_t>(v.size()) - 1;
  }
}

}  // namespace

// A JPEG file: segments with their lengths, scan data up to the next marker, and EOI. A picture
// whose APP2 segment holds a multi-picture index is followed by the pictures it lists.
TkxFileEnd JpegEnd(TkxByteSource& Src)
{
  bool multiPicture = false;
  for (std::int64_t pos = 2;;) {
    const auto m = ReadArray<8>(Src, pos);
    if (!m) return Truncated(Src.Size());
    if ((*m)[0] != 0xFF) return Damaged(pos);
    const std::uint8_t code = (*m)[1];
    if (code == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (code == 0xD9) {
      if (const auto next = ReadArray<3>(Src, pos + 2); multiPicture && next && Has(*next, 0, "\xFF\xD8\xFF"sv)) {
        pos += 4;
        continue;
      }
      return Whole(pos + 2);
    }
    if ((code < 0xC0 && code != 0x01) || code == 0xD8) return Damaged(pos);
    if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) {
      pos += 2;
      continue;
    }
    const std::uint32_t length = U16BE(*m, 2);
    if (length < 2) return Damaged(pos);
    multiPicture = multiPicture || (code == 0xE2 && Has(*m, 4, "MPF\0"sv));
    pos += 2 + length;
    if (code == 0xDA) {
      pos = ScanDataEnd(Src, pos);
      if (pos < 0) return Truncated(Src.Size());
    }
  }
}

// PNG chunks, each with its CRC, up to IEND.
TkxFileEnd PngEnd(TkxByteSource& Src)
{
  for (std::int64_t pos = 8;;) {
    const auto c = ReadArray<8>(Src, pos);
    if (!c) return Truncated(pos + 12);
    const std::int64_t length = U32BE(*c, 0);
    if (length > 0x7FFFFFFF || !IsTypeCode(*c, 4)) return Damaged(pos);
    const auto crc = ReadArray<4>(Src, pos + 8 + length);
    if (!crc) return Truncated(pos + 12 + length);
    if (Crc32Of(Src, pos + 4, 4 + length) != U32BE(*crc, 0)) return Damaged(pos);
    pos += 12 + length;
    if (Has(*c, 4, "IEND"sv)) return Whole(pos);
  }
}

namespace {

// Past a run of GIF sub-blocks from Pos: -1 when the bytes run out first.
std::int64_t SkipSubBlocks(TkxByteSource& Src, std::int64_t Pos)
{
  for (;;) {
    std::uint8_t size = 0;
    if (!Src.Read(Pos, &size, 1)) return -1;
    Pos += 1 + size;
    if (size == 0) return Pos;
  }
}

}  // namespace

// GIF: the screen descriptor, its colour table, then extensions and images up to the trailer.
TkxFileEnd GifEnd(TkxByteSource& Src)
{
  const auto h = ReadArray<13>(Src, 0);
  if (!h) return Truncated(13);
  std::int64_t pos = 13 + (((*h)[10] & 0x80) ? 3 * (2 << ((*h)[10] & 7)) : 0);
  for (;;) {
    const auto b = ReadArray<10>(Src, pos);
    const std::uint8_t code = b ? (*b)[0] : 0;
    if (!b) {
      std::uint8_t last = 0;
      return Src.Read(pos, &last, 1) && last == 0x3B ? Whole(pos + 1) : Truncated(Src.Size());
    }
    if (code == 0x3B) return Whole(pos + 1);
    if (code == 0x21) {
      pos = SkipSubBlocks(Src, pos + 2);
    } else if (code == 0x2C) {
      pos += 10 + (((*b)[9] & 0x80) ? 3 * (2 << ((*b)[9] & 7)) : 0);
      std::uint8_t minCode = 0;
      if (!Src.Read(pos, &minCode, 1)) return Truncated(pos + 1);
      if (minCode < 2 || minCode > 12) return Damaged(pos);
      pos = SkipSubBlocks(Src, pos + 1);
    } else {
      return Damaged(pos);
    }
    if (pos < 0) return Truncated(Src.Size());
  }
}

}  // namespace kx::ends
