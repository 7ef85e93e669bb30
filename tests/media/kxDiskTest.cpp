#include "media/kxDisk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

namespace kx {
namespace {

// A medium whose byte at offset B is (B * 7 + B / 2048) & 0xFF, so that every byte tells where it
// came from; it records each ReadSectors call.
class TPatternDisk final : public TkxDisk {
 public:
  explicit TPatternDisk(std::int64_t sectors) { SectorCount = sectors; }

  std::vector<std::pair<std::int64_t, std::int32_t>> Calls;  // (first sector, count)

  static std::uint8_t ByteAt(std::int64_t b) { return static_cast<std::uint8_t>(b * 7 + b / 2048); }

  std::int32_t ReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector) override
  {
    Calls.emplace_back(FirstSector, Count);
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
  void WriteBuffer(const void* Buffer, std::int64_t Count) override
  {
    Writes.push_back(Count);
    const auto* p = static_cast<const std::uint8_t*>(Buffer);
    Data.insert(Data.end(), p, p + Count);
  }
};

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

}  // namespace
}  // namespace kx
