// SPDX-License-Identifier: GPL-3.0-or-later
// Bounds-checked readers of numbers in a byte range, for the recognizers and the end finders. A
// field that does not lie wholly inside the range reads as 0; callers that a zero could fool test
// the length first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace kx::bytes {

using TBytes = std::span<const std::uint8_t>;

constexpr std::uint32_t U8(TBytes b, std::size_t n) { return n < b.size() ? b[n] : 0; }

constexpr std::uint32_t U16LE(TBytes b, std::size_t n)
{
  return n + 2 <= b.size() ? std::uint32_t{b[n]} | std::uint32_t{b[n + 1]} << 8 : 0;
}
constexpr std::uint32_t U16BE(TBytes b, std::size_t n)
{
  return n + 2 <= b.size() ? std::uint32_t{b[n]} << 8 | std::uint32_t{b[n + 1]} : 0;
}
constexpr std::uint32_t U24BE(TBytes b, std::size_t n)
{
  return n + 3 <= b.size() ? std::uint32_t{b[n]} << 16 | std::uint32_t{b[n + 1]} << 8 | std::uint32_t{b[n + 2]} : 0;
}
constexpr std::uint32_t U32LE(TBytes b, std::size_t n)
{
  return n + 4 <= b.size() ? U16LE(b, n) | U16LE(b, n + 2) << 16 : 0;
}
constexpr std::uint32_t U32BE(TBytes b, std::size_t n)
{
  return n + 4 <= b.size() ? U16BE(b, n) << 16 | U16BE(b, n + 2) : 0;
}
constexpr std::uint64_t U64LE(TBytes b, std::size_t n)
{
  return n + 8 <= b.size() ? std::uint64_t{U32LE(b, n)} | std::uint64_t{U32LE(b, n + 4)} << 32 : 0;
}
constexpr std::uint64_t U64BE(TBytes b, std::size_t n)
{
  return n + 8 <= b.size() ? std::uint64_t{U32BE(b, n)} << 32 | std::uint64_t{U32BE(b, n + 4)} : 0;
}

// Whether the range holds Text at offset n, wholly inside.
constexpr bool Has(TBytes b, std::size_t n, std::string_view Text)
{
  if (n > b.size() || b.size() - n < Text.size()) return false;
  for (std::size_t i = 0; i < Text.size(); ++i)
    if (b[n + i] != static_cast<std::uint8_t>(Text[i])) return false;
  return true;
}

// Four bytes that a box or chunk type may be: letters, digits, blanks and a few signs.
constexpr bool IsTypeCode(TBytes b, std::size_t n)
{
  if (n + 4 > b.size()) return false;
  for (std::size_t i = n; i < n + 4; ++i) {
    const std::uint8_t c = b[i];
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
                    c == '-' || c == '_' || c == 0xA9;  // QuickTime's user-data atoms begin with ©
    if (!ok) return false;
  }
  return true;
}

}  // namespace kx::bytes
