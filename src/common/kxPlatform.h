// SPDX-License-Identifier: GPL-3.0-or-later
// What the core asks of the operating system: open files, the atomic replacement of a file, the
// running program's own file, and the optical drives. One source file per platform implements it
// (kxPlatform_linux.cpp, kxPlatform_windows.cpp) and CMake builds the one for the target, as it
// does for the SCSI transport; every other core file is free of system headers.
//
// A call that fails returns false, -1 or NoFileHandle and leaves the C library's error number
// (ENOENT, EACCES, ENOSPC, ...) in errno, on Windows too, so that the core words errors and
// decides on them once for every platform.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kx {

namespace os {

// An open file or device: a descriptor on Linux, a HANDLE on Windows.
using TFileHandle = std::intptr_t;
inline constexpr TFileHandle NoFileHandle = -1;

// BlockDevice: a disk, a loop device or a disc in its drive, read like a file.
enum class TFileKind : std::uint8_t { Unknown, Regular, Directory, BlockDevice, Other };

struct TFileStatus {
  TFileKind Kind = TFileKind::Unknown;  // Unknown when the file could not be examined
  std::int64_t Size = 0;                // of a regular file
};

// Opens for reading without ever waiting: a named pipe opens at once instead of waiting for a
// writer, and an empty drive's device opens too.
TFileHandle OpenRead(const std::string& Path);
// Creates a new empty file for writing. Fails with EEXIST when anything has the name already, a
// symbolic link included, whether or not it points anywhere: nothing is ever written through one.
TFileHandle CreateNew(const std::string& Path);
// Opens an existing file for writing, keeping what it holds (an image that a rescue continues).
TFileHandle OpenWrite(const std::string& Path);
// False when the system reported an error on closing (which some file systems keep for then).
bool Close(TFileHandle Handle) noexcept;

TFileStatus Status(TFileHandle Handle);
// The size found by seeking to the end, so that a device (a loop device, a disc) measures like a
// file; -1 on failure.
std::int64_t Size(TFileHandle Handle);
// Reads from Offset until Count bytes, the end of the file or an error; returns the bytes read.
std::int64_t ReadAt(TFileHandle Handle, std::uint8_t* Buffer, std::int64_t Count, std::int64_t Offset);
// Reads the next bytes, at most Count: the number read, 0 at the end of the file, -1 on error.
std::int64_t Read(TFileHandle Handle, std::uint8_t* Buffer, std::int64_t Count);
// Writes all Count bytes, or fails.
bool Write(TFileHandle Handle, const std::uint8_t* Buffer, std::int64_t Count);
// Writes all Count bytes at Offset, or fails.
bool WriteAt(TFileHandle Handle, const std::uint8_t* Buffer, std::int64_t Count, std::int64_t Offset);
// Makes the file Size bytes long; bytes it gains read as zeros.
bool Resize(TFileHandle Handle, std::int64_t Size);
// Returns once every byte written is stored on the disk.
bool Sync(TFileHandle Handle);

// Removes the file at Path, with one system call and no allocation, so that a signal handler may
// call it. False when it could not.
bool RemoveFile(const char* Path) noexcept;

// Whether the existing file at Path may be written by this process.
bool CanWrite(const std::string& Path);
// Gives the new file the permissions, and where allowed the owner, of the file at Path, so that
// replacing it changes neither. True when there is nothing to carry over.
bool KeepAttributes(TFileHandle New, const std::string& Path);
// Puts the closed file From in To's place in one step: a reader of To meets the old file or the
// new one, never a part of either and never nothing.
bool Replace(const std::string& From, const std::string& To);
// Gives the closed file From the name To only where nothing has that name: fails with EEXIST
// when anything does, so that a finished file never replaces one that came in the meantime.
bool RenameNoReplace(const std::string& From, const std::string& To);

// Whether an error number means that the disk, or the user's quota on it, is full.
bool IsDiskFull(int Error);

// Of the running program: a number no other running process has, and the path of its program
// file ("" when it cannot be found).
std::uint32_t ProcessId();
// Whether a process of that number runs now (one of another user's included).
bool ProcessRunning(std::uint32_t Id);
std::string ProgramFilePath();

}  // namespace os

// The device path of a drive letter, either case ("" for a letter that cannot be a drive):
// /dev/sr0 for D: on Linux, \\.\D: on Windows.
std::string DriveDevicePath(char Drive);

// Whether this machine has an optical drive of that letter.
bool IsOpticalDrive(char Letter);

// The volume label of the file system on a device, named as DriveDevicePath names it; "" for a
// file system without a label; nothing when no file system can be read (no disc, unreadable,
// unknown format). Linux reads it from an image file as well.
std::optional<std::string> ReadVolumeLabel(const std::string& DevicePath);

}  // namespace kx
