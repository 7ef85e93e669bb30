// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "common/kxVersion.h"
#include "recognition/kxStructure.h"

#include <cstdio>
#include <exception>
#include <new>
#include <string>

namespace {

constexpr const char* HelpFooter = R"(Exit status:
  0    success
  1    something failed: a file could not be read or written, a medium could not be opened,
       a scan or extraction left files out, an image or a rescue left unreadable sectors
  2    the command line was wrong
  130  stopped by Ctrl+C (what was done is kept)

Examples:
  tessarin-cli scan disc.iso                          find lost files, write disc.iso.kx
  tessarin-cli list disc.iso.kx --long --ext jpg,png  what was found, with kind and family
  tessarin-cli extract disc.iso.kx -d out --grouped --min-size 10000

"tessarin-cli COMMAND --help" describes a command.
)";

// The first word that is not an option: what the user meant as the command.
std::string FirstWord(int argc, char** argv)
{
  for (int i = 1; i < argc; ++i)
    if (argv[i][0] != '-') return argv[i];
  return {};
}

// The first option before any command; the program's own take no values, so any is wrong here.
std::string FirstOption(int argc, char** argv) { return argc > 1 && argv[1][0] == '-' ? argv[1] : ""; }

bool IsCommand(const CLI::App& App, const std::string& Word)
{
  try {
    return App.get_subcommand(Word) != nullptr;
  } catch (const CLI::OptionNotFound&) {
    return false;
  }
}

// A usage error as GNU programs give it: what was wrong, where help is, and status 2.
int UsageError(const CLI::App& App, const CLI::ParseError& Error, int argc, char** argv)
{
  using namespace kx::cli;
  using kx::Escaped;
  std::string where(ProgramName);
  const auto parsed = App.get_subcommands();
  if (parsed.empty()) {
    const std::string word = FirstWord(argc, argv);
    const std::string option = FirstOption(argc, argv);
    if (word.empty() && !option.empty())
      Report("unrecognized option '" + Escaped(option) + "'");
    else if (word.empty())
      Report("no command given");
    else if (!IsCommand(App, word))
      Report("unknown command '" + Escaped(word) + "'");
    else
      Report(Escaped(Error.what()));
  } else {
    where += " " + parsed.front()->get_name();
    Report(Escaped(Error.what()));
  }
  std::fprintf(stderr, "Try '%s --help' for more information.\n", where.c_str());
  return ExitUsage;
}

}  // namespace

int main(int argc, char** argv)
{
  using namespace kx::cli;
  using kx::Escaped;
  RecordInvocation(argc, argv);
  CLI::App app{"Tessarin recovers lost files from CD and DVD media and disc images.", std::string(ProgramName)};
  app.set_version_flag("--version", std::string(ProgramName) + " " + kx::ProgramVersion + "\nDecoders: " +
                                            kx::DecoderNames(kx::BuiltDecoders()) + "\n" + kx::LicenceNotice,
                       "Print the version and exit");
  app.require_subcommand(1);
  app.footer(HelpFooter);
  int status = 0;
  AddProjectCommands(app, status);
  AddCheckCommands(app, status);
  AddRecognitionCommands(app, status);
  AddMediaCommands(app, status);
  AddDriveCommands(app, status);
  AddRescueCommands(app, status);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help, --version
  } catch (const CLI::ParseError& e) {
    return UsageError(app, e, argc, argv);
  } catch (const std::bad_alloc&) {
    Report("out of memory");
    return ExitFailure;
  } catch (const std::exception& e) {
    // A command meets only the errors it expects; anything else is still reported, never an abort.
    Report(Escaped(e.what()));
    return ExitFailure;
  } catch (...) {
    Report("unexpected error");
    return ExitFailure;
  }
  return status;
}
