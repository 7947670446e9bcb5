// libFuzzer target: an appcast from an untrusted feed. Reading it must give
// items or our error for malformed XML, never crash or hang.
#include "base/Error.h"
#include "sources/Appcast.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        (void)corvanta::AppcastParser::parse(
            QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    } catch (const corvanta::Error&) {
    }
    return 0;
}
