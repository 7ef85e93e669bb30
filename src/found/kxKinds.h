// SPDX-License-Identifier: GPL-3.0-or-later
// The kind codes of found files, their extensions and families. Below both the recognizers,
// which decide a kind, and the found-file list, which stores and shows it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kx {

// Kind code of a found file. 0 is unrecognised data; 1..19 text; 20..30 sized (the header
// states the length); 31..90 open (the file grows sector by sector). The codes from 91 on came
// later, for formats of the last fifteen years and for extensions that a file's content refines;
// each has its family in the table below.
using TKind = std::uint8_t;
inline constexpr int KindCount = 117;
inline constexpr int ClassicKindCount = 91;

// The codes that code (not only the tables) refers to by name.
namespace Kinds {
inline constexpr TKind Unknown = 0;
inline constexpr TKind Text = 1;
inline constexpr TKind Bitmap = 20;
inline constexpr TKind Icon = 21;
inline constexpr TKind Cursor = 22;
inline constexpr TKind AnimatedCursor = 23;
inline constexpr TKind Avi = 24;
inline constexpr TKind CdAudio = 25;
inline constexpr TKind Palette = 26;
inline constexpr TKind Qcp = 27;
inline constexpr TKind RiffMidi = 28;
inline constexpr TKind Wave = 29;
inline constexpr TKind Riff = 30;
inline constexpr TKind Tar = 42;
inline constexpr TKind Flac = 49;
inline constexpr TKind Mp3 = 51;
inline constexpr TKind Office = 53;
inline constexpr TKind Pdf = 56;
inline constexpr TKind Photoshop = 57;
inline constexpr TKind Executable = 61;
inline constexpr TKind Dll = 62;
inline constexpr TKind Bgi = 63;
inline constexpr TKind GameMaker = 67;
inline constexpr TKind TiCalculator = 69;
inline constexpr TKind Dcx = 73;
inline constexpr TKind ProgramStream = 88;
// Formats that the classic table does not know, recognised after every classic rule.
inline constexpr TKind Mp4 = 91;
inline constexpr TKind M4a = 92;
inline constexpr TKind ThreeGp = 93;
inline constexpr TKind Heic = 94;
inline constexpr TKind Avif = 95;
inline constexpr TKind Matroska = 96;
inline constexpr TKind WebM = 97;
inline constexpr TKind TransportStream = 98;
inline constexpr TKind M2ts = 99;
inline constexpr TKind Xz = 100;
inline constexpr TKind Zstd = 101;
inline constexpr TKind TrueType = 102;
inline constexpr TKind OpenType = 103;
inline constexpr TKind DvdIfo = 104;
inline constexpr TKind IsoImage = 105;
// Extensions that the check gives where a file's content says more than its first bytes.
inline constexpr TKind WebP = 106;
inline constexpr TKind Flv = 107;
inline constexpr TKind Docx = 108;
inline constexpr TKind Xlsx = 109;
inline constexpr TKind Pptx = 110;
inline constexpr TKind Odt = 111;
inline constexpr TKind Ods = 112;
inline constexpr TKind Odp = 113;
inline constexpr TKind Epub = 114;
inline constexpr TKind Jar = 115;
inline constexpr TKind Apk = 116;
// Classic codes that the newer rules give too, since their extension is the one a project stores.
inline constexpr TKind SevenZip = 31;
inline constexpr TKind Bzip2 = 32;
inline constexpr TKind Gzip = 35;
inline constexpr TKind Zip = 44;
inline constexpr TKind Ogg = 52;
inline constexpr TKind Sqlite = 60;
inline constexpr TKind Elf = 66;
inline constexpr TKind Gif = 75;
inline constexpr TKind Jpeg = 77;
inline constexpr TKind Png = 79;
inline constexpr TKind Tiff = 80;
inline constexpr TKind Asf = 82;
inline constexpr TKind QuickTime = 85;
inline constexpr TKind Flash = 87;
}  // namespace Kinds

// The extension of each kind, indexed by code. Entry 0 is empty; the others start with a dot;
// a few hold several extensions run together (".ppt.xls.doc") and are always used whole.
extern const std::array<std::string_view, KindCount> KindExtensions;

constexpr bool IsTextKind(TKind k) { return k >= 1 && k <= 19; }
constexpr bool IsSizedKind(TKind k) { return (k >= 20 && k <= 30) || k == Kinds::WebP; }
constexpr bool IsOpenKind(TKind k) { return k >= 31 && k < KindCount && !IsSizedKind(k); }
constexpr bool IsTrailerKind(TKind k) { return k == Kinds::Mp3 || k == Kinds::Pdf; }
constexpr bool IsTextAbsorbingKind(TKind k)
{
  return k == Kinds::Office || k == Kinds::Pdf || k == Kinds::Photoshop || k == Kinds::GameMaker;
}

// What a check of a found file's structure concluded. NotChecked: no check ran, or the format
// states no end that could be checked. Whole: the structure ends inside the medium and before
// the next found file, and the entry's size is the exact size. Truncated: the end the structure
// states lies past the next found file or past the medium's end. Damaged: the structure breaks.
enum class TkxCheckState : std::uint8_t { NotChecked = 0, Whole = 1, Truncated = 2, Damaged = 3 };

// The word of a state, as the list and the project file write it: "unchecked", "whole",
// "truncated", "damaged"; and the state of a word (false for any other text).
std::string_view CheckStateName(TkxCheckState State);
bool CheckStateOfName(std::string_view Name, TkxCheckState& State);

// The kind of an extension text: ASCII case ignored, whole strings compared, lowest code wins
// (".cab" gives 33); 0 when none is equal.
TKind KindOfExtension(std::string_view Ext);

// The families a kind belongs to, as words: "none" (kind 0), "text", "sized" or "open", the
// open ones followed by ", trailer" and ", text-absorbing" where those apply.
std::string_view KindFamily(TKind Kind);

}  // namespace kx
