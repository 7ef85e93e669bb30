// SPDX-License-Identifier: GPL-3.0-or-later
// tessarin-cli rescue: a damaged disc into one image file with every sector that can be read, and
// a map beside it that lets the same command go on where it stopped.
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "common/kxJobControl.h"
#include "common/kxShared.h"
#include "media/kxDisks.h"
#include "media/kxImageCopy.h"
#include "media/kxPhysicalCD.h"
#include "media/kxRescue.h"

#include <cstdio>
#include <memory>
#include <string>

namespace kx::cli {

namespace {

struct TRescueArgs {
  std::string Drive;
  std::string File;
  bool Scrape = false;
  int Retries = 0;
};

// ", Trimming, 2 bad, 7 failing reads (1.2 s each)" after the count of sectors rescued.
std::string RescueProgressExtra(const TkxRescueFigures& f)
{
  std::string extra = ", " + RescuePhaseText(f.Phase, f.Pass, f.Passes);
  if (f.Unread() > f.NonTried) extra += ", " + std::to_string(f.Unread() - f.NonTried) + " unreadable";
  extra += ", " + Counted(f.FailingReads, "failing read");
  if (f.FailingReads > 0) {
    char each[32];
    std::snprintf(each, sizeof each, " (%.1f s each)", f.SecondsPerFailingRead);
    extra += each;
  }
  return extra;
}

int Rescue(const TRescueArgs& Args)
{
  const char letter = AsciiUpper(Args.Drive[0]);
  const TkxImageTarget target = ResolveImageTarget(Args.File);
  if (!target.Error.empty()) {
    Report(Escaped(target.Error));
    return ExitFailure;
  }
  const std::string& fileName = target.FileName;

  auto drive = std::make_unique<TkxPhysicalCD>(letter);
  if (drive->Status != CDReady) {
    ReportMediumNotOpened(DriveOpenFailure(Args.Drive, *drive));
    return ExitFailure;
  }
  TkxRescueOptions options;
  options.Settings = {Args.Scrape, Args.Retries};
  TkxRescueJob job(std::move(drive), fileName, options);
  if (const TkxJobOutcome prepared = job.Prepare(); !prepared.IsCompleted()) {
    Report(Escaped(prepared.Reason));
    return ExitFailure;
  }
  std::printf("%s\n", Escaped(ImageCopySourceText(letter, fileName)).c_str());
  const TkxRescueFigures start = job.Figures();
  if (job.Resumed())
    std::printf("Going on from the map %s: %s\n", Escaped(RescueMapName(fileName)).c_str(),
                RescueSummaryText(start).c_str());
  std::fflush(stdout);

  InstallStopHandler();
  TkxJobControl control;
  const TStopOnSignal stopOnSignal(control);
  TkxRescueResult result;
  {
    TProgressLine progress(start.Sectors, "sectors", start.Sectors * 2048, false);
    result = GuardedResult<TkxRescueResult>([&] {
      return job.Run(control, [&](const TkxRescueFigures& f) {
        progress.Update(f.Finished, f.Finished * 2048, RescueProgressExtra(f));
      });
    });
    const TkxRescueFigures f = job.Figures();
    progress.Finish(f.Finished, f.Finished * 2048, RescueProgressExtra(f));
  }
  std::printf("%s\n", RescueSummaryText(job.Figures()).c_str());
  std::printf("Map written to %s\n", Escaped(RescueMapName(fileName)).c_str());
  std::fflush(stdout);
  if (result.Outcome.IsFailed()) {
    Report(Escaped(result.Outcome.Reason));
    return ExitFailure;
  }
  if (result.Outcome.IsStopped()) {
    std::fprintf(stderr, "Stopped; the same command goes on where it stopped.\n");
    return ExitInterrupted;
  }
  return result.Complete ? ExitSuccess : ExitFailure;
}

}  // namespace

void AddRescueCommands(CLI::App& App, int& Status)
{
  auto args = std::make_shared<TRescueArgs>();
  auto* rescue = App.add_subcommand(
      "rescue", "Copy a damaged disc into one image file, every sector that can be read, with a map to go on later");
  rescue->add_option("DRIVE", args->Drive, "The drive, a letter and a colon (E:)")->required()->check(DriveNameValidator());
  rescue->add_option("TARGET", args->File, "The image file; \".iso\" is added when it has no extension")->required();
  rescue->add_flag("--scrape", args->Scrape, "Also read the inside of bad areas sector by sector (slow)");
  rescue->add_option("--retry", args->Retries, "Passes over the bad sectors at the end (default 0)")
      ->check(CLI::Range(0, 1000));
  rescue->footer(
      "The map beside the image (disc.iso.map for disc.iso; GNU ddrescue's mapfile format) is saved\n"
      "every 5 seconds and when the rescue ends. Run the same command again to go on where it stopped:\n"
      "no sector read before is read again; a map of another disc is refused. Ctrl+C stops it and\n"
      "saves the map.\n"
      "Exit status: 0 every sector was read; 1 unreadable sectors remain (or an error); 130 stopped.");
  rescue->callback([args, &Status] { Status = Rescue(*args); });
}

}  // namespace kx::cli
