#pragma once

#include <cstdint>
#include <span>

namespace corvanta::udif {

// Decodes Apple Data Compression (chunk type 0x80000004) into `out`, which
// the stream must fill exactly. False for a malformed or short stream.
bool decodeAdc(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

} // namespace corvanta::udif
