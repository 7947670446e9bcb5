#include "views/text/ByteCount.h"

#include <QLocale>

using namespace Qt::StringLiterals;

namespace corvanta {

QString byteCount(std::int64_t bytes)
{
    if (bytes < 1000)
        return QString::number(bytes) + (bytes == 1 ? u" byte"_s : u" bytes"_s);
    static const char* const units[] = { "KB", "MB", "GB", "TB" };
    double value = double(bytes);
    int unit = -1;
    while (value >= 1000 && unit < 3) {
        value /= 1000;
        ++unit;
    }
    return QLocale().toString(value, 'f', value < 10 ? 1 : 0) + u' ' + QLatin1StringView(units[unit]);
}

} // namespace corvanta
