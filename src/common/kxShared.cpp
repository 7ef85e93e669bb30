#include "common/kxShared.h"

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
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || !exe.has_parent_path()) return std::string();
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

std::string PartFileName(std::string_view FileName, int k)
{
  std::string name(FileName);
  if (k < 2) return name;
  char digits[16];
  std::snprintf(digits, sizeof digits, "%.2d", k);
  return name + digits;
}

}  // namespace kx
