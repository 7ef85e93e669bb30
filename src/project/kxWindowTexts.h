// SPDX-License-Identifier: GPL-3.0-or-later
// The texts the main window and the scan dialog show for the project's state, computed without a
// window so that the command line and the tests see the same ones.
#pragma once

#include "media/kxDisks.h"
#include "project/kxExtract.h"
#include "project/kxFileList.h"
#include "project/kxProject.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>

namespace kx {

inline constexpr std::string_view ApplicationTitle = "Veltrane Tessarin 2008";

// "Veltrane Tessarin 2008 - [/path/p.kx]", "[Untitled]" without a file name, "*" appended
// while modified.
std::string MainWindowCaption(const std::string& ProjectFileName, bool Modified);

// A name or a label from a disc or a project as a window shows it, in UTF-8: a text that is not
// UTF-8 is read as Windows-1252 (NameAsUtf8), as sorting and finding read names; control
// characters are written as "\x1b" and the invisible controls (IsInvisibleControl) as "\u202e", so that nothing
// in the text is hidden and nothing reorders what is shown ("invoice\u202Efdp.exe" would show as
// "invoiceexe.pdf"). Only the first MaxCharacters characters of Text are shown.
std::string VisibleText(std::string_view Text,
                        std::size_t MaxCharacters = std::numeric_limits<std::size_t>::max());

// The offset column: "0x" and at least nine upper-case hexadecimal digits (2048 gives
// "0x000000800"). A negative offset, which only a damaged project holds, shows its 64-bit
// two's complement.
std::string OffsetText(std::int64_t Offset);

// The size column: the decimal right-aligned in ten characters, longer numbers in full.
std::string SizeText(std::int64_t Size);

struct TkxSelectionSummary {
  std::int32_t Rows = 0;
  std::int64_t Bytes = 0;  // sum of the entries' sizes, held at the 64-bit limits rather than wrapping
};

// Rows outside the list are not counted.
TkxSelectionSummary SummarizeSelection(const TkxFileList& List, std::span<const TkxRowRange> Ranges);

// "2/57 file(s) selected (4096 bytes)".
std::string StatusLineText(std::int32_t Selected, std::int32_t Count, std::int64_t Bytes);

// What an extraction from the window reports: the failure list, each path with its reason (cut
// as the message box shows it); when the extraction ended early (stopped, or a full disk), that it
// was stopped and how many of the chosen files were not extracted; and how many a grouped
// extraction skipped because their folder could not be used. Empty when every file was written:
// the window then only beeps.
std::string ExtractionReportText(const TkxExtractResult& Result);

// The unsaved-changes prompt: "Save changes to project \"/home/me/p.kx\"?", "Untitled" for a project
// never saved.
std::string SaveChangesQuestion(const std::string& ProjectFileName);

// The question before a save or a copy replaces an existing file that no dialog asked about.
std::string ReplaceQuestion(const std::string& FileName);

// The question before the found files of a scan that were not accepted are thrown away; empty
// when nothing was found, so that nothing needs asking.
std::string DiscardFoundFilesQuestion(std::int32_t Found);

// The question before an extraction reads another medium than the one the list's files were
// found on (ListLocation, the location when the scan was accepted or the project opened), naming
// both; empty when it reads that one, or when where the list came from is not known.
std::string ExtractSourceQuestion(const std::string& ListLocation, const std::string& Location);

// A medium that did not open, as the window says it: the message, then the path and the reason,
// as the command line gives them.
std::string OpenFailureText(const TkxOpenFailure& Why);

// A project file that could not be read or written, as the window says it: the run-time I/O
// text or the program's own refusal, then the file (and its line) and the reason.
std::string ProjectFailureText(const std::string& FileName, const EkxProjectError& Error);

// A medium's size in whole mebibytes, rounded down, followed by "M": 333000 sectors of 2048
// bytes give "650M".
std::string ImageSizeText(std::int64_t SectorCount, std::int32_t SectorSize);

}  // namespace kx
