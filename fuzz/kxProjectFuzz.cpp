// Fuzz target over the project-file reader: any bytes must either load or raise the project
// error, and leave a list whose count matches its entries, with kinds in range and names
// without line feeds.

#include "project/kxProject.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
  std::string location = "before";
  kx::TkxFileList list;
  list.Add("previous", 77, 1, 2, true);
  try {
    kx::LoadProjectFromText(std::string_view(reinterpret_cast<const char*>(Data), Size), location, list);
  } catch (const kx::EkxProjectError&) {
  }
  if (list.Count < 0 || static_cast<std::size_t>(list.Count) > list.Items.size()) __builtin_trap();
  for (std::int32_t i = 0; i < list.Count; ++i) {
    const kx::TkxFileEntry& e = list.Items[static_cast<std::size_t>(i)];
    if (e.Kind >= kx::KindCount || e.Check > kx::TkxCheckState::Damaged || e.CheckedSize < 0) __builtin_trap();
    if (e.Name.find('\n') != std::string::npos) __builtin_trap();
  }
  if (location.find('\n') != std::string::npos) __builtin_trap();
  return 0;
}
