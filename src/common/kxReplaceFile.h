// SPDX-License-Identifier: GPL-3.0-or-later
// Replacing a file the safe way, as every save does (a project, a report, a rescue map): the new
// file is written under a hidden name beside its target and renamed over it only once every byte
// is stored, so that a failed or interrupted save leaves the previous file byte for byte as it
// was and two saves at once leave one whole file. Until then the new file is registered as
// pending (TkxPendingFile): a second Ctrl+C removes it rather than leaving it behind.
#pragma once

#include "common/kxPendingFiles.h"
#include "common/kxPlatform.h"

#include <optional>
#include <string>
#include <string_view>

namespace kx {

class TkxReplacement {
 public:
  // Creates the new file beside Target: ".NAME.PID-SERIAL.tmp" in Target's folder. Error() tells
  // whether that failed.
  explicit TkxReplacement(const std::string& Target);
  // Closes the new file and removes it unless it became the target.
  ~TkxReplacement();
  TkxReplacement(const TkxReplacement&) = delete;
  TkxReplacement& operator=(const TkxReplacement&) = delete;

  // The system's error number when the new file could not be created; 0 when it was.
  int Error() const { return CreateError; }
  os::TFileHandle Handle() const { return File; }
  const std::string& TemporaryName() const { return Name; }

  // Stores every byte on the disk, closes the new file and puts it in the target's place. A full
  // disk shows in a write, or only in the sync or the close on some file systems. Returns 0, or
  // the error number of what failed; the new file is then removed.
  int Commit();

 private:
  std::string Target;
  std::string Name;
  os::TFileHandle File = os::NoFileHandle;
  int CreateError = 0;
  std::optional<TkxPendingFile> Pending;
  bool Committed = false;
};

// Replaces Target with a file holding Text, as TkxReplacement does. Returns 0, or the error
// number of what failed; Target is then as it was.
int ReplaceFileWithText(const std::string& Target, std::string_view Text);

}  // namespace kx
