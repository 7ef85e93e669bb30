// SPDX-License-Identifier: GPL-3.0-or-later
// A file replaced only when its new content is whole, and never left half written.
#include "common/kxReplaceFile.h"

#include "common/kxPendingFiles.h"
#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <string>

namespace kx {
namespace {

std::ptrdiff_t FilesIn(const test::TScratchFolder& Dir)
{
  return std::distance(std::filesystem::directory_iterator(Dir.Path), {});
}

TEST(TkxReplacement, TheTargetChangesOnlyWhenTheNewFileIsCommitted)
{
  test::TScratchFolder dir;
  const std::string target = dir / "p.kx";
  test::WriteFileText(target, "old");
  {
    TkxReplacement file(target);
    ASSERT_EQ(file.Error(), 0);
    ASSERT_TRUE(os::Write(file.Handle(), reinterpret_cast<const std::uint8_t*>("half"), 4));
    // Hidden, beside the target, so that the rename stays on one file system.
    EXPECT_EQ(std::filesystem::path(file.TemporaryName()).parent_path(), dir.Path);
    EXPECT_TRUE(std::filesystem::path(file.TemporaryName()).filename().string().starts_with(".p.kx."));
  }
  EXPECT_EQ(test::ReadFileText(target), "old") << "a file never committed replaces nothing";
  EXPECT_EQ(FilesIn(dir), 1) << "nor stays behind";

  EXPECT_EQ(ReplaceFileWithText(target, "new"), 0);
  EXPECT_EQ(test::ReadFileText(target), "new");
  EXPECT_EQ(FilesIn(dir), 1);
  EXPECT_EQ(ReplaceFileWithText(dir / "no/such/folder/p.kx", "x"), ENOENT);
}

// What a second Ctrl+C removes: the new file, until it has become the target.
TEST(TkxReplacement, TheNewFileIsPendingUntilCommitted)
{
  test::TScratchFolder dir;
  const std::string target = dir / "disc.iso.map";
  test::WriteFileText(target, "old");
  TkxReplacement file(target);
  ASSERT_TRUE(std::filesystem::exists(file.TemporaryName()));
  RemovePendingFiles();
  EXPECT_FALSE(std::filesystem::exists(file.TemporaryName()));
  EXPECT_EQ(file.Commit(), ENOENT);
  EXPECT_EQ(test::ReadFileText(target), "old");

  EXPECT_EQ(ReplaceFileWithText(target, "new"), 0);
  RemovePendingFiles();
  EXPECT_EQ(test::ReadFileText(target), "new") << "a committed file is no longer pending";
}

}  // namespace
}  // namespace kx
