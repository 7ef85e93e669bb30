// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target over the recognizers, the classic chain and the newer rules after it: any bytes,
// any length, must yield a result in range without reading outside the block. Built with libFuzzer when KX_FUZZ is on, else as a replay program
// that CTest runs over the seed corpus.

#include "recognition/kxEngine.h"
#include "recognition/kxModernKinds.h"

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
  const std::span<const std::uint8_t> block(Data, Size);
  const kx::TBlockKind found = kx::RecognizeBlock(block);
  if (found.Kind >= kx::KindCount || kx::IsTextKind(found.Kind) != (found.Kind == 1)) __builtin_trap();
  if (found.Size < 0) __builtin_trap();
  if (!kx::IsSizedKind(found.Kind) && found.Size > static_cast<std::int64_t>(Size)) __builtin_trap();

  std::int32_t textLength = -1;
  const bool text = kx::IsTextBlock(block, textLength);
  if (text && (textLength < 0 || static_cast<std::size_t>(textLength) > Size)) __builtin_trap();

  kx::TKind kind = found.Kind;
  std::string name = "File 000001";
  kx::DescribeFoundFile(block, name, kind);
  if (kind != found.Kind && !(found.Kind == 1 && kx::IsTextKind(kind))) __builtin_trap();
  for (const char c : name)
    if (static_cast<unsigned char>(c) < 0x20) __builtin_trap();

  // A clock comes only from a whole pack header and has 33 bits; a tar member header is taken by
  // the tar row or by a test before it, never by a later one.
  if (const auto clock = kx::ReadPackClock(block); clock && (Size < 12 || clock->Base >> 33 != 0)) __builtin_trap();
  if (kx::IsTarMemberHeader(block) && (found.Kind < 20 || found.Kind > 42)) __builtin_trap();

  // The newer rules come after every classic one: a newer kind is theirs alone, and a run of
  // audio frames is the classic MP3 kind only where no classic row took the block.
  const kx::TKind newer = kx::RecognizeNewerKinds(block);
  if (found.Kind >= kx::ClassicKindCount && found.Kind != newer) __builtin_trap();
  if (newer >= kx::KindCount || (newer != 0 && newer < kx::ClassicKindCount && newer != kx::Kinds::Mp3 &&
                                 newer != kx::Kinds::QuickTime))
    __builtin_trap();
  if (kx::IsoMediaKind(block) != 0 && kx::IsoMediaKind(block) != newer) __builtin_trap();
  for (std::size_t n = 0; n < std::min<std::size_t>(Size, 64); ++n) {
    const kx::TMpegAudioFrame f = kx::ReadMpegAudioFrame(block, n);
    if (f.Length != 0 && (f.Length < 20 || f.Length > 2881 || n + 4 > Size)) __builtin_trap();
  }
  kx::IsTransportPacketRun(block, 188);
  kx::IsTransportPacketRun(block, 192);

  kx::TrailerFound(block, 51);
  kx::TrailerFound(block, 56);
  return 0;
}
