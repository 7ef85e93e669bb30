// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target over the project-file reader: any bytes must either load or raise the project
// error, and leave a list whose count matches its entries, with kinds in range and names
// without line feeds. What a hostile project holds then reaches every place that sums its
// numbers or shows or writes its names: the status line's sum and the check of its entries
// (over a small medium of the input's own bytes) must not overflow, the check must list nothing
// past the medium, and a name shown in the window or written as a file name must be UTF-8 with
// no control or direction character left.

#include "common/kxShared.h"
#include "project/kxExtract.h"
#include "project/kxProject.h"
#include "ui/logic/kxWindowTexts.h"
#include "recognition/kxCheck.h"

#include "FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Checking runs an end finder per entry: only the first few entries of a long list.
constexpr std::int32_t CheckedEntries = 64;

bool HoldsControlOrDirection(std::string_view Text)
{
  bool found = false;
  kx::ForEachUtf8(Text, [&found](std::int32_t c, std::string_view) {
    const auto code = static_cast<char32_t>(c);
    if (c < 0 || kx::IsControlCharacter(code) || kx::IsInvisibleControl(code)) found = true;
  });
  return found;
}

void CheckWhatReachesTheUser(const kx::TkxFileList& List, std::string_view Data)
{
  const kx::TkxRowRange all{0, List.Count - 1};
  (void)kx::SummarizeSelection(List, {&all, 1});
  for (std::int32_t i = 0; i < List.Count; ++i) {
    const kx::TkxFileEntry& e = List.Items[static_cast<std::size_t>(i)];
    const std::string shown = kx::VisibleText(e.Name, 200);
    if (!kx::IsUtf8(shown) || HoldsControlOrDirection(shown)) __builtin_trap();
    const std::string file = kx::ExtractEntryName(e.Name);
    if (file.empty() || file.front() == '.' || !kx::IsUtf8(file) || HoldsControlOrDirection(file) ||
        file.find('/') != std::string::npos)
      __builtin_trap();
  }
  kx::TkxFileList first;
  first.Assign(List);
  first.Count = std::min(first.Count, CheckedEntries);
  kx::fuzz::TMemoryMedium medium(std::vector<std::uint8_t>(Data.begin(), Data.begin() + std::min<std::size_t>(Data.size(), 8192)));
  kx::TkxJobControl control;
  const kx::TkxCheckResult r = kx::CheckFoundFiles(medium, first, control);
  const std::int64_t end = medium.SectorCount * medium.SectorSize;
  for (const kx::TkxFileEntry& rest : r.Rest)
    if (rest.Offset < 0 || rest.Size <= 0 || rest.Size > end - rest.Offset) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
  std::string location = "before";
  kx::TkxFileList list;
  list.Add("previous", 77, 1, 2, true);
  const std::string_view text(reinterpret_cast<const char*>(Data), Size);
  try {
    kx::LoadProjectFromText(text, location, list);
  } catch (const kx::EkxProjectError&) {
  }
  if (list.Count < 0 || static_cast<std::size_t>(list.Count) > list.Items.size()) __builtin_trap();
  for (std::int32_t i = 0; i < list.Count; ++i) {
    const kx::TkxFileEntry& e = list.Items[static_cast<std::size_t>(i)];
    if (e.Kind >= kx::KindCount || e.Check > kx::TkxCheckState::Damaged || e.CheckedSize < 0) __builtin_trap();
    if (e.Name.find('\n') != std::string::npos) __builtin_trap();
  }
  if (location.find('\n') != std::string::npos) __builtin_trap();
  CheckWhatReachesTheUser(list, text);
  return 0;
}
