// SPDX-License-Identifier: GPL-3.0-or-later
#include "recognition/kxEngine.h"

#include "common/kxShared.h"
#include "recognition/kxModernKinds.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <iterator>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kx {

using namespace std::string_view_literals;

// ---------------------------------------------------------------------------------------------
// Binary recognizer

namespace {

using TBlock = std::span<const std::uint8_t>;

// Little-endian readers over a block; a field that does not lie wholly inside reads as 0, so
// callers that could be fooled by a zero test the length first.
constexpr std::uint32_t U8(TBlock b, std::size_t n) { return n < b.size() ? b[n] : 0; }
constexpr std::uint32_t U32(TBlock b, std::size_t n)
{
  return n + 4 <= b.size() ? std::uint32_t{b[n]} | std::uint32_t{b[n + 1]} << 8 |
                                 std::uint32_t{b[n + 2]} << 16 | std::uint32_t{b[n + 3]} << 24
                           : 0;
}

// The empty first entry with which every 32-bit resource file begins.
constexpr std::string_view ResFileHeader =
    "\x00\x00\x00\x00\x20\x00\x00\x00\xFF\xFF\x00\x00\xFF\xFF\x00\x00"
    "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"sv;
static_assert(ResFileHeader.size() == 32);

// A tar member header keeps its magic after the name, mode, owner, size, time, checksum, type and
// link fields: "ustar" and a zero byte in POSIX archives, "ustar" and two blanks in GNU ones.
constexpr std::uint16_t TarMagicOffset = 257;
constexpr std::string_view TarMagic = "ustar"sv;

struct TSignature {
  TKind Kind;
  std::uint16_t Offset;
  std::string_view Bytes;
};

// The one-line tests, in the order in which they are tried; the first that holds decides. A test
// with alternatives is one row per alternative, adjacent, with the same kind. Tests on two byte
// ranges that touch (bytes 0..3 and 4..6) are one row.
// Hex escapes take every hex digit that follows, so literals are split where a letter follows.
constexpr TSignature OneLineTests[] = {
    {31, 0, "\x37\x7A\xBC\xAF\x27\x1C"sv},                          //  1 7z
    {32, 0, "BZh"sv},                                               //  2 bzip2
    {33, 0, "ISc("sv},                                              //  3 InstallShield cabinet
    {34, 0, "MSCF"sv},                                              //  4 Microsoft cabinet
    {35, 0, "\x1F\x8B\x08"sv},                                      //  5 gzip
    {36, 0, "(This file must be converted with BinHex"sv},          //  6 BinHex
    {37, 1, "NeroISO"sv},                                           //  7 Nero image
    {38, 0, "Rar!\x1A\x07\x00"sv},                                  //  8 RAR
    {39, 0, "\xED\xAB\xEE\xDB"sv},                                  //  9 RPM
    {40, 0, "SIT!"sv},                                              // 10 StuffIt
    {40, 0, "Stuf"sv},
    {41, 8, "sqx-"sv},                                              // 11 SQX
    // A member header keeps the tar magic at offset 257. The row at offset 0 finds no real
    // archive, but stays so that the blocks it took are taken as before.
    {42, 0, "ustar"sv},                                             // 12 tar
    {42, TarMagicOffset, TarMagic},
    {43, 0, "UHA"sv},                                               // 13 UHarc
    {44, 0, "PK\x03\x04"sv},                                        // 14 ZIP
    {45, 0, "ZOO "sv},                                              // 15 ZOO
    {46, 0, "FORM\x00"sv},                                          // 16 AIFF
    {47, 0, "#!AMR"sv},                                             // 17 AMR
    {48, 0, ".snd"sv},                                              // 18 Sun audio
    {49, 0, "fLaC\x00\x00\x00\x22"sv},                              // 19 FLAC
    {50, 0, "MThd"sv},                                              // 20 MIDI
    {51, 0, "ID3"sv},                                               // 21 MP3
    {52, 0, "OggS"sv},                                              // 22 Ogg
    {53, 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv},                  // 23 OLE2
    {54, 0, "ITSF"sv},                                              // 24 CHM
    {55, 0, "\x00\x01\x00\x00" "Standard"sv},                       // 25 Jet database
    {56, 0, "%PDF"sv},                                              // 26 PDF
    {57, 0, "8BPS"sv},                                              // 27 Photoshop
    {58, 0, "~BK\x00"sv},                                           // 28 Paint Shop Pro
    {58, 0, "Paint Shop Pro Image File\x0A\x1A"sv},
    {59, 0, "\x0F" "SIBELIU"sv},                                    // 29 Sibelius
    {60, 0, "SQLite format"sv},                                     // 30 SQLite
    {61, 0, "MZ"sv},                                                // 31 executable rule decides
    {63, 0, "PK\x08\x08"sv},                                        // 32 BGI
    {63, 0, "FBGD"sv},
    {64, 0, "\xCA\xFE\xBA\xBE"sv},                                  // 33 Java class
    {65, 0, "\xDF\x00\x00\x0F"sv},                                  // 34 DCU
    {66, 0, "\x7F" "ELF"sv},                                        // 35 ELF
    {67, 0, "\x91\xD5\x12\x00\x58\x02\x00\x00"sv},                  // 36 U32(0) = 1234321, U32(4) = 600
    {68, 0, "PPU0"sv},                                              // 37 Free Pascal unit
    {69, 0, "**TI"sv},                                              // 38 TI calculator
    {70, 0, ResFileHeader},                                         // 39 resource file
    {71, 0, "MSFT\x02\x00\x01\x00"sv},                              // 40 type library, U32(4) = 0x00010002
    {72, 0, "TPUQ"sv},                                              // 41 Turbo Pascal unit
    // Files store the DCX magic 987654321 little-endian (the second row); the first, its bytes
    // reversed, stays so that the blocks it took are taken as before.
    {73, 0, "\x3A\xDE\x68\xB1"sv},                                  // 42 DCX
    {73, 0, "\xB1\x68\xDE\x3A"sv},
    {74, 0, "\x10\x00\x00\x05\x80\x00\x00"sv},                      // 43 EMF
    {75, 0, "GIF87a"sv},                                            // 44 GIF
    {75, 0, "GIF89a"sv},
    {76, 0, "IMG"sv},                                               // 45 IMG
    {77, 0, "\xFF\xD8\xFF\xE0"sv},                                  // 46 JPEG
    {77, 0, "\xFF\xD8\xFF\xE1"sv},
    {77, 0, "\xFF\xD8\xFF\xFE"sv},
    {78, 0, "\x0A\x02\x01\x01"sv},                                  // 47 PCX
    {78, 0, "\x0A\x03\x01\x01"sv},
    {78, 0, "\x0A\x05\x01\x01"sv},
    {79, 0, "\x89" "PNG\x0D\x0A\x1A\x0A"sv},                        // 48 PNG
    {80, 0, "I I"sv},                                               // 49 TIFF
    {80, 0, "II*"sv},
    {80, 0, "MM*"sv},
    {80, 0, "MM\x00*"sv},
    {80, 0, "MM\x00+"sv},
    {81, 0, "\xD7\xCD\xC6\x9A"sv},                                  // 50 placeable WMF
    {82, 0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11"sv},                  // 51 ASF
    {82, 0, "\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"sv},
    {83, 0, "\x2E\x72\x61\xFD"sv},                                  // 52 RealAudio
    {84, 0, ".RMF"sv},                                              // 53 RealMedia
    {85, 4, "moov"sv},                                              // 54 QuickTime
    {85, 4, "mdat"sv},
    {86, 0, "\x00\x00\x01\xB3"sv},                                  // 55 MPEG video
    {87, 0, "CWS"sv},                                               // 56 Flash
    {87, 0, "FLV"sv},
    {87, 0, "FWS"sv},
    {88, 0, "\x00\x00\x01\xBA"sv},                                  // 57 MPEG program stream
    {89, 0, "\x4C\x00\x00\x00\x01\x14\x02\x00"sv},                  // 58 shell link
    {90, 0, "SFPK"sv},                                              // 59 Sound Forge peak
};

constexpr std::size_t HeadSize = 16;

// Each row's bytes inside the first 16 as a value and a mask over the two header words, so that
// a row is tried with four integer operations; bytes past 16 (the 27-, 32- and 40-byte rows)
// are compared after the words matched.
struct TSignatureKey {
  std::uint64_t Value[2];
  std::uint64_t Mask[2];
  std::size_t End;  // bytes the row needs
};

constexpr TSignatureKey MakeKey(const TSignature& s)
{
  TSignatureKey key{{0, 0}, {0, 0}, s.Offset + s.Bytes.size()};
  for (std::size_t i = 0; i < s.Bytes.size(); ++i) {
    const std::size_t pos = s.Offset + i;
    if (pos >= HeadSize) break;
    const unsigned shift = 8 * (pos % 8);
    key.Value[pos / 8] |= std::uint64_t{static_cast<std::uint8_t>(s.Bytes[i])} << shift;
    key.Mask[pos / 8] |= std::uint64_t{0xFF} << shift;
  }
  return key;
}

constexpr auto SignatureKeys = [] {
  std::array<TSignatureKey, std::size(OneLineTests)> keys{};
  for (std::size_t i = 0; i < keys.size(); ++i) keys[i] = MakeKey(OneLineTests[i]);
  return keys;
}();

// The rows that a block may match, by the block's first byte: those whose bytes begin with it and
// those that begin further in, in the table's order. Most sectors hold data that no row tests
// for, and a scan then tries a few rows instead of every one.
constexpr bool RowMayMatch(const TSignature& Row, std::uint8_t First)
{
  return Row.Offset != 0 || static_cast<std::uint8_t>(Row.Bytes[0]) == First;
}

constexpr std::size_t CandidateCount()
{
  std::size_t n = 0;
  for (unsigned first = 0; first < 256; ++first)
    for (const TSignature& row : OneLineTests) n += RowMayMatch(row, static_cast<std::uint8_t>(first)) ? 1 : 0;
  return n;
}

static_assert(std::size(OneLineTests) < 256, "rows are numbered in a byte");

constexpr auto RowsByFirstByte = [] {
  struct {
    std::array<std::uint16_t, 257> Begin{};  // the candidates of byte v are Rows[Begin[v]..Begin[v + 1])
    std::array<std::uint8_t, CandidateCount()> Rows{};
  } index{};
  std::size_t n = 0;
  for (unsigned first = 0; first < 256; ++first) {
    index.Begin[first] = static_cast<std::uint16_t>(n);
    for (std::size_t i = 0; i < std::size(OneLineTests); ++i)
      if (RowMayMatch(OneLineTests[i], static_cast<std::uint8_t>(first))) index.Rows[n++] = static_cast<std::uint8_t>(i);
  }
  index.Begin[256] = static_cast<std::uint16_t>(n);
  return index;
}();

// The first 16 bytes of the block, zero-padded, taken once as two little-endian words.
struct THead {
  std::uint64_t W[2] = {0, 0};

  explicit THead(TBlock b)
  {
    std::uint8_t bytes[HeadSize] = {};
    if (!b.empty()) std::memcpy(bytes, b.data(), std::min(b.size(), HeadSize));
    for (std::size_t i = 0; i < HeadSize; ++i) W[i / 8] |= std::uint64_t{bytes[i]} << (8 * (i % 8));
  }
  // Fields inside the head that do not straddle its two words.
  constexpr std::uint32_t U16(unsigned n) const { return static_cast<std::uint16_t>(W[n / 8] >> (8 * (n % 8))); }
  constexpr std::uint32_t U32(unsigned n) const { return static_cast<std::uint32_t>(W[n / 8] >> (8 * (n % 8))); }
};

constexpr std::uint32_t FourCC(const char (&s)[5])
{
  return std::uint32_t{static_cast<std::uint8_t>(s[0])} | std::uint32_t{static_cast<std::uint8_t>(s[1])} << 8 |
         std::uint32_t{static_cast<std::uint8_t>(s[2])} << 16 | std::uint32_t{static_cast<std::uint8_t>(s[3])} << 24;
}

TKind ExecutableKind(TBlock b);

// Kind of the first matching one-line test, or 0. The executable row holds only when the
// executable rule confirms the header; otherwise the chain goes on with the next row.
TKind MatchOneLineTests(TBlock b, const THead& head)
{
  // An empty block's head reads as zeros; it matches no row anyway, since every row needs bytes.
  const auto first = static_cast<std::size_t>(head.W[0] & 0xFF);
  for (std::size_t k = RowsByFirstByte.Begin[first]; k < RowsByFirstByte.Begin[first + 1]; ++k) {
    const std::size_t i = RowsByFirstByte.Rows[k];
    const TSignatureKey& key = SignatureKeys[i];
    if (((head.W[0] & key.Mask[0]) ^ key.Value[0]) | ((head.W[1] & key.Mask[1]) ^ key.Value[1])) continue;
    if (key.End > b.size()) continue;
    if (key.End > HeadSize) {
      const TSignature& s = OneLineTests[i];
      const std::size_t from = std::max<std::size_t>(s.Offset, HeadSize);
      if (std::memcmp(b.data() + from, s.Bytes.data() + (from - s.Offset), key.End - from) != 0) continue;
    }
    if (OneLineTests[i].Kind == Kinds::Executable) {
      if (const TKind kind = ExecutableKind(b); kind != 0) return kind;
      continue;
    }
    return OneLineTests[i].Kind;
  }
  return 0;
}

// A DOS program's header: fewer than 512 bytes on its last page, at least one page, a header
// of at least two paragraphs that fits in the pages, memory needs in order, and a relocation
// table inside the header.
bool PlausibleDosHeader(TBlock b)
{
  if (b.size() < 28) return false;
  const auto u16 = [&](std::size_t n) { return std::uint32_t{b[n]} | std::uint32_t{b[n + 1]} << 8; };
  const std::uint32_t lastPage = u16(2), pages = u16(4), relocations = u16(6), headerBytes = u16(8) * 16;
  if (lastPage >= 512 || pages == 0 || headerBytes < 32 || headerBytes > pages * 512 || u16(12) < u16(10)) return false;
  return relocations == 0 || (u16(24) >= 28 && u16(24) + relocations * 4 <= headerBytes);
}

// A block that begins "MZ" is a program only when its header says so: "PE\0\0" (or the "NE",
// "LE", "LX" of 16-bit and OS/2 programs) where offset 60 points inside the block, or else a
// plausible DOS header; compressed video begins a sector with "MZ" now and then, and each such
// sector used to start a false executable. A PE file is a DLL when the high byte of the COFF
// characteristics (22 bytes after the PE header) has its 0x20 bit set. The pointer is signed and
// the sum is made in 32 bits, as the header field is read. 0 when the block is no program.
TKind ExecutableKind(TBlock b)
{
  if (b.size() >= 64) {
    const std::int64_t pe = static_cast<std::int32_t>(U32(b, 60));
    if (pe >= 0 && pe + 24 <= static_cast<std::int64_t>(b.size())) {
      const auto at = static_cast<std::size_t>(pe);
      if (U32(b, at) == FourCC("PE\0\0")) return (b[at + 23] & 0x20) != 0 ? Kinds::Dll : Kinds::Executable;
      const std::uint32_t sig = U32(b, at) & 0xFFFF;
      if (sig == ('N' | 'E' << 8) || sig == ('L' | 'E' << 8) || sig == ('L' | 'X' << 8)) return Kinds::Executable;
    }
  }
  return PlausibleDosHeader(b) ? Kinds::Executable : Kinds::Unknown;
}

constexpr std::uint32_t MaxIconCount = 30;
constexpr std::uint32_t MinIconImageOffset = 22;
constexpr std::uint32_t MaxIconImageOffset = 0x400000;

}  // namespace

TBlockKind RecognizeBlock(std::span<const std::uint8_t> Block)
{
  const auto length = static_cast<std::int64_t>(Block.size());
  const THead head(Block);

  if (Block.size() >= 10 && head.U16(0) == ('B' | 'M' << 8) && head.U16(6) == 0 && head.U16(8) == 0)
    return {Kinds::Bitmap, false, head.U32(2)};

  const std::uint32_t iconType = head.U16(2);
  const std::uint32_t iconCount = head.U16(4);
  if (Block.size() >= 6 && head.U16(0) == 0 && (iconType == 1 || iconType == 2) && iconCount >= 1 &&
      iconCount <= MaxIconCount && Block.size() >= 6 + 16 * iconCount) {
    std::uint32_t end = 0;
    bool valid = true;
    for (std::uint32_t i = 0; i < iconCount && valid; ++i) {
      const std::size_t entry = 6 + 16 * i;
      const std::uint32_t size = U32(Block, entry + 8);
      const std::uint32_t offset = U32(Block, entry + 12);
      valid = U8(Block, entry + 3) == 0 && offset >= MinIconImageOffset && offset <= MaxIconImageOffset && size != 0;
      end = std::max(end, offset + size);  // each sum wraps at 2^32 before the maximum is taken
    }
    if (valid) return {iconType == 1 ? Kinds::Icon : Kinds::Cursor, false, end};
  }

  if (Block.size() >= 12 && head.U32(0) == FourCC("RIFF")) {
    const std::uint32_t size = head.U32(4) + 8u;  // wraps at 2^32 like the header field
    TKind kind = Kinds::Riff;
    switch (head.U32(8)) {
      case FourCC("ACON"): kind = Kinds::AnimatedCursor; break;
      case FourCC("AVI "): kind = Kinds::Avi; break;
      case FourCC("CDDA"): kind = Kinds::CdAudio; break;
      case FourCC("PAL "): kind = Kinds::Palette; break;
      case FourCC("QLCM"): kind = Kinds::Qcp; break;
      case FourCC("RMID"): kind = Kinds::RiffMidi; break;
      case FourCC("WAVE"): kind = Kinds::Wave; break;
      default: break;
    }
    return {kind, false, size};
  }

  if (TKind kind = MatchOneLineTests(Block, head); kind != 0) {
    return {kind, true, length};
  }

  std::int32_t textLength = 0;
  if (IsTextBlock(Block, textLength)) return {Kinds::Text, textLength == length, textLength};
  return {RecognizeNewerKinds(Block), true, length};
}

bool TrailerFound(std::span<const std::uint8_t> Block, TKind Kind)
{
  const std::uint8_t* start = Block.data();
  const std::uint8_t* stop = start + Block.size();
  switch (Kind) {
    case Kinds::Mp3: return !Block.empty() && Block.back() == 0 && FindBytes(start, stop, "TAG") != nullptr;
    case Kinds::Pdf: return FindBytesNoCase(start, stop, "%%EOF") != nullptr;
    default: return false;
  }
}

// ---------------------------------------------------------------------------------------------
// Text recognizer

namespace {

// Control bytes that text may hold: tab, line feed, form feed, carriage return, end-of-file mark.
constexpr std::uint32_t TextControls = 1u << 9 | 1u << 10 | 1u << 12 | 1u << 13 | 1u << 26;

// A text block needs at least this many non-zero characters below 127.
constexpr std::size_t MinOrdinaryChars = 8;

constexpr std::uint64_t EveryByte(std::uint8_t b) { return 0x0101010101010101ull * b; }

// Eight bytes as a little-endian word: byte k of the range is bits 8k..8k+7 on every host.
// Written out so that the compiler makes it one load on a little-endian host.
inline std::uint64_t LoadLE64(const std::uint8_t* p)
{
  return std::uint64_t{p[0]} | std::uint64_t{p[1]} << 8 | std::uint64_t{p[2]} << 16 | std::uint64_t{p[3]} << 24 |
         std::uint64_t{p[4]} << 32 | std::uint64_t{p[5]} << 40 | std::uint64_t{p[6]} << 48 |
         std::uint64_t{p[7]} << 56;
}

// The high bit of each byte below 32 is set, and possibly of bytes above such a byte (the
// subtraction borrows); no byte of 32 or more below the first flagged one is ever set.
constexpr std::uint64_t BytesBelow32(std::uint64_t w) { return (w - EveryByte(0x20)) & ~w & EveryByte(0x80); }

bool AllZero(const std::uint8_t* p, const std::uint8_t* stop)
{
  std::uint64_t any = 0;
  for (; stop - p >= 8; p += 8) any |= LoadLE64(p);
  for (; p < stop; ++p) any |= *p;
  return any == 0;
}

}  // namespace

bool IsTextBlock(std::span<const std::uint8_t> Block, std::int32_t& TextLength)
{
  const std::uint8_t* const start = Block.data();
  const std::size_t n = Block.size();
  TextLength = static_cast<std::int32_t>(n);
  std::size_t ordinary = 0;  // non-zero bytes below 127, counted until there are enough

  enum class TStep { Next, Text, NotText };
  const auto onByte = [&](std::size_t i) {
    const std::uint8_t c = start[i];
    if (c == 0) {
      TextLength = static_cast<std::int32_t>(i);
      // Nothing after the first zero can add an ordinary character, so the count is final here.
      return ordinary >= MinOrdinaryChars && AllZero(start + i, start + n) ? TStep::Text : TStep::NotText;
    }
    if (c < 32 && ((TextControls >> c) & 1) == 0) return TStep::NotText;
    if (c < 127) ++ordinary;
    return TStep::Next;
  };

  std::size_t i = 0;
  for (; i < n && ordinary < MinOrdinaryChars; ++i)
    if (const TStep step = onByte(i); step != TStep::Next) return step == TStep::Text;

  // With enough ordinary characters seen, only bytes below 32 can still decide. Where the
  // processor compares sixteen bytes at once they are found so, and the tabs, line feeds and
  // carriage returns that text holds on nearly every line are passed over with them, so that a
  // text block seldom leaves the loop's one well-predicted branch (kxEngineBench, Text: a third
  // less time than a word at a time). The words below do the rest.
#if defined(__SSE2__)
  const __m128i limit = _mm_set1_epi8(31);
  const __m128i tab = _mm_set1_epi8(9), lineFeed = _mm_set1_epi8(10), carriageReturn = _mm_set1_epi8(13);
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + i));
    const __m128i usual = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, lineFeed)),
                                       _mm_cmpeq_epi8(v, carriageReturn));
    const __m128i below = _mm_cmpeq_epi8(_mm_min_epu8(v, limit), v);
    auto deciding = static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(usual, below)));
    while (deciding != 0) {
      const std::size_t j = i + static_cast<std::size_t>(std::countr_zero(deciding));
      deciding &= deciding - 1;
      if (const TStep step = onByte(j); step != TStep::Next) return step == TStep::Text;
    }
  }
#endif
  // Eight at a time: the lowest flagged byte of a word is always one, and a borrow from it may
  // flag bytes above it that are not, so each flagged byte is looked at again.
  for (; i + 8 <= n; i += 8) {
    std::uint64_t below32 = BytesBelow32(LoadLE64(start + i));
    while (below32 != 0) {
      const std::size_t j = i + static_cast<std::size_t>(std::countr_zero(below32)) / 8;
      below32 &= below32 - 1;
      if (start[j] >= 32) continue;
      if (const TStep step = onByte(j); step != TStep::Next) return step == TStep::Text;
    }
  }
  for (; i < n; ++i)
    if (const TStep step = onByte(i); step != TStep::Next) return step == TStep::Text;
  return ordinary >= MinOrdinaryChars;
}

const std::uint8_t* FindByte(const std::uint8_t* Start, const std::uint8_t* Stop, std::uint8_t B)
{
  if (Start >= Stop) return nullptr;
  return static_cast<const std::uint8_t*>(std::memchr(Start, B, static_cast<std::size_t>(Stop - Start)));
}

namespace {

template <typename TFold>
const std::uint8_t* Find(const std::uint8_t* Start, const std::uint8_t* Stop, std::string_view Pattern, TFold Fold)
{
  if (Start > Stop || static_cast<std::size_t>(Stop - Start) < Pattern.size()) return nullptr;
  if (Pattern.empty()) return Start;
  const std::uint8_t* const last = Stop - Pattern.size();
  const auto matchesAt = [&](const std::uint8_t* p) {
    std::size_t i = 0;
    while (i < Pattern.size() && Fold(p[i]) == static_cast<std::uint8_t>(Pattern[i])) ++i;
    return i == Pattern.size();
  };
  // The trailer search runs over every block appended to an open PDF, and the text rules search
  // every text block for their keywords, so candidates are found with memchr, on a byte of the
  // pattern that only one byte value can match: any byte of an exact search, and with case
  // folded the first that is not a letter. Anchors come in the order of the places they anchor,
  // so the first place that matches is the first match. A folded byte is never a lower-case
  // letter, so a pattern that holds one matches nothing, however it is searched.
  const auto isLetter = [](std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  std::size_t anchor = 0;
  if (Fold(std::uint8_t{'a'}) != 'a')
    while (anchor < Pattern.size() && isLetter(static_cast<std::uint8_t>(Pattern[anchor]))) ++anchor;
  if (anchor == Pattern.size()) {
    for (const std::uint8_t* p = Start; p <= last; ++p)
      if (matchesAt(p)) return p;
    return nullptr;
  }
  const auto key = static_cast<std::uint8_t>(Pattern[anchor]);
  for (const std::uint8_t* p = Start; p <= last; ++p) {
    const auto* at = static_cast<const std::uint8_t*>(std::memchr(p + anchor, key, static_cast<std::size_t>(last - p) + 1));
    if (at == nullptr) return nullptr;
    p = at - anchor;
    if (matchesAt(p)) return p;
  }
  return nullptr;
}

}  // namespace

const std::uint8_t* FindBytes(const std::uint8_t* Start, const std::uint8_t* Stop, std::string_view Pattern)
{
  return Find(Start, Stop, Pattern, [](std::uint8_t c) { return c; });
}

const std::uint8_t* FindBytesNoCase(const std::uint8_t* Start, const std::uint8_t* Stop, std::string_view Pattern)
{
  return Find(Start, Stop, Pattern, [](std::uint8_t c) { return AsciiUpper(c); });
}

bool TextBetween(const std::uint8_t* Start, const std::uint8_t* Stop, std::string_view StartMarker,
                 std::string_view EndMarker, std::string& Name)
{
  const std::uint8_t* p = FindBytesNoCase(Start, Stop, StartMarker);
  if (p == nullptr) return false;
  const std::uint8_t* q = p + StartMarker.size();
  const std::uint8_t* r = FindBytesNoCase(q, Stop, EndMarker);
  if (r == nullptr) return false;
  Name.assign(q, q + std::min(static_cast<std::size_t>(r - q), MaxContentNameLength));
  return true;
}

std::string IdentChars(const std::uint8_t* Start, const std::uint8_t* Stop)
{
  std::string result;
  for (const std::uint8_t* p = Start; p < Stop && result.size() < MaxContentNameLength; ++p) {
    const std::uint8_t c = *p;
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_')
      result += static_cast<char>(c);
  }
  if (result.empty()) result = "_";
  return result;
}

namespace {

// How a keyword row of the text refinement is tested against the block.
enum class TWhere : std::uint8_t {
  AtStart,            // the first key, exactly, case included, at the block's first byte
  AnyOf,              // any of the keys, anywhere, case ignored
  AllOf,              // every key, anywhere, case ignored
  BracketedFirstLine  // the block begins with "[" and its first line ends with "]"
};

// How a matching row names the file.
enum class TNaming : std::uint8_t {
  Ident,    // IdentChars of the block
  Between,  // TextBetween with the first marker pair, then the second; name kept when neither is found
  Pascal    // the Pascal rule, which may also change the kind
};

struct TMarkers {
  std::string_view From, To;
};

struct TKeywordRule {
  TKind Kind;
  TWhere Where;
  std::array<std::string_view, 4> Keys;
  TNaming Naming;
  std::array<TMarkers, 2> Markers;
};

// Tried in this order for a block of plain text; the first row that matches decides, and a block
// matching none stays kind 1 named by IdentChars.
constexpr TKeywordRule KeywordRules[] = {
    {2, TWhere::AtStart, {"{\\rtf"}, TNaming::Ident, {}},
    {16, TWhere::AnyOf, {"[HKEY_"}, TNaming::Ident, {}},
    {3, TWhere::BracketedFirstLine, {}, TNaming::Between, {{{"[", "]"}}}},
    {14, TWhere::AtStart, {"/* XPM */"}, TNaming::Between, {{{"CHAR *", "[]"}, {"CHAR*", "[]"}}}},
    {12, TWhere::AtStart, {"object "}, TNaming::Between, {{{"OBJECT ", ":"}}}},
    {4, TWhere::AnyOf, {"<?PHP"}, TNaming::Ident, {}},
    {5, TWhere::AnyOf, {"<HTML>"}, TNaming::Between, {{{"<TITLE>", "</TITLE>"}}}},
    {6, TWhere::AnyOf, {"<SVG>"}, TNaming::Ident, {}},
    {13, TWhere::AllOf, {"<?XML", "<BORLANDPROJECT"}, TNaming::Between,
     {{{"<SOURCE NAME=\"MAINSOURCE\">", "</SOURCE>"}}}},
    {7, TWhere::AnyOf, {"<?XML"}, TNaming::Ident, {}},
    {8, TWhere::AnyOf, {"A:LINK"}, TNaming::Ident, {}},
    {9, TWhere::AnyOf, {"END;", "{$", ":=", "\nINTERFACE"}, TNaming::Pascal, {}},
    {15, TWhere::AnyOf, {"#INCLUDE", "#DEFINE", "#IF"}, TNaming::Ident, {}},
    {17, TWhere::AtStart, {"#EXTM3U"}, TNaming::Between, {{{"#EXTINF:", "#EXTINF:"}}}},
    {18, TWhere::AnyOf, {"\\BEGIN{"}, TNaming::Ident, {}},
    {19, TWhere::AnyOf, {"%!PS-ADOBE"}, TNaming::Ident, {}},
};

// The Pascal rule: the first of these declarations found names the source and gives its kind.
struct TPascalStart {
  std::string_view Marker;
  TKind Kind;
};
constexpr TPascalStart PascalStarts[] = {{"PACKAGE ", 11}, {"PROGRAM ", 10}, {"UNIT ", 9}, {"LIBRARY ", 9}};

bool RuleMatches(const TKeywordRule& rule, const std::uint8_t* start, const std::uint8_t* stop,
                 const std::uint8_t* lineEnd)
{
  const auto found = [&](std::string_view key) { return FindBytesNoCase(start, stop, key) != nullptr; };
  switch (rule.Where) {
    case TWhere::AtStart: {
      const std::string_view key = rule.Keys[0];
      return static_cast<std::size_t>(stop - start) >= key.size() && std::memcmp(start, key.data(), key.size()) == 0;
    }
    case TWhere::AnyOf:
      return std::any_of(rule.Keys.begin(), rule.Keys.end(),
                         [&](std::string_view key) { return !key.empty() && found(key); });
    case TWhere::AllOf:
      return std::all_of(rule.Keys.begin(), rule.Keys.end(),
                         [&](std::string_view key) { return key.empty() || found(key); });
    case TWhere::BracketedFirstLine:
      return start < stop && *start == '[' && lineEnd > start && lineEnd[-1] == ']';
  }
  return false;
}

void DescribeText(const std::uint8_t* start, const std::uint8_t* stop, std::string& Name, TKind& Kind)
{
  const std::uint8_t* lineEnd = FindByte(start, stop, '\n');
  if (lineEnd == nullptr) lineEnd = stop;
  if (lineEnd != start && lineEnd[-1] == '\r') --lineEnd;

  for (const TKeywordRule& rule : KeywordRules) {
    if (!RuleMatches(rule, start, stop, lineEnd)) continue;
    Kind = rule.Kind;
    switch (rule.Naming) {
      case TNaming::Ident:
        Name = IdentChars(start, stop);
        break;
      case TNaming::Between:
        for (const TMarkers& m : rule.Markers)
          if (!m.From.empty() && TextBetween(start, stop, m.From, m.To, Name)) break;
        break;
      case TNaming::Pascal:
        for (const TPascalStart& s : PascalStarts) {
          if (TextBetween(start, stop, s.Marker, ";", Name)) {
            Kind = s.Kind;
            return;
          }
        }
        Name = IdentChars(start, stop);
        break;
    }
    return;
  }
  Name = IdentChars(start, stop);
}

}  // namespace

std::string ScanEntryName(std::int32_t Number)
{
  char name[32];
  std::snprintf(name, sizeof name, "File %.6d", Number);
  return name;
}

void DescribeFoundFile(std::span<const std::uint8_t> Block, std::string& Name, TKind& Kind)
{
  const std::uint8_t* start = Block.data();
  const std::uint8_t* stop = start + Block.size();
  switch (Kind) {
    case Kinds::Text:
      DescribeText(start, stop, Name, Kind);
      break;
    case Kinds::Bitmap:
      if (Block.size() >= 26) {
        char text[32];
        std::snprintf(text, sizeof text, "%d x %d", static_cast<std::int32_t>(U32(Block, 18)),
                      static_cast<std::int32_t>(U32(Block, 22)));
        Name = text;
      }
      break;
    case Kinds::Bgi:
      TextBetween(start, stop, "\x08\x08", "\r\n", Name);
      break;
    case Kinds::TiCalculator:
      // The name runs to the first zero byte, or to the block's end when there is none.
      if (Block.size() > 11) {
        const std::uint8_t* zero = FindByte(start + 11, stop, 0);
        Name.assign(start + 11, zero != nullptr ? zero : stop);
      }
      break;
    default:
      break;
  }
  Name = MakeValidFileName(Name);
  Name.erase(0, std::min(Name.find_first_not_of(' '), Name.size()));
}

// ---------------------------------------------------------------------------------------------
// Headers that recur inside a file, read for the scan. Kept after the text recognizer: placed
// before it, they moved its code so that a plain-text block took half as long again (code
// alignment; kxEngineBench, Text).

std::optional<TPackClock> ReadPackClock(std::span<const std::uint8_t> Block)
{
  const TBlock b = Block;
  if (U32(b, 0) != FourCC("\x00\x00\x01\xBA")) return std::nullopt;
  const auto at = [&](std::size_t n) -> std::uint64_t { return b[n]; };
  // MPEG-2: 01 s32..30 1 s29..28 | s27..20 | s19..15 1 s14..13 | s12..5 | s4..0 1 e8..7 |
  // e6..0 1, then the mux rate and the stuffing length: 14 bytes.
  if (b.size() >= 14 && (b[4] & 0xC0) == 0x40) {
    if ((b[4] & 0x04) == 0 || (b[6] & 0x04) == 0 || (b[8] & 0x04) == 0 || (b[9] & 0x01) == 0) return std::nullopt;
    return TPackClock{true, (at(4) >> 3 & 7) << 30 | (at(4) & 3) << 28 | at(5) << 20 | (at(6) >> 3) << 15 |
                                (at(6) & 3) << 13 | at(7) << 5 | at(8) >> 3};
  }
  // MPEG-1: 0010 s32..30 1 | s29..22 | s21..15 1 | s14..7 | s6..0 1, then the mux rate: 12 bytes.
  if (b.size() >= 12 && (b[4] & 0xF0) == 0x20) {
    if ((b[4] & 0x01) == 0 || (b[6] & 0x01) == 0 || (b[8] & 0x01) == 0) return std::nullopt;
    return TPackClock{false, (at(4) >> 1 & 7) << 30 | at(5) << 22 | (at(6) >> 1) << 15 | at(7) << 7 | at(8) >> 1};
  }
  return std::nullopt;
}

bool PackContinues(const TPackClock& Last, const std::optional<TPackClock>& Next)
{
  return Next && Next->Mpeg2 == Last.Mpeg2 && Next->Base >= Last.Base;
}

bool IsTarMemberHeader(std::span<const std::uint8_t> Block)
{
  return Block.size() >= TarMagicOffset + TarMagic.size() &&
         std::memcmp(Block.data() + TarMagicOffset, TarMagic.data(), TarMagic.size()) == 0;
}

}  // namespace kx
