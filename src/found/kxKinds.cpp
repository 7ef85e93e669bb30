// SPDX-License-Identifier: GPL-3.0-or-later
#include "found/kxKinds.h"

#include "common/kxShared.h"

#include <algorithm>

namespace kx {

const std::array<std::string_view, KindCount> KindExtensions = {
    "", ".txt", ".rtf", ".ini", ".php", ".html", ".svg", ".xml", ".css", ".pas",  // 0..9
    ".dpr", ".dpk", ".dfm", ".bdsproj", ".xpm", ".c", ".reg", ".m3u", ".tex", ".ps",  // 10..19
    ".bmp", ".ico", ".cur", ".ani", ".avi", ".cda", ".pal", ".qcp", ".rmi", ".wav",  // 20..29
    ".riff", ".7z", ".bz2", ".cab", ".cab", ".gz", ".hqx", ".nri", ".rar", ".rpm",  // 30..39
    ".sit", ".sqx", ".tar", ".uha", ".zip", ".zoo", ".aiff", ".amr", ".au", ".flac",  // 40..49
    ".mid", ".mp3", ".ogg", ".ppt.xls.doc", ".chm", ".mdb", ".pdf", ".psd", ".psp", ".sib",  // 50..59
    ".sqlite", ".exe", ".dll", ".chr.bgi", ".class", ".dcu", ".elf.so.o", ".gm6", ".ppu", ".ti.__x",  // 60..69
    ".res", ".tlb", ".tpu", ".dcx", ".emf", ".gif", ".img", ".jpg", ".pcx", ".png",  // 70..79
    ".tif", ".wmf", ".asf", ".ra", ".rm", ".mov", ".mpg", ".swf", ".vob", ".lnk",  // 80..89
    ".sfk", ".mp4", ".m4a", ".3gp", ".heic", ".avif", ".mkv", ".webm", ".ts", ".m2ts",  // 90..99
    ".xz", ".zst", ".ttf", ".otf", ".ifo", ".iso", ".webp", ".flv", ".docx", ".xlsx",  // 100..109
    ".pptx", ".odt", ".ods", ".odp", ".epub", ".jar", ".apk",  // 110..116
};


TKind KindOfExtension(std::string_view Ext)
{
  for (int k = 0; k < KindCount; ++k) {
    const std::string_view e = KindExtensions[k];
    if (e.size() == Ext.size() &&
        std::equal(e.begin(), e.end(), Ext.begin(),
                   [](char a, char b) { return AsciiUpper(a) == AsciiUpper(b); }))
      return static_cast<TKind>(k);
  }
  return 0;
}

namespace {
constexpr std::array<std::string_view, 4> CheckStateNames = {"unchecked", "whole", "truncated", "damaged"};
}

std::string_view CheckStateName(TkxCheckState State)
{
  const auto i = static_cast<std::size_t>(State);
  return i < CheckStateNames.size() ? CheckStateNames[i] : CheckStateNames[0];
}

bool CheckStateOfName(std::string_view Name, TkxCheckState& State)
{
  for (std::size_t i = 0; i < CheckStateNames.size(); ++i) {
    if (CheckStateNames[i] == Name) {
      State = static_cast<TkxCheckState>(i);
      return true;
    }
  }
  return false;
}

std::string_view KindFamily(TKind Kind)
{
  if (Kind == Kinds::Unknown) return "none";
  if (IsTextKind(Kind)) return "text";
  if (IsSizedKind(Kind)) return "sized";
  if (!IsOpenKind(Kind)) return "none";
  if (IsTrailerKind(Kind) && IsTextAbsorbingKind(Kind)) return "open, trailer, text-absorbing";
  if (IsTrailerKind(Kind)) return "open, trailer";
  if (IsTextAbsorbingKind(Kind)) return "open, text-absorbing";
  return "open";
}

}  // namespace kx
