// libFuzzer target: a UDIF image from untrusted bytes. Opening, describing
// and decompressing every partition must refuse bad input with our error,
// never crash, hang or allocate without bound.
#include "diskimage/UdifImage.h"

#include <cstdint>
#include <memory>

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    buffer->open(QIODevice::ReadOnly);
    try {
        auto image = corvanta::udif::UdifImage::open(std::move(buffer));
        (void)image.info();
        try {
            image.verifyChecksums();
        } catch (const corvanta::Error&) {
            // Decode anyway: the decoders must hold up without the checksums' protection.
        }
        for (std::size_t i = 0; i < image.partitions().size(); ++i) {
            if (image.storedBytes(i) > 64 * 1024 * 1024)
                continue;
            try {
                image.decompress(i, [](std::uint64_t, const char*, std::size_t) {});
            } catch (const corvanta::Error&) {
            }
        }
    } catch (const corvanta::Error&) {
    }
    return 0;
}
