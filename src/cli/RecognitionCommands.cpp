// identify: what the scan would make of the first sector of each file; kinds: the kind table.

#include "cli/CliSupport.h"
#include "cli/Commands.h"
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

// The file's first sector, zero-padded when the file is shorter. False, with the system's reason
// in Error, when the file cannot be opened or read.
bool ReadFirstSector(const std::string& FileName, TSector& Sector, std::string& Error)
{
  Sector.fill(0);
  std::FILE* file = std::fopen(FileName.c_str(), "rb");
  if (file == nullptr) {
    Error = std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  while (done < Sector.size()) {
    const std::size_t got = std::fread(Sector.data() + done, 1, Sector.size() - done, file);
    if (got == 0) break;
    done += got;
  }
  const bool failed = std::ferror(file) != 0;
  const int reason = errno;
  std::fclose(file);
  if (failed) {
    Error = std::strerror(reason);
    return false;
  }
  return true;
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
    std::printf("%s\t%d\t%.*s\t%lld\t%s\t%s\n", fileName.c_str(), entry.Kind, static_cast<int>(ext.size()), ext.data(),
                static_cast<long long>(found.Size), found.Continues ? "true" : "false", entry.Name.c_str());
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
