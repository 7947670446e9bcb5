#include "sources/WebLink.h"

#include <initializer_list>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

std::optional<QUrl> accepted(const QUrl& url, std::initializer_list<QStringView> schemes)
{
    if (!url.isValid())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    for (QStringView allowed : schemes) {
        if (scheme == allowed)
            return url;
    }
    return std::nullopt;
}

} // namespace

std::optional<QUrl> WebLink::web(const std::optional<QString>& text, const std::optional<QUrl>& base)
{
    if (!text)
        return std::nullopt;
    const QUrl parsed(*text);
    if (!parsed.isValid())
        return std::nullopt;
    return accepted(base ? base->resolved(parsed) : parsed, { u"http", u"https" });
}

std::optional<QUrl> WebLink::store(const std::optional<QString>& text)
{
    if (!text)
        return std::nullopt;
    return accepted(QUrl(*text), { u"http", u"https", u"macappstore", u"itms-apps" });
}

} // namespace corvanta
