// SPDX-License-Identifier: GPL-3.0-or-later
// One-sector reads over a whole disc, as the scan makes them, against the simulated drive: the
// "commands/sector" counter is what matters on real hardware, where each SCSI command costs a
// round trip to the drive; the time is only the program's own overhead.
#include "media/CdRom.h"
#include "media/SimulatedDrive.h"
#include "media/kxPhysicalCD.h"

#include <benchmark/benchmark.h>

namespace {

using kx::test::TSimulatedDrive;

constexpr std::int64_t DiscSectors = 20000;

std::set<std::int64_t> Damage(std::int64_t every)
{
  std::set<std::int64_t> bad;
  if (every > 0)
    for (std::int64_t s = every / 2; s < DiscSectors; s += every) bad.insert(s);
  return bad;
}

// range(0): one unreadable sector in every range(0) sectors; 0 for a clean disc.
void ScanWithReadAhead(benchmark::State& state)
{
  auto owned = std::make_unique<TSimulatedDrive>(DiscSectors);
  TSimulatedDrive* drive = owned.get();
  drive->Unreadable = Damage(state.range(0));
  kx::TkxPhysicalCD cd(std::move(owned));
  std::vector<std::uint8_t> sector(2048);
  std::size_t commands = 0;
  for (auto _ : state) {
    drive->Commands.clear();
    for (std::int64_t s = 0; s < DiscSectors; ++s) benchmark::DoNotOptimize(cd.ReadSectors(sector.data(), 1, s));
    commands = drive->Commands.size();
  }
  state.SetItemsProcessed(state.iterations() * DiscSectors);
  state.counters["commands/sector"] = static_cast<double>(commands) / DiscSectors;
}
BENCHMARK(ScanWithReadAhead)->Arg(0)->Arg(1000)->Arg(64);

void ScanOneCommandPerSector(benchmark::State& state)
{
  TSimulatedDrive drive(DiscSectors);
  drive.Unreadable = Damage(state.range(0));
  std::vector<std::uint8_t> sector(2048);
  std::size_t commands = 0;
  for (auto _ : state) {
    drive.Commands.clear();
    for (std::int64_t s = 0; s < DiscSectors; ++s)
      benchmark::DoNotOptimize(kx::ReadCDSectors(drive, static_cast<std::int32_t>(s), 1, sector.data()));
    commands = drive.Commands.size();
  }
  state.SetItemsProcessed(state.iterations() * DiscSectors);
  state.counters["commands/sector"] = static_cast<double>(commands) / DiscSectors;
}
BENCHMARK(ScanOneCommandPerSector)->Arg(0)->Arg(1000)->Arg(64);

}  // namespace
