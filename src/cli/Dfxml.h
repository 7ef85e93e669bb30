// SPDX-License-Identifier: GPL-3.0-or-later
// The DFXML report of this program's run.
#pragma once

#include "found/kxFileList.h"

#include <cstdint>
#include <span>
#include <string>

namespace kx::cli {

// The report of the entries of List at Rows, found on the medium at Location, made by this run.
std::string DfxmlReport(const std::string& Location, const TkxFileList& List, std::span<const std::int32_t> Rows);

}  // namespace kx::cli
