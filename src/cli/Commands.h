// SPDX-License-Identifier: GPL-3.0-or-later
// Each group of sub-commands adds itself to the application. A command's callback stores the
// process exit status in Status: 0 on success, 1 on failure.
#pragma once

#include "media/kxDisk.h"
#include "found/kxFileList.h"
#include "media/kxImageCopy.h"
#include "recognition/kxCheck.h"

#include <CLI/CLI.hpp>

#include <string>

namespace kx::cli {

// scan LOCATION, list PROJECT, extract PROJECT -d DIR: from a medium to a project file to
// recovered files.
void AddProjectCommands(CLI::App& App, int& Status);

// A project read or written, or the failure said with the path and its reason; a written one
// is announced ("Project written to ...").
bool LoadProjectOrSay(const std::string& FileName, std::string& Location, TkxFileList& List);
bool SaveProjectOrSay(const std::string& FileName, const std::string& Location, const TkxFileList& List);

// check PROJECT: the check of a project's found files against its medium, saved into the project.
void AddCheckCommands(CLI::App& App, int& Status);

// The check of a scan's list on its medium, with progress on stderr and a summary of the states
// on stdout; applied to List, also when it ended early. The exit status it gives: 0, 130 when
// Ctrl+C stopped it, 1 when the medium failed.
int CheckAndReport(TkxDisk& Disk, TkxFileList& List);
// What a check said of List, the list its Result was applied to: why the medium ended it, and the
// summary of the states. The exit status, as CheckAndReport's.
int ReportCheck(const TkxCheckResult& Result, const TkxFileList& List);

// drives, image
void AddDriveCommands(CLI::App& App, int& Status);

// The exit status of image: 0 for a whole copy of every sector; 1 for a failure, or for a copy
// that wrote unreadable sectors as zeros (after the image and the count are written); 130 when
// Ctrl+C stopped it.
int ImageCopyStatus(const TkxImageCopyResult& Result);

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
