// libFuzzer target: code requirements from untrusted bytes, both as the binary
// form signatures carry and as requirement-language text. Whatever parses
// must print as text that compiles back to the same requirement. Inputs it
// finds go to tests/unit/codesign/fuzz-regressions.
#include "codesign_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (!corvanta::codesign::fuzz::requirementInput(data, size))
        __builtin_trap();
    return 0;
}
