// SPDX-License-Identifier: GPL-3.0-or-later
#include "found/kxFileList.h"

#include "support/kxTestMedia.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace kx {
namespace {

using test::TMemoryDisk;
using test::TScratchFolder;

std::vector<std::string> Names(const TkxFileList& l)
{
  std::vector<std::string> names;
  for (std::int32_t i = 0; i < l.Count; ++i) names.push_back(l.Items[static_cast<std::size_t>(i)].Name);
  return names;
}

TEST(FileListAdd, GrowsInBlocksOf256AndClearReleasesAll)
{
  TkxFileList l;
  EXPECT_EQ(l.Items.size(), 0u);
  l.Add("File 000001", 77, 2048, 4096, true);
  EXPECT_EQ(l.Count, 1);
  EXPECT_EQ(l.Items.size(), 255u);
  for (int i = 2; i <= 255; ++i) l.Add("x", 1, i, i, false);
  EXPECT_EQ(l.Count, 255);
  EXPECT_EQ(l.Items.size(), 255u);
  l.Add("File 000256", 44, -5, 5'000'000'000, false);
  EXPECT_EQ(l.Items.size(), 511u);
  for (int i = 257; i <= 512; ++i) l.Add("y", 0, i, i, true);
  EXPECT_EQ(l.Items.size(), 767u);

  // Existing entries keep their values across growth; new spare slots are empty.
  EXPECT_EQ(l.Items[0].Name, "File 000001");
  EXPECT_EQ(l.Items[0].Kind, 77);
  EXPECT_EQ(l.Items[0].Offset, 2048);
  EXPECT_EQ(l.Items[0].Size, 4096);
  EXPECT_TRUE(l.Items[0].Continues);
  EXPECT_EQ(l.Items[255].Size, 5'000'000'000);
  EXPECT_EQ(l.Items[255].Offset, -5);
  EXPECT_TRUE(l.Items[600].Name.empty());
  EXPECT_EQ(l.Items[600].Size, 0);

  l.Clear();
  EXPECT_EQ(l.Count, 0);
  EXPECT_EQ(l.Items.size(), 0u);
}

TEST(FileListAssign, CopiesCountAndSpareSlotsIndependently)
{
  TkxFileList src;
  src.Add("a", 1, 0, 10, true);
  src.Add("b", 2, 2048, 20, false);
  TkxFileList dst;
  for (int i = 0; i < 300; ++i) dst.Add("old", 0, 0, 0, false);

  dst.Assign(src);
  EXPECT_EQ(dst.Count, 2);
  EXPECT_EQ(dst.Items.size(), 255u);
  EXPECT_EQ(Names(dst), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(dst.Items[2].Name.empty());

  src.Items[0].Name = "changed";
  src.Add("c", 3, 0, 0, false);
  EXPECT_EQ(dst.Items[0].Name, "a");
  EXPECT_EQ(dst.Count, 2);

  TkxFileList empty;
  dst.Assign(empty);
  EXPECT_EQ(dst.Count, 0);
  EXPECT_EQ(dst.Items.size(), 0u);
}

TEST(FileListSort, ShortListsAndSpareSlotsAreUntouched)
{
  TkxFileList l;
  l.Sort(TkxSortKey::skName);
  EXPECT_EQ(l.Count, 0);
  l.Add("z", 0, 9, 9, false);
  l.Sort(TkxSortKey::skOffset);
  EXPECT_EQ(Names(l), std::vector<std::string>{"z"});

  // A spare slot holds an empty name, which would sort first if it were looked at.
  l.Add("b", 0, 1, 1, false);
  l.Sort(TkxSortKey::skName);
  EXPECT_EQ(Names(l), (std::vector<std::string>{"b", "z"}));
  EXPECT_TRUE(l.Items[2].Name.empty());
}

TEST(FileListSort, ByExtensionComparesTheTableTextIgnoringCase)
{
  TkxFileList l;
  const TKind kinds[] = {77, 0, 34, 53, 1, 33, 44, 0, 20};
  for (const TKind k : kinds) l.Add(std::string(KindExtensions[k]), k, 0, 0, false);
  l.Sort(TkxSortKey::skExtension);
  std::vector<std::string> exts;
  for (std::int32_t i = 0; i < l.Count; ++i) exts.emplace_back(KindExtensions[l.Items[static_cast<std::size_t>(i)].Kind]);
  EXPECT_EQ(exts, (std::vector<std::string>{"", "", ".bmp", ".cab", ".cab", ".jpg", ".ppt.xls.doc", ".txt", ".zip"}));
  // 33 and 34 are equal for the sort: both orders are allowed, both must be adjacent.
  EXPECT_TRUE((l.Items[3].Kind == 33 && l.Items[4].Kind == 34) || (l.Items[3].Kind == 34 && l.Items[4].Kind == 33));
}

TEST(FileListSort, NumbersCompareInFull64BitWidth)
{
  TkxFileList l;
  // 4 GiB + 1 and 1 differ only above bit 31; a 32-bit difference would call them equal or
  // reverse them.
  const std::int64_t values[] = {4'294'967'297, 1, 8'589'934'592, -1, 2'147'483'648, 0, 5'000'000'000};
  for (const auto v : values) l.Add(std::to_string(v), 0, v, -v, false);
  l.Sort(TkxSortKey::skOffset);
  std::vector<std::int64_t> offsets;
  for (std::int32_t i = 0; i < l.Count; ++i) offsets.push_back(l.Items[static_cast<std::size_t>(i)].Offset);
  EXPECT_EQ(offsets, (std::vector<std::int64_t>{-1, 0, 1, 2'147'483'648, 4'294'967'297, 5'000'000'000, 8'589'934'592}));

  l.Sort(TkxSortKey::skSize);
  std::vector<std::int64_t> sizes;
  for (std::int32_t i = 0; i < l.Count; ++i) sizes.push_back(l.Items[static_cast<std::size_t>(i)].Size);
  EXPECT_EQ(sizes, (std::vector<std::int64_t>{-8'589'934'592, -5'000'000'000, -4'294'967'297, -2'147'483'648, -1, 0, 1}));
}

TEST(FileListSort, LargeListsWithManyEqualKeysEndSorted)
{
  TkxFileList l;
  for (int i = 0; i < 20000; ++i) l.Add("n", 0, (i * 7919) % 13, i, false);
  l.Sort(TkxSortKey::skOffset);
  for (std::int32_t i = 1; i < l.Count; ++i)
    ASSERT_LE(l.Items[static_cast<std::size_t>(i - 1)].Offset, l.Items[static_cast<std::size_t>(i)].Offset) << i;
  // An already sorted list stays sorted (and must not take quadratic time or deep recursion).
  l.Sort(TkxSortKey::skSize);
  l.Sort(TkxSortKey::skSize);
  for (std::int32_t i = 1; i < l.Count; ++i)
    ASSERT_LT(l.Items[static_cast<std::size_t>(i - 1)].Size, l.Items[static_cast<std::size_t>(i)].Size) << i;
}

class FileListNameSort : public ::testing::Test {
 protected:
  void TearDown() override
  {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(Saved, status);
  }
  void UseLocale(const char* name)
  {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale(name), status);
    ASSERT_TRUE(U_SUCCESS(status));
  }
  static std::vector<std::string> Sorted(std::vector<std::string> names)
  {
    TkxFileList l;
    for (auto& n : names) l.Add(n, 0, 0, 0, false);
    l.Sort(TkxSortKey::skName);
    return Names(l);
  }
  icu::Locale Saved = icu::Locale::getDefault();
};

TEST_F(FileListNameSort, IgnoresCaseAndComparesCharactersNotNumbers)
{
  for (const char* locale : {"en_US_POSIX", "en_US", "de_DE"}) {
    SCOPED_TRACE(locale);
    UseLocale(locale);
    EXPECT_EQ(Sorted({"File 000010", "file 000009", "FILE 000011"}),
              (std::vector<std::string>{"file 000009", "File 000010", "FILE 000011"}));
    EXPECT_EQ(Sorted({"File 999999", "File 1000000"}), (std::vector<std::string>{"File 1000000", "File 999999"}));
  }
}

TEST_F(FileListNameSort, FollowsTheUserLocale)
{
  // Swedish sorts "ä" after "z"; German sorts it with "a".
  const std::vector<std::string> names = {"\xC3\xA4pple", "zebra", "apa"};
  UseLocale("sv_SE");
  EXPECT_EQ(Sorted(names), (std::vector<std::string>{"apa", "zebra", "\xC3\xA4pple"}));
  UseLocale("de_DE");
  EXPECT_EQ(Sorted(names), (std::vector<std::string>{"apa", "\xC3\xA4pple", "zebra"}));
}

TEST_F(FileListNameSort, NamesThatAreNotUtf8AreReadAsWindows1252)
{
  UseLocale("en_US");
  // "\xC9" "cole" is "École" and "\x8Ae" is "Še" in Windows-1252; as replacement characters they
  // would sort together after every letter.
  EXPECT_EQ(Sorted({"Zebra", "\xC9" "cole", "Apfel", "\x8A" "est", "Deck"}),
            (std::vector<std::string>{"Apfel", "Deck", "\xC9" "cole", "\x8A" "est", "Zebra"}));
  // The UTF-8 and the Windows-1252 spelling of a name collate as equal; the bytes then decide.
  EXPECT_EQ(Sorted({"\xC3\xA9t\xC3\xA9", "\xE9t\xE9", "ete"}),
            (std::vector<std::string>{"ete", "\xC3\xA9t\xC3\xA9", "\xE9t\xE9"}));
}

TEST(FileListSort, EqualKeysEndInTheSameOrderEverySort)
{
  // Two scans of one disc give the same entries; their projects must be the same bytes.
  TkxFileList l;
  for (int i = 0; i < 3000; ++i)
    l.Add(i % 2 ? "File" : "file", static_cast<TKind>(i % 3 == 0 ? 33 : (i % 3 == 1 ? 34 : 77)), (i * 7919) % 3001, i % 5, false);
  for (const TkxSortKey key : {TkxSortKey::skName, TkxSortKey::skExtension, TkxSortKey::skOffset, TkxSortKey::skSize}) {
    SCOPED_TRACE(static_cast<int>(key));
    TkxFileList a;
    a.Assign(l);
    TkxFileList b;
    b.Assign(l);
    a.Sort(key);
    b.Sort(key);
    for (std::int32_t i = 0; i < l.Count; ++i) {
      const TkxFileEntry& x = a.Items[static_cast<std::size_t>(i)];
      const TkxFileEntry& y = b.Items[static_cast<std::size_t>(i)];
      ASSERT_TRUE(x.Name == y.Name && x.Kind == y.Kind && x.Offset == y.Offset && x.Size == y.Size) << "row " << i;
    }
  }
  // Within one extension (".cab" of kinds 33 and 34 included) the offsets ascend.
  l.Sort(TkxSortKey::skExtension);
  for (std::int32_t i = 1; i < l.Count; ++i) {
    const TkxFileEntry& p = l.Items[static_cast<std::size_t>(i - 1)];
    const TkxFileEntry& c = l.Items[static_cast<std::size_t>(i)];
    if (KindExtensions[p.Kind] == KindExtensions[c.Kind]) {
      ASSERT_LT(p.Offset, c.Offset) << "row " << i;
    }
  }
}

TEST(SaveEntryToFile, WritesTheRangeAndReportsFailures)
{
  TScratchFolder dir;
  std::vector<std::uint8_t> bytes(3 * 2048);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
  TMemoryDisk disk(bytes);

  const std::string target = dir / "out.bin";
  test::WriteFileText(target, std::string(10000, 'x'));
  TkxFileEntry e{"n", 0, 100, 2500, false};
  ASSERT_TRUE(TkxFileList::SaveEntryToFile(target, e, disk));
  EXPECT_EQ(test::ReadFileText(target), std::string(bytes.begin() + 100, bytes.begin() + 2600));

  // A negative offset or size makes no file at all, not even an empty one.
  const std::string negative = dir / "negative.bin";
  std::string reason;
  for (const TkxFileEntry& bad : {TkxFileEntry{"n", 0, -1, 10, false}, TkxFileEntry{"n", 0, 0, -5, false}}) {
    EXPECT_EQ(TkxFileList::WriteEntryFile(negative, bad, disk, TkxCreateMode::Exclusive, &reason),
              TkxSaveOutcome::NoFile);
    EXPECT_FALSE(std::filesystem::exists(negative)) << reason;
  }
  EXPECT_EQ(reason, "its size is negative");

  EXPECT_FALSE(TkxFileList::SaveEntryToFile(dir / "missing/sub.bin", e, disk));

  // A medium that fails mid-copy: the result is False and the half file is gone.
  disk.ThrowAt = 1;
  const std::string partial = dir / "partial.bin";
  EXPECT_EQ(TkxFileList::WriteEntryFile(partial, TkxFileEntry{"n", 0, 0, 3 * 2048, false}, disk,
                                        TkxCreateMode::Exclusive, &reason),
            TkxSaveOutcome::Failed);
  EXPECT_EQ(reason, "part file vanished");
  EXPECT_FALSE(std::filesystem::exists(partial));
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// Long lists are sorted in halves at once and merged; the order must be the one a single sort
// gives: by the key, ties by offset, whatever order the entries came in.
TEST(FileListSort, LongListsSortByKeyThenOffsetWhateverTheirFirstOrder)
{
  std::mt19937 rnd(11);
  TkxFileList first;
  for (std::int32_t i = 0; i < 100'000; ++i)
    first.Add("name " + std::to_string(rnd() % 500), static_cast<TKind>(rnd() % KindCount), std::int64_t{i} * 2048,
              static_cast<std::int64_t>(rnd() % 1000), false);
  TkxFileList second;
  second.Assign(first);
  std::shuffle(second.Items.begin(), second.Items.begin() + second.Count, rnd);
  for (const TkxSortKey key : {TkxSortKey::skName, TkxSortKey::skExtension, TkxSortKey::skOffset, TkxSortKey::skSize}) {
    first.Sort(key);
    second.Sort(key);
    for (std::int32_t i = 0; i < first.Count; ++i) {
      const auto& a = first.Items[static_cast<std::size_t>(i)];
      const auto& b = second.Items[static_cast<std::size_t>(i)];
      ASSERT_EQ(a.Offset, b.Offset) << "key " << static_cast<int>(key) << ", row " << i;
    }
    for (std::int32_t i = 1; i < first.Count; ++i) {
      const auto& p = first.Items[static_cast<std::size_t>(i - 1)];
      const auto& e = first.Items[static_cast<std::size_t>(i)];
      if (key == TkxSortKey::skSize) {
        ASSERT_TRUE(p.Size < e.Size || (p.Size == e.Size && p.Offset < e.Offset)) << "row " << i;
      } else if (key == TkxSortKey::skOffset) {
        ASSERT_LT(p.Offset, e.Offset);
      }
    }
  }
  EXPECT_EQ(first.Items.size(), second.Items.size()) << "spare slots stay";
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// A selection follows its entries through a sort: 3 chosen rows stay 3, the current row too.
TEST(RowsAfterSort, ChosenEntriesAndTheCurrentOneKeepTheirRowsThroughASort)
{
  TkxFileList l;
  for (const std::int64_t size : {50, 10, 40, 20, 30}) l.Add("s" + std::to_string(size), 1, 0, size, false);
  std::vector<std::int32_t> order;
  l.Sort(TkxSortKey::skSize, &order);
  EXPECT_EQ(order, (std::vector<std::int32_t>{1, 3, 4, 2, 0}));
  // Rows 0, 2 and 3 held the sizes 50, 40 and 20; after the sort they are rows 4, 3 and 1.
  const TkxRowsAfterSort after = RowsAfterSort(order, {{0, 0}, {2, 3}, {7, 9}}, 2);
  ASSERT_EQ(after.Rows.size(), 2u);
  EXPECT_EQ(after.Rows[0].First, 1);
  EXPECT_EQ(after.Rows[0].Last, 1);
  EXPECT_EQ(after.Rows[1].First, 3);
  EXPECT_EQ(after.Rows[1].Last, 4);
  EXPECT_EQ(l.Items[static_cast<std::size_t>(after.Current)].Size, 40);
  EXPECT_EQ(RowsAfterSort(order, {}, -1).Current, -1);

  TkxFileList one;
  one.Add("a", 1, 0, 1, false);
  one.Sort(TkxSortKey::skName, &order);
  EXPECT_EQ(order, std::vector<std::int32_t>{0});
}

}  // namespace
}  // namespace kx
