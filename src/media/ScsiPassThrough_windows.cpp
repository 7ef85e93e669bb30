// SPDX-License-Identifier: GPL-3.0-or-later
// SCSI transport over the Windows SCSI pass-through (IOCTL_SCSI_PASS_THROUGH_DIRECT on \\.\X:).
#include "media/CdRom.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include <windows.h>
#include <ntddscsi.h>

namespace kx {

namespace {

// The request block: the pass-through structure with the sense area directly after it. In a
// 32-bit build this is 44 + 20 = 64 bytes; a 64-bit build has a wider DataBuffer pointer, so
// every length and offset below is taken from the structures rather than written as a number.
struct TPassThroughBlock {
  SCSI_PASS_THROUGH_DIRECT Spt;
  UCHAR Sense[20];
};
static_assert(sizeof(void*) != 4 || sizeof(TPassThroughBlock) == 64);
static_assert(sizeof(void*) != 4 || offsetof(TPassThroughBlock, Sense) == 44);

class TPassThroughDevice final : public TScsiDevice {
 public:
  explicit TPassThroughDevice(HANDLE Handle_) : Handle(Handle_) {}
  ~TPassThroughDevice() override { CloseHandle(Handle); }
  TPassThroughDevice(const TPassThroughDevice&) = delete;
  TPassThroughDevice& operator=(const TPassThroughDevice&) = delete;

  TScsiResult SendCdb(std::span<const std::uint8_t> Cdb, std::span<std::uint8_t> DataIn,
                      std::chrono::seconds Timeout) override
  {
    return Send(Cdb, DataIn.empty() ? SCSI_IOCTL_DATA_UNSPECIFIED : SCSI_IOCTL_DATA_IN, DataIn.data(), DataIn.size(),
                Timeout);
  }

  TScsiResult SendCdbOut(std::span<const std::uint8_t> Cdb, std::span<const std::uint8_t> DataOut,
                         std::chrono::seconds Timeout) override
  {
    // The driver only reads from a data-out buffer.
    return Send(Cdb, DataOut.empty() ? SCSI_IOCTL_DATA_UNSPECIFIED : SCSI_IOCTL_DATA_OUT,
                const_cast<std::uint8_t*>(DataOut.data()), DataOut.size(), Timeout);
  }

 private:
  TScsiResult Send(std::span<const std::uint8_t> Cdb, UCHAR Direction, std::uint8_t* Data, std::size_t Length,
                   std::chrono::seconds Timeout)
  {
    TPassThroughBlock block;
    std::memset(&block, 0, sizeof block);
    if (Cdb.size() > sizeof block.Spt.Cdb) return {};
    block.Spt.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    block.Spt.CdbLength = static_cast<UCHAR>(Cdb.size());
    block.Spt.SenseInfoLength = static_cast<UCHAR>(SenseLength);
    block.Spt.DataIn = Direction;
    block.Spt.DataTransferLength = static_cast<ULONG>(Length);
    block.Spt.TimeOutValue = static_cast<ULONG>(Timeout.count());
    block.Spt.DataBuffer = Length == 0 ? nullptr : Data;
    block.Spt.SenseInfoOffset = offsetof(TPassThroughBlock, Sense);
    std::copy(Cdb.begin(), Cdb.end(), block.Spt.Cdb);

    DWORD returned = 0;
    TScsiResult result;
    result.Transported = DeviceIoControl(Handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block,
                                         sizeof block, &block, sizeof block, &returned,
                                         nullptr) != 0;
    result.ScsiStatus = block.Spt.ScsiStatus;
    if (result.Transported && result.ScsiStatus != 0) {
      const std::size_t senseLength = std::min<std::size_t>(block.Spt.SenseInfoLength, sizeof block.Sense);
      DecodeSense(std::span<const std::uint8_t>(block.Sense, senseLength), result);
    }
    return result;
  }

  HANDLE Handle;
};

}  // namespace

std::unique_ptr<TScsiDevice> OpenScsiDevice(const std::string& Path)
{
  const HANDLE handle = CreateFileA(Path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<TPassThroughDevice>(handle);
}

}  // namespace kx
