// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kxDisk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

namespace kx {
namespace {

using Call = std::pair<std::int64_t, std::int32_t>;  // (first sector, count)

// A medium whose byte at offset B is (B * 7 + B / 2048) & 0xFF, so that every byte tells where it
// came from; it records each ReadSectors call. Like an image, it leaves the buffer untouched for
// sectors beyond its end.
class TPatternDisk final : public TkxDisk {
 public:
  explicit TPatternDisk(std::int64_t sectors) { SectorCount = sectors; }

  std::vector<Call> Calls;
  bool Fail = false;  // ReadSectors throws, as an image whose part vanished does

  static std::uint8_t ByteAt(std::int64_t b) { return static_cast<std::uint8_t>(b * 7 + b / 2048); }

  std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector, const TkxReadOptions&) override
  {
    Calls.emplace_back(FirstSector, Count);
    if (Fail) throw EkxIOError("part vanished");
    std::int32_t done = 0;
    for (std::int32_t s = 0; s < Count && FirstSector + s < SectorCount; ++s, done += SectorSize)
      for (std::int32_t i = 0; i < SectorSize; ++i)
        Buffer[done + i] = ByteAt((FirstSector + s) * SectorSize + i);
    return done;
  }
};

class TMemoryStream final : public TkxOutStream {
 public:
  std::vector<std::uint8_t> Data;
  std::vector<std::int64_t> Writes;
  bool Full = false;  // refuses every write, as a full disk does
  void WriteBuffer(const void* Buffer, std::int64_t Count) override
  {
    if (Full) throw EkxIOError("disk full");
    Writes.push_back(Count);
    const auto* p = static_cast<const std::uint8_t*>(Buffer);
    Data.insert(Data.end(), p, p + Count);
  }
};

// Bytes beyond the medium's last sector must come out as zeros.
void ExpectMediumBytes(const std::vector<std::uint8_t>& data, std::int64_t offset, std::int64_t sectorCount)
{
  for (std::size_t i = 0; i < data.size(); ++i) {
    const std::int64_t b = offset + static_cast<std::int64_t>(i);
    const std::uint8_t want = b < sectorCount * 2048 ? TPatternDisk::ByteAt(b) : 0;
    if (data[i] != want) {
      ADD_FAILURE() << "byte " << i << " (medium offset " << b << ")";
      return;
    }
  }
}

TEST(CopyToStream, WorkedExampleMakesTwoTrimmedChunks)
{
  TPatternDisk disk(4000);
  TMemoryStream out;
  disk.CopyToStream(out, 5000, 3'000'000);
  ASSERT_EQ(disk.Calls.size(), 2u);
  EXPECT_EQ(disk.Calls[0], std::make_pair(std::int64_t{2}, 1000));
  EXPECT_EQ(disk.Calls[1], std::make_pair(std::int64_t{1002}, 466));
  EXPECT_EQ(out.Writes, (std::vector<std::int64_t>{2'047'096, 952'904}));
  ExpectMediumBytes(out.Data, 5000, disk.SectorCount);
}

TEST(ReadBytes, ReadsTheCoveringSectorsOnly)
{
  struct Case {
    std::int64_t Offset;
    std::int32_t Size;
    Call Read;
  };
  const Case cases[] = {
      {4096, 3 * 2048, {2, 3}},  // aligned range: exactly Size / 2048 sectors
      {2040, 10, {0, 2}},        // across a sector boundary
      {2048, 1, {1, 1}},
      {4095, 1, {1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Offset);
    TPatternDisk disk(10);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(c.Size) + 1, 0xEE);
    disk.ReadBytes(buffer.data(), c.Offset, c.Size);
    EXPECT_EQ(disk.Calls, std::vector<Call>{c.Read});
    EXPECT_EQ(buffer.back(), 0xEE) << "wrote past Size";
    buffer.pop_back();
    ExpectMediumBytes(buffer, c.Offset, disk.SectorCount);
  }
}

TEST(ReadBytes, DeliversZerosBeyondTheLastSector)
{
  TPatternDisk disk(2);
  std::vector<std::uint8_t> buffer(3000, 0xEE);
  disk.ReadBytes(buffer.data(), 3000, 3000);
  ExpectMediumBytes(buffer, 3000, disk.SectorCount);
}

TEST(CopyToStream, ChoosesShortOrLongPathAtOneChunk)
{
  struct Case {
    std::int64_t Offset;
    std::int64_t Size;
    std::vector<Call> Reads;
    std::vector<std::int64_t> Writes;
  };
  const Case cases[] = {
      {0, 0, {}, {}},
      {4096, 0, {}, {}},
      // Below one chunk: one scratch block of its own, even when it covers 1001 sectors.
      {0, 2'047'999, {{0, 1000}}, {2'047'999}},
      {2047, 2'047'999, {{0, 1001}}, {2'047'999}},
      // From one chunk on: chunks of at most 1000 sectors, trimmed at both ends.
      {0, 2'048'000, {{0, 1000}}, {2'048'000}},
      {1, 2'048'000, {{0, 1000}, {1000, 1}}, {2'047'999, 1}},
      {2047, 2'048'000, {{0, 1000}, {1000, 1}}, {2'045'953, 2047}},
      {2048 * 5, 2'048'000 * 2, {{5, 1000}, {1005, 1000}}, {2'048'000, 2'048'000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.Offset << " size " << c.Size);
    TPatternDisk disk(3000);
    TMemoryStream out;
    disk.CopyToStream(out, c.Offset, c.Size);
    EXPECT_EQ(disk.Calls, c.Reads);
    EXPECT_EQ(out.Writes, c.Writes);
    ASSERT_EQ(static_cast<std::int64_t>(out.Data.size()), c.Size);
    ExpectMediumBytes(out.Data, c.Offset, disk.SectorCount);
  }
}

TEST(CopyToStream, RangePastTheLastSectorWritesSizeBytesEndingInZeros)
{
  // The second chunk lies wholly beyond the medium: it must not repeat the first chunk's bytes.
  for (std::int64_t size : {std::int64_t{100'000}, std::int64_t{5'000'000}}) {
    SCOPED_TRACE(size);
    TPatternDisk disk(1200);
    TMemoryStream out;
    const std::int64_t offset = 1150 * 2048 + 7;
    disk.CopyToStream(out, offset, size);
    ASSERT_EQ(static_cast<std::int64_t>(out.Data.size()), size);
    ExpectMediumBytes(out.Data, offset, disk.SectorCount);
  }
}

TEST(CopyToStream, PassesOnErrorsOfMediumAndStream)
{
  for (std::int64_t size : {std::int64_t{10}, std::int64_t{3'000'000}}) {
    TPatternDisk failing(4000);
    failing.Fail = true;
    TMemoryStream out;
    EXPECT_THROW(failing.CopyToStream(out, 0, size), EkxIOError);
    EXPECT_TRUE(out.Writes.empty());

    TPatternDisk disk(4000);
    TMemoryStream full;
    full.Full = true;
    EXPECT_THROW(disk.CopyToStream(full, 0, size), EkxIOError);
  }
}

TEST(CopyToStream, RejectsRangesThatCannotBeAddressed)
{
  TPatternDisk disk(10);
  TMemoryStream out;
  EXPECT_THROW(disk.CopyToStream(out, -1, 10), std::out_of_range);
  EXPECT_THROW(disk.CopyToStream(out, 0, -1), std::out_of_range);
  EXPECT_THROW(disk.CopyToStream(out, std::numeric_limits<std::int64_t>::max() - 5, 3'000'000),
               std::out_of_range);
  EXPECT_TRUE(disk.Calls.empty());
}

}  // namespace
}  // namespace kx
