#pragma once

#include <cstdint>
#include <span>

namespace corvanta::udif {

// Decodes an LZFSE stream (chunk type 0x80000007): uncompressed ("bvx-"),
// LZVN ("bvxn") and LZFSE ("bvx2") blocks up to the end-of-stream block
// ("bvx$"). The stream must fill `out` exactly. False for anything malformed,
// truncated or of a block kind no encoder writes ("bvx1").
bool decodeLzfse(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

} // namespace corvanta::udif
