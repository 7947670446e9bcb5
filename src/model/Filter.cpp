#include "model/Filter.h"

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {
struct FilterText {
    QString raw;
    QString title;
    QString symbol;
};

FilterText text(Filter filter)
{
    switch (filter) {
    case Filter::all:
        return { u"all"_s, u"All Apps"_s, u"square.grid.2x2"_s };
    case Filter::updates:
        return { u"updates"_s, u"Updates"_s, u"arrow.down.circle"_s };
    case Filter::cantVerify:
        return { u"cantVerify"_s, u"Can't Verify"_s, u"exclamationmark.triangle"_s };
    case Filter::ignored:
        return { u"ignored"_s, u"Ignored"_s, u"eye.slash"_s };
    case Filter::library:
        return { u"library"_s, u"Library"_s, u"icloud"_s };
    }
    Q_UNREACHABLE();
}
} // namespace

QString rawValue(Filter filter)
{
    return text(filter).raw;
}
QString title(Filter filter)
{
    return text(filter).title;
}
QString symbol(Filter filter)
{
    return text(filter).symbol;
}

std::optional<Filter> filterFromRaw(QStringView raw)
{
    for (Filter filter : allFilters) {
        if (rawValue(filter) == raw)
            return filter;
    }
    return std::nullopt;
}

} // namespace corvanta
