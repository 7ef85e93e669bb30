// SPDX-License-Identifier: GPL-3.0-or-later
#include "project/kxDfxml.h"

#include "common/kxDisplayText.h"
#include "common/kxVersion.h"
#include "found/kxKinds.h"
#include "project/kxExtract.h"

#include <vector>

namespace kx {

namespace {

constexpr const char* DfxmlNamespace = "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML";
constexpr const char* DublinCoreNamespace = "http://purl.org/dc/elements/1.1/";

// Writes elements one to a line, indented by depth; an element without content closes its own
// tag. Attribute values are numbers and fixed names here, so they go out as they are.
class TXmlWriter {
 public:
  TXmlWriter() : Out("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") {}

  void Start(const char* Name)
  {
    CloseStartTag();
    Indent();
    Out += '<';
    Out += Name;
    Open.push_back(Name);
    StartTagOpen = true;
  }
  void Attribute(const char* Name, const std::string& Value)
  {
    Out += ' ';
    Out += Name;
    Out += "=\"";
    Out += Value;
    Out += '"';
  }
  void Element(const char* Name, const std::string& Text)
  {
    CloseStartTag();
    Indent();
    Out += '<';
    Out += Name;
    Out += '>';
    Out += XmlElementText(Text);
    Out += "</";
    Out += Name;
    Out += ">\n";
  }
  void End()
  {
    const char* name = Open.back();
    Open.pop_back();
    if (StartTagOpen) {
      Out += "/>\n";
      StartTagOpen = false;
      return;
    }
    Indent();
    Out += "</";
    Out += name;
    Out += ">\n";
  }
  std::string Finish() { return std::move(Out); }

 private:
  void CloseStartTag()
  {
    if (StartTagOpen) Out += ">\n";
    StartTagOpen = false;
  }
  void Indent() { Out.append(2 * Open.size(), ' '); }

  std::string Out;
  std::vector<const char*> Open;
  bool StartTagOpen = false;
};

void WriteCreator(TXmlWriter& w, const TkxDfxmlCreator& Creator)
{
  w.Start("creator");
  w.Attribute("version", "1.0");
  w.Element("program", Creator.Program);
  w.Element("version", ProgramVersion);
  w.Start("execution_environment");
  w.Element("command_line", Creator.CommandLine);
  w.Element("start_time", Creator.StartTime);
  w.End();
  w.End();
}

}  // namespace

std::string XmlElementText(std::string_view Text)
{
  std::string out;
  for (const char c : XmlText(Text)) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      // A raw carriage return would be read back as a line feed.
      case '\r': out += "&#13;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string DfxmlReport(const std::string& Location, const TkxFileList& List, std::span<const std::int32_t> Rows,
                        const TkxDfxmlCreator& Creator)
{
  TXmlWriter w;
  w.Start("dfxml");
  w.Attribute("xmlns", DfxmlNamespace);
  w.Attribute("xmlns:dc", DublinCoreNamespace);
  w.Attribute("version", "1.0");
  w.Start("metadata");
  w.Element("dc:type", "Carve Report");
  w.End();
  WriteCreator(w, Creator);
  w.Start("source");
  w.Element("image_filename", Location);
  w.End();
  for (const std::int32_t row : Rows) {
    const TkxFileEntry& e = List.Items[static_cast<std::size_t>(row)];
    w.Start("fileobject");
    // The name a plain extraction gives the file (before any "(2)" for a name taken).
    w.Element("filename", ExtractEntryName(e.Name) + std::string(KindExtensions[e.Kind]));
    w.Element("filesize", std::to_string(e.Size));
    w.Start("byte_runs");
    w.Start("byte_run");
    w.Attribute("offset", "0");
    w.Attribute("img_offset", std::to_string(e.Offset));
    w.Attribute("len", std::to_string(e.Size));
    w.End();
    w.End();
    w.End();
  }
  w.End();
  return w.Finish();
}

}  // namespace kx
