// SPDX-License-Identifier: GPL-3.0-or-later
#include "recognition/kxCheck.h"

#include "common/kxShared.h"
#include "recognition/kxEngine.h"
#include "recognition/kxStructure.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <numeric>
#include <string_view>

namespace kx {

namespace {

bool IsRecognisedFile(TKind Kind) { return Kind != Kinds::Unknown && !IsTextKind(Kind); }

// The entries of a list in the order of their offsets, with what the check concluded of each.
class TCheckOrder {
 public:
  TCheckOrder(const TkxFileList& List_, std::int64_t MediumEnd_) : List(List_), MediumEnd(MediumEnd_)
  {
    Order.resize(static_cast<std::size_t>(List.Count));
    std::iota(Order.begin(), Order.end(), 0);
    std::stable_sort(Order.begin(), Order.end(), [&](std::int32_t a, std::int32_t b) { return At(a).Offset < At(b).Offset; });
    Checked.resize(Order.size());
    for (std::size_t k = 0; k < Order.size(); ++k) {
      const TkxFileEntry& e = At(Order[k]);
      Checked[k] = {Order[k], e.Kind, e.Size, e.Check, e.CheckedSize};
    }
    NextLinked.assign(Order.size(), None);
    NextOtherKind.assign(Order.size(), None);
    StartLinking();
    for (std::size_t k = Order.size(); k-- > 0;) Link(k);
  }
  const TkxFileEntry& At(std::int32_t Index) const { return List.Items[static_cast<std::size_t>(Index)]; }
  // Offsets and sizes of a project may be any numbers: the ends are held at the largest one.
  std::int64_t End(std::size_t K) const { return SaturatingAdd(At(Order[K]).Offset, Checked[K].Size); }

  // Whether the entry at K ends the search for the file at F's end: a recognised file of
  // another kind, not found damaged (such a one is far more often a false start inside a file
  // than a file). Unrecognised data, text, and pieces of F's own kind that the scan began at a
  // header recurring inside a file (a tar member, a later pack) may still belong to F.
  bool Separates(std::size_t K, std::size_t F) const
  {
    const TkxFileEntry& e = At(Order[K]);
    return IsRecognisedFile(e.Kind) && e.Kind != At(Order[F]).Kind && Checked[K].State != TkxCheckState::Damaged &&
           e.Offset > At(Order[F]).Offset;
  }

  // Where the bytes of the file at K may run to for a search that reads them all (never short
  // of what the scan gave its entry). Only linked files may separate; a run of files of K's own
  // kind is passed at once, so that a disc of thousands of gzip files in a row costs no square
  // of their number.
  std::int64_t SearchEnd(std::size_t K) const
  {
    std::size_t j = NextLinked[K];
    while (j != None && !Separates(j, K)) j = At(Order[j]).Kind == At(Order[K]).Kind ? NextOtherKind[j] : NextLinked[j];
    const TkxFileEntry& e = At(Order[K]);
    return std::max(j != None ? At(Order[j]).Offset : MediumEnd, SaturatingAdd(e.Offset, e.Size));
  }

  // Links the entry at K before those linked so far, as its present state says: from the last
  // entry to the first, each once its state is the one that the searches of the entries before
  // it are to see. The links pass over entries that cannot separate (unrecognised data, text,
  // files found damaged).
  void StartLinking() { LinkedFirst = None; }
  void Link(std::size_t K)
  {
    NextLinked[K] = LinkedFirst;
    if (!IsRecognisedFile(At(Order[K]).Kind) || Checked[K].State == TkxCheckState::Damaged) return;
    const bool sameKind = LinkedFirst != None && At(Order[LinkedFirst]).Kind == At(Order[K]).Kind;
    NextOtherKind[K] = sameKind ? NextOtherKind[LinkedFirst] : LinkedFirst;
    LinkedFirst = K;
  }
  // The entry after K that may separate, for a search before K is linked again.
  void Unlink(std::size_t K) { NextLinked[K] = LinkedFirst; }

  // Whether a file at K that ends at End overlaps a separating file that does not lie wholly
  // inside it: then its end lies past the next file, and it is truncated.
  bool PassesNextFile(std::size_t K, std::int64_t FileEnd) const
  {
    for (std::size_t j = K + 1; j < Order.size() && At(Order[j]).Offset < FileEnd; ++j)
      if (Separates(j, K) && End(j) > FileEnd) return true;
    return false;
  }

  static constexpr std::size_t None = SIZE_MAX;
  const TkxFileList& List;
  std::int64_t MediumEnd;
  std::vector<std::int32_t> Order;
  std::vector<TkxCheckChange> Checked;  // by place in Order
  // By place in Order: the next place that may separate, and from such a place the next one of
  // another kind; None for none.
  std::vector<std::size_t> NextLinked, NextOtherKind;
  std::size_t LinkedFirst = None;
};

// What a finder said of the entry at K, before its end was compared with the files after it.
struct TFound {
  TkxFileEnd End;
  std::int64_t Span = -1;  // the bytes a search was given; -1 when nothing was looked for
};

// Concludes the entry at K from what its finder found: whole only where its end passes no
// separating file that does not lie wholly inside it.
TkxCheckChange Conclude(const TCheckOrder& Order, std::size_t K, const TFound& Found)
{
  const TkxFileEntry& e = Order.At(Order.Order[K]);
  TkxCheckChange change{Order.Order[K], e.Kind, e.Size, e.Check, e.CheckedSize};
  const TkxFileEnd& end = Found.End;
  if (Found.Span < 0 || end.State == TkxCheckState::NotChecked) return change;
  if (end.Kind != 0) change.Kind = end.Kind;
  change.State = end.State;
  change.CheckedSize = end.Size;
  if (end.State == TkxCheckState::Whole && Order.PassesNextFile(K, SaturatingAdd(e.Offset, end.Size)))
    change.State = TkxCheckState::Truncated;
  if (change.State == TkxCheckState::Whole)
    change.Size = end.Size;
  else if (change.State == TkxCheckState::Truncated)
    change.Size = std::max(e.Size, std::min(end.Size, Order.MediumEnd - e.Offset));
  return change;
}

// Runs the finder of the entry at K. A walk over headers may read to the medium's end, to
// tell a cut file from a whole one; a search that reads every byte gets the entry and what may
// still belong to it.
TFound FindEnd(TkxDisk& Disk, const TCheckOrder& Order, std::size_t K)
{
  const TkxFileEntry& e = Order.At(Order.Order[K]);
  const TkxEndReach reach = EndReach(e.Kind);
  if (reach == TkxEndReach::None || e.Check == TkxCheckState::Whole || e.Offset < 0 || e.Offset >= Order.MediumEnd)
    return {};
  const std::int64_t span = reach == TkxEndReach::Content ? Order.SearchEnd(K) - e.Offset : Order.MediumEnd - e.Offset;
  TkxDiskSource source(Disk, e.Offset, span);
  return {FindFileEnd(e.Kind, source, e.Size), span};
}

// Whether the medium holds anything but zeros in [From, To).
bool HoldsData(TkxDisk& Disk, std::int64_t From, std::int64_t To)
{
  TkxDiskSource bytes(Disk, From, To - From);
  for (std::int64_t pos = 0; pos < To - From;) {
    const auto v = bytes.View(pos, TkxByteSource::MaxViewBytes);
    if (v.empty()) return false;
    if (std::any_of(v.begin(), v.end(), [](std::uint8_t b) { return b != 0; })) return true;
    pos += static_cast<std::int64_t>(v.size());
  }
  return false;
}

// The sectors from From to To, when they hold data, as an entry of unrecognised data.
void AddRest(TkxDisk& Disk, std::int64_t From, std::int64_t To, std::int32_t Count, TkxCheckResult& Result)
{
  const std::int64_t ss = Disk.SectorSize;
  // No run passes the medium's end, whatever size a project gave the entry it came from.
  To = std::min(To, Disk.SectorCount * ss);
  From = (From + ss - 1) / ss * ss;
  if (To - From < ss || !HoldsData(Disk, From, To)) return;
  TkxFileEntry entry;
  entry.Name = ScanEntryName(Count + static_cast<std::int32_t>(Result.Rest.size()) + 1);
  entry.Offset = From;
  entry.Size = To - From;
  Result.Rest.push_back(std::move(entry));
}

// After every entry was checked: what lies inside a file found whole is a piece of it; what a
// whole file's entry held past its exact end, and holds data, is listed apart again.
void MergePieces(TkxDisk& Disk, const TCheckOrder& Order, std::int32_t Count, TkxCheckResult& Result)
{
  std::int64_t wholeFrom = -1, wholeTo = -1;
  for (std::size_t k = 0; k < Order.Order.size(); ++k) {
    const TkxFileEntry& e = Order.At(Order.Order[k]);
    const TkxCheckChange& c = Order.Checked[k];
    const std::int64_t end = Order.End(k);
    const bool piece = !IsRecognisedFile(e.Kind) || c.State == TkxCheckState::Damaged || end <= wholeTo;
    if (e.Offset > wholeFrom && e.Offset < wholeTo && piece) {
      Result.Absorbed.push_back(Order.Order[k]);
      if (end > wholeTo) AddRest(Disk, wholeTo, end, Count, Result);
      continue;
    }
    if (c.State == TkxCheckState::Whole) {
      if (c.Size < e.Size) AddRest(Disk, e.Offset + c.Size, SaturatingAdd(e.Offset, e.Size), Count, Result);
      wholeFrom = e.Offset;
      wholeTo = end;
    }
  }
}

}  // namespace

TkxCheckResult CheckFoundFiles(TkxDisk& Disk, const TkxFileList& List, TkxJobControl& Control,
                               const std::function<void(std::int32_t Done, std::int32_t Total)>& Progress)
{
  TkxCheckResult result;
  TCheckOrder order(List, Disk.SectorCount * Disk.SectorSize);
  std::vector<TFound> found(order.Order.size());
  // A sector or two at each file's start, and a file read through here and there.
  struct TReads {
    TkxDisk& Disk;
    const bool Before;
    ~TReads() { Disk.Sequential = Before; }
  } reads{Disk, Disk.Sequential};
  Disk.Sequential = false;
  try {
    // In the order of the offsets, so that the medium is read front to back.
    for (std::size_t k = 0; k < order.Order.size(); ++k) {
      if (Control.ShouldStop()) {
        result.Stopped = true;
        break;
      }
      found[k] = FindEnd(Disk, order, k);
      order.Checked[k] = Conclude(order, k, found[k]);
      ++result.Checked;
      if (Progress) Progress(result.Checked, List.Count);
    }
    // An entry found damaged after a file is no file that the file's end may not pass: from
    // the last entry to the first, a search that stopped at one is made again past it, and an
    // end that passed one is whole after all.
    order.StartLinking();
    for (std::size_t k = result.Stopped ? 0 : order.Order.size(); k-- > 0;) {
      order.Unlink(k);
      if (found[k].Span >= 0) {
        if (EndReach(order.At(order.Order[k]).Kind) == TkxEndReach::Content &&
            order.SearchEnd(k) - order.At(order.Order[k]).Offset > found[k].Span)
          found[k] = FindEnd(Disk, order, k);
        order.Checked[k] = Conclude(order, k, found[k]);
      }
      order.Link(k);
    }
    if (!result.Stopped) MergePieces(Disk, order, List.Count, result);
  } catch (const std::exception& ex) {
    result.Error = ex.what();
  }
  for (std::size_t k = 0; k < order.Order.size(); ++k) {
    const TkxCheckChange& c = order.Checked[k];
    const TkxFileEntry& e = order.At(c.Index);
    if (c.State != e.Check || c.Size != e.Size || c.Kind != e.Kind || c.CheckedSize != e.CheckedSize)
      result.Changes.push_back(c);
  }
  std::sort(result.Absorbed.begin(), result.Absorbed.end());
  return result;
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

namespace {

std::string Counted(std::size_t N, std::string_view Singular)
{
  return std::to_string(N) + " " + std::string(Singular) + (N == 1 ? "" : "s");
}

}  // namespace

std::string CheckSummaryText(const TkxCheckResult& Result, const TkxFileList& List)
{
  const auto counts = CountCheckStates(List);
  // The rows the check was given: those left, the pieces merged away, less the runs added.
  const auto checked = static_cast<std::size_t>(List.Count) + Result.Absorbed.size() - Result.Rest.size();
  std::string text = (Result.Stopped ? "Stopped checking after " : "Checked ") + std::to_string(Result.Checked) + " of " +
                     Counted(checked, "file") + ": " + std::to_string(counts[1]) + " whole, " + std::to_string(counts[2]) +
                     " truncated, " + std::to_string(counts[3]) + " damaged, " + std::to_string(counts[0]) + " not checked";
  if (!Result.Absorbed.empty()) text += "; " + Counted(Result.Absorbed.size(), "piece") + " inside whole files merged";
  if (!Result.Rest.empty()) text += "; " + Counted(Result.Rest.size(), "run") + " after whole files listed apart";
  return text + ".";
}

TkxCheckEnd FinishCheck(const TkxCheckResult& Result, TkxFileList& List)
{
  if (Result.Stopped) return {};
  ApplyCheck(Result, List);
  TkxCheckEnd end{!Result.Changes.empty() || !Result.Absorbed.empty() || !Result.Rest.empty(), CheckSummaryText(Result, List)};
  if (!Result.Error.empty()) end.Message += "\n\nThe check stopped: " + Result.Error;
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
