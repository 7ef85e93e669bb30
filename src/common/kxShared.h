// Small helpers shared by every subsystem: file-name handling, the program's own folder, and
// the message for a medium that cannot be opened.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kx {

// '/', or '\\' on Windows.
inline constexpr char PathDelimiter = static_cast<char>(std::filesystem::path::preferred_separator);

// Shown whenever a medium (image file or drive) cannot be opened.
inline constexpr std::string_view MountErrorMessage =
    "An error occurred while trying to mount the disk. The specified drive or image file does "
    "not exist, there is no media loaded or the image file has a wrong format.";

// ASCII letters a..z as A..Z; every other byte, multibyte ones included, unchanged.
constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr unsigned char AsciiUpper(unsigned char c)
{
  return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}
std::string AsciiUpper(std::string_view S);

// Whether Text is well-formed UTF-8 (no overlong forms, surrogates or code points past U+10FFFF).
bool IsUtf8(std::string_view Text);

// A name as UTF-8: unchanged when it is UTF-8 already, otherwise read as Windows-1252, the code
// page in which names taken from disc content (a Latin-1 HTML title) were mostly written. The
// five bytes that code page leaves undefined become the control characters of the same value.
std::string NameAsUtf8(std::string_view Name);

// Name unchanged when it already has an extension (a '.' after the last path delimiter),
// otherwise Name followed by Ext. "disk" + ".iso" gives "disk.iso"; "a.b/disk" gives "a.b/disk.iso".
std::string AddDefaultExt(std::string_view Name, std::string_view Ext);

// What a name typed into a save dialog stands for: Typed with Ext added when it has none
// (AddDefaultExt), and whether the extension made it the name of something that exists, which the
// dialog, asking only about the name as typed, has not asked about.
struct TkxTypedName {
  std::string FileName;
  bool AskReplace = false;
};
TkxTypedName TypedFileName(const std::string& Typed, std::string_view Ext);

// Every byte below 0x20, the double quote and each of * / : < > ? \ | becomes '_'.
// Bytes above 127 are kept: they belong to multibyte characters of the locale's encoding.
std::string MakeValidFileName(std::string_view S);

// The folder of the running program file with a trailing delimiter; empty when it cannot be
// determined. Computed once, on first use.
const std::string& ProgramFolder();

// Whether anything at all has this name: a file, a folder, even a dangling symbolic link.
// Writing through a dangling link would create its target wherever the link points.
bool NameTaken(const std::string& Path);

// Part k of a split image: part 1 is FileName itself, part k >= 2 is FileName followed by k
// with at least two digits ("disk.iso02", ..., "disk.iso99", "disk.iso100"). Shared by the
// image reader and the image writer so both agree on the naming.
std::string PartFileName(std::string_view FileName, int k);

// "42 s", "4:07", "1:05:03": a duration for a person planning the next hour.
std::string DurationText(double Seconds);

}  // namespace kx
