// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/kxShared.h"

#include "common/kxPlatform.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace kx {

std::string AsciiUpper(std::string_view S)
{
  std::string out(S);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

bool IsUtf8(std::string_view Text)
{
  const auto length = static_cast<std::int32_t>(std::min<std::size_t>(Text.size(), INT32_MAX));
  if (static_cast<std::size_t>(length) != Text.size()) return false;
  for (std::int32_t i = 0; i < length;) {
    UChar32 c = 0;
    U8_NEXT(Text.data(), i, length, c);
    if (c < 0) return false;
  }
  return true;
}

std::string AddDefaultExt(std::string_view Name, std::string_view Ext)
{
  for (auto i = Name.size(); i > 0; --i) {
    const char c = Name[i - 1];
    if (c == '.') return std::string(Name);
    if (c == PathDelimiter) break;
  }
  std::string result(Name);
  result += Ext;
  return result;
}

TkxTypedName TypedFileName(const std::string& Typed, std::string_view Ext)
{
  TkxTypedName name{AddDefaultExt(Typed, Ext)};
  name.AskReplace = name.FileName != Typed && NameTaken(name.FileName);
  return name;
}

std::string MakeValidFileName(std::string_view S)
{
  std::string result(S);
  for (char& c : result) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20) {
      c = '_';
      continue;
    }
    switch (c) {
      case '"': case '*': case '/': case ':': case '<': case '>': case '?': case '\\': case '|':
        c = '_';
        break;
      default:
        break;
    }
  }
  return result;
}

const std::string& ProgramFolder()
{
  static const std::string folder = [] {
    const std::filesystem::path exe(os::ProgramFilePath());
    if (!exe.has_parent_path()) return std::string();
    std::string dir = exe.parent_path().string();
    if (dir.empty() || dir.back() != PathDelimiter) dir += PathDelimiter;
    return dir;
  }();
  return folder;
}

bool NameTaken(const std::string& Path)
{
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(Path, ec);
  return !ec && status.type() != std::filesystem::file_type::not_found;
}

namespace {

constexpr std::string_view TemporaryPrefix = ".tessarin-";
constexpr std::string_view TemporarySuffix = ".part";

}  // namespace

std::string TemporaryFileName(const std::string& Folder)
{
  static std::atomic<std::uint32_t> serial{0};
  std::string name = Folder;
  name += TemporaryPrefix;
  name += std::to_string(os::ProcessId());
  name += '-';
  name += std::to_string(serial++);
  name += TemporarySuffix;
  return name;
}

std::uint32_t TemporaryFileOwner(std::string_view FileName)
{
  if (!FileName.starts_with(TemporaryPrefix) || !FileName.ends_with(TemporarySuffix)) return 0;
  FileName.remove_prefix(TemporaryPrefix.size());
  FileName.remove_suffix(TemporarySuffix.size());
  const std::size_t dash = FileName.find('-');
  if (dash == std::string_view::npos || dash == 0 || dash + 1 == FileName.size()) return 0;
  const std::string_view serial = FileName.substr(dash + 1);
  if (serial.find_first_not_of("0123456789") != std::string_view::npos) return 0;
  std::uint32_t owner = 0;
  const auto [end, ec] = std::from_chars(FileName.data(), FileName.data() + dash, owner);
  return ec == std::errc() && end == FileName.data() + dash ? owner : 0;
}

int RemoveStaleTemporaryFiles(const std::string& Folder)
{
  int removed = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(Folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::uint32_t owner = TemporaryFileOwner(it->path().filename().string());
    // Only a regular file: a link or folder of that name was not made by a run of this program.
    std::error_code typeError;
    if (owner == 0 || owner == os::ProcessId() || os::ProcessRunning(owner) || !it->is_regular_file(typeError) ||
        it->is_symlink(typeError))
      continue;
    if (os::RemoveFile(it->path().string().c_str())) ++removed;
  }
  return removed;
}

std::string PartFileName(std::string_view FileName, int k)
{
  std::string name(FileName);
  if (k < 2) return name;
  char digits[16];
  std::snprintf(digits, sizeof digits, "%.2d", k);
  return name + digits;
}

std::string Counted(std::int64_t N, std::string_view Singular, std::string_view Plural)
{
  std::string text = std::to_string(N);
  text += ' ';
  if (N == 1)
    text += Singular;
  else if (!Plural.empty())
    text += Plural;
  else {
    text += Singular;
    text += 's';
  }
  return text;
}

std::string DurationText(double Seconds)
{
  const auto total = static_cast<long long>(std::llround(std::max(0.0, Seconds)));
  char text[32];
  if (total < 60)
    std::snprintf(text, sizeof text, "%lld s", total);
  else if (total < 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
  return text;
}

}  // namespace kx
