// SPDX-License-Identifier: GPL-3.0-or-later
// The find match: whether a found file matches a fragment of its name (with its extension) and a
// size range. The find dialog steps through the list with it, and the command line filters
// extractions with it.
#pragma once

#include "found/kxFileList.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kx {

// The largest size the find dialog's size edits accept, and the default of its upper bound.
inline constexpr double FindMaxSize = 64000000000.0;

struct TkxFindCriteria {
  std::string Fragment;        // empty matches every name
  bool CaseSensitive = false;
  double MinSize = 0;          // both bounds inclusive
  double MaxSize = FindMaxSize;
};

// Text upper-cased by the rules of the user's locale; names are in the locale's multibyte
// encoding (UTF-8).
std::string UpperCaseByLocale(std::string_view Text);

class TkxFindMatcher {
 public:
  explicit TkxFindMatcher(TkxFindCriteria Criteria);

  // The name followed by its extension holds the fragment (both upper-cased by the locale
  // unless the search is case sensitive), and MinSize <= Size <= MaxSize, compared exactly,
  // so that no 64-bit size is rounded before it is compared.
  bool Matches(const TkxFileEntry& Entry) const;

 private:
  TkxFindCriteria Criteria;
  std::string Pattern;  // the fragment as it is compared
};

// The first row after Current (Step +1) or before it (Step -1) that matches, or -1. A negative
// Current counts as row 0; Current itself is never tested, and the search does not wrap.
std::int32_t FindRow(const TkxFileList& List, std::int32_t Current, int Step, const TkxFindMatcher& Matcher);

}  // namespace kx
