// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a cached 1 GiB image the way a scan does (one sector per ReadSectors call) against
// reading the same file with plain 1 MiB reads, for a plain and a raw image. The images are built
// on first use in $KX_BENCH_DIR (default /tmp/kxDisksBench) and kept for later runs.
#include "media/kxDisks.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t ImageBytes = std::int64_t{1} << 30;

std::string BenchFolder()
{
  const char* dir = std::getenv("KX_BENCH_DIR");
  return dir ? dir : "/tmp/kxDisksBench";
}

// Builds the image unless a file of the right size is already there. Every sector carries its
// number, raw sectors a mode 1 header, so that the reader cannot skip work.
std::string Image(bool Raw)
{
  const std::int64_t stored = Raw ? 2352 : 2048;
  const std::int64_t sectors = ImageBytes / stored;
  const fs::path name = fs::path(BenchFolder()) / (Raw ? "raw.bin" : "plain.iso");
  std::error_code ec;
  if (fs::file_size(name, ec) == static_cast<std::uintmax_t>(sectors * stored)) return name.string();
  fs::create_directories(name.parent_path());
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  std::vector<char> run(static_cast<std::size_t>(stored) * 512);
  for (std::int64_t s = 0; s < sectors;) {
    std::int64_t k = 0;
    for (; k < 512 && s < sectors; ++k, ++s) {
      char* sector = run.data() + k * stored;
      for (std::int64_t i = 0; i < stored; ++i) sector[i] = static_cast<char>(s + i);
      if (Raw) {
        sector[0] = 0;
        for (int i = 1; i <= 10; ++i) sector[i] = static_cast<char>(0xFF);
        sector[11] = 0;
        sector[15] = 1;
      }
    }
    out.write(run.data(), static_cast<std::streamsize>(k * stored));
  }
  if (!out.good()) throw std::runtime_error("cannot write " + name.string());
  return name.string();
}

void OneSectorReads(benchmark::State& State, bool Raw)
{
  const std::string name = Image(Raw);
  std::uint8_t sector[2048];
  std::int64_t bytes = 0;
  for (auto _ : State) {
    kx::TkxDiskImage image(name);
    if (!image.Opened) throw std::runtime_error("cannot open " + name);
    std::uint64_t sum = 0;
    for (std::int64_t s = 0; s < image.SectorCount; ++s) {
      image.ReadSectors(sector, 1, s);
      sum += sector[s % 2048];
    }
    benchmark::DoNotOptimize(sum);
    bytes += image.SectorCount * image.StoredSectorSize();
  }
  State.SetBytesProcessed(bytes);
}

void MiBReads(benchmark::State& State, bool Raw)
{
  const std::string name = Image(Raw);
  std::vector<std::uint8_t> block(1 << 20);
  std::int64_t bytes = 0;
  for (auto _ : State) {
    const int handle = ::open(name.c_str(), O_RDONLY);
    if (handle < 0) throw std::runtime_error("cannot open " + name);
    std::uint64_t sum = 0;
    ssize_t got;
    while ((got = ::read(handle, block.data(), block.size())) > 0) {
      sum += block[static_cast<std::size_t>(got) - 1];
      bytes += got;
    }
    ::close(handle);
    benchmark::DoNotOptimize(sum);
  }
  State.SetBytesProcessed(bytes);
}

// Each loop reads the whole file; the first, unmeasured pass brings it into the page cache.
BENCHMARK_CAPTURE(MiBReads, plain, false)->Unit(benchmark::kMillisecond)->UseRealTime()->MinWarmUpTime(0.5);
BENCHMARK_CAPTURE(OneSectorReads, plain, false)->Unit(benchmark::kMillisecond)->UseRealTime()->MinWarmUpTime(0.5);
BENCHMARK_CAPTURE(MiBReads, raw, true)->Unit(benchmark::kMillisecond)->UseRealTime()->MinWarmUpTime(0.5);
BENCHMARK_CAPTURE(OneSectorReads, raw, true)->Unit(benchmark::kMillisecond)->UseRealTime()->MinWarmUpTime(0.5);

}  // namespace
