// SPDX-License-Identifier: GPL-3.0-or-later
// Names that a disc or a project may carry to attack or deceive whoever looks at them, with what
// each place that shows or writes a name must make of them: a terminal (the command line), a
// window (the list, the drive choice), and a file name (extraction). Every unit that shows or
// writes a name runs its rows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kx::test {

struct THostileName {
  const char* What;
  std::string Name;
  std::string Terminal;  // as Window, with a backslash doubled
  std::string Window;    // UTF-8 (Windows-1252 read where the name is not); controls as \xHH, bidi as \uHHHH
  std::string FileName;  // UTF-8 as Window; controls, bidirectional controls and reserved characters as "_"
};

inline const std::vector<THostileName>& HostileNames()
{
  static const std::vector<THostileName> names = {
      {"an escape that retitles the terminal", "evil\x1b]0;owned\x07", "evil\\x1b]0;owned\\x07",
       "evil\\x1b]0;owned\\x07", "evil_]0;owned_"},
      {"escapes that clear and recolour", "\x1b[2J\x1b[31mred", "\\x1b[2J\\x1b[31mred", "\\x1b[2J\\x1b[31mred",
       "_[2J_[31mred"},
      {"the C1 escape U+009B", "a\xc2\x9b" "31mb", "a\\x9b31mb", "a\\x9b31mb", "a_31mb"},
      {"DEL and a tab", "a\x7f" "b\tc", "a\\x7fb\\x09c", "a\\x7fb\\x09c", "a_b_c"},
      {"a right-to-left override", "invoice\xe2\x80\xae" "fdp.exe", "invoice\\u202efdp.exe",
       "invoice\\u202efdp.exe", "invoice_fdp.exe"},
      {"isolates and a mark", "a\xe2\x81\xa7" "b\xe2\x81\xa9" "c\xe2\x80\x8f", "a\\u2067b\\u2069c\\u200f",
       "a\\u2067b\\u2069c\\u200f", "a_b_c_"},
      {"line and paragraph separators and a byte order mark", "a\xe2\x80\xa8" "b\xe2\x80\xa9" "c\xef\xbb\xbf" "d",
       "a\\u2028b\\u2029c\\ufeffd", "a\\u2028b\\u2029c\\ufeffd", "a_b_c_d"},
      {"HTML", "<h1><font color=red>Your disk is damaged!</font></h1><img src=x>",
       "<h1><font color=red>Your disk is damaged!</font></h1><img src=x>",
       "<h1><font color=red>Your disk is damaged!</font></h1><img src=x>",
       "_h1__font color=red_Your disk is damaged!__font___h1__img src=x_"},
      {"Windows-1252, not UTF-8", "caf\xe9 r\xe9sum\xe9", "caf\xc3\xa9 r\xc3\xa9sum\xc3\xa9", "caf\xc3\xa9 r\xc3\xa9sum\xc3\xa9",
       "caf\xc3\xa9 r\xc3\xa9sum\xc3\xa9"},
      {"a stray byte that an 8-bit terminal takes for CSI", "x\x9by", "x\xe2\x80\xbay", "x\xe2\x80\xbay", "x\xe2\x80\xbay"},
      {"a byte that Windows-1252 leaves undefined", "y\x81z", "y\\x81z", "y\\x81z", "y_z"},
      {"a backslash", "a\\x1b", "a\\\\x1b", "a\\x1b", "a_x1b"},
  };
  return names;
}

// The row whose What begins with Start.
inline const THostileName& HostileName(std::string_view Start)
{
  for (const THostileName& name : HostileNames())
    if (std::string_view(name.What).starts_with(Start)) return name;
  return HostileNames().front();
}

}  // namespace kx::test
