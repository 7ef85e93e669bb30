// SPDX-License-Identifier: GPL-3.0-or-later
// End finders of programs, compound documents and fonts: the end of the last section, table or
// allocated sector that their headers list.
#include "recognition/kxEndFinders.h"

#include <algorithm>
#include <vector>

namespace kx::ends {

using namespace kx::bytes;
using namespace std::string_view_literals;

namespace {

// A reader of an ELF file's numbers in its own byte order and width.
struct TElfFields {
  bool Big = false;
  bool Wide = false;
  std::uint64_t Get(TBytes b, std::size_t n, int Width) const
  {
    if (Width == 2) return Big ? U16BE(b, n) : U16LE(b, n);
    if (Width == 4) return Big ? U32BE(b, n) : U32LE(b, n);
    return Big ? U64BE(b, n) : U64LE(b, n);
  }
  // An address-sized field (8 bytes in 64-bit files, 4 in 32-bit ones) at n64 or n32.
  std::uint64_t Addr(TBytes b, std::size_t n64, std::size_t n32) const { return Wide ? Get(b, n64, 8) : Get(b, n32, 4); }
};

// The end of each entry of an ELF table: section data (other than NOBITS) or segment data.
std::int64_t ElfTableEnd(TkxByteSource& Src, const TElfFields& f, std::uint64_t At, std::uint64_t Count,
                         std::uint64_t Entry, bool Sections, bool& Read)
{
  std::int64_t end = 0;
  std::vector<std::uint8_t> e(static_cast<std::size_t>(Entry));
  for (std::uint64_t i = 0; i < Count; ++i) {
    Read = Src.Read(static_cast<std::int64_t>(At + i * Entry), e.data(), e.size());
    if (!Read) return end;
    std::uint64_t off = 0, size = 0;
    if (Sections) {
      if (f.Get(e, 4, 4) == 8) continue;  // NOBITS: no bytes in the file
      off = f.Addr(e, 24, 16);
      size = f.Addr(e, 32, 20);
    } else {
      off = f.Addr(e, 8, 4);
      size = f.Addr(e, 32, 16);
    }
    if (off < (1ull << 40) && size < (1ull << 40)) end = std::max(end, static_cast<std::int64_t>(off + size));
  }
  return end;
}

}  // namespace

TkxFileEnd ElfEnd(TkxByteSource& Src)
{
  const auto h = ReadArray<64>(Src, 0);
  if (!h || ((*h)[4] != 1 && (*h)[4] != 2) || ((*h)[5] != 1 && (*h)[5] != 2)) return Damaged(0);
  const TElfFields f{(*h)[5] == 2, (*h)[4] == 2};
  const std::uint64_t phoff = f.Addr(*h, 32, 28), shoff = f.Addr(*h, 40, 32);
  const std::uint64_t phsize = f.Get(*h, f.Wide ? 54 : 42, 2), phnum = f.Get(*h, f.Wide ? 56 : 44, 2);
  const std::uint64_t shsize = f.Get(*h, f.Wide ? 58 : 46, 2), shnum = f.Get(*h, f.Wide ? 60 : 48, 2);
  if ((phnum > 0 && phsize != (f.Wide ? 56u : 32u)) || (shnum > 0 && shsize != (f.Wide ? 64u : 40u)) ||
      phoff > (1ull << 40) || shoff > (1ull << 40))
    return Damaged(0);
  std::int64_t end = f.Wide ? 64 : 52;
  end = std::max<std::int64_t>(end, static_cast<std::int64_t>(shoff + shnum * shsize));
  end = std::max<std::int64_t>(end, static_cast<std::int64_t>(phoff + phnum * phsize));
  bool read = true;
  if (phnum > 0) end = std::max(end, ElfTableEnd(Src, f, phoff, phnum, phsize, false, read));
  if (read && shnum > 0) end = std::max(end, ElfTableEnd(Src, f, shoff, shnum, shsize, true, read));
  return read ? EndAt(Src, end) : Truncated(end);
}

// A PE file ends with its last section's raw data, its COFF symbols and their strings (kept
// by some linkers, EFI programs among them) or its certificate table; a DOS program
// with the pages its header counts (an overlay after them cannot be told).
TkxFileEnd PeEnd(TkxByteSource& Src)
{
  const auto dos = ReadArray<64>(Src, 0);
  if (!dos) return Unknown();
  if (!Has(*dos, 0, "MZ"sv)) return Damaged(0);
  const std::int64_t pe = U32LE(*dos, 60);
  const auto coff = ReadArray<24>(Src, pe);
  if (!coff || !Has(*coff, 0, "PE\0\0"sv)) {
    const std::uint32_t pages = U16LE(*dos, 4), last = U16LE(*dos, 2);
    if (U16LE(*dos, 24) >= 0x40 && coff && (Has(*coff, 0, "NE"sv) || Has(*coff, 0, "LE"sv) || Has(*coff, 0, "LX"sv)))
      return Unknown();
    const std::int64_t size = std::int64_t{pages} * 512 - (last != 0 && last < 512 ? 512 - last : 0);
    return size >= 64 ? EndAt(Src, size) : Damaged(0);
  }
  const std::uint32_t sections = U16LE(*coff, 6), optional = U16LE(*coff, 20);
  if (sections > 96 || optional > 1024) return Damaged(0);
  std::vector<std::uint8_t> opt(optional);
  if (!Src.Read(pe + 24, opt.data(), opt.size())) return Truncated(pe + 24 + optional);
  const std::uint32_t magic = U16LE(opt, 0);
  if (magic != 0x10B && magic != 0x20B) return Damaged(0);
  std::int64_t end = U32LE(opt, 60);  // the headers
  const std::size_t dirs = magic == 0x10B ? 96 : 112;
  if (U32LE(opt, dirs - 4) > 4) end = std::max<std::int64_t>(end, std::int64_t{U32LE(opt, dirs + 32)} + U32LE(opt, dirs + 36));
  if (const std::int64_t symbols = U32LE(*coff, 12), count = U32LE(*coff, 16); symbols > 0 && count > 0) {
    const std::int64_t strings = symbols + 18 * count;
    const auto size = ReadArray<4>(Src, strings);
    if (!size) return Truncated(strings + 4);
    end = std::max<std::int64_t>(end, strings + U32LE(*size, 0));
  }
  for (std::uint32_t i = 0; i < sections; ++i) {
    const auto s = ReadArray<40>(Src, pe + 24 + optional + 40 * std::int64_t{i});
    if (!s) return Truncated(pe + 24 + optional + 40 * (std::int64_t{i} + 1));
    if (U32LE(*s, 16) > 0) end = std::max<std::int64_t>(end, std::int64_t{U32LE(*s, 20)} + U32LE(*s, 16));
  }
  return EndAt(Src, end);
}

namespace {

// The sector numbers of an OLE2 file's allocation table: 109 in the header, the rest in a
// chain of further sectors. Empty when the chain cannot be read.
std::vector<std::uint32_t> OleFatSectors(TkxByteSource& Src, TBytes Header, std::int64_t SectorSize, bool& Truncated)
{
  constexpr std::uint32_t Free = 0xFFFFFFFF, EndOfChain = 0xFFFFFFFE;
  const std::uint32_t count = std::min<std::uint32_t>(U32LE(Header, 44), 1u << 20);
  std::vector<std::uint32_t> fat;
  for (std::size_t i = 0; i < 109 && fat.size() < count; ++i) fat.push_back(U32LE(Header, 76 + 4 * i));
  std::vector<std::uint8_t> s(static_cast<std::size_t>(SectorSize));
  std::uint32_t next = U32LE(Header, 68);
  for (int hops = 0; fat.size() < count && next != Free && next != EndOfChain && hops < (1 << 16); ++hops) {
    if (!Src.Read((std::int64_t{next} + 1) * SectorSize, s.data(), s.size())) {
      Truncated = true;
      return {};
    }
    for (std::size_t i = 0; i + 4 < s.size() && fat.size() < count; i += 4) fat.push_back(U32LE(s, i));
    next = U32LE(s, s.size() - 4);
  }
  return fat;
}

}  // namespace

// An OLE2 compound file ends with the last sector its allocation table uses.
TkxFileEnd OleEnd(TkxByteSource& Src)
{
  const auto h = ReadArray<512>(Src, 0);
  if (!h) return Truncated(512);
  const std::uint32_t shift = U16LE(*h, 30);
  if (shift != 9 && shift != 12) return Damaged(0);
  const std::int64_t sector = std::int64_t{1} << shift;
  bool cut = false;
  const std::vector<std::uint32_t> fat = OleFatSectors(Src, *h, sector, cut);
  if (cut) return Truncated(Src.Size() + 1);
  // A sector of the table listed twice (a chain that loops) is no table: it would be read as
  // many times as it is listed.
  std::vector<std::uint32_t> sorted = fat;
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return Damaged(0);
  std::int64_t last = -1;
  std::vector<std::uint8_t> s(static_cast<std::size_t>(sector));
  for (std::size_t i = 0; i < fat.size(); ++i) {
    const std::int64_t at = (std::int64_t{fat[i]} + 1) * sector;
    if (!Src.Read(at, s.data(), s.size())) return Truncated(at + sector);
    for (std::size_t j = 0; j < s.size(); j += 4)
      if (U32LE(s, j) != 0xFFFFFFFF) last = static_cast<std::int64_t>(i * s.size() / 4 + j / 4);
  }
  if (last < 0) return Damaged(0);
  return EndAt(Src, (last + 2) * sector);  // the header takes the place of one sector
}

// A font ends with its last table, padded to four bytes.
TkxFileEnd SfntEnd(TkxByteSource& Src)
{
  const auto h = ReadArray<12>(Src, 0);
  if (!h) return Truncated(12);
  const std::uint32_t tables = U16BE(*h, 4);
  if (tables == 0 || tables > 100) return Damaged(0);
  std::int64_t end = 12 + 16 * std::int64_t{tables};
  for (std::uint32_t i = 0; i < tables; ++i) {
    const auto r = ReadArray<16>(Src, 12 + 16 * std::int64_t{i});
    if (!r) return Truncated(end);
    end = std::max<std::int64_t>(end, std::int64_t{U32BE(*r, 8)} + U32BE(*r, 12));
  }
  return EndAt(Src, (end + 3) / 4 * 4);
}

}  // namespace kx::ends
