// SPDX-License-Identifier: GPL-3.0-or-later
// Runs tessarin-cli (its path is in KX_CLI) on files written to a fresh folder.

#include "found/kxKinds.h"
#include "support/kxCliRunner.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

namespace kx {
namespace {

using test::Lines;
using test::TRun;
using namespace std::string_literals;
using namespace std::string_view_literals;

class RecognitionCommands : public testing::Test {
 protected:
  void SetUp() override
  {
    if (test::CliPath().empty()) GTEST_SKIP() << "KX_CLI is not set";
  }

  std::string Write(const std::string& Name, std::string_view Bytes)
  {
    const std::string p = Dir / Name;
    test::WriteFileText(p, Bytes);
    return p;
  }

  TRun Run(const std::vector<std::string>& Args) { return test::RunCli(test::Quote(Args)); }

  test::TScratchFolder Dir;
};

std::string Sector(std::string_view Head, std::size_t Size = 4096)
{
  std::string s(Size, '\0');
  s.replace(0, Head.size(), Head);
  return s;
}

TEST_F(RecognitionCommands, IdentifyPrintsKindSizeContinuesAndName)
{
  std::string wav = Sector("RIFF\0\0\0\0WAVEfmt "sv, 3000);
  wav[4] = static_cast<char>(0xE8);  // size field 1000
  wav[5] = 0x03;
  const std::string html = "<!DOCTYPE html>\n<html><head><title>Home: Start</title></head></html>\n";
  const std::string files[] = {
      Write("a.png", Sector("\x89PNG\r\n\x1A\n\0\0\0\rIHDR"sv)),
      Write("b.jpg", Sector("\xFF\xD8\xFF\xE0\0\x10JFIF\0"sv)),
      Write("c.wav", wav),
      Write("d.html", html),
      Write("e.c", "#include <stdio.h>\nint main(void) { return 0; }\n"),
      Write("f.gz", Sector("\x1F\x8B\x08\0\0\0\0\0"sv, 100)),
      Write("g elf", Sector("\x7F" "ELF\x02\x01\x01"sv)),
      Write("h.exe", "MZ\x90\0\x03\0\0\0\x04\0\0\0\xFF\xFF"s),  // a DOS header, padded with zeros
      Write("i.bin", ""),
  };
  const TRun run = Run({"identify", files[0], files[1], files[2], files[3], files[4], files[5], files[6],
                        files[7], files[8]});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Err, "");
  const std::vector<std::string> want = {
      files[0] + "\t79\t.png\t2048\ttrue\tFile 000001",
      files[1] + "\t77\t.jpg\t2048\ttrue\tFile 000002",
      files[2] + "\t29\t.wav\t1008\tfalse\tFile 000003",
      files[3] + "\t5\t.html\t" + std::to_string(html.size()) + "\tfalse\tHome_ Start",
      files[4] + "\t15\t.c\t48\tfalse\tincludestdiohintmainvoidreturn0",
      files[5] + "\t35\t.gz\t2048\ttrue\tFile 000006",
      files[6] + "\t66\t.elf.so.o\t2048\ttrue\tFile 000007",
      files[7] + "\t61\t.exe\t2048\ttrue\tFile 000008",
      files[8] + "\t0\t\t2048\ttrue\tFile 000009",
  };
  EXPECT_EQ(Lines(run.Out), want);
}

TEST_F(RecognitionCommands, UnreadableFilesAreReportedAndTheOthersStillPrinted)
{
  const std::string good = Write("a.zip", Sector("PK\x03\x04"sv));
  const std::string missing = Dir / "missing.bin";
  const TRun run = Run({"identify", missing, good, Dir.Path.string()});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(Lines(run.Out), std::vector<std::string>{good + "\t44\t.zip\t2048\ttrue\tFile 000001"});
  const std::vector<std::string> err = Lines(run.Err);
  ASSERT_EQ(err.size(), 2u) << run.Err;
  EXPECT_EQ(err[0], "tessarin-cli: " + missing + ": No such file or directory");
  EXPECT_EQ(err[1], "tessarin-cli: " + Dir.Path.string() + ": Is a directory");

  // What is not a regular file is refused at once: a named pipe would wait for a writer forever.
  const std::string pipe = Dir / "pipe.bin";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const TRun pipes = Run({"identify", pipe, "/dev/zero", good});
  EXPECT_EQ(pipes.Status, 1);
  EXPECT_EQ(Lines(pipes.Out), std::vector<std::string>{good + "\t44\t.zip\t2048\ttrue\tFile 000001"});
  EXPECT_EQ(Lines(pipes.Err), (std::vector<std::string>{"tessarin-cli: " + pipe + ": not a regular file",
                                                         "tessarin-cli: /dev/zero: not a regular file"}));
}

// The file's name and the name the scan would give it reach the terminal escaped.
TEST_F(RecognitionCommands, NamesAreEscaped)
{
  const std::string file = Write("evil\x1b]0;owned\x07.txt", "<title>\x1b[2Jtitle\xe2\x80\xae</title>\n");
  const TRun run = Run({"identify", file});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out.find('\x1b'), std::string::npos) << run.Out;
  EXPECT_EQ(run.Out.find("\xe2\x80\xae"), std::string::npos) << run.Out;
  EXPECT_EQ(run.Out.rfind(Dir / "evil\\x1b]0;owned\\x07.txt\t", 0), 0u) << run.Out;
}

TEST_F(RecognitionCommands, IdentifyNeedsAFile)
{
  const TRun run = Run({"identify"});
  EXPECT_EQ(run.Status, 2);
  EXPECT_EQ(run.Out, "");
}

TEST_F(RecognitionCommands, KindsPrintsTheTable)
{
  const TRun run = Run({"kinds"});
  EXPECT_EQ(run.Status, 0);
  const std::vector<std::string> lines = Lines(run.Out);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(KindCount));
  EXPECT_EQ(lines[0], "0\t\tnone");
  EXPECT_EQ(lines[1], "1\t.txt\ttext");
  EXPECT_EQ(lines[20], "20\t.bmp\tsized");
  EXPECT_EQ(lines[34], "34\t.cab\topen");
  EXPECT_EQ(lines[51], "51\t.mp3\topen, trailer");
  EXPECT_EQ(lines[53], "53\t.ppt.xls.doc\topen, text-absorbing");
  EXPECT_EQ(lines[56], "56\t.pdf\topen, trailer, text-absorbing");
  EXPECT_EQ(lines[90], "90\t.sfk\topen");
  EXPECT_EQ(lines[91], "91\t.mp4\topen");
  EXPECT_EQ(lines[106], "106\t.webp\tsized");
  EXPECT_EQ(lines[116], "116\t.apk\topen");
}

}  // namespace
}  // namespace kx
