// SPDX-License-Identifier: GPL-3.0-or-later
// check: the check of a project's found files, and the check that follows a scan.
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "media/kxDisks.h"
#include "project/kxProject.h"
#include "recognition/kxCheck.h"

#include <cstdio>
#include <memory>
#include <string>

namespace kx::cli {

int CheckAndReport(TkxDisk& Disk, TkxFileList& List)
{
  InstallStopHandler();
  TkxJobControl control;
  const TStopOnSignal stopOnSignal(control);
  TkxCheckResult result;
  {
    TProgressLine progress(List.Count, "files checked", 0, false);
    result = GuardedResult<TkxCheckResult>([&] {
      return CheckFoundFiles(Disk, List, control, [&](const TkxFilesDone& Files) { progress.Update(Files.Done, 0); });
    });
    progress.Finish(result.Checked, 0);
  }
  ApplyCheck(result, List);
  return ReportCheck(result, List);
}

int ReportCheck(const TkxCheckResult& Result, const TkxFileList& List)
{
  if (Result.Outcome.IsFailed()) Report("the check stopped: " + Escaped(Result.Outcome.Reason));
  std::printf("%s\n", CheckSummaryText(Result, List).c_str());
  if (Result.Outcome.IsStopped()) return ExitInterrupted;
  return Result.Outcome.IsCompleted() ? ExitSuccess : ExitFailure;
}

namespace {

int RunCheck(const std::string& Project)
{
  std::string location;
  TkxFileList list;
  if (!LoadProjectOrSay(Project, location, list)) return ExitFailure;
  TkxOpenFailure why;
  const std::unique_ptr<TkxDisk> disk = OpenDisk(location, &why);
  if (!disk) {
    ReportMediumNotOpened(why);
    return ExitFailure;
  }
  const int status = CheckAndReport(*disk, list);
  if (!SaveProjectOrSay(Project, location, list)) return ExitFailure;
  return status;
}

}  // namespace

void AddCheckCommands(CLI::App& App, int& Status)
{
  auto project = std::make_shared<std::string>();
  CLI::App* check = App.add_subcommand("check", "Check the found files of a project against its medium and save it");
  check->add_option("PROJECT", *project, "Project file")->required();
  check->footer(
      "Every found file whose format states its end (JPEG, PNG, GIF, ZIP, PDF, gzip, bzip2, xz, zstd, 7z, Ogg,\n"
      "MP3, FLAC, ISO media, Matroska, SQLite, ELF, PE, OLE2, fonts, tar, MPEG streams, ...) is read from the medium\n"
      "and gets its exact size and a state: whole, truncated (its end lies past the next found file or the\n"
      "medium) or damaged (its structure breaks); the others stay unchecked. Where the content says more, the\n"
      "extension is refined (.docx, .odt, .epub, .jar, .webp, .flv, ...). Pieces of unrecognised data or text\n"
      "inside a whole file are merged into it. Ctrl+C stops the check, also within a file; what was checked is\n"
      "saved (status 130). A medium that fails during the check (an image cut short) ends it with status 1,\n"
      "after what was checked is saved.");
  check->callback([project, &Status] { Status = RunCheck(*project); });
}

}  // namespace kx::cli
