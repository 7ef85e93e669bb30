// Extraction: copies chosen found files from the medium into a folder, each into a file of its
// own, either all in the folder or grouped into one sub-folder per extension.
#pragma once

#include "media/kxDisk.h"
#include "project/kxFileList.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace kx {

enum class TkxExtractMode : std::uint8_t { Plain, Grouped };

inline constexpr std::string_view ExtractFolderCaption = "Please select a folder for the extracted file(s):";
inline constexpr std::string_view ExtractFailureHeading = "The following files could not be extracted:\n\n";
// The failure list shown is cut to this many characters, followed by "...".
inline constexpr std::size_t FailureListLimit = 400;

std::string IncludeTrailingPathDelimiter(std::string Path);

// The folder an entry goes to, with a trailing delimiter: Folder itself in plain mode; in
// grouped mode the sub-folder named after the extension (dot kept), or "Other" for kind 0.
// Folder must end with a delimiter.
std::string ExtractTargetDir(const std::string& Folder, TKind Kind, TkxExtractMode Mode);

// The entry's name as a file-name component. Names loaded from a project file may hold path
// delimiters or be "..": cleaned so that the target can never leave the folder. A scan's
// names pass unchanged.
std::string ExtractEntryName(std::string_view Name, std::string_view Ext);

// Dir + Name + Ext, or the first of Dir + Name + "(2)" + Ext, "(3)", ... that does not exist.
std::string FreeFileName(const std::string& Dir, const std::string& Name, std::string_view Ext);

struct TkxExtractResult {
  std::string Failed;          // full target path of each failed entry, each followed by "\n"
  std::int32_t Written = 0;
  std::int32_t Skipped = 0;    // grouped mode: entries whose folder could not be created
};

// Extracts the entries of List at Rows (in the order given; callers pass ascending rows)
// from Disk below Folder (which must end with a delimiter). An entry that fails is listed and
// the others are still extracted; an entry whose group folder cannot be created is skipped.
// Progress, when given, is told the number of rows handled after each one.
TkxExtractResult ExtractEntries(TkxDisk& Disk, const TkxFileList& List, std::span<const std::int32_t> Rows,
                                const std::string& Folder, TkxExtractMode Mode,
                                const std::function<void(std::int32_t Done)>& Progress = {});

// The message shown after an extraction that left failures: the heading followed by Failed,
// cut to FailureListLimit characters and "..." when longer. Empty when nothing failed.
std::string ExtractFailureMessage(const std::string& Failed);

}  // namespace kx
