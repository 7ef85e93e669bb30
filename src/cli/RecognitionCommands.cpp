// SPDX-License-Identifier: GPL-3.0-or-later
// identify: what the scan would make of the first sector of each file; kinds: the kind table.

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "common/kxPlatform.h"
#include "recognition/kxEngine.h"
#include "recognition/kxRecognition.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace kx::cli {

namespace {

// The scan examines blocks of one sector; every sector source delivers 2048-byte sectors.
constexpr std::size_t IdentifySectorSize = 2048;
using TSector = std::array<std::uint8_t, IdentifySectorSize>;

// Reads the first bytes of an open file, as many as Sector holds or the file has.
bool ReadFileStart(os::TFileHandle File, TSector& Sector, std::string& Error)
{
  std::size_t done = 0;
  while (done < Sector.size()) {
    const std::int64_t got = os::Read(File, Sector.data() + done, static_cast<std::int64_t>(Sector.size() - done));
    if (got < 0) {
      Error = std::strerror(errno);
      return false;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

// The file's first sector, zero-padded when the file is shorter. False, with the reason in Error,
// when the file cannot be opened or read, or is not a regular file: a named pipe would block the
// command until a writer came, and a device such as /dev/zero is no file to recognise.
bool ReadFirstSector(const std::string& FileName, TSector& Sector, std::string& Error)
{
  Sector.fill(0);
  const os::TFileHandle file = os::OpenRead(FileName);
  if (file == os::NoFileHandle) {
    Error = std::strerror(errno);
    return false;
  }
  const os::TFileStatus status = os::Status(file);
  const int statusError = errno;
  bool read = false;
  if (status.Kind == os::TFileKind::Unknown)
    Error = std::strerror(statusError);
  else if (status.Kind == os::TFileKind::Directory)
    Error = std::strerror(EISDIR);
  else if (status.Kind != os::TFileKind::Regular)
    Error = "not a regular file";
  else
    read = ReadFileStart(file, Sector, Error);
  os::Close(file);
  return read;
}

int Identify(const std::vector<std::string>& Files)
{
  int status = 0;
  int entries = 0;
  TSector sector;
  for (const std::string& fileName : Files) {
    std::string error;
    if (!ReadFirstSector(fileName, sector, error)) {
      ReportPathError(fileName, error);
      status = 1;
      continue;
    }
    // As the scan names a new entry: by its position in the list, then from its content.
    const TBlockKind found = RecognizeBlock(sector);
    const TkxNewEntry entry = DescribeNewEntry(sector, ++entries, found.Kind);
    const std::string_view ext = KindExtensions[entry.Kind];
    std::printf("%s\t%d\t%.*s\t%lld\t%s\t%s\n", Escaped(fileName).c_str(), entry.Kind, static_cast<int>(ext.size()),
                ext.data(), static_cast<long long>(found.Size), found.Continues ? "true" : "false",
                Escaped(entry.Name).c_str());
  }
  std::fflush(stdout);
  return status;
}

void PrintKinds()
{
  for (int k = 0; k < KindCount; ++k) {
    const std::string_view ext = KindExtensions[k];
    const std::string_view family = KindFamily(static_cast<TKind>(k));
    std::printf("%d\t%.*s\t%.*s\n", k, static_cast<int>(ext.size()), ext.data(), static_cast<int>(family.size()),
                family.data());
  }
}

}  // namespace

void AddRecognitionCommands(CLI::App& App, int& Status)
{
  auto files = std::make_shared<std::vector<std::string>>();
  CLI::App* identify = App.add_subcommand("identify", "Recognise each file's first sector as a scan would");
  identify->footer(
      "The first 2048 bytes of each file (zero-padded when shorter) are recognised as one sector.\n"
      "Output: one tab-separated line per file: file, kind code, extension, size, continues\n"
      "(true/false) and the name the scan would give (numbered from File 000001).");
  identify->add_option("FILE", *files, "Files to identify")->required();
  identify->callback([files, &Status] { Status = Identify(*files); });

  CLI::App* kinds = App.add_subcommand("kinds", "Print the kind table");
  kinds->footer("Output: one tab-separated line per kind: code, extension, family.");
  kinds->callback([&Status] {
    PrintKinds();
    Status = 0;
  });
}

}  // namespace kx::cli
