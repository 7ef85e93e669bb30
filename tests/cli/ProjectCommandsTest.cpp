// SPDX-License-Identifier: GPL-3.0-or-later
// End to end: an image built here is scanned, listed and extracted by tessarin-cli itself.
#include "media/kxRescueMap.h"
#include "support/kxCliRunner.h"
#include "support/kxHostileNames.h"
#include "support/kxSmallFileSystem.h"
#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kx {
namespace {

using test::Lines;
using test::ReadFileText;
using test::RunCli;
using test::TRun;
using test::TScratchFolder;
constexpr std::size_t ss = 2048;

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Sectors: 0-2 a bitmap of 5000 bytes (32 x 16), 3-4 a RIFF wave of 3008 bytes, 5-7 a JPEG
// header and two unrecognised sectors, 8-10 a PDF with a text block and a block holding its
// trailer, 11-13 text ending 200 bytes into sector 13, 14-16 an unrecognised run.
std::vector<std::uint8_t> BuildImage()
{
  std::vector<std::uint8_t> b(17 * ss);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(1 + (i * 7) % 5);  // control bytes: not text
  const auto put = [&b](std::size_t at, std::string_view s) { std::memcpy(&b[at], s.data(), s.size()); };
  put(0, "BM");
  Put32(b, 2, 5000);
  Put32(b, 6, 0);
  Put32(b, 18, 32);
  Put32(b, 22, 16);
  put(3 * ss, "RIFF");
  Put32(b, 3 * ss + 4, 3000);
  put(3 * ss + 8, "WAVE");
  put(5 * ss, "\xFF\xD8\xFF\xE1");
  put(8 * ss, "%PDF-1.3");
  const std::string_view words = "Recovered notes line\n";
  for (std::size_t i = 0; i < ss; ++i) b[9 * ss + i] = static_cast<std::uint8_t>(words[i % words.size()]);
  put(10 * ss + 700, "%%EOF");
  for (std::size_t i = 0; i < 2 * ss + 200; ++i) b[11 * ss + i] = static_cast<std::uint8_t>(words[i % words.size()]);
  std::memset(&b[13 * ss + 200], 0, ss - 200);
  return b;
}

std::string Slice(const std::vector<std::uint8_t>& b, std::size_t from, std::size_t n)
{
  return {b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n)};
}

const std::string TextName = "RecoverednoteslineRecoverednoteslineReco";

TEST(CliScanListExtract, FromImageToProjectToFiles)
{
  TScratchFolder dir;
  const auto image = BuildImage();
  const std::string imagePath = dir / "disc.iso";
  test::WriteFileText(imagePath, Slice(image, 0, image.size()));

  // The classic road: the check after the scan is tested on its own (CliCheck).
  const TRun scan = RunCli("scan --no-check disc.iso -o project", dir.Dir());
  ASSERT_EQ(scan.Status, 0) << scan.Err;
  EXPECT_NE(scan.Out.find("6 files found"), std::string::npos) << scan.Out;
  EXPECT_NE(scan.Out.find(".pdf"), std::string::npos) << scan.Out;

  // Sorted by extension; the location is stored as an absolute path.
  EXPECT_EQ(Lines(ReadFileText(dir / "project.kx")),
            (std::vector<std::string>{"KX", "LOCATION", imagePath, "FILES", "6",
                                      "File 000006", "", std::to_string(14 * ss), std::to_string(3 * ss),
                                      "32 x 16", ".bmp", "0", "5000",
                                      "File 000003", ".jpg", std::to_string(5 * ss), std::to_string(3 * ss),
                                      "File 000004", ".pdf", std::to_string(8 * ss), std::to_string(3 * ss),
                                      TextName, ".txt", std::to_string(11 * ss), std::to_string(2 * ss + 200),
                                      "File 000002", ".wav", std::to_string(3 * ss), "3008"}));

  const TRun list = RunCli("list project.kx --sort offset", dir.Dir());
  ASSERT_EQ(list.Status, 0) << list.Err;
  const auto rows = Lines(list.Out);
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[1].substr(rows[1].size() - 23), "0x000000000        5000");
  EXPECT_EQ(rows[6].substr(0, 11), "File 000006");
  EXPECT_EQ(rows[6].substr(rows[6].size() - 23), "0x000007000        6144");

  const TRun json = RunCli("list project.kx --json", dir.Dir());
  ASSERT_EQ(json.Status, 0) << json.Err;
  EXPECT_NE(json.Out.find("{\"name\": \"File 000004\", \"ext\": \".pdf\", \"kind\": 56, \"family\": \"open\", "
                          "\"offset\": 16384, \"size\": 6144, \"state\": \"unchecked\", \"checked_size\": 0}"),
            std::string::npos) << json.Out;

  // From another folder: the stored absolute location still finds the image.
  std::filesystem::create_directories(dir / "elsewhere");
  const TRun extract = RunCli("extract ../project.kx -d out", dir / "elsewhere");
  ASSERT_EQ(extract.Status, 0) << extract.Err;
  const std::string out = dir / "elsewhere/out/";
  EXPECT_EQ(ReadFileText(out + "File 000006"), Slice(image, 14 * ss, 3 * ss));
  EXPECT_EQ(ReadFileText(out + "32 x 16.bmp"), Slice(image, 0, 5000));
  EXPECT_EQ(ReadFileText(out + "File 000003.jpg"), Slice(image, 5 * ss, 3 * ss));
  EXPECT_EQ(ReadFileText(out + "File 000004.pdf"), Slice(image, 8 * ss, 3 * ss));
  EXPECT_EQ(ReadFileText(out + TextName + ".txt"), Slice(image, 11 * ss, 2 * ss + 200));
  EXPECT_EQ(ReadFileText(out + "File 000002.wav"), Slice(image, 3 * ss, 3008));

  const TRun grouped = RunCli("extract project.kx -d g --grouped --ext JPG --ext .pdf --ext ''", dir.Dir());
  ASSERT_EQ(grouped.Status, 0) << grouped.Err;
  EXPECT_EQ(ReadFileText(dir / "g/jpg/File 000003.jpg"), Slice(image, 5 * ss, 3 * ss));
  EXPECT_EQ(ReadFileText(dir / "g/pdf/File 000004.pdf"), Slice(image, 8 * ss, 3 * ss));
  EXPECT_EQ(ReadFileText(dir / "g/Other/File 000006"), Slice(image, 14 * ss, 3 * ss));
  EXPECT_FALSE(std::filesystem::exists(dir / "g/bmp"));

  // Name fragments span name and extension and ignore case; sizes bound inclusively.
  const TRun filtered = RunCli("extract project.kx -d f --name '0003.JP'", dir.Dir());
  ASSERT_EQ(filtered.Status, 0) << filtered.Err;
  const TRun sized = RunCli("extract project.kx -d f --min-size 3008 --max-size 5000", dir.Dir());
  ASSERT_EQ(sized.Status, 0) << sized.Err;
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir / "f")) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"32 x 16.bmp", "File 000002.wav", "File 000003.jpg", TextName + ".txt"}));

  // Extracting again never overwrites: the second copy takes the next free name.
  ASSERT_EQ(RunCli("extract project.kx -d f --name 0003.jpg", dir.Dir()).Status, 0);
  EXPECT_EQ(ReadFileText(dir / "f/File 000003(2).jpg"), Slice(image, 5 * ss, 3 * ss));
}

TEST(CliScan, DefaultProjectNameNeverReplacesAFile)
{
  TScratchFolder dir;
  const auto image = BuildImage();
  test::WriteFileText(dir / "disc.iso", Slice(image, 0, image.size()));

  ASSERT_EQ(RunCli("scan disc.iso", dir.Dir()).Status, 0);
  const std::string first = ReadFileText(dir / "disc.iso.kx");
  EXPECT_EQ(first.substr(0, 3), "KX\n");

  test::WriteFileText(dir / "disc.iso.kx", "keep me");
  const TRun again = RunCli("scan disc.iso", dir.Dir());
  EXPECT_EQ(again.Status, 1);
  EXPECT_NE(again.Err.find("-o"), std::string::npos) << again.Err;
  EXPECT_EQ(ReadFileText(dir / "disc.iso.kx"), "keep me");

  // -o replaces a project file, but never the image itself.
  ASSERT_EQ(RunCli("scan disc.iso -o disc.iso.kx", dir.Dir()).Status, 0);
  EXPECT_EQ(ReadFileText(dir / "disc.iso.kx"), first);
  EXPECT_EQ(RunCli("scan disc.iso -o disc.iso", dir.Dir()).Status, 1);
  EXPECT_EQ(ReadFileText(dir / "disc.iso"), Slice(image, 0, image.size()));
  // Nor the name of the image's next part, which would join the image when it is next opened.
  EXPECT_EQ(RunCli("scan disc.iso -o ./disc.iso02", dir.Dir()).Status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "disc.iso02"));
}

TEST(CliScan, MediumThatCannotBeOpenedGivesTheMountMessage)
{
  TScratchFolder dir;
  const std::string mount =
      "An error occurred while trying to mount the disk. The specified drive or image file does not exist, "
      "there is no media loaded or the image file has a wrong format.";
  const TRun scan = RunCli("scan missing.iso -o p.kx", dir.Dir());
  EXPECT_EQ(scan.Status, 1);
  EXPECT_NE(scan.Err.find(mount), std::string::npos) << scan.Err;
  EXPECT_FALSE(std::filesystem::exists(dir / "p.kx"));

  test::WriteFileText(dir / "p.kx", "KX\nLOCATION\n" + (dir / "gone.iso") + "\nFILES\n1\nA\n.jpg\n0\n10\n");
  const TRun extract = RunCli("extract p.kx -d out", dir.Dir());
  EXPECT_EQ(extract.Status, 1);
  EXPECT_NE(extract.Err.find(mount), std::string::npos) << extract.Err;

  const TRun list = RunCli("list nothing.kx", dir.Dir());
  EXPECT_EQ(list.Status, 1);
  EXPECT_EQ(list.Err, "tessarin-cli: nothing.kx: No such file or directory\n");
  // A folder given as a project is named as what it is, not "File access denied".
  const TRun folder = RunCli("list .", dir.Dir());
  EXPECT_EQ(folder.Status, 1);
  EXPECT_EQ(folder.Err, "tessarin-cli: .: Is a directory\n");
}

TEST(CliExtract, FailuresAreReportedWithExitStatus1)
{
  TScratchFolder dir;
  test::WriteFileText(dir / "disc.iso", std::string(4 * ss, '\x01'));
  test::WriteFileText(dir / "p.kx", "KX\nLOCATION\n" + (dir / "disc.iso") + "\nFILES\n2\nneg\n.jpg\n-5\n10\nok\n.jpg\n0\n10\n");
  // The failure list names full paths, also when the folder was given relative, and why.
  const TRun r = RunCli("extract p.kx -d out", dir.Dir());
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "tessarin-cli: " + (dir / "out/neg.jpg") + ": its offset is negative\n") << r.Err;
  EXPECT_EQ(r.Out, "Extracted 1 of 2 files to " + dir.Dir() + "out/\n");
  EXPECT_EQ(ReadFileText(dir / "out/ok.jpg"), std::string(10, '\x01'));
}

TEST(CliProjectFiles, WhatIsNotAProjectFileIsRefusedAtOnce)
{
  TScratchFolder dir;
  const auto image = BuildImage();
  test::WriteFileText(dir / "disc.iso", Slice(image, 0, image.size()));
  ASSERT_EQ(::mkfifo((dir / "pipe.kx").c_str(), 0600), 0);

  for (const std::string project : {"pipe.kx", "/dev/zero"}) {
    SCOPED_TRACE(project);
    const TRun list = RunCli("list " + test::Quote(project), dir.Dir());
    EXPECT_EQ(list.Status, 1);
    EXPECT_NE(list.Err.find("Not a regular file"), std::string::npos) << list.Err;
  }
  // Refused before the scan, not after it.
  const TRun scan = RunCli("scan disc.iso -o pipe.kx", dir.Dir());
  EXPECT_EQ(scan.Status, 1);
  EXPECT_NE(scan.Err.find("Not a regular file"), std::string::npos) << scan.Err;
  EXPECT_EQ(scan.Out.find("Scanned"), std::string::npos) << scan.Out;

  // Nor is a file that is not a whole project: no list, no files written, the line and why.
  std::string cut = "KX\nLOCATION\n" + (dir / "disc.iso") + "\nFILES\n40\n";
  for (int i = 0; i < 3; ++i) cut += "File " + std::to_string(i) + "\n.jpg\n0\n100\n";
  struct Case {
    const char* Name;
    std::string Text;
    const char* Error;
  };
  const Case cases[] = {
      {"empty.kx", "", "empty.kx, line 1: the file is empty"},
      {"notes.kx", "shopping list\nmilk\n", "notes.kx, line 1: the first line is not \"KX\": this is not a project file"},
      {"random.kx", std::string("\x7f\x45\x4c\x46\x02\x01\x01\x00", 8), "random.kx, line 1: the first line is not"},
      {"cut.kx", cut, "cut.kx, line 18: the file ends before the name of entry 4 of 40: it is cut short"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    test::WriteFileText(dir / c.Name, c.Text);
    const TRun list = RunCli(std::string("list ") + c.Name, dir.Dir());
    EXPECT_EQ(list.Status, 1);
    EXPECT_EQ(list.Out, "");
    EXPECT_EQ(list.Err.rfind(std::string("tessarin-cli: ") + c.Error, 0), 0u) << list.Err;
    const TRun extract = RunCli(std::string("extract ") + c.Name + " -d out", dir.Dir());
    EXPECT_EQ(extract.Status, 1);
    EXPECT_EQ(extract.Err, list.Err);
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
  }
}

TEST(CliExtract, AFullDiskStopsAndCountsWhatWasNotExtracted)
{
  test::TSmallFileSystem small(64 * 1024);
  KX_REQUIRE_MOUNTED(small);
  TScratchFolder dir;
  test::WriteFileText(dir / "disc.iso", std::string(64 * ss, '\x02'));
  std::string project = "KX\nLOCATION\n" + (dir / "disc.iso") + "\nFILES\n10\n";
  for (int i = 0; i < 10; ++i) project += "part" + std::to_string(i) + "\n\n" + std::to_string(i * 10 * ss) + "\n20480\n";
  test::WriteFileText(dir / "p.kx", project);
  const TRun r = RunCli("extract p.kx -d " + test::Quote(small.Dir()), dir.Dir());
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Out.find("Extracted 3 of 10 files"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Err, "tessarin-cli: " + (small / "part3") + ": No space left on device\n"
                   "tessarin-cli: the disk is full: the extraction stopped, and 7 files were not extracted\n");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(small.Dir())) ++files;
  EXPECT_EQ(files, 3u);
}

}  // namespace
}  // namespace kx

// ---- what a user of recovery tools expects of the command line ----------------------------

namespace kx {
namespace {

std::vector<std::string> FilesIn(const std::string& Dir)
{
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(Dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A project over disc.iso (written by the caller) with Entries, given as name, ext, offset, size.
struct TEntryText {
  std::string Name, Ext;
  std::int64_t Offset, Size;
};
void WriteProjectText(const TScratchFolder& Dir, const std::string& Project, const std::vector<TEntryText>& Entries)
{
  std::string text = "KX\nLOCATION\n" + (Dir / "disc.iso") + "\nFILES\n" + std::to_string(Entries.size()) + "\n";
  for (const auto& e : Entries) text += e.Name + "\n" + e.Ext + "\n" + std::to_string(e.Offset) + "\n" + std::to_string(e.Size) + "\n";
  test::WriteFileText(Dir / Project, text);
}

TEST(CliScan, TheProjectTargetIsCheckedBeforeTheMediumIsRead)
{
  TScratchFolder dir;
  const auto image = BuildImage();
  test::WriteFileText(dir / "disc.iso", Slice(image, 0, image.size()));
  std::filesystem::create_directory(dir / "folder.kx");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"-o missing/p.kx", "missing/p.kx: No such file or directory"},
      {"-o folder.kx", "folder.kx: Is a directory"},
      {"-o p.kx --dfxml missing/r.xml", "missing/r.xml: No such file or directory"},
  };
  for (const auto& [args, why] : cases) {
    SCOPED_TRACE(args);
    const TRun scan = RunCli("scan disc.iso " + args, dir.Dir());
    EXPECT_EQ(scan.Status, 1);
    EXPECT_EQ(scan.Out, "") << "nothing was scanned";
    EXPECT_EQ(scan.Err, "tessarin-cli: " + why + "\n");
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "p.kx"));

  // A location that no project can store: refused before the scan, not after it.
  test::WriteFileText(dir / "dis\nc.iso", Slice(image, 0, image.size()));
  const TRun lineFeed = RunCli("scan " + test::Quote("dis\nc.iso") + " -o p.kx", dir.Dir());
  EXPECT_EQ(lineFeed.Status, 1);
  EXPECT_EQ(lineFeed.Out, "");
  EXPECT_EQ(lineFeed.Err, "tessarin-cli: dis\\x0ac.iso: The location holds a line break and cannot be saved\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "p.kx"));

  // A full file system takes the empty file of a check, but not a project.
  {
    test::TSmallFileSystem full(64 * 1024);
    KX_REQUIRE_MOUNTED(full);
    test::WriteFileText(full / "filler", std::string(60 * 1024, 'x'));
    const TRun noSpace = RunCli("scan disc.iso -o " + test::Quote(full / "p.kx"), dir.Dir());
    EXPECT_EQ(noSpace.Status, 1);
    EXPECT_EQ(noSpace.Out, "");
    EXPECT_EQ(noSpace.Err, "tessarin-cli: " + (full / "p.kx") + ": No space left on device\n");
  }

  // A read-only file system refuses even root, before a sector is read.
  test::TSmallFileSystem small(64 * 1024);
  KX_REQUIRE_MOUNTED(small);
  ASSERT_EQ(::mount(nullptr, small.Dir().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  const TRun readOnly = RunCli("scan disc.iso -o " + test::Quote(small / "p.kx"), dir.Dir());
  EXPECT_EQ(readOnly.Status, 1);
  EXPECT_EQ(readOnly.Out, "");
  EXPECT_EQ(readOnly.Err, "tessarin-cli: " + (small / "p.kx") + ": Read-only file system\n");
}

TEST(CliScan, CountsAreSingularForOneFile)
{
  TScratchFolder dir;
  std::string image(4 * ss, '\x01');
  image.replace(0, 4, "\xFF\xD8\xFF\xE1");
  test::WriteFileText(dir / "disc.iso", image);
  const TRun scan = RunCli("scan disc.iso", dir.Dir());
  ASSERT_EQ(scan.Status, 0) << scan.Err;
  EXPECT_EQ(Lines(scan.Out).front(), "Scanned 4 of 4 sectors; 1 file found.");
  const TRun extract = RunCli("extract disc.iso.kx -d out", dir.Dir());
  EXPECT_EQ(extract.Out, "Extracted 1 of 1 file to " + dir.Dir() + "out/\n");
}

// Bytes after the last whole sector are read by nothing: the scan says so.
TEST(CliScan, SaysThatTrailingBytesAreNotRead)
{
  TScratchFolder dir;
  test::WriteFileText(dir / "picture.png", "\x89PNG\r\n\x1a\n" + std::string(1492, 'p'));
  const TRun scan = RunCli("scan picture.png", dir.Dir());
  EXPECT_EQ(scan.Status, 0) << scan.Err;
  EXPECT_EQ(Lines(scan.Out).front(), "Scanned 0 of 0 sectors; 0 files found.");
  EXPECT_EQ(scan.Err,
            "tessarin-cli: picture.png: the last 1500 bytes of the image make no whole sector (2048 bytes) and are not read\n");
}

TEST(CliList, LongAndJsonTellTheKindAndItsFamily)
{
  TScratchFolder dir;
  const auto image = BuildImage();
  test::WriteFileText(dir / "disc.iso", Slice(image, 0, image.size()));
  ASSERT_EQ(RunCli("scan --no-check disc.iso -o p.kx", dir.Dir()).Status, 0);

  const TRun lng = RunCli("list p.kx --long --sort offset", dir.Dir());
  ASSERT_EQ(lng.Status, 0) << lng.Err;
  const auto rows = Lines(lng.Out);
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[0], "File name                                 Ext           Kind  Family  State      Offset       Size (bytes)");
  EXPECT_EQ(rows[1], "32 x 16                                   .bmp            20  sized   unchecked  0x000000000        5000");
  EXPECT_EQ(rows[3], "File 000003                               .jpg            77  open    unchecked  0x000002800        6144");
  EXPECT_EQ(rows[5], TextName + "  .txt             1  text    unchecked  0x000005800        4296");
  EXPECT_EQ(rows[6], "File 000006                                                0  none    unchecked  0x000007000        6144");

  const TRun json = RunCli("list p.kx --json --ext txt", dir.Dir());
  ASSERT_EQ(json.Status, 0) << json.Err;
  EXPECT_EQ(json.Out, "{\"location\": \"" + (dir / "disc.iso") + "\", \"files\": [\n  {\"name\": \"" + TextName +
                          "\", \"ext\": \".txt\", \"kind\": 1, \"family\": \"text\", \"offset\": 22528, \"size\": 4296, "
                          "\"state\": \"unchecked\", \"checked_size\": 0}\n]}\n");
}

// An image rescued from a damaged disc has a map beside it: list tells each file's unread
// sectors, extract how many files came out with some.
TEST(CliList, AMapBesideTheImageTellsTheUnreadSectorsOfEachFile)
{
  TScratchFolder dir;
  const auto image = BuildImage();
  test::WriteFileText(dir / "disc.iso", Slice(image, 0, image.size()));
  ASSERT_EQ(RunCli("scan disc.iso -o project", dir.Dir()).Status, 0);
  TkxRescueMap map(TkxSectorMap(17, TkxSectorState::Finished));
  map.Sectors.Set(6, 7, TkxSectorState::Bad);          // inside the JPEG (sectors 5-7)
  map.Sectors.Set(9, 11, TkxSectorState::NonScraped);  // the PDF's last two (8-10)
  SaveRescueMap(dir / "disc.iso.map", map);

  const TRun json = RunCli("list project.kx --json --sort offset", dir.Dir());
  ASSERT_EQ(json.Status, 0) << json.Err;
  EXPECT_NE(json.Out.find("\"ext\": \".jpg\", \"kind\": 77, \"family\": \"open\", \"offset\": 10240, \"size\": 6144, "
                          "\"unread\": 1, \"state\""),
            std::string::npos)
      << json.Out;
  EXPECT_NE(json.Out.find("\"size\": 6144, \"unread\": 2, \"state\""), std::string::npos) << json.Out;
  EXPECT_NE(json.Out.find("\"size\": 5000, \"unread\": 0, \"state\""), std::string::npos) << json.Out;

  const TRun list = RunCli("list project.kx --long --sort offset", dir.Dir());
  ASSERT_EQ(list.Status, 0) << list.Err;
  const auto rows = Lines(list.Out);
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[0].substr(rows[0].size() - 28), "Size (bytes)  Unread sectors");
  EXPECT_EQ(rows[3].substr(rows[3].size() - 2), " 1") << rows[3];
  EXPECT_EQ(rows[4].substr(rows[4].size() - 2), " 2") << rows[4];
  EXPECT_EQ(rows[1].substr(rows[1].size() - 2), " 0") << rows[1];

  const TRun extract = RunCli("extract project.kx -d out", dir.Dir());
  ASSERT_EQ(extract.Status, 0) << extract.Err;
  EXPECT_NE(extract.Out.find("2 files written hold sectors that the rescue could not read (zeros there)"),
            std::string::npos)
      << extract.Out;
  const TRun one = RunCli("extract project.kx -d one --ext jpg,bmp", dir.Dir());
  EXPECT_NE(one.Out.find("1 file written holds sectors"), std::string::npos) << one.Out;

  // A map that cannot be used is said to be so, with why, and no sector counts as read by it; a
  // map shorter than the image leaves the rest unread.
  const std::string warning = "tessarin-cli: " + dir.Dir() + "disc.iso.map: the map cannot be used: ";
  TkxRescueMap other = map;
  other.Disc = TkxDiscIdentity{99, "", ""};
  SaveRescueMap(dir / "disc.iso.map", other);
  const TRun foreign = RunCli("list project.kx --long", dir.Dir());
  EXPECT_EQ(foreign.Status, 0);
  EXPECT_EQ(foreign.Err, warning + "its identity line names a disc of 99 sectors; the image has 17\n");
  EXPECT_EQ(foreign.Out.find("Unread"), std::string::npos);
  test::WriteFileText(dir / "disc.iso.map", "0 ? 1\n0 0x4000 +\n0x2000 0x4000 -\n");
  const TRun overlapping = RunCli("extract project.kx -d overlapping", dir.Dir());
  EXPECT_EQ(overlapping.Status, 0);
  EXPECT_EQ(overlapping.Err, warning + "line 3: the block does not begin where the one before it ends\n");
  test::WriteFileText(dir / "disc.iso.map", "0 + 1\n0 0x5000 +\n");
  const TRun shorter = RunCli("list project.kx --json --sort offset", dir.Dir());
  EXPECT_EQ(shorter.Err, "tessarin-cli: " + dir.Dir() +
                             "disc.iso.map: the map covers 10 of the image's 17 sectors; the others count as unread\n");
  EXPECT_NE(shorter.Out.find("\"size\": 6144, \"unread\": 1, \"state\""), std::string::npos) << shorter.Out;

  // Without the map the listing is as before.
  std::filesystem::remove(dir / "disc.iso.map");
  const TRun plain = RunCli("list project.kx --long", dir.Dir());
  EXPECT_EQ(plain.Out.find("Unread"), std::string::npos);
  EXPECT_EQ(RunCli("extract project.kx -d again", dir.Dir()).Out.find("rescue"), std::string::npos);
}

TEST(CliList, TakesTheFiltersOfExtract)
{
  TScratchFolder dir;
  const auto image = BuildImage();
  test::WriteFileText(dir / "disc.iso", Slice(image, 0, image.size()));
  ASSERT_EQ(RunCli("scan disc.iso -o p.kx", dir.Dir()).Status, 0);
  const auto names = [&](const std::string& filters) {
    const TRun run = RunCli("list p.kx --sort offset " + filters, dir.Dir());
    EXPECT_EQ(run.Status, 0) << run.Err;
    std::vector<std::string> found;
    for (const auto& row : Lines(run.Out)) found.push_back(row.substr(0, row.find("  ")));
    found.erase(found.begin());  // the heading
    return found;
  };
  // "jpg,png" is two extensions; a dot is optional; case is ignored.
  EXPECT_EQ(names("--ext jpg,PDF"), (std::vector<std::string>{"File 000003", "File 000004"}));
  EXPECT_EQ(names("--ext .wav --ext bmp"), (std::vector<std::string>{"32 x 16", "File 000002"}));
  EXPECT_EQ(names("--name 'x 16'"), std::vector<std::string>{"32 x 16"});
  EXPECT_EQ(names("--min-size 5000 --max-size 6000"), std::vector<std::string>{"32 x 16"});
  EXPECT_EQ(names("--ext ''"), std::vector<std::string>{"File 000006"});
  EXPECT_EQ(names("--ext gif"), std::vector<std::string>{});
}

TEST(CliList, ControlCharactersOfNamesAreShownEscaped)
{
  TScratchFolder dir;
  test::WriteFileText(dir / "disc.iso", std::string(4 * ss, '\x01'));
  // A hostile project: a name that would retitle the terminal, one that would turn it red.
  WriteProjectText(dir, "p.kx", {{"evil\x1b]0;owned\x07", ".jpg", 0, 10}, {"\x1b[31mred", "", -5, 10}});
  const TRun list = RunCli("list p.kx", dir.Dir());
  ASSERT_EQ(list.Status, 0) << list.Err;
  EXPECT_EQ(list.Out.find('\x1b'), std::string::npos);
  EXPECT_EQ(list.Out.find('\x07'), std::string::npos);
  EXPECT_NE(list.Out.find("evil\\x1b]0;owned\\x07  "), std::string::npos) << list.Out;
  EXPECT_NE(list.Out.find("\\x1b[31mred  "), std::string::npos) << list.Out;
  // --json escapes them its own way.
  const TRun json = RunCli("list p.kx --json", dir.Dir());
  EXPECT_NE(json.Out.find("evil\\u001b]0;owned\\u0007"), std::string::npos) << json.Out;

  // The failure list too: here the folder given holds the escape.
  const std::string folder = "out\x1b[2J";
  const TRun extract = RunCli("extract p.kx -d " + test::Quote(folder), dir.Dir());
  EXPECT_EQ(extract.Status, 1);
  EXPECT_EQ(extract.Err.find('\x1b'), std::string::npos) << extract.Err;
  EXPECT_NE(extract.Err.find("out\\x1b[2J/_[31mred: its offset is negative"), std::string::npos) << extract.Err;
}

// Sizes and offsets no medium has: totals hold at the limit instead of turning negative, and an
// entry that gives no file makes none, each listed with its reason.
TEST(CliExtract, HostileNumbersGiveNoNegativeTotalAndNoEmptyFile)
{
  TScratchFolder dir;
  test::WriteFileText(dir / "disc.iso", std::string(4 * ss, '\x01'));
  constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
  struct TCase {
    TEntryText Entry;
    std::string Reason;  // on extraction; empty: written
  };
  const std::vector<TCase> cases = {
      {{"huge1", ".jpg", 0, max}, "the medium ends before the file does"},
      {{"huge2", ".jpg", 0, max}, "the medium ends before the file does"},
      {{"negative size", "", 0, -5}, "its size is negative"},
      {{"lowest", "", min, min}, "its offset is negative"},
      {{"far", "", max, 10}, "it begins past the end of the medium"},
      {{"fine", "", 0, 10}, ""},
  };
  std::vector<TEntryText> entries;
  for (const TCase& c : cases) entries.push_back(c.Entry);
  WriteProjectText(dir, "p.kx", entries);

  const TRun dry = RunCli("extract p.kx -d out --dry-run", dir.Dir());
  EXPECT_EQ(dry.Status, 0) << dry.Err;
  EXPECT_NE(dry.Out.find("Would extract 6 files (9223372036854.8 MB)"), std::string::npos) << dry.Out;

  const TRun run = RunCli("extract p.kx -d out", dir.Dir());
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("Extracted 1 of 6 files"), std::string::npos) << run.Out;
  std::vector<std::string> written;
  for (const TCase& c : cases) {
    const std::string file = dir / ("out/" + c.Entry.Name + c.Entry.Ext);
    if (c.Reason.empty() || c.Reason == "the medium ends before the file does") written.push_back(c.Entry.Name + c.Entry.Ext);
    if (!c.Reason.empty()) {
      EXPECT_NE(run.Err.find(file + ": " + c.Reason + "\n"), std::string::npos) << c.Entry.Name << "\n" << run.Err;
    }
  }
  std::sort(written.begin(), written.end());
  EXPECT_EQ(FilesIn(dir / "out"), written);

  // The check of such a project: what lies past the medium or before it is not checked.
  const TRun check = RunCli("check p.kx", dir.Dir());
  EXPECT_EQ(check.Status, 0) << check.Err;
  EXPECT_EQ(check.Out.rfind("Checked 6 of 6 files", 0), 0u) << check.Out;
}

TEST(CliExtract, EveryFailedPathIsPrintedWithItsReason)
{
  TScratchFolder dir;
  test::WriteFileText(dir / "disc.iso", std::string(4 * ss, '\x01'));
  std::vector<TEntryText> entries;
  for (int i = 0; i < 30; ++i) entries.push_back({"a-rather-long-name-of-a-lost-file-" + std::to_string(i), ".jpg", -1, 10});
  entries.push_back({"beyond", ".jpg", 5 * ss, 10});
  WriteProjectText(dir, "p.kx", entries);
  const TRun r = RunCli("extract p.kx -d out", dir.Dir());
  EXPECT_EQ(r.Status, 1);
  const auto lines = Lines(r.Err);
  ASSERT_EQ(lines.size(), 31u) << "no cut at 400 characters";
  EXPECT_EQ(lines[29], "tessarin-cli: " + (dir / "out/a-rather-long-name-of-a-lost-file-29.jpg") + ": its offset is negative");
  EXPECT_EQ(lines[30], "tessarin-cli: " + (dir / "out/beyond.jpg") + ": it begins past the end of the medium");
}

TEST(CliExtract, DryRunPrintsWhatWouldBeWrittenWhereAndWritesNothing)
{
  TScratchFolder dir;
  test::WriteFileText(dir / "disc.iso", std::string(4 * ss, '\x01'));
  WriteProjectText(dir, "p.kx", {{"photo", ".jpg", 0, 100}, {"photo", ".jpg", ss, 200}, {"data", "", 2 * ss, 300}});
  std::filesystem::create_directories(dir / "out/jpg");
  test::WriteFileText(dir / "out/jpg/photo.jpg", "taken");
  const TRun r = RunCli("extract p.kx -d out --grouped --dry-run", dir.Dir());
  EXPECT_EQ(r.Status, 0) << r.Err;
  const std::string out = dir / "out/";
  // The names the extraction would take: past the file already there, and past each other.
  EXPECT_EQ(r.Out, out + "jpg/photo(2).jpg\t100 bytes from offset 0\n" +
                   out + "jpg/photo(3).jpg\t200 bytes from offset 2048\n" +
                   out + "Other/data\t300 bytes from offset 4096\n"
                   "Would extract 3 files (0.0 MB) to " + out + "\n");
  EXPECT_EQ(FilesIn(dir / "out/jpg"), std::vector<std::string>{"photo.jpg"});
  EXPECT_FALSE(std::filesystem::exists(dir / "out/Other"));
  const TRun fresh = RunCli("extract p.kx -d new -n", dir.Dir());
  EXPECT_EQ(fresh.Status, 0) << fresh.Err;
  EXPECT_FALSE(std::filesystem::exists(dir / "new"));
}

struct TFileObject {
  std::string Name, Size, ImageOffset, Length;
  bool operator==(const TFileObject&) const = default;
};

// What the report holds (its layout is the core's, one element to a line): every fileobject, and
// the creator's program and command line.
struct TReport {
  bool Parsed = false;  // a whole document
  std::string Program, CommandLine, StartTime, Image;
  std::vector<TFileObject> Files;
};
TReport ParseReport(const std::string& Xml)
{
  TReport r;
  r.Parsed = Xml.starts_with("<?xml") && Xml.ends_with("</dfxml>\n");
  const auto text = [&Xml](const std::string& Name) {
    std::smatch t;
    return std::regex_search(Xml, t, std::regex("<" + Name + ">([^<]*)</" + Name + ">")) ? t[1].str() : "";
  };
  r.Program = text("program");
  r.CommandLine = text("command_line");
  r.StartTime = text("start_time");
  r.Image = text("image_filename");
  const std::regex file("<filename>([^<]*)</filename>\n *<filesize>([0-9]+)</filesize>\n *<byte_runs>\n *"
                        "<byte_run offset=\"0\" img_offset=\"([0-9]+)\" len=\"([0-9]+)\"/>");
  for (auto i = std::sregex_iterator(Xml.begin(), Xml.end(), file); i != std::sregex_iterator(); ++i)
    r.Files.push_back({(*i)[1], (*i)[2], (*i)[3], (*i)[4]});
  return r;
}

TEST(CliDfxml, ScanAndListWriteTheReport)
{
  TScratchFolder dir;
  const auto image = BuildImage();
  test::WriteFileText(dir / "disc.iso", Slice(image, 0, image.size()));
  const TRun scan = RunCli("scan disc.iso -o p.kx --dfxml report.xml", dir.Dir());
  ASSERT_EQ(scan.Status, 0) << scan.Err;
  const TReport r = ParseReport(ReadFileText(dir / "report.xml"));
  ASSERT_TRUE(r.Parsed);
  EXPECT_EQ(r.Program, "tessarin-cli");
  EXPECT_EQ(r.CommandLine.substr(r.CommandLine.find("tessarin-cli")), "tessarin-cli scan disc.iso -o p.kx --dfxml report.xml");
  EXPECT_TRUE(std::regex_match(r.StartTime, std::regex("20[0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-9:]{8}Z"))) << r.StartTime;
  EXPECT_EQ(r.Image, dir / "disc.iso");
  // In the project's order (by extension), each with its place on the image.
  EXPECT_EQ(r.Files, (std::vector<TFileObject>{{"File 000006", "6144", std::to_string(14 * ss), "6144"},
                                               {"32 x 16.bmp", "5000", "0", "5000"},
                                               {"File 000003.jpg", "6144", std::to_string(5 * ss), "6144"},
                                               {"File 000004.pdf", "6144", std::to_string(8 * ss), "6144"},
                                               {TextName + ".txt", "4296", std::to_string(11 * ss), "4296"},
                                               {"File 000002.wav", "3008", std::to_string(3 * ss), "3008"}}));

  // list --dfxml: the same report of the entries that pass the filters, on stdout, each named as
  // the extraction writes it.
  WriteProjectText(dir, "odd.kx", {{"caf\xe9", ".jpg", 0, 10}, {"tab\tin", ".jpg", 2048, 10}, {"skip", ".gif", 0, 1}});
  const TRun list = RunCli("list odd.kx --dfxml --ext jpg", dir.Dir());
  ASSERT_EQ(list.Status, 0) << list.Err;
  const TReport l = ParseReport(list.Out);
  ASSERT_TRUE(l.Parsed) << list.Out;
  EXPECT_EQ(l.Files, (std::vector<TFileObject>{{"café.jpg", "10", "0", "10"}, {"tab_in.jpg", "10", "2048", "10"}}));
}

// The names of a hostile project reach the terminal escaped in every command that shows them,
// and --json gives them escaped its own way.
TEST(CliList, HostileNamesReachNoTerminalAsTheyAre)
{
  TScratchFolder dir;
  test::WriteFileText(dir / "disc.iso", std::string(4 * ss, '\x01'));
  std::vector<TEntryText> entries;
  for (const test::THostileName& name : test::HostileNames()) entries.push_back({name.Name, "", 0, 10});
  WriteProjectText(dir, "p.kx", entries);
  const auto actsOnATerminal = [](const std::string& Text) {
    for (const char* bad : {"\x1b", "\x07", "\x7f", "\xc2\x9b", "\xe2\x80\xae", "\xe2\x81\xa7", "\xe2\x80\x8f"})
      if (Text.find(bad) != std::string::npos) return true;
    return false;
  };
  const TRun list = RunCli("list p.kx", dir.Dir());
  ASSERT_EQ(list.Status, 0) << list.Err;
  EXPECT_FALSE(actsOnATerminal(list.Out)) << list.Out;
  for (const test::THostileName& name : test::HostileNames())
    EXPECT_NE(list.Out.find(name.Terminal.substr(0, 40)), std::string::npos) << name.What;
  const TRun json = RunCli("list p.kx --json", dir.Dir());
  EXPECT_FALSE(actsOnATerminal(json.Out)) << json.Out;
  EXPECT_NE(json.Out.find("invoice\\u202efdp.exe"), std::string::npos) << json.Out;
  const TRun dry = RunCli("extract p.kx -d out --dry-run", dir.Dir());
  EXPECT_FALSE(actsOnATerminal(dry.Out)) << dry.Out;
}

// Runs tessarin-cli with Args in Cwd, sends it SIGINT once Ready() holds (or after the wait),
// and returns its exit status with what it printed on stderr.
TRun RunAndInterrupt(const std::vector<std::string>& Args, const std::string& Cwd, const std::function<bool()>& Ready)
{
  const TScratchFolder capture;
  const std::string err = capture / "stderr.txt";
  const std::string out = capture / "stdout.txt";
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(Cwd.c_str()) != 0) ::_exit(127);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(e, 2);
    ::dup2(o, 1);
    std::vector<std::string> words = {test::CliPath()};
    words.insert(words.end(), Args.begin(), Args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!Ready() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ::kill(pid, SIGINT);
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  TRun run;
  run.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.Out = ReadFileText(out);
  run.Err = ReadFileText(err);
  return run;
}

TEST(CliStop, CtrlCDuringExtractStopsAfterTheCurrentFileAndLeavesOnlyWholeFiles)
{
  TScratchFolder dir;
  // Many files, so that the extraction is still running when the first one appears.
  constexpr int files = 4000;
  constexpr std::int64_t size = 32 * 1024;
  std::string image(static_cast<std::size_t>(files * size), '\0');
  for (std::size_t i = 0; i < image.size(); i += 4096) image[i] = static_cast<char>(i / 4096);
  test::WriteFileText(dir / "disc.iso", image);
  std::vector<TEntryText> entries;
  for (int i = 0; i < files; ++i) entries.push_back({"f" + std::to_string(i), "", i * size, size});
  WriteProjectText(dir, "p.kx", entries);
  std::filesystem::create_directory(dir / "out");

  const std::string out = dir / "out";
  const TRun r = RunAndInterrupt({"extract", "p.kx", "-d", "out"}, dir.Dir(),
                                 [&out] { return !std::filesystem::is_empty(out); });
  EXPECT_EQ(r.Status, 130) << r.Err;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.Err, m, std::regex("Stopped after ([0-9]+) of 4000 files\\.\n"))) << r.Err;
  const int handled = std::stoi(m[1]);
  EXPECT_LT(handled, files);
  // Every file there is whole and right; none is cut short.
  int count = 0;
  for (const auto& f : std::filesystem::directory_iterator(out)) {
    const int i = std::stoi(f.path().filename().string().substr(1));
    EXPECT_EQ(ReadFileText(f.path()), image.substr(static_cast<std::size_t>(i * size), size)) << f.path();
    ++count;
  }
  EXPECT_EQ(count, handled);
  EXPECT_NE(r.Out.find("Extracted " + std::to_string(handled) + " of 4000 files"), std::string::npos) << r.Out;
}

TEST(CliStop, CtrlCDuringScanWritesTheProjectAndExits130)
{
  TScratchFolder dir;
  // A sparse image of 4 GiB: reading it takes seconds, writing it none.
  {
    const int fd = ::open((dir / "disc.iso").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, std::int64_t{4} << 30), 0);
    ::close(fd);
  }
  const auto start = std::chrono::steady_clock::now();
  const TRun r = RunAndInterrupt({"scan", "disc.iso", "-o", "p.kx"}, dir.Dir(), [start] {
    return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300);
  });
  EXPECT_EQ(r.Status, 130) << r.Err;
  EXPECT_EQ(r.Out.rfind("Stopped after ", 0), 0u) << r.Out;
  EXPECT_EQ(ReadFileText(dir / "p.kx").substr(0, 3), "KX\n");
}

}  // namespace
}  // namespace kx
