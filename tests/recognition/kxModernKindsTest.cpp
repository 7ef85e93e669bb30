// SPDX-License-Identifier: GPL-3.0-or-later
// The newer signatures, tried after every classic rule: each row with its near misses.
#include "recognition/kxEngine.h"
#include "recognition/kxModernKinds.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace kx {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;
using TBytes = std::vector<std::uint8_t>;

// A 2048-byte block of the given pieces, each at its offset, zeros elsewhere.
TBytes Block(std::initializer_list<std::pair<std::size_t, std::string_view>> Pieces, std::uint8_t Fill = 0)
{
  TBytes b(2048, Fill);
  for (const auto& [at, bytes] : Pieces)
    for (std::size_t i = 0; i < bytes.size() && at + i < b.size(); ++i) b[at + i] = static_cast<std::uint8_t>(bytes[i]);
  return b;
}

// An "ftyp" box of 32 bytes with a major brand and three compatible brands, then a "free" box.
TBytes Ftyp(std::string_view Major, std::string_view Compatible = "isomiso2mp41"sv, std::string_view Size = "\0\0\0\x20"sv)
{
  return Block({{0, Size}, {4, "ftyp"}, {8, Major}, {16, Compatible}, {32, "\0\0\0\x08" "free"sv}});
}

TBytes Ebml(std::string_view DocType)
{
  const std::string body = "\x42\x86\x81\x01" "\x42\x82"s + static_cast<char>(0x80 | DocType.size()) + std::string(DocType);
  return Block({{0, "\x1A\x45\xDF\xA3"sv}, {4, std::string(1, static_cast<char>(0x80 | body.size()))}, {5, body}});
}

TBytes Packets(std::size_t Stride, std::size_t Skip = SIZE_MAX)
{
  TBytes b(2048, 0x11);
  for (std::size_t n = Stride - 188, k = 0; n < b.size(); n += Stride, ++k)
    if (k != Skip) b[n] = 0x47;
  return b;
}

// Sixteen tables whose search fields agree with the count; records tagged "cmap", "glyf", ...
TBytes Font(std::string_view Version, std::uint8_t SearchRangeLow = 0x00)
{
  TBytes b = Block({{0, Version}, {4, "\x00\x10\x01\x00\x00\x04\x00\x00"sv}});
  b[7] = SearchRangeLow;
  for (std::size_t i = 0; i < 16; ++i) {
    const std::string tag = "t" + std::to_string(100 + i);
    std::copy(tag.begin(), tag.end(), b.begin() + 12 + 16 * i);
    b[12 + 16 * i + 10] = 0x10;  // the table's data at 0x1000, after the directory
  }
  return b;
}

// MPEG-1 layer III frames of 128 kbit/s at 44.1 kHz: 417 bytes each.
TBytes Frames(std::string_view Second = "\xFF\xFB\x90\x00"sv)
{
  TBytes b(2048, 0x55);
  for (std::size_t n = 0; n + 4 <= b.size(); n += 417) {
    const std::string_view h = n == 417 ? Second : "\xFF\xFB\x90\x00"sv;
    std::copy(h.begin(), h.end(), b.begin() + n);
  }
  return b;
}

TEST(RecognizeNewerKinds, EachRowAndItsNearMisses)
{
  const struct {
    const char* Label;
    TBytes Block;
    TKind Kind;
  } cases[] = {
      {"MP4", Ftyp("isom"), Kinds::Mp4},
      {"M4A", Ftyp("M4A "), Kinds::M4a},
      {"QuickTime by brand", Ftyp("qt  "), Kinds::QuickTime},
      {"3GP", Ftyp("3gp5"), Kinds::ThreeGp},
      {"HEIC", Ftyp("heic"), Kinds::Heic},
      {"still images of AV1", Ftyp("mif1", "mif1miaf" "avif"), Kinds::Avif},
      {"still images of HEVC", Ftyp("mif1", "mif1heicmiaf"), Kinds::Heic},
      {"ftyp of a size not a multiple of 4", Ftyp("isom", "isomiso2mp41", "\0\0\0\x21"sv), 0},
      {"ftyp of an absurd size", Ftyp("isom", "isomiso2mp41", "\0\0\x10\x00"sv), 0},
      {"ftyp followed by no box", Block({{0, "\0\0\0\x20" "ftypisom"sv}, {32, "\0\0\0\x08\x01\x02\x03\x04"sv}}), 0},
      {"QuickTime opening with wide", Block({{0, "\0\0\0\x08" "wide\0\0\x10\x00" "mdat"sv}}), Kinds::QuickTime},
      {"wide followed by no movie", Block({{0, "\0\0\0\x08" "wide\0\0\x10\x00" "junk"sv}}), 0},
      {"Matroska", Ebml("matroska"), Kinds::Matroska},
      {"WebM", Ebml("webm"), Kinds::WebM},
      {"EBML of another document type", Ebml("matroskb"), 0},
      {"transport stream", Packets(188), Kinds::TransportStream},
      {"transport stream with a sync byte missing", Packets(188, 5), 0},
      {"M2TS", Packets(192), Kinds::M2ts},
      {"M2TS with a sync byte missing", Packets(192, 10), 0},
      {"xz", Block({{0, "\xFD" "7zXZ\x00\x00\x04"sv}}), Kinds::Xz},
      {"xz with unknown flags", Block({{0, "\xFD" "7zXZ\x00\x00\x05"sv}}), 0},
      {"zstd", Block({{0, "\x28\xB5\x2F\xFD\x24"sv}}), Kinds::Zstd},
      {"zstd with the reserved bit set", Block({{0, "\x28\xB5\x2F\xFD\x2C"sv}}), 0},
      {"TrueType", Font("\x00\x01\x00\x00"sv), Kinds::TrueType},
      {"OpenType", Font("OTTO"sv), Kinds::OpenType},
      {"font whose search range disagrees", Font("OTTO"sv, 0x10), 0},
      {"DVD video manager", Block({{0, "DVDVIDEO-VMG"}, {0x1C, "\0\0\0\x02"sv}}), Kinds::DvdIfo},
      {"DVD title set", Block({{0, "DVDVIDEO-VTS"}, {0x1C, "\0\0\0\x02"sv}}), Kinds::DvdIfo},
      {"DVD near miss", Block({{0, "DVDVIDEO-VMX"}, {0x1C, "\0\0\0\x02"sv}}), 0},
      {"ISO 9660 volume", Block({{0, "\x01" "CD001\x01"sv}}), Kinds::IsoImage},
      {"ISO 9660 supplementary volume", Block({{0, "\x02" "CD001\x01"sv}}), 0},
      {"MPEG audio frames", Frames(), Kinds::Mp3},
      {"one frame header, then none", Frames("\x12\x34\x56\x78"sv), 0},
      {"frames of two sample rates", Frames("\xFF\xFB\x94\x00"sv), 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RecognizeNewerKinds(c.Block), c.Kind) << c.Label;
    // Each comes after the classic chain: a block it takes was nothing to the classic rules.
    EXPECT_EQ(RecognizeBlock(c.Block).Kind, c.Kind) << c.Label;
  }
}

// A block that a classic rule takes stays with it: text is text, "ID3" is the classic MP3 row.
TEST(RecognizeNewerKinds, ComeAfterTheClassicRules)
{
  TBytes text(2048, 'a');
  for (std::size_t n = 0; n < text.size(); n += 188) text[n] = 'G';  // 0x47 where packets sync
  EXPECT_EQ(RecognizeNewerKinds(text), Kinds::TransportStream);
  EXPECT_EQ(RecognizeBlock(text).Kind, Kinds::Text);
  TBytes tagged = Frames();
  std::copy_n("ID3", 3, tagged.begin());
  EXPECT_EQ(RecognizeBlock(tagged).Kind, Kinds::Mp3);
  EXPECT_TRUE(RecognizeBlock(tagged).Continues);
}

TEST(ReadMpegAudioFrame, LengthsOfEachVersionAndLayer)
{
  const struct {
    std::string_view Header;
    std::uint32_t Length;
  } cases[] = {
      {"\xFF\xFB\x90\x00"sv, 417},  // MPEG-1 layer III, 128 kbit/s at 44.1 kHz: 144 * 128000 / 44100
      {"\xFF\xFB\x92\x00"sv, 418},  // the same, padded
      {"\xFF\xFD\x90\x00"sv, 522},  // layer II, 160 kbit/s
      {"\xFF\xFF\x90\x00"sv, 312},  // layer I, 288 kbit/s: 78 slots of 4 bytes
      {"\xFF\xF3\x90\x00"sv, 261},  // MPEG-2 layer III, 80 kbit/s at 22.05 kHz: 72 * 80000 / 22050
      {"\xFF\xE3\x90\x00"sv, 522},  // MPEG-2.5 layer III, 80 kbit/s at 11.025 kHz
      {"\xFF\xFB\xF0\x00"sv, 0},    // bit rate index 15
      {"\xFF\xFB\x00\x00"sv, 0},    // free format
      {"\xFF\xFB\x9C\x00"sv, 0},    // sample rate index 3
      {"\xFF\xEB\x90\x00"sv, 0},    // version 01, reserved
      {"\xFF\xF9\x90\x00"sv, 0},    // layer 00: AAC's ADTS header
      {"\xFF\xFB\x90\x02"sv, 0},    // emphasis 10, reserved
  };
  for (const auto& c : cases) {
    const TBytes b(c.Header.begin(), c.Header.end());
    EXPECT_EQ(ReadMpegAudioFrame(b, 0).Length, c.Length) << testing::PrintToString(b);
  }
}

}  // namespace
}  // namespace kx
