// SPDX-License-Identifier: GPL-3.0-or-later
// The DFXML report: the XML that forensic carvers and frameworks exchange, one fileobject per
// found file with its name, size and place on the image.
#pragma once

#include "found/kxFileList.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kx {

// Who made the report: the program, the command line that ran and when it started (ISO 8601, UTC).
struct TkxDfxmlCreator {
  std::string Program;
  std::string CommandLine;
  std::string StartTime;
};

// Text as the content of an XML element: XmlText(Text) with the characters that markup gives a
// meaning to written as references.
std::string XmlElementText(std::string_view Text);

// The report of the entries of List at Rows, found on the medium at Location, as a whole XML
// document (UTF-8), two spaces of indent per level.
std::string DfxmlReport(const std::string& Location, const TkxFileList& List, std::span<const std::int32_t> Rows,
                        const TkxDfxmlCreator& Creator);

}  // namespace kx
