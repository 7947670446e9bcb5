#include "discovery/Version.h"

#include <array>

#include <QList>
#include <QStringView>

namespace corvanta {

namespace {

bool isNumber(char32_t c)
{
    return QChar::isNumber(c);
}

QString trimmed(const QString& text, QStringView characters)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && characters.contains(text[start]))
        ++start;
    while (end > start && characters.contains(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}

// A piece of the numeric prefix: ASCII digits only, fitting in 64 bits.
std::optional<std::int64_t> decimal(QStringView piece)
{
    std::int64_t value = 0;
    for (QChar c : piece) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c.unicode() - u'0';
        if (value > (INT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

bool isPreReleaseTag(const QString& tag)
{
    const QList<uint> codePoints = tag.toUcs4();
    if (codePoints.size() >= 2 && (codePoints[0] == 'a' || codePoints[0] == 'b' || codePoints[0] == 'd')
        && isNumber(codePoints[1]))
        return true;
    static constexpr std::array<QStringView, 6> prefixes { u"alpha", u"beta", u"rc", u"preview", u"pre",
        u"dev" };
    for (QStringView prefix : prefixes) {
        if (tag.startsWith(prefix))
            return true;
    }
    return false;
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Text order with runs of digits compared as numbers, so beta.2 < beta.10.
std::strong_ordering compareNumeric(QStringView a, QStringView b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isAsciiDigit(a[i]) && isAsciiDigit(b[j])) {
            qsizetype endA = i;
            qsizetype endB = j;
            while (endA < a.size() && isAsciiDigit(a[endA]))
                ++endA;
            while (endB < b.size() && isAsciiDigit(b[endB]))
                ++endB;
            QStringView runA = a.mid(i, endA - i);
            QStringView runB = b.mid(j, endB - j);
            while (runA.size() > 1 && runA.front() == u'0')
                runA = runA.mid(1);
            while (runB.size() > 1 && runB.front() == u'0')
                runB = runB.mid(1);
            if (runA.size() != runB.size())
                return runA.size() <=> runB.size();
            if (const int order = runA.compare(runB); order != 0)
                return order <=> 0;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i].unicode() <=> b[j].unicode();
        ++i;
        ++j;
    }
    return (a.size() - i) <=> (b.size() - j);
}

} // namespace

std::optional<Version> Version::parse(const std::optional<QString>& text)
{
    if (!text)
        return std::nullopt;
    Version version;
    version.m_description = trimmed(*text, u" \t");
    if (version.m_description.isEmpty())
        return std::nullopt;

    QStringView rest = version.m_description;
    if (rest.front() == u'v' || rest.front() == u'V')
        rest = rest.mid(1);

    // The numeric prefix, walked by code point so digits outside the BMP count too.
    qsizetype prefixEnd = 0;
    while (prefixEnd < rest.size()) {
        char32_t c = rest[prefixEnd].unicode();
        qsizetype width = 1;
        if (rest[prefixEnd].isHighSurrogate() && prefixEnd + 1 < rest.size()
            && rest[prefixEnd + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(rest[prefixEnd], rest[prefixEnd + 1]);
            width = 2;
        }
        if (c != U'.' && !isNumber(c))
            break;
        prefixEnd += width;
    }

    for (QStringView piece : rest.left(prefixEnd).split(u'.', Qt::SkipEmptyParts)) {
        const std::optional<std::int64_t> value = decimal(piece);
        if (!value)
            return std::nullopt;
        version.m_parts.push_back(*value);
    }
    if (version.m_parts.empty())
        return std::nullopt;

    const QString tag = trimmed(rest.mid(prefixEnd).toString(), u"-_+ .").toLower();
    if (isPreReleaseTag(tag))
        version.m_pre = tag;
    return version;
}

std::strong_ordering Version::compare(const Version& a, const Version& b)
{
    const size_t length = std::max(a.m_parts.size(), b.m_parts.size());
    for (size_t i = 0; i < length; ++i) {
        const std::int64_t left = i < a.m_parts.size() ? a.m_parts[i] : 0;
        const std::int64_t right = i < b.m_parts.size() ? b.m_parts[i] : 0;
        if (left != right)
            return left <=> right;
    }
    if (!a.m_pre && !b.m_pre)
        return std::strong_ordering::equal;
    if (!a.m_pre)
        return std::strong_ordering::greater;
    if (!b.m_pre)
        return std::strong_ordering::less;
    return compareNumeric(*a.m_pre, *b.m_pre);
}

bool Version::comparable(const Version& a, const Version& b)
{
    const auto isCounter
        = [](const Version& v) { return v.m_parts.size() == 1 && v.m_parts.front() >= 1000; };
    if (isCounter(a) && b.m_parts.size() != 1)
        return false;
    if (isCounter(b) && a.m_parts.size() != 1)
        return false;
    return true;
}

std::optional<bool> Version::isNewer(const Pair& installed, const Pair& latest)
{
    const std::optional<Version> installedShort = parse(installed.shortVersion);
    const std::optional<Version> latestShort = parse(latest.shortVersion);
    const std::optional<Version> installedBuild = parse(installed.build);
    const std::optional<Version> latestBuild = parse(latest.build);

    if (installedShort && latestShort) {
        if (!comparable(*installedShort, *latestShort))
            return std::nullopt;
        if (*installedShort != *latestShort)
            return *installedShort < *latestShort;
        if (installedBuild && latestBuild)
            return *installedBuild < *latestBuild;
        return false;
    }
    if (installedBuild && latestBuild) {
        if (!comparable(*installedBuild, *latestBuild))
            return std::nullopt;
        return *installedBuild < *latestBuild;
    }
    const std::optional<Version> left
        = parse(installed.shortVersion ? installed.shortVersion : installed.build);
    const std::optional<Version> right = parse(latest.shortVersion ? latest.shortVersion : latest.build);
    if (!left || !right || !comparable(*left, *right))
        return std::nullopt;
    return *left < *right;
}

} // namespace corvanta
