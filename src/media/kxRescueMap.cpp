// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kxRescueMap.h"

#include "common/kxPlatform.h"
#include "common/kxReplaceFile.h"
#include "common/kxShared.h"
#include "common/kxVersion.h"
#include "media/kxDisks.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace kx {

int Severity(TkxSectorState State)
{
  switch (State) {
    case TkxSectorState::Finished: return 0;
    case TkxSectorState::NonTried: return 1;
    case TkxSectorState::NonTrimmed: return 2;
    case TkxSectorState::NonScraped: return 3;
    case TkxSectorState::Bad: return 4;
  }
  return 4;
}

// ---- TkxSectorMap ----------------------------------------------------------------------------

TkxSectorMap::TkxSectorMap(std::int64_t Sectors, TkxSectorState Initial) : Size(std::max<std::int64_t>(0, Sectors))
{
  if (Size == 0) return;
  RunStarts[0] = Initial;
  Counts[Severity(Initial)] = Size;
  Areas = Initial == TkxSectorState::Finished ? 0 : 1;
}

TkxSectorMap TkxSectorMap::FromRuns(std::int64_t Sectors, std::span<const std::pair<std::int64_t, TkxSectorState>> Runs)
{
  TkxSectorMap map;
  map.Size = std::max<std::int64_t>(0, Sectors);
  bool previousUnfinished = false;
  for (std::size_t i = 0; i < Runs.size(); ++i) {
    const auto [first, state] = Runs[i];
    const std::int64_t end = i + 1 < Runs.size() ? Runs[i + 1].first : map.Size;
    if (first < 0 || first >= end || end > map.Size || (i == 0) != (first == 0))
      throw std::invalid_argument("FromRuns: runs must begin at 0, ascend and lie inside the map");
    map.Counts[Severity(state)] += end - first;
    const bool unfinished = state != TkxSectorState::Finished;
    if (unfinished && !previousUnfinished) ++map.Areas;
    previousUnfinished = unfinished;
    // Neighbours of one state are one run, as Set keeps them.
    if (map.RunStarts.empty() || std::prev(map.RunStarts.end())->second != state)
      map.RunStarts.emplace_hint(map.RunStarts.end(), first, state);
  }
  if (map.Size > 0 && map.RunStarts.empty()) throw std::invalid_argument("FromRuns: no runs");
  return map;
}

TkxSectorState TkxSectorMap::At(std::int64_t Sector) const
{
  if (Sector < 0 || Sector >= Size) return TkxSectorState::NonTried;
  return std::prev(RunStarts.upper_bound(Sector))->second;
}

std::pair<std::int64_t, std::int64_t> TkxSectorMap::RunAt(std::int64_t Sector) const
{
  if (Sector < 0 || Sector >= Size) return {Sector, Sector};
  const auto next = RunStarts.upper_bound(Sector);
  return {std::prev(next)->first, next == RunStarts.end() ? Size : next->first};
}

std::int64_t TkxSectorMap::Count(TkxSectorState State) const { return Counts[Severity(State)]; }

// Positions in [First, Last] where an area of unfinished sectors begins.
std::int64_t TkxSectorMap::AreaStartsIn(std::int64_t First, std::int64_t Last) const
{
  if (First > Last) return 0;
  std::int64_t starts = 0;
  auto it = std::prev(RunStarts.upper_bound(First));
  bool before = First > 0 && At(First - 1) != TkxSectorState::Finished;
  for (std::int64_t at = First; it != RunStarts.end() && at <= Last;) {
    const bool unfinished = it->second != TkxSectorState::Finished;
    if (unfinished && !before) ++starts;
    before = unfinished;
    ++it;
    if (it != RunStarts.end()) at = it->first;
  }
  return starts;
}

void TkxSectorMap::Split(std::int64_t At)
{
  if (At <= 0 || At >= Size) return;
  const auto it = std::prev(RunStarts.upper_bound(At));
  if (it->first != At) RunStarts.emplace(At, it->second);
}

void TkxSectorMap::Merge(std::int64_t At)
{
  const auto it = RunStarts.find(At);
  if (it == RunStarts.end() || it == RunStarts.begin()) return;
  if (std::prev(it)->second == it->second) RunStarts.erase(it);
}

void TkxSectorMap::Set(std::int64_t First, std::int64_t End, TkxSectorState State)
{
  First = std::max<std::int64_t>(First, 0);
  End = std::min(End, Size);
  if (First >= End) return;
  const std::int64_t windowEnd = std::min(End, Size - 1);
  Areas -= AreaStartsIn(First, windowEnd);
  Split(First);
  Split(End);
  auto it = RunStarts.find(First);
  while (it != RunStarts.end() && it->first < End) {
    const auto next = std::next(it);
    const std::int64_t runEnd = next == RunStarts.end() ? Size : next->first;
    Counts[Severity(it->second)] -= runEnd - it->first;
    it = RunStarts.erase(it);
  }
  RunStarts.emplace(First, State);
  Counts[Severity(State)] += End - First;
  Merge(End);
  Merge(First);
  Areas += AreaStartsIn(First, windowEnd);
}

std::int64_t TkxSectorMap::FindNext(std::int64_t From, TkxSectorState State) const
{
  From = std::max<std::int64_t>(From, 0);
  if (From >= Size) return Size;
  auto it = std::prev(RunStarts.upper_bound(From));
  if (it->second == State) return From;
  for (++it; it != RunStarts.end(); ++it)
    if (it->second == State) return it->first;
  return Size;
}

std::int64_t TkxSectorMap::FindPrevious(std::int64_t Before, TkxSectorState State) const
{
  Before = std::min(Before, Size);
  if (Before <= 0) return -1;
  auto it = std::prev(RunStarts.upper_bound(Before - 1));
  if (it->second == State) return Before - 1;
  while (it != RunStarts.begin()) {
    const std::int64_t end = it->first;
    --it;
    if (it->second == State) return end - 1;
  }
  return -1;
}

std::int64_t TkxSectorMap::UnfinishedIn(std::int64_t First, std::int64_t End) const
{
  First = std::max<std::int64_t>(First, 0);
  End = std::min(End, Size);
  std::int64_t count = 0;
  for (std::int64_t at = First; at < End;) {
    const auto [runFirst, runEnd] = RunAt(at);
    const std::int64_t stop = std::min(runEnd, End);
    if (At(at) != TkxSectorState::Finished) count += stop - at;
    at = stop;
  }
  return count;
}

std::vector<TkxSectorState> CellStates(const TkxSectorMap& Map, std::size_t Count)
{
  std::vector<TkxSectorState> cells(Count, TkxSectorState::Finished);
  const std::int64_t n = Map.Sectors();
  if (n == 0 || Count == 0) return cells;
  const auto& runs = Map.Runs();
  auto it = runs.begin();
  const auto count = static_cast<std::int64_t>(Count);
  for (std::int64_t i = 0; i < count; ++i) {
    const std::int64_t first = i * n / count;
    const std::int64_t end = std::max(first + 1, (i + 1) * n / count);
    while (std::next(it) != runs.end() && std::next(it)->first <= first) ++it;
    TkxSectorState worst = it->second;
    for (auto r = std::next(it); r != runs.end() && r->first < end; ++r)
      if (Severity(r->second) > Severity(worst)) worst = r->second;
    cells[static_cast<std::size_t>(i)] = worst;
  }
  return cells;
}

// ---- identity ----------------------------------------------------------------------------------

std::string IdentityHash(const std::vector<std::uint8_t>& Bytes)
{
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const std::uint8_t b : Bytes) {
    hash ^= b;
    hash *= 0x100000001b3ULL;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

std::string IdentityMismatch(const TkxDiscIdentity& Recorded, const TkxDiscIdentity& Present)
{
  if (Recorded.Sectors != Present.Sectors)
    return "the map describes a disc of " + std::to_string(Recorded.Sectors) + " sectors; this disc has " +
           std::to_string(Present.Sectors);
  if (!Recorded.Toc.empty() && !Present.Toc.empty() && Recorded.Toc != Present.Toc)
    return "the table of contents of this disc differs from the one in the map";
  if (!Recorded.Volume.empty() && !Present.Volume.empty() && Recorded.Volume != Present.Volume)
    return "the volume descriptors of this disc differ from the ones in the map";
  return {};
}

// ---- the file ----------------------------------------------------------------------------------

namespace {

constexpr std::string_view DiscPrefix = "# Disc: ";
constexpr std::int64_t MaxMapFileSize = std::int64_t{256} << 20;

std::pair<char, int> StatusOf(const TkxRescueMap& Map)
{
  switch (Map.Phase) {
    case TkxRescuePhase::Copy: return {'?', 1};
    case TkxRescuePhase::Gaps: return {'?', 2};
    case TkxRescuePhase::Trim: return {'*', 1};
    case TkxRescuePhase::Scrape: return {'/', 1};
    case TkxRescuePhase::Retry: return {'-', std::max(1, Map.Pass)};
    case TkxRescuePhase::Finished: break;
  }
  return {'+', 1};
}

std::string HexOrNone(const std::string& Hash) { return Hash.empty() ? "none" : Hash; }

std::vector<std::string_view> Words(std::string_view Line)
{
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (true) {
    at = Line.find_first_not_of(" \t", at);
    if (at == std::string_view::npos) return words;
    const std::size_t end = std::min(Line.find_first_of(" \t", at), Line.size());
    words.push_back(Line.substr(at, end - at));
    at = end;
  }
}

// The first words of a line, at most four, without an allocation: a map may have millions of
// lines. Count is the number of words up to five, so that a line of too many shows as such.
struct TWords {
  std::string_view Word[4];
  std::size_t Count = 0;
};

TWords FirstWords(std::string_view Line)
{
  TWords words;
  std::size_t at = 0;
  while (words.Count < 5) {
    at = Line.find_first_not_of(" \t", at);
    if (at == std::string_view::npos) break;
    const std::size_t end = std::min(Line.find_first_of(" \t", at), Line.size());
    if (words.Count < 4) words.Word[words.Count] = Line.substr(at, end - at);
    ++words.Count;
    at = end;
  }
  return words;
}

std::int64_t Number(std::string_view Word, int Line, const char* What)
{
  int base = 10;
  if (Word.size() > 2 && Word[0] == '0' && (Word[1] == 'x' || Word[1] == 'X')) {
    base = 16;
    Word.remove_prefix(2);
  }
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(Word.data(), Word.data() + Word.size(), value, base);
  if (error != std::errc() || end != Word.data() + Word.size() || value < 0)
    throw EkxMapError(Line, std::string("the ") + What + " is not a number");
  return value;
}

// "# Disc: 10000 sectors; TOC 0123456789abcdef; volume descriptors none"
TkxDiscIdentity ParseDisc(std::string_view Text, int Line)
{
  TkxDiscIdentity disc;
  std::vector<std::string_view> words = Words(Text);
  const auto hash = [&](std::size_t At) -> std::string {
    const std::string_view w = words[At];
    if (w == "none") return {};
    if (w.size() != 16 || w.find_first_not_of("0123456789abcdef") != std::string_view::npos)
      throw EkxMapError(Line, "the disc's identity is not in the form the program writes");
    return std::string(w);
  };
  if (words.size() != 7 || words[1] != "sectors;" || words[2] != "TOC" || words[4] != "volume" ||
      words[5] != "descriptors" || words[3].empty() || words[3].back() != ';')
    throw EkxMapError(Line, "the disc's identity is not in the form the program writes");
  disc.Sectors = Number(words[0], Line, "disc's size");
  words[3].remove_suffix(1);
  disc.Toc = hash(3);
  disc.Volume = hash(6);
  return disc;
}

void SetPhase(TkxRescueMap& Map, char Status, int Pass, int Line)
{
  Map.Pass = 1;
  switch (Status) {
    case '?': Map.Phase = Pass >= 2 ? TkxRescuePhase::Gaps : TkxRescuePhase::Copy; break;
    case '*': Map.Phase = TkxRescuePhase::Trim; break;
    case '/': Map.Phase = TkxRescuePhase::Scrape; break;
    case '-':
      Map.Phase = TkxRescuePhase::Retry;
      Map.Pass = std::max(1, Pass);
      break;
    // ddrescue's fill and generate modes leave maps that need no phase of their own.
    case '+': case 'F': case 'G': Map.Phase = TkxRescuePhase::Finished; break;
    default: throw EkxMapError(Line, "unknown current status '" + std::string(1, Status) + "'");
  }
}

bool IsSectorState(char c) { return c == '?' || c == '*' || c == '/' || c == '-' || c == '+'; }

std::string SystemText(int Error) { return std::strerror(Error); }

}  // namespace

std::string FormatRescueMap(const TkxRescueMap& Map)
{
  std::ostringstream out;
  out << "# Rescue map of Tessarin " << ProgramVersion << " (GNU ddrescue's mapfile format, 2048-byte sectors)\n";
  if (Map.Disc)
    out << DiscPrefix << Map.Disc->Sectors << " sectors; TOC " << HexOrNone(Map.Disc->Toc) << "; volume descriptors "
        << HexOrNone(Map.Disc->Volume) << '\n';
  const auto [status, pass] = StatusOf(Map);
  char line[96];
  out << "# current_pos  current_status  current_pass\n";
  std::snprintf(line, sizeof line, "0x%08llX     %c               %d\n",
                static_cast<unsigned long long>(Map.Position * MapSectorSize), status, pass);
  out << line << "#      pos        size  status\n";
  const auto& runs = Map.Sectors.Runs();
  for (auto it = runs.begin(); it != runs.end(); ++it) {
    const auto next = std::next(it);
    const std::int64_t end = next == runs.end() ? Map.Sectors.Sectors() : next->first;
    std::snprintf(line, sizeof line, "0x%08llX  0x%08llX  %c\n", static_cast<unsigned long long>(it->first * MapSectorSize),
                  static_cast<unsigned long long>((end - it->first) * MapSectorSize), static_cast<char>(it->second));
    out << line;
  }
  return out.str();
}

namespace {

// The reader of a map's lines, one at a time, so that a map file is never held whole.
class TMapParser {
 public:
  explicit TMapParser(std::int64_t MaxLines_) : MaxLines(MaxLines_) {}

  void Line(std::string_view Line)
  {
    const int lineNumber = static_cast<int>(std::min<std::int64_t>(++LineNumber, std::numeric_limits<int>::max()));
    if (LineNumber > MaxLines)
      throw EkxMapError(lineNumber, "the file has more than the " + std::to_string(MaxLines) +
                                        " lines that a map of this disc can have");
    if (!Line.empty() && Line.back() == '\r') Line.remove_suffix(1);
    if (Line.substr(0, DiscPrefix.size()) == DiscPrefix) {
      Map.Disc = ParseDisc(Line.substr(DiscPrefix.size()), lineNumber);
      return;
    }
    const TWords words = FirstWords(Line);
    if (words.Count == 0 || words.Word[0][0] == '#') return;
    if (!StatusSeen) {
      if (words.Count < 2 || words.Count > 3 || words.Word[1].size() != 1)
        throw EkxMapError(lineNumber, "the status line must hold a position, a status and a pass");
      StatusPosition = Number(words.Word[0], lineNumber, "current position");
      const int pass =
          words.Count == 3 ? static_cast<int>(std::min<std::int64_t>(Number(words.Word[2], lineNumber, "pass"), 1000)) : 1;
      SetPhase(Map, words.Word[1][0], pass, lineNumber);
      StatusSeen = true;
      return;
    }
    if (words.Count != 3 || words.Word[2].size() != 1 || !IsSectorState(words.Word[2][0]))
      throw EkxMapError(lineNumber, "a block line must hold a position, a size and one of ?*/-+");
    const std::int64_t position = Number(words.Word[0], lineNumber, "position");
    const std::int64_t size = Number(words.Word[1], lineNumber, "size");
    if (position != End) throw EkxMapError(lineNumber, "the block does not begin where the one before it ends");
    if (size <= 0) throw EkxMapError(lineNumber, "the block is empty");
    if (position % MapSectorSize != 0 || size % MapSectorSize != 0)
      throw EkxMapError(lineNumber, "the block does not lie on 2048-byte sector boundaries");
    if (size > std::numeric_limits<std::int64_t>::max() - position) throw EkxMapError(lineNumber, "the block is too large");
    Runs.emplace_back(position / MapSectorSize, static_cast<TkxSectorState>(words.Word[2][0]));
    End = position + size;
  }

  TkxRescueMap Finish()
  {
    if (!StatusSeen) throw EkxMapError(0, "the file holds no status line: it is not a map");
    if (Runs.empty()) throw EkxMapError(0, "the map holds no blocks");
    Map.Sectors = TkxSectorMap::FromRuns(End / MapSectorSize, Runs);
    Map.Position = std::min(StatusPosition / MapSectorSize, Map.Sectors.Sectors());
    return std::move(Map);
  }

 private:
  std::int64_t MaxLines;
  std::int64_t LineNumber = 0;
  TkxRescueMap Map;
  bool StatusSeen = false;
  std::int64_t StatusPosition = 0;
  std::vector<std::pair<std::int64_t, TkxSectorState>> Runs;  // (first sector, state)
  std::int64_t End = 0;                                       // in bytes
};

// No line of a map is longer: ddrescue's longest, the command line in a comment, is a few
// hundred bytes.
constexpr std::size_t MaxMapLine = 65536;

}  // namespace

TkxRescueMap ParseRescueMap(std::string_view Text, std::int64_t MaxLines)
{
  TMapParser parser(MaxLines);
  for (std::size_t at = 0; at < Text.size();) {
    const std::size_t stop = std::min(Text.find('\n', at), Text.size());
    parser.Line(Text.substr(at, stop - at));
    at = stop + 1;
  }
  return parser.Finish();
}

std::int64_t MapLineLimit(std::int64_t Sectors) { return 2 * std::max<std::int64_t>(Sectors, 0) + 64; }

std::string RescueMapName(const std::string& ImageName) { return ImageName + ".map"; }

void SaveRescueMap(const std::string& FileName, const TkxRescueMap& Map)
{
  if (const int error = ReplaceFileWithText(FileName, FormatRescueMap(Map)))
    throw EkxMapError(0, "Cannot write the map \"" + FileName + "\": " + SystemText(error));
}

TkxRescueMap LoadRescueMap(const std::string& FileName, std::int64_t MaxLines)
{
  const auto cannotRead = [&FileName](int Error) {
    return EkxMapError(0, "Cannot read the map \"" + FileName + "\": " + SystemText(Error != 0 ? Error : EIO));
  };
  struct TClosed {
    os::TFileHandle Handle;
    ~TClosed()
    {
      if (Handle != os::NoFileHandle) os::Close(Handle);
    }
  } const opened{os::OpenRead(FileName)};
  const os::TFileHandle file = opened.Handle;
  if (file == os::NoFileHandle) throw cannotRead(errno);
  const os::TFileStatus status = os::Status(file);
  if (status.Kind == os::TFileKind::Unknown) throw cannotRead(errno);
  if (status.Kind != os::TFileKind::Regular) throw EkxMapError(0, "\"" + FileName + "\" is not a regular file");
  if (status.Size > MaxMapFileSize) throw EkxMapError(0, "\"" + FileName + "\" is too large for a map");
  // Block by block, a line at a time: only the line in hand and the blocks are held.
  TMapParser parser(MaxLines);
  std::string pending;
  std::vector<char> block(65536);
  std::int64_t total = 0;
  for (;;) {
    const std::int64_t n = os::Read(file, reinterpret_cast<std::uint8_t*>(block.data()), static_cast<std::int64_t>(block.size()));
    if (n < 0) throw cannotRead(errno);
    if (n == 0) break;
    total += n;
    if (total > MaxMapFileSize) throw EkxMapError(0, "\"" + FileName + "\" is too large for a map");
    std::string_view rest(block.data(), static_cast<std::size_t>(n));
    const auto tooLong = [&FileName] { return EkxMapError(0, "\"" + FileName + "\" holds a line too long for a map"); };
    for (std::size_t nl; (nl = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(nl + 1)) {
      if (pending.empty()) {
        parser.Line(rest.substr(0, nl));
        continue;
      }
      if (pending.size() + nl > MaxMapLine) throw tooLong();
      pending.append(rest.substr(0, nl));
      parser.Line(pending);
      pending.clear();
    }
    if (pending.size() + rest.size() > MaxMapLine) throw tooLong();
    pending.append(rest);
  }
  if (!pending.empty()) parser.Line(pending);
  return parser.Finish();
}

std::optional<TkxRescueMap> MapBesideImage(const std::string& Location)
{
  if (Location.empty() || IsDriveName(Location)) return std::nullopt;
  const std::string name = RescueMapName(Location);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(name, ec)) return std::nullopt;
  try {
    return LoadRescueMap(name);
  } catch (const EkxMapError&) {
    return std::nullopt;
  }
}

TkxImageMap ReadImageMap(const std::string& Location, std::int64_t ImageSectors)
{
  TkxImageMap result;
  if (Location.empty() || IsDriveName(Location)) return result;
  const std::string name = RescueMapName(Location);
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::symlink_status(name, ec))) return result;
  result.FileName = name;
  TkxRescueMap map;
  try {
    map = LoadRescueMap(name, MapLineLimit(ImageSectors));
  } catch (const EkxMapError& e) {
    result.Problem = e.Line > 0 ? "line " + std::to_string(e.Line) + ": " + e.what() : std::string(e.what());
    return result;
  }
  const std::int64_t covered = map.Sectors.Sectors();
  if (map.Disc && map.Disc->Sectors != ImageSectors) {
    result.Problem = "its identity line names a disc of " + std::to_string(map.Disc->Sectors) + " sectors; the image has " +
                     std::to_string(ImageSectors);
    return result;
  }
  if (covered > ImageSectors) {
    result.Problem = "it covers " + std::to_string(covered) + " sectors; the image has " + std::to_string(ImageSectors);
    return result;
  }
  // A map that ends before the image says nothing of the sectors after its end: they were not
  // read, as far as anyone knows.
  std::vector<std::pair<std::int64_t, TkxSectorState>> runs(map.Sectors.Runs().begin(), map.Sectors.Runs().end());
  if (covered < ImageSectors) runs.emplace_back(covered, TkxSectorState::NonTried);
  result.Sectors = TkxSectorMap::FromRuns(ImageSectors, runs);
  result.Covered = covered;
  return result;
}

std::int64_t UnreadSectorsIn(const TkxSectorMap& Map, std::int64_t Offset, std::int64_t Size)
{
  if (Size <= 0 || Offset < 0) return 0;
  const std::int64_t first = Offset / MapSectorSize;
  const std::int64_t end = (SaturatingAdd(Offset, Size) - 1) / MapSectorSize + 1;
  return Map.UnfinishedIn(first, end);
}

}  // namespace kx
