// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target over the rescue map reader: any bytes must either read as a map or raise the map
// error; a map read is consistent (counts that add up to its size, a position inside it) and
// reads back the same after it is written.

#include "media/kxRescueMap.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
  kx::TkxRescueMap map;
  try {
    map = kx::ParseRescueMap(std::string_view(reinterpret_cast<const char*>(Data), Size));
  } catch (const kx::EkxMapError&) {
    return 0;
  }
  using State = kx::TkxSectorState;
  const kx::TkxSectorMap& s = map.Sectors;
  std::int64_t total = 0;
  for (const State state : {State::NonTried, State::NonTrimmed, State::NonScraped, State::Bad, State::Finished})
    total += s.Count(state);
  if (total != s.Sectors() || s.Sectors() <= 0) __builtin_trap();
  if (map.Position < 0 || map.Position > s.Sectors()) __builtin_trap();
  const kx::TkxRescueMap back = kx::ParseRescueMap(kx::FormatRescueMap(map));
  if (!(back.Sectors == map.Sectors) || back.Phase != map.Phase || back.Position != map.Position) __builtin_trap();
  return 0;
}
