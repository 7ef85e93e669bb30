// SPDX-License-Identifier: GPL-3.0-or-later
// The structure of found files: where a file of a kind ends, read from its own bytes (a box or
// chunk walk, a table of sections, a stream decoded to its end), and whether it ends whole.
// The scan follows the structure of big containers from their first sector so that their
// inner sectors are not taken for other files; the check after the scan sets each entry's
// exact size and state.
#pragma once

#include "common/kxJobControl.h"
#include "media/kxDisk.h"
#include "found/kxKinds.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kx {

// A bound on what a finder may do with a source, so that no bytes, however they are made, cost
// more than its caller allows: Base units of work, and PerByte more for each byte the finder
// reaches past From (ground that a caller who pays once per byte of the medium has not paid for).
struct TkxWorkBound {
  std::int64_t Base = INT64_MAX;
  std::int64_t PerByte = 0;
  std::int64_t From = 0;
};

// The bytes of a found file from its first byte on, as far as its finder may read them.
class TkxByteSource {
 public:
  static constexpr std::size_t MaxViewBytes = 1 << 16;
  // The work of one call of View, counted as this many bytes.
  static constexpr std::int64_t ViewCost = 16;
  virtual ~TkxByteSource() = default;
  // Bytes that may be read from the file's first byte: to the medium's end, or fewer where the
  // caller bounds a search.
  virtual std::int64_t Size() const = 0;
  // The bytes from Pos on, valid until the next call: MaxBytes of them, or as many as lie
  // below Size() when fewer do (so a shorter view means the end), for any MaxBytes up to
  // MaxViewBytes. Empty at or past Size(), and once the finder must give up.
  std::span<const std::uint8_t> View(std::int64_t Pos, std::size_t MaxBytes);

  // The N bytes from Pos into Out; false when they do not all lie below Size().
  bool Read(std::int64_t Pos, std::uint8_t* Out, std::size_t N);

  // The job that reads the file, when one does. Finders that decode or search long ask it between
  // chunks and give the file up (not checked), so that a stop is honoured within one file.
  TkxJobControl* Control = nullptr;
  bool StopRequested() const { return Control != nullptr && Control->StopRequested(); }

  // The work done so far, in bytes: each call of View (ViewCost), each byte it hands over past
  // the furthest one handed over before, each byte Read copies, each byte read from a medium,
  // and what a decoder writes (Spend). A finder's time follows it.
  std::int64_t Work() const { return Spent; }
  void Spend(std::int64_t Units);
  // One past the furthest byte handed over.
  std::int64_t Reach() const { return Reached; }
  TkxWorkBound Bound;
  // Whether the finder must give the file up: the job asked to stop, or the work passed the
  // bound. FindFileEnd then calls the file not checked, whatever the finder made of the bytes.
  bool GivenUp() const { return OverBound || StopRequested(); }

 protected:
  // View without the counting: the bytes from Pos on.
  virtual std::span<const std::uint8_t> Serve(std::int64_t Pos, std::size_t MaxBytes) = 0;

 private:
  std::int64_t Spent = 0;
  std::int64_t Reached = 0;
  bool OverBound = false;
};

// Bytes held in memory.
class TkxMemorySource final : public TkxByteSource {
 public:
  explicit TkxMemorySource(std::span<const std::uint8_t> Bytes_) : Bytes(Bytes_) {}
  std::int64_t Size() const override { return static_cast<std::int64_t>(Bytes.size()); }

 private:
  std::span<const std::uint8_t> Serve(std::int64_t Pos, std::size_t MaxBytes) override;
  std::span<const std::uint8_t> Bytes;
};

// Bytes of a medium from Start on, Length of them, read in runs of sectors and kept, so that a
// walk over small headers costs one read per run.
class TkxDiskSource final : public TkxByteSource {
 public:
  // Start and Length in bytes of the medium. FirstSector, when given, holds the sector that
  // Start begins (read already, by a scan): it is not read again. Every read goes as How says.
  TkxDiskSource(TkxDisk& Disk_, std::int64_t Start_, std::int64_t Length_,
                std::span<const std::uint8_t> FirstSector = {}, const TkxReadOptions& How_ = {});
  std::int64_t Size() const override { return Length; }
  // Sectors read so far, for the benchmarks of the scan.
  std::int64_t SectorsRead = 0;

 private:
  std::span<const std::uint8_t> Serve(std::int64_t Pos, std::size_t MaxBytes) override;
  TkxDisk& Disk;
  const TkxReadOptions How;
  std::int64_t Start;
  std::int64_t Length;
  std::vector<std::uint8_t> Cache;
  std::int64_t CacheAt = -1;  // medium byte of Cache[0]
  std::int64_t CacheBytes = 0;
  std::int64_t RunSectors = 1;
};

// Where a file ends, as its structure tells.
struct TkxFileEnd {
  TkxCheckState State = TkxCheckState::NotChecked;
  // Whole: the exact size. Truncated: the size the structure states, past the bytes at hand.
  // Damaged: the bytes before the structure broke. NotChecked: 0.
  std::int64_t Size = 0;
  // The kind the content names where it says more than the first bytes did (".docx" for a ZIP
  // of a word-processor document, ".webp" for a RIFF); 0 keeps the kind.
  TKind Kind = 0;
};

// How a kind's end is found.
enum class TkxEndReach : std::uint8_t {
  None,       // the format states no end that is checked
  Headers,    // a walk over headers and tables that reads little; may read to the medium's end
  Content,    // a search or a decoder that reads every byte; given only the bytes the scan gave
              // the entry and the unrecognised data after it
};
TkxEndReach EndReach(TKind Kind);

// Whether the scan follows a file of this kind from its first sector to its stated end.
bool FollowedByScan(TKind Kind);

// The end of a file of Kind whose first byte is Source's first byte. ScanSize, when given, is
// the size the scan gave the file's entry: a PDF's end-of-file marker then lies in its first
// sector, its last, or after it (the scan looks for one in every sector after the first and
// closes the entry there), so that the sectors between are not searched again. A marker split
// across two sectors is seen by neither.
// Not checked where the finder gave up (a stop, the source's bound) or a limit of its own was
// reached: a decoder holds at most DecoderMemory bytes (the largest window of zstd's strongest
// levels, 128 MiB, or an xz dictionary of as much) and writes at most OutputRatio times the
// bytes it read, and OutputGrace more (a decompression bomb is not decoded to its end; text
// rarely packs tighter than 1:20).
TkxFileEnd FindFileEnd(TKind Kind, TkxByteSource& Source, std::int64_t ScanSize = -1);

// The decoders of compressed streams that a build may leave out (zlib it always has), as bits.
using TkxDecoders = std::uint8_t;
namespace Decoders {
inline constexpr TkxDecoders Bzip2 = 1, Xz = 2, Zstd = 4, All = 7;
}
// Those this build has, and the one a stream of Kind needs (0: none of them).
TkxDecoders BuiltDecoders();
TkxDecoders DecoderNeeded(TKind Kind);
// Their names, zlib first: "zlib, bzip2, xz, zstd".
std::string DecoderNames(TkxDecoders Have);
// FindFileEnd as a build with only the decoders Have makes it: a stream whose decoder is
// missing is not checked, never damaged.
TkxFileEnd FindFileEnd(TKind Kind, TkxByteSource& Source, std::int64_t ScanSize, TkxDecoders Have);
constexpr std::size_t DecoderMemory = std::size_t{160} << 20;
constexpr std::int64_t OutputRatio = 100;
constexpr std::int64_t OutputGrace = std::int64_t{1} << 20;

}  // namespace kx
