// SPDX-License-Identifier: GPL-3.0-or-later
#include "recognition/kxCheck.h"

#include "recognition/kxRecognition.h"
#include "recognition/kxRealFiles.h"
#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <zlib.h>
#include <zstd.h>

#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

#include <string>
#include <string_view>
#include <vector>

namespace kx {
namespace {

using test::TBytes;
using namespace std::string_view_literals;
constexpr std::size_t ss = 2048;

using test::Fixture;
using test::Gzip;

// A medium laid out sector by sector; each piece begins on a sector boundary.
struct TLayout {
  TBytes Bytes;
  std::size_t Put(const TBytes& Piece, std::uint8_t Pad = 0)
  {
    const std::size_t at = Bytes.size();
    Bytes.insert(Bytes.end(), Piece.begin(), Piece.end());
    Bytes.resize((Bytes.size() + ss - 1) / ss * ss, Pad);
    return at;
  }
};

// A PDF whose first revision ends in its second sector and whose update runs on into a third
// sector of plain text: the scan closes the PDF at the first end-of-file marker and makes the
// rest a text entry, which the check merges back.
TBytes RevisedPdf()
{
  std::string pdf = "%PDF-1.4\n";
  while (pdf.size() < 3000) pdf += "% padding of the first revision\n";
  pdf += "trailer\n<< /Size 1 >>\nstartxref\n9\n%%EOF\n";
  pdf += "2 0 obj\n<< /Info (updated) >>\nendobj\n";
  while (pdf.size() < 5000) pdf += "% padding of the update\n";
  pdf += "trailer\n<< /Size 3 /Prev 9 >>\nstartxref\n3100\n%%EOF\n";
  return {pdf.begin(), pdf.end()};
}

TBytes CutZstd()
{
  TBytes in(60000);
  for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
  TBytes out(ZSTD_compressBound(in.size()));
  out.resize(ZSTD_compress(out.data(), out.size(), in.data(), in.size(), 3));
  out.resize(out.size() * 2 / 3);
  return out;
}

struct TExpected {
  std::size_t Offset;
  TKind Kind;
  TkxCheckState State;
  std::int64_t Size;
};

TEST(CheckFoundFiles, SetsExactSizesAndStatesOfAScannedMedium)
{
  TLayout m;
  const TBytes jpg = Fixture("tiny.jpg"), png = Fixture("tiny.png"), mp4 = Fixture("tiny.mp4"), pdf = RevisedPdf();
  const std::size_t jpgAt = m.Put(jpg);
  m.Put(TBytes(2 * ss, 0x01));  // unrecognised: the open JPEG entry takes it
  // A picture whose last sector another photo took.
  const std::size_t pngAt = m.Put(TBytes(png.begin(), png.begin() + 3000));
  const std::size_t photoAt = m.Put(jpg);
  const std::size_t pdfAt = m.Put(pdf);
  const std::size_t zerosAt = m.Put(TBytes(ss, 0));
  const std::size_t mp4At = m.Put(mp4);
  // A JPEG header in a sector inside the movie's data: a false start, with the scan's
  // structure following off.
  std::copy_n("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10, m.Bytes.begin() + static_cast<std::ptrdiff_t>(mp4At + 2 * ss));
  const std::size_t zstdAt = m.Put(CutZstd());  // the medium ends inside the stream
  test::TMemoryDisk disk(m.Bytes);
  TkxRecognition scan(disk);
  scan.FollowStructure = false;
  while (scan.Position < disk.SectorCount) scan.RecognizeNext();
  // The PDF's update became a text entry, the zeros a kind-0 entry.
  ASSERT_EQ(scan.FileList.Count, 9);

  TkxJobControl control;
  std::vector<std::int32_t> progress;
  const TkxCheckResult r = CheckFoundFiles(disk, scan.FileList, control, [&](std::int32_t done, std::int32_t total) {
    EXPECT_EQ(total, 9);
    progress.push_back(done);
  });
  EXPECT_EQ(progress, (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_FALSE(r.Stopped);
  EXPECT_EQ(r.Error, "");
  TkxFileList list;
  list.Assign(scan.FileList);
  ApplyCheck(r, list);

  // The end of the chunk that runs past the picture's 3000 bytes: as far as its structure tells.
  std::int64_t chunkEnd = 8;
  while (chunkEnd <= 3000) chunkEnd += 12 + (std::int64_t{png[chunkEnd]} << 24 | png[chunkEnd + 1] << 16 | png[chunkEnd + 2] << 8 | png[chunkEnd + 3]);
  const TExpected want[] = {
      {jpgAt, Kinds::Jpeg, TkxCheckState::Whole, static_cast<std::int64_t>(jpg.size())},
      // The unrecognised sectors the JPEG's entry held, listed apart again.
      {jpgAt + ss, Kinds::Unknown, TkxCheckState::NotChecked, 2 * ss},
      // Its chunks run into the photo after it: truncated, up to the photo.
      {pngAt, Kinds::Png, TkxCheckState::Truncated, static_cast<std::int64_t>(photoAt - pngAt)},
      {photoAt, Kinds::Jpeg, TkxCheckState::Whole, static_cast<std::int64_t>(jpg.size())},
      // The update's text entry is merged back.
      {pdfAt, Kinds::Pdf, TkxCheckState::Whole, static_cast<std::int64_t>(pdf.size())},
      {zerosAt, Kinds::Unknown, TkxCheckState::NotChecked, ss},
      // The false start inside was found damaged and is merged into the movie.
      {mp4At, Kinds::Mp4, TkxCheckState::Whole, static_cast<std::int64_t>(mp4.size())},
      // Cut by the medium's end: the entry runs to it.
      {zstdAt, Kinds::Zstd, TkxCheckState::Truncated, disk.SectorCount * static_cast<std::int64_t>(ss) - static_cast<std::int64_t>(zstdAt)},
  };
  ASSERT_EQ(list.Count, static_cast<std::int32_t>(std::size(want)));
  list.Sort(TkxSortKey::skOffset);
  for (std::size_t i = 0; i < std::size(want); ++i) {
    const TkxFileEntry& e = list.Items[i];
    SCOPED_TRACE(testing::Message() << "entry at " << want[i].Offset);
    EXPECT_EQ(e.Offset, static_cast<std::int64_t>(want[i].Offset));
    EXPECT_EQ(e.Kind, want[i].Kind);
    EXPECT_EQ(e.Check, want[i].State);
    EXPECT_EQ(e.Size, want[i].Size);
  }
  EXPECT_EQ(list.Items[2].CheckedSize, chunkEnd);
  EXPECT_EQ(CountCheckStates(list), (std::array<std::int32_t, 4>{2, 4, 2, 0}));
}

// A gzip stream whose own bytes begin two sectors with the gzip magic: the scan starts entries
// of its own kind there. The search for the stream's end passes them, and the unrecognised data
// after them, up to the next file of another kind; they are then merged into it.
TEST(CheckFoundFiles, ASearchPassesFalseStartsOfItsOwnKind)
{

  const TBytes magic = {0x1F, 0x8B, 0x08};
  TBytes payload(7000, 'x');
  for (const std::size_t sector : {1u, 2u}) std::copy(magic.begin(), magic.end(), payload.begin() + static_cast<std::ptrdiff_t>(sector * ss - 15));
  const TBytes gz = Gzip(payload, 0);  // stored: the payload fifteen bytes into the stream
  ASSERT_TRUE(std::equal(magic.begin(), magic.end(), gz.begin() + ss));
  TLayout m;
  m.Put(gz);
  const std::size_t pngAt = m.Put(Fixture("tiny.png"));
  test::TMemoryDisk disk(m.Bytes);
  TkxRecognition scan(disk);
  while (scan.Position < disk.SectorCount) scan.RecognizeNext();
  ASSERT_GE(scan.FileList.Count, 4);
  ASSERT_EQ(scan.FileList.Items[1].Kind, Kinds::Gzip);

  TkxJobControl control;
  TkxFileList list;
  list.Assign(scan.FileList);
  ApplyCheck(CheckFoundFiles(disk, scan.FileList, control), list);
  ASSERT_EQ(list.Count, 2);
  EXPECT_EQ(list.Items[0].Check, TkxCheckState::Whole);
  EXPECT_EQ(list.Items[0].Size, static_cast<std::int64_t>(gz.size()));
  EXPECT_EQ(list.Items[1].Offset, static_cast<std::int64_t>(pngAt));
  EXPECT_EQ(list.Items[1].Check, TkxCheckState::Whole);
}

TEST(CheckFoundFiles, AStopBeforeTheFirstEntryChangesNothing)
{
  const TBytes jpg = Fixture("tiny.jpg");
  test::TMemoryDisk disk(jpg);
  TkxRecognition scan(disk);
  scan.RecognizeNext();
  TkxJobControl control;
  control.RequestStop();
  const TkxCheckResult r = CheckFoundFiles(disk, scan.FileList, control);
  EXPECT_TRUE(r.Stopped);
  EXPECT_EQ(r.Checked, 0);
  EXPECT_TRUE(r.Changes.empty());
}

// A part file that vanishes during the check ends it; what was checked before (the files after
// the failing one) stands.
TEST(CheckFoundFiles, AFailingMediumEndsTheCheckWithItsError)
{
  TLayout m;
  m.Put(Fixture("tiny.jpg"));
  m.Put(Fixture("tiny.png"));
  test::TMemoryDisk disk(m.Bytes);
  TkxRecognition scan(disk);
  while (scan.Position < disk.SectorCount) scan.RecognizeNext();
  disk.ThrowAt = 0;
  TkxJobControl control;
  const TkxCheckResult r = CheckFoundFiles(disk, scan.FileList, control);
  EXPECT_EQ(r.Error, "part file vanished");
  ASSERT_EQ(r.Changes.size(), 1u);
  EXPECT_EQ(r.Changes[0].Kind, Kinds::Png);
  EXPECT_EQ(r.Changes[0].Index, 1);
  EXPECT_EQ(r.Changes[0].State, TkxCheckState::Whole);
}

// A project may hold any offset and size: the check of such a list neither overflows nor reads
// outside the medium, and leaves what it cannot check as it was.
TEST(CheckFoundFiles, HostileNumbersAreCheckedWithoutOverflow)
{
  TLayout m;
  m.Put(Fixture("tiny.jpg"));
  m.Put(Fixture("tiny.png"));
  test::TMemoryDisk disk(m.Bytes);
  constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
  TkxFileList list;
  list.Add("huge", Kinds::Jpeg, 0, max, false);
  list.Add("far", Kinds::Png, max - 1, max, false);
  list.Add("negative", Kinds::Png, static_cast<std::int64_t>(ss), -5, false);
  list.Add("lowest", Kinds::Zip, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::min(), false);
  list.Add("after", Kinds::Unknown, 10, max, false);
  TkxJobControl control;
  const TkxCheckResult r = CheckFoundFiles(disk, list, control);
  EXPECT_EQ(r.Error, "");
  for (const TkxCheckChange& c : r.Changes) {
    EXPECT_NE(c.Index, 1) << "an entry past the medium is not checked";
    EXPECT_NE(c.Index, 3) << "an entry before it is not checked";
  }
  for (const TkxFileEntry& rest : r.Rest) {
    EXPECT_GE(rest.Offset, 0);
    EXPECT_LE(rest.Size, disk.SectorCount * disk.SectorSize - rest.Offset);
  }
}

TEST(ApplyCheck, SetsTheChangesAndRemovesAbsorbedRowsInOneStep)
{
  TkxFileList list;
  for (int i = 0; i < 5; ++i) list.Add("File " + std::to_string(i), Kinds::Unknown, i * 2048, 2048, false);
  TkxCheckResult r;
  r.Changes.push_back({0, Kinds::Docx, 3000, TkxCheckState::Whole, 3000, {}});
  r.Changes.push_back({4, Kinds::Zip, 2048, TkxCheckState::Damaged, 100, 6144});
  r.Absorbed = {1, 3};
  ApplyCheck(r, list);
  ASSERT_EQ(list.Count, 3);
  EXPECT_EQ(list.Items[0].Name, "File 0");
  EXPECT_EQ(list.Items[0].Kind, Kinds::Docx);
  EXPECT_EQ(list.Items[0].Size, 3000);
  EXPECT_EQ(list.Items[0].Check, TkxCheckState::Whole);
  EXPECT_EQ(list.Items[1].Name, "File 2");
  EXPECT_EQ(list.Items[1].Check, TkxCheckState::NotChecked);
  EXPECT_EQ(list.Items[2].Name, "File 4");
  EXPECT_EQ(list.Items[2].CheckedSize, 100);
  EXPECT_EQ(list.Items[3].Name, "");  // spare slots stay empty
}

// What a window makes of a check's end: a stopped one changes nothing and says nothing; any
// other is applied, says how it went, and why it ended early where the medium failed.
TEST(FinishCheck, AppliesAndSaysHowItWentUnlessStopped)
{
  const auto list = [] {
    TkxFileList l;
    for (int i = 0; i < 3; ++i) l.Add("File " + std::to_string(i), Kinds::Zip, i * 4096, 4096, false);
    return l;
  };
  TkxCheckResult changed;
  changed.Checked = 3;
  changed.Changes.push_back({0, Kinds::Docx, 3000, TkxCheckState::Whole, 3000, {}});
  changed.Changes.push_back({2, Kinds::Zip, 4096, TkxCheckState::Damaged, 10, {}});
  changed.Absorbed = {1};
  changed.Rest.push_back({"File 000004", Kinds::Unknown, 2048, 2048, false});
  TkxCheckResult stopped = changed;
  stopped.Stopped = true;
  TkxCheckResult failed = changed;
  failed.Error = "part file vanished";
  TkxCheckResult same;
  same.Checked = 3;

  const struct {
    const char* Name;
    const TkxCheckResult& Result;
    bool Changed;
    std::int32_t Rows;
    std::string Message;
  } cases[] = {
      {"stopped", stopped, false, 3, ""},
      {"changed", changed, true, 3,
       "Checked 3 of 3 files: 1 whole, 0 truncated, 1 damaged, 1 not checked; 1 piece inside whole files merged; "
       "1 run after whole files listed apart."},
      {"medium failed", failed, true, 3,
       "Checked 3 of 3 files: 1 whole, 0 truncated, 1 damaged, 1 not checked; 1 piece inside whole files merged; "
       "1 run after whole files listed apart.\n\nThe check stopped: part file vanished"},
      {"nothing new", same, false, 3, "Checked 3 of 3 files: 0 whole, 0 truncated, 0 damaged, 3 not checked."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TkxFileList l = list();
    const TkxCheckEnd end = FinishCheck(c.Result, l);
    EXPECT_EQ(end.Changed, c.Changed);
    EXPECT_EQ(end.Message, c.Message);
    EXPECT_EQ(l.Count, c.Rows);
    EXPECT_EQ(l.Items[0].Kind, c.Changed ? Kinds::Docx : Kinds::Zip);
  }
  stopped.Checked = 1;
  TkxFileList l = list();
  EXPECT_EQ(CheckSummaryText(stopped, l), "Stopped checking after 1 of 3 files: 0 whole, 0 truncated, 0 damaged, 3 not checked; "
                                          "1 piece inside whole files merged; 1 run after whole files listed apart.");
}

// The status line names the focused entry's state only once the list was checked.
TEST(FocusedStateText, GivesTheStateOfACheckedListsEntry)
{
  TkxFileList unchecked;
  unchecked.Add("a", Kinds::Zip, 0, 10, false);
  EXPECT_EQ(FocusedStateText(unchecked, 0), "");
  TkxFileList checked;
  const TkxCheckState states[] = {TkxCheckState::NotChecked, TkxCheckState::Whole, TkxCheckState::Truncated, TkxCheckState::Damaged};
  for (const TkxCheckState s : states) {
    checked.Add("a", Kinds::Zip, 0, 10, false);
    checked.Items[static_cast<std::size_t>(checked.Count - 1)].Check = s;
  }
  const char* words[] = {" - focused file: not checked", " - focused file: whole", " - focused file: truncated",
                         " - focused file: damaged"};
  for (std::int32_t row = 0; row < 4; ++row) EXPECT_EQ(FocusedStateText(checked, row), words[row]);
  EXPECT_EQ(FocusedStateText(checked, -1), "");
  EXPECT_EQ(FocusedStateText(checked, 4), "");
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// The check as a worker runs it: a stop asked while it works ends it between two entries, with
// the entries it reached checked. The worker waits in its progress report until the stop is
// asked, so that the order of events is fixed without timing.
TEST(CheckFoundFiles, AWorkerIsStoppedBetweenEntries)
{
  TLayout m;
  for (int i = 0; i < 4; ++i) m.Put(Fixture("tiny.jpg"));
  test::TMemoryDisk disk(m.Bytes);
  TkxRecognition scan(disk);
  while (scan.Position < disk.SectorCount) scan.RecognizeNext();
  ASSERT_EQ(scan.FileList.Count, 4);

  TkxJobControl control;
  std::mutex lock;
  std::condition_variable changed;
  bool firstDone = false, stopAsked = false;
  TkxCheckResult result;
  std::thread worker([&] {
    result = CheckFoundFiles(disk, scan.FileList, control, [&](std::int32_t done, std::int32_t) {
      if (done != 1) return;
      std::unique_lock guard(lock);
      firstDone = true;
      changed.notify_all();
      changed.wait(guard, [&] { return stopAsked; });
    });
  });
  {
    std::unique_lock guard(lock);
    changed.wait(guard, [&] { return firstDone; });
    control.RequestStop();
    stopAsked = true;
    changed.notify_all();
  }
  worker.join();
  EXPECT_TRUE(result.Stopped);
  EXPECT_EQ(result.Checked, 1);
  ASSERT_EQ(result.Changes.size(), 1u);
  EXPECT_EQ(result.Changes[0].State, TkxCheckState::Whole);
}

}  // namespace
}  // namespace kx
