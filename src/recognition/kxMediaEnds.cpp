// SPDX-License-Identifier: GPL-3.0-or-later
// End finders of media containers and pictures: box, element, page, frame and packet walks,
// and the marker and chunk sequences of JPEG, PNG and GIF.
#include "recognition/kxEndFinders.h"
#include "recognition/kxEngine.h"
#include "recognition/kxModernKinds.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string_view>

namespace kx::ends {

using namespace kx::bytes;
using namespace std::string_view_literals;

namespace {

// Box types that stand at the top level of ISO base media files. A walk ends at any other, and
// at a second "ftyp": the next file begins there.
constexpr std::string_view TopLevelBoxes[] = {"moov"sv, "mdat"sv, "free"sv, "skip"sv, "wide"sv, "uuid"sv,
                                              "meta"sv, "pdin"sv, "moof"sv, "mfra"sv, "sidx"sv, "ssix"sv,
                                              "styp"sv, "prft"sv, "emsg"sv, "pnot"sv, "udta"sv, "junk"sv};

bool IsTopLevelBox(TBytes b)
{
  return std::any_of(std::begin(TopLevelBoxes), std::end(TopLevelBoxes), [&](std::string_view t) { return Has(b, 4, t); });
}

}  // namespace

TkxFileEnd BoxesEnd(TkxByteSource& Src)
{
  bool header = false;  // a movie, a fragment or the metadata of still images
  for (std::int64_t pos = 0;;) {
    const auto box = ReadArray<16>(Src, pos);
    const bool first = pos == 0 && box && Has(*box, 4, "ftyp"sv);
    if (!box || (!first && !IsTopLevelBox(*box))) {
      if (!header) return pos >= Src.Size() ? Truncated(pos) : Damaged(pos);
      return Whole(pos);
    }
    std::int64_t size = U32BE(*box, 0);
    if (size == 1) size = static_cast<std::int64_t>(std::min<std::uint64_t>(U64BE(*box, 8), INT64_MAX / 2));
    if (size == 0) return Unknown();  // "to the end of the file": the end is not stated
    if (size < 8) return header ? Whole(pos) : Damaged(pos);
    header = header || Has(*box, 4, "moov"sv) || Has(*box, 4, "moof"sv) || Has(*box, 4, "meta"sv);
    pos += size;
    if (pos > Src.Size()) return Truncated(pos);
  }
}

namespace {

// An EBML variable-size integer at Pos: its value (the marker bit kept for IDs) and length.
struct TVint {
  std::uint64_t Value = 0;
  int Length = 0;  // 0: not a valid number
  bool AllOnes = false;  // a size of "unknown"
};

TVint ReadVint(TkxByteSource& Src, std::int64_t Pos, bool KeepMarker)
{
  std::uint8_t b[8];
  if (!Src.Read(Pos, b, 1) || b[0] == 0) return {};
  int length = 1;
  while ((b[0] & (0x80u >> (length - 1))) == 0) ++length;
  if (!Src.Read(Pos, b, static_cast<std::size_t>(length))) return {};
  std::uint64_t v = KeepMarker ? b[0] : b[0] & (0xFFu >> length);
  bool ones = (b[0] & (0xFFu >> length)) == (0xFFu >> length);
  for (int i = 1; i < length; ++i) {
    v = v << 8 | b[i];
    ones = ones && b[i] == 0xFF;
  }
  return {v, length, ones};
}

constexpr std::uint64_t SegmentId = 0x18538067;
constexpr std::uint64_t ClusterId = 0x1F43B675;
// The elements that stand directly in a segment.
constexpr std::uint64_t SegmentChildren[] = {0x114D9B74, 0x1549A966, 0x1654AE6B, ClusterId, 0x1C53BB6B,
                                             0x1941A469, 0x1043A770, 0x1254C367, 0xEC, 0xBF};

}  // namespace

// A Matroska file is its EBML header and one segment; the segment's children are walked to
// check that they fill it (or, for a segment of unknown size, to find where they stop).
TkxFileEnd MatroskaEnd(TkxByteSource& Src)
{
  const TVint headerId = ReadVint(Src, 0, true);
  const TVint headerSize = ReadVint(Src, headerId.Length, false);
  if (headerId.Value != 0x1A45DFA3 || headerSize.Length == 0) return Damaged(0);
  const std::int64_t segment = headerId.Length + headerSize.Length + static_cast<std::int64_t>(headerSize.Value);
  const TVint id = ReadVint(Src, segment, true);
  const TVint size = ReadVint(Src, segment + id.Length, false);
  if (id.Value != SegmentId || size.Length == 0) return id.Length == 0 ? Truncated(segment + 12) : Damaged(segment);
  const std::int64_t data = segment + id.Length + size.Length;
  const std::int64_t end = size.AllOnes ? INT64_MAX : data + static_cast<std::int64_t>(std::min<std::uint64_t>(size.Value, INT64_MAX / 2));
  std::int64_t pos = data;
  bool clusters = false;
  while (pos < end) {
    const TVint childId = ReadVint(Src, pos, true);
    const TVint childSize = ReadVint(Src, pos + childId.Length, false);
    const bool known = std::find(std::begin(SegmentChildren), std::end(SegmentChildren), childId.Value) != std::end(SegmentChildren);
    if (childId.Length == 0 || childSize.Length == 0 || !known) {
      if (end == INT64_MAX) return clusters ? Whole(pos) : Damaged(pos);
      return pos >= Src.Size() ? Truncated(end) : Damaged(pos);
    }
    if (childSize.AllOnes) return Unknown();  // a cluster written live: its end is not stated
    clusters = clusters || childId.Value == ClusterId;
    pos += childId.Length + childSize.Length + static_cast<std::int64_t>(std::min<std::uint64_t>(childSize.Value, INT64_MAX / 4));
    if (pos > Src.Size()) return Truncated(end == INT64_MAX ? pos : end);
  }
  return pos == end ? Whole(end) : Damaged(data);
}

// Ogg pages follow each other; the file ends after the page that ends its last logical stream,
// or where the pages stop once every stream has ended. A file multiplexes a few streams; more
// than MaxOpenStreams at once are not followed.
TkxFileEnd OggEnd(TkxByteSource& Src)
{
  constexpr std::size_t MaxOpenStreams = 256;
  std::set<std::uint32_t> open;
  bool any = false;
  for (std::int64_t pos = 0;;) {
    std::uint8_t h[27 + 255];
    if (!Src.Read(pos, h, 27) || std::memcmp(h, "OggS", 4) != 0 || h[4] != 0) {
      if (any && open.empty()) return Whole(pos);
      return pos >= Src.Size() ? Truncated(pos) : Damaged(pos);
    }
    const std::uint32_t serial = U32LE(TBytes(h, 27), 14);
    const std::uint8_t flags = h[5];
    // A new stream that begins after every earlier one ended begins the next file.
    if ((flags & 2) != 0 && any && open.empty()) return Whole(pos);
    if (!Src.Read(pos + 27, h + 27, h[26])) return Truncated(pos + 27 + h[26]);
    std::int64_t body = 0;
    for (int i = 0; i < h[26]; ++i) body += h[27 + i];
    if ((flags & 2) != 0) open.insert(serial);
    if (open.size() > MaxOpenStreams) return Unknown();
    if ((flags & 4) != 0) open.erase(serial);
    any = true;
    pos += 27 + h[26] + body;
    if (pos > Src.Size()) return Truncated(pos);
  }
}

namespace {

// The bytes of the stream that a Xing or Info header in the first frame at Pos counts (the
// encoder writes it when it knows the length); 0 when there is none.
std::int64_t XingStreamBytes(TkxByteSource& Src, std::int64_t Pos, const TMpegAudioFrame& First)
{
  std::uint8_t mode = 0;
  if (!Src.Read(Pos + 3, &mode, 1)) return 0;
  const bool mono = (mode >> 6) == 3;
  const std::int64_t side = First.Version == 3 ? (mono ? 17 : 32) : (mono ? 9 : 17);
  const auto x = ReadArray<16>(Src, Pos + 4 + side);
  if (!x || !(Has(*x, 0, "Xing"sv) || Has(*x, 0, "Info"sv))) return 0;
  const std::uint32_t flags = U32BE(*x, 4);
  if ((flags & 2) == 0) return 0;
  return U32BE(*x, (flags & 1) != 0 ? 12 : 8);
}

}  // namespace

// An MP3 file: an ID3v2 tag, a run of frames of one stream, and the ID3v1 or APE tags after it.
TkxFileEnd Mp3End(TkxByteSource& Src)
{
  std::int64_t pos = 0;
  if (const auto id3 = ReadArray<10>(Src, 0); id3 && Has(*id3, 0, "ID3"sv)) {
    const auto& t = *id3;
    if (((t[6] | t[7] | t[8] | t[9]) & 0x80) != 0) return Damaged(0);
    pos = 10 + (std::int64_t{t[6]} << 21 | std::int64_t{t[7]} << 14 | std::int64_t{t[8]} << 7 | t[9]) + ((t[5] & 0x10) ? 10 : 0);
  }
  TMpegAudioFrame first;
  int frames = 0;
  std::int64_t stated = 0;  // where a Xing header says the frames end
  for (;; ++frames) {
    std::uint8_t h[4];
    if (!Src.Read(pos, h, 4)) {
      // A few bytes left, the start of a header: the file was cut there.
      std::uint8_t b = 0;
      if (frames >= 2 && Src.Read(pos, &b, 1) && b == 0xFF) return Truncated(pos + first.Length);
      break;
    }
    const TMpegAudioFrame f = ReadMpegAudioFrame(TBytes(h, 4), 0);
    if (f.Length < 4 || (frames > 0 && (f.Version != first.Version || f.Layer != first.Layer || f.SampleRate != first.SampleRate)))
      break;
    if (frames == 0) {
      first = f;
      if (const std::int64_t bytes = XingStreamBytes(Src, pos, f); bytes > 0) stated = pos + bytes;
    }
    if (pos + f.Length > Src.Size()) return Truncated(pos + f.Length);
    pos += f.Length;
  }
  if (stated > pos && pos + 4 > Src.Size()) return Truncated(stated);
  if (frames < 2) return pos >= Src.Size() ? Truncated(pos) : Damaged(pos);
  for (bool more = true; more;) {
    more = false;
    if (const auto ape = ReadArray<32>(Src, pos); ape && Has(*ape, 0, "APETAGEX"sv)) {
      pos += 32 + std::int64_t{U32LE(*ape, 12)};
      more = true;
    } else if (const auto tag = ReadArray<3>(Src, pos); tag && Has(*tag, 0, "TAG"sv)) {
      pos += 128;
    }
  }
  return EndAt(Src, pos);
}

namespace {

constexpr std::string_view AsfHeaderGuid = "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"sv;
constexpr std::string_view AsfFilePropertiesGuid = "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65"sv;
// The objects that stand after the header: the data and the indexes.
constexpr std::string_view AsfTopLevelGuids[] = {
    "\x36\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"sv,
    "\x90\x08\x00\x33\xB1\xE5\xCF\x11\x89\xF4\x00\xA0\xC9\x03\x49\xCB"sv,
    "\xD3\x29\xE2\xD6\xDA\x35\xD1\x11\x90\x34\x00\xA0\xC9\x03\x49\xBE"sv,
    "\xF8\x03\xB1\xFE\xAD\x12\x64\x4C\x84\x0F\x2A\x1D\x2F\x7A\xD4\x8C"sv,
    "\xD0\x3F\xB7\x3C\x4A\x0C\x03\x48\x95\x3D\xED\xF7\xB6\x22\x8F\x0C"sv};

// The file size that the header's File Properties Object states; 0 when it states none (a
// stream written where it could not go back) or has none.
std::uint64_t AsfStatedSize(TkxByteSource& Src, std::uint64_t HeaderSize, std::uint32_t Objects)
{
  std::uint64_t pos = 30;
  for (std::uint32_t n = 0; n < Objects && pos + 24 <= HeaderSize; ++n) {
    const auto o = ReadArray<48>(Src, static_cast<std::int64_t>(pos));
    if (!o) return 0;
    if (Has(*o, 0, AsfFilePropertiesGuid)) return U64LE(*o, 40);
    const std::uint64_t size = U64LE(*o, 16);
    if (size < 24) return 0;
    pos += size;
  }
  return 0;
}

}  // namespace

// An ASF file (.wma, .wmv): the header's File Properties Object states the file's size; where it
// states none, the data and index objects after the header are walked by their sizes.
TkxFileEnd AsfEnd(TkxByteSource& Src)
{
  const auto h = ReadArray<30>(Src, 0);
  if (!h) return Truncated(30);
  if (!Has(*h, 0, AsfHeaderGuid)) return Unknown();
  const std::uint64_t header = U64LE(*h, 16);
  if (header < 30 || header > (1ull << 32)) return Damaged(0);
  if (const std::uint64_t stated = AsfStatedSize(Src, header, U32LE(*h, 24)); stated >= header)
    return EndAt(Src, static_cast<std::int64_t>(stated));
  auto pos = static_cast<std::int64_t>(header);
  for (;;) {
    const auto o = ReadArray<24>(Src, pos);
    const bool known = o && std::any_of(std::begin(AsfTopLevelGuids), std::end(AsfTopLevelGuids),
                                        [&](std::string_view g) { return Has(*o, 0, g); });
    if (!known) return pos <= Src.Size() ? Whole(pos) : Truncated(pos);
    const std::uint64_t size = U64LE(*o, 16);
    if (size < 24 || size > (1ull << 48)) return Damaged(pos);
    pos += static_cast<std::int64_t>(size);
  }
}

namespace {

// Whether the transport packet at Packet's start carries a table of the stream's own (the
// program association table, PID 0, or the service description, PID 0x11) whose continuity
// counter does not follow the one before it of that table (Last, -1 for none): a stream written
// anew starts its counters again, so the next stream begins there. A repeated counter is a
// packet sent twice.
bool RestartsTables(TBytes Packet, std::array<int, 2>& Last)
{
  const std::uint32_t pid = (Packet[1] & 0x1Fu) << 8 | Packet[2];
  if ((pid != 0 && pid != 0x11) || (Packet[3] & 0x10) == 0) return false;
  int& last = Last[pid == 0 ? 0 : 1];
  const int counter = Packet[3] & 0x0F;
  const bool restarts = last >= 0 && counter != last && counter != (last + 1) % 16;
  last = counter;
  return restarts;
}

}  // namespace

// Transport-stream packets follow each other until the sync bytes stop or the counters of the
// stream's tables start again.
TkxFileEnd TransportEnd(TkxByteSource& Src, std::size_t Stride)
{
  const auto step = static_cast<std::int64_t>(Stride);
  const std::int64_t sync = step - 188;
  std::array<int, 2> tables{-1, -1};
  std::int64_t pos = 0;
  for (;;) {
    const auto v = Src.View(pos, 1 << 16);
    if (v.empty()) return pos > 0 ? Whole(pos) : Damaged(0);
    std::int64_t n = 0;
    for (; n + step <= static_cast<std::int64_t>(v.size()); n += step)
      if (v[static_cast<std::size_t>(n + sync)] != 0x47 ||
          RestartsTables(v.subspan(static_cast<std::size_t>(n + sync), 188), tables))
        return pos + n > 0 ? Whole(pos + n) : Damaged(0);
    if (n == 0) {
      // Less than a packet left: a cut last packet, or the bytes after the stream.
      std::uint8_t b = 0;
      if (Src.Read(pos + sync, &b, 1) && b == 0x47) return Truncated(pos + step);
      return pos > 0 ? Whole(pos) : Damaged(0);
    }
    pos += n;
  }
}

// An MPEG program stream: packs, system headers and packets, each with its length, up to the
// end code or a pack that does not continue the stream (the next stream begins there). A stream
// that stops without one ended where its packs fill whole sectors (as DVD streams do), where
// zeros follow, or where its packs fill the bytes at hand.
TkxFileEnd ProgramStreamEnd(TkxByteSource& Src)
{
  std::optional<TPackClock> clock;
  for (std::int64_t pos = 0;;) {
    std::uint8_t h[14] = {};
    if (!Src.Read(pos, h, 6)) {
      // Packs that fill the bytes up to the next file or the medium's end: a stream of a DVD
      // title set, which ends without an end code.
      if (pos == Src.Size() && pos > 0) return Whole(pos);
      if (pos > Src.Size()) return Truncated(pos);
      return Src.Read(pos, h, 1) && h[0] == 0 && pos > 0 ? Whole(pos) : Damaged(pos);
    }
    if (h[0] != 0 || h[1] != 0 || h[2] != 1) {
      // DVD streams fill whole sectors with their packs: one that stops at a sector's end ended.
      const bool ended = pos > 0 && (pos % 2048 == 0 || (h[0] == 0 && h[1] == 0 && h[2] == 0));
      return ended ? Whole(pos) : Damaged(pos);
    }
    const std::uint8_t code = h[3];
    if (code == 0xB9) return Whole(pos + 4);
    if (code == 0xBA) {
      const bool mpeg2 = (h[4] & 0xC0) == 0x40;
      if (!Src.Read(pos, h, mpeg2 ? 14 : 12)) return Truncated(pos + (mpeg2 ? 14 : 12));
      const std::optional<TPackClock> next = ReadPackClock(TBytes(h, mpeg2 ? 14 : 12));
      if (clock && !PackContinues(*clock, next)) return Whole(pos);
      if (next) clock = next;
      pos += mpeg2 ? 14 + (h[13] & 7) : 12;
    } else if (code >= 0xBB) {
      pos += 6 + U16BE(TBytes(h, 6), 4);
    } else {
      return Damaged(pos);
    }
  }
}

}  // namespace kx::ends
