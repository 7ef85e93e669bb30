// SPDX-License-Identifier: GPL-3.0-or-later
#include "project/kxColumnTexts.h"

#include <cinttypes>
#include <cstdio>

namespace kx {

std::string OffsetText(std::int64_t Offset)
{
  char text[32];
  std::snprintf(text, sizeof text, "0x%.9" PRIX64, static_cast<std::uint64_t>(Offset));
  return text;
}

std::string SizeText(std::int64_t Size)
{
  char text[32];
  std::snprintf(text, sizeof text, "%10" PRId64, Size);
  return text;
}

}  // namespace kx
