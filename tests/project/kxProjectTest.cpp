// SPDX-License-Identifier: GPL-3.0-or-later
#include "project/kxProject.h"

#include "support/kxSmallFileSystem.h"
#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace kx {
namespace {

using test::ReadFileText;
using test::TScratchFolder;
using test::WriteFileText;

struct TLoaded {
  std::string Location = "unchanged";
  TkxFileList List;
  std::string Error;
};

TLoaded LoadText(const TScratchFolder& dir, std::string_view text)
{
  const std::string name = dir / "p.kx";
  WriteFileText(name, text);
  TLoaded r;
  r.List.Add("previous", 77, 1, 2, true);
  try {
    LoadProject(name, r.Location, r.List);
  } catch (const EkxProjectError& e) {
    r.Error = e.what();
  }
  return r;
}

std::string SaveError(const std::string& name, const std::string& location, const TkxFileList& l)
{
  try {
    SaveProjectToFile(name, location, l);
  } catch (const EkxProjectError& e) {
    return e.what();
  }
  return "no error";
}

void ExpectEntry(const TkxFileList& l, std::int32_t i, const std::string& name, TKind kind, std::int64_t offset, std::int64_t size)
{
  SCOPED_TRACE("entry " + std::to_string(i));
  ASSERT_LT(i, l.Count);
  const TkxFileEntry& e = l.Items[static_cast<std::size_t>(i)];
  EXPECT_EQ(e.Name, name);
  EXPECT_EQ(e.Kind, kind);
  EXPECT_EQ(e.Offset, offset);
  EXPECT_EQ(e.Size, size);
  EXPECT_FALSE(e.Continues);
}

TEST(SaveProjectToFile, WritesTheExactFormat)
{
  TScratchFolder dir;
  TkxFileList l;
  l.Add("File 000001", 20, 32768, 15342, true);
  l.Add("File 000002", 0, 49152, 2048, true);
  SaveProjectToFile(dir / "a.kx", "E:", l);
  EXPECT_EQ(ReadFileText(dir / "a.kx"),
            "KX\nLOCATION\nE:\nFILES\n2\nFile 000001\n.bmp\n32768\n15342\nFile 000002\n\n49152\n2048\n");

  TkxFileList empty;
  SaveProjectToFile(dir / "a.kx", "", empty);
  EXPECT_EQ(ReadFileText(dir / "a.kx"), "KX\nLOCATION\n\nFILES\n0\n");
}

TEST(Project, RoundTripKeepsEverythingButContinuesAndTheSecondCab)
{
  TScratchFolder dir;
  TkxFileList l;
  l.Add("File 000001", 0, 0, 2048, true);
  l.Add("Cabinet", 34, 5'000'000'000, 9'000'000'000, false);
  l.Add("Doc", 53, 4096, 1, false);
  l.Add("", 66, 9'223'372'036'854'775'807, -9'223'372'036'854'775'807 - 1, false);
  l.Add("caf\xC3\xA9 \xE9", 1, 8, 8, false);  // bytes of any code page pass unchanged
  SaveProjectToFile(dir / "r.kx", "/media/images/disc.iso", l);

  std::string location;
  TkxFileList back;
  LoadProject(dir / "r.kx", location, back);
  EXPECT_EQ(location, "/media/images/disc.iso");
  ASSERT_EQ(back.Count, 5);
  EXPECT_EQ(back.Items.size(), 5u);
  ExpectEntry(back, 0, "File 000001", 0, 0, 2048);
  ExpectEntry(back, 1, "Cabinet", 33, 5'000'000'000, 9'000'000'000);
  ExpectEntry(back, 2, "Doc", 53, 4096, 1);
  ExpectEntry(back, 3, "", 66, 9'223'372'036'854'775'807, -9'223'372'036'854'775'807 - 1);
  ExpectEntry(back, 4, "caf\xC3\xA9 \xE9", 1, 8, 8);
}

TEST(LoadProject, ReadsWhatTheWriterWritesWithEitherLineEnd)
{
  TScratchFolder dir;
  struct Case {
    const char* What;
    std::string Text;
    std::string Location;
    std::int32_t Count;
  };
  const Case cases[] = {
      {"zero entries", "KX\nLOCATION\n\nFILES\n0\n", "", 0},
      {"CR LF line ends", "KX\r\nLOCATION\r\nE:\r\nFILES\r\n1\r\nA\r\n.JPG\r\n10\r\n20\r\n", "E:", 1},
      {"sections in either order", "KX\nFILES\n1\nA\n.jpg\n10\n20\nLOCATION\nE:\n", "E:", 1},
      {"signs and leading zeros", "KX\nLOCATION\nE:\nFILES\n+1\nA\n.jpg\n+010\n0020\n", "E:", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const TLoaded r = LoadText(dir, c.Text);
    EXPECT_EQ(r.Error, "");
    EXPECT_EQ(r.Location, c.Location);
    ASSERT_EQ(r.List.Count, c.Count);
    EXPECT_EQ(r.List.Items.size(), static_cast<std::size_t>(c.Count));
    if (c.Count == 1) ExpectEntry(r.List, 0, "A", 77, 10, 20);
  }
  const TLoaded r = LoadText(dir, "KX\nLOCATION\nE:\nFILES\n2\nA\n\n-9223372036854775808\n-0\n\n.cab\n9223372036854775807\n5\n");
  EXPECT_EQ(r.Error, "");
  ExpectEntry(r.List, 0, "A", 0, -9'223'372'036'854'775'807 - 1, 0);
  ExpectEntry(r.List, 1, "", 33, 9'223'372'036'854'775'807, 5);
}

// What a damaged or foreign file holds, and where its first fault lies.
TEST(LoadProject, AnyFaultNamesItsLineAndLeavesLocationAndListAsTheyWere)
{
  TScratchFolder dir;
  const std::string head = "KX\nLOCATION\nE:\nFILES\n";  // the count is line 5
  const std::string invalid(InvalidProjectMessage);
  const std::string numeric = "Invalid numeric input";
  struct Case {
    const char* What;
    std::string Text;
    std::string Message;
    std::int64_t Line;
    const char* Detail;  // a part of the detail
  };
  const Case cases[] = {
      {"an empty file", "", invalid, 1, "the file is empty"},
      {"a text file", "Dear reader,\nhello\n", invalid, 1, "not a project file"},
      {"bytes without a line end", std::string("\x89PNG\r\x1a\0\0", 8), invalid, 1, "not a project file"},
      {"the magic word alone", "KX\n", invalid, 2, "the LOCATION section is missing"},
      {"no FILES section", "KX\nLOCATION\nD:\n", invalid, 4, "the FILES section is missing"},
      {"a keyword in another case", "KX\nlocation\nE:\n", invalid, 2, "a section should begin here"},
      {"a keyword with a blank", "KX\nLOCATION\nE:\n FILES\n0\n", invalid, 4, "a section should begin here"},
      {"a repeated section", "KX\nLOCATION\nA:\nFILES\n0\nLOCATION\nE:\n", invalid, 6, "a second LOCATION section"},
      {"an empty line after the last section", head + "0\n\n", invalid, 6, "a section should begin here"},
      {"a location with a carriage return", "KX\nLOCATION\nE:\rx\nFILES\n0\n", invalid, 3, "carriage return"},
      {"the count followed by words", head + "1 entries\nA\n.jpg\n1\n2\n", numeric, 5, "the count of entries"},
      {"the count on a later line", head + "\n1\nA\n.jpg\n1\n2\n", numeric, 5, "the count of entries"},
      {"a negative count", head + "-1\n", numeric, 5, "negative"},
      {"a count above 32 bits", head + "2147483648\n", numeric, 5, "the count of entries"},
      {"more entries than any disc holds", head + "30000000\nA\n.jpg\n0\n0\n", std::string(TooManyEntriesMessage), 5,
       "30000000 entries"},
      {"a file cut short in an entry", head + "3\nA\n.png\n4096\n", invalid, 9, "the size of entry 1 of 3"},
      {"a file cut short between entries", head + "2\nA\n.png\n4096\n10\n", invalid, 10, "the name of entry 2 of 2"},
      {"the last line without its line end", head + "1\nA\n.png\n4096\n10", invalid, 9, "cut short"},
      {"an offset in hexadecimal", head + "1\nA\n.jpg\n0x10\n5\n", numeric, 8, "the offset of entry 1 of 1"},
      {"two signs", head + "1\nA\n.jpg\n--5\n20\n", numeric, 8, "the offset"},
      {"a number followed by a blank", head + "1\nA\n.jpg\n5 \n20\n", numeric, 8, "the offset"},
      {"a size above 64 bits", head + "1\nA\n.jpg\n1\n9223372036854775808\n", numeric, 9, "the size of entry 1"},
      {"an empty line that shifts the fields", head + "2\nA\n.txt\n\n7\n9\n.gif\n11\n12\n", numeric, 8, "the offset"},
      {"an unknown extension", head + "2\nA\n.jpg\n0\n1\nB\n.xyz\n0\n1\n", invalid, 11, "the extension of entry 2 of 2"},
      {"check states of another list", head + "0\nCHECK\n1\nwhole 10\n", std::string(MalformedCheckMessage), 7,
       "count, 1, is not the list's, 0"},
      {"a second CHECK section", head + "0\nCHECK\n0\nCHECK\n0\n", invalid, 8, "a second CHECK section"},
      // Counts that the items do not bear out are named with their line.
      {"a FILES count one too high", head + "2\nA\n.jpg\n0\n1\nCHECK\n1\nwhole 1\n", invalid, 5,
       "a section begins after 1 of the 2 entries that the count on line 5 gives: the count is too high"},
      {"a FILES count one too low", head + "1\nA\n.jpg\n0\n1\nB\n.jpg\n0\n1\n", invalid, 10,
       "a section should begin here (LOCATION, FILES or CHECK), or the count on line 5, 1, is too low"},
      {"a CHECK count one too low", head + "2\nA\n.jpg\n0\n1\nB\n\n0\n1\nCHECK\n1\nwhole 1\nwhole 2\n",
       std::string(MalformedCheckMessage), 17, "a check line follows the 1 that the count on line 15 gives: the count is too low"},
      {"a CHECK count one too high", "KX\nCHECK\n2\nwhole 1\nLOCATION\nE:\nFILES\n1\nA\n.jpg\n0\n1\n",
       std::string(MalformedCheckMessage), 3,
       "a section begins after 1 of the 2 check lines that the count on line 3 gives: the count is too high"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const std::string name = dir / "p.kx";
    WriteFileText(name, c.Text);
    std::string location = "unchanged";
    TkxFileList list;
    list.Add("previous", 77, 1, 2, true);
    try {
      LoadProject(name, location, list);
      ADD_FAILURE() << "loaded";
    } catch (const EkxProjectError& e) {
      EXPECT_EQ(e.what(), c.Message);
      EXPECT_EQ(e.Line, c.Line);
      EXPECT_NE(e.Detail.find(c.Detail), std::string::npos) << e.Detail;
      EXPECT_EQ(ProjectErrorPlace(name, e), name + ", line " + std::to_string(c.Line));
      EXPECT_EQ(ProjectErrorReason(e), e.Detail);
    }
    EXPECT_EQ(location, "unchanged");
    ASSERT_EQ(list.Count, 1);
    EXPECT_EQ(list.Items[0].Name, "previous");
  }
}

// The largest single allocation made while the flag is set.
std::atomic<bool> TrackAllocations{false};
std::atomic<std::size_t> LargestAllocation{0};

}  // namespace
}  // namespace kx

void* operator new(std::size_t Size)
{
  if (kx::TrackAllocations.load(std::memory_order_relaxed)) {
    std::size_t seen = kx::LargestAllocation.load(std::memory_order_relaxed);
    while (Size > seen && !kx::LargestAllocation.compare_exchange_weak(seen, Size)) {
    }
  }
  if (void* p = std::malloc(Size == 0 ? 1 : Size)) return p;
  throw std::bad_alloc();
}
// Not inlined: g++ 12 at -O2 would see free() called on what operator new returned and, not
// knowing that this operator new takes its memory from malloc(), report a mismatch.
[[gnu::noinline]] void operator delete(void* P) noexcept { std::free(P); }
[[gnu::noinline]] void operator delete(void* P, std::size_t) noexcept { std::free(P); }

namespace kx {
namespace {

// A small file that states the most entries a project may hold costs no memory for them: only
// the entries it really holds are made.
TEST(LoadProject, ACountTheFileDoesNotBearOutIsNotAllocated)
{
  const std::string text = "KX\nLOCATION\nE:\nFILES\n" + std::to_string(MaxProjectEntries) + "\nA\n.jpg\n0\n1\n";
  std::string location;
  TkxFileList list;
  LargestAllocation = 0;
  TrackAllocations = true;
  EXPECT_THROW(LoadProjectFromText(text, location, list), EkxProjectError);
  TrackAllocations = false;
  EXPECT_LT(LargestAllocation.load(), std::size_t{1} << 20);
  EXPECT_EQ(list.Count, 0);

  // Nor is a project written that could not be opened again; the guard comes before the entries
  // are looked at.
  TScratchFolder dir;
  TkxFileList tooMany;
  tooMany.Count = MaxProjectEntries + 1;
  EXPECT_EQ(SaveError(dir / "p.kx", "E:", tooMany), std::string(TooManyEntriesMessage));
  EXPECT_FALSE(std::filesystem::exists(dir / "p.kx"));
}

TEST(ProjectIOErrors, CarryTheRunTimeTexts)
{
  TScratchFolder dir;
  std::string location;
  TkxFileList l;
  const auto loadError = [&](const std::string& name) {
    try {
      LoadProject(name, location, l);
    } catch (const EkxProjectError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  const auto saveError = [&](const std::string& name) {
    try {
      SaveProjectToFile(name, "E:", l);
    } catch (const EkxProjectError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(loadError(dir / "missing.kx"), "File not found");
  EXPECT_EQ(loadError(dir.Path.string()), "File access denied");
  EXPECT_EQ(saveError(dir / "no/such/folder.kx"), "File not found");
  EXPECT_EQ(saveError(dir.Path.string()), "File access denied");
  if (std::filesystem::exists("/dev/full")) {
    // A device is never replaced by a project, nor read as one.
    EXPECT_EQ(saveError("/dev/full"), "Not a regular file");
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
  }
  if (::geteuid() != 0) {
    WriteFileText(dir / "locked.kx", "KX\n");
    std::filesystem::permissions(dir / "locked.kx", std::filesystem::perms::none);
    EXPECT_EQ(loadError(dir / "locked.kx"), "File access denied");
    EXPECT_EQ(saveError(dir / "locked.kx"), "File access denied");
  }
}

std::vector<std::string> FilesIn(const std::string& Dir)
{
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(Dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TkxFileList ManyEntries(int n)
{
  TkxFileList l;
  for (int i = 0; i < n; ++i) l.Add("File " + std::to_string(i), 77, 2048 * i, 1000 + i, false);
  return l;
}


// A project is read a block at a time: reading one holds its list, never its file as well.
TEST(LoadProject, HoldsNoCopyOfTheFile)
{
  TScratchFolder dir;
  TkxFileList l;
  for (int i = 0; i < 20000; ++i) l.Add(std::string(200, 'n') + std::to_string(i), 77, 2048 * i, 1000, false);
  SaveProjectToFile(dir / "p.kx", "E:", l);
  const auto fileSize = static_cast<std::size_t>(std::filesystem::file_size(dir / "p.kx"));
  std::string location;
  TkxFileList back;
  LargestAllocation = 0;
  TrackAllocations = true;
  LoadProject(dir / "p.kx", location, back);
  TrackAllocations = false;
  EXPECT_EQ(back.Count, 20000);
  EXPECT_EQ(back.Items[19999].Name, l.Items[19999].Name);
  EXPECT_LT(LargestAllocation.load(), fileSize / 2) << "of a file of " << fileSize << " bytes";
}

// What the reader would refuse is never written: the save is refused before a byte is, and the
// project saved before stays as it was.
TEST(SaveProjectToFile, RefusesWhatCouldNotBeReadAgainAndKeepsTheOldFile)
{
  TScratchFolder dir;
  const std::string name = dir / "p.kx";
  SaveProjectToFile(name, "E:", ManyEntries(3));
  const std::string before = ReadFileText(name);
  const auto refusal = [&](const TkxFileList& List) {
    const std::string error = SaveError(name, "E:", List);
    EXPECT_EQ(ReadFileText(name), before);
    EXPECT_EQ(FilesIn(dir.Dir()), std::vector<std::string>{"p.kx"});
    return error;
  };
  TkxFileList lineFeed = ManyEntries(3);
  lineFeed.Items[1].Name = "a\nb";
  EXPECT_EQ(refusal(lineFeed), std::string(InvalidProjectMessage));
  TkxFileList carriageReturn = ManyEntries(3);
  carriageReturn.Items[2].Name = "a\r";
  EXPECT_EQ(refusal(carriageReturn), std::string(InvalidProjectMessage));
  TkxFileList negative = ManyEntries(3);
  negative.Items[0].Check = TkxCheckState::Damaged;
  negative.Items[0].CheckedSize = -1;
  EXPECT_EQ(refusal(negative), std::string(MalformedCheckMessage));

  // The size: counted exactly, so that the largest file the reader takes is still written.
  struct TSized {
    const char* What;
    std::string Location;
    TkxFileList List;
  };
  TkxFileList checked = ManyEntries(4);
  checked.Items[3].Check = TkxCheckState::Whole;
  checked.Items[3].CheckedSize = 1003;
  TkxFileList extremes;
  extremes.Add("", 0, -9'223'372'036'854'775'807 - 1, 9'223'372'036'854'775'807, false);
  const TSized sized[] = {{"no entries", "", TkxFileList{}}, {"plain", "/img/disc.iso", ManyEntries(12)},
                          {"checked", "E:", checked}, {"extreme numbers", "E:", extremes}};
  for (const TSized& c : sized) {
    SCOPED_TRACE(c.What);
    SaveProjectToFile(dir / "s.kx", c.Location, c.List);
    const auto bytes = static_cast<std::int64_t>(std::filesystem::file_size(dir / "s.kx"));
    EXPECT_EQ(ProjectFileSize(c.Location, c.List), bytes);
    EXPECT_NO_THROW(CheckProjectSavable(c.Location, c.List, bytes));
    try {
      CheckProjectSavable(c.Location, c.List, bytes - 1);
      ADD_FAILURE() << "a project one byte too large passed";
    } catch (const EkxProjectError& e) {
      EXPECT_EQ(e.what(), std::string(ProjectTooLargeMessage));
      EXPECT_NE(e.Detail.find("would take " + std::to_string(bytes) + " bytes"), std::string::npos) << e.Detail;
    }
  }
}

TEST(SaveProjectToFile, AFailedSaveLeavesThePreviousProjectAsItWas)
{
  test::TSmallFileSystem small(64 * 1024);
  KX_REQUIRE_MOUNTED(small);
  const std::string name = small / "p.kx";
  SaveProjectToFile(name, "E:", ManyEntries(10));
  const std::string before = ReadFileText(name);

  EXPECT_EQ(SaveError(name, "E:", ManyEntries(5000)), "Disk full");
  EXPECT_EQ(ReadFileText(name), before);
  EXPECT_EQ(FilesIn(small.Dir()), std::vector<std::string>{"p.kx"});

  // A new name that does not fit leaves nothing behind either.
  EXPECT_EQ(SaveError(small / "q.kx", "E:", ManyEntries(5000)), "Disk full");
  EXPECT_EQ(FilesIn(small.Dir()), std::vector<std::string>{"p.kx"});
}

// A report is written as a project is: a full disk leaves the earlier report as it was, and no
// new file beside it.
TEST(SaveTextToFile, AFailedWriteLeavesTheEarlierFileAsItWas)
{
  test::TSmallFileSystem small(64 * 1024);
  KX_REQUIRE_MOUNTED(small);
  const std::string name = small / "report.xml";
  SaveTextToFile(name, "<dfxml/>\n");
  EXPECT_THROW(SaveTextToFile(name, std::string(100 * 1024, 'x')), EkxProjectError);
  EXPECT_EQ(ReadFileText(name), "<dfxml/>\n");
  EXPECT_EQ(FilesIn(small.Dir()), std::vector<std::string>{"report.xml"});
}

TEST(SaveProjectToFile, ConcurrentSavesAndReadsSeeOnlyWholeProjects)
{
  TScratchFolder dir;
  const std::string name = dir / "p.kx";
  const TkxFileList a = ManyEntries(3000);
  const TkxFileList b = ManyEntries(2000);
  SaveProjectToFile(dir / "a.kx", "A:", a);
  SaveProjectToFile(dir / "b.kx", "B:", b);
  const std::string textA = ReadFileText(dir / "a.kx");
  const std::string textB = ReadFileText(dir / "b.kx");
  SaveProjectToFile(name, "A:", a);

  std::atomic<bool> done{false};
  std::atomic<int> mixed{0};
  std::thread reader([&] {
    while (!done) {
      const std::string text = ReadFileText(name);
      if (text != textA && text != textB) ++mixed;
    }
  });
  std::thread other([&] {
    for (int i = 0; i < 30; ++i) SaveProjectToFile(name, "B:", b);
  });
  for (int i = 0; i < 30; ++i) SaveProjectToFile(name, "A:", a);
  other.join();
  done = true;
  reader.join();
  EXPECT_EQ(mixed, 0);
  const std::string last = ReadFileText(name);
  EXPECT_TRUE(last == textA || last == textB);
  EXPECT_EQ(FilesIn(dir.Dir()), (std::vector<std::string>{"a.kx", "b.kx", "p.kx"}));
}

TEST(SaveProjectToFile, ReplacesThroughALinkAndKeepsPermissions)
{
  TScratchFolder dir;
  std::filesystem::create_directories(dir / "real");
  WriteFileText(dir / "real/p.kx", "old");
  ::chmod((dir / "real/p.kx").c_str(), 0640);
  std::filesystem::create_symlink(dir / "real/p.kx", dir / "link.kx");
  TkxFileList empty;
  SaveProjectToFile(dir / "link.kx", "E:", empty);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.kx"));
  EXPECT_EQ(ReadFileText(dir / "real/p.kx"), "KX\nLOCATION\nE:\nFILES\n0\n");
  struct stat st {};
  ASSERT_EQ(::stat((dir / "real/p.kx").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(FilesIn(dir / "real"), std::vector<std::string>{"p.kx"});
}

TEST(SaveProjectToFile, ALocationWithALineBreakIsRefused)
{
  TScratchFolder dir;
  const std::string name = dir / "p.kx";
  TkxFileList l = ManyEntries(2);
  SaveProjectToFile(name, "E:", l);
  const std::string before = ReadFileText(name);
  for (const char* location : {"/img/disc.iso\n/etc/passwd", "/img/disc.iso\r", "\n"}) {
    SCOPED_TRACE(location);
    EXPECT_EQ(SaveError(name, location, l), "The location holds a line break and cannot be saved");
    EXPECT_EQ(ReadFileText(name), before);
  }
  EXPECT_EQ(FilesIn(dir.Dir()), std::vector<std::string>{"p.kx"});
}

TEST(LoadProject, OnlyRegularFilesOfAPlausibleSizeAreRead)
{
  TScratchFolder dir;
  std::string location = "unchanged";
  TkxFileList l;
  const auto loadError = [&](const std::string& name) {
    try {
      LoadProject(name, location, l);
    } catch (const EkxProjectError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  ASSERT_EQ(::mkfifo((dir / "pipe.kx").c_str(), 0600), 0);
  EXPECT_EQ(loadError(dir / "pipe.kx"), "Not a regular file");
  EXPECT_EQ(SaveError(dir / "pipe.kx", "E:", l), "Not a regular file");
  EXPECT_THROW(CheckProjectTarget(dir / "pipe.kx"), EkxProjectError);
  EXPECT_NO_THROW(CheckProjectTarget(dir / "new.kx"));
  if (std::filesystem::exists("/dev/zero")) {
    EXPECT_EQ(loadError("/dev/zero"), "Not a regular file");
  }

  // A sparse file one byte above the bound: refused before anything is read.
  const std::string big = dir / "big.kx";
  WriteFileText(big, "KX\nLOCATION\nE:\n");
  std::filesystem::resize_file(big, static_cast<std::uintmax_t>(MaxProjectFileSize) + 1);
  EXPECT_EQ(loadError(big), "File too large for a project");
  EXPECT_EQ(location, "unchanged");
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// The error of CheckProjectTarget as message and system error number; "none" when it passes.
std::pair<std::string, int> TargetError(const std::string& FileName)
{
  try {
    CheckProjectTarget(FileName);
  } catch (const EkxProjectError& e) {
    return {e.what(), e.Error};
  }
  return {"none", 0};
}

TEST(CheckProjectTarget, RefusesWhatASaveWouldFailOnWithTheSystemsReason)
{
  TScratchFolder dir;
  std::filesystem::create_directory(dir / "folder.kx");
  EXPECT_EQ(TargetError(dir / "folder.kx"), std::make_pair(std::string("File access denied"), EISDIR));
  EXPECT_EQ(TargetError(dir / "missing/p.kx"), std::make_pair(std::string("File not found"), ENOENT));
  WriteFileText(dir / "file", "x");
  EXPECT_EQ(TargetError(dir / "file/p.kx"), std::make_pair(std::string("File not found"), ENOTDIR));
  EXPECT_EQ(TargetError(dir / "new.kx"), std::make_pair(std::string("none"), 0));
  WriteFileText(dir / "old.kx", "KX\n");
  EXPECT_EQ(TargetError(dir / "old.kx"), std::make_pair(std::string("none"), 0));
  // The test leaves nothing behind.
  EXPECT_EQ(FilesIn(dir.Dir()), (std::vector<std::string>{"file", "folder.kx", "old.kx"}));

  // A full file system still takes an empty file, but not the bytes of a project.
  {
    test::TSmallFileSystem full(64 * 1024);
    KX_REQUIRE_MOUNTED(full);
    WriteFileText(full / "filler", std::string(60 * 1024, 'x'));
    EXPECT_EQ(TargetError(full / "p.kx"), std::make_pair(std::string("Disk full"), ENOSPC));
    EXPECT_EQ(FilesIn(full.Dir()), std::vector<std::string>{"filler"});
  }

  // A read-only file system refuses even root.
  test::TSmallFileSystem small(64 * 1024);
  KX_REQUIRE_MOUNTED(small);
  ASSERT_EQ(::mount(nullptr, small.Dir().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
  EXPECT_EQ(TargetError(small / "p.kx"), std::make_pair(std::string("File access denied"), EROFS));
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// The check's states and sizes travel in a "CHECK" section after "FILES", written only when an
// entry was checked, so that an unchecked project is written exactly as before.
TEST(Project, CheckStatesRoundTripInTheirOwnSection)
{
  TScratchFolder dir;
  TkxFileList l;
  l.Add("movie", Kinds::Mp4, 0, 9000, false);
  l.Add("letter", Kinds::Docx, 10240, 3000, false);
  l.Add("rest", Kinds::Unknown, 14336, 2048, false);
  l.Items[0].Check = TkxCheckState::Truncated;
  l.Items[0].CheckedSize = 123456789012;
  l.Items[1].Check = TkxCheckState::Whole;
  l.Items[1].CheckedSize = 3000;
  SaveProjectToFile(dir / "p.kx", "E:", l);
  const std::string text = ReadFileText(dir / "p.kx");
  EXPECT_TRUE(text.ends_with("\nCHECK\n3\ntruncated 123456789012\nwhole 3000\nunchecked 0\n")) << text;

  // Sections in any order: the states go to the list the file leaves.
  const std::string reordered = "KX\nCHECK\n3\ntruncated 123456789012\nwhole 3000\nunchecked 0\n" +
                                text.substr(3, text.find("CHECK") - 3);
  for (const std::string& t : {text, reordered}) {
    const TLoaded r = LoadText(dir, t);
    ASSERT_EQ(r.Error, "");
    ASSERT_EQ(r.List.Count, 3);
    EXPECT_EQ(r.List.Items[1].Kind, Kinds::Docx);
    EXPECT_EQ(r.List.Items[0].Check, TkxCheckState::Truncated);
    EXPECT_EQ(r.List.Items[0].CheckedSize, 123456789012);
    EXPECT_EQ(r.List.Items[1].Check, TkxCheckState::Whole);
    EXPECT_EQ(r.List.Items[2].Check, TkxCheckState::NotChecked);
  }

  l.Items[0].Check = l.Items[1].Check = TkxCheckState::NotChecked;
  l.Items[0].CheckedSize = l.Items[1].CheckedSize = 0;
  SaveProjectToFile(dir / "q.kx", "E:", l);
  EXPECT_EQ(ReadFileText(dir / "q.kx").find("CHECK"), std::string::npos);
}

TEST(LoadProject, ACheckSectionIsReadStrictly)
{
  TScratchFolder dir;
  const std::string files = "KX\nLOCATION\nE:\nFILES\n2\nA\n.jpg\n0\n10\nB\n.png\n2048\n20\n";
  const struct {
    const char* Label;
    std::string Section;
    bool Valid;
  } cases[] = {
      {"two good lines", "CHECK\n2\nwhole 10\ndamaged 7\n", true},
      {"a count that is not the list's", "CHECK\n1\nwhole 10\n", false},
      {"an unknown state", "CHECK\n2\nwhole 10\nbroken 7\n", false},
      {"a state in another case", "CHECK\n2\nWhole 10\ndamaged 7\n", false},
      {"a negative size", "CHECK\n2\nwhole 10\ndamaged -7\n", false},
      {"a size with a sign", "CHECK\n2\nwhole +10\ndamaged 7\n", false},
      {"no size", "CHECK\n2\nwhole\ndamaged 7\n", false},
      {"two blanks", "CHECK\n2\nwhole  10\ndamaged 7\n", false},
      {"something after the size", "CHECK\n2\nwhole 10 x\ndamaged 7\n", false},
      {"a size past 64 bits", "CHECK\n2\nwhole 99999999999999999999\ndamaged 7\n", false},
      {"lines cut short", "CHECK\n2\nwhole 10\n", false},
      {"an absurd count", "CHECK\n2000000000\nwhole 10\n", false},
      {"a negative count", "CHECK\n-2\n", false},
      {"carriage returns", "CHECK\r\n2\r\nwhole 10\r\ndamaged 7\r\n", true},
  };
  for (const auto& c : cases) {
    const TLoaded r = LoadText(dir, files + c.Section);
    EXPECT_EQ(r.Error, c.Valid ? "" : std::string(MalformedCheckMessage)) << c.Label;
    if (c.Valid) {
      EXPECT_EQ(r.List.Items[1].Check, TkxCheckState::Damaged) << c.Label;
      EXPECT_EQ(r.List.Items[1].CheckedSize, 7) << c.Label;
    }
  }
}

}  // namespace
}  // namespace kx
