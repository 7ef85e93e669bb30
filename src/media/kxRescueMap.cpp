// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kxRescueMap.h"

#include "common/kxPlatform.h"
#include "common/kxShared.h"
#include "common/kxVersion.h"
#include "media/kxDisks.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
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

TkxRescueMap ParseRescueMap(std::string_view Text)
{
  TkxRescueMap map;
  bool statusSeen = false;
  std::int64_t statusPosition = 0;
  std::vector<std::pair<std::int64_t, TkxSectorState>> runs;  // (first sector, state)
  std::int64_t end = 0;                                       // in bytes
  int lineNumber = 0;
  for (std::size_t at = 0; at < Text.size();) {
    const std::size_t stop = std::min(Text.find('\n', at), Text.size());
    std::string_view line = Text.substr(at, stop - at);
    at = stop + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.substr(0, DiscPrefix.size()) == DiscPrefix) {
      map.Disc = ParseDisc(line.substr(DiscPrefix.size()), lineNumber);
      continue;
    }
    const std::vector<std::string_view> words = Words(line);
    if (words.empty() || words[0][0] == '#') continue;
    if (!statusSeen) {
      if (words.size() < 2 || words.size() > 3 || words[1].size() != 1)
        throw EkxMapError(lineNumber, "the status line must hold a position, a status and a pass");
      statusPosition = Number(words[0], lineNumber, "current position");
      const int pass = words.size() == 3 ? static_cast<int>(std::min<std::int64_t>(Number(words[2], lineNumber, "pass"), 1000)) : 1;
      SetPhase(map, words[1][0], pass, lineNumber);
      statusSeen = true;
      continue;
    }
    if (words.size() != 3 || words[2].size() != 1 || !IsSectorState(words[2][0]))
      throw EkxMapError(lineNumber, "a block line must hold a position, a size and one of ?*/-+");
    const std::int64_t position = Number(words[0], lineNumber, "position");
    const std::int64_t size = Number(words[1], lineNumber, "size");
    if (position != end) throw EkxMapError(lineNumber, "the block does not begin where the one before it ends");
    if (size <= 0) throw EkxMapError(lineNumber, "the block is empty");
    if (position % MapSectorSize != 0 || size % MapSectorSize != 0)
      throw EkxMapError(lineNumber, "the block does not lie on 2048-byte sector boundaries");
    if (size > std::numeric_limits<std::int64_t>::max() - position) throw EkxMapError(lineNumber, "the block is too large");
    runs.emplace_back(position / MapSectorSize, static_cast<TkxSectorState>(words[2][0]));
    end = position + size;
  }
  if (!statusSeen) throw EkxMapError(0, "the file holds no status line: it is not a map");
  if (runs.empty()) throw EkxMapError(0, "the map holds no blocks");
  map.Sectors = TkxSectorMap(end / MapSectorSize, TkxSectorState::Finished);
  for (std::size_t i = 0; i < runs.size(); ++i)
    map.Sectors.Set(runs[i].first, i + 1 < runs.size() ? runs[i + 1].first : map.Sectors.Sectors(), runs[i].second);
  map.Position = std::min(statusPosition / MapSectorSize, map.Sectors.Sectors());
  return map;
}

std::string RescueMapName(const std::string& ImageName) { return ImageName + ".map"; }

void SaveRescueMap(const std::string& FileName, const TkxRescueMap& Map)
{
  const std::string text = FormatRescueMap(Map);
  const std::string temporary = FileName + ".tmp";
  // One left by a run that was killed while saving.
  std::error_code ec;
  std::filesystem::remove(temporary, ec);
  const os::TFileHandle file = os::CreateNew(temporary);
  const auto fail = [&](int Error) {
    std::filesystem::remove(temporary, ec);
    throw EkxMapError(0, "Cannot write the map \"" + FileName + "\": " + SystemText(Error ? Error : EIO));
  };
  if (file == os::NoFileHandle) fail(errno);
  const bool written = os::Write(file, reinterpret_cast<const std::uint8_t*>(text.data()),
                                 static_cast<std::int64_t>(text.size())) &&
                       os::Sync(file);
  const int error = errno;
  if (!os::Close(file) || !written) fail(written ? errno : error);
  if (!os::Replace(temporary, FileName)) fail(errno);
}

TkxRescueMap LoadRescueMap(const std::string& FileName)
{
  std::error_code ec;
  const auto size = std::filesystem::file_size(FileName, ec);
  if (ec) throw EkxMapError(0, "Cannot read the map \"" + FileName + "\": " + ec.message());
  if (size > static_cast<std::uintmax_t>(MaxMapFileSize)) throw EkxMapError(0, "\"" + FileName + "\" is too large for a map");
  std::ifstream in(FileName, std::ios::binary);
  std::string text(static_cast<std::size_t>(size), '\0');
  if (!in.read(text.data(), static_cast<std::streamsize>(text.size())))
    throw EkxMapError(0, "Cannot read the map \"" + FileName + "\": " + SystemText(errno ? errno : EIO));
  return ParseRescueMap(text);
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

std::int64_t UnreadSectorsIn(const TkxSectorMap& Map, std::int64_t Offset, std::int64_t Size)
{
  if (Size <= 0 || Offset < 0) return 0;
  const std::int64_t first = Offset / MapSectorSize;
  const std::int64_t end = (SaturatingAdd(Offset, Size) - 1) / MapSectorSize + 1;
  return Map.UnfinishedIn(first, end);
}

}  // namespace kx
