// The kind codes of found files, their extensions and families. Below both the recognizers,
// which decide a kind, and the found-file list, which stores and shows it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kx {

// Kind code of a found file, 0..90. 0 is unrecognised data; 1..19 text; 20..30 sized (the header
// states the length); 31..90 open (the file grows sector by sector).
using TKind = std::uint8_t;
inline constexpr int KindCount = 91;

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
}  // namespace Kinds

// The extension of each kind, indexed by code. Entry 0 is empty; the others start with a dot;
// a few hold several extensions run together (".ppt.xls.doc") and are always used whole.
extern const std::array<std::string_view, KindCount> KindExtensions;

constexpr bool IsTextKind(TKind k) { return k >= 1 && k <= 19; }
constexpr bool IsSizedKind(TKind k) { return k >= 20 && k <= 30; }
constexpr bool IsOpenKind(TKind k) { return k >= 31 && k <= 90; }
constexpr bool IsTrailerKind(TKind k) { return k == Kinds::Mp3 || k == Kinds::Pdf; }
constexpr bool IsTextAbsorbingKind(TKind k)
{
  return k == Kinds::Office || k == Kinds::Pdf || k == Kinds::Photoshop || k == Kinds::GameMaker;
}

// The kind of an extension text: ASCII case ignored, whole strings compared, lowest code wins
// (".cab" gives 33); 0 when none is equal.
TKind KindOfExtension(std::string_view Ext);

// The families a kind belongs to, as words: "none" (kind 0), "text", "sized" or "open", the
// open ones followed by ", trailer" and ", text-absorbing" where those apply.
std::string_view KindFamily(TKind Kind);

}  // namespace kx
