#include "cli/Commands.h"

#include <cstdio>
#include <exception>
#include <new>

int main(int argc, char** argv)
{
  CLI::App app{"Tessarin recovers lost files from CD and DVD media and disc images.", "tessarin-cli"};
  app.require_subcommand(1);
  int status = 0;
  kx::cli::AddProjectCommands(app, status);
  kx::cli::AddRecognitionCommands(app, status);
  kx::cli::AddMediaCommands(app, status);
  kx::cli::AddDriveCommands(app, status);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "tessarin-cli: out of memory\n");
    return 1;
  } catch (const std::exception& e) {
    // A command meets only the errors it expects; anything else is still reported, never an abort.
    std::fprintf(stderr, "tessarin-cli: %s\n", e.what());
    return 1;
  } catch (...) {
    std::fprintf(stderr, "tessarin-cli: unexpected error\n");
    return 1;
  }
  return status;
}
