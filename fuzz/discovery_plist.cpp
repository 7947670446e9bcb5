// libFuzzer target: an Info.plist from an app bundle, XML or binary. Any
// bytes must give a dictionary or nothing, never a crash or a hang.
#include "codesign/PropertyList.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    (void)corvanta::PropertyList::fromData(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}
