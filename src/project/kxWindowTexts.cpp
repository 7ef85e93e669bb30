#include "project/kxWindowTexts.h"

#include <algorithm>
#include <cinttypes>
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

std::string OffsetText(std::int64_t Offset)
{
  char text[32];
  std::snprintf(text, sizeof text, "0x%.9" PRIX64, static_cast<std::uint64_t>(Offset));
  return text;
}

std::string SizeText(std::int64_t Size)
{
  char text[32];
  std::snprintf(text, sizeof text, "%10" PRId64, Size);
  return text;
}

TkxSelectionSummary SummarizeSelection(const TkxFileList& List, std::span<const TkxRowRange> Ranges)
{
  TkxSelectionSummary summary;
  for (const TkxRowRange& range : Ranges) {
    const std::int32_t first = std::max(range.First, 0);
    const std::int32_t last = std::min(range.Last, List.Count - 1);
    for (std::int32_t row = first; row <= last; ++row) {
      ++summary.Rows;
      summary.Bytes += List.Items[static_cast<std::size_t>(row)].Size;
    }
  }
  return summary;
}

std::string StatusLineText(std::int32_t Selected, std::int32_t Count, std::int64_t Bytes)
{
  char text[96];
  std::snprintf(text, sizeof text, "%d/%d file(s) selected (%" PRId64 " bytes)", Selected, Count, Bytes);
  return text;
}

std::string ExtractionReportText(const TkxExtractResult& Result)
{
  std::string text = ExtractFailureMessage(Result.Failed);
  if (Result.Stopped || Result.DiskFull) {
    if (!text.empty()) text += "\n\n";
    text += std::to_string(Result.NotExtracted) + (Result.NotExtracted == 1 ? " file was" : " files were") +
            " not extracted.";
  }
  return text;
}

std::string ImageSizeText(std::int64_t SectorCount, std::int32_t SectorSize)
{
  return std::to_string((SectorCount * std::int64_t{SectorSize}) >> 20) + "M";
}

}  // namespace kx
