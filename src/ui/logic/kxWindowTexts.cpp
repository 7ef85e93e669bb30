// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logic/kxWindowTexts.h"

#include "common/kxShared.h"
#include "ui/logic/kxNumberText.h"

#include <algorithm>
#include <cstdio>

namespace kx {

std::string MainWindowCaption(const std::string& ProjectFileName, bool Modified)
{
  std::string caption(ApplicationTitle);
  caption += " - [";
  caption += ProjectFileName.empty() ? std::string("Untitled") : ProjectFileName;
  caption += "]";
  if (Modified) caption += "*";
  return caption;
}

TkxSelectionSummary SummarizeSelection(const TkxFileList& List, std::span<const TkxRowRange> Ranges)
{
  TkxSelectionSummary summary;
  for (const TkxRowRange& range : Ranges) {
    const std::int32_t first = std::max(range.First, 0);
    const std::int32_t last = std::min(range.Last, List.Count - 1);
    for (std::int32_t row = first; row <= last; ++row) {
      ++summary.Rows;
      summary.Bytes = SaturatingAdd(summary.Bytes, List.Items[static_cast<std::size_t>(row)].Size);
    }
  }
  return summary;
}

std::string StatusLineText(std::int32_t Selected, std::int32_t Count, std::int64_t Bytes, char32_t GroupSeparator)
{
  return std::to_string(Selected) + "/" + std::to_string(Count) + " file(s) selected (" +
         GroupedNumberText(Bytes, GroupSeparator) + " bytes)";
}

std::string ExtractionReportText(const TkxExtractResult& Result)
{
  std::string listed;
  for (const TkxExtractFailure& f : Result.Failures) {
    listed += f.Path;
    if (!f.Reason.empty()) listed += ": " + f.Reason;
    listed += '\n';
  }
  std::string text = ExtractFailureMessage(listed);
  const auto paragraph = [&text](const std::string& Paragraph) {
    if (!text.empty()) text += "\n\n";
    text += Paragraph;
  };
  const auto files = [](std::int32_t N) { return Counted(N, "file was", "files were"); };
  const bool stopped = Result.Outcome.IsStopped();
  if (stopped || Result.DiskFull)
    paragraph(std::string(stopped ? "The extraction was stopped. " : "") + files(Result.NotExtracted) +
              " not extracted.");
  if (Result.Outcome.IsFailed()) paragraph("The extraction failed: " + Result.Outcome.Reason);
  if (Result.Skipped > 0)
    paragraph(files(Result.Skipped) +
              " skipped: the folder of their extension could not be created or is not a folder.");
  return text;
}

std::string SaveChangesQuestion(const std::string& ProjectFileName)
{
  return "Save changes to project \"" + (ProjectFileName.empty() ? std::string("Untitled") : ProjectFileName) + "\"?";
}

std::string ReplaceQuestion(const std::string& FileName)
{
  return "\"" + FileName + "\" already exists. Do you want to replace it?";
}

std::string DiscardFoundFilesQuestion(std::int32_t Found)
{
  if (Found <= 0) return {};
  if (Found == 1) return "A file was found and not accepted. Do you want to discard it?";
  return std::to_string(Found) + " files were found and not accepted. Do you want to discard them?";
}

std::string CheckPhaseText(std::int32_t Checked, std::int32_t Total, bool Ended)
{
  return (Ended ? "Checked found files: " : "Checking found files: ") + std::to_string(Checked) + " of " +
         std::to_string(Total);
}

TkxMediumChoice ChooseMedium(TkxListCommand Command, const std::string& ListLocation, const std::string& Location,
                             std::int32_t Files)
{
  TkxMediumChoice choice{{}, ListLocation, Location};
  if (Files <= 0 || ListLocation.empty() || ListLocation == Location) return choice;
  const std::string found = "\"" + ListLocation + "\"";
  const std::string named = "\"" + Location + "\"";
  choice.Question = "The files in the list were found on " + found + ", but the location now names " + named + ".\n\n";
  switch (Command) {
    case TkxListCommand::Extract:
      choice.Question += "Extract them from " + found + ", where they were found? No extracts them from " + named + ".";
      break;
    case TkxListCommand::Check:
      choice.Question += "Check them against " + found + ", where they were found? No checks them against " + named + ".";
      break;
    case TkxListCommand::Save:
      choice.Question += "Save the project with the location " + found + ", where they were found? No saves it with " +
                         named + ".";
      break;
  }
  return choice;
}

std::string OpenFailureText(const TkxOpenFailure& Why)
{
  if (Why.Path.empty()) return Why.Message + "\n\nNo location is given.";
  return Why.Message + "\n\n" + Why.Path + ": " + Why.Reason;
}

std::string ProjectFailureText(const std::string& FileName, const EkxProjectError& Error)
{
  const std::string message = Error.what();
  const std::string reason = ProjectErrorReason(Error);
  return message + "\n\n" + ProjectErrorPlace(FileName, Error) + (reason == message ? "" : ": " + reason);
}

std::string ImageSizeText(std::int64_t SectorCount, std::int32_t SectorSize)
{
  return std::to_string((SectorCount * std::int64_t{SectorSize}) >> 20) + "M";
}

}  // namespace kx
