// libFuzzer target: an Electron latest-mac.yml feed. Reading it must give a
// release or our error, and resolve download paths without crashing.
#include "base/Error.h"
#include "sources/Electron.h"

#include <cstdint>

#include <QUrl>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QUrl feed(u"https://updates.example.com/app/latest-mac.yml"_s);
    try {
        (void)corvanta::Electron::parse(
            QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), feed);
    } catch (const corvanta::Error&) {
    }
    return 0;
}
