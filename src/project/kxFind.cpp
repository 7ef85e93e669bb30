// SPDX-License-Identifier: GPL-3.0-or-later
#include "project/kxFind.h"

#include "common/kxDisplayText.h"
#include "common/kxShared.h"
#include "found/kxKinds.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <cmath>
#include <utility>

namespace kx {

namespace {

// The sign of A - B, exactly, for any finite or infinite A and any 64-bit B. A NaN compares
// above everything, so that it never lies inside a range.
int CompareExact(double A, std::int64_t B)
{
  constexpr double Two63 = 9223372036854775808.0;
  if (std::isnan(A) || A >= Two63) return 1;
  if (A < -Two63) return -1;
  const double whole = std::floor(A);  // exact, and within the 64-bit range
  const auto a = static_cast<std::int64_t>(whole);
  if (a != B) return a < B ? -1 : 1;
  return whole == A ? 0 : 1;
}

}  // namespace

std::string UpperCaseByLocale(std::string_view Text)
{
  std::string upper;
  icu::UnicodeString::fromUTF8(icu::StringPiece(Text.data(), static_cast<std::int32_t>(Text.size())))
      .toUpper(icu::Locale::getDefault())
      .toUTF8String(upper);
  return upper;
}

// Names and fragments are compared as UTF-8: a name in a legacy code page is converted rather
// than read as replacement characters, which would all match each other.
TkxFindMatcher::TkxFindMatcher(TkxFindCriteria Criteria_)
    : Criteria(std::move(Criteria_)),
      Pattern(Criteria.CaseSensitive ? NameAsUtf8(Criteria.Fragment) : UpperCaseByLocale(NameAsUtf8(Criteria.Fragment)))
{
}

bool TkxFindMatcher::Matches(const TkxFileEntry& Entry) const
{
  if (!Pattern.empty()) {
    std::string text = NameAsUtf8(Entry.Name);
    text += KindExtensions[Entry.Kind];
    if (!Criteria.CaseSensitive) text = UpperCaseByLocale(text);
    if (text.find(Pattern) == std::string::npos) return false;
  }
  return CompareExact(Criteria.MinSize, Entry.Size) <= 0 && CompareExact(Criteria.MaxSize, Entry.Size) >= 0;
}

std::int32_t FindRow(const TkxFileList& List, std::int32_t Current, int Step, const TkxFindMatcher& Matcher)
{
  const std::int64_t step = Step < 0 ? -1 : 1;
  for (std::int64_t i = std::int64_t{Current < 0 ? 0 : Current} + step; i >= 0 && i < List.Count; i += step)
    if (Matcher.Matches(List.Items[static_cast<std::size_t>(i)])) return static_cast<std::int32_t>(i);
  return -1;
}

}  // namespace kx
