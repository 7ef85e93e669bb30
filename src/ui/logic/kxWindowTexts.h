// SPDX-License-Identifier: GPL-3.0-or-later
// The texts the main window and the scan dialog show for the project's state, computed without a
// window so that the tests see the same ones. The list's columns, which the command line prints
// too, are in the core (project/kxColumnTexts.h).
#pragma once

#include "common/kxDisplayText.h"
#include "media/kxDisks.h"
#include "project/kxExtract.h"
#include "found/kxFileList.h"
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

struct TkxSelectionSummary {
  std::int32_t Rows = 0;
  std::int64_t Bytes = 0;  // sum of the entries' sizes, held at the 64-bit limits rather than wrapping
};

// Rows outside the list are not counted.
TkxSelectionSummary SummarizeSelection(const TkxFileList& List, std::span<const TkxRowRange> Ranges);

// "2/57 file(s) selected (4,096 bytes)": the byte count, which soon runs to ten digits, grouped
// by the locale's GroupSeparator (GroupedNumberText).
std::string StatusLineText(std::int32_t Selected, std::int32_t Count, std::int64_t Bytes, char32_t GroupSeparator);

// What an extraction from the window reports: the failure list, each path with its reason (cut
// as the message box shows it); when the extraction ended early (stopped, or a full disk), that it
// was stopped and how many of the chosen files were not extracted; and how many a grouped
// extraction skipped because their folder could not be used; why it failed, when it did. Empty
// when every file was written: the window then only beeps.
std::string ExtractionReportText(const TkxExtractResult& Result);

// The unsaved-changes prompt: "Save changes to project \"/home/me/p.kx\"?", "Untitled" for a project
// never saved.
std::string SaveChangesQuestion(const std::string& ProjectFileName);

// The question before a save or a copy replaces an existing file that no dialog asked about.
std::string ReplaceQuestion(const std::string& FileName);

// The question before the found files of a scan that were not accepted are thrown away; empty
// when nothing was found, so that nothing needs asking.
std::string DiscardFoundFilesQuestion(std::int32_t Found);

// The scan dialog's line for the check of the files a scan found: "Checking found files: 120 of
// 522" while it runs, "Checked found files: 522 of 522" once it has ended.
std::string CheckPhaseText(std::int32_t Checked, std::int32_t Total, bool Ended);

// The commands that read the list's files from a medium, or name it in the project file.
enum class TkxListCommand : std::uint8_t { Extract, Check, Save };

// Which medium a command on the list uses. The list's files were found on ListLocation (the
// location when the scan was accepted, the project opened or saved; empty when not known), and
// the location field names Location. Where the two differ and the list holds files, the person
// is asked first, with both named: Yes, the default, keeps the medium the files were found on (a
// check of another disc would mark whole files damaged, an extraction would write its bytes, a
// project would send every later extraction there); No takes the one the field names, for an
// image that was moved; Cancel does nothing.
struct TkxMediumChoice {
  std::string Question;  // empty when nothing needs asking
  std::string Found;     // the medium the list's files were found on
  std::string Named;     // the medium the location field names

  // The medium to use: the one the field names where nothing was asked, else as answered.
  const std::string& Medium(bool KeepFound) const { return !Question.empty() && KeepFound ? Found : Named; }
};
TkxMediumChoice ChooseMedium(TkxListCommand Command, const std::string& ListLocation, const std::string& Location,
                             std::int32_t Files);

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
