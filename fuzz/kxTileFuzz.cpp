// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target over media far larger than a fuzzer's inputs: a head and a tile repeated make a
// medium of up to 1 MiB from a few bytes, as headers that chain over every sector, directories
// of huge tables and decompression bombs are made. The end finder of a kind chosen by the first
// byte reads the medium as one file, and the scan follows its structures; both must stay within
// bounds linear in the medium's size, counted as their own work.
//   input: kind (1 byte), repeats (2 bytes, little-endian), head length (2 bytes), head, tile

#include "FuzzSupport.h"
#include "recognition/kxRecognition.h"
#include "recognition/kxStructure.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

using kx::fuzz::Check;

constexpr std::size_t MaxMedium = 1 << 20;

// What a finder may spend on n bytes: the decoders write at most OutputRatio times what they
// read and OutputGrace more; the walks step at least a byte for a few dozen units of work;
// tables whose counts a header states (TIFF's values and directories, OLE2's table) are held
// to limits of their own.
std::int64_t FinderBound(std::int64_t n) { return 128 * n + (std::int64_t{64} << 20); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
  if (Size < 5) return 0;
  const kx::TKind kind = kx::fuzz::EndKinds[Data[0] % kx::fuzz::EndKinds.size()];
  const std::size_t repeats = Data[1] | std::size_t{Data[2]} << 8;
  const std::size_t headLength = std::min<std::size_t>(Data[3] | std::size_t{Data[4]} << 8, Size - 5);
  const std::uint8_t* head = Data + 5;
  const std::uint8_t* tile = head + headLength;
  const std::size_t tileLength = Size - 5 - headLength;
  std::vector<std::uint8_t> bytes(head, head + headLength);
  for (std::size_t i = 0; i < repeats && tileLength > 0 && bytes.size() < MaxMedium; ++i)
    bytes.insert(bytes.end(), tile, tile + std::min(tileLength, MaxMedium - bytes.size()));
  if (bytes.empty()) return 0;
  const auto n = static_cast<std::int64_t>(bytes.size());

  kx::TkxMemorySource memory(bytes);
  const kx::TkxFileEnd end = kx::FindFileEnd(kind, memory);
  Check(end.State != kx::TkxCheckState::Whole || (end.Size > 0 && end.Size <= n));
  Check(memory.Work() <= FinderBound(n));

  kx::fuzz::TMemoryMedium disk(std::move(bytes));
  kx::TkxRecognition scan(disk);
  scan.FollowStructure = true;
  while (scan.Position < disk.SectorCount) scan.RecognizeNext();
  const std::int64_t medium = disk.SectorCount * disk.SectorSize;
  Check(scan.FollowWork <= kx::TkxRecognition::FirstCredit +
                               (kx::TkxRecognition::FreshWork + kx::TkxRecognition::CreditPerByte) * medium +
                               (std::int64_t{1} << 20));
  return 0;
}
