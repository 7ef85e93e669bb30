// SPDX-License-Identifier: GPL-3.0-or-later
// Recognition engine: the binary and text recognizers that decide what begins in a block, and the small byte-search routines they share.
// Everything here is a pure function of its arguments and safe on any thread.
#pragma once

#include "found/kxKinds.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kx {

struct TBlockKind {
  TKind Kind = 0;
  bool Continues = true;   // false when the file's end is known (sized kinds, text ending in the block)
  std::int64_t Size = 0;   // bytes: header-stated size, text length, or the block length
};

// What begins at the block's first byte. Reads nothing outside Block.
TBlockKind RecognizeBlock(std::span<const std::uint8_t> Block);

// Whether Block holds the end marker of an open entry of Kind (only kinds 51 and 56 have one).
bool TrailerFound(std::span<const std::uint8_t> Block, TKind Kind);

// Facts of a block that the scan needs to tell whether a header continues the open entry before
// it; the block's kind alone cannot tell, since these formats repeat their header inside a file.

// The system clock reference of the MPEG program-stream pack header that begins a block.
struct TPackClock {
  bool Mpeg2 = false;      // the pack layout: MPEG-2 (byte 4 = 01xxxxxx) or MPEG-1 (0010xxxx)
  std::uint64_t Base = 0;  // the 33-bit base, in 90 kHz ticks, in both layouts
};

// The clock of the pack header at the block's start; none when the block does not begin with
// 00 00 01 BA and a whole pack header of either layout with its marker bits set.
std::optional<TPackClock> ReadPackClock(std::span<const std::uint8_t> Block);

// Whether a pack whose clock is Next belongs to the stream whose last pack had clock Last: the
// same layout and a clock no earlier. A stream starts its clock anew, so a pack that goes back
// begins the next stream; one whose clock cannot be read shows nothing that ties it to this one.
// The scan and the end finder both decide by this, so that they agree where a stream ends.
bool PackContinues(const TPackClock& Last, const std::optional<TPackClock>& Next);

// Whether a tar member header begins at the block's start (its magic "ustar" at offset 257).
bool IsTarMemberHeader(std::span<const std::uint8_t> Block);

// Whether Block is plain text; TextLength is the offset of its first zero byte, or its length.
bool IsTextBlock(std::span<const std::uint8_t> Block, std::int32_t& TextLength);

// The name a scan gives the entry that becomes the Number-th of its list ("File 000001") before
// DescribeFoundFile may replace it by a name from the content.
std::string ScanEntryName(std::int32_t Number);

// Refines a text kind by keywords and derives a name from the content (text, kinds 20, 63, 69);
// then cleans the name so that it can serve as a file name. Block is the entry's first sector.
void DescribeFoundFile(std::span<const std::uint8_t> Block, std::string& Name, TKind& Kind);

// Names taken from a block's content are cut to this many bytes (bitmaps and TI files excepted).
inline constexpr std::size_t MaxContentNameLength = 40;

// Byte searches over the range [Start, Stop); each gives the first position found, or nullptr.
// A pattern occurrence counts only when it lies wholly inside the range.
const std::uint8_t* FindByte(const std::uint8_t* Start, const std::uint8_t* Stop, std::uint8_t B);
const std::uint8_t* FindBytes(const std::uint8_t* Start, const std::uint8_t* Stop, std::string_view Pattern);
// As FindBytes, but the range's letters a..z are compared as A..Z; Pattern is given in upper case.
const std::uint8_t* FindBytesNoCase(const std::uint8_t* Start, const std::uint8_t* Stop,
                                    std::string_view Pattern);

// The bytes between the first StartMarker and the next EndMarker after it (markers found ignoring
// case, bytes kept as they stand), cut to MaxContentNameLength. False and Name untouched when
// either marker is missing.
bool TextBetween(const std::uint8_t* Start, const std::uint8_t* Stop, std::string_view StartMarker,
                 std::string_view EndMarker, std::string& Name);

// The range's letters, digits and underscores in order, at most MaxContentNameLength of them;
// "_" when there are none.
std::string IdentChars(const std::uint8_t* Start, const std::uint8_t* Stop);

}  // namespace kx
