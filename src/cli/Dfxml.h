// SPDX-License-Identifier: GPL-3.0-or-later
// The DFXML report: the XML that forensic carvers and frameworks exchange, one fileobject per
// found file with its name, size and place on the image.
#pragma once

#include "found/kxFileList.h"

#include <cstdint>
#include <span>
#include <string>

namespace kx::cli {

// The report of the entries of List at Rows, found on the medium at Location, as a whole XML
// document (UTF-8). Throws std::runtime_error when the XML writer fails.
std::string DfxmlReport(const std::string& Location, const TkxFileList& List, std::span<const std::int32_t> Rows);

}  // namespace kx::cli
