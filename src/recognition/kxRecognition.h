// SPDX-License-Identifier: GPL-3.0-or-later
// The scan: walks a medium sector by sector from sector 0 and builds the list of found files.
#pragma once

#include "common/kxJobControl.h"
#include "media/kxDisk.h"
#include "found/kxFileList.h"
#include "recognition/kxEngine.h"
#include "recognition/kxStructure.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kx {

class TkxRecognition {
 public:
  // Disk is not owned and must outlive the last RecognizeNext call.
  explicit TkxRecognition(TkxDisk& Disk_);
  TkxRecognition(const TkxRecognition&) = delete;
  TkxRecognition& operator=(const TkxRecognition&) = delete;

  TkxFileList FileList;
  TkxDisk& Disk;
  // The next sector to examine; never decreases. Counted in 64 bits so that a medium beyond
  // 2^31 sectors (a large block device read as an image) cannot wrap it.
  std::int64_t Position = 0;
  // Whether a file whose format states its layout (ISO media boxes, Matroska, Ogg pages, ZIP
  // records, TIFF, transport streams, stored ISO images) is followed from its first sector to
  // its end, read from the medium, and then taken like a sized file: its sectors are not
  // searched for other starts. Where the structure breaks, the file is an open one as before.
  // Off by default: the window lists what the classic rules find until its user asks for the
  // check; the command line's scan turns it on with its check.
  bool FollowStructure = false;
  // Examined sectors that the medium could not deliver, each examined as zeros.
  std::int64_t UnreadableSectors = 0;
  // The job that runs the scan, when one does: a stop is honoured between the commands of a read,
  // of which a drive may send many for one sector of a damaged disc, and inside a walk of the
  // structure following; the sector is examined again when the scan goes on.
  TkxJobControl* Control = nullptr;

  // The walks of the structure following share a budget, so that headers that chain over the
  // medium (each sector a box, a page or a member whose size reaches into the next, each walk
  // failing only at the medium's end) cost time in proportion to the medium, not to its square.
  // A walk may spend FreshWork units (TkxByteSource::Work) for each byte of the medium that no
  // walk reached before; past that, it draws on a credit of FirstCredit, to which each byte the
  // scan passes adds CreditPerByte. A walk that runs out is given up, and the file is taken as
  // the classic scan takes it. A real file is walked once, mostly over ground not walked yet.
  // So the walks of a scan spend at most FirstCredit + (FreshWork + CreditPerByte) units per
  // byte of the medium, and one step of a walk more.
  static constexpr std::int64_t FreshWork = 8;
  static constexpr std::int64_t FirstCredit = std::int64_t{64} << 20;
  static constexpr std::int64_t CreditPerByte = 4;
  // The work of all walks so far, for the tests and benchmarks of the scan.
  std::int64_t FollowWork = 0;

  // Examines the sector at Position, adds an entry or lengthens the last one, and advances
  // Position past the sector, or past the whole file when its header states the length.
  // Call only while Position < Disk.SectorCount. When the medium raises an error, Position and
  // the list stay as they were.
  void RecognizeNext();

 private:
  void AddEntry(TKind Kind, bool Continues, std::int64_t Size);
  void ExtendLast(TkxFileEntry& Last);
  bool ContinuesStream(const TkxFileEntry* Last, const std::optional<TPackClock>& Clock) const;
  // Structure following (kxFollow.cpp). A header that recurs inside a file of its kind
  // (transport-stream packets, MPEG audio frames) continues the open entry of that kind.
  bool ContinuesRecurring(const TkxFileEntry* Last, TKind Kind) const;
  // Follows the file that Found begins at Start; true, with Found made a sized result of the
  // exact size (and the kind its content names), when its structure ends whole on the medium.
  bool FollowFile(TBlockKind& Found, std::int64_t Start);
  // The end of the file of Kind at Start, walked within the budget; EkxStopped when the job was
  // stopped during the walk.
  TkxFileEnd FollowedEnd(TKind Kind, std::int64_t Start, std::span<const std::uint8_t> FirstSector = {});
  std::int64_t FollowCredit = FirstCredit;
  std::int64_t WalkedTo = 0;  // the medium's bytes before it were reached by a walk
  // A stored ISO 9660 image is recognised at its volume descriptor, 16 sectors into it: the
  // open entry before it gives those sectors back, and the image's entry begins there. False
  // when the volume descriptor is the medium's own or the sectors before it are not free.
  bool AddStoredImage(TBlockKind& Found);

  // A program stream repeats its pack header in nearly every sector. The clock of the last pack
  // of the open ".vob" entry tells whether a pack goes on that stream or a new stream begins: a
  // stream's clock never runs backwards, and the next stream's starts again near zero.
  // StreamEntry is that entry's index, or -1 when there is none or its last pack's clock could
  // not be read.
  std::int32_t StreamEntry = -1;
  TPackClock StreamClock;

  // Reused between calls so that a scan does not allocate per sector; what a read did not
  // deliver is cleared, so that an unreadable sector is examined as zeros.
  std::vector<std::uint8_t> Block;
};

// The name and kind of an entry that a scan adds as the Number-th of its list, with Block its
// first sector: "File 000001" and Kind, then what DescribeFoundFile makes of the content. The
// command line's identify names a file exactly so.
struct TkxNewEntry {
  std::string Name;
  TKind Kind = Kinds::Unknown;
};
TkxNewEntry DescribeNewEntry(std::span<const std::uint8_t> Block, std::int32_t Number, TKind Kind);

// What the user accepts of a scan: Into becomes a copy of Found, sorted by extension.
void AcceptFoundFiles(const TkxFileList& Found, TkxFileList& Into);

// What a scan says of the sectors it could not read: "111 unreadable sectors were examined as
// zeros", "1 unreadable sector was examined as zeros".
std::string ScanUnreadableText(std::int64_t Count);

struct TkxScanOutcome {
  bool Stopped = false;  // ended by the stop request before the medium was exhausted
  std::string Error;     // the medium failed during a step (a part file vanished); what was found stays
};

// A medium and the scan over it, kept together for as long as anyone holds them: the worker that
// runs the scan and the window that shows and accepts its result may let go in either order.
class TkxScanJob {
 public:
  // The display's figures are handed over at least every this many sectors.
  static constexpr std::int64_t ReportStride = 2000;

  explicit TkxScanJob(std::unique_ptr<TkxDisk> Disk);
  TkxScanJob(const TkxScanJob&) = delete;
  TkxScanJob& operator=(const TkxScanJob&) = delete;

  TkxDisk& Disk() const { return *DiskOwned; }

 private:
  std::unique_ptr<TkxDisk> DiskOwned;  // declared first: the recognition refers to it

 public:
  // Read from another thread only while Run is blocked in Report, has not started, or has ended.
  TkxRecognition Recognition;
  // Starts paused: nothing is read until the user starts the scan.
  TkxJobControl Control{true};
  // Position at the last Report.
  std::int64_t LastReported = 0;
  // True until Run has ended; Outcome is written before it turns false, so a reader on another
  // thread that loads it (acquire) and sees false may read Outcome.
  std::atomic<bool> Running{true};
  TkxScanOutcome Outcome;

  // The scan from Position to the end of the medium, one sector per step, on the calling thread.
  // Between steps it asks Control whether to go on. Report is called every ReportStride sectors
  // and once at the end, also after an error or a stop. Returns Outcome.
  TkxScanOutcome Run(const std::function<void()>& Report, std::int64_t Stride = ReportStride);

  // AcceptFoundFiles of the found list as it stands between two steps; safe from any thread,
  // also while Run is working.
  void AcceptInto(TkxFileList& Into);
  // How many files were found so far, between two steps; safe from any thread, as AcceptInto.
  std::int32_t FoundCount();

 private:
  std::mutex StepLock;  // held during each step and each copy
};

}  // namespace kx
