// SPDX-License-Identifier: GPL-3.0-or-later
#include "found/kxFileList.h"

#include "common/kxDisplayText.h"
#include "common/kxPendingFiles.h"
#include "common/kxPlatform.h"
#include "common/kxShared.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <exception>
#include <memory>
#include <random>
#include <thread>
#include <utility>

namespace kx {

namespace {

int Sign(std::int64_t a, std::int64_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

// Byte-wise after folding ASCII a..z to A..Z; a prefix is smaller than the longer string.
int CompareText(std::string_view a, std::string_view b)
{
  const auto fold = [](char c) { return AsciiUpper(static_cast<unsigned char>(c)); };
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int d = fold(a[i]) - fold(b[i]);
    if (d != 0) return d;
  }
  return Sign(static_cast<std::int64_t>(a.size()), static_cast<std::int64_t>(b.size()));
}

// The collator of the user's locale at secondary strength, so that case is ignored but accents
// still count. ICU maps the C/POSIX locale to en_US_POSIX, whose collation orders upper before
// lower case as distinct letters; a user without a locale gets the root collation instead.
std::unique_ptr<icu::Collator> NameCollator()
{
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale locale = icu::Locale::getDefault();
  if (std::string_view(locale.getName()) == "en_US_POSIX") locale = icu::Locale::getRoot();
  std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
  if (U_FAILURE(status)) return nullptr;
  collator->setStrength(icu::Collator::SECONDARY);
  return collator;
}

// What a sort compares of each entry, computed once per entry rather than once per comparison:
// a list of a million entries is sorted in a fraction of a second, and by name in under one.
// Names compare by their collation keys, which order exactly as the collator compares the names;
// extensions by their rank among the kinds' extension texts; numbers as they are.
struct TSortItem {
  std::int64_t Number;      // offset, size or extension rank
  std::uint32_t KeyStart;   // name keys: the key's bytes in TSortKeys::Bytes
  std::uint32_t KeyLength;
  std::int32_t Index;       // the entry's place before the sort
};

class TSortKeys {
 public:
  TSortKeys(const std::vector<TkxFileEntry>& Items_, std::int32_t Count, TkxSortKey Key_)
      : Items(Items_), Key(Key_)
  {
    if (Key == TkxSortKey::skName) Collator = NameCollator();
    std::array<std::int64_t, KindCount> rank{};
    if (Key == TkxSortKey::skExtension) {
      for (int k = 0; k < KindCount; ++k)
        for (int other = 0; other < KindCount; ++other)
          if (CompareText(KindExtensions[other], KindExtensions[k]) < 0) ++rank[static_cast<std::size_t>(k)];
    }
    Sorted.resize(static_cast<std::size_t>(Count));
    std::string utf8;
    for (std::int32_t i = 0; i < Count; ++i) {
      const TkxFileEntry& e = Items[static_cast<std::size_t>(i)];
      TSortItem& item = Sorted[static_cast<std::size_t>(i)];
      item = {0, 0, 0, i};
      switch (Key) {
        case TkxSortKey::skName: AddNameKey(e.Name, item, utf8); break;
        case TkxSortKey::skExtension: item.Number = rank[e.Kind]; break;
        case TkxSortKey::skOffset: item.Number = e.Offset; break;
        case TkxSortKey::skSize: item.Number = e.Size; break;
      }
    }
  }

  std::vector<TSortItem> Sorted;

  // Entries with equal keys are ordered by offset, then by the name's bytes, then by kind and
  // size, so that the random pivot cannot order them differently from one sort to the next and
  // the same scan always writes the same project file.
  template <TkxSortKey K>
  int Compare(const TSortItem& A, const TSortItem& B) const
  {
    if constexpr (K == TkxSortKey::skName) {
      const int r = Collator ? CompareKeys(A, B) : CompareText(Items[Entry(A)].Name, Items[Entry(B)].Name);
      return r != 0 ? r : TieBreak(A, B);
    } else {
      if (A.Number != B.Number) return A.Number < B.Number ? -1 : 1;
      return TieBreak(A, B);
    }
  }

 private:
  int TieBreak(const TSortItem& A, const TSortItem& B) const
  {
    int r = 0;
    const TkxFileEntry& a = Items[Entry(A)];
    const TkxFileEntry& b = Items[Entry(B)];
    if (Key != TkxSortKey::skOffset) r = Sign(a.Offset, b.Offset);
    if (r == 0) r = a.Name.compare(b.Name);
    if (r == 0) r = Sign(a.Kind, b.Kind);
    if (r == 0) r = Sign(a.Size, b.Size);
    return r;
  }

  static std::size_t Entry(const TSortItem& Item) { return static_cast<std::size_t>(Item.Index); }

  void AddNameKey(const std::string& Name, TSortItem& Item, std::string& Utf8)
  {
    if (!Collator) return;
    // A name that is not UTF-8 is read in its legacy code page: as replacement characters,
    // different names would collate as equal.
    const std::string* name = &Name;
    if (!IsUtf8(Name)) {
      Utf8 = NameAsUtf8(Name);
      name = &Utf8;
    }
    const icu::UnicodeString text =
        icu::UnicodeString::fromUTF8(icu::StringPiece(name->data(), static_cast<std::int32_t>(name->size())));
    const std::size_t start = Bytes.size();
    Bytes.resize(start + 64);
    std::int32_t length = Collator->getSortKey(text, Bytes.data() + start, 64);
    if (length > 64) {
      Bytes.resize(start + static_cast<std::size_t>(length));
      length = Collator->getSortKey(text, Bytes.data() + start, length);
    }
    Bytes.resize(start + static_cast<std::size_t>(std::max(length, 0)));
    Item.KeyStart = static_cast<std::uint32_t>(start);
    Item.KeyLength = static_cast<std::uint32_t>(std::max(length, 0));
  }

  int CompareKeys(const TSortItem& A, const TSortItem& B) const
  {
    const std::size_t n = std::min(A.KeyLength, B.KeyLength);
    const int r = std::memcmp(Bytes.data() + A.KeyStart, Bytes.data() + B.KeyStart, n);
    return r != 0 ? r : Sign(A.KeyLength, B.KeyLength);
  }

  const std::vector<TkxFileEntry>& Items;
  TkxSortKey Key;
  std::unique_ptr<icu::Collator> Collator;
  std::basic_string<std::uint8_t> Bytes;
};

constexpr std::int32_t ParallelSortCount = 1 << 16;

std::mt19937& PivotRandom()
{
  thread_local std::mt19937 generator{std::random_device{}()};
  return generator;
}

// Hoare partition around a copy of a randomly chosen item, so that a list that is already sorted
// does not degrade to quadratic time. The smaller side is sorted by recursion and the larger one
// by the loop, which bounds the stack depth by log2(Count).
template <typename TCompare>
void QuickSort(std::vector<TSortItem>& Items, std::int32_t L, std::int32_t R, const TCompare& Compare)
{
  while (L < R) {
    std::int32_t i = L;
    std::int32_t j = R;
    std::uniform_int_distribution<std::int32_t> pick(L, R);
    const TSortItem P = Items[static_cast<std::size_t>(pick(PivotRandom()))];
    do {
      while (Compare(Items[static_cast<std::size_t>(i)], P) < 0) ++i;
      while (Compare(Items[static_cast<std::size_t>(j)], P) > 0) --j;
      if (i <= j) {
        if (i != j) std::swap(Items[static_cast<std::size_t>(i)], Items[static_cast<std::size_t>(j)]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (j - L < R - i) {
      if (L < j) QuickSort(Items, L, j, Compare);
      L = i;
    } else {
      if (i < R) QuickSort(Items, i, R, Compare);
      R = j;
    }
  }
}

}  // namespace

void TkxFileList::Clear()
{
  Count = 0;
  Items.clear();
  Items.shrink_to_fit();
}

void TkxFileList::Add(std::string Name, TKind Kind, std::int64_t Offset, std::int64_t Size, bool Continues)
{
  ++Count;
  if (Items.size() < static_cast<std::size_t>(Count)) Items.resize(static_cast<std::size_t>(Count | 255));
  TkxFileEntry& e = Items[static_cast<std::size_t>(Count - 1)];
  e.Name = std::move(Name);
  e.Kind = Kind;
  e.Offset = Offset;
  e.Size = Size;
  e.Continues = Continues;
}

void TkxFileList::Assign(const TkxFileList& Source)
{
  if (&Source == this) return;
  Items = Source.Items;
  Count = Source.Count;
}

void TkxFileList::Sort(TkxSortKey Key, std::vector<std::int32_t>* Order)
{
  if (Order != nullptr) {
    Order->resize(static_cast<std::size_t>(std::max(Count, 0)));
    for (std::int32_t i = 0; i < Count; ++i) (*Order)[static_cast<std::size_t>(i)] = i;
  }
  if (Count < 2) return;
  TSortKeys keys(Items, Count, Key);
  const auto sortBy = [&keys, this]<TkxSortKey K>() {
    const auto compare = [&keys](const TSortItem& A, const TSortItem& B) { return keys.Compare<K>(A, B); };
    // A long list is sorted in two halves at once, then merged: on a machine of two cores a
    // million names sort in well under a second.
    if (Count < ParallelSortCount || std::thread::hardware_concurrency() < 2) {
      QuickSort(keys.Sorted, 0, Count - 1, compare);
      return;
    }
    const std::int32_t half = Count / 2;
    std::thread lower([&] { QuickSort(keys.Sorted, 0, half - 1, compare); });
    QuickSort(keys.Sorted, half, Count - 1, compare);
    lower.join();
    std::inplace_merge(keys.Sorted.begin(), keys.Sorted.begin() + half, keys.Sorted.end(),
                       [&compare](const TSortItem& A, const TSortItem& B) { return compare(A, B) < 0; });
  };
  switch (Key) {
    case TkxSortKey::skName: sortBy.operator()<TkxSortKey::skName>(); break;
    case TkxSortKey::skExtension: sortBy.operator()<TkxSortKey::skExtension>(); break;
    case TkxSortKey::skOffset: sortBy.operator()<TkxSortKey::skOffset>(); break;
    case TkxSortKey::skSize: sortBy.operator()<TkxSortKey::skSize>(); break;
  }
  // The entries move once, into their sorted places; the spare slots stay behind them.
  std::vector<TkxFileEntry> sorted(Items.size());
  for (std::int32_t i = 0; i < Count; ++i) {
    const std::int32_t from = keys.Sorted[static_cast<std::size_t>(i)].Index;
    sorted[static_cast<std::size_t>(i)] = std::move(Items[static_cast<std::size_t>(from)]);
    if (Order != nullptr) (*Order)[static_cast<std::size_t>(i)] = from;
  }
  Items = std::move(sorted);
}

TkxRowsAfterSort RowsAfterSort(const std::vector<std::int32_t>& Order, const std::vector<TkxRowRange>& Rows,
                               std::int32_t Current)
{
  const auto count = static_cast<std::int32_t>(Order.size());
  std::vector<bool> chosen(Order.size(), false);
  for (const TkxRowRange& range : Rows)
    for (std::int32_t row = std::max(range.First, 0); row <= std::min(range.Last, count - 1); ++row)
      chosen[static_cast<std::size_t>(row)] = true;
  TkxRowsAfterSort after;
  for (std::int32_t row = 0; row < count; ++row) {
    const auto from = static_cast<std::size_t>(Order[static_cast<std::size_t>(row)]);
    if (static_cast<std::int32_t>(from) == Current) after.Current = row;
    if (!chosen[from]) continue;
    if (!after.Rows.empty() && after.Rows.back().Last == row - 1)
      after.Rows.back().Last = row;
    else
      after.Rows.push_back({row, row});
  }
  return after;
}

bool TkxFileList::SaveEntryToFile(const std::string& FileName, const TkxFileEntry& Entry, TkxDisk& Disk)
{
  return WriteEntryFile(FileName, Entry, Disk, TkxCreateMode::Replace) == TkxSaveOutcome::Written;
}

namespace {

// Refuses an entry that gives no file at all; nothing is created for it.
bool EntryHasBytes(const TkxFileEntry& Entry, std::int64_t MediumEnd, std::string& Reason)
{
  if (Entry.Offset < 0)
    Reason = "its offset is negative";
  else if (Entry.Size < 0)
    Reason = "its size is negative";
  // Bytes past the medium's end do not exist: a damaged or hostile project could otherwise fill
  // the disk with zeros up to any size it states.
  else if (Entry.Offset > MediumEnd || (Entry.Offset == MediumEnd && Entry.Size > 0))
    Reason = "it begins past the end of the medium";
  else
    return true;
  return false;
}

// What a failure during the copy means for the file, which is then removed.
TkxSaveOutcome CopyFailure(const EkxIOError& Error, bool Created, TkxCreateMode Mode, std::string& Reason)
{
  Reason = Error.Error != 0 ? std::strerror(Error.Error) : Error.what();
  if (os::IsDiskFull(Error.Error)) return TkxSaveOutcome::DiskFull;
  if (!Created)
    return Error.Error == EEXIST && Mode == TkxCreateMode::Exclusive ? TkxSaveOutcome::NameTaken
                                                                    : TkxSaveOutcome::NoFile;
  return TkxSaveOutcome::Failed;
}

}  // namespace

TkxSaveOutcome TkxFileList::WriteEntryFile(const std::string& FileName, const TkxFileEntry& Entry, TkxDisk& Disk,
                                           TkxCreateMode Mode, std::string* Reason, const TkxReadOptions& How)
{
  std::string reason;
  TkxSaveOutcome outcome = TkxSaveOutcome::Written;
  const std::int64_t mediumEnd = Disk.SectorCount * std::int64_t{Disk.SectorSize};
  bool created = false;
  if (!EntryHasBytes(Entry, mediumEnd, reason)) {
    outcome = TkxSaveOutcome::NoFile;
  } else {
    const std::int64_t readable = std::min(Entry.Size, mediumEnd - Entry.Offset);
    try {
      TkxFileStream stream(FileName, Mode);
      created = true;
      // Removed by a second Ctrl+C too, should one end the program during the copy.
      const TkxPendingFile pending(FileName);
      Disk.CopyToStream(stream, Entry.Offset, readable, How);
      stream.Close();
      if (readable < Entry.Size) {
        reason = "the medium ends before the file does";
        outcome = TkxSaveOutcome::Incomplete;
      }
    } catch (const EkxIOError& e) {
      outcome = CopyFailure(e, created, Mode, reason);
    } catch (const EkxStopped&) {
      reason = "stopped";
      outcome = TkxSaveOutcome::Stopped;
    } catch (const std::exception& e) {
      reason = e.what();
      outcome = created ? TkxSaveOutcome::Failed : TkxSaveOutcome::NoFile;
    }
  }
  if (created && outcome != TkxSaveOutcome::Written && outcome != TkxSaveOutcome::Incomplete) {
    // Half a file is no recovered file.
    std::error_code ec;
    std::filesystem::remove(FileName, ec);
  }
  if (Reason && outcome != TkxSaveOutcome::Written) *Reason = std::move(reason);
  return outcome;
}

}  // namespace kx
