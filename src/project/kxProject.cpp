// SPDX-License-Identifier: GPL-3.0-or-later
#include "project/kxProject.h"

#include "common/kxReplaceFile.h"
#include "common/kxPlatform.h"
#include "common/kxShared.h"
#include "media/kxDisks.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
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

// What a line holds, for the words of a fault: "the offset of entry 2 of 3", or "the location"
// outside the entries. Made into words only when a fault is reported, not for every line read.
struct TField {
  std::string_view Name;
  std::int32_t Entry = 0;
  std::int32_t Count = 0;

  std::string Words() const
  {
    std::string words(Name);
    if (Entry > 0) words += " of entry " + std::to_string(Entry) + " of " + std::to_string(Count);
    return words;
  }
};

bool IsSectionKeyword(std::string_view Line) { return Line == "LOCATION" || Line == "FILES" || Line == "CHECK"; }

// The reader of the format, strict: every line whole, with its line feed, and every number alone
// on its line. Each fault names its line. It reads bytes in memory, or a file a block at a time,
// so that reading a project holds the list it makes and not the file as well: a line is looked
// at where it lies in the block, and a block keeps only the part of a line that the block before
// it cut.
class TProjectReader {
 public:
  explicit TProjectReader(std::string_view Text) : Data(Text), Total(static_cast<std::int64_t>(Text.size())) {}
  // Over File, open for reading, of Size bytes when it was looked at.
  TProjectReader(os::TFileHandle File_, std::int64_t Size) : Total(Size), File(File_) {}

  bool Eof() { return Pos >= Data.size() && !ReadMore(); }
  // About how many bytes follow: enough to bound what a count may have allocated for it.
  std::size_t Remaining() const
  {
    return static_cast<std::size_t>(std::max<std::int64_t>(0, Total - Consumed - static_cast<std::int64_t>(Pos)));
  }
  // The number of the line read last; 0 before the first.
  std::int64_t Line() const { return LineNumber; }

  [[noreturn]] void Fail(std::string_view Message, std::string Detail, std::int64_t At = 0) const
  {
    throw EkxProjectError(std::string(Message), 0, At != 0 ? At : LineNumber, std::move(Detail));
  }

  // The next line without its line feed (and a carriage return right before it, so that files
  // with CR LF ends read the same); valid until the next line is read. A file that ends before
  // the line, or within it, is cut short: Missing says what the line should have held.
  std::string_view ReadLine(const TField& Missing, std::string_view Message = InvalidProjectMessage)
  {
    std::size_t from = Pos;
    std::size_t nl;
    while ((nl = Data.find('\n', from)) == std::string_view::npos) {
      // What was searched is not searched again: a long line read block by block costs its length.
      const std::size_t searched = Data.size() - Pos;
      if (!ReadMore())
        Fail(Message, "the file ends before " + Missing.Words() + ": it is cut short", LineNumber + 1);
      from = Pos + searched;
    }
    std::string_view line = Data.substr(Pos, nl - Pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    Pos = nl + 1;
    ++LineNumber;
    return line;
  }

  // A line that holds a signed decimal integer of type T and nothing else.
  template <typename T>
  T ReadNumber(const TField& What)
  {
    std::string_view token = ReadLine(What);
    bool negative = false;
    if (!token.empty() && (token.front() == '+' || token.front() == '-')) {
      negative = token.front() == '-';
      token.remove_prefix(1);
    }
    // The magnitude is parsed unsigned, so that the most negative value is accepted too.
    using TUnsigned = std::make_unsigned_t<T>;
    TUnsigned magnitude = 0;
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), magnitude);
    const bool digitsOnly = !token.empty() && token.find_first_not_of("0123456789") == std::string_view::npos;
    const auto limit = static_cast<TUnsigned>(std::numeric_limits<T>::max()) + (negative ? 1u : 0u);
    if (!digitsOnly || ec != std::errc() || end != token.data() + token.size() || magnitude > limit)
      Fail(InvalidNumericInput, What.Words() + " is not a whole number within its range");
    if (!negative) return static_cast<T>(magnitude);
    return magnitude == 0 ? T{0} : static_cast<T>(-static_cast<T>(magnitude - 1) - 1);
  }

 private:
  // Appends the next block of the file to what is left of the current one: false at its end, or
  // for bytes in memory.
  bool ReadMore()
  {
    if (File == os::NoFileHandle || Ended) return false;
    Buffer.erase(0, Pos);
    Consumed += static_cast<std::int64_t>(Pos);
    Pos = 0;
    const std::size_t kept = Buffer.size();
    Buffer.resize(kept + BlockSize);
    const std::int64_t n = os::Read(File, reinterpret_cast<std::uint8_t*>(Buffer.data() + kept), BlockSize);
    Buffer.resize(kept + static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
    Data = Buffer;
    if (n < 0) ThrowIOError(errno);
    Ended = n == 0;
    // The file may grow while it is read.
    if (Consumed + static_cast<std::int64_t>(Buffer.size()) > MaxProjectFileSize)
      throw EkxProjectError(std::string(ProjectTooLargeMessage));
    return !Ended;
  }

  static constexpr std::size_t BlockSize = 65536;
  std::string_view Data;
  std::size_t Pos = 0;
  std::int64_t LineNumber = 0;
  std::int64_t Total;
  std::int64_t Consumed = 0;  // bytes of the file before Data
  os::TFileHandle File = os::NoFileHandle;
  std::string Buffer;
  bool Ended = false;
};

// Where a section's count stands, for the words of a fault that a wrong count causes.
struct TCountLine {
  std::string_view What;  // "entries", "check lines"
  std::int32_t Count = 0;
  std::int64_t Line = 0;

  // "after 16 of the 17 entries that the count on line 5 gives"
  std::string After(std::int32_t Read) const
  {
    return "after " + std::to_string(Read) + " of the " + std::to_string(Count) + " " + std::string(What) +
           " that the count on line " + std::to_string(Line) + " gives";
  }
};

void ReadFilesSection(TProjectReader& Reader, TkxFileList& List, TCountLine& Count)
{
  const auto n = Reader.ReadNumber<std::int32_t>({"the count of entries"});
  if (n < 0) Reader.Fail(InvalidNumericInput, "the count of entries is negative");
  if (n > MaxProjectEntries)
    Reader.Fail(TooManyEntriesMessage, std::to_string(n) + " entries, where no disc holds more than " +
                                           std::to_string(MaxProjectEntries));
  Count = {"entries", n, Reader.Line()};
  // Room only for the entries the rest of the file can hold (an entry takes at least 6 bytes), so
  // that a count the file does not bear out costs no memory.
  List.Items.reserve(std::min(static_cast<std::size_t>(n), Reader.Remaining() / 6));
  // Entries of one kind mostly come together (a scan's list is sorted by extension): the last
  // extension's kind is looked up once for its run.
  std::string lastExt;
  TKind lastKind = Kinds::Unknown;
  for (std::int32_t i = 1; i <= n; ++i) {
    TkxFileEntry e;
    e.Name = Reader.ReadLine({"the name", i, n});
    try {
      const std::string_view ext = Reader.ReadLine({"the extension", i, n});
      if (ext != lastExt) {
        lastExt = ext;
        lastKind = KindOfExtension(ext);
        if (lastKind == Kinds::Unknown && !ext.empty())
          Reader.Fail(InvalidProjectMessage, TField{"the extension", i, n}.Words() + " is none of the known kinds'");
      }
      e.Kind = lastKind;
      e.Offset = Reader.ReadNumber<std::int64_t>({"the offset", i, n});
      e.Size = Reader.ReadNumber<std::int64_t>({"the size", i, n});
    } catch (const EkxProjectError& error) {
      // A section where an entry should be: a name may be "CHECK", but an entry that begins so and
      // then breaks means the count promised one entry more than there is.
      if (error.Error != 0 || !IsSectionKeyword(e.Name)) throw;
      Reader.Fail(InvalidProjectMessage, "a section begins " + Count.After(i - 1) + ": the count is too high",
                  Count.Line);
    }
    List.Items.push_back(std::move(e));
  }
  List.Count = n;
}

struct TCheckLine {
  TkxCheckState State;
  std::int64_t Size;
};

// A check line: a state word, one blank and the size in decimal digits.
bool ParseCheckLine(std::string_view Line, TCheckLine& Check)
{
  const std::size_t blank = Line.find(' ');
  if (blank == std::string_view::npos || !CheckStateOfName(Line.substr(0, blank), Check.State)) return false;
  const std::string_view digits = Line.substr(blank + 1);
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), Check.Size);
  return !digits.empty() && digits[0] >= '0' && digits[0] <= '9' && ec == std::errc() &&
         end == digits.data() + digits.size();
}

// The "CHECK" section: the count of entries, then per entry a check line. Each fault is
// MalformedCheckMessage with its line.
std::vector<TCheckLine> ReadCheckSection(TProjectReader& Reader, TCountLine& Count)
{
  const auto n = Reader.ReadNumber<std::int32_t>({"the count of checked entries"});
  if (n < 0 || n > MaxProjectEntries) Reader.Fail(MalformedCheckMessage, "the count of checked entries is out of range");
  Count = {"check lines", n, Reader.Line()};
  std::vector<TCheckLine> lines;
  // Every line takes at least 8 bytes ("whole 0" and its line feed is the shortest).
  lines.reserve(std::min(static_cast<std::size_t>(n), Reader.Remaining() / 8));
  for (std::int32_t i = 1; i <= n; ++i) {
    const TField what{"the check", i, n};
    const std::string_view line = Reader.ReadLine(what, MalformedCheckMessage);
    TCheckLine c{TkxCheckState::NotChecked, 0};
    if (IsSectionKeyword(line))
      Reader.Fail(MalformedCheckMessage, "a section begins " + Count.After(i - 1) + ": the count is too high",
                  Count.Line);
    if (!ParseCheckLine(line, c))
      Reader.Fail(MalformedCheckMessage, what.Words() + " is not a state word, one blank and a size");
    lines.push_back(c);
  }
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

// The new file beside a target (TkxReplacement), refused with the project's own error.
class TTempFile : public TkxReplacement {
 public:
  explicit TTempFile(const std::string& Target) : TkxReplacement(Target)
  {
    if (Error() != 0) ThrowIOError(Error());
  }
  os::TFileHandle Get() const { return Handle(); }
  void ReplaceTarget()
  {
    if (const int error = Commit()) ThrowIOError(error);
  }
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
  file.ReplaceTarget();
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

std::int64_t ProjectFileSize(const std::string& Location, const TkxFileList& List)
{
  const auto digits = [](std::int64_t Number) {
    char text[24];
    return static_cast<std::int64_t>(std::to_chars(text, text + sizeof text, Number).ptr - text) + 1;
  };
  const auto begin = List.Items.begin(), end = begin + std::max(List.Count, 0);
  std::int64_t bytes = 3 + 9 + static_cast<std::int64_t>(Location.size()) + 1 + 6 + digits(List.Count);
  for (auto e = begin; e != end; ++e)
    bytes += static_cast<std::int64_t>(e->Name.size()) + 1 + static_cast<std::int64_t>(KindExtensions[e->Kind].size()) +
             1 + digits(e->Offset) + digits(e->Size);
  if (std::any_of(begin, end, [](const TkxFileEntry& e) { return e.Check != TkxCheckState::NotChecked; })) {
    bytes += 6 + digits(List.Count);
    for (auto e = begin; e != end; ++e)
      bytes += static_cast<std::int64_t>(CheckStateName(e->Check).size()) + 1 + digits(e->CheckedSize);
  }
  return bytes;
}

void CheckProjectSavable(const std::string& Location, const TkxFileList& List, std::int64_t MaxFileSize)
{
  CheckProjectLocation(Location);
  if (List.Count > MaxProjectEntries)
    throw EkxProjectError(std::string(TooManyEntriesMessage), 0, 0,
                          std::to_string(List.Count) + " entries, where a project holds at most " +
                              std::to_string(MaxProjectEntries));
  const bool checked = std::any_of(List.Items.begin(), List.Items.begin() + std::max(List.Count, 0),
                                   [](const TkxFileEntry& e) { return e.Check != TkxCheckState::NotChecked; });
  for (std::int32_t i = 0; i < List.Count; ++i) {
    const TkxFileEntry& e = List.Items[static_cast<std::size_t>(i)];
    // A line feed would split the name's line; a carriage return at its end would be read as
    // part of the line end and dropped.
    if (e.Name.find('\n') != std::string::npos || (!e.Name.empty() && e.Name.back() == '\r'))
      throw EkxProjectError(std::string(InvalidProjectMessage), 0, 0,
                            "the name of entry " + std::to_string(i + 1) + " holds a line break and cannot be saved");
    if (checked && e.CheckedSize < 0)
      throw EkxProjectError(std::string(MalformedCheckMessage), 0, 0,
                            "the checked size of entry " + std::to_string(i + 1) + " is negative and cannot be saved");
  }
  const std::int64_t bytes = ProjectFileSize(Location, List);
  if (bytes > MaxFileSize)
    throw EkxProjectError(std::string(ProjectTooLargeMessage), 0, 0,
                          "the project would take " + std::to_string(bytes) + " bytes, and a project of more than " +
                              std::to_string(MaxFileSize) + " bytes is not read; the file is left as it was");
}

void SaveProjectToFile(const std::string& FileName, const std::string& Location, const TkxFileList& List)
{
  CheckProjectSavable(Location, List);
  ReplaceFileWith(FileName, [&](TProjectWriter& Writer) { WriteProject(Writer, Location, List); });
}

void SaveTextToFile(const std::string& FileName, std::string_view Text)
{
  ReplaceFileWith(FileName, [Text](TProjectWriter& Writer) { Writer.Put(Text); });
}

namespace {

void ReadProject(TProjectReader& Reader, std::string& Location, TkxFileList& List)
{
  Reader.ReadLine({"the first line"});
  std::optional<std::string> location;
  std::optional<TkxFileList> list;
  std::optional<std::vector<TCheckLine>> checks;
  std::int64_t checksLine = 0;
  // The count of the section read last, for a line that follows its items but begins no section.
  std::optional<TCountLine> lastCount;
  while (!Reader.Eof()) {
    const std::string_view keyword = Reader.ReadLine({"a section"});
    if (keyword == "LOCATION" && !location) {
      location = Reader.ReadLine({"the location"});
      lastCount.reset();
      if (location->find('\r') != std::string::npos)
        Reader.Fail(InvalidProjectMessage, "the location holds a carriage return");
    } else if (keyword == "FILES" && !list) {
      list.emplace();
      ReadFilesSection(Reader, *list, lastCount.emplace());
    } else if (keyword == "CHECK" && !checks) {
      checksLine = Reader.Line() + 1;
      checks = ReadCheckSection(Reader, lastCount.emplace());
    } else if (IsSectionKeyword(keyword)) {
      Reader.Fail(InvalidProjectMessage, "a second " + std::string(keyword) + " section");
    } else {
      std::string detail = "a section should begin here (LOCATION, FILES or CHECK)";
      TCheckLine check{};
      if (lastCount && lastCount->What == "check lines" && ParseCheckLine(keyword, check))
        Reader.Fail(MalformedCheckMessage, "a check line follows the " + std::to_string(lastCount->Count) +
                                               " that the count on line " + std::to_string(lastCount->Line) +
                                               " gives: the count is too low");
      if (lastCount)
        detail += ", or the count on line " + std::to_string(lastCount->Line) + ", " + std::to_string(lastCount->Count) +
                  ", is too low";
      Reader.Fail(InvalidProjectMessage, detail);
    }
  }
  if (!location || !list)
    Reader.Fail(InvalidProjectMessage,
                std::string("the ") + (location ? "FILES" : "LOCATION") + " section is missing: the file is cut short",
                Reader.Line() + 1);
  // Sections come in any order, so the states are given to the list that the file leaves.
  if (checks && checks->size() != static_cast<std::size_t>(list->Count))
    Reader.Fail(MalformedCheckMessage,
                "the CHECK section's count, " + std::to_string(checks->size()) + ", is not the list's, " +
                    std::to_string(list->Count),
                checksLine);
  for (std::size_t i = 0; checks && i < checks->size(); ++i) {
    list->Items[i].Check = (*checks)[i].State;
    list->Items[i].CheckedSize = (*checks)[i].Size;
  }
  Location = std::move(*location);
  List = std::move(*list);
}

void RequireProjectStart(TProjectReader& Reader, std::string_view Start)
{
  if (Start.empty()) Reader.Fail(InvalidProjectMessage, "the file is empty", 1);
  if (!Start.starts_with("KX\n") && !Start.starts_with("KX\r\n"))
    Reader.Fail(InvalidProjectMessage, "the first line is not \"KX\": this is not a project file", 1);
}

}  // namespace

void LoadProject(const std::string& FileName, std::string& Location, TkxFileList& List)
{
  // Opening a named pipe returns at once, so that it can be refused.
  const TOpenFile file(os::OpenRead(FileName));
  if (file.Get() == os::NoFileHandle) ThrowIOError(errno);
  const os::TFileStatus status = os::Status(file.Get());
  if (status.Kind == os::TFileKind::Unknown) ThrowIOError(errno);
  RequireRegularFile(status.Kind);
  if (status.Size > MaxProjectFileSize) throw EkxProjectError(std::string(ProjectTooLargeMessage));
  // The first bytes tell a project from any other file before a line of it is looked for.
  std::uint8_t start[4] = {};
  const std::int64_t n = os::ReadAt(file.Get(), start, sizeof start, 0);
  TProjectReader reader(file.Get(), status.Size);
  RequireProjectStart(reader, std::string_view(reinterpret_cast<const char*>(start),
                                               static_cast<std::size_t>(std::max<std::int64_t>(n, 0))));
  ReadProject(reader, Location, List);
}

void LoadProjectFromText(std::string_view Text, std::string& Location, TkxFileList& List)
{
  TProjectReader reader(Text);
  RequireProjectStart(reader, Text);
  ReadProject(reader, Location, List);
}

std::string ProjectErrorPlace(const std::string& FileName, const EkxProjectError& Error)
{
  return Error.Line > 0 ? FileName + ", line " + std::to_string(Error.Line) : FileName;
}

std::string ProjectErrorReason(const EkxProjectError& Error)
{
  if (Error.Error != 0) return std::strerror(Error.Error);
  return Error.Detail.empty() ? std::string(Error.what()) : Error.Detail;
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
