// SPDX-License-Identifier: GPL-3.0-or-later
// The core's system calls on Linux: POSIX files, /proc for the program file, sysfs for the
// drives and libblkid for their labels.
#include "common/kxPlatform.h"

#include "common/kxDrivePaths.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <system_error>

#include <blkid.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kx {

namespace os {

namespace {

// One read or write moves at most 1 GiB: Linux moves at most about 2 GiB per call anyway, and the
// count must fit the call's size type.
constexpr std::int64_t MaxStep = std::int64_t{1} << 30;

std::size_t Step(std::int64_t Remaining) { return static_cast<std::size_t>(std::min(Remaining, MaxStep)); }

}  // namespace

// Without O_NONBLOCK a named pipe would block the open until a writer came, and an empty drive
// would refuse to open (ENOMEDIUM); files and block devices read the same either way.
TFileHandle OpenRead(const std::string& Path) { return ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); }

// O_EXCL also refuses to follow a symbolic link at the name.
TFileHandle CreateNew(const std::string& Path)
{
  return ::open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

TFileHandle OpenWrite(const std::string& Path) { return ::open(Path.c_str(), O_WRONLY | O_CLOEXEC); }

bool Close(TFileHandle Handle) noexcept { return ::close(static_cast<int>(Handle)) == 0; }

TFileStatus Status(TFileHandle Handle)
{
  struct stat st {};
  if (::fstat(static_cast<int>(Handle), &st) != 0) return {};
  if (S_ISREG(st.st_mode)) return {TFileKind::Regular, st.st_size};
  if (S_ISBLK(st.st_mode)) return {TFileKind::BlockDevice, 0};
  return {S_ISDIR(st.st_mode) ? TFileKind::Directory : TFileKind::Other, 0};
}

std::int64_t Size(TFileHandle Handle) { return ::lseek(static_cast<int>(Handle), 0, SEEK_END); }

std::int64_t ReadAt(TFileHandle Handle, std::uint8_t* Buffer, std::int64_t Count, std::int64_t Offset)
{
  std::int64_t done = 0;
  while (done < Count) {
    const ssize_t got = ::pread(static_cast<int>(Handle), Buffer + done, Step(Count - done), static_cast<off_t>(Offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += got;
  }
  return done;
}

std::int64_t Read(TFileHandle Handle, std::uint8_t* Buffer, std::int64_t Count)
{
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(Handle), Buffer, Step(Count));
    if (got >= 0 || errno != EINTR) return got;
  }
}

bool Write(TFileHandle Handle, const std::uint8_t* Buffer, std::int64_t Count)
{
  std::int64_t done = 0;
  while (done < Count) {
    const ssize_t put = ::write(static_cast<int>(Handle), Buffer + done, Step(Count - done));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return false;
    done += put;
  }
  return true;
}

bool WriteAt(TFileHandle Handle, const std::uint8_t* Buffer, std::int64_t Count, std::int64_t Offset)
{
  std::int64_t done = 0;
  while (done < Count) {
    const ssize_t put =
        ::pwrite(static_cast<int>(Handle), Buffer + done, Step(Count - done), static_cast<off_t>(Offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return false;
    done += put;
  }
  return true;
}

bool Resize(TFileHandle Handle, std::int64_t Size) { return ::ftruncate(static_cast<int>(Handle), static_cast<off_t>(Size)) == 0; }

bool Sync(TFileHandle Handle) { return ::fsync(static_cast<int>(Handle)) == 0; }

bool RemoveFile(const char* Path) noexcept { return ::unlink(Path) == 0; }

bool CanWrite(const std::string& Path) { return ::access(Path.c_str(), W_OK) == 0; }

bool KeepAttributes(TFileHandle New, const std::string& Path)
{
  struct stat st {};
  if (::stat(Path.c_str(), &st) != 0) return true;
  if (::fchmod(static_cast<int>(New), st.st_mode & 07777) != 0) return false;
  // Only the superuser may give a file away; anyone else keeps the file as their own.
  [[maybe_unused]] const int owned = ::fchown(static_cast<int>(New), st.st_uid, st.st_gid);
  return true;
}

bool Replace(const std::string& From, const std::string& To) { return ::rename(From.c_str(), To.c_str()) == 0; }

bool RenameNoReplace(const std::string& From, const std::string& To)
{
  if (::renameat2(AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag (NFS): a hard link claims the name exclusively as well.
  if (::link(From.c_str(), To.c_str()) == 0) {
    ::unlink(From.c_str());
    return true;
  }
  if (errno != EPERM && errno != EOPNOTSUPP) return false;
  // Nor hard links (some FUSE file systems): a look, then a rename that a program taking the
  // name in between would lose its file to; the best such a file system allows.
  struct stat st {};
  if (::lstat(To.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(From.c_str(), To.c_str()) == 0;
}

bool IsDiskFull(int Error) { return Error == ENOSPC || Error == EDQUOT; }

std::uint32_t ProcessId() { return static_cast<std::uint32_t>(::getpid()); }

bool ProcessRunning(std::uint32_t Id)
{
  if (Id == 0 || Id > static_cast<std::uint32_t>(std::numeric_limits<pid_t>::max())) return false;
  return ::kill(static_cast<pid_t>(Id), 0) == 0 || errno == EPERM;
}

std::string ProgramFilePath()
{
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

}  // namespace os

std::string DriveDevicePath(char Drive) { return LinuxDrivePath(Drive); }

// The kernel lists every block device in sysfs, an optical drive as srN, whether or not it
// holds a disc.
bool IsOpticalDrive(char Letter)
{
  const std::string device = LinuxDrivePath(Letter);
  if (device.empty()) return false;
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::path("/sys/class/block") / std::filesystem::path(device).filename(), ec);
}

std::optional<std::string> ReadVolumeLabel(const std::string& DevicePath)
{
  // An empty drive opens too; the probe then finds nothing to read.
  const os::TFileHandle fd = os::OpenRead(DevicePath);
  if (fd == os::NoFileHandle) return std::nullopt;
  std::optional<std::string> label;
  if (blkid_probe probe = blkid_new_probe()) {
    if (blkid_probe_set_device(probe, static_cast<int>(fd), 0, 0) == 0) {
      blkid_probe_enable_superblocks(probe, 1);
      blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE);
      int found = blkid_do_safeprobe(probe);
      if (found == -2) {
        // Several file systems answer (a bridge disc carries ISO 9660 and UDF): take the first.
        blkid_reset_probe(probe);
        found = blkid_do_probe(probe);
      }
      if (found == 0) {
        const char* value = nullptr;
        std::size_t length = 0;
        if (blkid_probe_lookup_value(probe, "LABEL", &value, &length) == 0 && value)
          label = std::string(value);
        else
          label = std::string();
      }
    }
    blkid_free_probe(probe);
  }
  os::Close(fd);
  return label;
}

}  // namespace kx
