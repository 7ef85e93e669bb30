// SPDX-License-Identifier: GPL-3.0-or-later
// The check from the command line: after a scan by default, on a project with "check", and what
// list and extract make of its states.
#include "cli/Commands.h"
#include "media/kxDisks.h"
#include "recognition/kxRecognition.h"
#include "support/kxCliRunner.h"
#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace kx {
namespace {

using test::Lines;
using test::ReadFileText;
using test::RunCli;
using test::TRun;
using test::TScratchFolder;
constexpr std::size_t ss = 2048;

std::string Fixture(const std::string& Name) { return ReadFileText(std::string(KX_TEST_FILES) + "/" + Name); }

// A photo, a document, a picture cut by the next file (a tar archive), and unrecognised bytes,
// each from a sector boundary.
std::string Image()
{
  std::string image;
  const auto put = [&](const std::string& file) {
    image += file;
    image.resize((image.size() + ss - 1) / ss * ss, '\x01');
  };
  put(Fixture("tiny.jpg"));
  put(Fixture("tiny.docx"));
  put(Fixture("tiny.png").substr(0, 3000));
  put(Fixture("tiny.tar"));
  put(std::string(ss, '\x01'));
  return image;
}

TEST(CliCheck, ScanChecksByDefaultAndCheckDoesTheSameOnAProject)
{
  TScratchFolder dir;
  test::WriteFileText(dir / "disc.iso", Image());
  const TRun scan = RunCli("scan disc.iso -o checked.kx", dir.Dir());
  ASSERT_EQ(scan.Status, 0) << scan.Err;
  EXPECT_EQ(Lines(scan.Out)[1],
            "Checked 4 of 4 files: 3 whole, 1 truncated, 0 damaged, 1 not checked; 1 run after whole files listed apart.")
      << scan.Out;

  ASSERT_EQ(RunCli("scan --no-check disc.iso -o later.kx", dir.Dir()).Status, 0);
  const std::string classic = ReadFileText(dir / "later.kx");
  EXPECT_EQ(classic.find("CHECK"), std::string::npos);
  const TRun check = RunCli("check later.kx", dir.Dir());
  ASSERT_EQ(check.Status, 0) << check.Err;
  // The same entries; the check keeps a project's order, a scan sorts after it.
  const TRun list = RunCli("list later.kx --long --sort offset", dir.Dir());
  EXPECT_EQ(list.Out, RunCli("list checked.kx --long --sort offset", dir.Dir()).Out);
  const std::vector<std::string> rows = Lines(list.Out);
  ASSERT_EQ(rows.size(), 6u);
  // The state is the word before the offset.
  const auto state = [](const std::string& row) {
    const std::string head = row.substr(0, row.find_last_not_of(' ', row.find("  0x")) + 1);
    return head.substr(head.rfind(' ') + 1);
  };
  const auto ext = [](const std::string& row) { return row.substr(row.find("  ") + 2, 5); };
  EXPECT_EQ(state(rows[1]), "whole");
  EXPECT_EQ(ext(rows[2]), ".docx");  // a ZIP whose members say what it is
  EXPECT_EQ(state(rows[2]), "whole");
  EXPECT_EQ(state(rows[3]), "truncated");  // the picture's chunks run past the archive's start
  EXPECT_EQ(state(rows[4]), "whole");
  EXPECT_EQ(state(rows[5]), "unchecked");  // the data after the archive, listed apart again
}

TEST(CliCheck, ExtractWholeWritesOnlyWholeFilesByteForByte)
{
  TScratchFolder dir;
  test::WriteFileText(dir / "disc.iso", Image());
  ASSERT_EQ(RunCli("scan disc.iso -o p.kx", dir.Dir()).Status, 0);
  const TRun extract = RunCli("extract p.kx -d out --whole --grouped", dir.Dir());
  ASSERT_EQ(extract.Status, 0) << extract.Err;
  EXPECT_EQ(extract.Out, "Extracted 3 of 3 files to " + dir.Dir() + "out/\n");
  EXPECT_EQ(ReadFileText(dir / "out/jpg/File 000001.jpg"), Fixture("tiny.jpg"));
  EXPECT_EQ(ReadFileText(dir / "out/docx/File 000002.docx"), Fixture("tiny.docx"));
  EXPECT_EQ(ReadFileText(dir / "out/tar/File 000004.tar"), Fixture("tiny.tar"));
}

TEST(CliCheck, AProjectThatCannotBeReadOrWhoseMediumIsGoneFails)
{
  TScratchFolder dir;
  const TRun missing = RunCli("check nothing.kx", dir.Dir());
  EXPECT_EQ(missing.Status, 1);
  EXPECT_EQ(missing.Err, "tessarin-cli: nothing.kx: No such file or directory\n");
  test::WriteFileText(dir / "p.kx", "KX\nLOCATION\n" + (dir / "gone.iso") + "\nFILES\n0\n");
  const TRun gone = RunCli("check p.kx", dir.Dir());
  EXPECT_EQ(gone.Status, 1);
  EXPECT_NE(gone.Err.find("gone.iso: No such file or directory"), std::string::npos) << gone.Err;
}

// A project's word that an entry is whole is checked, not trusted.
TEST(CliCheck, AnEntryAProjectCallsWholeIsCheckedAgain)
{
  TScratchFolder dir;
  test::WriteFileText(dir / "disc.iso", Image() + std::string(2 * ss, '\0'));
  const std::string zeros = std::to_string(Image().size());
  test::WriteFileText(dir / "fake.kx", "KX\nLOCATION\n" + (dir / "disc.iso") + "\nFILES\n1\nzeros\n.jpg\n" + zeros +
                                           "\n4096\nCHECK\n1\nwhole 4096\n");
  ASSERT_EQ(RunCli("check fake.kx", dir.Dir()).Status, 0);
  EXPECT_EQ(RunCli("extract fake.kx -d out --whole", dir.Dir()).Out, "No files of the project match.\n");
}

// The check's exit status, in a child process since Ctrl+C stays noticed: 1 when the image was
// cut during it, 130 when Ctrl+C came while its last file was read.
TEST(CliCheck, AMediumCutOrAStopDuringTheLastFileSetsTheExitStatus)
{
  TScratchFolder dir;
  const std::string bytes = Image();
  test::WriteFileText(dir / "disc.iso", bytes);
  test::TMemoryDisk memory(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  TkxRecognition scan(memory);
  while (scan.Position < memory.SectorCount) scan.RecognizeNext();
  TkxFileList list;
  list.Assign(scan.FileList);
  TkxDiskImage image(dir / "disc.iso");
  std::filesystem::resize_file(dir / "disc.iso", 3 * ss);
  EXPECT_EXIT(std::exit(cli::CheckAndReport(image, list)), testing::ExitedWithCode(1),
              "the check stopped: .* is shorter than when the image was opened");
  // The first sector is the last that the check reads.
  memory.OnRead = [](std::int64_t Sector) {
    if (Sector == 0) std::raise(SIGINT);
  };
  EXPECT_EXIT(std::exit(cli::CheckAndReport(memory, list)), testing::ExitedWithCode(130), "");
}

}  // namespace
}  // namespace kx
