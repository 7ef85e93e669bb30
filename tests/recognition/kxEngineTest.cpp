// SPDX-License-Identifier: GPL-3.0-or-later
#include "recognition/kxEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace kx {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;
using TBytes = std::vector<std::uint8_t>;

constexpr std::size_t SectorSize = 2048;

// A zero-filled block of Length bytes with Bytes placed at Offset. Blocks live on the heap at
// their exact size, so that the sanitizer build catches any read past the end.
TBytes MakeBlock(std::string_view Bytes, std::size_t Offset = 0, std::size_t Length = SectorSize)
{
  TBytes b(Length, 0);
  for (std::size_t i = 0; i < Bytes.size() && Offset + i < Length; ++i)
    b[Offset + i] = static_cast<std::uint8_t>(Bytes[i]);
  return b;
}

TBytes TextBlock(std::string_view Text, std::size_t Length = SectorSize) { return MakeBlock(Text, 0, Length); }

void Put16(TBytes& b, std::size_t n, std::uint32_t v)
{
  b[n] = static_cast<std::uint8_t>(v);
  b[n + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(TBytes& b, std::size_t n, std::uint32_t v)
{
  Put16(b, n, v & 0xFFFF);
  Put16(b, n + 2, v >> 16);
}

TBlockKind Recognize(const TBytes& b) { return RecognizeBlock(b); }

// ---------------------------------------------------------------------------------------------
// One-line signatures: every row, each alternative of a row, in the order of the chain.

struct TSignatureCase {
  int Order;
  std::uint16_t Offset;
  std::string_view Bytes;
  TKind Kind;
  std::string_view Ext;
};

constexpr TSignatureCase SignatureCases[] = {
    {1, 0, "\x37\x7A\xBC\xAF\x27\x1C"sv, 31, ".7z"},
    {2, 0, "BZh"sv, 32, ".bz2"},
    {3, 0, "ISc("sv, 33, ".cab"},
    {4, 0, "MSCF"sv, 34, ".cab"},
    {5, 0, "\x1F\x8B\x08"sv, 35, ".gz"},
    {6, 0, "(This file must be converted with BinHex"sv, 36, ".hqx"},
    {7, 1, "NeroISO"sv, 37, ".nri"},
    {8, 0, "Rar!\x1A\x07\x00"sv, 38, ".rar"},
    {9, 0, "\xED\xAB\xEE\xDB"sv, 39, ".rpm"},
    {10, 0, "SIT!"sv, 40, ".sit"},
    {10, 0, "Stuf"sv, 40, ".sit"},
    {11, 8, "sqx-"sv, 41, ".sqx"},
    {12, 0, "ustar"sv, 42, ".tar"},
    {12, 257, "ustar"sv, 42, ".tar"},
    {13, 0, "UHA"sv, 43, ".uha"},
    {14, 0, "PK\x03\x04"sv, 44, ".zip"},
    {15, 0, "ZOO "sv, 45, ".zoo"},
    {16, 0, "FORM\x00"sv, 46, ".aiff"},
    {17, 0, "#!AMR"sv, 47, ".amr"},
    {18, 0, ".snd"sv, 48, ".au"},
    {19, 0, "fLaC\x00\x00\x00\x22"sv, 49, ".flac"},
    {20, 0, "MThd"sv, 50, ".mid"},
    {21, 0, "ID3"sv, 51, ".mp3"},
    {22, 0, "OggS"sv, 52, ".ogg"},
    {23, 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, 53, ".ppt.xls.doc"},
    {24, 0, "ITSF"sv, 54, ".chm"},
    {25, 0, "\x00\x01\x00\x00Standard"sv, 55, ".mdb"},
    {26, 0, "%PDF"sv, 56, ".pdf"},
    {27, 0, "8BPS"sv, 57, ".psd"},
    {28, 0, "~BK\x00"sv, 58, ".psp"},
    {28, 0, "Paint Shop Pro Image File\n\x1A"sv, 58, ".psp"},
    {29, 0, "\x0FSIBELIU"sv, 59, ".sib"},
    {30, 0, "SQLite format"sv, 60, ".sqlite"},
    {31, 0, "MZ"sv, 61, ".exe"},
    {32, 0, "PK\x08\x08"sv, 63, ".chr.bgi"},
    {32, 0, "FBGD"sv, 63, ".chr.bgi"},
    {33, 0, "\xCA\xFE\xBA\xBE"sv, 64, ".class"},
    {34, 0, "\xDF\x00\x00\x0F"sv, 65, ".dcu"},
    {35, 0, "\x7F" "ELF"sv, 66, ".elf.so.o"},
    {36, 0, "\x91\xD5\x12\x00\x58\x02\x00\x00"sv, 67, ".gm6"},  // 1,234,321 and 600
    {37, 0, "PPU0"sv, 68, ".ppu"},
    {38, 0, "**TI"sv, 69, ".ti.__x"},
    {39, 0, "\x00\x00\x00\x00\x20\x00\x00\x00\xFF\xFF\x00\x00\xFF\xFF\x00\x00"
            "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"sv, 70, ".res"},
    {40, 0, "MSFT\x02\x00\x01\x00"sv, 71, ".tlb"},
    {41, 0, "TPUQ"sv, 72, ".tpu"},
    {42, 0, "\x3A\xDE\x68\xB1"sv, 73, ".dcx"},
    {42, 0, "\xB1\x68\xDE\x3A"sv, 73, ".dcx"},
    {43, 0, "\x10\x00\x00\x05\x80\x00\x00"sv, 74, ".emf"},
    {44, 0, "GIF87a"sv, 75, ".gif"},
    {44, 0, "GIF89a"sv, 75, ".gif"},
    {45, 0, "IMG"sv, 76, ".img"},
    {46, 0, "\xFF\xD8\xFF\xE0"sv, 77, ".jpg"},
    {46, 0, "\xFF\xD8\xFF\xE1"sv, 77, ".jpg"},
    {46, 0, "\xFF\xD8\xFF\xFE"sv, 77, ".jpg"},
    {47, 0, "\x0A\x02\x01\x01"sv, 78, ".pcx"},
    {47, 0, "\x0A\x03\x01\x01"sv, 78, ".pcx"},
    {47, 0, "\x0A\x05\x01\x01"sv, 78, ".pcx"},
    {48, 0, "\x89PNG\r\n\x1A\n"sv, 79, ".png"},
    {49, 0, "I I"sv, 80, ".tif"},
    {49, 0, "II*"sv, 80, ".tif"},
    {49, 0, "MM*"sv, 80, ".tif"},
    {49, 0, "MM\x00*"sv, 80, ".tif"},
    {49, 0, "MM\x00+"sv, 80, ".tif"},
    {50, 0, "\xD7\xCD\xC6\x9A"sv, 81, ".wmf"},
    {51, 0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11"sv, 82, ".asf"},
    {51, 0, "\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"sv, 82, ".asf"},
    {52, 0, "\x2E\x72\x61\xFD"sv, 83, ".ra"},
    {53, 0, ".RMF"sv, 84, ".rm"},
    {54, 4, "moov"sv, 85, ".mov"},
    {54, 4, "mdat"sv, 85, ".mov"},
    {55, 0, "\x00\x00\x01\xB3"sv, 86, ".mpg"},
    {56, 0, "CWS"sv, 87, ".swf"},
    {56, 0, "FLV"sv, 87, ".swf"},
    {56, 0, "FWS"sv, 87, ".swf"},
    {57, 0, "\x00\x00\x01\xBA"sv, 88, ".vob"},
    {58, 0, "\x4C\x00\x00\x00\x01\x14\x02\x00"sv, 89, ".lnk"},
    {59, 0, "SFPK"sv, 90, ".sfk"},
};

// The block of a signature row. The executable row's "MZ" is followed by the rest of a DOS
// header, without which the executable rule takes no block; the row's own bytes stay "MZ".
constexpr std::string_view DosHeaderRest = "\x90\x00\x03\x00\x00\x00\x04\x00\x10\x00\xFF\xFF"sv;
constexpr std::size_t DosHeaderLength = 28;

TBytes SignatureBlock(const TSignatureCase& C, std::size_t Length = SectorSize)
{
  TBytes b = MakeBlock(C.Bytes, C.Offset, Length);
  if (C.Kind == 61)
    for (std::size_t i = 0; i < DosHeaderRest.size() && 2 + i < Length; ++i) b[2 + i] = static_cast<std::uint8_t>(DosHeaderRest[i]);
  return b;
}

std::size_t SignatureEnd(const TSignatureCase& C)
{
  return std::max(C.Offset + C.Bytes.size(), C.Kind == 61 ? DosHeaderLength : std::size_t{0});
}

TEST(RecognizeBlock, EverySignatureRowGivesItsKindAsOneOpenBlock)
{
  int order = 0;
  for (const auto& c : SignatureCases) {
    SCOPED_TRACE(testing::Message() << "order " << c.Order << " " << KindExtensions[c.Kind]);
    EXPECT_GE(c.Order, order);  // the case list follows the chain
    order = c.Order;
    const TBlockKind r = Recognize(SignatureBlock(c));
    EXPECT_EQ(r.Kind, c.Kind);
    EXPECT_TRUE(r.Continues);
    EXPECT_EQ(r.Size, 2048);
    EXPECT_EQ(KindExtensions[r.Kind], c.Ext);
  }
  EXPECT_EQ(order, 59);
}

// Whether Block holds another alternative of the same row as C.
bool IsAlternativeOf(const TBytes& Block, const TSignatureCase& C)
{
  for (const auto& d : SignatureCases)
    if (d.Order == C.Order && std::equal(d.Bytes.begin(), d.Bytes.end(), Block.begin() + d.Offset,
                                         [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
      return true;
  return false;
}

// Every byte of every row counts, letter case included: changing any one of them loses the kind.
TEST(RecognizeBlock, EverySignatureByteIsANearMiss)
{
  for (const auto& c : SignatureCases) {
    for (std::size_t i = 0; i < c.Bytes.size(); ++i) {
      for (const std::uint8_t flip : {0x20, 0x01, 0x80}) {
        TBytes b = SignatureBlock(c);
        b[c.Offset + i] ^= flip;
        if (IsAlternativeOf(b, c)) continue;  // JPEG E0 ^ 01 is the E1 alternative, and so on
        EXPECT_NE(Recognize(b).Kind, c.Kind)
            << "order " << c.Order << ", byte " << c.Offset + i << " ^ " << int{flip};
      }
    }
  }
}

// A block too short for a row never matches it, and no row reads past the block (the sanitizer
// build checks the reads); a block that just holds the row still matches.
TEST(RecognizeBlock, ShortBlocksMatchOnlyRowsTheyHold)
{
  for (const auto& c : SignatureCases) {
    const std::size_t end = SignatureEnd(c);
    SCOPED_TRACE(testing::Message() << "order " << c.Order << " " << KindExtensions[c.Kind]);
    EXPECT_NE(Recognize(SignatureBlock(c, end - 1)).Kind, c.Kind);
    EXPECT_EQ(Recognize(SignatureBlock(c, end)).Kind, c.Kind);
  }
  for (std::size_t length = 0; length <= 16; ++length) {
    const TBlockKind r = Recognize(TBytes(length, 0));
    EXPECT_EQ(r.Kind, 0);
    EXPECT_EQ(r.Size, static_cast<std::int64_t>(length));
  }
}

TEST(RecognizeBlock, Gm6HeaderIsTwoLittleEndianWords)
{
  TBytes b(SectorSize, 0);
  Put32(b, 0, 1'234'321);
  Put32(b, 4, 600);
  EXPECT_EQ(Recognize(b).Kind, 67);
  Put32(b, 4, 601);
  EXPECT_NE(Recognize(b).Kind, 67);
}

// Where two rows could both match a block, the one earlier in the chain decides; sized tests come
// before every one-line test, and every signature before the text test.
TEST(RecognizeBlock, EarlierTestsWin)
{
  const struct {
    const char* Label;
    std::string_view Bytes;
    TKind Kind;
  } cases[] = {
      {"bzip2 before SQX at offset 8", "BZh91AY&sqx-"sv, 32},
      {"CHM before QuickTime at offset 4", "ITSFmoov"sv, 54},
      {"MP3 before QuickTime", "ID3\x04moov"sv, 51},
      // "MZ" without a program's header is no executable: the chain goes on (the mended rule).
      {"MZ that is no program, then QuickTime", "MZ\x90\x00mdat"sv, 85},
      {"RIFF before QuickTime", "RIFFmdatWAVE"sv, 29},
      {"SQX before anything at offset 0 that comes later", "MThd\x00\x00\x00\x06sqx-"sv, 41},
      {"ZIP local header", "PK\x03\x04"sv, 44},
      {"ZIP spanning marker is BGI", "PK\x08\x08"sv, 63},
  };
  for (const auto& c : cases) EXPECT_EQ(Recognize(MakeBlock(c.Bytes)).Kind, c.Kind) << c.Label;

  // Text that happens to begin with a signature is taken by that signature; "MZ" followed by
  // text has no program's header and stays text.
  const struct {
    std::string_view Start;
    TKind Kind;
  } textCases[] = {{"ID3", 51}, {"BZh", 32}, {"IMG", 76}, {"UHA", 43}, {"MZ", 1}, {"FLV", 87}};
  for (const auto& c : textCases) {
    std::string text(c.Start);
    while (text.size() < SectorSize) text += " plain words on a line\r\n";
    text.resize(SectorSize);
    const TBlockKind r = Recognize(TextBlock(text));
    EXPECT_EQ(r.Kind, c.Kind) << c.Start;
    EXPECT_EQ(r.Size, 2048);
    EXPECT_TRUE(r.Continues);
  }
}

// ---------------------------------------------------------------------------------------------
// Formats whose real files the first rows never matched: tar, DCX and MPEG program streams

// A 512-byte tar member header as GNU tar writes it, in its own (Gnu) or the POSIX dialect.
TBytes TarHeader(std::string_view Name, bool Gnu, std::size_t Length = SectorSize)
{
  TBytes b = MakeBlock(Name, 0, Length);
  const auto put = [&](std::size_t at, std::string_view field) {
    for (std::size_t i = 0; i < field.size() && at + i < Length; ++i) b[at + i] = static_cast<std::uint8_t>(field[i]);
  };
  put(100, "0000644"sv);
  put(108, "0001750"sv);
  put(116, "0001750"sv);
  put(124, "00000001750"sv);
  put(136, "14713546150"sv);
  put(148, "        "sv);
  put(156, "0"sv);
  put(257, Gnu ? "ustar  \0"sv : "ustar\0" "00"sv);
  unsigned sum = 0;
  for (std::size_t i = 0; i < std::min<std::size_t>(512, Length); ++i) sum += b[i];
  char checksum[8];
  std::snprintf(checksum, sizeof checksum, "%06o", sum);
  put(148, std::string_view(checksum, 7));
  return b;
}

// Each mended rule with the rows around it in the chain: the new tar row sits right after the
// old one (before UHarc), the little-endian DCX row right after the big-endian one.
TEST(RecognizeBlock, TarDcxAndProgramStreamRowsInTheChain)
{
  TBytes uharcWithMagic = MakeBlock("UHA\x06");
  std::memcpy(uharcWithMagic.data() + 257, "ustar", 5);
  TBytes sqxWithMagic = MakeBlock("\x00\x01\x02\x03\x04\x05\x06\x07sqx-"sv);
  std::memcpy(sqxWithMagic.data() + 257, "ustar", 5);
  std::string text;
  while (text.size() < SectorSize) text += "The ustar format of tar keeps its magic in each header. ";
  text.replace(257, 5, "ustar");
  TBytes dcx = MakeBlock("\xB1\x68\xDE\x3A");
  Put32(dcx, 4, 4100);  // the first page follows the 1024-entry offset table

  const struct {
    const char* Label;
    TBytes Block;
    TKind Kind;
  } cases[] = {
      {"tar magic at offset 0, as before", MakeBlock("ustar"), 42},
      {"GNU tar member header", TarHeader("notes/readme.txt", true), 42},
      {"POSIX tar member header", TarHeader("notes/readme.txt", false), 42},
      {"member named like the magic", TarHeader("ustar.txt", true), 42},
      {"magic one byte early", MakeBlock("ustar", 256), 0},
      {"magic one byte late", MakeBlock("ustar", 258), 0},
      {"magic cut by the block's end", MakeBlock("ustar", 257, 261), 0},
      {"SQX, the row before tar, still wins", sqxWithMagic, 41},
      {"UHarc, the row after tar, loses to a member header", uharcWithMagic, 42},
      {"UHarc", MakeBlock("UHA\x06"), 43},
      {"text with the magic at 257 is tar: signatures win over text", TextBlock(text), 42},
      {"DCX magic in reversed byte order, as before", MakeBlock("\x3A\xDE\x68\xB1"), 73},
      {"DCX magic as files store it", dcx, 73},
      {"DCX magic with one byte off", MakeBlock("\xB1\x68\xDE\x3B"), 0},
      {"DCX bytes mixed from both orders", MakeBlock("\xB1\x68\x68\xB1"), 0},
      {"Turbo Pascal unit, the row before DCX", MakeBlock("TPUQ"), 72},
      {"EMF, the row after DCX", MakeBlock("\x10\x00\x00\x05\x80\x00\x00"sv), 74},
      // Pack headers as ffmpeg writes them for -f vob (MPEG-2) and -f mpeg (MPEG-1).
      {"MPEG-2 pack", MakeBlock("\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x43\x43\x5B\xF8"sv), 88},
      {"MPEG-1 pack", MakeBlock("\x00\x00\x01\xBA\x21\x00\x01\x00\x01\xA1\xA1\xAD"sv), 88},
      {"pack with a layout of neither kind", MakeBlock("\x00\x00\x01\xBA\xC4"sv), 88},
      {"video sequence header", MakeBlock("\x00\x00\x01\xB3"sv), 86},
      {"PES packet, which follows packs", MakeBlock("\x00\x00\x01\xE0\x07\xEC"sv), 0},
      {"Flash video, the row before", MakeBlock("FLV\x01"), 87},
      {"shell link, the row after", MakeBlock("\x4C\x00\x00\x00\x01\x14\x02\x00"sv), 89},
  };
  for (const auto& c : cases) {
    const TBlockKind r = Recognize(c.Block);
    EXPECT_EQ(r.Kind, c.Kind) << c.Label;
    EXPECT_EQ(r.Size, static_cast<std::int64_t>(c.Block.size())) << c.Label;
  }
}

TEST(IsTarMemberHeader, MagicAtOffset257Only)
{
  EXPECT_TRUE(IsTarMemberHeader(TarHeader("a", true)));
  EXPECT_TRUE(IsTarMemberHeader(TarHeader("a", false)));
  EXPECT_TRUE(IsTarMemberHeader(TarHeader("a", true, 262)));  // the magic just fits
  EXPECT_FALSE(IsTarMemberHeader(TarHeader("a", true, 261)));
  EXPECT_FALSE(IsTarMemberHeader(MakeBlock("ustar")));        // the old row's block is no header
  EXPECT_FALSE(IsTarMemberHeader(MakeBlock("ustaR", 257)));
  EXPECT_FALSE(IsTarMemberHeader(TBytes()));
}

// Known clocks: the first bytes of packs that ffmpeg wrote, and base values whose bits are all
// distinct or all set, encoded by hand in each layout.
TEST(ReadPackClock, BothLayoutsAndTheirMarkers)
{
  const struct {
    const char* Label;
    std::string_view Bytes;  // from byte 4 of the pack header on
    bool Mpeg2;
    std::uint64_t Base;
  } clocks[] = {
      {"MPEG-2, clock 0", "\x44\x00\x04\x00\x04\x01\x43\x43\x5B\xF8"sv, true, 0},
      {"MPEG-2, clock 3", "\x44\x00\x04\x00\x1C\x01\x43\x43\x5B\xF8"sv, true, 3},
      {"MPEG-2, clock 198100", "\x44\x00\x34\x2E\xA4\x01\x43\x43\x5B\xF8"sv, true, 198'100},
      {"MPEG-2, 0x123456789", "\x66\x34\x57\x3C\x4C\x01\x43\x43\x5B\xF8"sv, true, 0x1'2345'6789},
      {"MPEG-2, extension bits set do not count", "\x66\x34\x57\x3C\x4F\xFF\x43\x43\x5B\xF8"sv, true, 0x1'2345'6789},
      {"MPEG-2, all 33 bits", "\x7F\xFF\xFF\xFF\xFC\x01\x43\x43\x5B\xF8"sv, true, 0x1'FFFF'FFFF},
      {"MPEG-2, bit 32 only", "\x64\x00\x04\x00\x04\x01\x43\x43\x5B\xF8"sv, true, 0x1'0000'0000},
      {"MPEG-2, bit 0 only", "\x44\x00\x04\x00\x0C\x01\x43\x43\x5B\xF8"sv, true, 1},
      {"MPEG-1, clock 0", "\x21\x00\x01\x00\x01\xA1\xA1\xAD"sv, false, 0},
      {"MPEG-1, clock 45001", "\x21\x00\x03\x5F\x93\xA1\xA1\xAD"sv, false, 45'001},
      {"MPEG-1, 0x123456789", "\x29\x8D\x15\xCF\x13\xA1\xA1\xAD"sv, false, 0x1'2345'6789},
      {"MPEG-1, all 33 bits", "\x2F\xFF\xFF\xFF\xFF\xA1\xA1\xAD"sv, false, 0x1'FFFF'FFFF},
      {"MPEG-1, bit 32 only", "\x29\x00\x01\x00\x01\xA1\xA1\xAD"sv, false, 0x1'0000'0000},
      {"MPEG-1, bit 0 only", "\x21\x00\x01\x00\x03\xA1\xA1\xAD"sv, false, 1},
  };
  for (const auto& c : clocks) {
    const TBytes b = MakeBlock("\x00\x00\x01\xBA"s + std::string(c.Bytes));
    const std::optional<TPackClock> clock = ReadPackClock(b);
    ASSERT_TRUE(clock.has_value()) << c.Label;
    EXPECT_EQ(clock->Mpeg2, c.Mpeg2) << c.Label;
    EXPECT_EQ(clock->Base, c.Base) << c.Label;
  }

  // A cleared marker bit, a layout of neither kind, a header cut short, or no pack at all.
  const std::string mpeg2 = "\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x43\x43\x5B\xF8"s;
  const std::string mpeg1 = "\x00\x00\x01\xBA\x21\x00\x01\x00\x01\xA1\xA1\xAD"s;
  const auto with = [](std::string bytes, std::size_t at, std::uint8_t value) {
    bytes[at] = static_cast<char>(value);
    return bytes;
  };
  const struct {
    const char* Label;
    std::string Bytes;
    std::size_t Length;
  } misses[] = {
      {"MPEG-2, marker in byte 4", with(mpeg2, 4, 0x40), SectorSize},
      {"MPEG-2, marker in byte 6", with(mpeg2, 6, 0x00), SectorSize},
      {"MPEG-2, marker in byte 8", with(mpeg2, 8, 0x00), SectorSize},
      {"MPEG-2, marker in byte 9", with(mpeg2, 9, 0x00), SectorSize},
      {"MPEG-1, marker in byte 4", with(mpeg1, 4, 0x20), SectorSize},
      {"MPEG-1, marker in byte 6", with(mpeg1, 6, 0x00), SectorSize},
      {"MPEG-1, marker in byte 8", with(mpeg1, 8, 0x00), SectorSize},
      {"byte 4 = 0011xxxx", with(mpeg1, 4, 0x31), SectorSize},
      {"byte 4 = 0001xxxx", with(mpeg1, 4, 0x11), SectorSize},
      {"byte 4 = 11xxxxxx", with(mpeg2, 4, 0xC4), SectorSize},
      {"byte 4 = 10xxxxxx", with(mpeg2, 4, 0x84), SectorSize},
      {"MPEG-2 header cut short", mpeg2, 13},
      {"MPEG-1 header cut short", mpeg1, 11},
      {"sequence header", with(mpeg2, 3, 0xB3), SectorSize},
      {"pack start code alone", mpeg2.substr(0, 4), 4},
  };
  for (const auto& m : misses) EXPECT_FALSE(ReadPackClock(MakeBlock(m.Bytes, 0, m.Length)).has_value()) << m.Label;
  EXPECT_TRUE(ReadPackClock(MakeBlock(mpeg2, 0, 14)).has_value());
  EXPECT_TRUE(ReadPackClock(MakeBlock(mpeg1, 0, 12)).has_value());
  EXPECT_FALSE(ReadPackClock(TBytes()).has_value());
}

// ---------------------------------------------------------------------------------------------
// Sized tests: bitmap, icon and cursor, RIFF

TEST(RecognizeBlock, BitmapNeedsTwoZeroReservedWords)
{
  TBytes b = MakeBlock("BM");
  Put32(b, 2, 10'000);
  TBlockKind r = Recognize(b);
  EXPECT_EQ(r.Kind, 20);
  EXPECT_EQ(r.Size, 10'000);
  EXPECT_FALSE(r.Continues);

  Put32(b, 2, 0xFFFFFFFF);
  EXPECT_EQ(Recognize(b).Size, 4'294'967'295);  // widened, never negative
  Put32(b, 2, 0);
  r = Recognize(b);
  EXPECT_EQ(r.Kind, 20);
  EXPECT_EQ(r.Size, 0);

  for (const std::size_t word : {6, 8}) {
    TBytes miss = MakeBlock("BM then words on a line\r\n");
    Put16(miss, word, 0x2020);
    miss[word == 6 ? 8 : 6] = 0;
    miss[word == 6 ? 9 : 7] = 0;
    r = Recognize(miss);
    EXPECT_NE(r.Kind, 20) << word;
  }
  // Not a bitmap, and printable: it goes on through the chain and ends as text.
  EXPECT_EQ(Recognize(TextBlock("BMP files are bitmaps, and this line says so.")).Kind, 1);
}

struct TIconEntry {
  std::uint32_t Size;
  std::uint32_t Offset;
  std::uint8_t Reserved = 0;
};

TBytes IconBlock(std::uint16_t Type, const std::vector<TIconEntry>& Entries, std::size_t Length = SectorSize)
{
  TBytes b(SectorSize, 0);
  Put16(b, 2, Type);
  Put16(b, 4, static_cast<std::uint32_t>(Entries.size()));
  for (std::size_t i = 0; i < Entries.size(); ++i) {
    const std::size_t e = 6 + 16 * i;
    b[e] = 32;
    b[e + 1] = 32;
    b[e + 3] = Entries[i].Reserved;
    Put32(b, e + 8, Entries[i].Size);
    Put32(b, e + 12, Entries[i].Offset);
  }
  b.resize(Length);
  b.shrink_to_fit();  // so that the sanitizer build sees a read past the end
  return b;
}

TEST(RecognizeBlock, IconDirectoryLimits)
{
  const std::vector<TIconEntry> thirty(30, TIconEntry{100, 1000});
  const std::vector<TIconEntry> thirtyOne(31, TIconEntry{100, 1000});
  const struct {
    const char* Label;
    TBytes Block;
    TKind Kind;  // 0: not an icon
    std::int64_t Size;
  } cases[] = {
      {"two entries, largest end", IconBlock(1, {{100, 22}, {50, 200}}), 21, 250},
      {"cursor", IconBlock(2, {{100, 22}}), 22, 122},
      {"type 3", IconBlock(3, {{100, 22}}), 0, 0},
      {"no entries", IconBlock(1, {}), 0, 0},
      {"30 entries", IconBlock(1, thirty), 21, 1100},
      {"31 entries", IconBlock(1, thirtyOne), 0, 0},
      {"offset 21", IconBlock(1, {{100, 22}, {100, 21}}), 0, 0},
      {"offset 4194304", IconBlock(1, {{100, 4'194'304}}), 21, 4'194'404},
      {"offset 4194305", IconBlock(1, {{100, 22}, {100, 4'194'305}}), 0, 0},
      {"zero size", IconBlock(1, {{100, 22}, {0, 300}}), 0, 0},
      {"reserved byte set", IconBlock(1, {{100, 22}, {100, 300, 1}}), 0, 0},
      // Each end wraps at 2^32 before the largest is taken.
      {"end wraps", IconBlock(1, {{0xFFFFFFF0, 0x20}, {100, 22}}), 21, 122},
      {"directory longer than the block", IconBlock(1, {{100, 22}, {100, 22}}, 37), 0, 0},
      {"directory just fits", IconBlock(1, {{100, 22}, {100, 22}}, 38), 21, 122},
  };
  for (const auto& c : cases) {
    const TBlockKind r = Recognize(c.Block);
    if (c.Kind == 0) {
      EXPECT_NE(r.Kind, 21) << c.Label;
      EXPECT_NE(r.Kind, 22) << c.Label;
      continue;
    }
    EXPECT_EQ(r.Kind, c.Kind) << c.Label;
    EXPECT_EQ(r.Size, c.Size) << c.Label;
    EXPECT_FALSE(r.Continues) << c.Label;
  }
}

TEST(RecognizeBlock, IconThatFailsGoesOnThroughTheChain)
{
  // 31 entries is no icon; the block is then taken by a later test (here QuickTime at offset 4).
  TBytes b = IconBlock(1, std::vector<TIconEntry>(31, TIconEntry{100, 1000}));
  std::memcpy(b.data() + 4, "moov", 4);
  EXPECT_EQ(Recognize(b).Kind, 85);
}

TEST(RecognizeBlock, RiffFormsAndSize)
{
  const struct {
    std::string_view Form;
    TKind Kind;
  } forms[] = {{"ACON", 23}, {"AVI ", 24}, {"CDDA", 25}, {"PAL ", 26}, {"QLCM", 27},
               {"RMID", 28}, {"WAVE", 29}, {"AVI\0"sv, 30}, {"wave", 30}, {"XYZW", 30}};
  for (const auto& f : forms) {
    TBytes b = MakeBlock("RIFF");
    Put32(b, 4, 1000);
    std::memcpy(b.data() + 8, f.Form.data(), 4);
    const TBlockKind r = Recognize(b);
    EXPECT_EQ(r.Kind, f.Kind) << f.Form;
    EXPECT_EQ(r.Size, 1008) << f.Form;
    EXPECT_FALSE(r.Continues) << f.Form;
  }

  const struct {
    std::uint32_t Field;
    std::int64_t Size;
  } sizes[] = {{0, 8}, {0xFFFFFFF7, 4'294'967'295}, {0xFFFFFFF8, 0}, {0xFFFFFFFF, 7}};
  for (const auto& s : sizes) {
    TBytes b = MakeBlock("RIFF\0\0\0\0WAVE"sv);
    Put32(b, 4, s.Field);
    EXPECT_EQ(Recognize(b).Size, s.Size) << s.Field;
  }

  EXPECT_NE(Recognize(MakeBlock("RIFX\0\0\0\0WAVE"sv)).Kind, 29);
  EXPECT_EQ(Recognize(MakeBlock("RIFF\0\0\0\0WAV"sv, 0, 11)).Kind, 0);  // no room for the form
}

// ---------------------------------------------------------------------------------------------
// Executable rule

// "MZ" is a program only with a program's header: "PE\0\0" (or "NE", "LE", "LX") where offset 60
// points inside the block, or a plausible DOS header. A PE file is a DLL when bit 0x20 of the
// characteristics' high byte (23 bytes after the pointer) is set.
TEST(RecognizeBlock, ExecutableRuleChecksTheHeader)
{
  const auto block = [](bool dosHeader, std::uint32_t pointer, std::string_view sig, std::uint8_t flags) {
    TBytes b = MakeBlock("MZ");
    if (dosHeader)
      for (std::size_t i = 0; i < DosHeaderRest.size(); ++i) b[2 + i] = static_cast<std::uint8_t>(DosHeaderRest[i]);
    Put32(b, 60, pointer);
    if (pointer + 24 <= b.size()) {
      std::copy(sig.begin(), sig.end(), b.begin() + pointer);
      b[pointer + 23] = flags;
    }
    return b;
  };
  const struct {
    const char* Label;
    TBytes Block;
    TKind Kind;
  } cases[] = {
      {"PE program", block(false, 0x80, "PE\0\0"sv, 0x01), 61},
      {"PE library", block(false, 0x80, "PE\0\0"sv, 0x21), 62},
      {"PE header at the block's last 24 bytes", block(false, 2048 - 24, "PE\0\0"sv, 0x20), 62},
      {"16-bit Windows program", block(false, 0x80, "NE"sv, 0), 61},
      {"OS/2 program", block(false, 0x80, "LX"sv, 0), 61},
      {"no signature, DOS header", block(true, 0x80, "XX"sv, 0x20), 61},
      {"no signature, no DOS header (compressed video)", block(false, 0x80, "PX\0\0"sv, 0x20), 0},
      {"pointer past the block, DOS header", block(true, 0x7FFFFFF0, ""sv, 0), 61},
      {"pointer past the block, no DOS header", block(false, 0x7FFFFFF0, ""sv, 0), 0},
      {"negative pointer, no DOS header", block(false, 0xFFFFFFF0, ""sv, 0), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(Recognize(c.Block).Kind, c.Kind) << c.Label;

  // Each field of the DOS header that a real program cannot have.
  const struct {
    const char* Label;
    std::size_t Field;
    std::uint32_t Value;
    TKind Kind;
  } dos[] = {
      {"512 bytes on the last page", 2, 512, 0}, {"511 bytes on the last page", 2, 511, 61},
      {"no pages", 4, 0, 0}, {"a header of one paragraph", 8, 1, 0},
      {"a header larger than the pages", 8, 97, 0}, {"a header that just fits", 8, 96, 61},
      {"maximum memory below the minimum", 12, 0x0F, 0}, {"maximum memory equal to the minimum", 12, 0x10, 61},
      {"relocations outside the header", 6, 10, 0}, {"relocations inside the header", 6, 9, 61},
  };
  for (const auto& d : dos) {
    TBytes b = block(true, 0x7FFFFFF0, ""sv, 0);
    Put16(b, 24, 28);  // the relocation table right after the fixed fields
    Put16(b, d.Field, d.Value);
    EXPECT_EQ(Recognize(b).Kind, d.Kind) << d.Label;
  }
}

// ---------------------------------------------------------------------------------------------
// Text test

TEST(IsTextBlock, CountsAndZeros)
{
  std::string printable(SectorSize, 'x');
  for (std::size_t i = 50; i < SectorSize; i += 64) printable[i] = '\n';

  const auto withZeroAt = [&](std::size_t n) { return TextBlock(printable.substr(0, n)); };
  TBytes zeroThenByte = withZeroAt(700);
  zeroThenByte[1500] = 'x';
  TBytes eightTabs = TextBlock("\t\t\t\t\t\t\t\t");
  TBytes highBytes(SectorSize, 0xE9);
  std::memcpy(highBytes.data() + 100, "abcdefgh", 8);
  TBytes sevenAndHigh(SectorSize, 0xE9);
  std::memcpy(sevenAndHigh.data() + 100, "abcdefg", 7);

  const struct {
    const char* Label;
    TBytes Block;
    bool Text;
    std::int32_t Length;  // checked when Text
  } cases[] = {
      {"2048 printable", TextBlock(printable), true, 2048},
      {"zero at 700, zeros after", withZeroAt(700), true, 700},
      {"a non-zero byte after the first zero", zeroThenByte, false, 0},
      {"7 letters", TextBlock("abcdefg"), false, 0},
      {"8 letters", TextBlock("abcdefgh"), true, 8},
      {"8 tabs", eightTabs, true, 8},
      {"escape byte", TextBlock("some text \x1B[0m and more"), false, 0},
      {"end-of-file mark", TextBlock("some text\r\n\x1A"), true, 12},
      {"form feed, CR, LF, tab", TextBlock("page\f\r\n\tnext"), true, 12},
      {"byte 1", TextBlock("some text\x01"), false, 0},
      {"byte 31", TextBlock("some text\x1F"), false, 0},
      {"2040 bytes E9 and 8 letters", highBytes, true, 2048},
      {"2041 bytes E9 and 7 letters", sevenAndHigh, false, 0},
      {"byte 127 does not count", TextBlock("abcdefg\x7F\x7F\x7F"), false, 0},
      {"all zeros", TBytes(SectorSize, 0), false, 0},
      {"empty", TBytes(), false, 0},
      {"short block of text", TextBlock("abcdefgh", 8), true, 8},
      {"odd length", TextBlock("abcdefghijk", 11), true, 11},
  };
  for (const auto& c : cases) {
    std::int32_t length = -1;
    EXPECT_EQ(IsTextBlock(c.Block, length), c.Text) << c.Label;
    if (c.Text) {
      EXPECT_EQ(length, c.Length) << c.Label;
    }
  }
}

// The word-at-a-time path must agree with the byte rule wherever a special byte falls in a word.
TEST(IsTextBlock, SpecialByteAtEveryPosition)
{
  for (std::size_t pos = 0; pos < 24; ++pos) {
    for (const std::uint8_t special : {0x00, 0x09, 0x1A, 0x1B, 0x7E, 0x7F, 0x80, 0xFF}) {
      TBytes b = TextBlock("abcdefghijklmnopqrstuvwx", 24);
      b[pos] = special;
      // A zero is text only as the last byte (a letter follows it elsewhere); escape never is.
      const bool want = special == 0 ? pos == 23 : special != 0x1B;
      std::int32_t length = -1;
      EXPECT_EQ(IsTextBlock(b, length), want) << pos << " " << int{special};
      if (want) {
        EXPECT_EQ(length, special == 0 ? 23 : 24) << pos << " " << int{special};
      }
    }
  }
}

// The count of ordinary characters, however the letters and uncounted bytes fall into words.
TEST(IsTextBlock, EightOrdinaryCharactersAtAnyAlignment)
{
  for (std::size_t letters = 0; letters <= 24; ++letters) {
    for (const std::uint8_t rest : {0x00, 0x7F, 0xE9}) {
      TBytes b(24, rest);
      std::memset(b.data(), 'a', letters);
      std::int32_t length = -1;
      EXPECT_EQ(IsTextBlock(b, length), letters >= 8) << letters << " " << int{rest};
      if (letters >= 8) {
        EXPECT_EQ(length, rest == 0 ? static_cast<std::int32_t>(letters) : 24);
      }
    }
  }
}

// The text rule byte by byte, as plainly as it can be written, to check the word-wise scan against.
bool ReferenceIsText(const TBytes& b, std::int32_t& textLength)
{
  textLength = static_cast<std::int32_t>(b.size());
  std::size_t zeros = 0, ordinary = 0;
  for (std::size_t i = 0; i < b.size(); ++i) {
    const std::uint8_t c = b[i];
    if (c >= 1 && c <= 31 && c != 9 && c != 10 && c != 12 && c != 13 && c != 26) return false;
    if (c != 0 && zeros > 0) return false;
    if (c == 0) {
      if (zeros == 0) textLength = static_cast<std::int32_t>(i);
      ++zeros;
    } else if (c < 127) {
      ++ordinary;
    }
  }
  return zeros + 8 <= b.size() && ordinary >= 8;
}

TEST(IsTextBlock, AgreesWithTheByteRuleOnMixedBlocks)
{
  std::mt19937 random(7);
  const std::uint8_t alphabet[] = {'a', 'a', 'a', 'a', ' ', '\n', '\r', '\t', 0x0C, 0x1A, 0x7F, 0xE9, 0x1B, 0x01, 0x00};
  for (int round = 0; round < 20000; ++round) {
    TBytes b(random() % 48);
    const std::size_t textEnd = b.empty() ? 0 : random() % (b.size() + 1);
    for (std::size_t i = 0; i < b.size(); ++i) {
      // Mostly ordinary bytes, sometimes one of the others; zeros after the text end.
      b[i] = i >= textEnd ? 0 : random() % 4 != 0 ? 'a' : alphabet[random() % std::size(alphabet)];
    }
    if (!b.empty() && random() % 8 == 0) b[random() % b.size()] = alphabet[random() % std::size(alphabet)];
    std::int32_t want = -1, got = -1;
    const bool wantText = ReferenceIsText(b, want);
    ASSERT_EQ(IsTextBlock(b, got), wantText) << "round " << round;
    if (wantText) {
      ASSERT_EQ(got, want) << "round " << round;
    }
  }
}

// Sector-sized blocks, where the text test runs sixteen bytes at a time: a deciding byte (a
// zero, a control that text does not hold) or a control it does hold, at any place and alignment.
TEST(IsTextBlock, AgreesWithTheByteRuleOnLongBlocks)
{
  std::mt19937 random(11);
  const std::uint8_t special[] = {'\n', '\r', '\t', 0x0C, 0x1A, 0x1B, 0x01, 0x1F, 0x00, 0x7F, 0xE9, 0x20};
  for (int round = 0; round < 4000; ++round) {
    TBytes b(2048 - random() % 64);
    for (auto& c : b) c = static_cast<std::uint8_t>('a' + random() % 26);
    for (int k = random() % 4; k > 0; --k) b[random() % b.size()] = special[random() % std::size(special)];
    // Now and then the text ends inside the block, zeros after it.
    if (random() % 4 == 0) std::fill(b.begin() + static_cast<std::ptrdiff_t>(random() % b.size()), b.end(), 0);
    std::int32_t want = -1, got = -1;
    const bool wantText = ReferenceIsText(b, want);
    ASSERT_EQ(IsTextBlock(b, got), wantText) << "round " << round;
    if (wantText) {
      ASSERT_EQ(got, want) << "round " << round;
    }
  }
}

TEST(RecognizeBlock, TextLengthAndContinues)
{
  std::string full;
  while (full.size() < SectorSize) full += "The quick brown fox jumps over the lazy dog.\n";
  full.resize(SectorSize);
  TBlockKind r = Recognize(TextBlock(full));
  EXPECT_EQ(r.Kind, 1);
  EXPECT_EQ(r.Size, 2048);
  EXPECT_TRUE(r.Continues);

  r = Recognize(TextBlock(full.substr(0, 100)));
  EXPECT_EQ(r.Kind, 1);
  EXPECT_EQ(r.Size, 100);
  EXPECT_FALSE(r.Continues);

  r = Recognize(TextBlock("short"));
  EXPECT_EQ(r.Kind, 0);
  EXPECT_EQ(r.Size, 2048);
  EXPECT_TRUE(r.Continues);
}

// ---------------------------------------------------------------------------------------------
// Trailers

TEST(TrailerFound, Mp3AndPdfEndMarkers)
{
  TBytes tag = MakeBlock("TAGtitle", 1900);
  TBytes tagLastByteSet = tag;
  tagLastByteSet.back() = 'x';
  TBytes tagLower = MakeBlock("tag", 1900);
  TBytes eof = MakeBlock("startxref\n1234\n%%EOF\n", 100);
  eof.back() = 'x';
  TBytes eofLower = MakeBlock("%%eof", 2043);
  TBytes eofCut = MakeBlock("%%EO", 2044);
  TBytes tagAtStart = MakeBlock("TAG");

  const struct {
    const char* Label;
    const TBytes& Block;
    TKind Kind;
    bool Found;
  } cases[] = {
      {"TAG, last byte 0", tag, 51, true},
      {"TAG at the first byte", tagAtStart, 51, true},
      {"TAG, last byte not 0", tagLastByteSet, 51, false},
      {"tag in lower case", tagLower, 51, false},
      {"%%EOF", eof, 56, true},
      {"%%eof at the very end", eofLower, 56, true},
      {"%%EO cut by the block's end", eofCut, 56, false},
      {"PDF marker for an MP3", eof, 51, false},
      {"MP3 marker for a PDF", tag, 56, false},
      {"marker for a ZIP", eof, 44, false},
      {"marker for text", tag, 1, false},
  };
  for (const auto& c : cases) EXPECT_EQ(TrailerFound(c.Block, c.Kind), c.Found) << c.Label;
  EXPECT_FALSE(TrailerFound(TBytes(), 51));
  EXPECT_FALSE(TrailerFound(TBytes(), 56));
}

// ---------------------------------------------------------------------------------------------
// Search routines

struct TRange {
  std::string Text;
  const std::uint8_t* Start() const { return reinterpret_cast<const std::uint8_t*>(Text.data()); }
  const std::uint8_t* Stop() const { return Start() + Text.size(); }
  std::ptrdiff_t At(const std::uint8_t* p) const { return p == nullptr ? -1 : p - Start(); }
};

TEST(Search, FindByteAndFindBytes)
{
  const TRange r{"abcTAGdefTAG"};
  EXPECT_EQ(r.At(FindByte(r.Start(), r.Stop(), 'T')), 3);
  EXPECT_EQ(r.At(FindByte(r.Start(), r.Stop(), 'z')), -1);
  EXPECT_EQ(r.At(FindByte(r.Start(), r.Start(), 'a')), -1);
  EXPECT_EQ(r.At(FindBytes(r.Start(), r.Stop(), "TAG")), 3);
  EXPECT_EQ(r.At(FindBytes(r.Start() + 4, r.Stop(), "TAG")), 9);        // wholly at the end
  EXPECT_EQ(r.At(FindBytes(r.Start() + 4, r.Stop() - 1, "TAG")), -1);   // cut by Stop
  EXPECT_EQ(r.At(FindBytes(r.Start(), r.Stop(), "tag")), -1);
  EXPECT_EQ(r.At(FindBytes(r.Start(), r.Start() + 2, "abc")), -1);      // range shorter than pattern
  EXPECT_EQ(r.At(FindBytes(r.Start(), r.Stop(), "TAGx")), -1);
}

TEST(Search, FindBytesNoCaseFoldsOnlyTheRangesAsciiLetters)
{
  const TRange r{"xx<Html>\xE9t\xC9T"};
  EXPECT_EQ(r.At(FindBytesNoCase(r.Start(), r.Stop(), "<HTML>")), 2);
  EXPECT_EQ(r.At(FindBytesNoCase(r.Start(), r.Stop(), "<html>")), -1);  // the pattern is not folded
  EXPECT_EQ(r.At(FindBytesNoCase(r.Start(), r.Stop(), "t\xC9")), -1);   // not even at its first byte
  EXPECT_EQ(r.At(FindBytesNoCase(r.Start(), r.Stop(), "T\xC9")), 9);
  EXPECT_EQ(r.At(FindBytesNoCase(r.Start(), r.Stop(), "\xC9T")), 10);   // E9 is not folded to C9
  EXPECT_EQ(r.At(FindBytesNoCase(r.Start(), r.Stop() - 1, "\xC9T")), -1);
}

// With case folded, candidates are found by the pattern's first byte that is no letter, however
// far in it stands; a pattern of letters only is searched byte by byte.
TEST(Search, FindBytesNoCaseAnchorsOnItsFirstByteThatIsNoLetter)
{
  const struct {
    const char* Text;
    const char* Pattern;
    std::ptrdiff_t At;
  } cases[] = {
      {"end; at the start", "END;", 0},       // the anchor stands three bytes into the range
      {";;;End;", "END;", 3},                 // anchors whose letters before it do not match
      {"the END of it;", "END;", -1},         // the letters match, the anchor does not follow
      {"see a:Link here", "A:LINK", 4},
      {"a:lin", "A:LINK", -1},                // cut by the range's end
      {"xx pRoGram", "PROGRAM", 3},           // letters only
      {"abc; ABC;", "abc;", -1},              // a lower-case pattern matches nothing
      {"x<?php y", "<?PHP", 1},
  };
  for (const auto& c : cases) {
    const TRange r{c.Text};
    EXPECT_EQ(r.At(FindBytesNoCase(r.Start(), r.Stop(), c.Pattern)), c.At) << c.Text << " / " << c.Pattern;
  }
}

TEST(Search, TextBetween)
{
  const struct {
    const char* Label;
    std::string Text;
    std::string_view From, To;
    bool Found;
    std::string Name;
  } cases[] = {
      {"markers ignore case, name keeps it", "<title>My Page</TITLE>", "<TITLE>", "</TITLE>", true, "My Page"},
      {"end marker searched after the start marker", "#EXTINF:12,Song\n#EXTINF:", "#EXTINF:", "#EXTINF:", true,
       "12,Song\n"},
      {"no start marker", "no markers here", "[", "]", false, "old"},
      {"no end marker", "[open", "[", "]", false, "old"},
      {"end marker only before the start", "] and [", "[", "]", false, "old"},
      {"empty between", "[]", "[", "]", true, ""},
      {"cut to 40", "[" + std::string(45, 'n') + "]", "[", "]", true, std::string(40, 'n')},
      {"exactly 40", "[" + std::string(40, 'n') + "]", "[", "]", true, std::string(40, 'n')},
  };
  for (const auto& c : cases) {
    const TRange r{c.Text};
    std::string name = "old";
    EXPECT_EQ(TextBetween(r.Start(), r.Stop(), c.From, c.To, name), c.Found) << c.Label;
    EXPECT_EQ(name, c.Name) << c.Label;
  }
}

TEST(Search, IdentChars)
{
  const struct {
    std::string Text;
    std::string Name;
  } cases[] = {
      {"Dear John, thank you", "DearJohnthankyou"},
      {"a_b-c.9 Z", "a_bc9Z"},
      {"!!! ... \xE9\xFF\t", "_"},
      {"", "_"},
      {std::string(30, 'a') + "-+-" + std::string(30, 'b'), std::string(30, 'a') + std::string(10, 'b')},
  };
  for (const auto& c : cases) {
    const TRange r{c.Text};
    EXPECT_EQ(IdentChars(r.Start(), r.Stop()), c.Name) << c.Text;
  }
}

// ---------------------------------------------------------------------------------------------
// DescribeFoundFile

struct TDescribed {
  std::string Name;
  TKind Kind;
};

TDescribed Describe(const TBytes& Block, TKind Kind, std::string Name = "File 000001")
{
  DescribeFoundFile(Block, Name, Kind);
  return {Name, Kind};
}

// One case per row of the keyword table, then the cases where rows meet or nearly match.
TEST(DescribeFoundFile, KeywordTable)
{
  const std::string long40 = "<html><title>" + std::string(45, 'T') + "</title>";
  const struct {
    const char* Label;
    std::string Text;
    TKind Kind;
    std::string Name;
  } cases[] = {
      {"1 rtf", "{\\rtf1\\ansi\\deff0 Hello}", 2, "rtf1ansideff0Hello"},
      {"2 reg", "REGEDIT4\r\n\r\n[hkey_local_machine\\Software]\r\n", 16, "REGEDIT4hkey_local_machineSoftware"},
      {"3 ini", "[Settings]\r\nSize=10\r\n", 3, "Settings"},
      {"4 xpm", "/* XPM */\nstatic char * arrow_xpm[] = {\n", 14, "arrow_xpm"},
      {"4 xpm without the blank", "/* XPM */\nstatic char *arrow_xpm[] = {\n", 14, "arrow_xpm"},
      {"4 xpm, second pair", "/* XPM */\nstatic Char*arrow[] = {\n", 14, "arrow"},
      {"5 dfm", "object Form1: TForm1\r\n  Left = 0\r\nend\r\n", 12, "Form1"},
      {"6 php", "<html><?php echo 1; ?>", 4, "htmlphpecho1"},
      {"7 html", "<!DOCTYPE html>\n<HTML><head><title>Home: Start</title>", 5, "Home_ Start"},
      {"7 html in lower case, no title", "<html><body>hello</body></html>", 5, "File 000001"},
      {"8 svg", "<svg><circle/></svg>", 6, "svgcirclesvg"},
      {"9 bdsproj", "<?xml version=\"1.0\"?>\n<BorlandProject><Source Name=\"MainSource\">Demo.dpr</Source>", 13,
       "Demo.dpr"},
      {"10 xml", "<?xml version=\"1.0\"?>\n<doc/>", 7, "xmlversion10doc"},
      {"11 css", "a:link { color: red }", 8, "alinkcolorred"},
      {"12 pascal unit", "unit Main;\r\ninterface\r\nvar X: Integer = 1;\r\n", 9, "Main"},
      {"13 c", "/* demo */\n#include <stdio.h>\nint main() {}\n", 15, "demoincludestdiohintmain"},
      {"13 c, #if", "#if defined(X)\nint y;\n#endif\n", 15, "ifdefinedXintyendif"},
      {"14 m3u", "#EXTM3U\n#EXTINF:123,Artist - Song\nsong.mp3\n#EXTINF:5,B\n", 17, "123,Artist - Song_song.mp3_"},
      {"15 tex", "\\documentclass{article}\n\\begin{document}\n", 18, "documentclassarticlebegindocument"},
      {"16 ps", "%!PS-Adobe-3.0\n%%Title: x\n", 19, "PSAdobe30Titlex"},
      {"17 plain", "Dear John, thank you for the letter.", 1, "DearJohnthankyoufortheletter"},
      {"17 plain, 40 letters", std::string(50, 'w'), 1, std::string(40, 'w')},

      {"reg before ini", "[HKEY_CURRENT_USER]\r\n", 16, "HKEY_CURRENT_USER"},
      {"php before html", "<?php ?><html><title>T</title>", 4, "phphtmltitleTtitle"},
      {"xml before pascal", "<?xml?><a>x := 1</a>", 7, "xmlax1a"},
      {"pascal before c", "{$IFDEF X}\n#include <a>\n", 9, "IFDEFXincludea"},
      {"html title cut to 40", long40, 5, std::string(40, 'T')},
      {"title with leading blanks", "<html><title>   Spaced</title>", 5, "Spaced"},
      {"title of blanks only", "<html><title>   </title>", 5, ""},
      {"ini line ends with a blank", "[Settings] x\r\nA=1\r\n", 1, "SettingsxA1"},
      {"ini line with LF only", "[Only]\nA=1\n", 3, "Only"},
      // Without a line feed the first line runs to the block's end, past the zero bytes.
      {"ini without line break", "[Whole]", 1, "Whole"},
      {"Object is not dfm", "Object Form1: TForm1\n", 1, "ObjectForm1TForm1"},
      {"OBJECT is not dfm", "OBJECT Form1: TForm1\n", 1, "OBJECTForm1TForm1"},
      {"object without the blank", "objectForm1: TForm1\n", 1, "objectForm1TForm1"},
      {"lower-case #extm3u", "#extm3u\n#extinf:1,A\n", 1, "extm3uextinf1A"},
      {"<svg with attributes is not svg", "<svg width=\"1\">", 1, "svgwidth1"},
  };
  for (const auto& c : cases) {
    const TDescribed d = Describe(TextBlock(c.Text), 1);
    EXPECT_EQ(d.Kind, c.Kind) << c.Label;
    EXPECT_EQ(d.Name, c.Name) << c.Label;
  }
}

// The Pascal rule: any of its four triggers, then the first declaration found decides.
TEST(DescribeFoundFile, PascalRule)
{
  const struct {
    const char* Label;
    std::string Text;
    TKind Kind;
    std::string Name;
  } cases[] = {
      {"unit, :=", "unit Main;\r\n\r\nx := 1;\r\n", 9, "Main"},
      {"program", "program Demo;\r\nbegin\r\n  x := 1;\r\nend.\r\n", 10, "Demo"},
      {"library", "library Tools;\r\n{$R *.res}\r\nbegin\r\nend.\r\n", 9, "Tools"},
      {"package", "package Pkg;\r\n{$R *.res}\r\nend.\r\n", 11, "Pkg"},
      {"package wins over program", "program Demo;\r\npackage Pkg;\r\nend;\r\n", 11, "Pkg"},
      {"program wins over unit", "unit U;\r\nprogram P;\r\nend;\r\n", 10, "P"},
      {"trigger: line feed and interface", "Unit Main;\ninterface\n", 9, "Main"},
      {"trigger: {$", "{$MODE OBJFPC}\nunit Cfg;\n", 9, "Cfg"},
      {"trigger: end;", "procedure X; begin end;\n", 9, "procedureXbeginend"},
      {"interface without a line feed before it", "unit Main; interface\n", 1, "unitMaininterface"},
      {"no declaration", "x := 1;\n", 9, "x1"},
      {"declaration without a semicolon", "unit Main\nx := 1\n", 9, "unitMainx1"},
  };
  for (const auto& c : cases) {
    const TDescribed d = Describe(TextBlock(c.Text), 1);
    EXPECT_EQ(d.Kind, c.Kind) << c.Label;
    EXPECT_EQ(d.Name, c.Name) << c.Label;
  }
}

TEST(DescribeFoundFile, KeywordsAfterTheTextCount)
{
  // Every search runs over the whole block, zero bytes and all.
  TBytes b = TextBlock("plain words here");
  std::memcpy(b.data() + 1000, "<html><title>Late</title>", 25);
  const TDescribed d = Describe(b, 1);
  EXPECT_EQ(d.Kind, 5);
  EXPECT_EQ(d.Name, "Late");
}

TEST(DescribeFoundFile, BinaryKindsAndCleaning)
{
  TBytes bitmap = MakeBlock("BM");
  Put32(bitmap, 18, 640);
  Put32(bitmap, 22, static_cast<std::uint32_t>(-480));
  TBytes bgi = MakeBlock("PK\x08\x08" "BGI Device Driver (VGA) 2.00\r\n");
  TBytes ti = MakeBlock("**TI83F*\x1A\x0A\x00My program: v1"sv);
  TBytes tiToEnd = MakeBlock("**TI83F*\x1A\x0A\x00 Name to the end"sv, 0, 27);
  TBytes zip = MakeBlock("PK\x03\x04");

  const struct {
    const char* Label;
    const TBytes& Block;
    TKind Kind;
    std::string Given;
    std::string Name;
  } cases[] = {
      {"bitmap dimensions, top-down", bitmap, 20, "File 000001", "640 x -480"},
      {"BGI text between 08 08 and CR LF", bgi, 63, "File 000001", "BGI Device Driver (VGA) 2.00"},
      {"TI name from offset 11 to a zero", ti, 69, "File 000001", "My program_ v1"},
      {"TI name to the block's end, blanks dropped", tiToEnd, 69, "File 000001", "Name to the end"},
      {"other kinds keep the name, cleaned", zip, 44, "  a:b*c?", "a_b_c_"},
      {"kind 0 keeps the name", zip, 0, "File 000002", "File 000002"},
  };
  for (const auto& c : cases) {
    const TDescribed d = Describe(c.Block, c.Kind, c.Given);
    EXPECT_EQ(d.Kind, c.Kind) << c.Label;
    EXPECT_EQ(d.Name, c.Name) << c.Label;
  }
}

// Whatever the block holds, every routine stays inside it and the results stay in range.
TEST(RecognizeBlock, ArbitraryBlocksOfAnyLength)
{
  std::mt19937 random(20261207);
  std::vector<TBytes> seeds;
  for (const auto& c : SignatureCases) seeds.push_back(MakeBlock(c.Bytes, c.Offset, 300));
  seeds.push_back(IconBlock(1, {{100, 22}, {100, 40}}, 300));
  seeds.push_back(TextBlock("<html><title>x</title><?xml :=", 300));
  for (int round = 0; round < 4000; ++round) {
    // A fresh vector of the exact length, so that the sanitizer build sees a read past its end.
    const TBytes& seed = seeds[static_cast<std::size_t>(round) % seeds.size()];
    TBytes b(round % 2 == 0 ? random() % 80 : random() % 300);
    std::copy(seed.begin(), seed.begin() + static_cast<std::ptrdiff_t>(b.size()), b.begin());
    for (int k = round % 4; k > 0 && !b.empty(); --k) b[random() % b.size()] = static_cast<std::uint8_t>(random());
    const TBlockKind r = RecognizeBlock(b);
    ASSERT_LT(r.Kind, KindCount);
    ASSERT_TRUE(r.Kind <= 1 || r.Kind >= 20);
    if (r.Kind != 1 && !IsSizedKind(r.Kind)) {
      ASSERT_EQ(r.Size, static_cast<std::int64_t>(b.size()));
    }
    TKind kind = r.Kind;
    std::string name = "File 000001";
    DescribeFoundFile(b, name, kind);
    ASSERT_TRUE(kind == r.Kind || (r.Kind == 1 && IsTextKind(kind)));
    TrailerFound(b, 51);
    TrailerFound(b, 56);
  }
}

}  // namespace
}  // namespace kx
