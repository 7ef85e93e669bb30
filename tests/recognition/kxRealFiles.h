// SPDX-License-Identifier: GPL-3.0-or-later
// The real files of the end-finder and check tests: the committed ones (files/make.sh) and gzip
// streams that zlib writes in the test.
#pragma once

#include "support/kxTestMedia.h"

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kx::test {

using TBytes = std::vector<std::uint8_t>;

inline TBytes Fixture(const std::string& Name)
{
  const std::string text = ReadFileText(std::string(KX_TEST_FILES) + "/" + Name);
  return {text.begin(), text.end()};
}

// In as one gzip stream; Level 0 writes stored blocks, which keep In's bytes as they are.
inline TBytes Gzip(const TBytes& In, int Level = 6)
{
  z_stream z{};
  deflateInit2(&z, Level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  TBytes out(deflateBound(&z, static_cast<uLong>(In.size())) + 64);
  z.next_in = const_cast<Bytef*>(In.data());
  z.avail_in = static_cast<uInt>(In.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace kx::test
