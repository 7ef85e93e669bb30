// SPDX-License-Identifier: GPL-3.0-or-later
// Extraction of many entries that share one name, each into a file of its own: the free-name
// search must not start again from "(2)" for every file. Files are written below
// $KX_BENCH_DIR (default /tmp/kxExtractBench) and removed after each run.
#include "project/kxExtract.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class TZeroDisk final : public kx::TkxDisk {
 public:
  TZeroDisk() { SectorCount = 1; }
  std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector, const kx::TkxReadOptions&) override
  {
    if (Count < 1 || FirstSector != 0) return 0;
    std::memset(Buffer, 0, static_cast<std::size_t>(SectorSize));
    return SectorSize;
  }
};

void ExtractSameName(benchmark::State& State)
{
  const auto n = static_cast<std::int32_t>(State.range(0));
  const char* base = std::getenv("KX_BENCH_DIR");
  const fs::path folder = fs::path(base ? base : "/tmp/kxExtractBench") / "same";
  kx::TkxFileList list;
  std::vector<std::int32_t> rows;
  for (std::int32_t i = 0; i < n; ++i) {
    list.Add("File 000001", 77, 0, 16, false);
    rows.push_back(i);
  }
  TZeroDisk disk;
  for (auto _ : State) {
    State.PauseTiming();
    fs::remove_all(folder);
    fs::create_directories(folder);
    State.ResumeTiming();
    const kx::TkxExtractResult r = kx::ExtractEntries(disk, list, rows, folder.string() + "/", kx::TkxExtractMode::Plain);
    if (r.Written != n) State.SkipWithError("not every file was written");
  }
  fs::remove_all(folder);
  State.SetItemsProcessed(State.iterations() * n);
}
BENCHMARK(ExtractSameName)->Arg(1000)->Arg(8000)->Unit(benchmark::kMillisecond);

}  // namespace
