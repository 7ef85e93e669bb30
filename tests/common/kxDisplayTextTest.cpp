// SPDX-License-Identifier: GPL-3.0-or-later
// One reading of a name's bytes, and what each place that shows a name makes of it.
#include "common/kxDisplayText.h"

#include "support/kxHostileNames.h"

#include <gtest/gtest.h>

#include <string>

namespace kx {
namespace {

TEST(NameAsUtf8, UnchangedWhenUtf8OtherwiseWindows1252)
{
  EXPECT_EQ(NameAsUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(NameAsUtf8("caf\xE9"), "caf\xC3\xA9");
  EXPECT_EQ(NameAsUtf8("\x80 \x9F"), "\xE2\x82\xAC \xC5\xB8");  // the euro sign and Y with diaeresis
  EXPECT_EQ(NameAsUtf8("\x81"), "\xC2\x81");                       // undefined: the control character
  EXPECT_EQ(NameAsUtf8("\xC0\xAF"), "\xC3\x80\xC2\xAF");          // an overlong form is not UTF-8
  EXPECT_EQ(NameAsUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");  // nor is a surrogate
  // Not UTF-8 as a whole: its valid sequence is read in the same code page as the stray byte.
  EXPECT_EQ(NameAsUtf8("\xC3\xA9\xFF"), "\xC3\x83\xC2\xA9\xC3\xBF");
}

TEST(VisibleText, ShowsEveryCharacterOfAHostileNameAndNothingThatReordersOrControls)
{
  for (const test::THostileName& name : test::HostileNames()) EXPECT_EQ(VisibleText(name.Name), name.Window) << name.What;
  EXPECT_EQ(VisibleText("File 000001"), "File 000001");
  EXPECT_EQ(VisibleText(""), "");
}

// Only the start of a name of 100 KB is shown: the rest is neither converted nor drawn.
TEST(VisibleText, ShowsAtMostTheCharactersAsked)
{
  EXPECT_EQ(VisibleText(std::string(100'000, 'n'), 5), "nnnnn");
  EXPECT_EQ(VisibleText("\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 2), "\xe6\x97\xa5\xe6\x9c\xac");  // whole characters
  EXPECT_EQ(VisibleText("caf\xe9s", 4), "caf\xc3\xa9");
  EXPECT_EQ(VisibleText("\x1b\x1b\x1b", 2), "\\x1b\\x1b");  // an escape is one character
  EXPECT_EQ(VisibleText(std::string(40, 'a') + "\xff", 3), "aaa");  // not UTF-8 as a whole
}

TEST(Escaped, ControlCharactersCannotReachTheTerminal)
{
  for (const test::THostileName& name : test::HostileNames()) EXPECT_EQ(Escaped(name.Name), name.Terminal) << name.What;
  // An OSC sequence that would retitle the terminal, a colour, a bell, a carriage return.
  EXPECT_EQ(Escaped("line\rover\nnext\t\x7f"), "line\\x0dover\\x0anext\\x09\\x7f");
  EXPECT_EQ(Escaped("Café ünd 日本"), "Café ünd 日本");
  // A backslash is doubled, so that a name cannot pretend to hold an escape; a path in full.
  EXPECT_EQ(Escaped("C:\\disc.iso"), "C:\\\\disc.iso");
}

TEST(JsonString, QuotesEscapesAndReadsLegacyNamesAsTheWindowDoes)
{
  EXPECT_EQ(JsonString("photo.jpg"), "\"photo.jpg\"");
  EXPECT_EQ(JsonString("say \"hi\"\\"), "\"say \\\"hi\\\"\\\\\"");
  EXPECT_EQ(JsonString("evil\x1b]0;owned\x07"), "\"evil\\u001b]0;owned\\u0007\"");
  EXPECT_EQ(JsonString("invoice\xe2\x80\xae" "fdp.exe"), "\"invoice\\u202efdp.exe\"");
  // Windows-1252: the smart quotes of a title, and an undefined byte as its control.
  EXPECT_EQ(JsonString("\x93" "caf\xe9\x94\x81"), "\"\xe2\x80\x9c" "caf\xc3\xa9\xe2\x80\x9d\\u0081\"");
}

TEST(XmlText, GivesTextThatXmlCanHold)
{
  EXPECT_EQ(XmlText("Café"), "Café");
  EXPECT_EQ(XmlText("caf\xe9 \x80"), "café \xe2\x82\xac");            // Windows-1252, the euro sign
  EXPECT_EQ(XmlText("a\x1b" "b\tc\r\n"), "a\xef\xbf\xbd" "b\tc\r\n");  // ESC cannot be in XML 1.0
  EXPECT_EQ(XmlText("\xef\xbf\xbe"), "\xef\xbf\xbd");                  // nor U+FFFE
}

}  // namespace
}  // namespace kx
