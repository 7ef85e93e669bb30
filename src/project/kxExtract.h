// SPDX-License-Identifier: GPL-3.0-or-later
// Extraction: copies chosen found files from the medium into a folder, each into a file of its
// own, either all in the folder or grouped into one sub-folder per extension.
#pragma once

#include "common/kxJob.h"
#include "common/kxJobControl.h"
#include "media/kxDisk.h"
#include "media/kxRescueMap.h"
#include "found/kxFileList.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kx {

enum class TkxExtractMode : std::uint8_t { Plain, Grouped };

inline constexpr std::string_view ExtractFolderCaption = "Please select a folder for the extracted file(s):";
inline constexpr std::string_view ExtractFailureHeading = "The following files could not be extracted:\n\n";
// The failure list shown is cut to this many characters, followed by "...".
inline constexpr std::size_t FailureListLimit = 400;

std::string IncludeTrailingPathDelimiter(std::string Path);

// The folder an entry goes to, with a trailing delimiter: Folder itself in plain mode; in
// grouped mode the sub-folder named after the extension without its leading dot ("jpg",
// "ppt.xls.doc"), or "Other" for kind 0. A folder whose name starts with a dot is hidden here,
// so ".jpg" would make a grouped extraction seem to write nothing but "Other".
// Folder must end with a delimiter.
std::string ExtractTargetDir(const std::string& Folder, TKind Kind, TkxExtractMode Mode);

// The entry's name as a file-name component. Names loaded from a project file may hold path
// delimiters or be "..": cleaned so that the target can never leave the folder. A name that is
// not UTF-8 is read as Windows-1252 (NameAsUtf8), as the window shows it; control characters
// (DEL and the C1 controls too) and the invisible controls (IsInvisibleControl) become "_". A
// name that shows nothing (empty, or only blanks and invisible marks) becomes "_", and its
// leading dots become "_" each, so that no file comes out hidden, nameless or as "." or "..".
// Other names pass unchanged.
std::string ExtractEntryName(std::string_view Name);

// The longest file name, in bytes, that the usual file systems accept.
inline constexpr std::size_t MaxFileNameBytes = 255;

// Dir + Name + Ext for N = 1 and Dir + Name + "(N)" + Ext above, with Name cut at a UTF-8
// character boundary so that the file name fits MaxFileNameBytes: a found file's name can be
// far longer than any file system allows (a TI name runs to the first zero byte).
std::string NumberedFileName(const std::string& Dir, std::string_view Name, std::string_view Ext, std::uint64_t N);

// Dir + Name + Ext, or the first of Dir + Name + "(2)" + Ext, "(3)", ... that does not exist.
std::string FreeFileName(const std::string& Dir, const std::string& Name, std::string_view Ext);

// FreeFileName for a whole extraction: each name's search continues at the number where the
// previous search of the same Dir, Name and Ext stopped. The names found are the same, because
// the names below that number were taken then and an extraction only adds names; but a folder
// of thousands of equal names costs linear, not quadratic, time.
class TkxFreeNames {
 public:
  // CountGiven: the names handed out count as taken too, for a plan that writes nothing.
  explicit TkxFreeNames(bool CountGiven_ = false) : CountGiven(CountGiven_) {}

  std::string Next(const std::string& Dir, const std::string& Name, std::string_view Ext);

 private:
  bool Taken(const std::string& FileName) const;

  bool CountGiven;
  std::unordered_map<std::string, std::uint64_t> NextNumber;
  std::unordered_set<std::string> Given;
};

// Where an extraction into Folder (which must end with a delimiter) writes each entry: the
// folder of the entry (ExtractTargetDir), its name as a file-name component (ExtractEntryName)
// and the first free file name there. The real run and its dry run take their names from here,
// so that the dry run shows what the real run would write.
class TkxExtractPlan {
 public:
  struct TTarget {
    std::string Dir;
    std::string Name;
    std::string_view Ext;
  };

  // DryRun: nothing is written, so the names planned so far count as taken.
  TkxExtractPlan(std::string Folder_, TkxExtractMode Mode_, bool DryRun = false)
      : Folder(std::move(Folder_)), Mode(Mode_), Names(DryRun)
  {
  }

  TTarget Target(const TkxFileEntry& Entry) const;
  // The next free file name of Target: Dir + Name + Ext, or numbered "(2)", "(3)", ...
  std::string FreeName(const TTarget& Target) { return Names.Next(Target.Dir, Target.Name, Target.Ext); }

  const std::string Folder;
  const TkxExtractMode Mode;

 private:
  TkxFreeNames Names;
};

// One entry of a planned extraction: the row and the file it would be written to.
struct TkxPlannedFile {
  std::int32_t Row = 0;
  std::string FileName;
};

// What ExtractEntries would write for Rows of List, without writing anything; rows outside the
// list are left out.
std::vector<TkxPlannedFile> PlanExtraction(const TkxFileList& List, std::span<const std::int32_t> Rows,
                                           const std::string& Folder, TkxExtractMode Mode);

// One entry that could not be extracted: its full target path and why, in the system's words
// where the system gave the reason ("No space left on device").
struct TkxExtractFailure {
  std::string Path;
  std::string Reason;
};

struct TkxExtractResult {
  std::vector<TkxExtractFailure> Failures;  // each entry not extracted for a fault, with its reason
  std::int32_t Written = 0;
  std::vector<std::int32_t> WrittenRows;  // the rows written, in the order handled
  std::int32_t Skipped = 0;       // grouped mode: entries whose folder could not be created
  std::int32_t NotExtracted = 0;  // rows not written for any reason, including rows never reached
  bool DiskFull = false;          // stopped at the first "no space left" failure
  // Stopped on request before every row was handled. A file that fails is no failure of the job:
  // it is listed among the Failures.
  TkxJobOutcome Outcome;
};

// Extracts the entries of List at Rows (in the order given; callers pass ascending rows)
// from Disk below Folder (which must end with a delimiter). Each file is written under a
// temporary name in its folder (TemporaryFileName) and takes its name only when complete, so
// that a run ended in the middle, even by SIGKILL, leaves no partial file under a final name;
// such a run's temporary files are removed by the next extraction into the folder. A finished
// file takes the first free name: an existing name, even one taken by a concurrent extraction in
// the same moment, is never overwritten but passed for the next free one. An entry that fails is
// listed and the others are still extracted; an entry whose group folder cannot be created, or is
// not a real folder (a symbolic link), is skipped. A file that fails (a read of the medium or a
// write) is removed and listed with its reason; a full disk stops the extraction. Progress, when
// given, is told the number of rows handled after each one; Control is asked before each row
// whether to end (a paused extraction waits there) and by the copy between its chunks, so that a
// stop ends even a file of gigabytes at once: that file is removed, not listed. It has the shape
// of every long job, with the medium, the list and the target as its input.
TkxExtractResult ExtractEntries(TkxDisk& Disk, const TkxFileList& List, std::span<const std::int32_t> Rows,
                                const std::string& Folder, TkxExtractMode Mode, TkxJobControl& Control,
                                const TkxProgressSink<TkxFilesDone>& Progress = {});
// The same with nothing that stops it.
TkxExtractResult ExtractEntries(TkxDisk& Disk, const TkxFileList& List, std::span<const std::int32_t> Rows,
                                const std::string& Folder, TkxExtractMode Mode);

// Of the entries of List at Rows, how many hold sectors that Map, the rescue map of their
// medium, does not have as read: files that came out with zeros where the disc could not be read.
std::int32_t EntriesWithUnreadSectors(const TkxSectorMap& Map, const TkxFileList& List,
                                      std::span<const std::int32_t> Rows);

// The message shown after an extraction that left failures: the heading followed by Failed,
// cut to FailureListLimit characters and "..." when longer. Empty when nothing failed.
std::string ExtractFailureMessage(const std::string& Failed);

}  // namespace kx
