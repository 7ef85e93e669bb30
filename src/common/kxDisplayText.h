// SPDX-License-Identifier: GPL-3.0-or-later
// Names from discs and projects as every place shows or writes them: the window's list and
// fields, a terminal, JSON and XML. They all read the bytes one way (NameAsUtf8), so that a name
// shows the same characters wherever it appears, sorts and is found as it shows, and an
// extracted file (ExtractEntryName) is named with those characters too.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

namespace kx {

// A name as UTF-8: unchanged when it is UTF-8 already, otherwise read as Windows-1252, the code
// page in which names taken from disc content (a Latin-1 HTML title) were mostly written. The
// five bytes that code page leaves undefined become the control characters of the same value.
// A text that is not UTF-8 as a whole is read so as a whole, valid sequences in it too: one name
// is never half in one code page and half in another.
std::string NameAsUtf8(std::string_view Name);

// A name or a label as a window shows it, in UTF-8 (NameAsUtf8): control characters (C0, DEL,
// C1) are written as "\x1b" and the invisible controls (IsInvisibleControl) as "\u202e", so that
// nothing in the text is hidden and nothing reorders what is shown ("invoice\u202Efdp.exe"
// would show as "invoiceexe.pdf"). Only the first MaxCharacters characters of Text are shown.
std::string VisibleText(std::string_view Text,
                        std::size_t MaxCharacters = std::numeric_limits<std::size_t>::max());

// Text for a terminal: VisibleText, with a backslash doubled so that a name cannot pretend to
// hold an escape. A name from a project or a disc can then neither move the cursor, retitle or
// recolour the terminal, nor show its characters in another order.
std::string Escaped(std::string_view Text);

// A JSON string, quotes included, of NameAsUtf8(Text): the quote and the backslash escaped, and
// control and invisible characters as "\u001b", "\u202e".
std::string JsonString(std::string_view Text);

// NameAsUtf8(Text) as XML 1.0 can hold it: characters that it cannot hold even escaped (C0
// controls but tab and line ends, U+FFFE, U+FFFF) become U+FFFD.
std::string XmlText(std::string_view Text);

}  // namespace kx
