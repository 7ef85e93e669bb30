#include "project/kxFileList.h"

#include "common/kxShared.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <exception>
#include <memory>
#include <random>
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

class TEntryCompare {
 public:
  explicit TEntryCompare(TkxSortKey Key_) : Key(Key_)
  {
    if (Key == TkxSortKey::skName) Collator = NameCollator();
  }

  // Entries with equal keys are ordered by offset, then by the name's bytes, then by kind and
  // size, so that the random pivot cannot order them differently from one sort to the next and
  // the same scan always writes the same project file.
  int operator()(const TkxFileEntry& A, const TkxFileEntry& B) const
  {
    int r = ByKey(A, B);
    if (r == 0 && Key != TkxSortKey::skOffset) r = Sign(A.Offset, B.Offset);
    if (r == 0) r = A.Name.compare(B.Name);
    if (r == 0) r = Sign(A.Kind, B.Kind);
    if (r == 0) r = Sign(A.Size, B.Size);
    return r;
  }

 private:
  int ByKey(const TkxFileEntry& A, const TkxFileEntry& B) const
  {
    switch (Key) {
      case TkxSortKey::skName:
        if (Collator) {
          // A name that is not UTF-8 is read in its legacy code page: as replacement
          // characters, different names would collate as equal.
          std::string convertedA;
          std::string convertedB;
          const std::string& a = IsUtf8(A.Name) ? A.Name : (convertedA = NameAsUtf8(A.Name));
          const std::string& b = IsUtf8(B.Name) ? B.Name : (convertedB = NameAsUtf8(B.Name));
          UErrorCode status = U_ZERO_ERROR;
          const auto r = Collator->compareUTF8(icu::StringPiece(a.data(), static_cast<std::int32_t>(a.size())),
                                               icu::StringPiece(b.data(), static_cast<std::int32_t>(b.size())),
                                               status);
          if (U_SUCCESS(status)) return static_cast<int>(r);
        }
        return CompareText(A.Name, B.Name);
      case TkxSortKey::skExtension:
        return CompareText(KindExtensions[A.Kind], KindExtensions[B.Kind]);
      case TkxSortKey::skOffset:
        return Sign(A.Offset, B.Offset);
      case TkxSortKey::skSize:
        return Sign(A.Size, B.Size);
    }
    return 0;
  }

  TkxSortKey Key;
  std::unique_ptr<icu::Collator> Collator;
};

std::mt19937& PivotRandom()
{
  thread_local std::mt19937 generator{std::random_device{}()};
  return generator;
}

// Hoare partition around a copy of a randomly chosen entry, so that a list that is already
// sorted does not degrade to quadratic time. The smaller side is sorted by recursion and the
// larger one by the loop, which bounds the stack depth by log2(Count).
void QuickSort(std::vector<TkxFileEntry>& Items, std::int32_t L, std::int32_t R, const TEntryCompare& Compare)
{
  while (L < R) {
    std::int32_t i = L;
    std::int32_t j = R;
    std::uniform_int_distribution<std::int32_t> pick(L, R);
    const TkxFileEntry P = Items[static_cast<std::size_t>(pick(PivotRandom()))];
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

void TkxFileList::Sort(TkxSortKey Key)
{
  if (Count < 2) return;
  const TEntryCompare compare(Key);
  QuickSort(Items, 0, Count - 1, compare);
}

bool TkxFileList::SaveEntryToFile(const std::string& FileName, const TkxFileEntry& Entry, TkxDisk& Disk)
{
  return WriteEntryFile(FileName, Entry, Disk, TkxCreateMode::Replace) == TkxSaveOutcome::Written;
}

TkxSaveOutcome TkxFileList::WriteEntryFile(const std::string& FileName, const TkxFileEntry& Entry, TkxDisk& Disk,
                                           TkxCreateMode Mode, std::string* Reason)
{
  const auto because = [Reason](std::string Text) {
    if (Reason) *Reason = std::move(Text);
  };
  if (Entry.Offset < 0) {
    because("its offset is negative");
    return TkxSaveOutcome::NoFile;
  }
  // Bytes past the medium's end do not exist: a damaged or hostile project could otherwise fill
  // the disk with zeros up to any size it states.
  const std::int64_t mediumEnd = Disk.SectorCount * std::int64_t{Disk.SectorSize};
  if (Entry.Offset > mediumEnd || (Entry.Offset == mediumEnd && Entry.Size > 0)) {
    because("it begins past the end of the medium");
    return TkxSaveOutcome::NoFile;
  }
  const std::int64_t readable = std::min(Entry.Size, mediumEnd - Entry.Offset);
  bool created = false;
  try {
    TkxFileStream stream(FileName, Mode);
    created = true;
    Disk.CopyToStream(stream, Entry.Offset, readable);
    stream.Close();
    if (readable == Entry.Size) return TkxSaveOutcome::Written;
    because("the medium ends before the file does");
    return TkxSaveOutcome::Incomplete;
  } catch (const EkxIOError& e) {
    because(e.Error != 0 ? std::strerror(e.Error) : e.what());
    if (e.Error == ENOSPC || e.Error == EDQUOT) {
      if (created) {
        std::error_code ec;
        std::filesystem::remove(FileName, ec);
      }
      return TkxSaveOutcome::DiskFull;
    }
    if (!created) return e.Error == EEXIST && Mode == TkxCreateMode::Exclusive ? TkxSaveOutcome::NameTaken : TkxSaveOutcome::NoFile;
    return TkxSaveOutcome::Incomplete;
  } catch (const std::exception& e) {
    because(e.what());
    return created ? TkxSaveOutcome::Incomplete : TkxSaveOutcome::NoFile;
  }
}

}  // namespace kx
