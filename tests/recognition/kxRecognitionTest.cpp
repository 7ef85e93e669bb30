// SPDX-License-Identifier: GPL-3.0-or-later
#include "recognition/kxRecognition.h"

#include "media/SimulatedDrive.h"
#include "media/kxDisks.h"
#include "media/kxPhysicalCD.h"
#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <future>
#include <thread>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kx {
namespace {

using test::TMemoryDisk;
constexpr std::int64_t ss = 2048;

// Builds a medium sector by sector. Unrecognised sectors are filled with 0x01: a control byte,
// so they are neither text nor the start of any signature.
class TMedium {
 public:
  std::vector<std::uint8_t> Bytes;

  std::int64_t Sectors() const { return static_cast<std::int64_t>(Bytes.size()) / ss; }

  TMedium& Unrecognised(int n = 1) { return Fill(n, 0x01); }
  TMedium& Zeros(int n) { return Fill(n, 0x00); }

  // A sector that begins with Header and is otherwise unrecognisable.
  TMedium& Starting(std::string_view Header)
  {
    Unrecognised();
    std::memcpy(&Bytes[Bytes.size() - ss], Header.data(), Header.size());
    return *this;
  }

  // Length bytes of text from this sector on, zeros after it to the end of its last sector.
  TMedium& Text(std::int64_t Length, std::string_view Start = "")
  {
    static constexpr std::string_view words = "The quick brown fox jumps over the lazy dog.\n";
    const std::int64_t sectors = std::max<std::int64_t>(1, (Length + ss - 1) / ss);
    const std::size_t at = Bytes.size();
    Zeros(static_cast<int>(sectors));
    for (std::int64_t i = 0; i < Length; ++i) Bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(words[static_cast<std::size_t>(i) % words.size()]);
    std::memcpy(&Bytes[at], Start.data(), Start.size());
    return *this;
  }

  TMedium& Bitmap(std::uint32_t Size, std::int32_t Width = 640, std::int32_t Height = -480)
  {
    Unrecognised();
    std::uint8_t* b = &Bytes[Bytes.size() - ss];
    std::memset(b, 0, 54);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b + 2, Size);
    Put32(b + 18, static_cast<std::uint32_t>(Width));
    Put32(b + 22, static_cast<std::uint32_t>(Height));
    return *this;
  }

  TMedium& Riff(std::string_view Form, std::uint32_t SizeField)
  {
    Starting("RIFF");
    std::uint8_t* b = &Bytes[Bytes.size() - ss];
    Put32(b + 4, SizeField);
    std::memcpy(b + 8, Form.data(), 4);
    return *this;
  }

  // A sector that begins with an MPEG program-stream pack header whose clock base is Scr.
  TMedium& Pack(std::uint64_t Scr, bool Mpeg2 = true)
  {
    // Bits high..high-count+1 of the clock, as the low bits of a byte.
    const auto bits = [&](int high, int count) {
      return static_cast<std::uint8_t>(Scr >> (high - count + 1) & ((1u << count) - 1));
    };
    const std::uint8_t mpeg2[] = {0, 0, 1, 0xBA,
                                  static_cast<std::uint8_t>(0x44 | bits(32, 3) << 3 | bits(29, 2)),
                                  bits(27, 8),
                                  static_cast<std::uint8_t>(bits(19, 5) << 3 | 0x04 | bits(14, 2)),
                                  bits(12, 8),
                                  static_cast<std::uint8_t>(bits(4, 5) << 3 | 0x04),
                                  0x01, 0x01, 0x89, 0xC3, 0xF8};
    const std::uint8_t mpeg1[] = {0, 0, 1, 0xBA,
                                  static_cast<std::uint8_t>(0x21 | bits(32, 3) << 1),
                                  bits(29, 8),
                                  static_cast<std::uint8_t>(bits(21, 7) << 1 | 1),
                                  bits(14, 8),
                                  static_cast<std::uint8_t>(bits(6, 7) << 1 | 1),
                                  0x80, 0x1B, 0x91};
    return Mpeg2 ? Starting({reinterpret_cast<const char*>(mpeg2), sizeof mpeg2})
                 : Starting({reinterpret_cast<const char*>(mpeg1), sizeof mpeg1});
  }

  // A sector of a program stream that begins with a video packet instead of a pack header.
  TMedium& Packet() { return Starting(std::string_view("\0\0\x01\xE0\x07\xEC", 6)); }

  // A sector that begins with a tar member header.
  TMedium& TarMember(std::string_view Name = "docs/file.bin") { return Starting(Name).At(257, "ustar  "); }

  // Writes Text at Offset of the last sector.
  TMedium& At(std::size_t Offset, std::string_view Text)
  {
    std::memcpy(&Bytes[Bytes.size() - ss + Offset], Text.data(), Text.size());
    return *this;
  }

 private:
  TMedium& Fill(int n, std::uint8_t b)
  {
    Bytes.insert(Bytes.end(), static_cast<std::size_t>(n * ss), b);
    return *this;
  }
  static void Put32(std::uint8_t* p, std::uint32_t v)
  {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
};

constexpr std::string_view Zip = "PK\x03\x04";
constexpr std::string_view Jpeg = "\xFF\xD8\xFF\xE0";
constexpr std::string_view Pdf = "%PDF-1.4";
constexpr std::string_view Mp3 = "ID3";
// Plain text is named after its first 40 letters and digits.
const std::string TextName = "ThequickbrownfoxjumpsoverthelazydogThequ";

struct TExpected {
  std::string Name;
  TKind Kind;
  std::int64_t Offset;
  std::int64_t Size;
  bool Continues;
};

TkxFileList Scan(TMemoryDisk& disk, bool Follow = false)
{
  TkxRecognition r(disk);
  r.FollowStructure = Follow;
  while (r.Position < disk.SectorCount) {
    const auto before = r.Position;
    r.RecognizeNext();
    EXPECT_GT(r.Position, before);
  }
  TkxFileList result;
  result.Assign(r.FileList);
  return result;
}

void ExpectEntries(const TkxFileList& l, const std::vector<TExpected>& expected)
{
  ASSERT_EQ(l.Count, static_cast<std::int32_t>(expected.size()));
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("entry " + std::to_string(i));
    const TkxFileEntry& e = l.Items[i];
    EXPECT_EQ(e.Name, expected[i].Name);
    EXPECT_EQ(e.Kind, expected[i].Kind);
    EXPECT_EQ(e.Offset, expected[i].Offset);
    EXPECT_EQ(e.Size, expected[i].Size);
    EXPECT_EQ(e.Continues, expected[i].Continues);
  }
}

TEST(RecognizeNext, ScanResultsPerFamily)
{
  struct Case {
    const char* What;
    TMedium Medium;
    std::vector<TExpected> Expected;
  };
  const Case cases[] = {
      {"a zero run is one kind-0 entry", TMedium().Zeros(16).Starting(Jpeg),
       {{"File 000001", 0, 0, 16 * ss, true}, {"File 000002", 77, 16 * ss, ss, true}}},
      {"bitmap of size 0 advances one sector", TMedium().Bitmap(0).Starting(Jpeg),
       {{"640 x -480", 20, 0, 0, false}, {"File 000002", 77, ss, ss, true}}},
      {"zip grows until a jpeg starts", TMedium().Starting(Zip).Unrecognised(3).Starting(Jpeg),
       {{"File 000001", 44, 0, 4 * ss, true}, {"File 000002", 77, 4 * ss, ss, true}}},
      {"pdf absorbs text and closes at its trailer",
       TMedium().Starting(Pdf).Text(ss).Text(100, "%%EOF\n").Unrecognised(),
       {{"File 000001", 56, 0, 3 * ss, false}, {"File 000002", 0, 3 * ss, ss, true}}},
      {"lower-case trailer closes too", TMedium().Starting(Pdf).Unrecognised().At(500, "%%eof"),
       {{"File 000001", 56, 0, 2 * ss, false}}},
      {"pdf trailer in its own first block is not looked for",
       TMedium().Starting(Pdf).At(100, "%%EOF").Unrecognised(),
       {{"File 000001", 56, 0, 2 * ss, true}}},
      {"mp3 closes at a block ending in zero that holds TAG",
       TMedium().Starting(Mp3).Unrecognised().At(10, "TAG").At(ss - 1, std::string_view("\0", 1)).Unrecognised(),
       {{"File 000001", 51, 0, 2 * ss, false}, {"File 000002", 0, 2 * ss, ss, true}}},
      {"mp3 TAG without the final zero does not close",
       TMedium().Starting(Mp3).Unrecognised().At(10, "TAG").Unrecognised(),
       {{"File 000001", 51, 0, 3 * ss, true}}},
      {"text over three blocks is one entry named and kinded by its first block",
       TMedium().Text(2 * ss + 300, "<HTML><TITLE>Home: Start</TITLE>").Unrecognised(),
       {{"Home_ Start", 5, 0, 2 * ss + 300, false}, {"File 000002", 0, 3 * ss, ss, true}}},
      {"text then unrecognised, then text again",
       TMedium().Text(ss).Unrecognised().Text(ss),
       {{TextName, 1, 0, ss, true}, {"File 000002", 0, ss, ss, true}, {TextName, 1, 2 * ss, ss, true}}},
      {"zip does not absorb text", TMedium().Starting(Zip).Text(ss),
       {{"File 000001", 44, 0, ss, true}, {TextName, 1, ss, ss, true}}},
      {"closed text does not grow", TMedium().Text(10).Text(ss),
       {{"Thequick", 1, 0, 10, false}, {TextName, 1, ss, ss, true}}},
      {"kind-0 run does not absorb text", TMedium().Unrecognised(2).Text(ss),
       {{"File 000001", 0, 0, 2 * ss, true}, {TextName, 1, 2 * ss, ss, true}}},
      {"riff past the end keeps its stated size", TMedium().Unrecognised().Riff("WAVE", 100000).Unrecognised(),
       {{"File 000001", 0, 0, ss, true}, {"File 000002", 29, ss, 100008, false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    TMemoryDisk disk(c.Medium.Bytes);
    ExpectEntries(Scan(disk), c.Expected);
  }
}

// Pack headers and tar member headers recur inside one file; a recurring header continues the
// open entry directly before it, and every other header starts an entry as any other kind does.
TEST(RecognizeNext, RecurringHeadersContinueTheOpenEntryBeforeThem)
{
  struct Case {
    const char* What;
    TMedium Medium;
    std::vector<TExpected> Expected;
  };
  const Case cases[] = {
      {"MPEG-2 packs with rising and equal clocks", TMedium().Pack(0).Pack(146).Pack(146).Pack(292),
       {{"File 000001", 88, 0, 4 * ss, true}}},
      {"MPEG-1 packs between video packets", TMedium().Pack(0, false).Packet().Packet().Pack(45001, false).Packet(),
       {{"File 000001", 88, 0, 5 * ss, true}}},
      {"a clock that runs backwards starts a stream", TMedium().Pack(5000).Pack(6000).Pack(10).Pack(20),
       {{"File 000001", 88, 0, 2 * ss, true}, {"File 000002", 88, 2 * ss, 2 * ss, true}}},
      {"the last pack's clock counts, not the first's",
       TMedium().Pack(100).Packet().Pack(200).Packet().Pack(150),
       {{"File 000001", 88, 0, 4 * ss, true}, {"File 000002", 88, 4 * ss, ss, true}}},
      {"a clock above 2^32 is compared whole",
       TMedium().Pack(0x1'0000'0000).Pack(0xFFFF'FFFF).Pack(0x1'0000'0001),
       {{"File 000001", 88, 0, ss, true}, {"File 000002", 88, ss, 2 * ss, true}}},
      {"a pack of the other layout starts a stream", TMedium().Pack(0).Pack(100, false),
       {{"File 000001", 88, 0, ss, true}, {"File 000002", 88, ss, ss, true}}},
      {"a pack whose clock cannot be read starts an entry, and so does the next",
       TMedium().Pack(0).Starting(std::string_view("\0\0\x01\xBA\xC4", 5)).Pack(100).Pack(200),
       {{"File 000001", 88, 0, ss, true},
        {"File 000002", 88, ss, ss, true},
        {"File 000003", 88, 2 * ss, 2 * ss, true}}},
      {"a stream interrupted by text starts again", TMedium().Pack(0).Text(ss).Pack(100),
       {{"File 000001", 88, 0, ss, true}, {TextName, 1, ss, ss, true}, {"File 000003", 88, 2 * ss, ss, true}}},
      {"a pack after another open kind starts a stream", TMedium().Starting(Zip).Pack(100),
       {{"File 000001", 44, 0, ss, true}, {"File 000002", 88, ss, ss, true}}},
      {"a pack after an unrecognised run starts a stream", TMedium().Packet().Pack(100),
       {{"File 000001", 0, 0, ss, true}, {"File 000002", 88, ss, ss, true}}},
      {"member headers continue a tar archive",
       TMedium().TarMember().Unrecognised(2).TarMember().TarMember().Unrecognised(),
       {{"File 000001", 42, 0, 6 * ss, true}}},
      {"the magic at offset 0 starts an entry, as it always did",
       TMedium().TarMember().Starting("ustar").Starting("ustar"),
       {{"File 000001", 42, 0, ss, true}, {"File 000002", 42, ss, ss, true}, {"File 000003", 42, 2 * ss, ss, true}}},
      {"a member header after another open kind starts an archive", TMedium().Starting(Zip).TarMember(),
       {{"File 000001", 44, 0, ss, true}, {"File 000002", 42, ss, ss, true}}},
      {"a member header after text starts an archive", TMedium().TarMember().Text(ss).TarMember(),
       {{"File 000001", 42, 0, ss, true}, {TextName, 1, ss, ss, true}, {"File 000003", 42, 2 * ss, ss, true}}},
      {"a pack does not continue a tar archive, nor a member header a stream",
       TMedium().TarMember().Pack(0).TarMember(),
       {{"File 000001", 42, 0, ss, true}, {"File 000002", 88, ss, ss, true}, {"File 000003", 42, 2 * ss, ss, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    TMemoryDisk disk(c.Medium.Bytes);
    ExpectEntries(Scan(disk), c.Expected);
  }
}

TEST(RecognizeNext, ProgramStreamsBackToBackAreOneEntryEach)
{
  // Two recordings as a DVD holds them: a pack in every sector, the clock rising by the time a
  // sector takes at 10.08 Mbit/s, each recording's clock starting near zero.
  TMedium m;
  const int first = 700, second = 300;
  for (int i = 0; i < first; ++i) m.Pack(30000 + 146u * static_cast<unsigned>(i));
  for (int i = 0; i < second; ++i) m.Pack(30000 + 146u * static_cast<unsigned>(i));
  TMemoryDisk disk(m.Bytes);
  ExpectEntries(Scan(disk),
                {{"File 000001", 88, 0, first * ss, true}, {"File 000002", 88, first * ss, second * ss, true}});
}

TEST(RecognizeNext, LongStreamIsOneEntry)
{
  // As an MPEG-1 system stream is muxed: a pack header in every third sector, video and audio
  // packets between them; the clock rises by a sector's time per sector, and crosses 2^32.
  TMedium m;
  const int sectors = 6000;
  for (int i = 0; i < sectors; ++i) {
    if (i % 3 == 0)
      m.Pack(0xFFFF'0000ull + 1170ull * static_cast<unsigned>(i), false);
    else
      m.Packet();
  }
  TMemoryDisk disk(m.Bytes);
  ExpectEntries(Scan(disk), {{"File 000001", 88, 0, sectors * ss, true}});
}

TEST(RecognizeNext, TarArchiveOfManyMembersIsOneEntry)
{
  // Members of assorted sizes, each a 512-byte header and its data padded to 512 bytes, then the
  // two zero records that end an archive. Data bytes are unrecognisable.
  TMedium m;
  std::vector<std::uint8_t> archive;
  int headersOnSectorStart = 0;
  for (std::uint32_t i = 0; i < 120; ++i) {
    const std::size_t at = archive.size();
    headersOnSectorStart += at % ss == 0;
    archive.resize(at + 512, 0);
    const std::string name = "src/member" + std::to_string(i) + ".bin";
    std::memcpy(&archive[at], name.data(), name.size());
    std::memcpy(&archive[at + 257], "ustar\0" "00", 8);
    const std::size_t size = (i * 7919u) % 9000u + 1;
    archive.resize(archive.size() + (size + 511) / 512 * 512, 0x01);
  }
  archive.resize(archive.size() + 1024, 0);
  ASSERT_GE(headersOnSectorStart, 20);  // enough of them to have split the archive
  const std::int64_t sectors = (static_cast<std::int64_t>(archive.size()) + ss - 1) / ss;
  m.Bytes = archive;
  m.Bytes.resize(static_cast<std::size_t>(sectors * ss), 0);
  m.Starting(Jpeg);
  TMemoryDisk disk(m.Bytes);
  ExpectEntries(Scan(disk), {{"File 000001", 42, 0, sectors * ss, true}, {"File 000002", 77, sectors * ss, ss, true}});
}

TEST(RecognizeNext, SizedFileSectorsAreSkippedUnread)
{
  TMedium m;
  m.Unrecognised(20).Bitmap(10000);
  m.Unrecognised().Starting(Jpeg);  // sectors 21 and 22: inside the bitmap, never examined
  m.Unrecognised(2).Starting(Zip);  // sectors 23 and 24 too; 25 is the next one examined
  TMemoryDisk disk(m.Bytes);
  TkxRecognition r(disk);
  std::vector<std::int64_t> positions;
  while (r.Position < disk.SectorCount) {
    positions.push_back(r.Position);
    r.RecognizeNext();
  }
  EXPECT_EQ(std::count(disk.SectorsRead.begin(), disk.SectorsRead.end(), 21), 0);
  EXPECT_EQ(std::count(disk.SectorsRead.begin(), disk.SectorsRead.end(), 24), 0);
  EXPECT_EQ(positions[21], 25);
  ExpectEntries(r.FileList, {{"File 000001", 0, 0, 20 * ss, true},
                             {"640 x -480", 20, 40960, 10000, false},
                             {"File 000003", 44, 25 * ss, ss, true}});
}

TEST(RecognizeNext, RiffPastTheEndEndsTheScan)
{
  TMemoryDisk disk(TMedium().Riff("AVI ", 1000000).Unrecognised(3).Bytes);
  TkxRecognition r(disk);
  r.RecognizeNext();
  EXPECT_EQ(r.Position, (1000008 + ss - 1) / ss);
  EXPECT_GE(r.Position, disk.SectorCount);
  ExpectEntries(r.FileList, {{"File 000001", 24, 0, 1000008, false}});
}

TEST(RecognizeNext, UnreadableSectorIsExaminedAsZeros)
{
  // Were the block not cleared, the unreadable sector would show the previous sector's JPEG
  // header again and start a second entry.
  TMemoryDisk disk(TMedium().Starting(Jpeg).Starting(Jpeg).Starting(Jpeg).Bytes);
  disk.Unreadable = 1;
  TkxRecognition r(disk);
  while (r.Position < disk.SectorCount) r.RecognizeNext();
  ExpectEntries(r.FileList, {{"File 000001", 77, 0, 2 * ss, true}, {"File 000002", 77, 2 * ss, ss, true}});
  EXPECT_EQ(r.UnreadableSectors, 1);
  EXPECT_EQ(ScanUnreadableText(r.UnreadableSectors), "1 unreadable sector was examined as zeros");
  EXPECT_EQ(ScanUnreadableText(111), "111 unreadable sectors were examined as zeros");
}

// A stop that comes while a drive sends the commands of one damaged sector ends the read; the
// sector is neither examined nor skipped.
TEST(TkxScanJob, StopDuringTheCommandsOfOneReadEndsTheScanBeforeThatSector)
{
  class TSlowDisk final : public TkxDisk {
   public:
    explicit TSlowDisk(TkxJobControl& Control_) : Control(Control_) { SectorCount = 10; }
    std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t, std::int64_t FirstSector, const TkxReadOptions& How) override
    {
      std::memset(Buffer, 0, 2048);
      if (FirstSector == 5) {
        Control.RequestStop();  // pressed while the drive retries
        if (How.StopRequested()) throw EkxStopped();
      }
      return 2048;
    }
    TkxJobControl& Control;
  };
  TkxJobControl control;
  TkxScanJob job(std::make_unique<TSlowDisk>(control));
  const TkxScanResult result = job.Run(control, {});
  EXPECT_TRUE(result.Outcome.IsStopped());
  EXPECT_EQ(result.Phase, TkxScanPhase::Scan) << "a stopped scan is not checked";
  EXPECT_EQ(result.Position, 5);
  EXPECT_EQ(job.Recognition.FileList.Count, 1);
}

TEST(RecognizeNext, MediumErrorLeavesPositionAndListUnchanged)
{
  TMemoryDisk disk(TMedium().Starting(Zip).Unrecognised(2).Bytes);
  disk.ThrowAt = 1;
  TkxRecognition r(disk);
  r.RecognizeNext();
  EXPECT_THROW(r.RecognizeNext(), EkxIOError);
  EXPECT_EQ(r.Position, 1);
  ExpectEntries(r.FileList, {{"File 000001", 44, 0, ss, true}});
  disk.ThrowAt = -1;
  r.RecognizeNext();
  ExpectEntries(r.FileList, {{"File 000001", 44, 0, 2 * ss, true}});
}

TEST(RecognizeNext, NamesNumberEveryEntryInOrderOfDiscovery)
{
  TMedium m;
  for (int i = 0; i < 300; ++i) m.Starting(Jpeg);
  TMemoryDisk disk(m.Bytes);
  const TkxFileList l = Scan(disk);
  ASSERT_EQ(l.Count, 300);
  EXPECT_EQ(l.Items[0].Name, "File 000001");
  EXPECT_EQ(l.Items[299].Name, "File 000300");
  EXPECT_EQ(l.Items[299].Offset, 299 * ss);
}

// A scan that went on after the disc was changed would list two discs as one; it ends with the
// message instead, and what it found on the first disc stays.
// The scan and the command line's identify name a new entry alike: by its place in the list,
// then from its content where the kind gives a name.
TEST(DescribeNewEntry, NumberFirstThenTheContentsName)
{
  std::vector<std::uint8_t> block(2048, 0);
  const TkxNewEntry unknown = DescribeNewEntry(block, 1234567, Kinds::Unknown);
  EXPECT_EQ(unknown.Name, "File 1234567");
  EXPECT_EQ(unknown.Kind, Kinds::Unknown);
  const std::string_view html = "<html><head><title>Holiday / pictures</title></head>";
  std::copy(html.begin(), html.end(), block.begin());
  const TkxNewEntry text = DescribeNewEntry(block, 7, Kinds::Text);
  EXPECT_EQ(text.Name, "Holiday _ pictures");
  EXPECT_EQ(KindExtensions[text.Kind], ".html");
}

TEST(TkxScanJob, DiscChangedDuringTheScanEndsItWithWhatWasFound)
{
  TMedium m;
  for (int i = 0; i < 300; ++i) m.Starting(Jpeg);
  auto owned = std::make_unique<test::TSimulatedDrive>(m.Bytes);
  test::TSimulatedDrive* drive = owned.get();
  auto cd = std::make_unique<TkxPhysicalCD>(std::move(owned));
  ASSERT_EQ(cd->Status, CDReady);
  const std::size_t opened = drive->Commands.size();
  // The scan reads ahead in runs of 32 sectors: the fourth run, from sector 96, meets the other disc.
  drive->BeforeCommand = [&](std::size_t index) {
    if (index == opened + 3) drive->ChangeDisc(300);
  };
  TkxScanJob job(std::move(cd));
  TkxJobControl control;
  const TkxScanResult result = job.Run(control, nullptr);

  EXPECT_TRUE(result.Outcome.IsFailed());
  EXPECT_EQ(result.Outcome.Reason, MediumChangedMessage);
  EXPECT_EQ(result.Phase, TkxScanPhase::Scan);
  EXPECT_EQ(job.Recognition.Position, 96);
  ASSERT_EQ(job.Recognition.FileList.Count, 96);
  for (std::int32_t i = 0; i < 96; ++i) EXPECT_EQ(job.Recognition.FileList.Items[static_cast<std::size_t>(i)].Kind, 77) << i;
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// A medium of Sectors sectors that each begin a ZIP, so that every step adds an entry.
std::unique_ptr<TMemoryDisk> ZipMedium(int Sectors)
{
  TMedium m;
  for (int i = 0; i < Sectors; ++i) m.Starting("PK\x03\x04");
  return std::make_unique<TMemoryDisk>(m.Bytes);
}

TEST(TkxScanJob, ReportsEveryStrideAndAtTheEndThenAcceptsSortedByExtension)
{
  TMedium m;
  m.Starting("%PDF-1.4").Unrecognised(3).Starting("GIF89a").Unrecognised(4);
  TkxScanJob job(std::make_unique<TMemoryDisk>(m.Bytes), {false, 4, 0});
  TkxJobControl control;
  std::vector<std::int64_t> reported;
  const TkxScanResult result =
      job.Run(control, [&](const TkxScanFigures& Figures) { reported.push_back(Figures.Position); });
  EXPECT_TRUE(result.Outcome.IsCompleted());
  EXPECT_EQ(reported, (std::vector<std::int64_t>{4, 8, 9}));
  ASSERT_EQ(result.Files.Count, 2);
  EXPECT_EQ(result.Files.Items[0].Kind, 75);

  TkxFileList accepted;
  accepted.Add("stale", 1, 0, 1, false);
  job.AcceptInto(accepted);
  ASSERT_EQ(accepted.Count, 2);
  EXPECT_EQ(accepted.Items[0].Kind, 75);  // ".gif" sorts before ".pdf"
  EXPECT_EQ(accepted.Items[1].Kind, 56);
  EXPECT_EQ(job.Recognition.FileList.Items[0].Kind, 56) << "the scan's own list keeps its order";
}

TEST(TkxScanJob, StopRequestAndAnEmptyMediumEndTheLoopButStillReport)
{
  TkxScanJob stopped(ZipMedium(100), {false, 10, 0});
  TkxJobControl control;
  int reports = 0;
  const auto outcome = stopped.Run(control, [&](const TkxScanFigures&) {
    if (++reports == 2) control.RequestStop();
  });
  EXPECT_TRUE(outcome.Outcome.IsStopped());
  EXPECT_EQ(stopped.Recognition.Position, 20) << "stops before the next step";
  EXPECT_EQ(reports, 3) << "the final display follows a stop";

  TkxScanJob empty(std::make_unique<TMemoryDisk>(std::vector<std::uint8_t>{}), {false});
  TkxJobControl open;
  reports = 0;
  const auto none = empty.Run(open, [&](const TkxScanFigures&) { ++reports; });
  EXPECT_TRUE(none.Outcome.IsCompleted());
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(none.Position, 0);
}

TEST(TkxScanJob, FailingStepEndsTheScanWithItsErrorAndKeepsTheFilesFound)
{
  auto disk = ZipMedium(20);
  disk->ThrowAt = 6;
  TkxScanJob job(std::move(disk));
  TkxJobControl control;
  int reports = 0;
  const auto outcome = job.Run(control, [&](const TkxScanFigures&) { ++reports; });
  EXPECT_EQ(outcome.Outcome.Reason, "part file vanished");
  EXPECT_TRUE(outcome.Outcome.IsFailed());
  EXPECT_EQ(reports, 1) << "no check follows a failed scan";
  EXPECT_EQ(outcome.Files.Count, 6);
}

// An image file cut short during the scan is no run of unreadable sectors: the scan ends at the
// cut with the image's error and keeps what it found before it.
TEST(TkxScanJob, AnImageCutShortEndsTheScanAtTheCut)
{
  test::TScratchFolder dir;
  const std::string name = dir / "disc.iso";
  std::string bytes(20 * ss, '\0');
  for (std::int64_t s = 0; s < 20; ++s) bytes.replace(static_cast<std::size_t>(s * ss), 4, "PK\x03\x04");
  test::WriteFileText(name, bytes);
  auto image = std::make_unique<TkxDiskImage>(name);
  ASSERT_TRUE(image->Opened);
  std::filesystem::resize_file(name, 6 * ss);
  TkxScanJob job(std::move(image));
  TkxJobControl control;
  const auto outcome = job.Run(control, {});
  EXPECT_EQ(outcome.Outcome.Reason, "\"" + name + "\" is shorter than when the image was opened: it was cut or replaced");
  EXPECT_EQ(job.Recognition.Position, 6);
  EXPECT_EQ(job.Recognition.UnreadableSectors, 0);
  EXPECT_EQ(job.Recognition.FileList.Count, 6);
}

// Sectors that each begin a ZIP, generated rather than stored, so the medium can be long.
class TZipStream final : public TkxDisk {
 public:
  explicit TZipStream(std::int64_t Sectors) { SectorCount = Sectors; }
  std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t, const TkxReadOptions&) override
  {
    std::memset(Buffer, 0, static_cast<std::size_t>(Count) * 2048);
    for (std::int32_t i = 0; i < Count; ++i) std::memcpy(Buffer + i * 2048, "PK\x03\x04", 4);
    return Count * 2048;
  }
};

TEST(TkxScanJob, StartsClosedPausesBetweenStepsAndCopiesWholeEntriesWhileWorking)
{
  auto job = std::make_shared<TkxScanJob>(std::make_unique<TZipStream>(std::int64_t{1} << 40),
                                         TkxScanOptions{false, 100, 0});
  TkxJobControl control(true);
  // The worker pauses itself at its second report and says how far it got; the test waits for
  // that, not for time to pass.
  std::promise<std::int64_t> pausedAt;
  int reports = 0;
  std::thread worker([&] {
    job->Run(control, [&](const TkxScanFigures& Figures) {
      if (++reports == 2) {
        control.Pause();
        pausedAt.set_value(Figures.Position);
      }
    });
  });
  TkxFileList copy;
  job->AcceptInto(copy);
  EXPECT_EQ(copy.Count, 0) << "nothing is read before the scan is resumed";
  control.Resume();
  while (copy.Count < 50) job->AcceptInto(copy);
  for (std::int32_t i = 0; i < copy.Count; ++i) ASSERT_EQ(copy.Items[static_cast<std::size_t>(i)].Kind, 44);
  const std::int64_t paused = pausedAt.get_future().get();
  job->AcceptInto(copy);
  EXPECT_EQ(copy.Count, paused);
  EXPECT_EQ(job->FoundCount(), paused);
  control.RequestStop();
  worker.join();
  EXPECT_EQ(job->Recognition.FileList.Count, paused) << "a paused scan stopped takes no further step";
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

using namespace std::string_view_literals;

void PutBE32(std::vector<std::uint8_t>& b, std::size_t n, std::uint32_t v)
{
  for (int i = 0; i < 4; ++i) b[n + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

void PutText(std::vector<std::uint8_t>& b, std::size_t n, std::string_view t) { std::copy(t.begin(), t.end(), b.begin() + static_cast<std::ptrdiff_t>(n)); }

// A movie of an "ftyp", an "mdat" of 20 sectors whose sectors begin with other files' headers
// (a JPEG, a ZIP, a DOS program), and a "moov", beginning at sector 1 of a medium of
// unrecognised bytes; a JPEG follows it. Medium is cut after CutSectors when not 0.
std::vector<std::uint8_t> MovieMedium(std::size_t& MovieSize, std::size_t CutSectors = 0)
{
  std::vector<std::uint8_t> m(30 * ss, 0x01);
  const std::size_t at = ss, mdat = at + 32, mdatSize = 20 * ss, moov = mdat + mdatSize;
  PutBE32(m, at, 32);
  PutText(m, at + 4, "ftypisom\0\0\x02\0isomiso2avc1mp41"sv);
  PutBE32(m, mdat, static_cast<std::uint32_t>(mdatSize));
  PutText(m, mdat + 4, "mdat");
  PutText(m, 4 * ss, "\xFF\xD8\xFF\xE0\x00\x10JFIF"sv);
  PutText(m, 9 * ss, "PK\x03\x04\x14\x00"sv);
  PutText(m, 15 * ss, "MZ\x90\0\x03\0\0\0\x04\0\x10\0\xFF\xFF"sv);
  PutBE32(m, moov, 1000);
  PutText(m, moov + 4, "moov");
  MovieSize = moov + 1000 - at;
  PutText(m, (at + MovieSize + ss - 1) / ss * ss, "\xFF\xD8\xFF\xE1"sv);
  if (CutSectors != 0) m.resize(CutSectors * ss);
  return m;
}

// A big structured file is followed from its first sector to its stated end and taken whole;
// the headers inside it start nothing. Cut by the medium's end, it is an open file as before.
TEST(RecognizeNext, FollowsABigStructuredFileOverFalseStarts)
{
  std::size_t movie = 0;
  TMemoryDisk whole(MovieMedium(movie));
  const TkxFileList followed = Scan(whole, true);
  const std::int64_t jpeg = (ss + static_cast<std::int64_t>(movie) + ss - 1) / ss * ss;
  ExpectEntries(followed, {{"File 000001", 0, 0, ss, true},
                           {"File 000002", Kinds::Mp4, ss, static_cast<std::int64_t>(movie), false},
                           {"File 000003", Kinds::Jpeg, jpeg, 30 * ss - jpeg, true}});
  EXPECT_EQ(followed.Items[1].Check, TkxCheckState::Whole);
  EXPECT_EQ(followed.Items[1].CheckedSize, static_cast<std::int64_t>(movie));

  // The classic scan: every false start begins an entry.
  TMemoryDisk classic(MovieMedium(movie));
  TkxRecognition scan(classic);
  scan.FollowStructure = false;
  while (scan.Position < classic.SectorCount) scan.RecognizeNext();
  EXPECT_EQ(scan.FileList.Count, 6);

  TMemoryDisk cut(MovieMedium(movie, 10));
  const TkxFileList open = Scan(cut, true);
  ASSERT_EQ(open.Count, 4);
  EXPECT_EQ(open.Items[1].Kind, Kinds::Mp4);
  EXPECT_EQ(open.Items[1].Size, 3 * ss);
  EXPECT_TRUE(open.Items[1].Continues);
  EXPECT_EQ(open.Items[1].Check, TkxCheckState::NotChecked);
}

// Packets of 192 bytes meet a sector's start every third sector, and MPEG audio frames now and
// then: such a sector goes on with the open entry of its kind.
TEST(RecognizeNext, TransportPacketsAndAudioFramesContinueTheirEntry)
{
  std::vector<std::uint8_t> m2ts(12 * ss, 0x02);
  for (std::size_t n = 4; n < m2ts.size(); n += 192) m2ts[n] = 0x47;
  std::vector<std::uint8_t> mp3(6 * ss, 0x02);
  PutText(mp3, 0, "ID3\x03\0\0\0\0\0\0"sv);
  for (const std::size_t sector : {2u, 4u})
    for (std::size_t n = sector * ss; n + 4 <= (sector + 1) * ss; n += 417) PutText(mp3, n, "\xFF\xFB\x90\x00"sv);
  for (auto* medium : {&m2ts, &mp3}) {
    TMemoryDisk disk(*medium);
    TkxRecognition scan(disk);
    scan.FollowStructure = false;
    while (scan.Position < disk.SectorCount) scan.RecognizeNext();
    ASSERT_EQ(scan.FileList.Count, 1);
    EXPECT_EQ(scan.FileList.Items[0].Size, static_cast<std::int64_t>(medium->size()));
  }
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// An ISO 9660 image of Blocks sectors at sector At of Medium: a system area of zeros, its
// volume descriptor 16 sectors in, its root directory at sector 18 pointing to itself.
void PutIsoImage(std::vector<std::uint8_t>& Medium, std::size_t At, std::uint32_t Blocks)
{
  std::fill_n(Medium.begin() + static_cast<std::ptrdiff_t>(At * ss), 19 * ss, 0);
  std::uint8_t* pvd = &Medium[(At + 16) * ss];
  std::copy_n("\x01" "CD001\x01", 7, pvd);
  for (int i = 0; i < 4; ++i) pvd[80 + i] = static_cast<std::uint8_t>(Blocks >> (8 * i));
  pvd[128] = 0x00;
  pvd[129] = 0x08;  // blocks of 2048 bytes
  pvd[156] = 34;
  pvd[158] = 18;
  pvd[156 + 25] = 2;
  std::uint8_t* root = &Medium[(At + 18) * ss];
  root[0] = 34;
  root[2] = 18;
  root[25] = 2;
}

// A stored image is found at its volume descriptor and begins 16 sectors before it; the
// medium's own file system, whose descriptor lies in sector 16, is no stored image.
TEST(RecognizeNext, AStoredImageBeginsAtItsSystemArea)
{
  std::vector<std::uint8_t> m(60 * ss, 0x01);
  PutIsoImage(m, 0, 30);   // the medium's own: sectors 0..29
  PutIsoImage(m, 31, 20);  // a stored image: sectors 31..50
  std::copy_n("\xFF\xD8\xFF\xE0", 4, m.begin() + 51 * ss);
  TMemoryDisk disk(m);
  const TkxFileList l = Scan(disk, true);
  ASSERT_GE(l.Count, 3);
  const TkxFileEntry& image = l.Items[static_cast<std::size_t>(l.Count - 2)];
  EXPECT_EQ(image.Kind, Kinds::IsoImage);
  EXPECT_EQ(image.Offset, 31 * ss);
  EXPECT_EQ(image.Size, 20 * ss);
  EXPECT_EQ(image.Check, TkxCheckState::Whole);
  EXPECT_EQ(l.Items[static_cast<std::size_t>(l.Count - 1)].Offset, 51 * ss);
  for (std::int32_t i = 0; i + 2 < l.Count; ++i) {
    EXPECT_NE(l.Items[static_cast<std::size_t>(i)].Kind, Kinds::IsoImage);
    EXPECT_LE(l.Items[static_cast<std::size_t>(i)].Offset + l.Items[static_cast<std::size_t>(i)].Size, 31 * ss);
  }
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

void PutLE32(std::vector<std::uint8_t>& b, std::size_t n, std::uint32_t v)
{
  for (int i = 0; i < 4; ++i) b[n + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Headers that chain over Sectors sectors, each sector beginning a file whose walk runs through
// every later sector: a box, a member or a page at each sector's start reaches a second one
// further in the next sector, whose size reaches the same place in the sector after.
std::vector<std::uint8_t> Chain(TKind Kind, std::size_t Sectors)
{
  std::vector<std::uint8_t> s(ss, 0);
  if (Kind == Kinds::Mp4) {
    PutBE32(s, 0, 24);
    PutText(s, 4, "ftypisom\0\0\0\0isom"sv);
    PutBE32(s, 24, ss);
    PutText(s, 28, "free");
  } else if (Kind == Kinds::Zip) {
    const auto member = [&](std::size_t at, std::uint32_t next) {
      PutText(s, at, "PK\x03\x04\x14\0"sv);
      PutLE32(s, at + 18, next - at - 31);
      PutLE32(s, at + 22, next - at - 31);
      s[at + 26] = 1;
      s[at + 30] = 'a';
    };
    member(0, ss + 100);
    member(100, ss + 100);
  } else {
    const auto page = [&](std::size_t at, std::uint8_t flags, std::size_t next) {
      PutText(s, at, "OggS"sv);
      s[at + 5] = flags;
      s[at + 14] = 1;
      const std::size_t body = next - at - 27;
      const std::size_t segments = body / 255 + 1;
      s[at + 26] = static_cast<std::uint8_t>(segments);
      for (std::size_t i = 0; i < segments; ++i) s[at + 27 + i] = static_cast<std::uint8_t>(i + 1 < segments ? 255 : body - 255 * i - segments);
    };
    page(0, 2, 200);
    page(200, 0, ss + 200);
  }
  std::vector<std::uint8_t> m;
  for (std::size_t i = 0; i < Sectors; ++i) m.insert(m.end(), s.begin(), s.end());
  return m;
}

// Chained headers cost the scan's structure following reads in proportion to the medium, not
// to its square (every walk from every sector to the medium's end), and a movie after them is
// still followed whole.
TEST(RecognizeNext, ChainedHeadersCostReadsInProportionToTheMedium)
{
  constexpr std::size_t sectors = 2000;
  for (const TKind kind : {Kinds::Mp4, Kinds::Zip, Kinds::Ogg}) {
    SCOPED_TRACE(static_cast<int>(kind));
    std::vector<std::uint8_t> m = Chain(kind, sectors);
    std::size_t movie = 0;
    const std::vector<std::uint8_t> after = MovieMedium(movie);
    m.insert(m.end(), after.begin() + ss, after.end());
    TMemoryDisk disk(m);
    const TkxFileList l = Scan(disk, true);
    EXPECT_EQ(l.Items[0].Kind, kind);
    EXPECT_GE(l.Count, static_cast<std::int32_t>(sectors) / 2) << "a chain of false starts is no file";
    EXPECT_LE(disk.SectorsRead.size(), 20 * sectors + 2 * (TkxRecognition::FirstCredit / ss));
    const auto found = std::find_if(l.Items.begin(), l.Items.begin() + l.Count,
                                    [&](const TkxFileEntry& e) { return e.Offset == static_cast<std::int64_t>(sectors) * ss; });
    ASSERT_NE(found, l.Items.begin() + l.Count);
    EXPECT_EQ(found->Kind, Kinds::Mp4);
    EXPECT_EQ(found->Check, TkxCheckState::Whole);
    EXPECT_EQ(found->Size, static_cast<std::int64_t>(movie));
  }
}

// A stop requested while a walk reads a big file's last header ends the walk there: the scan
// stops before the file's first sector and examines it again when it goes on.
TEST(TkxScanJob, AStopDuringAWalkLeavesTheFileForLater)
{
  class TStoppingDisk final : public TkxDisk {
   public:
    TStoppingDisk(std::vector<std::uint8_t> Bytes_, std::int64_t StopAt_, TkxJobControl& Control_)
        : Bytes(std::move(Bytes_)), StopAt(StopAt_), Control(Control_)
    {
      SectorCount = static_cast<std::int64_t>(Bytes.size()) / ss;
    }
    std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector, const TkxReadOptions&) override
    {
      const std::int64_t n = std::min<std::int64_t>(Count, SectorCount - FirstSector);
      if (FirstSector <= StopAt && StopAt < FirstSector + n) Control.RequestStop();
      std::memcpy(Buffer, Bytes.data() + FirstSector * ss, static_cast<std::size_t>(n * ss));
      return static_cast<std::int32_t>(n * ss);
    }
    std::vector<std::uint8_t> Bytes;
    std::int64_t StopAt;
    TkxJobControl& Control;
  };
  std::size_t movie = 0;
  std::vector<std::uint8_t> m = MovieMedium(movie);
  const std::int64_t moov = (ss + static_cast<std::int64_t>(movie) - 1000) / ss;
  TkxJobControl control;
  TkxScanJob job(std::make_unique<TStoppingDisk>(std::move(m), moov, control));
  const TkxScanResult outcome = job.Run(control, {});
  EXPECT_TRUE(outcome.Outcome.IsStopped());
  EXPECT_EQ(job.Recognition.Position, 1);
  EXPECT_EQ(job.Recognition.FileList.Count, 1);
}

// The job's phases: the scan that follows structure, the check of its list from the medium's end,
// the sort. Without the check, the classic list: no structure followed, nothing checked.
TEST(TkxScanJob, ChecksWhatTheScanFoundAndNamesThePhaseOfEachReport)
{
  std::size_t movie = 0;
  TkxScanJob job(std::make_unique<TMemoryDisk>(MovieMedium(movie)), {true, 2000, 1});
  TkxJobControl control;
  std::vector<std::string> reports;
  const TkxScanResult r = job.Run(control, [&](const TkxScanFigures& f) {
    reports.push_back(f.Phase == TkxScanPhase::Scan ? "scan " + std::to_string(f.Position) + " " + std::to_string(f.Found)
                                                    : "check " + std::to_string(f.Checked) + "/" + std::to_string(f.ToCheck));
  });
  EXPECT_EQ(reports, (std::vector<std::string>{"scan 30 3", "check 0/3", "check 1/3", "check 2/3", "check 3/3"}));
  EXPECT_TRUE(r.Outcome.IsCompleted());
  ASSERT_TRUE(r.Check.has_value());
  // Sorted by extension: the unrecognised sector (no extension), the JPEG, the movie.
  ASSERT_EQ(r.Files.Count, 3);
  EXPECT_EQ(r.Files.Items[1].Kind, Kinds::Jpeg);
  EXPECT_EQ(r.Files.Items[1].Check, TkxCheckState::Damaged);

  TkxScanJob classic(std::make_unique<TMemoryDisk>(MovieMedium(movie)), {false});
  reports.clear();
  const TkxScanResult c =
      classic.Run(control, [&](const TkxScanFigures& f) { reports.push_back(f.Phase == TkxScanPhase::Scan ? "scan" : "check"); });
  EXPECT_EQ(reports, std::vector<std::string>{"scan"});
  EXPECT_FALSE(c.Check.has_value());
  EXPECT_EQ(c.Files.Count, 6);
  EXPECT_EQ(CountCheckStates(c.Files)[0], 6) << "nothing checked";
}

// A stop during the check keeps what it concluded, the entries at the medium's end; a medium that
// fails during the check fails the job with its message. Either way the list is the scan's.
TEST(TkxScanJob, AStopOrAFailureDuringTheCheckEndsItWithWhatItConcluded)
{
  std::size_t movie = 0;
  auto disk = std::make_unique<TMemoryDisk>(MovieMedium(movie));
  TMemoryDisk* medium = disk.get();
  TkxScanJob stopped(std::move(disk), {true, 2000, 1});
  TkxJobControl control;
  const TkxScanResult s = stopped.Run(control, [&](const TkxScanFigures& f) {
    if (f.Phase == TkxScanPhase::Check && f.Checked == 1) control.RequestStop();
  });
  EXPECT_TRUE(s.Outcome.IsStopped());
  EXPECT_EQ(s.Phase, TkxScanPhase::Check);
  ASSERT_TRUE(s.Check.has_value());
  EXPECT_EQ(s.Check->Checked, 1);
  ASSERT_EQ(s.Files.Count, 3);
  EXPECT_EQ(s.Files.Items[1].Check, TkxCheckState::Damaged) << "the JPEG at the end, concluded first";
  EXPECT_EQ(s.Files.Items[2].Check, TkxCheckState::Whole) << "the movie, as the scan's walk found it";
  EXPECT_EQ(s.Files.Items[2].CheckedSize, static_cast<std::int64_t>(movie));

  TkxScanJob failing(std::make_unique<TMemoryDisk>(medium->Bytes), {true, 2000, 1});
  auto* failingDisk = static_cast<TMemoryDisk*>(&failing.Disk());
  TkxJobControl open;
  const TkxScanResult f = failing.Run(open, [&](const TkxScanFigures& Figures) {
    // The JPEG's first sector, which the check reads first.
    if (Figures.Phase == TkxScanPhase::Check) failingDisk->ThrowAt = (ss + static_cast<std::int64_t>(movie) + ss - 1) / ss;
  });
  EXPECT_TRUE(f.Outcome.IsFailed());
  EXPECT_EQ(f.Outcome.Reason, "part file vanished");
  EXPECT_EQ(f.Phase, TkxScanPhase::Check);
  EXPECT_EQ(f.Files.Count, 3);
}

}  // namespace
}  // namespace kx
