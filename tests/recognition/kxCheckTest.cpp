// SPDX-License-Identifier: GPL-3.0-or-later
#include "recognition/kxCheck.h"

#include "recognition/kxRecognition.h"
#include "recognition/kxRealFiles.h"
#include "recognition/kxStructure.h"
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

// A photo and the unrecognised data after it, a picture whose last sector another photo took, a
// revised document, a sector of zeros, a movie with a false start in its data and a stream that
// the medium's end cuts.
struct TMixed {
  TLayout M;
  std::size_t JpgAt, PngAt, PhotoAt, PdfAt, ZerosAt, Mp4At, ZstdAt;
};
TMixed MixedMedium()
{
  TMixed x;
  TLayout& m = x.M;
  const TBytes jpg = Fixture("tiny.jpg"), png = Fixture("tiny.png");
  x.JpgAt = m.Put(jpg);
  m.Put(TBytes(2 * ss, 0x01));  // unrecognised: the open JPEG entry takes it
  x.PngAt = m.Put(TBytes(png.begin(), png.begin() + 3000));
  x.PhotoAt = m.Put(jpg);
  x.PdfAt = m.Put(RevisedPdf());
  x.ZerosAt = m.Put(TBytes(ss, 0));
  x.Mp4At = m.Put(Fixture("tiny.mp4"));
  // A JPEG header in a sector inside the movie's data: a false start, with the scan's
  // structure following off.
  std::copy_n("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10, m.Bytes.begin() + static_cast<std::ptrdiff_t>(x.Mp4At + 2 * ss));
  x.ZstdAt = m.Put(CutZstd());  // the medium ends inside the stream
  return x;
}

// A check jumps from file to file, and every read it makes says so: a medium that reads ahead
// then reads no long run at each file's start that the check would not use.
TEST(CheckFoundFiles, ReadsHereAndThere)
{
  class TOrders final : public TkxDisk {
   public:
    explicit TOrders(TkxDisk& Inner_) : Inner(Inner_) { SectorCount = Inner.SectorCount; }
    std::vector<TkxReadOptions::TOrder> Seen;

   private:
    std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t First,
                               const TkxReadOptions& How) override
    {
      Seen.push_back(How.Order);
      return Inner.ReadSectors(Buffer, Count, First);
    }
    TkxDisk& Inner;
  };
  test::TMemoryDisk memory(MixedMedium().M.Bytes);
  TkxRecognition scan(memory);
  while (scan.Position < memory.SectorCount) scan.RecognizeNext();
  TOrders disk(memory);
  TkxJobControl control;
  EXPECT_TRUE(CheckFoundFiles(disk, scan.FileList, control).Outcome.IsCompleted());
  ASSERT_FALSE(disk.Seen.empty());
  for (const TkxReadOptions::TOrder order : disk.Seen) EXPECT_EQ(order, TkxReadOptions::TOrder::Scattered);
}

TEST(CheckFoundFiles, SetsExactSizesAndStatesOfAScannedMedium)
{
  // The medium ends inside a zstd stream, which a build without its decoder leaves as it is.
  if ((BuiltDecoders() & Decoders::Zstd) == 0) GTEST_SKIP() << "built without the zstd decoder";
  const TMixed x = MixedMedium();
  const TLayout& m = x.M;
  const TBytes jpg = Fixture("tiny.jpg"), png = Fixture("tiny.png"), mp4 = Fixture("tiny.mp4"), pdf = RevisedPdf();
  const std::size_t jpgAt = x.JpgAt, pngAt = x.PngAt, photoAt = x.PhotoAt, pdfAt = x.PdfAt, zerosAt = x.ZerosAt,
                    mp4At = x.Mp4At, zstdAt = x.ZstdAt;
  test::TMemoryDisk disk(m.Bytes);
  TkxRecognition scan(disk);
  scan.FollowStructure = false;
  while (scan.Position < disk.SectorCount) scan.RecognizeNext();
  // The PDF's update became a text entry, the zeros a kind-0 entry.
  ASSERT_EQ(scan.FileList.Count, 9);

  TkxJobControl control;
  std::vector<std::int32_t> progress;
  const TkxCheckResult r = CheckFoundFiles(disk, scan.FileList, control, [&](const TkxFilesDone& Files) {
    EXPECT_EQ(Files.Total, 9);
    progress.push_back(Files.Done);
  });
  EXPECT_EQ(progress, (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_FALSE(r.Outcome.IsStopped());
  EXPECT_EQ(r.Outcome.Reason, "");
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
// A stored gzip stream whose payload puts the gzip magic at the start of its second and third
// sectors, and a picture after it.
TLayout GzipWithFalseStarts()
{
  const TBytes magic = {0x1F, 0x8B, 0x08};
  TBytes payload(7000, 'x');
  for (const std::size_t sector : {1u, 2u}) std::copy(magic.begin(), magic.end(), payload.begin() + static_cast<std::ptrdiff_t>(sector * ss - 15));
  TLayout m;
  m.Put(Gzip(payload, 0));  // stored: the payload fifteen bytes into the stream
  m.Put(Fixture("tiny.png"));
  return m;
}

TEST(CheckFoundFiles, ASearchPassesFalseStartsOfItsOwnKind)
{
  const TLayout m = GzipWithFalseStarts();
  const std::size_t pngAt = m.Bytes.size() - (Fixture("tiny.png").size() + ss - 1) / ss * ss;
  const auto gzSize = static_cast<std::int64_t>(Gzip(TBytes(7000, 'x'), 0).size());
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
  EXPECT_EQ(list.Items[0].Size, gzSize);
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
  EXPECT_TRUE(r.Outcome.IsStopped());
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
  EXPECT_EQ(r.Outcome.Reason, "part file vanished");
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
  EXPECT_EQ(r.Outcome.Reason, "");
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

// What a window makes of a check's end: applied, also when stopped (what was concluded stands,
// as on the command line), says how it went, and why it ended early where the medium failed.
TEST(FinishCheck, AppliesAndSaysHowItWentAlsoWhenStopped)
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
  // A stopped check concluded the entries at the medium's end and merged nothing.
  TkxCheckResult stopped;
  stopped.Checked = 1;
  stopped.Outcome = TkxJobOutcome::Stopped();
  stopped.Changes.push_back({2, Kinds::Zip, 4096, TkxCheckState::Damaged, 10, {}});
  TkxCheckResult failed = changed;
  failed.Outcome = TkxJobOutcome::Failed("part file vanished");
  TkxCheckResult same;
  same.Checked = 3;

  const struct {
    const char* Name;
    const TkxCheckResult& Result;
    bool Changed;
    std::int32_t Rows;
    TKind First;
    std::string Message;
  } cases[] = {
      {"stopped", stopped, true, 3, Kinds::Zip,
       "Stopped checking after 1 of 3 files: 0 whole, 0 truncated, 1 damaged, 2 not checked."},
      {"changed", changed, true, 3, Kinds::Docx,
       "Checked 3 of 3 files: 1 whole, 0 truncated, 1 damaged, 1 not checked; 1 piece inside whole files merged; "
       "1 run after whole files listed apart."},
      {"medium failed", failed, true, 3, Kinds::Docx,
       "Checked 3 of 3 files: 1 whole, 0 truncated, 1 damaged, 1 not checked; 1 piece inside whole files merged; "
       "1 run after whole files listed apart.\n\nThe check stopped: part file vanished"},
      {"nothing new", same, false, 3, Kinds::Zip, "Checked 3 of 3 files: 0 whole, 0 truncated, 0 damaged, 3 not checked."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TkxFileList l = list();
    const TkxCheckEnd end = FinishCheck(c.Result, l);
    EXPECT_EQ(end.Changed, c.Changed);
    EXPECT_EQ(end.Message, c.Message);
    EXPECT_EQ(l.Count, c.Rows);
    EXPECT_EQ(l.Items[0].Kind, c.First);
  }
  TkxCheckResult stoppedAfterMerging = changed;
  stoppedAfterMerging.Outcome = TkxJobOutcome::Stopped();
  stoppedAfterMerging.Checked = 1;
  TkxFileList l = list();
  EXPECT_EQ(CheckSummaryText(stoppedAfterMerging, l), "Stopped checking after 1 of 3 files: 0 whole, 0 truncated, 0 damaged, 3 not checked; "
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
    result = CheckFoundFiles(disk, scan.FileList, control, [&](const TkxFilesDone& Files) {
      if (Files.Done != 1) return;
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
  EXPECT_TRUE(result.Outcome.IsStopped());
  EXPECT_EQ(result.Checked, 1);
  ASSERT_EQ(result.Changes.size(), 1u);
  EXPECT_EQ(result.Changes[0].State, TkxCheckState::Whole);
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// An ISO 9660 image of Blocks sectors: a system area of zeros, its volume descriptor 16 sectors
// in, its root directory at sector 18 pointing to itself, and a photo at sector 20.
TBytes IsoImage(std::uint32_t Blocks)
{
  TBytes image(Blocks * ss, 0);
  std::uint8_t* pvd = &image[16 * ss];
  std::copy_n("\x01" "CD001\x01", 7, pvd);
  for (int i = 0; i < 4; ++i) pvd[80 + i] = static_cast<std::uint8_t>(Blocks >> (8 * i));
  pvd[129] = 0x08;  // blocks of 2048 bytes
  pvd[158] = 18;
  image[18 * ss] = 34;
  image[18 * ss + 2] = 18;
  image[18 * ss + 25] = 2;
  const TBytes jpg = Fixture("tiny.jpg");
  std::copy(jpg.begin(), jpg.end(), image.begin() + 20 * ss);
  return image;
}

// Sectors that each begin a file whose structure reaches into the next sector, where the walk
// from the sector before finds the structure go on: MP4 boxes, ZIP members, PDFs without an end.
enum class TChain { Mp4, Zip, Pdf };
TBytes Chain(TChain Kind, std::size_t Sectors)
{
  TBytes m(Sectors * ss, 0);
  for (std::size_t at = 0; at < m.size(); at += ss) {
    const auto put = [&](std::size_t Pos, std::string_view Bytes) { std::copy(Bytes.begin(), Bytes.end(), m.begin() + static_cast<std::ptrdiff_t>(at + Pos)); };
    if (Kind == TChain::Mp4) put(0, "\0\0\0\x10" "ftypisom\0\0\0\0" "\0\0\x08\0" "free"sv);
    // A member of 1977 stored bytes ends 40 bytes into the next sector, where another begins.
    if (Kind == TChain::Zip) put(0, "PK\3\4\x14\0\0\0\0\0\0\0\0\0\0\0\0\0\xB9\x07\0\0\xB9\x07\0\0\1\0\0\0a"sv);
    if (Kind == TChain::Zip) put(40, "PK\3\4\x14\0\0\0\0\0\0\0\0\0\0\0\0\0\xCF\x07\0\0\xCF\x07\0\0\1\0\0\0a"sv);
    if (Kind == TChain::Pdf) put(0, "%PDF-1.4\n1 0 obj\n<< >>\nendobj\n% cut before its end\n"sv);
  }
  return m;
}

// The list a scan gives a medium, the classic one (as the window's) or the one that follows
// structures (as the command line's).
TkxFileList Scanned(TkxDisk& Disk, bool Follow)
{
  TkxRecognition scan(Disk);
  scan.FollowStructure = Follow;
  while (scan.Position < Disk.SectorCount) scan.RecognizeNext();
  TkxFileList list;
  list.Assign(scan.FileList);
  return list;
}

TkxFileList Checked(TkxDisk& Disk, const TkxFileList& List, TkxCheckResult* Result = nullptr)
{
  TkxJobControl control;
  const TkxCheckResult r = CheckFoundFiles(Disk, List, control);
  TkxFileList checked;
  checked.Assign(List);
  ApplyCheck(r, checked);
  if (Result) *Result = r;
  return checked;
}

// A stale database header claiming 200 pages of 4096 bytes, then files that verify on their own.
TBytes StaleSqliteMedium()
{
  TBytes header(100, 0);
  std::copy_n("SQLite format 3\0\x10\0\1\1\0\x40\x20\x20\0\0\0\7\0\0\0\xC8", 32, header.begin());
  header[95] = 7;  // the change counter the page count belongs to
  TLayout m;
  m.Put(header);
  m.Put(Fixture("tiny.png"));
  m.Put(RevisedPdf());
  m.Put(Gzip(TBytes(9000, 'g'), 6));
  m.Bytes.resize(420 * ss, 0x5A);
  return m.Bytes;
}

// A cut document, a false start, a cut picture and a photo.
TBytes CutFilesMedium()
{
  TLayout m;
  const TBytes pdf = Chain(TChain::Pdf, 1);
  m.Put(TBytes(pdf.begin(), pdf.begin() + 60), ' ');
  m.Put(TBytes(ss, ' '));
  m.Put(TBytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 0x55}, 0x55);
  const TBytes png = Fixture("tiny.png");
  m.Put(TBytes(png.begin(), png.begin() + 3000));
  m.Put(Fixture("tiny.jpg"));
  return m.Bytes;
}

TBytes Concatenated(std::initializer_list<TBytes> Parts)
{
  TLayout m;
  for (const TBytes& p : Parts) m.Put(p);
  return m.Bytes;
}

// Checking a checked list changes nothing, and no truncated or damaged entry runs past the next
// entry or the medium's end; over the media of the tests above and hostile ones. A walk or a
// search stops at the next found file, so the check reads each sector a few times at most.
TEST(CheckFoundFiles, ACheckOfACheckedListChangesNothing)
{
  const auto fakeWholeJpeg = [](TkxDisk&) {
    TkxFileList l;
    l.Add("fake", Kinds::Jpeg, 0, 4096, false);
    l.Items[0].Check = TkxCheckState::Whole;
    l.Items[0].CheckedSize = 4096;
    return l;
  };
  const auto manyAtOneOffset = [](TkxDisk&) {
    TkxFileList l;
    const TKind kinds[] = {Kinds::Pdf, Kinds::Jpeg, Kinds::Zip, Kinds::Unknown, Kinds::Mp4};
    for (int i = 0; i < 3000; ++i) l.Add("same", kinds[i % 5], 0, 64 * ss, false);
    return l;
  };
  const auto classic = [](TkxDisk& d) { return Scanned(d, false); };
  const auto following = [](TkxDisk& d) { return Scanned(d, true); };
  const struct {
    const char* Name;
    TBytes Medium;
    std::function<TkxFileList(TkxDisk&)> List;
  } cases[] = {
      {"mixed", MixedMedium().M.Bytes, classic},
      {"gzip with false starts", GzipWithFalseStarts().Bytes, following},
      {"cut files", CutFilesMedium(), classic},
      {"zeros marked whole", TBytes(8 * ss, 0), fakeWholeJpeg},
      {"stale database header", StaleSqliteMedium(), following},
      {"stored images", Concatenated({Fixture("tiny.jpg"), IsoImage(24), IsoImage(24), IsoImage(24)}), classic},
      {"MP4 chain", Chain(TChain::Mp4, 300), classic},
      {"ZIP chain", Chain(TChain::Zip, 300), classic},
      {"PDF chain", Chain(TChain::Pdf, 300), classic},
      {"broken MP4 chain", Concatenated({Chain(TChain::Mp4, 300), TBytes(ss, 0xEE)}), classic},
      {"many entries at one offset", Chain(TChain::Pdf, 64), manyAtOneOffset},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    test::TMemoryDisk disk(c.Medium);
    const TkxFileList list = c.List(disk);
    disk.SectorsRead.clear();
    const TkxFileList once = Checked(disk, list);
    EXPECT_LE(static_cast<std::int64_t>(disk.SectorsRead.size()), 4 * disk.SectorCount);
    TkxCheckResult again;
    Checked(disk, once, &again);
    EXPECT_TRUE(again.Changes.empty() && again.Absorbed.empty() && again.Rest.empty())
        << again.Changes.size() << " changes, " << again.Absorbed.size() << " merged, " << again.Rest.size() << " runs";
    TkxFileList sorted;
    sorted.Assign(once);
    sorted.Sort(TkxSortKey::skOffset);
    for (std::int32_t i = 0; i < sorted.Count; ++i) {
      const TkxFileEntry& e = sorted.Items[static_cast<std::size_t>(i)];
      if (e.Check != TkxCheckState::Truncated && e.Check != TkxCheckState::Damaged) continue;
      std::int64_t next = disk.SectorCount * disk.SectorSize;
      for (std::int32_t j = i + 1; j < sorted.Count && next == disk.SectorCount * disk.SectorSize; ++j)
        if (sorted.Items[static_cast<std::size_t>(j)].Offset > e.Offset) next = sorted.Items[static_cast<std::size_t>(j)].Offset;
      EXPECT_LE(e.Offset + e.Size, next) << "entry at " << e.Offset;
    }
  }
}

// Program streams stored one after the other: the check keeps the entries the scan started
// where each stream's clock starts again, each whole at its own size.
TEST(CheckFoundFiles, ProgramStreamsBackToBackStayApart)
{
  const TBytes files[] = {Fixture("tiny.vob"), Fixture("second.vob"), Fixture("tiny.mpg")};
  test::TMemoryDisk disk(Concatenated({files[0], files[1], files[2]}));
  TkxFileList checked = Checked(disk, Scanned(disk, true));
  checked.Sort(TkxSortKey::skOffset);
  ASSERT_EQ(checked.Count, 3);
  std::size_t offset = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    const TkxFileEntry& e = checked.Items[i];
    EXPECT_EQ(e.Offset, static_cast<std::int64_t>(offset));
    EXPECT_EQ(e.Check, TkxCheckState::Whole);
    EXPECT_EQ(e.Size, static_cast<std::int64_t>(files[i].size()));
    offset += (files[i].size() + ss - 1) / ss * ss;
  }
}

// What the check makes of files that verify on their own inside a size a stale header claims,
// and of stored images found at their volume descriptor.
TEST(CheckFoundFiles, OnlyAWalkedStructureTakesInPiecesAndImagesBeginAtTheirSystemArea)
{
  test::TMemoryDisk stale(StaleSqliteMedium());
  TkxCheckResult r;
  const TkxFileList database = Checked(stale, Scanned(stale, true), &r);
  EXPECT_EQ(r.Absorbed.size(), 1u);  // the document's update, which its own search read
  EXPECT_EQ(CountCheckStates(database)[static_cast<std::size_t>(TkxCheckState::Whole)], 4);

  test::TMemoryDisk images(Concatenated({Fixture("tiny.jpg"), IsoImage(24), IsoImage(24)}));
  TkxFileList stored = Checked(images, Scanned(images, false));
  stored.Sort(TkxSortKey::skOffset);
  for (const std::int64_t at : {1, 25}) {
    const TkxFileEntry& e = *std::find_if(stored.Items.begin(), stored.Items.end(), [&](const TkxFileEntry& x) { return x.Offset == at * 2048; });
    EXPECT_EQ(e.Kind, Kinds::IsoImage);
    EXPECT_EQ(e.Check, TkxCheckState::Whole);
    EXPECT_EQ(e.Size, 24 * 2048);
  }
  // A descriptor whose root directory is no image's stays a false start where it was found.
  TBytes broken = IsoImage(24);
  broken[18 * ss] = 0;
  test::TMemoryDisk falseStart(Concatenated({Fixture("tiny.jpg"), broken}));
  const TkxFileList notMoved = Checked(falseStart, Scanned(falseStart, false));
  EXPECT_TRUE(std::any_of(notMoved.Items.begin(), notMoved.Items.begin() + notMoved.Count, [](const TkxFileEntry& x) {
    return x.Kind == Kinds::IsoImage && x.Offset == 17 * 2048 && x.Check == TkxCheckState::Damaged;
  }));
  // An image whose first sectors would lie before the medium's.
  TkxFileList early;
  early.Add("image", Kinds::IsoImage, 8 * 2048, 16 * 2048, false);
  const TBytes image = IsoImage(24);
  test::TMemoryDisk cut(TBytes(image.begin() + 8 * 2048, image.end()));
  EXPECT_EQ(Checked(cut, early).Items[0].Check, TkxCheckState::Truncated);
}

// A stop asked while a file is read leaves that file unconcluded, whether it is the last one
// checked (the first on the medium) or one in the middle, and the check says it stopped.
TEST(CheckFoundFiles, AStopDuringAReadLeavesThatFileUnconcluded)
{
  TBytes big(40 * ss);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
  test::TMemoryDisk medium(Concatenated({Fixture("tiny.jpg"), Gzip(big, 0), Fixture("tiny.png")}));
  const TkxFileList list = Scanned(medium, true);
  ASSERT_EQ(list.Count, 3);
  const struct {
    const char* Name;
    std::int64_t StopAt;
    std::int32_t Unconcluded;  // the row the stop came in
  } cases[] = {{"last file", 0, 0}, {"inside a file", 20, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TkxJobControl control;
    medium.OnRead = [&](std::int64_t Sector) {
      if (Sector == c.StopAt) control.RequestStop();
    };
    const TkxCheckResult r = CheckFoundFiles(medium, list, control);
    EXPECT_TRUE(r.Outcome.IsStopped());
    for (const TkxCheckChange& change : r.Changes) EXPECT_GT(change.Index, c.Unconcluded);
    EXPECT_EQ(r.Changes.size(), static_cast<std::size_t>(2 - c.Unconcluded));
  }
}

}  // namespace
}  // namespace kx
