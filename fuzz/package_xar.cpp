// libFuzzer target: a downloaded flat package. Reading its TOC, files and
// signature and writing its signature report must never crash, hang or
// allocate without bound, and the report keeps exactly one status line.
#include "package_xar_harness.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string folder = [] {
        const std::string path = "/tmp/corvanta-fuzz-xar";
        std::filesystem::create_directories(path);
        return path;
    }();
    if (!corvanta::fuzz::xarInput(folder, data, size))
        std::abort();
    return 0;
}
