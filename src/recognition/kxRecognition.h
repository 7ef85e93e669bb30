// SPDX-License-Identifier: GPL-3.0-or-later
// The scan: walks a medium sector by sector from sector 0 and builds the list of found files;
// and the scan job, which checks what the walk found.
#pragma once

#include "common/kxJob.h"
#include "common/kxJobControl.h"
#include "media/kxDisk.h"
#include "found/kxFileList.h"
#include "recognition/kxCheck.h"
#include "recognition/kxEngine.h"
#include "recognition/kxStructure.h"

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
  // Off by default: the scan job turns it on with its check.
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

// The phases of a scan job, in the order they run.
enum class TkxScanPhase : std::uint8_t {
  Scan,   // the walk over the medium, sector by sector
  Check,  // the check of what the walk found (kxCheck.h)
};

// What a scan job shows as it works, handed to its progress sink.
struct TkxScanFigures {
  TkxScanPhase Phase = TkxScanPhase::Scan;
  // The scan's next sector: past the medium's end where a file's header stated a length beyond it.
  std::int64_t Position = 0;
  std::int32_t Found = 0;    // entries the scan listed
  std::int32_t Checked = 0;  // entries the check concluded
  std::int32_t ToCheck = 0;  // entries the check was given
};

// What a scan job leaves. The outcome is that of the phase it ended in: a medium that fails
// during the scan, or during the check, fails the job with the medium's message.
struct TkxScanResult {
  TkxJobOutcome Outcome;
  TkxScanPhase Phase = TkxScanPhase::Scan;  // the last phase that began
  std::int64_t Position = 0;                // where the scan ended
  std::int64_t UnreadableSectors = 0;       // as TkxRecognition counts them
  std::int32_t Found = 0;                   // entries the scan listed, before the check
  std::optional<TkxCheckResult> Check;      // the check's own result, when it began
  // What the user accepts: the scan's list sorted by extension, with the check's result applied
  // where it ran (a stopped check, what it concluded), and sorted again.
  TkxFileList Files;
};

// How a scan job runs.
struct TkxScanOptions {
  bool Check = true;               // off: no structure followed and no check, the classic list
  std::int64_t ScanStride = 2000;  // sectors between two reports of the scan
  std::int32_t CheckStride = 0;    // entries between two reports of the check; 0: a hundredth of them
};

// One scan of a medium as the window and the command line run it: the walk over the medium,
// following each file's structure, then the check of the found files, and the sort. The check is
// an option: without it, no structure is followed either, and the list is the classic one.
// The job owns the medium, so that a worker that runs it and a window that shows and accepts its
// result may let go in either order.
class TkxScanJob {
 public:
  explicit TkxScanJob(std::unique_ptr<TkxDisk> Disk, TkxScanOptions Options_ = {});
  TkxScanJob(const TkxScanJob&) = delete;
  TkxScanJob& operator=(const TkxScanJob&) = delete;

  TkxDisk& Disk() const { return *DiskOwned; }

 private:
  std::unique_ptr<TkxDisk> DiskOwned;  // declared first: the recognition refers to it

 public:
  // May be changed until Run begins.
  TkxScanOptions Options;
  // Read from another thread only while Run is blocked in its sink, has not started, or has
  // ended; AcceptInto and FoundCount may read it at any time.
  TkxRecognition Recognition;

  // Both phases on the calling thread. Between steps (a sector, an entry) it asks Control whether
  // to go on; a stop ends the phase it comes in, and a stopped scan is not checked. Progress is
  // told the figures every ScanStride sectors and once at the scan's end, also after an error or
  // a stop; then, when the check runs, at its start, every CheckStride entries and at its end.
  TkxScanResult Run(TkxJobControl& Control, const TkxProgressSink<TkxScanFigures>& Progress);

  // AcceptFoundFiles of the scan's list as it stands between two steps; safe from any thread,
  // also while Run is working. The check's result is Run's alone.
  void AcceptInto(TkxFileList& Into);
  // How many files the scan found so far, between two steps; safe from any thread, as AcceptInto.
  std::int32_t FoundCount();

 private:
  TkxJobOutcome Scan(TkxJobControl& Control, TkxScanFigures& Figures, const TkxProgressSink<TkxScanFigures>& Progress);
  TkxJobOutcome CheckFiles(TkxJobControl& Control, TkxScanResult& Result, TkxScanFigures& Figures,
                           const TkxProgressSink<TkxScanFigures>& Progress);

  std::mutex StepLock;  // held during each step of the scan and each copy
};

}  // namespace kx
