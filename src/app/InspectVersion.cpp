#include "app/Commands.h"
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

QCoro::Task<int> commands::inspectVersion(CliContext& context)
{
    const QStringList& arguments = context.arguments;
    if (arguments.isEmpty() || arguments.size() > 2)
        co_return context.usage(u"inspect version takes one or two versions."_s);
    const QString installed = arguments[0];
    std::optional<bool> newer;
    if (arguments.size() == 2)
        newer = Version::isNewer({ installed, std::nullopt }, { arguments[1], std::nullopt });

    if (context.json) {
        QJsonObject document { { u"version"_s, versionJson(installed) } };
        if (arguments.size() == 2) {
            document[u"latest"_s] = versionJson(arguments[1]);
            document[u"isNewer"_s] = newer ? QJsonValue(*newer) : QJsonValue();
        }
        context.out << QJsonDocument(document).toJson(QJsonDocument::Indented);
        co_return 0;
    }
    context.out << versionText(installed);
    if (arguments.size() == 2) {
        context.out << versionText(arguments[1]);
        context.out << u"isNewer: "_s << (newer ? (*newer ? u"true"_s : u"false"_s) : u"undecided"_s) << '\n';
    }
    co_return 0;
}

} // namespace corvanta
