// Each group of sub-commands adds itself to the application. A command's callback stores the
// process exit status in Status: 0 on success, 1 on failure.
#pragma once

#include <CLI/CLI.hpp>

namespace kx::cli {

// scan LOCATION, list PROJECT, extract PROJECT -d DIR: from a medium to a project file to
// recovered files.
void AddProjectCommands(CLI::App& App, int& Status);

// drives, image
void AddDriveCommands(CLI::App& App, int& Status);

// rescue DRIVE TARGET [--scrape] [--retry N]
void AddRescueCommands(CLI::App& App, int& Status);

// Accepts a drive name whose first character is a letter ("E:").
CLI::Validator DriveNameValidator();

// identify FILE...: the kind, size and name that the scan would give each file's first sector.
// kinds: the kind table.
void AddRecognitionCommands(CLI::App& App, int& Status);

// info LOCATION: the layout, parts and size of an image or drive.
void AddMediaCommands(CLI::App& App, int& Status);

}  // namespace kx::cli
