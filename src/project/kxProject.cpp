#include "project/kxProject.h"

#include "common/kxPendingFiles.h"
#include "common/kxPlatform.h"
#include "common/kxShared.h"
#include "media/kxDisks.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <system_error>
#include <limits>
#include <algorithm>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

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
    case EFBIG:
      throw EkxProjectError("Disk full", Error);
    default: {
      if (os::IsDiskFull(Error)) throw EkxProjectError("Disk full", Error);
      char text[32];
      std::snprintf(text, sizeof text, "I/O error %d", Error);
      throw EkxProjectError(text, Error);
    }
  }
}

// Closes the file it holds, whatever way the function that opened it is left.
class TOpenFile {
 public:
  explicit TOpenFile(os::TFileHandle Handle_) : Handle(Handle_) {}
  ~TOpenFile() { Close(); }
  TOpenFile(const TOpenFile&) = delete;
  TOpenFile& operator=(const TOpenFile&) = delete;
  os::TFileHandle Get() const { return Handle; }
  // False when closing reported an error (errno tells which).
  bool Close() noexcept
  {
    const os::TFileHandle handle = std::exchange(Handle, os::NoFileHandle);
    return handle == os::NoFileHandle || os::Close(handle);
  }

 private:
  os::TFileHandle Handle;
};

// Refuses what is not a regular file before a byte is read: a named pipe would block, and a
// device such as /dev/zero would never end.
void RequireRegularFile(os::TFileKind Kind)
{
  if (Kind == os::TFileKind::Directory) ThrowIOError(EISDIR);
  if (Kind != os::TFileKind::Regular) throw EkxProjectError(std::string(NotRegularFileMessage));
}

void RequireRegularFile(const fs::file_status& Status)
{
  RequireRegularFile(fs::is_directory(Status)      ? os::TFileKind::Directory
                     : fs::is_regular_file(Status) ? os::TFileKind::Regular
                                                   : os::TFileKind::Other);
}

std::string ReadWholeFile(const std::string& FileName)
{
  // Opening a named pipe returns at once, so that it can be refused.
  const TOpenFile file(os::OpenRead(FileName));
  if (file.Get() == os::NoFileHandle) ThrowIOError(errno);
  const os::TFileStatus status = os::Status(file.Get());
  if (status.Kind == os::TFileKind::Unknown) ThrowIOError(errno);
  RequireRegularFile(status.Kind);
  if (status.Size > MaxProjectFileSize) throw EkxProjectError(std::string(ProjectTooLargeMessage));
  std::string data;
  std::uint8_t chunk[65536];
  for (;;) {
    const std::int64_t n = os::Read(file.Get(), chunk, sizeof chunk);
    if (n < 0) ThrowIOError(errno);
    if (n == 0) break;
    // The file may grow while it is read.
    if (static_cast<std::int64_t>(data.size()) + n > MaxProjectFileSize)
      throw EkxProjectError(std::string(ProjectTooLargeMessage));
    data.append(reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(n));
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

// The project's bytes on their way into its file, in blocks of 64 KiB: one system call per
// block, not per line. The first failed write ends the writing and keeps its error number.
class TProjectWriter {
 public:
  explicit TProjectWriter(os::TFileHandle File_) : File(File_) { Buffer.reserve(Capacity); }

  void Put(std::string_view Text)
  {
    if (Buffer.size() + Text.size() > Capacity) Flush();
    if (Error == 0) Buffer.append(Text);
  }

  void PutLine(std::int64_t Number)
  {
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, Number);
    Put(std::string_view(digits, static_cast<std::size_t>(end - digits)));
    Put("\n");
  }

  // True when every byte put so far is written.
  bool Flush()
  {
    if (Error == 0 && !Buffer.empty() &&
        !os::Write(File, reinterpret_cast<const std::uint8_t*>(Buffer.data()), static_cast<std::int64_t>(Buffer.size())))
      Error = errno != 0 ? errno : EIO;
    Buffer.clear();
    return Error == 0;
  }

  int Error = 0;

 private:
  static constexpr std::size_t Capacity = 65536;
  os::TFileHandle File;
  std::string Buffer;
};

// The check's states, only when an entry was checked, so that an unchecked project is written
// as it always was.
void WriteCheckSection(TProjectWriter& Out, const TkxFileList& List)
{
  const auto begin = List.Items.begin(), end = begin + List.Count;
  if (std::all_of(begin, end, [](const TkxFileEntry& e) { return e.Check == TkxCheckState::NotChecked; })) return;
  Out.Put("CHECK\n");
  Out.PutLine(List.Count);
  for (auto e = begin; e != end && Out.Error == 0; ++e) {
    Out.Put(CheckStateName(e->Check));
    Out.Put(" ");
    Out.PutLine(e->CheckedSize);
  }
}

void WriteProject(TProjectWriter& Out, const std::string& Location, const TkxFileList& List)
{
  Out.Put("KX\nLOCATION\n");
  Out.Put(Location);
  Out.Put("\nFILES\n");
  Out.PutLine(List.Count);
  for (std::int32_t i = 0; i < List.Count && Out.Error == 0; ++i) {
    const TkxFileEntry& e = List.Items[static_cast<std::size_t>(i)];
    Out.Put(e.Name);
    Out.Put("\n");
    Out.Put(KindExtensions[e.Kind]);
    Out.Put("\n");
    Out.PutLine(e.Offset);
    Out.PutLine(e.Size);
  }
  WriteCheckSection(Out, List);
}

// The file a save replaces: FileName, or the file a symbolic link there names, so that saving
// through a link updates the linked project as writing into it always did.
std::string SaveTarget(const std::string& FileName)
{
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(FileName, ec))) return FileName;
  const fs::path resolved = fs::canonical(FileName, ec);
  return ec ? FileName : resolved.string();
}

// The kind of file at Target (links followed), or nothing when no file can be found there.
std::optional<fs::file_status> ExistingFile(const std::string& Target)
{
  std::error_code ec;
  const fs::file_status status = fs::status(Target, ec);
  if (ec || !fs::exists(status)) return std::nullopt;
  return status;
}

// A new file beside Target, named after it and hidden, created exclusively so that concurrent
// saves never share one.
os::TFileHandle CreateTempBeside(const std::string& Target, std::string& TempName)
{
  static std::atomic<unsigned> serial{0};
  const fs::path target(Target);
  const std::string base = target.filename().string().substr(0, 200);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = "." + base + "." + std::to_string(os::ProcessId()) + "-" + std::to_string(serial++) + ".tmp";
    TempName = (target.parent_path() / name).string();
    const os::TFileHandle file = os::CreateNew(TempName);
    if (file != os::NoFileHandle || errno != EEXIST) return file;
  }
  return os::NoFileHandle;
}

void RemoveQuietly(const std::string& Name)
{
  std::error_code ec;
  fs::remove(Name, ec);
}

}  // namespace

namespace {

// The new file beside a target, removed on every way out unless it became the target.
class TTempFile {
 public:
  explicit TTempFile(const std::string& Target) : File(CreateTempBeside(Target, Name))
  {
    if (File.Get() == os::NoFileHandle) ThrowIOError(errno);
    Pending.emplace(Name);
  }
  ~TTempFile()
  {
    File.Close();
    if (!Renamed) RemoveQuietly(Name);
  }
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  os::TFileHandle Get() const { return File.Get(); }
  // Stores every byte on the disk, closes the file and puts it in Target's place.
  void ReplaceTarget(const std::string& Target)
  {
    // A full disk shows in a write, or only in the sync or the close on some file systems; the
    // sync makes sure the bytes are stored before the rename makes them the file.
    if (!os::Sync(File.Get())) ThrowIOError(errno != 0 ? errno : EIO);
    if (!File.Close()) ThrowIOError(errno);
    if (!os::Replace(Name, Target)) ThrowIOError(errno);
    Renamed = true;
  }

 private:
  std::string Name;
  TOpenFile File;
  // Removed by a second Ctrl+C too, should one end the program during the save.
  std::optional<TkxPendingFile> Pending;
  bool Renamed = false;
};

// FileName is replaced by a new file that Write fills, as SaveProjectToFile describes.
void ReplaceFileWith(const std::string& FileName, const std::function<void(TProjectWriter&)>& Write)
{
  const std::string target = SaveTarget(FileName);
  const auto existing = ExistingFile(target);
  if (existing) {
    RequireRegularFile(*existing);
    // Renaming would replace a file the user may not write to; writing into it never could.
    if (!os::CanWrite(target)) ThrowIOError(errno);
  }
  TTempFile file(target);
  // The file keeps its permissions and, where allowed, its owner.
  if (existing && !os::KeepAttributes(file.Get(), target)) ThrowIOError(errno);
  TProjectWriter writer(file.Get());
  Write(writer);
  if (!writer.Flush()) ThrowIOError(writer.Error);
  file.ReplaceTarget(target);
}

}  // namespace

void CheckProjectLocation(const std::string& Location)
{
  if (Location.find_first_of("\r\n") != std::string::npos)
    throw EkxProjectError(std::string(LocationLineBreakMessage));
}

void CheckProjectTarget(const std::string& FileName)
{
  const std::string target = SaveTarget(FileName);
  if (const auto existing = ExistingFile(target)) {
    RequireRegularFile(*existing);
    if (!os::CanWrite(target)) ThrowIOError(errno);
  }
  // The save writes a new file beside the target and renames it; creating one now tests exactly
  // that: a missing folder, a folder the user may not write to, a read-only file system. A full
  // one still takes an empty file, so the probe holds bytes, stored on the disk as a save's are.
  const TTempFile file(target);
  TProjectWriter writer(file.Get());
  writer.Put(std::string(TargetProbeBytes, '\0'));
  if (!writer.Flush()) ThrowIOError(writer.Error);
  if (!os::Sync(file.Get())) ThrowIOError(errno != 0 ? errno : EIO);
}

void SaveProjectToFile(const std::string& FileName, const std::string& Location, const TkxFileList& List)
{
  CheckProjectLocation(Location);
  ReplaceFileWith(FileName, [&](TProjectWriter& Writer) { WriteProject(Writer, Location, List); });
}

void SaveTextToFile(const std::string& FileName, std::string_view Text)
{
  ReplaceFileWith(FileName, [Text](TProjectWriter& Writer) { Writer.Put(Text); });
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
