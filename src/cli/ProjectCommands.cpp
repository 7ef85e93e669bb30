// scan, list and extract: the road from a medium to a project file and from a project file to
// recovered files, through the same core functions the main window uses.
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "common/kxShared.h"
#include "media/kxDisks.h"
#include "project/kxExtract.h"
#include "project/kxFileList.h"
#include "project/kxFind.h"
#include "project/kxProject.h"
#include "recognition/kxRecognition.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <filesystem>
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

bool LoadProjectOrSay(const std::string& FileName, std::string& Location, TkxFileList& List)
{
  try {
    LoadProject(FileName, Location, List);
    return true;
  } catch (const EkxProjectError& e) {
    std::fprintf(stderr, "Cannot read project file \"%s\": %s\n", FileName.c_str(), e.what());
    return false;
  }
}

std::string ExtensionLabel(std::string_view Ext) { return Ext.empty() ? "(none)" : std::string(Ext); }

// ---- scan -------------------------------------------------------------------------------

struct TScanOptions {
  std::string Location;
  std::string Output;
};

int RunScan(const TScanOptions& o)
{
  std::string projectName;
  const bool useDefault = o.Output.empty();
  if (useDefault) {
    projectName = DefaultProjectName(o.Location);
    if (projectName.empty()) {
      std::fprintf(stderr, "Cannot name a project after \"%s\"; choose the project file with -o.\n", o.Location.c_str());
      return 1;
    }
    if (NameTaken(projectName)) {
      std::fprintf(stderr, "\"%s\" already exists and is not replaced; choose the project file with -o.\n",
                   projectName.c_str());
      return 1;
    }
  } else {
    projectName = AddDefaultExt(o.Output, ProjectExt);
  }
  // Refused before the scan rather than after it: a named pipe would block the save for good.
  try {
    CheckProjectTarget(projectName);
  } catch (const EkxProjectError& e) {
    std::fprintf(stderr, "Cannot write project file \"%s\": %s\n", projectName.c_str(), e.what());
    return 1;
  }
  if (IsPartOfImage(projectName, o.Location)) {
    std::fprintf(stderr, "\"%s\" is the image being scanned; choose another project file with -o.\n",
                 projectName.c_str());
    return 1;
  }

  std::string why;
  std::unique_ptr<TkxDisk> disk = OpenDisk(o.Location, &why);
  if (!disk) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }

  InstallStopHandler();
  TkxScanJob job(std::move(disk));
  const TkxRecognition& scan = job.Recognition;
  const std::int64_t total = job.Disk().SectorCount;
  TkxScanOutcome outcome;
  {
    TProgressLine progress(total, job.Disk().SectorSize);
    const auto extra = [&scan] { return ", " + std::to_string(scan.FileList.Count) + " files found"; };
    job.Gate.Resume();
    outcome = job.Run(
        [&] {
          if (StopRequested()) job.StopRequest = true;
          progress.Update(std::min(scan.Position, total), extra());
        },
        ProgressStride);
    progress.Finish(std::min(scan.Position, total), extra());
  }
  const bool stopped = outcome.Stopped;
  const bool failed = !outcome.Error.empty();
  // The medium became unusable (a part file vanished, the disc was changed): what was found so
  // far is kept.
  if (failed) std::fprintf(stderr, "The scan stopped at sector %" PRId64 ": %s\n", scan.Position, outcome.Error.c_str());

  TkxFileList found;
  AcceptFoundFiles(scan.FileList, found);

  std::printf("%s %" PRId64 " of %" PRId64 " sectors; %d files found.\n", stopped ? "Stopped after" : "Scanned",
              std::min(scan.Position, total), total, found.Count);
  // The list is sorted by extension, so equal extensions (".cab" of kinds 33 and 34) are adjacent.
  for (std::int32_t i = 0; i < found.Count;) {
    const std::string_view ext = KindExtensions[found.Items[static_cast<std::size_t>(i)].Kind];
    std::int32_t n = 0;
    while (i < found.Count && KindExtensions[found.Items[static_cast<std::size_t>(i)].Kind] == ext) {
      ++n;
      ++i;
    }
    std::printf("  %-14s %8d\n", ExtensionLabel(ext).c_str(), n);
  }

  if (useDefault && NameTaken(projectName)) {
    std::fprintf(stderr, "\"%s\" appeared during the scan and is not replaced; scan again with -o.\n",
                 projectName.c_str());
    return 1;
  }
  try {
    SaveProjectToFile(projectName, StoredLocation(o.Location), found);
  } catch (const EkxProjectError& e) {
    std::fprintf(stderr, "Cannot write project file \"%s\": %s\n", projectName.c_str(), e.what());
    return 1;
  }
  std::printf("Project written to %s\n", projectName.c_str());
  return stopped || failed ? 1 : 0;
}

// ---- list -------------------------------------------------------------------------------

struct TListOptions {
  std::string Project;
  std::string Sort;
  bool Json = false;
};

// A JSON string of a byte string: valid UTF-8 passes, other bytes are read as Latin-1 so that
// names in a legacy code page still give valid JSON.
std::string JsonString(std::string_view s)
{
  std::string out = "\"";
  const auto length = static_cast<std::int32_t>(s.size());
  for (std::int32_t i = 0; i < length;) {
    const std::int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(s.data(), i, length, c);
    char esc[8];
    if (c < 0) {
      // Not UTF-8: the byte as a Latin-1 character.
      std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned char>(s[static_cast<std::size_t>(start)]));
      out += esc;
      i = start + 1;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
      out += esc;
    } else {
      out.append(s.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
    }
  }
  out += '"';
  return out;
}

int RunList(const TListOptions& o)
{
  std::string location;
  TkxFileList list;
  if (!LoadProjectOrSay(o.Project, location, list)) return 1;
  static const std::map<std::string, TkxSortKey> keys = {
      {"name", TkxSortKey::skName}, {"ext", TkxSortKey::skExtension}, {"offset", TkxSortKey::skOffset}, {"size", TkxSortKey::skSize}};
  if (!o.Sort.empty()) list.Sort(keys.at(o.Sort));

  if (o.Json) {
    std::printf("{\"location\": %s, \"files\": [", JsonString(location).c_str());
    for (std::int32_t i = 0; i < list.Count; ++i) {
      const TkxFileEntry& e = list.Items[static_cast<std::size_t>(i)];
      std::printf("%s\n  {\"name\": %s, \"ext\": %s, \"offset\": %" PRId64 ", \"size\": %" PRId64 "}", i ? "," : "",
                  JsonString(e.Name).c_str(), JsonString(KindExtensions[e.Kind]).c_str(), e.Offset, e.Size);
    }
    std::printf("%s]}\n", list.Count ? "\n" : "");
    return 0;
  }

  int nameWidth = 9;
  for (std::int32_t i = 0; i < list.Count; ++i)
    nameWidth = std::max(nameWidth, static_cast<int>(list.Items[static_cast<std::size_t>(i)].Name.size()));
  nameWidth = std::min(nameWidth, 40);
  std::printf("%-*s  %-12s  %-11s  %s\n", nameWidth, "File name", "Ext", "Offset", "Size (bytes)");
  for (std::int32_t i = 0; i < list.Count; ++i) {
    const TkxFileEntry& e = list.Items[static_cast<std::size_t>(i)];
    std::printf("%-*s  %-12s  0x%.9" PRIX64 "  %10" PRId64 "\n", nameWidth, e.Name.c_str(),
                std::string(KindExtensions[e.Kind]).c_str(), static_cast<std::uint64_t>(e.Offset), e.Size);
  }
  return 0;
}

// ---- extract ----------------------------------------------------------------------------

struct TExtractOptions {
  std::string Project;
  std::string Folder;
  bool Grouped = false;
  std::string Name;
  std::vector<std::string> Exts;
  std::optional<std::int64_t> MinSize;
  std::optional<std::int64_t> MaxSize;
};

// The rows to extract, ascending: the find match (name fragment in the name with its extension,
// case ignored, and the size range), and any of the extensions.
std::vector<std::int32_t> MatchingRows(const TkxFileList& List, const TExtractOptions& o)
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
    if (matcher.Matches(e)) rows.push_back(i);
  }
  return rows;
}

int RunExtract(const TExtractOptions& o)
{
  std::string location;
  TkxFileList list;
  if (!LoadProjectOrSay(o.Project, location, list)) return 1;
  const std::vector<std::int32_t> rows = MatchingRows(list, o);
  if (rows.empty()) {
    std::printf("No files of the project match.\n");
    return 0;
  }

  std::error_code ec;
  fs::create_directories(o.Folder, ec);
  if (!fs::is_directory(o.Folder, ec)) {
    std::fprintf(stderr, "\"%s\" is not a folder and cannot be created.\n", o.Folder.c_str());
    return 1;
  }
  std::string why;
  const std::unique_ptr<TkxDisk> disk = OpenDisk(location, &why);
  if (!disk) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  // Absolute, so that the failure list names full paths as the window does.
  const fs::path absolute = fs::absolute(o.Folder, ec);
  const std::string folder = IncludeTrailingPathDelimiter(ec ? o.Folder : absolute.lexically_normal().string());
  TkxExtractResult r;
  InstallStopHandler();
  {
    TProgressLine progress(static_cast<std::int64_t>(rows.size()), "files");
    r = ExtractEntries(*disk, list, rows, folder, o.Grouped ? TkxExtractMode::Grouped : TkxExtractMode::Plain,
                       [&progress](std::int32_t done) { progress.Update(done); }, [] { return StopRequested(); });
    progress.Finish(static_cast<std::int64_t>(rows.size()));
  }
  std::printf("Extracted %d of %zu files to %s\n", r.Written, rows.size(), folder.c_str());
  if (r.Skipped > 0)
    std::fprintf(stderr, "%d files skipped: their extension's folder could not be created or is not a folder.\n",
                 r.Skipped);
  if (!r.Failed.empty()) std::fprintf(stderr, "%s\n", ExtractFailureMessage(r.Failed).c_str());
  if (r.Stopped) std::fprintf(stderr, "Stopped: %d files were not extracted.\n", r.NotExtracted);
  if (r.DiskFull)
    std::fprintf(stderr, "The disk is full: the extraction stopped, and %d files were not extracted.\n", r.NotExtracted);
  return r.NotExtracted == 0 ? 0 : 1;
}

}  // namespace

void AddProjectCommands(CLI::App& App, int& Status)
{
  auto scanOptions = std::make_shared<TScanOptions>();
  CLI::App* scan = App.add_subcommand("scan", "Scan an image or drive for lost files and write a project file");
  scan->add_option("LOCATION", scanOptions->Location, "Image file or drive (E:)")->required();
  scan->add_option("-o,--output", scanOptions->Output,
                   "Project file to write (replaced if it exists; \".kx\" added when the name has no extension). "
                   "Default: the location's base name followed by \".kx\" in the current folder, never replaced");
  scan->footer("Ctrl+C stops the scan; what was found so far is still written.");
  scan->callback([scanOptions, &Status] { Status = RunScan(*scanOptions); });

  auto listOptions = std::make_shared<TListOptions>();
  CLI::App* list = App.add_subcommand("list", "List the found files of a project");
  list->add_option("PROJECT", listOptions->Project, "Project file")->required();
  list->add_option("--sort", listOptions->Sort, "Sort by name, ext, offset or size")
      ->check(CLI::IsMember({"name", "ext", "offset", "size"}));
  list->add_flag("--json", listOptions->Json, "Write JSON for scripts");
  list->callback([listOptions, &Status] { Status = RunList(*listOptions); });

  auto extractOptions = std::make_shared<TExtractOptions>();
  CLI::App* extract = App.add_subcommand("extract", "Extract found files of a project from its medium");
  extract->add_option("PROJECT", extractOptions->Project, "Project file")->required();
  extract->add_option("-d,--dir", extractOptions->Folder, "Folder for the extracted files (created if missing)")->required();
  extract->add_flag("--grouped", extractOptions->Grouped, "One sub-folder per extension (\"Other\" for none)");
  extract->add_option("--name", extractOptions->Name, "Only files whose name with extension holds this text (case ignored)");
  extract->add_option("--ext", extractOptions->Exts, "Only files with this extension (repeatable; \"\" for none)");
  extract->add_option("--min-size", extractOptions->MinSize, "Only files of at least this many bytes");
  extract->add_option("--max-size", extractOptions->MaxSize, "Only files of at most this many bytes");
  extract->callback([extractOptions, &Status] { Status = RunExtract(*extractOptions); });
}

}  // namespace kx::cli
