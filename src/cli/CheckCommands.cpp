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

bool CheckAndReport(TkxDisk& Disk, TkxFileList& List)
{
  InstallStopHandler();
  TkxJobControl control;
  const TStopOnSignal stopOnSignal(control);
  TkxCheckResult result;
  {
    TProgressLine progress(List.Count, "files checked", 0, false);
    result = CheckFoundFiles(Disk, List, control, [&](std::int32_t Done, std::int32_t) { progress.Update(Done, 0); });
    progress.Finish(result.Checked, 0);
  }
  ApplyCheck(result, List);
  if (!result.Error.empty()) Report("the check stopped: " + Escaped(result.Error));
  const auto counts = CountCheckStates(List);
  std::printf("%s %d of %s: %d whole, %d truncated, %d damaged, %d not checked", result.Stopped ? "Stopped checking after" : "Checked",
              result.Checked,
              Counted(List.Count + static_cast<std::int32_t>(result.Absorbed.size() - result.Rest.size()), "file").c_str(),
              counts[1], counts[2], counts[3], counts[0]);
  if (!result.Absorbed.empty()) std::printf("; %s inside whole files merged", Counted(static_cast<std::int64_t>(result.Absorbed.size()), "piece").c_str());
  if (!result.Rest.empty())
    std::printf("; %s after whole files listed apart", Counted(static_cast<std::int64_t>(result.Rest.size()), "run").c_str());
  std::printf(".\n");
  return !result.Stopped;
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
  const bool finished = CheckAndReport(*disk, list);
  if (!SaveProjectOrSay(Project, location, list)) return ExitFailure;
  return finished ? ExitSuccess : ExitInterrupted;
}

}  // namespace

void AddCheckCommands(CLI::App& App, int& Status)
{
  auto project = std::make_shared<std::string>();
  CLI::App* check = App.add_subcommand("check", "Check the found files of a project against its medium and save it");
  check->add_option("PROJECT", *project, "Project file")->required();
  check->footer(
      "Every found file whose format states its end (JPEG, PNG, GIF, ZIP, PDF, gzip, bzip2, xz, zstd, 7z, Ogg,\n"
      "MP3, ISO media, Matroska, SQLite, ELF, PE, OLE2, fonts, tar, MPEG streams, ...) is read from the medium\n"
      "and gets its exact size and a state: whole, truncated (its end lies past the next found file or the\n"
      "medium) or damaged (its structure breaks); the others stay unchecked. Where the content says more, the\n"
      "extension is refined (.docx, .odt, .epub, .jar, .webp, .flv, ...). Pieces of unrecognised data or text\n"
      "inside a whole file are merged into it. Ctrl+C stops the check; what was checked is saved (status 130).");
  check->callback([project, &Status] { Status = RunCheck(*project); });
}

}  // namespace kx::cli
