// SPDX-License-Identifier: GPL-3.0-or-later
// A file system of a few KiB, for tests of a full disk: a tmpfs mounted on a scratch folder of
// its own, so that tests running in parallel never share one. Mounting needs root; a test
// without it skips itself with the reason.
#pragma once

#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/mount.h>

namespace kx::test {

class TSmallFileSystem {
 public:
  explicit TSmallFileSystem(std::size_t Bytes)
  {
    const std::string options = "size=" + std::to_string(Bytes) + ",mode=0755";
    Mounted = ::mount("tmpfs", Folder.Path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    if (!Mounted) Error = std::strerror(errno);
  }
  // Detached, so that a file still open after a failed check cannot keep the mount in place.
  ~TSmallFileSystem()
  {
    if (Mounted) ::umount2(Folder.Path.c_str(), MNT_DETACH);
  }
  TSmallFileSystem(const TSmallFileSystem&) = delete;
  TSmallFileSystem& operator=(const TSmallFileSystem&) = delete;

  std::string Dir() const { return Folder.Dir(); }
  std::string operator/(std::string_view Name) const { return Folder / Name; }

  // Declared first: mounted on, and removed after the unmount.
  TScratchFolder Folder;
  bool Mounted = false;
  std::string Error;
};

}  // namespace kx::test

// Skips the running test when the small file system could not be mounted.
#define KX_REQUIRE_MOUNTED(fs)                                                              \
  do {                                                                                      \
    if (!(fs).Mounted) GTEST_SKIP() << "cannot mount a small tmpfs here: " << (fs).Error;   \
  } while (false)
