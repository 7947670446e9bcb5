#include "platform/HostInfo.h"

#include <QList>

using namespace Qt::StringLiterals;

namespace corvanta {

QString SystemVersion::text() const
{
    return u"%1.%2.%3"_s.arg(major).arg(minor).arg(patch);
}

std::optional<SystemVersion> SystemVersion::parse(QStringView text)
{
    const QList<QStringView> pieces = text.trimmed().split(u'.');
    if (pieces.isEmpty() || pieces.size() > 3)
        return std::nullopt;
    int numbers[3] = { 0, 0, 0 };
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        bool ok = false;
        numbers[i] = pieces[i].toInt(&ok);
        if (!ok || numbers[i] < 0 || pieces[i].startsWith(u'+'))
            return std::nullopt;
    }
    return SystemVersion { numbers[0], numbers[1], numbers[2] };
}

} // namespace corvanta
