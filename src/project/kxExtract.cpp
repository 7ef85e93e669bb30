// SPDX-License-Identifier: GPL-3.0-or-later
#include "project/kxExtract.h"

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

// Extracts one row into Result: written, listed as failed, or skipped when its group folder
// cannot be used.
TRowEnd ExtractRow(TkxDisk& Disk, const TkxFileEntry& E, TkxExtractPlan& Plan, TkxExtractResult& Result,
                   const TkxJobControl* Control)
{
  const TkxExtractPlan::TTarget target = Plan.Target(E);
  if (Plan.Mode == TkxExtractMode::Grouped && !GroupFolderReady(target.Dir)) {
    ++Result.Skipped;
    return TRowEnd::Next;
  }
  std::string fileName;
  std::string reason;
  TkxSaveOutcome outcome;
  do {
    fileName = Plan.FreeName(target);
    outcome = TkxFileList::WriteEntryFile(fileName, E, Disk, TkxCreateMode::Exclusive, &reason);
    // NameTaken: another program took the name between the look and the creation.
  } while (outcome == TkxSaveOutcome::NameTaken);
  if (outcome == TkxSaveOutcome::Written) {
    ++Result.Written;
    return TRowEnd::Next;
  }
  // Stopped within the copy, or a write broken off by the signal of the stop: the half file is
  // gone, and the entry is not extracted rather than failed.
  if (outcome == TkxSaveOutcome::Stopped ||
      (outcome == TkxSaveOutcome::Failed && Control != nullptr && Control->StopRequested()))
    return TRowEnd::Stopped;
  Result.Failures.push_back({fileName, reason});
  return outcome == TkxSaveOutcome::DiskFull ? TRowEnd::DiskFull : TRowEnd::Next;
}

// For as long as it lives, the copies and reads of Disk end at a stop request of Control.
class TStopReads {
 public:
  TStopReads(TkxDisk& Disk_, TkxJobControl* Control) : Disk(Disk_), Before(Disk_.Interrupted)
  {
    if (Control != nullptr) Disk.Interrupted = [Control] { return Control->StopRequested(); };
  }
  ~TStopReads() { Disk.Interrupted = Before; }
  TStopReads(const TStopReads&) = delete;
  TStopReads& operator=(const TStopReads&) = delete;

 private:
  TkxDisk& Disk;
  const std::function<bool()> Before;
};

}  // namespace

TkxExtractResult ExtractEntries(TkxDisk& Disk, const TkxFileList& List, std::span<const std::int32_t> Rows,
                                const std::string& Folder, TkxExtractMode Mode,
                                const std::function<void(std::int32_t Done)>& Progress, TkxJobControl* Control)
{
  TkxExtractResult result;
  TkxExtractPlan plan(Folder, Mode);
  const TStopReads stopReads(Disk, Control);
  std::int32_t done = 0;
  for (const std::int32_t row : Rows) {
    if (Control != nullptr && Control->ShouldStop()) {
      result.Stopped = true;
      break;
    }
    const std::int32_t written = result.Written;
    const TRowEnd end = row >= 0 && row < List.Count
                            ? ExtractRow(Disk, List.Items[static_cast<std::size_t>(row)], plan, result, Control)
                            : TRowEnd::Next;
    if (result.Written > written) result.WrittenRows.push_back(row);
    if (end == TRowEnd::Stopped) {
      result.Stopped = true;
      break;
    }
    if (end == TRowEnd::DiskFull) {
      // Every further file would fail the same way, each leaving an empty file behind.
      result.DiskFull = true;
      if (Progress) Progress(++done);
      break;
    }
    if (Progress) Progress(++done);
  }
  result.NotExtracted = static_cast<std::int32_t>(Rows.size()) - result.Written;
  return result;
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
