// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logic/kxNumberText.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace kx {

namespace {

std::string Utf8(char32_t C)
{
  std::string out;
  if (C < 0x80) {
    out += static_cast<char>(C);
  } else if (C < 0x800) {
    out += static_cast<char>(0xC0 | (C >> 6));
    out += static_cast<char>(0x80 | (C & 0x3F));
  } else if (C < 0x10000) {
    out += static_cast<char>(0xE0 | (C >> 12));
    out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (C & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (C >> 18));
    out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (C & 0x3F));
  }
  return out;
}

bool IsDigit(char C) { return C >= '0' && C <= '9'; }

}  // namespace

double ClampNumber(double Value, double Min, double Max)
{
  if (Min >= Max) return Value;
  if (Value < Min) return Min;
  if (Value > Max) return Max;
  return Value;
}

std::optional<double> ParseNumberText(std::string_view Text, char32_t DecimalSeparator)
{
  while (!Text.empty() && Text.front() == ' ') Text.remove_prefix(1);
  while (!Text.empty() && Text.back() == ' ') Text.remove_suffix(1);
  const std::string separator = Utf8(DecimalSeparator);

  // The text is checked here and rewritten with a point, so that the conversion below, which
  // knows only the C locale's point and would also take "inf", "nan" and a lone point, sees
  // nothing but what this grammar allows.
  std::string plain;
  std::size_t i = 0;
  bool negative = false;
  if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) negative = Text[i++] == '-';
  int digits = 0;
  int intDigits = 0;           // of the whole part, leading zeros left out
  int zerosAfterPoint = 0;     // before the first significant digit of the fraction
  bool significant = false;
  while (i < Text.size() && IsDigit(Text[i])) {
    if (Text[i] != '0' || significant) {
      significant = true;
      ++intDigits;
    }
    plain += Text[i++];
    ++digits;
  }
  if (Text.substr(i).starts_with(separator)) {
    i += separator.size();
    plain += '.';
    while (i < Text.size() && IsDigit(Text[i])) {
      if (Text[i] != '0') significant = true;
      if (!significant) ++zerosAfterPoint;
      plain += Text[i++];
      ++digits;
    }
  }
  if (digits == 0) return std::nullopt;
  long exponent = 0;
  if (i < Text.size() && (Text[i] == 'E' || Text[i] == 'e')) {
    plain += Text[i++];
    bool negativeExponent = false;
    if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) {
      negativeExponent = Text[i] == '-';
      plain += Text[i++];
    }
    const std::size_t first = i;
    while (i < Text.size() && IsDigit(Text[i])) plain += Text[i++];
    if (i == first) return std::nullopt;
    // Saturated: only whether the number is huge or tiny matters beyond the double range.
    for (std::size_t k = first; k < i && exponent < 100000; ++k) exponent = exponent * 10 + (Text[k] - '0');
    if (negativeExponent) exponent = -exponent;
  }
  if (i != Text.size()) return std::nullopt;

  double value = 0;
  const auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (error == std::errc::result_out_of_range) {
    // Too small for a double reads as zero, as it would round; too large is no number at all.
    const long magnitude = intDigits > 0 ? intDigits - 1 + exponent : exponent - zerosAfterPoint - 1;
    if (magnitude >= 0) return std::nullopt;
    value = 0;
  } else if (error != std::errc() || end != plain.data() + plain.size()) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

std::string FormatNumberText(double Value, char32_t DecimalSeparator)
{
  if (std::isnan(Value)) return "NAN";
  if (std::isinf(Value)) return Value < 0 ? "-INF" : "INF";
  if (Value == 0) return "0";  // also for -0, which would show its sign

  // The C locale's %.15G, written locale-independently, then given the exponent of the general
  // format (1E20, 1.5E-5: no plus sign, no leading zeros) and the locale's separator.
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, Value, std::chars_format::general, 15);
  if (error != std::errc()) return "0";  // cannot happen: 64 bytes hold any double at 15 digits
  const std::string_view raw(buffer, static_cast<std::size_t>(end - buffer));
  const std::size_t e = raw.find('e');
  const std::string_view mantissa = raw.substr(0, e);
  std::string text;
  for (const char c : mantissa) {
    if (c == '.')
      text += Utf8(DecimalSeparator);
    else
      text += c;
  }
  if (e != std::string_view::npos) {
    std::string_view exponent = raw.substr(e + 1);
    text += 'E';
    if (exponent.front() == '-') text += '-';
    if (exponent.front() == '-' || exponent.front() == '+') exponent.remove_prefix(1);
    while (exponent.size() > 1 && exponent.front() == '0') exponent.remove_prefix(1);
    text += exponent;
  }
  return text;
}

double NumberTextValue(std::string_view Text, double Min, double Max, char32_t DecimalSeparator)
{
  // A text that is no number (empty, a lone sign, pasted letters) reads as 0, bounded like any
  // other value: every caller (reading the value, leaving the field, the wheel, a drag on the
  // label) expects a number within the bounds, and 0 is what a new edit holds.
  return ClampNumber(ParseNumberText(Text, DecimalSeparator).value_or(0.0), Min, Max);
}

bool IsNumberEditChar(char32_t Char, char32_t DecimalSeparator)
{
  if (Char >= U'0' && Char <= U'9') return true;
  if (Char == U'+' || Char == U'-' || Char == U'E' || Char == U'e') return true;
  if (Char == DecimalSeparator) return true;
  // Carriage return is refused so that Enter inserts nothing; the dialog's default button still
  // sees it.
  return Char < 0x20 && Char != U'\r';
}

std::string GroupedNumberText(std::int64_t Value, char32_t GroupSeparator)
{
  // The magnitude in unsigned arithmetic, where the most negative value has one too.
  std::uint64_t magnitude = Value < 0 ? 0 - static_cast<std::uint64_t>(Value) : static_cast<std::uint64_t>(Value);
  const std::string digits = std::to_string(magnitude);
  const std::string separator = GroupSeparator != 0 ? Utf8(GroupSeparator) : std::string();
  std::string out = Value < 0 ? "-" : "";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += separator;
    out += digits[i];
  }
  return out;
}

}  // namespace kx
