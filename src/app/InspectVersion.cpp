#include "app/Cli.h"
#include "discovery/Version.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

    QJsonValue versionJson(const QString& text)
    {
        const std::optional<Version> version = Version::parse(text);
        QJsonObject object { { u"text"_s, text } };
        if (!version) {
            object[u"readable"_s] = false;
            return object;
        }
        QJsonArray parts;
        for (std::int64_t part : version->parts())
            parts.append(qint64(part));
        object[u"readable"_s] = true;
        object[u"description"_s] = version->description();
        object[u"parts"_s] = parts;
        object[u"pre"_s] = version->pre() ? QJsonValue(*version->pre()) : QJsonValue();
        return object;
    }

    QString versionText(const QString& text)
    {
        const std::optional<Version> version = Version::parse(text);
        if (!version)
            return u"\u201c%1\u201d is not a readable version\n"_s.arg(text);
        QStringList parts;
        for (std::int64_t part : version->parts())
            parts << QString::number(part);
        return u"%1\n  parts:       %2\n  pre-release: %3\n"_s.arg(
            version->description(), parts.join(u" . "), version->pre().value_or(u"none"_s));
    }

} // namespace

int Cli::inspectVersion(const QStringList& arguments, bool json)
{
    if (arguments.isEmpty() || arguments.size() > 2)
        return usage(u"inspect version takes one or two versions."_s);
    const QString installed = arguments[0];
    std::optional<bool> newer;
    if (arguments.size() == 2)
        newer = Version::isNewer({ installed, std::nullopt }, { arguments[1], std::nullopt });

    if (json) {
        QJsonObject document { { u"version"_s, versionJson(installed) } };
        if (arguments.size() == 2) {
            document[u"latest"_s] = versionJson(arguments[1]);
            document[u"isNewer"_s] = newer ? QJsonValue(*newer) : QJsonValue();
        }
        m_out << QJsonDocument(document).toJson(QJsonDocument::Indented);
        return 0;
    }
    m_out << versionText(installed);
    if (arguments.size() == 2) {
        m_out << versionText(arguments[1]);
        m_out << u"isNewer: "_s << (newer ? (*newer ? u"true"_s : u"false"_s) : u"undecided"_s) << '\n';
    }
    return 0;
}

} // namespace corvanta
