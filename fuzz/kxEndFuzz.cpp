// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target over the end finders: the first byte picks a kind, the rest are a found file's
// bytes. Every finder must end on any bytes without reading outside them, give a result that
// fits its state, and give the same result whether the bytes come from memory or from a medium
// read in runs of sectors.

#include "FuzzSupport.h"
#include "recognition/kxStructure.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// The kinds whose structure states their end, the sized ones among them.
constexpr std::array<kx::TKind, 41> Kinds = {
    kx::Kinds::Jpeg, kx::Kinds::Png,      kx::Kinds::Gif,      kx::Kinds::Pdf,       kx::Kinds::Gzip,
    kx::Kinds::Bzip2, kx::Kinds::Xz,      kx::Kinds::Zstd,     kx::Kinds::Mp3,       kx::Kinds::ProgramStream,
    kx::Kinds::TransportStream, kx::Kinds::M2ts, kx::Kinds::Tar, kx::Kinds::Ogg,     kx::Kinds::Zip,
    kx::Kinds::SevenZip, kx::Kinds::Sqlite, kx::Kinds::Elf,   kx::Kinds::Executable, kx::Kinds::Office,
    kx::Kinds::TrueType, kx::Kinds::DvdIfo, kx::Kinds::IsoImage, kx::Kinds::Flash,   kx::Kinds::Tiff,
    kx::Kinds::Matroska, kx::Kinds::Mp4,  kx::Kinds::QuickTime, kx::Kinds::Bitmap,   kx::Kinds::Icon,
    kx::Kinds::Riff,     kx::Kinds::Wave, 34,                  46,                    48,
    50,                  kx::Kinds::Heic, kx::Kinds::WebM,    kx::Kinds::Dll,        kx::Kinds::OpenType,
    kx::Kinds::Flac,
};

void Check(bool Condition)
{
  if (!Condition) __builtin_trap();
}

bool Same(const kx::TkxFileEnd& A, const kx::TkxFileEnd& B)
{
  return A.State == B.State && A.Size == B.Size && A.Kind == B.Kind;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
  if (Size == 0) return 0;
  const kx::TKind kind = Kinds[Data[0] % Kinds.size()];
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
  std::vector<std::uint8_t> medium(2048, 0x5A);
  medium.insert(medium.end(), bytes.begin(), bytes.end());
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
