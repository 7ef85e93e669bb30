// SPDX-License-Identifier: GPL-3.0-or-later
#include "recognition/kxCheck.h"

#include "common/kxShared.h"
#include "recognition/kxEngine.h"
#include "recognition/kxStructure.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <exception>
#include <numeric>
#include <string_view>
#include <tuple>

namespace kx {

namespace {

// A check reads a sector or two at each file's start, and a file read through here and there.
constexpr TkxReadOptions CheckReads{.Order = TkxReadOptions::TOrder::Scattered};

bool IsRecognisedFile(TKind Kind) { return Kind != Kinds::Unknown && !IsTextKind(Kind); }

// The kind whose finder checks an entry: an extension that a check refined from a file's
// content is checked as the container it is, so that a second check finds what the first did.
TKind FinderKind(TKind Kind)
{
  if (Kind >= Kinds::Docx && Kind <= Kinds::Apk) return Kinds::Zip;
  if (Kind == Kinds::Flv) return Kinds::Flash;
  return Kind;
}

// An ISO 9660 image holds 16 sectors of 2048 bytes before its volume descriptor.
constexpr std::int64_t IsoSystemArea = 16 * 2048;
constexpr std::size_t None = SIZE_MAX;
constexpr std::int64_t Unset = INT64_MIN;

// The largest of the values set at places 0..N-1, asked for the first place of a range whose
// value exceeds a bound: which later file a read lands in, which one passes a file's end.
class TMaxTree {
 public:
  explicit TMaxTree(std::size_t N = 0)
  {
    while (Leaves < N) Leaves *= 2;
    Values.assign(2 * Leaves, Unset);
  }
  void Set(std::size_t At, std::int64_t Value)
  {
    At += Leaves;
    Values[At] = Value;
    for (At /= 2; At > 0; At /= 2) Values[At] = std::max(Values[2 * At], Values[2 * At + 1]);
  }
  // The first place in [From, To) whose value exceeds Bound; To when none does.
  std::size_t FirstAbove(std::size_t From, std::size_t To, std::int64_t Bound) const
  {
    return From < To ? First(1, 0, Leaves, From, To, Bound) : To;
  }

 private:
  std::size_t First(std::size_t Node, std::size_t Lo, std::size_t Hi, std::size_t From, std::size_t To,
                    std::int64_t Bound) const
  {
    if (Hi <= From || To <= Lo || Values[Node] <= Bound) return To;
    if (Hi - Lo == 1) return Lo;
    const std::size_t mid = Lo + (Hi - Lo) / 2;
    const std::size_t left = First(2 * Node, Lo, mid, From, To, Bound);
    return left < To ? left : First(2 * Node + 1, mid, Hi, From, To, Bound);
  }
  std::size_t Leaves = 1;
  std::vector<std::int64_t> Values;
};

// What the check concluded of the entries at one place.
struct TVerdict {
  TkxCheckState State = TkxCheckState::NotChecked;
  TKind Kind = 0;           // what the content refined the kind to; 0 keeps it
  std::int64_t Claim = 0;   // the exact size, the stated size, or the sound bytes (CheckedSize)
  std::int64_t Walked = 0;  // how far from the file's start its finder read
};

// A later file that a read of a walk lands in: its place and where it begins.
struct TLater {
  std::size_t Place = None;
  std::int64_t Start = 0;
};

// The bytes of a found file for its finder, as a walk over its structure reads them. Given a
// question for each read, it ends the walk at the first read that begins inside a later file's
// bytes past its first sector without having passed over them all: that read follows another
// file's structure, not one of this file's own. A read that only reaches into such bytes gets
// what lies before them. How far the finder read is its Reach().
class TWalkSource final : public TkxByteSource {
 public:
  using TQuestion = std::function<TLater(std::int64_t At, std::int64_t Bytes)>;
  TWalkSource(TkxDisk& Disk, std::int64_t Start_, std::int64_t Length, std::int64_t Peek_, TkxJobControl& Control_,
              TQuestion Question_ = {})
      : Inner(Disk, Start_, Length, {}, CheckReads), Start(Start_), Peek(Peek_), Question(std::move(Question_))
  {
    Control = &Control_;
  }
  std::int64_t Size() const override { return Inner.Size(); }

  std::size_t Into = None;  // the place of the file the walk ran into
  std::int64_t IntoAt = 0;  // where, from this file's start

 private:
  std::span<const std::uint8_t> Serve(std::int64_t Pos, std::size_t MaxBytes) override
  {
    if (Into != None) return {};
    if (Question && Pos >= 0 && Pos < Size()) {
      const std::int64_t bytes = std::min(static_cast<std::int64_t>(std::min<std::size_t>(MaxBytes, INT32_MAX)), Size() - Pos);
      const TLater later = Question(Start + Pos, bytes);
      if (later.Place != None) {
        const std::int64_t allowed = later.Start + Peek - (Start + Pos);
        if (allowed <= 0) {
          Into = later.Place;
          IntoAt = Pos;
          return {};
        }
        MaxBytes = static_cast<std::size_t>(allowed);
      }
    }
    return Inner.View(Pos, MaxBytes);
  }

  TkxDiskSource Inner;
  std::int64_t Start;
  std::int64_t Peek;
  TQuestion Question;
};

// The check of a list: its entries in the order of their starts ("places"), each concluded from
// the last to the first.
class TChecker {
 public:
  using TProgress = TkxProgressSink<TkxFilesDone>;
  TChecker(TkxDisk& Disk_, const TkxFileList& List_, TkxJobControl& Control_, const TProgress& Progress_)
      : Disk(Disk_), List(List_), Control(Control_), Progress(Progress_),
        MediumEnd(Disk.SectorCount * Disk.SectorSize), Peek(Disk.SectorSize)
  {
  }
  TkxCheckResult Run();

 private:
  const TkxFileEntry& Entry(std::size_t P) const { return List.Items[static_cast<std::size_t>(Order[P])]; }
  bool OnMedium(std::size_t P) const { return Start[P] >= 0 && Start[P] < MediumEnd; }
  // The first place whose start is at least At.
  std::size_t PlaceAt(std::int64_t At) const
  {
    return static_cast<std::size_t>(std::lower_bound(Start.begin(), Start.end(), At) - Start.begin());
  }
  void Place();
  void Sweep(TkxCheckResult& Result);
  TVerdict Check(std::size_t P, std::size_t After, bool Alone);
  TVerdict Conclude(std::size_t P, std::size_t After, const TkxFileEnd& End, std::int64_t Walked) const;
  TVerdict Inherit(std::size_t P, std::size_t From, const TkxFileEnd& End) const;
  bool PassesNextFile(std::size_t After, std::int64_t FileEnd) const;
  TLater RunsInto(std::size_t P, std::size_t After, std::int64_t At, std::int64_t Bytes) const;
  std::int64_t Reach(std::size_t P) const;
  void Publish(std::size_t First, std::size_t Last);
  void MergePieces(TkxCheckResult& Result, std::vector<bool>& Absorbed);
  bool HoldsData(std::int64_t From, std::int64_t To);
  void SetSizes(const std::vector<bool>& Absorbed, const TkxCheckResult& Result, bool Whole);

  TkxDisk& Disk;
  const TkxFileList& List;
  TkxJobControl& Control;
  const TProgress& Progress;
  const std::int64_t MediumEnd;
  const std::int64_t Peek;  // what a walk may read of the next file, to see that it is no part of its own

  // By place.
  std::vector<std::int32_t> Order;    // the row
  std::vector<std::int64_t> Start;    // where the file begins (ascending)
  std::vector<TKind> Base;            // the kind whose finder checks it
  std::vector<bool> BeginsBefore;     // an image whose first sectors lie before the medium
  std::vector<TVerdict> Verdict;
  std::vector<bool> Concluded;
  std::vector<std::int64_t> NewSize;  // the size the check gives each entry

  // The later files, as the sweep concludes them. Separators: files whole or truncated, at their
  // reach; Unchecked: recognised files that no finder checks. OwnKind: for each kind walked over
  // headers, every file of it, whatever its state, at the rank of each among its kind.
  TMaxTree Separators, Unchecked;
  std::vector<TMaxTree> OwnKind;
  std::vector<std::vector<std::uint32_t>> KindPlaces;
  std::vector<std::uint32_t> KindRank;
  // The first later place that ends a search for a file's end (a recognised file not found
  // damaged), and such a place of each kind at the same start.
  std::size_t NextSeparator = None;
  std::array<std::size_t, KindCount> NextSeparatorOfKind{};
};

// Offsets and kinds by place; a stored image found at its volume descriptor is placed where it
// begins. Reads the first bytes of such entries.
void TChecker::Place()
{
  const auto n = static_cast<std::size_t>(List.Count);
  std::vector<std::int64_t> offset(n);
  for (std::size_t i = 0; i < n; ++i) offset[i] = List.Items[i].Offset;
  std::vector<bool> before(n, false);
  std::int64_t readAt = -1;
  bool descriptor = false;
  for (std::size_t i = 0; i < n; ++i) {
    const TkxFileEntry& e = List.Items[i];
    if (FinderKind(e.Kind) != Kinds::IsoImage || e.Offset < 0 || e.Offset >= MediumEnd) continue;
    if (e.Offset != readAt) {
      readAt = e.Offset;
      std::uint8_t head[6] = {};
      TkxDiskSource bytes(Disk, e.Offset, sizeof head, {}, CheckReads);
      descriptor = bytes.Read(0, head, sizeof head) && std::memcmp(head, "\x01" "CD001", 6) == 0;
    }
    if (!descriptor) continue;
    if (e.Offset >= IsoSystemArea)
      offset[i] = e.Offset - IsoSystemArea;
    else
      before[i] = true;
  }
  Order.resize(n);
  std::iota(Order.begin(), Order.end(), 0);
  std::sort(Order.begin(), Order.end(), [&](std::int32_t a, std::int32_t b) {
    const auto ka = FinderKind(List.Items[static_cast<std::size_t>(a)].Kind);
    const auto kb = FinderKind(List.Items[static_cast<std::size_t>(b)].Kind);
    return std::tie(offset[static_cast<std::size_t>(a)], ka, a) < std::tie(offset[static_cast<std::size_t>(b)], kb, b);
  });
  Start.resize(n);
  Base.resize(n);
  BeginsBefore.assign(n, false);
  KindPlaces.assign(KindCount, {});
  KindRank.assign(n, 0);
  for (std::size_t p = 0; p < n; ++p) {
    const auto row = static_cast<std::size_t>(Order[p]);
    Start[p] = offset[row];
    Base[p] = FinderKind(List.Items[row].Kind);
    BeginsBefore[p] = before[row];
    if (EndReach(Base[p]) == TkxEndReach::Headers) {
      KindRank[p] = static_cast<std::uint32_t>(KindPlaces[Base[p]].size());
      KindPlaces[Base[p]].push_back(static_cast<std::uint32_t>(p));
    }
  }
  Verdict.assign(n, {});
  Concluded.assign(n, false);
  Separators = TMaxTree(n);
  Unchecked = TMaxTree(n);
  OwnKind.clear();
  OwnKind.reserve(KindCount);
  for (std::size_t k = 0; k < static_cast<std::size_t>(KindCount); ++k) OwnKind.emplace_back(KindPlaces[k].size());
  NextSeparatorOfKind.fill(None);
}

// Where the bytes of a concluded file end for the files before it: a whole file's exact end,
// the end a truncated one states, the sound bytes of a damaged one, and the entry's size when
// nothing was checked.
std::int64_t TChecker::Reach(std::size_t P) const
{
  const TVerdict& v = Verdict[P];
  if (v.State != TkxCheckState::NotChecked) return SaturatingAdd(Start[P], v.Claim);
  return Start[P] + std::clamp<std::int64_t>(Entry(P).Size, 0, MediumEnd - Start[P]);
}

// Makes the concluded places First..Last (one start) known to the searches of the places before.
void TChecker::Publish(std::size_t First, std::size_t Last)
{
  for (std::size_t p = Last; p-- > First;) {
    if (!OnMedium(p)) continue;
    const TVerdict& v = Verdict[p];
    if (EndReach(Base[p]) == TkxEndReach::Headers) OwnKind[Base[p]].Set(KindRank[p], Reach(p));
    if (!IsRecognisedFile(Entry(p).Kind) || v.State == TkxCheckState::Damaged) continue;
    if (v.State == TkxCheckState::NotChecked)
      Unchecked.Set(p, Reach(p));
    else
      Separators.Set(p, Reach(p));
    NextSeparator = p;
    NextSeparatorOfKind[Base[p]] = p;
  }
}

// Whether a file that ends at FileEnd overlaps a later file that separates and does not lie
// wholly inside it: then its end lies past the next file, and it is truncated.
bool TChecker::PassesNextFile(std::size_t After, std::int64_t FileEnd) const
{
  const std::size_t to = std::max(After, PlaceAt(FileEnd));
  return Separators.FirstAbove(After, to, FileEnd) < to || Unchecked.FirstAbove(After, to, FileEnd) < to;
}

// The first later file that a read of Bytes at At (a walk of the file at P) reaches past its
// first sector while it has not passed over all its bytes. Files of other kinds count when found
// whole or truncated; files of the walk's own kind whatever their state, so that walks of a
// chain of files of one kind meet instead of each going to the chain's end.
TLater TChecker::RunsInto(std::size_t P, std::size_t After, std::int64_t At, std::int64_t Bytes) const
{
  const std::size_t to = std::max(After, PlaceAt(SaturatingAdd(At, Bytes - Peek)));
  std::size_t into = Separators.FirstAbove(After, to, At);
  const std::vector<std::uint32_t>& own = KindPlaces[Base[P]];
  const auto rank = [&](std::size_t Place) {
    return static_cast<std::size_t>(std::lower_bound(own.begin(), own.end(), Place) - own.begin());
  };
  const std::size_t ownTo = rank(to);
  const std::size_t ownInto = OwnKind[Base[P]].FirstAbove(rank(After), ownTo, At);
  if (ownInto < ownTo) into = std::min<std::size_t>(into, own[ownInto]);
  return into < to ? TLater{into, Start[into]} : TLater{};
}

TVerdict TChecker::Conclude(std::size_t P, std::size_t After, const TkxFileEnd& End, std::int64_t Walked) const
{
  if (End.State == TkxCheckState::NotChecked) return {};
  TVerdict v{End.State, End.Kind, End.Size, Walked};
  if (v.State == TkxCheckState::Whole && (BeginsBefore[P] || PassesNextFile(After, SaturatingAdd(Start[P], End.Size))))
    v.State = TkxCheckState::Truncated;
  return v;
}

// The file at P ran into the later file at From of its own kind at a boundary of its structure:
// it goes on as that file's check found, which is what a walk from P would find there.
TVerdict TChecker::Inherit(std::size_t P, std::size_t From, const TkxFileEnd& End) const
{
  const std::int64_t gap = Start[From] - Start[P];
  const TVerdict& later = Verdict[From];
  if (later.State == TkxCheckState::NotChecked) return {};
  TVerdict v{later.State, End.Kind != 0 ? End.Kind : later.Kind, SaturatingAdd(gap, later.Claim),
             SaturatingAdd(gap, later.Walked)};
  if (v.State == TkxCheckState::Whole && BeginsBefore[P]) v.State = TkxCheckState::Truncated;
  return v;
}

// Runs the finder of the file at P; After is the first place of a later start; Alone: no other
// entry shares the file's start and kind.
TVerdict TChecker::Check(std::size_t P, std::size_t After, bool Alone)
{
  const TkxEndReach reach = EndReach(Base[P]);
  if (reach == TkxEndReach::None || !OnMedium(P)) return {};
  const std::int64_t at = Start[P];
  if (reach == TkxEndReach::Content) {
    // A search that reads every byte gets them up to the next file that separates; of one of its
    // own kind, also that file's first sector, to tell whether it goes on there.
    const std::size_t next = NextSeparator;
    const std::int64_t bound = next == None ? MediumEnd : Start[next];
    const std::size_t own = next != None && NextSeparatorOfKind[Base[P]] != None &&
                                    Start[NextSeparatorOfKind[Base[P]]] == bound
                                ? NextSeparatorOfKind[Base[P]]
                                : None;
    const std::int64_t to = std::min(MediumEnd, own != None ? SaturatingAdd(bound, Peek) : bound);
    TWalkSource source(Disk, at, to - at, Peek, Control);
    // An entry's size that no check set is the scan's, which closed a PDF where a sector held
    // an end-of-file marker.
    const TkxFileEntry& e = Entry(P);
    const bool scanned = Alone && e.Check == TkxCheckState::NotChecked;
    const TkxFileEnd end = FindFileEnd(Base[P], source, scanned ? std::min(e.Size, to - at) : -1);
    const std::int64_t rel = bound - at;
    const bool past = end.State == TkxCheckState::Truncated ||
                      (end.State != TkxCheckState::NotChecked && end.Size > rel);
    if (own != None && past) return Inherit(P, own, end);
    return Conclude(P, After, end, source.Reach());
  }
  // A walk over headers may jump over later files: what lies wholly inside the structure it
  // walks is part of it.
  TWalkSource source(Disk, at, MediumEnd - at, Peek, Control,
                     [&](std::int64_t At, std::int64_t Bytes) { return RunsInto(P, After, At, Bytes); });
  const TkxFileEnd end = FindFileEnd(Base[P], source);
  if (source.Into == None) return Conclude(P, After, end, source.Reach());
  const std::size_t into = source.Into;
  // A read that looked past the file's end: it ended before the file it looked into.
  if (end.State == TkxCheckState::Whole && end.Size <= Start[into] - at) return Conclude(P, After, end, source.Reach());
  if (Base[into] == Base[P]) return Inherit(P, into, end);
  return {TkxCheckState::Truncated, end.Kind, std::max(end.State == TkxCheckState::Truncated ? end.Size : 0, source.IntoAt),
          source.Reach()};
}

// From the last start to the first, each start's entries grouped by kind: a group is checked
// once and its verdict is every member's.
void TChecker::Sweep(TkxCheckResult& Result)
{
  const std::size_t n = Order.size();
  for (std::size_t runEnd = n; runEnd > 0;) {
    std::size_t runStart = runEnd - 1;
    while (runStart > 0 && Start[runStart - 1] == Start[runEnd - 1]) --runStart;
    for (std::size_t group = runStart; group < runEnd;) {
      std::size_t groupEnd = group + 1;
      while (groupEnd < runEnd && Base[groupEnd] == Base[group]) ++groupEnd;
      if (Control.ShouldStop()) {
        Result.Outcome = TkxJobOutcome::Stopped();
        return;
      }
      const TVerdict v = Check(group, runEnd, groupEnd - group == 1);
      // A stop asked while the finder read: what it found may be a search given up.
      if (Control.StopRequested()) {
        Result.Outcome = TkxJobOutcome::Stopped();
        return;
      }
      for (std::size_t p = group; p < groupEnd; ++p) {
        Verdict[p] = v;
        Concluded[p] = true;
      }
      Result.Checked += static_cast<std::int32_t>(groupEnd - group);
      if (Progress) Progress({Result.Checked, List.Count});
      group = groupEnd;
    }
    Publish(runStart, runEnd);
    runEnd = runStart;
  }
}

// Whether the medium holds anything but zeros in [From, To).
bool TChecker::HoldsData(std::int64_t From, std::int64_t To)
{
  TkxDiskSource bytes(Disk, From, To - From, {}, CheckReads);
  for (std::int64_t pos = 0; pos < To - From;) {
    const auto v = bytes.View(pos, TkxByteSource::MaxViewBytes);
    if (v.empty()) return false;
    if (std::any_of(v.begin(), v.end(), [](std::uint8_t b) { return b != 0; })) return true;
    pos += static_cast<std::int64_t>(v.size());
  }
  return false;
}

// After every entry was concluded: unrecognised data, text and files found damaged are pieces of
// a whole file whose walk read as far as where they begin; what a whole file's entry, or such a
// piece, held past the file's exact end is listed apart, where no other walk covers it.
void TChecker::MergePieces(TkxCheckResult& Result, std::vector<bool>& Absorbed)
{
  const std::size_t n = Order.size();
  // The whole files by start, and of those up to each, the one whose walk reaches furthest.
  std::vector<std::int64_t> wholeStart, reach;
  std::vector<std::size_t> reacher;
  for (std::size_t p = 0; p < n; ++p) {
    if (Verdict[p].State != TkxCheckState::Whole) continue;
    const std::int64_t covered = SaturatingAdd(Start[p], std::min(Verdict[p].Walked, Verdict[p].Claim));
    const bool further = reach.empty() || covered > reach.back();
    wholeStart.push_back(Start[p]);
    reach.push_back(further ? covered : reach.back());
    reacher.push_back(further ? p : reacher.back());
  }
  const auto coveredBy = [&](std::int64_t At) {
    const auto k = static_cast<std::size_t>(std::upper_bound(wholeStart.begin(), wholeStart.end(), At) - wholeStart.begin());
    return k > 0 && reach[k - 1] > At ? reacher[k - 1] : None;
  };
  std::vector<std::pair<std::int64_t, std::int64_t>> rests;
  for (std::size_t p = 0; p < n; ++p) {
    if (!OnMedium(p)) continue;
    const TkxFileEntry& e = Entry(p);
    const TVerdict& v = Verdict[p];
    const std::int64_t entryEnd = SaturatingAdd(Start[p], std::max<std::int64_t>(e.Size, 0));
    if (!IsRecognisedFile(e.Kind) || v.State == TkxCheckState::Damaged) {
      const std::size_t whole = coveredBy(Start[p]);
      if (whole == None) continue;
      Absorbed[p] = true;
      rests.emplace_back(SaturatingAdd(Start[whole], Verdict[whole].Claim), entryEnd);
    } else if (v.State == TkxCheckState::Whole) {
      rests.emplace_back(SaturatingAdd(Start[p], v.Claim), entryEnd);
    }
  }
  // The next entry that stays, from each place on.
  std::vector<std::int64_t> nextKept(n + 1, MediumEnd);
  for (std::size_t p = n; p-- > 0;) nextKept[p] = Absorbed[p] ? nextKept[p + 1] : std::min(MediumEnd, std::max(Start[p], std::int64_t{0}));
  std::sort(rests.begin(), rests.end());
  const std::int64_t ss = Disk.SectorSize;
  std::int64_t listedTo = 0;
  for (auto [from, to] : rests) {
    if (from >= MediumEnd) continue;
    from = (from + ss - 1) / ss * ss;
    if (from < listedTo) continue;
    to = std::min({to, MediumEnd, nextKept[PlaceAt(from)]});
    if (to - from < ss || coveredBy(from) != None || !HoldsData(from, to)) continue;
    TkxFileEntry entry;
    entry.Name = ScanEntryName(List.Count + static_cast<std::int32_t>(Result.Rest.size()) + 1);
    entry.Offset = from;
    entry.Size = to - from;
    Result.Rest.push_back(std::move(entry));
    listedTo = to;
  }
}

// The sizes of the concluded entries: a whole file's exact size; a truncated or damaged file ends
// where the next entry that stays begins, never past it nor past the medium's end. After a whole
// check, an entry that nothing checked gives back what the next entry now begins with (the
// sectors before an image's volume descriptor).
void TChecker::SetSizes(const std::vector<bool>& Absorbed, const TkxCheckResult& Result, bool Whole)
{
  const std::size_t n = Order.size();
  NewSize.assign(n, 0);
  std::size_t rest = Result.Rest.size();
  std::int64_t next = INT64_MAX;  // the start of the next entry that stays, past the current start
  for (std::size_t runEnd = n; runEnd > 0;) {
    std::size_t runStart = runEnd - 1;
    while (runStart > 0 && Start[runStart - 1] == Start[runEnd - 1]) --runStart;
    const std::int64_t at = Start[runStart];
    while (rest > 0 && Result.Rest[rest - 1].Offset > at) next = std::min(next, Result.Rest[--rest].Offset);
    bool kept = false;
    for (std::size_t p = runStart; p < runEnd; ++p) {
      const TkxFileEntry& e = Entry(p);
      const TVerdict& v = Verdict[p];
      NewSize[p] = e.Size;
      kept = kept || !Absorbed[p];
      if (!OnMedium(p) || (!Concluded[p] && !Whole)) continue;
      const std::int64_t room = std::min(next, MediumEnd) - at;
      if (v.State == TkxCheckState::Whole)
        NewSize[p] = v.Claim;
      else if (v.State == TkxCheckState::Truncated)
        NewSize[p] = std::min(v.Claim, room);
      else if (v.State == TkxCheckState::Damaged)
        NewSize[p] = std::min(e.Size, room);
      else if (Whole && next != INT64_MAX)
        NewSize[p] = std::min(e.Size, next - at);
    }
    if (kept && at >= 0) next = std::min(next, at);
    runEnd = runStart;
  }
}

TkxCheckResult TChecker::Run()
{
  TkxCheckResult result;
  std::vector<bool> absorbed;
  try {
    Place();
    Sweep(result);
    absorbed.assign(Order.size(), false);
    if (!result.Outcome.IsStopped()) MergePieces(result, absorbed);
  } catch (const std::exception& ex) {
    result.Outcome = TkxJobOutcome::Failed(ex.what());
    absorbed.assign(Order.size(), false);
    result.Rest.clear();
  }
  const bool whole = result.Outcome.IsCompleted();
  SetSizes(absorbed, result, whole);
  for (std::size_t p = 0; p < Order.size(); ++p) {
    if (absorbed[p]) {
      result.Absorbed.push_back(Order[p]);
      continue;
    }
    const TkxFileEntry& e = Entry(p);
    TkxCheckChange c{Order[p], e.Kind, NewSize[p], e.Check, e.CheckedSize, {}};
    if (Concluded[p]) {
      const TVerdict& v = Verdict[p];
      if (v.Kind != 0) c.Kind = v.Kind;
      c.State = v.State;
      c.CheckedSize = v.State == TkxCheckState::NotChecked ? 0 : v.Claim;
      // An image found at its volume descriptor moves to its first sector once its structure
      // holds from there; a false start stays where it was found.
      const bool image = v.State == TkxCheckState::Whole || v.State == TkxCheckState::Truncated;
      if (Start[p] != e.Offset && image) c.Offset = Start[p];
      if (Start[p] != e.Offset && !image) c.Size = e.Size;
    }
    if (c.State != e.Check || c.Size != e.Size || c.Kind != e.Kind || c.CheckedSize != e.CheckedSize || c.Offset)
      result.Changes.push_back(c);
  }
  std::sort(result.Absorbed.begin(), result.Absorbed.end());
  std::sort(result.Changes.begin(), result.Changes.end(),
            [](const TkxCheckChange& a, const TkxCheckChange& b) { return a.Index < b.Index; });
  return result;
}

}  // namespace

TkxCheckResult CheckFoundFiles(TkxDisk& Disk, const TkxFileList& List, TkxJobControl& Control,
                               const TkxProgressSink<TkxFilesDone>& Progress)
{
  TChecker checker(Disk, List, Control, Progress);
  return checker.Run();
}

void ApplyCheck(const TkxCheckResult& Result, TkxFileList& List)
{
  for (const TkxCheckChange& c : Result.Changes) {
    if (c.Index < 0 || c.Index >= List.Count) continue;
    TkxFileEntry& e = List.Items[static_cast<std::size_t>(c.Index)];
    e.Kind = c.Kind;
    e.Size = c.Size;
    e.Check = c.State;
    e.CheckedSize = c.CheckedSize;
    if (c.Offset) e.Offset = *c.Offset;
  }
  std::int32_t kept = 0;
  std::size_t a = 0;
  for (std::int32_t i = 0; i < List.Count; ++i) {
    while (a < Result.Absorbed.size() && Result.Absorbed[a] < i) ++a;
    if (a < Result.Absorbed.size() && Result.Absorbed[a] == i) continue;
    if (kept != i) List.Items[static_cast<std::size_t>(kept)] = std::move(List.Items[static_cast<std::size_t>(i)]);
    ++kept;
  }
  for (std::int32_t i = kept; i < List.Count; ++i) List.Items[static_cast<std::size_t>(i)] = TkxFileEntry{};
  List.Count = kept;
  for (const TkxFileEntry& e : Result.Rest) List.Add(e.Name, e.Kind, e.Offset, e.Size, false);
}

std::array<std::int32_t, 4> CountCheckStates(const TkxFileList& List)
{
  std::array<std::int32_t, 4> counts{};
  for (std::int32_t i = 0; i < List.Count; ++i) ++counts[static_cast<std::size_t>(List.Items[static_cast<std::size_t>(i)].Check)];
  return counts;
}

std::string CheckSummaryText(const TkxCheckResult& Result, const TkxFileList& List)
{
  const auto counts = CountCheckStates(List);
  // The rows the check was given: those left, the pieces merged away, less the runs added.
  const auto checked = static_cast<std::size_t>(List.Count) + Result.Absorbed.size() - Result.Rest.size();
  std::string text = (Result.Outcome.IsStopped() ? "Stopped checking after " : "Checked ") + std::to_string(Result.Checked) + " of " +
                     Counted(checked, "file") + ": " + std::to_string(counts[1]) + " whole, " + std::to_string(counts[2]) +
                     " truncated, " + std::to_string(counts[3]) + " damaged, " + std::to_string(counts[0]) + " not checked";
  if (!Result.Absorbed.empty()) text += "; " + Counted(Result.Absorbed.size(), "piece") + " inside whole files merged";
  if (!Result.Rest.empty()) text += "; " + Counted(Result.Rest.size(), "run") + " after whole files listed apart";
  return text + ".";
}

TkxCheckEnd FinishCheck(const TkxCheckResult& Result, TkxFileList& List)
{
  ApplyCheck(Result, List);
  TkxCheckEnd end{!Result.Changes.empty() || !Result.Absorbed.empty() || !Result.Rest.empty(), CheckSummaryText(Result, List)};
  if (Result.Outcome.IsFailed()) end.Message += "\n\nThe check stopped: " + Result.Outcome.Reason;
  return end;
}

std::string FocusedStateText(const TkxFileList& List, std::int32_t Row)
{
  if (Row < 0 || Row >= List.Count) return {};
  const TkxCheckState state = List.Items[static_cast<std::size_t>(Row)].Check;
  const auto begin = List.Items.begin(), end = begin + List.Count;
  if (state == TkxCheckState::NotChecked &&
      std::all_of(begin, end, [](const TkxFileEntry& e) { return e.Check == TkxCheckState::NotChecked; }))
    return {};
  return std::string(" - focused file: ") + (state == TkxCheckState::NotChecked ? "not checked" : std::string(CheckStateName(state)));
}

}  // namespace kx
