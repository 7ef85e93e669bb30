// SPDX-License-Identifier: GPL-3.0-or-later
// The end finder of FLAC streams: the metadata blocks, then the audio frames, each read to its
// exact end and proved by the CRC-8 of its header and the CRC-16 of the whole frame. A frame
// states no length: its subframes are walked (warm-up samples, predictor coefficients and the
// Rice codes of the residual are passed over, not decoded) to the byte where it ends.
#include "recognition/kxEndFinders.h"

#include <algorithm>
#include <bit>

namespace kx::ends {

using namespace kx::bytes;

namespace {

constexpr auto Crc8Table = [] {
  std::array<std::uint8_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned c = i;
    for (int k = 0; k < 8; ++k) c = (c & 0x80) != 0 ? (c << 1) ^ 0x07 : c << 1;
    t[i] = static_cast<std::uint8_t>(c);
  }
  return t;
}();

constexpr auto Crc16Table = [] {
  std::array<std::uint16_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned c = i << 8;
    for (int k = 0; k < 8; ++k) c = (c & 0x8000) != 0 ? (c << 1) ^ 0x8005 : c << 1;
    t[i] = static_cast<std::uint16_t>(c);
  }
  return t;
}();

// The CRC-16 of the N bytes from Pos; none when they do not all lie in the source.
std::optional<std::uint16_t> Crc16Of(TkxByteSource& Src, std::int64_t Pos, std::int64_t N)
{
  unsigned crc = 0;
  while (N > 0) {
    const auto v = Src.View(Pos, static_cast<std::size_t>(std::min<std::int64_t>(N, TkxByteSource::MaxViewBytes)));
    if (v.empty()) return std::nullopt;
    for (const std::uint8_t b : v) crc = (crc << 8 & 0xFFFF) ^ Crc16Table[(crc >> 8) ^ b];
    Pos += static_cast<std::int64_t>(v.size());
    N -= static_cast<std::int64_t>(v.size());
  }
  return static_cast<std::uint16_t>(crc);
}

// The bits of a frame from a byte of the source on, most significant first. A read past the
// source's end gives zeros and marks the reader short.
class TBitReader {
 public:
  TBitReader(TkxByteSource& Src_, std::int64_t Pos) : Src(Src_), Next(Pos) {}

  bool Short() const { return IsShort; }

  // N bits, N at most 32.
  std::uint32_t Bits(int N)
  {
    if (N == 0) return 0;
    if (Have < N) Refill();
    if (Have < N) return Exhausted();
    const auto v = static_cast<std::uint32_t>(Acc >> (64 - N));
    Acc <<= N;
    Have -= N;
    return v;
  }

  // The zeros before the next one bit, and that bit.
  std::uint64_t Unary()
  {
    std::uint64_t zeros = 0;
    for (;;) {
      if (Have == 0) Refill();
      if (Have == 0) return Exhausted();
      if (Acc == 0) {  // the bits below Have are zeros too
        zeros += static_cast<std::uint64_t>(Have);
        Have = 0;
        continue;
      }
      const int lead = std::countl_zero(Acc);
      Acc = lead + 1 < 64 ? Acc << (lead + 1) : 0;
      Have -= lead + 1;
      return zeros + static_cast<std::uint64_t>(lead);
    }
  }

  void Skip(std::uint64_t N)
  {
    if (N <= static_cast<std::uint64_t>(Have)) {
      Acc = N < 64 ? Acc << N : 0;
      Have -= static_cast<int>(N);
      return;
    }
    N -= static_cast<std::uint64_t>(Have);
    Acc = 0;
    Have = 0;
    Next += static_cast<std::int64_t>(std::min<std::uint64_t>(N / 8, INT64_MAX / 2));
    View = {};
    At = 0;
    Bits(static_cast<int>(N % 8));
  }

  // Past the bits that fill the last byte begun; then the byte position of the next bit.
  std::int64_t AlignedPos()
  {
    Skip(static_cast<std::uint64_t>(Have % 8));
    return Next - Have / 8;
  }

 private:
  void Refill()
  {
    while (Have <= 56) {
      if (At == View.size()) {
        View = Src.View(Next, TkxByteSource::MaxViewBytes);
        At = 0;
        if (View.empty()) return;
      }
      Acc |= std::uint64_t{View[At++]} << (56 - Have);
      Have += 8;
      ++Next;
    }
  }

  std::uint32_t Exhausted()
  {
    IsShort = true;
    Acc = 0;
    Have = 0;
    return 0;
  }

  TkxByteSource& Src;
  std::int64_t Next;  // the source's next byte that is not in Acc
  std::span<const std::uint8_t> View;
  std::size_t At = 0;
  std::uint64_t Acc = 0;  // its top Have bits are the next bits
  int Have = 0;
  bool IsShort = false;
};

struct TStreamInfo {
  std::uint32_t Channels = 0;
  std::uint32_t Bps = 0;
  std::uint64_t TotalSamples = 0;  // 0: not known (a stream written where it could not seek back)
};

struct TFrameHeader {
  bool Valid = false;
  bool Cut = false;  // the source ends inside it
  std::int64_t Length = 0;
  std::uint32_t BlockSize = 0;
  std::uint32_t ChannelCode = 0;
  std::uint32_t Bps = 0;
  bool Variable = false;    // numbered by samples rather than frames
  std::uint64_t Number = 0;
};

// The header of a frame at Pos: sync code, fields that make sense for the stream, its coded
// number, and its CRC-8.
TFrameHeader ReadFrameHeader(TkxByteSource& Src, std::int64_t Pos, const TStreamInfo& Info)
{
  TFrameHeader f;
  std::uint8_t h[16] = {};
  const std::int64_t have = std::clamp<std::int64_t>(Src.Size() - Pos, 0, 16);
  if (have < 2 || !Src.Read(Pos, h, static_cast<std::size_t>(have))) return f;
  if (h[0] != 0xFF || (h[1] & 0xFE) != 0xF8) return f;
  const unsigned blockCode = h[2] >> 4, rateCode = h[2] & 15, channelCode = h[3] >> 4, sizeCode = h[3] >> 1 & 7;
  if (have >= 4 && (blockCode == 0 || rateCode == 15 || channelCode >= 11 || sizeCode == 3 || (h[3] & 1) != 0)) return f;
  constexpr std::uint32_t SampleBits[8] = {0, 8, 12, 0, 16, 20, 24, 32};
  f.Bps = sizeCode == 0 ? Info.Bps : SampleBits[sizeCode];
  f.ChannelCode = channelCode;
  f.Variable = (h[1] & 1) != 0;
  if (have >= 4 && (f.Bps != Info.Bps || (channelCode < 8 ? channelCode + 1 : 2) != Info.Channels)) return f;
  // The number, coded as UTF-8 codes its characters, extended to seven bytes.
  const int ones = std::countl_one(static_cast<std::uint8_t>(h[4]));
  const int numberBytes = ones == 0 ? 1 : ones;
  if (have >= 5 && (ones == 1 || ones > (f.Variable ? 7 : 6))) return f;
  std::int64_t n = 4 + numberBytes;
  n += blockCode == 6 ? 1 : blockCode == 7 ? 2 : 0;
  n += rateCode == 12 ? 1 : rateCode == 13 || rateCode == 14 ? 2 : 0;
  if (n + 1 > have) {
    f.Cut = Pos + n + 1 > Src.Size();
    return f;
  }
  // A number of one byte has seven bits; the first byte of a longer one loses a bit per byte.
  f.Number = h[4] & (numberBytes == 1 ? 0x7Fu : 0x7Fu >> numberBytes);
  for (int i = 1; i < numberBytes; ++i) {
    if ((h[4 + i] & 0xC0) != 0x80) return f;
    f.Number = f.Number << 6 | (h[4 + i] & 0x3Fu);
  }
  const std::size_t extra = 4 + static_cast<std::size_t>(numberBytes);
  if (blockCode == 1) f.BlockSize = 192;
  else if (blockCode <= 5) f.BlockSize = 576u << (blockCode - 2);
  else if (blockCode == 6) f.BlockSize = h[extra] + 1u;
  else if (blockCode == 7) f.BlockSize = (std::uint32_t{h[extra]} << 8 | h[extra + 1]) + 1u;
  else f.BlockSize = 256u << (blockCode - 8);
  std::uint8_t crc = 0;
  for (std::int64_t i = 0; i < n; ++i) crc = Crc8Table[crc ^ h[i]];
  f.Valid = crc == h[n];
  f.Length = n + 1;
  return f;
}

// The residual of a predicted subframe: partitions of Rice codes, or of raw numbers.
bool SkipResidual(TBitReader& r, std::uint32_t Block, std::uint32_t Order)
{
  const std::uint32_t method = r.Bits(2);
  if (method > 1) return false;
  const int parameterBits = method == 0 ? 4 : 5;
  const std::uint32_t escape = (1u << parameterBits) - 1;
  const std::uint32_t order = r.Bits(4);
  const std::uint32_t partitions = 1u << order;
  if ((Block & (partitions - 1)) != 0 || (Block >> order) < Order) return false;
  for (std::uint32_t p = 0; p < partitions && !r.Short(); ++p) {
    const std::uint32_t samples = (Block >> order) - (p == 0 ? Order : 0);
    const std::uint32_t parameter = r.Bits(parameterBits);
    if (parameter == escape) {
      r.Skip(std::uint64_t{samples} * r.Bits(5));
      continue;
    }
    for (std::uint32_t i = 0; i < samples; ++i) {
      r.Unary();
      r.Bits(static_cast<int>(parameter));
    }
  }
  return true;
}

bool SkipSubframe(TBitReader& r, std::uint32_t Block, std::uint32_t Bps)
{
  if (r.Bits(1) != 0) return false;
  const std::uint32_t type = r.Bits(6);
  if (r.Bits(1) != 0) {
    const std::uint64_t wasted = r.Unary() + 1;
    if (wasted >= Bps) return false;
    Bps -= static_cast<std::uint32_t>(wasted);
  }
  if (type == 0) {
    r.Skip(Bps);
  } else if (type == 1) {
    r.Skip(std::uint64_t{Block} * Bps);
  } else if (type >= 8 && type <= 12) {
    const std::uint32_t order = type - 8;
    r.Skip(std::uint64_t{order} * Bps);
    return SkipResidual(r, Block, order);
  } else if (type >= 32) {
    const std::uint32_t order = type - 31;
    r.Skip(std::uint64_t{order} * Bps);
    const std::uint32_t precision = r.Bits(4) + 1;
    if (precision == 16) return false;
    r.Bits(5);  // the shift
    r.Skip(std::uint64_t{order} * precision);
    return SkipResidual(r, Block, order);
  } else {
    return false;
  }
  return true;
}

enum class TFrameEnd : std::uint8_t { Whole, Cut, Broken };

// Where the frame at Pos, whose header is F, ends: after its subframes, the bits that fill the
// last byte and the CRC-16 of the whole frame.
TFrameEnd FrameEnd(TkxByteSource& Src, std::int64_t Pos, const TFrameHeader& F, std::int64_t& End)
{
  {
    TBitReader r(Src, Pos + F.Length);
    const std::uint32_t channels = F.ChannelCode < 8 ? F.ChannelCode + 1 : 2;
    for (std::uint32_t c = 0; c < channels; ++c) {
      // The side channel of a stereo pair carries one bit more.
      const bool side = (F.ChannelCode == 8 && c == 1) || (F.ChannelCode == 9 && c == 0) || (F.ChannelCode == 10 && c == 1);
      if (!SkipSubframe(r, F.BlockSize, F.Bps + (side ? 1 : 0))) return r.Short() ? TFrameEnd::Cut : TFrameEnd::Broken;
      if (r.Short()) return TFrameEnd::Cut;
    }
    End = r.AlignedPos() + 2;
    if (r.Short() || End > Src.Size()) return TFrameEnd::Cut;
  }
  const auto stored = ReadArray<2>(Src, End - 2);
  const auto crc = Crc16Of(Src, Pos, End - 2 - Pos);
  return stored && crc == U16BE(*stored, 0) ? TFrameEnd::Whole : TFrameEnd::Broken;
}

}  // namespace

// The frames end the file once they hold the samples STREAMINFO counts; where it counts none,
// where the frames stop.
TkxFileEnd FlacEnd(TkxByteSource& Src)
{
  const auto magic = ReadArray<4>(Src, 0);
  if (!magic || !Has(*magic, 0, "fLaC")) return Damaged(0);
  TStreamInfo info;
  std::int64_t pos = 4;
  for (bool last = false; !last;) {
    const auto h = ReadArray<4>(Src, pos);
    if (!h) return Truncated(pos + 4);
    last = ((*h)[0] & 0x80) != 0;
    const std::uint32_t type = (*h)[0] & 0x7F, length = U24BE(*h, 1);
    if (type == 127 || (pos == 4) != (type == 0)) return Damaged(pos);
    if (type == 0) {
      const auto s = ReadArray<34>(Src, pos + 4);
      if (length != 34) return Damaged(pos);
      if (!s) return Truncated(pos + 4 + 34);
      info.Channels = ((*s)[12] >> 1 & 7) + 1u;
      info.Bps = (((*s)[12] & 1u) << 4 | (*s)[13] >> 4) + 1u;
      info.TotalSamples = std::uint64_t{(*s)[13] & 0x0Fu} << 32 | U32BE(*s, 14);
    }
    pos += 4 + std::int64_t{length};
    if (pos > Src.Size()) return Truncated(pos);
  }
  std::uint64_t samples = 0;
  for (std::uint64_t frames = 0;; ++frames) {
    if (info.TotalSamples != 0 && samples >= info.TotalSamples) return Whole(pos);
    const TFrameHeader f = ReadFrameHeader(Src, pos, info);
    const bool inOrder = f.Number == (f.Variable ? samples : frames);
    if (f.Cut || (pos >= Src.Size() && info.TotalSamples != 0)) return Truncated(std::max(pos + 1, Src.Size()));
    if (!f.Valid || !inOrder) return info.TotalSamples == 0 && frames > 0 ? Whole(pos) : Damaged(pos);
    std::int64_t end = 0;
    switch (FrameEnd(Src, pos, f, end)) {
      case TFrameEnd::Cut: return Truncated(std::max(pos + f.Length + 1, Src.Size()));
      case TFrameEnd::Broken: return Damaged(pos);
      case TFrameEnd::Whole: break;
    }
    samples += f.BlockSize;
    pos = end;
  }
}

}  // namespace kx::ends
