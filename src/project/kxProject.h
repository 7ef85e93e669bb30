// SPDX-License-Identifier: GPL-3.0-or-later
// The project file: the found-file list together with the location of the medium, as a text
// file of lines ("KX", "LOCATION", location, "FILES", count, then four lines per entry).
#pragma once

#include "found/kxFileList.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace kx {

// Default extension of project files, added by AddDefaultExt when a name has none.
inline constexpr std::string_view ProjectExt = ".kx";

// A project file could not be read or written. The message is the run-time I/O text the user
// sees: "File not found", "File access denied", "Disk full", "Invalid numeric input" or
// "I/O error %d", or one of the program's own refusals below.
class EkxProjectError : public std::runtime_error {
 public:
  explicit EkxProjectError(const std::string& Message, int Error_ = 0, std::int64_t Line_ = 0, std::string Detail_ = {})
      : std::runtime_error(Message), Error(Error_), Line(Line_), Detail(std::move(Detail_))
  {
  }
  // The system's error number behind the message (ENOENT, EISDIR, ENOSPC...), so that the command
  // line can give the system's own reason; 0 when the refusal is the program's own.
  int Error;
  // The line of the file at fault, 1 for the first; 0 when the fault lies in no line.
  std::int64_t Line;
  // What is wrong on that line ("the offset of entry 2 is not a whole number"); empty when the
  // message says it all.
  std::string Detail;
};

// The messages of the refusals that have no run-time I/O text of their own.
inline constexpr std::string_view NotRegularFileMessage = "Not a regular file";
inline constexpr std::string_view ProjectTooLargeMessage = "File too large for a project";
inline constexpr std::string_view LocationLineBreakMessage = "The location holds a line break and cannot be saved";
inline constexpr std::string_view InvalidProjectMessage = "Not a valid project file";
inline constexpr std::string_view TooManyEntriesMessage = "Too many entries for a project";
inline constexpr std::string_view MalformedCheckMessage = "Malformed CHECK section";

// The largest project file that is read: 1 GiB. A scan adds at most one entry per sector, and a
// double-layer DVD has 4.2 million sectors; with names of the usual length (a dozen bytes, at
// most 40 from content) that is under 300 MB. Anything larger is not a project but a mistake or
// an attack, and reading it whole would only exhaust memory.
inline constexpr std::int64_t MaxProjectFileSize = std::int64_t{1} << 30;

// Throws EkxProjectError when a project cannot be saved under FileName whatever its content: a
// folder ("File access denied", EISDIR) or something that is not a regular file, such as a device
// or a named pipe (NotRegularFileMessage); a file that may not be written; a folder that is
// missing or does not take a new file of TargetProbeBytes ("Disk full" on a full disk). Lets a
// caller refuse a target before a long scan.
void CheckProjectTarget(const std::string& FileName);
inline constexpr std::size_t TargetProbeBytes = 64 * 1024;

// Throws EkxProjectError (LocationLineBreakMessage) for a location that no project can store: a
// carriage return or line feed would split its line and point the project elsewhere.
void CheckProjectLocation(const std::string& Location);

// Writes the project with line-feed line ends into a new file in FileName's folder and renames
// it over FileName only when every byte is on the disk, so that a failed save (a full disk)
// leaves a previous project byte for byte as it was, and two saves at once leave one whole
// project. A symbolic link at FileName is followed: the file it names is replaced. An existing
// file keeps its permissions. What CheckProjectSavable refuses is not saved, and nothing is
// written for it. Throws EkxProjectError; the new file is removed on every failure.
void SaveProjectToFile(const std::string& FileName, const std::string& Location, const TkxFileList& List);

// The bytes of the project file that SaveProjectToFile writes for Location and List.
std::int64_t ProjectFileSize(const std::string& Location, const TkxFileList& List);

// Throws EkxProjectError for a project that LoadProject would refuse once saved, so that no save
// writes one: a location refused by CheckProjectLocation, more than MaxProjectEntries entries
// (TooManyEntriesMessage), a name holding a line feed or ending with a carriage return, a
// negative checked size, or a file of more than MaxFileSize bytes (ProjectTooLargeMessage, the
// sizes in the detail). Shared by every save, the window's and the command line's.
void CheckProjectSavable(const std::string& Location, const TkxFileList& List,
                         std::int64_t MaxFileSize = MaxProjectFileSize);

// The most entries a project holds: twice the 4,173,824 sectors of a double-layer DVD, since a
// scan adds at most one entry per sector. A count above it is refused before anything is
// allocated for it, and a list above it is not saved, so that no project is written that
// cannot be opened again.
inline constexpr std::int32_t MaxProjectEntries = 1 << 23;

// Writes Text into FileName as a project is saved (a report, for instance): a failed write leaves
// an earlier file as it was. Throws EkxProjectError.
void SaveTextToFile(const std::string& FileName, std::string_view Text);

// A project whose entries were checked (kxCheck.h) holds a "CHECK" section after "FILES": the
// count of entries, then one line per entry in list order, its state word and the size its
// structure states ("whole 51234", "unchecked 0"). A project without one loads as unchecked.
//
// Reads a project, all or nothing: Location and List are set only when the whole file is a
// project as SaveProjectToFile writes it. Only a regular file of at most MaxProjectFileSize
// bytes is read. Its first line is "KX"; then come the "LOCATION" section (the location line),
// the "FILES" section (the count, then name, extension, offset and size lines of each entry)
// and, where entries were checked, the "CHECK" section, each once and in any order. Every line
// ends with a line feed (a carriage return before it is dropped, so CR LF files read the same);
// numbers are decimal, optionally signed, alone on their lines; an extension is empty or one of
// the kinds'; a CHECK section has a line for each entry (anything else there is
// MalformedCheckMessage). Anything else, a file cut short included, throws EkxProjectError with
// the line and what is wrong there (a count that its items do not bear out is named with its
// line), and leaves Location and List as they were. The file is read a block at a time, so that
// reading a project holds the list and not the file besides.
void LoadProject(const std::string& FileName, std::string& Location, TkxFileList& List);

// LoadProject over the bytes of a project file already in memory.
void LoadProjectFromText(std::string_view Text, std::string& Location, TkxFileList& List);

// Where a project error lies: "FileName, line N", or FileName alone for a fault of no line.
std::string ProjectErrorPlace(const std::string& FileName, const EkxProjectError& Error);
// Why, in words: the system's text of its error where there is one ("No space left on
// device"), else the detail, else the message.
std::string ProjectErrorReason(const EkxProjectError& Error);

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

}  // namespace kx
