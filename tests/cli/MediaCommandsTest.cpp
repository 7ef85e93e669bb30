// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/kxShared.h"
#include "support/kxCliRunner.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace kx {
namespace {

using test::TRun;

class InfoCommand : public testing::Test {
 protected:
  void WriteImage(const std::string& Name, const std::vector<unsigned char>& Bytes)
  {
    test::WriteFileText(Folder / Name, {reinterpret_cast<const char*>(Bytes.data()), Bytes.size()});
  }

  TRun Info(const std::string& Location) { return test::RunCli("info " + test::Quote(Location)); }

  test::TScratchFolder Folder;
};

TEST_F(InfoCommand, ShowsLayoutPartsSectorsAndSize)
{
  std::vector<unsigned char> first(2352 * 600, 0);
  for (std::size_t s = 0; s < 600; ++s) {
    for (std::size_t i = 1; i <= 10; ++i) first[s * 2352 + i] = 0xFF;
    first[s * 2352 + 15] = 2;
  }
  WriteImage("disc.bin", first);
  WriteImage("disc.bin02", std::vector<unsigned char>(2352 * 200 + 5, 0));
  const std::string base = Folder / "disc.bin";
  const TRun run = Info(base);
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "Layout: raw mode 2 (2352-byte sectors)\n"
                     "Part 1: " + base + " (1411200 bytes)\n"
                     "Part 2: " + base + "02 (470405 bytes)\n"
                     "Note: the last 5 bytes of the image make no whole sector (2352 bytes) and are not read\n"
                     "Sectors: 800\n"
                     "Size: 1.56 MiB\n");
  EXPECT_EQ(run.Err, "");
}

TEST_F(InfoCommand, ReportsTheMountMessageThenThePathAndTheReason)
{
  WriteImage("short.iso", std::vector<unsigned char>(10, 0));
  const std::string mount(MountErrorMessage);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {Folder / "missing.iso", Folder / "missing.iso: No such file or directory"},
      {Folder / "short.iso", Folder / "short.iso: too small for a disc image (10 bytes)"},
      {Folder.Path.string(), Folder.Path.string() + ": Is a directory"},
      {"1:", "1:: not a drive name (D: to Z:)"},
  };
  for (const auto& [location, why] : cases) {
    const TRun run = Info(location);
    EXPECT_EQ(run.Status, 1) << location;
    EXPECT_EQ(run.Out, "") << location;
    EXPECT_EQ(run.Err, mount + "\ntessarin-cli: " + why + "\n") << location;
  }
}

}  // namespace
}  // namespace kx
