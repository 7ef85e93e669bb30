// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target over the end finders: the first byte picks a kind, the rest are a found file's
// bytes. Every finder must end on any bytes without reading outside them, give a result that
// fits its state, and give the same result whether the bytes come from memory or from a medium
// read in runs of sectors.

#include "FuzzSupport.h"
#include "recognition/kxStructure.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

using kx::fuzz::Check;

bool Same(const kx::TkxFileEnd& A, const kx::TkxFileEnd& B)
{
  return A.State == B.State && A.Size == B.Size && A.Kind == B.Kind;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
  if (Size == 0) return 0;
  const kx::TKind kind = kx::fuzz::EndKinds[Data[0] % kx::fuzz::EndKinds.size()];
  // A copy of the exact size, so that a read past the end is caught.
  const std::vector<std::uint8_t> bytes(Data + 1, Data + Size);
  const auto n = static_cast<std::int64_t>(bytes.size());

  kx::TkxMemorySource memory(bytes);
  const kx::TkxFileEnd end = kx::FindFileEnd(kind, memory);
  switch (end.State) {
    case kx::TkxCheckState::NotChecked: Check(end.Size == 0 && end.Kind == 0); break;
    case kx::TkxCheckState::Whole: Check(end.Size > 0 && end.Size <= n); break;
    case kx::TkxCheckState::Damaged: Check(end.Size >= 0 && end.Size <= n); break;
    case kx::TkxCheckState::Truncated: Check(end.Size >= 0); break;
  }
  Check(end.Kind < kx::KindCount);

  // The same bytes on a medium, after a sector of other data.
  std::vector<std::uint8_t> medium(2048 + bytes.size(), 0x5A);
  for (std::size_t i = 0; i < bytes.size(); ++i) medium[2048 + i] = bytes[i];
  kx::fuzz::TMemoryMedium disk(std::move(medium));
  kx::TkxDiskSource source(disk, 2048, n);
  Check(Same(kx::FindFileEnd(kind, source), end));

  // A scan size only spares a search sectors that hold no end marker.
  if (kind == kx::Kinds::Pdf) {
    kx::TkxMemorySource again(bytes);
    const kx::TkxFileEnd spared = kx::FindFileEnd(kind, again, n);
    Check(spared.State != kx::TkxCheckState::Whole || spared.Size <= n);
  }
  return 0;
}
