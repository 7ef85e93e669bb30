// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/kxDisplayText.h"

#include "common/kxShared.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace kx {

namespace {

// Text itself when it is UTF-8, else its reading kept in Storage.
std::string_view Decoded(std::string_view Text, std::string& Storage)
{
  if (IsUtf8(Text)) return Text;
  Storage = NameAsUtf8(Text);
  return Storage;
}

void AppendCode(std::string& Out, const char* Format, char32_t Code)
{
  char escape[16];
  std::snprintf(escape, sizeof escape, Format, static_cast<unsigned>(Code));
  Out += escape;
}

std::string Shown(std::string_view Text, std::size_t MaxCharacters, bool DoubleBackslash)
{
  std::string converted;
  // One byte is one character in that code page.
  if (!IsUtf8(Text)) Text = converted = NameAsUtf8(Text.substr(0, std::min(Text.size(), MaxCharacters)));
  // A character takes at most four bytes; what lies beyond is never shown, however long the name.
  if (MaxCharacters < Text.size() / 4) Text = Text.substr(0, MaxCharacters * 4);
  std::string out;
  out.reserve(Text.size());
  std::size_t characters = 0;
  ForEachUtf8(Text, [&](std::int32_t c, std::string_view Bytes) {
    if (characters++ >= MaxCharacters) return;
    const auto code = static_cast<char32_t>(c);
    if (IsControlCharacter(code))
      AppendCode(out, "\\x%02x", code);
    else if (IsInvisibleControl(code))
      AppendCode(out, "\\u%04x", code);
    else if (code == '\\' && DoubleBackslash)
      out += "\\\\";
    else
      out += Bytes;
  });
  return out;
}

}  // namespace

std::string NameAsUtf8(std::string_view Name)
{
  if (IsUtf8(Name)) return std::string(Name);
  // Windows-1252 differs from Latin-1 only in 0x80..0x9F.
  static constexpr char16_t High[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string out;
  out.reserve(Name.size() * 2);
  for (const char ch : Name) {
    const auto b = static_cast<unsigned char>(ch);
    const char32_t c = b >= 0x80 && b < 0xA0 ? High[b - 0x80] : b;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string VisibleText(std::string_view Text, std::size_t MaxCharacters)
{
  return Shown(Text, MaxCharacters, false);
}

std::string Escaped(std::string_view Text) { return Shown(Text, std::numeric_limits<std::size_t>::max(), true); }

std::string JsonString(std::string_view Text)
{
  std::string storage;
  std::string out = "\"";
  ForEachUtf8(Decoded(Text, storage), [&out](std::int32_t c, std::string_view Bytes) {
    const auto code = static_cast<char32_t>(c);
    if (IsControlCharacter(code) || IsInvisibleControl(code)) {
      AppendCode(out, "\\u%04x", code);
    } else {
      if (code == '"' || code == '\\') out += '\\';
      out += Bytes;
    }
  });
  out += '"';
  return out;
}

std::string XmlText(std::string_view Text)
{
  std::string storage;
  std::string out;
  out.reserve(Text.size());
  ForEachUtf8(Decoded(Text, storage), [&out](std::int32_t c, std::string_view Bytes) {
    const bool allowed = c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c != 0xFFFE && c != 0xFFFF);
    out += allowed ? Bytes : std::string_view("\xef\xbf\xbd");
  });
  return out;
}

}  // namespace kx
