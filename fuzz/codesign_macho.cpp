// libFuzzer target: a Mach-O file (thin or universal) from untrusted bytes,
// with everything the verifier reads out of it: slices, the SuperBlob, every
// CodeDirectory, the requirements and the CMS signature. Hostile input must
// give "no signature" or "invalid", never a crash, a hang, a leak or a read
// outside the buffer. Inputs it finds go to tests/unit/codesign/fuzz-regressions.
#include "codesign_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (!corvanta::codesign::fuzz::machOInput(data, size))
        __builtin_trap();
    return 0;
}
