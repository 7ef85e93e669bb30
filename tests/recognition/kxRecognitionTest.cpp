#include "recognition/kxRecognition.h"

#include "media/SimulatedDrive.h"
#include "media/kxPhysicalCD.h"
#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

TkxFileList Scan(TMemoryDisk& disk)
{
  TkxRecognition r(disk);
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
  TMemoryDisk disk(TMedium().Starting(Jpeg).Starting(Jpeg).Bytes);
  disk.Unreadable = 1;
  ExpectEntries(Scan(disk), {{"File 000001", 77, 0, 2 * ss, true}});
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
  job.Gate.Resume();
  const TkxScanOutcome outcome = job.Run(nullptr);

  EXPECT_EQ(outcome.Error, MediumChangedMessage);
  EXPECT_FALSE(outcome.Stopped);
  EXPECT_EQ(job.Recognition.Position, 96);
  ASSERT_EQ(job.Recognition.FileList.Count, 96);
  for (std::int32_t i = 0; i < 96; ++i) EXPECT_EQ(job.Recognition.FileList.Items[static_cast<std::size_t>(i)].Kind, 77) << i;
}

}  // namespace
}  // namespace kx
