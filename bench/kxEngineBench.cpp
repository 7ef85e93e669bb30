// SPDX-License-Identifier: GPL-3.0-or-later
// RecognizeBlock over the blocks a scan meets: empty sectors, text, compressed or random data, and
// the headers of each signature family. Each case cycles through 64 different blocks so that the
// branch predictor cannot learn a single one. Rates are bytes of blocks examined per second.

#include "recognition/kxEngine.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace std::string_view_literals;
using TBlock = std::vector<std::uint8_t>;
using TBlocks = std::vector<TBlock>;

constexpr std::size_t SectorSize = 2048;
constexpr std::size_t BlockCount = 64;

TBlock RandomBlock(std::mt19937& random)
{
  TBlock b(SectorSize);
  for (auto& c : b) c = static_cast<std::uint8_t>(random());
  return b;
}

TBlock TextBlock(std::mt19937& random)
{
  static constexpr std::string_view Words[] = {
      "the", "recovery", "of", "files", "from", "a", "disc", "is", "sector", "by", "and", "text",
      "where", "signature", "begins", "found", "list", "with", "name", "size", "offset", "extension",
  };
  std::string text;
  std::size_t lineStart = 0;
  while (text.size() < SectorSize) {
    text += Words[random() % std::size(Words)];
    if (text.size() - lineStart > 64 + random() % 16) {
      text += ".\r\n";
      lineStart = text.size();
    } else {
      text += ' ';
    }
  }
  return TBlock(text.begin(), text.begin() + SectorSize);
}

TBlocks Blocks(TBlock (*Make)(std::mt19937&))
{
  std::mt19937 random(2048);
  TBlocks blocks;
  for (std::size_t i = 0; i < BlockCount; ++i) blocks.push_back(Make(random));
  return blocks;
}

// Random blocks that begin with the given headers in turn.
TBlocks HeaderBlocks(std::vector<std::string_view> Headers)
{
  std::mt19937 random(2048);
  TBlocks blocks;
  for (std::size_t i = 0; i < BlockCount; ++i) {
    TBlock b = RandomBlock(random);
    const std::string_view h = Headers[i % Headers.size()];
    std::copy(h.begin(), h.end(), b.begin());
    blocks.push_back(std::move(b));
  }
  return blocks;
}

void Recognize(benchmark::State& state, const TBlocks& blocks)
{
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(kx::RecognizeBlock(blocks[i]));
    i = (i + 1) % blocks.size();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(SectorSize));
}

const TBlocks ZeroBlocks(BlockCount, TBlock(SectorSize, 0));
const TBlocks TextBlocks = Blocks(TextBlock);
const TBlocks RandomBlocks = Blocks(RandomBlock);

// Text ending inside the block: the zeros after it are checked too.
const TBlocks ShortTextBlocks = [] {
  TBlocks blocks = TextBlocks;
  for (std::size_t i = 0; i < blocks.size(); ++i) std::fill(blocks[i].begin() + 300 + 20 * i, blocks[i].end(), 0);
  return blocks;
}();

TBlocks SizedBlocks()
{
  TBlocks blocks = HeaderBlocks({"BM\x36\x10\x0E\x00\x00\x00\x00\x00"sv, "RIFF\x24\x08\x00\x00WAVE"sv,
                                 "RIFF\x24\x08\x00\x00" "AVI "sv});
  // An icon with a valid directory of four entries.
  TBlock icon(SectorSize, 0);
  icon[2] = 1;
  icon[4] = 4;
  for (int e = 0; e < 4; ++e) {
    icon[6 + 16 * e + 8] = 0x68;
    icon[6 + 16 * e + 9] = 0x04;
    icon[6 + 16 * e + 12] = static_cast<std::uint8_t>(0x46 + e);
  }
  for (std::size_t i = 3; i < blocks.size(); i += 4) blocks[i] = icon;
  return blocks;
}

}  // namespace

BENCHMARK_CAPTURE(Recognize, Zeros, ZeroBlocks);
BENCHMARK_CAPTURE(Recognize, Text, TextBlocks);
BENCHMARK_CAPTURE(Recognize, TextThenZeros, ShortTextBlocks);
BENCHMARK_CAPTURE(Recognize, RandomBinary, RandomBlocks);
BENCHMARK_CAPTURE(Recognize, Sized, SizedBlocks());
BENCHMARK_CAPTURE(Recognize, Archives,
                  HeaderBlocks({"\x37\x7A\xBC\xAF\x27\x1C"sv, "BZh9"sv, "MSCF"sv, "\x1F\x8B\x08"sv,
                                "Rar!\x1A\x07\x00"sv, "PK\x03\x04"sv}));
BENCHMARK_CAPTURE(Recognize, Audio,
                  HeaderBlocks({"FORM\x00"sv, ".snd"sv, "fLaC\x00\x00\x00\x22"sv, "MThd"sv, "ID3\x03"sv, "OggS"sv}));
BENCHMARK_CAPTURE(Recognize, Documents,
                  HeaderBlocks({"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, "ITSF"sv, "%PDF-1.4"sv, "8BPS"sv,
                                "SQLite format 3"sv}));
BENCHMARK_CAPTURE(Recognize, Programs,
                  HeaderBlocks({"MZ\x90\x00"sv, "\xCA\xFE\xBA\xBE"sv, "\x7F" "ELF"sv, "PPU0"sv, "**TI83F*"sv,
                                "MSFT\x02\x00\x01\x00"sv}));
BENCHMARK_CAPTURE(Recognize, Images,
                  HeaderBlocks({"GIF89a"sv, "\xFF\xD8\xFF\xE0"sv, "\x0A\x05\x01\x01"sv, "\x89PNG\r\n\x1A\n"sv,
                                "II*\x00"sv, "\xD7\xCD\xC6\x9A"sv}));
BENCHMARK_CAPTURE(Recognize, Video,
                  HeaderBlocks({"\x30\x26\xB2\x75\x8E\x66\xCF\x11"sv, ".RMF"sv, "\x00\x00\x00\x20moov"sv,
                                "\x00\x00\x01\xB3"sv, "FLV\x01"sv, "\x00\x00\x01\xBA"sv, "SFPK"sv}));
