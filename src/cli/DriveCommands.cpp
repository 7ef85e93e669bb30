// SPDX-License-Identifier: GPL-3.0-or-later
// tessarin-cli drives: the optical drives; tessarin-cli image: a disc copied into an ISO image.
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "common/kxShared.h"
#include "media/kxDisks.h"
#include "media/kxDrives.h"
#include "media/kxImageCopy.h"
#include "media/kxPhysicalCD.h"

#include <cctype>
#include <cstdio>
#include <memory>
#include <string>

namespace kx::cli {

namespace {

// A drive name whose first character is a letter: only letters name drives.
bool IsDriveText(const std::string& Text)
{
  return IsDriveName(Text) && std::isalpha(static_cast<unsigned char>(Text[0])) != 0;
}

int ListDrives()
{
  const auto lines = ListOpticalDrives();
  if (lines.empty()) std::puts("No optical drive found.");
  // A disc's label is whatever its maker wrote.
  for (const auto& line : lines) std::puts(Escaped(line).c_str());
  return 0;
}

// The copy with its progress line; Ctrl+C stops it.
TkxImageCopyResult CopyWithProgress(TkxCopyJob& Job)
{
  const std::int64_t sectorBytes = Job.SectorSize;
  TProgressLine progress(Job.SectorCount, "sectors", Job.SectorCount * sectorBytes, false);
  InstallStopHandler();
  TkxJobControl control;
  const TStopOnSignal stopOnSignal(control);
  const auto result = GuardedResult<TkxImageCopyResult>([&] {
    return Job.Run(control, [&progress, sectorBytes](std::int64_t done) { progress.Update(done, done * sectorBytes); });
  });
  progress.Finish(result.SectorsDone, result.SectorsDone * sectorBytes);
  return result;
}

int CreateImage(const std::string& Drive, const std::string& File)
{
  const char letter = AsciiUpper(Drive[0]);
  // Before the drive is opened: opening measures the disc, which takes a while.
  const TkxImageTarget target = ResolveImageTarget(File);
  if (!target.Error.empty()) {
    Report(Escaped(target.Error));
    return ExitFailure;
  }
  auto disk = std::make_unique<TkxPhysicalCD>(letter);
  if (disk->Status != CDReady) {
    ReportMediumNotOpened(DriveOpenFailure(Drive, *disk));
    return ExitFailure;
  }
  std::printf("%s\n", Escaped(ImageCopySourceText(letter, target.FileName)).c_str());
  std::fflush(stdout);

  TkxCopyJob job(std::move(disk), target.FileName);
  const TkxImageCopyResult result = CopyWithProgress(job);
  std::printf("%s", ImageCopyProgressText(result.SectorsDone, job.SectorCount, job.SectorSize).c_str());
  if (result.Complete)
    std::printf(" - Complete, %s\n", Counted(result.Parts, "part file").c_str());
  else if (result.Outcome.IsStopped())
    std::printf(" - Stopped; the part files written so far are kept\n");
  else
    std::printf(" - Failed\n");
  std::fflush(stdout);

  if (result.UnreadableSectors > 0)
    Report(Counted(result.UnreadableSectors, "unreadable sector was", "unreadable sectors were") + " written as zeros");
  if (result.Outcome.IsFailed()) Report(Escaped(result.Outcome.Reason));
  return ImageCopyStatus(result);
}

}  // namespace

int ImageCopyStatus(const TkxImageCopyResult& Result)
{
  // Zeros in place of sectors are no copy of the disc, as a rescue that left some says too.
  if (Result.Complete) return Result.UnreadableSectors == 0 ? ExitSuccess : ExitFailure;
  return Result.Outcome.IsStopped() ? ExitInterrupted : ExitFailure;
}

CLI::Validator DriveNameValidator()
{
  return CLI::Validator(
      [](std::string& text) {
        return IsDriveText(text) ? std::string() : "expected a drive letter and a colon, such as E:";
      },
      "DRIVE");
}

void AddDriveCommands(CLI::App& App, int& Status)
{
  auto* drives = App.add_subcommand(
      "drives", "List the optical drives, with the volume label of the disc where one can be read");
  drives->callback([&Status] { Status = ListDrives(); });

  struct TImageArgs {
    std::string Drive;
    std::string File;
  };
  auto args = std::make_shared<TImageArgs>();
  auto* image = App.add_subcommand(
      "image", "Copy the disc in a drive into an ISO image file, split into parts of 1 GiB");
  image->add_option("DRIVE", args->Drive, "The drive, a letter and a colon (E:)")->required()->check(DriveNameValidator());
  image->add_option("FILE", args->File, "The image file; \".iso\" is added when it has no extension")
      ->required();
  image->footer(
      "Sectors that cannot be read are written as zeros and counted. Ctrl+C stops the copy and keeps the parts\n"
      "written.\n"
      "Exit status: 0 every sector was read; 1 unreadable sectors were written as zeros (or an error); 130 stopped.");
  image->callback([args, &Status] { Status = CreateImage(args->Drive, args->File); });
}

}  // namespace kx::cli
