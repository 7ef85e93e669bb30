// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/kxReplaceFile.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <utility>

namespace kx {

namespace {

// Errors reported with no number stand for an I/O error rather than for success.
int ErrorNumber() { return errno != 0 ? errno : EIO; }

}  // namespace

TkxReplacement::TkxReplacement(const std::string& Target_) : Target(Target_)
{
  static std::atomic<unsigned> serial{0};
  const std::filesystem::path target(Target);
  const std::string base = target.filename().string().substr(0, 200);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name =
        "." + base + "." + std::to_string(os::ProcessId()) + "-" + std::to_string(serial++) + ".tmp";
    Name = (target.parent_path() / name).string();
    errno = 0;
    File = os::CreateNew(Name);
    if (File != os::NoFileHandle) {
      Pending.emplace(Name);
      return;
    }
    if (errno != EEXIST) break;
  }
  CreateError = ErrorNumber();
}

TkxReplacement::~TkxReplacement()
{
  if (File != os::NoFileHandle) os::Close(std::exchange(File, os::NoFileHandle));
  if (CreateError == 0 && !Committed) {
    std::error_code ec;
    std::filesystem::remove(Name, ec);
  }
}

int TkxReplacement::Commit()
{
  if (CreateError != 0) return CreateError;
  errno = 0;
  if (!os::Sync(File)) return ErrorNumber();
  errno = 0;
  if (!os::Close(std::exchange(File, os::NoFileHandle))) return ErrorNumber();
  errno = 0;
  if (!os::Replace(Name, Target)) return ErrorNumber();
  Committed = true;
  return 0;
}

int ReplaceFileWithText(const std::string& Target, std::string_view Text)
{
  TkxReplacement file(Target);
  if (file.Error() != 0) return file.Error();
  errno = 0;
  if (!os::Write(file.Handle(), reinterpret_cast<const std::uint8_t*>(Text.data()),
                 static_cast<std::int64_t>(Text.size())))
    return ErrorNumber();
  return file.Commit();
}

}  // namespace kx
