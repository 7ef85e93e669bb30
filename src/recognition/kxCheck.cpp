#include "recognition/kxCheck.h"

#include "recognition/kxEngine.h"
#include "recognition/kxStructure.h"

#include <algorithm>
#include <exception>
#include <numeric>

namespace kx {

namespace {

bool IsRecognisedFile(TKind Kind) { return Kind != Kinds::Unknown && !IsTextKind(Kind); }

// The check of one entry. NextFile is where the next recognised file begins (or the medium
// ends): a finder that reads every byte gets the entry and the unrecognised data up to there;
// one that walks headers may read to the medium's end, to tell a cut file from a whole one.
TkxCheckChange CheckEntry(TkxDisk& Disk, const TkxFileEntry& E, std::int32_t Index, std::int64_t NextFile,
                          std::int64_t MediumEnd)
{
  TkxCheckChange change{Index, E.Kind, E.Size, E.Check, E.CheckedSize};
  const TkxEndReach reach = EndReach(E.Kind);
  if (reach == TkxEndReach::None || E.Offset < 0 || E.Offset >= MediumEnd) return change;
  const std::int64_t available = MediumEnd - E.Offset;
  TkxDiskSource source(Disk, E.Offset, reach == TkxEndReach::Content ? NextFile - E.Offset : available);
  const TkxFileEnd end = FindFileEnd(E.Kind, source);
  if (end.State == TkxCheckState::NotChecked) return change;
  if (end.Kind != 0) change.Kind = end.Kind;
  change.State = end.State;
  change.CheckedSize = end.Size;
  if (end.State == TkxCheckState::Whole && E.Offset + end.Size > NextFile) change.State = TkxCheckState::Truncated;
  if (change.State == TkxCheckState::Whole)
    change.Size = end.Size;
  else if (change.State == TkxCheckState::Truncated)
    change.Size = std::max(E.Size, std::min(end.Size, available));
  return change;
}

}  // namespace

namespace {

// The entries of a list in the order of their offsets, and where the next file after each one
// begins: the next entry of a recognised kind other than its own. Unrecognised data, text, and
// pieces of its own kind that the scan split off at a header recurring inside a file (a tar
// member, a later pack) may still belong to it; another kind of file does not.
class TOffsetOrder {
 public:
  TOffsetOrder(const TkxFileList& List_, std::int64_t MediumEnd_) : List(List_), MediumEnd(MediumEnd_)
  {
    Order.resize(static_cast<std::size_t>(List.Count));
    std::iota(Order.begin(), Order.end(), 0);
    std::stable_sort(Order.begin(), Order.end(), [&](std::int32_t a, std::int32_t b) { return At(a).Offset < At(b).Offset; });
    NextRecognised.assign(Order.size() + 1, Order.size());
    for (std::size_t k = Order.size(); k-- > 0;)
      NextRecognised[k] = IsRecognisedFile(At(Order[k]).Kind) ? k : NextRecognised[k + 1];
  }
  const TkxFileEntry& At(std::int32_t Index) const { return List.Items[static_cast<std::size_t>(Index)]; }

  std::int64_t NextFile(std::size_t K) const
  {
    const TkxFileEntry& e = At(Order[K]);
    std::size_t j = NextRecognised[K + 1];
    while (j < Order.size() && (At(Order[j]).Kind == e.Kind || At(Order[j]).Offset <= e.Offset)) j = NextRecognised[j + 1];
    return std::max(j < Order.size() ? At(Order[j]).Offset : MediumEnd, e.Offset + e.Size);
  }

  const TkxFileList& List;
  std::int64_t MediumEnd;
  std::vector<std::int32_t> Order;
  std::vector<std::size_t> NextRecognised;
};

// The sectors an entry held after the exact end of the whole file in it, as an entry of
// unrecognised data when they hold anything but zeros.
void AddRest(TkxDisk& Disk, const TkxFileEntry& E, std::int64_t Exact, std::int32_t Count, TkxCheckResult& Result)
{
  const std::int64_t ss = Disk.SectorSize;
  const std::int64_t from = (E.Offset + Exact + ss - 1) / ss * ss, to = E.Offset + E.Size;
  if (to - from < ss) return;
  TkxDiskSource rest(Disk, from, to - from);
  for (std::int64_t pos = 0; pos < to - from;) {
    const auto v = rest.View(pos, 1 << 16);
    if (v.empty()) return;
    if (std::any_of(v.begin(), v.end(), [](std::uint8_t b) { return b != 0; })) {
      TkxFileEntry entry;
      entry.Name = ScanEntryName(Count + static_cast<std::int32_t>(Result.Rest.size()) + 1);
      entry.Offset = from;
      entry.Size = to - from;
      Result.Rest.push_back(std::move(entry));
      return;
    }
    pos += static_cast<std::int64_t>(v.size());
  }
}

}  // namespace

TkxCheckResult CheckFoundFiles(TkxDisk& Disk, const TkxFileList& List, TkxJobControl& Control,
                               const std::function<void(std::int32_t Done, std::int32_t Total)>& Progress)
{
  TkxCheckResult result;
  const std::int64_t mediumEnd = Disk.SectorCount * Disk.SectorSize;
  const TOffsetOrder order(List, mediumEnd);
  // The last file found whole, whose pieces (unrecognised data, text, headers of its own kind
  // that lie inside it) are merged into it.
  std::int64_t wholeFrom = -1, wholeTo = -1;
  TKind wholeKind = 0;
  try {
    for (std::size_t k = 0; k < order.Order.size(); ++k) {
      if (Control.ShouldStop()) {
        result.Stopped = true;
        break;
      }
      const std::int32_t index = order.Order[k];
      const TkxFileEntry& e = order.At(index);
      if (e.Offset > wholeFrom && e.Offset + e.Size <= wholeTo && (!IsRecognisedFile(e.Kind) || e.Kind == wholeKind)) {
        result.Absorbed.push_back(index);
      } else {
        TkxCheckChange c{index, e.Kind, e.Size, e.Check, e.CheckedSize};
        if (e.Check != TkxCheckState::Whole) c = CheckEntry(Disk, e, index, order.NextFile(k), mediumEnd);
        if (c.State != e.Check || c.Size != e.Size || c.Kind != e.Kind || c.CheckedSize != e.CheckedSize)
          result.Changes.push_back(c);
        if (c.State == TkxCheckState::Whole && c.Size < e.Size) AddRest(Disk, e, c.Size, List.Count, result);
        if (c.State == TkxCheckState::Whole) {
          wholeFrom = e.Offset;
          wholeTo = e.Offset + c.Size;
          wholeKind = e.Kind;
        }
      }
      ++result.Checked;
      if (Progress) Progress(result.Checked, List.Count);
    }
  } catch (const std::exception& ex) {
    result.Error = ex.what();
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

}  // namespace kx
