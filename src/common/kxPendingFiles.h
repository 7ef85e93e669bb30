// SPDX-License-Identifier: GPL-3.0-or-later
// Files being written that the program must not leave behind when it is ended in the middle: the
// new file of a save (a project, a report, a rescue map: TkxReplacement), which is renamed over the
// old one only when complete, and a file being extracted. The command line lets a second Ctrl+C (or SIGTERM) end the program
// at once; its signal handler removes these files first, so their names are kept where a signal
// handler may read them: fixed slots, claimed and released with lock-free atomics.
#pragma once

#include <string>

namespace kx {

// Registers FileName, for as long as the object lives, as a file to remove should the program
// be ended. A name that does not fit a slot, or a moment with every slot taken, goes
// unregistered: the file is then only left behind, as it would have been anyway.
class TkxPendingFile {
 public:
  explicit TkxPendingFile(const std::string& FileName) noexcept;
  ~TkxPendingFile();
  TkxPendingFile(const TkxPendingFile&) = delete;
  TkxPendingFile& operator=(const TkxPendingFile&) = delete;

 private:
  int Slot = -1;
};

// Removes every file registered at this moment. Safe in a signal handler: it reads the slots with
// atomic loads and removes with one system call each.
void RemovePendingFiles() noexcept;

}  // namespace kx
