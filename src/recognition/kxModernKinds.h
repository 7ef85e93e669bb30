// SPDX-License-Identifier: GPL-3.0-or-later
// Recognizers of the formats that the classic signature chain does not know: ISO base media
// (MP4, M4A, MOV, 3GP, HEIC, AVIF by their brand), Matroska and WebM, MPEG transport streams,
// xz, zstd, TrueType and OpenType fonts, DVD IFO files, ISO 9660 images and MPEG audio frames
// without a tag. They are tried after every classic rule, the text test included, so that a
// block the classic rules recognise is recognised as before. Pure functions of the block.
#pragma once

#include "found/kxKinds.h"

#include <cstdint>
#include <span>

namespace kx {

// The kind that begins at the block's first byte by the newer rules; 0 when none holds.
TKind RecognizeNewerKinds(std::span<const std::uint8_t> Block);

// The kind of an ISO base media file whose first box begins the block: by the "ftyp" box's
// brands (M4A, QuickTime, 3GP, HEIC, AVIF, else MP4), or QuickTime for a file that opens with a
// "wide", "free" or "skip" box followed by the movie or its data; 0 otherwise.
TKind IsoMediaKind(std::span<const std::uint8_t> Block);

// One MPEG audio frame header (MPEG-1, 2 and 2.5, layers I to III).
struct TMpegAudioFrame {
  std::uint32_t Length = 0;      // bytes of the whole frame, header included; 0 when not a header
  std::uint8_t Version = 0;      // 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1
  std::uint8_t Layer = 0;        // 1 layer III, 2 layer II, 3 layer I (as coded)
  std::uint32_t SampleRate = 0;
};
// The frame whose header begins at offset n; Length 0 when the four bytes there are not a valid
// header (free-format bit rates are not taken: their length cannot be told from the header).
TMpegAudioFrame ReadMpegAudioFrame(std::span<const std::uint8_t> Bytes, std::size_t n);

// Headers that recur inside a file, so that the scan can tell a later block of an open file
// from a new file: a run of consecutive MPEG audio frames of one stream (at least two headers,
// every header inside the block valid), and transport-stream packets of 188 bytes (Stride 188)
// or 192 bytes with a 4-byte time code before each (Stride 192), with a sync byte at every
// packet inside the block.
bool IsMpegAudioFrameRun(std::span<const std::uint8_t> Block);
bool IsTransportPacketRun(std::span<const std::uint8_t> Block, std::size_t Stride);

}  // namespace kx
