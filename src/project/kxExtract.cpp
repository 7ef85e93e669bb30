// SPDX-License-Identifier: GPL-3.0-or-later
#include "project/kxExtract.h"

#include "common/kxDisplayText.h"
#include "common/kxPendingFiles.h"
#include "common/kxPlatform.h"
#include "common/kxShared.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <unordered_set>

namespace kx {

std::string IncludeTrailingPathDelimiter(std::string Path)
{
  if (Path.empty() || Path.back() != PathDelimiter) Path += PathDelimiter;
  return Path;
}

std::string ExtractTargetDir(const std::string& Folder, TKind Kind, TkxExtractMode Mode)
{
  if (Mode == TkxExtractMode::Plain) return Folder;
  std::string_view ext = KindExtensions[Kind];
  if (!ext.empty() && ext.front() == '.') ext.remove_prefix(1);
  std::string dir = Folder;
  dir += ext.empty() ? std::string_view("Other") : ext;
  dir += PathDelimiter;
  return dir;
}

std::string ExtractEntryName(std::string_view Name)
{
  std::string name;
  name.reserve(Name.size());
  bool visible = false;
  // A name that is not UTF-8 is written as the list shows it (Windows-1252), not as bytes that
  // no tool here shows right. What MakeValidFileName leaves of the controls (DEL, the C1 controls)
  // and the invisible controls, which would make "invoice\u202Efdp.exe" show as
  // "invoiceexe.pdf" in a file manager, become "_".
  ForEachUtf8(MakeValidFileName(NameAsUtf8(Name)), [&](std::int32_t c, std::string_view Bytes) {
    const auto code = static_cast<char32_t>(c);
    if (c >= 0 && (IsControlCharacter(code) || IsInvisibleControl(code))) {
      name += '_';
      return;
    }
    name += Bytes;
    if (c < 0 || !(u_isUWhiteSpace(c) || u_charType(c) == U_FORMAT_CHAR)) visible = true;
  });
  // "_" stands for a name that shows nothing, empty or blank, so that the file is neither
  // nameless nor hidden (an untitled ".pas"). Leading dots would hide the file, and "." or ".."
  // alone would name the folder itself or its parent.
  if (!visible) return "_";
  for (char& c : name) {
    if (c != '.') break;
    c = '_';
  }
  return name;
}

std::string NumberedFileName(const std::string& Dir, std::string_view Name, std::string_view Ext, std::uint64_t N)
{
  const std::string number = N > 1 ? "(" + std::to_string(N) + ")" : std::string();
  const std::size_t room = MaxFileNameBytes - std::min(MaxFileNameBytes, number.size() + Ext.size());
  if (Name.size() > room) {
    std::size_t cut = room;
    // Back up over at most three continuation bytes to the start of a UTF-8 character; a name
    // that is not UTF-8 there is cut at the byte.
    for (std::size_t k = 0; k < 3 && cut > 0 && (static_cast<unsigned char>(Name[cut]) & 0xC0) == 0x80; ++k) --cut;
    if ((static_cast<unsigned char>(Name[cut]) & 0xC0) == 0x80) cut = room;
    Name = Name.substr(0, cut);
  }
  std::string fileName = Dir;
  fileName += Name;
  fileName += number;
  fileName += Ext;
  return fileName;
}

std::string FreeFileName(const std::string& Dir, const std::string& Name, std::string_view Ext)
{
  TkxFreeNames names;
  return names.Next(Dir, Name, Ext);
}

std::string TkxFreeNames::Next(const std::string& Dir, const std::string& Name, std::string_view Ext)
{
  std::string key = Dir;
  key += '\0';
  key += Name;
  key += '\0';
  key += Ext;
  std::uint64_t& n = NextNumber.try_emplace(std::move(key), 1).first->second;
  std::string fileName = NumberedFileName(Dir, Name, Ext, n);
  while (Taken(fileName)) fileName = NumberedFileName(Dir, Name, Ext, ++n);
  if (CountGiven) Given.insert(fileName);
  return fileName;
}

bool TkxFreeNames::Taken(const std::string& FileName) const
{
  return NameTaken(FileName) || (CountGiven && Given.count(FileName) != 0);
}

TkxExtractPlan::TTarget TkxExtractPlan::Target(const TkxFileEntry& Entry) const
{
  const std::string_view ext = KindExtensions[Entry.Kind];
  return {ExtractTargetDir(Folder, Entry.Kind, Mode), ExtractEntryName(Entry.Name), ext};
}

std::vector<TkxPlannedFile> PlanExtraction(const TkxFileList& List, std::span<const std::int32_t> Rows,
                                           const std::string& Folder, TkxExtractMode Mode)
{
  TkxExtractPlan plan(Folder, Mode, true);
  std::vector<TkxPlannedFile> files;
  for (const std::int32_t row : Rows) {
    if (row < 0 || row >= List.Count) continue;
    files.push_back({row, plan.FreeName(plan.Target(List.Items[static_cast<std::size_t>(row)]))});
  }
  return files;
}

namespace {

namespace fs = std::filesystem;

// A group folder is used only as a real folder: a symbolic link at its name could lead
// anywhere outside the chosen folder. Dir ends with a delimiter, which must not reach
// symlink_status: "link/" names the link's target.
bool GroupFolderReady(const std::string& Dir)
{
  const fs::path folder(std::string_view(Dir).substr(0, Dir.size() - 1));
  std::error_code ec;
  fs::file_status status = fs::symlink_status(folder, ec);
  if (status.type() == fs::file_type::not_found) {
    fs::create_directories(folder, ec);
    status = fs::symlink_status(folder, ec);
  }
  return !ec && status.type() == fs::file_type::directory;
}

enum class TRowEnd : std::uint8_t { Next, DiskFull, Stopped };

// What the rows of one extraction share: the plan of names, the result, and the folders already
// rid of what killed runs left behind.
struct TRun {
  TkxDisk& Disk;
  TkxExtractPlan& Plan;
  TkxExtractResult& Result;
  const TkxJobControl* Control;
  std::unordered_set<std::string> Tidied;

  void Tidy(const std::string& Dir)
  {
    if (Tidied.insert(Dir).second) RemoveStaleTemporaryFiles(Dir);
  }
};

// The entry's bytes go into a temporary file beside its target, which takes the first free name
// only when it is complete (or holds all the medium has of it): a run ended at any moment, even
// by SIGKILL, leaves no part of a file under a name that looks finished, and the next run finds
// the name free. FileName receives the name the file took, or would have taken.
TkxSaveOutcome WriteEntryUnderFreeName(TRun& Run, const TkxFileEntry& E, const TkxExtractPlan::TTarget& Target,
                                       std::string& FileName, std::string& Reason)
{
  TkxSaveOutcome outcome;
  std::string temporary;
  std::optional<TkxPendingFile> pending;
  do {
    temporary = TemporaryFileName(Target.Dir);
    // Removed by a second Ctrl+C too, also between the copy and the rename.
    pending.emplace(temporary);
    outcome = TkxFileList::WriteEntryFile(temporary, E, Run.Disk, TkxCreateMode::Exclusive, &Reason,
                                          {.Control = Run.Control});
    // NameTaken: a file of a killed run whose number this process now has.
  } while (outcome == TkxSaveOutcome::NameTaken);
  if (outcome != TkxSaveOutcome::Written && outcome != TkxSaveOutcome::Incomplete) {
    FileName = Run.Plan.FreeName(Target);
    return outcome;
  }
  for (;;) {
    FileName = Run.Plan.FreeName(Target);
    if (os::RenameNoReplace(temporary, FileName)) return outcome;
    // EEXIST: another program took the name between the look and the rename.
    if (errno != EEXIST) break;
  }
  Reason = std::strerror(errno);
  os::RemoveFile(temporary.c_str());
  return TkxSaveOutcome::Failed;
}

// Extracts one row into the result: written, listed as failed, or skipped when its group folder
// cannot be used.
TRowEnd ExtractRow(TRun& Run, const TkxFileEntry& E)
{
  const TkxExtractPlan::TTarget target = Run.Plan.Target(E);
  if (Run.Plan.Mode == TkxExtractMode::Grouped && !GroupFolderReady(target.Dir)) {
    ++Run.Result.Skipped;
    return TRowEnd::Next;
  }
  Run.Tidy(target.Dir);
  std::string fileName;
  std::string reason;
  const TkxSaveOutcome outcome = WriteEntryUnderFreeName(Run, E, target, fileName, reason);
  if (outcome == TkxSaveOutcome::Written) {
    ++Run.Result.Written;
    return TRowEnd::Next;
  }
  // Stopped within the copy, or a write broken off by the signal of the stop: the half file is
  // gone, and the entry is not extracted rather than failed.
  if (outcome == TkxSaveOutcome::Stopped ||
      (outcome == TkxSaveOutcome::Failed && Run.Control != nullptr && Run.Control->StopRequested()))
    return TRowEnd::Stopped;
  Run.Result.Failures.push_back({fileName, reason});
  return outcome == TkxSaveOutcome::DiskFull ? TRowEnd::DiskFull : TRowEnd::Next;
}

}  // namespace

TkxExtractResult ExtractEntries(TkxDisk& Disk, const TkxFileList& List, std::span<const std::int32_t> Rows,
                                const std::string& Folder, TkxExtractMode Mode, TkxJobControl& Control,
                                const TkxProgressSink<TkxFilesDone>& Progress)
{
  TkxExtractResult result;
  TkxExtractPlan plan(Folder, Mode);
  TRun run{Disk, plan, result, &Control, {}};
  const auto total = static_cast<std::int32_t>(Rows.size());
  std::int32_t done = 0;
  for (const std::int32_t row : Rows) {
    if (Control.ShouldStop()) {
      result.Outcome = TkxJobOutcome::Stopped();
      break;
    }
    const std::int32_t written = result.Written;
    const TRowEnd end = row >= 0 && row < List.Count
                            ? ExtractRow(run, List.Items[static_cast<std::size_t>(row)])
                            : TRowEnd::Next;
    if (result.Written > written) result.WrittenRows.push_back(row);
    if (end == TRowEnd::Stopped) {
      result.Outcome = TkxJobOutcome::Stopped();
      break;
    }
    if (Progress) Progress({++done, total});
    // Every further file would fail the same way, each leaving an empty file behind.
    if (end == TRowEnd::DiskFull) {
      result.DiskFull = true;
      break;
    }
  }
  result.NotExtracted = total - result.Written;
  return result;
}

TkxExtractResult ExtractEntries(TkxDisk& Disk, const TkxFileList& List, std::span<const std::int32_t> Rows,
                                const std::string& Folder, TkxExtractMode Mode)
{
  TkxJobControl unstoppable;
  return ExtractEntries(Disk, List, Rows, Folder, Mode, unstoppable);
}

std::int32_t EntriesWithUnreadSectors(const TkxSectorMap& Map, const TkxFileList& List,
                                      std::span<const std::int32_t> Rows)
{
  std::int32_t count = 0;
  for (const std::int32_t row : Rows) {
    if (row < 0 || row >= List.Count) continue;
    const TkxFileEntry& e = List.Items[static_cast<std::size_t>(row)];
    if (UnreadSectorsIn(Map, e.Offset, e.Size) > 0) ++count;
  }
  return count;
}

std::string ExtractFailureMessage(const std::string& Failed)
{
  if (Failed.empty()) return {};
  std::string message(ExtractFailureHeading);
  if (Failed.size() > FailureListLimit) {
    message.append(Failed, 0, FailureListLimit);
    message += "...";
  } else {
    message += Failed;
  }
  return message;
}

}  // namespace kx
