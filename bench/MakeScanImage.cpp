// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a plain disc image of a realistic mix for whole-process scan timing: runs of text,
// compressed-looking binary data, zero runs, and headers of open and sized formats followed by
// their bodies. Deterministic for a given size.
//   MakeScanImage IMAGE SIZE_MIB
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string_view>
#include <vector>

using namespace std::string_view_literals;

namespace {

constexpr std::size_t ss = 2048;

void Put32(std::uint8_t* p, std::uint32_t v)
{
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

int main(int argc, char** argv)
{
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s IMAGE SIZE_MIB\n", argv[0]);
    return 2;
  }
  const std::size_t sectors = static_cast<std::size_t>(std::strtoull(argv[2], nullptr, 10)) * 1024 * 1024 / ss;
  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out) {
    std::perror(argv[1]);
    return 1;
  }
  std::mt19937_64 rnd(20261207);
  static constexpr std::string_view words[] = {"the ", "recovered ", "disc ", "holds ", "files ", "of ", "many ",
                                               "kinds, ", "and ", "some ", "text\r\n", "lines ", "with ", "numbers 42 "};
  static constexpr std::string_view headers[] = {"\xFF\xD8\xFF\xE0"sv, "PK\x03\x04"sv, "%PDF-1.4"sv, "ID3"sv,
                                                 "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, "MZ"sv, "OggS"sv,
                                                 "Rar!\x1A\x07\x00"sv};
  std::vector<std::uint8_t> run;
  std::size_t written = 0;
  while (written < sectors) {
    const std::size_t n = std::min<std::size_t>(sectors - written, 1 + rnd() % 64);
    run.assign(n * ss, 0);
    const unsigned pick = static_cast<unsigned>(rnd() % 100);
    if (pick < 25) {  // text, ending inside its last sector
      std::size_t len = n * ss - rnd() % ss;
      for (std::size_t i = 0; i < len;) {
        const auto& w = words[rnd() % std::size(words)];
        const std::size_t k = std::min(w.size(), len - i);
        std::memcpy(&run[i], w.data(), k);
        i += k;
      }
    } else if (pick < 60) {  // compressed-looking binary data
      for (std::size_t i = 0; i + 8 <= run.size(); i += 8) {
        const std::uint64_t v = rnd();
        std::memcpy(&run[i], &v, 8);
      }
    } else if (pick < 72) {  // zero run: already zero
    } else if (pick < 92) {  // an open format's header followed by its binary body
      for (std::size_t i = 0; i + 8 <= run.size(); i += 8) {
        const std::uint64_t v = rnd();
        std::memcpy(&run[i], &v, 8);
      }
      const auto& h = headers[rnd() % std::size(headers)];
      std::memcpy(run.data(), h.data(), h.size());
    } else {  // a sized file (bitmap or RIFF wave) whose sectors the scan skips
      for (std::size_t i = 0; i + 8 <= run.size(); i += 8) {
        const std::uint64_t v = rnd();
        std::memcpy(&run[i], &v, 8);
      }
      const std::uint32_t size = static_cast<std::uint32_t>(run.size() - rnd() % ss);
      if (pick % 2) {
        std::memcpy(run.data(), "BM", 2);
        Put32(&run[2], size);
        Put32(&run[6], 0);
        Put32(&run[18], 640);
        Put32(&run[22], 480);
      } else {
        std::memcpy(run.data(), "RIFF", 4);
        Put32(&run[4], size - 8);
        std::memcpy(&run[8], "WAVE", 4);
      }
    }
    if (std::fwrite(run.data(), 1, run.size(), out) != run.size()) {
      std::perror(argv[1]);
      return 1;
    }
    written += n;
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
