// SPDX-License-Identifier: GPL-3.0-or-later
// What the file-based fuzz targets share: a scratch folder made once per process and a medium
// held in memory.
#pragma once

#include "media/kxDisk.h"
#include "found/kxKinds.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace kx::fuzz {

// The kinds whose structure states their end, the sized ones among them.
constexpr std::array<TKind, 41> EndKinds = {
    Kinds::Jpeg,  Kinds::Png,      Kinds::Gif,      Kinds::Pdf,        Kinds::Gzip,     Kinds::Bzip2,
    Kinds::Xz,    Kinds::Zstd,     Kinds::Mp3,      Kinds::ProgramStream, Kinds::TransportStream, Kinds::M2ts,
    Kinds::Tar,   Kinds::Ogg,      Kinds::Zip,      Kinds::SevenZip,   Kinds::Sqlite,   Kinds::Elf,
    Kinds::Executable, Kinds::Office, Kinds::TrueType, Kinds::DvdIfo, Kinds::IsoImage, Kinds::Flash,
    Kinds::Tiff,  Kinds::Matroska, Kinds::Mp4,      Kinds::QuickTime,  Kinds::Bitmap,   Kinds::Icon,
    Kinds::Riff,  Kinds::Wave,     34,              46,                48,              50,
    Kinds::Heic,  Kinds::WebM,     Kinds::Dll,      Kinds::OpenType,   Kinds::Flac,
};

inline void Check(bool Condition)
{
  if (!Condition) __builtin_trap();
}

// A folder of its own below /dev/shm (memory, so that the many small writes stay fast) or the
// temporary folder, removed when a replay ends. libFuzzer ends with _Exit, which runs no exit
// handlers: after fuzzing, remove the kxfuzz-* folder by hand. Held by a pointer that is never
// freed, so that the path still exists when the exit handler runs.
inline const std::filesystem::path& ScratchFolder()
{
  static const std::filesystem::path* folder = [] {
    std::string pattern = std::filesystem::exists("/dev/shm") ? "/dev/shm/kxfuzz-XXXXXX"
                                                               : (std::filesystem::temp_directory_path() / "kxfuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    return new std::filesystem::path(pattern);
  }();
  static const bool cleanup = std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(*folder, ec);
  }) == 0;
  (void)cleanup;
  return *folder;
}

// User data held in memory, padded with zeros to whole sectors.
class TMemoryMedium final : public TkxDisk {
 public:
  explicit TMemoryMedium(std::vector<std::uint8_t> Bytes_) : Bytes(std::move(Bytes_))
  {
    SectorCount = (static_cast<std::int64_t>(Bytes.size()) + SectorSize - 1) / SectorSize;
    Bytes.resize(static_cast<std::size_t>(SectorCount * SectorSize), 0);
  }
  std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector, const TkxReadOptions&) override
  {
    if (Count <= 0 || FirstSector < 0 || FirstSector >= SectorCount) return 0;
    const std::int64_t n = std::min<std::int64_t>(Count, SectorCount - FirstSector);
    std::memcpy(Buffer, Bytes.data() + FirstSector * SectorSize, static_cast<std::size_t>(n * SectorSize));
    return static_cast<std::int32_t>(n * SectorSize);
  }
  std::vector<std::uint8_t> Bytes;
};

// Collects what CopyToStream writes.
class TMemoryStream final : public TkxOutStream {
 public:
  void WriteBuffer(const void* Buffer, std::int64_t Count) override
  {
    const auto* p = static_cast<const std::uint8_t*>(Buffer);
    Bytes.insert(Bytes.end(), p, p + Count);
  }
  std::vector<std::uint8_t> Bytes;
};

}  // namespace kx::fuzz
