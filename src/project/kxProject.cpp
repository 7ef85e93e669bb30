#include "project/kxProject.h"

#include "common/kxShared.h"
#include "media/kxDisks.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <limits>
#include <memory>
#include <optional>
#include <vector>
#include <algorithm>
#include <string_view>
#include <type_traits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kx {

namespace fs = std::filesystem;

namespace {

const std::string InvalidNumericInput = "Invalid numeric input";

[[noreturn]] void ThrowIOError(int Error)
{
  switch (Error) {
    case ENOENT:
    case ENOTDIR:
      throw EkxProjectError("File not found", Error);
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      throw EkxProjectError("File access denied", Error);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      throw EkxProjectError("Disk full", Error);
    default: {
      char text[32];
      std::snprintf(text, sizeof text, "I/O error %d", Error);
      throw EkxProjectError(text, Error);
    }
  }
}

struct TFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using TFilePtr = std::unique_ptr<std::FILE, TFileCloser>;

class TDescriptor {
 public:
  explicit TDescriptor(int Fd_) : Fd(Fd_) {}
  ~TDescriptor()
  {
    if (Fd >= 0) ::close(Fd);
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  int Get() const { return Fd; }

 private:
  int Fd;
};

// Refuses what is not a regular file before a byte is read: a named pipe would block, and a
// device such as /dev/zero would never end.
void RequireRegularFile(const struct stat& St)
{
  if (S_ISDIR(St.st_mode)) ThrowIOError(EISDIR);
  if (!S_ISREG(St.st_mode)) throw EkxProjectError(std::string(NotRegularFileMessage));
}

std::string ReadWholeFile(const std::string& FileName)
{
  // Non-blocking, so that opening a named pipe returns at once and can be refused.
  const TDescriptor file(::open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.Get() < 0) ThrowIOError(errno);
  struct stat st {};
  if (::fstat(file.Get(), &st) != 0) ThrowIOError(errno);
  RequireRegularFile(st);
  if (st.st_size > MaxProjectFileSize) throw EkxProjectError(std::string(ProjectTooLargeMessage));
  std::string data;
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(file.Get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ThrowIOError(errno);
    if (n == 0) break;
    // The file may grow while it is read.
    if (static_cast<std::int64_t>(data.size()) + n > MaxProjectFileSize)
      throw EkxProjectError(std::string(ProjectTooLargeMessage));
    data.append(chunk, static_cast<std::size_t>(n));
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

struct TCheckLine {
  TkxCheckState State;
  std::int64_t Size;
};

// One line of the "CHECK" section: a state word, one blank and the size in decimal digits.
TCheckLine ParseCheckLine(std::string_view Line)
{
  const std::size_t blank = Line.find(' ');
  TCheckLine c{TkxCheckState::NotChecked, 0};
  if (blank == std::string_view::npos || !CheckStateOfName(Line.substr(0, blank), c.State))
    throw EkxProjectError(std::string(MalformedCheckMessage));
  const std::string_view digits = Line.substr(blank + 1);
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), c.Size);
  if (digits.empty() || digits[0] < '0' || digits[0] > '9' || ec != std::errc() || end != digits.data() + digits.size())
    throw EkxProjectError(std::string(MalformedCheckMessage));
  return c;
}

std::vector<TCheckLine> ReadCheckSection(TProjectReader& Reader)
{
  const auto n = Reader.ReadNumber<std::int32_t>();
  Reader.SkipRestOfLine();
  // Every line takes at least 8 bytes ("whole 0" and its line feed is the shortest).
  if (n < 0 || static_cast<std::size_t>(n) > Reader.Remaining() / 8 + 1) throw EkxProjectError(std::string(MalformedCheckMessage));
  std::vector<TCheckLine> lines;
  lines.reserve(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) lines.push_back(ParseCheckLine(Reader.ReadLine()));
  return lines;
}

}  // namespace

namespace {

void WriteCheckSection(std::FILE* f, const TkxFileList& List)
{
  const auto begin = List.Items.begin(), end = begin + List.Count;
  if (std::all_of(begin, end, [](const TkxFileEntry& e) { return e.Check == TkxCheckState::NotChecked; })) return;
  std::fprintf(f, "CHECK\n%d\n", List.Count);
  for (auto e = begin; e != end && !std::ferror(f); ++e) {
    const std::string_view state = CheckStateName(e->Check);
    std::fprintf(f, "%.*s %lld\n", static_cast<int>(state.size()), state.data(), static_cast<long long>(e->CheckedSize));
  }
}

void WriteProject(std::FILE* f, const std::string& Location, const TkxFileList& List)
{
  std::fprintf(f, "KX\nLOCATION\n%s\nFILES\n%d\n", Location.c_str(), List.Count);
  for (std::int32_t i = 0; i < List.Count && !std::ferror(f); ++i) {
    const TkxFileEntry& e = List.Items[static_cast<std::size_t>(i)];
    std::fwrite(e.Name.data(), 1, e.Name.size(), f);
    std::fputc('\n', f);
    const std::string_view ext = KindExtensions[e.Kind];
    std::fwrite(ext.data(), 1, ext.size(), f);
    std::fprintf(f, "\n%lld\n%lld\n", static_cast<long long>(e.Offset), static_cast<long long>(e.Size));
  }
  WriteCheckSection(f, List);
}

// The file a save replaces: FileName, or the file a symbolic link there names, so that saving
// through a link updates the linked project as writing into it always did.
std::string SaveTarget(const std::string& FileName)
{
  struct stat st {};
  if (::lstat(FileName.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return FileName;
  std::error_code ec;
  const fs::path resolved = fs::canonical(FileName, ec);
  return ec ? FileName : resolved.string();
}

// A new file beside Target, named after it and hidden, created exclusively so that concurrent
// saves never share one.
int CreateTempBeside(const std::string& Target, std::string& TempName)
{
  static std::atomic<unsigned> serial{0};
  const fs::path target(Target);
  const std::string base = target.filename().string().substr(0, 200);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = "." + base + "." + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".tmp";
    TempName = (target.parent_path() / name).string();
    const int fd = ::open(TempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

void CheckProjectTarget(const std::string& FileName)
{
  const std::string target = SaveTarget(FileName);
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    RequireRegularFile(st);
    if (::access(target.c_str(), W_OK) != 0) ThrowIOError(errno);
  }
  // The save writes a new file beside the target and renames it; creating one now tests exactly
  // that: a missing folder, a folder the user may not write to, a read-only file system.
  std::string tempName;
  const int fd = CreateTempBeside(target, tempName);
  if (fd < 0) ThrowIOError(errno);
  ::close(fd);
  ::unlink(tempName.c_str());
}

void SaveProjectToFile(const std::string& FileName, const std::string& Location, const TkxFileList& List)
{
  if (Location.find_first_of("\r\n") != std::string::npos)
    throw EkxProjectError(std::string(LocationLineBreakMessage));
  const std::string target = SaveTarget(FileName);
  struct stat old {};
  const bool replaces = ::stat(target.c_str(), &old) == 0;
  if (replaces) {
    RequireRegularFile(old);
    // Renaming would replace a file the user may not write to; writing into it never could.
    if (::access(target.c_str(), W_OK) != 0) ThrowIOError(errno);
  }

  std::string tempName;
  const int fd = CreateTempBeside(target, tempName);
  if (fd < 0) ThrowIOError(errno);
  TFilePtr file(::fdopen(fd, "wb"));
  if (!file) {
    const int error = errno;
    ::close(fd);
    ::unlink(tempName.c_str());
    ThrowIOError(error);
  }
  const auto fail = [&](int Error) {
    file.reset();
    ::unlink(tempName.c_str());
    ThrowIOError(Error);
  };
  if (replaces) {
    // The project keeps its permissions and, where allowed, its owner.
    if (::fchmod(fd, old.st_mode & 07777) != 0) fail(errno);
    [[maybe_unused]] const int owned = ::fchown(fd, old.st_uid, old.st_gid);
  }
  WriteProject(file.get(), Location, List);
  // Buffered data reaches the disk only with the flush, so a full disk is often reported there;
  // fsync makes sure the bytes are stored before the rename makes them the project.
  if (std::ferror(file.get()) || std::fflush(file.get()) != 0 || ::fsync(fd) != 0) fail(errno ? errno : EIO);
  if (std::fclose(file.release()) != 0) {
    const int error = errno;
    ::unlink(tempName.c_str());
    ThrowIOError(error);
  }
  if (::rename(tempName.c_str(), target.c_str()) != 0) {
    const int error = errno;
    ::unlink(tempName.c_str());
    ThrowIOError(error);
  }
}

void LoadProject(const std::string& FileName, std::string& Location, TkxFileList& List)
{
  LoadProjectFromText(ReadWholeFile(FileName), Location, List);
}

void LoadProjectFromText(std::string_view Text, std::string& Location, TkxFileList& List)
{
  TProjectReader reader(Text);
  std::optional<std::vector<TCheckLine>> checks;
  while (!reader.Eof()) {
    const std::string_view line = reader.ReadLine();
    if (line == "LOCATION")
      Location = reader.ReadLine();
    else if (line == "FILES")
      ReadFilesSection(reader, List);
    else if (line == "CHECK")
      checks = ReadCheckSection(reader);
  }
  // Sections come in any order, so the states are given to the list that the file leaves.
  if (!checks) return;
  if (checks->size() != static_cast<std::size_t>(List.Count)) throw EkxProjectError(std::string(MalformedCheckMessage));
  for (std::size_t i = 0; i < checks->size(); ++i) {
    List.Items[i].Check = (*checks)[i].State;
    List.Items[i].CheckedSize = (*checks)[i].Size;
  }
}

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
