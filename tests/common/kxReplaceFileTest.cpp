// SPDX-License-Identifier: GPL-3.0-or-later
// A file replaced only when its new content is whole, and never left half written.
#include "common/kxReplaceFile.h"

#include "common/kxPendingFiles.h"
#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace kx {
namespace {

std::vector<std::string> FilesIn(const test::TScratchFolder& Dir)
{
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(Dir.Path)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool WriteText(const TkxReplacement& File, std::string_view Text)
{
  return os::Write(File.Handle(), reinterpret_cast<const std::uint8_t*>(Text.data()), static_cast<std::int64_t>(Text.size()));
}

TEST(TkxReplacement, TheTargetChangesOnlyWhenTheNewFileIsCommitted)
{
  test::TScratchFolder dir;
  const std::string target = dir / "p.kx";
  test::WriteFileText(target, "old");
  {
    TkxReplacement file(target);
    ASSERT_EQ(file.Error(), 0);
    ASSERT_TRUE(WriteText(file, "new"));
    // Hidden, beside the target, so that the rename stays on one file system.
    EXPECT_EQ(std::filesystem::path(file.TemporaryName()).parent_path(), dir.Path);
    EXPECT_TRUE(std::filesystem::path(file.TemporaryName()).filename().string().starts_with(".p.kx."));
    EXPECT_EQ(test::ReadFileText(target), "old");
    EXPECT_EQ(file.Commit(), 0);
  }
  EXPECT_EQ(test::ReadFileText(target), "new");
  EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"p.kx"});

  {
    TkxReplacement abandoned(target);
    ASSERT_TRUE(WriteText(abandoned, "half"));
  }
  EXPECT_EQ(test::ReadFileText(target), "new") << "a file never committed replaces nothing";
  EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"p.kx"}) << "nor stays behind";
}

// What a second Ctrl+C removes: the new file, until it has become the target.
TEST(TkxReplacement, TheNewFileIsPendingUntilCommitted)
{
  test::TScratchFolder dir;
  const std::string target = dir / "disc.iso.map";
  test::WriteFileText(target, "old");
  TkxReplacement file(target);
  ASSERT_EQ(file.Error(), 0);
  ASSERT_TRUE(std::filesystem::exists(file.TemporaryName()));
  RemovePendingFiles();
  EXPECT_FALSE(std::filesystem::exists(file.TemporaryName()));
  EXPECT_EQ(file.Commit(), ENOENT);
  EXPECT_EQ(test::ReadFileText(target), "old");

  EXPECT_EQ(ReplaceFileWithText(target, "new"), 0);
  RemovePendingFiles();
  EXPECT_EQ(test::ReadFileText(target), "new") << "a committed file is no longer pending";
}

TEST(ReplaceFileWithText, WritesAWholeFileOrSaysWhyNot)
{
  test::TScratchFolder dir;
  EXPECT_EQ(ReplaceFileWithText(dir / "report.xml", "<dfxml/>\n"), 0);
  EXPECT_EQ(test::ReadFileText(dir / "report.xml"), "<dfxml/>\n");
  EXPECT_EQ(ReplaceFileWithText(dir / "no/such/folder/report.xml", "x"), ENOENT);
  const TkxReplacement missing(dir / "no/such/folder/report.xml");
  EXPECT_EQ(missing.Error(), ENOENT);
  EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"report.xml"});
}

}  // namespace
}  // namespace kx
