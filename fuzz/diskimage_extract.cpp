// libFuzzer target: a volume listing from untrusted bytes and the steps after
// 7-Zip that turn an extraction into the mounted volume; the harness says
// what is checked.
#include "diskimage_extract_harness.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (!corvanta::udif::fuzz::extractInput(data, size))
        __builtin_trap();
    return 0;
}
