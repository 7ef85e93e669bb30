// SPDX-License-Identifier: GPL-3.0-or-later
// The state of every sector of a disc being rescued, and the map file that keeps it between runs:
// GNU ddrescue's mapfile format (byte positions, 2048-byte aligned), so that ddrescuelog and map
// viewers read it and ddrescue can continue a rescue, with the disc's identity in a comment line.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kx {

// The states of ddrescue's mapfile, by the characters it uses for them.
enum class TkxSectorState : char {
  NonTried = '?',    // not read yet
  NonTrimmed = '*',  // inside a request that failed; its edges are not trimmed yet
  NonScraped = '/',  // inside a bad area whose edges were found; not read sector by sector
  Bad = '-',         // a read of this one sector failed
  Finished = '+',    // read
};

// How bad a state is for a person looking at a map: a group of sectors shows its worst state.
// Finished 0, non-tried 1, non-trimmed 2, non-scraped 3, bad 4.
int Severity(TkxSectorState State);

// The states of the sectors 0 .. Sectors() - 1 as runs of equal state, with counts kept as the
// runs change, so that figures cost nothing per read.
class TkxSectorMap {
 public:
  explicit TkxSectorMap(std::int64_t Sectors = 0, TkxSectorState Initial = TkxSectorState::NonTried);
  // The map of Sectors sectors whose runs are given as (first sector, state), the first at 0,
  // ascending, each ending where the next begins and the last at Sectors; built in linear time,
  // as a map file is read. Throws std::invalid_argument for runs that are not so.
  static TkxSectorMap FromRuns(std::int64_t Sectors, std::span<const std::pair<std::int64_t, TkxSectorState>> Runs);

  std::int64_t Sectors() const { return Size; }
  TkxSectorState At(std::int64_t Sector) const;
  // Sectors [First, End) take State; the range is clipped to the map.
  void Set(std::int64_t First, std::int64_t End, TkxSectorState State);
  // The run of one state that holds Sector: its first sector and the sector after its last.
  std::pair<std::int64_t, std::int64_t> RunAt(std::int64_t Sector) const;
  // The first sector at or after From in State; Sectors() when there is none.
  std::int64_t FindNext(std::int64_t From, TkxSectorState State) const;
  // The last sector before Before in State; -1 when there is none.
  std::int64_t FindPrevious(std::int64_t Before, TkxSectorState State) const;

  std::int64_t Count(TkxSectorState State) const;
  // Maximal runs of sectors that are not finished: the bad areas a person would count.
  std::int64_t UnfinishedAreas() const { return Areas; }
  // Sectors of [First, End) that are not finished.
  std::int64_t UnfinishedIn(std::int64_t First, std::int64_t End) const;

  // Each run as (first sector, state); a run ends where the next begins, the last at Sectors().
  const std::map<std::int64_t, TkxSectorState>& Runs() const { return RunStarts; }

  bool operator==(const TkxSectorMap& Other) const = default;

 private:
  std::int64_t AreaStartsIn(std::int64_t First, std::int64_t Last) const;
  void Split(std::int64_t At);
  void Merge(std::int64_t At);

  std::int64_t Size = 0;
  std::map<std::int64_t, TkxSectorState> RunStarts;
  std::int64_t Counts[5] = {};
  std::int64_t Areas = 0;
};

// Count groups of sectors, each shown as its worst state: group i covers sectors
// [i * Sectors / Count, (i + 1) * Sectors / Count). A map with fewer sectors than groups repeats
// sectors over several groups.
std::vector<TkxSectorState> CellStates(const TkxSectorMap& Map, std::size_t Count);

// Where a rescue stands, and the position in the map file's status line.
enum class TkxRescuePhase : std::uint8_t {
  Copy,      // reading untried sectors in requests of 32, skipping ahead after failures
  Gaps,      // reading the skipped gaps from their far end backwards
  Trim,      // reading single sectors inward from each edge of failed requests
  Scrape,    // reading the inside of bad areas sector by sector
  Retry,     // reading bad sectors again, a pass at a time
  Finished,
};

// What tells one disc from another: its size, and hashes of its TOC and of its volume
// descriptors (16 hexadecimal digits each; empty when the drive gave none).
struct TkxDiscIdentity {
  std::int64_t Sectors = 0;
  std::string Toc;
  std::string Volume;

  bool operator==(const TkxDiscIdentity& Other) const = default;
};

// Whether a map made of disc Recorded may go on with disc Present: the same size, and the same
// hashes where both have one. Empty when it may; otherwise what differs, for the user.
std::string IdentityMismatch(const TkxDiscIdentity& Recorded, const TkxDiscIdentity& Present);

// 64-bit FNV-1a of Bytes as 16 lower-case hexadecimal digits: an identity, not a safeguard.
std::string IdentityHash(const std::vector<std::uint8_t>& Bytes);

struct TkxRescueMap {
  TkxRescueMap() = default;
  explicit TkxRescueMap(TkxSectorMap Sectors_) : Sectors(std::move(Sectors_)) {}

  TkxSectorMap Sectors;
  TkxRescuePhase Phase = TkxRescuePhase::Copy;
  std::int64_t Position = 0;  // the sector where the phase stands
  int Pass = 1;               // of the retry passes
  std::optional<TkxDiscIdentity> Disc;
};

inline constexpr std::int64_t MapSectorSize = 2048;

// A map file that cannot be read or is not a map: the line and what is wrong with it.
class EkxMapError : public std::runtime_error {
 public:
  EkxMapError(int Line_, const std::string& What) : std::runtime_error(What), Line(Line_) {}
  int Line;  // 0 when the error is not in one line
};

// The map in mapfile format: comment lines (the program, the disc), the status line
// ("current_pos current_status current_pass") and one line per run ("pos size status"), with
// hexadecimal byte positions.
std::string FormatRescueMap(const TkxRescueMap& Map);
// Reads a mapfile, ours or ddrescue's: comment and empty lines are skipped, numbers may be
// hexadecimal (0x) or decimal, the runs must begin at 0, follow each other without gap or
// overlap and lie on 2048-byte sector boundaries. A map of more than MaxLines lines is refused
// at the first line past them, so that reading one costs no more than a map of the disc can.
// Throws EkxMapError.
TkxRescueMap ParseRescueMap(std::string_view Text, std::int64_t MaxLines = std::numeric_limits<std::int64_t>::max());

// The most lines a map of a disc of Sectors sectors has: one block per sector at most, and room
// for the status and comment lines. A file of more lines is no map of that disc.
std::int64_t MapLineLimit(std::int64_t Sectors);

// The map beside an image: IMAGE.map.
std::string RescueMapName(const std::string& ImageName);
// Writes the map into a new file beside FileName and renames it over FileName once every byte is
// stored, so that an interrupted save leaves the previous map whole. Throws EkxMapError.
void SaveRescueMap(const std::string& FileName, const TkxRescueMap& Map);
// ParseRescueMap of the regular file FileName, of at most 256 MiB, read a block at a time.
// Throws EkxMapError, also when the file cannot be read or has a line longer than 64 KiB.
TkxRescueMap LoadRescueMap(const std::string& FileName,
                           std::int64_t MaxLines = std::numeric_limits<std::int64_t>::max());

// The map beside the image at Location, when there is one that can be read; nothing for a
// drive, an image without a map, or a map that cannot be read.
std::optional<TkxRescueMap> MapBesideImage(const std::string& Location);

// The map beside an image as the list and extraction use it, told apart from the image's
// sectors.
struct TkxImageMap {
  std::string FileName;                 // the map beside the image; empty when there is none
  // The state of each of the image's sectors, when the map can be used; sectors past the end of
  // a map shorter than the image are not read (non-tried).
  std::optional<TkxSectorMap> Sectors;
  std::int64_t Covered = 0;             // the sectors the map covers, when it can be used
  // Why a map that exists is not used: "line 7: the block does not begin where the one before
  // it ends", "its identity line names a disc of 99 sectors; the image has 1766".
  std::string Problem;
};

// The map beside the image at Location, an image of ImageSectors sectors: unusable when it
// cannot be read, is malformed, has more lines than MapLineLimit(ImageSectors), names a disc of
// another size in its identity line or covers more sectors than the image has. Nothing for a
// drive or an image without a map.
TkxImageMap ReadImageMap(const std::string& Location, std::int64_t ImageSectors);

// Sectors not read (in any state but finished) among those that hold bytes [Offset, Offset +
// Size) of the medium.
std::int64_t UnreadSectorsIn(const TkxSectorMap& Map, std::int64_t Offset, std::int64_t Size);

}  // namespace kx
