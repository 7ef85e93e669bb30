// SPDX-License-Identifier: GPL-3.0-or-later
#include "project/kxExtract.h"

#include "common/kxShared.h"
#include "media/kxDisks.h"
#include "support/kxHostileNames.h"
#include "support/kxSmallFileSystem.h"
#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace kx {
namespace {

using test::ReadFileText;
using test::TMemoryDisk;
using test::TScratchFolder;

std::vector<std::uint8_t> Pattern(std::size_t n)
{
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + i / 2048);
  return bytes;
}

// The target path of each failed entry, each followed by a line feed.
std::string FailedPaths(const TkxExtractResult& Result)
{
  std::string paths;
  for (const TkxExtractFailure& f : Result.Failures) paths += f.Path + '\n';
  return paths;
}

std::string Slice(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t n)
{
  return {bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(from + n)};
}

TEST(ExtractNames, TargetFolderPerMode)
{
  EXPECT_EQ(ExtractTargetDir("/out/", 77, TkxExtractMode::Plain), "/out/");
  EXPECT_EQ(ExtractTargetDir("/out/", 0, TkxExtractMode::Plain), "/out/");
  // Without the extension's leading dot: a folder named ".jpg" would be hidden.
  EXPECT_EQ(ExtractTargetDir("/out/", 77, TkxExtractMode::Grouped), "/out/jpg/");
  EXPECT_EQ(ExtractTargetDir("/out/", 0, TkxExtractMode::Grouped), "/out/Other/");
  EXPECT_EQ(ExtractTargetDir("/out/", 53, TkxExtractMode::Grouped), "/out/ppt.xls.doc/");
  EXPECT_EQ(ExtractTargetDir("/out/", 66, TkxExtractMode::Grouped), "/out/elf.so.o/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/out"), "/out/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/"), "/");
}

TEST(ExtractNames, NamesFromAProjectCannotLeaveTheFolderNorHideNorShowNothing)
{
  struct Case {
    const char* Name;
    const char* Expected;
  };
  const Case cases[] = {
      {"File 000007", "File 000007"},
      {"640 x -480", "640 x -480"},
      {"", "_"},  // not the hidden ".pas", which would block a grouped extraction
      {"../../etc/passwd", "___.._etc_passwd"},
      {"a\\..\\b", "a_.._b"},
      {"..", "__"},
      {".", "_"},
      {"...", "___"},
      {".hidden", "_hidden"},
      {"a.b", "a.b"},
      {"C:name", "C_name"},
      // Names that show nothing: blanks, a no-break space, an ideographic space, invisible marks.
      {"   ", "_"},
      {"\xc2\xa0\xe3\x80\x80", "_"},
      {"\xe2\x80\x8b\xef\xbb\xbf", "_"},
      {" a ", " a "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ExtractEntryName(c.Name), c.Expected);
  }
}

TEST(ExtractEntries, PlainModeTakesFreeNumberedNames)
{
  TScratchFolder dir;
  const auto bytes = Pattern(8 * 2048);
  TMemoryDisk disk(bytes);
  TkxFileList l;
  l.Add("File 000001", 77, 2048, 3000, false);
  l.Add("File 000002", 0, 6144, 2048, true);
  l.Add("File 000003", 66, 10, 5, false);
  const std::vector<std::int32_t> rows = {0, 1};

  for (int round = 0; round < 3; ++round) {
    const auto r = ExtractEntries(disk, l, rows, dir.Dir(), TkxExtractMode::Plain);
    EXPECT_EQ(FailedPaths(r), "");
    EXPECT_EQ(r.Written, 2);
  }
  EXPECT_EQ(ReadFileText(dir / "File 000001.jpg"), Slice(bytes, 2048, 3000));
  EXPECT_EQ(ReadFileText(dir / "File 000001(2).jpg"), Slice(bytes, 2048, 3000));
  EXPECT_EQ(ReadFileText(dir / "File 000001(3).jpg"), Slice(bytes, 2048, 3000));
  EXPECT_EQ(ReadFileText(dir / "File 000002"), Slice(bytes, 6144, 2048));
  EXPECT_TRUE(std::filesystem::exists(dir / "File 000002(3)"));
  EXPECT_FALSE(std::filesystem::exists(dir / "File 000003.elf.so.o"));

  const std::vector<std::int32_t> third = {2};
  ExtractEntries(disk, l, third, dir.Dir(), TkxExtractMode::Plain);
  EXPECT_EQ(ReadFileText(dir / "File 000003.elf.so.o"), Slice(bytes, 10, 5));
}

TEST(ExtractEntries, GroupedModeUsesOneFolderPerExtension)
{
  TScratchFolder dir;
  const auto bytes = Pattern(4 * 2048);
  TMemoryDisk disk(bytes);
  TkxFileList l;
  l.Add("File 000007", 77, 0, 100, false);
  l.Add("File 000008", 0, 2048, 2048, true);
  l.Add("File 000009", 53, 4096, 10, true);
  l.Add("File 000010", 77, 100, 10, true);
  const std::vector<std::int32_t> rows = {0, 1, 2, 3};
  std::vector<std::int32_t> progress;
  TkxJobControl control;
  const auto r = ExtractEntries(disk, l, rows, dir.Dir(), TkxExtractMode::Grouped, control, [&](const TkxFilesDone& Files) {
    EXPECT_EQ(Files.Total, 4);
    progress.push_back(Files.Done);
  });
  EXPECT_EQ(FailedPaths(r), "");
  EXPECT_EQ(r.Written, 4);
  EXPECT_EQ(progress, (std::vector<std::int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(ReadFileText(dir / "jpg/File 000007.jpg"), Slice(bytes, 0, 100));
  EXPECT_EQ(ReadFileText(dir / "jpg/File 000010.jpg"), Slice(bytes, 100, 10));
  EXPECT_EQ(ReadFileText(dir / "Other/File 000008"), Slice(bytes, 2048, 2048));
  EXPECT_EQ(ReadFileText(dir / "ppt.xls.doc/File 000009.ppt.xls.doc"), Slice(bytes, 4096, 10));
}

TEST(ExtractEntries, HostileNamesStayInsideTheFolder)
{
  TScratchFolder dir;
  TMemoryDisk disk(Pattern(2048));
  std::filesystem::create_directories(dir / "out");
  TkxFileList l;
  l.Add("../escaped", 1, 0, 4, false);
  l.Add("..", 0, 0, 4, false);
  l.Add("", 0, 0, 4, false);
  const std::vector<std::int32_t> rows = {0, 1, 2};
  const auto r = ExtractEntries(disk, l, rows, dir / "out/", TkxExtractMode::Plain);
  EXPECT_EQ(FailedPaths(r), "");
  EXPECT_FALSE(std::filesystem::exists(dir / "escaped.txt"));
  EXPECT_TRUE(std::filesystem::exists(dir / "out/___escaped.txt"));
  EXPECT_TRUE(std::filesystem::exists(dir / "out/__"));
  EXPECT_TRUE(std::filesystem::exists(dir / "out/_"));

  // A dangling link in the folder counts as a taken name, so nothing is written through it.
  std::filesystem::create_symlink(dir / "outside-target", dir / "out/File 000001.jpg");
  TkxFileList one;
  one.Add("File 000001", 77, 0, 4, false);
  const std::vector<std::int32_t> first = {0};
  ExtractEntries(disk, one, first, dir / "out/", TkxExtractMode::Plain);
  EXPECT_FALSE(std::filesystem::exists(dir / "outside-target"));
  EXPECT_TRUE(std::filesystem::exists(dir / "out/File 000001(2).jpg"));
}

TEST(ExtractEntries, FailuresAreListedAndTheRestIsExtracted)
{
  TScratchFolder dir;
  const auto bytes = Pattern(4 * 2048);
  TMemoryDisk disk(bytes);
  disk.ThrowAt = 3;
  TkxFileList l;
  l.Add("negative", 77, -1, 10, false);
  l.Add("unreadable", 0, 3 * 2048, 10, false);
  l.Add(std::string(300, 'n'), 1, 0, 10, false);  // longer than a file name may be: cut
  l.Add("good", 77, 0, 10, false);
  const std::vector<std::int32_t> rows = {0, 1, 2, 3};
  const auto r = ExtractEntries(disk, l, rows, dir.Dir(), TkxExtractMode::Plain);
  EXPECT_EQ(FailedPaths(r), dir.Dir() + "negative.jpg\n" + dir.Dir() + "unreadable\n");
  ASSERT_EQ(r.Failures.size(), 2u);
  EXPECT_EQ(r.Failures[0].Path, dir.Dir() + "negative.jpg");
  EXPECT_EQ(r.Failures[0].Reason, "its offset is negative");
  EXPECT_EQ(r.Failures[1].Path, dir.Dir() + "unreadable");
  EXPECT_EQ(r.Failures[1].Reason, "part file vanished");
  EXPECT_EQ(r.Written, 2);
  EXPECT_EQ(r.NotExtracted, 2);
  EXPECT_FALSE(r.DiskFull);
  EXPECT_FALSE(std::filesystem::exists(dir / "negative.jpg"));
  EXPECT_EQ(ReadFileText(dir / "good.jpg"), Slice(bytes, 0, 10));
  EXPECT_EQ(ReadFileText(dir / (std::string(251, 'n') + ".txt")), Slice(bytes, 0, 10));

  // A group folder that cannot be created skips its entry without listing it.
  test::WriteFileText(dir / "jpg", "a file where the folder should be");
  const std::vector<std::int32_t> good = {3};
  const auto g = ExtractEntries(disk, l, good, dir.Dir(), TkxExtractMode::Grouped);
  EXPECT_EQ(FailedPaths(g), "");
  EXPECT_EQ(g.Written, 0);
  EXPECT_EQ(g.Skipped, 1);
}

std::vector<std::string> FilesIn(const std::string& Dir)
{
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(Dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Names that would deceive or attack whoever lists the folder are written without their
// control and bidirectional characters.
TEST(ExtractEntries, HostileNamesAreWrittenWithoutControls)
{
  TScratchFolder dir;
  TMemoryDisk disk(Pattern(2048));
  TkxFileList l;
  for (const test::THostileName& name : test::HostileNames()) {
    EXPECT_EQ(ExtractEntryName(name.Name), name.FileName) << name.What;
    l.Add(name.Name, 0, 0, 4, false);
  }
  std::vector<std::int32_t> rows(static_cast<std::size_t>(l.Count));
  for (std::int32_t i = 0; i < l.Count; ++i) rows[static_cast<std::size_t>(i)] = i;
  const auto r = ExtractEntries(disk, l, rows, dir.Dir(), TkxExtractMode::Plain);
  EXPECT_EQ(r.Written, l.Count) << FailedPaths(r);
  std::vector<std::string> expected;
  for (const test::THostileName& name : test::HostileNames()) expected.push_back(name.FileName);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FilesIn(dir.Dir()), expected);
}

TEST(ExtractNames, LongNamesAreCutToFitTheFileSystem)
{
  const std::string n300(300, 'n');
  EXPECT_EQ(NumberedFileName("/o/", n300, ".txt", 1), "/o/" + std::string(251, 'n') + ".txt");
  EXPECT_EQ(NumberedFileName("/o/", n300, ".txt", 12), "/o/" + std::string(247, 'n') + "(12).txt");
  EXPECT_EQ(NumberedFileName("/o/", "short", ".txt", 3), "/o/short(3).txt");
  EXPECT_EQ(NumberedFileName("/o/", std::string(255, 'x'), "", 1), "/o/" + std::string(255, 'x'));

  // 150 two-byte characters: byte 251 is the middle of one, so the cut falls before it.
  std::string accents;
  for (int i = 0; i < 150; ++i) accents += "\xC3\xA9";
  std::string cut;
  for (int i = 0; i < 125; ++i) cut += "\xC3\xA9";
  EXPECT_EQ(NumberedFileName("", accents, ".txt", 1), cut + ".txt");
  // Not UTF-8 at the cut (Latin-1 bytes): cut at the byte.
  const std::string latin(300, '\xA9');
  EXPECT_EQ(NumberedFileName("", latin, ".txt", 1), std::string(251, '\xA9') + ".txt");
}

TEST(ExtractEntries, LongNamesAreWrittenUnderTheirCutName)
{
  TScratchFolder dir;
  const auto bytes = Pattern(2048);
  TMemoryDisk disk(bytes);
  TkxFileList l;
  l.Add(std::string(2000, 'T'), 69, 0, 7, false);
  l.Add(std::string(2000, 'T'), 69, 7, 7, false);
  const std::vector<std::int32_t> rows = {0, 1};
  const auto r = ExtractEntries(disk, l, rows, dir.Dir(), TkxExtractMode::Plain);
  EXPECT_EQ(FailedPaths(r), "");
  const std::string ext(KindExtensions[69]);
  EXPECT_EQ(ReadFileText(dir / (std::string(255 - ext.size(), 'T') + ext)), Slice(bytes, 0, 7));
  EXPECT_EQ(ReadFileText(dir / (std::string(252 - ext.size(), 'T') + "(2)" + ext)), Slice(bytes, 7, 7));
  EXPECT_EQ(l.Items[0].Name.size(), 2000u);
}

TEST(ExtractEntries, AnEmptyNameIsNeitherHiddenNorBlocksAGroupedExtraction)
{
  TScratchFolder dir;
  TMemoryDisk disk(Pattern(2048));
  TkxFileList l;
  const TKind pas = KindOfExtension(".pas");
  l.Add("", pas, 0, 4, false);
  const std::vector<std::int32_t> rows = {0};
  EXPECT_EQ(ExtractEntries(disk, l, rows, dir.Dir(), TkxExtractMode::Plain).Written, 1);
  const auto g = ExtractEntries(disk, l, rows, dir.Dir(), TkxExtractMode::Grouped);
  EXPECT_EQ(g.Written, 1);
  EXPECT_EQ(g.Skipped, 0);
  EXPECT_EQ(FilesIn(dir.Dir()), (std::vector<std::string>{"_.pas", "pas"}));
  EXPECT_EQ(FilesIn(dir / "pas"), (std::vector<std::string>{"_.pas"}));
}

TEST(ExtractEntries, NothingPastTheMediumsEndIsWritten)
{
  TScratchFolder dir;
  const auto bytes = Pattern(4 * 2048);
  TMemoryDisk disk(bytes);
  TkxFileList l;
  l.Add("inside", 0, 2048, 3 * 2048, false);              // ends exactly at the end
  l.Add("overlong", 0, 4096, 1'000'000'000, false);       // 4 KB readable, 1 GB stated
  l.Add("beyond", 0, 4 * 2048 + 1, 10, false);            // starts past the end
  l.Add("at-end", 0, 4 * 2048, 10, false);                // starts at the end: nothing readable
  l.Add("empty-at-end", 0, 4 * 2048, 0, false);
  l.Add("huge", 0, 0, 9'000'000'000'000'000'000, false);  // would never finish
  const std::vector<std::int32_t> rows = {0, 1, 2, 3, 4, 5};
  const auto r = ExtractEntries(disk, l, rows, dir.Dir(), TkxExtractMode::Plain);
  EXPECT_EQ(FailedPaths(r), dir.Dir() + "overlong\n" + dir.Dir() + "beyond\n" + dir.Dir() + "at-end\n" + dir.Dir() + "huge\n");
  std::vector<std::string> reasons;
  for (const auto& f : r.Failures) reasons.push_back(f.Reason);
  EXPECT_EQ(reasons, (std::vector<std::string>{"the medium ends before the file does", "it begins past the end of the medium",
                                               "it begins past the end of the medium", "the medium ends before the file does"}));
  EXPECT_EQ(r.Written, 2);
  EXPECT_EQ(r.NotExtracted, 4);
  EXPECT_EQ(ReadFileText(dir / "inside"), Slice(bytes, 2048, 3 * 2048));
  EXPECT_EQ(ReadFileText(dir / "overlong"), Slice(bytes, 4096, 4096));
  EXPECT_EQ(ReadFileText(dir / "huge"), Slice(bytes, 0, 4 * 2048));
  EXPECT_EQ(ReadFileText(dir / "empty-at-end"), "");
  EXPECT_FALSE(std::filesystem::exists(dir / "beyond"));
  EXPECT_FALSE(std::filesystem::exists(dir / "at-end"));
}

TEST(ExtractEntries, NumberingContinuesWhereItStopped)
{
  TScratchFolder dir;
  TMemoryDisk disk(Pattern(2048));
  TkxFileList l;
  for (int i = 0; i < 5; ++i) l.Add("same", 77, i, 1, false);
  l.Add("same", 0, 0, 1, false);  // another extension numbers on its own
  const std::vector<std::int32_t> rows = {0, 1, 2};
  // A name freed during the extraction is not searched again: the numbers below the last one
  // taken are known to be taken. Freed by the progress report after the second file.
  TkxJobControl control;
  const auto r = ExtractEntries(disk, l, rows, dir.Dir(), TkxExtractMode::Plain, control, [&dir](const TkxFilesDone& Files) {
    if (Files.Done == 2) std::filesystem::remove(dir / "same.jpg");
  });
  EXPECT_EQ(r.Written, 3);
  EXPECT_EQ(FilesIn(dir.Dir()), (std::vector<std::string>{"same(2).jpg", "same(3).jpg"}));

  TkxFreeNames names;
  test::WriteFileText(dir / "same(4).jpg", "");
  EXPECT_EQ(names.Next(dir.Dir(), "same", ".jpg"), dir / "same.jpg");
  test::WriteFileText(dir / "same.jpg", "");
  EXPECT_EQ(names.Next(dir.Dir(), "same", ".jpg"), dir / "same(5).jpg");
  EXPECT_EQ(names.Next(dir.Dir(), "same", ""), dir / "same");
  EXPECT_EQ(FreeFileName(dir.Dir(), "same", ".jpg"), dir / "same(5).jpg");
}

// Every file below Folder, as paths relative to it.
std::set<std::string> FilesBelow(const std::string& Folder)
{
  std::set<std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(Folder))
    if (e.is_regular_file()) files.insert(std::filesystem::relative(e.path(), Folder).string());
  return files;
}

// The dry run shows what the extraction writes: the same files in the same folders, passing the
// names taken in the folder and, since it writes nothing, the names it planned before.
TEST(PlanExtraction, NamesTheFilesTheExtractionThenWrites)
{
  TMemoryDisk disk(Pattern(4 * 2048));
  TkxFileList l;
  l.Add("same", 77, 0, 10, false);
  l.Add("same", 77, 2048, 10, false);
  l.Add("same", 0, 0, 10, false);
  l.Add("a/b", 1, 0, 5, false);
  l.Add("", 9, 0, 3, false);
  l.Add("same", 77, 4096, 10, false);
  const std::vector<std::int32_t> rows = {0, 1, 2, 3, 4, 5, 99};  // 99 lies past the list
  for (const TkxExtractMode mode : {TkxExtractMode::Plain, TkxExtractMode::Grouped}) {
    TScratchFolder dir;
    const std::string taken = mode == TkxExtractMode::Plain ? "same.jpg" : "jpg/same(2).jpg";
    std::filesystem::create_directories(std::filesystem::path(dir / taken).parent_path());
    test::WriteFileText(dir / taken, "");
    std::set<std::string> planned;
    for (const TkxPlannedFile& f : PlanExtraction(l, rows, dir.Dir(), mode))
      planned.insert(std::filesystem::relative(f.FileName, dir.Path).string());
    EXPECT_EQ(planned.size(), 6u);
    ExtractEntries(disk, l, rows, dir.Dir(), mode);
    std::set<std::string> written = FilesBelow(dir.Dir());
    written.erase(taken);
    EXPECT_EQ(planned, written);
  }
  TScratchFolder dir;
  std::vector<std::string> names;
  for (const TkxPlannedFile& f : PlanExtraction(l, rows, dir.Dir(), TkxExtractMode::Plain))
    names.push_back(std::filesystem::path(f.FileName).filename().string());
  EXPECT_EQ(names, (std::vector<std::string>{"same.jpg", "same(2).jpg", "same", "a_b.txt", "_.pas", "same(3).jpg"}));
}

TEST(ExtractEntries, ConcurrentExtractionsIntoOneFolderKeepEveryFile)
{
  TScratchFolder dir;
  constexpr int n = 1000;
  // Entry i holds the two bytes of i, so that every entry's content differs.
  std::vector<std::uint8_t> bytes(2 * n);
  TkxFileList l;
  std::vector<std::int32_t> rows;
  for (int i = 0; i < n; ++i) {
    bytes[2 * static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    bytes[2 * static_cast<std::size_t>(i) + 1] = static_cast<std::uint8_t>(i >> 8);
    l.Add("same", 77, 2 * i, 2, false);
    rows.push_back(i);
  }
  TkxExtractResult a;
  TkxExtractResult b;
  {
    std::thread other([&] {
      TMemoryDisk disk(bytes);
      b = ExtractEntries(disk, l, rows, dir.Dir(), TkxExtractMode::Plain);
    });
    TMemoryDisk disk(bytes);
    a = ExtractEntries(disk, l, rows, dir.Dir(), TkxExtractMode::Plain);
    other.join();
  }
  EXPECT_EQ(a.Written + b.Written, 2 * n);
  // Every entry's bytes are in exactly two files: no run overwrote a file of the other.
  std::map<std::string, int> copies;
  for (const std::string& f : FilesIn(dir.Dir())) ++copies[ReadFileText(dir / f)];
  ASSERT_EQ(copies.size(), static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) EXPECT_EQ(copies[Slice(bytes, 2 * static_cast<std::size_t>(i), 2)], 2) << "entry " << i;
}

TEST(ExtractEntries, AGroupFolderThatIsALinkIsNotFollowed)
{
  TScratchFolder dir;
  TMemoryDisk disk(Pattern(2048));
  std::filesystem::create_directories(dir / "out");
  std::filesystem::create_directories(dir / "elsewhere");
  std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "out/jpg");
  std::filesystem::create_symlink(dir / "missing", dir / "out/Other");
  TkxFileList l;
  l.Add("photo", 77, 0, 4, false);
  l.Add("data", 0, 0, 4, false);
  l.Add("page", 20, 0, 4, false);
  const std::vector<std::int32_t> rows = {0, 1, 2};
  const auto r = ExtractEntries(disk, l, rows, dir / "out/", TkxExtractMode::Grouped);
  EXPECT_EQ(FailedPaths(r), "");
  EXPECT_EQ(r.Skipped, 2);
  EXPECT_EQ(r.Written, 1);
  EXPECT_EQ(r.NotExtracted, 2);
  EXPECT_TRUE(FilesIn(dir / "elsewhere").empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
  EXPECT_TRUE(std::filesystem::is_regular_file(dir / "out/bmp/page.bmp"));
}

TEST(ExtractEntries, AStopRequestEndsBeforeTheNextFile)
{
  TScratchFolder dir;
  TMemoryDisk disk(Pattern(2048));
  TkxFileList l;
  for (int i = 0; i < 5; ++i) l.Add("f" + std::to_string(i), 0, i, 1, false);
  const std::vector<std::int32_t> rows = {0, 1, 2, 3, 4};
  TkxJobControl control;
  const auto stopAfterTwo = [&control](const TkxFilesDone& Files) {
    if (Files.Done == 2) control.RequestStop();
  };
  const auto r = ExtractEntries(disk, l, rows, dir.Dir(), TkxExtractMode::Plain, control, stopAfterTwo);
  EXPECT_TRUE(r.Outcome.IsStopped());
  EXPECT_EQ(r.Written, 2);
  EXPECT_EQ(r.NotExtracted, 3);
  EXPECT_EQ(FilesIn(dir.Dir()), (std::vector<std::string>{"f0", "f1"}));
}

// A medium on whose read of sector StopAt a stop is requested; by default the sector whose read
// then breaks off (ThrowAt), as a signal breaks off a write.
class TStoppedInARead final : public TkxDisk {
 public:
  TStoppedInARead(TMemoryDisk& Disk_, TkxJobControl& Control_, std::int64_t StopAt_ = -1)
      : Disk(Disk_), Control(Control_), StopAt(StopAt_ >= 0 ? StopAt_ : Disk_.ThrowAt)
  {
    SectorCount = Disk.SectorCount;
  }
  std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector, const TkxReadOptions&) override
  {
    if (FirstSector <= StopAt && StopAt < FirstSector + Count) Control.RequestStop();
    return Disk.ReadSectors(Buffer, Count, FirstSector);
  }

 private:
  TMemoryDisk& Disk;
  TkxJobControl& Control;
  const std::int64_t StopAt;
};

// An image cut short while it is extracted: the file that reaches the cut is removed and listed
// with the reason, naming the image; files before the cut are whole.
TEST(ExtractEntries, AnImageCutShortGivesNoFileOfZeros)
{
  TScratchFolder dir;
  const auto bytes = Pattern(8 * 2048);
  test::WriteFileText(dir / "disc.iso", Slice(bytes, 0, bytes.size()));
  TkxDiskImage image(dir / "disc.iso");
  ASSERT_TRUE(image.Opened);
  std::filesystem::resize_file(dir / "disc.iso", 3 * 2048 + 100);
  std::filesystem::create_directories(dir / "out");
  TkxFileList l;
  l.Add("before", 0, 2048, 2048, false);
  l.Add("across", 0, 2 * 2048, 4 * 2048, false);
  l.Add("after", 0, 6 * 2048, 10, false);
  const std::vector<std::int32_t> rows = {0, 1, 2};
  const auto r = ExtractEntries(image, l, rows, dir / "out/", TkxExtractMode::Plain);
  EXPECT_EQ(r.Written, 1);
  EXPECT_EQ(r.NotExtracted, 2);
  ASSERT_EQ(r.Failures.size(), 2u);
  EXPECT_EQ(r.Failures[0].Path, dir / "out/across");
  EXPECT_EQ(r.Failures[0].Reason, "\"" + (dir / "disc.iso") + "\" is shorter than when the image was opened: it was cut or replaced");
  EXPECT_EQ(FilesIn(dir / "out"), std::vector<std::string>{"before"});
  EXPECT_EQ(ReadFileText(dir / "out/before"), Slice(bytes, 2048, 2048));
}

// A stop during the second of three files ends that file at once, removes it and counts it as not
// extracted, with the file after it: a stop between two chunks of a large file (one of gigabytes
// does not hold a stop for the seconds it takes), and a read that the stop's signal broke off.
TEST(ExtractEntries, AFileLeftIncompleteWhileStoppingIsRemovedNotListed)
{
  constexpr std::int64_t chunk = TkxDisk::ChunkSectors;
  struct TCase {
    const char* What;
    std::int64_t Sectors;
    std::int64_t ThrowAt;  // the read that breaks off
    std::int64_t StopAt;
    std::int64_t Offset, Size;  // of the second file
    std::int64_t LastRead;
  };
  for (const TCase& c : {TCase{"between chunks", 5 * chunk, -1, chunk, 0, 5 * chunk * 2048, 2 * chunk - 1},
                         TCase{"in a read", 4, 3, 3, 2 * 2048, 2 * 2048, 2}}) {
    SCOPED_TRACE(c.What);
    TScratchFolder dir;
    TMemoryDisk memory(Pattern(static_cast<std::size_t>(c.Sectors * 2048)));
    memory.ThrowAt = c.ThrowAt;
    TkxJobControl control;
    TStoppedInARead disk(memory, control, c.StopAt);
    TkxFileList l;
    l.Add("whole", 0, 0, 2048, false);
    l.Add("cut", 0, c.Offset, c.Size, false);
    l.Add("never", 0, 0, 10, false);
    const std::vector<std::int32_t> rows = {0, 1, 2};
    const auto r = ExtractEntries(disk, l, rows, dir.Dir(), TkxExtractMode::Plain, control);
    EXPECT_TRUE(r.Outcome.IsStopped());
    EXPECT_EQ(r.Written, 1);
    EXPECT_EQ(r.NotExtracted, 2);
    EXPECT_EQ(FailedPaths(r), "");
    EXPECT_EQ(FilesIn(dir.Dir()), std::vector<std::string>{"whole"});
    EXPECT_EQ(memory.SectorsRead.back(), c.LastRead) << "nothing more was read";
  }

  TScratchFolder dir;
  TMemoryDisk memory(Pattern(4 * 2048));
  memory.ThrowAt = 3;
  TkxFileList l;
  l.Add("cut", 0, 2 * 2048, 2 * 2048, false);
  // Without a stop the same break is a failure, listed; the part written goes too: only whole
  // files are left.
  const std::vector<std::int32_t> cut = {0};
  const auto f = ExtractEntries(memory, l, cut, dir.Dir(), TkxExtractMode::Plain);
  EXPECT_FALSE(f.Outcome.IsStopped());
  EXPECT_EQ(FailedPaths(f), dir.Dir() + "cut\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "cut"));
}

// A medium whose read of sector Gate first tells the test through a pipe and then waits on
// another pipe that nobody writes to: the process stands inside the copy until it is killed.
class TGatedDisk final : public TkxDisk {
 public:
  TGatedDisk(TMemoryDisk& Disk_, std::int64_t Gate_, int Reached_, int Wait_)
      : Disk(Disk_), Gate(Gate_), Reached(Reached_), Wait(Wait_)
  {
    SectorCount = Disk.SectorCount;
  }
  std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector, const TkxReadOptions&) override
  {
    if (FirstSector <= Gate && Gate < FirstSector + Count) {
      char c = 'r';
      if (::write(Reached, &c, 1) != 1 || ::read(Wait, &c, 1) != 1) std::_Exit(3);
    }
    return Disk.ReadSectors(Buffer, Count, FirstSector);
  }

 private:
  TMemoryDisk& Disk;
  std::int64_t Gate;
  int Reached;
  int Wait;
};

// A run killed with SIGKILL in the middle of a file leaves no part of it under its name, and the
// next run writes it whole under that name, not beside a leftover as "A(2)", and clears what the
// killed run left.
TEST(ExtractEntries, AKilledRunLeavesNoPartialFileAndTheRerunTakesTheName)
{
  TScratchFolder dir;
  const auto bytes = Pattern(3 * TkxDisk::ChunkSectors * 2048);
  TMemoryDisk memory(bytes);
  TkxFileList l;
  l.Add("A", 77, 0, static_cast<std::int64_t>(bytes.size()), false);
  const std::vector<std::int32_t> rows = {0};
  int reached[2];
  int wait[2];
  ASSERT_EQ(::pipe(reached), 0);
  ASSERT_EQ(::pipe(wait), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Its first chunk is written when the second one's read reaches the gate.
    TGatedDisk gated(memory, TkxDisk::ChunkSectors, reached[1], wait[0]);
    ExtractEntries(gated, l, rows, dir.Dir(), TkxExtractMode::Plain);
    std::_Exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(reached[0], &c, 1), 1);
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  for (const int fd : {reached[0], reached[1], wait[0], wait[1]}) ::close(fd);
  const std::vector<std::string> left = FilesIn(dir.Dir());
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(TemporaryFileOwner(left[0]), static_cast<std::uint32_t>(child)) << left[0];
  EXPECT_GT(std::filesystem::file_size(dir / left[0]), 0u) << "the killed run was inside the file";

  const auto r = ExtractEntries(memory, l, rows, dir.Dir(), TkxExtractMode::Plain);
  EXPECT_EQ(r.Written, 1);
  EXPECT_EQ(FilesIn(dir.Dir()), std::vector<std::string>{"A.jpg"});
  EXPECT_EQ(ReadFileText(dir / "A.jpg"), Slice(bytes, 0, bytes.size()));
}

TEST(ExtractEntries, AFullDiskStopsTheExtractionAndRemovesTheIncompleteFile)
{
  test::TSmallFileSystem small(64 * 1024);
  KX_REQUIRE_MOUNTED(small);
  const auto bytes = Pattern(64 * 2048);
  TMemoryDisk disk(bytes);
  TkxFileList l;
  for (int i = 0; i < 10; ++i) l.Add("part" + std::to_string(i), 0, i * 20480, 20480, false);
  std::vector<std::int32_t> rows(10);
  for (int i = 0; i < 10; ++i) rows[static_cast<std::size_t>(i)] = i;
  const auto r = ExtractEntries(disk, l, rows, small.Dir(), TkxExtractMode::Plain);
  EXPECT_TRUE(r.DiskFull);
  EXPECT_EQ(r.Written, 3);  // 16 pages of 4 KiB hold three files of five pages
  EXPECT_EQ(r.NotExtracted, 7);
  EXPECT_EQ(FailedPaths(r), small / "part3" + "\n");
  ASSERT_EQ(r.Failures.size(), 1u);
  EXPECT_EQ(r.Failures[0].Reason, "No space left on device");
  EXPECT_EQ(FilesIn(small.Dir()), (std::vector<std::string>{"part0", "part1", "part2"}));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(ReadFileText(small / ("part" + std::to_string(i))), Slice(bytes, static_cast<std::size_t>(i) * 20480, 20480));
}

TEST(ExtractFailureMessage, CutsTheListAt400Characters)
{
  EXPECT_EQ(ExtractFailureMessage(""), "");
  const std::string heading = "The following files could not be extracted:\n\n";
  const std::string exact = std::string(399, 'a') + "\n";
  EXPECT_EQ(ExtractFailureMessage(exact), heading + exact);
  const std::string longer = std::string(400, 'b') + "\n";
  EXPECT_EQ(ExtractFailureMessage(longer), heading + std::string(400, 'b') + "...");
}

}  // namespace
}  // namespace kx
