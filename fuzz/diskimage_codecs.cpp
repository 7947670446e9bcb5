// libFuzzer target: the ADC and LZFSE chunk decoders on raw streams. The
// first byte picks the codec, the next two the output size.
#include "diskimage/Adc.h"
#include "diskimage/Lzfse.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const bool adc = data[0] & 1;
    std::vector<std::uint8_t> out(std::size_t(data[1]) << 8 | data[2]);
    const std::span<const std::uint8_t> stream(data + 3, size - 3);
    if (adc)
        (void)corvanta::udif::decodeAdc(stream, out);
    else
        (void)corvanta::udif::decodeLzfse(stream, out);
    return 0;
}
