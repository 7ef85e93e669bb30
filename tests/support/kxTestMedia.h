// SPDX-License-Identifier: GPL-3.0-or-later
// Test helpers shared by the media, project, recognition and CLI tests: a medium held in memory,
// a scratch folder that removes itself, and whole-file reads and writes.
#pragma once

#include "media/kxDisk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace kx::test {

// A medium whose user data is Bytes, padded with zeros to whole sectors. Reading sector
// ThrowAt raises EkxIOError, as a vanished image part does; sector Unreadable delivers nothing
// and ends the read short, as a damaged sector of a drive does; OnRead, when set, is told each
// sector before it is read (a test's Ctrl+C or stop during a read).
class TMemoryDisk final : public TkxDisk {
 public:
  explicit TMemoryDisk(std::vector<std::uint8_t> Bytes_) : Bytes(std::move(Bytes_))
  {
    SectorCount = (static_cast<std::int64_t>(Bytes.size()) + SectorSize - 1) / SectorSize;
    Bytes.resize(static_cast<std::size_t>(SectorCount * SectorSize), 0);
  }

  std::vector<std::uint8_t> Bytes;
  std::int64_t ThrowAt = -1;
  std::int64_t Unreadable = -1;
  std::vector<std::int64_t> SectorsRead;
  std::function<void(std::int64_t Sector)> OnRead;

  std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector, const TkxReadOptions&) override
  {
    std::int32_t done = 0;
    for (std::int32_t s = 0; s < Count; ++s) {
      const std::int64_t sector = FirstSector + s;
      if (OnRead) OnRead(sector);
      if (sector == ThrowAt) throw EkxIOError("part file vanished");
      if (sector < 0 || sector >= SectorCount || sector == Unreadable) break;
      SectorsRead.push_back(sector);
      std::memcpy(Buffer + done, Bytes.data() + sector * SectorSize, static_cast<std::size_t>(SectorSize));
      done += SectorSize;
    }
    return done;
  }
};

// Named after the running test, the process and a serial number, so that tests running in
// parallel processes, and several folders in one test, never share a folder.
class TScratchFolder {
 public:
  TScratchFolder()
  {
    static int serial = 0;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? info->name() : "test";
    std::replace(name.begin(), name.end(), '/', '_');  // parameterised tests are named "Name/0"
    Path = std::filesystem::temp_directory_path() /
           ("kx-" + name + "-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
    std::filesystem::remove_all(Path);
    std::filesystem::create_directories(Path);
  }
  ~TScratchFolder()
  {
    std::error_code ec;
    std::filesystem::permissions(Path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(Path, ec);
  }
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;

  // The folder with a trailing delimiter, or a path below it.
  std::string Dir() const { return Path.string() + "/"; }
  std::string operator/(std::string_view Name) const { return (Path / Name).string(); }

  std::filesystem::path Path;
};

inline std::string ReadFileText(const std::string& FileName)
{
  std::ifstream in(FileName, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFileText(const std::string& FileName, std::string_view Text)
{
  std::ofstream out(FileName, std::ios::binary | std::ios::trunc);
  out.write(Text.data(), static_cast<std::streamsize>(Text.size()));
}

}  // namespace kx::test
