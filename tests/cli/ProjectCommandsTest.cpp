// End to end: an image built here is scanned, listed and extracted by tessarin-cli itself.
#include "support/kxCliRunner.h"
#include "support/kxSmallFileSystem.h"
#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>

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

  const TRun scan = RunCli("scan disc.iso -o project", dir.Dir());
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
  EXPECT_NE(json.Out.find("{\"name\": \"File 000004\", \"ext\": \".pdf\", \"offset\": 16384, \"size\": 6144}"),
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
  EXPECT_EQ(ReadFileText(dir / "g/.jpg/File 000003.jpg"), Slice(image, 5 * ss, 3 * ss));
  EXPECT_EQ(ReadFileText(dir / "g/.pdf/File 000004.pdf"), Slice(image, 8 * ss, 3 * ss));
  EXPECT_EQ(ReadFileText(dir / "g/Other/File 000006"), Slice(image, 14 * ss, 3 * ss));
  EXPECT_FALSE(std::filesystem::exists(dir / "g/.bmp"));

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
  EXPECT_NE(list.Err.find("File not found"), std::string::npos) << list.Err;
}

TEST(CliExtract, FailuresAreReportedWithExitStatus1)
{
  TScratchFolder dir;
  test::WriteFileText(dir / "disc.iso", std::string(4 * ss, '\x01'));
  test::WriteFileText(dir / "p.kx", "KX\nLOCATION\n" + (dir / "disc.iso") + "\nFILES\n2\nneg\n.jpg\n-5\n10\nok\n.jpg\n0\n10\n");
  // The failure list names full paths, also when the folder was given relative.
  const TRun r = RunCli("extract p.kx -d out", dir.Dir());
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("The following files could not be extracted:\n\n" + (dir / "out/neg.jpg") + "\n"), std::string::npos) << r.Err;
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
  EXPECT_NE(r.Err.find("The disk is full: the extraction stopped, and 7 files were not extracted."), std::string::npos) << r.Err;
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(small.Dir())) ++files;
  EXPECT_EQ(files, 3u);
}

}  // namespace
}  // namespace kx
