// The project file: the found-file list together with the location of the medium, as a text
// file of lines ("KX", "LOCATION", location, "FILES", count, then four lines per entry).
#pragma once

#include "project/kxFileList.h"

#include <stdexcept>
#include <string>

namespace kx {

// Default extension of project files, added by AddDefaultExt when a name has none.
inline constexpr std::string_view ProjectExt = ".kx";

// A project file could not be read or written. The message is the run-time I/O text the user
// sees: "File not found", "File access denied", "Disk full", "Invalid numeric input" or
// "I/O error %d".
class EkxProjectError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Creates or truncates FileName and writes the project with line-feed line ends.
// Throws EkxProjectError.
void SaveProjectToFile(const std::string& FileName, const std::string& Location, const TkxFileList& List);

// Reads a project. Sections may come in any order and repeat: each "LOCATION" replaces
// Location and each "FILES" replaces List; a section that is absent leaves its target as it
// was. A file cut short reads as empty lines and zeros. Throws EkxProjectError; what was read
// up to the failure stays in Location and List.
void LoadProject(const std::string& FileName, std::string& Location, TkxFileList& List);

// LoadProject over the bytes of a project file already in memory.
void LoadProjectFromText(std::string_view Text, std::string& Location, TkxFileList& List);

// Whether Target is the image at Location or one of its part files, which a project file must
// never replace, or the name of its next part: a file written there would be read as part of
// the image from then on. False for a drive.
bool IsPartOfImage(const std::string& Target, const std::string& Location);

// The project name a scan uses when none is given: the location's base name followed by
// ".kx", in the current folder ("disc.iso" gives "disc.iso.kx", drive "E:" gives "E.kx"); empty
// when the location has no base name.
std::string DefaultProjectName(const std::string& Location);

// The location as a project stores it: an image path made absolute, so that the project can be
// extracted from any folder; a drive name unchanged.
std::string StoredLocation(const std::string& Location);

// A "FILES" count above this, and above what the rest of the file could hold, is rejected
// rather than allocated.
inline constexpr std::int32_t PlausibleShortCount = 1 << 20;

}  // namespace kx
