// libFuzzer target: a cask index body from the network or the disk cache.
// Building the catalog and looking an app up in it must never crash, hang
// or allocate without bound, whatever the JSON holds.
#include "sources/CaskCatalog.h"

#include <cstdint>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const std::optional<QString>& variation :
        { std::optional<QString>(), std::optional(u"arm64_sequoia"_s) }) {
        const std::optional<corvanta::CaskCatalog> catalog = corvanta::CaskCatalog::parse(body, variation);
        if (catalog) {
            (void)catalog->find(u"com.example.app"_s, u"Example.app"_s);
            (void)catalog->token(u"example"_s);
        }
    }
    return 0;
}
