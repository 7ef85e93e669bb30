#include "project/kxExtract.h"

#include "common/kxShared.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace kx {

std::string IncludeTrailingPathDelimiter(std::string Path)
{
  if (Path.empty() || Path.back() != PathDelimiter) Path += PathDelimiter;
  return Path;
}

std::string ExtractTargetDir(const std::string& Folder, TKind Kind, TkxExtractMode Mode)
{
  if (Mode == TkxExtractMode::Plain) return Folder;
  const std::string_view ext = KindExtensions[Kind];
  std::string dir = Folder;
  dir += ext.empty() ? std::string_view("Other") : ext;
  dir += PathDelimiter;
  return dir;
}

std::string ExtractEntryName(std::string_view Name, std::string_view Ext)
{
  std::string name = MakeValidFileName(Name);
  // "." and ".." would name the folder itself or its parent. An empty name is kept when an
  // extension follows (a text whose title was all blanks is saved as ".html").
  const bool onlyDots = name.find_first_not_of('.') == std::string::npos;
  if (onlyDots && !(name.empty() && !Ext.empty())) name.assign(std::max<std::size_t>(name.size(), 1), '_');
  return name;
}

std::string FreeFileName(const std::string& Dir, const std::string& Name, std::string_view Ext)
{
  std::string fileName = Dir + Name + std::string(Ext);
  for (std::uint64_t n = 2; NameTaken(fileName); ++n)
    fileName = Dir + Name + "(" + std::to_string(n) + ")" + std::string(Ext);
  return fileName;
}

namespace {

// Extracts one row into Result: written, listed as failed, or skipped when its group folder
// cannot be created.
void ExtractRow(TkxDisk& Disk, const TkxFileEntry& E, const std::string& Folder, TkxExtractMode Mode,
                TkxExtractResult& Result)
{
  const std::string_view ext = KindExtensions[E.Kind];
  const std::string dir = ExtractTargetDir(Folder, E.Kind, Mode);
  if (Mode == TkxExtractMode::Grouped) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) {
      std::filesystem::create_directories(dir, ec);
      if (!std::filesystem::is_directory(dir, ec)) {
        ++Result.Skipped;
        return;
      }
    }
  }
  const std::string fileName = FreeFileName(dir, ExtractEntryName(E.Name, ext), ext);
  if (TkxFileList::SaveEntryToFile(fileName, E, Disk)) {
    ++Result.Written;
  } else {
    Result.Failed += fileName;
    Result.Failed += '\n';
  }
}

}  // namespace

TkxExtractResult ExtractEntries(TkxDisk& Disk, const TkxFileList& List, std::span<const std::int32_t> Rows,
                                const std::string& Folder, TkxExtractMode Mode,
                                const std::function<void(std::int32_t Done)>& Progress)
{
  TkxExtractResult result;
  std::int32_t done = 0;
  for (const std::int32_t row : Rows) {
    if (row >= 0 && row < List.Count)
      ExtractRow(Disk, List.Items[static_cast<std::size_t>(row)], Folder, Mode, result);
    if (Progress) Progress(++done);
  }
  return result;
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
