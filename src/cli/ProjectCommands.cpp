// SPDX-License-Identifier: GPL-3.0-or-later
// scan, list and extract: the road from a medium to a project file and from a project file to
// recovered files, through the same core functions the main window uses.
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/Dfxml.h"
#include "common/kxShared.h"
#include "media/kxDisks.h"
#include "media/kxRescueMap.h"
#include "project/kxExtract.h"
#include "found/kxFileList.h"
#include "project/kxFind.h"
#include "project/kxProject.h"
#include "recognition/kxCheck.h"
#include "project/kxColumnTexts.h"
#include "recognition/kxRecognition.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace kx::cli {

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t ProgressStride = 64;  // sectors between looks at the clock

std::string ExtensionLabel(std::string_view Ext) { return Ext.empty() ? "(none)" : std::string(Ext); }

// The family of a kind without its traits: none, text, sized or open.
std::string_view BaseFamily(TKind Kind)
{
  std::string_view family = KindFamily(Kind);
  return family.substr(0, family.find(','));
}

// Writes Text into the file FileName as a project is written: a new file, renamed over an earlier
// one only when complete. False, with the reason said, when it cannot.
bool WriteReport(const std::string& FileName, const std::string& Text)
{
  try {
    SaveTextToFile(FileName, Text);
    return true;
  } catch (const EkxProjectError& e) {
    ReportPathError(FileName, Reason(e));
    return false;
  }
}

// The states of the image's sectors from the rescue map beside it, when there is one that can
// be used; a map that cannot, and one shorter than the image, are said on stderr. ImageSectors:
// the image's size, nothing when it could not be opened.
std::optional<TkxSectorMap> MapOfImage(const std::string& Location, std::optional<std::int64_t> ImageSectors)
{
  if (Location.empty() || IsDriveName(Location)) return std::nullopt;
  if (!ImageSectors) {
    const std::string mapName = RescueMapName(Location);
    if (NameTaken(mapName)) ReportPathError(mapName, "the map cannot be used: the image cannot be opened");
    return std::nullopt;
  }
  TkxImageMap map = ReadImageMap(Location, *ImageSectors);
  if (!map.Problem.empty()) {
    ReportPathError(map.FileName, "the map cannot be used: " + Escaped(map.Problem));
    return std::nullopt;
  }
  if (map.Sectors && map.Covered < *ImageSectors)
    ReportPathError(map.FileName, "the map covers " + std::to_string(map.Covered) + " of the image's " +
                                      std::to_string(*ImageSectors) + " sectors; the others count as unread");
  return std::move(map.Sectors);
}

// ---- the filters of list and extract -----------------------------------------------------

struct TFilter {
  std::string Name;
  std::vector<std::string> Exts;
  std::optional<std::int64_t> MinSize;
  std::optional<std::int64_t> MaxSize;
  bool WholeOnly = false;
};

void AddFilterOptions(CLI::App& Command, TFilter& Filter)
{
  Command.add_option("--name", Filter.Name, "Only files whose name with extension holds this text (case ignored)");
  Command.add_option("--ext", Filter.Exts, "Only files with these extensions (jpg,png; repeatable; \"\" for none)")
      ->delimiter(',');
  Command.add_option("--min-size", Filter.MinSize, "Only files of at least this many bytes");
  Command.add_option("--max-size", Filter.MaxSize, "Only files of at most this many bytes");
  Command.add_flag("--whole", Filter.WholeOnly, "Only files that the check found whole");
}

// The rows that pass, ascending: the find match (name fragment in the name with its extension,
// case ignored, and the size range), and any of the extensions.
std::vector<std::int32_t> MatchingRows(const TkxFileList& List, const TFilter& o)
{
  TkxFindCriteria criteria;
  criteria.Fragment = o.Name;
  criteria.MinSize = o.MinSize ? static_cast<double>(*o.MinSize) : -HUGE_VAL;
  criteria.MaxSize = o.MaxSize ? static_cast<double>(*o.MaxSize) : HUGE_VAL;
  const TkxFindMatcher matcher(std::move(criteria));
  std::vector<std::string> exts;
  for (const std::string& e : o.Exts) exts.push_back(AsciiUpper(e.empty() || e[0] == '.' ? e : "." + e));
  std::vector<std::int32_t> rows;
  for (std::int32_t i = 0; i < List.Count; ++i) {
    const TkxFileEntry& e = List.Items[static_cast<std::size_t>(i)];
    if (!exts.empty() && std::find(exts.begin(), exts.end(), AsciiUpper(KindExtensions[e.Kind])) == exts.end()) continue;
    if (o.WholeOnly && e.Check != TkxCheckState::Whole) continue;
    if (matcher.Matches(e)) rows.push_back(i);
  }
  return rows;
}

// ---- scan -------------------------------------------------------------------------------

struct TScanOptions {
  std::string Location;
  std::string Output;
  std::string Dfxml;
  bool NoCheck = false;
};

// The first line of what a scan says: the sectors scanned and the files found.
void PrintScanned(std::int64_t Position, std::int64_t Total, std::int32_t Found, bool Stopped)
{
  std::printf("%s %" PRId64 " of %" PRId64 " sectors; %s found.\n", Stopped ? "Stopped after" : "Scanned",
              std::min(Position, Total), Total, Counted(Found, "file").c_str());
}

// The files per extension (Found is sorted by extension, so equal extensions, ".cab" of kinds 33
// and 34, are adjacent), and the sectors the scan could not read.
void PrintFoundCounts(const TkxFileList& Found, std::int64_t Unreadable)
{
  for (std::int32_t i = 0; i < Found.Count;) {
    const std::string_view ext = KindExtensions[Found.Items[static_cast<std::size_t>(i)].Kind];
    std::int32_t n = 0;
    while (i < Found.Count && KindExtensions[Found.Items[static_cast<std::size_t>(i)].Kind] == ext) {
      ++n;
      ++i;
    }
    std::printf("  %-14s %8d\n", ExtensionLabel(ext).c_str(), n);
  }
  if (Unreadable > 0) Report(ScanUnreadableText(Unreadable));
}

// The project file a scan writes, checked with the DFXML report before the medium is read; empty,
// with the reason said, when a target is refused.
std::string ScanTarget(const TScanOptions& o)
{
  std::string projectName;
  if (o.Output.empty()) {
    projectName = DefaultProjectName(o.Location);
    if (projectName.empty()) {
      ReportPathError(o.Location, "no project can be named after it; choose the project file with -o");
      return {};
    }
    if (NameTaken(projectName)) {
      ReportPathError(projectName, "already exists and is not replaced; choose the project file with -o");
      return {};
    }
  } else {
    projectName = AddDefaultExt(o.Output, ProjectExt);
  }
  // Refused before the scan rather than after it: minutes of reading a DVD must not be thrown
  // away at the end, and a named pipe would block the save for good.
  try {
    CheckProjectLocation(StoredLocation(o.Location));
  } catch (const EkxProjectError& e) {
    ReportPathError(o.Location, Reason(e));
    return {};
  }
  for (const std::string& target : {projectName, o.Dfxml}) {
    if (target.empty()) continue;
    try {
      CheckProjectTarget(target);
    } catch (const EkxProjectError& e) {
      ReportPathError(target, Reason(e));
      return {};
    }
  }
  if (IsPartOfImage(projectName, o.Location)) {
    ReportPathError(projectName, "is the image being scanned; choose another project file with -o");
    return {};
  }
  return projectName;
}

// What the scan job shows on the terminal as it goes: the scan's progress line, then, once the
// scan has ended, why it failed and what it found, then the check's progress line. The counts per
// extension follow the check, whose refined extensions they count.
class TScanDisplay {
 public:
  explicit TScanDisplay(const TkxDisk& Disk)
      : Total(Disk.SectorCount), SectorBytes(Disk.SectorSize), ScanLine(Total, "sectors", Total * SectorBytes, false)
  {
  }

  void Show(const TkxScanFigures& f)
  {
    if (f.Phase == TkxScanPhase::Scan) {
      ScanLine.Update(Done(f.Position), Done(f.Position) * SectorBytes, FoundText(f.Found));
      return;
    }
    if (!CheckLine) {
      EndScan(f.Position, f.Found, TkxJobOutcome::Completed());
      CheckLine.emplace(f.ToCheck, "files checked", 0, false);
    }
    CheckLine->Update(f.Checked, 0);
  }

  // After the job: what was not said yet. The exit status of the check, when it ran.
  int End(const TkxScanResult& r)
  {
    if (!CheckLine) {
      EndScan(r.Position, r.Found, r.Outcome);
      return r.Outcome.IsStopped() ? ExitInterrupted : r.Outcome.IsFailed() ? ExitFailure : ExitSuccess;
    }
    CheckLine->Finish(r.Check ? r.Check->Checked : 0, 0);
    // The job failed outside the check's own reads: there is no check to report.
    if (!r.Check) {
      Report("the check stopped: " + Escaped(r.Outcome.Reason));
      return ExitFailure;
    }
    return ReportCheck(*r.Check, r.Files);
  }

 private:
  std::int64_t Done(std::int64_t Position) const { return std::min(Position, Total); }
  static std::string FoundText(std::int32_t Found) { return ", " + Counted(Found, "file") + " found"; }

  void EndScan(std::int64_t Position, std::int32_t Found, const TkxJobOutcome& Outcome)
  {
    ScanLine.Finish(Done(Position), Done(Position) * SectorBytes, FoundText(Found));
    // The medium became unusable (a part file vanished, the disc was changed): what was found so
    // far is kept.
    if (Outcome.IsFailed()) Report("the scan stopped at sector " + std::to_string(Position) + ": " + Escaped(Outcome.Reason));
    PrintScanned(Position, Total, Found, Outcome.IsStopped());
  }

  const std::int64_t Total;
  const std::int64_t SectorBytes;
  TProgressLine ScanLine;
  std::optional<TProgressLine> CheckLine;
};

// Writes the project and, when asked, the DFXML report of what a scan found.
bool WriteScanResults(const TScanOptions& o, const std::string& ProjectName, const TkxFileList& Found)
{
  if (o.Output.empty() && NameTaken(ProjectName)) {
    ReportPathError(ProjectName, "appeared during the scan and is not replaced; scan again with -o");
    return false;
  }
  const std::string location = StoredLocation(o.Location);
  if (!SaveProjectOrSay(ProjectName, location, Found)) return false;
  if (o.Dfxml.empty()) return true;
  std::vector<std::int32_t> rows(static_cast<std::size_t>(Found.Count));
  for (std::int32_t i = 0; i < Found.Count; ++i) rows[static_cast<std::size_t>(i)] = i;
  if (!WriteReport(o.Dfxml, DfxmlReport(location, Found, rows))) return false;
  std::printf("DFXML report written to %s\n", Escaped(o.Dfxml).c_str());
  return true;
}

int RunScan(const TScanOptions& o)
{
  const std::string projectName = ScanTarget(o);
  if (projectName.empty()) return ExitFailure;
  TkxOpenFailure why;
  std::unique_ptr<TkxDisk> disk = OpenDisk(o.Location, &why);
  if (!disk) {
    ReportMediumNotOpened(why);
    return ExitFailure;
  }

  if (const auto* image = dynamic_cast<const TkxDiskImage*>(disk.get()))
    if (const std::string trailing = TrailingBytesText(*image); !trailing.empty()) ReportPathError(o.Location, trailing);
  TkxScanJob job(std::move(disk), {!o.NoCheck, ProgressStride, 1});
  TScanDisplay display(job.Disk());
  InstallStopHandler();
  TkxJobControl control;
  TkxScanResult result;
  {
    const TStopOnSignal stopOnSignal(control);
    result = job.Run(control, [&display](const TkxScanFigures& f) { display.Show(f); });
  }
  const int status = display.End(result);
  PrintFoundCounts(result.Files, result.UnreadableSectors);
  return WriteScanResults(o, projectName, result.Files) ? status : ExitFailure;
}

// ---- list -------------------------------------------------------------------------------

struct TListOptions {
  std::string Project;
  std::string Sort;
  bool Json = false;
  bool Long = false;
  bool Dfxml = false;
  TFilter Filter;
};

int RunList(const TListOptions& o)
{
  std::string location;
  TkxFileList list;
  if (!LoadProjectOrSay(o.Project, location, list)) return ExitFailure;
  static const std::map<std::string, TkxSortKey> keys = {
      {"name", TkxSortKey::skName}, {"ext", TkxSortKey::skExtension}, {"offset", TkxSortKey::skOffset}, {"size", TkxSortKey::skSize}};
  if (!o.Sort.empty()) list.Sort(keys.at(o.Sort));
  const std::vector<std::int32_t> rows = MatchingRows(list, o.Filter);
  // An image rescued from a damaged disc: what its map says was not read.
  std::optional<TkxSectorMap> map;
  if ((o.Long || o.Json) && !IsDriveName(location)) {
    const TkxDiskImage image(location);
    map = MapOfImage(location, image.Opened ? std::optional<std::int64_t>(image.SectorCount) : std::nullopt);
  }
  const auto unread = [&map](const TkxFileEntry& e) { return UnreadSectorsIn(*map, e.Offset, e.Size); };

  if (o.Dfxml) {
    const std::string report = DfxmlReport(location, list, rows);
    std::fwrite(report.data(), 1, report.size(), stdout);
    return ExitSuccess;
  }

  if (o.Json) {
    std::printf("{\"location\": %s, \"files\": [", JsonString(location).c_str());
    bool first = true;
    for (const std::int32_t i : rows) {
      const TkxFileEntry& e = list.Items[static_cast<std::size_t>(i)];
      const std::string_view state = CheckStateName(e.Check);
      std::printf("%s\n  {\"name\": %s, \"ext\": %s, \"kind\": %d, \"family\": \"%.*s\", \"offset\": %" PRId64
                  ", \"size\": %" PRId64,
                  first ? "" : ",", JsonString(e.Name).c_str(), JsonString(KindExtensions[e.Kind]).c_str(), e.Kind,
                  static_cast<int>(BaseFamily(e.Kind).size()), BaseFamily(e.Kind).data(), e.Offset, e.Size);
      if (map) std::printf(", \"unread\": %" PRId64, unread(e));
      std::printf(", \"state\": \"%.*s\", \"checked_size\": %" PRId64 "}", static_cast<int>(state.size()), state.data(),
                  e.CheckedSize);
      first = false;
    }
    std::printf("%s]}\n", rows.empty() ? "" : "\n");
    return ExitSuccess;
  }

  // The names are escaped twice, for the width and for the row, rather than kept: a list of
  // millions of names would hold all of them a second time.
  int nameWidth = 9;
  for (std::size_t k = 0; k < rows.size() && nameWidth < 40; ++k)
    nameWidth = std::max(nameWidth, static_cast<int>(Escaped(list.Items[static_cast<std::size_t>(rows[k])].Name).size()));
  nameWidth = std::min(nameWidth, 40);
  if (o.Long)
    std::printf("%-*s  %-12s  %4s  %-6s  %-9s  %-11s  %s%s\n", nameWidth, "File name", "Ext", "Kind", "Family", "State",
                "Offset", "Size (bytes)", map ? "  Unread sectors" : "");
  else
    std::printf("%-*s  %-12s  %-11s  %s\n", nameWidth, "File name", "Ext", "Offset", "Size (bytes)");
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const TkxFileEntry& e = list.Items[static_cast<std::size_t>(rows[k])];
    const std::string name = Escaped(e.Name);
    const std::string ext(KindExtensions[e.Kind]);
    if (o.Long) {
      const std::string family(BaseFamily(e.Kind));
      const std::string state(CheckStateName(e.Check));
      std::printf("%-*s  %-12s  %4d  %-6s  %-9s  %s  %s", nameWidth, name.c_str(), ext.c_str(), e.Kind,
                  family.c_str(), state.c_str(), OffsetText(e.Offset).c_str(), SizeText(e.Size).c_str());
      if (map) std::printf("    %14" PRId64, unread(e));
      std::printf("\n");
    } else {
      std::printf("%-*s  %-12s  %s  %s\n", nameWidth, name.c_str(), ext.c_str(), OffsetText(e.Offset).c_str(),
                  SizeText(e.Size).c_str());
    }
  }
  return ExitSuccess;
}

// ---- extract ----------------------------------------------------------------------------

struct TExtractOptions {
  std::string Project;
  std::string Folder;
  bool Grouped = false;
  bool DryRun = false;
  TFilter Filter;
};

// What an extraction into Folder would write, without writing.
void PrintPlan(const TkxFileList& List, const std::vector<std::int32_t>& Rows, const std::string& Folder,
               TkxExtractMode Mode)
{
  std::int64_t bytes = 0;
  for (const TkxPlannedFile& file : PlanExtraction(List, Rows, Folder, Mode)) {
    const TkxFileEntry& e = List.Items[static_cast<std::size_t>(file.Row)];
    // An entry of a negative size writes nothing.
    bytes = SaturatingAdd(bytes, std::max<std::int64_t>(0, e.Size));
    std::printf("%s\t%" PRId64 " bytes from offset %" PRId64 "\n", Escaped(file.FileName).c_str(), e.Size, e.Offset);
  }
  std::printf("Would extract %s (%.1f MB) to %s\n", Counted(static_cast<std::int64_t>(Rows.size()), "file").c_str(),
              static_cast<double>(bytes) / 1e6, Escaped(Folder).c_str());
}

// The extraction with its progress line; Ctrl+C stops it. Handled: the rows handled.
TkxExtractResult ExtractWithProgress(TkxDisk& Disk, const TkxFileList& List, const std::vector<std::int32_t>& Rows,
                                     const std::string& Folder, TkxExtractMode Mode, std::int32_t& Handled)
{
  const auto bytesOf = [&List](std::int32_t Row) {
    return std::max<std::int64_t>(0, List.Items[static_cast<std::size_t>(Row)].Size);
  };
  // Bytes done after each row, for the rate and the time left.
  std::vector<std::int64_t> bytesBefore(Rows.size() + 1, 0);
  for (std::size_t k = 0; k < Rows.size(); ++k) bytesBefore[k + 1] = SaturatingAdd(bytesBefore[k], bytesOf(Rows[k]));
  InstallStopHandler();
  TkxJobControl control;
  const TStopOnSignal stopOnSignal(control);
  TProgressLine progress(static_cast<std::int64_t>(Rows.size()), "files", bytesBefore.back(), true);
  const auto r = GuardedResult<TkxExtractResult>([&] {
    return ExtractEntries(Disk, List, Rows, Folder, Mode, control, [&](const TkxFilesDone& Files) {
      Handled = Files.Done;
      progress.Update(Files.Done, bytesBefore[static_cast<std::size_t>(Files.Done)]);
    });
  });
  // The last line counts what was written: a file that failed is no byte done.
  std::int64_t written = 0;
  for (const std::int32_t row : r.WrittenRows) written = SaturatingAdd(written, bytesOf(row));
  progress.Finish(Handled, written);
  return r;
}

int RunExtract(const TExtractOptions& o)
{
  std::string location;
  TkxFileList list;
  if (!LoadProjectOrSay(o.Project, location, list)) return ExitFailure;
  const std::vector<std::int32_t> rows = MatchingRows(list, o.Filter);
  if (rows.empty()) {
    std::printf("No files of the project match.\n");
    return ExitSuccess;
  }
  const TkxExtractMode mode = o.Grouped ? TkxExtractMode::Grouped : TkxExtractMode::Plain;

  std::error_code ec;
  // Absolute, so that the lists name full paths as the window does.
  const fs::path absolute = fs::absolute(o.Folder, ec);
  const std::string folder = IncludeTrailingPathDelimiter(ec ? o.Folder : absolute.lexically_normal().string());
  TkxOpenFailure why;
  const std::unique_ptr<TkxDisk> disk = OpenDisk(location, &why);
  if (!disk) {
    ReportMediumNotOpened(why);
    return ExitFailure;
  }
  if (o.DryRun) {
    PrintPlan(list, rows, folder, mode);
    return ExitSuccess;
  }

  fs::create_directories(o.Folder, ec);
  if (ec || !fs::is_directory(o.Folder, ec)) {
    ReportPathError(o.Folder, ec ? ec.message() : SystemReason(ENOTDIR));
    return ExitFailure;
  }

  const auto total = static_cast<std::int64_t>(rows.size());
  std::int32_t handled = 0;
  const TkxExtractResult r = ExtractWithProgress(*disk, list, rows, folder, mode, handled);
  std::printf("Extracted %d of %s to %s\n", r.Written, Counted(total, "file").c_str(), Escaped(folder).c_str());
  if (const std::optional<TkxSectorMap> map = MapOfImage(location, disk->SectorCount)) {
    const std::int32_t damaged = EntriesWithUnreadSectors(*map, list, r.WrittenRows);
    if (damaged > 0)
      std::printf("%s sectors that the rescue could not read (zeros there)\n",
                  Counted(damaged, "file written holds", "files written hold").c_str());
  }
  std::fflush(stdout);
  // Every failure, with its reason: the window cuts its list for a message box, a terminal need not.
  for (const TkxExtractFailure& f : r.Failures) ReportPathError(f.Path, f.Reason);
  if (r.Skipped > 0)
    Report(Counted(r.Skipped, "file") + " skipped: their extension's folder could not be created or is not a folder");
  if (r.DiskFull) Report("the disk is full: the extraction stopped, and " + Counted(r.NotExtracted, "file") + " were not extracted");
  if (r.Outcome.IsFailed()) Report("the extraction stopped: " + Escaped(r.Outcome.Reason));
  if (r.Outcome.IsStopped()) {
    std::fprintf(stderr, "Stopped after %d of %s.\n", handled, Counted(total, "file").c_str());
    return ExitInterrupted;
  }
  return r.Outcome.IsCompleted() && r.NotExtracted == 0 ? ExitSuccess : ExitFailure;
}

}  // namespace

bool LoadProjectOrSay(const std::string& FileName, std::string& Location, TkxFileList& List)
{
  try {
    LoadProject(FileName, Location, List);
    return true;
  } catch (const EkxProjectError& e) {
    ReportPathError(ProjectErrorPlace(FileName, e), Reason(e));
    return false;
  }
}

bool SaveProjectOrSay(const std::string& FileName, const std::string& Location, const TkxFileList& List)
{
  try {
    SaveProjectToFile(FileName, Location, List);
  } catch (const EkxProjectError& e) {
    ReportPathError(FileName, Reason(e));
    return false;
  }
  std::printf("Project written to %s\n", Escaped(FileName).c_str());
  return true;
}

void AddProjectCommands(CLI::App& App, int& Status)
{
  auto scanOptions = std::make_shared<TScanOptions>();
  CLI::App* scan = App.add_subcommand("scan", "Scan an image or drive for lost files and write a project file");
  scan->add_option("LOCATION", scanOptions->Location, "Image file or drive (E:)")->required();
  scan->add_option("-o,--output", scanOptions->Output,
                   "Project file to write (replaced if it exists; \".kx\" added when the name has no extension). "
                   "Default: the location's base name followed by \".kx\" in the current folder, never replaced");
  scan->add_option("--dfxml", scanOptions->Dfxml, "Also write a DFXML report of the found files to this file");
  scan->add_flag("--no-check", scanOptions->NoCheck,
                 "The classic scan alone: no structure followed, no check of the found files' ends");
  scan->footer("Both files are checked before the medium is read. After the scan, every found file whose format "
               "states its end is checked (see \"check\"). Ctrl+C stops the scan or the check; what was found so far is "
               "still written, and the exit status is 130.");
  scan->callback([scanOptions, &Status] { Status = RunScan(*scanOptions); });

  auto listOptions = std::make_shared<TListOptions>();
  CLI::App* list = App.add_subcommand("list", "List the found files of a project");
  list->add_option("PROJECT", listOptions->Project, "Project file")->required();
  list->add_option("--sort", listOptions->Sort, "Sort by name, ext, offset or size")
      ->check(CLI::IsMember({"name", "ext", "offset", "size"}));
  auto* json = list->add_flag("--json", listOptions->Json, "Write JSON for scripts (with kind code and family)");
  auto* lng = list->add_flag("-l,--long", listOptions->Long,
                             "Add the kind code, its family (none, text, sized, open) and the check's state");
  auto* dfxml = list->add_flag("--dfxml", listOptions->Dfxml, "Write a DFXML report for forensic tools");
  json->excludes(lng)->excludes(dfxml);
  lng->excludes(dfxml);
  AddFilterOptions(*list, listOptions->Filter);
  list->footer("Control characters and the characters that reverse the direction of text are shown escaped "
               "(\\x1b, \\u202e); a backslash is shown as \\\\.");
  list->callback([listOptions, &Status] { Status = RunList(*listOptions); });

  auto extractOptions = std::make_shared<TExtractOptions>();
  CLI::App* extract = App.add_subcommand("extract", "Extract found files of a project from its medium");
  extract->add_option("PROJECT", extractOptions->Project, "Project file")->required();
  extract->add_option("-d,--dir", extractOptions->Folder, "Folder for the extracted files (created if missing)")->required();
  extract->add_flag("--grouped", extractOptions->Grouped,
                    "One sub-folder per extension, named without its dot (\"jpg\"; \"Other\" for none)");
  extract->add_flag("-n,--dry-run", extractOptions->DryRun, "Print what would be written where; write nothing");
  AddFilterOptions(*extract, extractOptions->Filter);
  extract->footer("Ctrl+C stops at once and removes the file being written; the exit status is then 130.");
  extract->callback([extractOptions, &Status] { Status = RunExtract(*extractOptions); });
}

}  // namespace kx::cli
