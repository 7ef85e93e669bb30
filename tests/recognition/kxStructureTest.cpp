// SPDX-License-Identifier: GPL-3.0-or-later
#include "recognition/kxStructure.h"

#include "recognition/kxBytes.h"
#include "recognition/kxModernKinds.h"
#include "recognition/kxRealFiles.h"
#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <string>
#include <string_view>
#include <vector>

// The memory the program holds, counted by every allocation of it: the containers of the
// finders and, through their allocation hooks, the decoders' dictionaries and windows.
namespace {
std::atomic<std::int64_t> HeldBytes{0};
std::atomic<std::int64_t> PeakBytes{0};

void* Counted(std::size_t N) noexcept
{
  auto* block = static_cast<std::max_align_t*>(std::malloc(N + sizeof(std::max_align_t)));
  if (block == nullptr) return nullptr;
  *reinterpret_cast<std::size_t*>(block) = N;
  const std::int64_t held = HeldBytes += static_cast<std::int64_t>(N);
  for (std::int64_t peak = PeakBytes.load(); held > peak && !PeakBytes.compare_exchange_weak(peak, held);) {
  }
  return block + 1;
}
}  // namespace

void* operator new(std::size_t N)
{
  void* p = Counted(N);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new(std::size_t N, const std::nothrow_t&) noexcept { return Counted(N); }
void operator delete(void* P) noexcept
{
  if (P == nullptr) return;
  auto* block = static_cast<std::max_align_t*>(P) - 1;
  HeldBytes -= static_cast<std::int64_t>(*reinterpret_cast<std::size_t*>(block));
  std::free(block);
}
void operator delete(void* P, std::size_t) noexcept { operator delete(P); }

namespace kx {
namespace {

using test::TBytes;
using namespace std::string_view_literals;

using test::Fixture;
using test::Gzip;

TBytes FileBytes(const std::string& Path)
{
  const std::string text = test::ReadFileText(Path);
  return {text.begin(), text.end()};
}

// Text and noise, as archives hold them; Lines of them, none the same.
TBytes Payload(int Lines = 400)
{
  std::mt19937 rnd(7);
  TBytes b;
  for (int i = 0; i < Lines; ++i) {
    for (char c : "the recovered disc holds files of many kinds\n"sv) b.push_back(static_cast<std::uint8_t>(c));
    for (int k = 0; k < 60; ++k) b.push_back(static_cast<std::uint8_t>(rnd()));
  }
  return b;
}

TBytes Bzip2(const TBytes& In)
{
  TBytes out(In.size() + In.size() / 50 + 1024);
  auto n = static_cast<unsigned>(out.size());
  BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &n,
                           const_cast<char*>(reinterpret_cast<const char*>(In.data())), static_cast<unsigned>(In.size()), 9, 0, 0);
  out.resize(n);
  return out;
}

TBytes Xz(const TBytes& In, std::uint32_t Preset = 6)
{
  TBytes out(lzma_stream_buffer_bound(In.size()));
  std::size_t n = 0;
  lzma_easy_buffer_encode(Preset, LZMA_CHECK_CRC64, nullptr, In.data(), In.size(), out.data(), &n, out.size());
  out.resize(n);
  return out;
}

TBytes Zstd(const TBytes& In)
{
  ZSTD_CCtx* c = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1);
  TBytes out(ZSTD_compressBound(In.size()));
  out.resize(ZSTD_compress2(c, out.data(), out.size(), In.data(), In.size()));
  ZSTD_freeCCtx(c);
  return out;
}

TBytes Bytes(std::string_view Text) { return {Text.begin(), Text.end()}; }

// A PDF with an incremental update: the first revision's end-of-file marker is not the end.
TBytes RevisedPdf()
{
  return Bytes("%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\nxref\n0 2\n0000000000 65535 f \n0000000009 00000 n \n"
               "trailer\n<< /Size 2 /Root 1 0 R >>\nstartxref\n52\n%%EOF\n"
               "2 0 obj\n<< /Info (updated) >>\nendobj\nxref\n2 1\n0000000140 00000 n \ntrailer\n<< /Size 3 /Prev 52 >>\n"
               "startxref\n180\n%%EOF\n"sv);
}

// An IFO file of a title set: three sectors, the last one numbered 2 in its header.
TBytes Ifo()
{
  TBytes b(3 * 2048, 0);
  std::copy_n("DVDVIDEO-VTS", 12, b.begin());
  b[0x1F] = 2;
  return b;
}

std::size_t Find(const TBytes& File, std::string_view Pattern, std::size_t From = 0)
{
  const auto it = std::search(File.begin() + static_cast<std::ptrdiff_t>(From), File.end(), Pattern.begin(), Pattern.end(),
                              [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
  return static_cast<std::size_t>(it - File.begin());
}

TkxFileEnd EndOf(TKind Kind, const TBytes& Bytes)
{
  TkxMemorySource source(Bytes);
  return FindFileEnd(Kind, source);
}

// Whether this build decodes streams of Kind: the cases of a decoder it left out are skipped.
bool Decodable(TKind Kind) { return (DecoderNeeded(Kind) & ~BuiltDecoders()) == 0; }

struct TEndCase {
  std::string Name;
  TKind Kind;
  TBytes File;
  std::size_t CorruptAt;        // where four bytes of the structure are overwritten
  TkxCheckState Corrupted;      // what the corrupted copy is found to be
  TKind Refined = 0;            // the kind the content names, 0 for none
};

std::vector<TEndCase> EndCases()
{
  std::vector<TEndCase> cases;
  const auto add = [&](std::string name, TKind kind, TBytes file, auto corruptAt, TkxCheckState corrupted, TKind refined = 0) {
    const std::size_t at = corruptAt(file);
    cases.push_back({std::move(name), kind, std::move(file), at, corrupted, refined});
  };
  using S = TkxCheckState;
  const auto secondBox = [](const TBytes& f) { return static_cast<std::size_t>(bytes::U32BE(f, 0)) + 4; };
  const auto pattern = [](std::string_view p, std::size_t from = 0) { return [=](const TBytes& f) { return Find(f, p, from); }; };
  const auto at = [](std::size_t n) { return [=](const TBytes&) { return n; }; };
  const auto middle = [](const TBytes& f) { return f.size() / 2; };
  const auto firstFrame = [](const TBytes& f) {
    return f[0] == 'I' ? 10 + (std::size_t{f[6]} << 21 | std::size_t{f[7]} << 14 | std::size_t{f[8]} << 7 | f[9]) : 0;
  };
  add("tiny.mp4", Kinds::Mp4, Fixture("tiny.mp4"), secondBox, S::Damaged);
  add("tiny.mov", Kinds::QuickTime, Fixture("tiny.mov"), secondBox, S::Damaged);
  add("tiny.mkv", Kinds::Matroska, Fixture("tiny.mkv"), pattern("\x1F\x43\xB6\x75"), S::Damaged);
  add("tiny.webm", Kinds::WebM, Fixture("tiny.webm"), pattern("\x1F\x43\xB6\x75"), S::Damaged);
  // A transport stream has no end of its own: it ends where the sync bytes stop.
  add("tiny.ts", Kinds::TransportStream, Fixture("tiny.ts"), at(188 * 10), S::Whole);
  add("tiny.vob", Kinds::ProgramStream, Fixture("tiny.vob"), at(0), S::Damaged);
  // A File Properties Object that states too large a size; a colour-mode section too long.
  const auto statedAsfSize = [](const TBytes& f) { return Find(f, "\xA1\xDC\xAB\x8C\x47\xA9") + 40; };
  add("tiny.wma", Kinds::Asf, Fixture("tiny.wma"), statedAsfSize, S::Truncated);
  add("tiny.wmv", Kinds::Asf, Fixture("tiny.wmv"), statedAsfSize, S::Truncated);
  add("tiny.psd", Kinds::Photoshop, Fixture("tiny.psd"), at(26), S::Truncated);
  add("raw.psd", Kinds::Photoshop, Fixture("raw.psd"), at(26), S::Truncated);
  add("tiny.flv", Kinds::Flash, Fixture("tiny.flv"), [](const TBytes& f) { return 13 + 11 + bytes::U24BE(f, 14); }, S::Damaged, Kinds::Flv);
  add("tiny.opus", Kinds::Ogg, Fixture("tiny.opus"), pattern("OggS", 4), S::Damaged);
  add("tagged.mp3", Kinds::Mp3, Fixture("tagged.mp3"), firstFrame, S::Damaged);
  add("raw.mp3", Kinds::Mp3, Fixture("raw.mp3"), firstFrame, S::Damaged);
  // Damage inside a frame fails its CRC-16; a stream whose STREAMINFO counts no samples ends
  // where its frames stop, and is cut where its last frame is.
  add("tiny.flac", Kinds::Flac, Fixture("tiny.flac"), middle, S::Damaged);
  add("mono24.flac", Kinds::Flac, Fixture("mono24.flac"), middle, S::Damaged);
  add("frames.flac", Kinds::Flac, Fixture("frames.flac"), middle, S::Damaged);
  add("streamed.flac", Kinds::Flac, Fixture("streamed.flac"), [](const TBytes& f) { return Find(f, "\xFF\xF8") + 20; },
      S::Damaged);
  add("tiny.jpg", Kinds::Jpeg, Fixture("tiny.jpg"), at(2), S::Damaged);
  add("tiny.png", Kinds::Png, Fixture("tiny.png"), at(16), S::Damaged);
  add("tiny.gif", Kinds::Gif, Fixture("tiny.gif"), [](const TBytes& f) { return 13 + ((f[10] & 0x80) ? 3 * (2u << (f[10] & 7)) : 0); }, S::Damaged);
  // A broken directory offset points past the file.
  add("tiny.tif", Kinds::Tiff, Fixture("tiny.tif"), at(4), S::Truncated);
  add("tiny.webp", Kinds::Riff, Fixture("tiny.webp"), at(12), S::Damaged, Kinds::WebP);
  add("tiny.docx", Kinds::Zip, Fixture("tiny.docx"), pattern("PK\x01\x02"), S::Damaged, Kinds::Docx);
  add("tiny.odt", Kinds::Zip, Fixture("tiny.odt"), pattern("PK\x01\x02"), S::Damaged, Kinds::Odt);
  // The page count is taken only where the header shows it current.
  add("tiny.sqlite", Kinds::Sqlite, Fixture("tiny.sqlite"), at(24), S::NotChecked);
  add("tiny.tar", Kinds::Tar, Fixture("tiny.tar"), at(148), S::Damaged);
  add("tiny.7z", Kinds::SevenZip, Fixture("tiny.7z"), at(12), S::Damaged);
  add("gzip", Kinds::Gzip, Gzip(Payload()), middle, S::Damaged);
  add("bzip2", Kinds::Bzip2, Bzip2(Payload()), middle, S::Damaged);
  // Longer than the part that is decoded: its end is found by the end-of-stream magic, and only
  // damage in the decoded part is seen.
  TBytes noise(400000);
  std::mt19937 rnd(11);
  for (auto& b : noise) b = static_cast<std::uint8_t>(rnd());
  add("long bzip2", Kinds::Bzip2, Bzip2(noise), at(1000), S::Damaged);
  add("xz", Kinds::Xz, Xz(Payload()), middle, S::Damaged);
  add("zstd", Kinds::Zstd, Zstd(Payload()), middle, S::Damaged);
  // Without its last marker, the first revision's marker is followed by the update.
  add("revised.pdf", Kinds::Pdf, RevisedPdf(), [](const TBytes& f) { return Find(f, "%%EOF", Find(f, "%%EOF") + 1); }, S::Truncated);
  add("ifo", Kinds::DvdIfo, Ifo(), at(0x1C), S::Damaged);
  add("DejaVuSans.ttf", Kinds::TrueType, FileBytes("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"), at(4), S::Damaged);
  add("this program (ELF)", Kinds::Elf, FileBytes("/proc/self/exe"), at(4), S::Damaged);
  return cases;
}

TEST(FindFileEnd, RealFilesWholeTruncatedAndCorrupted)
{
  for (const TEndCase& c : EndCases()) {
    SCOPED_TRACE(c.Name);
    if (!Decodable(c.Kind)) continue;
    ASSERT_GT(c.File.size(), 64u);
    ASSERT_LT(c.CorruptAt + 4, c.File.size());
    // Whole: followed by other bytes, as on a disc.
    TBytes padded = c.File;
    padded.insert(padded.end(), 2048, 0xA5);
    const TkxFileEnd whole = EndOf(c.Kind, padded);
    EXPECT_EQ(whole.State, TkxCheckState::Whole);
    EXPECT_EQ(whole.Size, static_cast<std::int64_t>(c.File.size()));
    EXPECT_EQ(whole.Kind, c.Refined);

    const TBytes cut(c.File.begin(), c.File.begin() + static_cast<std::ptrdiff_t>(c.File.size() * 7 / 10 + 1));
    const TkxFileEnd truncated = EndOf(c.Kind, cut);
    EXPECT_EQ(truncated.State, TkxCheckState::Truncated);
    EXPECT_GE(truncated.Size, static_cast<std::int64_t>(cut.size()));

    TBytes corrupted = padded;
    std::fill_n(corrupted.begin() + static_cast<std::ptrdiff_t>(c.CorruptAt), 4, 0xA5);
    const TkxFileEnd broken = EndOf(c.Kind, corrupted);
    EXPECT_EQ(broken.State, c.Corrupted);
    if (broken.State == TkxCheckState::Damaged) {
      EXPECT_LE(broken.Size, static_cast<std::int64_t>(c.File.size()));
    }
  }
}

// A file followed directly by another of its kind, with no gap to show where it ends: the first
// ends where the second begins.
TEST(FindFileEnd, BackToBackRunsEndWhereTheNextBegins)
{
  const struct {
    const char* First;
    const char* Second;
    TKind Kind;
  } cases[] = {
      {"tiny.vob", "second.vob", Kinds::ProgramStream},  // the clock starts again
      {"tiny.mpg", "tiny.mpg", Kinds::ProgramStream},    // MPEG-1 packs, the same
      {"tiny.vob", "tiny.mpg", Kinds::ProgramStream},    // the pack layout changes
      {"tiny.mpg", "tiny.vob", Kinds::ProgramStream},
      {"tiny.ts", "tiny.ts", Kinds::TransportStream},  // the tables' counters start again
      {"tiny.wma", "tiny.wmv", Kinds::Asf},
      {"tiny.wmv", "tiny.wma", Kinds::Asf},
      {"tiny.psd", "raw.psd", Kinds::Photoshop},  // run-length rows
      {"raw.psd", "tiny.psd", Kinds::Photoshop},  // raw planes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.First) + " + " + c.Second);
    TBytes run = Fixture(c.First);
    const auto size = static_cast<std::int64_t>(run.size());
    const TBytes second = Fixture(c.Second);
    run.insert(run.end(), second.begin(), second.end());
    const TkxFileEnd end = EndOf(c.Kind, run);
    EXPECT_EQ(end.State, TkxCheckState::Whole);
    EXPECT_EQ(end.Size, size);
  }
}

// The newer recognizers know every fixture by its first sector.
TEST(FindFileEnd, FixturesAreRecognisedAsTheirKind)
{
  const struct {
    const char* Name;
    TKind Kind;
  } cases[] = {{"tiny.mp4", Kinds::Mp4}, {"tiny.mov", Kinds::QuickTime}, {"tiny.mkv", Kinds::Matroska},
               {"tiny.webm", Kinds::WebM}, {"tiny.ts", Kinds::TransportStream}, {"raw.mp3", Kinds::Mp3},
               {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", Kinds::TrueType}};
  for (const auto& c : cases) {
    TBytes block = c.Name[0] == '/' ? FileBytes(c.Name) : Fixture(c.Name);
    block.resize(2048, 0);
    EXPECT_EQ(RecognizeNewerKinds(block), c.Kind) << c.Name;
  }
}

// EFI programs that Debian ships are PE files whose last section ends the file.
TEST(FindFileEnd, RealPeProgramsEndWithTheirLastSection)
{
  const std::string folder = "/usr/lib/systemd/boot/efi";
  if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << folder << " is missing: install systemd-boot-efi";
  int seen = 0;
  for (const auto& f : std::filesystem::directory_iterator(folder)) {
    const TBytes file = FileBytes(f.path().string());
    if (file.size() < 2 || file[0] != 'M' || file[1] != 'Z') continue;  // the ELF stub beside them
    TBytes padded = file;
    padded.insert(padded.end(), 4096, 0xA5);
    const TkxFileEnd end = EndOf(Kinds::Executable, padded);
    EXPECT_EQ(end.State, TkxCheckState::Whole) << f.path();
    EXPECT_EQ(end.Size, static_cast<std::int64_t>(file.size())) << f.path();
    ++seen;
  }
  EXPECT_GT(seen, 0);
}

// Value as N little-endian bytes after b's.
void Le(TBytes& b, std::uint64_t Value, int N)
{
  for (int i = 0; i < N; ++i) b.push_back(static_cast<std::uint8_t>(Value >> (8 * i)));
}
TBytes operator+(TBytes a, const TBytes& b)
{
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A zstd frame of one raw block whose header asks for a window of 2^WindowLog bytes and states
// no content size, as zstd --long writes a stream read from a pipe; it names the dictionary it
// was made with when Dictionary is not 0.
TBytes ZstdFrameWithWindow(int WindowLog, std::uint8_t Dictionary = 0)
{
  TBytes f = {0x28, 0xB5, 0x2F, 0xFD, static_cast<std::uint8_t>(Dictionary != 0 ? 1 : 0),
              static_cast<std::uint8_t>((WindowLog - 10) << 3)};
  if (Dictionary != 0) f.push_back(Dictionary);
  Le(f, 100 << 3 | 1, 3);  // the last block, raw, 100 bytes
  f.resize(f.size() + 100, 'z');
  return f;
}

// An xz stream whose block header states a dictionary of 4 GiB (LZMA2 property 40), its CRC
// made right, so that only the dictionary's size is wrong with it.
TBytes XzWithHugeDictionary()
{
  TBytes x = Xz(Payload());
  const std::size_t header = 12, length = (x[header] + 1u) * 4u;
  x[Find(x, "\x21\x01", header) + 2] = 40;
  TBytes crc;
  Le(crc, crc32(0, x.data() + header, static_cast<uInt>(length - 4)), 4);
  std::copy(crc.begin(), crc.end(), x.begin() + static_cast<std::ptrdiff_t>(header + length - 4));
  return x;
}

// A TIFF directory of 4,096 SubIFD entries, each listing the same 65,536 offsets.
TBytes TiffOfSubIfdLists()
{
  constexpr std::uint32_t entries = 4096, values = 8 + 2 + 12 * entries + 4;
  TBytes t = Bytes("II*\0\x08\0\0\0"sv);
  Le(t, entries, 2);
  for (std::uint32_t i = 0; i < entries; ++i) {
    Le(t, 330 | 4 << 16, 4);
    Le(t, 65536, 4);
    Le(t, values, 4);
  }
  Le(t, 0, 4);
  for (std::uint32_t i = 0; i < 65536; ++i) Le(t, 16 + 4 * i, 4);
  return t;
}

// A chain of 64 TIFF directories, each with strip tables of 65,536 offsets and counts.
TBytes TiffOfHugeStripTables()
{
  constexpr std::uint32_t dirs = 8 + 4 * 65536, dir = 2 + 2 * 12 + 4;
  TBytes t = Bytes("II*\0"sv);
  Le(t, dirs, 4);
  for (int i = 0; i < 65536; ++i) Le(t, 100, 4);
  for (std::uint32_t d = 0; d < 64; ++d) {
    Le(t, 2, 2);
    for (const std::uint32_t tag : {273u, 279u}) {
      Le(t, tag | 4 << 16, 4);
      Le(t, 65536, 4);
      Le(t, 8, 4);
    }
    Le(t, d + 1 < 64 ? dirs + (d + 1) * dir : 0, 4);
  }
  return t;
}

// An OLE2 header claiming a million sectors of allocation table, listed by a chain of table
// sectors that points back to itself.
TBytes OleOfALoopingTable()
{
  TBytes o = Bytes("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv);
  o.resize(30);
  Le(o, 9, 2);
  o.resize(44);
  Le(o, 1 << 20, 4);
  o.resize(1024);
  return o;
}

// Ogg pages, each beginning a stream of its own and none ending one.
TBytes OggOfManyStreams(int Streams)
{
  TBytes o;
  for (int i = 0; i < Streams; ++i) {
    o = o + Bytes("OggS\0\x02\0\0\0\0\0\0\0\0"sv);
    Le(o, static_cast<std::uint32_t>(i), 4);
    Le(o, 0, 8);  // sequence and checksum
    Le(o, 1, 2);  // one segment, of nothing
  }
  return o;
}

struct THostileCase {
  std::string Name;
  TKind Kind;
  TBytes File;
  TkxCheckState State;
  std::int64_t MaxWork;    // TkxByteSource::Work
  std::int64_t MaxMemory;  // bytes held at once, beyond those held before
};

// A decoder reads the stream and writes at most its ratio and grace; its views and the last
// chunk it wrote come on top.
std::int64_t DecoderWork(const TBytes& File)
{
  return (OutputRatio + 3) * static_cast<std::int64_t>(File.size()) + OutputGrace + (1 << 18);
}

// Bytes made to cost the most time or memory: each is given up or walked within a bound that
// does not depend on what its headers claim. A limit of ours makes a file not checked, never
// damaged.
TEST(FindFileEnd, HostileStreamsAndStructuresStayWithinTheirBounds)
{
  constexpr std::int64_t MiB = 1 << 20;
  const TBytes zeros(8 << 20, 0);
  std::vector<THostileCase> cases;
  const auto add = [&](std::string name, TKind kind, TBytes file, TkxCheckState state, std::int64_t work, std::int64_t memory) {
    cases.push_back({std::move(name), kind, std::move(file), state, work, memory});
  };
  using S = TkxCheckState;
  TBytes zstdLong = ZstdFrameWithWindow(30), zstdWide = ZstdFrameWithWindow(27);
  add("zstd --long=30", Kinds::Zstd, zstdLong, S::NotChecked, 4096, MiB);
  add("zstd with a dictionary", Kinds::Zstd, ZstdFrameWithWindow(20, 7), S::NotChecked, 4096, MiB);
  // The widest window zstd's strongest levels write is within the limit.
  add("zstd window of 2^27", Kinds::Zstd, zstdWide, S::Whole, DecoderWork(zstdWide), static_cast<std::int64_t>(DecoderMemory));
  TBytes xzHuge = XzWithHugeDictionary();
  add("xz dictionary of 4 GiB", Kinds::Xz, xzHuge, S::NotChecked, static_cast<std::int64_t>(xzHuge.size()) + 4096, MiB);
  TBytes gzipBomb = Gzip(zeros, 9), bzip2Bombs, xzBomb = Xz(zeros), zstdBomb = Zstd(zeros);
  for (const TBytes bzip2 = Bzip2(zeros); bzip2Bombs.size() < 16 * bzip2.size();) bzip2Bombs = bzip2Bombs + bzip2;
  add("gzip of zeros", Kinds::Gzip, gzipBomb, S::NotChecked, DecoderWork(gzipBomb), MiB);
  add("16 bzip2 streams of zeros", Kinds::Bzip2, bzip2Bombs, S::NotChecked, DecoderWork(bzip2Bombs), 8 * MiB);
  add("xz of zeros", Kinds::Xz, xzBomb, S::NotChecked, DecoderWork(xzBomb), 16 * MiB);
  add("zstd of zeros", Kinds::Zstd, zstdBomb, S::NotChecked, DecoderWork(zstdBomb), 16 * MiB);
  // The first directory's lists are read as far as the directories a walk visits.
  add("TIFF of 4,096 SubIFD lists", Kinds::Tiff, TiffOfSubIfdLists() + TBytes(4096, 0), S::Whole, 16 * MiB, 4 * MiB);
  add("TIFF of 64 strip tables of 65,536", Kinds::Tiff, TiffOfHugeStripTables(), S::NotChecked, 16 * MiB, 4 * MiB);
  add("OLE2 table chain looping", Kinds::Office, OleOfALoopingTable(), S::Damaged, 16 * MiB, 16 * MiB);
  add("Ogg of 1,000 streams at once", Kinds::Ogg, OggOfManyStreams(1000), S::NotChecked, MiB, MiB);
  for (const THostileCase& c : cases) {
    SCOPED_TRACE(c.Name);
    if (!Decodable(c.Kind)) continue;
    TkxMemorySource source(c.File);
    const std::int64_t before = HeldBytes.load();
    PeakBytes = before;
    const TkxFileEnd end = FindFileEnd(c.Kind, source);
    EXPECT_EQ(end.State, c.State);
    EXPECT_LE(source.Work(), c.MaxWork);
    EXPECT_LE(PeakBytes.load() - before, c.MaxMemory);
  }
}

// A source that asks its job to stop during its Nth read, as Ctrl+C does.
class TStoppingSource final : public TkxByteSource {
 public:
  TStoppingSource(const TBytes& Bytes, int StopAt) : Memory(Bytes), Left(StopAt) { Control = &Job; }
  std::int64_t Size() const override { return Memory.Size(); }

 private:
  std::span<const std::uint8_t> Serve(std::int64_t Pos, std::size_t MaxBytes) override
  {
    if (--Left == 0) Job.RequestStop();
    return Memory.View(Pos, MaxBytes);
  }
  TkxJobControl Job;
  TkxMemorySource Memory;
  int Left;
};

// Long files whose finders read every byte: a stop or the source's bound gives each up (not
// checked) within a few of its reads; without them, each is whole.
TEST(FindFileEnd, AStopOrABoundGivesUpInsideALongFile)
{
  const TBytes text = Payload(20000);
  TBytes pdf = Bytes("%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n") + text + Bytes("%%EOF\n");
  std::replace(pdf.begin() + 20, pdf.end() - 6, std::uint8_t{'%'}, std::uint8_t{'#'});
  const struct {
    const char* Name;
    TKind Kind;
    TBytes File;
  } cases[] = {{"gzip", Kinds::Gzip, Gzip(text)}, {"bzip2", Kinds::Bzip2, Bzip2(text)}, {"xz", Kinds::Xz, Xz(text, 0)},
               {"zstd", Kinds::Zstd, Zstd(text)}, {"pdf", Kinds::Pdf, pdf}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    if (!Decodable(c.Kind)) continue;
    ASSERT_GT(c.File.size(), 4u << 16);
    TBytes padded = c.File + TBytes(2048, 0xA5);
    EXPECT_EQ(EndOf(c.Kind, padded).State, TkxCheckState::Whole);

    TStoppingSource stopped(padded, 3);
    EXPECT_EQ(FindFileEnd(c.Kind, stopped).State, TkxCheckState::NotChecked);
    EXPECT_LE(stopped.Work(), 1 << 20);

    TkxMemorySource bounded(padded);
    bounded.Bound.Base = 1 << 18;
    EXPECT_EQ(FindFileEnd(c.Kind, bounded).State, TkxCheckState::NotChecked);
    EXPECT_LE(bounded.Work(), 1 << 20);
  }
}

// A build may leave out the bzip2, xz and zstd decoders: their streams are then not checked,
// whatever their bytes, and the others are checked as before.
TEST(FindFileEnd, AStreamWhoseDecoderTheBuildLacksIsNotChecked)
{
  const TBytes text = Payload();
  const struct {
    TKind Kind;
    TkxDecoders Decoder;
    TBytes File;
  } cases[] = {{Kinds::Bzip2, Decoders::Bzip2, Bzip2(text)}, {Kinds::Xz, Decoders::Xz, Xz(text)},
               {Kinds::Zstd, Decoders::Zstd, Zstd(text)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(DecoderNames(c.Decoder));
    EXPECT_EQ(DecoderNeeded(c.Kind), c.Decoder);
    for (const TBytes& file : {c.File + TBytes(2048, 0xA5), TBytes(c.File.begin(), c.File.end() - 40), TBytes(4096, 0x33)}) {
      TkxMemorySource without(file);
      EXPECT_EQ(FindFileEnd(c.Kind, without, -1, Decoders::All & ~c.Decoder).State, TkxCheckState::NotChecked);
    }
    TkxMemorySource with(c.File);
    if (Decodable(c.Kind)) {
      EXPECT_EQ(FindFileEnd(c.Kind, with, -1, c.Decoder).State, TkxCheckState::Whole);
    }
  }
  const TBytes gzip = Gzip(text);
  TkxMemorySource none(gzip);
  EXPECT_EQ(FindFileEnd(Kinds::Gzip, none, -1, 0).State, TkxCheckState::Whole);
  EXPECT_EQ(DecoderNames(Decoders::All), "zlib, bzip2, xz, zstd");
  EXPECT_EQ(DecoderNames(Decoders::Xz), "zlib, xz");
  EXPECT_EQ(DecoderNames(0), "zlib");
}

// A medium read in runs of sectors gives the same bytes as memory, also across runs and at the
// medium's end, and reads a run once for many small reads inside it.
TEST(TkxDiskSource, ReadsLikeMemoryAcrossRuns)
{
  TBytes bytes(300 * 2048);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 2048);
  test::TMemoryDisk disk(bytes);
  TkxDiskSource source(disk, 5 * 2048 + 100, static_cast<std::int64_t>(bytes.size()) - (5 * 2048 + 100));
  TkxMemorySource memory(std::span<const std::uint8_t>(bytes).subspan(5 * 2048 + 100));
  std::uint8_t a[5000], b[5000];
  for (const std::int64_t pos : {0L, 17L, 65000L, 131000L, 400000L, memory.Size() - 5000}) {
    ASSERT_TRUE(source.Read(pos, a, sizeof a)) << pos;
    ASSERT_TRUE(memory.Read(pos, b, sizeof b)) << pos;
    EXPECT_TRUE(std::equal(a, a + sizeof a, b)) << pos;
  }
  EXPECT_FALSE(source.Read(memory.Size() - 10, a, 11));
  EXPECT_TRUE(source.View(memory.Size(), 1).empty());
  const std::int64_t before = source.SectorsRead;
  for (int i = 0; i < 100; ++i) source.Read(i * 16, a, 16);
  EXPECT_LE(source.SectorsRead - before, 32);
}

}  // namespace
}  // namespace kx
