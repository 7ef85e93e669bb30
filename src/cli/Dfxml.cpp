// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Dfxml.h"

#include "cli/CliSupport.h"
#include "common/kxVersion.h"
#include "project/kxExtract.h"
#include "recognition/kxEngine.h"

#include <libxml/xmlwriter.h>

#include <stdexcept>

namespace kx::cli {

namespace {

const char* const DfxmlNamespace = "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML";
const char* const DublinCoreNamespace = "http://purl.org/dc/elements/1.1/";

const xmlChar* X(const char* Text) { return reinterpret_cast<const xmlChar*>(Text); }

// libxml2's writer, closed on every path; each call is checked, since a writer that failed once
// writes nothing more.
class TWriter {
 public:
  TWriter() : Buffer(xmlBufferCreate()), Writer(Buffer ? xmlNewTextWriterMemory(Buffer, 0) : nullptr)
  {
    if (!Writer) throw std::runtime_error("cannot create the XML writer");
    Check(xmlTextWriterSetIndent(Writer, 1));
    Check(xmlTextWriterSetIndentString(Writer, X("  ")));
  }
  ~TWriter()
  {
    if (Writer) xmlFreeTextWriter(Writer);
    if (Buffer) xmlBufferFree(Buffer);
  }
  TWriter(const TWriter&) = delete;
  TWriter& operator=(const TWriter&) = delete;

  void StartDocument() { Check(xmlTextWriterStartDocument(Writer, "1.0", "UTF-8", nullptr)); }
  void Start(const char* Name) { Check(xmlTextWriterStartElement(Writer, X(Name))); }
  void End() { Check(xmlTextWriterEndElement(Writer)); }
  void Attribute(const char* Name, const std::string& Value)
  {
    Check(xmlTextWriterWriteAttribute(Writer, X(Name), X(XmlText(Value).c_str())));
  }
  void Element(const char* Name, const std::string& Text)
  {
    Check(xmlTextWriterWriteElement(Writer, X(Name), X(XmlText(Text).c_str())));
  }
  std::string Finish()
  {
    Check(xmlTextWriterEndDocument(Writer));
    xmlFreeTextWriter(Writer);  // flushes into the buffer
    Writer = nullptr;
    return {reinterpret_cast<const char*>(xmlBufferContent(Buffer)), static_cast<std::size_t>(xmlBufferLength(Buffer))};
  }

 private:
  static void Check(int Result)
  {
    if (Result < 0) throw std::runtime_error("the XML writer failed");
  }

  xmlBufferPtr Buffer;
  xmlTextWriterPtr Writer;
};

}  // namespace

std::string DfxmlReport(const std::string& Location, const TkxFileList& List, std::span<const std::int32_t> Rows)
{
  TWriter w;
  w.StartDocument();
  w.Start("dfxml");
  w.Attribute("xmlns", DfxmlNamespace);
  w.Attribute("xmlns:dc", DublinCoreNamespace);
  w.Attribute("version", "1.0");
  w.Start("metadata");
  w.Element("dc:type", "Carve Report");
  w.End();
  w.Start("creator");
  w.Attribute("version", "1.0");
  w.Element("program", std::string(ProgramName));
  w.Element("version", ProgramVersion);
  w.Start("execution_environment");
  w.Element("command_line", CommandLine());
  w.Element("start_time", StartTime());
  w.End();
  w.End();
  w.Start("source");
  w.Element("image_filename", Location);
  w.End();
  for (const std::int32_t row : Rows) {
    const TkxFileEntry& e = List.Items[static_cast<std::size_t>(row)];
    const std::string_view ext = KindExtensions[e.Kind];
    w.Start("fileobject");
    // The name a plain extraction gives the file (before any "(2)" for a name taken).
    w.Element("filename", ExtractEntryName(e.Name) + std::string(ext));
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

}  // namespace kx::cli
