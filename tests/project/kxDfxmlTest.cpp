// SPDX-License-Identifier: GPL-3.0-or-later
#include "project/kxDfxml.h"

#include "common/kxVersion.h"
#include "found/kxKinds.h"
#include "support/kxHostileNames.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kx {
namespace {

TEST(DfxmlText, EscapesMarkupAndReplacesWhatXmlCannotHold)
{
  EXPECT_EQ(XmlElementText("a<b>&\"c\"'d"), "a&lt;b&gt;&amp;&quot;c&quot;'d");
  // A carriage return survives reading back only as a reference; tab and line feed need none.
  EXPECT_EQ(XmlElementText("a\r\nb\tc"), "a&#13;\nb\tc");
  EXPECT_EQ(XmlElementText("caf\xe9\x1b&"), "caf\xc3\xa9\xef\xbf\xbd&amp;");
  EXPECT_EQ(XmlElementText(""), "");
}

// Tools that read DFXML compare reports line by line, so the layout is part of the format: the
// declaration, two spaces per level, an empty byte_run closing its own tag.
TEST(DfxmlReport, WritesTheCreatorTheSourceAndOneFileobjectPerRow)
{
  TkxFileList list;
  list.Add("File 000003", Kinds::Jpeg, 10240, 6144, false);
  list.Add("skipped", Kinds::Png, 0, 1, false);
  list.Add("R&D <draft>", Kinds::Png, 0, 5000, false);
  const std::vector<std::int32_t> rows = {2, 0};
  const std::string report =
      DfxmlReport("/discs/a&b.iso", list, rows, {"tessarin-cli", "tessarin-cli list \"p.kx\"", "2026-01-02T03:04:05Z"});
  EXPECT_EQ(report, std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<dfxml xmlns=\"http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML\" "
                                "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" version=\"1.0\">\n"
                                "  <metadata>\n"
                                "    <dc:type>Carve Report</dc:type>\n"
                                "  </metadata>\n"
                                "  <creator version=\"1.0\">\n"
                                "    <program>tessarin-cli</program>\n"
                                "    <version>") +
                        ProgramVersion +
                        "</version>\n"
                        "    <execution_environment>\n"
                        "      <command_line>tessarin-cli list &quot;p.kx&quot;</command_line>\n"
                        "      <start_time>2026-01-02T03:04:05Z</start_time>\n"
                        "    </execution_environment>\n"
                        "  </creator>\n"
                        "  <source>\n"
                        "    <image_filename>/discs/a&amp;b.iso</image_filename>\n"
                        "  </source>\n"
                        "  <fileobject>\n"
                        "    <filename>R&amp;D _draft_.png</filename>\n"
                        "    <filesize>5000</filesize>\n"
                        "    <byte_runs>\n"
                        "      <byte_run offset=\"0\" img_offset=\"0\" len=\"5000\"/>\n"
                        "    </byte_runs>\n"
                        "  </fileobject>\n"
                        "  <fileobject>\n"
                        "    <filename>File 000003.jpg</filename>\n"
                        "    <filesize>6144</filesize>\n"
                        "    <byte_runs>\n"
                        "      <byte_run offset=\"0\" img_offset=\"10240\" len=\"6144\"/>\n"
                        "    </byte_runs>\n"
                        "  </fileobject>\n"
                        "</dfxml>\n");
}

// Each file is named as the extraction writes it, and no control character reaches the report.
TEST(DfxmlReport, NamesHostileFilesAsTheExtractionDoes)
{
  TkxFileList list;
  std::vector<std::int32_t> rows;
  for (const test::THostileName& name : test::HostileNames()) {
    rows.push_back(list.Count);
    list.Add(name.Name, 0, 0, 10, false);
  }
  const std::string report = DfxmlReport("disc.iso", list, rows, {"p", "c", "t"});
  for (const test::THostileName& name : test::HostileNames())
    EXPECT_NE(report.find("<filename>" + XmlElementText(name.FileName) + "</filename>"), std::string::npos) << name.What;
  for (const char c : report) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
}

}  // namespace
}  // namespace kx
