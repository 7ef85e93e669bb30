// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kxDrives.h"

#include "support/kxTestMedia.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>

namespace kx {
namespace {

using test::TScratchFolder;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(DriveListLine, LabelInParenthesesOnlyWhenTheVolumeWasRead)
{
  EXPECT_EQ(DriveListLine('D', std::string("DATA")), "D: (DATA)");
  EXPECT_EQ(DriveListLine('E', std::nullopt), "E:");
  EXPECT_EQ(DriveListLine('E', std::string()), "E: ()");
}

TEST(ListOpticalDrives, PresentDrivesInLetterOrderWithTheirLabels)
{
  const std::map<char, std::optional<std::string>> drives = {
      {'N', "MY DISC"}, {'D', "DATA"}, {'F', ""}, {'E', std::nullopt}, {'Z', "Z"}};
  std::string tested;
  auto isDrive = [&](char letter) {
    tested += letter;
    return drives.count(letter) != 0;
  };
  std::vector<std::string> asked;
  auto reader = [&](const std::string& device) {
    asked.push_back(device);
    for (const auto& [letter, label] : drives)
      if (DriveDevicePath(letter) == device) return label;
    ADD_FAILURE() << "label of " << device;
    return std::optional<std::string>();
  };
  EXPECT_THAT(ListOpticalDrives(isDrive, reader), ElementsAre("D: (DATA)", "E:", "F: ()", "N: (MY DISC)", "Z: (Z)"));
  EXPECT_EQ(tested, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  EXPECT_THAT(asked, ElementsAre("/dev/sr0", "/dev/sr1", "/dev/sr2", "/dev/sr10", "/dev/sr22"));
}

TEST(ListOpticalDrives, NoDriveGivesAnEmptyList)
{
  auto reader = [](const std::string&) -> std::optional<std::string> {
    ADD_FAILURE() << "no label is read without a drive";
    return std::nullopt;
  };
  EXPECT_THAT(ListOpticalDrives([](char) { return false; }, reader), IsEmpty());
}

// A minimal ISO 9660 file system: a primary volume descriptor at sector 16 and the set
// terminator at sector 17.
void WriteIso(const std::filesystem::path& path, const std::string& volumeId)
{
  std::vector<char> image(20 * 2048, 0);
  char* pvd = image.data() + 16 * 2048;
  pvd[0] = 1;
  std::memcpy(pvd + 1, "CD001", 5);
  pvd[6] = 1;
  std::memset(pvd + 8, ' ', 64);
  std::memcpy(pvd + 40, volumeId.data(), volumeId.size());
  auto both32 = [](char* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<char>(v >> (8 * i)), at[7 - i] = static_cast<char>(v >> (8 * i));
  };
  auto both16 = [](char* at, std::uint16_t v) {
    at[0] = static_cast<char>(v), at[1] = static_cast<char>(v >> 8), at[2] = static_cast<char>(v >> 8), at[3] = static_cast<char>(v);
  };
  both32(pvd + 80, 20);
  both16(pvd + 120, 1);
  both16(pvd + 124, 1);
  both16(pvd + 128, 2048);
  pvd[156] = 34;  // root directory record
  both32(pvd + 156 + 2, 18);
  both32(pvd + 156 + 10, 2048);
  pvd[156 + 25] = 2;
  pvd[156 + 32] = 1;
  pvd[881] = 1;
  char* end = image.data() + 17 * 2048;
  end[0] = static_cast<char>(0xFF);
  std::memcpy(end + 1, "CD001", 5);
  end[6] = 1;
  std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
}

TEST(ReadVolumeLabel, LabelOfTheDiscFileSystem)
{
  TScratchFolder dir;
  WriteIso(dir.Path / "labelled.iso", "MY_DISC");
  WriteIso(dir.Path / "blank.iso", "");
  std::ofstream(dir.Path / "zeros.bin", std::ios::binary).write(std::vector<char>(40960, 0).data(), 40960);

  EXPECT_EQ(ReadVolumeLabel((dir.Path / "labelled.iso").string()), "MY_DISC");
  EXPECT_EQ(ReadVolumeLabel((dir.Path / "blank.iso").string()), "");
  EXPECT_EQ(ReadVolumeLabel((dir.Path / "zeros.bin").string()), std::nullopt);
  EXPECT_EQ(ReadVolumeLabel((dir.Path / "missing.iso").string()), std::nullopt);
}

}  // namespace
}  // namespace kx
