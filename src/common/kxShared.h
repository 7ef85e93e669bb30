// SPDX-License-Identifier: GPL-3.0-or-later
// Small helpers shared by every subsystem: file-name handling, the program's own folder, and
// the message for a medium that cannot be opened.
#pragma once

#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
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

// A + B, held at the largest or the smallest value where the sum would overflow: sizes and
// offsets come from projects and discs, and a damaged or hostile one may hold any value.
constexpr std::int64_t SaturatingAdd(std::int64_t A, std::int64_t B)
{
  constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
  if (B > 0 && A > max - B) return max;
  if (B < 0 && A < min - B) return min;
  return A + B;
}

// C0 controls, DEL and the C1 controls: what a terminal acts on instead of showing it.
constexpr bool IsControlCharacter(char32_t C) { return C < 0x20 || (C >= 0x7F && C <= 0x9F); }

// The invisible marks that reorder the text around them when it is shown: the directional marks,
// embeddings, overrides and isolates. With U+202E "invoice\u202Efdp.exe" shows as
// "invoiceexe.pdf".
constexpr bool IsBidiControl(char32_t C)
{
  return C == 0x061C || C == 0x200E || C == 0x200F || (C >= 0x202A && C <= 0x202E) || (C >= 0x2066 && C <= 0x2069);
}

// The marks that show as nothing yet act on the text around them: the bidirectional controls, the
// line and paragraph separators (U+2028, U+2029: a line break to some terminals and viewers) and
// the byte order mark U+FEFF (a zero-width no-break space inside a name). A name shows them
// escaped and a file name does not carry them.
constexpr bool IsInvisibleControl(char32_t C) { return IsBidiControl(C) || C == 0x2028 || C == 0x2029 || C == 0xFEFF; }

// Calls Each(c, Bytes) for every character of Text in turn: c is the code point that the UTF-8
// sequence Bytes encodes, or -1 for a byte that begins no well-formed sequence (Bytes is then
// that one byte). Names on discs and in projects are often not UTF-8 at all.
template <class TEach>
void ForEachUtf8(std::string_view Text, TEach&& Each)
{
  const auto length = static_cast<std::int32_t>(std::min<std::size_t>(Text.size(), INT32_MAX));
  for (std::int32_t i = 0; i < length;) {
    const std::int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(Text.data(), i, length, c);
    if (c < 0) i = start + 1;
    Each(static_cast<std::int32_t>(c < 0 ? -1 : c),
         Text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
  }
}

// Whether Text is well-formed UTF-8 (no overlong forms, surrogates or code points past U+10FFFF).
bool IsUtf8(std::string_view Text);

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

// A file is written under a temporary name in its folder and takes its own name only when whole,
// so that a program ended in the middle (even by SIGKILL) leaves no part of a file under a name
// that looks finished: ".tessarin-PID-SERIAL.part", hidden, with the process's number in it.
// Folder ends with a delimiter.
std::string TemporaryFileName(const std::string& Folder);
// The process that made FileName (a name without its folder) when it is such a temporary name;
// 0 when it is not one.
std::uint32_t TemporaryFileOwner(std::string_view FileName);
// Removes the temporary files in Folder whose process no longer runs: what a run that was killed
// left behind. Files of a run that goes on, and every other file, stay. Returns how many it
// removed.
int RemoveStaleTemporaryFiles(const std::string& Folder);

// Part k of a split image: part 1 is FileName itself, part k >= 2 is FileName followed by k
// with at least two digits ("disk.iso02", ..., "disk.iso99", "disk.iso100"). Shared by the
// image reader and the image writer so both agree on the naming.
std::string PartFileName(std::string_view FileName, int k);

// N and the word that counts it: "1 file", "2 files", "0 files"; Plural where adding "s" does not
// make it ("3 entries"), also for words that agree with it ("1 file was", "2 files were").
std::string Counted(std::int64_t N, std::string_view Singular, std::string_view Plural = {});

// "42 s", "4:07", "1:05:03": a duration for a person planning the next hour.
std::string DurationText(double Seconds);

}  // namespace kx
