// SPDX-License-Identifier: GPL-3.0-or-later
// SCSI transport over the Linux SCSI generic interface (SG_IO on /dev/srN).
#include "media/CdRom.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kx {

namespace {

class TSgDevice final : public TScsiDevice {
 public:
  explicit TSgDevice(int Fd_) : Fd(Fd_) {}
  ~TSgDevice() override { ::close(Fd); }
  TSgDevice(const TSgDevice&) = delete;
  TSgDevice& operator=(const TSgDevice&) = delete;

  TScsiResult SendCdb(std::span<const std::uint8_t> Cdb, std::span<std::uint8_t> DataIn,
                      std::chrono::seconds Timeout) override
  {
    return Send(Cdb, DataIn.empty() ? SG_DXFER_NONE : SG_DXFER_FROM_DEV, DataIn.data(), DataIn.size(), Timeout);
  }

  TScsiResult SendCdbOut(std::span<const std::uint8_t> Cdb, std::span<const std::uint8_t> DataOut,
                         std::chrono::seconds Timeout) override
  {
    // SG_IO only reads from a data-out buffer, whatever its pointer's type says.
    return Send(Cdb, DataOut.empty() ? SG_DXFER_NONE : SG_DXFER_TO_DEV, const_cast<std::uint8_t*>(DataOut.data()),
                DataOut.size(), Timeout);
  }

 private:
  TScsiResult Send(std::span<const std::uint8_t> Cdb, int Direction, std::uint8_t* Data, std::size_t Length,
                   std::chrono::seconds Timeout)
  {
    unsigned char cdb[16] = {};
    unsigned char sense[SenseLength] = {};
    if (Cdb.size() > sizeof cdb) return {};
    std::copy(Cdb.begin(), Cdb.end(), cdb);

    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.cmdp = cdb;
    io.cmd_len = static_cast<unsigned char>(Cdb.size());
    io.sbp = sense;
    io.mx_sb_len = sizeof sense;
    io.dxfer_direction = Direction;
    io.dxfer_len = static_cast<unsigned int>(Length);
    io.dxferp = Length == 0 ? nullptr : Data;
    io.timeout = static_cast<unsigned int>(Timeout.count() * 1000);

    int rc;
    do {
      rc = ::ioctl(Fd, SG_IO, &io);
    } while (rc < 0 && errno == EINTR);

    // SG_IO returns 0 even when the command failed; the outcome is in the header. A CHECK
    // CONDITION comes back with DRIVER_SENSE set, which still counts as transported.
    constexpr unsigned DriverSense = 0x08;
    TScsiResult result;
    result.Transported = rc == 0 && io.host_status == 0 && (io.driver_status & ~DriverSense) == 0;
    result.ScsiStatus = io.status;
    if (result.Transported && io.status == 0 && (io.driver_status != 0 || io.masked_status != 0))
      result.Transported = false;
    if (result.Transported && io.status != 0)
      DecodeSense(std::span<const std::uint8_t>(sense, std::min<std::size_t>(io.sb_len_wr, sizeof sense)), result);
    return result;
  }

  int Fd;
};

}  // namespace

std::unique_ptr<TScsiDevice> OpenScsiDevice(const std::string& Path)
{
  // O_NONBLOCK: without it an empty drive refuses to open (ENOMEDIUM) and a pressed disc
  // refuses a read-write open (EROFS). Read-only is enough for SG_IO reads where write access
  // is not granted.
  int fd = ::open(Path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && (errno == EROFS || errno == EACCES || errno == EPERM))
    fd = ::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_unique<TSgDevice>(fd);
}

}  // namespace kx
