#include "project/kxProject.h"

#include "common/kxShared.h"
#include "media/kxDisks.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <limits>
#include <memory>
#include <string_view>
#include <type_traits>

namespace kx {

namespace {

const std::string InvalidNumericInput = "Invalid numeric input";

[[noreturn]] void ThrowIOError(int Error)
{
  switch (Error) {
    case ENOENT:
    case ENOTDIR:
      throw EkxProjectError("File not found");
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      throw EkxProjectError("File access denied");
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      throw EkxProjectError("Disk full");
    default: {
      char text[32];
      std::snprintf(text, sizeof text, "I/O error %d", Error);
      throw EkxProjectError(text);
    }
  }
}

struct TFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using TFilePtr = std::unique_ptr<std::FILE, TFileCloser>;

std::string ReadWholeFile(const std::string& FileName)
{
  TFilePtr file(std::fopen(FileName.c_str(), "rb"));
  if (!file) ThrowIOError(errno);
  std::string data;
  char chunk[65536];
  for (;;) {
    const std::size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
    data.append(chunk, n);
    if (n < sizeof chunk) {
      if (std::ferror(file.get())) ThrowIOError(errno);
      break;
    }
  }
  return data;
}

// The reader of the format: whole lines, and numbers that skip blanks and line ends first.
// Past the end of the file a line reads as empty text and a number as 0.
class TProjectReader {
 public:
  explicit TProjectReader(std::string_view Data_) : Data(Data_) {}

  bool Eof() const { return Pos >= Data.size(); }
  std::size_t Remaining() const { return Data.size() - Pos; }

  // A line ends at a line feed; a carriage return right before it is not part of the line,
  // so files with CR LF ends read the same. A carriage return anywhere else is kept.
  std::string_view ReadLine()
  {
    if (Eof()) return {};
    const std::size_t nl = Data.find('\n', Pos);
    if (nl == std::string_view::npos) {
      const std::string_view line = Data.substr(Pos);
      Pos = Data.size();
      return line;
    }
    std::string_view line = Data.substr(Pos, nl - Pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    Pos = nl + 1;
    return line;
  }

  void SkipRestOfLine()
  {
    const std::size_t nl = Data.find('\n', Pos);
    Pos = nl == std::string_view::npos ? Data.size() : nl + 1;
  }

  // Skips blanks, tabs and line ends, then takes the following run of at most 32 non-blank
  // characters as a signed decimal integer of type T.
  template <typename T>
  T ReadNumber()
  {
    while (!Eof() && IsBlank(Data[Pos])) ++Pos;
    if (Eof()) return 0;
    const std::size_t start = Pos;
    while (!Eof() && Pos - start < 32 && !IsBlank(Data[Pos])) ++Pos;
    std::string_view token = Data.substr(start, Pos - start);
    bool negative = false;
    if (token.front() == '+' || token.front() == '-') {
      negative = token.front() == '-';
      token.remove_prefix(1);
    }
    // Digits only: from_chars would also take a second sign; the magnitude is parsed unsigned
    // so that the most negative value is accepted too.
    if (token.empty() || token.find_first_not_of("0123456789") != std::string_view::npos)
      throw EkxProjectError(InvalidNumericInput);
    using TUnsigned = std::make_unsigned_t<T>;
    TUnsigned magnitude = 0;
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), magnitude);
    if (ec != std::errc() || end != token.data() + token.size())
      throw EkxProjectError(InvalidNumericInput);
    const auto limit = static_cast<TUnsigned>(std::numeric_limits<T>::max()) + (negative ? 1u : 0u);
    if (magnitude > limit) throw EkxProjectError(InvalidNumericInput);
    if (!negative) return static_cast<T>(magnitude);
    return magnitude == 0 ? T{0} : static_cast<T>(-static_cast<T>(magnitude - 1) - 1);
  }

 private:
  static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

  std::string_view Data;
  std::size_t Pos = 0;
};

void ReadFilesSection(TProjectReader& Reader, TkxFileList& List)
{
  const auto n = Reader.ReadNumber<std::int32_t>();
  Reader.SkipRestOfLine();
  // A complete entry takes at least 6 bytes (empty name and extension lines, "0" offset and
  // size lines). A file cut short still loads with empty entries, but a count that neither the
  // rest of the file could hold nor a cut-short project of a real medium would plausibly carry
  // is malformed: allocating it first could exhaust memory.
  const std::size_t fits = (Reader.Remaining() + 5) / 6;
  if (n < 0 || (n > PlausibleShortCount && static_cast<std::size_t>(n) > fits)) {
    List.Clear();
    throw EkxProjectError(InvalidNumericInput);
  }
  List.Clear();
  List.Items.resize(static_cast<std::size_t>(n));
  List.Count = n;
  for (TkxFileEntry& e : List.Items) {
    e.Name = Reader.ReadLine();
    e.Kind = KindOfExtension(Reader.ReadLine());
    e.Offset = Reader.ReadNumber<std::int64_t>();
    Reader.SkipRestOfLine();
    e.Size = Reader.ReadNumber<std::int64_t>();
    Reader.SkipRestOfLine();
    e.Continues = false;
  }
}

}  // namespace

void SaveProjectToFile(const std::string& FileName, const std::string& Location, const TkxFileList& List)
{
  TFilePtr file(std::fopen(FileName.c_str(), "wb"));
  if (!file) ThrowIOError(errno);
  std::FILE* f = file.get();
  std::fprintf(f, "KX\nLOCATION\n%s\nFILES\n%d\n", Location.c_str(), List.Count);
  for (std::int32_t i = 0; i < List.Count && !std::ferror(f); ++i) {
    const TkxFileEntry& e = List.Items[static_cast<std::size_t>(i)];
    std::fwrite(e.Name.data(), 1, e.Name.size(), f);
    std::fputc('\n', f);
    const std::string_view ext = KindExtensions[e.Kind];
    std::fwrite(ext.data(), 1, ext.size(), f);
    std::fprintf(f, "\n%lld\n%lld\n", static_cast<long long>(e.Offset), static_cast<long long>(e.Size));
  }
  if (std::ferror(f)) ThrowIOError(errno);
  // Buffered data reaches the disk only here, so a full disk is often reported by the close.
  if (std::fclose(file.release()) != 0) ThrowIOError(errno);
}

void LoadProject(const std::string& FileName, std::string& Location, TkxFileList& List)
{
  LoadProjectFromText(ReadWholeFile(FileName), Location, List);
}

void LoadProjectFromText(std::string_view Text, std::string& Location, TkxFileList& List)
{
  TProjectReader reader(Text);
  while (!reader.Eof()) {
    const std::string_view line = reader.ReadLine();
    if (line == "LOCATION")
      Location = reader.ReadLine();
    else if (line == "FILES")
      ReadFilesSection(reader, List);
  }
}

namespace fs = std::filesystem;

bool IsPartOfImage(const std::string& Target, const std::string& Location)
{
  if (IsDriveName(Location)) return false;
  for (int k = 1;; ++k) {
    const std::string part = PartFileName(Location, k);
    std::error_code ec;
    if (!fs::exists(part, ec)) {
      if (k == 1) return false;
      std::error_code ecPart;
      std::error_code ecTarget;
      const fs::path next = fs::absolute(part, ecPart).lexically_normal();
      return !ecPart && next == fs::absolute(Target, ecTarget).lexically_normal() && !ecTarget;
    }
    if (fs::equivalent(part, Target, ec)) return true;
  }
}

std::string DefaultProjectName(const std::string& Location)
{
  if (IsDriveName(Location)) return Location.substr(0, 1) + std::string(ProjectExt);
  const std::string base = fs::path(Location).filename().string();
  return base.empty() ? std::string() : base + std::string(ProjectExt);
}

std::string StoredLocation(const std::string& Location)
{
  if (IsDriveName(Location)) return Location;
  std::error_code ec;
  const fs::path absolute = fs::absolute(Location, ec);
  return ec ? Location : absolute.lexically_normal().string();
}

}  // namespace kx
