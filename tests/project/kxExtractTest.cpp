#include "project/kxExtract.h"

#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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

std::string Slice(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t n)
{
  return {bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(from + n)};
}

TEST(ExtractNames, TargetFolderPerMode)
{
  EXPECT_EQ(ExtractTargetDir("/out/", 77, TkxExtractMode::Plain), "/out/");
  EXPECT_EQ(ExtractTargetDir("/out/", 0, TkxExtractMode::Plain), "/out/");
  EXPECT_EQ(ExtractTargetDir("/out/", 77, TkxExtractMode::Grouped), "/out/.jpg/");
  EXPECT_EQ(ExtractTargetDir("/out/", 0, TkxExtractMode::Grouped), "/out/Other/");
  EXPECT_EQ(ExtractTargetDir("/out/", 53, TkxExtractMode::Grouped), "/out/.ppt.xls.doc/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/out"), "/out/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/"), "/");
}

TEST(ExtractNames, NamesFromAProjectCannotLeaveTheFolder)
{
  struct Case {
    const char* Name;
    const char* Ext;
    const char* Expected;
  };
  const Case cases[] = {
      {"File 000007", ".jpg", "File 000007"},
      {"640 x -480", ".bmp", "640 x -480"},
      {"", ".html", ""},  // a title of blanks: saved as ".html", as the scan named it
      {"../../etc/passwd", "", ".._.._etc_passwd"},
      {"a\\..\\b", ".txt", "a_.._b"},
      {"..", "", "__"},
      {".", ".jpg", "_"},
      {"...", ".jpg", "___"},
      {"", "", "_"},
      {"C:name", "", "C_name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ExtractEntryName(c.Name, c.Ext), c.Expected);
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
    EXPECT_EQ(r.Failed, "");
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
  const auto r = ExtractEntries(disk, l, rows, dir.Dir(), TkxExtractMode::Grouped,
                                [&progress](std::int32_t done) { progress.push_back(done); });
  EXPECT_EQ(r.Failed, "");
  EXPECT_EQ(r.Written, 4);
  EXPECT_EQ(progress, (std::vector<std::int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(ReadFileText(dir / ".jpg/File 000007.jpg"), Slice(bytes, 0, 100));
  EXPECT_EQ(ReadFileText(dir / ".jpg/File 000010.jpg"), Slice(bytes, 100, 10));
  EXPECT_EQ(ReadFileText(dir / "Other/File 000008"), Slice(bytes, 2048, 2048));
  EXPECT_EQ(ReadFileText(dir / ".ppt.xls.doc/File 000009.ppt.xls.doc"), Slice(bytes, 4096, 10));
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
  EXPECT_EQ(r.Failed, "");
  EXPECT_FALSE(std::filesystem::exists(dir / "escaped.txt"));
  EXPECT_TRUE(std::filesystem::exists(dir / "out/.._escaped.txt"));
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
  l.Add(std::string(300, 'n'), 1, 0, 10, false);  // longer than a file name may be
  l.Add("good", 77, 0, 10, false);
  const std::vector<std::int32_t> rows = {0, 1, 2, 3};
  const auto r = ExtractEntries(disk, l, rows, dir.Dir(), TkxExtractMode::Plain);
  EXPECT_EQ(r.Failed, dir.Dir() + "negative.jpg\n" + dir.Dir() + "unreadable\n" + dir.Dir() + std::string(300, 'n') + ".txt\n");
  EXPECT_EQ(r.Written, 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "negative.jpg"));
  EXPECT_EQ(ReadFileText(dir / "good.jpg"), Slice(bytes, 0, 10));

  // A group folder that cannot be created skips its entry without listing it.
  test::WriteFileText(dir / ".jpg", "a file where the folder should be");
  const std::vector<std::int32_t> good = {3};
  const auto g = ExtractEntries(disk, l, good, dir.Dir(), TkxExtractMode::Grouped);
  EXPECT_EQ(g.Failed, "");
  EXPECT_EQ(g.Written, 0);
  EXPECT_EQ(g.Skipped, 1);
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
