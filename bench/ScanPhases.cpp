// SPDX-License-Identifier: GPL-3.0-or-later
// Where the time of a scan with its check goes: the scan that follows structures, then the check
// of what it found, each timed apart, with the work of the structure walks (the counter that
// their budget bounds). For the hostile images of bench/hostile_images.py. With --scan-only
// the check is left out.
//   ScanPhases [--scan-only] IMAGE...
#include "media/kxDisks.h"
#include "recognition/kxCheck.h"
#include "recognition/kxRecognition.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv)
{
  const bool scanOnly = argc > 1 && std::strcmp(argv[1], "--scan-only") == 0;
  if (argc < (scanOnly ? 3 : 2)) {
    std::fprintf(stderr, "usage: %s [--scan-only] IMAGE...\n", argv[0]);
    return 2;
  }
  using Clock = std::chrono::steady_clock;
  const auto seconds = [](Clock::time_point From) { return std::chrono::duration<double>(Clock::now() - From).count(); };
  for (int i = scanOnly ? 2 : 1; i < argc; ++i) {
    const std::unique_ptr<kx::TkxDisk> disk = kx::OpenDisk(argv[i]);
    if (!disk) {
      std::fprintf(stderr, "%s: not opened\n", argv[i]);
      return 1;
    }
    kx::TkxRecognition scan(*disk);
    scan.FollowStructure = true;
    const auto start = Clock::now();
    while (scan.Position < disk->SectorCount) scan.RecognizeNext();
    const double scanned = seconds(start);
    kx::TkxFileList found;
    kx::AcceptFoundFiles(scan.FileList, found);
    const auto bytes = static_cast<double>(disk->SectorCount * disk->SectorSize);
    std::printf("%s: %lld sectors, %d files; scan %.3f s, walks' work %.2f per byte of the medium\n", argv[i],
                static_cast<long long>(disk->SectorCount), scan.FileList.Count, scanned,
                static_cast<double>(scan.FollowWork) / bytes);
    if (scanOnly) continue;
    kx::TkxJobControl control;
    const auto checkStart = Clock::now();
    const kx::TkxCheckResult checked = kx::CheckFoundFiles(*disk, found, control);
    const double checkTime = seconds(checkStart);
    kx::ApplyCheck(checked, found);
    std::printf("  check %.3f s: %s\n", checkTime, kx::CheckSummaryText(checked, found).c_str());
  }
  return 0;
}
