// Each group of sub-commands adds itself to the application. A command's callback stores the
// process exit status in Status: 0 on success, 1 on failure.
#pragma once

#include <CLI/CLI.hpp>

namespace kx::cli {

// info LOCATION: the layout, parts and size of an image or drive.
void AddMediaCommands(CLI::App& App, int& Status);

}  // namespace kx::cli
