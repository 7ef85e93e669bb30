// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Dfxml.h"

#include "cli/CliSupport.h"
#include "project/kxDfxml.h"

namespace kx::cli {

std::string DfxmlReport(const std::string& Location, const TkxFileList& List, std::span<const std::int32_t> Rows)
{
  return kx::DfxmlReport(Location, List, Rows, {std::string(ProgramName), CommandLine(), StartTime()});
}

}  // namespace kx::cli
