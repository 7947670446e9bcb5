// libFuzzer target: a downloaded zip archive. Unpacking it must never crash,
// hang or allocate without bound, and whatever it holds must stay inside the
// folder it unpacks into: no file outside created, changed or written
// through a link.
#include "platform_zip_harness.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A fixed place, so that seeds can hold absolute links to its sentinels;
    // one fuzzing process at a time.
    if (!corvanta::fuzz::zipInput("/tmp/corvanta-fuzz-zip", data, size))
        std::abort();
    return 0;
}
