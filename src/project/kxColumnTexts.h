// SPDX-License-Identifier: GPL-3.0-or-later
// The offset and size columns of the found-file list, as the window's list shows them and the
// command line's list prints them.
#pragma once

#include <cstdint>
#include <string>

namespace kx {

// The offset column: "0x" and at least nine upper-case hexadecimal digits (2048 gives
// "0x000000800"). A negative offset, which only a damaged project holds, shows its 64-bit
// two's complement.
std::string OffsetText(std::int64_t Offset);

// The size column: the decimal right-aligned in ten characters, longer numbers in full.
std::string SizeText(std::int64_t Size);

}  // namespace kx
