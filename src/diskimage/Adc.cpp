#include "diskimage/Adc.h"

#include <algorithm>

namespace corvanta::udif {

// Three codes, told apart by the top bits of the first byte:
//   1xxxxxxx                     literal run of (x + 1) bytes
//   01llllll oooooooo oooooooo   copy (l + 4) bytes from (o + 1) back
//   00llllo o oooooooo           copy (l + 3) bytes from (o + 1) back
bool decodeAdc(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    std::size_t inPos = 0;
    std::size_t outPos = 0;
    while (outPos < out.size()) {
        if (inPos >= in.size())
            return false;
        const std::uint8_t code = in[inPos];
        if (code & 0x80) {
            const std::size_t length = (code & 0x7F) + 1u;
            if (in.size() - inPos - 1 < length || out.size() - outPos < length)
                return false;
            std::copy_n(in.begin() + std::ptrdiff_t(inPos + 1), length, out.begin() + std::ptrdiff_t(outPos));
            inPos += 1 + length;
            outPos += length;
            continue;
        }
        std::size_t length = 0;
        std::size_t distance = 0;
        if (code & 0x40) {
            if (in.size() - inPos < 3)
                return false;
            length = (code & 0x3Fu) + 4;
            distance = ((std::size_t(in[inPos + 1]) << 8) | in[inPos + 2]) + 1;
            inPos += 3;
        } else {
            if (in.size() - inPos < 2)
                return false;
            length = ((code >> 2) & 0x0Fu) + 3;
            distance = ((std::size_t(code & 0x03) << 8) | in[inPos + 1]) + 1;
            inPos += 2;
        }
        if (distance > outPos || out.size() - outPos < length)
            return false;
        // Byte by byte: the source may overlap what is being written.
        for (std::size_t i = 0; i < length; ++i, ++outPos)
            out[outPos] = out[outPos - distance];
    }
    return true;
}

} // namespace corvanta::udif
