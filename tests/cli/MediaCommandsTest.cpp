#include "common/kxShared.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace kx {
namespace {

namespace fs = std::filesystem;

struct TRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

std::string ReadText(const fs::path& Name)
{
  std::ifstream in(Name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class InfoCommand : public testing::Test {
 protected:
  InfoCommand() : Folder(fs::temp_directory_path() / ("MediaCommandsTest-" + std::to_string(::getpid())))
  {
    fs::create_directories(Folder);
  }
  ~InfoCommand() override
  {
    std::error_code ec;
    fs::remove_all(Folder, ec);
  }

  void WriteImage(const std::string& Name, std::vector<unsigned char> Bytes)
  {
    std::ofstream out(Folder / Name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
  }

  TRun Info(const std::string& Location)
  {
    const char* cli = std::getenv("KX_CLI");
    if (!cli) ADD_FAILURE() << "KX_CLI is not set";
    const std::string command = std::string("'") + (cli ? cli : "false") + "' info '" + Location + "' >'" +
                                (Folder / "out").string() + "' 2>'" + (Folder / "err").string() + "'";
    TRun run;
    const int raw = std::system(command.c_str());
    run.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.Out = ReadText(Folder / "out");
    run.Err = ReadText(Folder / "err");
    return run;
  }

  fs::path Folder;
};

TEST_F(InfoCommand, ShowsLayoutPartsSectorsAndSize)
{
  std::vector<unsigned char> first(2352 * 600, 0);
  for (std::size_t s = 0; s < 600; ++s) {
    for (std::size_t i = 1; i <= 10; ++i) first[s * 2352 + i] = 0xFF;
    first[s * 2352 + 15] = 2;
  }
  WriteImage("disc.bin", first);
  WriteImage("disc.bin02", std::vector<unsigned char>(2352 * 200 + 5, 0));
  const std::string base = (Folder / "disc.bin").string();
  const TRun run = Info(base);
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "Layout: raw mode 2 (2352-byte sectors)\n"
                     "Part 1: " + base + " (1411200 bytes)\n"
                     "Part 2: " + base + "02 (470405 bytes)\n"
                     "Sectors: 800\n"
                     "Size: 1.56 MiB\n");
  EXPECT_EQ(run.Err, "");
}

TEST_F(InfoCommand, ReportsTheMountMessageForWhatCannotBeOpened)
{
  WriteImage("short.iso", std::vector<unsigned char>(10, 0));
  for (const std::string& location : {(Folder / "missing.iso").string(), (Folder / "short.iso").string()}) {
    const TRun run = Info(location);
    EXPECT_EQ(run.Status, 1) << location;
    EXPECT_EQ(run.Out, "") << location;
    EXPECT_EQ(run.Err, std::string(MountErrorMessage) + "\n") << location;
  }
}

}  // namespace
}  // namespace kx
