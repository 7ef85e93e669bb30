#include "cli/Commands.h"

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
  }
  return status;
}
