// SPDX-License-Identifier: GPL-3.0-or-later
// The rules of the number edit, without a window: which typed characters a number may hold, how
// its text reads as a bounded value and how a value is written back. The decimal separator is
// the user's locale's, handed in by the caller, so that the rules follow a change of locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kx {

// Value limited to Min..Max; when Min >= Max there are no bounds and Value comes back unchanged.
double ClampNumber(double Value, double Min, double Max);

// The whole text as a number: an optional sign, digits with at most one DecimalSeparator, an
// optional exponent (E or e, optional sign, digits); no digit grouping. Blanks around it are
// allowed. Nothing for any other text, and for a number beyond the range of a double.
// Text and the result are UTF-8.
std::optional<double> ParseNumberText(std::string_view Text, char32_t DecimalSeparator);

// Value in the general format with 15 significant digits: whole numbers of up to 15 digits
// without a fraction (64000000000), fractions without trailing zeros (0.5), and magnitudes of
// 10^15 and more or below 10^-4 in exponent form (1E20, 1.5E-5).
std::string FormatNumberText(double Value, char32_t DecimalSeparator);

// What the edit's Value reads for Text: the parsed number, bounded.
double NumberTextValue(std::string_view Text, double Min, double Max, char32_t DecimalSeparator);

// Whether the edit lets one typed character in: the digits, "+", "-", "E", "e", the decimal
// separator, and control characters other than carriage return (backspace, the clipboard and
// undo keys).
bool IsNumberEditChar(char32_t Char, char32_t DecimalSeparator);

// Value in decimal with its digits grouped in threes by GroupSeparator, the locale's, written as
// UTF-8 (6000000000 and ',' give "6,000,000,000"; a narrow no-break space in French); no
// grouping where GroupSeparator is 0. The sign stays in front.
std::string GroupedNumberText(std::int64_t Value, char32_t GroupSeparator);

}  // namespace kx
