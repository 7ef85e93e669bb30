// SPDX-License-Identifier: GPL-3.0-or-later
// End finders of archives, compressed streams and documents: ZIP's records, tar's headers,
// the stream ends that zlib, libbz2, liblzma and libzstd find by decoding, and PDF's last
// end-of-file marker.
#include "recognition/kxEndFinders.h"

#include <zlib.h>
#if KX_HAVE_BZIP2
#include <bzlib.h>
#endif
#if KX_HAVE_LZMA
#include <lzma.h>
#endif
#if KX_HAVE_ZSTD
// For ZSTD_customMem: the decoder's memory is counted as the other decoders' is.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>
#endif

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace kx::ends {

using namespace kx::bytes;
using namespace std::string_view_literals;

namespace {

// What the names of a ZIP archive's members say it holds.
struct TZipContent {
  bool First = true;
  TKind Kind = 0;
  bool OfficeXml = false;  // "[Content_Types].xml": a document of Office Open XML
  bool Manifest = false;   // "META-INF/MANIFEST.MF": a Java archive
  bool Android = false;    // "AndroidManifest.xml"

  void Member(std::string_view Name, TkxByteSource& Src, std::int64_t Data, std::uint32_t Method)
  {
    if (First && Name == "mimetype" && Method == 0) {
      // OpenDocument and EPUB store their media type first, uncompressed.
      std::uint8_t type[48] = {};
      Src.Read(Data, type, sizeof type);
      const std::string_view t(reinterpret_cast<const char*>(type), sizeof type);
      if (t.starts_with("application/epub+zip")) Kind = Kinds::Epub;
      if (t.starts_with("application/vnd.oasis.opendocument.text")) Kind = Kinds::Odt;
      if (t.starts_with("application/vnd.oasis.opendocument.spreadsheet")) Kind = Kinds::Ods;
      if (t.starts_with("application/vnd.oasis.opendocument.presentation")) Kind = Kinds::Odp;
    }
    First = false;
    OfficeXml = OfficeXml || Name == "[Content_Types].xml";
    Manifest = Manifest || Name == "META-INF/MANIFEST.MF";
    Android = Android || Name == "AndroidManifest.xml";
    if (OfficeXml && Kind == 0) {
      if (Name.starts_with("word/")) Kind = Kinds::Docx;
      if (Name.starts_with("xl/")) Kind = Kinds::Xlsx;
      if (Name.starts_with("ppt/")) Kind = Kinds::Pptx;
    }
  }
  TKind Result() const
  {
    if (Kind != 0) return Kind;
    if (Android) return Kinds::Apk;
    return Manifest ? Kinds::Jar : TKind{0};
  }
};

// Where a member's data ends when its sizes follow it in a data descriptor: at the first
// descriptor whose compressed size is the distance from the data's start. -1 when none is.
std::int64_t DescriptorEnd(TkxByteSource& Src, std::int64_t Data)
{
  for (std::int64_t pos = Data;;) {
    const auto v = Src.View(pos, 1 << 16);
    if (v.size() < 4) return -1;
    for (std::size_t i = 0; i + 4 <= v.size(); ++i) {
      if (v[i] != 'P' || !Has(v, i, "PK\x07\x08"sv)) continue;
      const std::int64_t at = pos + static_cast<std::int64_t>(i);
      const auto d = ReadArray<24>(Src, at);
      if (d && U32LE(*d, 8) == static_cast<std::uint32_t>(at - Data)) return at + 16;
      if (d && U64LE(*d, 8) == static_cast<std::uint64_t>(at - Data)) return at + 24;
    }
    pos += static_cast<std::int64_t>(v.size()) - 3;
  }
}

// A local header that a ZIP writer could have written: a version of the format, a known
// compression method, a name of a plausible length. Any other is no member (a false start's
// bytes), told before its name is read.
bool PlausibleLocalHeader(TBytes h)
{
  const std::uint32_t method = U16LE(h, 8);
  const bool known = method <= 20 || method == 93 || method == 95 || method == 96 || method == 97 || method == 98 ||
                     method == 99;
  return (U16LE(h, 4) & 0xFF) <= 63 && known && U16LE(h, 26) > 0 && U16LE(h, 26) <= 4096;
}

// The length of the local header and data of a member at Pos; -1 when it cannot be told.
std::int64_t LocalMemberLength(TkxByteSource& Src, std::int64_t Pos, TBytes h, TZipContent& Content)
{
  if (!PlausibleLocalHeader(h)) return -1;
  const std::uint32_t nameLength = U16LE(h, 26), extraLength = U16LE(h, 28);
  const std::int64_t data = Pos + 30 + nameLength + extraLength;
  std::string name(nameLength, '\0');
  if (!Src.Read(Pos + 30, reinterpret_cast<std::uint8_t*>(name.data()), name.size())) return -1;
  Content.Member(name, Src, data, U16LE(h, 8));
  std::uint64_t size = U32LE(h, 18);
  if (size == 0xFFFFFFFF) {
    // ZIP64: the sizes are in the extra field of tag 1, uncompressed first.
    std::vector<std::uint8_t> extra(extraLength);
    if (!Src.Read(Pos + 30 + nameLength, extra.data(), extra.size())) return -1;
    for (std::size_t e = 0; e + 4 <= extra.size(); e += 4 + U16LE(extra, e + 2))
      if (U16LE(extra, e) == 1) size = U64LE(extra, e + 12);
  }
  if ((U16LE(h, 6) & 8) != 0 && size == 0) {
    const std::int64_t end = DescriptorEnd(Src, data);
    return end < 0 ? -1 : end - Pos;
  }
  return data + static_cast<std::int64_t>(std::min<std::uint64_t>(size, 1ull << 48)) - Pos;
}

}  // namespace

// A ZIP archive: local members, the central directory and its end record, whose comment
// length ends the file. The members' names refine the kind (".docx", ".odt", ".jar", ...).
TkxFileEnd ZipEnd(TkxByteSource& Src)
{
  TZipContent content;
  for (std::int64_t pos = 0;;) {
    const auto h = ReadArray<30>(Src, pos);
    if (!h) return Truncated(std::max(pos + 22, Src.Size()), content.Result());
    const std::uint32_t sig = U32LE(*h, 0);
    std::int64_t length = -1;
    if (sig == 0x04034B50) length = LocalMemberLength(Src, pos, *h, content);
    if (sig == 0x08074B50) length = 4;  // the marker of a split archive's first part
    if (sig == 0x05054B50) length = 6 + std::int64_t{U16LE(*h, 4)};
    if (sig == 0x06064B50) length = 12 + static_cast<std::int64_t>(std::min<std::uint64_t>(U64LE(*h, 4), 1ull << 32));
    if (sig == 0x07064B50) length = 20;
    if (sig == 0x02014B50) {
      const auto c = ReadArray<46>(Src, pos);
      if (!c) return Truncated(pos + 46, content.Result());
      length = 46 + std::int64_t{U16LE(*c, 28)} + U16LE(*c, 30) + U16LE(*c, 32);
    }
    if (sig == 0x06054B50) return EndAt(Src, pos + 22 + U16LE(*h, 20), content.Result());
    if (length < 0) return pos >= Src.Size() ? Truncated(pos, content.Result()) : Damaged(pos, content.Result());
    pos += length;
    if (pos > Src.Size()) return Truncated(pos, content.Result());
  }
}

namespace {

// A tar header's checksum: its bytes summed with the checksum field taken as blanks.
bool TarChecksumHolds(TBytes h)
{
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 512; ++i) sum += (i >= 148 && i < 156) ? ' ' : h[i];
  std::uint32_t stored = 0;
  for (std::size_t i = 148; i < 156 && h[i] >= '0' && h[i] <= '7'; ++i) stored = stored * 8 + (h[i] - '0');
  return sum == stored;
}

// The member size of a tar header: octal, or base-256 when the field's first bit is set.
std::int64_t TarMemberSize(TBytes h)
{
  std::uint64_t size = 0;
  if ((h[124] & 0x80) != 0) {
    for (std::size_t i = 125; i < 136; ++i) size = size << 8 | h[i];
  } else {
    for (std::size_t i = 124; i < 136 && h[i] >= '0' && h[i] <= '7'; ++i) size = size * 8 + (h[i] - '0');
  }
  return static_cast<std::int64_t>(std::min<std::uint64_t>(size, 1ull << 48));
}

bool AllZero(TBytes b) { return std::all_of(b.begin(), b.end(), [](std::uint8_t c) { return c == 0; }); }

}  // namespace

// A tar archive: headers and member data in 512-byte blocks, two zero blocks, and the zero
// blocks that fill the last record of 10240 bytes.
TkxFileEnd TarEnd(TkxByteSource& Src)
{
  constexpr std::int64_t Record = 10240;
  std::int64_t pos = 0;
  for (;;) {
    const auto h = ReadArray<512>(Src, pos);
    if (!h) return Truncated(pos + 1024);
    if (AllZero(*h)) break;
    if (!TarChecksumHolds(*h)) return Damaged(pos);
    pos += 512 + (TarMemberSize(*h) + 511) / 512 * 512;
    if (pos > Src.Size()) return Truncated(pos);
  }
  const auto second = ReadArray<512>(Src, pos + 512);
  if (!second) return Truncated(pos + 1024);
  if (!AllZero(*second)) return Damaged(pos);
  pos += 1024;
  while (pos % Record != 0) {
    const auto z = ReadArray<512>(Src, pos);
    // Zeros cut off by the end of the bytes at hand: the record's padding is missing.
    if (!z) return Truncated((pos + Record - 1) / Record * Record);
    if (!AllZero(*z)) break;
    pos += 512;
  }
  return Whole(pos);
}

namespace {

// Where a decoder writes what it decodes, which nothing reads: left as it comes, since a check
// decodes thousands of small streams, and clearing the buffer took longer than decoding many.
struct TDecoded {
  explicit TDecoded(std::size_t Size_) : Size(Size_), Bytes(std::make_unique_for_overwrite<std::uint8_t[]>(Size_)) {}
  std::uint8_t* data() const { return Bytes.get(); }
  std::size_t size() const { return Size; }
  std::size_t Size;
  std::unique_ptr<std::uint8_t[]> Bytes;
};

// The memory of one decoder, refused past DecoderMemory: a header may ask for any dictionary
// or window, and a stream that needs more than we give is not checked, never damaged.
class TDecoderHeap {
 public:
  void* Allocate(std::size_t Items, std::size_t Size)
  {
    if (Size != 0 && Items > DecoderMemory / Size) return nullptr;
    const std::size_t n = Items * Size;
    if (n > DecoderMemory - Held) return nullptr;
    // The size is kept before the block, where a release finds it.
    auto* block = static_cast<std::max_align_t*>(::operator new(n + sizeof(std::max_align_t), std::nothrow));
    if (block == nullptr) return nullptr;
    *reinterpret_cast<std::size_t*>(block) = n;
    Held += n;
    return block + 1;
  }
  void Release(void* P)
  {
    if (P == nullptr) return;
    auto* block = static_cast<std::max_align_t*>(P) - 1;
    Held -= *reinterpret_cast<std::size_t*>(block);
    ::operator delete(block);
  }

  // The hooks of each library.
  static voidpf ZAlloc(voidpf Heap, uInt Items, uInt Size) { return Of(Heap).Allocate(Items, Size); }
  static void ZFree(voidpf Heap, voidpf P) { Of(Heap).Release(P); }
#if KX_HAVE_BZIP2
  static void* BzAlloc(void* Heap, int Items, int Size)
  {
    return Items < 0 || Size < 0 ? nullptr : Of(Heap).Allocate(static_cast<std::size_t>(Items), static_cast<std::size_t>(Size));
  }
  static void BzFree(void* Heap, void* P) { Of(Heap).Release(P); }
#endif
  static void* LzmaAlloc(void* Heap, std::size_t Items, std::size_t Size) { return Of(Heap).Allocate(Items, Size); }
  static void LzmaFree(void* Heap, void* P) { Of(Heap).Release(P); }
  static void* ZstdAlloc(void* Heap, std::size_t Size) { return Of(Heap).Allocate(1, Size); }
  static void ZstdFree(void* Heap, void* P) { Of(Heap).Release(P); }

 private:
  static TDecoderHeap& Of(void* Heap) { return *static_cast<TDecoderHeap*>(Heap); }
  std::size_t Held = 0;
};

// What a decoder wrote against what it read: its output counts as work, and a stream that
// writes more than OutputRatio times its input (and the grace) is not decoded further. Zeros
// compress a thousandfold and more, and bzip2's runs far beyond: a stream of a gigabyte of them
// in a few hundred bytes would take a minute to decode, and a disc may hold thousands.
class TOutputWatch {
 public:
  explicit TOutputWatch(TkxByteSource& Src_) : Src(Src_) {}
  // Whether decoding goes on after In bytes read and Out written in all.
  bool GoOn(std::int64_t In, std::int64_t Out)
  {
    Src.Spend(Out - Counted);
    Counted = Out;
    return Out - OutputGrace <= In * OutputRatio && !Src.GivenUp();
  }

 private:
  TkxByteSource& Src;
  std::int64_t Counted = 0;
};

}  // namespace

// A stream that a limit of ours ended (the decoder's memory, the output's ratio) or that the
// job stopped is not checked; only the stream's own bytes can make it damaged.
TkxFileEnd InflateEnd(TkxByteSource& Src, std::int64_t From, bool Gzip)
{
  TDecoderHeap heap;
  z_stream z{};
  z.zalloc = TDecoderHeap::ZAlloc;
  z.zfree = TDecoderHeap::ZFree;
  z.opaque = &heap;
  if (inflateInit2(&z, Gzip ? 16 + MAX_WBITS : MAX_WBITS) != Z_OK) return Unknown();
  const std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, inflateEnd);
  const TDecoded out(1 << 16);
  TOutputWatch watch(Src);
  std::int64_t written = 0;
  std::int64_t pos = From;
  for (;;) {
    const auto v = Src.View(pos, 1 << 16);
    if (v.empty()) return Truncated(Src.Size());
    z.next_in = const_cast<Bytef*>(v.data());
    z.avail_in = static_cast<uInt>(v.size());
    int status = Z_OK;
    while (z.avail_in > 0 && status == Z_OK) {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      status = inflate(&z, Z_NO_FLUSH);
      written += static_cast<std::int64_t>(out.size() - z.avail_out);
      if (!watch.GoOn(pos - From + static_cast<std::int64_t>(v.size() - z.avail_in), written)) return Unknown();
    }
    pos += static_cast<std::int64_t>(v.size() - z.avail_in);
    if (status == Z_STREAM_END) {
      // gzip allows members one after the other.
      const auto next = ReadArray<3>(Src, pos);
      if (!Gzip || !next || !Has(*next, 0, "\x1F\x8B\x08"sv)) return Whole(pos);
      inflateReset(&z);
    } else if (status == Z_MEM_ERROR) {
      return Unknown();
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      return Damaged(pos);
    }
  }
}

TkxFileEnd GzipEnd(TkxByteSource& Src) { return InflateEnd(Src, 0, true); }

#if KX_HAVE_BZIP2
namespace {

// Where the bzip2 stream from From ends: after the 48-bit end-of-stream magic 0x177245385090,
// its 32-bit CRC and the padding to a byte. The magic stands at any bit position, so each byte
// is tried at its eight shifts. -1 when the bytes run out first.
std::int64_t Bzip2MagicEnd(TkxByteSource& Src, std::int64_t From)
{
  constexpr std::uint64_t Magic = 0x177245385090, Mask = 0xFFFFFFFFFFFF;
  std::uint64_t bits = 0;
  for (std::int64_t pos = From;;) {
    const auto v = Src.View(pos, TkxByteSource::MaxViewBytes);
    if (v.empty()) return -1;
    for (std::size_t i = 0; i < v.size(); ++i) {
      bits = bits << 8 | v[i];
      const std::int64_t seen = pos + static_cast<std::int64_t>(i) + 1 - From;  // bytes in bits
      for (unsigned shift = 0; shift < 8; ++shift) {
        if (seen * 8 < 48 + shift || ((bits >> shift) & Mask) != Magic) continue;
        const std::int64_t endBits = (pos + static_cast<std::int64_t>(i) + 1) * 8 - shift + 32;
        return (endBits + 7) / 8;
      }
    }
    pos += static_cast<std::int64_t>(v.size());
  }
}

}  // namespace

// libbz2 decodes the start of each stream, which tells a real stream from a false start by its
// first block; the end is then found by its magic, since decoding a whole stream takes far
// longer than reading it.
TkxFileEnd Bzip2End(TkxByteSource& Src)
{
  constexpr std::int64_t Decoded = 1 << 18;  // input bytes decoded at the start of a stream
  const TDecoded out(1 << 16);
  TDecoderHeap heap;
  TOutputWatch watch(Src);
  std::int64_t written = 0;
  std::int64_t pos = 0;
  for (;;) {  // one pass per stream: parallel compressors write several
    const std::int64_t start = pos;
    bz_stream s{};
    s.bzalloc = TDecoderHeap::BzAlloc;
    s.bzfree = TDecoderHeap::BzFree;
    s.opaque = &heap;
    if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) return Unknown();
    const std::unique_ptr<bz_stream, int (*)(bz_stream*)> guard(&s, BZ2_bzDecompressEnd);
    int status = BZ_OK;
    while (status == BZ_OK && pos - start < Decoded) {
      const auto v = Src.View(pos, 1 << 16);
      if (v.empty()) return Truncated(Src.Size());
      s.next_in = const_cast<char*>(reinterpret_cast<const char*>(v.data()));
      s.avail_in = static_cast<unsigned>(v.size());
      while (s.avail_in > 0 && status == BZ_OK) {
        s.next_out = reinterpret_cast<char*>(out.data());
        s.avail_out = static_cast<unsigned>(out.size());
        status = BZ2_bzDecompress(&s);
        written += static_cast<std::int64_t>(out.size() - s.avail_out);
        if (!watch.GoOn(pos + static_cast<std::int64_t>(v.size() - s.avail_in), written)) return Unknown();
      }
      pos += static_cast<std::int64_t>(v.size() - s.avail_in);
    }
    if (status == BZ_MEM_ERROR) return Unknown();
    if (status != BZ_OK && status != BZ_STREAM_END) return Damaged(pos);
    if (status == BZ_OK) {
      pos = Bzip2MagicEnd(Src, start);
      if (pos < 0) return Truncated(Src.Size());
    }
    const auto next = ReadArray<4>(Src, pos);
    if (!next || !Has(*next, 0, "BZh"sv) || (*next)[3] < '1' || (*next)[3] > '9') return Whole(pos);
  }
}
#else
// FindFileEnd does not ask a build without the decoder.
TkxFileEnd Bzip2End(TkxByteSource&) { return Unknown(); }
#endif

#if KX_HAVE_LZMA
TkxFileEnd XzEnd(TkxByteSource& Src)
{
  TDecoderHeap heap;
  const lzma_allocator allocator{TDecoderHeap::LzmaAlloc, TDecoderHeap::LzmaFree, &heap};
  lzma_stream s = LZMA_STREAM_INIT;
  s.allocator = &allocator;
  if (lzma_stream_decoder(&s, DecoderMemory, 0) != LZMA_OK) return Unknown();
  const std::unique_ptr<lzma_stream, void (*)(lzma_stream*)> guard(&s, lzma_end);
  const TDecoded out(1 << 16);
  TOutputWatch watch(Src);
  for (std::int64_t pos = 0;;) {
    const auto v = Src.View(pos, 1 << 16);
    if (v.empty()) return Truncated(Src.Size());
    s.next_in = v.data();
    s.avail_in = v.size();
    lzma_ret status = LZMA_OK;
    while (s.avail_in > 0 && status == LZMA_OK) {
      s.next_out = out.data();
      s.avail_out = out.size();
      status = lzma_code(&s, LZMA_RUN);
      if (!watch.GoOn(static_cast<std::int64_t>(s.total_in), static_cast<std::int64_t>(s.total_out))) return Unknown();
    }
    pos += static_cast<std::int64_t>(v.size() - s.avail_in);
    if (status == LZMA_STREAM_END) return Whole(pos);
    if (status == LZMA_MEM_ERROR || status == LZMA_MEMLIMIT_ERROR) return Unknown();
    if (status != LZMA_OK) return Damaged(pos);
  }
}
#else
TkxFileEnd XzEnd(TkxByteSource&) { return Unknown(); }
#endif

#if KX_HAVE_ZSTD
// The window is held to 2^27 bytes (libzstd's own default, said here so that it stays): a frame
// that asks for more (zstd --long=30 writes 2^30) is not checked.
TkxFileEnd ZstdEnd(TkxByteSource& Src)
{
  TDecoderHeap heap;
  const std::unique_ptr<ZSTD_DStream, std::size_t (*)(ZSTD_DStream*)> d(
      ZSTD_createDStream_advanced({TDecoderHeap::ZstdAlloc, TDecoderHeap::ZstdFree, &heap}), ZSTD_freeDStream);
  if (!d || ZSTD_isError(ZSTD_DCtx_setParameter(d.get(), ZSTD_d_windowLogMax, 27))) return Unknown();
  const TDecoded out(ZSTD_DStreamOutSize());
  TOutputWatch watch(Src);
  std::int64_t written = 0;
  for (std::int64_t pos = 0;;) {
    const auto v = Src.View(pos, 1 << 16);
    if (v.empty()) return Truncated(Src.Size());
    ZSTD_inBuffer in{v.data(), v.size(), 0};
    std::size_t status = 1;
    while (in.pos < in.size && status != 0) {
      ZSTD_outBuffer o{out.data(), out.size(), 0};
      status = ZSTD_decompressStream(d.get(), &o, &in);
      if (ZSTD_isError(status)) {
        const ZSTD_ErrorCode code = ZSTD_getErrorCode(status);
        // A window past ours, memory refused, a dictionary the frame names and we lack.
        if (code == ZSTD_error_frameParameter_windowTooLarge || code == ZSTD_error_memory_allocation ||
            code == ZSTD_error_dictionary_wrong)
          return Unknown();
        return Damaged(pos + static_cast<std::int64_t>(in.pos));
      }
      written += static_cast<std::int64_t>(o.pos);
      if (!watch.GoOn(pos + static_cast<std::int64_t>(in.pos), written)) return Unknown();
    }
    pos += static_cast<std::int64_t>(in.pos);
    if (status == 0) {
      const auto next = ReadArray<4>(Src, pos);
      if (!next || U32LE(*next, 0) != 0xFD2FB528) return Whole(pos);
    }
  }
}
#else
TkxFileEnd ZstdEnd(TkxByteSource&) { return Unknown(); }
#endif

namespace {

// Whether what follows an end-of-file marker at Pos goes on with the document: an incremental
// update (objects, a cross-reference table or stream) after the blanks and line ends.
bool PdfGoesOn(TkxByteSource& Src, std::int64_t Pos)
{
  const auto v = Src.View(Pos, 64);
  std::size_t i = 0;
  while (i < v.size() && (v[i] == ' ' || v[i] == '\r' || v[i] == '\n' || v[i] == '\t')) ++i;
  if (i >= v.size()) return false;
  const std::string_view rest(reinterpret_cast<const char*>(v.data() + i), v.size() - i);
  // A comment may come between revisions; "%PDF" begins the next document.
  return (rest[0] >= '1' && rest[0] <= '9') || rest.starts_with("xref") || (rest[0] == '%' && !rest.starts_with("%PDF"));
}

}  // namespace

// A PDF ends after the "%%EOF" (and its line end) of its last revision: a marker followed by
// an incremental update is not the last.
TkxFileEnd PdfEnd(TkxByteSource& Src, std::int64_t ScanSize)
{
  constexpr std::string_view Marker = "%%EOF"sv;
  constexpr std::int64_t Sector = 2048;
  // A document's first object follows its header closely; bytes without one are no PDF.
  const auto head = Src.View(0, 4096);
  if (std::string_view(reinterpret_cast<const char*>(head.data()), head.size()).find(" obj") == std::string_view::npos)
    return Damaged(0);
  const std::int64_t clearTo = ScanSize - Sector;  // the sectors between hold no marker
  for (std::int64_t pos = 0;;) {
    const bool first = pos < Sector && clearTo > Sector;
    const auto v = Src.View(pos, first ? static_cast<std::size_t>(Sector - pos) : TkxByteSource::MaxViewBytes);
    if (v.size() < Marker.size()) return Truncated(Src.Size());
    const std::string_view text(reinterpret_cast<const char*>(v.data()), v.size());
    const std::size_t hit = text.find(Marker);
    if (hit == std::string_view::npos) {
      pos = first ? clearTo : pos + static_cast<std::int64_t>(v.size() - Marker.size() + 1);
      continue;
    }
    std::int64_t end = pos + static_cast<std::int64_t>(hit + Marker.size());
    std::uint8_t eol[2] = {};
    const bool two = Src.Read(end, eol, 2) || Src.Read(end, eol, 1);
    if (eol[0] == '\r' && two && eol[1] == '\n') end += 2;
    else if (eol[0] == '\r' || eol[0] == '\n') end += 1;
    if (!PdfGoesOn(Src, end)) return Whole(end);
    pos = end;
  }
}

}  // namespace kx::ends
