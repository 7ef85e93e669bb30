// SPDX-License-Identifier: GPL-3.0-or-later
// The core's system calls on Windows. Paths and labels are byte strings in the ANSI code page, as
// everywhere in the program, so the ANSI (A) functions take them.
#include "common/kxPlatform.h"

#include "common/kxDrivePaths.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>

namespace kx {

namespace {

// The C library's number for a system error, so that the core's messages and decisions (a full
// disk, a name taken) are the same on every platform.
int ErrnoOf(DWORD Error)
{
  switch (Error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
      return EACCES;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILE_TOO_LARGE: return EFBIG;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_INVALID_HANDLE: return EBADF;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    default: return EIO;
  }
}

// Every failing call ends here, so that errno holds its reason.
void TakeLastError() { errno = ErrnoOf(GetLastError()); }

HANDLE Native(os::TFileHandle Handle) { return reinterpret_cast<HANDLE>(Handle); }

os::TFileHandle Opened(HANDLE Handle)
{
  if (Handle == INVALID_HANDLE_VALUE) {
    TakeLastError();
    return os::NoFileHandle;
  }
  return reinterpret_cast<os::TFileHandle>(Handle);
}

// ReadFile and WriteFile count in DWORD; 1 GiB per call stays well inside it.
DWORD Step(std::int64_t Remaining) { return static_cast<DWORD>(std::min<std::int64_t>(Remaining, std::int64_t{1} << 30)); }

bool SeekTo(HANDLE Handle, std::int64_t Offset)
{
  LARGE_INTEGER to;
  to.QuadPart = Offset;
  return SetFilePointerEx(Handle, to, nullptr, FILE_BEGIN) != 0;
}

}  // namespace

namespace os {

// Others may read, write, rename or delete the file meanwhile, as on Linux: a project being read
// must not stop another program's save from replacing it.
TFileHandle OpenRead(const std::string& Path)
{
  return Opened(CreateFileA(Path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// CREATE_NEW fails for any existing name, a symbolic link included, and never follows one.
TFileHandle CreateNew(const std::string& Path)
{
  return Opened(CreateFileA(Path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
}

TFileHandle OpenWrite(const std::string& Path)
{
  return Opened(CreateFileA(Path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
}

bool Close(TFileHandle Handle) noexcept
{
  if (CloseHandle(Native(Handle)) != 0) return true;
  TakeLastError();
  return false;
}

TFileStatus Status(TFileHandle Handle)
{
  const DWORD type = GetFileType(Native(Handle));
  if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) {
    TakeLastError();
    return {};
  }
  if (type != FILE_TYPE_DISK) return {TFileKind::Other, 0};
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(Native(Handle), &info) == 0) {
    TakeLastError();
    return {};
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return {TFileKind::Directory, 0};
  return {TFileKind::Regular, (static_cast<std::int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow};
}

std::int64_t Size(TFileHandle Handle)
{
  LARGE_INTEGER end;
  if (SetFilePointerEx(Native(Handle), LARGE_INTEGER{}, &end, FILE_END) != 0) return end.QuadPart;
  // A volume or disc opened as an image does not seek to its end; it tells its length instead.
  GET_LENGTH_INFORMATION length;
  DWORD returned = 0;
  if (DeviceIoControl(Native(Handle), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned,
                      nullptr) != 0)
    return length.Length.QuadPart;
  TakeLastError();
  return -1;
}

std::int64_t ReadAt(TFileHandle Handle, std::uint8_t* Buffer, std::int64_t Count, std::int64_t Offset)
{
  std::int64_t done = 0;
  while (done < Count) {
    DWORD got = 0;
    if (!SeekTo(Native(Handle), Offset + done) || ReadFile(Native(Handle), Buffer + done, Step(Count - done), &got, nullptr) == 0) {
      TakeLastError();
      break;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

std::int64_t Read(TFileHandle Handle, std::uint8_t* Buffer, std::int64_t Count)
{
  DWORD got = 0;
  if (ReadFile(Native(Handle), Buffer, Step(Count), &got, nullptr) != 0) return got;
  // A pipe whose writer has gone has simply ended.
  if (GetLastError() == ERROR_BROKEN_PIPE) return 0;
  TakeLastError();
  return -1;
}

bool Write(TFileHandle Handle, const std::uint8_t* Buffer, std::int64_t Count)
{
  std::int64_t done = 0;
  while (done < Count) {
    DWORD put = 0;
    if (WriteFile(Native(Handle), Buffer + done, Step(Count - done), &put, nullptr) == 0) {
      TakeLastError();
      return false;
    }
    done += put;
  }
  return true;
}

bool WriteAt(TFileHandle Handle, const std::uint8_t* Buffer, std::int64_t Count, std::int64_t Offset)
{
  if (!SeekTo(Native(Handle), Offset)) {
    TakeLastError();
    return false;
  }
  return Write(Handle, Buffer, Count);
}

// The bytes a file gains by SetEndOfFile read as zeros.
bool Resize(TFileHandle Handle, std::int64_t Size)
{
  if (SeekTo(Native(Handle), Size) && SetEndOfFile(Native(Handle)) != 0) return true;
  TakeLastError();
  return false;
}

bool Sync(TFileHandle Handle)
{
  if (FlushFileBuffers(Native(Handle)) != 0) return true;
  TakeLastError();
  return false;
}

bool RemoveFile(const char* Path) noexcept { return DeleteFileA(Path) != 0; }

// Opening for writing tests what a write would meet: the read-only attribute, the file's access
// list, another program holding it without sharing. Opening an existing file changes nothing.
bool CanWrite(const std::string& Path)
{
  const TFileHandle handle = Opened(CreateFileA(Path.c_str(), GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (handle == NoFileHandle) return false;
  CloseHandle(Native(handle));
  return true;
}

// Without MOVEFILE_REPLACE_EXISTING the move fails where the name is taken.
bool RenameNoReplace(const std::string& From, const std::string& To)
{
  if (MoveFileExA(From.c_str(), To.c_str(), MOVEFILE_WRITE_THROUGH) != 0) return true;
  TakeLastError();
  return false;
}

// ReplaceFileA gives the new file the replaced file's attributes and access list itself.
bool KeepAttributes(TFileHandle, const std::string&) { return true; }

bool Replace(const std::string& From, const std::string& To)
{
  if (GetFileAttributesA(To.c_str()) != INVALID_FILE_ATTRIBUTES) {
    if (ReplaceFileA(To.c_str(), From.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0)
      return true;
    // A file that vanished in the meantime is no longer there to replace; anything else is a failure.
    if (GetLastError() != ERROR_FILE_NOT_FOUND) {
      TakeLastError();
      return false;
    }
  }
  if (MoveFileExA(From.c_str(), To.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) return true;
  TakeLastError();
  return false;
}

bool IsDiskFull(int Error) { return Error == ENOSPC; }

std::uint32_t ProcessId() { return GetCurrentProcessId(); }

bool ProcessRunning(std::uint32_t Id)
{
  const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, Id);
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

std::string ProgramFilePath()
{
  // The path may be longer than MAX_PATH; a result that fills the buffer may have been cut.
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return std::string(path.data(), n);
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace os

std::string DriveDevicePath(char Drive) { return WindowsDrivePath(Drive); }

bool IsOpticalDrive(char Letter)
{
  const std::string device = WindowsDrivePath(Letter);
  if (device.empty()) return false;
  const std::string root = device.substr(4) + "\\";
  return GetDriveTypeA(root.c_str()) == DRIVE_CDROM;
}

std::optional<std::string> ReadVolumeLabel(const std::string& DevicePath)
{
  // Only a drive's volume has a label here: "\\.\D:" is read through its root folder "D:\".
  if (DevicePath.size() != 6 || DevicePath.compare(0, 4, "\\\\.\\") != 0 || DevicePath[5] != ':')
    return std::nullopt;
  const std::string root = DevicePath.substr(4) + "\\";
  char label[MAX_PATH + 1] = {};
  // An empty drive would otherwise ask the user to insert a disc.
  DWORD oldMode = 0;
  const bool quiet = SetThreadErrorMode(SEM_FAILCRITICALERRORS, &oldMode) != 0;
  const bool read = GetVolumeInformationA(root.c_str(), label, static_cast<DWORD>(sizeof label), nullptr, nullptr, nullptr, nullptr, 0) != 0;
  if (quiet) SetThreadErrorMode(oldMode, nullptr);
  if (!read) return std::nullopt;
  return std::string(label);
}

}  // namespace kx
