// SPDX-License-Identifier: GPL-3.0-or-later
// The contract of the platform layer as the core relies on it, checked against this platform's
// implementation: failures leave their reason in errno, reads stop at the end, new files never
// take an existing name, and a replacement is whole.
#include "common/kxPlatform.h"

#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include <sys/stat.h>

namespace kx {
namespace {

using test::ReadFileText;
using test::TScratchFolder;
using test::WriteFileText;

std::string ReadAll(os::TFileHandle File)
{
  std::string text;
  std::uint8_t chunk[3];
  for (std::int64_t n; (n = os::Read(File, chunk, sizeof chunk)) > 0;) text.append(chunk, chunk + n);
  return text;
}

TEST(PlatformFiles, ReadsStopAtTheEndAndFailuresNameTheirReason)
{
  TScratchFolder dir;
  WriteFileText(dir / "f", "0123456789");

  const os::TFileHandle file = os::OpenRead(dir / "f");
  ASSERT_NE(file, os::NoFileHandle);
  EXPECT_EQ(os::Status(file).Kind, os::TFileKind::Regular);
  EXPECT_EQ(os::Status(file).Size, 10);
  EXPECT_EQ(ReadAll(file), "0123456789");  // in steps smaller than the file
  EXPECT_EQ(os::Size(file), 10);
  std::uint8_t buffer[8] = {};
  EXPECT_EQ(os::ReadAt(file, buffer, 8, 6), 4) << "a read that reaches the end returns what there was";
  EXPECT_EQ(std::string(buffer, buffer + 4), "6789");
  EXPECT_EQ(os::ReadAt(file, buffer, 8, 10), 0);
  EXPECT_TRUE(os::Close(file));

  const os::TFileHandle folder = os::OpenRead(dir.Path.string());
  ASSERT_NE(folder, os::NoFileHandle);
  EXPECT_EQ(os::Status(folder).Kind, os::TFileKind::Directory);
  os::Close(folder);
  const os::TFileHandle device = os::OpenRead("/dev/null");
  ASSERT_NE(device, os::NoFileHandle);
  EXPECT_EQ(os::Status(device).Kind, os::TFileKind::Other);
  os::Close(device);

  errno = 0;
  EXPECT_EQ(os::OpenRead(dir / "missing"), os::NoFileHandle);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_FALSE(os::CanWrite(dir / "missing"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_TRUE(os::CanWrite(dir / "f"));
  EXPECT_TRUE(os::IsDiskFull(ENOSPC));
  EXPECT_FALSE(os::IsDiskFull(EIO));
}

TEST(PlatformFiles, ANewFileTakesNoExistingNameAndReplacesWhole)
{
  TScratchFolder dir;
  WriteFileText(dir / "old", "old");
  ::chmod((dir / "old").c_str(), 0640);
  std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");

  for (const char* taken : {"old", "dangling"}) {
    errno = 0;
    EXPECT_EQ(os::CreateNew(dir / taken), os::NoFileHandle) << taken;
    EXPECT_EQ(errno, EEXIST) << taken;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "nowhere")) << "nothing is created through a link";
  EXPECT_EQ(ReadFileText(dir / "old"), "old");

  const os::TFileHandle file = os::CreateNew(dir / "new");
  ASSERT_NE(file, os::NoFileHandle);
  const std::string text = "new text";
  EXPECT_TRUE(os::Write(file, reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<std::int64_t>(text.size())));
  EXPECT_TRUE(os::KeepAttributes(file, dir / "old"));
  EXPECT_TRUE(os::KeepAttributes(file, dir / "missing")) << "nothing to keep is no failure";
  EXPECT_TRUE(os::Sync(file));
  EXPECT_TRUE(os::Close(file));

  ASSERT_TRUE(os::Replace(dir / "new", dir / "old"));
  EXPECT_EQ(ReadFileText(dir / "old"), text);
  EXPECT_FALSE(std::filesystem::exists(dir / "new"));
  struct stat st {};
  ASSERT_EQ(::stat((dir / "old").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  errno = 0;
  EXPECT_FALSE(os::Replace(dir / "new", dir / "old"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(ReadFileText(dir / "old"), text);

  // A finished file takes only a free name: never a file's, nor a dangling link's.
  WriteFileText(dir / "done", "done");
  for (const char* taken : {"old", "dangling"}) {
    errno = 0;
    EXPECT_FALSE(os::RenameNoReplace(dir / "done", dir / taken)) << taken;
    EXPECT_EQ(errno, EEXIST) << taken;
  }
  EXPECT_EQ(ReadFileText(dir / "old"), text);
  EXPECT_TRUE(os::RenameNoReplace(dir / "done", dir / "free"));
  EXPECT_EQ(ReadFileText(dir / "free"), "done");
  EXPECT_FALSE(std::filesystem::exists(dir / "done"));
}

// A rescue writes its image where each sector belongs, in any order, and grows it to the disc's
// size with zeros.
TEST(PlatformFiles, WritesAtPositionsAndGrowsWithZeros)
{
  TScratchFolder dir;
  WriteFileText(dir / "image", "abcdef");
  const os::TFileHandle file = os::OpenWrite(dir / "image");
  ASSERT_NE(file, os::NoFileHandle);
  EXPECT_TRUE(os::Resize(file, 12));
  const std::uint8_t x[] = {'X', 'Y'};
  EXPECT_TRUE(os::WriteAt(file, x, 2, 8));
  EXPECT_TRUE(os::WriteAt(file, x, 1, 1));
  EXPECT_TRUE(os::Sync(file));
  EXPECT_TRUE(os::Close(file));
  EXPECT_EQ(ReadFileText(dir / "image"), std::string("aXcdef\0\0XY\0\0", 12)) << "kept, written, zeros";

  errno = 0;
  EXPECT_EQ(os::OpenWrite(dir / "missing"), os::NoFileHandle) << "an image is continued, never made here";
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST(PlatformDrives, LettersWithoutADevicePathAreNoDrives)
{
  for (const char c : {'A', 'b', 'C', '1', ':', '\0'}) EXPECT_FALSE(IsOpticalDrive(c)) << c;
}

}  // namespace
}  // namespace kx
