// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/kxShared.h"
#include "media/CdRom.h"
#include "support/kxCliRunner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kx {
namespace {

using test::TRun;
using ::testing::ContainsRegex;
using ::testing::Each;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

class DriveCommands : public ::testing::Test {
 protected:
  void SetUp() override
  {
    if (test::CliPath().empty()) GTEST_SKIP() << "KX_CLI is not set";
  }

  TRun Run(const std::string& args) const { return test::RunCli(args, Dir.Path.string()); }

  test::TScratchFolder Dir;
};

TEST_F(DriveCommands, DrivesListsOneLinePerDriveOrSaysThereIsNone)
{
  const TRun run = Run("drives");
  EXPECT_EQ(run.Status, 0) << run.Err;
  ASSERT_FALSE(run.Out.empty());
  std::vector<std::string> lines;
  for (std::size_t from = 0, to; from < run.Out.size(); from = to + 1) {
    to = run.Out.find('\n', from);
    ASSERT_NE(to, std::string::npos) << "every line ends with a newline";
    lines.push_back(run.Out.substr(from, to - from));
  }
  if (lines == std::vector<std::string>{"No optical drive found."}) return;
  EXPECT_THAT(lines, Each(MatchesRegex("[D-Z]:( \\(.*\\))?")));
}

TEST_F(DriveCommands, ImageFromAMissingDriveReportsItAndWritesNothing)
{
  if (std::filesystem::exists(DriveDevicePath('Z'))) GTEST_SKIP() << "this machine has a drive Z:";
  for (const char* drive : {"Z:", "z:"}) {
    const TRun run = Run(std::string("image ") + drive + " x");
    EXPECT_EQ(run.Status, 1) << drive;
    // The window's mount message first, then the device and the system's reason.
    EXPECT_EQ(run.Err, std::string(MountErrorMessage) + "\ntessarin-cli: " + DriveDevicePath('Z') +
                           ": No such file or directory\n") << drive;
    EXPECT_FALSE(std::filesystem::exists(Dir / "x.iso")) << drive;
    EXPECT_FALSE(std::filesystem::exists(Dir / "x")) << drive;
  }
}

TEST_F(DriveCommands, ImageTargetThatIsAFolderIsRefusedBeforeTheDriveIsOpened)
{
  // Z: is never opened: a missing drive would answer with the mount message instead.
  std::filesystem::create_directory(Dir / "backups");
  std::filesystem::create_directory(Dir / "old.iso");
  const struct {
    const char* Target;
    const char* Example;
  } cases[] = {{"backups/", "backups/disc.iso"}, {"backups", "backups/disc.iso"}, {"new/", "new/disc.iso"},
               {"old", "old/disc.iso"}, {".", "./disc.iso"}, {"/", "/disc.iso"}};
  for (const auto& c : cases) {
    const TRun run = Run(std::string("image Z: ") + test::Quote(c.Target));
    EXPECT_EQ(run.Status, 1) << c.Target;
    EXPECT_EQ(run.Out, "") << c.Target;
    EXPECT_EQ(run.Err, "tessarin-cli: \"" + std::string(c.Target) + "\" names a folder, not an image file; give a file name, such as \"" +
                           c.Example + "\".\n")
        << c.Target;
  }
  const TRun empty = Run("image Z: ''");
  EXPECT_EQ(empty.Status, 1);
  EXPECT_EQ(empty.Err, "tessarin-cli: No image file name was given.\n");
  EXPECT_FALSE(std::filesystem::exists(Dir / ".iso"));
  EXPECT_FALSE(std::filesystem::exists(Dir / "backups/.iso"));
  EXPECT_FALSE(std::filesystem::exists(Dir / "new"));
  EXPECT_TRUE(std::filesystem::is_empty(Dir / "backups"));
}

TEST_F(DriveCommands, ImageWantsADriveName)
{
  for (const char* drive : {"ZZ", "Z", "1:", "/dev/sr0"}) {
    const TRun run = Run(std::string("image ") + drive + " x.iso");
    EXPECT_EQ(run.Status, 2) << drive;
    EXPECT_THAT(run.Err, HasSubstr("drive letter")) << drive;
  }
  EXPECT_EQ(Run("image Z:").Status, 2) << "the file is required";
}

// rescue shares image's checks of its arguments; the drive decides the rest (the drive test in a VM).
TEST_F(DriveCommands, RescueChecksItsArgumentsBeforeTheDrive)
{
  for (const char* args : {"rescue ZZ x.iso", "rescue Z:", "rescue Z: x.iso --retry -1", "rescue Z: x.iso --retry two"}) {
    const TRun run = Run(args);
    EXPECT_EQ(run.Status, 2) << args;
  }
  std::filesystem::create_directory(Dir / "backups");
  const TRun folder = Run("rescue Z: backups/");
  EXPECT_EQ(folder.Status, 1);
  EXPECT_THAT(folder.Err, HasSubstr("names a folder"));
  if (std::filesystem::exists(DriveDevicePath('Z'))) GTEST_SKIP() << "this machine has a drive Z:";
  const TRun missing = Run("rescue Z: x --scrape --retry 2");
  EXPECT_EQ(missing.Status, 1);
  EXPECT_EQ(missing.Err, std::string(MountErrorMessage) + "\ntessarin-cli: " + DriveDevicePath('Z') +
                             ": No such file or directory\n");
  EXPECT_FALSE(std::filesystem::exists(Dir / "x.iso"));
  EXPECT_FALSE(std::filesystem::exists(Dir / "x.iso.map"));
}

}  // namespace
}  // namespace kx
