#include "app/Commands.h"
#include "discovery/Version.h"
#include "platform/linux/LinuxHostInfo.h"
#include "sources/Appcast.h"
#include "sources/CheckError.h"
#include "sources/Net.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

struct Feed {
    QUrl url; // what relative links resolve against
    QByteArray body;
};

// A file on disk, or a download through the session; both go through the
// same parser afterwards.
QCoro::Task<Feed> fetch(QString argument)
{
    const QUrl url(argument);
    if (url.scheme() == u"http" || url.scheme() == u"https") {
        Net net;
        QByteArray body = co_await net.get(url);
        co_return Feed { url, std::move(body) };
    }
    const QString path = url.isLocalFile() ? url.toLocalFile() : argument;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw CheckError(u"Can't read "_s + path + u": "_s + file.errorString());
    co_return Feed { QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()), file.readAll() };
}

QJsonValue orNull(const std::optional<QString>& text)
{
    return text ? QJsonValue(*text) : QJsonValue();
}

QJsonObject itemJson(const AppcastItem& item, bool offered)
{
    return {
        { u"shortVersion"_s, orNull(item.shortVersion) },
        { u"build"_s, orNull(item.build) },
        { u"channel"_s, orNull(item.channel) },
        { u"os"_s, orNull(item.os) },
        { u"minOS"_s, orNull(item.minOS) },
        { u"maxOS"_s, orNull(item.maxOS) },
        { u"notesLink"_s, orNull(item.notesLink) },
        { u"enclosureURL"_s, orNull(item.enclosureURL) },
        { u"length"_s, item.length ? QJsonValue(qint64(*item.length)) : QJsonValue() },
        { u"edSignature"_s, orNull(item.edSignature) },
        { u"offered"_s, offered },
    };
}

QString itemLine(const AppcastItem& item, bool offered)
{
    QStringList facts;
    if (item.channel)
        facts << u"channel "_s + *item.channel;
    if (item.os)
        facts << u"os "_s + *item.os;
    if (item.minOS)
        facts << u"min "_s + *item.minOS;
    if (item.maxOS)
        facts << u"max "_s + *item.maxOS;
    const QString version = item.shortVersion.value_or(u"-"_s) + u" ("_s + item.build.value_or(u"-"_s) + u')';
    return u"  %1 %2  %3\n"_s.arg(offered ? u"+"_s : u"-"_s, version.leftJustified(20), facts.join(u", "_s));
}

} // namespace

QCoro::Task<int> commands::inspectAppcast(CliContext& context)
{
    const Launch launch = context.launch();
    QStringList positional = context.arguments;
    SystemVersion system = LinuxHostInfo().systemVersion();
    if (const std::optional<QString> given = launch.value(u"--macos")) {
        const std::optional<SystemVersion> parsed = SystemVersion::parse(*given);
        if (!parsed)
            co_return context.usage(u"--macos takes a version such as 14.6.1."_s);
        system = *parsed;
        positional.removeAll(u"--macos"_s);
        positional.removeAll(*given);
    }
    if (positional.size() != 1)
        co_return context.usage(u"inspect appcast takes one feed URL or file."_s);

    std::vector<AppcastItem> items;
    std::optional<Release> release;
    std::optional<QString> failure;
    QUrl feedURL;
    try {
        const Feed feed = co_await fetch(positional[0]);
        feedURL = feed.url;
        items = AppcastParser::parse(feed.body);
        release = Appcast::release(items, feed.url, system);
    } catch (const Error& error) {
        failure = error.description();
    }
    const Version systemVersion = *Version::parse(system.text());

    if (context.json) {
        QJsonArray itemList;
        for (const AppcastItem& item : items)
            itemList.append(itemJson(item, Appcast::runsOn(item, systemVersion)));
        QJsonObject document {
            { u"feed"_s,
                feedURL.isEmpty() ? QJsonValue() : QJsonValue(feedURL.toString(QUrl::FullyEncoded)) },
            { u"system"_s, system.text() },
            { u"items"_s, itemList },
            { u"release"_s, release ? QJsonValue(toJson(*release)) : QJsonValue() },
            { u"error"_s, orNull(failure) },
        };
        if (release)
            document[u"notes"_s] = orNull(release->notes);
        context.out << QJsonDocument(document).toJson(QJsonDocument::Indented);
        co_return failure ? 1 : 0;
    }

    context.out << u"macOS "_s << system.text() << u", "_s << items.size() << u" items (+ offered here)\n"_s;
    for (const AppcastItem& item : items)
        context.out << itemLine(item, Appcast::runsOn(item, systemVersion));
    if (failure) {
        context.err << *failure << u'\n';
        co_return 1;
    }
    context.out << u"release:  "_s << release->label() << u" (build "_s << release->build.value_or(u"-"_s)
                << u")\n"_s;
    if (release->download) {
        const Download& download = *release->download;
        context.out << u"download: "_s << download.url.toString() << u'\n';
        context.out << u"size:     "_s << (download.size ? QString::number(*download.size) : u"unknown"_s)
                    << u'\n';
        context.out << u"EdDSA:    "_s << download.edSignature.value_or(u"none"_s) << u'\n';
    } else {
        context.out << u"download: none\n"_s;
    }
    if (release->notesURL)
        context.out << u"notes:    "_s << release->notesURL->toString() << u'\n';
    if (release->notes && !release->notes->isEmpty())
        context.out << u'\n' << *release->notes << u'\n';
    co_return 0;
}

} // namespace corvanta
